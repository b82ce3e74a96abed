#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "core/StrUtil.h"
#include "ui/dialogs/Base64Text.h"

namespace {

std::wstring Encoded(const std::wstring& text) {
  CString result(L"untouched");
  EXPECT_EQ(1, EncodeTextBase64(text.c_str(), &result));
  return result.c_str();
}

std::wstring Decoded(const std::wstring& text) {
  CString result(L"untouched");
  EXPECT_EQ(1, DecodeTextBase64(text.c_str(), &result));
  return result.c_str();
}

// n three-byte UTF-8 characters (the euro sign) and then `ascii` letters.
std::wstring Utf8Bytes(size_t euros, size_t ascii) { return std::wstring(euros, L'\x20AC') + std::wstring(ascii, L'a'); }

TEST(Base64Text, EncodesTheUtf8BytesOfTheText) {
  EXPECT_EQ(L"YWJj", Encoded(L"abc"));
  EXPECT_EQ(L"4oKs", Encoded(L"\x20AC"));          // E2 82 AC
  EXPECT_EQ(L"8J+YgA==", Encoded(L"\xD83D\xDE00"));  // a surrogate pair: four bytes
}

struct SizeCase {
  size_t euros;
  size_t ascii;
  size_t encodedChars;  // 0: too long, empty result
};

TEST(Base64Text, EncodedTextMustFitTheBufferWithItsTerminator) {
  const SizeCase cases[] = {
      {1023, 0, 4092},  // 3069 bytes: the longest that fits
      {1022, 2, 4092},  // 3068 bytes
      {1023, 1, 0},     // 3070 bytes: 4096 characters and no room for the terminator
      {1024, 0, 0},     // 3072 bytes
      {0, 2047, 2732},  // the longest input in plain letters
  };
  for (const SizeCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.euros << " euro signs, " << c.ascii << " letters");
    const std::wstring text = Utf8Bytes(c.euros, c.ascii);
    const std::wstring encoded = Encoded(text);
    ASSERT_EQ(c.encodedChars, encoded.size());
    if (encoded.empty()) {
      continue;
    }
    // The whole encoding decodes to the text's UTF-8 bytes.
    std::string expected(text.size() * 3, '\0');
    expected.resize(size_t(::WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), expected.data(),
                                                 int(expected.size()), nullptr, nullptr)));
    std::string bytes(kBase64BufferBytes, '\0');
    bytes.resize(Base64Decode(encoded.data(), encoded.size(), bytes.data(), bytes.size()));
    EXPECT_TRUE(expected == bytes);
  }
}

TEST(Base64Text, OnlyTheFirst2047CharactersAreConverted) {
  const std::wstring longText = std::wstring(2047, L'x') + L"yyyy";
  EXPECT_TRUE(Encoded(std::wstring(2047, L'x')) == Encoded(longText));
  // A cut that would split a surrogate pair leaves the whole pair out.
  const std::wstring split = std::wstring(2046, L'x') + L"\xD83D\xDE00";
  EXPECT_EQ(2046u, Base64InputLength(split.c_str()));
  EXPECT_TRUE(Encoded(std::wstring(2046, L'x')) == Encoded(split));
  EXPECT_EQ(2047u, Base64InputLength(longText.c_str()));
  EXPECT_EQ(0u, Base64InputLength(nullptr));
  // Decoding reads as much: 2047 characters are 511 whole groups and three
  // characters, 1535 bytes.
  const std::wstring bytes1536(1536, L'a');
  const std::wstring encoded = Encoded(bytes1536);
  ASSERT_EQ(2048u, encoded.size());
  EXPECT_TRUE(std::wstring(1535, L'a') == Decoded(encoded));
  EXPECT_TRUE(std::wstring(1535, L'a') == Decoded(Encoded(std::wstring(1535, L'a'))));
}

TEST(Base64Text, AnEmptyTextDoesNothing) {
  CString result(L"kept");
  EXPECT_EQ(0, EncodeTextBase64(L"", &result));
  EXPECT_EQ(0, EncodeTextBase64(nullptr, &result));
  EXPECT_EQ(0, DecodeTextBase64(L"", &result));
  EXPECT_EQ(0, DecodeTextBase64(nullptr, &result));
  EXPECT_STREQ(L"kept", result.c_str());
}

struct DecodeCase {
  const wchar_t* text;
  const wchar_t* expected;
};

TEST(Base64Text, DecodedBytesEndAtTheDecodedLength) {
  const DecodeCase cases[] = {
      {L"YWJj", L"abc"},
      {L"YQ==", L"a"},   // one byte: nothing of the buffer behind it is read
      {L"YWI=", L"ab"},
      {L"YQ", L"a"},     // a short last group
      {L"4oKs", L"\x20AC"},
      {L"YQBi", L"a"},   // "a", zero, "b": the text ends at the zero byte
      {L"AGFi", L""},    // a zero first
      {L"====", L""},    // nothing decoded
      {L"@@@@", L""},    // no alphabet characters: three zero bytes
      {L"/w==", L"\xFFFD"},  // a byte that is no UTF-8
  };
  for (const DecodeCase& c : cases) {
    EXPECT_EQ(std::wstring(c.expected), Decoded(c.text)) << std::wstring(c.text).c_str();
  }
}

// The decoder's buffer is on the stack and never cleared: a decode that
// fills much of it, then a short one, and the short one shows only its own
// bytes.
TEST(Base64Text, AShortDecodeAfterALongOneShowsOnlyItsOwnBytes) {
  const std::wstring longText(1500, L'a');
  ASSERT_TRUE(longText == Decoded(Encoded(longText)));
  EXPECT_EQ(L"b", Decoded(L"Yg=="));
}

}  // namespace
