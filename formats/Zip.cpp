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
#include "formats/ParallelDeflate.h"

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
// An entry's headers, and deflate's growth of incompressible data at most
// (5 bytes per stored block of 16 KiB and a little).
constexpr uint64_t kZipEntryRoom = 1024;
constexpr uint64_t kDeflateGrowthDivisor = 1024;
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

// Starts an entry dated `time`; with `raw` minizip stores the bytes it is
// given as the packed data and takes the CRC-32 and size at the close.
int OpenEntry(zipFile zip, const wchar_t* name, const SYSTEMTIME& time, int raw) {
  if (zip == nullptr || name == nullptr) {
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
  return zipOpenNewFileInZip3(zip, narrow, &info, nullptr, 0, nullptr, 0, nullptr, kZipMethodDeflate,
                              kZipLevel, raw, kZipWindowBits, kZipMemLevel, kZipStrategy, nullptr, 0);
}

// One entry whose data is deflated on several threads (see CParallelDeflate)
// and handed to minizip already packed. Takes the data whole (Append) or as
// a KELT image is made (the image sink).
class CZipEntryWriter final : public CParallelDeflate::ISink, public IKeltImageSink {
 public:
  explicit CZipEntryWriter(zipFile zip) : m_zip(zip), m_deflate(this, kZipLevel, kZipMemLevel, kZipStrategy) {}

  int Open(const wchar_t* name, const SYSTEMTIME& time) { return OpenEntry(m_zip, name, time, 1); }
  bool Append(const void* data, size_t size) { return m_deflate.Append(data, size); }
  uint8_t* Room(size_t bytes) override { return m_deflate.Room(bytes); }
  void Advance(size_t bytes) override { m_deflate.Advance(bytes); }
  uint64_t BytesIn() const { return m_deflate.BytesIn(); }

  // Finishes the deflate and closes the entry: ZIP_OK, or the first error.
  int Close() {
    const DeflateResult deflated = m_deflate.Finish();
    const int closed = zipCloseFileInZipRaw64(m_zip, m_deflate.BytesIn(), m_deflate.Crc());
    switch (deflated) {
      case DeflateResult::kOk:
        return closed;
      case DeflateResult::kSinkFailed:
        return m_writeError;
      default:
        DebugTraceA("CZipEntryWriter::Close, deflate failed, %d", int(deflated));
        return ZIP_INTERNALERROR;
    }
  }

 private:
  bool Write(const uint8_t* data, size_t size) override {
    for (size_t done = 0; done < size;) {
      const size_t piece = size - done < kZipWritePiece ? size - done : kZipWritePiece;
      m_writeError = zipWriteInFileInZip(m_zip, data + done, unsigned(piece));
      if (m_writeError != ZIP_OK) {
        return false;
      }
      done += piece;
    }
    return true;
  }

  zipFile m_zip;
  CParallelDeflate m_deflate;
  int m_writeError = ZIP_OK;
};

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
  return handle != nullptr ? OpenEntry(handle->zip, name, time, 0) : ZIP_PARAMERROR;
}

int CZip::AddBuffer(ZipHandle* handle, const wchar_t* name, const SYSTEMTIME& time, const void* data,
                    size_t size) {
  if (handle == nullptr || (data == nullptr && size != 0)) {
    return ZIP_PARAMERROR;
  }
  // Room for all the entry can take, so the archive is not copied as it
  // grows; without it, it grows as it goes.
  if (handle->stream != nullptr) {
    const size_t most = size_t(kZipEntryRoom + size + size / kDeflateGrowthDivisor);
    const size_t room = handle->limit != 0 && handle->limit < most ? handle->limit : most;
    ZipMemReserve(handle->stream, handle->stream->position + room);
  }
  CZipEntryWriter entry(handle->zip);
  const int opened = entry.Open(name, time);
  if (opened != ZIP_OK) {
    return opened;
  }
  entry.Append(data, size);
  return entry.Close();
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

// Writes the store or view as the entry `name` of `zip`, deflated as the
// image is made (no copy of the image is held). True when the entry is whole.
bool AddImageEntry(zipFile zip, CTraceMgr* store, CTraceView* view, const wchar_t* name, const SYSTEMTIME& time) {
  CZipEntryWriter entry(zip);
  if (entry.Open(name, time) != ZIP_OK) {
    return false;
  }
  const int written = WriteKeltImage(store, entry, view);
  return written != 0 && entry.Close() == ZIP_OK && entry.BytesIn() <= kMaxKtrFileSize;
}

// A finished in-memory archive of the store or view under `name`; null on
// any failure (nothing is kept).
ZipHandle* ZipImage(CTraceMgr* store, CTraceView* view, const wchar_t* name, const SYSTEMTIME& time,
                    size_t limit) {
  CZipHandleOwner archive(CZip::OpenInMemory(limit));
  if (archive.get() == nullptr || !AddImageEntry(archive.get()->zip, store, view, name, time) ||
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
  // The archive goes straight to the file that replaces the target: held in
  // memory first, its bytes would be copied and paged in once more for
  // nothing.
  CFileReplacement replacement;
  if (!replacement.Begin(path)) {
    return 0;
  }
  zlib_filefunc64_def functions;
  fill_win32_filefunc64W(&functions);
  zipFile zip = zipOpen2_64(replacement.TempPath(), APPEND_STATUS_CREATE, nullptr, &functions);
  if (zip == nullptr) {
    DebugTraceA("SaveZip, zipOpen2_64, %lu", GetLastError());
    return 0;
  }
  const bool added = AddImageEntry(zip, store, view, name.c_str(), now);
  // Closing also after a failure: it closes the file, which the replacement
  // then deletes. A close that fails (the directory not written) fails the save.
  const bool closed = zipClose(zip, nullptr) == ZIP_OK;
  return added && closed ? replacement.Commit() : 0;
}

ZipHandle* ZipForUpload(CTraceMgr* store, const SYSTEMTIME& time, CTraceView* view, size_t limit) {
  if (store == nullptr) {
    return nullptr;
  }
  const CString name = UploadEntryName(time);
  return ZipImage(store, view, name.c_str(), time, limit);
}
