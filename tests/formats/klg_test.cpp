#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/ModuleGroups.h"
#include "core/RecordBuilder.h"
#include "core/RecordImport.h"
#include "core/TraceStore.h"
#include "formats/Klg.h"
#include "tests/core/TempFolder.h"
#include "tests/formats/TextFixture.h"

namespace {

constexpr char kGroupsText[] = "[CORE]\nM=main.cpp\n";
// 2022-03-01T10:20:30Z (the tests run in UTC).
constexpr uint32_t kStampTime = 1646130030;
constexpr char kStamp[] = "2022-03-01T10:20:30.456Z";

uint32_t Get32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof(v));
  return v;
}

class Klg : public TextStoreTest {
 protected:
  Klg() : TextStoreTest(kGroupsText) {}

  std::wstring Write(const std::string& bytes) {
    const std::wstring path = folder.File(L"x.klg");
    EXPECT_TRUE(WriteFileBytes(path, bytes));
    return path;
  }
  int Load(const std::string& bytes) {
    const std::wstring path = Write(bytes);
    store->SetFileName(path.c_str(), L"x.klg");
    return LoadKlg(store);
  }
};

struct LineCase {
  const char* name;
  std::string line;
  uint32_t level;
  uint32_t tid;
  const wchar_t* module;
  const wchar_t* hint;
  const wchar_t* message;
};

class KlgLine : public Klg, public testing::WithParamInterface<LineCase> {};

TEST_P(KlgLine, Fields) {
  const LineCase& c = GetParam();
  ASSERT_EQ(1, Load(c.line + "\r\n"));
  const auto records = StoredRecords(*store);
  ASSERT_EQ(1u, records.size());
  const TraceRecord* r = records[0];
  EXPECT_EQ(c.level, r->level);
  EXPECT_EQ(c.tid, r->tid);
  EXPECT_EQ(0u, r->pid);
  EXPECT_STREQ(c.module, r->Module());
  EXPECT_STREQ(c.hint, r->Hint());
  EXPECT_STREQ(c.message, r->Message());
  EXPECT_EQ(kStampTime, r->time);
  EXPECT_EQ(456, r->milliseconds);
  EXPECT_STREQ(kKlgGroupName, r->groupName);
  EXPECT_EQ(1u, CountedRecords(*store));
}

const std::string kHead = std::string(kStamp) + " <";

