// Entries deflated in chunks on several threads: whatever their size, every
// zip reader takes them whole (ours, Python's zipfile and unzip -t), the
// packing stays that of one stream, and a failure on the way ends the
// deflate as a result.
#include <gtest/gtest.h>
#include <windows.h>
#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "formats/Ktr.h"
#include "formats/ParallelDeflate.h"
#include "formats/Zip.h"
#include "tests/formats/StoreFixture.h"
#include "tests/net/ScriptServer.h"

using namespace storefix;

namespace {

constexpr size_t kChunk = CParallelDeflate::kChunkBytes;
// Noise repeated this far back: deflate finds it only through the
// dictionary when a chunk boundary lies in between.
constexpr size_t kRepeatDistance = 20000;
constexpr size_t kStretch = 4096;

// Stretches of noise, two of three repeated from kRepeatDistance bytes
// before: matches cross every chunk boundary, so a chunk primed with wrong
// bytes inflates to wrong bytes, and one not primed packs worse.
Bytes Pattern(size_t size, uint32_t seed) {
  Bytes bytes(size);
  uint32_t state = seed;
  for (size_t i = 0; i < size; ++i) {
    if (i >= kRepeatDistance && (i / kStretch) % 3 != 0) {
      bytes[i] = bytes[i - kRepeatDistance];
    } else {
      state = state * 1664525u + 1013904223u;
      bytes[i] = uint8_t(state >> 24);
    }
  }
  return bytes;
}

uint32_t Crc(const Bytes& bytes) { return uint32_t(crc32(0, bytes.data(), uInt(bytes.size()))); }

struct Entry {
  std::string name;
  Bytes data;
  unz_file_info info;
};

// Every entry of a zip file, read whole through our reader (which checks
// each CRC-32 at the close); empty when any read fails.
std::vector<Entry> ReadEntries(const std::wstring& path) {
  std::vector<Entry> entries;
  CUnzip zip;
  if (zip.Open(path.c_str()) != UNZ_OK) return entries;
  for (int r = zip.GoToFirstFile(); r == UNZ_OK; r = zip.GoToNextFile()) {
    Entry entry;
    char name[kZipEntryNameBytes + 1];
    if (zip.GetCurrentFileInfo(name, sizeof(name), &entry.info) != UNZ_OK) return {};
    entry.name = name;
    entry.data.resize(entry.info.uncompressed_size);
    // One byte more than the size is asked for, so a longer stream shows.
    Bytes room(entry.data.size() + 1);
    if (zip.OpenCurrentFile() != UNZ_OK) return {};
    size_t done = 0;
    for (int read; (read = zip.Read(room.data() + done, unsigned(room.size() - done))) > 0;) done += size_t(read);
    if (zip.CloseCurrentFile() != UNZ_OK || done != entry.data.size()) return {};
    std::copy(room.begin(), room.begin() + done, entry.data.begin());
    entries.push_back(std::move(entry));
  }
  return entries;
}

// Wine's Unix path of a file, for the checker.
std::string UnixPath(const std::wstring& path) {
  using UnixNameFn = char*(CDECL*)(const wchar_t*);
  auto unixName = reinterpret_cast<UnixNameFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* name = unixName != nullptr ? unixName(path.c_str()) : nullptr;
  if (name == nullptr) return std::string();
  std::string result = name;
  HeapFree(GetProcessHeap(), 0, name);
  return result;
}

// What tests/formats/zip_check.py answers for these entries.
std::string CheckerVerdict(const std::vector<std::pair<std::string, const Bytes*>>& entries) {
  std::string verdict = "OK";
  for (const auto& entry : entries) {
    char crc[16];
    std::snprintf(crc, sizeof(crc), "%08x", Crc(*entry.second));
    verdict += " " + entry.first + ":" + std::to_string(entry.second->size()) + ":" + crc;
  }
  return verdict;
}

// Python's zipfile and unzip -t on the archive at `path`: their one line.
std::string OtherReaders(const std::wstring& path) {
  const std::string unixPath = UnixPath(path);
  if (unixPath.empty()) return "no Unix path for the archive";
  ScriptServer checker;
  checker.Start("zip_check.py", unixPath, "formats");
  return checker.Line();
}

class ZipDeflate : public CStoreTest {};

// One archive with an entry of each size that matters to the chunking.
TEST_F(ZipDeflate, EntriesOfEverySizeAreReadWholeByEveryReader) {
  const size_t sizes[] = {
      0, 1, 4000, kChunk - 1, kChunk, kChunk + 1, 2 * kChunk, 3 * kChunk + 4321,
      // More chunks than are in flight at once: every slot is used again.
      (CParallelDeflate::kSlots + 3) * kChunk + 17,
  };
  std::vector<Bytes> datas;
  std::vector<std::pair<std::string, const Bytes*>> named;
  for (size_t i = 0; i < sizeof(sizes) / sizeof(sizes[0]); ++i) datas.push_back(Pattern(sizes[i], uint32_t(i + 1)));
  CZipHandleOwner archive(CZip::OpenInMemory());
  ASSERT_NE(nullptr, archive.get());
  const SYSTEMTIME t = {2024, 5, 0, 6, 7, 8, 9, 0};
  for (size_t i = 0; i < datas.size(); ++i) {
    const std::wstring name = L"e" + std::to_wstring(sizes[i]) + L".bin";
    ASSERT_EQ(ZIP_OK, CZip::AddBuffer(archive.get(), name.c_str(), t, datas[i].data(), datas[i].size())) << sizes[i];
    named.emplace_back("e" + std::to_string(sizes[i]) + ".bin", &datas[i]);
  }
  ASSERT_EQ(ZIP_OK, CZip::Close(archive.get()));
  const uint8_t* bytes = CZip::GetMemoryData(archive.get());
  const std::wstring path = folder.File(L"sizes.zip");
  ASSERT_TRUE(WriteBytes(path, Bytes(bytes, bytes + CZip::GetMemorySize(archive.get()))));

  const std::vector<Entry> entries = ReadEntries(path);
  ASSERT_EQ(datas.size(), entries.size());
  for (size_t i = 0; i < datas.size(); ++i) {
    EXPECT_EQ(named[i].first, entries[i].name);
    EXPECT_EQ(uLong(Z_DEFLATED), entries[i].info.compression_method) << sizes[i];
    EXPECT_EQ(Crc(datas[i]), entries[i].info.crc) << sizes[i];
    EXPECT_TRUE(datas[i] == entries[i].data) << sizes[i];
  }
  EXPECT_EQ(CheckerVerdict(named), OtherReaders(path));
}

// Chunks primed with the data before them pack as one stream does.
TEST_F(ZipDeflate, PackedSizeStaysThatOfOneStream) {
  const Bytes data = Pattern(6 * kChunk + 999, 7);
  CZipHandleOwner archive(CZip::OpenInMemory());
  const SYSTEMTIME t = {2024, 5, 0, 6, 7, 8, 9, 0};
  ASSERT_EQ(ZIP_OK, CZip::AddBuffer(archive.get(), L"p.bin", t, data.data(), data.size()));
  ASSERT_EQ(ZIP_OK, CZip::Close(archive.get()));
  const std::wstring path = folder.File(L"packed.zip");
  const uint8_t* bytes = CZip::GetMemoryData(archive.get());
  ASSERT_TRUE(WriteBytes(path, Bytes(bytes, bytes + CZip::GetMemorySize(archive.get()))));
  const std::vector<Entry> entries = ReadEntries(path);
  ASSERT_EQ(1u, entries.size());

  z_stream one = {};
  ASSERT_EQ(Z_OK, deflateInit2(&one, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY));
  Bytes packed(deflateBound(&one, uLong(data.size())));
  one.next_in = const_cast<Bytef*>(data.data());
  one.avail_in = uInt(data.size());
  one.next_out = packed.data();
  one.avail_out = uInt(packed.size());
  ASSERT_EQ(Z_STREAM_END, deflate(&one, Z_FINISH));
  const double single = double(one.total_out);
  deflateEnd(&one);
  // A few bytes per chunk for the flush; an unprimed chunk loses far more.
  EXPECT_LT(double(entries[0].info.compressed_size), single * 1.002);
}

// A store whose image spans several chunks, through every road that zips it.
class ZipDeflateStore : public CStoreTest {
 protected:
  void SetUp() override {
    CStoreTest::SetUp();
    for (int i = 0; i < kRecords; ++i) {
      Item item;
      item.message = L"record " + std::to_wstring(i) + L" of a capture that spans several chunks " +
                     std::wstring(size_t(i % 97), wchar_t(L'a' + i % 26));
      item.module = i % 3 == 0 ? L"net.dll" : L"mod.dll";
      item.pid = 100 + uint32_t(i % 5);
      ASSERT_NE(nullptr, Add(source, item));
    }
    CByteBuffer image;
    ASSERT_EQ(1, WriteKeltImage(&source, image, nullptr));
    m_image.assign(image.Data(), image.Data() + image.Size());
    ASSERT_GT(m_image.size(), 3 * kChunk);
  }

