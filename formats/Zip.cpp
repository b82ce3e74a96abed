// The minizip classes and the zip store operations.
#include "formats/Zip.h"

#include <iowin32.h>

#include <cstring>
#include <cwchar>
#include <new>

#include "core/Containers.h"
#include "core/SysUtil.h"
#include "core/TraceStore.h"
#include "formats/FilePath.h"
#include "formats/FileReplace.h"
#include "formats/Ktr.h"

namespace {

// Deflate with the default level, raw (no zlib header), the usual window
// and memory level.
constexpr int kZipMethodDeflate = Z_DEFLATED;
constexpr int kZipMethodStored = 0;
constexpr int kZipLevel = Z_DEFAULT_COMPRESSION;
constexpr int kZipWindowBits = -MAX_WBITS;
constexpr int kZipMemLevel = 8;
constexpr int kZipStrategy = Z_DEFAULT_STRATEGY;
// Entries are unpacked in pieces of this size.
constexpr unsigned kZipReadPiece = 1 << 16;
// Deflate cannot expand data more than about 1032 times; an entry claiming
// more is lying about its size. The slack covers tiny entries.
constexpr uint64_t kMaxDeflateRatio = 1032;
constexpr uint64_t kDeflateSlack = 1024;
// minizip writes an entry in one call of at most this many bytes.
constexpr size_t kZipWritePiece = 1u << 30;
constexpr wchar_t kKtrExtension[] = L".ktr";
constexpr char kKtrExtensionA[] = ".ktr";
constexpr wchar_t kFallbackEntryStem[] = L"trace";
constexpr wchar_t kUploadNameFormat[] = L"keltra_%02hu%02hu%04hu_%02hu%02hu%02hu.ktr";

// The part of `path` after its last "\" or "/", cut at its first ".".
CString EntryStem(const wchar_t* path) {
  CString stem;
  if (path == nullptr) {
    return stem;
  }
  const wchar_t* name = FileNamePart(path);
  const wchar_t* dot = std::wcschr(name, L'.');
  stem.Assign(name, dot != nullptr ? size_t(dot - name) : std::wcslen(name));
  return stem;
}

bool EndsWithKtr(const char* name) {
  const size_t length = std::strlen(name);
  const size_t ext = sizeof(kKtrExtensionA) - 1;
  return length >= ext && _stricmp(name + length - ext, kKtrExtensionA) == 0;
}

// An unpacked size the packed bytes can really give, within a .ktr file's limit.
bool PlausibleSize(const unz_file_info& info) {
  const uint64_t packed = info.compressed_size;
  const uint64_t unpacked = info.uncompressed_size;
  if (unpacked < kTraceHeaderSize || unpacked > kMaxKtrFileSize) {
    return false;
  }
  if (info.compression_method == kZipMethodStored) {
    return unpacked == packed;
  }
  return unpacked <= packed * kMaxDeflateRatio + kDeflateSlack;
}

// Moves to the first entry named "*.ktr"; false when there is none.
bool FindKtrEntry(CUnzip& zip, unz_file_info* info) {
  for (int result = zip.GoToFirstFile(); result == UNZ_OK; result = zip.GoToNextFile()) {
    char name[kZipEntryNameBytes + 1];
    if (zip.GetCurrentFileInfo(name, sizeof(name), info) != UNZ_OK) {
      return false;
    }
    if (EndsWithKtr(name)) {
      return true;
    }
  }
  return false;
}

// Unpacks the current entry whole into `out`: every byte its header
// promises, its CRC-32 checked. False at the first fault.
bool ReadWholeEntry(CUnzip& zip, const unz_file_info& info, CByteBuffer& out) {
  const size_t size = info.uncompressed_size;
  if (out.Reserve(size) == nullptr || zip.OpenCurrentFile() != UNZ_OK) {
    return false;
  }
  size_t done = 0;
  bool whole = true;
  while (done < size) {
    const size_t left = size - done;
    const unsigned piece = left < kZipReadPiece ? unsigned(left) : kZipReadPiece;
    const int read = zip.Read(out.read + out.size, piece);
    if (read <= 0) {
      whole = false;  // an error, or a stream that ends before its size
      break;
    }
    out.size += size_t(read);
    done += size_t(read);
  }
  // The CRC-32 is compared only when every byte was read.
  const int closed = zip.CloseCurrentFile();
  if (!whole || closed != UNZ_OK) {
    DebugTraceA("LoadZip, entry damaged, %u of %u bytes, close %d", unsigned(done), unsigned(size), closed);
    return false;
  }
  return true;
}

}  // namespace

// --- CUnzip ---

