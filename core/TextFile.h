#pragma once

// A text file read or written line by line in one of four encodings, with
// byte-order-mark detection on reading.

#include <cstddef>
#include <cstdint>
#include <cstdio>

enum : uint32_t {
    KT_ENC_NONE = 0,     // reading: detect from the mark; writing: UTF-8 with its mark
    KT_ENC_ANSI = 1,     // the system code page
    KT_ENC_UTF16LE = 2,
    KT_ENC_UTF16BE = 3,
    KT_ENC_UTF8 = 4,
};

class CTextFile {
public:
    // A line is returned in pieces of at most kLineChars - 1 characters.
    static constexpr size_t kLineChars = 16384;

    CTextFile() = default;
    ~CTextFile();
    CTextFile(const CTextFile&) = delete;
    CTextFile& operator=(const CTextFile&) = delete;

    // Opens in binary mode ("rb" or "wb"). Reading with KT_ENC_NONE detects
    // the encoding from the mark; a given encoding is taken as given (a mark is
    // then read as a character). Writing with KT_ENC_NONE writes UTF-8; every
    // encoding except ANSI starts with its mark. Returns 1, or 0 with the
    // object closed.
    int Open(const wchar_t* path, int read, uint32_t encoding);

    // At the start of a file opened for reading: takes FF FE, FE FF or
    // EF BB BF as its encoding and skips the mark; anything else is ANSI read
    // from the first byte. Returns the encoding.
    uint32_t DetectBOM();

    // The next line with its line end (CR, LF or CR LF), or null at the end of
    // the file or on a read error. The text lives in the object's line buffer
    // until the next read. An embedded NUL is kept, so the length is reported
    // through length (when given) and LineLength().
    wchar_t* ReadLine(size_t* length = nullptr);
    // ReadLine without the trailing CR and LF characters.
    wchar_t* ReadLineTrimmed(size_t* length = nullptr);

    // Reads one line of a UTF-8, UTF-16LE or UTF-16BE file into buffer (size
    // in characters, at least 3). A surrogate pair and a CR LF are never split
    // between two pieces. Returns buffer, terminated, or null when no
    // character was left (or the arguments cannot hold one).
    wchar_t* ReadLineCharwise(wchar_t* buffer, size_t size, size_t* length);

    // One UTF-16 unit of a UTF-8, UTF-16LE or UTF-16BE file: 1 and the unit,
    // or 0 at the end of the file (a NUL character is a unit like any other).
    // A character beyond the BMP is delivered as its two surrogates on two
    // calls. Broken UTF-8 gives U+FFFD and never consumes a byte that cannot
    // continue the sequence. bytes receives the number of file bytes taken.
    int ReadCharUtf8(wchar_t* ch, unsigned* bytes = nullptr);

    // Writes the text in the file's encoding; no line end is added. Returns
    // the number of UTF-16 units written, 0 for an empty text, -1 on failure.
    int WriteString(const wchar_t* text);
    int WriteString(const wchar_t* text, size_t length);
    // UTF-16BE, UTF-16LE or UTF-8 encoding of the text; a surrogate pair
    // becomes one 4-byte UTF-8 sequence, a lone surrogate U+FFFD. Same results.
    int WriteUtf(const wchar_t* text);
    int WriteUtf(const wchar_t* text, size_t length);
    // The mark of the file's encoding (none for ANSI). 1 on success.
    int WriteBOM();

    // Closes the file and frees the buffers. 0 when flushing written data failed.
    int Close();

    bool IsOpen() const { return m_file != nullptr; }
    uint32_t Encoding() const { return m_encoding; }
    size_t LineLength() const { return m_lineLength; }
    // Size of the whole file in bytes, mark included (of a file opened for reading).
    uint64_t FileSize() const;
    // Bytes of the mark read or written at the start.
    unsigned MarkLength() const { return m_markLength; }

private:
    struct Decoded {
        wchar_t units[2];
        unsigned count;
        unsigned bytes;
    };

    size_t Fill(size_t wanted);
    bool PeekChar(size_t offset, Decoded& out);
    void Consume(size_t bytes) { m_inPos += bytes; }
    wchar_t* ReadLineAnsi(size_t* length);
    int WriteAnsi(const wchar_t* text, size_t length);
    int WriteBytes(const void* data, size_t bytes);

    FILE* m_file = nullptr;
    uint32_t m_encoding = KT_ENC_NONE;
    wchar_t* m_line = nullptr;      // reading: kLineChars characters
    char* m_narrow = nullptr;       // writing ANSI: the converted text
    // Reading: bytes taken from the file and not yet decoded, m_inPos to m_inEnd.
    // Decoding peeks here, so nothing is ever pushed back into the file.
    uint8_t* m_in = nullptr;
    size_t m_inPos = 0;
    size_t m_inEnd = 0;
    bool m_inEof = false;
    bool m_reading = false;
    bool m_ansiMultiByte = false;
    bool m_hasPendingUnit = false;  // low surrogate still owed by ReadCharUtf8
    wchar_t m_pendingUnit = 0;
    size_t m_lineLength = 0;
    unsigned m_markLength = 0;
};
