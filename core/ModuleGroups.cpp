#include "core/ModuleGroups.h"

#include <windows.h>

#include <atomic>
#include <new>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "core/StrUtil.h"
#include "core/ThreadCache.h"

CModuleGroups g_moduleGroups;

namespace {

constexpr char kCommentMark = ';';
constexpr char kGroupOpen = '[';
constexpr char kGroupClose = ']';
constexpr char kKeySeparator = '=';
constexpr char kWordSeparator = ';';
constexpr int kParseTableFull = -1;

// Every table state gets a number never used before, so a thread's cached
// hit is trusted only for the very table state it was taken from. 0 is the
// "nothing cached" value of a fresh thread.
std::atomic<uint64_t> g_nextGeneration{1};

uint64_t NewGeneration() { return g_nextGeneration.fetch_add(1, std::memory_order_relaxed); }

// The last hit is a hint kept per thread: the capture thread, the workers and
// the user-interface thread look modules up at the same time, and a shared
// pair of (index, word) could be torn between them. Indices, not pointers,
// so a stale entry can never reach freed memory.
struct LastHit {
  uint64_t generation = 0;
  size_t group = 0;
  size_t word = 0;
};
LastHit* ThreadLastHit() {
  static CThreadCache<LastHit> cache;
  return cache.Get();
}

// The answers for the last few module texts, as given, per thread: the
// records of a file or a capture come from a handful of modules, so most
// lookups skip the lower-casing and the table walk. Only short texts are
// kept, compared whole; like the last hit, an entry holds for the table
// state (generation) it came from.
constexpr size_t kRecentModules = 8;
constexpr size_t kRecentUnits = 32;
struct RecentModule {
  uint64_t generation = 0;
  int group = 0;
  wchar_t text[kRecentUnits] = {};
};
struct RecentModules {
  RecentModule entries[kRecentModules];
  size_t next = 0;
};
RecentModules* ThreadRecentModules() {
  static CThreadCache<RecentModules> cache;
  return cache.Get();
}

// The runtime's wide-string calls are plain loops behind a call into another
// module; module texts are short and looked up for every record.
inline bool SameText(const wchar_t* a, const wchar_t* b) {
  while (*a == *b) {
    if (*a == 0) return true;
    ++a;
    ++b;
  }
  return false;
}

inline size_t UnitsBounded(const wchar_t* text, size_t most) {
  size_t n = 0;
  while (n < most && text[n] != 0) ++n;
  return n;
}

wchar_t* DuplicateWide(const wchar_t* text, size_t length) {
  auto* copy = static_cast<wchar_t*>(std::malloc((length + 1) * sizeof(wchar_t)));
  if (!copy) return nullptr;
  std::wmemcpy(copy, text, length);
  copy[length] = L'\0';
  return copy;
}

// ANSI code page text of `length` bytes into `out` (terminated). 0 when
// memory runs out; a text that does not convert gives "".
int AnsiToWide(const char* text, size_t length, CGrowArray<wchar_t>* out) {
  out->Clear();
  const int bytes = length > INT32_MAX ? INT32_MAX : static_cast<int>(length);
  const int chars = bytes ? MultiByteToWideChar(CP_ACP, 0, text, bytes, nullptr, 0) : 0;
  if (!out->Reserve(static_cast<size_t>(chars) + 1)) return 0;
  if (chars > 0) MultiByteToWideChar(CP_ACP, 0, text, bytes, out->data, chars);
  out->data[chars] = L'\0';
  out->count = static_cast<size_t>(chars) + 1;
  return 1;
}

bool NamesEqualNoCase(const wchar_t* a, const wchar_t* b) {
  return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

HMODULE CurrentModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&CurrentModule), &module);
  return module;
}

}  // namespace

int BitCount(uint32_t value) { return __builtin_popcount(value); }

int HighestBitIndex(uint32_t flag) {
  constexpr int kTopBit = 31;
  return flag ? kTopBit - __builtin_clz(flag) : 0;
}

CModuleGroup::CModuleGroup(uint32_t flag, const wchar_t* name) : m_flag(flag) {
  StrCopyNW(m_name, kModuleGroupNameChars, name);
}

CModuleGroup::~CModuleGroup() {
  for (size_t i = 0; i < m_words.count; ++i) std::free(m_words[i]);
}

int CModuleGroup::AddWord(const wchar_t* word) {
  if (!word) return 0;
  const size_t length = std::wcslen(word);
  wchar_t* copy = DuplicateWide(word, length);
  if (!copy) return 0;
  WcsToLowerInPlace(copy);
  if (!m_crcs.Reserve(m_crcs.count + 1) || !m_words.Append(copy)) {
    std::free(copy);
    return 0;
  }
  m_crcs.Append(Crc32(copy, length * sizeof(wchar_t)));
  return 1;
}

