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

// Blanks, an optional sign, digits, blanks: the magnitude, held at
// UINT64_MAX; false when the text is not of that form.
bool ReadSaturated(const wchar_t* text, bool* negative, uint64_t* magnitude) {
  if (text == nullptr) {
    return false;
  }
  while (IsBlank(*text)) {
    ++text;
  }
  *negative = *text == L'-';
  if (*text == L'-' || *text == L'+') {
    ++text;
  }
  uint64_t value = 0;
  int digits = 0;
  for (; *text >= L'0' && *text <= L'9'; ++text, ++digits) {
    const uint64_t digit = uint64_t(*text - L'0');
    value = value > (UINT64_MAX - digit) / 10 ? UINT64_MAX : value * 10 + digit;
  }
  while (IsBlank(*text)) {
    ++text;
  }
  if (digits == 0 || *text != 0) {
    return false;
  }
  *magnitude = value;
  return true;
}

}  // namespace

namespace ktui {

int64_t ReadSignedOrZero(const wchar_t* text, int64_t minimum, int64_t maximum) {
  bool negative = false;
  uint64_t magnitude = 0;
  int64_t value = 0;
  if (ReadSaturated(text, &negative, &magnitude)) {
    constexpr uint64_t kLargestNegative = uint64_t(INT64_MAX) + 1;
    if (negative) {
      value = magnitude >= kLargestNegative ? INT64_MIN : -int64_t(magnitude);
    } else {
      value = magnitude > uint64_t(INT64_MAX) ? INT64_MAX : int64_t(magnitude);
    }
  }
  return value < minimum ? minimum : (value > maximum ? maximum : value);
}

uint64_t ReadUnsignedOrZero(const wchar_t* text, uint64_t maximum) {
  bool negative = false;
  uint64_t magnitude = 0;
  if (!ReadSaturated(text, &negative, &magnitude) || negative) {
    return 0;
  }
  return magnitude > maximum ? maximum : magnitude;
}

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
