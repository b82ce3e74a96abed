// The program's settings: one global block filled from "keltracer.ini" at
// start-up and written back when the main frame closes. The file lives in
// the user's temp folder, or in the current folder when the temp folder
// cannot be written, and is created from the embedded default text when it
// is missing. Every layer reads the block directly; only the user-interface
// thread changes it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "core/Containers.h"
#include "core/ModuleGroups.h"
#include "core/RefString.h"

// The embedded default ini text: resource type "FILE", this id, the file's
// bytes exactly.
constexpr unsigned kDefaultIniResourceId = 201;
constexpr wchar_t kDefaultIniResourceType[] = L"FILE";
constexpr wchar_t kIniFileName[] = L"keltracer.ini";

// Column bits of the trace list. The number and message columns are always
// shown and never stored; the ini file adds the others.
constexpr uint32_t kColumnNumber = 0x1;
constexpr uint32_t kColumnTime = 0x2;
constexpr uint32_t kColumnModule = 0x4;
constexpr uint32_t kColumnName = 0x8;
constexpr uint32_t kColumnHint = 0x10;
constexpr uint32_t kColumnId = 0x20;
constexpr uint32_t kColumnDelta = 0x40;
constexpr uint32_t kColumnTid = 0x80;
constexpr uint32_t kColumnMessage = 0x100;
constexpr uint32_t kColumnsAlwaysShown = kColumnNumber | kColumnMessage;

// Memory limit of the live capture, in megabytes.
constexpr uint32_t kMaxMemMinMB = 256;
constexpr uint32_t kMaxMemMaxMB = 512;
constexpr uint32_t kMaxMemStepMB = 4;

// Entries kept in the [Remote] and [RemoteDebug] sections.
constexpr size_t kMaxIniListEntries = 20;
// Longest column index a stored order may hold.
constexpr int kMaxColumnIndex = 8;

constexpr size_t kIniPathChars = MAX_PATH;
constexpr size_t kVersionTextChars = 32;
constexpr size_t kFontNameChars = 32;     // a font face name: 31 characters
constexpr size_t kIniListValueChars = 512;

// MaxMem as read: rounded up to a multiple of 4 MB, then held within 256 to 512.
uint32_t ClampMaxMem(uint32_t megabytes);

// Heap copies of non-empty wide strings in the order they were added;
// duplicates are kept. Holds the raw texts of the [Remote] entries.
class CIniTextList {
 public:
  CIniTextList() = default;
  ~CIniTextList() { Clear(); }
  CIniTextList(const CIniTextList&) = delete;
  CIniTextList& operator=(const CIniTextList&) = delete;

  // 1 when appended; 0 for an empty text or no memory.
  int Append(const wchar_t* text);
  size_t Count() const { return m_items.count; }
  // The list keeps ownership; null past the end.
  const wchar_t* operator[](size_t index) const { return index < m_items.count ? m_items[index] : nullptr; }
  void Clear();

 private:
  CGrowArray<wchar_t*> m_items;
};

class CAppConfig {
 public:
  // Ignored groups are named after the groups of this table.
  explicit CAppConfig(const CModuleGroups* groups = &g_moduleGroups);
  CAppConfig(const CAppConfig&) = delete;
  CAppConfig& operator=(const CAppConfig&) = delete;

  // load 1: reads the system version, finds the ini file (creating it from
  // the default text when missing), fills the version text and reads every
  // option; 0 when no folder can hold the file or the default text cannot
  // be written. load 0: writes every option when an ini path is known (1),
  // else 0.
  int LoadOrSave(int load);
  // Sets the ini path: 1 the file exists, 0 it is missing in a writable
  // folder (and will be created there), -1 no folder can be used (the path
  // is then empty).
  int GetIniPath();
  // Every option from and to the ini file; 0 when no ini path is known.
  // Write failures are not reported.
  int Read();
  int Save();
  // load 1: reads [Columns] Order into order[0..count) and returns the
  // number of entries read, or 0 for a missing or bad list (an index above
  // 8, not below count, repeated, negative or not a number); the caller
  // applies it only when the result equals count. load 0: writes
  // order[0..count) as "%d;" per entry (an empty value when count < 1) and
  // returns whether the write succeeded.
  int LoadSaveColumnOrder(int load, int count, int* order);

  // Folders GetIniPath tries, in order; empty (the default) means the
  // user's temp folder and the current folder.
  void SetIniFolders(const wchar_t* preferred, const wchar_t* fallback);
  // Writes the embedded default text to the path, byte for byte; a file it
  // could not finish is deleted again. 1 when written.
  static int WriteDefaultIni(const wchar_t* path);

  OSVERSIONINFOW m_osVersion;
  wchar_t m_iniPath[kIniPathChars];
  wchar_t m_version[kVersionTextChars];  // the program's file version, "N/A" without one

  uint32_t m_tabDBClose;
  uint32_t m_tabBkGround;
  uint32_t m_tabSyncTime;
  uint32_t m_autoScroll;
  uint32_t m_gridLines;
  uint32_t m_alwaysOnTop;
  uint32_t m_showMenu;
  uint32_t m_hvnEnable;
  uint32_t m_qrcEnable;
  uint32_t m_qrcLogEnable;
  uint32_t m_qrvEnable;
  uint32_t m_dbWinEnable;
  uint32_t m_sortEnable;
  uint32_t m_fontPoint;  // tenths of a point
  CString m_fontName;

  uint32_t m_maxMem;   // megabytes
  uint32_t m_columns;  // kColumn* bits

  uint32_t m_logEnable;
  uint32_t m_logLimit;
  uint32_t m_logSize;  // megabytes
  CString m_logFolder;

  uint32_t m_ignoreMask;  // module-group flags the capture ignores

  // Read and written with the block: the [Remote] server entries as their
  // ini texts, oldest first, and the [RemoteDebug] addresses used before.
  CIniTextList m_remoteServers;
  CStringList m_remoteAddresses;

 private:
  // Joins folder and file name into m_iniPath; 0 when it does not fit.
  int SetIniPathIn(const wchar_t* folder);

  const CModuleGroups* m_groups;
  CString m_preferredFolder;
  CString m_fallbackFolder;
};

// The program's one settings block.
extern CAppConfig g_appConfig;
