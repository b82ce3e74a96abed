#include "formats/IsoTimestampSniff.h"

#include <windows.h>

#include <cstring>

#include "core/Handle.h"

namespace {

// 'd' a decimal digit, '?' any character but a line end, else itself.
constexpr char kStampPattern[] = "dddd-dd-ddTdd:dd:dd?dddZ";
constexpr size_t kStampChars = sizeof(kStampPattern) - 1;

bool MatchesAt(const char* text) {
  for (size_t i = 0; i < kStampChars; ++i) {
    const char c = text[i];
    switch (kStampPattern[i]) {
      case 'd':
        if (c < '0' || c > '9') return false;
        break;
      case '?':
        if (c == '\r' || c == '\n') return false;
        break;
      default:
        if (c != kStampPattern[i]) return false;
        break;
    }
  }
  return true;
}

}  // namespace

bool ContainsIsoTimestamp(const char* text, size_t length) {
  if (text == nullptr || length < kStampChars) {
    return false;
  }
  for (size_t at = 0; at + kStampChars <= length; ++at) {
    if (MatchesAt(text + at)) {
      return true;
    }
  }
  return false;
}

int IsIsoTimestampLog(const wchar_t* path) {
  if (path == nullptr) {
    return 0;
  }
  CHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    return 0;
  }
  static_assert(kIsoSniffBytes <= MAXDWORD);
  char* bytes = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, kIsoSniffBytes));
  if (bytes == nullptr) {
    return 0;
  }
  DWORD read = 0;
  int found = 0;
  if (ReadFile(file.get(), bytes, DWORD(kIsoSniffBytes), &read, nullptr)) {
    const char* line = bytes;
    const char* const end = bytes + read;
    for (size_t lines = 0; lines < kIsoSniffLines && line < end && !found; ++lines) {
      const char* lineEnd = static_cast<const char*>(std::memchr(line, '\n', size_t(end - line)));
      const size_t length = size_t((lineEnd != nullptr ? lineEnd : end) - line);
      found = ContainsIsoTimestamp(line, length < kIsoSniffLineChars ? length : kIsoSniffLineChars) ? 1 : 0;
      if (lineEnd == nullptr) {
        break;  // the rest of the line, and any line after it, lies beyond the bytes read
      }
      line = lineEnd + 1;
    }
  }
  HeapFree(GetProcessHeap(), 0, bytes);
  return found;
}
