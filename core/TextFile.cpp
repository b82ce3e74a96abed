#include "core/TextFile.h"

#include <windows.h>

#include <io.h>

#include <cstdlib>
#include <cwchar>

namespace {

constexpr size_t kInputBytes = 65536;
constexpr size_t kNarrowBytes = 32768;
// A UTF-16 unit takes at most 3 bytes in any ANSI code page (UTF-8 included),
// so a chunk of this many units always fits the narrow buffer.
constexpr size_t kAnsiChunkUnits = kNarrowBytes / 3;
constexpr size_t kMaxCharBytes = 4;
constexpr size_t kMinCharwiseSize = 3;  // a surrogate pair or CR LF plus terminator
constexpr size_t kUtfChunkBytes = 16384;
// Written text goes to the file in blocks of this size: the runtime's own
// 4 KB buffer would cost one system call per 4 KB.
constexpr size_t kWriteBufferBytes = 65536;

constexpr wchar_t kCR = L'\r';
constexpr wchar_t kLF = L'\n';
constexpr wchar_t kReplacement = 0xFFFD;

constexpr uint8_t kBomUtf16LE[] = {0xFF, 0xFE};
constexpr uint8_t kBomUtf16BE[] = {0xFE, 0xFF};
constexpr uint8_t kBomUtf8[] = {0xEF, 0xBB, 0xBF};

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
bool IsContinuation(uint8_t b) { return (b & 0xC0) == 0x80; }
bool InRange(uint8_t b, uint8_t lo, uint8_t hi) { return b >= lo && b <= hi; }

// Follows Unicode's "maximal subpart" practice: a broken sequence yields one
// U+FFFD for the bytes that could still have been valid, and the first byte
// that could not continue it is left to be read as itself (so a CR or LF after
// a cut sequence still ends its line).
void DecodeUtf8(const uint8_t* p, size_t left, wchar_t units[2], unsigned& count, unsigned& bytes)
{
    units[0] = kReplacement;
    count = 1;
    bytes = 1;
    const uint8_t b0 = p[0];
    if (b0 < 0x80) {
        units[0] = b0;
        return;
    }
    if (InRange(b0, 0xC2, 0xDF)) {
        if (left >= 2 && IsContinuation(p[1])) {
            units[0] = static_cast<wchar_t>(((b0 & 0x1F) << 6) | (p[1] & 0x3F));
            bytes = 2;
        }
        return;
    }
    if (InRange(b0, 0xE0, 0xEF)) {
        // ED A0..BF (encoded surrogate halves) is accepted: earlier versions
        // wrote a pair as two 3-byte halves, and those files read back whole.
        const uint8_t lo = b0 == 0xE0 ? 0xA0 : 0x80;
        if (left < 2 || !InRange(p[1], lo, 0xBF))
            return;
        bytes = 2;
        if (left < 3 || !IsContinuation(p[2]))
            return;
        units[0] = static_cast<wchar_t>(((b0 & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
        bytes = 3;
        return;
    }
    if (InRange(b0, 0xF0, 0xF4)) {
        const uint8_t lo = b0 == 0xF0 ? 0x90 : 0x80;
        const uint8_t hi = b0 == 0xF4 ? 0x8F : 0xBF;
        if (left < 2 || !InRange(p[1], lo, hi))
            return;
        bytes = 2;
        if (left < 3 || !IsContinuation(p[2]))
            return;
        bytes = 3;
        if (left < 4 || !IsContinuation(p[3]))
            return;
        uint32_t cp = (uint32_t(b0 & 0x07) << 18) | (uint32_t(p[1] & 0x3F) << 12) |
                      (uint32_t(p[2] & 0x3F) << 6) | (p[3] & 0x3F);
        cp -= 0x10000;
        units[0] = static_cast<wchar_t>(0xD800 + (cp >> 10));
        units[1] = static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
        count = 2;
        bytes = 4;
    }
}

// A line cut at the buffer limit must not end on the lead byte of a
// double-byte character: the trail byte starts the next piece otherwise.
size_t WithoutSplitLeadByte(const uint8_t* p, size_t n)
{
    size_t i = 0;
    while (i < n)
        i += IsDBCSLeadByteEx(CP_ACP, p[i]) ? 2 : 1;
    return i > n ? n - 1 : n;
}

size_t EncodeUtf8Unit(uint32_t cp, uint8_t* out)
{
    if (cp < 0x80) {
        out[0] = static_cast<uint8_t>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<uint8_t>(0xC0 | (cp >> 6));
        out[1] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<uint8_t>(0xE0 | (cp >> 12));
        out[1] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<uint8_t>(0xF0 | (cp >> 18));
    out[1] = static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    return 4;
}

} // namespace

CTextFile::~CTextFile()
{
    Close();
}

int CTextFile::Open(const wchar_t* path, int read, uint32_t encoding)
{
    Close();
    if (!path || encoding > KT_ENC_UTF8)
        return 0;
    m_file = _wfopen(path, read ? L"rb" : L"wb");
    if (!m_file)
        return 0;
    m_reading = read != 0;
    if (m_reading) {
        m_line = static_cast<wchar_t*>(malloc(kLineChars * sizeof(wchar_t)));
        m_in = static_cast<uint8_t*>(malloc(kInputBytes));
        if (!m_line || !m_in) {
            Close();
            return 0;
        }
        // The decoder keeps its own buffer; a second one in the runtime only copies.
        setvbuf(m_file, nullptr, _IONBF, 0);
        m_encoding = encoding;
        if (m_encoding == KT_ENC_NONE)
            DetectBOM();
        CPINFO info;
        m_ansiMultiByte = m_encoding == KT_ENC_ANSI && GetCPInfo(CP_ACP, &info) && info.MaxCharSize > 1;
        return 1;
    }
    setvbuf(m_file, nullptr, _IOFBF, kWriteBufferBytes);
    m_encoding = encoding == KT_ENC_NONE ? KT_ENC_UTF8 : encoding;
    if (m_encoding == KT_ENC_ANSI) {
        m_narrow = static_cast<char*>(malloc(kNarrowBytes));
        if (!m_narrow) {
            Close();
            return 0;
        }
    }
    if (!WriteBOM()) {
        Close();
        return 0;
    }
    return 1;
}

uint32_t CTextFile::DetectBOM()
{
    if (!m_file || !m_reading)
        return KT_ENC_NONE;
    const size_t avail = Fill(sizeof(kBomUtf8));
    const uint8_t* p = m_in + m_inPos;
    uint32_t encoding = KT_ENC_ANSI;
    unsigned mark = 0;
    if (avail >= 2 && p[0] == kBomUtf16LE[0] && p[1] == kBomUtf16LE[1]) {
        encoding = KT_ENC_UTF16LE;
        mark = sizeof(kBomUtf16LE);
    } else if (avail >= 2 && p[0] == kBomUtf16BE[0] && p[1] == kBomUtf16BE[1]) {
        encoding = KT_ENC_UTF16BE;
        mark = sizeof(kBomUtf16BE);
    } else if (avail >= 3 && p[0] == kBomUtf8[0] && p[1] == kBomUtf8[1] && p[2] == kBomUtf8[2]) {
        encoding = KT_ENC_UTF8;
        mark = sizeof(kBomUtf8);
    }
    Consume(mark);
    m_markLength = mark;
    m_encoding = encoding;
    return encoding;
}

size_t CTextFile::Fill(size_t wanted)
{
    size_t avail = m_inEnd - m_inPos;
    if (avail >= wanted || m_inEof)
        return avail;
    if (m_inPos) {
        memmove(m_in, m_in + m_inPos, avail);
        m_inPos = 0;
        m_inEnd = avail;
    }
    while (m_inEnd < wanted && !m_inEof) {
        size_t got = fread(m_in + m_inEnd, 1, kInputBytes - m_inEnd, m_file);
        if (got == 0)
            m_inEof = true;
        m_inEnd += got;
    }
    return m_inEnd - m_inPos;
}

bool CTextFile::PeekChar(size_t offset, Decoded& out)
{
    const size_t avail = Fill(offset + kMaxCharBytes);
    if (avail <= offset)
        return false;
    const uint8_t* p = m_in + m_inPos + offset;
    const size_t left = avail - offset;
    out.count = 1;
    switch (m_encoding) {
    case KT_ENC_UTF8:
        DecodeUtf8(p, left, out.units, out.count, out.bytes);
        return true;
    case KT_ENC_UTF16LE:
    case KT_ENC_UTF16BE:
        if (left < 2) {
            out.units[0] = kReplacement;
            out.bytes = 1;
            return true;
        }
        out.units[0] = m_encoding == KT_ENC_UTF16LE ? static_cast<wchar_t>(p[0] | (p[1] << 8))
                                                    : static_cast<wchar_t>((p[0] << 8) | p[1]);
        out.bytes = 2;
        return true;
    default:
        return false;
    }
}

int CTextFile::ReadCharUtf8(wchar_t* ch, unsigned* bytes)
{
    if (!ch || !m_file || !m_reading)
        return 0;
    if (m_hasPendingUnit) {
        *ch = m_pendingUnit;
        m_hasPendingUnit = false;
        if (bytes)
            *bytes = 0;
        return 1;
    }
    Decoded d;
    if (!PeekChar(0, d))
        return 0;
    Consume(d.bytes);
    *ch = d.units[0];
    if (d.count == 2) {
        m_pendingUnit = d.units[1];
        m_hasPendingUnit = true;
    }
    if (bytes)
        *bytes = d.bytes;
    return 1;
}

wchar_t* CTextFile::ReadLineCharwise(wchar_t* buffer, size_t size, size_t* length)
{
    if (length)
        *length = 0;
    if (!buffer || size < kMinCharwiseSize || !m_file || !m_reading)
        return nullptr;
    const size_t cap = size - 1;
    size_t n = 0;
    if (m_hasPendingUnit) {
        buffer[n++] = m_pendingUnit;
        m_hasPendingUnit = false;
    }
    while (n < cap) {
        Decoded a;
        if (!PeekChar(0, a))
            break;
        size_t bytes = a.bytes;
        bool lineEnd = false;
        // CR LF and surrogate pairs travel as one token so that the piece
        // limit cannot separate them.
        if (a.count == 1) {
            const wchar_t c = a.units[0];
            Decoded b;
            if (c == kCR) {
                lineEnd = true;
                if (PeekChar(bytes, b) && b.count == 1 && b.units[0] == kLF) {
                    a.units[1] = kLF;
                    a.count = 2;
                    bytes += b.bytes;
                }
            } else if (c == kLF) {
                lineEnd = true;
            } else if (IsHighSurrogate(c) && PeekChar(bytes, b) && b.count == 1 && IsLowSurrogate(b.units[0])) {
                a.units[1] = b.units[0];
                a.count = 2;
                bytes += b.bytes;
            }
        }
        if (n + a.count > cap)
            break;
        for (unsigned i = 0; i < a.count; ++i)
            buffer[n++] = a.units[i];
        Consume(bytes);
        if (lineEnd)
            break;
    }
    if (n == 0)
        return nullptr;
    buffer[n] = 0;
    if (length)
        *length = n;
    return buffer;
}

wchar_t* CTextFile::ReadLineAnsi(size_t* length)
{
    *length = 0;
    // One byte beyond the piece limit, to see an LF behind a CR.
    const size_t avail = Fill(kLineChars);
    if (avail == 0)
        return nullptr;
    const uint8_t* p = m_in + m_inPos;
    const size_t cap = kLineChars - 1;
    size_t n = 0;
    bool lineEnd = false;
    while (n < avail && n < cap) {
        const uint8_t b = p[n];
        if (b == '\n') {
            ++n;
            lineEnd = true;
            break;
        }
        if (b == '\r') {
            const bool withLF = n + 1 < avail && p[n + 1] == '\n';
            if (withLF && n + 2 > cap)
                break;
            n += withLF ? 2 : 1;
            lineEnd = true;
            break;
        }
        ++n;
    }
    if (!lineEnd && n == cap && m_ansiMultiByte)
        n = WithoutSplitLeadByte(p, n);
    int units = MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(p), static_cast<int>(n), m_line,
                                    static_cast<int>(cap));
    Consume(n);
    if (units < 0)
        units = 0;
    m_line[units] = 0;
    *length = static_cast<size_t>(units);
    return m_line;
}

wchar_t* CTextFile::ReadLine(size_t* length)
{
    m_lineLength = 0;
    if (length)
        *length = 0;
    if (!m_file || !m_reading)
        return nullptr;
    size_t n = 0;
    wchar_t* line = m_encoding == KT_ENC_ANSI ? ReadLineAnsi(&n) : ReadLineCharwise(m_line, kLineChars, &n);
    if (!line)
        return nullptr;
    m_lineLength = n;
    if (length)
        *length = n;
    return line;
}

wchar_t* CTextFile::ReadLineTrimmed(size_t* length)
{
    size_t n = 0;
    wchar_t* line = ReadLine(&n);
    if (!line) {
        if (length)
            *length = 0;
        return nullptr;
    }
    while (n > 0 && (line[n - 1] == kCR || line[n - 1] == kLF))
        line[--n] = 0;
    m_lineLength = n;
    if (length)
        *length = n;
    return line;
}

int CTextFile::WriteBytes(const void* data, size_t bytes)
{
    return fwrite(data, 1, bytes, m_file) == bytes ? 1 : 0;
}

int CTextFile::WriteBOM()
{
    if (!m_file || m_reading)
        return 0;
    const uint8_t* mark = nullptr;
    unsigned size = 0;
    switch (m_encoding) {
    case KT_ENC_UTF16LE:
        mark = kBomUtf16LE;
        size = sizeof(kBomUtf16LE);
        break;
    case KT_ENC_UTF16BE:
        mark = kBomUtf16BE;
        size = sizeof(kBomUtf16BE);
        break;
    case KT_ENC_UTF8:
        mark = kBomUtf8;
        size = sizeof(kBomUtf8);
        break;
    default:
        return 1;
    }
    if (!WriteBytes(mark, size))
        return 0;
    m_markLength = size;
    return 1;
}

int CTextFile::WriteString(const wchar_t* text)
{
    return WriteString(text, text ? wcslen(text) : 0);
}

int CTextFile::WriteString(const wchar_t* text, size_t length)
{
    if (!text || !m_file || m_reading)
        return -1;
    if (length == 0)
        return 0;
    if (m_encoding == KT_ENC_ANSI)
        return WriteAnsi(text, length);
    return WriteUtf(text, length);
}

int CTextFile::WriteAnsi(const wchar_t* text, size_t length)
{
    // Converted in chunks so that a long text is written whole rather than cut.
    size_t done = 0;
    while (done < length) {
        size_t units = length - done < kAnsiChunkUnits ? length - done : kAnsiChunkUnits;
        if (done + units < length && IsHighSurrogate(text[done + units - 1]))
            --units;
        int bytes = WideCharToMultiByte(CP_ACP, 0, text + done, static_cast<int>(units), m_narrow,
                                        static_cast<int>(kNarrowBytes), nullptr, nullptr);
        if (bytes <= 0 || !WriteBytes(m_narrow, static_cast<size_t>(bytes)))
            return -1;
        done += units;
    }
    return static_cast<int>(length);
}

int CTextFile::WriteUtf(const wchar_t* text)
{
    return WriteUtf(text, text ? wcslen(text) : 0);
}

int CTextFile::WriteUtf(const wchar_t* text, size_t length)
{
    if (!text || !m_file || m_reading)
        return -1;
    if (m_encoding != KT_ENC_UTF8 && m_encoding != KT_ENC_UTF16LE && m_encoding != KT_ENC_UTF16BE)
        return -1;
    if (length == 0)
        return 0;
    if (m_encoding == KT_ENC_UTF16LE)
        return fwrite(text, sizeof(wchar_t), length, m_file) == length ? static_cast<int>(length) : -1;
    uint8_t chunk[kUtfChunkBytes];
    size_t used = 0;
    for (size_t i = 0; i < length; ++i) {
        const wchar_t c = text[i];
        if (c < 0x80 && m_encoding == KT_ENC_UTF8) {
            // Most text is ASCII: copy a run of it in one go.
            size_t end = length - i < sizeof(chunk) - used ? length : i + (sizeof(chunk) - used);
            size_t j = i;
            while (j < end && text[j] < 0x80)
                chunk[used++] = static_cast<uint8_t>(text[j++]);
            i = j - 1;
        } else if (m_encoding == KT_ENC_UTF16BE) {
            chunk[used++] = static_cast<uint8_t>(c >> 8);
            chunk[used++] = static_cast<uint8_t>(c & 0xFF);
        } else if (IsHighSurrogate(c) && i + 1 < length && IsLowSurrogate(text[i + 1])) {
            uint32_t cp = 0x10000 + ((uint32_t(c) - 0xD800) << 10) + (uint32_t(text[i + 1]) - 0xDC00);
            used += EncodeUtf8Unit(cp, chunk + used);
            ++i;
        } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
            used += EncodeUtf8Unit(kReplacement, chunk + used);
        } else {
            used += EncodeUtf8Unit(c, chunk + used);
        }
        if (used > sizeof(chunk) - kMaxCharBytes) {
            if (!WriteBytes(chunk, used))
                return -1;
            used = 0;
        }
    }
    if (used && !WriteBytes(chunk, used))
        return -1;
    return static_cast<int>(length);
}

int CTextFile::Close()
{
    int ok = 1;
    if (m_file)
        ok = fclose(m_file) == 0 ? 1 : 0;
    m_file = nullptr;
    free(m_line);
    m_line = nullptr;
    free(m_narrow);
    m_narrow = nullptr;
    free(m_in);
    m_in = nullptr;
    m_inPos = m_inEnd = 0;
    m_inEof = false;
    m_reading = false;
    m_ansiMultiByte = false;
    m_hasPendingUnit = false;
    m_pendingUnit = 0;
    m_lineLength = 0;
    m_markLength = 0;
    m_encoding = KT_ENC_NONE;
    return ok;
}

uint64_t CTextFile::FileSize() const
{
    if (!m_file)
        return 0;
    __int64 size = _filelengthi64(_fileno(m_file));
    return size < 0 ? 0 : static_cast<uint64_t>(size);
}
