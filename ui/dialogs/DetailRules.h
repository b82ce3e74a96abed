// The detail dialog's rules without its window: the level text of a record,
// the decoded view of an embedded Base64 payload and the hex dump.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The tag that opens an embedded payload, and the separator of its
// bracketed form.
constexpr wchar_t kHvnTag[] = L"PLOGHVN";
constexpr wchar_t kHvnBracketSeparator[] = L"],[";
// The decoder's buffer, and the longest payload whose bytes surely fit it.
constexpr size_t kHvnDecodeBytes = 4096;
constexpr size_t kHvnMaxPayloadChars = 5461;
// What "Copy Message && Close" puts on the clipboard at most.
constexpr size_t kDetailCopyChars = 2047;

// "Info", "Warning", "Error", "PII" or "Debug" for a record's level word,
// tested in that order.
const wchar_t* DetailLevelText(uint32_t level);

// The message with its payload decoded: everything up to the payload, the
// payload's bytes read as ANSI text (up to the first zero byte among the
// bytes decoded), and the closing bracket of the bracketed form. The message
// unchanged wherever the tag or its form cannot be followed.
std::wstring DecodeHvnText(std::wstring_view message);

// The message's UTF-16 code units as little-endian bytes, 16 a line: each
// byte "%02X ", "   " for each byte a short last line lacks, "; ", the line's
// characters (control characters as "."), "\r\n". Empty for an empty message.
std::wstring FormatHexView(std::wstring_view message);
