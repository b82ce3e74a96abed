#include "ui/controls/StaticEx.h"

#include "ui/framework/DeviceContext.h"

namespace {

constexpr int kTextChars = 256;
constexpr int kTickBox = 10;
constexpr UINT kTextFormat = DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX;

}  // namespace

LRESULT CStaticEx::OnSetFont(UINT, WPARAM wParam, LPARAM) {
  m_font = reinterpret_cast<HFONT>(wParam);
  SetMsgHandled(FALSE);
  return 0;
}

LRESULT CStaticEx::OnGetFont(UINT, WPARAM, LPARAM) {
  if (m_font == nullptr) {
    SetMsgHandled(FALSE);
  }
  return reinterpret_cast<LRESULT>(m_font);
}

void CStaticEx::DoPaint(HDC dc) {
  CSaveDC saved(dc);
  RECT client;
  GetClientRect(&client);
  PaintBackground(dc, client);
  if (m_state == kStateText) {
    PaintText(dc, client);
  } else if (m_state == kStateTick) {
    PaintTick(dc, client);
  }
}

void CStaticEx::PaintBackground(HDC dc, const RECT& client) {
  auto brush = reinterpret_cast<HBRUSH>(
      ::SendMessageW(GetParent(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(m_hWnd)));
  // The off-screen bitmap starts undefined: a parent without a brush still
  // gets a clean label.
  ::FillRect(dc, &client, brush != nullptr ? brush : ::GetSysColorBrush(COLOR_BTNFACE));
}

void CStaticEx::PaintText(HDC dc, const RECT& client) {
  HFONT font = GetFont();
  if (font == nullptr) {
    font = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
  }
  ::SetBkMode(dc, TRANSPARENT);
  ::SelectObject(dc, font);  // put back by the saved context
  ::SetTextColor(dc, m_textColor);
  wchar_t text[kTextChars] = {};
  const int length = GetWindowText(text, kTextChars);
  RECT area = client;
  ::DrawTextW(dc, text, length, &area, kTextFormat);
}

void CStaticEx::PaintTick(HDC dc, const RECT& client) {
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  const int left = client.left + (width - kTickBox) / 2 - 1;
  const int top = client.top + (height - kTickBox) / 2 + 1;
  const int right = left + kTickBox;
  const int bottom = top + kTickBox;
  // Two strokes one pixel apart make the tick two pixels thick.
  for (int lift = 0; lift < 2; ++lift) {
    ::MoveToEx(dc, left + 1, top + 5 - lift, nullptr);
    ::LineTo(dc, left + 3, bottom - 3 - lift);
    ::LineTo(dc, right - 1, top + 1 - lift);
  }
}
