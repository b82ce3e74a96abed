#include "ui/dialogs/MessageLibrary.h"

#include <new>

#include "core/StrUtil.h"

namespace {

// Long enough for every path a module can have; a longer one is refused.
constexpr size_t kPathChars = 32768;

}  // namespace

CMessageLibrary& CMessageLibrary::operator=(CMessageLibrary&& other) noexcept {
  if (this != &other) {
    Free();
    m_module = other.m_module;
    other.m_module = nullptr;
  }
  return *this;
}

void CMessageLibrary::Free() {
  if (m_module != nullptr) {
    ::FreeLibrary(m_module);
    m_module = nullptr;
  }
}

int CMessageLibrary::LoadFromProgramFolder() {
  Free();
  static_assert(kPathChars <= 0xFFFFFFFFu, "GetModuleFileNameW takes a DWORD size");
  wchar_t* path = new (std::nothrow) wchar_t[kPathChars];
  if (path == nullptr) {
    return 0;
  }
  const DWORD length = ::GetModuleFileNameW(nullptr, path, DWORD(kPathChars));
  int loaded = 0;
  if (length > 0 && length < kPathChars) {
    wchar_t* slash = nullptr;
    for (wchar_t* p = path; *p != 0; ++p) {
      if (*p == L'\\' || *p == L'/') {
        slash = p;
      }
    }
    if (slash != nullptr) {
      slash[1] = 0;
      loaded = LoadFromFolder(path);
    }
  }
  delete[] path;
  return loaded;
}

int CMessageLibrary::LoadFromFolder(const wchar_t* folder) {
  Free();
  if (folder == nullptr || folder[0] == 0) {
    return 0;
  }
  CString path(folder);
  const wchar_t last = path.c_str()[path.GetLength() - 1];
  if (last != L'\\' && last != L'/' && !path.Append(L"\\")) {
    return 0;
  }
  if (!path.Append(kMessageLibraryName)) {
    return 0;
  }
  // A full path is never searched for; as a data file the library's entry
  // point and imports are left alone, so no code of it runs.
  m_module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (m_module == nullptr && ::GetLastError() == ERROR_INVALID_PARAMETER) {
    // Systems before Vista know only the plain data-file form.
    m_module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  }
  return m_module != nullptr ? 1 : 0;
}

int LookUpErrorText(HMODULE library, const wchar_t* code, CString* result) {
  if (code == nullptr || code[0] == 0) {
    return 0;
  }
  wchar_t text[kErrorCodeChars + 1];
  StrCopyNW(text, kErrorCodeChars + 1, code);
  if (library != nullptr) {
    wchar_t message[kErrorMessageChars];
    constexpr DWORD kFlags = FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD chars = ::FormatMessageW(kFlags, library, ParseNumberAutoBase(text), kErrorMessageLanguage,
                                         message, DWORD(kErrorMessageChars), nullptr);
    if (chars > 0 && chars < kErrorMessageChars) {
      message[chars] = 0;
      *result = message;
      return 1;
    }
  }
  *result = kMessageNotFoundText;
  return 1;
}
