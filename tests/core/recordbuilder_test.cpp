#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "core/ModuleGroups.h"
#include "core/RecordBuilder.h"
#include "core/StrUtil.h"
#include "core/TraceStore.h"

namespace {

constexpr char kGroupsText[] = "[CORE]\nM=app;kernel.dll\n[NET]\nM=net;dbwin;qrv\n";
constexpr uint32_t kCoreFlag = 1;
constexpr uint32_t kCatchAllFlag = 4;  // after two groups
constexpr uint32_t kNoon2023 = 1700000000;  // 2023-11-14 22:13:20 UTC

// A known group table and an empty block-word list for every test; both are
// process-wide, so each test leaves them as it found them.
class Builder : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(1, g_moduleGroups.LoadFromText(kGroupsText, sizeof(kGroupsText) - 1));
    g_blockWords.Clear();
    ASSERT_EQ(1, store.GrowBuffer(4096));
    // Reserved bytes are never zero by chance: every terminator the builder
    // relies on must be written by it.
    std::memset(store.Buffer()->Bytes() + kTraceHeaderSize, 0x6E, store.Buffer()->capacity - kTraceHeaderSize);
  }
  void TearDown() override {
    g_moduleGroups.Clear();
    g_blockWords.Clear();
  }

  TraceRecord* Build(const wchar_t* message, uint32_t level = kLevelInfo, const wchar_t* module = L"app",
                     const wchar_t* hint = nullptr, const wchar_t* sub = nullptr,
                     uint32_t limit = kLiveMessageLimit) {
    return CTraceMgr::AddTraceItem(&store, 0, level, module, hint, message, 1, 2, kNoon2023, 0, nullptr, sub,
                                   kModeBuild, limit);
  }
  void Scan(const wchar_t* message) {
    EXPECT_EQ(nullptr, CTraceMgr::AddTraceItem(&store, 0, kLevelInfo, L"app", nullptr, message, 1, 2, kNoon2023, 0,
                                               nullptr, nullptr, kModeScan, kLiveMessageLimit));
  }

  CTraceFile store;
};

std::wstring MarkerFor(const char* word) {
  char encoded[256] = {};
  const size_t n = Base64Encode(word, std::strlen(word), encoded, sizeof(encoded));
  std::wstring text = L"register ";
  text += kBlockWordMarker;
  for (size_t i = 0; i < n; ++i) text += wchar_t(encoded[i]);
  return text;
}

TEST_F(Builder, GoldenLayoutOfOneRecord) {
  const uint32_t stamp[2] = {0x11223344u, 0x55667788u};
  TraceRecord* r = CTraceMgr::AddTraceItem(&store, 0, 0x7F0004u, L"app", L"hint", L"hello", 1234, 5678,
                                           kNoon2023, 7, stamp, L"sub", kModeBuild, kLiveMessageLimit);
  ASSERT_NE(nullptr, r);

  // The fixed part, byte for byte; the group-name pointer is checked apart.
  uint8_t expected[112] = {};
  const auto put16 = [&](size_t at, uint16_t v) { std::memcpy(expected + at, &v, 2); };
  const auto put32 = [&](size_t at, uint32_t v) { std::memcpy(expected + at, &v, 4); };
  put16(0, 176);     // 112 + 2 * (12 + 4 + 5 + 6 + 4) + 3, rounded down to 4
  expected[2] = 3;   // version
  put16(4, 1);       // stamp valid
  expected[6] = 2;   // UTF-16
  put32(8, 4);       // mark bits dropped
  put32(12, 1234);
  put32(16, 5678);
  put32(20, 1);      // first sequence
  put32(24, kNoon2023);
  put16(28, 7);
  put16(30, 136);    // "[1234:5678]" takes 12 units
  put16(32, 144);
  put16(34, 154);
  put32(36, 0x11223344u);
  put32(40, 0x55667788u);
  put16(48, 166);
  put32(52, kCoreFlag);
  const wchar_t timeText[] = L"22:13:20.007 11/14/23";
  std::memcpy(expected + 64, timeText, sizeof(timeText));
  const auto* bytes = reinterpret_cast<const uint8_t*>(r);
  for (size_t i = 0; i < 112; ++i) {
    if (i >= 56 && i < 64) continue;
    EXPECT_EQ(expected[i], bytes[i]) << "byte " << i;
  }
  EXPECT_STREQ(L"CORE", r->groupName);

  const wchar_t strings[] = L"[1234:5678]\0app\0hint\0hello\0sub";
  EXPECT_EQ(0, std::memcmp(bytes + 112, strings, sizeof(strings)));
  EXPECT_EQ(176u, store.Buffer()->write - kTraceHeaderSize);
  EXPECT_EQ(1u, store.Buffer()->recordCount);
}

