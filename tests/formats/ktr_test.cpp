#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/Cipher.h"
#include "core/ModuleGroups.h"
#include "core/RecordBuilder.h"
#include "core/RecordImport.h"
#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "formats/Ktr.h"
#include "tests/core/RecordFixture.h"

#include "tests/formats/GuardedBytes.h"
#include "tests/formats/StoreFixture.h"

namespace {

constexpr char kGroupsText[] = "[CORE]\nM=app;mod.dll\n[NET]\nM=net.dll\n";
constexpr uint32_t kNoon2023 = 1700000000;
using Bytes = std::vector<uint8_t>;

uint16_t Get16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
uint32_t Get32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
void Put16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
void Put32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
void Swap16(uint8_t* p) { std::swap(p[0], p[1]); }
void Swap32(uint8_t* p) {
  std::swap(p[0], p[3]);
  std::swap(p[1], p[2]);
}


using storefix::Item;

// What a record holds, for comparing a record with the one read back.
struct Fields {
  std::wstring module, hint, message, subName;
  uint32_t level, pid, tid, time;
  uint16_t milliseconds, flags;
  uint64_t stamp;
};

Fields FieldsOf(const TraceRecord* r) {
  return {r->Module(), r->Hint(), r->Message(), r->SubName(), r->level, r->pid, r->tid, r->time,
          r->milliseconds, uint16_t(r->flags & kRecordStampValid), r->Stamp()};
}

void ExpectSame(const Fields& want, const Fields& got, const char* what) {
  SCOPED_TRACE(what);
  EXPECT_EQ(want.module, got.module);
  EXPECT_EQ(want.hint, got.hint);
  EXPECT_EQ(want.message, got.message);
  EXPECT_EQ(want.subName, got.subName);
  EXPECT_EQ(want.level, got.level);
  EXPECT_EQ(want.pid, got.pid);
  EXPECT_EQ(want.tid, got.tid);
  EXPECT_EQ(want.time, got.time);
  EXPECT_EQ(want.milliseconds, got.milliseconds);
  EXPECT_EQ(want.flags, got.flags);
  EXPECT_EQ(want.stamp, got.stamp);
}

std::vector<const TraceRecord*> Records(const CTraceMgr& store) { return StoredRecords(store); }

std::vector<std::wstring> Messages(const CTraceMgr& store) {
  std::vector<std::wstring> out;
  for (const TraceRecord* r : Records(store)) {
    out.push_back(r->Message());
  }
  return out;
}

class Ktr : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(1, g_moduleGroups.LoadFromText(kGroupsText, sizeof(kGroupsText) - 1));
    g_blockWords.Clear();
    ASSERT_EQ(1, source.GrowBuffer(65536));
    wchar_t temp[MAX_PATH];
    ASSERT_NE(0u, GetTempPathW(MAX_PATH, temp));
    folder = std::wstring(temp) + L"ktr_test_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
  }
  void TearDown() override {
    for (const std::wstring& name : FolderFiles()) {
      DeleteFileW((folder + L"\\" + name).c_str());
    }
    RemoveDirectoryW(folder.c_str());
    g_moduleGroups.Clear();
    g_blockWords.Clear();
  }

  std::vector<std::wstring> FolderFiles() const { return storefix::FilesIn(folder); }

  TraceRecord* Build(const Item& item, uint32_t limit = kLiveMessageLimit) {
    const uint32_t stamp[2] = {uint32_t(item.stamp), uint32_t(item.stamp >> 32)};
    return CTraceMgr::AddTraceItem(&source, g_moduleGroups.FindEnabled(item.module, 0), item.level, item.module,
                                   item.hint, item.message.c_str(), item.pid, item.tid, item.time,
                                   item.milliseconds, item.stamp ? stamp : nullptr,
                                   item.subName[0] ? item.subName : nullptr, kModeBuild, limit);
  }
  // One record that says its message.
  TraceRecord* Build(const wchar_t* message) {
    Item item;
    item.message = message;
    return Build(item);
  }

  static Bytes Narrow(const TraceRecord* record) {
    uint8_t out[kNarrowRecordLimit];
    if (ToNarrowRecord(out, kNarrowRecordLimit, record) == nullptr) {
      return {};
    }
    return Bytes(out, out + Get16(out));
  }

  // A linear image of the given narrow records, as the writer lays it out.
  static Bytes LinearImage(const std::vector<Bytes>& records) {
    TraceBufferHeader header;
    InitBufferHeader(&header, 1 << 20);
    header.flags = kTraceBufferLinear;
    header.recordCount = uint32_t(records.size());
    Bytes image(header.Bytes(), header.Bytes() + sizeof(header));
    for (const Bytes& r : records) {
      image.insert(image.end(), r.begin(), r.end());
    }
    return image;
  }

  std::wstring Path(const wchar_t* name) const { return folder + L"\\" + name; }

  static Bytes ReadFile(const std::wstring& path) { return storefix::ReadBytes(path); }
  static bool WriteFile(const std::wstring& path, const Bytes& bytes) { return storefix::WriteBytes(path, bytes); }

  static int Load(CTraceFile& store, const std::wstring& path, uint32_t* refused = nullptr) {
    store.SetFileName(path.c_str(), L"name");
    return LoadKtr(&store, refused);
  }

  // Parses a guarded copy of the image into a fresh store.
  static int Parse(CTraceFile& store, const Bytes& image, uint32_t* refused = nullptr) {
    CGuardedBytes guarded(image);
    EXPECT_TRUE(guarded.Ready());
    EXPECT_EQ(1, store.GrowBuffer(uint32_t(image.size()) + 4096));
    return ParseKeltImage(&store, guarded.Data(), image.size(), 1, refused);
  }

  CTraceFile source;
  std::wstring folder;
};

// ---------------------------------------------------------------------------
// The narrow record

