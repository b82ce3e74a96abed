#include "tests/app/UiDriver.h"

#include <commctrl.h>

#include <cwchar>

namespace uidriver {
namespace {
constexpr UINT kSendTimeoutMs = 5000;
constexpr size_t kTextChars = 1024;

// The current environment with TEMP and TMP replaced, as a block for
// CreateProcessW.
std::wstring EnvironmentWithTemp(const std::wstring& temp) {
  std::wstring block;
  wchar_t* strings = ::GetEnvironmentStringsW();
  for (const wchar_t* entry = strings; entry != nullptr && *entry != L'\0'; entry += wcslen(entry) + 1) {
    if (_wcsnicmp(entry, L"TEMP=", 5) == 0 || _wcsnicmp(entry, L"TMP=", 4) == 0) {
      continue;
    }
    block.append(entry);
    block.push_back(L'\0');
  }
  if (strings != nullptr) {
    ::FreeEnvironmentStringsW(strings);
  }
  for (const wchar_t* name : {L"TEMP=", L"TMP="}) {
    block.append(name);
    block.append(temp);
    block.push_back(L'\0');
  }
  block.push_back(L'\0');
  return block;
}

struct FindContext {
  const wchar_t* className;
  DWORD pid;
  std::vector<HWND>* found;
};

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM lParam) {
  auto* context = reinterpret_cast<FindContext*>(lParam);
  wchar_t name[256] = {};
  ::GetClassNameW(hwnd, name, 256);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(hwnd, &pid);
  if (wcscmp(name, context->className) == 0 && (context->pid == 0 || pid == context->pid)) {
    context->found->push_back(hwnd);
  }
  return TRUE;
}

BOOL CALLBACK CollectText(HWND hwnd, LPARAM lParam) {
  auto* text = reinterpret_cast<std::wstring*>(lParam);
  wchar_t name[64] = {};
  ::GetClassNameW(hwnd, name, 64);
  if (_wcsicmp(name, L"Static") == 0) {
    wchar_t buffer[kTextChars] = {};
    ::GetWindowTextW(hwnd, buffer, int(kTextChars));
    text->append(buffer);
  }
  return TRUE;
}
}  // namespace

std::wstring ExeFolder() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path);
  folder.resize(folder.find_last_of(L"\\/") + 1);
  return folder;
}

std::wstring ViewerPath() { return ExeFolder() + L"..\\app\\keltracer.exe"; }
std::wstring WriterPath() { return ExeFolder() + L"..\\tools\\trace-writer\\trace-writer.exe"; }
std::wstring DumpToolPath() { return ExeFolder() + L"..\\tools\\trace-dump\\trace-dump.exe"; }

CProcess::~CProcess() {
  if (m_process != nullptr) {
    if (::WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT) {
      ::TerminateProcess(m_process, 99);
      ::WaitForSingleObject(m_process, kStartTimeoutMs);
    }
    ::CloseHandle(m_process);
  }
}

bool CProcess::Start(const std::wstring& exe, const std::wstring& arguments, const std::wstring& tempFolder,
                     DWORD flags) {
  std::wstring command = L"\"" + exe + L"\"";
  if (!arguments.empty()) {
    command += L" " + arguments;
  }
  std::wstring environment = EnvironmentWithTemp(tempFolder);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, flags | CREATE_UNICODE_ENVIRONMENT,
                        environment.data(), tempFolder.c_str(), &startup, &info)) {
    return false;
  }
  ::CloseHandle(info.hThread);
  m_process = info.hProcess;
  m_id = info.dwProcessId;
  return true;
}

int CProcess::Wait(DWORD timeoutMs) {
  if (m_process == nullptr || ::WaitForSingleObject(m_process, timeoutMs) != WAIT_OBJECT_0) {
    return -1;
  }
  DWORD code = 0;
  ::GetExitCodeProcess(m_process, &code);
  return int(code);
}

bool CProcess::Running() const { return m_process != nullptr && ::WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT; }

int RunTool(const std::wstring& exe, const std::wstring& arguments, const std::wstring& tempFolder,
            DWORD timeoutMs) {
  CProcess tool;
  if (!tool.Start(exe, arguments, tempFolder, CREATE_NO_WINDOW)) {
    return -1;
  }
  return tool.Wait(timeoutMs);
}

bool WaitUntil(HANDLE process, DWORD timeoutMs, const std::function<bool()>& done) {
  const ULONGLONG end = ::GetTickCount64() + timeoutMs;
  for (;;) {
    if (done()) {
      return true;
    }
    if (::GetTickCount64() >= end) {
      return false;
    }
    if (process != nullptr) {
      if (::WaitForSingleObject(process, kPollMs) == WAIT_OBJECT_0) {
        return done();  // it ended: one last look
      }
    } else {
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, kPollMs, QS_ALLINPUT);
    }
  }
}

