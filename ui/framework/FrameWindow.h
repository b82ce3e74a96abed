// The top-level frame: a window class with a custom name whose icon, title
// (string), menu and accelerator table share one resource id; a toolbar and
// a status bar along the edges and a client window in the rest.
//
// Its map (chain it from T's): WM_SIZE other than minimise lays the frame
// out (T::UpdateLayout) and goes on; WM_DESTROY of a top-level frame posts
// the quit message with exit code 1 and goes on; WM_SETFOCUS gives the focus
// to the client window; WM_ERASEBKGND is answered with 1 while a client
// window exists.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "core/RefString.h"
#include "ui/framework/WindowImpl.h"

#define DECLARE_FRAME_WND_CLASS(name, frameResourceId)                                                   \
  static CWndClassInfo& GetWndClassInfo() {                                                              \
    static CWndClassInfo info = {name, nullptr, CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS, COLOR_WINDOW + 1,  \
                                 IDC_ARROW, frameResourceId};                                            \
    return info;                                                                                         \
  }

namespace ktui {
constexpr UINT kToolBarWindowId = 59392;
constexpr int kFrameQuitCode = 1;
constexpr DWORD kSimpleToolBarStyle =
    WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | TBSTYLE_TOOLTIPS | TBSTYLE_FLAT;

// A toolbar resource: picture size and one command per button, 0 for a
// separator. Two layouts exist: the classic one (WORD version 1, then WORD
// width, height, count and items) and windres' (DWORD width, height, count
// and items, no version).
struct ToolBarResource {
  UINT width;
  UINT height;
  size_t count;
  const void* items;
  size_t itemBytes;  // 2 or 4
  UINT Item(size_t i) const {
    return itemBytes == sizeof(WORD) ? static_cast<const WORD*>(items)[i] : static_cast<const DWORD*>(items)[i];
  }
};
// Reads a toolbar resource of `size` bytes in either layout. False unless
// the picture size is not 0 and the items the count claims are all inside
// the resource (up to 3 bytes of padding may follow them).
bool ParseToolBarResource(const void* data, size_t size, ToolBarResource* out);

// Creates a toolbar window from toolbar resource `resourceId` of `module`
// and its bitmap of the same id; with `initialSeparator` a separator comes
// first. Null when the resource is missing or malformed or the window cannot
// be made.
HWND CreateToolBarFromResource(HWND parent, HINSTANCE module, UINT resourceId, bool initialSeparator, DWORD style,
                               UINT id);
}  // namespace ktui

template <class T, class TBase = CWindow>
class CFrameWindowImpl : public CWindowImpl<T, TBase> {
 public:
  HWND m_hWndToolBar = nullptr;
  HWND m_hWndStatusBar = nullptr;
  HWND m_hWndClient = nullptr;
  HACCEL m_hAccel = nullptr;  // loaded from the resource; freed by the system with the module

  static DWORD GetDefaultStyle() { return WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS; }
  static DWORD GetDefaultExStyle() { return WS_EX_APPWINDOW | WS_EX_WINDOWEDGE; }

  // Creates the frame from its class's resource id: title string, menu (the
  // window destroys it with itself; a child frame gets none, as its menu
  // parameter is its id) and accelerators. Null on failure.
  HWND CreateEx(HWND parent = nullptr, const RECT* rect = nullptr, DWORD style = 0, DWORD exStyle = 0) {
    const UINT id = T::GetWndClassInfo().resourceId;
    HINSTANCE module = ::GetModuleHandleW(nullptr);
    CString title;
    title.LoadString(module, id);
    const DWORD effectiveStyle = style != 0 ? style : T::GetDefaultStyle();
    HMENU menu = (effectiveStyle & WS_CHILD) != 0 ? nullptr : ::LoadMenuW(module, MAKEINTRESOURCEW(id));
    HWND hwnd = this->Create(parent, rect, title.c_str(), style, exStyle, reinterpret_cast<UINT_PTR>(menu));
    if (hwnd == nullptr) {
      if (menu != nullptr) {
        ::DestroyMenu(menu);
      }
      return nullptr;
    }
    m_hAccel = ::LoadAcceleratorsW(module, MAKEINTRESOURCEW(id));
    return hwnd;
  }

  // TRUE when the accelerator table turned the message into a command.
  BOOL TranslateAccelerator(MSG* msg) {
    return m_hAccel != nullptr && this->m_hWnd != nullptr &&
           ::TranslateAcceleratorW(this->m_hWnd, m_hAccel, msg) != 0;
  }

  HWND CreateSimpleToolBarCtrl(UINT resourceId, BOOL initialSeparator = FALSE,
                               DWORD style = ktui::kSimpleToolBarStyle, UINT id = ktui::kToolBarWindowId) {
    return ktui::CreateToolBarFromResource(this->m_hWnd, ::GetModuleHandleW(nullptr), resourceId,
                                           initialSeparator != FALSE, style, id);
  }

  // The bars take their height from the top and bottom of `rect`; with
  // `resizeBars` they are first told to size themselves.
  void UpdateBarsPosition(RECT& rect, BOOL resizeBars) {
    if (m_hWndToolBar != nullptr && ::IsWindowVisible(m_hWndToolBar)) {
      if (resizeBars) {
        ::SendMessageW(m_hWndToolBar, WM_SIZE, 0, 0);
        ::InvalidateRect(m_hWndToolBar, nullptr, TRUE);
      }
      RECT bar;
      ::GetWindowRect(m_hWndToolBar, &bar);
      rect.top += bar.bottom - bar.top;
    }
    if (m_hWndStatusBar != nullptr && ::IsWindowVisible(m_hWndStatusBar)) {
      if (resizeBars) {
        ::SendMessageW(m_hWndStatusBar, WM_SIZE, 0, 0);
      }
      RECT bar;
      ::GetWindowRect(m_hWndStatusBar, &bar);
      rect.bottom -= bar.bottom - bar.top;
    }
  }

  // The default layout: bars at the edges, the client window in the rest.
  void UpdateLayout(BOOL resizeBars = TRUE) {
    RECT rect;
    this->GetClientRect(&rect);
    UpdateBarsPosition(rect, resizeBars);
    if (m_hWndClient != nullptr) {
      ::SetWindowPos(m_hWndClient, nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }

  BEGIN_MSG_MAP(CFrameWindowImpl)
    MESSAGE_HANDLER(WM_SIZE, OnSize)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    MESSAGE_HANDLER(WM_SETFOCUS, OnSetFocus)
    MESSAGE_HANDLER(WM_ERASEBKGND, OnEraseBackground)
  END_MSG_MAP()

  LRESULT OnSize(UINT, WPARAM wParam, LPARAM) {
    if (wParam != SIZE_MINIMIZED) {
      static_cast<T*>(this)->UpdateLayout(TRUE);
    }
    SetMsgHandled(FALSE);
    return 0;
  }

  LRESULT OnDestroy(UINT, WPARAM, LPARAM) {
    if ((this->GetStyle() & WS_CHILD) == 0) {
      ::PostQuitMessage(ktui::kFrameQuitCode);
    }
    SetMsgHandled(FALSE);
    return 0;
  }

  LRESULT OnSetFocus(UINT, WPARAM, LPARAM) {
    if (m_hWndClient != nullptr && ::IsWindow(m_hWndClient)) {
      ::SetFocus(m_hWndClient);
    } else {
      SetMsgHandled(FALSE);
    }
    return 0;
  }

  LRESULT OnEraseBackground(UINT, WPARAM, LPARAM) {
    if (m_hWndClient == nullptr) {
      SetMsgHandled(FALSE);
    }
    return 1;
  }
};