INSTANTIATE_TEST_SUITE_P(
    Table, KlgLine,
    testing::Values(
        LineCase{"Debug", kHead + "Debug> [1234] main.cpp:42  Run: text", kLevelDebug, 1234, L"main.cpp", L"42: Run",
                 L" text"},
        LineCase{"Warn", kHead + "Warn> [7] a.cpp:1  F: w", kLevelWarning, 7, L"a.cpp", L"1: F", L" w"},
        LineCase{"Error", kHead + "Error> [7] a.cpp:1  F: e", kLevelError, 7, L"a.cpp", L"1: F", L" e"},
        LineCase{"Info", kHead + "Info> [7] a.cpp:1  F: i", kLevelInfo, 7, L"a.cpp", L"1: F", L" i"},
        // Level words are compared with regard to case.
        LineCase{"LowerCaseWarnIsInfo", kHead + "warn> [7] a.cpp:1  F: i", kLevelInfo, 7, L"a.cpp", L"1: F", L" i"},
        LineCase{"ScopedFunction", kHead + "Info> [7] a.cpp:9  ns::Class::Method: text", kLevelInfo, 7, L"a.cpp",
                 L"9: Method", L" text"},
        LineCase{"ColonIsLast", kHead + "Info> [7] a.cpp:9  F:", kLevelInfo, 7, L"a.cpp", L"9: F", L""},
        LineCase{"NoClosingColon", kHead + "Info> [7] a.cpp:9  no colon here", kLevelInfo, 7, L"a.cpp", L"9:",
                 L"no colon here"},
        LineCase{"MessageKeepsColons", kHead + "Info> [7] a.cpp:9  F: a: b::c", kLevelInfo, 7, L"a.cpp", L"9: F",
                 L" a: b::c"},
        LineCase{"OnlyTimestamp", std::string(kStamp), kLevelInfo, 0, L"", L"", L""},
        // A line off the grammar keeps its text behind the timestamp as the message.
        LineCase{"ThreadNeverClosed", kHead + "Error> [7 a.cpp:9", kLevelError, 0, L"", L"", L"<Error> [7 a.cpp:9"}),
    [](const testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

TEST_F(Klg, ItemParsesTheGrammar) {
  CKelTraceItem item;
  EXPECT_EQ(1, item.ParseLine(kHead + "Warn> [0042] dir/file.cpp:120  ns::C::M: the: message"));
  EXPECT_EQ(kStamp, item.m_timestamp);
  EXPECT_EQ("Warn", item.m_level);
  EXPECT_EQ("0042", item.m_thread);
  EXPECT_EQ("dir/file.cpp", item.m_file);
  EXPECT_EQ("120", item.m_lineNumber);
  EXPECT_EQ("M", item.m_function);
  EXPECT_EQ(" the: message", item.m_message);
  EXPECT_EQ("pilvo", item.m_subName);
  EXPECT_EQ(kLevelWarning, item.ParseLevel());

  // Each missing separator ends the parse, later fields stay empty.
  const std::string misses[] = {kHead + "Warn [1] f:1  F: m", kHead + "Warn> [1 f:1  F: m",
                                kHead + "Warn> [1] f1  F m", kHead + "Warn> [1] f:1", "short", ""};
  for (const std::string& line : misses) {
    CKelTraceItem bad;
    EXPECT_EQ(0, bad.ParseLine(line)) << line;
    EXPECT_EQ("", bad.m_message) << line;
    EXPECT_EQ("", bad.m_function) << line;
  }
}

// Timestamps as the writer makes them, and others that only the C
// library's reading of "%d-%d-%dT%d:%d:%d.%dZ" accepts, with and without
// the minute cache a reader keeps: the cache is asked for minutes in an
// order that a wrong key would answer from another minute.
TEST_F(Klg, TimestampsOfEveryShape) {
  struct {
    const char* stamp;
    bool read;
    uint32_t time;
    uint16_t milliseconds;
  } cases[] = {
      {"2022-03-01T10:20:30.456Z", true, kStampTime, 456},
      {"2022-03-01T10:20:59.000Z", true, kStampTime + 29, 0},
      {"2022-03-01T10:21:30.456Z", true, kStampTime + 60, 456},
      {"2022-03-01T11:20:30.456Z", true, kStampTime + 3600, 456},
      {"2022-03-02T10:20:30.456Z", true, kStampTime + 86400, 456},
      {"2022-04-01T10:20:30.456Z", true, kStampTime + 31 * 86400, 456},
      {"2023-03-01T10:20:30.456Z", true, kStampTime + 365 * 86400, 456},
      {"2022-03-01T10:20:60.000Z", true, kStampTime + 30, 0},   // the second carries over
      {"2022-03-01T10:20:99.000Z", true, kStampTime + 69, 0},
      {"2022-02-29T00:00:00.000Z", true, 1646092800, 0},        // 1 March
      {"2022-3-1T10:20:30.7Z", true, kStampTime, 7},
      {" 2022-03-01T10:20:30.456Z", true, kStampTime, 456},
      {"2022-03-01T10:20:30.456X", true, kStampTime, 456},     // the Z is not looked at
      {"2022-03-01T10:20:30.4567", true, kStampTime, 4567},
      {"+2022-03-01T10:20:30.456Z", true, kStampTime, 456},
      {"2022-03-01T10:20:30,456Z", false, 0, 0},
      {"2022-03-01 10:20:30.456Z", false, 0, 0},
      {"1970-01-01T00:00:00.000Z", false, 0, 0},                // not after 1970
      {"1970-01-01T00:00:01.000Z", true, 1, 0},
      {"1969-12-31T23:59:59.000Z", false, 0, 0},
      {"2106-02-07T06:28:16.000Z", false, 0, 0},                // past 32 bits
      {"2022-03-01T10:2", false, 0, 0},
      {"", false, 0, 0},
  };
  CLocalMinuteCache minutes;
  for (int pass = 0; pass < 2; ++pass) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.stamp);
      CKelTraceItem item;
      item.ParseLine(std::string(c.stamp) + " <Info> [1] a.cpp:1  F: m");
      for (CLocalMinuteCache* cache : {static_cast<CLocalMinuteCache*>(nullptr), &minutes}) {
        uint32_t time = 0;
        uint16_t milliseconds = 0;
        EXPECT_EQ(c.read, item.ParseTime(&time, &milliseconds, cache));
        EXPECT_EQ(c.time, time);
        EXPECT_EQ(c.milliseconds, milliseconds);
      }
    }
  }
}

