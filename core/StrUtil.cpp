#include "core/StrUtil.h"

#include <emmintrin.h>
#include <windows.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

namespace {

template <typename Ch>
size_t BoundedLength(const Ch* text, size_t size)
{
    size_t n = 0;
    while (n < size && text[n])
        ++n;
    return n;
}

template <typename Ch>
size_t CopyBounded(Ch* dest, size_t size, const Ch* src)
{
    if (!dest || size == 0)
        return 0;
    size_t n = 0;
    if (src) {
        while (n + 1 < size && src[n]) {
            dest[n] = src[n];
            ++n;
        }
    }
    dest[n] = 0;
    return n;
}

template <typename Ch>
size_t CatBounded(Ch* dest, size_t size, const Ch* src)
{
    if (!dest || size == 0)
        return 0;
    size_t len = BoundedLength(dest, size);
    if (len == size) {
        len = size - 1;
        dest[len] = 0;
    }
    if (!src)
        return len;
    while (len + 1 < size && *src)
        dest[len++] = *src++;
    dest[len] = 0;
    return len;
}

// msvcrt's _vsn*printf returns -1 when the output does not fit the count and
// leaves the buffer unterminated when it fits exactly; both are settled here.
int FinishPrintf(int written, size_t size)
{
    if (written < 0 || static_cast<size_t>(written) > size - 1)
        return -1;
    return written;
}

namespace {
// The system's lower case of every UTF-16 unit, asked for once: one call per
// unit costs a trip into the system for each non-ASCII character a search or
// a filter looks at.
struct LowerTable {
    static constexpr size_t kUnits = 0x10000;
    wchar_t units[kUnits];
    LowerTable()
    {
        for (size_t i = 0; i < kUnits; ++i)
            units[i] = static_cast<wchar_t>(i);
        CharLowerBuffW(units, static_cast<DWORD>(kUnits));
    }
};

const LowerTable& Lowered()
{
    static const LowerTable table;
    return table;
}
}  // namespace

wchar_t LowerUnit(wchar_t c)
{
    constexpr wchar_t kFirstNonAscii = 0x80;
    if (c < kFirstNonAscii)
        return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
    return Lowered().units[c];
}

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr unsigned kBase64GroupChars = 4;
constexpr unsigned kBase64GroupBytes = 3;

// Every byte value has an entry, so no character can index outside the table;
// characters outside the alphabet count as zero bits.
constexpr std::array<uint8_t, 256> MakeBase64DecodeTable()
{
    std::array<uint8_t, 256> table{};
    for (uint8_t i = 0; i < 64; ++i)
        table[static_cast<uint8_t>(kBase64Alphabet[i])] = i;
    return table;
}
constexpr std::array<uint8_t, 256> kBase64Decode = MakeBase64DecodeTable();

constexpr uint32_t kCrc32Polynomial = 0xEDB88320u;

constexpr std::array<uint32_t, 256> MakeCrc32Table()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? (c >> 1) ^ kCrc32Polynomial : c >> 1;
        table[i] = c;
    }
    return table;
}
constexpr std::array<uint32_t, 256> kCrc32Table = MakeCrc32Table();

bool IsAsciiAlnum(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

} // namespace

size_t StrCopyNA(char* dest, size_t size, const char* src) { return CopyBounded(dest, size, src); }
size_t StrCopyNW(wchar_t* dest, size_t size, const wchar_t* src) { return CopyBounded(dest, size, src); }
size_t StrCatNA(char* dest, size_t size, const char* src) { return CatBounded(dest, size, src); }
size_t StrCatNW(wchar_t* dest, size_t size, const wchar_t* src) { return CatBounded(dest, size, src); }

