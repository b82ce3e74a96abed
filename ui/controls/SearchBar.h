// The quick-filter box of the main frame's toolbar row: a bar that hosts an
// edit field. The edit shows a grey hint while it is empty and unfocused and
// reports Enter (code 0) and Ctrl+Enter (code 1) to its notify window as a
// WM_COMMAND of its command id.
#pragma once

#include <windows.h>

#include "core/RefString.h"
#include "ui/framework/Gdi.h"
#include "ui/framework/WindowImpl.h"

// What the quick filter can hold, terminator included; the edit takes no
// more characters than fit, so what the user sees is what gets filtered.
constexpr int kSearchTextChars = 128;
constexpr int kSearchTextMaxLength = kSearchTextChars - 1;

// Notification codes of the edit's command.
constexpr WORD kSearchEnter = 0;
constexpr WORD kSearchCtrlEnter = 1;

// Colour of the hint text.
constexpr COLORREF kSearchHintColor = RGB(119, 121, 118);

class CSearchEdit : public CWindowImpl<CSearchEdit> {
 public:
  DECLARE_WND_SUPERCLASS(L"WTLSearchEdit", L"EDIT")

  // Creates the edit as a child of `parent` in `rect` with id `controlId`
  // (also the string id of its hint). Returns true, false when the window
  // cannot be created.
  bool Create(HWND notifyWindow, HWND parent, const RECT& rect, UINT controlId, UINT commandId);

  // Shows the hint (true) or clears it to an empty text (false).
  void SetText(bool hint);
  bool IsHintShown() const { return m_hintShown; }

  BEGIN_MSG_MAP(CSearchEdit)
    MESSAGE_HANDLER(WM_NCCALCSIZE, OnNcCalcSize)
    MESSAGE_HANDLER(WM_NCPAINT, OnNcPaint)
    MESSAGE_HANDLER(WM_CHAR, OnChar)
    MESSAGE_HANDLER(WM_SETFOCUS, OnSetFocus)
    MESSAGE_HANDLER(WM_KILLFOCUS, OnKillFocus)
  END_MSG_MAP()

  LRESULT OnNcCalcSize(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT OnNcPaint(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT OnChar(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT OnSetFocus(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT OnKillFocus(UINT msg, WPARAM wParam, LPARAM lParam);

 private:
  // Extra height above the text that centres one line of the edit's font.
  int MeasureTopMargin(int height);
  void SendCommand(WORD code);

  int m_topMargin = 0;
  HWND m_notifyWindow = nullptr;
  UINT m_commandId = 0;
  bool m_hintShown = false;
};

class CSearchBar : public CWindowImpl<CSearchBar> {
 public:
  DECLARE_WND_CLASS(L"WTLSearchBar")

  // Creates the bar (120 x 22 at the parent's origin) with its edit.
  // Returns true, false when either window cannot be created (no window is
  // left behind then).
  bool Create(HWND notifyWindow, HWND parent, UINT editId, UINT commandId);

  // The filter text: what the edit holds, empty while the hint is shown.
  CString GetSearchText() const;
  CSearchEdit& Edit() { return m_edit; }

  BEGIN_MSG_MAP(CSearchBar)
    MESSAGE_HANDLER(WM_CTLCOLOREDIT, OnCtlColorEdit)
  END_MSG_MAP()

  LRESULT OnCtlColorEdit(UINT msg, WPARAM wParam, LPARAM lParam);

 private:
  CSearchEdit m_edit;
  CBrush m_brush;
};