// Lines read one after another through one item: what a line does not
// reach stays empty, whatever the line before it held.
TEST_F(Klg, EachLineStartsFromEmptyFields) {
  const std::string full = kHead + "Error> [42] full.cpp:7  ns::Fn: all fields";
  ASSERT_EQ(1, Load(full + "\n" + kHead + "Warn> [9 cut.cpp:1\n" + full + "\n" + kHead + "Debug> [8] nocolon\n" +
                    full + "\n" + kHead + "Info> [7] b.cpp:3\n" + full + "\n" + kHead + "Info> [6] c.cpp:4  F\n"));
  const auto records = StoredRecords(*store);
  ASSERT_EQ(8u, records.size());
  struct {
    uint32_t level, tid;
    const wchar_t *module, *hint, *message;
  } expected[] = {
      {kLevelError, 42, L"full.cpp", L"7: Fn", L" all fields"},
      {kLevelWarning, 0, L"", L"", L"<Warn> [9 cut.cpp:1"},
      {kLevelDebug, 8, L"", L"", L"<Debug> [8] nocolon"},
      {kLevelInfo, 7, L"b.cpp", L"", L"<Info> [7] b.cpp:3"},
      {kLevelInfo, 6, L"c.cpp", L"4:", L"F"},
  };
  for (size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE("record " + std::to_string(i));
    const auto& e = expected[i % 2 == 0 ? 0 : i / 2 + 1];
    EXPECT_EQ(e.level, records[i]->level);
    EXPECT_EQ(e.tid, records[i]->tid);
    EXPECT_STREQ(e.module, records[i]->Module());
    EXPECT_STREQ(e.hint, records[i]->Hint());
    EXPECT_STREQ(e.message, records[i]->Message());
  }
}

TEST_F(Klg, RecordsAreNarrowPlainAnsiWithConsecutiveSequenceNumbers) {
  const std::wstring path = Write(kHead + "Info> [1] a.cpp:1  F: one\n\n\n" + kHead + "Info> [2] a.cpp:2  F: two\n");
  CKelTraceFileHelper helper;
  ASSERT_EQ(1, helper.Open(path.c_str()));
  auto first = helper.ReadNext();
  ASSERT_NE(nullptr, first);
  const uint8_t* r = first->Record();
  NarrowHead head;
  ASSERT_TRUE(ReadNarrowHead(r, &head));
  EXPECT_EQ(kNarrowEncodingAnsi, head.encoding);
  EXPECT_EQ(0, head.cipherKind);
  EXPECT_EQ(kKlgModuleOffset, head.moduleOffset);
  EXPECT_STREQ("a.cpp", reinterpret_cast<const char*>(r + head.moduleOffset));
  EXPECT_STREQ("1: F", reinterpret_cast<const char*>(r + head.hintOffset));
  EXPECT_STREQ(" one", reinterpret_cast<const char*>(r + head.messageOffset));
  const uint16_t subAt = uint16_t(r[48] | (r[49] << 8));
  EXPECT_STREQ("pilvo", reinterpret_cast<const char*>(r + subAt));
  EXPECT_EQ(head.length, subAt + sizeof("pilvo"));
  const uint32_t sequence = Get32(r + kNarrowSequenceOffset);
  EXPECT_EQ(first->ConsumedLength(), uint32_t(kHead.size() + std::strlen("Info> [1] a.cpp:1  F: one") + 2));
  auto second = helper.ReadNext();  // empty lines give no items
  ASSERT_NE(nullptr, second);
  EXPECT_EQ(sequence + 1, Get32(second->Record() + kNarrowSequenceOffset));
  EXPECT_EQ(nullptr, helper.ReadNext());
  EXPECT_FALSE(helper.Failed());
}

TEST_F(Klg, EveryLevelAndEmptyLinesInOneFile) {
  ASSERT_EQ(1, Load(kHead + "Debug> [1] a.cpp:1  F: d\r\n\r\n" + kHead + "Info> [2] a.cpp:1  F: i\n\n" + kHead +
                    "Warn> [3] main.cpp:1  F: w\n" + kHead + "Error> [4] a.cpp:1  F: e"));
  const auto records = StoredRecords(*store);
  ASSERT_EQ(4u, records.size());
  const uint32_t levels[] = {kLevelDebug, kLevelInfo, kLevelWarning, kLevelError};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(levels[i], records[i]->level);
    EXPECT_EQ(i + 1, records[i]->tid);
    EXPECT_STREQ(kKlgGroupName, records[i]->groupName);
  }
  // The module still picks the group bit; the name shown is the log's.
  EXPECT_EQ(1u, records[2]->groupFlag);
  EXPECT_EQ(g_moduleGroups.CatchAllFlag(), records[0]->groupFlag);
  EXPECT_EQ(records[0]->sequence + 1, records[1]->sequence);
  EXPECT_EQ(100u, store->Progress());
}

