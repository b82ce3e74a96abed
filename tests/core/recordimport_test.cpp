#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/Cipher.h"
#include "core/ModuleGroups.h"
#include "core/RecordBuilder.h"
#include "core/RecordImport.h"
#include "core/StrUtil.h"
#include "core/TraceStore.h"

namespace {

constexpr char kGroupsText[] = "[CORE]\nM=app;kernel.dll\n[NET]\nM=net;dbwin;qrv\n";
constexpr uint32_t kCoreFlag = 1;
constexpr uint32_t kNetFlag = 2;
constexpr uint32_t kCatchAllFlag = 4;
constexpr uint32_t kNoon2023 = 1700000000;  // 2023-11-14 22:13:20 UTC
using Bytes = std::vector<uint8_t>;

void Put16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
void Put32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
uint16_t Get16(const uint8_t* p) { uint16_t v; std::memcpy(&v, p, 2); return v; }

Bytes Narrow(const std::string& text) { return Bytes(text.begin(), text.end()); }
Bytes Wide(const std::wstring& text) {
  Bytes bytes(text.size() * 2);
  std::memcpy(bytes.data(), text.data(), bytes.size());
  return bytes;
}

// A narrow record as the writers lay it out: head, module, hint (when not
// empty), message, the area padded to 16 and enciphered.
struct NarrowSpec {
  uint8_t encoding = kNarrowEncodingUtf8;
  uint8_t kind = kCipherPlain;
  uint16_t flags = 0;
  uint32_t level = kLevelInfo;
  uint32_t pid = 7;
  uint32_t tid = 8;
  uint32_t time = kNoon2023;
  uint16_t milliseconds = 5;
  uint32_t stamp[2] = {0x01020304u, 0x05060708u};
  uint32_t sessionId = 0;
  Bytes module = Narrow("app");
  Bytes hint;
  Bytes message = Narrow("hello");
  bool pad = true;
};

Bytes MakeNarrow(const NarrowSpec& s) {
  const size_t nul = s.encoding == kNarrowEncodingUtf16 ? 2 : 1;
  Bytes r(kNarrowHeadSize, 0);
  auto append = [&](const Bytes& text) {
    const size_t at = r.size();
    r.insert(r.end(), text.begin(), text.end());
    r.insert(r.end(), nul, 0);
    return uint16_t(at);
  };
  const uint16_t module = append(s.module);
  const uint16_t hint = s.hint.empty() ? uint16_t(r.size() - nul) : append(s.hint);
  const uint16_t message = append(s.message);
  if (s.pad) {
    while ((r.size() - kNarrowHeadSize) % 16 != 0) r.push_back(0);
  }
  Put16(&r[0], uint16_t(r.size()));
  r[2] = kTraceVersion;
  Put16(&r[4], s.flags);
  r[6] = s.encoding;
  r[7] = s.kind;
  Put32(&r[8], s.level);
  Put32(&r[12], s.pid);
  Put32(&r[16], s.tid);
  Put32(&r[20], 99);
  Put32(&r[24], s.time);
  Put16(&r[28], s.milliseconds);
  Put16(&r[30], module);
  Put16(&r[32], hint);
  Put16(&r[34], message);
  Put32(&r[36], s.stamp[0]);
  Put32(&r[40], s.stamp[1]);
  Put32(&r[44], s.sessionId);
  Put16(&r[48], uint16_t(message + s.message.size()));
  EXPECT_EQ(1, EncipherArea(s.kind, r.data() + module, r.size() - module));
  return r;
}

// The big-endian twin of a little-endian record (strings stay as they are).
Bytes ToBigEndian(Bytes r) {
  auto swap16 = [&](size_t at) { std::swap(r[at], r[at + 1]); };
  auto swap32 = [&](size_t at) {
    std::swap(r[at], r[at + 3]);
    std::swap(r[at + 1], r[at + 2]);
  };
  const bool stamped = (Get16(&r[4]) & kRecordStampValid) != 0;
  for (size_t at : {0, 4, 28, 30, 32, 34}) swap16(at);
  for (size_t at : {8, 12, 16, 20, 24}) swap32(at);
  if (stamped) {
    swap32(36);
    swap32(40);
  }
  return r;
}

// Accessible pages followed by an inaccessible one: bytes placed flush
// against it fault on any read past their end. The accessible part holds
// the largest narrow record.
class CGuardedPage {
 public:
  CGuardedPage() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const size_t page = info.dwPageSize;
    m_accessible = (kMaxNarrowRecord + 2 * page) / page * page;
    m_base = static_cast<uint8_t*>(VirtualAlloc(nullptr, m_accessible + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    m_guarded = m_base != nullptr && VirtualProtect(m_base + m_accessible, page, PAGE_NOACCESS, &old);
  }
  ~CGuardedPage() {
    if (m_base != nullptr) VirtualFree(m_base, 0, MEM_RELEASE);
  }
  CGuardedPage(const CGuardedPage&) = delete;
  CGuardedPage& operator=(const CGuardedPage&) = delete;

  bool Ready() const { return m_guarded; }
  // Copies the bytes so that their last byte is the last accessible one.
  uint8_t* Place(const Bytes& bytes) {
    uint8_t* at = m_base + m_accessible - bytes.size();
    std::memcpy(at, bytes.data(), bytes.size());
    return at;
  }
  uint8_t* End() const { return m_base + m_accessible; }

 private:
  uint8_t* m_base = nullptr;
  size_t m_accessible = 0;
  bool m_guarded = false;
};

class Import : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(1, g_moduleGroups.LoadFromText(kGroupsText, sizeof(kGroupsText) - 1));
    g_blockWords.Clear();
    ASSERT_EQ(1, store.GrowBuffer(65536));
    // No terminator in a stored record may come from zeroed memory by chance.
    std::memset(store.Buffer()->Bytes() + kTraceHeaderSize, 0x6E, store.Buffer()->capacity - kTraceHeaderSize);
    ASSERT_TRUE(guard.Ready());
  }
  void TearDown() override {
    g_moduleGroups.Clear();
    g_blockWords.Clear();
  }
  uint32_t Stored() const { return store.Buffer()->recordCount; }

  CTraceFile store;
  CGuardedPage guard;
};