namespace {

// msvcrt's formatter keeps the Windows meaning of %s; it returns -1 and
// leaves no terminator when the text does not fit, so one is always written.
template <class Ch, class Format>
int VPrintfBounded(Ch* dest, size_t size, const Ch* format, va_list args, Format format_fn)
{
    if (!dest || size == 0)
        return -1;
    dest[size - 1] = 0;
    if (!format) {
        dest[0] = 0;
        return -1;
    }
    int written = format_fn(dest, size - 1, format, args);
    dest[size - 1] = 0;
    return FinishPrintf(written, size);
}

} // namespace

int StrVPrintfA(char* dest, size_t size, const char* format, va_list args)
{
    return VPrintfBounded(dest, size, format, args, _vsnprintf);
}

int StrVPrintfW(wchar_t* dest, size_t size, const wchar_t* format, va_list args)
{
    return VPrintfBounded(dest, size, format, args, _vsnwprintf);
}

int StrPrintfA(char* dest, size_t size, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int result = StrVPrintfA(dest, size, format, args);
    va_end(args);
    return result;
}

int StrPrintfW(wchar_t* dest, size_t size, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    int result = StrVPrintfW(dest, size, format, args);
    va_end(args);
    return result;
}

size_t WcsLengthBounded(const wchar_t* text, size_t most)
{
    constexpr uintptr_t kBlockBytes = 16;
    constexpr size_t kBlockUnits = kBlockBytes / sizeof(wchar_t);
    const auto address = reinterpret_cast<uintptr_t>(text);
    if (most == 0)
        return 0;
    if (address % sizeof(wchar_t) != 0)
        return wcsnlen(text, most);
    // Aligned blocks never cross a page, so the bytes of the first block
    // before the text and those of the last behind it are safe to load.
    const auto* block = reinterpret_cast<const wchar_t*>(address & ~(kBlockBytes - 1));
    const unsigned before = unsigned(address & (kBlockBytes - 1));
    const __m128i zero = _mm_setzero_si128();
    unsigned nuls = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi16(
                        _mm_load_si128(reinterpret_cast<const __m128i*>(block)), zero))) >> before << before;
    ptrdiff_t at = -ptrdiff_t(before / sizeof(wchar_t));  // units of block before the text
    for (;;) {
        if (nuls != 0) {
            const size_t length = size_t(at + ptrdiff_t(__builtin_ctz(nuls) / sizeof(wchar_t)));
            return length < most ? length : most;
        }
        at += ptrdiff_t(kBlockUnits);
        if (at >= ptrdiff_t(most))
            return most;
        block += kBlockUnits;
        nuls = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(block)), zero)));
    }
}

const uint8_t* MemFindByte(const uint8_t* p, size_t n, uint8_t value)
{
    constexpr size_t kBlockBytes = sizeof(__m128i);
    const uint8_t* const end = p + n;
    if (n < kBlockBytes) {
        for (; p < end; ++p) {
            if (*p == value)
                return p;
        }
        return nullptr;
    }
    const __m128i needle = _mm_set1_epi8(static_cast<char>(value));
    auto hitsAt = [&](const uint8_t* at) {
        return unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), needle)));
    };
    for (; size_t(end - p) >= kBlockBytes; p += kBlockBytes) {
        if (const unsigned hits = hitsAt(p))
            return p + __builtin_ctz(hits);
    }
    if (p == end)
        return nullptr;
    // The last sixteen bytes, without those already looked at.
    const uint8_t* const tail = end - kBlockBytes;
    const unsigned hits = hitsAt(tail) >> (p - tail);
    return hits ? p + __builtin_ctz(hits) : nullptr;
}

void WcsToLowerInPlace(wchar_t* text)
{
    if (!text)
        return;
    for (; *text; ++text)
        *text = LowerUnit(*text);
}

