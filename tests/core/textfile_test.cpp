#include "core/TextFile.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// A unique file under the temp folder, deleted with the object.
class TempFile {
public:
    TempFile()
    {
        wchar_t dir[MAX_PATH];
        wchar_t name[MAX_PATH];
        DWORD n = GetTempPathW(MAX_PATH, dir);
        if (n > 0 && n < MAX_PATH && GetTempFileNameW(dir, L"ktf", 0, name))
            m_path = name;
    }
    ~TempFile()
    {
        if (!m_path.empty())
            DeleteFileW(m_path.c_str());
    }
    const wchar_t* path() const { return m_path.c_str(); }
    bool valid() const { return !m_path.empty(); }

    void WriteBytes(const Bytes& bytes) const
    {
        FILE* f = _wfopen(m_path.c_str(), L"wb");
        ASSERT_NE(f, nullptr);
        if (!bytes.empty()) {
            ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
        }
        fclose(f);
    }
    Bytes ReadBytes() const
    {
        Bytes out;
        FILE* f = _wfopen(m_path.c_str(), L"rb");
        if (!f)
            return out;
        int c;
        while ((c = fgetc(f)) != EOF)
            out.push_back(static_cast<uint8_t>(c));
        fclose(f);
        return out;
    }

private:
    std::wstring m_path;
};

std::wstring Line(const wchar_t* text, size_t length) { return std::wstring(text, length); }

// Reads every line of the file into a list, each exactly as returned.
std::vector<std::wstring> ReadAllLines(CTextFile& file)
{
    std::vector<std::wstring> lines;
    size_t n = 0;
    while (const wchar_t* line = file.ReadLine(&n)) {
        EXPECT_EQ(n, file.LineLength());
        lines.push_back(Line(line, n));
    }
    return lines;
}

std::wstring LongText(size_t count)
{
    std::wstring s;
    for (size_t i = 0; i < count; ++i)
        s.push_back(static_cast<wchar_t>(L'a' + i % 26));
    return s;
}

struct EncodingCase {
    const char* name;
    uint32_t writeEncoding;
    uint32_t readEncoding;
    uint32_t encodingAfterOpen;
    Bytes mark;
};

const EncodingCase kEncodings[] = {
    {"none", KT_ENC_NONE, KT_ENC_NONE, KT_ENC_UTF8, {0xEF, 0xBB, 0xBF}},
    {"ansi", KT_ENC_ANSI, KT_ENC_ANSI, KT_ENC_ANSI, {}},
    {"utf16le", KT_ENC_UTF16LE, KT_ENC_UTF16LE, KT_ENC_UTF16LE, {0xFF, 0xFE}},
    {"utf16be", KT_ENC_UTF16BE, KT_ENC_UTF16BE, KT_ENC_UTF16BE, {0xFE, 0xFF}},
    {"utf8", KT_ENC_UTF8, KT_ENC_UTF8, KT_ENC_UTF8, {0xEF, 0xBB, 0xBF}},
    {"utf16le detected", KT_ENC_UTF16LE, KT_ENC_NONE, KT_ENC_UTF16LE, {0xFF, 0xFE}},
    {"utf16be detected", KT_ENC_UTF16BE, KT_ENC_NONE, KT_ENC_UTF16BE, {0xFE, 0xFF}},
};

class TextFileEncodingTest : public ::testing::TestWithParam<EncodingCase> {};