struct StringCase {
  const char* name;
  const wchar_t* module;
  const wchar_t* hint;
  std::wstring message;
  const wchar_t* sub;
  uint32_t limit;
  std::wstring module_;
  std::wstring hint_;
  std::wstring message_;
  std::wstring sub_;
};

class BuilderStrings : public Builder, public testing::WithParamInterface<StringCase> {};

TEST_P(BuilderStrings, StoredAsCutAndTrimmed) {
  const StringCase& c = GetParam();
  TraceRecord* r = Build(c.message.c_str(), kLevelInfo, c.module, c.hint, c.sub, c.limit);
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(c.module_, r->Module());
  EXPECT_EQ(c.hint_, r->Hint());
  EXPECT_EQ(c.message_, r->Message());
  EXPECT_EQ(c.sub_, r->SubName());

  // Absent strings take no room: they point at the terminator before them.
  const size_t moduleUnits = wcslen(r->Module()) + 1;
  if (c.hint_.empty()) {
    EXPECT_EQ(r->moduleOffset + 2 * moduleUnits - 2, r->hintOffset);
    EXPECT_EQ(r->moduleOffset + 2 * moduleUnits, r->messageOffset);
  }
  EXPECT_LE(r->subNameOffset + 2 * (wcslen(r->SubName()) + 1), r->length);
  EXPECT_EQ(0u, r->length % 4);
  EXPECT_EQ(r->length, store.Buffer()->write - kTraceHeaderSize);

  // A caller that knows the message's length gets the same record (the
  // bytes that round its length up to four are never written).
  const size_t used = r->subNameOffset + 2 * (wcslen(r->SubName()) + 1);
  const std::vector<uint8_t> counted(reinterpret_cast<const uint8_t*>(r), reinterpret_cast<const uint8_t*>(r) + used);
  const uint16_t countedLength = r->length;
  TraceRecord* told = CTraceMgr::AddTraceItem(&store, 0, kLevelInfo, c.module, c.hint, c.message.c_str(), 1, 2,
                                              kNoon2023, 0, nullptr, c.sub, kModeBuild, c.limit, c.message.size());
  ASSERT_NE(nullptr, told);
  EXPECT_EQ(countedLength, told->length);
  told->sequence = reinterpret_cast<const TraceRecord*>(counted.data())->sequence;  // r may have moved
  EXPECT_EQ(counted, std::vector<uint8_t>(reinterpret_cast<const uint8_t*>(told),
                                          reinterpret_cast<const uint8_t*>(told) + used));
}

// Names of every length up to a few copy steps are stored whole, and never
// with a unit of what follows them in memory.
TEST_F(Builder, NamesOfEveryShortLengthAreStoredWhole) {
  const std::wstring letters = L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOP";
  ASSERT_EQ(1, store.GrowBuffer(1u << 16));
  for (size_t n = 1; n <= letters.size(); ++n) {
    const std::wstring name = letters.substr(0, n);
    TraceRecord* r = Build(L"m", kLevelInfo, name.c_str(), name.c_str(), name.c_str());
    ASSERT_NE(nullptr, r) << n;
    EXPECT_EQ(name, r->Module()) << n;
    EXPECT_EQ(name, r->Hint()) << n;
    EXPECT_EQ(name, r->SubName()) << n;
    EXPECT_STREQ(L"m", r->Message()) << n;
    EXPECT_STREQ(L"[1:2]", r->ProcThreadText()) << n;
  }
}

