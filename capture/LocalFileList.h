// The local trace and dump files: "keltra_*.ktr" and "keltra_*.dump" in the
// user's temporary folders (and their "Low" twins and the internet cache),
// and the debug-view captures "capture*.kdv" under the application-data
// folder. One global pair of lists serves the history menu, the dump-file
// dialog and the remote list reply.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "core/Containers.h"

// Record count of an entry whose header was not read.
constexpr uint32_t kLocalFileNoCount = 0xFFFFFFFFu;
// Refresh bits.
constexpr uint32_t kLocalFilesTrace = 1;
constexpr uint32_t kLocalFilesDump = 2;
// Refresh scans a list again at most this often, so a burst of remote list
// requests does not rescan the folders each time.
constexpr DWORD kLocalFilesRefreshMs = 5000;
// Room for a full path of at most 259 characters and its terminator.
constexpr size_t kLocalFilePathUnits = MAX_PATH;

struct LocalFileEntry {
  wchar_t path[kLocalFilePathUnits];
  uint64_t lastWrite;  // FILETIME
  uint32_t size;       // low 32 bits
  uint32_t recordCount;  // the .ktr header's count, or kLocalFileNoCount
};

// The lists own their entries; entries come from NewLocalFileEntry and go
// with CLocalFileList::FreeList.
using LocalFileArray = CGrowArray<LocalFileEntry*>;

// A new entry, or null when memory is short or the path has more than 259
// characters (a cut path would name another file).
LocalFileEntry* NewLocalFileEntry(const wchar_t* path, uint64_t lastWrite, uint32_t size, uint32_t recordCount);

// Newest first: negative when `a` was written later than `b`. For qsort
// over entry pointers.
int CompareFileTime64(const void* a, const void* b);

// A FILETIME (as 64 bits) in local time as "MM/DD/YYYY hh:mm:ss". 1, or 0
// (empty text) when the time cannot be converted or `size` is too small.
int FormatFileTimeText(uint64_t fileTime, wchar_t* text, size_t size);
// The entry's last-write time, as FormatFileTimeText writes it.
int FormatFileTime(const LocalFileEntry* entry, wchar_t* text, size_t size);

// Appends the files of `folder` (no trailing backslash needed) matching
// `pattern`. With `readHeader` a file is listed only when its first 48 bytes
// can be read, and its count comes from the header; else the count is
// kLocalFileNoCount. A path longer than 259 characters is passed over, not
// cut. Returns 0 when memory ran out (the scan stops), else 1.
int ScanFolderFiles(const wchar_t* folder, const wchar_t* pattern, int readHeader, LocalFileArray& list);

// The folders of the scan table; an empty one is left out.
struct LocalFileFolders {
  wchar_t temp[kLocalFilePathUnits] = {};
  wchar_t tempLow[kLocalFilePathUnits] = {};
  wchar_t cache[kLocalFilePathUnits] = {};
  wchar_t cacheLow[kLocalFilePathUnits] = {};
  wchar_t captures[kLocalFilePathUnits] = {};
};

using LocalFilesTickFn = DWORD (*)();

class CLocalFileList {
 public:
  CLocalFileList();
  ~CLocalFileList();
  CLocalFileList(const CLocalFileList&) = delete;
  CLocalFileList& operator=(const CLocalFileList&) = delete;

  // Rescans the lists named by `bits` (kLocalFilesTrace, kLocalFilesDump).
  // Each list keeps its own refresh time: one refreshed less than 5000 ms ago
  // stays as it is.
  void Refresh(uint32_t bits);
  // Scans the lists named by `bits` now, whatever the time of the last scan:
  // what the user opens shows the files written just before.
  void Rescan(uint32_t bits);
  // Makes the next Refresh of these lists scan whatever the time.
  void Expire(uint32_t bits);

  // The trace list: .ktr files newest first, then .kdv captures newest first.
  const LocalFileArray& TraceFiles() const { return m_traceFiles; }
  // The history dialog removes the entries of files it deleted (and frees
  // them with FreeEntry).
  LocalFileArray& TraceFiles() { return m_traceFiles; }
  static void FreeEntry(LocalFileEntry* entry);
  // The dump list, newest first.
  LocalFileArray& DumpFiles() { return m_dumpFiles; }
  void FreeList(LocalFileArray& list);
  // Scans the dump folders now (whatever the time of the last scan, so a
  // file written since is not missed), deletes every dump file found and
  // empties the list. Both closing windows leave no dump file behind.
  void DeleteDumpFiles();

  // Tests scan folders of their own and move the clock.
  void SetFolders(const LocalFileFolders& folders);
  void SetTickSource(LocalFilesTickFn tick) { m_tick = tick; }

 private:
  bool Due(DWORD* lastRefresh, bool* refreshed);
  void LoadFolders(LocalFileFolders* folders);
  void LoadShell();
  // Empties `list` and fills it from the temporary and cache folders.
  void ScanTemporary(const LocalFileFolders& folders, const wchar_t* pattern, int readHeader, LocalFileArray& list);

  LocalFileArray m_traceFiles;
  LocalFileArray m_dumpFiles;
  DWORD m_traceRefresh = 0;
  DWORD m_dumpRefresh = 0;
  bool m_traceRefreshed = false;
  bool m_dumpRefreshed = false;
  HMODULE m_shell = nullptr;  // loaded on the first scan of the real folders
  using SpecialFolderFn = BOOL(WINAPI*)(HWND, LPWSTR, int, BOOL);
  SpecialFolderFn m_specialFolder = nullptr;
  LocalFilesTickFn m_tick = GetTickCount;
  LocalFileFolders* m_testFolders = nullptr;
};

extern CLocalFileList g_localFileList;
