#include "ui/framework/Window.h"

BOOL CWindow::ModifyStyle(DWORD remove, DWORD add, UINT swpFlags) {
  const DWORD style = GetStyle();
  const DWORD changed = (style & ~remove) | add;
  if (changed == style) {
    return FALSE;
  }
  ::SetWindowLongPtrW(m_hWnd, GWL_STYLE, LONG_PTR(changed));
  if (swpFlags != 0) {
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                   SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED | swpFlags);
  }
  return TRUE;
}

BOOL CWindow::ModifyStyleEx(DWORD remove, DWORD add, UINT swpFlags) {
  const DWORD style = GetExStyle();
  const DWORD changed = (style & ~remove) | add;
  if (changed == style) {
    return FALSE;
  }
  ::SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE, LONG_PTR(changed));
  if (swpFlags != 0) {
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                   SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED | swpFlags);
  }
  return TRUE;
}

BOOL CWindow::ScreenToClient(RECT* rect) const {
  POINT topLeft = {rect->left, rect->top};
  POINT bottomRight = {rect->right, rect->bottom};
  if (!::ScreenToClient(m_hWnd, &topLeft) || !::ScreenToClient(m_hWnd, &bottomRight)) {
    return FALSE;
  }
  *rect = RECT{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
  return TRUE;
}

BOOL CWindow::CenterWindow(HWND over) {
  if (over == nullptr) {
    over = (GetStyle() & WS_CHILD) != 0 ? ::GetParent(m_hWnd) : ::GetWindow(m_hWnd, GW_OWNER);
  }
  RECT self;
  if (!GetWindowRect(&self)) {
    return FALSE;
  }
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof(monitor);
  HMONITOR screen = ::MonitorFromWindow(over != nullptr ? over : m_hWnd, MONITOR_DEFAULTTONEAREST);
  if (!::GetMonitorInfoW(screen, &monitor)) {
    return FALSE;
  }
  RECT area = monitor.rcWork;
  RECT target = area;
  if (over != nullptr && ::IsWindowVisible(over) && !::IsIconic(over)) {
    ::GetWindowRect(over, &target);
  }
  const int width = self.right - self.left;
  const int height = self.bottom - self.top;
  int x = (target.left + target.right - width) / 2;
  int y = (target.top + target.bottom - height) / 2;
  if (x + width > area.right) x = area.right - width;
  if (x < area.left) x = area.left;
  if (y + height > area.bottom) y = area.bottom - height;
  if (y < area.top) y = area.top;
  if ((GetStyle() & WS_CHILD) != 0) {
    POINT corner = {x, y};
    ::ScreenToClient(::GetParent(m_hWnd), &corner);
    x = corner.x;
    y = corner.y;
  }
  return ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL CWindow::GetWindowText(CString& text) const {
  const int length = GetWindowTextLength();
  if (length <= 0) {
    text.Empty();
    return m_hWnd != nullptr && ::IsWindow(m_hWnd);
  }
  wchar_t* buffer = text.GetBuffer(size_t(length));
  if (buffer == nullptr) {
    text.Empty();
    return FALSE;
  }
  const int copied = ::GetWindowTextW(m_hWnd, buffer, length + 1);
  text.ReleaseBuffer(copied > 0 ? copied : 0);
  return TRUE;
}