namespace {

// Case-sensitive containment, eight units at a time: the find command scans
// every message of a view with it. The loads are 16-byte aligned, so they
// never reach into a page the string does not touch; the units before the
// text and after its terminator are masked off.
bool ContainsExact(const wchar_t* text, const wchar_t* pattern)
{
    if (!pattern[0])
        return true;
    constexpr uintptr_t kBlockBytes = sizeof(__m128i);
    const auto address = reinterpret_cast<uintptr_t>(text);
    if (address & 1)
        return wcsstr(text, pattern) != nullptr;  // units straddle the aligned blocks
    const auto* block = reinterpret_cast<const __m128i*>(address & ~(kBlockBytes - 1));
    unsigned valid = ~0u << (address & (kBlockBytes - 1));
    const __m128i zero = _mm_setzero_si128();
    const __m128i first = _mm_set1_epi16(static_cast<short>(pattern[0]));
    // With two units or more, a start also needs the second one next to it;
    // the next block is read only when the text goes on into it.
    const bool pair = pattern[1] != 0;
    const __m128i second = _mm_set1_epi16(static_cast<short>(pattern[1]));
    constexpr int kLastLaneShift = 14;
    for (;; ++block, valid = ~0u) {
        const __m128i units = _mm_load_si128(block);
        const unsigned ends = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(units, zero))) & valid;
        __m128i hits = _mm_cmpeq_epi16(units, first);
        if (pair) {
            const __m128i following = ends ? zero : _mm_load_si128(block + 1);
            const __m128i next = _mm_or_si128(_mm_srli_si128(units, 2), _mm_slli_si128(following, kLastLaneShift));
            hits = _mm_and_si128(hits, _mm_cmpeq_epi16(next, second));
        }
        unsigned starts = static_cast<unsigned>(_mm_movemask_epi8(hits)) & valid;
        if (ends)
            starts &= (1u << __builtin_ctz(ends)) - 1;  // only starts before the terminator
        while (starts) {
            const unsigned bit = static_cast<unsigned>(__builtin_ctz(starts));
            const auto* at = reinterpret_cast<const wchar_t*>(reinterpret_cast<const char*>(block) + bit);
            size_t k = 1;
            while (pattern[k] && at[k] == pattern[k])
                ++k;
            if (!pattern[k])
                return true;
            if (!at[k])
                return false;  // the text ended inside the pattern
            starts &= ~(3u << bit);
        }
        if (ends)
            return false;
    }
}

// The non-ASCII units whose lower case is an ASCII unit (the Kelvin sign is
// "k"): at most two per ASCII unit are kept, a third marks the unit as
// having too many to list.
struct AsciiFolds {
    static constexpr size_t kMost = 2;
    wchar_t units[0x80][kMost] = {};
    bool tooMany[0x80] = {};
};

const AsciiFolds& FoldsToAscii()
{
    static const AsciiFolds folds = [] {
        AsciiFolds made;
        for (unsigned u = 0x80; u <= 0xFFFF; ++u) {
            const wchar_t lower = LowerUnit(static_cast<wchar_t>(u));
            if (lower >= 0x80)
                continue;
            wchar_t* slots = made.units[lower];
            if (!slots[0])
                slots[0] = static_cast<wchar_t>(u);
            else if (!slots[1])
                slots[1] = static_cast<wchar_t>(u);
            else
                made.tooMany[lower] = true;
        }
        return made;
    }();
    return folds;
}

// Which units may lower to `lower`: both ASCII cases, the few non-ASCII
// units folding to an ASCII letter, or every non-ASCII unit for a pattern
// unit that is not ASCII.
struct FoldedUnit {
    __m128i lower, upper, extra0, extra1;
    bool anyNonAscii;

    explicit FoldedUnit(wchar_t unit)
    {
        const wchar_t up = (unit >= L'a' && unit <= L'z') ? static_cast<wchar_t>(unit - L'a' + L'A') : unit;
        anyNonAscii = unit >= 0x80;
        wchar_t extra[AsciiFolds::kMost] = {unit, unit};
        if (!anyNonAscii) {
            const AsciiFolds& folds = FoldsToAscii();
            anyNonAscii = folds.tooMany[unit];
            for (size_t i = 0; i < AsciiFolds::kMost; ++i)
                if (folds.units[unit][i])
                    extra[i] = folds.units[unit][i];
        }
        lower = _mm_set1_epi16(static_cast<short>(unit));
        upper = _mm_set1_epi16(static_cast<short>(up));
        extra0 = _mm_set1_epi16(static_cast<short>(extra[0]));
        extra1 = _mm_set1_epi16(static_cast<short>(extra[1]));
    }

