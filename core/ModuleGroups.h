// The module-group table: named component groups of module names, each
// owning one bit of a 32-bit mask, plus a catch-all group for every module
// no group lists. Filled once at start-up from an embedded text resource and
// read-only afterwards, so any thread may look modules up.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/Containers.h"
#include "core/RefString.h"
#include "res/resource.h"

// The embedded table: resource type "FILE", this id, plain 8-bit text.
constexpr unsigned kModuleGroupsResourceId = 253;
constexpr wchar_t kModuleGroupsResourceType[] = L"FILE";

// The catch-all group's name when the string table lacks IDS_UNKNOWN_GROUP.
constexpr wchar_t kCatchAllName[] = L"UNKNOWN";

// Groups read from the text; the catch-all group takes the next bit, so with
// a full table it owns bit 31.
constexpr size_t kMaxModuleGroups = 31;
constexpr size_t kModuleGroupNameChars = 16;  // 15 characters and the terminator
constexpr size_t kModuleNameChars = 128;      // lookups use the first 127 characters

// Number of set bits.
int BitCount(uint32_t value);
// Index (0 to 31) of the highest set bit; 0 for 0. Turns a record's group
// flag back into a table index.
int HighestBitIndex(uint32_t flag);

class CModuleGroup {
 public:
  // Copies at most 15 characters of the name; a null name gives "".
  CModuleGroup(uint32_t flag, const wchar_t* name);
  ~CModuleGroup();
  CModuleGroup(const CModuleGroup&) = delete;
  CModuleGroup& operator=(const CModuleGroup&) = delete;

  // Appends a lower-case heap copy of the word and its CRC-32. 0 when memory
  // runs out (the group is then unchanged); a null word adds nothing and fails.
  int AddWord(const wchar_t* word);

  // The words joined by ";"; empty when the group has none or memory ran out.
  CString GetWordList() const;

  uint32_t Flag() const { return m_flag; }
  const wchar_t* Name() const { return m_name; }
  size_t WordCount() const { return m_words.count; }
  // The group keeps ownership; null past the end.
  const wchar_t* WordAt(size_t index) const { return index < m_words.count ? m_words[index] : nullptr; }

  uint32_t m_flag;
  wchar_t m_name[kModuleGroupNameChars];
  CGrowArray<wchar_t*> m_words;   // lower case, owned
  CGrowArray<uint32_t> m_crcs;    // CRC-32 of the word at the same index
};

class CModuleGroups {
 public:
  CModuleGroups();
  ~CModuleGroups();
  CModuleGroups(const CModuleGroups&) = delete;
  CModuleGroups& operator=(const CModuleGroups&) = delete;

  // Replaces the table with the groups of embedded resource 253 of the
  // current module, then appends the catch-all group. Returns 1 when the
  // resource was found and read and the catch-all group stands; 0 otherwise
  // (a missing resource still leaves the catch-all group when memory allows).
  int LoadFromResource();
  // The same parser over 8-bit text of `length` bytes (ANSI code page); the
  // text need not be terminated. 0 when memory ran out.
  int LoadFromText(const char* text, size_t length);
  // Destroys every group; lookups then find nothing.
  void Clear();

  // Groups in table order, the catch-all group last.
  size_t Count() const { return m_groups.count; }
  // The table keeps ownership; null past the end.
  CModuleGroup* GroupAt(size_t index) const { return index < m_groups.count ? m_groups[index] : nullptr; }
  // Index of the catch-all group (the last one), -1 for an empty table.
  int CatchAllIndex() const { return static_cast<int>(m_groups.count) - 1; }
  // Flag of the catch-all group, 0 for an empty table.
  uint32_t CatchAllFlag() const;
  // Index of the first group whose name equals `name` regardless of case, or -1.
  int FindByName(const wchar_t* name) const;
  // Index of the group whose flag is `flag` (one bit), or -1.
  int IndexOfFlag(uint32_t flag) const;
  // The name of the group at `index`, or the catch-all's when the index is
  // outside the table; "" for an empty table. Never null.
  const wchar_t* NameAt(int index) const;

  // Index of the group that lists the module (compared without regard to
  // case, first 127 characters), else the catch-all group's; -1 for an empty
  // table. A null module is looked up as "". Safe from any thread: the
  // last-hit cache is kept per thread.
  int Find(const wchar_t* module) const;
  // As Find, but -1 when the table is empty or the group's flag is in
  // `ignoreMask`.
  int FindEnabled(const wchar_t* module, uint32_t ignoreMask) const;

  // A ";"-separated list of group names (any case) to their mask; names of
  // no group are skipped.
  uint32_t ParseNames(const wchar_t* text) const;
  // Names of the groups in the mask, each followed by ";".
  CString FormatNames(uint32_t mask) const;
  // Names of the groups in the mask joined by "|".
  CString FormatNamesPipe(uint32_t mask) const;

 private:
  // Find's walk over the lower-cased name, past the recent-module cache.
  int FindLowered(const wchar_t* module) const;
  int AppendGroup(const wchar_t* name);
  int AppendCatchAll();
  // 1 parsed, 0 out of memory, -1 a group header past the last free bit.
  int ParseLine(char* line);
  int AddWordsFromLine(const char* words);
  bool IsFull() const { return m_groups.count >= kMaxModuleGroups; }

  CGrowArray<CModuleGroup*> m_groups;
  // Changes with every load or clear, so a thread's cached hit from an
  // earlier table (or another table) is never trusted.
  uint64_t m_generation;
};

// The program's one table, loaded at start-up.
extern CModuleGroups g_moduleGroups;