TEST_F(Ktr, NarrowHeadGoldenBytes) {
  RecordSpec spec;
  spec.pid = 0x1234;
  spec.tid = 0x5678;
  spec.level = kLevelWarning | (kMarkFirstBit << 1);
  spec.time = kNoon2023;  // 0x6553F100
  spec.milliseconds = 250;
  spec.flags = kRecordStampValid;
  spec.stamp = 0x1122334455667788ull;
  TraceRecord* r = AddRecord(&source, spec);
  ASSERT_NE(nullptr, r);
  r->sequence = 7;
  r->sourceType = kSourceWriterRing;
  r->sessionId = 0x0BADF00D;

  uint8_t out[kNarrowRecordLimit];
  ASSERT_EQ(out, ToNarrowRecord(out, kNarrowRecordLimit, r));
  // "mod.dll" 8 bytes, no hint, "hello" 6 bytes, no sub-name: 14, padded to 16.
  const uint8_t head[52] = {
      68,   0,    3,    1,    1,    0,    4,    4,     // length, version, source, flags, UTF-8, AES record key
      4,    0,    0,    0,                             // warning, the bookmark cleared
      0x34, 0x12, 0,    0,    0x78, 0x56, 0,    0,     // pid, tid
      7,    0,    0,    0,    0x00, 0xF1, 0x53, 0x65,  // sequence, time
      250,  0,    52,   0,    59,   0,    60,   0,     // milliseconds, module, hint (module's NUL), message
      0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11,  // stamp
      0x0D, 0xF0, 0xAD, 0x0B, 65,   0,    0,    0,     // session id, sub-name (message's NUL), reserved
  };
  EXPECT_EQ(Bytes(head, head + 52), Bytes(out, out + 52));

  const uint8_t plain[16] = {'m', 'o', 'd', '.', 'd', 'l', 'l', 0, 'h', 'e', 'l', 'l', 'o', 0, 0, 0};
  EXPECT_NE(0, std::memcmp(plain, out + 52, 16)) << "the string area is enciphered";
  ASSERT_EQ(1, DecipherArea(kCipherAes256Record, out + 52, 16));
  EXPECT_EQ(Bytes(plain, plain + 16), Bytes(out + 52, out + 68));
}

struct LayoutCase {
  const wchar_t* hint;
  const wchar_t* subName;
  const char* moduleText;
  uint16_t hintAt, messageAt, subAt, length;
};

TEST_F(Ktr, NarrowLayoutOfNamesAndSubNames) {
  const LayoutCase cases[] = {
      {L"", L"", "mod.dll", 59, 60, 65, 68},                  // hint and sub-name point at NULs
      {L"Init", L"", "mod.dll", 60, 65, 70, 84},              // 8 + 5 + 6 = 19 -> 32
      {L"", L"worker", "mod.dll@worker", 66, 67, 73, 84},     // 15 + 6 + 7 = 28 -> 32
      {L"Init", L"io", "mod.dll@io", 63, 68, 74, 84},         // 11 + 5 + 6 + 3 = 25 -> 32
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.moduleText);
    Item item;
    item.hint = c.hint;
    item.subName = c.subName;
    TraceRecord* r = Build(item);
    ASSERT_NE(nullptr, r);
    Bytes n = Narrow(r);
    ASSERT_EQ(c.length, n.size());
    EXPECT_EQ(0, (n.size() - 52) % 16);
    EXPECT_EQ(52, Get16(&n[30]));
    EXPECT_EQ(c.hintAt, Get16(&n[32]));
    EXPECT_EQ(c.messageAt, Get16(&n[34]));
    EXPECT_EQ(c.subAt, Get16(&n[48]));
    ASSERT_EQ(1, DecipherArea(kCipherAes256Record, n.data() + 52, n.size() - 52));
    auto text = [&](uint16_t at) { return std::string(reinterpret_cast<const char*>(&n[at])); };
    EXPECT_EQ(c.moduleText, text(52));
    EXPECT_EQ(std::string(c.hint, c.hint + wcslen(c.hint)), text(c.hintAt));
    EXPECT_EQ("hello", text(c.messageAt));
    EXPECT_EQ(std::string(c.subName, c.subName + wcslen(c.subName)), text(c.subAt));
  }
}

struct CutCase {
  const char* name;
  std::wstring message;
  uint32_t limit;
  uint32_t length;   // of the narrow record
  size_t units;      // of the message that is kept
};

// A message whose UTF-8 form does not fit is cut to whole characters, and the
// record is exactly as long as the limit allows.
TEST_F(Ktr, LongMessagesAreCutOnCharacterBoundaries) {
  std::wstring pairs;
  for (int i = 0; i < 4000; ++i) {
    pairs += L"\U0001F600";
  }
  const CutCase cases[] = {
      // module "mod.dll" 8 bytes: the message gets 12216 bytes, its NUL included
      // the area is 12224 bytes, the largest multiple of 16 within 12288 - 52
      {"ascii", std::wstring(13000, L'x'), kNarrowRecordLimit, 12276, 12215},
      {"three-byte", std::wstring(5000, L'\u6587'), kNarrowRecordLimit, 12276, 12213 / 3},
      {"surrogate pairs", pairs, kNarrowRecordLimit, 12276, 2 * (12212 / 4)},
      {"one over", std::wstring(12216, L'y'), kNarrowRecordLimit, 12276, 12215},
      {"just fits", std::wstring(12215, L'y'), kNarrowRecordLimit, 12276, 12215},
      // 150 - 52 = 98: the area is 96, the message gets 88 bytes with its NUL
      {"small limit", std::wstring(500, L'\u00e9'), 150, 148, 87 / 2},
  };
  for (const CutCase& c : cases) {
    SCOPED_TRACE(c.name);
    Item item;
    item.message = c.message;
    TraceRecord* r = Build(item, kIsoMessageLimit);
    ASSERT_NE(nullptr, r);
    uint8_t out[kNarrowRecordLimit];
    ASSERT_NE(nullptr, ToNarrowRecord(out, c.limit, r));
    const uint16_t length = Get16(out);
    ASSERT_EQ(c.length, length);
    ASSERT_EQ(1, DecipherArea(kCipherAes256Record, out + 52, length - 52));
    const uint16_t at = Get16(out + 34);
    const char* text = reinterpret_cast<const char*>(out + at);
    const int bytes = int(strnlen(text, length - at));
    ASSERT_LT(at + bytes, length) << "the message ends in a NUL inside the record";
    std::wstring wide(bytes, L'\0');
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, bytes, wide.data(), bytes);
    ASSERT_EQ(c.units, size_t(units)) << "valid UTF-8 of whole characters";
    EXPECT_EQ(c.message.substr(0, c.units), wide.substr(0, units));
  }
}