    // Lanes whose unit may lower to this one.
    __m128i Hits(__m128i units) const
    {
        constexpr short kNonAsciiBits = static_cast<short>(0xFF80);
        __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(units, lower), _mm_cmpeq_epi16(units, upper)),
                                    _mm_or_si128(_mm_cmpeq_epi16(units, extra0), _mm_cmpeq_epi16(units, extra1)));
        if (anyNonAscii) {
            const __m128i zero = _mm_setzero_si128();
            const __m128i ascii = _mm_cmpeq_epi16(_mm_and_si128(units, _mm_set1_epi16(kNonAsciiBits)), zero);
            hits = _mm_or_si128(hits, _mm_andnot_si128(ascii, _mm_cmpeq_epi16(zero, zero)));
        }
        return hits;
    }
};

// Case-blind containment of a lowered pattern, eight units at a time: a
// match can start where a unit may lower to the pattern's first unit and
// the next one to its second; those places are compared exactly as the
// scalar walk would. The next block is read only when the text goes on
// into it.
bool ContainsFolded(const wchar_t* text, const wchar_t* pattern)
{
    constexpr uintptr_t kBlockBytes = sizeof(__m128i);
    constexpr int kLastLaneShift = 14;
    const auto address = reinterpret_cast<uintptr_t>(text);
    const wchar_t lower = pattern[0];
    const FoldedUnit first(lower);
    const bool pair = pattern[1] != 0;
    const FoldedUnit second(pair ? pattern[1] : lower);
    const auto* block = reinterpret_cast<const __m128i*>(address & ~(kBlockBytes - 1));
    unsigned valid = ~0u << (address & (kBlockBytes - 1));
    const __m128i zero = _mm_setzero_si128();
    for (;; ++block, valid = ~0u) {
        const __m128i units = _mm_load_si128(block);
        const unsigned ends = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(units, zero))) & valid;
        __m128i hits = first.Hits(units);
        if (pair) {
            const __m128i following = ends ? zero : _mm_load_si128(block + 1);
            const __m128i next = _mm_or_si128(_mm_srli_si128(units, 2), _mm_slli_si128(following, kLastLaneShift));
            hits = _mm_and_si128(hits, second.Hits(next));
        }
        unsigned starts = static_cast<unsigned>(_mm_movemask_epi8(hits)) & valid;
        if (ends)
            starts &= (1u << __builtin_ctz(ends)) - 1;
        while (starts) {
            const unsigned bit = static_cast<unsigned>(__builtin_ctz(starts));
            const auto* at = reinterpret_cast<const wchar_t*>(reinterpret_cast<const char*>(block) + bit);
            if (LowerUnit(at[0]) == lower) {
                size_t k = 1;
                while (pattern[k] && at[k] && LowerUnit(at[k]) == pattern[k])
                    ++k;
                if (!pattern[k])
                    return true;
                if (!at[k])
                    return false;
            }
            starts &= ~(3u << bit);
        }
        if (ends)
            return false;
    }
}

}  // namespace

bool WcsContains(const wchar_t* text, const wchar_t* pattern, int caseSensitive)
{
    if (!text || !pattern)
        return false;
    if (caseSensitive)
        return ContainsExact(text, pattern);
    if (!pattern[0])
        return true;
    if ((reinterpret_cast<uintptr_t>(text) & 1) == 0)
        return ContainsFolded(text, pattern);
    // Lowering on the fly compares exactly as a lowered copy would, without
    // an allocation per record during a search.
    for (const wchar_t* t = text; *t; ++t) {
        if (LowerUnit(*t) != pattern[0])
            continue;
        size_t k = 1;
        while (pattern[k] && t[k] && LowerUnit(t[k]) == pattern[k])
            ++k;
        if (!pattern[k])
            return true;
        if (!t[k])
            return false;
    }
    return false;
}