  static constexpr int kRecords = 30000;
  Bytes m_image;
};

TEST_F(ZipDeflateStore, SavedAndUploadArchivesHoldTheImageAndLoadBack) {
  const std::wstring path = folder.File(L"run.zip");
  ASSERT_EQ(1, SaveZip(&source, path.c_str(), nullptr));
  std::vector<Entry> entries = ReadEntries(path);
  ASSERT_EQ(1u, entries.size());
  EXPECT_EQ("run.ktr", entries[0].name);
  EXPECT_TRUE(m_image == entries[0].data);
  EXPECT_EQ(CheckerVerdict({{"run.ktr", &m_image}}), OtherReaders(path));

  CTraceFile loaded;
  loaded.SetFileName(path.c_str(), L"run.zip");
  ASSERT_EQ(1, LoadZip(&loaded));
  const std::vector<const TraceRecord*> before = Records(source);
  const std::vector<const TraceRecord*> after = Records(loaded);
  ASSERT_EQ(before.size(), after.size());
  for (size_t i = 0; i < before.size(); ++i) {
    ASSERT_STREQ(before[i]->Message(), after[i]->Message()) << i;
    ASSERT_EQ(before[i]->pid, after[i]->pid) << i;
  }

  const SYSTEMTIME t = {2024, 5, 0, 6, 7, 8, 9, 0};
  CZipHandleOwner upload(ZipForUpload(&source, t, nullptr));
  ASSERT_NE(nullptr, upload.get());
  const uint8_t* bytes = CZip::GetMemoryData(upload.get());
  const std::wstring uploadPath = folder.File(L"upload.zip");
  ASSERT_TRUE(WriteBytes(uploadPath, Bytes(bytes, bytes + CZip::GetMemorySize(upload.get()))));
  entries = ReadEntries(uploadPath);
  ASSERT_EQ(1u, entries.size());
  EXPECT_TRUE(m_image == entries[0].data);
}

TEST_F(ZipDeflateStore, FailuresWhileHelpersRunLeaveNothing) {
  const std::wstring path = folder.File(L"old.zip");
  const Bytes old = ToBytes("old archive");
  ASSERT_TRUE(WriteBytes(path, old));
  const SYSTEMTIME t = {2024, 5, 0, 6, 7, 8, 9, 0};
  CZipHandleOwner whole(ZipForUpload(&source, t, nullptr));
  ASSERT_NE(nullptr, whole.get());
  // The upload's limit met half-way, with chunks still in flight.
  EXPECT_EQ(nullptr, ZipForUpload(&source, t, nullptr, CZip::GetMemorySize(whole.get()) / 2));
  // A record that cannot be written, late in the image.
  DamageRecord(source, kRecords - 10);
  EXPECT_EQ(0, SaveZip(&source, path.c_str(), nullptr));
  EXPECT_EQ(nullptr, ZipForUpload(&source, t, nullptr));
  EXPECT_EQ(old, ReadBytes(path));
  EXPECT_EQ(std::vector<std::wstring>{L"old.zip"}, FilesIn(folder.path()));
}

// Takes the packed bytes until its `refuseAt`th write, which it refuses.
class CRefusingSink : public CParallelDeflate::ISink {
 public:
  explicit CRefusingSink(int refuseAt) : m_refuseAt(refuseAt) {}
  bool Write(const uint8_t*, size_t) override { return ++m_writes < m_refuseAt; }
  int Writes() const { return m_writes; }

 private:
  int m_refuseAt;
  int m_writes = 0;
};

TEST(ParallelDeflate, RefusedWriteEndsTheDeflateThere) {
  const Bytes data = Pattern(8 * kChunk, 3);
  for (const int refuseAt : {1, 4}) {
    CRefusingSink sink(refuseAt);
    CParallelDeflate deflate(&sink, Z_DEFAULT_COMPRESSION, 8, Z_DEFAULT_STRATEGY);
    deflate.Append(data.data(), data.size());
    EXPECT_EQ(DeflateResult::kSinkFailed, deflate.Finish()) << refuseAt;
    EXPECT_EQ(nullptr, deflate.Room(1)) << refuseAt;
    EXPECT_EQ(refuseAt, sink.Writes()) << refuseAt;
  }
}

}  // namespace