TEST_F(Ktr, NarrowConversionRefusesWhatCannotBeConverted) {
  TraceRecord* r = Build(L"hello");
  ASSERT_NE(nullptr, r);
  uint8_t out[kNarrowRecordLimit];
  EXPECT_EQ(nullptr, ToNarrowRecord(nullptr, kNarrowRecordLimit, r));
  EXPECT_EQ(nullptr, ToNarrowRecord(out, kNarrowRecordLimit, nullptr));
  EXPECT_EQ(nullptr, ToNarrowRecord(out, 67, r)) << "below one 16-byte area";
  Item longName;
  longName.hint = L"a hint that is longer than the whole area allows";
  TraceRecord* named = Build(longName);
  ASSERT_NE(nullptr, named);
  EXPECT_EQ(nullptr, ToNarrowRecord(out, 100, named)) << "names alone do not fit: no message room";
  r->length = 40;  // damaged
  EXPECT_EQ(nullptr, ToNarrowRecord(out, kNarrowRecordLimit, r));
}

TEST_F(Ktr, ModuleTextIsCutTo127BytesAndDropsAnEmptySubName) {
  const std::wstring module(126, L'm');
  Item item;
  item.module = module.c_str();
  item.subName = L"worker";
  TraceRecord* r = Build(item);
  ASSERT_NE(nullptr, r);
  Bytes n = Narrow(r);
  ASSERT_FALSE(n.empty());
  ASSERT_EQ(1, DecipherArea(kCipherAes256Record, n.data() + 52, n.size() - 52));
  // 126 + "@" fills 127 bytes with nothing of the sub-name: the "@" goes too.
  EXPECT_EQ(std::string(126, 'm'), std::string(reinterpret_cast<const char*>(&n[52])));
  const std::wstring wide(2 * 64, L'\u00e9');  // 128 units of 2 bytes each, cut to 63 whole characters
  item.module = wide.c_str();
  item.subName = L"";
  r = Build(item);
  ASSERT_NE(nullptr, r);
  n = Narrow(r);
  ASSERT_EQ(1, DecipherArea(kCipherAes256Record, n.data() + 52, n.size() - 52));
  EXPECT_EQ(126u, strlen(reinterpret_cast<const char*>(&n[52])));
}

// ---------------------------------------------------------------------------
// Writing and reading whole files

TEST_F(Ktr, RoundTripKeepsEveryFieldButMarks) {
  std::vector<Item> items(10);
  items[0].message = L"";                                      // empty message, empty hint
  items[1].hint = L"Init";
  items[1].subName = L"worker";                                // sub-name
  items[1].level = kLevelError;
  items[1].stamp = 0x0102030405060708ull;
  items[2].module = L"net.dll";
  items[2].message = std::wstring(2047, L'\u6587');            // longest live message, 6141 bytes
  items[3].module = L"\u00fcber.dll";
  items[3].hint = L"\u041e\u0436\u0438\u0434\u0430\u043d\u0438\u0435";
  items[3].message = L"caf\u00e9 \U0001F600 \U00010348 end";   // surrogate pairs
  items[3].subName = L"\u00e9t\u00e9";
  items[4].level = kLevelDebug;
  items[4].pid = 0xFFFFFFFF;
  items[4].tid = 0;
  items[4].time = 0;
  items[4].milliseconds = 999;
  items[5].message = L"marked";
  items[6].message = L"lone \xD800 surrogate";
  items[7].message = std::wstring(12000, L'\u00e9');           // 24000 bytes: cut in the narrow form
  items[8].message = L"\u65e5\u672c \U00020BB7\u91ce\u5bb6";       // CJK with a surrogate pair
  items[8].hint = L"\u6587\u4ef6";
  items[9].message.clear();
  for (int i = 0; i < 500; ++i) {
    items[9].message += std::to_wstring(1000000000 + i);          // 5000 characters, each place distinct
  }
  std::vector<Fields> want;
  std::vector<TraceRecord*> built;
  for (size_t i = 0; i < items.size(); ++i) {
    TraceRecord* r = Build(items[i], i == 7 || i == 9 ? kIsoMessageLimit : kLiveMessageLimit);
    ASSERT_NE(nullptr, r) << i;
    want.push_back(FieldsOf(r));
    built.push_back(r);
  }
  SetRecordMark(built[5], 1, 3);
  ASSERT_TRUE(built[5]->IsMarked());
  want[6].message = L"lone \uFFFD surrogate";
  // Read back through the live message limit: the first 2047 units.
  want[7].message = want[7].message.substr(0, kLiveMessageLimit - 1);
  ASSERT_EQ(5000u, want[9].message.size());
  want[9].message = want[9].message.substr(0, kLiveMessageLimit - 1);

  const std::wstring path = Path(L"round.ktr");
  ASSERT_EQ(1, SaveKtr(&source, path.c_str(), nullptr));
  EXPECT_EQ(100u, source.Progress());
  EXPECT_EQ(std::vector<std::wstring>{L"round.ktr"}, FolderFiles()) << "no temporary file is left";

  CTraceFile loaded;
  uint32_t refused = 1;
  ASSERT_EQ(1, Load(loaded, path, &refused));
  const auto got = Records(loaded);
  ASSERT_EQ(items.size(), got.size());
  EXPECT_EQ(0u, refused);
  for (size_t i = 0; i < got.size(); ++i) {
    ExpectSame(want[i], FieldsOf(got[i]), std::to_string(i).c_str());
    EXPECT_FALSE(got[i]->IsMarked());
    EXPECT_EQ(i + 1, got[i]->sequence);
  }
  EXPECT_EQ(items.size(), loaded.m_sourceItemCount);
  ASSERT_GE(loaded.m_processStats.count, 1u);
  EXPECT_EQ(items.size(), loaded.m_processStats[0]->m_count);
  EXPECT_EQ(2u, got[2]->groupFlag) << "net.dll is in the second group";
}