wchar_t* WcsTokenizeSemicolon(wchar_t** cursor)
{
    if (!cursor || !*cursor)
        return nullptr;
    wchar_t* piece = *cursor;
    wchar_t* sep = wcschr(piece, L';');
    if (!sep) {
        *cursor = nullptr;
        return piece;
    }
    *sep = 0;
    *cursor = sep[1] ? sep + 1 : nullptr;
    return piece;
}

const char* StrFindCharA(const char* text, char ch) { return text ? strchr(text, ch) : nullptr; }
char* StrFindCharA(char* text, char ch) { return text ? strchr(text, ch) : nullptr; }
const char* StrFindLastCharA(const char* text, char ch) { return text ? strrchr(text, ch) : nullptr; }
char* StrFindLastCharA(char* text, char ch) { return text ? strrchr(text, ch) : nullptr; }

int StrCompareNA(const char* a, const char* b, size_t n)
{
    return strncmp(a ? a : "", b ? b : "", n);
}

std::wstring AnsiToWideString(const char* text, int length)
{
    if (!text || length == 0)
        return std::wstring();
    int needed = MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
    if (needed <= 0)
        return std::wstring();
    try {
        std::wstring out(static_cast<size_t>(needed), L'\0');
        int done = MultiByteToWideChar(CP_ACP, 0, text, length, out.data(), needed);
        if (done <= 0)
            return std::wstring();
        // With length -1 the count includes the terminator.
        out.resize(static_cast<size_t>(length < 0 ? done - 1 : done));
        return out;
    } catch (const std::bad_alloc&) {
        return std::wstring();
    }
}

size_t Base64Encode(const void* data, size_t length, char* output, size_t capacity)
{
    if (!data || !output || length == 0)
        return 0;
    if (length / kBase64GroupBytes > (SIZE_MAX - kBase64GroupChars) / kBase64GroupChars)
        return 0;
    if (capacity < length / kBase64GroupBytes * kBase64GroupChars + kBase64GroupChars)
        return 0;
    const auto* in = static_cast<const uint8_t*>(data);
    size_t out = 0;
    size_t i = 0;
    for (; i + kBase64GroupBytes <= length; i += kBase64GroupBytes) {
        uint32_t v = (uint32_t(in[i]) << 16) | (uint32_t(in[i + 1]) << 8) | in[i + 2];
        output[out++] = kBase64Alphabet[(v >> 18) & 0x3F];
        output[out++] = kBase64Alphabet[(v >> 12) & 0x3F];
        output[out++] = kBase64Alphabet[(v >> 6) & 0x3F];
        output[out++] = kBase64Alphabet[v & 0x3F];
    }
    size_t rest = length - i;
    if (rest) {
        uint32_t v = uint32_t(in[i]) << 16;
        if (rest == 2)
            v |= uint32_t(in[i + 1]) << 8;
        output[out++] = kBase64Alphabet[(v >> 18) & 0x3F];
        output[out++] = kBase64Alphabet[(v >> 12) & 0x3F];
        output[out++] = rest == 2 ? kBase64Alphabet[(v >> 6) & 0x3F] : '=';
        output[out++] = '=';
    }
    return out;
}

