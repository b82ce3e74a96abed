// Drawing helpers the custom controls share: the gradient fill, the small
// drop-down arrow, and access to the visual-theme functions of UxTheme.dll,
// which are looked up at run time so that the program runs (classic look)
// where the library or one of its functions is missing.
#pragma once

#include <windows.h>
#include <uxtheme.h>

#include "ui/framework/MessageMap.h"

// Fills `rect` with 64 bands going from `from` to `to` (the last band stops
// 1/64 short of `to`); the bands are rows when `horizontal` is false and
// columns when it is true. Bands that come out empty are skipped.
void DrawGradientRect(HDC dc, const RECT& rect, COLORREF from, COLORREF to, bool horizontal);

// A small triangle pointing down (rows of 6, 4 and 2 pixels), centred
// horizontally in `rect`, its widest row at the vertical middle.
void DrawDropArrow(HDC dc, const RECT& rect, COLORREF color);

// The theme functions of the process, loaded once. Every pointer is null when
// it is missing; the active flag is 0 unless OpenThemeData, CloseThemeData and
// DrawThemeBackground are all there, the system has themes on, and the
// program allows themes (SetThemesAllowed, which tests use to pin the classic
// look).
class CThemeHelper {
 public:
  using IsThemeActiveFn = BOOL(WINAPI*)();
  using OpenThemeDataFn = HTHEME(WINAPI*)(HWND, LPCWSTR);
  using CloseThemeDataFn = HRESULT(WINAPI*)(HTHEME);
  using DrawThemeBackgroundFn = HRESULT(WINAPI*)(HTHEME, HDC, int, int, const RECT*, const RECT*);

  CThemeHelper();
  ~CThemeHelper();
  CThemeHelper(const CThemeHelper&) = delete;
  CThemeHelper& operator=(const CThemeHelper&) = delete;

  // Whether windows should open themes and draw with them now.
  bool IsActive() const;
  // Asks the system again (after WM_THEMECHANGED).
  void RefreshActive();

  // A theme handle of `hwnd` for `themeClass`, null while themes are off or
  // when the system has none; the caller closes it with CloseTheme.
  HTHEME OpenTheme(HWND hwnd, const wchar_t* themeClass) const;
  void CloseTheme(HTHEME theme) const;

  HMODULE module = nullptr;
  IsThemeActiveFn IsThemeActive = nullptr;
  OpenThemeDataFn OpenThemeData = nullptr;
  CloseThemeDataFn CloseThemeData = nullptr;
  DrawThemeBackgroundFn DrawThemeBackground = nullptr;
  LONG active = 0;  // what the system said; IsActive also asks the program's switch
};

// The process-wide helper, made on first use (thread-safe) and freed at exit.
CThemeHelper& GetThemeHelper();

// Draws a theme part; while themes are off draws nothing and returns S_FALSE
// (1). Callers may ignore the result.
HRESULT DrawThemedBackground(HTHEME theme, HDC dc, int part, int state, const RECT& rect);

// Mix-in that keeps the theme handle of a window of class T from WM_CREATE
// to WM_DESTROY and renews it on WM_THEMECHANGED. T passes the theme class it
// draws with ("TOOLBAR", "BUTTON") to the constructor and chains this map
// before its own entries for these messages: CHAIN_MSG_MAP(CThemeWindowT<T>).
// Every handler here lets the message go on to T and default processing.
template <class T>
class CThemeWindowT {
 public:
  explicit CThemeWindowT(const wchar_t* themeClass) : m_themeClass(themeClass) {}
  ~CThemeWindowT() { CloseTheme(); }
  CThemeWindowT(const CThemeWindowT&) = delete;
  CThemeWindowT& operator=(const CThemeWindowT&) = delete;

  // Null while themes are off: draw the classic way then.
  HTHEME GetTheme() const { return m_theme; }

  BEGIN_MSG_MAP(CThemeWindowT)
    MESSAGE_HANDLER(WM_CREATE, OnCreate)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    MESSAGE_HANDLER(WM_THEMECHANGED, OnThemeChanged)
  END_MSG_MAP()

  LRESULT OnCreate(UINT, WPARAM, LPARAM) {
    OpenTheme();
    SetMsgHandled(FALSE);
    return 0;
  }
  LRESULT OnDestroy(UINT, WPARAM, LPARAM) {
    CloseTheme();
    SetMsgHandled(FALSE);
    return 0;
  }
  LRESULT OnThemeChanged(UINT, WPARAM, LPARAM) {
    CloseTheme();
    GetThemeHelper().RefreshActive();
    OpenTheme();
    SetMsgHandled(FALSE);
    return 0;
  }

 protected:
  HTHEME m_theme = nullptr;

 private:
  void OpenTheme() {
    CloseTheme();
    m_theme = GetThemeHelper().OpenTheme(static_cast<T*>(this)->m_hWnd, m_themeClass);
  }
  void CloseTheme() {
    if (m_theme != nullptr) {
      GetThemeHelper().CloseTheme(m_theme);
      m_theme = nullptr;
    }
  }

  const wchar_t* m_themeClass;
};