std::vector<HWND> FindTopWindows(const wchar_t* className, DWORD pid) {
  std::vector<HWND> found;
  FindContext context = {className, pid, &found};
  ::EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&context));
  return found;
}

int CViewer::ListCount() const {
  DWORD_PTR count = 0;
  if (!::SendMessageTimeoutW(List(), LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &count)) {
    return -1;
  }
  return int(count);
}

std::wstring CViewer::Title() const {
  wchar_t text[kTextChars] = {};
  DWORD_PTR length = 0;
  ::SendMessageTimeoutW(m_frame, WM_GETTEXT, kTextChars, LPARAM(text), SMTO_ABORTIFHUNG, kSendTimeoutMs, &length);
  return text;
}

std::wstring CViewer::StatusText() const {
  const std::vector<HWND> bars = [this] {
    std::vector<HWND> found;
    for (HWND child = ::GetWindow(m_frame, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
      wchar_t name[64] = {};
      ::GetClassNameW(child, name, 64);
      if (wcsstr(name, L"msctls_statusbar32") != nullptr || ::GetDlgCtrlID(child) == 59393) {
        found.push_back(child);
      }
    }
    return found;
  }();
  if (bars.empty()) {
    return std::wstring();
  }
  wchar_t text[kTextChars] = {};
  DWORD_PTR length = 0;
  ::SendMessageTimeoutW(bars[0], WM_GETTEXT, kTextChars, LPARAM(text), SMTO_ABORTIFHUNG, kSendTimeoutMs, &length);
  return text;
}

bool CViewer::Responds() const {
  DWORD_PTR result = 0;
  return ::SendMessageTimeoutW(m_frame, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result) != 0;
}

LRESULT CViewer::SendCopyData(ULONG_PTR dwData, const void* bytes, DWORD size) const {
  COPYDATASTRUCT data = {dwData, size, const_cast<void*>(bytes)};
  DWORD_PTR result = 0;
  ::SendMessageTimeoutW(m_frame, WM_COPYDATA, 0, LPARAM(&data), SMTO_ABORTIFHUNG, kSendTimeoutMs, &result);
  return LRESULT(result);
}

CMessageBoxInfo FindMessageBox(DWORD pid) {
  CMessageBoxInfo info;
  const std::vector<HWND> boxes = FindTopWindows(L"#32770", pid);
  for (HWND box : boxes) {
    if (::IsWindowVisible(box)) {
      info.window = box;
      ::EnumChildWindows(box, &CollectText, reinterpret_cast<LPARAM>(&info.text));
      break;
    }
  }
  return info;
}

void AnswerMessageBox(const CMessageBoxInfo& box) {
  if (box.window != nullptr) {
    ::PostMessageW(box.window, WM_COMMAND, IDOK, 0);
  }
}

bool CaptureWindowBmp(HWND hwnd, const std::wstring& path) {
  RECT rect;
  if (!::GetWindowRect(hwnd, &rect) || rect.right <= rect.left || rect.bottom <= rect.top) {
    return false;
  }
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  HDC screen = ::GetDC(nullptr);
  if (screen == nullptr) {
    return false;
  }
  BITMAPINFO bitmap = {};
  bitmap.bmiHeader.biSize = sizeof(bitmap.bmiHeader);
  bitmap.bmiHeader.biWidth = width;
  bitmap.bmiHeader.biHeight = height;  // bottom-up, as BMP files store rows
  bitmap.bmiHeader.biPlanes = 1;
  bitmap.bmiHeader.biBitCount = 24;
  bitmap.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP section = ::CreateDIBSection(screen, &bitmap, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC memory = ::CreateCompatibleDC(screen);
  bool ok = false;
  if (section != nullptr && memory != nullptr) {
    HGDIOBJ old = ::SelectObject(memory, section);
    ok = ::BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY) != FALSE;
    ::GdiFlush();
    ::SelectObject(memory, old);
  }
  if (ok) {
    const DWORD rowBytes = DWORD((width * 3 + 3) & ~3);
    const DWORD imageBytes = rowBytes * DWORD(height);
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(bitmap.bmiHeader);
    file.bfSize = file.bfOffBits + imageBytes;
    bitmap.bmiHeader.biSizeImage = imageBytes;
    HANDLE out = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ok = out != INVALID_HANDLE_VALUE && ::WriteFile(out, &file, sizeof(file), &written, nullptr) &&
         ::WriteFile(out, &bitmap.bmiHeader, sizeof(bitmap.bmiHeader), &written, nullptr) &&
         ::WriteFile(out, bits, imageBytes, &written, nullptr);
    if (out != INVALID_HANDLE_VALUE) {
      ::CloseHandle(out);
    }
  }
  if (memory != nullptr) ::DeleteDC(memory);
  if (section != nullptr) ::DeleteObject(section);
  ::ReleaseDC(nullptr, screen);
  return ok;
}

}  // namespace uidriver
