#include "ui/controls/HeaderCtrlEx.h"

#include "ui/controls/DrawHelpers.h"
#include "ui/framework/DeviceContext.h"
#include "ui/framework/Gdi.h"

namespace {

constexpr int kTextChars = 128;
constexpr int kBottomMargin = 2;  // the bottom line sits this far above the client bottom
constexpr int kTextInset = 4;
constexpr UINT kTextFormat = DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS;

UINT AlignmentOf(int format) {
  if ((format & HDF_CENTER) == HDF_CENTER) {
    return DT_CENTER;
  }
  if ((format & HDF_RIGHT) == HDF_RIGHT) {
    return DT_RIGHT;
  }
  return DT_LEFT;
}

void VerticalLine(CDCHandle& dc, int x, int top, int bottom) {
  dc.MoveTo(x, top);
  dc.LineTo(x, bottom);
}

}  // namespace

void CHeaderCtrlEx::DrawHeaderItems(HDC hdc) {
  RECT client;
  GetClientRect(&client);
  if (client.bottom <= client.top) {
    return;
  }
  CDCHandle dc(hdc);
  CSaveDC saved(hdc);
  dc.SelectObject(GetFont() != nullptr ? HGDIOBJ(GetFont()) : ::GetStockObject(DEFAULT_GUI_FONT));
  dc.SetBkMode(TRANSPARENT);
  dc.SetTextColor(::GetSysColor(COLOR_WINDOWTEXT));
  dc.FillRect(client, ::GetSysColorBrush(COLOR_WINDOW));

  RECT lower = client;
  lower.bottom -= kBottomMargin;
  lower.top = (client.top - kBottomMargin) + (lower.bottom - client.top) / 2;
  DrawGradientRect(hdc, lower, kGradientTop, kGradientBottom, false);

  CPen dark;
  CPen light;
  CPen bottomLine;
  dark.CreatePen(PS_SOLID, 1, kDividerDark);
  light.CreatePen(PS_SOLID, 1, kDividerLight);
  bottomLine.CreatePen(PS_SOLID, 1, kBottomLine);

  const int count = GetItemCount();
  for (int i = 0; i < count; ++i) {
    wchar_t text[kTextChars] = {};
    HDITEMW item = {};
    item.mask = HDI_TEXT | HDI_FORMAT;
    item.pszText = text;
    item.cchTextMax = kTextChars;
    RECT rect;
    if (!GetItem(i, &item) || !GetItemRect(i, &rect)) {
      continue;
    }
    text[kTextChars - 1] = 0;
    rect.bottom -= kBottomMargin;
    {
      CSelectObject pen(hdc, dark.get());
      VerticalLine(dc, rect.right, rect.top, rect.bottom);
    }
    {
      CSelectObject pen(hdc, light.get());
      VerticalLine(dc, rect.right - 1, rect.top, rect.bottom);
      VerticalLine(dc, rect.left + 1, rect.top, rect.bottom);
    }
    rect.left += kTextInset;
    rect.right -= kTextInset;
    dc.DrawText(text, -1, &rect, AlignmentOf(item.fmt) | kTextFormat);
  }
  CSelectObject pen(hdc, bottomLine.get());
  dc.MoveTo(client.left, lower.bottom);
  dc.LineTo(client.right, lower.bottom);
}