// ---------------------------------------------------------------------------
// Validation of narrow records

struct HostileCase {
  const char* name;
  uint32_t length;  // bytes of the record, also written into it
  uint8_t version;
  uint8_t encoding;
  uint8_t kind;
  uint16_t module, hint, message;
  bool accepted;
};

class NarrowValidation : public Import, public testing::WithParamInterface<HostileCase> {};

TEST_P(NarrowValidation, RefusedOrImportedWithoutReadingPastTheRecord) {
  const HostileCase& c = GetParam();
  Bytes r(c.length, 0);
  uint8_t head[kNarrowHeadSize] = {};
  Put16(head, uint16_t(c.length));
  head[2] = c.version;
  head[6] = c.encoding;
  head[7] = c.kind;
  Put16(head + 30, c.module);
  Put16(head + 32, c.hint);
  Put16(head + 34, c.message);
  std::memcpy(r.data(), head, std::min<size_t>(c.length, sizeof(head)));
  for (int copy : {1, 0}) {
    TraceRecord* stored = CTraceMgr::AddRecord(&store, 0, guard.Place(r), copy, kModeBuild);
    EXPECT_EQ(c.accepted, stored != nullptr) << "copy " << copy;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, NarrowValidation,
    testing::Values(HostileCase{"Length52", 52, 3, 4, 0, 52, 52, 52, false},
                    HostileCase{"Length12289", 12289, 3, 4, 0, 52, 52, 52, false},
                    HostileCase{"Smallest", 53, 3, 4, 0, 52, 52, 52, true},
                    HostileCase{"Largest", 12288, 3, 4, 0, 52, 52, 52, true},
                    HostileCase{"Version2", 64, 2, 4, 0, 52, 52, 52, false},
                    HostileCase{"ModuleInsideTheHead", 53, 3, 4, 0, 35, 35, 52, false},
                    HostileCase{"ModuleAt51", 64, 3, 4, 0, 51, 52, 53, false},
                    HostileCase{"HintBeforeModule", 64, 3, 4, 0, 56, 54, 58, false},
                    HostileCase{"MessageBeforeHint", 64, 3, 4, 0, 52, 56, 54, false},
                    HostileCase{"MessageAtTheEnd", 64, 3, 4, 0, 52, 52, 64, false},
                    HostileCase{"MessageLastByte", 64, 3, 4, 0, 52, 52, 63, true},
                    HostileCase{"OffsetsPastTheRecord", 64, 3, 4, 0, 52, 60000, 65000, false},
                    HostileCase{"UnknownEncoding3", 64, 3, 3, 0, 52, 52, 52, false},
                    HostileCase{"UnknownEncoding0", 64, 3, 0, 0, 52, 52, 52, false},
                    HostileCase{"CipherKind5", 68, 3, 4, 5, 52, 52, 52, false},
                    HostileCase{"AesAreaOf17", 69, 3, 4, kCipherAes256Record, 52, 52, 52, false},
                    HostileCase{"AesAreaOf1", 53, 3, 4, kCipherAes256First, 52, 52, 52, false},
                    HostileCase{"Aes128AreaOf31", 83, 3, 4, kCipherAes128, 52, 52, 52, false},
                    HostileCase{"ScramblerAreaOf1", 53, 3, 4, kCipherScrambler, 52, 52, 52, true}),
    [](const testing::TestParamInfo<HostileCase>& info) { return std::string(info.param.name); });

struct UnterminatedCase {
  const char* name;
  uint8_t encoding;
  uint8_t kind;
  Bytes message;  // runs to the record's end without a terminator
  std::wstring expected;
};

class Unterminated : public Import, public testing::WithParamInterface<UnterminatedCase> {};

TEST_P(Unterminated, MessageEndsAtTheRecordEnd) {
  const UnterminatedCase& c = GetParam();
  NarrowSpec spec;
  spec.encoding = c.encoding;
  spec.module = c.encoding == kNarrowEncodingUtf16 ? Wide(L"app") : Narrow("app");
  spec.pad = false;
  spec.message = c.message;
  Bytes r = MakeNarrow(spec);
  // Drop the message's terminator (and for the AES kinds build a whole
  // number of blocks first, then encipher again).
  const size_t nul = c.encoding == kNarrowEncodingUtf16 ? 2 : 1;
  r.resize(r.size() - nul);
  Put16(&r[0], uint16_t(r.size()));
  if (c.kind != kCipherPlain) {
    const uint16_t module = Get16(&r[30]);
    ASSERT_EQ(1, EncipherArea(c.kind, r.data() + module, r.size() - module));
    r[7] = c.kind;
  }
  for (int copy : {1, 0}) {
    TraceRecord* stored = CTraceMgr::AddRecord(&store, 0, guard.Place(r), copy, kModeBuild);
    ASSERT_NE(nullptr, stored) << "copy " << copy;
    EXPECT_EQ(c.expected, stored->Message());
    EXPECT_STREQ(L"app", stored->Module());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Unterminated,
    testing::Values(
        UnterminatedCase{"Utf8", kNarrowEncodingUtf8, kCipherPlain, Narrow("runs on"), L"runs on"},
        UnterminatedCase{"Ansi", kNarrowEncodingAnsi, kCipherPlain, Narrow("caf\xe9"), L"caf\u00e9"},
        UnterminatedCase{"Utf16", kNarrowEncodingUtf16, kCipherPlain, Wide(L"wide"), L"wide"},
        UnterminatedCase{"Utf16OddTail", kNarrowEncodingUtf16, kCipherPlain, Bytes{'w', 0, 'x'}, L"w"},
        UnterminatedCase{"Scrambled", kNarrowEncodingUtf8, kCipherScrambler, Narrow("hidden"), L"hidden"},
        // module "app\0" (4) + 12 message bytes: one whole block
        UnterminatedCase{"AesWholeBlocks", kNarrowEncodingUtf8, kCipherAes256Record, Narrow("twelve bytes"),
                         L"twelve bytes"}),
    [](const testing::TestParamInfo<UnterminatedCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Narrow records that pass

TEST_F(Import, EveryCipherKindImportsTheSameRecord) {
  for (uint8_t kind : {kCipherPlain, kCipherScrambler, kCipherAes256First, kCipherAes128, kCipherAes256Record}) {
    NarrowSpec spec;
    spec.kind = kind;
    spec.hint = Narrow("where");
    spec.message = Narrow("the message");
    const Bytes source = MakeNarrow(spec);
    Bytes work = source;
    TraceRecord* r = CTraceMgr::AddRecord(&store, 0, work.data(), 1, kModeBuild);
    ASSERT_NE(nullptr, r) << int(kind);
    EXPECT_EQ(source, work) << "a copied record is never changed";
    EXPECT_STREQ(L"app", r->Module());
    EXPECT_STREQ(L"where", r->Hint());
    EXPECT_STREQ(L"the message", r->Message());
    EXPECT_STREQ(L"[7:8]", r->ProcThreadText());
    EXPECT_EQ(kLevelInfo, r->level);
    EXPECT_EQ(kNoon2023, r->time);
    EXPECT_EQ(5, r->milliseconds);
    EXPECT_EQ(kCoreFlag, r->groupFlag);
    EXPECT_EQ(0, r->cipherKind);
    EXPECT_EQ(2, r->encoding);
  }
}

TEST_F(Import, InPlaceDecipherLetsTheBuildPassReadPlainText) {
  NarrowSpec spec;
  spec.kind = kCipherAes256Record;
  Bytes source = MakeNarrow(spec);
  EXPECT_EQ(nullptr, CTraceMgr::AddRecord(&store, 0, source.data(), 0, kModeScan));
  EXPECT_EQ(kCipherPlain, source[7]);
  TraceRecord* r = CTraceMgr::AddRecord(&store, 0, source.data(), 0, kModeBuild);
  ASSERT_NE(nullptr, r);
  EXPECT_STREQ(L"hello", r->Message());
  EXPECT_EQ(1u, Stored());
}

TEST_F(Import, EncodingsAreConverted) {
  struct Case {
    uint8_t encoding;
    Bytes module, message;
  } cases[] = {
      {kNarrowEncodingAnsi, Narrow("app"), Narrow("caf\xe9")},
      {kNarrowEncodingUtf8, Narrow("app"), Narrow("caf\xc3\xa9")},
      {kNarrowEncodingUtf16, Wide(L"app"), Wide(L"caf\u00e9")},
  };
  for (const Case& c : cases) {
    NarrowSpec spec;
    spec.encoding = c.encoding;
    spec.module = c.module;
    spec.message = c.message;
    TraceRecord* r = CTraceMgr::AddRecord(&store, 0, MakeNarrow(spec).data(), 1, kModeBuild);
    ASSERT_NE(nullptr, r) << int(c.encoding);
    EXPECT_STREQ(L"caf\u00e9", r->Message());
    EXPECT_STREQ(L"app", r->Module());
  }
}

// UTF-8 messages come out as the system converter gives them, for
// well-formed text (ASCII runs across the 16-byte steps, every sequence
// length) and for broken text (stray, missing and overlong continuations,
// surrogates, values past U+10FFFF, a sequence cut by the record's end).
TEST_F(Import, Utf8MessagesMatchTheSystemConverter) {
  const std::string ascii32 = "0123456789abcdefghijklmnopqrstuv";
  const std::string cases[] = {
      "",
      "plain",
      ascii32 + ascii32,
      ascii32.substr(0, 15) + "\xc3\xa9" + ascii32,
      "\xe6\x96\x87\xe4\xbb\xb6 " + ascii32.substr(0, 17) + "\xf0\x9f\x98\x80",
      "\xef\xbf\xbf\xf4\x8f\xbf\xbf\xc2\x80",
      "stray \x80 continuation",
      "missing \xc3 continuation",
      "overlong \xc0\xaf and \xe0\x80\xaf",
      "surrogate \xed\xa0\x80 here",
      "too large \xf4\x90\x80\x80",
      "lead \xf8\x88\x80\x80\x80",
      ascii32 + "cut at the end \xe6\x96",
  };
  for (const std::string& text : cases) {
    NarrowSpec spec;
    spec.message = Narrow(text);
    spec.pad = false;
    TraceRecord* r = CTraceMgr::AddRecord(&store, 0, MakeNarrow(spec).data(), 1, kModeBuild);
    ASSERT_NE(nullptr, r) << text;
    std::wstring expected(text.size() + 1, L'\0');
    const int units = text.empty() ? 0
                                   : MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &expected[0],
                                                         int(expected.size()));
    expected.resize(size_t(units > 0 ? units : 0));
    // The builder keeps no trailing blank and no line break.
    EXPECT_EQ(expected, std::wstring(r->Message())) << text;
  }
}

TEST_F(Import, StampIsPassedOnlyWhenFlagged) {
  NarrowSpec spec;
  TraceRecord* r = CTraceMgr::AddRecord(&store, 0, MakeNarrow(spec).data(), 1, kModeBuild);
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(0, r->flags);
  EXPECT_EQ(0u, r->Stamp());
  spec.flags = kRecordStampValid;
  r = CTraceMgr::AddRecord(&store, 0, MakeNarrow(spec).data(), 1, kModeBuild);
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(kRecordStampValid, r->flags);
  EXPECT_EQ(0x0506070801020304ull, r->Stamp());
}

TEST_F(Import, MarksAreDroppedFromTheLevel) {
  NarrowSpec spec;
  spec.level = 0x7F0008u;
  TraceRecord* r = CTraceMgr::AddRecord(&store, 0, MakeNarrow(spec).data(), 1, kModeBuild);
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(kLevelError, r->level);
}

TEST_F(Import, IgnoredGroupsAreNotStored) {
  NarrowSpec spec;
  EXPECT_EQ(nullptr, CTraceMgr::AddRecord(&store, kCoreFlag, MakeNarrow(spec).data(), 1, kModeBuild));
  spec.module = Narrow("nobody.dll");
  EXPECT_EQ(nullptr, CTraceMgr::AddRecord(&store, kCatchAllFlag, MakeNarrow(spec).data(), 1, kModeBuild));
  EXPECT_NE(nullptr, CTraceMgr::AddRecord(&store, kCoreFlag, MakeNarrow(spec).data(), 1, kModeBuild));
  EXPECT_EQ(1u, Stored());
}

TEST_F(Import, SubNameComesFromTheModuleText) {
  NarrowSpec spec;
  spec.module = Narrow("net@worker");
  TraceRecord* r = CTraceMgr::AddRecord(&store, 0, MakeNarrow(spec).data(), 1, kModeBuild);
  ASSERT_NE(nullptr, r);
  EXPECT_STREQ(L"net", r->Module());
  EXPECT_STREQ(L"worker", r->SubName());
  EXPECT_EQ(kNetFlag, r->groupFlag);
  // The group of the module part decides what is ignored.
  EXPECT_EQ(nullptr, CTraceMgr::AddRecord(&store, kNetFlag, MakeNarrow(spec).data(), 1, kModeBuild));
  EXPECT_NE(nullptr, CTraceMgr::AddRecord(&store, kCatchAllFlag, MakeNarrow(spec).data(), 1, kModeBuild));
}

TEST_F(Import, ImportRecordTakesOnlyPlainRecords) {
  NarrowSpec spec;
  spec.kind = kCipherScrambler;
  EXPECT_EQ(nullptr, CTraceMgr::ImportRecord(&store, 0, MakeNarrow(spec).data(), kModeBuild));
  spec.kind = kCipherPlain;
  EXPECT_NE(nullptr, CTraceMgr::ImportRecord(&store, 0, MakeNarrow(spec).data(), kModeBuild));
}

TEST_F(Import, BigEndianRecordsReadAsTheirLittleEndianTwins) {
  for (uint16_t flags : {uint16_t(0), kRecordStampValid}) {
    NarrowSpec spec;
    spec.flags = flags;
    spec.kind = kCipherAes256Record;
    spec.sessionId = 0x0A0B0C0Du;
    spec.hint = Narrow("h");
    const Bytes net = ToBigEndian(MakeNarrow(spec));
    TraceRecord* r = CTraceMgr::AddNetRecord(&store, 0, guard.Place(net), kModeBuild);
    ASSERT_NE(nullptr, r);
    EXPECT_STREQ(L"hello", r->Message());
    EXPECT_STREQ(L"h", r->Hint());
    EXPECT_EQ(7u, r->pid);
    EXPECT_EQ(8u, r->tid);
    EXPECT_EQ(kNoon2023, r->time);
    EXPECT_EQ(5, r->milliseconds);
    EXPECT_EQ(flags, r->flags);
    EXPECT_EQ(flags ? 0x0506070801020304ull : 0ull, r->Stamp());
  }
  // A little-endian record read as big-endian has no sane length.
  NarrowSpec spec;
  EXPECT_EQ(nullptr, CTraceMgr::AddNetRecord(&store, 0, MakeNarrow(spec).data(), kModeBuild));
}

TEST_F(Import, BlockWordsFromOneRecordMarkTheNextAfterAScanPass) {
  char encoded[64] = {};
  const size_t n = Base64Encode("topsecret", 9, encoded, sizeof(encoded));
  NarrowSpec marker;
  marker.message = Narrow(std::string("###BLKW###-") + std::string(encoded, n));
  NarrowSpec later;
  later.message = Narrow("this is topsecret stuff");
  later.level = kLevelError;
  const Bytes batch[] = {MakeNarrow(later), MakeNarrow(marker)};
  for (const Bytes& r : batch) EXPECT_EQ(nullptr, CTraceMgr::AddRecord(&store, 0, r.data(), 1, kModeScan));
  EXPECT_EQ(0u, Stored());
  TraceRecord* r = CTraceMgr::AddRecord(&store, 0, batch[0].data(), 1, kModeBuild);
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(kLevelPersonal, r->level);
}

// ---------------------------------------------------------------------------
// Walking an image for block words

Bytes ImageOf(const std::vector<Bytes>& records, uint32_t first = kTraceHeaderSize) {
  Bytes image(kTraceHeaderSize, 0);
  std::memcpy(image.data(), "KELT", 4);
  Put32(&image[28], first);
  for (const Bytes& r : records) image.insert(image.end(), r.begin(), r.end());
  return image;
}

Bytes MarkerRecord(const char* word) {
  char encoded[64] = {};
  const size_t n = Base64Encode(word, std::strlen(word), encoded, sizeof(encoded));
  NarrowSpec spec;
  spec.kind = kCipherAes256Record;
  spec.message = Narrow(std::string("###BLKW###-") + std::string(encoded, n));
  return MakeNarrow(spec);
}

TEST_F(Import, ScanOfAnImageRegistersWordsAndStoresNothing) {
  const Bytes image = ImageOf({MakeNarrow(NarrowSpec()), MarkerRecord("alpha"), MarkerRecord("beta")});
  EXPECT_EQ(3, CTraceMgr::ScanBufferForBlockWords(&store, guard.Place(image), image.size(), 1));
  EXPECT_EQ(2u, g_blockWords.Count());
  EXPECT_EQ(0u, Stored());
}

TEST_F(Import, ScanStopsAtDamagedLengths) {
  Bytes zero(64, 0);  // length 0: the walk must not stand still
  Bytes tiny(64, 0);
  Put16(tiny.data(), 20);
  Bytes past = MarkerRecord("gamma");
  struct Case {
    const char* name;
    Bytes image;
    int offered;
  } cases[] = {
      {"ZeroLength", ImageOf({MarkerRecord("alpha"), zero, MarkerRecord("beta")}), 1},
      {"BelowMinimum", ImageOf({tiny, MarkerRecord("beta")}), 0},
      {"PastTheEnd", [&] {
         Bytes image = ImageOf({MarkerRecord("alpha"), past});
         Put16(&image[image.size() - past.size()], uint16_t(past.size() + 16));
         return image;
       }(), 1},
      {"FirstInsideTheHeader", ImageOf({MarkerRecord("alpha")}, 8), 0},
  };
  for (const Case& c : cases) {
    g_blockWords.Clear();
    EXPECT_EQ(c.offered, CTraceMgr::ScanBufferForBlockWords(&store, guard.Place(c.image), c.image.size(), 1))
        << c.name;
    EXPECT_EQ(size_t(c.offered), g_blockWords.Count()) << c.name;
  }
  EXPECT_EQ(0, CTraceMgr::ScanBufferForBlockWords(&store, guard.Place(Bytes(47, 0)), 47, 1));
}

// ---------------------------------------------------------------------------
// Text received with WM_COPYDATA

struct DbgCase {
  const char* name;
  std::string text;
  std::wstring module;
  uint32_t pid, tid;
  std::wstring message;
};

class DbgText : public Import, public testing::WithParamInterface<DbgCase> {};

TEST_P(DbgText, PrefixOnlyAtTheStartWithNumericIds) {
  const DbgCase& c = GetParam();
  uint32_t before = 0, after = 0;
  uint16_t ms = 0;
  CurrentRecordTime(&before, &ms);
  // Placed flush and without a terminator: the end is the only bound.
  const uint8_t* text = guard.Place(Narrow(c.text));
  TraceRecord* r = CTraceMgr::AddDbgText(&store, reinterpret_cast<const char*>(text),
                                         reinterpret_cast<const char*>(guard.End()), 0, kModeBuild);
  CurrentRecordTime(&after, &ms);
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(c.module, r->Module());
  EXPECT_EQ(c.pid, r->pid);
  EXPECT_EQ(c.tid, r->tid);
  EXPECT_EQ(c.message, r->Message());
  EXPECT_EQ(kLevelInfo, r->level);
  EXPECT_STREQ(L"", r->Hint());
  EXPECT_LE(before, r->time);
  EXPECT_GE(after, r->time);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DbgText,
    testing::Values(DbgCase{"Prefix", "(app:12:34)hello", L"app", 12, 34, L"hello"},
                    DbgCase{"OneColon", "(app:12)hello", L"", 0, 0, L"(app:12)hello"},
                    DbgCase{"NotAtTheStart", "x (app:12:34)hello", L"", 0, 0, L"x (app:12:34)hello"},
                    DbgCase{"LetterInPid", "(app:1a:34)m", L"", 0, 0, L"(app:1a:34)m"},
                    DbgCase{"EmptyPid", "(app::34)m", L"", 0, 0, L"(app::34)m"},
                    DbgCase{"BlankInTid", "(app:1: 2)m", L"", 0, 0, L"(app:1: 2)m"},
                    DbgCase{"Unclosed", "(app:12:34", L"", 0, 0, L"(app:12:34"},
                    DbgCase{"PidTooLarge", "(app:99999999999:1)m", L"", 0, 0, L"(app:99999999999:1)m"},
                    DbgCase{"EmptyModule", "(:5:6)m", L"", 5, 6, L"m"},
                    DbgCase{"EmptyMessage", "(net:1:2)", L"net", 1, 2, L""},
                    DbgCase{"Nothing", "", L"", 0, 0, L""},
                    DbgCase{"LongMessageCut", "(app:1:2)" + std::string(2000, 'x'), L"app", 1, 2,
                            std::wstring(1023, L'x')},
                    DbgCase{"ShortMessageWhole", std::string(1023, 'y'), L"", 0, 0, std::wstring(1023, L'y')}),
    [](const testing::TestParamInfo<DbgCase>& info) { return std::string(info.param.name); });

TEST_F(Import, DbgTextEndsAtATerminatorBeforeTheEnd) {
  const char text[] = "(app:1:2)ab\0cd";
  TraceRecord* r = CTraceMgr::AddDbgText(&store, text, text + sizeof(text) - 1, 0, kModeBuild);
  ASSERT_NE(nullptr, r);
  EXPECT_STREQ(L"ab", r->Message());
}

TEST_F(Import, DbgTextOfAnIgnoredModuleIsNotStored) {
  const std::string named = "(app:1:2)m", bare = "m";
  EXPECT_EQ(nullptr, CTraceMgr::AddDbgText(&store, named.data(), named.data() + named.size(), kCoreFlag, kModeBuild));
  EXPECT_EQ(nullptr, CTraceMgr::AddDbgText(&store, bare.data(), bare.data() + bare.size(), kCatchAllFlag, kModeBuild));
  EXPECT_EQ(nullptr, CTraceMgr::AddDbgText(&store, bare.data(), bare.data() - 1, 0, kModeBuild));
  EXPECT_EQ(0u, Stored());
}

// ---------------------------------------------------------------------------
// Text lines

struct LevelCase {
  const wchar_t* word;
  uint32_t level;
};

class LevelWord : public testing::TestWithParam<LevelCase> {};

TEST_P(LevelWord, Mapped) { EXPECT_EQ(GetParam().level, LevelFromWord(GetParam().word)); }

INSTANTIATE_TEST_SUITE_P(Table, LevelWord,
                         testing::Values(LevelCase{L"debug", 1}, LevelCase{L"DEBUG", 1}, LevelCase{L"info", 2},
                                         LevelCase{L"Warning", 4}, LevelCase{L"warn", 4}, LevelCase{L"Error", 8},
                                         LevelCase{L"PII", 16}, LevelCase{L"pii", 16}, LevelCase{L"400", 16},
                                         LevelCase{L"100", 4}, LevelCase{L"200", 8}, LevelCase{L"300", 2},
                                         LevelCase{L"verbose", 2}, LevelCase{L"", 2}, LevelCase{nullptr, 2},
                                         LevelCase{L"infos", 2}));

struct DateCase {
  const wchar_t* text;
  uint32_t time;
  uint16_t milliseconds;
};

class DateTime : public testing::TestWithParam<DateCase> {};

TEST_P(DateTime, Parsed) {
  const DateCase& c = GetParam();
  uint32_t time = 0xABCD;  // neither "/" nor ":" must leave these alone
  uint16_t ms = 0x77;
  ParseDateTime(c.text, &time, &ms);
  EXPECT_EQ(c.time, time) << testing::PrintToString(std::wstring(c.text));
  EXPECT_EQ(c.milliseconds, ms) << testing::PrintToString(std::wstring(c.text));
}

INSTANTIATE_TEST_SUITE_P(
    Table, DateTime,
    testing::Values(DateCase{L"3/7/22 10:15:30.250", 1646648130, 250},
                    DateCase{L"10:15:30.250 3/7/22", 1646648130, 250},
                    DateCase{L"3/7/2022 10:15:30.250", 1646648130, 250},  // four digits kept
                    DateCase{L"3/7 10:15:30", 1173262530, 0},             // no year: 2007
                    DateCase{L"10:15", 0xFFFFFFFFu, 0},                   // a time without a date
                    DateCase{L"1/2/00", 946771200, 0}, DateCase{L"1/2/2000", 946771200, 0},
                    DateCase{L"1/2/05", 1104624000, 0}, DateCase{L"1/2/99", 4070995200u, 0},
                    DateCase{L"1/2/1900", 0xFFFFFFFFu, 0},                // 1900, before 1970
                    DateCase{L"1/2/1850", 0xFFFFFFFFu, 0},
                    DateCase{L"1/2/100", 0xFFFFFFFFu, 0},                 // three digits: the year 100
                    DateCase{L"1/2/0022", 0xFFFFFFFFu, 0},                // four digits: the year 22
                    DateCase{L"2/29/24 23:59:59.", 1709251199, 0},        // "." then nothing
                    DateCase{L"2/29/24 23:59:59. x", 1709251199, 0},
                    DateCase{L"6/1/21 12:00:00.5", 1622548800, 5},
                    DateCase{L"no date", 0xABCD, 0x77}, DateCase{L"", 0xABCD, 0x77}));

TEST(DateText, ReturnsTheTextBehindTheDate) {
  struct tm calendar {};
  EXPECT_STREQ(L"rest", ParseDateText(L"3/7/22 rest", &calendar));
  EXPECT_EQ(2, calendar.tm_mon);
  EXPECT_EQ(7, calendar.tm_mday);
  EXPECT_EQ(122, calendar.tm_year);
  EXPECT_STREQ(L"", ParseDateText(L"0/7/22", &calendar));
  EXPECT_EQ(0, calendar.tm_mon);
  EXPECT_EQ(nullptr, ParseDateText(L"10:15", &calendar));
  uint16_t ms = 0;
  EXPECT_STREQ(L"3/7", ParseTimeText(L"1:2 3/7", &calendar, &ms));
  EXPECT_EQ(1, calendar.tm_hour);
  EXPECT_EQ(2, calendar.tm_min);
  EXPECT_EQ(nullptr, ParseTimeText(L"3/7", &calendar, &ms));
}

struct SplitCase {
  const char* name;
  const wchar_t* moduleText;
  const wchar_t* idText;
  const wchar_t* module;
  const wchar_t* hint;
  const wchar_t* sub;
  uint32_t pid, tid, group;
};

class TextLineSplit : public Import, public testing::WithParamInterface<SplitCase> {};

TEST_P(TextLineSplit, ModuleHintSubNameAndIds) {
  const SplitCase& c = GetParam();
  TraceRecord* r = CTraceMgr::AddTextLine(&store, L"info", L"", c.moduleText, c.idText, L"m", kModeBuild);
  ASSERT_NE(nullptr, r);
  EXPECT_STREQ(c.module, r->Module());
  EXPECT_STREQ(c.hint, r->Hint());
  EXPECT_STREQ(c.sub, r->SubName());
  EXPECT_EQ(c.pid, r->pid);
  EXPECT_EQ(c.tid, r->tid);
  EXPECT_EQ(c.group, r->groupFlag);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TextLineSplit,
    testing::Values(SplitCase{"HintKeepsTheAt", L"app/hint@x", L"[12:34]", L"app", L"hint@x", L"", 12, 34, kCoreFlag},
                    SplitCase{"AtWithoutSlash", L"net@sub", L"12:34", L"net", L"", L"sub", 12, 34, kNetFlag},
                    SplitCase{"HintKeepsItsSlash", L"a/b/c", L"[5]", L"a", L"b/c", L"", 5, 0, kCatchAllFlag},
                    SplitCase{"AtThenSlash", L"app@w/h", L"[1:2]", L"app", L"h", L"w", 1, 2, kCoreFlag},
                    SplitCase{"Plain", L"kernel.dll", L"", L"kernel.dll", L"", L"", 0, 0, kCoreFlag},
                    SplitCase{"NullWords", nullptr, nullptr, L"", L"", L"", 0, 0, kCatchAllFlag}),
    [](const testing::TestParamInfo<SplitCase>& info) { return std::string(info.param.name); });

TEST_F(Import, TextLineCarriesLevelTimeAndMessage) {
  TraceRecord* r = CTraceMgr::AddTextLine(&store, L"Warning", L"3/7/22 10:15:30.250", L"net/conn", L"[12:34]",
                                          L"line text\r\n", kModeBuild);
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(kLevelWarning, r->level);
  EXPECT_EQ(1646648130u, r->time);
  EXPECT_EQ(250, r->milliseconds);
  EXPECT_STREQ(L"10:15:30.250 03/07/22", r->timeText);
  EXPECT_STREQ(L"line text", r->Message());
  r = CTraceMgr::AddTextLine(&store, L"info", L"10:15", L"app", L"1:2", L"m", kModeBuild);
  ASSERT_NE(nullptr, r);
  EXPECT_STREQ(L"N/A", r->timeText);
  r = CTraceMgr::AddTextLine(&store, L"info", L"none", L"app", L"1:2", L"m", kModeBuild);
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(0u, r->time);
  EXPECT_EQ(0, r->milliseconds);
}

TEST_F(Import, SplitModuleNameCutsAtTheFirstAt) {
  wchar_t module[kRecordNameUnits], sub[kRecordNameUnits];
  int group = -2;
  EXPECT_EQ(0, CTraceMgr::SplitModuleName(L"plain", module, sub, &group, 0));
  EXPECT_EQ(-2, group);
  EXPECT_EQ(1, CTraceMgr::SplitModuleName(L"app@a@b", module, sub, &group, 0));
  EXPECT_STREQ(L"app", module);
  EXPECT_STREQ(L"a@b", sub);
  EXPECT_EQ(0, group);
  EXPECT_EQ(1, CTraceMgr::SplitModuleName(L"app@x", module, sub, &group, kCoreFlag));
  EXPECT_EQ(-1, group);
  const std::wstring longName = std::wstring(300, L'm') + L"@" + std::wstring(300, L's');
  EXPECT_EQ(1, CTraceMgr::SplitModuleName(longName.c_str(), module, sub, &group, 0));
  EXPECT_EQ(127u, wcslen(module));
  EXPECT_EQ(127u, wcslen(sub));
}

// ---------------------------------------------------------------------------
// Debugger output, the shared one-record buffer, QRV records

Bytes DbwinBuffer(uint32_t pid, const std::string& text, bool terminated = true) {
  Bytes b(kDbwinTextOffset + text.size() + (terminated ? 1 : 0), 0);
  Put32(b.data(), pid);
  std::memcpy(b.data() + kDbwinTextOffset, text.data(), text.size());
  return b;
}

TEST_F(Import, DbwinOutput) {
  Bytes b = DbwinBuffer(77, "debugger says");
  TraceRecord* r = CTraceMgr::AddDbwin(&store, guard.Place(b), b.size(), 0, kModeBuild);
  ASSERT_NE(nullptr, r);
  EXPECT_STREQ(L"DBWIN", r->Module());
  EXPECT_STREQ(L"debugger says", r->Message());
  EXPECT_EQ(kLevelDebug, r->level);
  EXPECT_EQ(77u, r->pid);
  EXPECT_EQ(0u, r->tid);
  EXPECT_EQ(kNetFlag, r->groupFlag);

  b = DbwinBuffer(78, "no terminator", false);
  r = CTraceMgr::AddDbwin(&store, guard.Place(b), b.size(), 0, kModeBuild);
  ASSERT_NE(nullptr, r);
  EXPECT_STREQ(L"no terminator", r->Message());

  b = DbwinBuffer(79, "");
  EXPECT_EQ(nullptr, CTraceMgr::AddDbwin(&store, guard.Place(b), b.size(), 0, kModeBuild));
  b = DbwinBuffer(80, "ignored");
  EXPECT_EQ(nullptr, CTraceMgr::AddDbwin(&store, guard.Place(b), b.size(), kNetFlag, kModeBuild));
  EXPECT_EQ(nullptr, CTraceMgr::AddDbwin(&store, guard.Place(Bytes(4, 1)), 4, 0, kModeBuild));
  EXPECT_EQ(2u, Stored());
}

struct SharedSpec {
  uint32_t levelCode = 0;
  uint32_t version = 2;
  Bytes module = Narrow("app");
  Bytes text = Narrow("shared text");
  uint64_t time = kNoon2023;
  uint16_t milliseconds = 321;
};

Bytes SharedBuffer(const SharedSpec& s) {
  Bytes b(kSharedRecordSize, 0);
  Put32(&b[kSharedLevelOffset], s.levelCode);
  Put32(&b[kSharedPidOffset], 11);
  Put32(&b[kSharedTidOffset], 22);
  std::memcpy(&b[kSharedModuleOffset], s.module.data(), std::min<size_t>(s.module.size(), kSharedModuleBytes));
  std::memcpy(&b[kSharedTextOffset], s.text.data(), std::min<size_t>(s.text.size(), 2048));
  Put32(&b[kSharedVersionOffset], s.version);
  std::memcpy(&b[kSharedTimeOffset], &s.time, 8);
  Put16(&b[kSharedMillisecondsOffset], s.milliseconds);
  return b;
}

TEST_F(Import, SharedBufferLayouts) {
  struct Case {
    const char* name;
    uint32_t version;
    Bytes module, text;
    std::wstring message;
  } cases[] = {
      {"Version0", 0, Narrow("app"), Narrow(std::string(1500, 'a')), std::wstring(1023, L'a')},
      {"Version1", 1, Narrow("app"), Narrow(std::string(1500, 'b')), std::wstring(1023, L'b')},
      {"Version2", 2, Narrow("app"), Narrow(std::string(2048, 'c')), std::wstring(2047, L'c')},
      {"Version3", 3, Wide(L"app"), Wide(std::wstring(1024, L'\u00e9')), std::wstring(1023, L'\u00e9')},
  };
  for (const Case& c : cases) {
    SharedSpec spec;
    spec.version = c.version;
    spec.module = c.module;
    spec.text = c.text;
    spec.time = (uint64_t(1) << 32) | kNoon2023;  // only the low word counts
    const Bytes source = SharedBuffer(spec);
    uint32_t before = 0, after = 0;
    uint16_t ms = 0;
    CurrentRecordTime(&before, &ms);
    uint8_t* placed = guard.Place(source);
    TraceRecord* r = CTraceMgr::AddSharedRecord(&store, placed, source.size(), 0, kModeBuild);
    CurrentRecordTime(&after, &ms);
    ASSERT_NE(nullptr, r) << c.name;
    EXPECT_EQ(0, std::memcmp(placed, source.data(), source.size())) << "the source is only read";
    EXPECT_STREQ(L"app", r->Module()) << c.name;
    EXPECT_EQ(c.message, r->Message()) << c.name;
    EXPECT_EQ(11u, r->pid);
    EXPECT_EQ(22u, r->tid);
    if (c.version <= 1) {
      EXPECT_LE(before, r->time) << c.name;
      EXPECT_GE(after, r->time) << c.name;
    } else {
      EXPECT_EQ(kNoon2023, r->time) << c.name;
      EXPECT_EQ(321, r->milliseconds) << c.name;
    }
  }
}

TEST_F(Import, SharedBufferLevelsAndRefusals) {
  const std::pair<uint32_t, uint32_t> levels[] = {{100, 4}, {200, 8}, {400, 16}, {300, 2}, {0, 2}};
  for (auto [code, level] : levels) {
    SharedSpec spec;
    spec.levelCode = code;
    TraceRecord* r = CTraceMgr::AddSharedRecord(&store, SharedBuffer(spec).data(), kSharedRecordSize, 0, kModeBuild);
    ASSERT_NE(nullptr, r);
    EXPECT_EQ(level, r->level) << code;
  }
  const uint32_t stored = Stored();
  SharedSpec spec;
  spec.version = 4;
  EXPECT_EQ(nullptr, CTraceMgr::AddSharedRecord(&store, SharedBuffer(spec).data(), kSharedRecordSize, 0, kModeBuild));
  spec = SharedSpec();
  spec.text.clear();
  EXPECT_EQ(nullptr, CTraceMgr::AddSharedRecord(&store, SharedBuffer(spec).data(), kSharedRecordSize, 0, kModeBuild));
  spec = SharedSpec();
  EXPECT_EQ(nullptr,
            CTraceMgr::AddSharedRecord(&store, SharedBuffer(spec).data(), kSharedRecordSize, kCoreFlag, kModeBuild));
  Bytes shortBuffer = SharedBuffer(spec);
  shortBuffer.resize(kSharedRecordSize - 1);
  EXPECT_EQ(nullptr, CTraceMgr::AddSharedRecord(&store, guard.Place(shortBuffer), shortBuffer.size(), 0, kModeBuild));
  EXPECT_EQ(stored, Stored());
}

TEST_F(Import, SharedBufferModuleFieldIsBounded) {
  SharedSpec spec;
  spec.module = Narrow(std::string(kSharedModuleBytes, 'z'));  // no terminator in its field
  spec.text = Narrow("t");
  TraceRecord* r = CTraceMgr::AddSharedRecord(&store, SharedBuffer(spec).data(), kSharedRecordSize, 0, kModeBuild);
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(std::wstring(127, L'z'), r->Module());
  EXPECT_STREQ(L"t", r->Message());
}

Bytes QrvRecord(uint16_t lengthField, const std::string& text) {
  Bytes r(kQrvTextOffset, 0);
  Put16(&r[0], lengthField);
  Put32(&r[kQrvPidOffset], 9);
  const SYSTEMTIME when = {2021, 6, 2, 1, 12, 0, 0, 123};
  std::memcpy(&r[kQrvTimeOffset], &when, sizeof(when));
  Bytes scrambled(text.begin(), text.end());
  UnscrambleBytes(scrambled.data(), scrambled.size());
  r.insert(r.end(), scrambled.begin(), scrambled.end());
  return r;
}

TEST_F(Import, QrvRecords) {
  Bytes q = QrvRecord(5, "hello");
  TraceRecord* r = CTraceMgr::AddQrvRecord(&store, 0, guard.Place(q), q.size(), kModeBuild);
  ASSERT_NE(nullptr, r);
  EXPECT_STREQ(L"qrv", r->Module());
  EXPECT_STREQ(L"hello", r->Message());
  EXPECT_EQ(9u, r->pid);
  EXPECT_EQ(0u, r->tid);
  EXPECT_EQ(kLevelInfo, r->level);
  EXPECT_EQ(1622548800u, r->time);
  EXPECT_EQ(123, r->milliseconds);
  EXPECT_EQ(kNetFlag, r->groupFlag);

  q = QrvRecord(5000, std::string(5000, 'q'));
  r = CTraceMgr::AddQrvRecord(&store, 0, guard.Place(q), q.size(), kModeBuild);
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(std::wstring(2047, L'q'), r->Message());

  q = QrvRecord(5000, "only ten b");  // the source holds fewer bytes than the length says
  r = CTraceMgr::AddQrvRecord(&store, 0, guard.Place(q), q.size(), kModeBuild);
  ASSERT_NE(nullptr, r);
  EXPECT_STREQ(L"only ten b", r->Message());

  q = QrvRecord(5, "hello");
  EXPECT_EQ(nullptr, CTraceMgr::AddQrvRecord(&store, kNetFlag, q.data(), q.size(), kModeBuild));
  EXPECT_EQ(nullptr, CTraceMgr::AddQrvRecord(&store, 0, guard.Place(Bytes(21, 0)), 21, kModeBuild));
  EXPECT_EQ(3u, Stored());
}

// ---------------------------------------------------------------------------

TEST_F(Import, ScanModeOfEveryImporterStoresNothing) {
  const std::string dbg = "(app:1:2)m";
  const Bytes dbwin = DbwinBuffer(1, "m");
  const Bytes shared = SharedBuffer(SharedSpec());
  const Bytes qrv = QrvRecord(1, "m");
  EXPECT_EQ(nullptr, CTraceMgr::AddRecord(&store, 0, MakeNarrow(NarrowSpec()).data(), 1, kModeScan));
  EXPECT_EQ(nullptr, CTraceMgr::AddNetRecord(&store, 0, ToBigEndian(MakeNarrow(NarrowSpec())).data(), kModeScan));
  EXPECT_EQ(nullptr, CTraceMgr::AddDbgText(&store, dbg.data(), dbg.data() + dbg.size(), 0, kModeScan));
  EXPECT_EQ(nullptr, CTraceMgr::AddTextLine(&store, L"info", L"", L"app", L"1:2", L"m", kModeScan));
  EXPECT_EQ(nullptr, CTraceMgr::AddDbwin(&store, dbwin.data(), dbwin.size(), 0, kModeScan));
  EXPECT_EQ(nullptr, CTraceMgr::AddSharedRecord(&store, shared.data(), shared.size(), 0, kModeScan));
  EXPECT_EQ(nullptr, CTraceMgr::AddQrvRecord(&store, 0, qrv.data(), qrv.size(), kModeScan));
  EXPECT_EQ(0u, Stored());
}

TEST_F(Import, SequenceNumbersRunOnAcrossRoads) {
  const std::string dbg = "(app:1:2)m";
  const Bytes dbwin = DbwinBuffer(1, "m");
  TraceRecord* records[] = {
      CTraceMgr::AddTraceItem(&store, 0, kLevelInfo, L"app", nullptr, L"m", 1, 2, kNoon2023, 0, nullptr, nullptr,
                              kModeBuild, kLiveMessageLimit),
      CTraceMgr::AddRecord(&store, 0, MakeNarrow(NarrowSpec()).data(), 1, kModeBuild),
      CTraceMgr::AddTextLine(&store, L"info", L"", L"app", L"1:2", L"m", kModeBuild),
      CTraceMgr::AddDbgText(&store, dbg.data(), dbg.data() + dbg.size(), 0, kModeBuild),
      CTraceMgr::AddDbwin(&store, dbwin.data(), dbwin.size(), 0, kModeBuild),
  };
  for (uint32_t i = 0; i < 5; ++i) {
    ASSERT_NE(nullptr, records[i]);
    EXPECT_EQ(i + 1, records[i]->sequence);
  }
}

}  // namespace