TEST_F(Klg, LineTooLongForOneRecordIsCutNotDropped) {
  const std::string message(20000, 'm');
  ASSERT_EQ(1, Load(kHead + "Info> [1] a.cpp:1  F:" + message + "\n" + kHead + "Info> [2] a.cpp:1  F:after\n"));
  const auto records = StoredRecords(*store);
  ASSERT_EQ(2u, records.size());
  EXPECT_EQ(std::wstring(kLiveMessageLimit - 1, L'm'), records[0]->Message());
  EXPECT_STREQ(L"after", records[1]->Message());

  // The item itself stays a valid narrow record.
  CKelTraceItem item;
  item.ParseLine(kHead + "Info> [1] " + std::string(300, 'f') + ":1  F:" + message);
  item.ComposeFields();
  ASSERT_EQ(1, item.BuildRecord(20000));
  item.FillRecord(0, 0);
  EXPECT_EQ(kMaxNarrowRecord, item.RecordLength());
  NarrowHead head;
  EXPECT_TRUE(ReadNarrowHead(item.Record(), &head));
}

TEST_F(Klg, Utf8MarkDoesNotShiftTheFirstLine) {
  ASSERT_EQ(1, Load("\xEF\xBB\xBF" + kHead + "Warn> [7] a.cpp:1  F: w\n"));
  const auto records = StoredRecords(*store);
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ(kLevelWarning, records[0]->level);
  EXPECT_EQ(kStampTime, records[0]->time);
  EXPECT_STREQ(L" w", records[0]->Message());
}

TEST_F(Klg, LinesWithoutTimestampTakeTheLastOne) {
  ASSERT_EQ(1, Load(kHead + "Error> [1] a.cpp:1  F: first\ncontinued text\n"));
  const auto records = StoredRecords(*store);
  ASSERT_EQ(2u, records.size());
  EXPECT_STREQ(L"continued text", records[1]->Message());
  EXPECT_EQ(kStampTime, records[1]->time);
  EXPECT_EQ(456, records[1]->milliseconds);
}

// A file large enough that helper threads touch the store ahead of the
// records: each line still comes out whole, in order.
TEST_F(Klg, LargeFileKeepsEveryLine) {
  constexpr size_t kFileBytes = 7u << 20;
  std::string text;
  text.reserve(kFileBytes + 128);
  uint32_t lines = 0;
  while (text.size() < kFileBytes) {
    text += kHead + "Warn> [" + std::to_string(lines % 9000) + "] a.cpp:1  F: line " + std::to_string(lines) + "\n";
    ++lines;
  }
  ASSERT_EQ(1, Load(text));
  const auto records = StoredRecords(*store);
  ASSERT_EQ(lines, records.size());
  for (uint32_t i = 0; i < lines; ++i) {
    ASSERT_EQ(L" line " + std::to_wstring(i), records[i]->Message()) << "line " << i;
    ASSERT_EQ(i % 9000, records[i]->tid) << "line " << i;
    ASSERT_EQ(kLevelWarning, records[i]->level) << "line " << i;
  }
}

TEST_F(Klg, FailedOpenEmptyAndHostileFiles) {
  store->SetFileName(folder.File(L"missing.klg").c_str(), L"missing.klg");
  EXPECT_EQ(0, LoadKlg(store));
  EXPECT_EQ(0, LoadKlgItems(store, 10, 1));
  EXPECT_EQ(0, LoadKlg(nullptr));
  EXPECT_EQ(0, Load(""));

  // NULs, a line of 100 KB without a line end, separators past the end.
  std::string hostile(std::string(kHead + "Info> [1] a.cpp:1  F: a") + '\0' + "b\n");
  hostile += kHead + ">\n";
  hostile += kHead + "Info>\n";
  hostile += std::string(26, '<') + ">]:\n";
  hostile += std::string(100000, 'z');
  ASSERT_EQ(1, Load(hostile));
  const auto records = StoredRecords(*store);
  ASSERT_EQ(5u, records.size());
  EXPECT_STREQ(L" a", records[0]->Message());
  EXPECT_EQ(std::wstring(kLiveMessageLimit - 1, L'z'), records[4]->Message());
  EXPECT_EQ(5u, CountedRecords(*store));
}

}  // namespace
