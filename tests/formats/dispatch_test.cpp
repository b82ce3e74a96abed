#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "formats/FileDispatch.h"
#include "formats/IsoTimestampSniff.h"
#include "formats/TextLogs.h"
#include "tests/core/TempFolder.h"
#include "tests/formats/StoreFixture.h"

using namespace storefix;

namespace {

constexpr char kStamp[] = "2022-03-01T10:20:30.456Z";

TEST(FileDispatch, ReaderAndWriterByExtension) {
  const struct {
    const wchar_t* path;
    OpenReader reader;
    SaveWriter writer;
  } cases[] = {
      {L"C:\\logs\\TRACE.LOG", OpenReader::TextOrIsoLog, SaveWriter::Text},
      {L"trace.Log", OpenReader::TextOrIsoLog, SaveWriter::Text},
      {L"a.txt", OpenReader::TextOrIsoLog, SaveWriter::Text},
      {L"a.TXT", OpenReader::TextOrIsoLog, SaveWriter::Text},
      {L"page.htm", OpenReader::Html, SaveWriter::Html},
      {L"PAGE.HTML", OpenReader::Html, SaveWriter::Html},
      {L"x.jslog", OpenReader::JsLog, SaveWriter::Ktr},
      {L"x.KDV", OpenReader::Kdv, SaveWriter::Ktr},
      {L"x.kmp", OpenReader::Kmp, SaveWriter::Ktr},
      {L"x.Zip", OpenReader::Zip, SaveWriter::Zip},
      {L"x.klg", OpenReader::Klg, SaveWriter::Ktr},
      {L"x.ktr", OpenReader::Ktr, SaveWriter::Ktr},
      {L"C:\\noext", OpenReader::Ktr, SaveWriter::Ktr},
      {L"x.unknown", OpenReader::Ktr, SaveWriter::Ktr},
      {L"x.log.bak", OpenReader::Ktr, SaveWriter::Ktr},
      {L"x.tar.zip", OpenReader::Zip, SaveWriter::Zip},
      {L"ends.", OpenReader::Ktr, SaveWriter::Ktr},
      {L"C:\\dir.zip\\file", OpenReader::Ktr, SaveWriter::Ktr},
      {L"C:/dir.log/file", OpenReader::Ktr, SaveWriter::Ktr},
      {L"C:\\dir.txt\\", OpenReader::Ktr, SaveWriter::Ktr},
      {L".log", OpenReader::TextOrIsoLog, SaveWriter::Text},
      {L"", OpenReader::Ktr, SaveWriter::Ktr},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.reader, OpenReaderFor(c.path)) << c.path;
    EXPECT_EQ(c.writer, SaveWriterFor(c.path)) << c.path;
  }
}

class IsoSniff : public testing::Test {
 protected:
  int Sniff(const std::string& text) {
    const std::wstring path = folder.File(L"sniff.log");
    EXPECT_TRUE(WriteBytes(path, ToBytes(text)));
    return IsIsoTimestampLog(path.c_str());
  }
  TempFolder folder;
};