const std::wstring kLong(5000, L'x');
const std::wstring kName200(200, L'n');

INSTANTIATE_TEST_SUITE_P(
    Table, BuilderStrings,
    testing::Values(
        StringCase{"CutToLimit", L"app", nullptr, kLong, nullptr, 2048, L"app", L"", kLong.substr(0, 2047), L""},
        StringCase{"IsoLimit", L"app", nullptr, kLong, nullptr, kIsoMessageLimit, L"app", L"", kLong, L""},
        StringCase{"LeadingLinesTrailingBlanks", L"app", nullptr, L"\r\n\r\nabc  \r\n", nullptr, 2048, L"app", L"",
                   L"abc", L""},
        StringCase{"InnerCrLfBecomesBlanks", L"app", nullptr, L"a\r\nb", nullptr, 2048, L"app", L"", L"a  b", L""},
        StringCase{"TabsStayInside", L"app", nullptr, L"a\tb\t", nullptr, 2048, L"app", L"", L"a\tb", L""},
        StringCase{"EmptyHint", L"app", L"", L"m", nullptr, 2048, L"app", L"", L"m", L""},
        StringCase{"NewlineOnlyHint", L"app", L"\r\n", L"m", nullptr, 2048, L"app", L"", L"m", L""},
        StringCase{"HintTrimmed", L"app", L"\nh \t", L"m", nullptr, 2048, L"app", L"h", L"m", L""},
        StringCase{"NullModule", nullptr, nullptr, L"m", nullptr, 2048, L"", L"", L"m", L""},
        StringCase{"LongNamesCutTo127", kName200.c_str(), kName200.c_str(), L"m", kName200.c_str(), 2048,
                   kName200.substr(0, 127), kName200.substr(0, 127), L"m", kName200.substr(0, 127)},
        StringCase{"EmptyMessage", L"app", nullptr, L"", nullptr, 2048, L"app", L"", L"", L""},
        StringCase{"LimitOne", L"app", nullptr, L"abc", nullptr, 1, L"app", L"", L"", L""},
        StringCase{"SubNameKept", L"app", nullptr, L"m", L"worker", 2048, L"app", L"", L"m", L"worker"}),
    [](const testing::TestParamInfo<StringCase>& info) { return std::string(info.param.name); });

TEST_F(Builder, NullMessageIsStoredEmpty) {
  TraceRecord* r = Build(nullptr);
  ASSERT_NE(nullptr, r);
  EXPECT_STREQ(L"", r->Message());
}

TEST_F(Builder, SequenceNumbersFollowWithoutGaps) {
  for (uint32_t i = 1; i <= 5; ++i) {
    TraceRecord* r = Build(L"m");
    ASSERT_NE(nullptr, r);
    EXPECT_EQ(i, r->sequence);
  }
  EXPECT_EQ(5u, store.Buffer()->lastSequence);
}

TEST_F(Builder, StampAbsentLeavesFieldsClear) {
  TraceRecord* r = Build(L"m");
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(0, r->flags);
  EXPECT_EQ(0u, r->Stamp());
}

TEST_F(Builder, GroupIndexOutsideTableFallsToCatchAll) {
  for (int group : {-1, 99}) {
    TraceRecord* r = CTraceMgr::AddTraceItem(&store, group, kLevelInfo, L"x", nullptr, L"m", 1, 2, kNoon2023, 0,
                                             nullptr, nullptr, kModeBuild, kLiveMessageLimit);
    ASSERT_NE(nullptr, r);
    EXPECT_EQ(kCatchAllFlag, r->groupFlag);
    EXPECT_STREQ(L"UNKNOWN", r->groupName);
  }
}