int CUnzip::Open(const wchar_t* path) {
  Close();
  if (path == nullptr) {
    return UNZ_PARAMERROR;
  }
  zlib_filefunc64_def functions;
  fill_win32_filefunc64W(&functions);
  m_file = unzOpen2_64(path, &functions);
  return m_file != nullptr ? UNZ_OK : UNZ_ERRNO;
}

int CUnzip::GoToFirstFile() { return m_file != nullptr ? unzGoToFirstFile(m_file) : UNZ_PARAMERROR; }

int CUnzip::GoToNextFile() { return m_file != nullptr ? unzGoToNextFile(m_file) : UNZ_PARAMERROR; }

int CUnzip::GetCurrentFileInfo(char* name, size_t nameSize, unz_file_info* info) {
  if (m_file == nullptr) {
    return UNZ_PARAMERROR;
  }
  unz_file_info local;
  const uLong room = name != nullptr ? uLong(nameSize) : 0;
  const int result = unzGetCurrentFileInfo(m_file, info != nullptr ? info : &local, name, room, nullptr, 0,
                                           nullptr, 0);
  // minizip terminates the name only when it fits with room to spare.
  if (name != nullptr && nameSize != 0) {
    name[nameSize - 1] = 0;
  }
  return result;
}

int CUnzip::GetCurrentFileName(wchar_t* out, size_t outSize, unz_file_info* info) {
  if (out == nullptr || outSize == 0) {
    return GetCurrentFileInfo(nullptr, 0, info);
  }
  char name[kZipEntryNameBytes + 1] = {};
  const int result = GetCurrentFileInfo(name, sizeof(name), info);
  out[0] = 0;
  if (result == UNZ_OK && name[0] != 0) {
    const int n = MultiByteToWideChar(CP_ACP, 0, name, -1, out, int(outSize));
    if (n <= 0) {
      out[0] = 0;
    }
    out[outSize - 1] = 0;
  }
  return result;
}

int CUnzip::OpenCurrentFile() { return m_file != nullptr ? unzOpenCurrentFile(m_file) : UNZ_PARAMERROR; }

int CUnzip::Read(void* buffer, unsigned n) {
  return m_file != nullptr ? unzReadCurrentFile(m_file, buffer, n) : UNZ_PARAMERROR;
}

int CUnzip::CloseCurrentFile() { return m_file != nullptr ? unzCloseCurrentFile(m_file) : UNZ_PARAMERROR; }

int CUnzip::Close() {
  if (m_file == nullptr) {
    return UNZ_OK;
  }
  const int result = unzClose(m_file);
  m_file = nullptr;
  return result;
}

int CUnzip::ReadCurrentFile(void* buffer, unsigned n) {
  const int opened = OpenCurrentFile();
  if (opened != UNZ_OK) {
    return opened;
  }
  const int read = Read(buffer, n);
  CloseCurrentFile();
  return read;
}

// --- CZip ---

ZipHandle* CZip::OpenInMemory(size_t limit) {
  auto* handle = new (std::nothrow) ZipHandle{};
  if (handle == nullptr) {
    return nullptr;
  }
  handle->limit = limit;
  zlib_filefunc_def functions;
  FillMemoryFileFunctions(&functions, handle);
  handle->zip = zipOpen2(nullptr, APPEND_STATUS_CREATE, nullptr, &functions);
  if (handle->zip == nullptr) {
    zipFreeHandle(handle);
    return nullptr;
  }
  return handle;
}

int CZip::OpenNewFile(ZipHandle* handle, const wchar_t* name, const SYSTEMTIME& time) {
  if (handle == nullptr || handle->zip == nullptr || name == nullptr) {
    return ZIP_PARAMERROR;
  }
  char narrow[kZipEntryNameBytes + 1];
  if (WideCharToMultiByte(CP_ACP, 0, name, -1, narrow, int(sizeof(narrow)), nullptr, nullptr) <= 0) {
    return ZIP_PARAMERROR;
  }
  zip_fileinfo info = {};
  info.tmz_date.tm_sec = time.wSecond;
  info.tmz_date.tm_min = time.wMinute;
  info.tmz_date.tm_hour = time.wHour;
  info.tmz_date.tm_mday = time.wDay;
  info.tmz_date.tm_mon = time.wMonth - 1;
  info.tmz_date.tm_year = time.wYear;
  return zipOpenNewFileInZip3(handle->zip, narrow, &info, nullptr, 0, nullptr, 0, nullptr, kZipMethodDeflate,
                              kZipLevel, 0, kZipWindowBits, kZipMemLevel, kZipStrategy, nullptr, 0);
}

