#include "capture/LocalFileList.h"

#include <shlobj.h>

#include <cstdlib>
#include <cwchar>
#include <new>

#include "core/Handle.h"
#include "core/TraceRecord.h"

CLocalFileList g_localFileList;

namespace {

constexpr wchar_t kTracePattern[] = L"keltra_*.ktr";
constexpr wchar_t kDumpPattern[] = L"keltra_*.dump";
constexpr wchar_t kCapturePattern[] = L"capture*.kdv";
constexpr wchar_t kLowFolder[] = L"Low";
constexpr wchar_t kCaptureFolder[] = L"keldebugview\\data";
constexpr size_t kMaxPathChars = kLocalFilePathUnits - 1;

// folder + "\" + name into `out`; false when it would pass 259 characters.
bool JoinPath(const wchar_t* folder, const wchar_t* name, wchar_t* out) {
  size_t length = wcslen(folder);
  while (length > 0 && folder[length - 1] == L'\\') {
    --length;
  }
  const size_t nameLength = wcslen(name);
  if (length + 1 + nameLength > kMaxPathChars) {
    return false;
  }
  wmemcpy(out, folder, length);
  out[length] = L'\\';
  wmemcpy(out + length + 1, name, nameLength + 1);
  return true;
}

// The record count of a .ktr header; false when the file cannot be opened
// or holds fewer than 48 bytes.
bool ReadHeaderCount(const wchar_t* path, uint32_t* count) {
  const CHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    return false;
  }
  TraceBufferHeader header;
  DWORD got = 0;
  const BOOL read = ReadFile(file.get(), &header, sizeof(header), &got, nullptr);
  if (!read || got < sizeof(header)) {
    return false;
  }
  *count = header.recordCount;
  return true;
}

void SortNewestFirst(LocalFileArray& list, size_t from) {
  if (list.count > from + 1) {
    qsort(list.data + from, list.count - from, sizeof(LocalFileEntry*), CompareFileTime64);
  }
}

// folder + "\" + sub, or empty when that does not fit.
void SubFolder(const wchar_t* folder, const wchar_t* sub, wchar_t* out) {
  if (folder[0] == 0 || !JoinPath(folder, sub, out)) {
    out[0] = 0;
  }
}

}  // namespace

LocalFileEntry* NewLocalFileEntry(const wchar_t* path, uint64_t lastWrite, uint32_t size, uint32_t recordCount) {
  const size_t length = path != nullptr ? wcsnlen(path, kLocalFilePathUnits) : kLocalFilePathUnits;
  if (length > kMaxPathChars) {
    return nullptr;
  }
  auto* entry = static_cast<LocalFileEntry*>(std::malloc(sizeof(LocalFileEntry)));
  if (entry != nullptr) {
    wmemcpy(entry->path, path, length);
    entry->path[length] = 0;
    entry->lastWrite = lastWrite;
    entry->size = size;
    entry->recordCount = recordCount;
  }
  return entry;
}

int CompareFileTime64(const void* a, const void* b) {
  const uint64_t left = (*static_cast<const LocalFileEntry* const*>(a))->lastWrite;
  const uint64_t right = (*static_cast<const LocalFileEntry* const*>(b))->lastWrite;
  return left > right ? -1 : left < right ? 1 : 0;
}

int FormatFileTimeText(uint64_t fileTime, wchar_t* text, size_t size) {
  if (text == nullptr || size == 0) {
    return 0;
  }
  text[0] = 0;
  const FILETIME utc{DWORD(fileTime), DWORD(fileTime >> 32)};
  FILETIME local;
  SYSTEMTIME time;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &time)) {
    return 0;
  }
  const int written = _snwprintf(text, size, L"%02hu/%02hu/%04hu %02hu:%02hu:%02hu", time.wMonth, time.wDay,
                                 time.wYear, time.wHour, time.wMinute, time.wSecond);
  if (written < 0 || size_t(written) >= size) {
    text[0] = 0;
    return 0;
  }
  return 1;
}

int FormatFileTime(const LocalFileEntry* entry, wchar_t* text, size_t size) {
  if (entry == nullptr) {
    if (text != nullptr && size != 0) text[0] = 0;
    return 0;
  }
  return FormatFileTimeText(entry->lastWrite, text, size);
}

int ScanFolderFiles(const wchar_t* folder, const wchar_t* pattern, int readHeader, LocalFileArray& list) {
  wchar_t search[kLocalFilePathUnits];
  if (folder == nullptr || folder[0] == 0 || !JoinPath(folder, pattern, search)) {
    return 1;
  }
  WIN32_FIND_DATAW found;
  const HANDLE find = FindFirstFileW(search, &found);
  if (find == INVALID_HANDLE_VALUE) {
    return 1;
  }
  int result = 1;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      continue;
    }
    wchar_t path[kLocalFilePathUnits];
    if (!JoinPath(folder, found.cFileName, path)) {
      continue;  // a cut path would name another file
    }
    uint32_t count = kLocalFileNoCount;
    if (readHeader && !ReadHeaderCount(path, &count)) {
      continue;
    }
    const uint64_t lastWrite =
        (uint64_t(found.ftLastWriteTime.dwHighDateTime) << 32) | found.ftLastWriteTime.dwLowDateTime;
    LocalFileEntry* entry = NewLocalFileEntry(path, lastWrite, found.nFileSizeLow, count);
    if (entry == nullptr) {
      result = 0;
      break;
    }
    if (!list.Append(entry)) {
      std::free(entry);
      result = 0;
      break;
    }
  } while (FindNextFileW(find, &found));
  FindClose(find);
  return result;
}

