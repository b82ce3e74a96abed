// A hidden message-only window that hands every WM_COPYDATA to a callback,
// named by a tagged tracer property on the desktop window, the way the
// trace writer finds the capture's window.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

class CCopyDataWindow {
 public:
  using Handler = std::function<LRESULT(const COPYDATASTRUCT*)>;

  CCopyDataWindow(const std::wstring& tag, Handler handler)
      : m_property(L"HVNTracer_" + tag), m_handler(std::move(handler)) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ktTestCopyDataWindow";
    RegisterClassW(&wc);
    m_window = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetPropW(GetDesktopWindow(), m_property.c_str(), m_window);
  }
  ~CCopyDataWindow() {
    RemovePropW(GetDesktopWindow(), m_property.c_str());
    DestroyWindow(m_window);
  }
  CCopyDataWindow(const CCopyDataWindow&) = delete;
  CCopyDataWindow& operator=(const CCopyDataWindow&) = delete;

  bool valid() const { return m_window != nullptr; }
  // Pumps messages until the process ends (or nothing happens for a minute).
  void PumpUntil(HANDLE process) {
    constexpr DWORD kIdleMs = 60000;
    for (;;) {
      const DWORD woke = MsgWaitForMultipleObjects(1, &process, FALSE, kIdleMs, QS_ALLINPUT);
      if (woke != WAIT_OBJECT_0 + 1) break;
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
  }

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COPYDATA) {
      auto* self = reinterpret_cast<CCopyDataWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
      return self->m_handler(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }
  std::wstring m_property;
  Handler m_handler;
  HWND m_window = nullptr;
};
