#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <functional>
#include <string>

#include "core/Containers.h"
#include "formats/ByteOrder.h"
#include "formats/Ktr.h"
#include "formats/Zip.h"
#include "tests/core/TempFolder.h"
#include "tests/formats/StoreFixture.h"

using namespace storefix;

namespace {

constexpr uint32_t kCentralSignature = 0x02014B50;
constexpr uint32_t kLocalSignature = 0x04034B50;
// Field offsets inside the central and the local header.
constexpr size_t kCentralCrc = 16;
constexpr size_t kCentralPacked = 20;
constexpr size_t kCentralUnpacked = 24;
constexpr size_t kLocalCrc = 14;
constexpr size_t kLocalUnpacked = 22;
constexpr size_t kLocalHeaderSize = 30;

void Put32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

size_t FindSignature(const Bytes& bytes, uint32_t signature) {
  for (size_t i = 0; i + 4 <= bytes.size(); ++i) {
    if (LoadLittle32(bytes.data() + i) == signature) return i;
  }
  return std::string::npos;
}

SYSTEMTIME Time(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
  SYSTEMTIME t = {};
  t.wYear = year;
  t.wMonth = month;
  t.wDay = day;
  t.wHour = hour;
  t.wMinute = minute;
  t.wSecond = second;
  return t;
}

struct Entry {
  std::wstring name;
  Bytes data;
};

// The entries of a zip file, each read whole through CUnzip.
std::vector<Entry> Entries(const std::wstring& path, unz_file_info* firstInfo = nullptr) {
  std::vector<Entry> entries;
  CUnzip zip;
  if (zip.Open(path.c_str()) != UNZ_OK) return entries;
  for (int r = zip.GoToFirstFile(); r == UNZ_OK; r = zip.GoToNextFile()) {
    wchar_t name[256];
    unz_file_info info;
    if (zip.GetCurrentFileName(name, 256, &info) != UNZ_OK) break;
    if (entries.empty() && firstInfo != nullptr) *firstInfo = info;
    Entry entry{name, Bytes(info.uncompressed_size)};
    const int read = zip.ReadCurrentFile(entry.data.data(), unsigned(entry.data.size()));
    if (read != int(entry.data.size())) entry.data.clear();
    entries.push_back(entry);
  }
  return entries;
}

// A closed in-memory archive of the given entries, as bytes.
Bytes Archive(const std::vector<Entry>& entries) {
  CZipHandleOwner archive(CZip::OpenInMemory());
  if (archive.get() == nullptr) return {};
  const SYSTEMTIME t = Time(2024, 1, 2, 3, 4, 5);
  for (const Entry& e : entries) {
    if (CZip::AddBuffer(archive.get(), e.name.c_str(), t, e.data.data(), e.data.size()) != ZIP_OK) return {};
  }
  if (CZip::Close(archive.get()) != ZIP_OK) return {};
  const uint8_t* data = CZip::GetMemoryData(archive.get());
  return Bytes(data, data + CZip::GetMemorySize(archive.get()));
}

class Zip : public CStoreTest {
 protected:
  void SetUp() override {
    CStoreTest::SetUp();
    for (int i = 0; i < 50; ++i) {
      Item item;
      item.message = L"message " + std::to_wstring(i);
      item.module = i % 3 == 0 ? L"net.dll" : L"mod.dll";
      item.level = i % 2 ? kLevelError : kLevelInfo;
      ASSERT_NE(nullptr, Add(source, item));
    }
  }

  Bytes Image(CTraceView* view = nullptr) {
    CByteBuffer image;
    EXPECT_EQ(1, WriteKeltImage(&source, image, view));
    return Bytes(image.Data(), image.Data() + image.Size());
  }

  int Load(CTraceFile& loaded, const std::wstring& path) {
    loaded.SetFileName(path.c_str(), L"x");
    return LoadZip(&loaded);
  }