TEST_F(Ktr, WrittenHeaderIsALinearImageOfTheStore) {
  ASSERT_NE(nullptr, Build(L"one"));
  ASSERT_NE(nullptr, Build(L"two"));
  source.Buffer()->generation = 0x42;
  source.Buffer()->reserved = 0x99;
  CByteBuffer out;
  ASSERT_EQ(1, WriteKeltImage(&source, out, nullptr));
  ASSERT_GE(out.Size(), 48u);
  const uint8_t* h = out.Data();
  EXPECT_EQ(0, std::memcmp(h, "KELT\xFF\xFE\x03\x01", 8));
  EXPECT_EQ(48, Get16(h + 8));
  EXPECT_EQ(1, Get16(h + 10));
  EXPECT_EQ(source.Buffer()->capacity, Get32(h + 12));
  EXPECT_EQ(2u, Get32(h + 16));
  for (size_t at : {20, 24, 36}) {
    EXPECT_EQ(0u, Get32(h + at)) << at;
  }
  EXPECT_EQ(48u, Get32(h + 28));
  EXPECT_EQ(48u, Get32(h + 32));
  EXPECT_EQ(0x42u, Get32(h + 40));
  EXPECT_EQ(0x99u, Get32(h + 44));
  const size_t one = Get16(h + 48);
  EXPECT_EQ(out.Size(), 48 + one + Get16(h + 48 + one)) << "two records follow the header";
}

TEST_F(Ktr, SavingAViewWritesOnlyItsRecordsInViewOrder) {
  TraceRecord* a = Build(L"a");
  TraceRecord* b = Build(L"b");
  TraceRecord* c = Build(L"c");
  ASSERT_TRUE(a && b && c);
  CTraceView view(&source, L"v", kAllGroups);
  ASSERT_TRUE(view.m_records.Append(c));
  ASSERT_TRUE(view.m_records.Append(a));
  const std::wstring path = Path(L"view.ktr");
  ASSERT_EQ(1, SaveKtr(&source, path.c_str(), &view));
  EXPECT_EQ(100u, view.Progress());
  const Bytes file = ReadFile(path);
  ASSERT_GE(file.size(), 48u);
  EXPECT_EQ(2u, Get32(&file[16])) << "the header counts the records written";

  CTraceFile loaded;
  ASSERT_EQ(1, Load(loaded, path));
  EXPECT_EQ((std::vector<std::wstring>{L"c", L"a"}), Messages(loaded));
  EXPECT_EQ(2u, loaded.m_sourceItemCount);
}

TEST_F(Ktr, AnEmptyStoreSavesAnEmptyImage) {
  CTraceFile empty;
  const std::wstring path = Path(L"empty.ktr");
  ASSERT_EQ(1, SaveKtr(&empty, path.c_str(), nullptr));
  EXPECT_EQ(48u, ReadFile(path).size());
  CTraceFile loaded;
  EXPECT_EQ(1, Load(loaded, path));
  EXPECT_TRUE(Messages(loaded).empty());
}

TEST_F(Ktr, AFailedSaveLeavesNoFileAndKeepsTheOldOne) {
  ASSERT_NE(nullptr, Build(L"new"));
  const std::wstring path = Path(L"old.ktr");
  const Bytes old = {'o', 'l', 'd'};
  ASSERT_TRUE(WriteFile(path, old));

  // A record that cannot be converted fails the image before any file is touched.
  TraceRecord damaged = {};
  CTraceView view(&source, L"v", kAllGroups);
  ASSERT_TRUE(view.m_records.Append(&damaged));
  EXPECT_EQ(0, SaveKtr(&source, path.c_str(), &view));
  EXPECT_EQ(old, ReadFile(path));

  // A target that cannot be replaced (a folder) fails at the rename.
  const std::wstring sub = Path(L"folder.ktr");
  ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
  EXPECT_EQ(0, SaveKtr(&source, sub.c_str(), nullptr));
  RemoveDirectoryW(sub.c_str());

  EXPECT_EQ(0, SaveKtr(&source, (folder + L"\\missing\\x.ktr").c_str(), nullptr));
  EXPECT_EQ(0, SaveKtr(&source, L"", nullptr));
  EXPECT_EQ(std::vector<std::wstring>{L"old.ktr"}, FolderFiles()) << "no temporary file is left";

  // And a good save replaces the old file.
  ASSERT_EQ(1, SaveKtr(&source, path.c_str(), nullptr));
  CTraceFile loaded;
  ASSERT_EQ(1, Load(loaded, path));
  EXPECT_EQ(std::vector<std::wstring>{L"new"}, Messages(loaded));
}

TEST_F(Ktr, FilesThatCannotBeReadFail) {
  struct FileCase {
    const char* name;
    Bytes bytes;
  };
  Bytes header = LinearImage({});
  Bytes wrongMagic = header;
  wrongMagic[0] = 'X';
  Bytes wrongVersion = header;
  wrongVersion[6] = 2;
  const FileCase cases[] = {
      {"empty", {}},
      {"47 bytes", Bytes(header.begin(), header.end() - 1)},
      {"wrong magic", wrongMagic},
      {"wrong version", wrongVersion},
  };
  for (const FileCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring path = Path(L"bad.ktr");
    ASSERT_TRUE(WriteFile(path, c.bytes));
    CTraceFile store;
    EXPECT_EQ(0, Load(store, path));
    EXPECT_TRUE(Messages(store).empty());
  }
  CTraceFile missing;
  EXPECT_EQ(0, Load(missing, Path(L"missing.ktr")));
  CTraceFile unnamed;
  EXPECT_EQ(0, LoadKtr(&unnamed));
}

