#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "core/AppConfig.h"
#include "core/StrUtil.h"
#include "formats/TextExport.h"
#include "tests/core/TempFolder.h"
#include "tests/formats/StoreFixture.h"

using namespace storefix;

namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";
constexpr char kTime[] = "22:13:20.250 11/14/23";

class TextExport : public CStoreTest {
 protected:
  void SetUp() override {
    CStoreTest::SetUp();
    StrCopyNW(g_appConfig.m_version, kVersionTextChars, L"1.2.3.4");
  }

  // A warning with a hint, and a record with a sub-name, no hint and a
  // message full of what markup and the text format take as their own.
  void AddTwo() {
    Item warn;
    warn.level = kLevelWarning;
    warn.hint = L"H";
    warn.milliseconds = 250;
    ASSERT_NE(nullptr, Add(source, warn));
    Item info;
    info.module = L"net.dll";
    info.subName = L"sub";
    info.message = L"a<b>&\"c\"\t'd' </td>";
    info.pid = 7;
    info.tid = 8;
    info.milliseconds = 250;
    ASSERT_NE(nullptr, Add(source, info));
  }

  std::string Export(const wchar_t* name, int html, CTraceView* view = nullptr) {
    const std::wstring path = folder.File(name);
    EXPECT_EQ(1, SaveText(&source, path.c_str(), html, view));
    const Bytes bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
  }

};

TEST_F(TextExport, TwoRecordsAsTextGoldenBytes) {
  AddTwo();
  const std::string expected = std::string(kBom) +
      "-----------KELTracer Version: 1.2.3.4 (Module : CORE|NET, Total Items : 2)----------------\n"
      "warn\t" + kTime + "\tCORE\tmod.dll/H\t[100:200]\thello\r\n"
      "info\t" + kTime + "\tNET\tnet.dll@sub/\t[7:8]\ta<b>&\"c\"\t'd' </td>\r\n";
  EXPECT_EQ(expected, Export(L"two.log", 0));
}

TEST_F(TextExport, TwoRecordsAsHtmlGoldenBytes) {
  AddTwo();
  const std::string expected = std::string(kBom) +
      "<HTML>\n<HEAD>\n"
      "<TITLE> KELTracer Version: 1.2.3.4 (Module : CORE|NET, Total Items : 2) </TITLE>\n"
      "<STYLE TYPE=text/css>\n.debug { color: #000000 }\n.info { color: #000000 }\n"
      ".warn { color: #FF9900 }\n.error { color: #FF0000 }\n</STYLE>\n</HEAD>\n<BODY>\n"
      "<table border=0 cellspacing=4>\n<colgroup span=4 align=center></colgroup>\n"
      "<tr><th>Level</th><th>Time</th><th>Module</th><th nowrap>Name/Hint</th><th>[Pid:Tid]</th>"
      "<th align=left>Message</th>\n"
      "<tr class=warn><td nowrap>warn</td><td nowrap>" + kTime + "</td><td nowrap>CORE</td>"
      "<td nowrap>mod.dll/H</td><td nowrap>[100:200]</td><td nowrap>hello</td>\r\n"
      "<tr class=info><td nowrap>info</td><td nowrap>" + kTime + "</td><td nowrap>NET</td>"
      "<td nowrap>net.dll@sub/</td><td nowrap>[7:8]</td>"
      "<td nowrap>a&lt;b&gt;&amp;&quot;c&quot;\t&#39;d&#39; &lt;/td&gt;</td>\r\n"
      "</table>\n</BODY>\n</HTML>";
  EXPECT_EQ(expected, Export(L"two.html", 1));
}

TEST_F(TextExport, EveryHtmlCellIsEscaped) {
  Item item;
  item.module = L"<m>&.dll";
  item.hint = L"\"h\"";
  item.subName = L"<s>";
  ASSERT_NE(nullptr, Add(source, item));
  const std::string html = Export(L"cells.htm", 1);
  EXPECT_NE(std::string::npos, html.find("<td nowrap>&lt;m&gt;&amp;.dll@&lt;s&gt;/&quot;h&quot;</td>")) << html;
}

TEST_F(TextExport, LevelWords) {
  const struct {
    uint32_t level;
    const wchar_t* word;
  } cases[] = {
      {kLevelDebug, L"debug"},           {kLevelInfo, L"info"},
      {kLevelWarning, L"warn"},          {kLevelError, L"error"},
      {kLevelPersonal, L"PII"},          {0, L"debug"},
      {kLevelInfo | kLevelError, L"info"}, {kLevelWarning | kLevelError, L"warn"},
      {kLevelError | kLevelPersonal, L"error"}, {kLevelPersonal | kMarkFirstBit, L"PII"},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(c.word, LevelWord(c.level)) << c.level;
  }
}