// A store that cannot grow: reservations past its first page fail.
class CFixedStore : public CTraceBase {
 public:
  CFixedStore() {
    m_block.resize(256);
    m_buffer = reinterpret_cast<TraceBufferHeader*>(m_block.data());
    InitBufferHeader(m_buffer, 256);
  }
  int GrowBuffer(uint32_t) override { return 0; }

 private:
  std::vector<uint64_t> m_block;  // 8-byte aligned
};

TEST_F(Builder, FullStoreStoresNothingAndKeepsTheSequence) {
  CFixedStore full;
  const std::wstring big(200, L'b');
  EXPECT_EQ(nullptr, CTraceMgr::AddTraceItem(&full, 0, kLevelInfo, L"app", nullptr, big.c_str(), 1, 2, kNoon2023,
                                             0, nullptr, nullptr, kModeBuild, kLiveMessageLimit));
  EXPECT_EQ(0u, full.Buffer()->lastSequence);
  EXPECT_EQ(0u, full.Buffer()->recordCount);
}

struct TimeCase {
  uint32_t time;
  uint16_t milliseconds;
  const wchar_t* text;
};

class BuilderTimeText : public testing::TestWithParam<TimeCase> {};

TEST_P(BuilderTimeText, Formatted) {
  const TimeCase& c = GetParam();
  wchar_t text[kRecordTimeTextUnits];
  FormatRecordTimeText(c.time, c.milliseconds, text);
  EXPECT_STREQ(c.text, text);
  // The per-thread cache of the last second must not leak into another one.
  FormatRecordTimeText(c.time + 1, 0, text);
  FormatRecordTimeText(c.time, c.milliseconds, text);
  EXPECT_STREQ(c.text, text);
}

INSTANTIATE_TEST_SUITE_P(Table, BuilderTimeText,
                         testing::Values(TimeCase{kNoon2023, 7, L"22:13:20.007 11/14/23"},
                                         TimeCase{0, 0, L"00:00:00.000 01/01/70"},
                                         TimeCase{kNoon2023, 999, L"22:13:20.999 11/14/23"},
                                         TimeCase{kNoon2023, 1234, L"22:13:20.1234 11/14/23"},
                                         TimeCase{0xFFFFFFFFu, 0, L"N/A"},    // -1
                                         TimeCase{0x80000000u, 0, L"N/A"},    // before 1970
                                         TimeCase{0x7FFFFFFFu, 0, L"03:14:07.000 01/19/38"}));

// The time text agrees with the system's own conversion over years of
// seconds (a prime step, so every time of day comes round) and over every
// second around an hour's change.
TEST(BuilderTimeTextSweep, AgreesWithTheSystemConversion) {
  constexpr uint32_t kYears = 68u * 365 * 24 * 3600;
  constexpr uint32_t kPrimeStep = 99991;
  auto expected = [](uint32_t time) {
    const __time64_t seconds = time;
    struct tm local {};
    EXPECT_EQ(0, _localtime64_s(&local, &seconds));
    wchar_t clock[32];
    wchar_t date[32];
    wcsftime(clock, 32, L"%H:%M:%S", &local);
    wcsftime(date, 32, L"%m/%d/%y", &local);
    return std::wstring(clock) + L".042 " + date;
  };
  std::vector<uint32_t> times;
  for (uint32_t t = 0; t < kYears; t += kPrimeStep) times.push_back(t);
  for (uint32_t t = kNoon2023 - 5; t < kNoon2023 + 3700; ++t) times.push_back(t);
  for (uint32_t t : times) {
    wchar_t text[kRecordTimeTextUnits];
    ASSERT_EQ(1, FormatRecordTimeText(t, 42, text)) << t;
    ASSERT_EQ(expected(t), std::wstring(text)) << t;
  }
}