// ---------------------------------------------------------------------------
// Ring and big-endian images

class KtrImages : public Ktr {
 protected:
  void SetUp() override {
    Ktr::SetUp();
    for (const wchar_t* m : {L"A", L"B", L"C", L"D", L"E"}) {
      TraceRecord* r = Build(m);
      ASSERT_NE(nullptr, r);
      narrow.push_back(Narrow(r));
    }
  }

  // A wrapped ring of capacity `capacity`: D and E after the wrap start, B
  // and C from `first` to end, filler elsewhere; walked B, C, D, E.
  Bytes WrappedRing(uint32_t* first, uint32_t* end, uint32_t freeBytes = 40) {
    const uint32_t write = 48 + uint32_t(narrow[3].size() + narrow[4].size());
    *first = write + freeBytes;  // between the new and the old part
    *end = *first + uint32_t(narrow[1].size() + narrow[2].size());
    const uint32_t capacity = *end + 64;  // the tail behind end is unused
    Bytes image(capacity, 0xEE);
    TraceBufferHeader header;
    InitBufferHeader(&header, capacity);
    header.recordCount = 4;
    header.first = *first;
    header.end = *end;
    header.write = write;
    header.freeBytes = *first - write;
    std::memcpy(image.data(), &header, sizeof(header));
    auto place = [&](size_t at, const Bytes& r) { std::memcpy(&image[at], r.data(), r.size()); };
    place(48, narrow[3]);
    place(48 + narrow[3].size(), narrow[4]);
    place(*first, narrow[1]);
    place(*first + narrow[1].size(), narrow[2]);
    return image;
  }

  std::vector<Bytes> narrow;
};

TEST_F(KtrImages, RingIsReadInRingOrder) {
  uint32_t first, end;
  const Bytes image = WrappedRing(&first, &end);
  ASSERT_LT(end, image.size());
  CTraceFile store;
  ASSERT_EQ(1, Parse(store, image));
  EXPECT_EQ((std::vector<std::wstring>{L"B", L"C", L"D", L"E"}), Messages(store));
  EXPECT_EQ(4u, store.m_sourceItemCount);

  // The same through a file.
  const std::wstring path = Path(L"ring.ktr");
  ASSERT_TRUE(WriteFile(path, image));
  CTraceFile loaded;
  ASSERT_EQ(1, Load(loaded, path));
  EXPECT_EQ((std::vector<std::wstring>{L"B", L"C", L"D", L"E"}), Messages(loaded));
}

TEST_F(KtrImages, RingWithNoRecordsLoadsEmpty) {
  uint32_t first, end;
  Bytes image = WrappedRing(&first, &end);
  Put32(&image[16], 0);
  CTraceFile store;
  EXPECT_EQ(1, Parse(store, image));
  EXPECT_TRUE(Messages(store).empty());
  EXPECT_EQ(0u, store.m_sourceItemCount);
}

// The byte order of the other writers: header fields and each record's head
// swapped, strings and session id as they are.
Bytes ToBigEndian(Bytes record) {
  const bool stamped = (Get16(&record[4]) & kRecordStampValid) != 0;
  for (size_t at : {0, 4, 28, 30, 32, 34}) {
    Swap16(&record[at]);
  }
  for (size_t at : {8, 12, 16, 20, 24}) {
    Swap32(&record[at]);
  }
  if (stamped) {
    Swap32(&record[36]);
    Swap32(&record[40]);
  }
  return record;
}

// A linear image in the other byte order: header fields and record heads swapped.
Bytes BigEndianImage(const std::vector<Bytes>& records) {
  std::vector<Bytes> swapped;
  for (const Bytes& r : records) {
    swapped.push_back(ToBigEndian(r));
  }
  TraceBufferHeader header;
  InitBufferHeader(&header, 1 << 20);
  header.flags = kTraceBufferLinear;
  header.recordCount = uint32_t(records.size());
  Bytes image(header.Bytes(), header.Bytes() + sizeof(header));
  for (const Bytes& r : swapped) {
    image.insert(image.end(), r.begin(), r.end());
  }
  Swap16(&image[4]);  // FE FF
  for (size_t at : {8, 10}) {
    Swap16(&image[at]);
  }
  for (size_t at : {12, 16, 20, 24, 28, 32, 36, 40, 44}) {
    Swap32(&image[at]);
  }
  return image;
}

TEST_F(KtrImages, BigEndianImageIsReadWithSwappedFields) {
  Item item;
  item.hint = L"Send";
  item.subName = L"io";
  item.level = kLevelWarning;
  item.pid = 0x01020304;
  item.tid = 0x0A0B0C0D;
  item.time = kNoon2023 + 5;
  item.milliseconds = 321;
  item.stamp = 0x1122334455667788ull;
  TraceRecord* r = Build(item);
  ASSERT_NE(nullptr, r);
  const Fields want = FieldsOf(r);

  Bytes image = BigEndianImage({Narrow(r), narrow[0]});
  ASSERT_EQ(0xFE, image[4]);
  ASSERT_EQ(1, image[11]) << "the linear flag sits in the second byte";
  auto expectRead = [&](const CTraceFile& store, const char* what) {
    const auto got = Records(store);
    ASSERT_EQ(2u, got.size()) << what;
    ExpectSame(want, FieldsOf(got[0]), what);
    EXPECT_EQ(L"A", std::wstring(got[1]->Message())) << what;
    EXPECT_EQ(2u, store.m_sourceItemCount) << what;
  };
  CTraceFile store;
  ASSERT_EQ(1, Parse(store, image));
  expectRead(store, "swapped record");
  const std::wstring path = Path(L"big.ktr");
  ASSERT_TRUE(WriteFile(path, image));
  CTraceFile loaded;
  ASSERT_EQ(1, Load(loaded, path));
  expectRead(loaded, "swapped record from a file");
}

