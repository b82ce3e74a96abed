#include "core/NarrowText.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/core/GuardPage.h"

namespace {

// The converters' results must equal the system converter's for every
// input: the text cut to `bytes`, to units - 1 bytes and at its first 0
// byte, then given to MultiByteToWideChar. They read the text flush against
// a page that may not be touched (so the text ends at a buffer's end,
// unterminated) and write into a destination of exactly `units` units flush
// against another.
class Utf8Decoding : public testing::Test {
 protected:
  enum class Converter { kSystemUtf8, kSystemAnsi, kUtf8ToWide, kNarrowUtf8, kNarrowAnsi };

  void SetUp() override {
    ASSERT_TRUE(m_textGuard.Ready());
    ASSERT_TRUE(m_destGuard.Ready());
  }

  static size_t System(UINT codePage, const uint8_t* text, size_t bytes, wchar_t* dest, size_t units) {
    const size_t most = bytes < units - 1 ? bytes : units - 1;
    const size_t n = strnlen(reinterpret_cast<const char*>(text), most);
    const int made =
        n != 0 ? MultiByteToWideChar(codePage, 0, reinterpret_cast<const char*>(text), int(n), dest, int(units - 1))
               : 0;
    dest[made > 0 ? made : 0] = 0;
    return made > 0 ? size_t(made) : 0;
  }

  std::wstring Convert(Converter converter, const std::string& text, size_t bytes, size_t units) {
    auto* placed = m_textGuard.End() - bytes;
    std::memcpy(placed, text.data(), bytes);
    auto* dest = reinterpret_cast<wchar_t*>(m_destGuard.End()) - units;
    for (size_t i = 0; i < units; ++i) dest[i] = L'?';
    size_t made = 0;
    switch (converter) {
      case Converter::kSystemUtf8: made = System(CP_UTF8, placed, bytes, dest, units); break;
      case Converter::kSystemAnsi: made = System(CP_ACP, placed, bytes, dest, units); break;
      case Converter::kUtf8ToWide: made = Utf8ToWide(placed, bytes, dest, units); break;
      case Converter::kNarrowUtf8: made = NarrowToWide(CP_UTF8, placed, bytes, dest, units); break;
      case Converter::kNarrowAnsi: made = NarrowToWide(CP_ACP, placed, bytes, dest, units); break;
    }
    const size_t length = wcsnlen(dest, units);
    EXPECT_LT(length, units) << "no terminator";
    EXPECT_EQ(length, made) << "the count returned is the text's length";
    return std::wstring(dest, length);
  }

  void ExpectSame(const std::string& text, size_t bytes, size_t units) {
    const std::wstring utf8 = Convert(Converter::kSystemUtf8, text, bytes, units);
    const std::wstring ansi = Convert(Converter::kSystemAnsi, text, bytes, units);
    const std::string where = testing::PrintToString(text) + " bytes " + std::to_string(bytes) + " units " +
                              std::to_string(units);
    EXPECT_EQ(utf8, Convert(Converter::kUtf8ToWide, text, bytes, units)) << where;
    EXPECT_EQ(utf8, Convert(Converter::kNarrowUtf8, text, bytes, units)) << where;
    EXPECT_EQ(ansi, Convert(Converter::kNarrowAnsi, text, bytes, units)) << where;
  }

  // Every cut of the input by its byte count, then every cut of the output
  // by the destination's size.
  void ExpectSameAsSystem(const std::string& text) {
    const size_t roomy = text.size() + 1;
    for (size_t bytes = 0; bytes <= text.size(); ++bytes) {
      ExpectSame(text, bytes, roomy);
    }
    for (size_t units = 1; units <= roomy; ++units) {
      ExpectSame(text, text.size(), units);
    }
  }

