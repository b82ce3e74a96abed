// A fresh empty folder under the temp folder for one test, removed with the
// files and empty folders it holds (read-only ones included).
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
    wchar_t name[MAX_PATH];
    swprintf(name, MAX_PATH, L"%ls%ls_%lu_%ld", temp, prefix, GetCurrentProcessId(), InterlockedIncrement(&serial));
    if (CreateDirectoryW(name, nullptr)) m_path = name;
  }
  ~TempFolder() {
    if (m_path.empty()) return;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((m_path + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring item = m_path + L"\\" + found.cFileName;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          if (std::wcscmp(found.cFileName, L".") && std::wcscmp(found.cFileName, L"..")) RemoveDirectoryW(item.c_str());
        } else {
          SetFileAttributesW(item.c_str(), FILE_ATTRIBUTE_NORMAL);
          DeleteFileW(item.c_str());
        }
      } while (FindNextFileW(find, &found));
      FindClose(find);
    }
    SetFileAttributesW(m_path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(m_path.c_str());
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  bool valid() const { return !m_path.empty(); }
  const std::wstring& path() const { return m_path; }
  std::wstring File(const wchar_t* name) const { return m_path + L"\\" + name; }

 private:
  std::wstring m_path;
};