// Every encoding carries CR, LF and CR LF line ends, characters of two and
// three UTF-8 bytes that the test's code page 1252 also holds, and a line
// longer than the line buffer, which comes back in two pieces.
TEST_P(TextFileEncodingTest, WriteThenReadRoundTrip)
{
    const EncodingCase& c = GetParam();
    TempFile tmp;
    ASSERT_TRUE(tmp.valid());
    const std::wstring longLine = LongText(20000);
    const std::vector<std::wstring> written = {
        L"first\r", L"caf\u00e9 \u20ac\n", L"third\r\n", longLine + L"\n", L"\r\n", L"last",
    };
    {
        CTextFile out;
        ASSERT_EQ(out.Open(tmp.path(), 0, c.writeEncoding), 1);
        EXPECT_EQ(out.Encoding(), c.encodingAfterOpen);
        for (const auto& s : written)
            EXPECT_EQ(out.WriteString(s.c_str()), static_cast<int>(s.size()));
        EXPECT_EQ(out.Close(), 1);
    }
    const Bytes bytes = tmp.ReadBytes();
    ASSERT_GE(bytes.size(), c.mark.size());
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + c.mark.size()), c.mark);

    CTextFile in;
    ASSERT_EQ(in.Open(tmp.path(), 1, c.readEncoding), 1);
    EXPECT_EQ(in.Encoding(), c.encodingAfterOpen);
    EXPECT_EQ(in.MarkLength(), c.readEncoding == KT_ENC_NONE ? c.mark.size() : 0u);
    EXPECT_EQ(in.FileSize(), bytes.size());
    const size_t piece = CTextFile::kLineChars - 1;
    const std::vector<std::wstring> expected = {
        L"first\r",
        L"caf\u00e9 \u20ac\n",
        L"third\r\n",
        longLine.substr(0, piece),
        longLine.substr(piece) + L"\n",
        L"\r\n",
        L"last",
    };
    std::vector<std::wstring> lines;
    if (c.readEncoding == KT_ENC_NONE || c.writeEncoding == KT_ENC_ANSI) {
        lines = ReadAllLines(in);
    } else {
        // Read as given, the mark is the first character.
        wchar_t ch = 0;
        ASSERT_EQ(in.ReadCharUtf8(&ch), 1);
        EXPECT_EQ(ch, 0xFEFF);
        lines = ReadAllLines(in);
    }
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(in.ReadLine(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Encodings, TextFileEncodingTest, ::testing::ValuesIn(kEncodings),
                         [](const ::testing::TestParamInfo<EncodingCase>& info) {
                             std::string name = info.param.name;
                             for (char& ch : name)
                                 if (ch == ' ')
                                     ch = '_';
                             return name;
                         });

struct BomCase {
    const char* name;
    Bytes bytes;
    uint32_t openEncoding;
    uint32_t encoding;
    unsigned markLength;
    const wchar_t* firstLine;  // null: the file reads as empty
};

const BomCase kBomCases[] = {
    {"utf8_mark", {0xEF, 0xBB, 0xBF, 'h', 'i'}, KT_ENC_NONE, KT_ENC_UTF8, 3, L"hi"},
    {"two_letters", {'h', 'i'}, KT_ENC_NONE, KT_ENC_ANSI, 0, L"hi"},
    {"utf16le_mark", {0xFF, 0xFE, 'h', 0, 'i', 0}, KT_ENC_NONE, KT_ENC_UTF16LE, 2, L"hi"},
    {"utf16be_mark", {0xFE, 0xFF, 0, 'h', 0, 'i'}, KT_ENC_NONE, KT_ENC_UTF16BE, 2, L"hi"},
    {"half_utf8_mark", {0xEF, 0xBB, 'x'}, KT_ENC_NONE, KT_ENC_ANSI, 0, L"\u00ef\u00bbx"},
    {"one_byte", {'h'}, KT_ENC_NONE, KT_ENC_ANSI, 0, L"h"},
    {"empty", {}, KT_ENC_NONE, KT_ENC_ANSI, 0, nullptr},
    {"utf8_mark_read_as_given", {0xEF, 0xBB, 0xBF, 'h', 'i'}, KT_ENC_UTF8, KT_ENC_UTF8, 0, L"\ufeffhi"},
    {"utf16le_mark_read_as_ansi", {0xFF, 0xFE, 'h'}, KT_ENC_ANSI, KT_ENC_ANSI, 0, L"\u00ff\u00feh"},
};

class TextFileBomTest : public ::testing::TestWithParam<BomCase> {};

TEST_P(TextFileBomTest, DetectsEncodingAndSkipsOnlyTheMark)
{
    const BomCase& c = GetParam();
    TempFile tmp;
    ASSERT_TRUE(tmp.valid());
    tmp.WriteBytes(c.bytes);
    CTextFile in;
    ASSERT_EQ(in.Open(tmp.path(), 1, c.openEncoding), 1);
    EXPECT_EQ(in.Encoding(), c.encoding);
    EXPECT_EQ(in.MarkLength(), c.markLength);
    const wchar_t* line = in.ReadLine();
    if (!c.firstLine) {
        EXPECT_EQ(line, nullptr);
        return;
    }
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(std::wstring(line), c.firstLine);
    EXPECT_EQ(in.ReadLine(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Marks, TextFileBomTest, ::testing::ValuesIn(kBomCases),
                         [](const ::testing::TestParamInfo<BomCase>& info) { return std::string(info.param.name); });

struct SurrogateCase {
    const char* name;
    uint32_t encoding;
    Bytes body;  // after the mark
};

// U+1F600 between two letters.
const SurrogateCase kSurrogateCases[] = {
    {"utf8", KT_ENC_UTF8, {'a', 0xF0, 0x9F, 0x98, 0x80, 'b', '\n'}},
    {"utf16be", KT_ENC_UTF16BE, {0, 'a', 0xD8, 0x3D, 0xDE, 0x00, 0, 'b', 0, '\n'}},
    {"utf16le", KT_ENC_UTF16LE, {'a', 0, 0x3D, 0xD8, 0x00, 0xDE, 'b', 0, '\n', 0}},
};

class TextFileSurrogateTest : public ::testing::TestWithParam<SurrogateCase> {};

TEST_P(TextFileSurrogateTest, PairRoundTrip)
{
    const SurrogateCase& c = GetParam();
    const std::wstring text = L"a\U0001F600b\n";
    TempFile tmp;
    ASSERT_TRUE(tmp.valid());
    {
        CTextFile out;
        ASSERT_EQ(out.Open(tmp.path(), 0, c.encoding), 1);
        EXPECT_EQ(out.WriteString(text.c_str()), static_cast<int>(text.size()));
    }
    Bytes bytes = tmp.ReadBytes();
    const unsigned mark = c.encoding == KT_ENC_UTF8 ? 3 : 2;
    ASSERT_GE(bytes.size(), mark);
    EXPECT_EQ(Bytes(bytes.begin() + mark, bytes.end()), c.body);

    CTextFile in;
    ASSERT_EQ(in.Open(tmp.path(), 1, KT_ENC_NONE), 1);
    size_t n = 0;
    const wchar_t* line = in.ReadLine(&n);
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(Line(line, n), text);
}

INSTANTIATE_TEST_SUITE_P(Encodings, TextFileSurrogateTest, ::testing::ValuesIn(kSurrogateCases),
                         [](const ::testing::TestParamInfo<SurrogateCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(TextFileWrite, LoneSurrogateBecomesReplacementInUtf8)
{
    TempFile tmp;
    ASSERT_TRUE(tmp.valid());
    {
        CTextFile out;
        ASSERT_EQ(out.Open(tmp.path(), 0, KT_ENC_UTF8), 1);
        const wchar_t text[] = {L'a', 0xD83D, L'b', 0xDE00, 0};
        EXPECT_EQ(out.WriteUtf(text), 4);
    }
    const Bytes expected = {0xEF, 0xBB, 0xBF, 'a', 0xEF, 0xBF, 0xBD, 'b', 0xEF, 0xBF, 0xBD};
    EXPECT_EQ(tmp.ReadBytes(), expected);
}

// At the piece limit a surrogate pair or a CR LF would only half fit; it
// moves whole to the next piece.
TEST(TextFileRead, PieceLimitKeepsPairsAndLineEndsTogether)
{
    const size_t before = CTextFile::kLineChars - 2;
    const std::wstring filler = LongText(before);
    for (uint32_t encoding : {KT_ENC_UTF8, KT_ENC_UTF16BE, KT_ENC_UTF16LE}) {
        SCOPED_TRACE(encoding);
        TempFile tmp;
        ASSERT_TRUE(tmp.valid());
        const std::wstring withPair = filler + L"\U0001F600z\n";
        const std::wstring withCrLf = filler + L"\r\n";
        {
            CTextFile out;
            ASSERT_EQ(out.Open(tmp.path(), 0, encoding), 1);
            out.WriteString(withPair.c_str());
            out.WriteString(withCrLf.c_str());
        }
        CTextFile in;
        ASSERT_EQ(in.Open(tmp.path(), 1, KT_ENC_NONE), 1);
        const std::vector<std::wstring> expected = {filler, L"\U0001F600z\n", filler, L"\r\n"};
        EXPECT_EQ(ReadAllLines(in), expected);
    }
}

struct Utf8Case {
    const char* name;
    uint32_t encoding;
    Bytes bytes;
    std::vector<wchar_t> units;
    std::vector<unsigned> consumed;
};

const Utf8Case kUtf8Cases[] = {
    {"ascii", KT_ENC_UTF8, {'A'}, {L'A'}, {1}},
    {"two_bytes", KT_ENC_UTF8, {0xC3, 0xA9}, {0xE9}, {2}},
    {"three_bytes", KT_ENC_UTF8, {0xE2, 0x82, 0xAC}, {0x20AC}, {3}},
    {"four_bytes_as_pair", KT_ENC_UTF8, {0xF0, 0x9F, 0x98, 0x80}, {0xD83D, 0xDE00}, {4, 0}},
    {"halves_of_earlier_versions", KT_ENC_UTF8, {0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80}, {0xD83D, 0xDE00}, {3, 3}},
    {"cut_two_byte_at_end", KT_ENC_UTF8, {0xC3}, {0xFFFD}, {1}},
    {"cut_three_byte_before_cr", KT_ENC_UTF8, {0xE2, 0x82, '\r'}, {0xFFFD, L'\r'}, {2, 1}},
    {"cut_four_byte_before_lf", KT_ENC_UTF8, {0xF0, 0x9F, 0x98, '\n'}, {0xFFFD, L'\n'}, {3, 1}},
    {"lead_before_letter", KT_ENC_UTF8, {0xC3, 'A'}, {0xFFFD, L'A'}, {1, 1}},
    {"overlong_two_byte", KT_ENC_UTF8, {0xC0, 0xAF}, {0xFFFD, 0xFFFD}, {1, 1}},
    {"overlong_three_byte", KT_ENC_UTF8, {0xE0, 0x80, 0x80}, {0xFFFD, 0xFFFD, 0xFFFD}, {1, 1, 1}},
    {"beyond_unicode", KT_ENC_UTF8, {0xF4, 0x90, 0x80, 0x80}, {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}, {1, 1, 1, 1}},
    {"invalid_lead", KT_ENC_UTF8, {0xF5, 'A'}, {0xFFFD, L'A'}, {1, 1}},
    {"stray_continuation", KT_ENC_UTF8, {0x80, 'A'}, {0xFFFD, L'A'}, {1, 1}},
    {"nul", KT_ENC_UTF8, {'a', 0, 'b'}, {L'a', 0, L'b'}, {1, 1, 1}},
    {"utf16be", KT_ENC_UTF16BE, {0x20, 0xAC, 0, 0}, {0x20AC, 0}, {2, 2}},
    {"utf16le_odd_byte", KT_ENC_UTF16LE, {0xAC, 0x20, 'x'}, {0x20AC, 0xFFFD}, {2, 1}},
};

class TextFileUtf8Test : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(TextFileUtf8Test, ReadCharUtf8)
{
    const Utf8Case& c = GetParam();
    TempFile tmp;
    ASSERT_TRUE(tmp.valid());
    tmp.WriteBytes(c.bytes);
    CTextFile in;
    ASSERT_EQ(in.Open(tmp.path(), 1, c.encoding), 1);
    std::vector<wchar_t> units;
    std::vector<unsigned> consumed;
    wchar_t ch = 0;
    unsigned bytes = 0;
    while (in.ReadCharUtf8(&ch, &bytes)) {
        units.push_back(ch);
        consumed.push_back(bytes);
    }
    EXPECT_EQ(units, c.units);
    EXPECT_EQ(consumed, c.consumed);
}

INSTANTIATE_TEST_SUITE_P(Sequences, TextFileUtf8Test, ::testing::ValuesIn(kUtf8Cases),
                         [](const ::testing::TestParamInfo<Utf8Case>& info) { return std::string(info.param.name); });

TEST(TextFileRead, TruncatedUtf8SequenceKeepsTheLineEnd)
{
    TempFile tmp;
    ASSERT_TRUE(tmp.valid());
    tmp.WriteBytes({'a', 'b', 0xE2, 0x82, '\r', '\n', 'c', 'd', '\n'});
    CTextFile in;
    ASSERT_EQ(in.Open(tmp.path(), 1, KT_ENC_UTF8), 1);
    const std::vector<std::wstring> expected = {L"ab\ufffd\r\n", L"cd\n"};
    EXPECT_EQ(ReadAllLines(in), expected);
}

TEST(TextFileRead, EmbeddedNulIsPartOfTheLine)
{
    const std::wstring first(L"a\0b\n", 4);
    const std::wstring second = L"c";
    for (uint32_t encoding : {KT_ENC_ANSI, KT_ENC_UTF16LE, KT_ENC_UTF16BE, KT_ENC_UTF8}) {
        SCOPED_TRACE(encoding);
        TempFile tmp;
        ASSERT_TRUE(tmp.valid());
        {
            CTextFile out;
            ASSERT_EQ(out.Open(tmp.path(), 0, encoding), 1);
            EXPECT_EQ(out.WriteString(first.data(), first.size()), 4);
            EXPECT_EQ(out.WriteString(second.c_str()), 1);
        }
        CTextFile in;
        ASSERT_EQ(in.Open(tmp.path(), 1, KT_ENC_NONE), 1);
        const std::vector<std::wstring> expected = {first, second};
        EXPECT_EQ(ReadAllLines(in), expected);
    }
}

TEST(TextFileRead, TrimmedLinesLoseOnlyTheirLineEnd)
{
    TempFile tmp;
    ASSERT_TRUE(tmp.valid());
    tmp.WriteBytes({'a', 'b', 'c', '\r', '\n', '\n', ' ', 'x', ' ', '\r', 'y'});
    CTextFile in;
    ASSERT_EQ(in.Open(tmp.path(), 1, KT_ENC_UTF8), 1);
    const wchar_t* expected[] = {L"abc", L"", L" x ", L"y"};
    for (const wchar_t* want : expected) {
        size_t n = 99;
        const wchar_t* line = in.ReadLineTrimmed(&n);
        ASSERT_NE(line, nullptr);
        EXPECT_EQ(std::wstring(line), want);
        EXPECT_EQ(n, wcslen(want));
        EXPECT_EQ(in.LineLength(), n);
    }
    EXPECT_EQ(in.ReadLineTrimmed(), nullptr);
}

TEST(TextFileRead, CharwiseBufferMustHoldAPair)
{
    TempFile tmp;
    ASSERT_TRUE(tmp.valid());
    tmp.WriteBytes({'a', 'b', 'c'});
    CTextFile in;
    ASSERT_EQ(in.Open(tmp.path(), 1, KT_ENC_UTF8), 1);
    wchar_t small[3];
    size_t n = 0;
    EXPECT_EQ(in.ReadLineCharwise(small, 2, &n), nullptr);
    ASSERT_EQ(in.ReadLineCharwise(small, 3, &n), small);
    EXPECT_EQ(n, 2u);
    EXPECT_STREQ(small, L"ab");
    ASSERT_EQ(in.ReadLineCharwise(small, 3, &n), small);
    EXPECT_STREQ(small, L"c");
    EXPECT_EQ(in.ReadLineCharwise(small, 3, &n), nullptr);
}

TEST(TextFileRead, PendingLowSurrogateStartsTheNextLine)
{
    TempFile tmp;
    ASSERT_TRUE(tmp.valid());
    tmp.WriteBytes({0xF0, 0x9F, 0x98, 0x80, 'x', '\n'});
    CTextFile in;
    ASSERT_EQ(in.Open(tmp.path(), 1, KT_ENC_UTF8), 1);
    wchar_t ch = 0;
    ASSERT_EQ(in.ReadCharUtf8(&ch), 1);
    EXPECT_EQ(ch, 0xD83D);
    size_t n = 0;
    const wchar_t* line = in.ReadLine(&n);
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(Line(line, n), L"\xDE00x\n");
}

TEST(TextFileOpen, FailuresLeaveTheObjectClosed)
{
    TempFile tmp;
    ASSERT_TRUE(tmp.valid());
    CTextFile file;
    const std::wstring missing = std::wstring(tmp.path()) + L".missing\\no.txt";
    EXPECT_EQ(file.Open(missing.c_str(), 1, KT_ENC_NONE), 0);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.Open(missing.c_str(), 0, KT_ENC_UTF8), 0);
    EXPECT_EQ(file.Open(tmp.path(), 1, KT_ENC_UTF8 + 1), 0);
    EXPECT_EQ(file.Open(nullptr, 1, KT_ENC_NONE), 0);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.ReadLine(), nullptr);
    EXPECT_EQ(file.WriteString(L"x"), -1);
    EXPECT_EQ(file.WriteUtf(L"x"), -1);
}

TEST(TextFileWrite, ResultsAndDirection)
{
    TempFile tmp;
    ASSERT_TRUE(tmp.valid());
    CTextFile file;
    ASSERT_EQ(file.Open(tmp.path(), 0, KT_ENC_UTF16BE), 1);
    EXPECT_EQ(file.WriteUtf(L""), 0);
    EXPECT_EQ(file.WriteUtf(L"abc"), 3);
    EXPECT_EQ(file.WriteString(nullptr), -1);
    EXPECT_EQ(file.ReadLine(), nullptr);
    EXPECT_EQ(file.Close(), 1);

    ASSERT_EQ(file.Open(tmp.path(), 1, KT_ENC_NONE), 1);
    EXPECT_EQ(file.WriteString(L"x"), -1);
    EXPECT_EQ(file.Encoding(), KT_ENC_UTF16BE);
    file.Close();
    EXPECT_EQ(file.Encoding(), KT_ENC_NONE);

    ASSERT_EQ(file.Open(tmp.path(), 0, KT_ENC_ANSI), 1);
    EXPECT_EQ(file.WriteUtf(L"x"), -1);
}

} // namespace