int CZip::AddBuffer(ZipHandle* handle, const wchar_t* name, const SYSTEMTIME& time, const void* data,
                    size_t size) {
  if (data == nullptr && size != 0) {
    return ZIP_PARAMERROR;
  }
  const int opened = OpenNewFile(handle, name, time);
  if (opened != ZIP_OK) {
    return opened;
  }
  int result = ZIP_OK;
  const auto* bytes = static_cast<const uint8_t*>(data);
  for (size_t done = 0; done < size && result == ZIP_OK;) {
    const size_t piece = size - done < kZipWritePiece ? size - done : kZipWritePiece;
    result = zipWriteInFileInZip(handle->zip, bytes + done, unsigned(piece));
    done += piece;
  }
  const int closed = zipCloseFileInZip(handle->zip);
  return result != ZIP_OK ? result : closed;
}

int CZip::Close(ZipHandle* handle) {
  if (handle == nullptr || handle->zip == nullptr) {
    return ZIP_PARAMERROR;
  }
  // zipClose frees minizip's handle in any case; the stream stays ours.
  const int result = zipClose(handle->zip, nullptr);
  handle->zip = nullptr;
  return result;
}

const uint8_t* CZip::GetMemoryData(ZipHandle* handle) {
  const ZipMemStream* stream = zipGetStream(handle);
  return stream != nullptr ? stream->data : nullptr;
}

size_t CZip::GetMemorySize(ZipHandle* handle) {
  const ZipMemStream* stream = zipGetStream(handle);
  return stream != nullptr ? stream->position : 0;
}

// --- names ---

CString ZipEntryName(const wchar_t* target, const wchar_t* storeFileName) {
  CString stem = EntryStem(target);
  if (stem.IsEmpty()) {
    stem = EntryStem(storeFileName);
  }
  if (stem.IsEmpty()) {
    stem = kFallbackEntryStem;
  }
  stem += kKtrExtension;
  return stem;
}

CString UploadEntryName(const SYSTEMTIME& time) {
  CString name;
  name.Format(kUploadNameFormat, time.wMonth, time.wDay, time.wYear, time.wHour, time.wMinute, time.wSecond);
  return name;
}

// --- store operations ---

int LoadZip(CTraceMgr* store) {
  if (store == nullptr || store->m_filePath.IsEmpty()) {
    return 0;
  }
  CUnzip zip;
  if (zip.Open(store->m_filePath.c_str()) != UNZ_OK) {
    return 0;
  }
  unz_file_info info;
  if (!FindKtrEntry(zip, &info)) {
    return 0;
  }
  if (!PlausibleSize(info)) {
    DebugTraceA("LoadZip, implausible entry, %lu packed, %lu unpacked", info.compressed_size,
                info.uncompressed_size);
    return 0;
  }
  CByteBuffer image;
  if (!ReadWholeEntry(zip, info, image)) {
    return 0;
  }
  zip.Close();
  if (!ReserveForKeltImage(store, image.read, image.Size())) {
    return 0;
  }
  // The image is our own copy: records are deciphered where they lie.
  return ParseKeltImage(store, image.read, image.Size(), 0);
}

namespace {

// A finished in-memory archive of the store or view under `name`; null on
// any failure (nothing is kept).
ZipHandle* ZipImage(CTraceMgr* store, CTraceView* view, const wchar_t* name, const SYSTEMTIME& time,
                    size_t limit = 0) {
  CByteBuffer image;
  if (!WriteKeltImage(store, image, view) || image.Size() > kMaxKtrFileSize) {
    return nullptr;
  }
  CZipHandleOwner archive(CZip::OpenInMemory(limit));
  if (archive.get() == nullptr || CZip::AddBuffer(archive.get(), name, time, image.Data(), image.Size()) != ZIP_OK ||
      CZip::Close(archive.get()) != ZIP_OK) {
    return nullptr;
  }
  return archive.Release();
}

}  // namespace

int SaveZip(CTraceMgr* store, const wchar_t* path, CTraceView* view) {
  if (store == nullptr || path == nullptr || path[0] == 0) {
    return 0;
  }
  SYSTEMTIME now;
  GetSystemTime(&now);
  const CString name = ZipEntryName(path, store->m_fileName.c_str());
  CZipHandleOwner archive(ZipImage(store, view, name.c_str(), now));
  if (archive.get() == nullptr) {
    return 0;
  }
  return WriteFileReplacing(path, CZip::GetMemoryData(archive.get()), CZip::GetMemorySize(archive.get()));
}

ZipHandle* ZipForUpload(CTraceMgr* store, const SYSTEMTIME& time, CTraceView* view, size_t limit) {
  if (store == nullptr) {
    return nullptr;
  }
  const CString name = UploadEntryName(time);
  return ZipImage(store, view, name.c_str(), time, limit);
}
