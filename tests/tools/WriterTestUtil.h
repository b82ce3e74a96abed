// Helpers of the trace-writer tests: the texts the writer sends and what a
// reader gets back from them.
#pragma once

#include <windows.h>

#include <string>

#include "tools/trace-writer/WriterRecord.h"

// What a reader gets back from text written in the ANSI code page.
inline std::wstring ThroughAnsi(const std::wstring& text) {
  if (text.empty()) return text;
  std::string narrow(text.size() * 4 + 1, '\0');
  const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), narrow.data(), int(narrow.size()),
                                    nullptr, nullptr);
  std::wstring wide(size_t(n) + 1, L'\0');
  const int m = MultiByteToWideChar(CP_ACP, 0, narrow.data(), n, wide.data(), int(wide.size()));
  wide.resize(size_t(m));
  return wide;
}

inline std::wstring MessageOf(uint32_t id, uint32_t thread, uint32_t sequence) {
  wchar_t text[kWriterMessageUnits];
  const size_t n = MakeWriterMessage(id, thread, sequence, text, kWriterMessageUnits);
  return std::wstring(text, n);
}

// The first `units` of a text as the record builder keeps it: trailing
// blanks dropped.
inline std::wstring CutText(const std::wstring& text, size_t units) {
  std::wstring cut = text.substr(0, units);
  while (!cut.empty() && (cut.back() == L' ' || cut.back() == L'\t')) cut.pop_back();
  return cut;
}

// A name part no other test run uses (object names are machine-wide here).
inline std::wstring UniqueTag() {
  static LONG serial = 0;
  return L"w" + std::to_wstring(GetCurrentProcessId()) + L"n" + std::to_wstring(InterlockedIncrement(&serial));
}