  std::vector<std::wstring> Messages(const CTraceMgr& s) {
    std::vector<std::wstring> out;
    for (const TraceRecord* r : Records(s)) out.push_back(r->Message());
    return out;
  }

};

TEST_F(Zip, SavedArchiveHoldsExactlyTheImageAndLoadsBack) {
  const std::wstring path = folder.File(L"run.1.zip");
  ASSERT_EQ(1, SaveZip(&source, path.c_str(), nullptr));
  unz_file_info info;
  const std::vector<Entry> entries = Entries(path, &info);
  ASSERT_EQ(1u, entries.size());
  EXPECT_EQ(L"run.ktr", entries[0].name);
  EXPECT_EQ(Image(), entries[0].data);
  EXPECT_EQ(uLong(Z_DEFLATED), info.compression_method);

  CTraceFile loaded;
  ASSERT_EQ(1, Load(loaded, path));
  EXPECT_EQ(Messages(source), Messages(loaded));
  EXPECT_EQ(std::vector<std::wstring>{L"run.1.zip"}, FilesIn(folder.path()));
}

TEST_F(Zip, ViewIsSavedAlone) {
  ASSERT_EQ(1, source.AddView(L"NET", 1u << 1, 0));
  CTraceView* view = source.m_views[source.m_views.count - 1];
  const std::wstring path = folder.File(L"net.zip");
  ASSERT_EQ(1, SaveZip(&source, path.c_str(), view));
  const std::vector<Entry> entries = Entries(path);
  ASSERT_EQ(1u, entries.size());
  EXPECT_EQ(Image(view), entries[0].data);
  CTraceFile loaded;
  ASSERT_EQ(1, Load(loaded, path));
  EXPECT_EQ(view->RecordCount(), Records(loaded).size());
}

TEST_F(Zip, EntryNames) {
  const struct {
    const wchar_t* target;
    const wchar_t* storeName;
    const wchar_t* entry;
  } cases[] = {
      {L"C:\\out\\run.1.zip", L"a.ktr", L"run.ktr"},
      {L"run.zip", L"a.ktr", L"run.ktr"},
      {L"C:/out/sub/x.y.ZIP", L"a.ktr", L"x.ktr"},
      {L"C:\\dot.d\\noext", L"a.ktr", L"noext.ktr"},
      {L"C:\\out\\.zip", L"trace.log", L"trace.ktr"},
      {L"C:\\out\\", L"\\\\srv\\share\\day.7.kdv", L"day.ktr"},
      {L"C:\\out\\.zip", L"", L"trace.ktr"},
      {L"", nullptr, L"trace.ktr"},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(c.entry, ZipEntryName(c.target, c.storeName).c_str()) << c.target;
  }
}

TEST_F(Zip, UploadArchiveIsNamedAndDatedByTheCallersTime) {
  const SYSTEMTIME t = Time(2022, 6, 5, 7, 8, 9);
  EXPECT_STREQ(L"keltra_06052022_070809.ktr", UploadEntryName(t).c_str());
  ZipHandle* handle = ZipForUpload(&source, t, nullptr);
  ASSERT_NE(nullptr, handle);
  const Bytes bytes(CZip::GetMemoryData(handle), CZip::GetMemoryData(handle) + CZip::GetMemorySize(handle));
  EXPECT_EQ(0, CZip::FreeHandle(handle));
  const std::wstring path = folder.File(L"upload.zip");
  ASSERT_TRUE(WriteBytes(path, bytes));
  unz_file_info info;
  const std::vector<Entry> entries = Entries(path, &info);
  ASSERT_EQ(1u, entries.size());
  EXPECT_EQ(L"keltra_06052022_070809.ktr", entries[0].name);
  EXPECT_EQ(Image(), entries[0].data);
  EXPECT_EQ(2022, info.tmu_date.tm_year);
  EXPECT_EQ(5, info.tmu_date.tm_mon);  // months from 0
  EXPECT_EQ(5, info.tmu_date.tm_mday);
  EXPECT_EQ(7, info.tmu_date.tm_hour);
  EXPECT_EQ(8, info.tmu_date.tm_min);
  EXPECT_EQ(8, info.tmu_date.tm_sec);  // DOS times count two-second steps
}

TEST_F(Zip, FirstKtrEntryIsLoadedWhateverItsCase) {
  const std::wstring path = folder.File(L"two.zip");
  Bytes other = Image();
  ASSERT_TRUE(WriteBytes(path, Archive({{L"readme.txt", ToBytes("not a trace")},
                                        {L"trace.KTR", Image()},
                                        {L"later.ktr", other}})));
  CTraceFile loaded;
  ASSERT_EQ(1, Load(loaded, path));
  EXPECT_EQ(Messages(source), Messages(loaded));
}

TEST_F(Zip, MemoryStreamGrowth) {
  ZipMemStream stream = {};
  uint8_t bytes[200] = {};
  EXPECT_EQ(100u, ZipMemWrite(&stream, bytes, 100));
  EXPECT_EQ(128u, stream.capacity);
  EXPECT_EQ(28u, ZipMemWrite(&stream, bytes, 28));
  EXPECT_EQ(128u, stream.capacity);
  EXPECT_EQ(10u, ZipMemWrite(&stream, bytes, 10));
  EXPECT_EQ(256u, stream.capacity);
  EXPECT_EQ(138u, stream.size);
  EXPECT_EQ(197u, ZipMemWrite(&stream, bytes, 197));  // 256 + max(256, 197)
  EXPECT_EQ(512u, stream.capacity);
  ZipMemStream odd = {};
  EXPECT_EQ(129u, ZipMemWrite(&odd, bytes, 129));
  EXPECT_EQ(132u, odd.capacity);  // rounded up to 4
  std::free(odd.data);
  std::free(stream.data);
}

TEST_F(Zip, MemoryStreamSeekReadAndOverwrite) {
  ZipMemStream stream = {};
  const uint8_t bytes[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  ASSERT_EQ(10u, ZipMemWrite(&stream, bytes, 10));
  const struct {
    unsigned long offset;
    int origin;
    long result;
    size_t position;
  } cases[] = {
      {10, ZLIB_FILEFUNC_SEEK_SET, 0, 10}, {11, ZLIB_FILEFUNC_SEEK_SET, -1, 10}, {0, ZLIB_FILEFUNC_SEEK_SET, 0, 0},
      {4, ZLIB_FILEFUNC_SEEK_CUR, 0, 4},   {7, ZLIB_FILEFUNC_SEEK_CUR, -1, 4},   {6, ZLIB_FILEFUNC_SEEK_CUR, 0, 10},
      {3, ZLIB_FILEFUNC_SEEK_END, 0, 7},   {11, ZLIB_FILEFUNC_SEEK_END, -1, 7},  {0, ZLIB_FILEFUNC_SEEK_END, 0, 10},
      {0, 3, -1, 10},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.result, ZipMemSeek(&stream, c.offset, c.origin)) << c.offset << " " << c.origin;
    EXPECT_EQ(c.position, stream.position) << c.offset << " " << c.origin;
  }
  ASSERT_EQ(0, ZipMemSeek(&stream, 8, ZLIB_FILEFUNC_SEEK_SET));
  uint8_t out[5] = {};
  EXPECT_EQ(2u, ZipMemRead(&stream, out, 5));
  EXPECT_EQ(8, out[0]);
  EXPECT_EQ(0u, ZipMemRead(&stream, out, 5));
  // A write inside the bytes overwrites and keeps the size.
  ASSERT_EQ(0, ZipMemSeek(&stream, 2, ZLIB_FILEFUNC_SEEK_SET));
  ASSERT_EQ(3u, ZipMemWrite(&stream, bytes, 3));
  EXPECT_EQ(10u, stream.size);
  EXPECT_EQ(5u, stream.position);
  EXPECT_EQ(0, stream.data[2]);
  std::free(stream.data);
}

TEST_F(Zip, HandleReleaseAndStream) {
  EXPECT_EQ(kZipParamError, zipFreeHandle(nullptr));
  EXPECT_EQ(nullptr, zipGetStream(nullptr));
  EXPECT_EQ(nullptr, CZip::GetMemoryData(nullptr));
  EXPECT_EQ(0u, CZip::GetMemorySize(nullptr));
  // An archive given up half-way is released whole.
  ZipHandle* handle = CZip::OpenInMemory();
  ASSERT_NE(nullptr, handle);
  ASSERT_NE(nullptr, zipGetStream(handle));
  ASSERT_EQ(ZIP_OK, CZip::OpenNewFile(handle, L"a.ktr", Time(2024, 1, 1, 0, 0, 0)));
  const size_t before = CZip::GetMemorySize(handle);
  EXPECT_EQ(0, zipFreeHandle(handle));
  EXPECT_NE(0u, before);
  // A closed archive keeps its bytes and stream until it is freed.
  handle = CZip::OpenInMemory();
  ASSERT_NE(nullptr, handle);
  ASSERT_EQ(ZIP_OK, CZip::Close(handle));
  EXPECT_TRUE(zipGetStream(handle)->closed);
  EXPECT_EQ(22u, CZip::GetMemorySize(handle));  // the end record of an empty archive
  EXPECT_EQ(ZIP_PARAMERROR, CZip::Close(handle));
  EXPECT_EQ(0, CZip::FreeHandle(handle));
}

// Archives LoadZip must refuse, each made from a good one.
TEST_F(Zip, DamagedArchivesAreRefused) {
  const Bytes good = Archive({{L"trace.ktr", Image()}});
  ASSERT_FALSE(good.empty());
  const size_t central = FindSignature(good, kCentralSignature);
  const size_t local = FindSignature(good, kLocalSignature);
  ASSERT_NE(std::string::npos, central);
  ASSERT_EQ(0u, local);
  const size_t nameLength = good[26] | (good[27] << 8);
  const size_t dataAt = kLocalHeaderSize + nameLength;

  const struct {
    const char* what;
    std::function<void(Bytes&)> damage;
  } cases[] = {
      {"a byte of the packed data",
       [&](Bytes& b) { b[dataAt + (LoadLittle32(&good[central + kCentralPacked])) / 2] ^= 0x55; }},
      {"a wrong CRC-32",
       [&](Bytes& b) {
         Put32(&b[central + kCentralCrc], LoadLittle32(&b[central + kCentralCrc]) ^ 1);
         Put32(&b[local + kLocalCrc], LoadLittle32(&b[local + kLocalCrc]) ^ 1);
       }},
      {"an absurd unpacked size",
       [&](Bytes& b) {
         Put32(&b[central + kCentralUnpacked], 0xFFFFFFF0u);
         Put32(&b[local + kLocalUnpacked], 0xFFFFFFF0u);
       }},
      {"an unpacked size larger than deflate can give",
       [&](Bytes& b) {
         const uint32_t packed = LoadLittle32(&b[central + kCentralPacked]);
         Put32(&b[central + kCentralUnpacked], packed * 1100 + 2048);
         Put32(&b[local + kLocalUnpacked], packed * 1100 + 2048);
       }},
      {"an unpacked size one byte too large",
       [&](Bytes& b) {
         Put32(&b[central + kCentralUnpacked], LoadLittle32(&b[central + kCentralUnpacked]) + 1);
         Put32(&b[local + kLocalUnpacked], LoadLittle32(&b[local + kLocalUnpacked]) + 1);
       }},
      {"an unpacked size one byte too small",
       [&](Bytes& b) {
         Put32(&b[central + kCentralUnpacked], LoadLittle32(&b[central + kCentralUnpacked]) - 1);
         Put32(&b[local + kLocalUnpacked], LoadLittle32(&b[local + kLocalUnpacked]) - 1);
       }},
      {"the archive cut in the middle", [&](Bytes& b) { b.resize(b.size() / 2); }},
      {"no archive at all", [&](Bytes& b) { b = ToBytes("PK but nothing else"); }},
  };
  for (const auto& c : cases) {
    Bytes bytes = good;
    c.damage(bytes);
    const std::wstring path = folder.File(L"damaged.zip");
    ASSERT_TRUE(WriteBytes(path, bytes));
    CTraceFile loaded;
    EXPECT_EQ(0, Load(loaded, path)) << c.what;
    EXPECT_TRUE(Records(loaded).empty()) << c.what;
  }
}

TEST_F(Zip, ArchivesWithoutAUsableEntryAreRefused) {
  const struct {
    const char* what;
    std::vector<Entry> entries;
  } cases[] = {
      {"no .ktr entry", {{L"trace.txt", Image()}, {L"ktr", Image()}}},
      {"an entry shorter than a header", {{L"short.ktr", Bytes(47, 0)}}},
      {"an empty entry", {{L"empty.ktr", Bytes()}}},
      {"no entry", {}},
  };
  for (const auto& c : cases) {
    const std::wstring path = folder.File(L"unusable.zip");
    ASSERT_TRUE(WriteBytes(path, Archive(c.entries))) << c.what;
    CTraceFile loaded;
    EXPECT_EQ(0, Load(loaded, path)) << c.what;
  }
  CTraceFile missing;
  EXPECT_EQ(0, Load(missing, folder.File(L"missing.zip")));
}

TEST_F(Zip, FailedSaveKeepsTheOldFile) {
  const std::wstring path = folder.File(L"old.zip");
  const Bytes old = ToBytes("old archive");
  ASSERT_TRUE(WriteBytes(path, old));
  DamageRecord(source, 10);
  EXPECT_EQ(0, SaveZip(&source, path.c_str(), nullptr));
  EXPECT_EQ(old, ReadBytes(path));
  EXPECT_EQ(std::vector<std::wstring>{L"old.zip"}, FilesIn(folder.path()));
  SYSTEMTIME t = Time(2022, 1, 1, 0, 0, 0);
  EXPECT_EQ(nullptr, ZipForUpload(&source, t, nullptr));
}

TEST_F(Zip, UnicodePathOpens) {
  const std::wstring path = folder.File(L"\u65E5\u672C.zip");
  ASSERT_EQ(1, SaveZip(&source, path.c_str(), nullptr));
  CTraceFile loaded;
  ASSERT_EQ(1, Load(loaded, path));
  EXPECT_EQ(Messages(source), Messages(loaded));
}

}  // namespace