TEST_F(KtrImages, UnknownByteOrderIsReadAsNoRecords) {
  Bytes image = LinearImage(narrow);
  image[4] = 0x12;
  CTraceFile store;
  EXPECT_EQ(1, Parse(store, image));
  EXPECT_TRUE(Messages(store).empty());
  const std::wstring path = Path(L"unknown.ktr");
  ASSERT_TRUE(WriteFile(path, image));
  CTraceFile loaded;
  EXPECT_EQ(1, Load(loaded, path));
  EXPECT_TRUE(Messages(loaded).empty());
}

// ---------------------------------------------------------------------------
// Damaged images

// Cut at every length: never a read past the end, the records before the cut
// stay, and only a cut exactly behind a record of a linear image reads as a
// whole (shorter) file.
TEST_F(KtrImages, LinearImageCutAtEveryLength) {
  const Bytes image = LinearImage({narrow[0], narrow[1], narrow[2]});
  std::vector<size_t> ends = {48};
  for (int i = 0; i < 3; ++i) {
    ends.push_back(ends.back() + narrow[i].size());
  }
  for (size_t cut = 0; cut <= image.size(); ++cut) {
    SCOPED_TRACE(cut);
    const Bytes part(image.begin(), image.begin() + cut);
    CGuardedBytes guarded(part);
    ASSERT_TRUE(guarded.Ready());
    CTraceFile store;
    ASSERT_EQ(1, store.GrowBuffer(4096));
    const int result = ParseKeltImage(&store, guarded.Data(), part.size(), 1);
    size_t whole = 0;
    while (whole < 3 && ends[whole + 1] <= cut) {
      ++whole;
    }
    const bool atBoundary = std::find(ends.begin(), ends.end(), cut) != ends.end();
    EXPECT_EQ(atBoundary ? 1 : 0, result);
    EXPECT_EQ(whole, Messages(store).size());
  }
}

// A file is read through a buffer rather than mapped: every cut of it loads
// exactly as the parser reads the same bytes in memory.
TEST_F(KtrImages, FileCutAtEveryLengthLoadsAsTheParserReads) {
  const Bytes image = LinearImage({narrow[0], narrow[1], narrow[2]});
  const std::wstring path = Path(L"cut.ktr");
  for (size_t cut = 0; cut <= image.size(); ++cut) {
    SCOPED_TRACE(cut);
    const Bytes part(image.begin(), image.begin() + cut);
    ASSERT_TRUE(WriteFile(path, part));
    CTraceFile loaded;
    uint32_t loadRefused = 99;
    const int loadResult = Load(loaded, path, &loadRefused);
    CTraceFile parsed;
    uint32_t parseRefused = 0;
    const int parseResult = part.size() >= kTraceHeaderSize ? Parse(parsed, part, &parseRefused) : 0;
    EXPECT_EQ(parseResult, loadResult);
    EXPECT_EQ(Messages(parsed), Messages(loaded));
    EXPECT_EQ(parseRefused, loadRefused);
    EXPECT_EQ(parsed.m_sourceItemCount, loaded.m_sourceItemCount);
  }
}

// Records of every length straddle the read buffer's refills: a file of
// several buffers loads whole and in order, and a cut in its last record
// keeps everything before it.
TEST_F(Ktr, FileOfManyBuffersLoadsWholeAndInOrder) {
  constexpr size_t kRecords = 8000;
  constexpr size_t kShortest = 500;
  constexpr size_t kSpread = 1600;
  ASSERT_EQ(1, source.GrowBuffer(64u << 20));
  for (size_t i = 0; i < kRecords; ++i) {
    std::wstring message = std::to_wstring(i) + L":";
    message.append(kShortest + (i * 7919) % kSpread, wchar_t(L'a' + i % 26));
    ASSERT_NE(nullptr, Build(message.c_str()));
  }
  std::vector<std::wstring> messages = Messages(source);
  ASSERT_EQ(kRecords, messages.size());
  const std::wstring path = Path(L"large.ktr");
  ASSERT_EQ(1, SaveKtr(&source, path.c_str(), nullptr));
  Bytes bytes = ReadFile(path);
  ASSERT_GT(bytes.size(), 2 * (4u << 20)) << "the file must span several read buffers";

  CTraceFile loaded;
  ASSERT_EQ(1, Load(loaded, path));
  EXPECT_TRUE(messages == Messages(loaded));

  bytes.resize(bytes.size() - 1);
  ASSERT_TRUE(WriteFile(path, bytes));
  CTraceFile cut;
  EXPECT_EQ(0, Load(cut, path));
  messages.pop_back();
  EXPECT_TRUE(messages == Messages(cut));
}

