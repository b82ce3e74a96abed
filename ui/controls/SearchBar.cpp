#include "ui/controls/SearchBar.h"

#include "ui/framework/DeviceContext.h"

namespace {

constexpr DWORD kEditStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr int kEditSideMargin = 2;
constexpr int kFrameWidth = 1;
constexpr int kHintChars = 64;
constexpr wchar_t kCarriageReturn = L'\r';
constexpr wchar_t kLineFeed = L'\n';  // what Ctrl+Enter types
constexpr RECT kBarRect = {0, 0, 120, 22};

}  // namespace

bool CSearchEdit::Create(HWND notifyWindow, HWND parent, const RECT& rect, UINT controlId, UINT commandId) {
  if (CWindowImpl<CSearchEdit>::Create(parent, &rect, nullptr, kEditStyle, 0, controlId) == nullptr) {
    return false;
  }
  SetFont(static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT)));
  SendMessage(EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(kEditSideMargin, kEditSideMargin));
  SendMessage(EM_LIMITTEXT, kSearchTextMaxLength);
  m_topMargin = MeasureTopMargin(rect.bottom - rect.top);
  m_notifyWindow = notifyWindow;
  m_commandId = commandId;
  SetWindowPos(nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_FRAMECHANGED);
  SetText(true);
  return true;
}

int CSearchEdit::MeasureTopMargin(int height) {
  CClientDC dc(m_hWnd);
  if (dc.IsNull()) {
    return 0;
  }
  // A bare GetDC carries the system font, not the one the edit draws with.
  CSelectObject font(dc.get(), GetFont());
  SIZE space = {};
  if (!dc.GetTextExtent(L" ", 1, &space) || space.cy >= height) {
    return 0;
  }
  return (height - space.cy) / 2;
}

void CSearchEdit::SetText(bool hint) {
  if (m_hintShown == hint) {
    return;
  }
  m_hintShown = hint;
  if (!hint) {
    SetWindowText(L"");
    return;
  }
  wchar_t text[kHintChars] = {};
  ::LoadStringW(::GetModuleHandleW(nullptr), UINT(GetDlgCtrlID()), text, kHintChars);
  SetWindowText(text);
}

void CSearchEdit::SendCommand(WORD code) {
  if (m_notifyWindow != nullptr) {
    ::SendMessageW(m_notifyWindow, WM_COMMAND, MAKEWPARAM(m_commandId, code), reinterpret_cast<LPARAM>(m_hWnd));
  }
}

LRESULT CSearchEdit::OnNcCalcSize(UINT, WPARAM, LPARAM lParam) {
  // Both forms start with the window rectangle, which becomes the client one.
  auto* rect = reinterpret_cast<RECT*>(lParam);
  rect->left += kFrameWidth;
  rect->right -= kFrameWidth;
  rect->bottom -= kFrameWidth;
  rect->top += m_topMargin + kFrameWidth;
  return 0;
}

LRESULT CSearchEdit::OnNcPaint(UINT, WPARAM, LPARAM) {
  CWindowDC dc(m_hWnd);
  if (dc.IsNull()) {
    return 0;
  }
  RECT window;
  GetWindowRect(&window);
  const RECT frame = {0, 0, window.right - window.left, window.bottom - window.top};
  const COLORREF shadow = ::GetSysColor(COLOR_BTNSHADOW);
  dc.Draw3dRect(frame, shadow, shadow);
  const RECT band = {kFrameWidth, kFrameWidth, frame.right - kFrameWidth, m_topMargin + kFrameWidth};
  if (band.bottom > band.top) {
    dc.FillRect(band, ::GetSysColorBrush(IsWindowEnabled() ? COLOR_WINDOW : COLOR_BTNFACE));
  }
  return 0;
}

LRESULT CSearchEdit::OnChar(UINT, WPARAM wParam, LPARAM) {
  if (wParam == kCarriageReturn) {
    SendCommand(kSearchEnter);
    return 0;
  }
  if (wParam == kLineFeed) {
    SendCommand(kSearchCtrlEnter);
    return 0;
  }
  SetText(false);
  SetMsgHandled(FALSE);
  return 0;
}

LRESULT CSearchEdit::OnSetFocus(UINT, WPARAM, LPARAM) {
  SetText(false);
  SetMsgHandled(FALSE);
  return 0;
}

LRESULT CSearchEdit::OnKillFocus(UINT, WPARAM, LPARAM) {
  if (GetWindowTextLength() < 1) {
    SetText(true);
  }
  SetMsgHandled(FALSE);
  return 0;
}

bool CSearchBar::Create(HWND notifyWindow, HWND parent, UINT editId, UINT commandId) {
  if (CWindowImpl<CSearchBar>::Create(parent, &kBarRect) == nullptr) {
    return false;
  }
  if (!m_edit.Create(notifyWindow, m_hWnd, kBarRect, editId, commandId)) {
    DestroyWindow();
    return false;
  }
  m_brush.CreateSolidBrush(::GetSysColor(COLOR_WINDOW));
  return true;
}

CString CSearchBar::GetSearchText() const {
  CString text;
  if (m_edit.m_hWnd == nullptr || m_edit.IsHintShown()) {
    return text;
  }
  wchar_t buffer[kSearchTextChars] = {};
  const int length = m_edit.GetWindowText(buffer, kSearchTextChars);
  text.Assign(buffer, size_t(length > 0 ? length : 0));
  return text;
}

LRESULT CSearchBar::OnCtlColorEdit(UINT, WPARAM wParam, LPARAM lParam) {
  auto dc = reinterpret_cast<HDC>(wParam);
  if (reinterpret_cast<HWND>(lParam) == m_edit.m_hWnd && m_edit.IsHintShown()) {
    ::SetTextColor(dc, kSearchHintColor);
  }
  ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));  // the text cells match the brush
  return reinterpret_cast<LRESULT>(m_brush.get());
}
