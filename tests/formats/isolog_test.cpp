#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "core/ModuleGroups.h"
#include "core/RecordBuilder.h"
#include "core/TraceStore.h"
#include "formats/TextLogs.h"
#include "tests/core/TempFolder.h"
#include "tests/formats/TextFixture.h"

namespace {

// Two groups: the catch-all group is the third, with bit 2.
constexpr char kGroupsText[] = "[CORE]\nM=app.exe\n[NET]\nM=net.dll\n";
constexpr uint32_t kCatchAll = 0x4;
// 2022-03-01T10:20:30Z (the tests run in UTC).
constexpr uint32_t kStampTime = 1646130030;

class IsoLog : public TextStoreTest {
 protected:
  IsoLog() : TextStoreTest(kGroupsText) {}

  // Writes the bytes and loads them; the reader's result.
  int Load(const std::string& bytes) {
    const std::wstring path = folder.File(L"trace.log");
    EXPECT_TRUE(WriteFileBytes(path, bytes));
    store->SetFileName(path.c_str(), L"trace.log");
    return LoadIsoLog(store, path.c_str());
  }
  std::vector<const TraceRecord*> Records() const { return StoredRecords(*store); }
};

TEST_F(IsoLog, HexThreadKeepsTheWordInFrontOfTheMessage) {
  ASSERT_EQ(1, Load("2022-03-01T10:20:30.456Z [Warn] [0x1A2B] hello\n"));
  const auto records = Records();
  ASSERT_EQ(1u, records.size());
  const TraceRecord* r = records[0];
  EXPECT_EQ(kLevelWarning, r->level);
  EXPECT_EQ(0x1A2Bu, r->tid);
  EXPECT_EQ(0u, r->pid);
  EXPECT_STREQ(L"[0x1A2B]hello", r->Message());
  EXPECT_EQ(kStampTime, r->time);
  EXPECT_EQ(456, r->milliseconds);
  EXPECT_STREQ(kIsoLogModule, r->Module());
  EXPECT_STREQ(L"", r->Hint());
  EXPECT_EQ(1u, CountedRecords(*store));
}

struct LineCase {
  const char* name;
  const char* line;
  uint32_t level;
  uint32_t tid;
  const wchar_t* message;
};

class IsoLogLine : public IsoLog, public testing::WithParamInterface<LineCase> {};

TEST_P(IsoLogLine, LevelThreadAndMessage) {
  const LineCase& c = GetParam();
  ASSERT_EQ(1, Load(c.line));
  const auto records = Records();
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ(c.level, records[0]->level);
  EXPECT_EQ(c.tid, records[0]->tid);
  EXPECT_STREQ(c.message, records[0]->Message());
  EXPECT_EQ(kStampTime, records[0]->time);
}

INSTANTIATE_TEST_SUITE_P(
    Table, IsoLogLine,
    testing::Values(
        LineCase{"DecimalThread", "2022-03-01T10:20:30.456Z [Warn] [1234] hello", kLevelWarning, 1234, L"hello"},
        LineCase{"LevelCaseBlind", "2022-03-01T10:20:30.456Z [ERROR] [7] x\r\n", kLevelError, 7, L"x"},
        LineCase{"DebugLevel", "2022-03-01T10:20:30.456Z (debug) {8} y", kLevelDebug, 8, L"y"},
        LineCase{"OtherLevelIsInfo", "2022-03-01T10:20:30.456Z [Trace] [9] z", kLevelInfo, 9, L"z"},
        LineCase{"ShortLevelWordIsInfo", "2022-03-01T10:20:30.456Z [] [9] z", kLevelInfo, 9, L"z"},
        LineCase{"EndsAfterThread", "2022-03-01T10:20:30.456Z [Info] [5]", kLevelInfo, 5, L""},
        LineCase{"MessageKeepsTabsAndBlanks", "2022-03-01T10:20:30.456Z [Info] [5] a\tb  c", kLevelInfo, 5,
                 L"a\tb  c"},
        LineCase{"Utf8Decoded", "2022-03-01T10:20:30.456Z [Info] [5] caf\xC3\xA9 \xF0\x9F\x98\x80", kLevelInfo, 5,
                 L"caf\u00E9 \U0001F600"},
        LineCase{"StrayByteIsItsOwnCharacter", "2022-03-01T10:20:30.456Z [Info] [5] caf\xE9!", kLevelInfo, 5,
                 L"caf\u00E9!"},
        // A thread word that is no number loses neither the line nor the file.
        LineCase{"ThreadWordNotANumber", "2022-03-01T10:20:30.456Z [Warn] [abc] text", kLevelWarning, 0,
                 L"[abc] text"},
        LineCase{"ThreadOutOf32Bits", "2022-03-01T10:20:30.456Z [Warn] [99999999999] t", kLevelWarning, 0,
                 L"[99999999999] t"},
        LineCase{"HexWithoutDigits", "2022-03-01T10:20:30.456Z [Warn] [0xZZ] t", kLevelWarning, 0, L"[0xZZ] t"},
        LineCase{"NoWordsAtAll", "2022-03-01T10:20:30.456Z", kLevelInfo, 0, L""}),
    [](const testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

TEST_F(IsoLog, ContinuationLinesTakeTheLastTimestampedLine) {
  ASSERT_EQ(1, Load("no timestamp yet\n"
                    "1999 is no year of a log\n"
                    "2022-03-01T10:20:30.456Z [Error] [0x10] first\r\n"
                    "  at frame one\n"
                    "2021 bytes free\n"
                    "2022-03-01T10:20:31 cut timestamp\n"
                    "2022-03-01T10:20:32.001Z [Info] [3] second\n"));
  const auto records = Records();
  // The lines before the first timestamp are not stored.
  ASSERT_EQ(5u, records.size());
  const wchar_t* messages[] = {L"[0x10]first", L"  at frame one", L"2021 bytes free",
                               L"2022-03-01T10:20:31 cut timestamp", L"second"};
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_STREQ(messages[i], records[i]->Message());
    EXPECT_EQ(kLevelError, records[i]->level);
    EXPECT_EQ(0x10u, records[i]->tid);
    EXPECT_EQ(kStampTime, records[i]->time);
    EXPECT_EQ(456, records[i]->milliseconds);
  }
  EXPECT_STREQ(messages[4], records[4]->Message());
  EXPECT_EQ(kStampTime + 2, records[4]->time);
  EXPECT_EQ(1, records[4]->milliseconds);
  EXPECT_EQ(5u, CountedRecords(*store));
}

TEST_F(IsoLog, Utf8MarkDoesNotHideTheFirstLine) {
  ASSERT_EQ(1, Load("\xEF\xBB\xBF" "2022-03-01T10:20:30.456Z [Info] [1] first\n\xEF\xBB\xBF second\n"));
  const auto records = Records();
  ASSERT_EQ(2u, records.size());
  EXPECT_STREQ(L"first", records[0]->Message());
  // Only the file's first bytes are a mark.
  EXPECT_STREQ(L"\uFEFF second", records[1]->Message());
}

TEST_F(IsoLog, LongMessagesAreStoredInPieces) {
  std::string line = "2022-03-01T10:20:30.456Z [Info] [1] ";
  line += std::string(32000, 'a') + std::string(32000, 'b') + std::string(6000, 'c');
  // A pair of units is never split between two pieces.
  std::string second = "2022-03-01T10:20:30.456Z [Info] [1] " + std::string(31999, 'd') + "\xF0\x9F\x98\x80";
  ASSERT_EQ(1, Load(line + "\n" + second));
  const auto records = Records();
  ASSERT_EQ(5u, records.size());
  EXPECT_EQ(std::wstring(32000, L'a'), records[0]->Message());
  EXPECT_EQ(std::wstring(32000, L'b'), records[1]->Message());
  EXPECT_EQ(std::wstring(6000, L'c'), records[2]->Message());
  EXPECT_EQ(std::wstring(31999, L'd'), records[3]->Message());
  EXPECT_STREQ(L"\U0001F600", records[4]->Message());
}

TEST_F(IsoLog, LinesLongerThanTheReadBufferAreStreamed) {
  // Three-byte characters: the reader's chunk ends fall inside some of them.
  std::string euros;
  for (int i = 0; i < 1000000; ++i) {
    euros += "\xE2\x82\xAC";
  }
  ASSERT_EQ(1, Load(std::string(3 << 20, ' ') + "\n" + "2022-03-01T10:20:30.456Z [Info] [1] " + euros + "\r\n" +
                    std::string(3 << 20, 'k') + "\n2022-03-01T10:20:30.456Z [Info] [2] next"));
  const auto records = Records();
  // 31 full pieces and one of 8000 units, then the continuation (3 MB of
  // ASCII in 99 pieces), then the last line.
  ASSERT_EQ(32u + 99u + 1u, records.size());
  for (size_t i = 0; i < 32; ++i) {
    ASSERT_EQ(std::wstring(i < 31 ? 32000 : 8000, L'\u20AC'), records[i]->Message()) << i;
    EXPECT_EQ(1u, records[i]->tid);
  }
  EXPECT_EQ(std::wstring(32000, L'k'), records[32]->Message());
  EXPECT_EQ(std::wstring((3 << 20) - 98 * 32000, L'k'), records[130]->Message());
  EXPECT_STREQ(L"next", records[131]->Message());
  EXPECT_EQ(2u, records[131]->tid);
}

TEST_F(IsoLog, RecordsGoToTheCatchAllGroupOfTheTable) {
  ASSERT_EQ(1, Load("2022-03-01T10:20:30.456Z [Info] [1] m\n"));
  const auto records = Records();
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ(kCatchAll, records[0]->groupFlag);
  EXPECT_STREQ(kCatchAllName, records[0]->groupName);
  EXPECT_EQ(kCatchAll, store->m_processStats[0]->m_groupMask);
}

TEST_F(IsoLog, MissingEmptyAndHostileFiles) {
  EXPECT_EQ(0, LoadIsoLog(store, folder.File(L"missing.log").c_str()));
  EXPECT_EQ(0, LoadIsoLog(nullptr, folder.File(L"missing.log").c_str()));
  EXPECT_EQ(0, LoadIsoLog(store, nullptr));
  EXPECT_EQ(1, Load(""));
  EXPECT_EQ(0u, Records().size());

  // Hostile bytes: NULs, a huge line without a line end, numbers too long
  // for any field, a timestamp cut at the end of the file.
  const char kWithNul[] = "2022-03-01T10:20:30.456Z [Info] [1] a\0b\n";
  std::string hostile(kWithNul, sizeof(kWithNul) - 1);
  hostile += "2022-03-01T10:20:30.456Z [Info] [1] ";
  hostile += std::string(70000, 'x') + "\n";
  hostile += "99999999999999999999-03-01T10:20:30.456Z [Info] [2] n\n";
  hostile += std::string("\0\0\0\n", 4);
  hostile += "2022-03-01T10:20:30.4";
  ASSERT_EQ(1, Load(hostile));
  const auto records = Records();
  ASSERT_EQ(7u, records.size());
  // A record's message ends at its first NUL.
  EXPECT_STREQ(L"a", records[0]->Message());
  EXPECT_EQ(std::wstring(32000, L'x'), records[1]->Message());
  EXPECT_EQ(std::wstring(32000, L'x'), records[2]->Message());
  EXPECT_EQ(std::wstring(6000, L'x'), records[3]->Message());
  EXPECT_STREQ(L"99999999999999999999-03-01T10:20:30.456Z [Info] [2] n", records[4]->Message());
  EXPECT_STREQ(L"", records[5]->Message());
  EXPECT_STREQ(L"2022-03-01T10:20:30.4", records[6]->Message());
  EXPECT_EQ(100u, store->Progress());
}

// Files large enough for the reader to touch the store's pages on helper
// threads: every line must arrive whole and in order, also when short lines
// outgrow the reservation and the buffer moves during the load.
struct LargeCase {
  const char* name;
  size_t padding;  // message characters besides the line number
  bool grows;      // the records outgrow the reservation of three times the file
};

class IsoLogLarge : public IsoLog, public testing::WithParamInterface<LargeCase> {};

std::string LargeMessage(size_t line, size_t padding) {
  std::string text(padding, char('a' + line % 26));
  return text + std::to_string(line);
}

TEST_P(IsoLogLarge, EveryLineArrivesWholeAndInOrder) {
  constexpr size_t kFileBytes = 8u << 20;
  std::string bytes;
  size_t lines = 0;
  while (bytes.size() < kFileBytes) {
    bytes += "2022-03-01T10:20:30.456Z [Warn] [" + std::to_string(lines) + "] " +
             LargeMessage(lines, GetParam().padding) + "\n";
    ++lines;
  }
  ASSERT_EQ(1, Load(bytes));
  const auto records = Records();
  ASSERT_EQ(lines, records.size());
  for (size_t i = 0; i < lines; ++i) {
    const TraceRecord* r = records[i];
    const std::string expected = LargeMessage(i, GetParam().padding);
    ASSERT_EQ(std::wstring(expected.begin(), expected.end()), r->Message()) << i;
    ASSERT_EQ(uint32_t(i), r->tid) << i;
    ASSERT_EQ(uint32_t(i + 1), r->sequence) << i;
    ASSERT_EQ(kLevelWarning, r->level) << i;
    ASSERT_EQ(kStampTime, r->time) << i;
  }
  EXPECT_EQ(uint64_t(lines), CountedRecords(*store));
  constexpr size_t kPage = 4096;
  EXPECT_EQ(GetParam().grows, store->Buffer()->capacity > 3 * bytes.size() + kPage);
}

INSTANTIATE_TEST_SUITE_P(Table, IsoLogLarge,
                         testing::Values(LargeCase{"LinesOfALog", 100, false},
                                         // Records about four times their line.
                                         LargeCase{"ShortLinesGrowTheStore", 1, true}),
                         [](const testing::TestParamInfo<LargeCase>& info) { return std::string(info.param.name); });

}  // namespace
