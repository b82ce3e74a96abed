// Starting trace-writer.exe as a process of its own, for the capture's
// end-to-end tests and its benchmark. It is built beside the test and
// benchmark executables: <build>/tools/trace-writer/trace-writer.exe.
#pragma once

#include <windows.h>

#include <string>

namespace capture_test {

inline std::wstring WriterPath() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path);
  dir.resize(dir.find_last_of(L"\\/") + 1);
  return dir + L"..\\tools\\trace-writer\\trace-writer.exe";
}

// The writer's process handle (the caller closes it), or null.
inline HANDLE StartWriterProcess(const std::wstring& arguments) {
  std::wstring command = L"\"" + WriterPath() + L"\" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                      &startup, &info)) {
    return nullptr;
  }
  CloseHandle(info.hThread);
  return info.hProcess;
}

}  // namespace capture_test
