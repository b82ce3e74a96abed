// One UTF-16 unit lowered or raised: ASCII by arithmetic, every other unit
// by the system's mapping. Lowering is the mapping WcsToLowerInPlace gives
// the condition texts, so the filter and its expressions compare alike.
#pragma once

#include <windows.h>

constexpr wchar_t kFirstNonAscii = 0x80;

inline wchar_t LowerUnit(wchar_t c) {
  if (c < kFirstNonAscii) return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + (L'a' - L'A')) : c;
  CharLowerBuffW(&c, 1);
  return c;
}

inline wchar_t UpperUnit(wchar_t c) {
  if (c < kFirstNonAscii) return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - (L'a' - L'A')) : c;
  CharUpperBuffW(&c, 1);
  return c;
}
