// A fresh empty folder under the temp folder for one test, removed with the
// files and folders it holds (read-only ones included).
#pragma once

#include <windows.h>

#include <cwchar>
#include <string>

class TempFolder {
 public:
  explicit TempFolder(const wchar_t* prefix = L"kttest") {
    wchar_t temp[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH) return;
    static LONG serial = 0;
    // Wine reuses process ids, and a test that died leaves its folder behind:
    // a name that is taken moves on to the next serial number.
    for (int tries = 0; tries < 1000; ++tries) {
      wchar_t name[MAX_PATH];
      swprintf(name, MAX_PATH, L"%ls%ls_%lu_%ld", temp, prefix, GetCurrentProcessId(), InterlockedIncrement(&serial));
      if (CreateDirectoryW(name, nullptr)) {
        m_path = name;
        return;
      }
      if (GetLastError() != ERROR_ALREADY_EXISTS) return;
    }
  }
  ~TempFolder() {
    if (!m_path.empty()) RemoveTree(m_path);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  bool valid() const { return !m_path.empty(); }
  const std::wstring& path() const { return m_path; }
  std::wstring File(const wchar_t* name) const { return m_path + L"\\" + name; }

 private:
  // Files and folders at any depth, read-only ones included.
  static void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        if (!std::wcscmp(found.cFileName, L".") || !std::wcscmp(found.cFileName, L"..")) continue;
        const std::wstring item = path + L"\\" + found.cFileName;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          RemoveTree(item);
        } else {
          SetFileAttributesW(item.c_str(), FILE_ATTRIBUTE_NORMAL);
          DeleteFileW(item.c_str());
        }
      } while (FindNextFileW(find, &found));
      FindClose(find);
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(path.c_str());
  }

  std::wstring m_path;
};