 private:
  CGuardPage m_textGuard;
  CGuardPage m_destGuard;
};

const std::string kAscii = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";

std::string Ascii(size_t n) { return kAscii.substr(0, n); }

TEST_F(Utf8Decoding, AsciiAroundTheBlockSize) {
  for (size_t n : {0, 1, 15, 16, 17, 31, 32, 33, 48, 62}) {
    ExpectSameAsSystem(Ascii(n));
  }
  EXPECT_EQ(L"0123456789abcdefg", Convert(Converter::kUtf8ToWide, Ascii(17), 17, 18));
}

// Each sequence length at every place relative to the sixteen-byte steps,
// alone and followed by more text.
TEST_F(Utf8Decoding, SequencesAtEveryBlockPosition) {
  const std::string sequences[] = {"\xc3\xa9", "\xdf\xbf", "\xe6\x96\x87", "\xef\xbf\xbd", "\xf0\x9f\x98\x80",
                                   "\xf4\x8f\xbf\xbf"};
  for (const std::string& sequence : sequences) {
    for (size_t before = 0; before <= 34; ++before) {
      ExpectSameAsSystem(Ascii(before) + sequence);
      ExpectSameAsSystem(Ascii(before) + sequence + Ascii(19));
    }
  }
}

TEST_F(Utf8Decoding, MixedWordsAsWritersSendThem) {
  const std::string words =
      "w1 t2 #3 open \xc3\xa9t\xc3\xa9 \xc3\xbc" "ber \xe6\x96\x87\xe4\xbb\xb6 \xf0\x9f\x98\x80 retry "
      "\xc3\xa9t\xc3\xa9\xf0\x9f\x98\x80\xe6\x96\x87 a\xc3\xa9" "b timeout";
  ExpectSameAsSystem(words);
  EXPECT_EQ(L"\u00e9t\u00e9 \U0001F600\u6587", Convert(Converter::kUtf8ToWide, "\xc3\xa9t\xc3\xa9 \xf0\x9f\x98\x80\xe6\x96\x87", 14, 20));
}

// Ill-formed bytes after well-formed text, at several block positions: the
// whole text must come out as the system converter gives it.
TEST_F(Utf8Decoding, IllFormedTextGoesToTheSystemConverter) {
  const std::string broken[] = {
      "\xc0\x80",          // overlong NUL
      "\xc1\xbf",          // overlong
      "\xe0\x80\xaf",      // overlong three-byte
      "\xf0\x8f\xbf\xbf",  // overlong four-byte
      "\xed\xa0\x80",      // surrogate
      "\xed\xbf\xbf",      // surrogate
      "\xf4\x90\x80\x80",  // past U+10FFFF
      "\xf5\x80\x80\x80",  // no such lead
      "\xf8\x88\x80\x80\x80",
      "\xff",
      "\x80",              // stray continuation
      "\xbf\xbf",
      "\xc3" "A",          // missing continuation
      "\xe6\x96" "A",
      "\xf0\x9f\x98" "A",
      "\xf0\x9f\x98",      // cut by the end
      "\xe6",
  };
  for (const std::string& bad : broken) {
    for (size_t before : {0, 1, 15, 16, 17}) {
      ExpectSameAsSystem(Ascii(before) + bad);
      ExpectSameAsSystem("\xc3\xa9" + Ascii(before) + bad + "\xe6\x96\x87 tail");
    }
  }
}

// A 0 byte ends the text: what follows it, even ill-formed bytes, is never
// decoded.
TEST_F(Utf8Decoding, ZeroByteEndsTheText) {
  const std::string cases[] = {
      std::string("abc\0def", 7),
      std::string("\xc3\xa9\0\xc3\xa9", 5),
      std::string("\xc3\xa9\0\x80\xff", 5),
      Ascii(20) + std::string("\0", 1) + Ascii(20),
      Ascii(15) + std::string("\0\xe6\x96\x87", 4),
      std::string("\xe6\x96\0", 3),
      std::string("\xf0\x9f\x98\x80\0", 5) + Ascii(16),
  };
  for (const std::string& text : cases) {
    ExpectSameAsSystem(text);
  }
  EXPECT_EQ(L"\u00e9", Convert(Converter::kUtf8ToWide, std::string("\xc3\xa9\0\x80\xff", 5), 5, 6));
}

}  // namespace