TEST_F(IsoSniff, FirstTenLinesFirstFortyCharacters) {
  const std::string nine = std::string("head\n") + "x\n" + "x\r\n" + "x\n" + "x\n" + "x\n" + "x\n" + "x\n" + "x\n";
  const struct {
    const char* what;
    std::string text;
    int iso;
  } cases[] = {
      {"first line", std::string(kStamp) + " [Info] [12] hello\n", 1},
      {"no line end at all", kStamp, 1},
      {"tenth line", nine + kStamp + "\n", 1},
      {"eleventh line", nine + "x\n" + kStamp + "\n", 0},
      {"ending at character 40", std::string(16, ' ') + kStamp + "\n", 1},
      {"ending at character 41", std::string(17, ' ') + kStamp + "\n", 0},
      {"after a byte-order mark", std::string("\xEF\xBB\xBF") + kStamp + "\n", 1},
      {"any separator before the milliseconds", "2022-03-01T10:20:30,456Z\n", 1},
      {"a line end before the milliseconds", "2022-03-01T10:20:30\r456Z\n", 0},
      {"no Z", "2022-03-01T10:20:30.456 x\n", 0},
      {"a letter for a digit", "2022-O3-01T10:20:30.456Z\n", 0},
      {"tab-separated export", "info\t10:20:30.456 03/01/22\tCORE\tm/h\t[1:2]\tmsg\r\n", 0},
      {"empty file", "", 0},
      {"a stamp beyond the bytes read", std::string(kIsoSniffBytes, 'x') + "\n" + kStamp + "\n", 0},
      {"a line cut by the bytes read", std::string(5, '\n') +
                                           std::string(kIsoSniffBytes, 'y'), 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.iso, Sniff(c.text)) << c.what;
  }
  EXPECT_EQ(0, IsIsoTimestampLog(folder.File(L"missing.log").c_str()));
  EXPECT_EQ(0, IsIsoTimestampLog(nullptr));
}

class Dispatch : public CStoreTest {
 protected:

  void AddRecords(const wchar_t* module, int count, uint32_t level) {
    for (int i = 0; i < count; ++i) {
      Item item;
      item.module = module;
      item.level = level;
      item.message = std::wstring(module) + L" " + std::to_wstring(i);
      ASSERT_NE(nullptr, Add(source, item));
    }
  }

  static std::vector<std::wstring> ViewNames(const CTraceMgr& store) {
    std::vector<std::wstring> names;
    for (size_t i = 0; i < store.m_views.count; ++i) names.push_back(store.m_views[i]->m_name.c_str());
    return names;
  }

};

TEST_F(Dispatch, ViewsOfThreeGroupsOrderedByErrors) {
  AddRecords(L"mod.dll", 3, kLevelInfo);    // CORE: no errors
  AddRecords(L"net.dll", 2, kLevelError);   // NET: two
  AddRecords(L"other.dll", 5, kLevelError); // the catch-all group: five
  const std::wstring path = folder.File(L"three.ktr");
  ASSERT_EQ(1, SaveFile(&source, path.c_str(), nullptr));
  CTraceFile store;
  ASSERT_EQ(1, OpenFile(&store, path.c_str()));
  EXPECT_STREQ(L"three.ktr", store.m_fileName.c_str());
  EXPECT_EQ((std::vector<std::wstring>{L"ALL", L"UNKNOWN", L"NET", L"CORE"}), ViewNames(store));
  const size_t counts[] = {10, 5, 2, 3};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(counts[i], store.m_views[i]->RecordCount()) << i;
    EXPECT_EQ(1, store.m_views[i]->Changed()) << i;
  }
  EXPECT_EQ(1, store.HasData());
}

TEST_F(Dispatch, OneGroupGetsNoViewOverEveryGroup) {
  AddRecords(L"net.dll", 4, kLevelWarning);
  const std::wstring path = folder.File(L"net");  // no extension: a .ktr
  ASSERT_EQ(1, SaveFile(&source, path.c_str(), nullptr));
  CTraceFile store;
  ASSERT_EQ(1, OpenFile(&store, path.c_str()));
  EXPECT_EQ(std::vector<std::wstring>{L"NET"}, ViewNames(store));
  EXPECT_EQ(4u, store.m_views[0]->RecordCount());
}

TEST_F(Dispatch, EmptyStoreOpensWithAnEmptyViewAndNoData) {
  const std::wstring path = folder.File(L"empty.ktr");
  ASSERT_EQ(1, SaveFile(&source, path.c_str(), nullptr));
  CTraceFile store;
  ASSERT_EQ(1, OpenFile(&store, path.c_str()));
  EXPECT_EQ(std::vector<std::wstring>{L"ALL"}, ViewNames(store));
  EXPECT_EQ(0, store.m_views[0]->Changed());
  EXPECT_EQ(0, store.HasData());
}

