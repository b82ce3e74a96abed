#pragma once

// Bounded string helpers, Base64, CRC-32, URL encoding and number parsing.
// Sizes are in characters of the destination with the terminator included;
// every helper that writes a string terminates it when the size is at least 1
// and writes nothing at all when the size is 0 or the destination is null.

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

// Copies at most size - 1 characters and terminates; a null or empty source
// gives an empty string. Returns the length of the result.
size_t StrCopyNA(char* dest, size_t size, const char* src);
size_t StrCopyNW(wchar_t* dest, size_t size, const wchar_t* src);

// Appends so that the whole stays within size - 1 characters and terminates.
// A destination without a terminator inside size is cut at size - 1 first.
// A null source leaves the destination unchanged. Returns the length of the result.
size_t StrCatNA(char* dest, size_t size, const char* src);
size_t StrCatNW(wchar_t* dest, size_t size, const wchar_t* src);

// The program's formatting helpers, on msvcrt's printf so that formats keep
// their Windows meaning: in a wide format "%s" is a wide string and "%hs" a
// narrow one; "%I64u" and "%llu" are 64-bit. (The compiler's format check
// does not know "%hs" in narrow formats; "%s" is the narrow string there.)
// The output holds at most size - 1 characters and is always terminated at
// the last place. Returns the number of characters, or -1 when formatting
// failed or the output was cut.
int StrPrintfA(char* dest, size_t size, const char* format, ...) __attribute__((format(ms_printf, 3, 4)));
int StrPrintfW(wchar_t* dest, size_t size, const wchar_t* format, ...);
int StrVPrintfA(char* dest, size_t size, const char* format, va_list args) __attribute__((format(ms_printf, 3, 0)));
int StrVPrintfW(wchar_t* dest, size_t size, const wchar_t* format, va_list args);

// Lower-cases in place with the same mapping WcsContains applies to the text
// when the case flag is 0; callers lower their pattern with it.
void WcsToLowerInPlace(wchar_t* text);

// Units before the first NUL, at most `most`; reads no unit past `most` and
// no aligned 16-byte block the text does not touch, eight units a step.
size_t WcsLengthBounded(const wchar_t* text, size_t most);

// True when text contains pattern. With caseSensitive 0 the text is compared
// as if lower-cased (nothing is copied) and the pattern is taken as given, so
// it must already be lower case. Null text or pattern: false.
bool WcsContains(const wchar_t* text, const wchar_t* pattern, int caseSensitive);

// Returns the piece at *cursor, cuts it at the next ";" and moves the cursor
// behind it. The cursor becomes null at the end and when the ";" was the last
// character, so a trailing ";" yields no empty last piece. A null cursor (or
// *cursor null) returns null.
wchar_t* WcsTokenizeSemicolon(wchar_t** cursor);

// First and last occurrence of ch in text, or null (also for a null text).
const char* StrFindCharA(const char* text, char ch);
char* StrFindCharA(char* text, char ch);
const char* StrFindLastCharA(const char* text, char ch);
char* StrFindLastCharA(char* text, char ch);

// The first byte equal to value in [p, p + n), or null; sixteen bytes a step
// (msvcrt's memchr goes byte by byte) and no byte outside the range is read.
const uint8_t* MemFindByte(const uint8_t* p, size_t n, uint8_t value);

// strncmp over at most n characters; a null string compares as empty.
int StrCompareNA(const char* a, const char* b, size_t n);

// ANSI code page to UTF-16; length -1 takes the text up to its terminator.
// A null text or a failed conversion gives an empty string.
std::wstring AnsiToWideString(const char* text, int length = -1);

// Standard Base64 (RFC 4648 alphabet, "=" padding, no line breaks). Refuses
// (returns 0) when length is 0 or capacity < length / 3 * 4 + 4. Returns the
// number of characters written; no terminator is written.
size_t Base64Encode(const void* data, size_t length, char* output, size_t capacity);

// Decodes length UTF-16 characters (only their low byte counts). Refuses
// (returns 0) when length is 0 or capacity < length * 3 / 4 + 1. Characters
// outside the alphabet count as zero bits; decoding stops at the first "=" in
// the third or fourth place of a group; a trailing group of 2 or 3 characters
// yields its 1 or 2 bytes. Returns the number of bytes written.
size_t Base64Decode(const wchar_t* text, size_t length, void* output, size_t capacity);

// Standard reflected CRC-32 (0xEDB88320, as zlib and IEEE 802.3). Crc32Update
// continues a running value in zlib's manner: start with 0, feed the pieces,
// and the result equals Crc32 over their concatenation.
uint32_t Crc32(const void* data, size_t length);
uint32_t Crc32Update(uint32_t crc, const void* data, size_t length);

// Letters and digits kept, blank as "+", every other byte "%XX" (upper-case
// hex). Stops before an escape or character that would not fit size - 1.
// Returns the output length.
size_t UrlEncodeA(const char* text, wchar_t* output, size_t size);

// Every "_" and "." becomes a blank, in place.
void UnderscoreDotToSpace(wchar_t* text);

// 0 for a null or empty text; base 10 when every character is a decimal
// digit, else base 16; the conversion stops at the first unusable character.
uint32_t ParseNumberAutoBase(const wchar_t* text);

// Every CR and LF becomes a blank, and the run of tabs, blanks, CR and LF
// that reaches the end is cut off, in place. Returns text (null stays null).
wchar_t* TrimTrailingSpace(wchar_t* text);

// The text behind any leading CR and LF characters (tabs and blanks stay).
// Null stays null.
const wchar_t* SkipLeadingNewlines(const wchar_t* text);
inline wchar_t* SkipLeadingNewlines(wchar_t* text)
{
    return const_cast<wchar_t*>(SkipLeadingNewlines(static_cast<const wchar_t*>(text)));
}