TEST_F(Builder, UnconvertibleTimeStillStoresTheRecord) {
  TraceRecord* r = CTraceMgr::AddTraceItem(&store, 0, kLevelInfo, L"app", nullptr, L"m", 1, 2, 0xFFFFFFFFu, 0,
                                           nullptr, nullptr, kModeBuild, kLiveMessageLimit);
  ASSERT_NE(nullptr, r);
  EXPECT_STREQ(L"N/A", r->timeText);
}

TEST_F(Builder, CopyRecordTakesTheNextSequenceOfTheTarget) {
  TraceRecord* source = Build(L"copied", kLevelWarning);
  ASSERT_NE(nullptr, source);
  CTraceFile target;
  ASSERT_EQ(1, target.GrowBuffer(4096));
  target.Buffer()->lastSequence = 41;
  TraceRecord* copy = CTraceMgr::CopyRecord(&target, source);
  ASSERT_NE(nullptr, copy);
  EXPECT_EQ(42u, copy->sequence);
  EXPECT_EQ(42u, target.Buffer()->lastSequence);
  EXPECT_EQ(0, std::memcmp(reinterpret_cast<uint8_t*>(copy) + 24, reinterpret_cast<uint8_t*>(source) + 24,
                           source->length - 24));
  EXPECT_STREQ(L"copied", copy->Message());

  CFixedStore full;
  const std::wstring big(200, L'b');
  EXPECT_EQ(nullptr, CTraceMgr::CopyRecord(&full, Build(big.c_str())));
  EXPECT_EQ(0u, full.Buffer()->lastSequence);
}

TEST_F(Builder, CopyRecordRefusesALengthBelowTheFixedPart) {
  TraceRecord* source = Build(L"m");
  ASSERT_NE(nullptr, source);
  source->length = 40;
  CTraceFile target;
  ASSERT_EQ(1, target.GrowBuffer(4096));
  EXPECT_EQ(nullptr, CTraceMgr::CopyRecord(&target, source));
  EXPECT_EQ(0u, target.Buffer()->recordCount);
}

TEST_F(Builder, ScanModeStoresNothing) {
  Scan(L"plain text");
  Scan(MarkerFor("word").c_str());
  EXPECT_EQ(0u, store.Buffer()->recordCount);
  EXPECT_EQ(0u, store.Buffer()->lastSequence);
}

TEST_F(Builder, BlockWordFromScanMarksLaterBuilds) {
  Scan((L"\r\n" + MarkerFor("secret")).c_str());
  ASSERT_EQ(1u, g_blockWords.Count());

  struct Case {
    const wchar_t* message;
    uint32_t sent;
    uint32_t stored;
  } cases[] = {
      {L"a secret here", kLevelError, kLevelPersonal},
      {L"secret", kLevelDebug, kLevelPersonal},
      {L"\r\nsecret at the start", kLevelInfo, kLevelPersonal},
      {L"only a secre", kLevelWarning, kLevelWarning},  // part of the word
      {L"SECRET", kLevelInfo, kLevelInfo},              // compared with case
  };
  for (const Case& c : cases) {
    TraceRecord* r = Build(c.message, c.sent);
    ASSERT_NE(nullptr, r);
    EXPECT_EQ(c.stored, r->level) << testing::PrintToString(std::wstring(c.message));
  }
}

TEST_F(Builder, MarkerIsStoredLikeAnyMessageAndRegistersOnlyInScanMode) {
  const std::wstring marker = MarkerFor("hidden");
  TraceRecord* r = Build(marker.c_str());
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(marker, r->Message());
  EXPECT_EQ(0u, g_blockWords.Count());
  r = Build(L"hidden");
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(kLevelInfo, r->level);
}

TEST_F(Builder, UnusableMarkersRegisterNothing) {
  Scan(kBlockWordMarker);                                  // nothing behind it
  Scan((std::wstring(kBlockWordMarker) + L"AA==").c_str());  // decodes to one zero byte
  std::wstring huge(kBlockWordMarker);
  huge.append(5468, L'Q');                                 // would decode to 4096 bytes or more
  Scan(huge.c_str());
  EXPECT_EQ(0u, g_blockWords.Count());
}

