// Temporary files that remote downloads are written to.
#include <cwchar>
#include <string>

#include "core/StrUtil.h"
#include "net/RemoteServer.h"

namespace {

constexpr wchar_t kTempPrefix[] = L"kelrmt_";
constexpr wchar_t kTempPattern[] = L"kelrmt_*";
constexpr size_t kMaxTempNameChars = 128;

bool IsExtensionChar(wchar_t ch) {
  return (ch >= L'a' && ch <= L'z') || (ch >= L'A' && ch <= L'Z') || (ch >= L'0' && ch <= L'9') || ch == L'_' ||
         ch == L'-';
}

// The remote name's extension with its dot when it is a plain one. The name
// comes from the server: separators, drive colons, blanks or a long tail
// must not reach the local file name, so such an extension is dropped.
std::wstring SafeExtension(const wchar_t* remoteName) {
  if (!remoteName) return std::wstring();
  const wchar_t* dot = std::wcsrchr(remoteName, L'.');
  if (!dot || !dot[1]) return std::wstring();
  const size_t length = std::wcslen(dot + 1);
  if (length > kMaxRemoteExtChars) return std::wstring();
  for (size_t i = 0; i < length; ++i) {
    if (!IsExtensionChar(dot[1 + i])) return std::wstring();
  }
  return std::wstring(dot);
}

}  // namespace

int MakeRemoteTempName(const wchar_t* remoteName, const wchar_t* folder, const SYSTEMTIME& time, wchar_t* output,
                       size_t outputSize) {
  if (!output || outputSize == 0) return 0;
  output[0] = L'\0';
  const std::wstring extension = SafeExtension(remoteName);
  wchar_t name[kMaxTempNameChars + 1];
  if (StrPrintfW(name, kMaxTempNameChars + 1, L"kelrmt_%02hu%02hu%04hu_%02hu%02hu%02hu%s", time.wMonth, time.wDay,
                 time.wYear, time.wHour, time.wMinute, time.wSecond, extension.c_str()) < 0) {
    return 0;
  }
  const size_t folderLength = folder ? std::wcslen(folder) : 0;
  if (folderLength + std::wcslen(name) >= outputSize) return 0;
  StrCopyNW(output, outputSize, folder);
  StrCatNW(output, outputSize, name);
  return 1;
}

int MakeRemoteTempName(const wchar_t* remoteName, const wchar_t* folder, wchar_t* output, size_t outputSize) {
  SYSTEMTIME now;
  GetSystemTime(&now);
  return MakeRemoteTempName(remoteName, folder, now, output, outputSize);
}

size_t DeleteRemoteTempFiles(const wchar_t* folder) {
  std::wstring base = folder ? folder : L"";
  if (!base.empty() && base.back() != L'\\' && base.back() != L'/') base += L'\\';
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((base + kTempPattern).c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return 0;
  size_t deleted = 0;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    // The pattern also matches short 8.3 names; check the long one.
    if (_wcsnicmp(found.cFileName, kTempPrefix, std::wcslen(kTempPrefix)) != 0) continue;
    if (DeleteFileW((base + found.cFileName).c_str())) ++deleted;
  } while (FindNextFileW(find, &found));
  FindClose(find);
  return deleted;
}
