#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "core/ModuleGroups.h"
#include "core/RecordBuilder.h"
#include "core/StrUtil.h"
#include "core/TextFile.h"
#include "core/TraceStore.h"
#include "formats/TextLogs.h"
#include "res/resource.h"
#include "tests/core/TempFolder.h"
#include "tests/formats/TextFixture.h"

namespace {

constexpr char kGroupsText[] = "[CORE]\nM=app.exe;mod\n[NET]\nM=net.dll\n";
// 2022-03-01T10:20:30Z (the tests run in UTC), as the record time text shows it.
constexpr uint32_t kStampTime = 1646130030;
constexpr wchar_t kTimeText[] = L"10:20:30.456 03/01/22";

// One exported row and what reading it back must give.
struct Row {
  const wchar_t* levelWord;
  const wchar_t* name;  // module or "module@sub"
  const wchar_t* hint;
  const wchar_t* ids;
  const wchar_t* message;
  uint32_t level;
  const wchar_t* module;
  const wchar_t* subName;
  uint32_t pid, tid;
};

const Row kRows[] = {
    {L"warn", L"app.exe", L"H", L"[12:34]", L"plain", kLevelWarning, L"app.exe", L"", 12, 34},
    {L"PII", L"mod@sub", L"", L"[1:2]", L"tabs\tinside\tthe message", kLevelPersonal, L"mod", L"sub", 1, 2},
    {L"error", L"net.dll", L"src/a.cpp", L"[5:6]", L"a <b>bold</b> & \"q\" 's' </td><td nowrap>x</td> end",
     kLevelError, L"net.dll", L"", 5, 6},
    {L"debug", L"other.dll", L"h/i/j", L"[7:8]", L"&amp; stays &amp;", kLevelDebug, L"other.dll", L"", 7, 8},
    {L"info", L"app.exe", L"x", L"[4294967295:9]", L"", kLevelInfo, L"app.exe", L"", 4294967295u, 9},
};

std::wstring LoadResourceText(UINT id) {
  const wchar_t* text = nullptr;
  const int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
  return length > 0 ? std::wstring(text, size_t(length)) : std::wstring();
}

template <typename... Args>
std::wstring Format(UINT id, Args... args) {
  std::vector<wchar_t> out(70000);
  StrPrintfW(out.data(), out.size(), LoadResourceText(id).c_str(), args...);
  return out.data();
}

std::wstring EscapeHtml(const std::wstring& text) {
  std::wstring out;
  for (wchar_t c : text) {
    switch (c) {
      case L'&': out += L"&amp;"; break;
      case L'<': out += L"&lt;"; break;
      case L'>': out += L"&gt;"; break;
      case L'"': out += L"&quot;"; break;
      case L'\'': out += L"&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

// The export of the rows, built from the string table's formats.
std::wstring TextExport(const Row* rows, size_t count) {
  std::wstring out = Format(IDS_EXPORT_TEXT_HEADER, L"1.0", L"CORE|NET", unsigned(count));
  for (size_t i = 0; i < count; ++i) {
    const Row& r = rows[i];
    out += Format(IDS_EXPORT_TEXT_LINE, r.levelWord, kTimeText, L"CORE", r.name, r.hint, r.ids);
    out += std::wstring(r.message) + L"\r\n";
  }
  return out;
}

std::wstring HtmlExport(const Row* rows, size_t count) {
  std::wstring out = Format(IDS_EXPORT_HTML_HEADER, L"1.0", L"CORE|NET", unsigned(count));
  for (size_t i = 0; i < count; ++i) {
    const Row& r = rows[i];
    const std::wstring level = EscapeHtml(r.levelWord), name = EscapeHtml(r.name), hint = EscapeHtml(r.hint),
                       ids = EscapeHtml(r.ids);
    out += Format(IDS_EXPORT_HTML_ROW, level.c_str(), level.c_str(), kTimeText, L"CORE", name.c_str(), hint.c_str(),
                  ids.c_str());
    out += L"<td nowrap>" + EscapeHtml(r.message) + L"</td>\r\n";
  }
  return out + LoadResourceText(IDS_EXPORT_HTML_FOOTER);
}

class TextRead : public TextStoreTest {
 protected:
  TextRead() : TextStoreTest(kGroupsText) {}

  // Writes the text as the export does (UTF-8 with its mark) and loads it.
  int Load(const std::wstring& text, const wchar_t* name, int html, int jslog) {
    const std::wstring path = folder.File(name);
    CTextFile file;
    EXPECT_EQ(1, file.Open(path.c_str(), 0, KT_ENC_NONE));
    EXPECT_LE(0, file.WriteString(text.c_str(), text.size()));
    EXPECT_EQ(1, file.Close());
    return LoadPath(path, html, jslog);
  }
  int LoadPath(const std::wstring& path, int html, int jslog) {
    store->SetFileName(path.c_str(), L"x");
    return LoadHtmlOrText(store, html, jslog);
  }
  void ExpectRows(const Row* rows, size_t count) {
    const auto records = StoredRecords(*store);
    ASSERT_EQ(count, records.size());
    for (size_t i = 0; i < count; ++i) {
      SCOPED_TRACE(i);
      const TraceRecord* r = records[i];
      EXPECT_EQ(rows[i].level, r->level);
      EXPECT_STREQ(rows[i].module, r->Module());
      EXPECT_STREQ(rows[i].subName, r->SubName());
      EXPECT_STREQ(rows[i].hint, r->Hint());
      EXPECT_EQ(rows[i].pid, r->pid);
      EXPECT_EQ(rows[i].tid, r->tid);
      EXPECT_STREQ(rows[i].message, r->Message());
      EXPECT_EQ(kStampTime, r->time);
      EXPECT_EQ(456, r->milliseconds);
      EXPECT_STREQ(kTimeText, r->timeText);
    }
    EXPECT_EQ(count, CountedRecords(*store));
    EXPECT_EQ(100u, store->Progress());
  }
};

TEST_F(TextRead, TextExportReadsBack) {
  const size_t count = sizeof(kRows) / sizeof(kRows[0]);
  ASSERT_EQ(1, Load(TextExport(kRows, count), L"export.log", 0, 0));
  ExpectRows(kRows, count);
}

TEST_F(TextRead, HtmlExportReadsBackWithItsEscapingUndone) {
  const size_t count = sizeof(kRows) / sizeof(kRows[0]);
  ASSERT_EQ(1, Load(HtmlExport(kRows, count), L"export.html", 1, 0));
  ExpectRows(kRows, count);
}

TEST_F(TextRead, LargeExportReadsBackWhole) {
  // Large enough for the reader to touch the store's pages on helper threads.
  constexpr size_t kFileUnits = 8u << 20;
  const Row& row = kRows[0];
  const std::wstring lineHead =
      Format(IDS_EXPORT_TEXT_LINE, row.levelWord, kTimeText, L"CORE", row.name, row.hint, row.ids);
  std::wstring text = Format(IDS_EXPORT_TEXT_HEADER, L"1.0", L"CORE|NET", 0u);
  std::vector<std::wstring> messages;
  while (text.size() < kFileUnits) {
    messages.push_back(std::wstring(60, wchar_t(L'a' + messages.size() % 26)) + std::to_wstring(messages.size()));
    text += lineHead + messages.back() + L"\r\n";
  }
  ASSERT_EQ(1, Load(text, L"large.log", 0, 0));
  const auto records = StoredRecords(*store);
  ASSERT_EQ(messages.size(), records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    ASSERT_EQ(messages[i], records[i]->Message()) << i;
    ASSERT_EQ(row.tid, records[i]->tid) << i;
    ASSERT_EQ(uint32_t(i + 1), records[i]->sequence) << i;
  }
  EXPECT_EQ(messages.size(), CountedRecords(*store));
}

class TextReadEncoding : public TextRead, public testing::WithParamInterface<uint32_t> {};

// The exports are UTF-8; files saved by other tools in other encodings read the same.
TEST_P(TextReadEncoding, TextExportInEveryEncoding) {
  const Row rows[] = {{L"warn", L"app.exe", L"H\u00E9", L"[12:34]", L"caf\u00E9 \u00FC", kLevelWarning, L"app.exe", L"",
                       12, 34},
                      {L"error", L"mod@sub", L"", L"[1:2]", L"second", kLevelError, L"mod", L"sub", 1, 2}};
  const std::wstring path = folder.File(L"encoded.txt");
  CTextFile file;
  ASSERT_EQ(1, file.Open(path.c_str(), 0, GetParam()));
  const std::wstring text = TextExport(rows, 2);
  ASSERT_LE(0, file.WriteString(text.c_str(), text.size()));
  ASSERT_EQ(1, file.Close());
  ASSERT_EQ(1, LoadPath(path, 0, 0));
  ExpectRows(rows, 2);
}

INSTANTIATE_TEST_SUITE_P(Encodings, TextReadEncoding,
                         testing::Values(uint32_t(KT_ENC_UTF8), uint32_t(KT_ENC_UTF16LE), uint32_t(KT_ENC_UTF16BE),
                                         uint32_t(KT_ENC_ANSI)));

TEST_F(TextRead, BrokenUtf8AndLinesLongerThanAReadChunk) {
  std::string bytes = "\xEF\xBB\xBF";
  bytes += "info\t10:20:30.456 03/01/22\tCORE\tapp.exe/H\t[1:2]\tbad \xC3\x28 \xFF end\r\n";
  bytes += "info\t10:20:30.456 03/01/22\tCORE\tapp.exe/H\t[1:2]\t" + std::string(3 << 20, 'x') + "\r\n";
  bytes += std::string(3 << 20, '\t') + "\n";
  bytes += "warn\t10:20:30.456 03/01/22\tCORE\tapp.exe/H\t[1:2]\tlast";
  ASSERT_TRUE(WriteFileBytes(folder.File(L"long.txt"), bytes));
  ASSERT_EQ(1, LoadPath(folder.File(L"long.txt"), 0, 0));
  const auto records = StoredRecords(*store);
  // The line of tabs has an empty level, time, name and ids: it is stored too.
  ASSERT_EQ(4u, records.size());
  EXPECT_STREQ(L"bad \uFFFD( \uFFFD end", records[0]->Message());
  EXPECT_EQ(std::wstring(kLiveMessageLimit - 1, L'x'), records[1]->Message());
  EXPECT_STREQ(L"last", records[3]->Message());
  EXPECT_EQ(kLevelWarning, records[3]->level);
}

TEST_F(TextRead, MalformedTextLinesAreSkipped) {
  std::wstring text = L"; a comment\r\n"
                      L"- a header\r\n"
                      L"\r\n"
                      L"warn\ttime\tCORE\tapp.exe/H\tonly four tabs\r\n";
  // A line longer than the reader's line buffer: read as its first piece.
  text += L"info\t" + std::wstring(kTimeText) + L"\tCORE\tapp.exe/H\t[1:2]\t" + std::wstring(40000, L'L') + L"\r\n";
  text += L"error\t" + std::wstring(kTimeText) + L"\tCORE\tapp.exe/H\t[1:2]\tafter\r\n";
  ASSERT_EQ(1, Load(text, L"bad.txt", 0, 0));
  const auto records = StoredRecords(*store);
  ASSERT_EQ(2u, records.size());
  EXPECT_EQ(std::wstring(kLiveMessageLimit - 1, L'L'), records[0]->Message());
  EXPECT_STREQ(L"after", records[1]->Message());
  EXPECT_EQ(kLevelError, records[1]->level);
}

TEST_F(TextRead, MalformedHtmlRowsAreSkipped) {
  const std::wstring row = L"<tr class=warn><td nowrap>warn</td><td nowrap>" + std::wstring(kTimeText) +
                           L"</td><td nowrap class=x>CORE</td><td nowrap>app.exe/H</td><td nowrap>[1:2]</td>";
  std::wstring text = L"<HTML>\r\n<tr><th>Level</th></tr>\r\n";
  text += row + L"<td nowrap>no closer\r\n";                       // the message cell never ends
  text += L"<tr class=warn><td nowrap>warn</td><td nowrap>t</td>\r\n";  // cells missing
  text += row + L"<td nowrap>&lt;ok&gt; &apos;&#x27;&#8364;&#x1F600; &bogus; &#0; &#xD800; &#99999999; &</td>\r\n";
  ASSERT_EQ(1, Load(text, L"bad.htm", 1, 0));
  const auto records = StoredRecords(*store);
  ASSERT_EQ(1u, records.size());
  EXPECT_STREQ(L"<ok> ''\u20AC\U0001F600 &bogus; &#0; &#xD800; &#99999999; &", records[0]->Message());
  EXPECT_EQ(kLevelWarning, records[0]->level);
}

TEST_F(TextRead, JslogLinesAreMessages) {
  ASSERT_EQ(1, Load(L"first line\n\n\tsecond <line>\r\nthird", L"x.jslog", 0, 1));
  const auto records = StoredRecords(*store);
  ASSERT_EQ(3u, records.size());
  EXPECT_STREQ(L"first line", records[0]->Message());
  EXPECT_STREQ(L"\tsecond <line>", records[1]->Message());
  EXPECT_STREQ(L"third", records[2]->Message());
  EXPECT_EQ(kLevelInfo, records[0]->level);
  EXPECT_EQ(g_moduleGroups.CatchAllFlag(), records[0]->groupFlag);
}

TEST_F(TextRead, BlockWordsMarkTheirOwnLineAndLaterOnes) {
  // "c2VjcmV0" is "secret" in Base64.
  ASSERT_EQ(1, Load(L"a secret before\nthe secret ###BLKW###-c2VjcmV0\nno word\nthe secret again\n", L"w.jslog", 0, 1));
  const auto records = StoredRecords(*store);
  ASSERT_EQ(4u, records.size());
  const uint32_t levels[] = {kLevelInfo, kLevelPersonal, kLevelInfo, kLevelPersonal};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(levels[i], records[i]->level) << i;
  }
}

TEST_F(TextRead, MissingFileFailsEmptyFileSucceeds) {
  for (int kind = 0; kind < 3; ++kind) {
    SCOPED_TRACE(kind);
    EXPECT_EQ(0, LoadPath(folder.File(L"missing.txt"), kind == 1, kind == 2));
  }
  EXPECT_EQ(0, LoadHtmlOrText(nullptr, 0, 0));
  ASSERT_TRUE(WriteFileBytes(folder.File(L"empty.txt"), ""));
  EXPECT_EQ(1, LoadPath(folder.File(L"empty.txt"), 0, 0));
  EXPECT_EQ(0u, StoredRecords(*store).size());
}

TEST(ExtractBetween, CutsTheCellAndReturnsWhatFollows) {
  wchar_t text[] = L"<a>one</a>rest";
  wchar_t* out = nullptr;
  EXPECT_STREQ(L"rest", ExtractBetween(text, L"<a>", L"</a>", &out));
  EXPECT_STREQ(L"one", out);

  struct Case {
    const wchar_t* text;
    const wchar_t* opener;
    const wchar_t* closer;
  };
  const Case misses[] = {{L"no opener</a>", L"<a>", L"</a>"},
                         {L"<a>no closer", L"<a>", L"</a>"},
                         {L"</a><a>closer before opener", L"<a>", L"</a>"},
                         {L"<a>x</a>", L"", L"</a>"}};
  for (const Case& c : misses) {
    std::wstring copy = c.text;
    wchar_t* untouched = nullptr;
    EXPECT_EQ(nullptr, ExtractBetween(copy.data(), c.opener, c.closer, &untouched)) << c.text;
    EXPECT_EQ(nullptr, untouched);
    EXPECT_EQ(std::wstring(c.text), copy.c_str());
  }
  EXPECT_EQ(nullptr, ExtractBetween(nullptr, L"<a>", L"</a>", &out));
}

}  // namespace
