// Zip archives holding a KELT image: the thin classes over minizip, and the
// store operations that read such an archive, write one and build one in
// memory for the upload.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include <unzip.h>

#include "core/RefString.h"
#include "formats/ZipMemory.h"

class CTraceMgr;
class CTraceView;

// Entry names longer than this (in bytes) are not taken.
constexpr size_t kZipEntryNameBytes = 255;
// The upload entry name is at most this many characters.
constexpr size_t kUploadNameChars = 128;

// Reading a zip archive. Every operation returns minizip's result, 0 (UNZ_OK)
// for success. The archive is closed when the object goes.
class CUnzip {
 public:
  CUnzip() = default;
  CUnzip(const CUnzip&) = delete;
  CUnzip& operator=(const CUnzip&) = delete;
  ~CUnzip() { Close(); }

  // Opens the archive through the wide-character file functions, so any
  // path the system takes opens (an ANSI conversion would lose some).
  int Open(const wchar_t* path);
  int GoToFirstFile();
  int GoToNextFile();
  // The current entry's name (at most 255 bytes, ANSI) as wide text in
  // `out` (size in characters); with a null `out` only the entry's
  // information is fetched. `info` (may be null) receives that information.
  int GetCurrentFileName(wchar_t* out, size_t outSize, unz_file_info* info = nullptr);
  // The same with the name as stored (narrow, terminated, cut to nameSize).
  int GetCurrentFileInfo(char* name, size_t nameSize, unz_file_info* info);
  int OpenCurrentFile();
  // Bytes read, 0 at the end of the entry, negative on an error.
  int Read(void* buffer, unsigned n);
  // UNZ_CRCERROR when the whole entry was read and its CRC-32 differs.
  int CloseCurrentFile();
  int Close();
  // Opens the current entry, reads at most n bytes and closes it: the
  // read's result, or the open's error.
  int ReadCurrentFile(void* buffer, unsigned n);

  bool IsOpen() const { return m_file != nullptr; }

 private:
  unzFile m_file = nullptr;
};

// Writing an archive of one deflated entry into memory. The handle is
// ours (see ZipMemory.h); whoever gets one releases it with FreeHandle.
class CZip {
 public:
  // A new archive in memory, or null.
  static ZipHandle* OpenInMemory();
  // Starts an entry named `name` (converted to ANSI) dated `time` (UTC).
  static int OpenNewFile(ZipHandle* handle, const wchar_t* name, const SYSTEMTIME& time);
  // Opens the entry, writes the whole buffer and closes the entry: the
  // write's result, or the error of the first step that failed.
  static int AddBuffer(ZipHandle* handle, const wchar_t* name, const SYSTEMTIME& time, const void* data,
                       size_t size);
  // Writes the central directory and the end record; the archive's bytes
  // and the handle stay until FreeHandle.
  static int Close(ZipHandle* handle);
  // The archive's bytes and their count (its length once closed); null and 0
  // without a stream.
  static const uint8_t* GetMemoryData(ZipHandle* handle);
  static size_t GetMemorySize(ZipHandle* handle);
  static int FreeHandle(ZipHandle* handle) { return zipFreeHandle(handle); }
};

// Frees an in-memory archive when it goes, unless Release() took it.
class CZipHandleOwner {
 public:
  explicit CZipHandleOwner(ZipHandle* handle) : m_handle(handle) {}
  CZipHandleOwner(const CZipHandleOwner&) = delete;
  CZipHandleOwner& operator=(const CZipHandleOwner&) = delete;
  ~CZipHandleOwner() {
    if (m_handle != nullptr) {
      zipFreeHandle(m_handle);
    }
  }
  ZipHandle* get() const { return m_handle; }
  ZipHandle* Release() {
    ZipHandle* handle = m_handle;
    m_handle = nullptr;
    return handle;
  }

 private:
  ZipHandle* m_handle;
};

// The entry name for a saved archive: the target's file name (after its
// last "\" or "/"), cut at its first ".", with ".ktr" appended; when that
// leaves no name, the store's file name cut the same way, else "trace".
// Every archive written so names its entry ".ktr" and opens again.
CString ZipEntryName(const wchar_t* target, const wchar_t* storeFileName);

// "keltra_MMDDYYYY_HHMMSS.ktr" from the time.
CString UploadEntryName(const SYSTEMTIME& time);

// Reads the store's path (m_filePath) as a zip archive: the first entry
// whose name ends in ".ktr" (any case) is unpacked and parsed as a KELT
// image. 1 when such an entry of at least 48 bytes was read whole (its
// CRC-32 checked) and parsed; 0 for a missing archive, no such entry, a
// damaged entry, or an unpacked size beyond what its packed size can give
// or beyond a .ktr file's limit.
int LoadZip(CTraceMgr* store);

// Writes the store or one view as an archive of one .ktr entry to `path`,
// replacing the old file only when the whole archive was written. 1 or 0.
int SaveZip(CTraceMgr* store, const wchar_t* path, CTraceView* view);

// A finished in-memory archive of the store or view under the upload entry
// name for `time`, or null. The caller reads it with CZip::GetMemoryData
// and GetMemorySize and releases it with CZip::FreeHandle.
ZipHandle* ZipForUpload(CTraceMgr* store, const SYSTEMTIME& time, CTraceView* view);
