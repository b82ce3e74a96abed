// Files the benchmarks make in the temp folder.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace bench {

// "<temp folder><name><pid>": distinct for every benchmark process.
inline std::wstring TempPath(const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  const DWORD n = GetTempPathW(MAX_PATH, folder);
  return std::wstring(folder, n) + name + std::to_wstring(GetCurrentProcessId());
}

// 0 for a missing file.
inline uint64_t FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    return 0;
  }
  return (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace bench