TEST_F(Builder, DecodedWordIsReadInTheAnsiCodePage) {
  Scan(MarkerFor("caf\xe9").c_str());  // code page 1252
  TraceRecord* r = Build(L"the caf\u00e9 is open");
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(kLevelPersonal, r->level);
}

TEST(BlockWordList, AddKeepsWordsDistinct) {
  CBlockWordList list;
  EXPECT_EQ(1, list.Add(L"alpha"));
  EXPECT_EQ(0, list.Add(L"alpha"));
  EXPECT_EQ(1, list.Add(L"Alpha"));
  EXPECT_EQ(0, list.Add(L""));
  EXPECT_EQ(0, list.Add(nullptr));
  EXPECT_EQ(2u, list.Count());
}

struct FindCase {
  const wchar_t* text;
  bool found;
};

class BlockWordMatch : public testing::TestWithParam<FindCase> {
 protected:
  void SetUp() override {
    for (const wchar_t* word : {L"q", L"ab", L"abcdef", L"abxy", L"\u00c4\u20ac", L"\u4e2d\u6587\u5b57", L"end!"}) {
      ASSERT_EQ(1, list.Add(word));
    }
  }
  CBlockWordList list;
};

TEST_P(BlockWordMatch, FoundWhereAWordOccurs) {
  EXPECT_EQ(GetParam().found, list.FoundIn(GetParam().text)) << testing::PrintToString(std::wstring(GetParam().text));
}

