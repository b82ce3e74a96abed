// Records shared by the filter and view benchmarks: 100 characters of words
// in mixed case, one record in 64 also saying "Timeout", so text conditions
// rarely hit and every message is scanned whole.
#pragma once

#include <cstdio>
#include <string>

#include "tests/core/RecordFixture.h"

namespace bench {

constexpr size_t kMessageChars = 100;

inline std::wstring MakeMessage(size_t i) {
  static const wchar_t* const kWords[] = {L"Connect", L"send", L"Receive", L"queue", L"Flush", L"state",
                                          L"render", L"Decode", L"frame", L"cache", L"Open", L"close"};
  std::wstring text;
  size_t word = i * 7;
  while (text.size() < kMessageChars) {
    if (i % 64 == 0 && text.size() > 40 && text.find(L"Timeout") == std::wstring::npos) {
      text += L"Timeout ";
    }
    text += kWords[word++ % std::size(kWords)];
    wchar_t number[16];
    std::swprintf(number, 16, L" %u ", unsigned((i * 31 + word) % 1000));
    text += number;
  }
  text.resize(kMessageChars);
  return text;
}

// The i-th record: 8 processes, 32 threads, levels and modules in turn.
inline RecordSpec MakeSpec(size_t i, const std::wstring& message) {
  static const uint32_t kLevels[] = {kLevelDebug, kLevelInfo, kLevelInfo, kLevelWarning, kLevelError};
  static const wchar_t* const kModules[] = {L"kelcore.dll", L"kelnet.dll", L"kelui.dll", L"kelmain.exe"};
  RecordSpec spec;
  spec.pid = 1000 + uint32_t(i % 8);
  spec.tid = 2000 + uint32_t(i % 32);
  spec.level = kLevels[i % 5];
  spec.module = kModules[i % 4];
  spec.hint = L"worker";
  spec.message = message.c_str();
  return spec;
}

}  // namespace bench