// Every writer's file opens again through the dispatch with the same records.
TEST_F(Dispatch, EveryWriterRoundTripsThroughOpen) {
  AddRecords(L"mod.dll", 3, kLevelInfo);
  AddRecords(L"net.dll", 2, kLevelError);
  for (const wchar_t* name : {L"a.ktr", L"a", L"a.bin", L"a.zip", L"a.ZIP", L"a.log", L"a.TXT", L"a.htm", L"a.html"}) {
    const std::wstring path = folder.File(name);
    ASSERT_EQ(1, SaveFile(&source, path.c_str(), nullptr)) << name;
    CTraceFile store;
    ASSERT_EQ(1, OpenFile(&store, path.c_str())) << name;
    const auto want = Records(source);
    const auto got = Records(store);
    ASSERT_EQ(want.size(), got.size()) << name;
    for (size_t i = 0; i < want.size(); ++i) {
      EXPECT_STREQ(want[i]->Message(), got[i]->Message()) << name;
      EXPECT_STREQ(want[i]->Module(), got[i]->Module()) << name;
      EXPECT_EQ(want[i]->level, got[i]->level) << name;
    }
    EXPECT_EQ((std::vector<std::wstring>{L"ALL", L"NET", L"CORE"}), ViewNames(store)) << name;
    DeleteFileW(path.c_str());
  }
}

TEST_F(Dispatch, LogWithTimestampsGoesToTheIsoReader) {
  const std::wstring path = folder.File(L"APP.LOG");
  ASSERT_TRUE(WriteBytes(path, ToBytes(std::string(kStamp) + " [Warn] [0x1A2B] hello\n")));
  CTraceFile store;
  ASSERT_EQ(1, OpenFile(&store, path.c_str()));
  const auto records = Records(store);
  ASSERT_EQ(1u, records.size());
  EXPECT_STREQ(kIsoLogModule, records[0]->Module());
  EXPECT_EQ(kLevelWarning, records[0]->level);
  EXPECT_EQ(0x1A2Bu, records[0]->tid);
}

TEST_F(Dispatch, FailedReaderFailsTheOpenButKeepsWhatItRead) {
  AddRecords(L"mod.dll", 5, kLevelInfo);
  const std::wstring path = folder.File(L"cut.ktr");
  ASSERT_EQ(1, SaveFile(&source, path.c_str(), nullptr));
  Bytes bytes = ReadBytes(path);
  bytes.resize(bytes.size() - 10);  // the last record cut
  ASSERT_TRUE(WriteBytes(path, bytes));
  CTraceFile store;
  EXPECT_EQ(0, OpenFile(&store, path.c_str()));
  EXPECT_EQ(4u, Records(store).size());
  EXPECT_EQ(0u, store.m_views.count);

  CTraceFile missing;
  EXPECT_EQ(0, OpenFile(&missing, folder.File(L"missing.zip").c_str()));
  CTraceFile none;
  EXPECT_EQ(0, OpenFile(&none, L""));
}

TEST_F(Dispatch, ViewIsSavedByEveryWriter) {
  AddRecords(L"mod.dll", 3, kLevelInfo);
  AddRecords(L"net.dll", 2, kLevelError);
  ASSERT_EQ(1, source.AddView(L"NET", 1u << 1, 2));
  CTraceView* view = source.m_views[source.m_views.count - 1];
  for (const wchar_t* name : {L"v.ktr", L"v.zip", L"v.log", L"v.html"}) {
    const std::wstring path = folder.File(name);
    ASSERT_EQ(1, SaveFile(&source, path.c_str(), view)) << name;
    CTraceFile store;
    ASSERT_EQ(1, OpenFile(&store, path.c_str())) << name;
    EXPECT_EQ(2u, Records(store).size()) << name;
    EXPECT_EQ(std::vector<std::wstring>{L"NET"}, ViewNames(store)) << name;
  }
}

}  // namespace