size_t Base64Decode(const wchar_t* text, size_t length, void* output, size_t capacity)
{
    if (!text || !output || length == 0)
        return 0;
    if (length > (SIZE_MAX - 1) / kBase64GroupBytes)
        return 0;
    if (capacity < length * kBase64GroupBytes / kBase64GroupChars + 1)
        return 0;
    auto* out = static_cast<uint8_t*>(output);
    size_t written = 0;
    auto lowByte = [text](size_t i) { return static_cast<uint8_t>(text[i] & 0xFF); };
    auto bits = [&](size_t i) { return uint32_t(kBase64Decode[lowByte(i)]); };
    auto put = [&](uint32_t value) {
        if (written < capacity)
            out[written++] = static_cast<uint8_t>(value);
    };
    // A lone last character carries fewer than 8 bits and yields nothing.
    for (size_t i = 0; i + 1 < length; i += kBase64GroupChars) {
        size_t n = length - i < kBase64GroupChars ? length - i : kBase64GroupChars;
        uint32_t v0 = bits(i), v1 = bits(i + 1);
        put((v0 << 2) | (v1 >> 4));
        if (n < 3 || lowByte(i + 2) == '=')
            break;
        uint32_t v2 = bits(i + 2);
        put((v1 << 4) | (v2 >> 2));
        if (n < 4 || lowByte(i + 3) == '=')
            break;
        put((v2 << 6) | bits(i + 3));
    }
    return written;
}

uint32_t Crc32Update(uint32_t crc, const void* data, size_t length)
{
    if (!data || length == 0)
        return crc;
    const auto* p = static_cast<const uint8_t*>(data);
    uint32_t c = ~crc;
    for (size_t i = 0; i < length; ++i)
        c = kCrc32Table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return ~c;
}

uint32_t Crc32(const void* data, size_t length) { return Crc32Update(0, data, length); }

size_t UrlEncodeA(const char* text, wchar_t* output, size_t size)
{
    if (!output || size == 0)
        return 0;
    static constexpr wchar_t kHex[] = L"0123456789ABCDEF";
    constexpr size_t kEscapeChars = 3;
    size_t n = 0;
    const size_t limit = size - 1;
    for (const char* p = text ? text : ""; *p; ++p) {
        auto c = static_cast<unsigned char>(*p);
        if (IsAsciiAlnum(c) || c == ' ') {
            if (n + 1 > limit)
                break;
            output[n++] = c == ' ' ? L'+' : static_cast<wchar_t>(c);
        } else {
            if (n + kEscapeChars > limit)
                break;
            output[n++] = L'%';
            output[n++] = kHex[c >> 4];
            output[n++] = kHex[c & 0xF];
        }
    }
    output[n] = 0;
    return n;
}

void UnderscoreDotToSpace(wchar_t* text)
{
    if (!text)
        return;
    for (; *text; ++text) {
        if (*text == L'_' || *text == L'.')
            *text = L' ';
    }
}

uint32_t ParseNumberAutoBase(const wchar_t* text)
{
    if (!text || !*text)
        return 0;
    bool decimal = true;
    for (const wchar_t* p = text; *p; ++p) {
        if (*p < L'0' || *p > L'9') {
            decimal = false;
            break;
        }
    }
    constexpr int kDecimal = 10;
    constexpr int kHexadecimal = 16;
    return static_cast<uint32_t>(wcstoul(text, nullptr, decimal ? kDecimal : kHexadecimal));
}

wchar_t* TrimTrailingSpace(wchar_t* text)
{
    if (!text)
        return text;
    wchar_t* runStart = nullptr;  // first character of the current blank run
    wchar_t* p = text;
    for (; *p; ++p) {
        const wchar_t c = *p;
        if (c == L'\r' || c == L'\n')
            *p = L' ';
        if (c == L' ' || c == L'\t' || c == L'\r' || c == L'\n') {
            if (!runStart)
                runStart = p;
        } else {
            runStart = nullptr;
        }
    }
    if (runStart)
        *runStart = 0;
    return text;
}

const wchar_t* SkipLeadingNewlines(const wchar_t* text)
{
    if (!text)
        return text;
    while (*text == L'\r' || *text == L'\n')
        ++text;
    return text;
}