// The test steps over aligned blocks of the text: a word or terminator in
// any place of a block, and a text at any address (odd ones included), give
// the same result.
TEST_P(BlockWordMatch, SameResultAtEveryPlaceAndAddress) {
  constexpr size_t kLongestPad = 9;
  constexpr size_t kShifts = 16;
  for (size_t pad = 0; pad <= kLongestPad; ++pad) {
    const std::wstring text = std::wstring(pad, L' ') + GetParam().text;
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    alignas(16) char buffer[kShifts + 64 * sizeof(wchar_t)];
    ASSERT_LE(kShifts + bytes, sizeof(buffer));
    for (size_t shift = 0; shift < kShifts; ++shift) {
      std::memcpy(buffer + shift, text.c_str(), bytes);
      EXPECT_EQ(GetParam().found, list.FoundIn(reinterpret_cast<const wchar_t*>(buffer + shift)))
          << testing::PrintToString(text) << " shift " << shift;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Table, BlockWordMatch,
                         testing::Values(FindCase{L"", false}, FindCase{L"nothing here", false},
                                         FindCase{L"Q", false}, FindCase{L"a q", true}, FindCase{L"q", true},
                                         FindCase{L"xab", true}, FindCase{L"a", false}, FindCase{L"xa", false},
                                         FindCase{L"AB", false}, FindCase{L"\u00c4\u20ac!", true},
                                         FindCase{L"\u00c4 \u20ac", false}, FindCase{L"x\u4e2d\u6587\u5b57", true},
                                         FindCase{L"\u4e2d\u6587", false}, FindCase{L"the end!", true},
                                         FindCase{L"the end", false}));

TEST(BlockWordList, EmptyListAndNullTextFindNothing) {
  CBlockWordList list;
  EXPECT_FALSE(list.FoundIn(L"anything"));
  list.Add(L"x");
  EXPECT_FALSE(list.FoundIn(nullptr));
  list.Clear();
  EXPECT_FALSE(list.FoundIn(L"x"));
  EXPECT_EQ(0u, list.Count());
}

TEST(BlockWordList, ManyWordsSharingBucketsAllMatch) {
  CBlockWordList list;
  std::vector<std::wstring> words;
  for (int i = 0; i < 300; ++i) {
    words.push_back(L"w" + std::to_wstring(i) + L"z");
    ASSERT_EQ(1, list.Add(words.back().c_str()));
  }
  for (const std::wstring& word : words) {
    EXPECT_TRUE(list.FoundIn((L"<" + word + L">").c_str()));
  }
  EXPECT_FALSE(list.FoundIn(L"w300z w1 z"));
}

// A test skips the units that start no word up to the terminator: it must
// stop there, also for words starting with low units that share the
// terminator's bitmap word, or at the top of the range, and after Clear.
TEST(BlockWordList, SkipEndsAtTheTerminator) {
  CBlockWordList list;
  // A word lies behind the terminator; only the text before it counts.
  const wchar_t text[] = L"no match\0\u0001\t!\uffff\uffffx";
  const wchar_t* const words[] = {L"\u0001", L"\t!", L"\uffff\uffff", L"x"};
  for (int round = 0; round < 2; ++round) {
    for (const wchar_t* word : words) {
      ASSERT_EQ(1, list.Add(word));
    }
    EXPECT_FALSE(list.FoundIn(text));
    EXPECT_TRUE(list.FoundIn(L"a\u0001"));
    EXPECT_TRUE(list.FoundIn(L"\t!"));
    EXPECT_FALSE(list.FoundIn(L"\t"));
    EXPECT_TRUE(list.FoundIn(L"\uffff\uffff"));
    EXPECT_FALSE(list.FoundIn(L"\uffff"));
    list.Clear();
    EXPECT_FALSE(list.FoundIn(text));
  }
}

struct ThreadArgs {
  CBlockWordList* list;
  HANDLE start;
  int found;
};

DWORD WINAPI FindWhileAdding(void* parameter) {
  auto* args = static_cast<ThreadArgs*>(parameter);
  WaitForSingleObject(args->start, INFINITE);
  for (int i = 0; i < 2000; ++i) {
    args->found += args->list->FoundIn(L"looking for k500x in here") ? 1 : 0;
  }
  return 0;
}

TEST(BlockWordList, TestsWhileAnotherThreadAdds) {
  CBlockWordList list;
  ThreadArgs args{&list, CreateEventW(nullptr, TRUE, FALSE, nullptr), 0};
  ASSERT_NE(nullptr, args.start);
  HANDLE reader = CreateThread(nullptr, 0, FindWhileAdding, &args, 0, nullptr);
  ASSERT_NE(nullptr, reader);
  SetEvent(args.start);
  for (int i = 0; i < 1000; ++i) {
    list.Add((L"k" + std::to_wstring(i) + L"x").c_str());
  }
  WaitForSingleObject(reader, INFINITE);
  CloseHandle(reader);
  CloseHandle(args.start);
  EXPECT_EQ(1000u, list.Count());
  EXPECT_TRUE(list.FoundIn(L"looking for k500x in here"));
}

TEST(StrUtilTrim, TrimTrailingSpaceAndSkipLeadingNewlines) {
  struct Case {
    const wchar_t* text;
    const wchar_t* trimmed;
    const wchar_t* skipped;
  } cases[] = {
      {L"", L"", L""},
      {L"abc", L"abc", L"abc"},
      {L"a \t\r\n", L"a", L"a \t\r\n"},
      {L"\r\n\r\nx", L"    x", L"x"},
      {L"a\r\nb", L"a  b", L"a\r\nb"},
      {L" \t", L"", L" \t"},
      {L"\n\t x", L" \t x", L"\t x"},
      {L"a b  c ", L"a b  c", L"a b  c "},
  };
  for (const Case& c : cases) {
    std::wstring work = c.text;
    EXPECT_STREQ(c.trimmed, TrimTrailingSpace(work.data())) << testing::PrintToString(std::wstring(c.text));
    EXPECT_STREQ(c.skipped, SkipLeadingNewlines(c.text));
  }
  EXPECT_EQ(nullptr, TrimTrailingSpace(nullptr));
  EXPECT_EQ(nullptr, SkipLeadingNewlines(static_cast<const wchar_t*>(nullptr)));
}

}  // namespace
