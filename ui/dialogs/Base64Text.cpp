#include "ui/dialogs/Base64Text.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <cwchar>

#include "core/StrUtil.h"

static_assert(kBase64MostEncodedBytes == 3069, "1023 groups of three bytes");

namespace {

// Room for the UTF-8 form of the longest input: three bytes a character
// (a surrogate pair is two characters and four bytes).
constexpr size_t kUtf8Bytes = kBase64InputChars * 3;

bool IsHighSurrogate(wchar_t ch) { return ch >= 0xD800 && ch <= 0xDBFF; }

}  // namespace

size_t Base64InputLength(const wchar_t* text) {
  if (text == nullptr) {
    return 0;
  }
  const size_t length = WcsLengthBounded(text, kBase64InputChars + 1);
  if (length <= kBase64InputChars) {
    return length;
  }
  return IsHighSurrogate(text[kBase64InputChars - 1]) ? kBase64InputChars - 1 : kBase64InputChars;
}

int EncodeTextBase64(const wchar_t* text, CString* result) {
  const size_t length = Base64InputLength(text);
  if (length == 0) {
    return 0;
  }
  result->Empty();
  char utf8[kUtf8Bytes];
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, int(length), utf8, int(kUtf8Bytes), nullptr, nullptr);
  if (bytes <= 0 || size_t(bytes) > kBase64MostEncodedBytes) {
    return 1;
  }
  char encoded[kBase64BufferBytes];
  const size_t chars = Base64Encode(utf8, size_t(bytes), encoded, sizeof(encoded));
  wchar_t* out = result->GetBuffer(chars);
  if (out == nullptr) {
    return 1;
  }
  for (size_t i = 0; i < chars; ++i) {
    out[i] = wchar_t(static_cast<unsigned char>(encoded[i]));
  }
  result->ReleaseBuffer(ptrdiff_t(chars));
  return 1;
}

int DecodeTextBase64(const wchar_t* text, CString* result) {
  const size_t length = Base64InputLength(text);
  if (length == 0) {
    return 0;
  }
  result->Empty();
  uint8_t decoded[kBase64BufferBytes];
  size_t bytes = Base64Decode(text, length, decoded, sizeof(decoded));
  // The decoder writes no terminator: what lies behind its bytes was never
  // written and must not be read.
  const void* zero = std::memchr(decoded, 0, bytes);
  if (zero != nullptr) {
    bytes = size_t(static_cast<const uint8_t*>(zero) - decoded);
  }
  if (bytes == 0) {
    return 1;
  }
  const int chars = ::MultiByteToWideChar(CP_UTF8, 0, reinterpret_cast<const char*>(decoded), int(bytes), nullptr, 0);
  if (chars <= 0) {
    return 1;
  }
  wchar_t* out = result->GetBuffer(size_t(chars));
  if (out == nullptr) {
    return 1;
  }
  const int written =
      ::MultiByteToWideChar(CP_UTF8, 0, reinterpret_cast<const char*>(decoded), int(bytes), out, chars);
  result->ReleaseBuffer(written > 0 ? written : 0);
  return 1;
}