// An image in memory (an archive's entry) reserves what its records take,
// sampled from its first part, so the walk never grows the store; an image
// that cannot be sampled reserves its own size.
TEST_F(KtrImages, ImageInMemoryReservesRoomForItsRecords) {
  constexpr size_t kRecords = 8000;
  ASSERT_EQ(1, source.GrowBuffer(64u << 20));
  for (size_t i = 0; i < kRecords; ++i) {
    std::wstring message = std::to_wstring(i) + L":";
    message.append(500 + (i * 7919) % 1600, wchar_t(L'a' + i % 26));
    ASSERT_NE(nullptr, Build(message.c_str()));
  }
  CByteBuffer out;
  ASSERT_EQ(1, WriteKeltImage(&source, out, nullptr));
  const Bytes image(out.Data(), out.Data() + out.Size());
  ASSERT_GT(image.size(), 2 * (4u << 20)) << "more than the sample";

  CTraceFile loaded;
  ASSERT_EQ(1, ReserveForKeltImage(&loaded, image.data(), image.size()));
  const uint32_t reserved = loaded.Buffer()->capacity;
  CGuardedBytes guarded(image);
  ASSERT_EQ(1, ParseKeltImage(&loaded, guarded.Data(), image.size(), 1));
  EXPECT_EQ(reserved, loaded.Buffer()->capacity) << "the store grew";
  EXPECT_TRUE(Messages(source) == Messages(loaded));

  uint32_t first = 0;
  uint32_t end = 0;
  Bytes ring = WrappedRing(&first, &end);
  Bytes badMagic = LinearImage(narrow);
  badMagic[3] = 'X';
  Bytes firstBeyond = LinearImage(narrow);
  Put32(&firstBeyond[28], 0x7FFFFFFF);
  for (const Bytes* other : {&ring, &badMagic, &firstBeyond}) {
    CTraceFile store;
    ASSERT_EQ(1, ReserveForKeltImage(&store, other->data(), other->size()));
    EXPECT_GE(store.Buffer()->freeBytes, other->size() - kTraceHeaderSize);
  }
  CTraceFile store;
  EXPECT_EQ(0, ReserveForKeltImage(&store, nullptr, 100));
  EXPECT_EQ(0, ReserveForKeltImage(&store, image.data(), size_t(kMaxKtrFileSize) + 1));
  EXPECT_EQ(nullptr, store.Buffer());
}

TEST_F(KtrImages, RingImageCutAtEveryLength) {
  uint32_t first, end;
  const Bytes image = WrappedRing(&first, &end);
  const size_t bEnd = first + narrow[1].size();
  for (size_t cut = 0; cut <= image.size(); ++cut) {
    SCOPED_TRACE(cut);
    const Bytes part(image.begin(), image.begin() + cut);
    CGuardedBytes guarded(part);
    ASSERT_TRUE(guarded.Ready());
    CTraceFile store;
    ASSERT_EQ(1, store.GrowBuffer(4096));
    const int result = ParseKeltImage(&store, guarded.Data(), part.size(), 1);
    // B, C, then the records after the wrap, which lie below first.
    const size_t whole = cut < bEnd ? 0 : cut < end ? 1 : 4;
    EXPECT_EQ(whole == 4 ? 1 : 0, result);
    EXPECT_EQ(whole, Messages(store).size());
  }
}

enum class Source { kLinear, kRing, kBigEndian };

struct HostileCase {
  const char* name;
  Source source;  // the wrapped ring, else a linear image of A, B, C in either byte order
  void (*damage)(Bytes& image, uint32_t first, uint32_t end);
  int result;
  std::vector<std::wstring> messages;  // what is stored
  uint32_t refused = 0;                // records found and not stored
};

// Offset of the third record (C) of a linear image.
size_t ThirdRecord(const Bytes& i) {
  const size_t second = 48 + Get16(&i[48]);
  return second + Get16(&i[second]);
}