TEST_F(TextExport, EmptyViewHasHeaderCountZeroAndFooter) {
  AddTwo();
  ASSERT_EQ(1, source.AddView(L"UI", 1u << 2, 0));  // no record is in UI
  CTraceView* view = source.m_views[source.m_views.count - 1];
  ASSERT_EQ(0u, view->RecordCount());
  const std::string text = Export(L"empty.txt", 0, view);
  EXPECT_EQ(std::string(kBom) +
                "-----------KELTracer Version: 1.2.3.4 (Module : UI, Total Items : 0)----------------\n",
            text);
  const std::string html = Export(L"empty.html", 1, view);
  EXPECT_NE(std::string::npos, html.find("(Module : UI, Total Items : 0)"));
  const std::string footer = "</table>\n</BODY>\n</HTML>";
  ASSERT_GE(html.size(), footer.size());
  EXPECT_EQ(footer, html.substr(html.size() - footer.size()));
  EXPECT_EQ(std::string::npos, html.find("<tr class="));
}

TEST_F(TextExport, ViewWritesItsRecordsInViewOrderAndMarksTheProgress) {
  AddTwo();
  Item third;
  third.message = L"third";
  ASSERT_NE(nullptr, Add(source, third));
  ASSERT_EQ(1, source.AddView(L"CORE", 1u << 0, 2));
  CTraceView* view = source.m_views[source.m_views.count - 1];
  const std::string text = Export(L"core.log", 0, view);
  EXPECT_NE(std::string::npos, text.find("(Module : CORE, Total Items : 2)"));
  EXPECT_NE(std::string::npos, text.find("\thello\r\n"));
  EXPECT_NE(std::string::npos, text.find("\tthird\r\n"));
  EXPECT_EQ(std::string::npos, text.find("net.dll"));
  EXPECT_EQ(100u, view->Progress());
}

TEST_F(TextExport, LongNameIsCutTo127Characters) {
  const std::wstring module(120, L'm');
  const std::wstring sub(20, L's');
  Item item;
  item.module = module.c_str();
  item.subName = sub.c_str();
  TraceRecord* record = Add(source, item);
  ASSERT_NE(nullptr, record);
  CLineFormat format;
  ASSERT_EQ(1, format.Parse(L"%s\t%s\t%s\t%s/%s\t%s\t"));
  CWideStrBuilder line;
  ASSERT_EQ(1, FormatItemLine(line, format, 0, record));
  const std::wstring name = module + L"@" + sub.substr(0, 127 - 121) + L"/";
  EXPECT_NE(std::wstring::npos, std::wstring(line.c_str()).find(L"\t" + name + L"\t")) << line.c_str();
}

TEST_F(TextExport, FormatsThatDoNotFitAreRefused) {
  AddTwo();
  const TraceRecord* record = Records(source)[0];
  const struct {
    const wchar_t* format;
    int parsed;
    int html;
  } cases[] = {
      {L"%s %s %s %s %s", 1, 0},          // one argument short
      {L"%s %s %s %s %s %s %s", 1, 0},    // the HTML count for a text line
      {L"%s %d %s %s %s %s", 0, 0},       // not a string argument
      {L"%s%s%s%s%s%s%s%s%s", 0, 1},      // more than any line takes
  };
  for (const auto& c : cases) {
    CLineFormat format;
    EXPECT_EQ(c.parsed, format.Parse(c.format)) << c.format;
    if (c.parsed) {
      CWideStrBuilder line;
      EXPECT_EQ(0, FormatItemLine(line, format, c.html, record)) << c.format;
    }
  }
  CLineFormat percent;
  ASSERT_EQ(1, percent.Parse(L"100%% %s\t%s\t%s\t%s/%s\t%s\t"));
  CWideStrBuilder line;
  ASSERT_EQ(1, FormatItemLine(line, percent, 0, record));
  EXPECT_EQ(0, std::wstring(line.c_str()).find(L"100% warn\t"));
}

TEST_F(TextExport, FailedWriteKeepsTheOldFileAndLeavesNoTemporaryFile) {
  AddTwo();
  Item third;
  ASSERT_NE(nullptr, Add(source, third));
  const std::wstring path = folder.File(L"old.html");
  const Bytes old = ToBytes("the old export");
  ASSERT_TRUE(WriteBytes(path, old));
  DamageRecord(source, 1);  // the header and the first line are written, then the walk fails
  for (int html = 0; html <= 1; ++html) {
    EXPECT_EQ(0, SaveText(&source, path.c_str(), html, nullptr));
    EXPECT_EQ(old, ReadBytes(path));
    EXPECT_EQ(std::vector<std::wstring>{L"old.html"}, FilesIn(folder.path()));
  }
}

TEST_F(TextExport, TargetThatCannotBeWrittenFails) {
  AddTwo();
  // A folder in the way of the rename, and a folder that does not exist.
  const std::wstring dir = folder.File(L"taken.txt");
  ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
  EXPECT_EQ(0, SaveText(&source, dir.c_str(), 0, nullptr));
  EXPECT_EQ(0u, FilesIn(folder.path()).size());
  EXPECT_EQ(0, SaveText(&source, folder.File(L"missing\\x.txt").c_str(), 0, nullptr));
  RemoveDirectoryW(dir.c_str());
}

}  // namespace
