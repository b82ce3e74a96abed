// Starts tools/trace-writer (or another tool of tools/) as a process of its
// own, the way a traced program runs beside the capture, and collects its
// exit code and output. The executable is found beside the test
// executable's build folder (build/tests/x.exe -> build/tools/NAME/NAME.exe).
#pragma once

#include <windows.h>

#include <string>

class CTraceWriterProcess {
 public:
  explicit CTraceWriterProcess(const wchar_t* tool = L"trace-writer") : m_tool(tool) {}
  CTraceWriterProcess(const CTraceWriterProcess&) = delete;
  CTraceWriterProcess& operator=(const CTraceWriterProcess&) = delete;
  ~CTraceWriterProcess() {
    if (m_process.hProcess != nullptr) {
      TerminateProcess(m_process.hProcess, 1);
      WaitForSingleObject(m_process.hProcess, INFINITE);
    }
    Close();
  }

  static std::wstring ExePath(const wchar_t* tool = L"trace-writer") {
    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, length);
    path.resize(path.find_last_of(L"\\/") + 1);  // build/tests/
    return path + L"..\\tools\\" + tool + L"\\" + tool + L".exe";
  }

  // Starts the writer with `arguments`; false when it cannot be started.
  // A suspended writer runs after Resume (its pid is known before it runs).
  bool Start(const std::wstring& arguments, bool suspended = false) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE write = nullptr;
    if (!CreatePipe(&m_output, &write, &inherit, 0)) {
      return false;
    }
    SetHandleInformation(m_output, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write;
    startup.hStdError = write;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring command = L"\"" + ExePath(m_tool) + L"\" " + arguments;
    const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW | (suspended ? CREATE_SUSPENDED : 0), nullptr,
                                        nullptr, &startup, &m_process);
    CloseHandle(write);  // the child holds the only write end now
    m_processId = m_process.dwProcessId;
    return started != FALSE;
  }

  void Resume() { ResumeThread(m_process.hThread); }
  HANDLE Process() const { return m_process.hProcess; }

  // Waits for the end of the process and reads its output. False on a
  // time-out (the process is left running for the destructor). The pipe is
  // emptied while waiting: a tool whose output fills it would block.
  bool Wait(DWORD timeoutMs) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
      Drain(false);
      const ULONGLONG spent = GetTickCount64() - start;
      const DWORD left = timeoutMs == INFINITE ? INFINITE : spent < timeoutMs ? DWORD(timeoutMs - spent) : 0;
      const DWORD slice = left < kDrainSliceMs ? left : kDrainSliceMs;
      if (WaitForSingleObject(m_process.hProcess, slice) == WAIT_OBJECT_0) {
        break;
      }
      if (left == 0) {
        return false;
      }
    }
    GetExitCodeProcess(m_process.hProcess, &m_exitCode);
    Drain(true);
    Close();
    return true;
  }

  // Starts, waits and returns the exit code (~0u when it did not end).
  DWORD Run(const std::wstring& arguments, DWORD timeoutMs = 60000) {
    if (!Start(arguments) || !Wait(timeoutMs)) {
      return ~0u;
    }
    return m_exitCode;
  }

  DWORD ProcessId() const { return m_processId; }
  DWORD ExitCode() const { return m_exitCode; }
  // What the writer printed, line ends as "\n".
  const std::string& Output() const { return m_text; }

 private:
  static constexpr DWORD kDrainSliceMs = 50;

  // Appends what the pipe holds; with `toEnd`, reads until the writer is gone.
  void Drain(bool toEnd) {
    char buffer[4096];
    for (;;) {
      DWORD available = 0;
      if (!toEnd && (!PeekNamedPipe(m_output, nullptr, 0, nullptr, &available, nullptr) || available == 0)) {
        return;
      }
      DWORD got = 0;
      const DWORD want = toEnd || available > sizeof(buffer) ? DWORD(sizeof(buffer)) : available;
      if (!ReadFile(m_output, buffer, want, &got, nullptr) || got == 0) {
        return;
      }
      for (DWORD i = 0; i < got; ++i) {
        if (buffer[i] != '\r') m_text += buffer[i];  // the console's line ends, as on a Unix pipe
      }
    }
  }

  void Close() {
    if (m_process.hProcess != nullptr) CloseHandle(m_process.hProcess);
    if (m_process.hThread != nullptr) CloseHandle(m_process.hThread);
    if (m_output != nullptr) CloseHandle(m_output);
    m_process = {};
    m_output = nullptr;
  }

  const wchar_t* m_tool;
  PROCESS_INFORMATION m_process{};
  HANDLE m_output = nullptr;
  DWORD m_processId = 0;
  DWORD m_exitCode = ~0u;
  std::string m_text;
};

// The same for any tool: CToolProcess dump(L"trace-dump").
using CToolProcess = CTraceWriterProcess;
