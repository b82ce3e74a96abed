// CWindow: a non-owning view of a window handle with the calls that the
// windows and controls of the viewer make on it. It never destroys the
// window; the window's owner (its parent, or the code that created it) does.
#pragma once

#include <windows.h>

#include "core/RefString.h"

class CWindow {
 public:
  HWND m_hWnd = nullptr;

  CWindow() = default;
  explicit CWindow(HWND hwnd) : m_hWnd(hwnd) {}

  // A view, not an owner: handing the handle to an API is its whole use.
  operator HWND() const { return m_hWnd; }  // NOLINT: non-owning view
  HWND get() const { return m_hWnd; }

  void Attach(HWND hwnd) { m_hWnd = hwnd; }
  HWND Detach() {
    HWND hwnd = m_hWnd;
    m_hWnd = nullptr;
    return hwnd;
  }

  BOOL IsWindow() const { return m_hWnd != nullptr && ::IsWindow(m_hWnd); }
  BOOL DestroyWindow() { return ::DestroyWindow(m_hWnd); }

  LRESULT SendMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return ::SendMessageW(m_hWnd, msg, wParam, lParam);
  }
  BOOL PostMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return ::PostMessageW(m_hWnd, msg, wParam, lParam);
  }

  DWORD GetStyle() const { return DWORD(::GetWindowLongPtrW(m_hWnd, GWL_STYLE)); }
  DWORD GetExStyle() const { return DWORD(::GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE)); }
  // Removes then adds style bits; `swpFlags` non-zero also recomputes the frame.
  BOOL ModifyStyle(DWORD remove, DWORD add, UINT swpFlags = 0);
  BOOL ModifyStyleEx(DWORD remove, DWORD add, UINT swpFlags = 0);

  HWND GetParent() const { return ::GetParent(m_hWnd); }
  HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
  int GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }

  BOOL GetClientRect(RECT* rect) const { return ::GetClientRect(m_hWnd, rect); }
  BOOL GetWindowRect(RECT* rect) const { return ::GetWindowRect(m_hWnd, rect); }
  BOOL ScreenToClient(POINT* point) const { return ::ScreenToClient(m_hWnd, point); }
  BOOL ScreenToClient(RECT* rect) const;
  BOOL ClientToScreen(POINT* point) const { return ::ClientToScreen(m_hWnd, point); }
  BOOL SetWindowPos(HWND after, int x, int y, int cx, int cy, UINT flags) {
    return ::SetWindowPos(m_hWnd, after, x, y, cx, cy, flags);
  }
  BOOL SetWindowPos(HWND after, const RECT& rect, UINT flags) {
    return ::SetWindowPos(m_hWnd, after, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                          flags);
  }
  BOOL MoveWindow(int x, int y, int cx, int cy, BOOL repaint = TRUE) {
    return ::MoveWindow(m_hWnd, x, y, cx, cy, repaint);
  }
  // Centres over `over`, or over the parent (the owner of a popup) when null,
  // kept inside the work area of that window's monitor.
  BOOL CenterWindow(HWND over = nullptr);

  BOOL ShowWindow(int command) { return ::ShowWindow(m_hWnd, command); }
  BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
  BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
  BOOL EnableWindow(BOOL enable = TRUE) { return ::EnableWindow(m_hWnd, enable); }
  BOOL IsZoomed() const { return ::IsZoomed(m_hWnd); }
  HWND SetFocus() { return ::SetFocus(m_hWnd); }

  BOOL Invalidate(BOOL erase = TRUE) { return ::InvalidateRect(m_hWnd, nullptr, erase); }
  BOOL InvalidateRect(const RECT* rect, BOOL erase = TRUE) { return ::InvalidateRect(m_hWnd, rect, erase); }
  BOOL UpdateWindow() { return ::UpdateWindow(m_hWnd); }
  BOOL RedrawWindow(const RECT* rect = nullptr, HRGN region = nullptr,
                    UINT flags = RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW) {
    return ::RedrawWindow(m_hWnd, rect, region, flags);
  }
  void SetRedraw(BOOL redraw = TRUE) { SendMessage(WM_SETREDRAW, WPARAM(redraw)); }

  BOOL SetWindowText(const wchar_t* text) { return ::SetWindowTextW(m_hWnd, text); }
  int GetWindowTextLength() const { return ::GetWindowTextLengthW(m_hWnd); }
  // The whole window text; 0 (text emptied) when it cannot be read or allocated.
  BOOL GetWindowText(CString& text) const;
  int GetWindowText(wchar_t* buffer, int size) const { return ::GetWindowTextW(m_hWnd, buffer, size); }
  BOOL SetDlgItemText(int id, const wchar_t* text) { return ::SetDlgItemTextW(m_hWnd, id, text); }

  void SetFont(HFONT font, BOOL redraw = TRUE) { SendMessage(WM_SETFONT, WPARAM(font), MAKELPARAM(redraw, 0)); }
  HFONT GetFont() const { return HFONT(SendMessage(WM_GETFONT)); }

  UINT_PTR SetTimer(UINT_PTR id, UINT elapse) { return ::SetTimer(m_hWnd, id, elapse, nullptr); }
  BOOL KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }
  HWND SetCapture() { return ::SetCapture(m_hWnd); }

  HMENU GetMenu() const { return ::GetMenu(m_hWnd); }
  BOOL SetMenu(HMENU menu) { return ::SetMenu(m_hWnd, menu); }
};
