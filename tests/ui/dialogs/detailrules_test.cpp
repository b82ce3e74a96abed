// The detail dialog's views of a message without its window: the decoded
// payload, the hex dump and the level text.
#include <gtest/gtest.h>

#include <string>

#include "core/TraceRecord.h"
#include "ui/dialogs/DetailRules.h"

namespace {

// "hello", "hi" and "ab\0cd" in Base64.
constexpr wchar_t kHello[] = L"aGVsbG8=";

TEST(DecodeHvnText, DecodesTheThreeFormsAndLeavesTheRestAlone) {
  struct Case {
    const wchar_t* message;
    const wchar_t* shown;
  };
  const std::wstring hello = kHello;
  const Case cases[] = {
      // Bracketed: up to the separator, the decoded text, "]"; the tail goes.
      {L"x PLOGHVN:[abc],[aGVsbG8=]tail", L"x PLOGHVN:[abc],[hello]"},
      // Bracketed without a closing bracket: everything after the separator.
      {L"PLOGHVN:[a],[aGVsbG8=", L"PLOGHVN:[a],[hello"},
      // One character and a comma: up to the comma, then the decoded text.
      {L"PLOGHVN:x,aGVsbG8=", L"PLOGHVN:x,hello"},
      {L"pre PLOGHVN 7:id,aGk=", L"pre PLOGHVN 7:id,hi"},
      // The comma search starts two characters after the colon.
      {L"PLOGHVN:,aGVsbG8=", L"PLOGHVN:,aGVsbG8="},
      {L"PLOGHVN:,a,aGk=", L"PLOGHVN:,a,hi"},
      // Empty payloads add nothing but the bracket.
      {L"PLOGHVN:[a],[]z", L"PLOGHVN:[a],[]"},
      {L"PLOGHVN:x,", L"PLOGHVN:x,"},
      {L"PLOGHVN:[a],[", L"PLOGHVN:[a],["},
      // Decoding ends at the decoded length, and at a zero byte among them.
      {L"PLOGHVN:x,YWIAY2Q=", L"PLOGHVN:x,ab"},
      {L"PLOGHVN:x,QQ", L"PLOGHVN:x,A"},
      // Failing forms: the message unchanged.
      {L"no tag at all", L"no tag at all"},
      {L"ends with PLOGHVN", L"ends with PLOGHVN"},
      {L"PLOGHVN no colon, aGk=", L"PLOGHVN no colon, aGk="},
      {L"PLOGHVN:", L"PLOGHVN:"},
      {L"PLOGHVN:x", L"PLOGHVN:x"},
      {L"PLOGHVN:xy", L"PLOGHVN:xy"},
      {L"PLOGHVN:[abc,[aGk=]", L"PLOGHVN:[abc,[aGk=]"},
      {L"PLOGHVN:[", L"PLOGHVN:["},
      {L"", L""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecodeHvnText(c.message), c.shown) << c.message;
  }
}

TEST(DecodeHvnText, PayloadsThatCouldOverflowTheBufferGiveNoBytes) {
  std::wstring fits;
  for (int i = 0; i < 1365; ++i) fits += L"QUFB";  // "AAA" each
  fits += L"Q";                                    // a lone character adds nothing
  ASSERT_EQ(fits.size(), kHvnMaxPayloadChars);
  const std::wstring prefix = L"PLOGHVN:x,";
  EXPECT_EQ(DecodeHvnText(prefix + fits), prefix + std::wstring(4095, L'A'));
  const std::wstring tooLong = fits + L"U";
  EXPECT_EQ(DecodeHvnText(prefix + tooLong), prefix);
  EXPECT_EQ(DecodeHvnText(L"PLOGHVN:[a],[" + tooLong + L"]"), L"PLOGHVN:[a],[]");
}

TEST(FormatHexView, DumpsSixteenBytesALine) {
  EXPECT_EQ(FormatHexView(L""), L"");
  EXPECT_EQ(FormatHexView(L"ABCDEFGH"),
            L"41 00 42 00 43 00 44 00 45 00 46 00 47 00 48 00 ; ABCDEFGH\r\n");
  std::wstring second = L"49 00 ";
  for (int i = 0; i < 14; ++i) second += L"   ";
  EXPECT_EQ(FormatHexView(L"ABCDEFGHI"),
            L"41 00 42 00 43 00 44 00 45 00 46 00 47 00 48 00 ; ABCDEFGH\r\n" + second + L"; I\r\n");
  EXPECT_EQ(FormatHexView(L"\x20AC"), L"AC 20 " + std::wstring(14 * 3, L' ') + L"; \x20AC\r\n");
}

TEST(FormatHexView, ShowsControlCharactersAsDots) {
  // A NUL inside the message must not end the dump or its text column.
  const std::wstring message(L"a\0b\tc\r\n\x7F\x85z", 10);
  const std::wstring dump = FormatHexView(message);
  EXPECT_EQ(dump,
            L"61 00 00 00 62 00 09 00 63 00 0D 00 0A 00 7F 00 ; a.b.c...\r\n"
            L"85 00 7A 00 " + std::wstring(12 * 3, L' ') + L"; .z\r\n");
  EXPECT_EQ(dump.find(L'\0'), std::wstring::npos);
}

TEST(DetailLevelText, TestsTheBitsInOrder) {
  struct Case {
    uint32_t level;
    const wchar_t* text;
  };
  const Case cases[] = {
      {kLevelInfo, L"Info"},
      {kLevelInfo | kLevelError, L"Info"},
      {kLevelWarning, L"Warning"},
      {kLevelWarning | kLevelError | kLevelPersonal, L"Warning"},
      {kLevelError, L"Error"},
      {kLevelError | 0x7F0000, L"Error"},
      {kLevelPersonal, L"PII"},
      {kLevelDebug, L"Debug"},
      {0, L"Debug"},
      {0x7F0000, L"Debug"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(std::wstring(DetailLevelText(c.level)), c.text) << c.level;
  }
}

}  // namespace
