#include "core/AppConfig.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "core/Handle.h"
#include "core/StrUtil.h"
#include "core/SysUtil.h"

CAppConfig g_appConfig;

namespace {

constexpr wchar_t kSectionMisc[] = L"Misc";
constexpr wchar_t kSectionTab[] = L"Tab";
constexpr wchar_t kSectionView[] = L"View";
constexpr wchar_t kSectionCapture[] = L"Capture";
constexpr wchar_t kSectionColumns[] = L"Columns";
constexpr wchar_t kSectionRemote[] = L"Remote";
constexpr wchar_t kSectionModules[] = L"Modules";
constexpr wchar_t kSectionLogToFile[] = L"LogToFile";
constexpr wchar_t kSectionRemoteDebug[] = L"RemoteDebug";

constexpr wchar_t kKeyCount[] = L"Count";
constexpr wchar_t kKeyOrder[] = L"Order";
constexpr wchar_t kRemoteKeyFormat[] = L"URL_%u";
constexpr wchar_t kRemoteDebugKeyFormat[] = L"Addr_%u";

constexpr uint32_t kDefaultMaxMemMB = 256;
constexpr uint32_t kDefaultFontPoint = 100;
constexpr wchar_t kDefaultFontName[] = L"Tahoma";
constexpr uint32_t kDefaultLogSizeMB = 20;

constexpr size_t kIgnoreTextChars = 512;     // 511 characters
constexpr size_t kColumnOrderChars = 256;    // 255 characters
constexpr size_t kNumberTextChars = 16;
constexpr size_t kKeyChars = 32;

// Options stored as plain numbers; booleans are read as "non-zero is on"
// and written as "1" or "0".
struct NumberOption {
  const wchar_t* section;
  const wchar_t* key;
  uint32_t fallback;
  uint32_t CAppConfig::*field;
  bool boolean;
};

constexpr NumberOption kTabAndViewOptions[] = {
    {kSectionTab, L"TabDBClose", 1, &CAppConfig::m_tabDBClose, true},
    {kSectionTab, L"TabBkGround", 0, &CAppConfig::m_tabBkGround, true},
    {kSectionTab, L"TabSyncTime", 1, &CAppConfig::m_tabSyncTime, true},
    {kSectionView, L"AutoScroll", 1, &CAppConfig::m_autoScroll, true},
    {kSectionView, L"GridLines", 1, &CAppConfig::m_gridLines, true},
    {kSectionView, L"AlwaysOnTop", 0, &CAppConfig::m_alwaysOnTop, true},
    {kSectionView, L"ShowMenu", 0, &CAppConfig::m_showMenu, true},
    {kSectionView, L"FontPoint", kDefaultFontPoint, &CAppConfig::m_fontPoint, false},
};

constexpr NumberOption kCaptureOptions[] = {
    {kSectionCapture, L"HVNEnable", 1, &CAppConfig::m_hvnEnable, true},
    {kSectionCapture, L"QRCEnable", 1, &CAppConfig::m_qrcEnable, true},
    {kSectionCapture, L"QRCLogEnable", 0, &CAppConfig::m_qrcLogEnable, true},
    {kSectionCapture, L"QRVEnable", 0, &CAppConfig::m_qrvEnable, true},
    {kSectionCapture, L"DBWinEnable", 0, &CAppConfig::m_dbWinEnable, true},
    {kSectionCapture, L"SortEnable", 1, &CAppConfig::m_sortEnable, true},
};

constexpr NumberOption kLogToFileOptions[] = {
    {kSectionLogToFile, L"Enable", 0, &CAppConfig::m_logEnable, true},
    {kSectionLogToFile, L"Limit", 0, &CAppConfig::m_logLimit, true},
    {kSectionLogToFile, L"Size", kDefaultLogSizeMB, &CAppConfig::m_logSize, false},
};

struct ColumnOption {
  const wchar_t* key;
  uint32_t bit;
  uint32_t fallback;
};

constexpr ColumnOption kColumnOptions[] = {
    {L"Time", kColumnTime, 1},  {L"Module", kColumnModule, 0}, {L"Name", kColumnName, 1}, {L"Hint", kColumnHint, 0},
    {L"ID", kColumnId, 1},      {L"Delta", kColumnDelta, 0},   {L"TID", kColumnTid, 1},
};

uint32_t ReadNumber(const wchar_t* path, const wchar_t* section, const wchar_t* key, uint32_t fallback) {
  return GetPrivateProfileIntW(section, key, static_cast<INT>(fallback), path);
}

void WriteNumber(const wchar_t* path, const wchar_t* section, const wchar_t* key, uint32_t value) {
  wchar_t text[kNumberTextChars];
  StrPrintfW(text, kNumberTextChars, L"%u", value);
  WritePrivateProfileStringW(section, key, text, path);
}

void WriteBool(const wchar_t* path, const wchar_t* section, const wchar_t* key, uint32_t value) {
  WritePrivateProfileStringW(section, key, value ? L"1" : L"0", path);
}

template <size_t N>
void ReadOptions(CAppConfig* config, const wchar_t* path, const NumberOption (&options)[N]) {
  for (const NumberOption& option : options) {
    const uint32_t value = ReadNumber(path, option.section, option.key, option.fallback);
    config->*option.field = option.boolean ? (value != 0) : value;
  }
}

template <size_t N>
void SaveOptions(const CAppConfig& config, const wchar_t* path, const NumberOption (&options)[N]) {
  for (const NumberOption& option : options) {
    if (option.boolean)
      WriteBool(path, option.section, option.key, config.*option.field);
    else
      WriteNumber(path, option.section, option.key, config.*option.field);
  }
}

void ReadString(const wchar_t* path, const wchar_t* section, const wchar_t* key, const wchar_t* fallback,
                size_t chars, CString* target) {
  auto* text = static_cast<wchar_t*>(std::malloc(chars * sizeof(wchar_t)));
  if (!text) return;
  GetPrivateProfileStringW(section, key, fallback, text, static_cast<DWORD>(chars), path);
  text[chars - 1] = L'\0';
  target->Assign(text);
  std::free(text);
}

void MakeListKey(wchar_t (&key)[kKeyChars], const wchar_t* format, size_t index) {
  StrPrintfW(key, kKeyChars, format, static_cast<unsigned>(index));
}

// Count (at most 20) entries numbered from 0; the first empty one ends the list.
template <class AddFn>
void ReadIniList(const wchar_t* path, const wchar_t* section, const wchar_t* keyFormat, AddFn add) {
  uint32_t count = ReadNumber(path, section, kKeyCount, 0);
  if (count > kMaxIniListEntries) count = kMaxIniListEntries;
  // One character more than a value may hold, to see a value that was cut:
  // a server entry cut inside its password or path would name the wrong one.
  wchar_t value[kIniListValueChars + 1];
  for (size_t i = 0; i < count; ++i) {
    wchar_t key[kKeyChars];
    MakeListKey(key, keyFormat, i);
    const DWORD length = GetPrivateProfileStringW(section, key, L"", value, kIniListValueChars + 1, path);
    if (!value[0]) break;
    if (length < kIniListValueChars) add(value);
  }
}

// The newest 20 entries, renumbered from 0; keys left over from a longer
// list are removed so the file holds only what Count says.
template <class List>
void SaveIniList(const wchar_t* path, const wchar_t* section, const wchar_t* keyFormat, const List& list) {
  const size_t total = list.Count();
  const size_t count = total < kMaxIniListEntries ? total : kMaxIniListEntries;
  const size_t first = total - count;
  WriteNumber(path, section, kKeyCount, static_cast<uint32_t>(count));
  for (size_t i = 0; i < kMaxIniListEntries; ++i) {
    wchar_t key[kKeyChars];
    MakeListKey(key, keyFormat, i);
    WritePrivateProfileStringW(section, key, i < count ? list[first + i] : nullptr, path);
  }
}

bool FileExists(const wchar_t* path) {
  const DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A whole decimal number from 0 up, else -1.
int ParseColumnIndex(const wchar_t* piece) {
  wchar_t* end = nullptr;
  const long value = std::wcstol(piece, &end, 10);
  if (end == piece || *end || value < 0 || value > kMaxColumnIndex) return -1;
  return static_cast<int>(value);
}

}  // namespace

uint32_t ClampMaxMem(uint32_t megabytes) {
  // Clamping the top first keeps the rounding from wrapping around.
  if (megabytes >= kMaxMemMaxMB) return kMaxMemMaxMB;
  const uint32_t rounded = (megabytes + kMaxMemStepMB - 1) / kMaxMemStepMB * kMaxMemStepMB;
  if (rounded < kMaxMemMinMB) return kMaxMemMinMB;
  return rounded > kMaxMemMaxMB ? kMaxMemMaxMB : rounded;
}

int CIniTextList::Append(const wchar_t* text) {
  if (!text || !*text) return 0;
  const size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
  auto* copy = static_cast<wchar_t*>(std::malloc(bytes));
  if (!copy) return 0;
  std::memcpy(copy, text, bytes);
  if (!m_items.Append(copy)) {
    std::free(copy);
    return 0;
  }
  return 1;
}

void CIniTextList::Clear() {
  for (size_t i = 0; i < m_items.count; ++i) std::free(m_items[i]);
  m_items.Free();
}

CAppConfig::CAppConfig(const CModuleGroups* groups)
    : m_osVersion(),
      m_iniPath(),
      m_version(),
      m_tabDBClose(0),
      m_tabBkGround(0),
      m_tabSyncTime(0),
      m_autoScroll(0),
      m_gridLines(0),
      m_alwaysOnTop(0),
      m_showMenu(0),
      m_hvnEnable(0),
      m_qrcEnable(0),
      m_qrcLogEnable(0),
      m_qrvEnable(0),
      m_dbWinEnable(0),
      m_sortEnable(0),
      m_fontPoint(0),
      m_maxMem(0),
      m_columns(0),
      m_logEnable(0),
      m_logLimit(0),
      m_logSize(0),
      m_ignoreMask(0),
      m_groups(groups) {}

void CAppConfig::SetIniFolders(const wchar_t* preferred, const wchar_t* fallback) {
  m_preferredFolder.Assign(preferred ? preferred : L"");
  m_fallbackFolder.Assign(fallback ? fallback : L"");
}

int CAppConfig::SetIniPathIn(const wchar_t* folder) {
  m_iniPath[0] = L'\0';
  const size_t length = std::wcslen(folder);
  if (length == 0) return 0;
  const bool separated = folder[length - 1] == L'\\' || folder[length - 1] == L'/';
  const size_t needed = length + (separated ? 0 : 1) + std::wcslen(kIniFileName);
  // A cut path would name another file.
  if (needed >= kIniPathChars) return 0;
  StrCopyNW(m_iniPath, kIniPathChars, folder);
  if (!separated) StrCatNW(m_iniPath, kIniPathChars, L"\\");
  StrCatNW(m_iniPath, kIniPathChars, kIniFileName);
  return 1;
}

int CAppConfig::GetIniPath() {
  wchar_t folder[kIniPathChars];
  // The temp folder first.
  if (!m_preferredFolder.IsEmpty()) {
    StrCopyNW(folder, kIniPathChars, m_preferredFolder.c_str());
  } else {
    const DWORD length = GetTempPathW(kIniPathChars, folder);
    if (length == 0 || length >= kIniPathChars) folder[0] = L'\0';
  }
  if (folder[0] && SetIniPathIn(folder)) {
    if (FileExists(m_iniPath)) return 1;
    if (CanWriteFile(folder)) return 0;
  }
  // Then the current folder, named in full: a bare file name would send the
  // profile functions to the Windows folder instead.
  if (!m_fallbackFolder.IsEmpty()) {
    StrCopyNW(folder, kIniPathChars, m_fallbackFolder.c_str());
  } else {
    const DWORD length = GetCurrentDirectoryW(kIniPathChars, folder);
    if (length == 0 || length >= kIniPathChars) folder[0] = L'\0';
  }
  if (folder[0] && SetIniPathIn(folder)) {
    if (FileExists(m_iniPath)) return 1;
    if (CanWriteFile(folder)) return 0;
  }
  m_iniPath[0] = L'\0';
  return -1;
}

int CAppConfig::WriteDefaultIni(const wchar_t* path) {
  if (!path || !*path) return 0;
  HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(kDefaultIniResourceId), kDefaultIniResourceType);
  if (!resource) return 0;
  const DWORD size = SizeofResource(nullptr, resource);
  HGLOBAL loaded = size ? LoadResource(nullptr, resource) : nullptr;
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes) return 0;
  CHandle file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return 0;
  DWORD written = 0;
  const bool complete = WriteFile(file.get(), bytes, size, &written, nullptr) && written == size;
  file.Close();  // before the delete below, which an open file would refuse
  // A cut default text would be read as missing options: better none.
  if (!complete) DeleteFileW(path);
  return complete ? 1 : 0;
}

