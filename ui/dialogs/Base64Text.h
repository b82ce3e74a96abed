// The Base64 converter's rules: the edit's text to Base64 of its UTF-8
// bytes and back.
#pragma once

#include <cstddef>

#include "core/RefString.h"

// Characters of the edit that are converted.
constexpr size_t kBase64InputChars = 2047;
// The converter's buffer; an encoded text must fit with its terminator.
constexpr size_t kBase64BufferBytes = 4096;
// The longest UTF-8 text whose Base64 form fits: 1023 groups of 4 and the
// terminator.
constexpr size_t kBase64MostEncodedBytes = (kBase64BufferBytes - 1) / 4 * 3;

// The first kBase64InputChars characters of `text`, one fewer when the cut
// would split a surrogate pair.
size_t Base64InputLength(const wchar_t* text);

// 0 for a null or empty text (the edit stays as it is). Otherwise 1 and
// `result` is the Base64 form of the UTF-8 bytes of the text's first 2047
// characters, or empty when those bytes are more than 3069.
int EncodeTextBase64(const wchar_t* text, CString* result);

// 0 for a null or empty text. Otherwise 1 and `result` is the decoded bytes
// of the first 2047 characters read as UTF-8: exactly the bytes the decoder
// wrote, up to the first zero byte among them.
int DecodeTextBase64(const wchar_t* text, CString* result);
