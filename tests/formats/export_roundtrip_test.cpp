// The text and HTML exports read back by the text readers.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "formats/TextExport.h"
#include "formats/TextLogs.h"
#include "tests/core/TempFolder.h"
#include "tests/formats/StoreFixture.h"

using namespace storefix;

namespace {

struct Fields {
  std::wstring module, subName, hint, message;
  uint32_t level, pid, tid, time;
  uint16_t milliseconds;
  bool operator==(const Fields&) const = default;
};

Fields FieldsOf(const TraceRecord* r) {
  return {r->Module(), r->SubName(), r->Hint(), r->Message(), r->level & kLevelMask, r->pid, r->tid, r->time,
          r->milliseconds};
}

std::ostream& operator<<(std::ostream& os, const Fields& f) {
  char text[512];
  std::snprintf(text, sizeof(text), "{%ls @%ls /%ls [%ls] level %u %u:%u %u.%03u}", f.module.c_str(),
                f.subName.c_str(), f.hint.c_str(), f.message.c_str(), f.level, f.pid, f.tid, f.time,
                f.milliseconds);
  return os << text;
}

class ExportRoundTrip : public CStoreTest, public testing::WithParamInterface<int> {};

TEST_P(ExportRoundTrip, EveryFieldReadsBackAsWritten) {
  const int html = GetParam();
  const struct {
    const wchar_t* module;
    const wchar_t* subName;
    const wchar_t* hint;
    const wchar_t* message;
    uint32_t level;
  } rows[] = {
      {L"mod.dll", L"", L"", L"debug line", kLevelDebug},
      {L"mod.dll", L"sub", L"Hint", L"info with a sub-name", kLevelInfo},
      {L"net.dll", L"", L"path/to/hint", L"a hint with slashes", kLevelWarning},
      {L"ui.dll", L"x", L"", L"tabs\tinside\tthe message", kLevelError},
      {L"mod.dll", L"", L"h", L"personal data <b>bold</b> </td><td nowrap>x</td>", kLevelPersonal},
      {L"other.exe", L"", L"\"q\" & 'a'", L"a < b && c > d; &amp; stays &amp;", kLevelInfo},
      {L"mod.dll", L"", L"", L"", kLevelInfo},
      {L"mod.dll", L"", L"", L"  leading and trailing blanks  ", kLevelInfo},
  };
  uint32_t pid = 10;
  for (const auto& row : rows) {
    Item item;
    item.module = row.module;
    item.subName = row.subName;
    item.hint = row.hint;
    item.message = row.message;
    item.level = row.level;
    item.pid = pid++;
    item.tid = pid * 3;
    item.time += pid * 3661;
    item.milliseconds = uint16_t(pid * 37 % 1000);
    ASSERT_NE(nullptr, Add(source, item));
  }
  const std::wstring path = folder.File(html ? L"export.html" : L"export.log");
  ASSERT_EQ(1, SaveText(&source, path.c_str(), html, nullptr));

  CTraceFile loaded;
  loaded.SetFileName(path.c_str(), L"export");
  ASSERT_EQ(1, LoadHtmlOrText(&loaded, html, 0));
  const auto want = Records(source);
  const auto got = Records(loaded);
  ASSERT_EQ(want.size(), got.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(FieldsOf(want[i]), FieldsOf(got[i])) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(TextAndHtml, ExportRoundTrip, testing::Values(0, 1),
                         [](const testing::TestParamInfo<int>& info) { return info.param ? "Html" : "Text"; });

}  // namespace
