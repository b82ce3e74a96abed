#include "ui/controls/TabStrip.h"

#include "ui/framework/DeviceContext.h"
#include "ui/framework/Gdi.h"
#include "ui/framework/Menu.h"

namespace kt_tabstrip {
namespace {

// "TOOLBAR" theme: the button part and its hot and pressed states.
constexpr int kThemeButtonPart = 1;
constexpr int kThemeStateHot = 2;
constexpr int kThemeStatePressed = 3;

constexpr int kImageSize = 16;
constexpr int kAddImage = 1;
constexpr int kIconLeft = 4;
constexpr int kTextInset = 4;
constexpr UINT kTextFormat = DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX;

// Document strip.
constexpr COLORREF kDocBaseFrom = RGB(255, 255, 255);
constexpr COLORREF kDocBaseTo = RGB(232, 232, 232);
constexpr COLORREF kDocOutlineSelected = RGB(60, 127, 177);
constexpr COLORREF kDocOutline = RGB(137, 140, 149);
constexpr COLORREF kDocTextSelected = RGB(21, 66, 139);
constexpr COLORREF kDocText = RGB(106, 106, 106);
constexpr COLORREF kDocBottomShade = RGB(145, 145, 145);
constexpr COLORREF kDocBottomLight = RGB(255, 255, 255);
constexpr int kDocSelectedTextRight = 22;  // room for the close box
constexpr int kDocBottomLineIndent = 2;   // behind the tabs' left edge

// View strip.
constexpr COLORREF kViewText = RGB(21, 66, 139);
constexpr COLORREF kViewSelectedBand = RGB(183, 200, 246);
constexpr int kViewSelectedGrow = 2;  // the selected tab's fill reaches this much lower

// Two vertical gradients per tab state.
struct TabShades {
  COLORREF upperFrom, upperTo, lowerFrom, lowerTo;
};
constexpr TabShades kDocSelected = {RGB(221, 242, 252), RGB(211, 237, 251), RGB(184, 227, 249), RGB(165, 219, 247)};
constexpr TabShades kHot = {RGB(237, 243, 252), RGB(198, 221, 247), RGB(153, 198, 238), RGB(217, 233, 249)};
constexpr TabShades kDocOther = {RGB(235, 235, 235), RGB(229, 229, 229), RGB(214, 214, 214), RGB(203, 203, 203)};
constexpr TabShades kViewSelected = {RGB(252, 253, 253), RGB(231, 245, 251), RGB(207, 231, 250), RGB(185, 209, 250)};
constexpr TabShades kViewOther = {RGB(242, 245, 250), RGB(229, 234, 245), RGB(207, 215, 235), RGB(235, 238, 252)};

void FillSolid(HDC dc, const RECT& rect, COLORREF color) {
  CDCHandle(dc).FillSolidRect(rect, color);
}

// One column or row of the glyphs, `length` pixels long.
void Column(HDC dc, int x, int top, int length, COLORREF color) { FillSolid(dc, RECT{x, top, x + 1, top + length}, color); }
void Row(HDC dc, int left, int y, int length, COLORREF color) { FillSolid(dc, RECT{left, y, left + length, y + 1}, color); }

// Draws a polyline through `points` with a one-pixel pen (the last point
// itself is left out, as LineTo does).
void Polyline(HDC dc, COLORREF color, const POINT* points, size_t count) {
  CPen pen;
  if (count < 2 || !pen.CreatePen(PS_SOLID, 1, color)) {
    return;
  }
  CSelectObject select(dc, pen.get());
  ::MoveToEx(dc, points[0].x, points[0].y, nullptr);
  for (size_t i = 1; i < count; ++i) {
    ::LineTo(dc, points[i].x, points[i].y);
  }
}

void Line(HDC dc, COLORREF color, POINT from, POINT to) {
  const POINT points[] = {from, to};
  Polyline(dc, color, points, 2);
}

constexpr int kGlyphColumns = 3;
constexpr int kGlyphShortest = 2;  // columns and rows of 2, 4 and 6 pixels
constexpr int kGlyphStep = 2;

void DrawScrollLeft(HDC dc, const RECT& r, COLORREF color) {
  const int w = r.right - r.left;
  const int h = r.bottom - r.top;
  for (int i = 0; i < kGlyphColumns; ++i) {
    const int length = kGlyphShortest + i * kGlyphStep;
    Column(dc, r.left + (w - 3) / 2 + i, r.top + (h - length) / 2, length, color);
  }
}

void DrawScrollRight(HDC dc, const RECT& r, COLORREF color) {
  const int w = r.right - r.left;
  const int h = r.bottom - r.top;
  for (int i = 0; i < kGlyphColumns; ++i) {
    const int length = kGlyphShortest + i * kGlyphStep;
    const int last = r.bottom - ((h - length) / 2 + 1);  // the column's lowest pixel
    Column(dc, r.right - 1 - (w - 3) / 2 - i, last - length + 1, length, color);
  }
}

void DrawListGlyph(HDC dc, const RECT& r, COLORREF color) {
  constexpr int kArrowHeight = 6;
  const int m = (r.bottom - r.top - kArrowHeight) / 2;
  Row(dc, r.left + m, r.top + 1 + m, (r.right - m - 1) - (r.left + m) + 1, color);
  for (int i = 0; i < kGlyphColumns; ++i) {
    const int length = kArrowHeight - i * kGlyphStep;
    Row(dc, r.left + m + i, r.top + m + 3 + i, length, color);
  }
}

void DrawCross(HDC dc, const RECT& r, COLORREF color) {
  Line(dc, color, {r.left + 4, r.top + 5}, {r.right - 6, r.bottom - 5});
  Line(dc, color, {r.left + 5, r.top + 5}, {r.right - 5, r.bottom - 5});
  Line(dc, color, {r.left + 4, r.bottom - 6}, {r.right - 6, r.top + 4});
  Line(dc, color, {r.left + 5, r.bottom - 6}, {r.right - 5, r.top + 4});
}

void DrawAddGlyph(HDC dc, const RECT& r, HIMAGELIST images, bool down) {
  constexpr int kImageInset = 4;
  constexpr int kArrowLeft = 8;
  constexpr int kArrowRight = 4;
  const int shift = down ? 1 : 0;
  if (images != nullptr) {
    ImageList_Draw(images, kAddImage, dc, r.left + kImageInset + shift, r.top + kImageInset + shift, ILD_TRANSPARENT);
  }
  const RECT arrow = {r.right - kArrowLeft + shift, r.top + shift, r.right - kArrowRight + shift, r.bottom + shift};
  DrawDropArrow(dc, arrow, ::GetSysColor(COLOR_BTNTEXT));
}

void DrawButton(HDC dc, const PaintContext& context, int64_t code) {
  const TabButton* button = context.model->GetButton(code);
  if (button == nullptr || !button->IsShown()) {
    return;
  }
  const RECT& r = button->rect;
  const bool hot = context.model->Hot() == code;
  const bool down = hot && context.model->Pressed();
  if (hot) {
    if (context.theme != nullptr) {
      DrawThemedBackground(context.theme, dc, kThemeButtonPart, down ? kThemeStatePressed : kThemeStateHot, r);
    } else {
      CDCHandle(dc).Draw3dRect(r, ::GetSysColor(COLOR_BTNHIGHLIGHT), ::GetSysColor(COLOR_BTNSHADOW));
    }
  }
  const COLORREF glyph = ::GetSysColor((button->flags & TBF_DISABLED) ? COLOR_GRAYTEXT : COLOR_BTNTEXT);
  switch (code) {
    case kTabHitScrollLeft: DrawScrollLeft(dc, r, glyph); break;
    case kTabHitScrollRight: DrawScrollRight(dc, r, glyph); break;
    case kTabHitList: DrawListGlyph(dc, r, glyph); break;
    case kTabHitCloseAll: DrawCross(dc, r, ::GetSysColor(COLOR_BTNTEXT)); break;
    case kTabHitClose: DrawCross(dc, r, ::GetSysColor(hot ? COLOR_BTNTEXT : COLOR_GRAYTEXT)); break;
    case kTabHitAdd: DrawAddGlyph(dc, r, context.images, down); break;
    default: break;
  }
}

bool HasIcon(const PaintContext& context, const TabItem& item) { return context.images != nullptr && item.image >= 0; }

void DrawIcon(HDC dc, const PaintContext& context, const TabItem& item, int x, int y) {
  ImageList_Draw(context.images, item.image, dc, x, y, ILD_TRANSPARENT);
}

void DrawItemText(HDC dc, const TabItem& item, RECT area, COLORREF color) {
  ::SetTextColor(dc, color);
  ::DrawTextW(dc, item.text.c_str(), -1, &area, kTextFormat);
}

void DrawDocumentTab(HDC dc, const PaintContext& context, const TabGroup& group, size_t index) {
  const TabItem& item = *group.items[index];
  const RECT& r = item.rect;
  const bool selected = index == group.selected;
  const bool hot = !selected && context.model->Hot() == static_cast<int64_t>(index);
  const int b = r.bottom - 2;

  DrawGradientRect(dc, RECT{r.left + 1, r.top + 1, r.right - 1, b}, kDocBaseFrom, kDocBaseTo, false);
  const TabShades& shades = selected ? kDocSelected : hot ? kHot : kDocOther;
  const int m = r.top + 1 + (r.bottom - r.top - 5) / 2;
  DrawGradientRect(dc, RECT{r.left + 2, r.top + 2, r.right - 1, m}, shades.upperFrom, shades.upperTo, false);
  DrawGradientRect(dc, RECT{r.left + 2, m, r.right - 1, b - 1}, shades.lowerFrom, shades.lowerTo, false);

  const COLORREF outline = selected ? kDocOutlineSelected : kDocOutline;
  if (index == group.firstVisible || selected) {
    Line(dc, outline, {r.left, r.top + 1}, {r.left, b - 2});
  }
  const POINT edge[] = {{r.left, b - 2}, {r.left + 2, b}, {r.right - 2, b}, {r.right, b - 2}, {r.right, r.top}};
  Polyline(dc, outline, edge, sizeof(edge) / sizeof(edge[0]));

  int textLeft = r.left + kTextInset;
  if (HasIcon(context, item)) {
    DrawIcon(dc, context, item, r.left + kIconLeft, r.top + 1 + (b - r.top - kImageSize) / 2);
    textLeft += kTabIconWidth;
  }
  const int textRight = selected ? r.right - kDocSelectedTextRight : r.right - kTextInset;
  DrawItemText(dc, item, RECT{textLeft, r.top + kTextInset, textRight, b - 2}, selected ? kDocTextSelected : kDocText);
}

void DrawViewTabBackground(HDC dc, const PaintContext& context, const TabGroup& group, size_t index) {
  const TabItem& item = *group.items[index];
  const RECT& r = item.rect;
  const bool selected = index == group.selected;
  const bool hot = !selected && context.model->Hot() == static_cast<int64_t>(index);
  const TabShades& shades = selected ? kViewSelected : hot ? kHot : kViewOther;
  const int t = r.top + 1 + (r.bottom - r.top) / 3;
  const int bottom = selected ? r.bottom + kViewSelectedGrow : r.bottom;
  DrawGradientRect(dc, RECT{r.left, r.top, r.right, t}, shades.upperFrom, shades.upperTo, false);
  DrawGradientRect(dc, RECT{r.left, t, r.right, bottom}, shades.lowerFrom, shades.lowerTo, false);
  if (selected) {
    FillSolid(dc, RECT{context.client.left, bottom, context.client.right, context.client.bottom}, kViewSelectedBand);
  }
}

// One outline of a view tab over `r`; `clientLeft`/`clientRight` carry the
// selected tab's base line across the strip.
void DrawViewOutline(HDC dc, COLORREF color, const RECT& r, int relation, int clientLeft, int clientRight) {
  if (relation < 0) {
    const POINT points[] = {{r.left, r.bottom}, {r.left, r.top + 2}, {r.left + 2, r.top}, {r.right - 2, r.top},
                            {r.right, r.top + 2}};
    Polyline(dc, color, points, sizeof(points) / sizeof(points[0]));
  } else if (relation > 0) {
    const POINT points[] = {{r.left, r.top + 2}, {r.left + 2, r.top}, {r.right - 2, r.top}, {r.right, r.top + 2},
                            {r.right, r.bottom}};
    Polyline(dc, color, points, sizeof(points) / sizeof(points[0]));
  } else {
    const POINT points[] = {{clientLeft, r.bottom},  {r.left - 2, r.bottom}, {r.left, r.bottom - 2},
                            {r.left, r.top + 2},     {r.left + 2, r.top},    {r.right - 2, r.top},
                            {r.right, r.top + 2},    {r.right, r.bottom - 2}, {r.right + 2, r.bottom},
                            {clientRight, r.bottom}};
    Polyline(dc, color, points, sizeof(points) / sizeof(points[0]));
  }
}

void DrawViewTabFace(HDC dc, const PaintContext& context, const TabGroup& group, size_t index) {
  const TabItem& item = *group.items[index];
  const RECT& r = item.rect;
  const bool selected = index == group.selected;
  // Items left of the selected one (all of them when none is) lose their
  // right edge, items right of it their left edge.
  const int relation = selected ? 0 : (group.selected == kTabNoItem || index < group.selected) ? -1 : 1;
  DrawViewOutline(dc, ::GetSysColor(COLOR_BTNSHADOW), r, relation, context.client.left, context.client.right);
  const RECT inner = {r.left + 1, r.top + 1, r.right - 1, selected ? r.bottom + 1 : r.bottom};
  DrawViewOutline(dc, ::GetSysColor(COLOR_BTNHIGHLIGHT), inner, relation, context.client.left, context.client.right);

  int textLeft = r.left + kTextInset;
  if (HasIcon(context, item)) {
    DrawIcon(dc, context, item, r.left + kIconLeft, r.top + 1 + (r.bottom - r.top - kImageSize) / 2);
    textLeft += kTabIconWidth;
  }
  const int textRight = r.right - kTextInset - (selected ? kTabCloseBoxExtra : 0);
  DrawItemText(dc, item, RECT{textLeft, r.top + kTextInset, textRight, r.bottom}, kViewText);
}

bool IsDrawn(const TabItem* item) { return item != nullptr && item->IsShown(); }

void PaintTabs(HDC dc, const PaintContext& context, const TabGroup& group) {
  const size_t end = group.endVisible < group.Count() ? group.endVisible : group.Count();
  if (context.model->Kind() == TabStripKind::Document) {
    for (size_t i = group.firstVisible; i < end; ++i) {
      if (IsDrawn(group.items[i])) DrawDocumentTab(dc, context, group, i);
    }
  } else {
    for (size_t i = group.firstVisible; i < end; ++i) {
      if (IsDrawn(group.items[i])) DrawViewTabBackground(dc, context, group, i);
    }
    for (size_t i = group.firstVisible; i < end; ++i) {
      if (IsDrawn(group.items[i])) DrawViewTabFace(dc, context, group, i);
    }
  }
  DrawButton(dc, context, kTabHitClose);
}

}  // namespace

void PaintStrip(HDC dc, const PaintContext& context) {
  const RECT& client = context.client;
  FillSolid(dc, client, ::GetSysColor(COLOR_BTNFACE));
  CSaveDC saved(dc);
  ::SetBkMode(dc, TRANSPARENT);
  ::SelectObject(dc, ::GetStockObject(DEFAULT_GUI_FONT));

  const CTabStripModel& model = *context.model;
  // The add button is drawn whenever it is shown: it answers clicks even
  // while the current group is empty.
  if (model.Kind() == TabStripKind::View) {
    DrawButton(dc, context, kTabHitAdd);
  }
  const TabGroup* group = model.CurrentGroup();
  if (group != nullptr && group->Count() != 0) {
    DrawButton(dc, context, kTabHitScrollLeft);
    DrawButton(dc, context, kTabHitScrollRight);
    DrawButton(dc, context, kTabHitList);
    if (model.Style() & TCX_CLOSEALLBUTTON) {
      DrawButton(dc, context, kTabHitCloseAll);
    }
    PaintTabs(dc, context, *group);
  }
  if (model.Kind() == TabStripKind::Document) {
    const int left = model.TabsLeft() + kDocBottomLineIndent;
    FillSolid(dc, RECT{left, client.bottom - 2, client.right, client.bottom - 1}, kDocBottomShade);
    FillSolid(dc, RECT{left, client.bottom - 1, client.right, client.bottom}, kDocBottomLight);
  }
}

UINT TrackListMenu(HWND owner, const TabListMenu& menu) {
  CMenu popup;
  if (!popup.CreatePopupMenu()) {
    return 0;
  }
  for (size_t i = 0; i < menu.count; ++i) {
    const TabMenuEntry& entry = menu.entries[i];
    if (!popup.AppendMenu(MF_STRING, entry.command, entry.text)) {
      return 0;
    }
    if (entry.checked) {
      popup.CheckMenuItem(static_cast<UINT>(i), MF_BYPOSITION | MF_CHECKED);
    }
  }
  POINT at = menu.anchor;
  ::ClientToScreen(owner, &at);
  if (::MonitorFromPoint(at, MONITOR_DEFAULTTONULL) == nullptr) {
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    if (::GetMonitorInfoW(::MonitorFromPoint(at, MONITOR_DEFAULTTONEAREST), &info)) {
      if (at.x < info.rcWork.left) at.x = info.rcWork.left;
      if (at.x >= info.rcWork.right) at.x = info.rcWork.right - 1;
    }
  }
  const BOOL command = popup.TrackPopupMenu(menu.flags, at.x, at.y, owner);
  return command > 0 ? static_cast<UINT>(command) : 0;
}

}  // namespace kt_tabstrip