int CAppConfig::LoadOrSave(int load) {
  if (!load) return m_iniPath[0] ? Save() : 0;
  m_osVersion = {};
  m_osVersion.dwOSVersionInfoSize = sizeof(m_osVersion);
  GetVersionExW(&m_osVersion);
  GetModuleVersionString(nullptr, m_version, kVersionTextChars);
  const int found = GetIniPath();
  if (found < 0) return 0;
  if (found == 0 && !WriteDefaultIni(m_iniPath)) {
    m_iniPath[0] = L'\0';
    return 0;
  }
  return Read();
}

int CAppConfig::Read() {
  const wchar_t* path = m_iniPath;
  if (!path[0]) return 0;

  m_maxMem = ClampMaxMem(ReadNumber(path, kSectionMisc, L"MaxMem", kDefaultMaxMemMB));
  ReadOptions(this, path, kTabAndViewOptions);
  ReadString(path, kSectionView, L"FontName", kDefaultFontName, kFontNameChars, &m_fontName);
  ReadOptions(this, path, kCaptureOptions);

  m_columns = kColumnsAlwaysShown;
  for (const ColumnOption& column : kColumnOptions) {
    if (ReadNumber(path, kSectionColumns, column.key, column.fallback)) m_columns |= column.bit;
  }

  m_remoteServers.Clear();
  ReadIniList(path, kSectionRemote, kRemoteKeyFormat, [this](const wchar_t* text) { m_remoteServers.Append(text); });

  wchar_t ignored[kIgnoreTextChars];
  GetPrivateProfileStringW(kSectionModules, L"Ignore", L"", ignored, kIgnoreTextChars, path);
  m_ignoreMask = m_groups ? m_groups->ParseNames(ignored) : 0;

  ReadOptions(this, path, kLogToFileOptions);
  // Backup folders are whole paths: the 31 characters of a font name would cut them.
  ReadString(path, kSectionLogToFile, L"Folder", L"", kIniPathChars, &m_logFolder);

  m_remoteAddresses.Clear();
  ReadIniList(path, kSectionRemoteDebug, kRemoteDebugKeyFormat,
              [this](const wchar_t* text) { m_remoteAddresses.AddUnique(text); });
  return 1;
}