CString CModuleGroup::GetWordList() const {
  CWideStrBuilder text;
  for (size_t i = 0; i < m_words.count; ++i) {
    if ((i > 0 && !text.Append(L";")) || !text.Append(m_words[i])) return CString();
  }
  return CString(text.c_str(), text.Length());
}

CModuleGroups::CModuleGroups() : m_generation(NewGeneration()) {}

CModuleGroups::~CModuleGroups() { Clear(); }

void CModuleGroups::Clear() {
  for (size_t i = 0; i < m_groups.count; ++i) delete m_groups[i];
  m_groups.Free();
  m_generation = NewGeneration();
}

uint32_t CModuleGroups::CatchAllFlag() const {
  return m_groups.count ? m_groups[m_groups.count - 1]->m_flag : 0;
}

int CModuleGroups::FindByName(const wchar_t* name) const {
  if (!name) return -1;
  for (size_t i = 0; i < m_groups.count; ++i) {
    if (NamesEqualNoCase(m_groups[i]->m_name, name)) return static_cast<int>(i);
  }
  return -1;
}

int CModuleGroups::IndexOfFlag(uint32_t flag) const {
  for (size_t i = 0; i < m_groups.count; ++i) {
    if (m_groups[i]->m_flag == flag) return static_cast<int>(i);
  }
  return -1;
}

const wchar_t* CModuleGroups::NameAt(int index) const {
  if (m_groups.count == 0) return L"";
  if (index < 0 || static_cast<size_t>(index) >= m_groups.count) index = CatchAllIndex();
  return m_groups[static_cast<size_t>(index)]->m_name;
}

int CModuleGroups::AppendGroup(const wchar_t* name) {
  const uint32_t flag = 1u << m_groups.count;
  auto* group = new (std::nothrow) CModuleGroup(flag, name);
  if (!group) return 0;
  if (!m_groups.Append(group)) {
    delete group;
    return 0;
  }
  return 1;
}

int CModuleGroups::AppendCatchAll() {
  wchar_t name[kModuleGroupNameChars];
  if (LoadStringW(CurrentModule(), IDS_UNKNOWN_GROUP, name, kModuleGroupNameChars) <= 0) {
    StrCopyNW(name, kModuleGroupNameChars, kCatchAllName);
  }
  return AppendGroup(name);
}

int CModuleGroups::AddWordsFromLine(const char* words) {
  CModuleGroup* group = m_groups[m_groups.count - 1];
  CGrowArray<wchar_t> wide;
  const char* piece = words;
  for (;;) {
    const char* end = std::strchr(piece, kWordSeparator);
    const size_t length = end ? static_cast<size_t>(end - piece) : std::strlen(piece);
    // Every piece before a ";" counts, empty ones too; the tail only when
    // it holds something.
    if (end || length) {
      if (!AnsiToWide(piece, length, &wide) || !group->AddWord(wide.data)) return 0;
    }
    if (!end) return 1;
    piece = end + 1;
  }
}

int CModuleGroups::ParseLine(char* line) {
  while (*line == ' ') ++line;
  if (*line == '\0' || *line == kCommentMark) return 1;
  if (*line == kGroupOpen) {
    // The catch-all group needs a bit of its own: a group header beyond the
    // 31st ends the table, while the 31st still keeps its words.
    if (IsFull()) return kParseTableFull;
    const char* name = line + 1;
    const char* close = std::strrchr(name, kGroupClose);
    const size_t length = close ? static_cast<size_t>(close - name) : std::strlen(name);
    CGrowArray<wchar_t> wide;
    return AnsiToWide(name, length, &wide) && AppendGroup(wide.data);
  }
  if (m_groups.count == 0) return 1;  // words before the first group belong nowhere
  const char* key = std::strchr(line, kKeySeparator);
  return AddWordsFromLine(key ? key + 1 : line);
}

int CModuleGroups::LoadFromText(const char* text, size_t length) {
  Clear();
  int ok = 1;
  // One terminated copy, so each line can be cut in place.
  auto* work = static_cast<char*>(std::malloc(length + 1));
  if (!work) {
    ok = 0;
  } else {
    if (length) std::memcpy(work, text, length);
    work[length] = '\0';
    char* line = work;
    char* const end = work + length;
    while (ok && line < end) {
      char* stop = line;
      while (stop < end && *stop != '\r' && *stop != '\n') ++stop;
      char* next = stop;
      while (next < end && (*next == '\r' || *next == '\n')) *next++ = '\0';
      *stop = '\0';
      const int parsed = ParseLine(line);
      if (parsed == kParseTableFull) break;
      ok = parsed;
      line = next;
    }
    std::free(work);
  }
  if (!AppendCatchAll()) ok = 0;
  m_generation = NewGeneration();
  return ok;
}

