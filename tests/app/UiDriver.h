// Drives a running keltracer.exe from outside, the way a person would: finds
// its window by class, posts commands, sends WM_COPYDATA, reads the list's
// row count, the title and the status text, answers message boxes and
// captures the window. Every wait is a wait on the process handle with a
// time-out, so the driver never sleeps blindly.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace uidriver {

constexpr DWORD kStartTimeoutMs = 30000;
constexpr DWORD kPollMs = 100;

// Folder of the running test executable, with a trailing backslash.
std::wstring ExeFolder();
// The built programs, found from the test executable's folder.
std::wstring ViewerPath();
std::wstring WriterPath();
std::wstring DumpToolPath();

// A child process with its own TEMP and TMP (so its ini file and temporary
// files stay in a folder of the test) and that folder as current folder.
class CProcess {
 public:
  CProcess() = default;
  ~CProcess();
  CProcess(const CProcess&) = delete;
  CProcess& operator=(const CProcess&) = delete;

  bool Start(const std::wstring& exe, const std::wstring& arguments, const std::wstring& tempFolder,
             DWORD flags = 0);
  // The exit code, or -1 when it did not end within the time-out.
  int Wait(DWORD timeoutMs);
  bool Running() const;
  HANDLE Handle() const { return m_process; }
  DWORD Id() const { return m_id; }

 private:
  HANDLE m_process = nullptr;
  DWORD m_id = 0;
};

// Runs a tool to its end and returns its exit code (-1 on time-out).
int RunTool(const std::wstring& exe, const std::wstring& arguments, const std::wstring& tempFolder,
            DWORD timeoutMs);

// Waits (on `process`, a handle that is signalled when it ends) until `done`
// holds or the time runs out; true when it held.
bool WaitUntil(HANDLE process, DWORD timeoutMs, const std::function<bool()>& done);

// Top-level windows of `className` (every process when pid is 0).
std::vector<HWND> FindTopWindows(const wchar_t* className, DWORD pid);

class CViewer {
 public:
  explicit CViewer(HWND frame) : m_frame(frame) {}
  HWND Frame() const { return m_frame; }
  HWND Child(int id) const { return ::GetDlgItem(m_frame, id); }
  HWND List() const { return Child(220); }
  int ListCount() const;
  std::wstring Title() const;
  // The text of the status bar's first pane.
  std::wstring StatusText() const;
  bool Responds() const;
  void PostCommand(WORD id) const { ::PostMessageW(m_frame, WM_COMMAND, id, 0); }
  // Sends `bytes` as WM_COPYDATA with `dwData`; the frame's result.
  LRESULT SendCopyData(ULONG_PTR dwData, const void* bytes, DWORD size) const;

 private:
  HWND m_frame;
};

// A message box of process `pid`: its window and text.
struct CMessageBoxInfo {
  HWND window = nullptr;
  std::wstring text;
};
CMessageBoxInfo FindMessageBox(DWORD pid);
// Closes the box with its OK button.
void AnswerMessageBox(const CMessageBoxInfo& box);

// Copies what the screen shows of the window (frame included) into a 24-bit
// BMP file. False when nothing could be captured.
bool CaptureWindowBmp(HWND hwnd, const std::wstring& path);

}  // namespace uidriver