int CAppConfig::Save() {
  const wchar_t* path = m_iniPath;
  if (!path[0]) return 0;

  WriteNumber(path, kSectionMisc, L"MaxMem", m_maxMem);
  SaveOptions(*this, path, kTabAndViewOptions);
  WritePrivateProfileStringW(kSectionView, L"FontName", m_fontName.c_str(), path);
  SaveOptions(*this, path, kCaptureOptions);

  for (const ColumnOption& column : kColumnOptions) {
    WriteBool(path, kSectionColumns, column.key, m_columns & column.bit);
  }

  SaveIniList(path, kSectionRemote, kRemoteKeyFormat, m_remoteServers);

  const CString ignored = m_groups ? m_groups->FormatNames(m_ignoreMask) : CString();
  WritePrivateProfileStringW(kSectionModules, L"Ignore", ignored.c_str(), path);

  SaveOptions(*this, path, kLogToFileOptions);
  WritePrivateProfileStringW(kSectionLogToFile, L"Folder", m_logFolder.c_str(), path);

  SaveIniList(path, kSectionRemoteDebug, kRemoteDebugKeyFormat, m_remoteAddresses);
  return 1;
}

int CAppConfig::LoadSaveColumnOrder(int load, int count, int* order) {
  const wchar_t* path = m_iniPath;
  if (!path[0]) return 0;
  wchar_t text[kColumnOrderChars];

  if (!load) {
    text[0] = L'\0';
    if (count >= 1) {
      if (!order) return 0;
      size_t length = 0;
      for (int i = 0; i < count; ++i) {
        wchar_t entry[kNumberTextChars];
        const int entryLength = StrPrintfW(entry, kNumberTextChars, L"%d;", order[i]);
        if (entryLength < 0 || length + static_cast<size_t>(entryLength) >= kColumnOrderChars) break;
        length = StrCatNW(text, kColumnOrderChars, entry);
      }
    }
    return WritePrivateProfileStringW(kSectionColumns, kKeyOrder, text, path) ? 1 : 0;
  }

  if (count < 1 || !order) return 0;
  GetPrivateProfileStringW(kSectionColumns, kKeyOrder, L"", text, kColumnOrderChars, path);
  if (!text[0]) return 0;
  // Distinct indexes from 0 to 8: more entries than that always repeat one.
  int parsed[kMaxColumnIndex + 1];
  int read = 0;
  wchar_t* cursor = text;
  while (read < count) {
    const wchar_t* piece = WcsTokenizeSemicolon(&cursor);
    if (!piece) break;
    const int index = ParseColumnIndex(piece);
    if (index < 0 || index >= count) return 0;
    for (int i = 0; i < read; ++i) {
      if (parsed[i] == index) return 0;
    }
    parsed[read++] = index;
  }
  // Only a good list reaches the caller's array.
  std::memcpy(order, parsed, static_cast<size_t>(read) * sizeof(int));
  return read;
}
