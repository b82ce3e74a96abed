#include "ui/framework/DataExchange.h"

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Reads the digits of a number with its blanks; false when anything else is
// there or the magnitude passes `limit`.
bool ReadMagnitude(const wchar_t* cursor, uint64_t limit, uint64_t* magnitude) {
  uint64_t value = 0;
  int digits = 0;
  while (*cursor >= L'0' && *cursor <= L'9') {
    const uint64_t digit = uint64_t(*cursor - L'0');
    if (digit > limit || value > (limit - digit) / 10) {
      return false;
    }
    value = value * 10 + digit;
    ++digits;
    ++cursor;
  }
  while (IsBlank(*cursor)) {
    ++cursor;
  }
  if (digits == 0 || *cursor != 0) {
    return false;
  }
  *magnitude = value;
  return true;
}

}  // namespace

namespace ktui {

bool ParseSignedNumber(const wchar_t* text, int64_t minimum, int64_t maximum, int64_t* value) {
  if (text == nullptr || minimum > maximum) {
    return false;
  }
  while (IsBlank(*text)) {
    ++text;
  }
  bool negative = false;
  if (*text == L'-' || *text == L'+') {
    negative = *text == L'-';
    ++text;
  }
  // The largest magnitude this sign can take (|INT64_MIN| fits in uint64_t).
  const uint64_t limit = negative ? (minimum >= 0 ? 0 : uint64_t(-(minimum + 1)) + 1)
                                  : (maximum < 0 ? 0 : uint64_t(maximum));
  uint64_t magnitude = 0;
  if (!ReadMagnitude(text, limit, &magnitude)) {
    return false;
  }
  const int64_t result = negative ? (magnitude == 0 ? 0 : -int64_t(magnitude - 1) - 1) : int64_t(magnitude);
  if (result < minimum || result > maximum) {
    return false;
  }
  *value = result;
  return true;
}

bool ParseUnsignedNumber(const wchar_t* text, uint64_t maximum, uint64_t* value) {
  if (text == nullptr) {
    return false;
  }
  while (IsBlank(*text)) {
    ++text;
  }
  if (*text == L'+') {
    ++text;
  }
  return ReadMagnitude(text, maximum, value);
}

}  // namespace ktui

namespace ktui {

bool SetUpDownRange(HWND upDown, int lo, int hi) {
  if (upDown == nullptr) {
    return false;
  }
  const LONG_PTR style = ::GetWindowLongPtrW(upDown, GWL_STYLE);
  if ((style & UDS_NOTHOUSANDS) == 0) {
    ::SetWindowLongPtrW(upDown, GWL_STYLE, style | UDS_NOTHOUSANDS);
  }
  ::SendMessageW(upDown, UDM_SETRANGE32, WPARAM(lo), LPARAM(hi));
  return true;
}

}  // namespace ktui
