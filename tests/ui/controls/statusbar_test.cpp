#include "ui/controls/StatusBarEx.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/ui/UiHarness.h"
#include "ui/framework/WindowImpl.h"

namespace {

constexpr int kParentWidth = 700;
constexpr int kParentHeight = 160;
constexpr int kWider = 120;
constexpr DWORD kBarStyle = 0x56000100;
constexpr int kProgressExtra = 100;
constexpr int kImageSize = 16;
constexpr int kImageTextShift = 18;

constexpr COLORREF kSeparatorShade = RGB(215, 215, 215);
// Picture 0 (the filter funnel) of res/status_items.bmp: its top edge is
// row 2, its left edge in row 3 is column 2, with the mask above and left and
// the fill below and right, so a picture one pixel off shows.
constexpr COLORREF kFunnelFill = RGB(60, 120, 220);
constexpr COLORREF kFunnelEdge = RGB(20, 60, 140);
struct PicturePixel {
  POINT at;
  COLORREF color;  // kMaskColor: the face shows through
};
constexpr COLORREF kMaskColor = RGB(255, 0, 255);
constexpr PicturePixel kFunnelPixels[] = {
    {{7, 1}, kMaskColor}, {{7, 2}, kFunnelEdge}, {{7, 3}, kFunnelFill},
    {{1, 3}, kMaskColor}, {{2, 3}, kFunnelEdge}, {{3, 3}, kFunnelFill},
};

struct RecordedNotify {
  WPARAM wParam;
  HWND from;
  UINT_PTR id;
  UINT code;
};

// Stands in for the main frame: keeps every WM_NOTIFY and can act while the
// bar waits for it, as the frame's menus and dialogs do.
class CNotifyParent : public CWindowImpl<CNotifyParent> {
 public:
  BEGIN_MSG_MAP(CNotifyParent)
    MESSAGE_HANDLER(WM_NOTIFY, OnNotify)
  END_MSG_MAP()

  LRESULT OnNotify(UINT, WPARAM wParam, LPARAM lParam) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    notifies.push_back({wParam, header->hwndFrom, header->idFrom, header->code});
    if (during) {
      during(*header);
    }
    return 0;
  }

  std::vector<RecordedNotify> notifies;
  std::function<void(const NMHDR&)> during;
};

POINT Centre(const RECT& rect) { return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2}; }
LPARAM PointParam(POINT point) { return MAKELPARAM(point.x, point.y); }

COLORREF Sys(int index) { return ::GetSysColor(index); }

class StatusBarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const RECT rect = {0, 0, kParentWidth, kParentHeight};
    ASSERT_NE(nullptr, parent.Create(host.get(), &rect, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN));
    ASSERT_TRUE(bar.CreateEx(parent.m_hWnd, IDC_STATUS_NOTIFY));
    bar.SendMessage(WM_SIZE, SIZE_RESTORED, 0);  // as the frame's layout asks the bar to size itself
    ParkCursor();
  }
  void TearDown() override { parent.DestroyWindow(); }

  // Moves the cursor off the bar, so that a click's closing hit test finds nothing.
  void ParkCursor() {
    POINT away = {kParentWidth - 10, 10};
    parent.ClientToScreen(&away);
    ::SetCursorPos(away.x, away.y);
  }
  const RECT& ItemRect(size_t position) const { return bar.GetItem(position)->rect; }
  RECT PaneRect(int id) const {
    RECT rect = {};
    bar.GetPaneRect(id, &rect);
    return rect;
  }
  void MoveTo(POINT point) { bar.SendMessage(WM_MOUSEMOVE, 0, PointParam(point)); }
  void ClickAt(POINT point) { bar.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, PointParam(point)); }
  // The top-left corner of an item's picture.
  POINT ImageOrigin(size_t position) const {
    const RECT& rect = ItemRect(position);
    return POINT{rect.left + 2, rect.top + 1 + (rect.bottom - rect.top - kImageSize) / 2};
  }
  RECT ProgressRectInBar() const {
    RECT rect = {};
    ::GetWindowRect(bar.GetProgressBar(), &rect);
    ::MapWindowPoints(nullptr, bar.m_hWnd, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
  }
  static RECT InsetProgress(const RECT& pane) { return RECT{pane.left + 1, pane.top + 2, pane.right - 5, pane.bottom - 2}; }
  bool ProgressShown() const { return (::GetWindowLongPtrW(bar.GetProgressBar(), GWL_STYLE) & WS_VISIBLE) != 0; }

  kt_test::CTestHostWindow host{kParentWidth, kParentHeight};
  CNotifyParent parent;
  CStatusBarEx bar;
};

