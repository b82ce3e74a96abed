#include "core/StrUtil.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/core/GuardPage.h"

namespace {

constexpr wchar_t kCanaryW = 0x2A2A;
constexpr char kCanaryA = '*';

// Wide formats keep Windows' meaning: %s takes a wide string, %hs a narrow one.
TEST(StrPrintf, WideFormatHasWindowsSemantics)
{
    wchar_t buf[128];
    const int n = StrPrintfW(buf, 128, L"%s|%hs|%ls|%u|%03hu|%llu|%I64u", L"wide", "narrow", L"ls", 42u,
                             static_cast<unsigned short>(7), 18446744073709551615ull, 1234567890123ull);
    const std::wstring expected = L"wide|narrow|ls|42|007|18446744073709551615|1234567890123";
    EXPECT_EQ(std::wstring(buf), expected);
    EXPECT_EQ(n, static_cast<int>(expected.size()));
}

TEST(StrPrintf, NarrowFormatHasWindowsSemantics)
{
    char buf[128];
    const int n = StrPrintfA(buf, 128, "%s|%ls|%S|%llu|%I64d|%02X|%03hu", "narrow", L"wide", L"S",
                             18446744073709551615ull, -5ll, 0xABu, static_cast<unsigned short>(7));
    const std::string expected = "narrow|wide|S|18446744073709551615|-5|AB|007";
    EXPECT_EQ(std::string(buf), expected);
    EXPECT_EQ(n, static_cast<int>(expected.size()));
}

struct PrintfBoundCase {
    size_t size;
    int result;
    const char* text;  // what the buffer holds afterwards; null: untouched
};

// The output "abc456" is six characters.
const PrintfBoundCase kPrintfBounds[] = {
    {8, 6, "abc456"}, {7, 6, "abc456"}, {6, -1, "abc45"}, {2, -1, "a"}, {1, -1, ""}, {0, -1, nullptr},
};

TEST(StrPrintf, CutOutputIsTerminatedAndReported)
{
    for (const auto& c : kPrintfBounds) {
        SCOPED_TRACE(c.size);
        char a[16];
        wchar_t w[16];
        memset(a, kCanaryA, sizeof(a));
        for (auto& ch : w)
            ch = kCanaryW;
        EXPECT_EQ(StrPrintfA(a, c.size, "%s%d", "abc", 456), c.result);
        EXPECT_EQ(StrPrintfW(w, c.size, L"%s%d", L"abc", 456), c.result);
        if (!c.text) {
            EXPECT_EQ(a[0], kCanaryA);
            EXPECT_EQ(w[0], kCanaryW);
            continue;
        }
        EXPECT_STREQ(a, c.text);
        EXPECT_EQ(std::wstring(w), std::wstring(c.text, c.text + strlen(c.text)));
        EXPECT_EQ(a[c.size], kCanaryA);
        EXPECT_EQ(w[c.size], kCanaryW);
    }
}

TEST(StrPrintf, NullArgumentsFail)
{
    wchar_t w[4] = {kCanaryW, kCanaryW, kCanaryW, kCanaryW};
    EXPECT_EQ(StrPrintfW(nullptr, 4, L"x"), -1);
    EXPECT_EQ(StrPrintfW(w, 4, nullptr), -1);
    EXPECT_EQ(w[0], 0);
}

struct CopyCase {
    const char* name;
    size_t size;
    const wchar_t* src;
    const wchar_t* expected;  // null: untouched
};

const CopyCase kCopyCases[] = {
    {"cut", 4, L"0123456789", L"012"},
    {"exact_size", 4, L"012", L"012"},
    {"one_short", 4, L"0123", L"012"},
    {"size_one", 1, L"0123", L""},
    {"size_zero", 0, L"0123", nullptr},
    {"null_source", 4, nullptr, L""},
    {"empty_source", 4, L"", L""},
};

TEST(StrCopyN, BoundariesWide)
{
    for (const auto& c : kCopyCases) {
        SCOPED_TRACE(c.name);
        wchar_t buf[16];
        for (auto& ch : buf)
            ch = kCanaryW;
        const size_t n = StrCopyNW(buf, c.size, c.src);
        if (!c.expected) {
            EXPECT_EQ(n, 0u);
            EXPECT_EQ(buf[0], kCanaryW);
            continue;
        }
        EXPECT_STREQ(buf, c.expected);
        EXPECT_EQ(n, wcslen(c.expected));
        EXPECT_EQ(buf[c.size], kCanaryW);
    }
}

TEST(StrCopyN, BoundariesNarrow)
{
    char buf[8];
    memset(buf, kCanaryA, sizeof(buf));
    EXPECT_EQ(StrCopyNA(buf, 4, "0123456789"), 3u);
    EXPECT_STREQ(buf, "012");
    EXPECT_EQ(buf[4], kCanaryA);
    EXPECT_EQ(StrCopyNA(buf, 4, nullptr), 0u);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(StrCopyNA(nullptr, 4, "x"), 0u);
}

struct CatCase {
    const char* name;
    const wchar_t* start;
    size_t size;
    const wchar_t* src;
    const wchar_t* expected;  // null: untouched
};

const CatCase kCatCases[] = {
    {"fits", L"ab", 8, L"cd", L"abcd"},
    {"exact_size", L"ab", 5, L"cd", L"abcd"},
    {"one_short", L"ab", 5, L"cde", L"abcd"},
    {"already_full", L"abcd", 5, L"x", L"abcd"},
    {"null_source", L"ab", 5, nullptr, L"ab"},
    {"empty_source", L"ab", 5, L"", L"ab"},
    {"size_zero", L"ab", 0, L"cd", nullptr},
    {"unterminated_destination", L"abcdefgh", 4, L"x", L"abc"},
};

TEST(StrCatN, BoundariesWide)
{
    for (const auto& c : kCatCases) {
        SCOPED_TRACE(c.name);
        wchar_t buf[16];
        for (auto& ch : buf)
            ch = kCanaryW;
        wcscpy(buf, c.start);
        const size_t n = StrCatNW(buf, c.size, c.src);
        if (!c.expected) {
            EXPECT_EQ(n, 0u);
            EXPECT_STREQ(buf, c.start);
            continue;
        }
        EXPECT_STREQ(buf, c.expected);
        EXPECT_EQ(n, wcslen(c.expected));
    }
}

TEST(StrCatN, BoundariesNarrow)
{
    char buf[8];
    memset(buf, kCanaryA, sizeof(buf));
    strcpy(buf, "ab");
    EXPECT_EQ(StrCatNA(buf, 5, "cde"), 4u);
    EXPECT_STREQ(buf, "abcd");
    EXPECT_EQ(buf[5], kCanaryA);
    EXPECT_EQ(StrCatNA(buf, 5, nullptr), 4u);
    EXPECT_STREQ(buf, "abcd");
}

struct ContainsCase {
    const wchar_t* text;
    const wchar_t* pattern;
    int caseSensitive;
    bool expected;
};

const ContainsCase kContainsCases[] = {
    {L"Hello World", L"World", 1, true},
    {L"Hello World", L"world", 1, false},
    {L"Hello World", L"world", 0, true},
    {L"Hello World", L"World", 0, false},  // the pattern must already be lower case
    {L"aaab", L"aab", 0, true},            // a partial match restarts one further on
    {L"abc", L"abcd", 0, false},
    {L"abc", L"", 0, true},
    {L"\u00c4RGER", L"\u00e4rg", 0, true},
    {nullptr, L"a", 0, false},
    {L"a", nullptr, 1, false},
};

TEST(WcsContains, Table)
{
    for (const auto& c : kContainsCases) {
        SCOPED_TRACE(testing::Message() << (c.text ? "text" : "null") << " case " << c.caseSensitive);
        EXPECT_EQ(WcsContains(c.text, c.pattern, c.caseSensitive), c.expected);
    }
}

TEST(WcsContains, LoweredPatternMatchesMixedCaseText)
{
    wchar_t pattern[] = L"\u00c4Rg";
    WcsToLowerInPlace(pattern);
    EXPECT_STREQ(pattern, L"\u00e4rg");
    EXPECT_TRUE(WcsContains(L"x\u00c4RGER", pattern, 0));
}

struct TokenCase {
    const wchar_t* text;
    std::vector<std::wstring> pieces;
};

const TokenCase kTokenCases[] = {
    {L"a;;b", {L"a", L"", L"b"}},
    {L"a;b;", {L"a", L"b"}},
    {L"a", {L"a"}},
    {L";", {L""}},
    {L";a", {L"", L"a"}},
    {L"", {L""}},
};

// Texts of every length and start alignment, placed flush against a page
// that may not be read: the bounded length agrees with wcsnlen for every
// bound and never touches the page behind the text.
TEST(WcsLengthBounded, AgreesWithWcsnlenFlushAgainstAGuardPage)
{
    const CGuardPage guard;
    ASSERT_TRUE(guard.Ready());
    constexpr size_t kLongest = 40;
    for (size_t length = 0; length <= kLongest; ++length) {
        for (const bool terminated : {true, false}) {
            // The last unit (the terminator or the last character) ends the page.
            const size_t units = length + (terminated ? 1 : 0);
            if (units == 0)
                continue;
            auto* text = reinterpret_cast<wchar_t*>(guard.End() - units * sizeof(wchar_t));
            for (size_t i = 0; i < length; ++i)
                text[i] = wchar_t(L'a' + i % 26);
            if (terminated)
                text[length] = 0;
            for (size_t most = 0; most <= units; ++most) {
                EXPECT_EQ(wcsnlen(text, most), WcsLengthBounded(text, most))
                    << "length " << length << " terminated " << terminated << " most " << most;
            }
        }
    }
    // A text that starts on an odd address is measured too.
    auto* odd = reinterpret_cast<wchar_t*>(guard.End() - 2 * 5 - 1);
    std::memcpy(odd, L"abcd", 5 * sizeof(wchar_t));
    EXPECT_EQ(4u, WcsLengthBounded(odd, 10));
}

// Buffers of several lengths flush against a page that may not be read, so
// every start alignment and a range ending at a page's end are covered.
TEST(MemFindByte, FindsTheFirstHitAndReadsNothingOutsideTheRange)
{
    const CGuardPage guard;
    ASSERT_TRUE(guard.Ready());
    constexpr uint8_t kWanted = 0x80;  // negative as a char: no sign mix-up
    constexpr size_t kLastOffset = 40;
    for (const size_t length : {1, 2, 15, 16, 17, 31, 32, 33, 41, 47, 64, 100}) {
        uint8_t* const bytes = guard.End() - length;
        for (size_t i = 0; i < length; ++i)
            bytes[i] = uint8_t(i % 0x7F + 1);
        EXPECT_EQ(nullptr, MemFindByte(bytes, length, kWanted)) << length;
        EXPECT_EQ(nullptr, MemFindByte(bytes, length, 0)) << length;
        for (size_t at = 0; at < length && at <= kLastOffset; ++at) {
            bytes[at] = kWanted;
            if (at + 1 < length)
                bytes[length - 1] = kWanted;  // a later hit must not win
            EXPECT_EQ(bytes + at, MemFindByte(bytes, length, kWanted)) << length << " at " << at;
            // A range that ends before the hit does not see it.
            EXPECT_EQ(nullptr, MemFindByte(bytes, at, kWanted)) << length << " at " << at;
            bytes[at] = uint8_t(at % 0x7F + 1);
            bytes[length - 1] = uint8_t((length - 1) % 0x7F + 1);
        }
        bytes[length - 1] = kWanted;
        EXPECT_EQ(bytes + length - 1, MemFindByte(bytes, length, kWanted)) << length;
    }
    EXPECT_EQ(nullptr, MemFindByte(guard.End(), 0, 0));
}

TEST(WcsTokenizeSemicolon, Table)
{
    for (const auto& c : kTokenCases) {
        SCOPED_TRACE(testing::Message() << "text of " << wcslen(c.text) << " characters");
        std::wstring copy = c.text;
        wchar_t* cursor = copy.data();
        std::vector<std::wstring> pieces;
        while (const wchar_t* piece = WcsTokenizeSemicolon(&cursor))
            pieces.push_back(piece);
        EXPECT_EQ(pieces, c.pieces);
        EXPECT_EQ(cursor, nullptr);
    }
    wchar_t* none = nullptr;
    EXPECT_EQ(WcsTokenizeSemicolon(&none), nullptr);
    EXPECT_EQ(WcsTokenizeSemicolon(nullptr), nullptr);
}

TEST(StrFindChar, FirstLastAndNone)
{
    const char* text = "a.b.c";
    EXPECT_EQ(StrFindCharA(text, '.'), text + 1);
    EXPECT_EQ(StrFindLastCharA(text, '.'), text + 3);
    EXPECT_EQ(StrFindCharA(text, 'x'), nullptr);
    EXPECT_EQ(StrFindLastCharA(text, 'x'), nullptr);
    EXPECT_EQ(StrFindCharA(static_cast<const char*>(nullptr), '.'), nullptr);
    EXPECT_EQ(StrFindLastCharA(static_cast<const char*>(nullptr), '.'), nullptr);
}

TEST(StrCompareNA, BoundedAndNullSafe)
{
    EXPECT_EQ(StrCompareNA("abc", "abd", 2), 0);
    EXPECT_LT(StrCompareNA("abc", "abd", 3), 0);
    EXPECT_GT(StrCompareNA("b", "a", 1), 0);
    EXPECT_EQ(StrCompareNA(nullptr, "", 5), 0);
    EXPECT_LT(StrCompareNA(nullptr, "a", 5), 0);
}

// The test environment's ANSI code page is 1252.
TEST(AnsiToWideString, ConvertsAndFallsBackToEmpty)
{
    EXPECT_EQ(AnsiToWideString("caf\xe9 \x80"), L"caf\u00e9 \u20ac");
    EXPECT_EQ(AnsiToWideString("abcdef", 3), L"abc");
    EXPECT_EQ(AnsiToWideString(""), L"");
    EXPECT_EQ(AnsiToWideString(nullptr), L"");
}

struct Base64Case {
    std::string data;
    std::string text;
};

// RFC 4648 section 10, plus bytes that use the last two alphabet characters.
const Base64Case kBase64Cases[] = {
    {"f", "Zg=="},     {"fo", "Zm8="},       {"foo", "Zm9v"},         {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"abc", "YWJj"}, {"a", "YQ=="},
    {"\xfb\xff\xbf", "+/+/"},
};

size_t EncodeCapacity(size_t length) { return length / 3 * 4 + 4; }
size_t DecodeCapacity(size_t length) { return length * 3 / 4 + 1; }

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

TEST(Base64, EncodeVectorsAtTheSmallestCapacity)
{
    for (const auto& c : kBase64Cases) {
        SCOPED_TRACE(c.text);
        const size_t capacity = EncodeCapacity(c.data.size());
        std::string out(capacity + 4, kCanaryA);
        ASSERT_EQ(Base64Encode(c.data.data(), c.data.size(), out.data(), capacity), c.text.size());
        EXPECT_EQ(out.substr(0, c.text.size()), c.text);
        EXPECT_EQ(out.substr(capacity), std::string(4, kCanaryA));
        EXPECT_EQ(Base64Encode(c.data.data(), c.data.size(), out.data(), capacity - 1), 0u);
    }
}

TEST(Base64, EncodeRefusals)
{
    char out[16];
    memset(out, kCanaryA, sizeof(out));
    EXPECT_EQ(Base64Encode("", 0, out, sizeof(out)), 0u);
    EXPECT_EQ(Base64Encode("abc", 3, out, 0), 0u);
    EXPECT_EQ(Base64Encode("abc", 3, out, 7), 0u);
    EXPECT_EQ(Base64Encode(nullptr, 3, out, sizeof(out)), 0u);
    EXPECT_EQ(out[0], kCanaryA);
}

TEST(Base64, DecodeVectorsAtTheSmallestCapacity)
{
    for (const auto& c : kBase64Cases) {
        SCOPED_TRACE(c.text);
        const std::wstring text = Widen(c.text);
        const size_t capacity = DecodeCapacity(text.size());
        std::string out(capacity + 4, kCanaryA);
        ASSERT_EQ(Base64Decode(text.c_str(), text.size(), out.data(), capacity), c.data.size());
        EXPECT_EQ(out.substr(0, c.data.size()), c.data);
        EXPECT_EQ(out.substr(capacity), std::string(4, kCanaryA));
        EXPECT_EQ(Base64Decode(text.c_str(), text.size(), out.data(), capacity - 1), 0u);
    }
}

struct DecodeCase {
    const char* name;
    std::wstring text;
    std::string data;
};

const DecodeCase kDecodeCases[] = {
    {"unpadded_two", L"Zm9vYg", "foob"},
    {"unpadded_three", L"Zm9vYmE", "fooba"},
    {"lone_last_character", L"Zm9vY", "foo"},
    {"single_character", L"Z", ""},
    {"stops_at_padding", L"Zg==Zm9v", "f"},
    {"padding_in_fourth_place", L"Zm8=Zm9v", "fo"},
    {"only_low_byte_counts", L"\u015ag==", "f"},
    {"outside_alphabet_is_zero", std::wstring(L"!!!!"), std::string(3, '\0')},
    {"high_characters_are_zero", L"\u00ff\u00ff\u00ff\u00ff", std::string(3, '\0')},
    {"padding_first_is_zero", L"==", std::string(1, '\0')},
};

TEST(Base64, DecodeOddInputSafely)
{
    for (const auto& c : kDecodeCases) {
        SCOPED_TRACE(c.name);
        // Exactly the input's characters, so a read beyond them would be seen by
        // the address checker and a read of the canary as wrong bytes.
        std::vector<wchar_t> text(c.text.begin(), c.text.end());
        text.push_back(L'Q');
        const size_t capacity = DecodeCapacity(c.text.size());
        std::string out(capacity + 4, kCanaryA);
        const size_t n = Base64Decode(text.data(), c.text.size(), out.data(), capacity);
        EXPECT_EQ(std::string(out.data(), n), c.data);
        EXPECT_EQ(out.substr(capacity), std::string(4, kCanaryA));
    }
}

TEST(Base64, DecodeRefusals)
{
    unsigned char out[8];
    EXPECT_EQ(Base64Decode(L"YQ==", 4, out, 1), 0u);
    EXPECT_EQ(Base64Decode(L"YQ==", 4, out, 3), 0u);
    EXPECT_EQ(Base64Decode(L"YQ==", 4, out, 4), 1u);
    EXPECT_EQ(Base64Decode(L"YQ==", 0, out, 8), 0u);
    EXPECT_EQ(Base64Decode(nullptr, 4, out, 8), 0u);
    EXPECT_EQ(Base64Decode(L"YQ==", 4, nullptr, 8), 0u);
}

TEST(Base64, EveryByteValueRoundTrips)
{
    std::string data;
    for (int i = 0; i < 256; ++i)
        data.push_back(static_cast<char>(255 - i));
    for (size_t length = 1; length <= 7; ++length) {
        const std::string piece = data.substr(data.size() - length * 37 % 256, length);
        std::string text(EncodeCapacity(piece.size()), '\0');
        text.resize(Base64Encode(piece.data(), piece.size(), text.data(), text.size()));
        const std::wstring wide = Widen(text);
        std::string back(DecodeCapacity(wide.size()), '\0');
        back.resize(Base64Decode(wide.c_str(), wide.size(), back.data(), back.size()));
        EXPECT_EQ(back, piece) << length;
    }
    std::string text(EncodeCapacity(data.size()), '\0');
    text.resize(Base64Encode(data.data(), data.size(), text.data(), text.size()));
    const std::wstring wide = Widen(text);
    std::string back(DecodeCapacity(wide.size()), '\0');
    back.resize(Base64Decode(wide.c_str(), wide.size(), back.data(), back.size()));
    EXPECT_EQ(back, data);
}

struct CrcCase {
    std::string data;
    uint32_t crc;
};

const CrcCase kCrcCases[] = {
    {"123456789", 0xCBF43926u},
    {"", 0u},
    {"a", 0xE8B7BE43u},
    {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
};

TEST(Crc32, KnownVectorsWholeAndInPieces)
{
    for (const auto& c : kCrcCases) {
        SCOPED_TRACE(c.data);
        EXPECT_EQ(Crc32(c.data.data(), c.data.size()), c.crc);
        for (size_t cut = 0; cut <= c.data.size(); ++cut) {
            uint32_t crc = Crc32Update(0, c.data.data(), cut);
            crc = Crc32Update(crc, c.data.data() + cut, c.data.size() - cut);
            EXPECT_EQ(crc, c.crc) << "cut at " << cut;
        }
    }
}

struct UrlCase {
    const char* text;
    size_t size;
    const wchar_t* expected;
};

const UrlCase kUrlCases[] = {
    {"a b&c", 64, L"a+b%26c"},
    {"a b&c", 8, L"a+b%26c"},
    {"a b&c", 7, L"a+b%26"},
    {"a b&c", 6, L"a+b"},
    {"a b&c", 4, L"a+b"},
    {"a b&c", 1, L""},
    {"Az09-_.~\xe9", 64, L"Az09%2D%5F%2E%7E%E9"},
    {nullptr, 8, L""},
};

TEST(UrlEncodeA, EncodesAndStopsBeforeWhatDoesNotFit)
{
    for (const auto& c : kUrlCases) {
        SCOPED_TRACE(testing::Message() << (c.text ? c.text : "null") << " size " << c.size);
        std::vector<wchar_t> out(c.size + 4, kCanaryW);
        const size_t n = UrlEncodeA(c.text, out.data(), c.size);
        EXPECT_STREQ(out.data(), c.expected);
        EXPECT_EQ(n, wcslen(c.expected));
        EXPECT_EQ(out[c.size], kCanaryW);
    }
    wchar_t untouched = kCanaryW;
    EXPECT_EQ(UrlEncodeA("abc", &untouched, 0), 0u);
    EXPECT_EQ(untouched, kCanaryW);
}

TEST(UnderscoreDotToSpace, ReplacesInPlace)
{
    wchar_t name[] = L"my_pc.corp_local";
    UnderscoreDotToSpace(name);
    EXPECT_STREQ(name, L"my pc corp local");
    UnderscoreDotToSpace(nullptr);
}

struct NumberCase {
    const wchar_t* text;
    uint32_t value;
};

const NumberCase kNumberCases[] = {
    {L"1A", 26u},
    {L"12", 12u},
    {L"", 0u},
    {nullptr, 0u},
    {L"ff", 255u},
    {L"80070005", 80070005u},      // all digits: read as decimal
    {L"8007000E", 0x8007000Eu},
    {L"0x10", 16u},
    {L"12G", 0x12u},               // stops at the first character it cannot use
};

TEST(ParseNumberAutoBase, Table)
{
    for (const auto& c : kNumberCases) {
        SCOPED_TRACE(testing::Message() << (c.text ? "text" : "null"));
        EXPECT_EQ(ParseNumberAutoBase(c.text), c.value);
    }
}

} // namespace
