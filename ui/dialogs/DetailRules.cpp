#include "ui/dialogs/DetailRules.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "core/StrUtil.h"
#include "core/TraceRecord.h"

const wchar_t* DetailLevelText(uint32_t level) {
  if (level & kLevelInfo) return L"Info";
  if (level & kLevelWarning) return L"Warning";
  if (level & kLevelError) return L"Error";
  if (level & kLevelPersonal) return L"PII";
  return L"Debug";
}

namespace {

constexpr size_t kNotFound = std::wstring_view::npos;
constexpr size_t kHexLineBytes = 16;

// The payload's bytes as ANSI text. Only the bytes the decoder wrote count,
// and they end at the first zero byte among them.
std::wstring DecodePayload(std::wstring_view payload) {
  if (payload.empty() || payload.size() > kHvnMaxPayloadChars) {
    return std::wstring();
  }
  char bytes[kHvnDecodeBytes];
  const size_t decoded = Base64Decode(payload.data(), payload.size(), bytes, sizeof bytes);
  const void* zero = std::memchr(bytes, 0, decoded);
  const size_t length = zero != nullptr ? size_t(static_cast<const char*>(zero) - bytes) : decoded;
  return length != 0 ? AnsiToWideString(bytes, int(length)) : std::wstring();
}

bool IsControlChar(wchar_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

}  // namespace

std::wstring DecodeHvnText(std::wstring_view message) {
  const size_t length = message.size();
  const size_t tag = message.find(kHvnTag);
  if (tag == kNotFound) {
    return std::wstring(message);
  }
  const size_t afterTag = tag + std::size(kHvnTag) - 1;
  if (afterTag >= length) {
    return std::wstring(message);
  }
  const size_t colon = message.find(L':', afterTag);
  if (colon == kNotFound) {
    return std::wstring(message);
  }
  std::wstring result;
  std::wstring_view payload;
  bool closingBracket = false;
  if (colon + 1 < length && message[colon + 1] == L'[') {
    const size_t separator = message.find(kHvnBracketSeparator, colon + 2);
    if (separator == kNotFound || separator == 0) {
      return std::wstring(message);
    }
    const size_t start = separator + std::size(kHvnBracketSeparator) - 1;
    result.assign(message.substr(0, start));
    if (start < length) {
      const size_t end = message.find(L']', start);
      if (end != kNotFound) {
        payload = message.substr(start, end - start);
        closingBracket = true;
      } else {
        payload = message.substr(start);
      }
    }
  } else {
    if (colon + 2 >= length) {
      return std::wstring(message);
    }
    const size_t comma = message.find(L',', colon + 2);
    if (comma == kNotFound || comma == 0) {
      return std::wstring(message);
    }
    result.assign(message.substr(0, comma + 1));
    payload = message.substr(comma + 1);
  }
  result += DecodePayload(payload);
  if (closingBracket) {
    result += L']';
  }
  return result;
}

std::wstring FormatHexView(std::wstring_view message) {
  std::wstring text;
  const size_t bytes = message.size() * 2;
  // One line: 16 x 3 hex characters, "; ", 8 characters and "\r\n".
  text.reserve((bytes + kHexLineBytes - 1) / kHexLineBytes * 60);
  for (size_t line = 0; line < bytes; line += kHexLineBytes) {
    const size_t lineBytes = std::min(kHexLineBytes, bytes - line);
    for (size_t i = 0; i < kHexLineBytes; ++i) {
      if (i < lineBytes) {
        const size_t at = line + i;
        const unsigned unit = message[at / 2];
        const unsigned byte = (at % 2 == 0) ? (unit & 0xFF) : (unit >> 8);
        wchar_t hex[4];
        std::swprintf(hex, std::size(hex), L"%02X ", byte);
        text += hex;
      } else {
        text += L"   ";
      }
    }
    text += L"; ";
    for (size_t i = 0; i < lineBytes / 2; ++i) {
      const wchar_t c = message[line / 2 + i];
      text += IsControlChar(c) ? L'.' : c;
    }
    text += L"\r\n";
  }
  return text;
}