CLocalFileList::CLocalFileList() = default;

void CLocalFileList::LoadShell() {
  if (m_shell != nullptr) {
    return;
  }
  m_shell = LoadLibraryW(L"shell32.dll");
  if (m_shell != nullptr) {
    m_specialFolder = reinterpret_cast<SpecialFolderFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(m_shell, "SHGetSpecialFolderPathW")));
  }
}

CLocalFileList::~CLocalFileList() {
  FreeList(m_traceFiles);
  FreeList(m_dumpFiles);
  m_traceFiles.Free();
  m_dumpFiles.Free();
  delete m_testFolders;
  if (m_shell != nullptr) {
    FreeLibrary(m_shell);
  }
}

void CLocalFileList::FreeEntry(LocalFileEntry* entry) { std::free(entry); }

void CLocalFileList::FreeList(LocalFileArray& list) {
  for (size_t i = 0; i < list.count; ++i) {
    std::free(list[i]);
  }
  list.Clear();
}

void CLocalFileList::DeleteDumpFiles() {
  Rescan(kLocalFilesDump);
  for (size_t i = 0; i < m_dumpFiles.count; ++i) {
    ::DeleteFileW(m_dumpFiles[i]->path);
  }
  FreeList(m_dumpFiles);
}

void CLocalFileList::SetFolders(const LocalFileFolders& folders) {
  if (m_testFolders == nullptr) {
    m_testFolders = new (std::nothrow) LocalFileFolders;
  }
  if (m_testFolders != nullptr) {
    *m_testFolders = folders;
  }
}

void CLocalFileList::LoadFolders(LocalFileFolders* folders) {
  if (m_testFolders != nullptr) {
    *folders = *m_testFolders;
    return;
  }
  // The program needs Windows 7 or later, so the "Low" folders of
  // low-integrity writers always exist to be scanned.
  const DWORD length = GetTempPathW(kLocalFilePathUnits, folders->temp);
  if (length == 0 || length >= kLocalFilePathUnits) {
    folders->temp[0] = 0;
  }
  SubFolder(folders->temp, kLowFolder, folders->tempLow);
  LoadShell();
  wchar_t special[kLocalFilePathUnits];
  if (m_specialFolder != nullptr && m_specialFolder(nullptr, special, CSIDL_INTERNET_CACHE, FALSE)) {
    wmemcpy(folders->cache, special, wcsnlen(special, kMaxPathChars));
    folders->cache[wcsnlen(special, kMaxPathChars)] = 0;
    SubFolder(folders->cache, kLowFolder, folders->cacheLow);
  }
  if (m_specialFolder != nullptr && m_specialFolder(nullptr, special, CSIDL_APPDATA, FALSE)) {
    SubFolder(special, kCaptureFolder, folders->captures);
  }
}

bool CLocalFileList::Due(DWORD* lastRefresh, bool* refreshed) {
  const DWORD now = m_tick();
  if (*refreshed && now - *lastRefresh < kLocalFilesRefreshMs) {
    return false;
  }
  *refreshed = true;
  *lastRefresh = now;
  return true;
}

void CLocalFileList::ScanTemporary(const LocalFileFolders& folders, const wchar_t* pattern, int readHeader,
                                   LocalFileArray& list) {
  FreeList(list);
  const wchar_t* sources[] = {folders.temp, folders.tempLow, folders.cache, folders.cacheLow};
  for (const wchar_t* folder : sources) {
    if (!ScanFolderFiles(folder, pattern, readHeader, list)) {
      break;
    }
  }
  SortNewestFirst(list, 0);
}

void CLocalFileList::Expire(uint32_t bits) {
  if ((bits & kLocalFilesTrace) != 0) {
    m_traceRefreshed = false;
  }
  if ((bits & kLocalFilesDump) != 0) {
    m_dumpRefreshed = false;
  }
}

void CLocalFileList::Rescan(uint32_t bits) {
  Expire(bits);
  Refresh(bits);
}

void CLocalFileList::Refresh(uint32_t bits) {
  const bool trace = (bits & kLocalFilesTrace) != 0 && Due(&m_traceRefresh, &m_traceRefreshed);
  const bool dump = (bits & kLocalFilesDump) != 0 && Due(&m_dumpRefresh, &m_dumpRefreshed);
  if (!trace && !dump) {
    return;
  }
  LocalFileFolders folders;
  LoadFolders(&folders);
  if (trace) {
    ScanTemporary(folders, kTracePattern, 1, m_traceFiles);
    // The captures follow the trace files, newest first among themselves.
    const size_t captures = m_traceFiles.count;
    ScanFolderFiles(folders.captures, kCapturePattern, 0, m_traceFiles);
    SortNewestFirst(m_traceFiles, captures);
  }
  if (dump) {
    ScanTemporary(folders, kDumpPattern, 0, m_dumpFiles);
  }
}
