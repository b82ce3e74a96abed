// The product family's message-table library that error lookup reads its
// texts from, and the lookup itself.
#pragma once

#include <windows.h>

#include "core/RefString.h"

constexpr wchar_t kMessageLibraryName[] = L"talmoerror.dll";
// Characters of the code text that are read, and of a message.
constexpr size_t kErrorCodeChars = 259;
constexpr size_t kErrorMessageChars = 260;
constexpr wchar_t kMessageNotFoundText[] = L"Message not found";
// Neutral language, the system's default sublanguage.
constexpr DWORD kErrorMessageLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT);

// Owns the library, mapped as a data file: it is never searched for (no
// current folder, no PATH) and none of its code runs. Frees it on
// destruction.
class CMessageLibrary {
 public:
  CMessageLibrary() = default;
  ~CMessageLibrary() { Free(); }
  CMessageLibrary(const CMessageLibrary&) = delete;
  CMessageLibrary& operator=(const CMessageLibrary&) = delete;
  CMessageLibrary(CMessageLibrary&& other) noexcept : m_module(other.m_module) { other.m_module = nullptr; }
  CMessageLibrary& operator=(CMessageLibrary&& other) noexcept;

  // "talmoerror.dll" in the folder of the program's executable. 1 when
  // mapped; 0 when the file is missing or no library, or the path does not fit.
  int LoadFromProgramFolder();
  // "talmoerror.dll" in `folder` (a full path, with or without a trailing
  // backslash). Frees an earlier library first. 1 when mapped, else 0.
  int LoadFromFolder(const wchar_t* folder);
  void Free();

  // The mapped library for FormatMessageW, null when none; still owned here.
  HMODULE get() const { return m_module; }

 private:
  HMODULE m_module = nullptr;
};

// The text error lookup shows for the typed code: 0 (nothing to show) for a
// null or empty text. Otherwise 1 and `result` holds the library's message
// for ParseNumberAutoBase(code), or "Message not found" when there is no
// library or no such message or it is longer than 259 characters. Inserts
// such as "%1" stay as they are: no arguments are ever read.
int LookUpErrorText(HMODULE library, const wchar_t* code, CString* result);