int CModuleGroups::LoadFromResource() {
  HMODULE module = CurrentModule();
  HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(kModuleGroupsResourceId), kModuleGroupsResourceType);
  HGLOBAL handle = info ? LoadResource(module, info) : nullptr;
  const void* bytes = handle ? LockResource(handle) : nullptr;
  const DWORD size = info ? SizeofResource(module, info) : 0;
  if (!bytes || size == 0) {
    LoadFromText("", 0);
    return 0;
  }
  return LoadFromText(static_cast<const char*>(bytes), size);
}

int CModuleGroups::Find(const wchar_t* module) const {
  const size_t count = m_groups.count;
  if (count <= 1) return static_cast<int>(count) - 1;
  if (!module) return FindLowered(module);

  RecentModules* cached = ThreadRecentModules();
  if (cached == nullptr) return FindLowered(module);
  RecentModules& recent = *cached;
  for (const RecentModule& entry : recent.entries) {
    if (entry.generation == m_generation && SameText(entry.text, module)) return entry.group;
  }
  const int group = FindLowered(module);
  const size_t units = UnitsBounded(module, kRecentUnits);
  if (units < kRecentUnits) {
    RecentModule& entry = recent.entries[recent.next];
    recent.next = (recent.next + 1) % kRecentModules;
    std::wmemcpy(entry.text, module, units + 1);
    entry.group = group;
    entry.generation = m_generation;
  }
  return group;
}

int CModuleGroups::FindLowered(const wchar_t* module) const {
  const size_t count = m_groups.count;

  wchar_t name[kModuleNameChars];
  StrCopyNW(name, kModuleNameChars, module);
  WcsToLowerInPlace(name);

  const size_t catchAll = count - 1;
  LastHit unkept;
  LastHit* kept = ThreadLastHit();
  LastHit& hit = kept != nullptr ? *kept : unkept;
  if (hit.generation == m_generation && hit.group < catchAll) {
    const CModuleGroup* group = m_groups[hit.group];
    if (hit.word < group->m_words.count && std::wcscmp(group->m_words[hit.word], name) == 0) {
      return static_cast<int>(hit.group);
    }
  }

  const uint32_t crc = Crc32(name, std::wcslen(name) * sizeof(wchar_t));
  for (size_t g = 0; g < catchAll; ++g) {
    const CModuleGroup* group = m_groups[g];
    for (size_t w = 0; w < group->m_words.count; ++w) {
      if (group->m_crcs[w] == crc && std::wcscmp(group->m_words[w], name) == 0) {
        hit = LastHit{m_generation, g, w};
        return static_cast<int>(g);
      }
    }
  }
  hit = LastHit{};
  return static_cast<int>(catchAll);
}

int CModuleGroups::FindEnabled(const wchar_t* module, uint32_t ignoreMask) const {
  const int index = Find(module);
  if (index < 0) return -1;
  return (m_groups[static_cast<size_t>(index)]->m_flag & ignoreMask) ? -1 : index;
}

uint32_t CModuleGroups::ParseNames(const wchar_t* text) const {
  if (!text) return 0;
  const size_t length = std::wcslen(text);
  wchar_t* copy = DuplicateWide(text, length);
  if (!copy) return 0;
  uint32_t mask = 0;
  wchar_t* cursor = copy;
  while (const wchar_t* piece = WcsTokenizeSemicolon(&cursor)) {
    const int index = FindByName(piece);
    if (index >= 0) mask |= m_groups[static_cast<size_t>(index)]->m_flag;
  }
  std::free(copy);
  return mask;
}

CString CModuleGroups::FormatNames(uint32_t mask) const {
  CWideStrBuilder text;
  for (size_t i = 0; i < m_groups.count; ++i) {
    if (!(m_groups[i]->m_flag & mask)) continue;
    if (!text.Append(m_groups[i]->m_name) || !text.Append(L";")) return CString();
  }
  return CString(text.c_str(), text.Length());
}

CString CModuleGroups::FormatNamesPipe(uint32_t mask) const {
  CWideStrBuilder text;
  bool first = true;
  for (size_t i = 0; i < m_groups.count; ++i) {
    if (!(m_groups[i]->m_flag & mask)) continue;
    if ((!first && !text.Append(L"|")) || !text.Append(m_groups[i]->m_name)) return CString();
    first = false;
  }
  return CString(text.c_str(), text.Length());
}
