// The parts of a path the readers and writers choose by.
#pragma once

#include <cwchar>

// The path's last component (after its last "\" or "/"); "" for null.
inline const wchar_t* FileNamePart(const wchar_t* path) {
  if (path == nullptr) {
    return L"";
  }
  const wchar_t* name = path;
  for (const wchar_t* p = path; *p != 0; ++p) {
    if (*p == L'\\' || *p == L'/') {
      name = p + 1;
    }
  }
  return name;
}

// The extension of the last component without its dot ("" for none); a dot
// in a folder name is no extension.
inline const wchar_t* FileExtension(const wchar_t* path) {
  const wchar_t* name = FileNamePart(path);
  const wchar_t* dot = std::wcsrchr(name, L'.');
  return dot != nullptr ? dot + 1 : L"";
}