TEST_F(KtrImages, HostileHeadersAndRecords) {
  const std::vector<std::wstring> ring = {L"B", L"C", L"D", L"E"};
  const std::vector<std::wstring> linear = {L"A", L"B", L"C"};
  auto none = [](Bytes&, uint32_t, uint32_t) {};
  const HostileCase cases[] = {
      {"shorter than the header", Source::kLinear, [](Bytes& i, uint32_t, uint32_t) { i.resize(47); }, 0, {}},
      {"bad magic", Source::kLinear, [](Bytes& i, uint32_t, uint32_t) { i[3] = 'X'; }, 0, {}},
      {"version 2", Source::kLinear, [](Bytes& i, uint32_t, uint32_t) { i[6] = 2; }, 0, {}},
      {"unknown byte-order mark", Source::kLinear, [](Bytes& i, uint32_t, uint32_t) { i[5] = 0xFF; }, 1, {}},
      {"a wrapping ring", Source::kRing, none, 1, ring},
      {"a big-endian image", Source::kBigEndian, none, 1, linear},
      {"big-endian record cut by the end", Source::kBigEndian,
       [](Bytes& i, uint32_t, uint32_t) { i.resize(i.size() - 1); }, 0, {L"A", L"B"}},
      {"truncated last record", Source::kLinear, [](Bytes& i, uint32_t, uint32_t) { i.resize(i.size() - 1); }, 0,
       {L"A", L"B"}},
      {"capacity beyond the file is normal", Source::kLinear,
       [](Bytes& i, uint32_t, uint32_t) { Put32(&i[12], 0xFFFFFFF0); }, 1, linear},
      {"linear huge count is not trusted", Source::kLinear,
       [](Bytes& i, uint32_t, uint32_t) { Put32(&i[16], 0xFFFFFFFF); }, 1, linear},
      {"linear first inside the header", Source::kLinear, [](Bytes& i, uint32_t, uint32_t) { Put32(&i[28], 0); }, 0,
       {}},
      {"linear first beyond the file", Source::kLinear,
       [](Bytes& i, uint32_t, uint32_t) { Put32(&i[28], 0x7FFFFFFF); }, 0, {}},
      {"linear zero-length record", Source::kLinear,
       [](Bytes& i, uint32_t, uint32_t) { Put16(&i[48 + Get16(&i[48])], 0); }, 0, {L"A"}},
      {"linear record longer than the file", Source::kLinear,
       [](Bytes& i, uint32_t, uint32_t) { Put16(&i[48 + Get16(&i[48])], 0xFFFF); }, 0, {L"A"}},
      {"linear record refused by the importer", Source::kLinear,
       [](Bytes& i, uint32_t, uint32_t) { i[48 + 2] = 2; },  // version 2: skipped, the walk goes on
       1, {L"B", L"C"}, 1},
      {"message offset beyond the record", Source::kLinear,
       [](Bytes& i, uint32_t, uint32_t) { Put16(&i[48 + 34], 0x7FFF); }, 1, {L"B", L"C"}, 1},
      // 20 bytes of enciphered area: AES-CBC without padding cannot decipher it.
      {"cipher area not a multiple of 16", Source::kLinear,
       [](Bytes& i, uint32_t, uint32_t) {
         const size_t second = 48 + Get16(&i[48]);
         const uint16_t length = Get16(&i[second]);
         i.insert(i.begin() + second + length, 4, 0x5A);
         Put16(&i[second], uint16_t(length + 4));
       },
       1, {L"A", L"C"}, 1},
      // A plain record whose message runs to the last byte of the image: the
      // bytes after it are a no-access page.
      {"unterminated plain record at an inaccessible page", Source::kLinear,
       [](Bytes& i, uint32_t, uint32_t) {
         uint8_t* c = &i[ThirdRecord(i)];
         const uint16_t length = Get16(c);
         DecipherArea(kCipherAes256Record, c + 52, length - 52);
         c[7] = kCipherPlain;
         std::memset(c + Get16(c + 34), 'z', length - Get16(c + 34));
       },
       1, {L"A", L"B", L"zzzzzzzz"}},
      {"ring huge count", Source::kRing, [](Bytes& i, uint32_t, uint32_t) { Put32(&i[16], 0xFFFFFFFF); }, 0, ring},
      {"ring first beyond the file", Source::kRing, [](Bytes& i, uint32_t, uint32_t) { Put32(&i[28], 0x7FFFFFFF); },
       0, {}},
      {"ring first not below end", Source::kRing, [](Bytes& i, uint32_t, uint32_t end) { Put32(&i[28], end); }, 0,
       {}},
      {"ring end beyond the file", Source::kRing, [](Bytes& i, uint32_t, uint32_t) { Put32(&i[24], 0xFFFFFF00); },
       0, {L"B", L"C"}},
      {"ring write beyond the file", Source::kRing, [](Bytes& i, uint32_t, uint32_t) { Put32(&i[32], 0xFFFFFF00); },
       1, ring},
      {"ring write inside the header", Source::kRing, [](Bytes& i, uint32_t, uint32_t) { Put32(&i[32], 0); }, 0, {}},
      {"ring wrap start inside the header", Source::kRing, [](Bytes& i, uint32_t, uint32_t) { Put16(&i[8], 0); }, 0,
       {}},
      {"ring zero-length record", Source::kRing,
       [](Bytes& i, uint32_t first, uint32_t) { Put16(&i[first + Get16(&i[first])], 0); }, 0, {L"B"}},
      {"ring record crossing end", Source::kRing,
       [](Bytes& i, uint32_t first, uint32_t) {
         uint8_t* c = &i[first + Get16(&i[first])];
         Put16(c, uint16_t(Get16(c) + 16));
       },
       0, {L"B"}},
  };
  for (const HostileCase& c : cases) {
    SCOPED_TRACE(c.name);
    uint32_t first = 0, end = 0;
    const std::vector<Bytes> three = {narrow[0], narrow[1], narrow[2]};
    Bytes image = c.source == Source::kRing        ? WrappedRing(&first, &end)
                  : c.source == Source::kBigEndian ? BigEndianImage(three)
                                                   : LinearImage(three);
    c.damage(image, first, end);
    CTraceFile store;
    uint32_t refused = 99;
    EXPECT_EQ(c.result, Parse(store, image, &refused));
    EXPECT_EQ(c.messages, Messages(store));
    EXPECT_EQ(c.refused, refused);
    EXPECT_EQ(1, store.Buffer() ? CheckRingInvariants(store.Buffer()) : 1);
  }
}

// The progress of a ring walk is measured against what the image can hold,
// not against a count no image of this size could reach.
TEST_F(KtrImages, RingCountIsCappedAtWhatTheImageHolds) {
  uint32_t first, end;
  Bytes image = WrappedRing(&first, &end);
  Put32(&image[16], 0xFFFFFFFF);
  CTraceFile store;
  EXPECT_EQ(0, Parse(store, image));
  EXPECT_EQ(4u, store.m_sourceItemCount);
  const uint32_t room = uint32_t((image.size() - 48) / kMinNarrowRecord);
  EXPECT_EQ(4u * 100 / room, store.Progress());
}

// A full ring: the records after the wrap reach the oldest one. A count
// larger than the records must not walk round a second time.
TEST_F(KtrImages, FullRingIsWalkedRoundOnce) {
  uint32_t first, end;
  Bytes image = WrappedRing(&first, &end, 0);
  CTraceFile whole;
  ASSERT_EQ(1, Parse(whole, image));
  EXPECT_EQ((std::vector<std::wstring>{L"B", L"C", L"D", L"E"}), Messages(whole));
  Put32(&image[16], 9);
  CTraceFile store;
  EXPECT_EQ(0, Parse(store, image));
  EXPECT_EQ((std::vector<std::wstring>{L"B", L"C", L"D", L"E"}), Messages(store));
  EXPECT_EQ(4u, store.m_sourceItemCount);
}

TEST_F(KtrImages, ImageWithoutHeaderFails) {
  const Bytes image = LinearImage(narrow);
  CTraceFile store;
  ASSERT_EQ(1, store.GrowBuffer(4096));
  EXPECT_EQ(0, ParseKeltImage(&store, nullptr, image.size(), 1));
  EXPECT_EQ(0, ParseKeltImage(&store, image.data(), 47, 1));
  EXPECT_EQ(0, ParseKeltImage(nullptr, image.data(), image.size(), 1));
}

// Without the copy flag the image may be deciphered where it lies.
TEST_F(KtrImages, ImageWithoutCopyFlagIsDecipheredInPlace) {
  Bytes image = LinearImage({narrow[0]});
  CTraceFile store;
  ASSERT_EQ(1, store.GrowBuffer(4096));
  ASSERT_EQ(1, ParseKeltImage(&store, image.data(), image.size(), 0));
  EXPECT_EQ(std::vector<std::wstring>{L"A"}, Messages(store));
  EXPECT_EQ(kCipherPlain, image[48 + 7]);
}

}  // namespace