struct ExpectedItem {
  uint16_t kind;
  uint32_t width;
  const wchar_t* text;
  UINT tipId;
};

constexpr ExpectedItem kExpectedItems[] = {
    {0, 20, L"", IDS_TIP_EDIT_FILTER},
    {kStatusItemDropDown, 50, L"pid", IDS_TIP_FILTER_PID},
    {kStatusItemDropDown, 60, L"level", IDS_TIP_FILTER_LEVEL},
    {0, 60, L"", IDS_TIP_NEXT_DEBUG},
    {0, 60, L"", IDS_TIP_NEXT_INFO},
    {0, 50, L"", IDS_TIP_NEXT_WARNING},
    {0, 50, L"", IDS_TIP_NEXT_ERROR},
    {0, 50, L"", IDS_TIP_NEXT_PII},
};

TEST_F(StatusBarTest, CreatesPanesHiddenProgressAndTheEightItems) {
  EXPECT_EQ(IDW_STATUS_BAR, bar.GetDlgCtrlID());
  EXPECT_EQ(kBarStyle, bar.GetStyle() & kBarStyle);
  ASSERT_EQ(3u, bar.GetPaneCount());
  EXPECT_EQ(0, bar.GetPaneIndexFromId(0));
  EXPECT_EQ(1, bar.GetPaneIndexFromId(ID_PANE_PROGRESS));
  EXPECT_EQ(2, bar.GetPaneIndexFromId(ID_PANE_ITEMS));
  EXPECT_EQ(CStatusBarEx::kItemsPaneWidth, bar.GetPaneWidth(ID_PANE_ITEMS));
  CString text;
  ASSERT_TRUE(bar.GetText(0, text));
  EXPECT_TRUE(text.IsEmpty());  // string 57345 is not in the table
  EXPECT_EQ(UINT(IDC_STATUS_NOTIFY), bar.GetNotifyId());

  ASSERT_TRUE(::IsWindow(bar.GetProgressBar()));
  EXPECT_FALSE(ProgressShown());
  PBRANGE range = {};
  ::SendMessageW(bar.GetProgressBar(), PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  EXPECT_EQ(0, range.iLow);
  EXPECT_EQ(100, range.iHigh);

  ASSERT_EQ(size_t(kStatusItemCount), bar.GetItemCount());
  for (size_t i = 0; i < bar.GetItemCount(); ++i) {
    SCOPED_TRACE(i);
    const StatusIndicatorItem* item = bar.GetItem(i);
    EXPECT_EQ(kExpectedItems[i].kind, item->kind);
    EXPECT_EQ(0, item->flags);
    EXPECT_EQ(int32_t(i), item->image);
    EXPECT_EQ(kExpectedItems[i].width, item->width);
    EXPECT_STREQ(kExpectedItems[i].text, item->text);
    EXPECT_EQ(kExpectedItems[i].tipId, CStatusBarEx::GetItemTipId(i));
  }
  EXPECT_EQ(nullptr, bar.GetItem(kStatusItemCount));
  EXPECT_EQ(0u, CStatusBarEx::GetItemTipId(kStatusItemCount));
}

TEST_F(StatusBarTest, ItemsRunFromTheItemPaneLeftEdgeFourPixelsApart) {
  const RECT pane = PaneRect(ID_PANE_ITEMS);
  ASSERT_GT(pane.right, pane.left);
  int left = pane.left;
  for (size_t i = 0; i < bar.GetItemCount(); ++i) {
    SCOPED_TRACE(i);
    const RECT& rect = ItemRect(i);
    EXPECT_EQ(left, rect.left);
    EXPECT_EQ(int(kExpectedItems[i].width), rect.right - rect.left);
    EXPECT_EQ(pane.top, rect.top);
    EXPECT_EQ(pane.bottom - 1, rect.bottom);
    left = rect.right + 4;
  }
}

TEST_F(StatusBarTest, HitTestFindsEnabledItemsOnly) {
  const RECT first = ItemRect(0);
  const RECT second = ItemRect(1);
  struct Case {
    const char* name;
    POINT point;
    int64_t expected;
  };
  const Case cases[] = {
      {"left edge", {first.left, first.top}, 0},
      {"last column", {first.right - 1, first.bottom - 1}, 0},
      {"right edge is outside", {first.right, Centre(first).y}, -1},
      {"gap", {first.right + 2, Centre(first).y}, -1},
      {"next item", {second.left, Centre(second).y}, 1},
      {"bottom row is outside", {Centre(first).x, first.bottom}, -1},
      {"default pane", {5, Centre(first).y}, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, bar.HitTestItem(c.point)) << c.name;
  }
  for (size_t i = 0; i < bar.GetItemCount(); ++i) {
    EXPECT_EQ(int64_t(i), bar.HitTestItem(Centre(ItemRect(i)))) << i;
  }
  bar.SetItemsDisabled(true);
  for (size_t i = 0; i < bar.GetItemCount(); ++i) {
    EXPECT_EQ(kStatusItemDisabled, bar.GetItem(i)->flags);
    EXPECT_EQ(-1, bar.HitTestItem(Centre(ItemRect(i)))) << i;
  }
  bar.SetItemsDisabled(false);
  EXPECT_EQ(3, bar.HitTestItem(Centre(ItemRect(3))));
}

TEST_F(StatusBarTest, ClickSendsTheItemPositionWhilePressed) {
  struct Seen {
    bool pressed;
    int64_t hot;
  };
  std::vector<Seen> seen;
  parent.during = [&](const NMHDR&) { seen.push_back({bar.IsPressed(), bar.GetHotItem()}); };
  for (size_t i = 0; i < bar.GetItemCount(); ++i) {
    SCOPED_TRACE(i);
    parent.notifies.clear();
    seen.clear();
    ClickAt(Centre(ItemRect(i)));
    ASSERT_EQ(1u, parent.notifies.size());
    const RecordedNotify& n = parent.notifies[0];
    EXPECT_EQ(WPARAM(IDC_STATUS_NOTIFY), n.wParam);
    EXPECT_EQ(bar.m_hWnd, n.from);
    EXPECT_EQ(UINT_PTR(IDC_STATUS_NOTIFY), n.id);
    EXPECT_EQ(UINT(i), n.code);
    ASSERT_EQ(1u, seen.size());
    EXPECT_TRUE(seen[0].pressed);
    EXPECT_EQ(int64_t(i), seen[0].hot);
    EXPECT_FALSE(bar.IsPressed());
    EXPECT_EQ(-1, bar.GetHotItem());  // the cursor is parked off the bar
  }
}

TEST_F(StatusBarTest, AfterTheClickTheHoverFollowsTheCursor) {
  POINT target = Centre(ItemRect(kStatusItemWarning));
  bar.ClientToScreen(&target);
  parent.during = [&](const NMHDR&) { ::SetCursorPos(target.x, target.y); };
  ClickAt(Centre(ItemRect(kStatusItemProcess)));
  POINT now = {};
  ::GetCursorPos(&now);
  if (now.x != target.x || now.y != target.y) {
    GTEST_SKIP() << "the cursor cannot be moved on this display";
  }
  ASSERT_EQ(1u, parent.notifies.size());
  EXPECT_EQ(UINT(kStatusItemProcess), parent.notifies[0].code);
  EXPECT_EQ(int64_t(kStatusItemWarning), bar.GetHotItem());
}

TEST_F(StatusBarTest, ClickOnGapOrDisabledItemSendsNothingAndClearsHover) {
  struct Case {
    const char* name;
    bool disable;
    POINT point;
  };
  const Case cases[] = {
      {"gap", false, {ItemRect(2).right + 2, Centre(ItemRect(2)).y}},
      {"disabled item", true, Centre(ItemRect(2))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bar.SetItemsDisabled(false);
    MoveTo(Centre(ItemRect(2)));
    ASSERT_EQ(2, bar.GetHotItem());
    bar.SetItemsDisabled(c.disable);
    parent.notifies.clear();
    ClickAt(c.point);
    EXPECT_TRUE(parent.notifies.empty());
    EXPECT_EQ(-1, bar.GetHotItem());
    EXPECT_FALSE(bar.IsPressed());
  }
}

TEST_F(StatusBarTest, HoverRaisesTheItemUnderTheMouse) {
  const RECT rect = ItemRect(kStatusItemInfo);
  MoveTo(Centre(rect));
  EXPECT_EQ(int64_t(kStatusItemInfo), bar.GetHotItem());
  kt_test::CPixels pixels = kt_test::CapturePixels(bar.m_hWnd);
  EXPECT_EQ(Sys(COLOR_BTNHIGHLIGHT), pixels.Pixel(rect.left, rect.top));
  EXPECT_EQ(Sys(COLOR_BTNHIGHLIGHT), pixels.Pixel(rect.left, rect.bottom - 2));
  EXPECT_EQ(Sys(COLOR_BTNSHADOW), pixels.Pixel(rect.right - 1, rect.bottom - 1));
  EXPECT_EQ(Sys(COLOR_BTNSHADOW), pixels.Pixel(rect.right - 1, rect.top + 1));

  MoveTo(POINT{rect.right + 1, Centre(rect).y});  // the gap
  EXPECT_EQ(-1, bar.GetHotItem());
  pixels = kt_test::CapturePixels(bar.m_hWnd);
  EXPECT_EQ(Sys(COLOR_BTNFACE), pixels.Pixel(rect.left, rect.top));
  EXPECT_EQ(Sys(COLOR_BTNFACE), pixels.Pixel(rect.right - 1, rect.bottom - 1));

  MoveTo(Centre(ItemRect(kStatusItemLevel)));
  EXPECT_EQ(int64_t(kStatusItemLevel), bar.GetHotItem());
  bar.SendMessage(WM_MOUSELEAVE);
  EXPECT_EQ(-1, bar.GetHotItem());
}

TEST_F(StatusBarTest, MouseLeaveDuringAClickKeepsThePressedItemHot) {
  int64_t hotAfterLeave = -2;
  parent.during = [&](const NMHDR&) {
    bar.SendMessage(WM_MOUSELEAVE);  // a menu opening takes the mouse away
    hotAfterLeave = bar.GetHotItem();
  };
  ClickAt(Centre(ItemRect(kStatusItemLevel)));
  EXPECT_EQ(int64_t(kStatusItemLevel), hotAfterLeave);
}

TEST_F(StatusBarTest, SizeGripDotsSitAtTheBottomRight) {
  const kt_test::CPixels pixels = kt_test::CapturePixels(bar.m_hWnd);
  ASSERT_FALSE(pixels.IsEmpty());
  const int right = pixels.width;
  const int bottom = pixels.height;
  for (int row = 0; row < 3; ++row) {
    const int y = bottom - (12 - 4 * row);
    for (int dot = 1; dot <= row + 1; ++dot) {
      SCOPED_TRACE(testing::Message() << "row " << row << " dot " << dot);
      const int x = right - 4 * dot;
      EXPECT_EQ(RGB(255, 255, 255), pixels.Pixel(x, y));
      EXPECT_EQ(RGB(231, 231, 231), pixels.Pixel(x + 1, y));
      EXPECT_EQ(RGB(207, 207, 207), pixels.Pixel(x, y + 1));
      EXPECT_EQ(RGB(175, 175, 175), pixels.Pixel(x + 1, y + 1));
      EXPECT_EQ(Sys(COLOR_BTNFACE), pixels.Pixel(x + 2, y));
      EXPECT_EQ(Sys(COLOR_BTNFACE), pixels.Pixel(x, y + 2));
    }
    EXPECT_EQ(Sys(COLOR_BTNFACE), pixels.Pixel(right - 4 * (row + 2), y)) << "row " << row << " has no more dots";
  }
  EXPECT_EQ(Sys(COLOR_BTNFACE), pixels.Pixel(right - 4, bottom - 16));
}

TEST_F(StatusBarTest, NoSizeGripWhileTheParentIsMaximised) {
  parent.ModifyStyle(0, WS_MAXIMIZE);
  const kt_test::CPixels pixels = kt_test::CapturePixels(bar.m_hWnd);
  parent.ModifyStyle(WS_MAXIMIZE, 0);
  const RECT corner = {pixels.width - 16, pixels.height - 16, pixels.width, pixels.height};
  for (COLORREF color : {RGB(231, 231, 231), RGB(207, 207, 207), RGB(175, 175, 175)}) {
    EXPECT_EQ(0, pixels.CountColor(color, corner));
  }
  EXPECT_EQ(corner.right - corner.left, pixels.CountColor(Sys(COLOR_BTNFACE), RECT{corner.left, pixels.height - 12,
                                                                                   corner.right, pixels.height - 11}));
}

TEST_F(StatusBarTest, SeparatorsCloseEachPaneAndItem) {
  const kt_test::CPixels pixels = kt_test::CapturePixels(bar.m_hWnd);
  const RECT panes[] = {PaneRect(0), PaneRect(ID_PANE_PROGRESS)};
  for (const RECT& pane : panes) {
    const int y = Centre(pane).y;
    EXPECT_EQ(kSeparatorShade, pixels.Pixel(pane.right - 1, y)) << pane.right;
    EXPECT_EQ(Sys(COLOR_BTNFACE), pixels.Pixel(pane.right - 2, y)) << pane.right;
  }
  for (size_t i = 0; i < bar.GetItemCount(); ++i) {
    const RECT& rect = ItemRect(i);
    const int y = Centre(rect).y;
    EXPECT_EQ(kSeparatorShade, pixels.Pixel(rect.right + 2, y)) << i;
    EXPECT_EQ(Sys(COLOR_BTNFACE), pixels.Pixel(rect.right + 1, y)) << i;
  }
}

TEST_F(StatusBarTest, TextArrowAndPictureColoursFollowTheEnabledState) {
  bar.SetPaneTexts(L"888", L"888", L"888", L"888", L"888");
  struct Case {
    bool disabled;
    COLORREF text;
    COLORREF other;
  };
  const Case cases[] = {{false, Sys(COLOR_BTNTEXT), Sys(COLOR_GRAYTEXT)},
                        {true, Sys(COLOR_GRAYTEXT), Sys(COLOR_BTNTEXT)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.disabled ? "disabled" : "enabled");
    bar.SetItemsDisabled(c.disabled);
    const kt_test::CPixels pixels = kt_test::CapturePixels(bar.m_hWnd);

    const RECT counter = ItemRect(kStatusItemDebug);
    const RECT textArea = {counter.left + kImageTextShift, counter.top, counter.right - 2, counter.bottom};
    EXPECT_GT(pixels.CountColor(c.text, textArea), 0);
    EXPECT_EQ(0, pixels.CountColor(c.other, textArea));

    for (size_t position : {size_t(kStatusItemProcess), size_t(kStatusItemLevel)}) {
      SCOPED_TRACE(position);
      const RECT& rect = ItemRect(position);
      const int left = rect.right - 8;  // the arrow box is 6 pixels wide
      const int middle = rect.top + (rect.bottom - rect.top) / 2;
      EXPECT_EQ(6, pixels.CountColor(c.text, RECT{left, middle, left + 6, middle + 1}));
      EXPECT_EQ(4, pixels.CountColor(c.text, RECT{left + 1, middle + 1, left + 5, middle + 2}));
      EXPECT_EQ(2, pixels.CountColor(c.text, RECT{left + 2, middle + 2, left + 4, middle + 3}));
      EXPECT_EQ(12, pixels.CountColor(c.text, RECT{left, middle - 2, left + 6, middle + 4})) << "nothing else";
    }

    const POINT origin = ImageOrigin(kStatusItemFilter);
    const RECT picture = {origin.x, origin.y, origin.x + kImageSize, origin.y + kImageSize};
    EXPECT_EQ(0, pixels.CountColor(kMaskColor, ItemRect(kStatusItemFilter)));
    EXPECT_EQ(Sys(COLOR_BTNFACE), pixels.Pixel(origin.x, origin.y));  // the mask shows the face
    if (c.disabled) {
      EXPECT_EQ(0, pixels.CountColor(kFunnelFill, picture));
      EXPECT_GT(pixels.CountColor(Sys(COLOR_BTNSHADOW), picture), 0);  // the embossed picture
    } else {
      for (const PicturePixel& p : kFunnelPixels) {
        const COLORREF expected = p.color == kMaskColor ? Sys(COLOR_BTNFACE) : p.color;
        EXPECT_EQ(expected, pixels.Pixel(origin.x + p.at.x, origin.y + p.at.y)) << p.at.x << "," << p.at.y;
      }
    }
  }
}

TEST_F(StatusBarTest, TheFilterItemShowsItsFilteredPicture) {
  constexpr COLORREF kFunnelOnFill = RGB(240, 140, 0);
  bar.SetItemImage(kStatusItemFilter, kStatusImageFilterActive);
  bar.UpdateWindow();
  const kt_test::CPixels pixels = kt_test::CapturePixels(bar.m_hWnd);
  const POINT origin = ImageOrigin(kStatusItemFilter);
  const RECT picture = {origin.x, origin.y, origin.x + kImageSize, origin.y + kImageSize};
  EXPECT_GT(pixels.CountColor(kFunnelOnFill, picture), 20);
  EXPECT_EQ(0, pixels.CountColor(kFunnelFill, picture));
  EXPECT_EQ(Sys(COLOR_BTNFACE), pixels.Pixel(origin.x, origin.y));  // the mask shows the face
}

TEST_F(StatusBarTest, ItemWithoutTextDrawsOnlyItsPictureAndSeparator) {
  const kt_test::CPixels pixels = kt_test::CapturePixels(bar.m_hWnd);
  const RECT& rect = ItemRect(kStatusItemDebug);
  const POINT origin = ImageOrigin(kStatusItemDebug);
  int painted = 0;
  int pictured = 0;
  for (int y = rect.top; y < rect.bottom; ++y) {
    for (int x = rect.left; x < rect.right; ++x) {
      const bool inPicture = x >= origin.x && x < origin.x + kImageSize && y >= origin.y && y < origin.y + kImageSize;
      if (pixels.Pixel(x, y) != Sys(COLOR_BTNFACE)) {
        ++(inPicture ? pictured : painted);
      }
    }
  }
  EXPECT_EQ(0, painted);
  EXPECT_GT(pictured, 0);
}

TEST_F(StatusBarTest, SetPaneTextsFillsTheFiveCountersInOrder) {
  bar.SetPaneTexts(L"1", L"22", L"333", L"4444", L"55555");
  const wchar_t* const expected[] = {L"", L"pid", L"level", L"1", L"22", L"333", L"4444", L"55555"};
  for (size_t i = 0; i < bar.GetItemCount(); ++i) {
    EXPECT_STREQ(expected[i], bar.GetItem(i)->text) << i;
  }
}

// The width a text takes in the bar's font.
int TextWidth(HWND bar, const wchar_t* text) {
  HDC dc = ::GetDC(bar);
  HGDIOBJ old = ::SelectObject(dc, ::GetStockObject(DEFAULT_GUI_FONT));
  SIZE extent = {0, 0};
  ::GetTextExtentPoint32W(dc, text, int(wcslen(text)), &extent);
  ::SelectObject(dc, old);
  ::ReleaseDC(bar, dc);
  return extent.cx;
}

TEST_F(StatusBarTest, EachCounterIsWideEnoughForItsNumber) {
  const RECT first = PaneRect(ID_PANE_ITEMS);
  const wchar_t* const counts[] = {L"1", L"999999", L"4294967295"};
  for (const wchar_t* count : counts) {
    bar.SetPaneTexts(count, count, count, count, count);
    const RECT pane = PaneRect(ID_PANE_ITEMS);
    for (size_t position = kStatusItemDebug; position <= kStatusItemPii; ++position) {
      const RECT& rect = ItemRect(position);
      // The text area: right of the picture, two pixels in from the right.
      const int room = (rect.right - 2) - (rect.left + 18);
      EXPECT_LE(TextWidth(bar.m_hWnd, count), room) << count << " in item " << position;
      EXPECT_GE(int(bar.GetItem(position)->width), int(kExpectedItems[position].width)) << count;
    }
    for (size_t position = 1; position < bar.GetItemCount(); ++position) {
      EXPECT_EQ(ItemRect(position - 1).right + 4, ItemRect(position).left) << count;  // the gaps stay
    }
    EXPECT_EQ(pane.left, ItemRect(0).left) << count;
    EXPECT_LE(ItemRect(kStatusItemPii).right, pane.right) << count;
  }
  // Back to small numbers: the first widths and the first pane again.
  bar.SetPaneTexts(L"1", L"2", L"3", L"4", L"5");
  for (size_t position = 0; position < bar.GetItemCount(); ++position) {
    EXPECT_EQ(kExpectedItems[position].width, bar.GetItem(position)->width) << position;
  }
  const RECT pane = PaneRect(ID_PANE_ITEMS);
  EXPECT_EQ(first.left, pane.left);
  EXPECT_EQ(first.right, pane.right);
}

TEST_F(StatusBarTest, ProgressPaneKeepsItsWidthAcrossAResize) {
  const int edge = PaneRect(0).right;
  const int narrow = PaneRect(ID_PANE_PROGRESS).right - PaneRect(ID_PANE_PROGRESS).left;

  bar.ShowPaneWindow(SW_SHOW);
  ASSERT_TRUE(ProgressShown());
  EXPECT_EQ(edge - kProgressExtra, PaneRect(0).right);
  const RECT shown = PaneRect(ID_PANE_PROGRESS);
  EXPECT_EQ(narrow + kProgressExtra, shown.right - shown.left);
  const RECT place = InsetProgress(shown);
  RECT actual = ProgressRectInBar();
  EXPECT_TRUE(::EqualRect(&place, &actual));

  bar.ShowPaneWindow(SW_SHOW);
  EXPECT_EQ(edge - kProgressExtra, PaneRect(0).right) << "a second show moves nothing";

  parent.SetWindowPos(nullptr, 0, 0, kParentWidth + kWider, kParentHeight, SWP_NOMOVE | SWP_NOZORDER);
  bar.SendMessage(WM_SIZE, SIZE_RESTORED, 0);
  const RECT resized = PaneRect(ID_PANE_PROGRESS);
  EXPECT_EQ(narrow + kProgressExtra, resized.right - resized.left);
  EXPECT_EQ(edge + kWider - kProgressExtra, PaneRect(0).right);
  const RECT replaced = InsetProgress(resized);
  actual = ProgressRectInBar();
  EXPECT_TRUE(::EqualRect(&replaced, &actual));
  EXPECT_EQ(PaneRect(ID_PANE_ITEMS).left, ItemRect(0).left);

  bar.ShowPaneWindow(SW_MINIMIZE);  // not a command the bar knows
  EXPECT_TRUE(ProgressShown());

  bar.ShowPaneWindow(SW_HIDE);
  EXPECT_FALSE(ProgressShown());
  EXPECT_EQ(edge + kWider, PaneRect(0).right);
  bar.ShowPaneWindow(SW_HIDE);
  EXPECT_EQ(edge + kWider, PaneRect(0).right) << "a second hide moves nothing";
}

TEST_F(StatusBarTest, ShowingTheProgressWhileTheBarIsHiddenWidensOnce) {
  const int width = bar.GetPaneWidth(ID_PANE_PROGRESS);
  bar.ShowWindow(SW_HIDE);
  bar.ShowPaneWindow(SW_SHOW);
  bar.ShowPaneWindow(SW_SHOW);
  EXPECT_EQ(width + kProgressExtra, bar.GetPaneWidth(ID_PANE_PROGRESS));
  bar.ShowPaneWindow(SW_HIDE);
  EXPECT_EQ(width, bar.GetPaneWidth(ID_PANE_PROGRESS));
}

HICON MakeProbeIcon() {
  BYTE andMask[kImageSize * kImageSize / 8] = {};
  BYTE xorMask[kImageSize * kImageSize / 8] = {};
  return ::CreateIcon(::GetModuleHandleW(nullptr), kImageSize, kImageSize, 1, 1, andMask, xorMask);
}

// Wine gives a freed window-system handle's slot to the next object made, so
// when painting the grey pictures frees every icon it takes, a probe icon
// made before the paint and one made after it share a slot; an icon left
// alive would keep that slot. Another process of the same Wine server may
// take the slot in between, so a few rounds are allowed.
TEST_F(StatusBarTest, GreyPicturesFreeTheIconsTheyTake) {
  bar.SetItemsDisabled(true);
  constexpr int kRounds = 5;
  bool reused = false;
  for (int round = 0; round < kRounds && !reused; ++round) {
    HICON before = MakeProbeIcon();
    ASSERT_NE(nullptr, before);
    ::DestroyIcon(before);
    const kt_test::CPixels pixels = kt_test::CapturePixels(bar.m_hWnd);
    ASSERT_FALSE(pixels.IsEmpty());
    HICON after = MakeProbeIcon();
    ASSERT_NE(nullptr, after);
    reused = LOWORD(reinterpret_cast<UINT_PTR>(before)) == LOWORD(reinterpret_cast<UINT_PTR>(after));
    ::DestroyIcon(after);
  }
  EXPECT_TRUE(reused);
}

TEST_F(StatusBarTest, Screenshot) {
  bar.SetPaneText(0, L"Read 1234 records, 1200 shown");
  bar.SetPaneTexts(L"1024", L"150", L"17", L"3", L"0");
  bar.ShowPaneWindow(SW_SHOW);
  ::SendMessageW(bar.GetProgressBar(), PBM_SETPOS, 40, 0);
  MoveTo(Centre(ItemRect(kStatusItemLevel)));
  EXPECT_FALSE(kt_test::SaveScreenshot(bar.m_hWnd, L"statusbar").empty());
  bar.SetItemsDisabled(true);
  EXPECT_FALSE(kt_test::SaveScreenshot(bar.m_hWnd, L"statusbar_disabled").empty());
}

}  // namespace
