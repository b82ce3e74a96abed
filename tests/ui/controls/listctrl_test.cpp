#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <cwchar>
#include <functional>
#include <vector>

#include "tests/ui/UiHarness.h"
#include "ui/controls/HeaderCtrlEx.h"
#include "ui/controls/ListCtrlEx.h"
#include "ui/framework/Gdi.h"
#include "ui/framework/WindowImpl.h"

namespace {

constexpr int kListId = 101;
constexpr int kWidth = 360;
constexpr int kHeight = 200;
constexpr int kColumnWidth = 110;
constexpr int kGradientSteps = 64;

// The colours as the list's look defines them, written out here on purpose.
constexpr COLORREF kGrid = RGB(237, 237, 237);
constexpr COLORREF kFrame = RGB(154, 223, 254);
constexpr COLORREF kOuterTop = RGB(247, 252, 254);
constexpr COLORREF kOuterBottom = RGB(232, 246, 254);
constexpr COLORREF kInnerTop = RGB(242, 249, 254);
constexpr COLORREF kInnerBottom = RGB(214, 240, 253);
constexpr COLORREF kHeaderTop = RGB(247, 248, 250);
constexpr COLORREF kHeaderBottom = RGB(241, 242, 244);
constexpr COLORREF kHeaderDark = RGB(229, 230, 231);
constexpr COLORREF kHeaderLight = RGB(254, 254, 254);
constexpr COLORREF kHeaderBottomLine = RGB(213, 213, 213);

// The colour a 64-band vertical gradient over [top, bottom) gives row y.
COLORREF GradientAt(COLORREF from, COLORREF to, int top, int bottom, int y) {
  const int h = bottom - top;
  for (int i = 0; i < kGradientSteps; ++i) {
    if (y >= top + i * h / kGradientSteps && y < top + (i + 1) * h / kGradientSteps) {
      auto mix = [i](int a, int b) { return (a * (kGradientSteps - i) + b * i) / kGradientSteps; };
      return RGB(mix(GetRValue(from), GetRValue(to)), mix(GetGValue(from), GetGValue(to)),
                 mix(GetBValue(from), GetBValue(to)));
    }
  }
  return CLR_INVALID;
}

// Parent of the lists under test: sends the owner-draw requests back to the
// list, as the dialogs do, and records the list notifications.
class CReflectHost : public CWindowImpl<CReflectHost> {
 public:
  struct StateChange {
    int item;
    UINT oldImage;
    UINT newImage;
  };
  std::vector<StateChange> imageChanges;
  std::vector<UINT> codes;
  std::vector<RECT> drawnRows;  // indexed by item: the rectangle of its last draw request
  int drawRequests = 0;

  BEGIN_MSG_MAP(CReflectHost)
    MESSAGE_HANDLER(WM_NOTIFY, OnNotify)
    MESSAGE_HANDLER(WM_DRAWITEM, OnDrawItem)
    REFLECT_NOTIFICATIONS()
  END_MSG_MAP()

  LRESULT OnDrawItem(UINT, WPARAM, LPARAM lParam) {
    const auto* draw = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    if (draw->itemID >= drawnRows.size()) {
      drawnRows.resize(draw->itemID + 1, RECT{});
    }
    drawnRows[draw->itemID] = draw->rcItem;
    ++drawRequests;
    SetMsgHandled(FALSE);
    return 0;
  }

  LRESULT OnNotify(UINT, WPARAM, LPARAM lParam) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header->idFrom != kListId) {
      SetMsgHandled(FALSE);
      return 0;
    }
    codes.push_back(header->code);
    if (header->code == LVN_ITEMCHANGED) {
      const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
      const UINT oldImage = (change->uOldState & LVIS_STATEIMAGEMASK) >> 12;
      const UINT newImage = (change->uNewState & LVIS_STATEIMAGEMASK) >> 12;
      if ((change->uChanged & LVIF_STATE) != 0 && oldImage != newImage) {
        imageChanges.push_back({change->iItem, oldImage, newImage});
      }
    }
    return 0;
  }
};

// A plain list control made the way a dialog template makes it, then taken
// over by the control under test.
template <class TList>
class ListFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    RECT rect = {0, 0, kWidth, kHeight};
    ASSERT_NE(nullptr, parent.Create(host.get(), &rect));
    HWND raw = ::CreateWindowExW(0, WC_LISTVIEWW, nullptr,
                                 WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | LVS_REPORT | LVS_SHOWSELALWAYS, 0, 0,
                                 kWidth, kHeight, parent.m_hWnd, reinterpret_cast<HMENU>(kListId),
                                 ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(nullptr, raw);
    ASSERT_TRUE(list.SubclassWindow(raw));
    list.InsertColumn(0, L"Name", LVCFMT_LEFT, kColumnWidth);
    list.InsertColumn(1, L"Count", LVCFMT_RIGHT, kColumnWidth);
    list.InsertColumn(2, L"Note", LVCFMT_LEFT, kColumnWidth);
  }

  void AddRow(const wchar_t* name, const wchar_t* count, const wchar_t* note) {
    const int item = InsertRow(list.GetItemCount(), name);
    list.SetItemText(item, 1, count);
    list.SetItemText(item, 2, note);
  }
  virtual int InsertRow(int index, const wchar_t* text) { return list.CListViewCtrl::InsertItem(index, text); }

  // The row as the list last asked for it to be drawn (painting it first
  // when it has not been yet).
  RECT RowRect(int item) {
    if (size_t(item) >= parent.drawnRows.size() || parent.drawnRows[item].bottom == 0) {
      kt_test::CapturePixels(list.m_hWnd);
    }
    return size_t(item) < parent.drawnRows.size() ? parent.drawnRows[item] : RECT{};
  }
  int HeaderHeight() const {
    RECT rect = {};
    ::GetClientRect(list.GetHeader(), &rect);
    return rect.bottom;
  }

  kt_test::CTestHostWindow host{kWidth, kHeight};
  CReflectHost parent;
  TList list;
};

using ListCtrlExTest = ListFixture<CListCtrlEx>;

TEST_F(ListCtrlExTest, InitMakesTheListOwnerDrawnWithTheFlatHeader) {
  EXPECT_NE(0u, list.GetStyle() & LVS_OWNERDRAWFIXED);
  EXPECT_EQ(DWORD(LVS_EX_FULLROWSELECT), list.GetExtendedListViewStyle());
  EXPECT_EQ(list.GetHeader(), list.m_header.m_hWnd);
}

TEST_F(ListCtrlExTest, SelectedRowHasBothGradientsAndTheFrame) {
  AddRow(L"alpha", L"1", L"a");
  AddRow(L"beta", L"22", L"b");
  AddRow(L"gamma", L"333", L"c");
  list.SetItemState(1, LVIS_SELECTED, LVIS_SELECTED);
  const kt_test::CPixels pixels = kt_test::CapturePixels(list.m_hWnd);
  ASSERT_FALSE(pixels.IsEmpty());
  const RECT row = RowRect(1);
  ASSERT_GT(row.bottom - row.top, 6);
  const int x = kColumnWidth * 2 + kColumnWidth - 10;  // inside "Note", right of its one-letter text
  const int middle = (row.top + row.bottom) / 2;

  EXPECT_EQ(kFrame, pixels.Pixel(x, row.top));
  EXPECT_EQ(kFrame, pixels.Pixel(x, row.bottom - 1));
  EXPECT_EQ(kFrame, pixels.Pixel(row.left, middle));
  // The outer gradient shows as a one-pixel ring inside the frame.
  EXPECT_EQ(GradientAt(kOuterTop, kOuterBottom, row.top + 1, row.bottom - 1, row.top + 1), pixels.Pixel(x, row.top + 1));
  EXPECT_EQ(GradientAt(kOuterTop, kOuterBottom, row.top + 1, row.bottom - 1, middle), pixels.Pixel(row.left + 1, middle));
  EXPECT_EQ(GradientAt(kOuterTop, kOuterBottom, row.top + 1, row.bottom - 1, row.bottom - 2),
            pixels.Pixel(x, row.bottom - 2));
  for (int y = row.top + 2; y < row.bottom - 2; ++y) {
    EXPECT_EQ(GradientAt(kInnerTop, kInnerBottom, row.top + 2, row.bottom - 2, y), pixels.Pixel(x, y)) << "row " << y;
  }
  // Rows that are not selected keep the window colour.
  const RECT other = RowRect(2);
  EXPECT_EQ(::GetSysColor(COLOR_WINDOW), pixels.Pixel(x, (other.top + other.bottom) / 2));
  EXPECT_EQ(0, pixels.CountColor(kFrame, RECT{0, other.top, kWidth, other.bottom - 1}));

  list.SetItemState(1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  kt_test::SaveScreenshot(list.m_hWnd, L"listctrlex_selected_row");
}

TEST_F(ListCtrlExTest, FocusedRowGetsOnlyTheFrame) {
  AddRow(L"alpha", L"1", L"a");
  const RECT row = RowRect(0);
  HDC dc = ::GetDC(list.m_hWnd);
  CBitmap bitmap;
  ASSERT_TRUE(bitmap.CreateCompatibleBitmap(dc, kWidth, kHeight));
  HDC memory = ::CreateCompatibleDC(dc);
  HGDIOBJ previous = ::SelectObject(memory, bitmap.get());
  const RECT all = {0, 0, kWidth, kHeight};
  ::FillRect(memory, &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  list.DrawRowBackground(memory, 0, row, ODS_FOCUS);
  const int middle = (row.top + row.bottom) / 2;
  EXPECT_EQ(kFrame, ::GetPixel(memory, row.left, middle));
  EXPECT_EQ(kFrame, ::GetPixel(memory, row.left + 20, row.top));
  EXPECT_EQ(RGB(255, 255, 255), ::GetPixel(memory, row.left + 20, middle));
  list.DrawRowBackground(memory, 0, row, ODS_SELECTED | ODS_DISABLED);
  EXPECT_EQ(RGB(255, 255, 255), ::GetPixel(memory, row.left + 20, row.top + 2));
  ::SelectObject(memory, previous);
  ::DeleteDC(memory);
  ::ReleaseDC(list.m_hWnd, dc);
}

TEST_F(ListCtrlExTest, GridLinesFollowTheRowHeightBelowTheHeader) {
  AddRow(L"alpha", L"1", L"a");
  ASSERT_GT(list.m_rowHeight, 1u);
  const int r = int(list.m_rowHeight);
  const RECT row = RowRect(0);
  EXPECT_EQ(r, row.bottom - row.top);
  EXPECT_EQ(HeaderHeight(), row.top);

  const kt_test::CPixels pixels = kt_test::CapturePixels(list.m_hWnd);
  const int x = 40;
  const int h = HeaderHeight();
  for (int k = 1; h + k * r <= kHeight; ++k) {
    EXPECT_EQ(kGrid, pixels.Pixel(x, h + k * r - 1)) << "line " << k;
    EXPECT_EQ(::GetSysColor(COLOR_WINDOW), pixels.Pixel(x, h + k * r - 2)) << "above line " << k;
  }
  // Column lines run through the empty area below the rows as well.
  const int emptyRowMiddle = h + 4 * r + r / 2;
  for (int column = 1; column <= 3; ++column) {
    EXPECT_EQ(kGrid, pixels.Pixel(column * kColumnWidth, emptyRowMiddle)) << "column " << column;
    EXPECT_EQ(::GetSysColor(COLOR_WINDOW), pixels.Pixel(column * kColumnWidth - 1, emptyRowMiddle))
        << "column " << column;
  }
}

TEST_F(ListCtrlExTest, GridLinesNeedTheFlagARowHeightAndAnEnabledWindow) {
  AddRow(L"alpha", L"1", L"a");
  const UINT measured = list.m_rowHeight;
  struct Case {
    UINT gridLines;
    UINT rowHeight;
    BOOL enabled;
    bool linesExpected;
  };
  const Case cases[] = {{1, measured, TRUE, true}, {0, measured, TRUE, false}, {1, 0, TRUE, false},
                        {1, measured, FALSE, false}};
  const int y = HeaderHeight() + 3 * int(measured) - 1;  // the third line, under the empty rows
  for (const Case& c : cases) {
    list.m_gridLines = c.gridLines;
    list.m_rowHeight = c.rowHeight;
    list.EnableWindow(c.enabled);
    const kt_test::CPixels pixels = kt_test::CapturePixels(list.m_hWnd);
    EXPECT_EQ(c.linesExpected, pixels.Pixel(40, y) == kGrid)
        << "grid " << c.gridLines << " height " << c.rowHeight << " enabled " << c.enabled;
  }
  list.EnableWindow(TRUE);
  list.m_gridLines = 1;
  list.m_rowHeight = measured;
}

TEST_F(ListCtrlExTest, DisabledListIsGreyWithoutRowBackgroundOrDividers) {
  AddRow(L"alpha", L"1", L"a");
  AddRow(L"beta", L"22", L"b");
  list.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
  list.EnableWindow(FALSE);
  const kt_test::CPixels pixels = kt_test::CapturePixels(list.m_hWnd);
  const RECT row = RowRect(0);
  const RECT rows = {0, row.top, kWidth, RowRect(1).bottom};
  EXPECT_EQ(::GetSysColor(COLOR_BTNFACE), pixels.Pixel(kWidth - 5, kHeight - 5));
  EXPECT_EQ(::GetSysColor(COLOR_BTNFACE), pixels.Pixel(kColumnWidth - 10, (row.top + row.bottom) / 2));
  EXPECT_EQ(0, pixels.CountColor(kFrame, rows));
  EXPECT_EQ(0, pixels.CountColor(kInnerTop, rows) + pixels.CountColor(kInnerBottom, rows));
  EXPECT_GT(pixels.CountColor(::GetSysColor(COLOR_GRAYTEXT), rows), 0);
  EXPECT_EQ(0, pixels.CountColor(::GetSysColor(COLOR_WINDOWTEXT), rows));
  // No cell divider: the column line is the only grid colour left, and it
  // runs the whole height.
  EXPECT_EQ(0, pixels.CountColor(kGrid, RECT{kColumnWidth + 1, row.top, 2 * kColumnWidth, rows.bottom}));
  kt_test::SaveScreenshot(list.m_hWnd, L"listctrlex_disabled");
  list.EnableWindow(TRUE);
}

// The leftmost and rightmost columns of text-coloured pixels in `rect`.
void TextExtent(const kt_test::CPixels& pixels, const RECT& rect, int* left, int* right) {
  *left = INT_MAX;
  *right = INT_MIN;
  const COLORREF text = ::GetSysColor(COLOR_WINDOWTEXT);
  for (int y = rect.top; y < rect.bottom; ++y) {
    for (int x = rect.left; x < rect.right; ++x) {
      if (pixels.Pixel(x, y) == text) {
        *left = x < *left ? x : *left;
        *right = x > *right ? x : *right;
      }
    }
  }
}

TEST_F(ListCtrlExTest, CellTextKeepsThreePixelsFromItsAlignedEdge) {
  AddRow(L"WWWW", L"8888", L"x");
  const kt_test::CPixels pixels = kt_test::CapturePixels(list.m_hWnd);
  const RECT row = RowRect(0);
  RECT right;
  list.GetSubItemRect(0, 1, LVIR_LABEL, &right);
  int first = 0;
  int last = 0;
  TextExtent(pixels, RECT{right.left, row.top, right.right, row.bottom}, &first, &last);
  EXPECT_LE(last, right.right - 3 - 1);
  EXPECT_GE(last, right.right - 3 - 3);
  EXPECT_GT(first, right.left + kColumnWidth / 2);  // against the right edge, not the left

  RECT left;
  list.GetSubItemRect(0, 0, LVIR_LABEL, &left);
  TextExtent(pixels, RECT{left.left, row.top, left.right, row.bottom}, &first, &last);
  EXPECT_GE(first, left.left + 3);
  EXPECT_LE(first, left.left + 3 + 2);
  // The cell divider sits at the label's right edge.
  EXPECT_EQ(kGrid, pixels.Pixel(right.right, (row.top + row.bottom) / 2));
}

TEST_F(ListCtrlExTest, RowHeightIsMeasuredInTheListsOwnFont) {
  LOGFONTW logFont = {};
  logFont.lfHeight = -28;
  wcscpy(logFont.lfFaceName, L"Tahoma");
  CFont font;
  ASSERT_TRUE(font.CreateFontIndirect(logFont));
  HDC dc = ::GetDC(list.m_hWnd);
  TEXTMETRICW systemMetrics = {};
  ::GetTextMetricsW(dc, &systemMetrics);
  HGDIOBJ previous = ::SelectObject(dc, font.get());
  TEXTMETRICW fontMetrics = {};
  ::GetTextMetricsW(dc, &fontMetrics);
  ::SelectObject(dc, previous);
  ::ReleaseDC(list.m_hWnd, dc);
  ASSERT_NE(systemMetrics.tmHeight, fontMetrics.tmHeight);  // else this test could not tell them apart

  list.SetFont(font.get());
  list.RemeasureRows();
  AddRow(L"alpha", L"1", L"a");
  EXPECT_EQ(UINT(fontMetrics.tmHeight + 1), list.m_rowHeight);
  const RECT row = RowRect(0);
  EXPECT_EQ(fontMetrics.tmHeight + 1, row.bottom - row.top);
  kt_test::SaveScreenshot(list.m_hWnd, L"listctrlex_large_font");
  list.SetFont(nullptr, FALSE);
}

TEST_F(ListCtrlExTest, LineScrollRepaintsTheWholeClientArea) {
  for (int i = 0; i < 40; ++i) {
    AddRow(L"row", L"1", L"a");
  }
  list.UpdateWindow();
  ASSERT_EQ(0, list.GetTopIndex());
  list.SendMessage(WM_VSCROLL, SB_LINEDOWN);
  EXPECT_EQ(1, list.GetTopIndex());
  RECT update = {};
  ASSERT_TRUE(::GetUpdateRect(list.m_hWnd, &update, FALSE));
  RECT client;
  list.GetClientRect(&client);
  EXPECT_EQ(client.left, update.left);
  EXPECT_EQ(client.right, update.right);
  EXPECT_LE(update.top, HeaderHeight());
  EXPECT_EQ(client.bottom, update.bottom);
}

// A repaint of the frame hands the list the whole window as its region. The
// themed list fills what it is given with its background before drawing the
// edge, which blanked the rows until the client area was painted again.
TEST_F(ListCtrlExTest, FramePaintLeavesTheRowsOnScreen) {
  list.ModifyStyleEx(0, WS_EX_CLIENTEDGE, SWP_FRAMECHANGED);
  AddRow(L"alpha", L"1", L"a");
  list.UpdateWindow();
  const int r = int(list.m_rowHeight);
  const POINT line = {40, HeaderHeight() + 3 * r - 1};
  const POINT column = {kColumnWidth, HeaderHeight() + 4 * r + r / 2};
  CClientDC screen(list.m_hWnd);
  ASSERT_FALSE(screen.IsNull());
  ASSERT_EQ(kGrid, screen.GetPixel(line.x, line.y));
  ASSERT_EQ(kGrid, screen.GetPixel(column.x, column.y));
  list.SendMessage(WM_NCPAINT, 1);
  EXPECT_EQ(kGrid, screen.GetPixel(line.x, line.y));
  EXPECT_EQ(kGrid, screen.GetPixel(column.x, column.y));
  // Only the client area is spared: the edge is still drawn.
  RECT window;
  list.GetWindowRect(&window);
  CWindowDC frame(list.m_hWnd);
  ASSERT_FALSE(frame.IsNull());
  EXPECT_NE(::GetSysColor(COLOR_WINDOW), frame.GetPixel(0, (window.bottom - window.top) / 2));
}

// Rows drawn ahead are shown by the next paint of the whole client without
// being drawn again, and by that paint only: whatever else comes between
// makes the paint draw them itself.
TEST_F(ListCtrlExTest, RowsPaintedAheadAreShownByTheNextPaintOnly) {
  const struct {
    const char* between;
    std::function<void()> step;
    bool drawsAgain;
  } cases[] = {
      {"nothing", [] {}, false},
      {"the picture dropped", [this] { list.DropPaintAhead(); }, true},
      {"a paint of its own",
       [this] {
         list.Invalidate(FALSE);
         list.UpdateWindow();
       },
       true},
      {"a narrower list", [this] { list.SetWindowPos(nullptr, 0, 0, kWidth - 40, kHeight, SWP_NOZORDER); },
       true},
      {"a row more", [this] { AddRow(L"delta", L"4", L"d"); }, true},
  };
  AddRow(L"alpha", L"1", L"a");
  AddRow(L"beta", L"22", L"b");
  AddRow(L"gamma", L"333", L"c");
  list.UpdateWindow();
  const int r = int(list.m_rowHeight);
  ASSERT_GT(r, 0);
  const POINT line = {40, HeaderHeight() + 3 * r - 1};  // the grid line under the third row
  for (const auto& c : cases) {
    SCOPED_TRACE(c.between);
    {
      CClientDC screen(list.m_hWnd);
      ASSERT_FALSE(screen.IsNull());
      RECT client;
      list.GetClientRect(&client);
      client.top = HeaderHeight();
      screen.FillSolidRect(client, kt_test::kUnpaintedColor);  // what the shown picture must cover
    }
    parent.drawRequests = 0;
    list.PaintAhead();
    EXPECT_GE(parent.drawRequests, 3);
    c.step();
    parent.drawRequests = 0;
    list.Invalidate(FALSE);
    list.UpdateWindow();
    EXPECT_EQ(c.drawsAgain, parent.drawRequests > 0);
    CClientDC screen(list.m_hWnd);
    EXPECT_EQ(kGrid, screen.GetPixel(line.x, line.y));
    list.DeleteItem(3);  // the row a case added
    list.SetWindowPos(nullptr, 0, 0, kWidth, kHeight, SWP_NOZORDER);
    list.UpdateWindow();
  }
}

TEST(ListCtrlExCreateTest, CreatedListIsAListViewWithTheDefaultStyle) {
  kt_test::CTestHostWindow host(kWidth, kHeight);
  CReflectHost parent;
  RECT rect = {0, 0, kWidth, kHeight};
  ASSERT_NE(nullptr, parent.Create(host.get(), &rect));
  CListCtrlEx list;
  ASSERT_NE(nullptr, list.Create(parent.m_hWnd, &rect));
  EXPECT_EQ(0x56000000u, list.GetStyle() & 0xFFFF0000u);
  list.Init(nullptr);
  EXPECT_NE(0u, list.GetStyle() & LVS_OWNERDRAWFIXED);
  EXPECT_EQ(list.GetHeader(), list.m_header.m_hWnd);
  EXPECT_EQ(0, list.InsertItem(0, L"row"));
  EXPECT_EQ(1, list.GetItemCount());
}

class HeaderCtrlExTest : public ListCtrlExTest {};

TEST_F(HeaderCtrlExTest, FlatHeaderWithGradientDividersAndBottomLine) {
  CHeaderCtrl header(list.GetHeader());
  const kt_test::CPixels pixels = kt_test::CapturePixels(header.m_hWnd);
  ASSERT_FALSE(pixels.IsEmpty());
  const int bottom = pixels.height - 2;
  const int gradientTop = -2 + bottom / 2;
  const int x = kColumnWidth - 8;  // right of "Name"
  EXPECT_EQ(::GetSysColor(COLOR_WINDOW), pixels.Pixel(x, gradientTop - 1));
  EXPECT_EQ(GradientAt(kHeaderTop, kHeaderBottom, gradientTop, bottom, gradientTop), pixels.Pixel(x, gradientTop));
  EXPECT_EQ(GradientAt(kHeaderTop, kHeaderBottom, gradientTop, bottom, bottom - 1), pixels.Pixel(x, bottom - 1));
  EXPECT_EQ(kHeaderBottomLine, pixels.Pixel(x, bottom));
  EXPECT_EQ(kHeaderBottomLine, pixels.Pixel(pixels.width - 2, bottom));
  EXPECT_EQ(::GetSysColor(COLOR_WINDOW), pixels.Pixel(x, bottom + 1));

  RECT item;
  ASSERT_TRUE(header.GetItemRect(1, &item));
  const int y = 2;
  EXPECT_EQ(kHeaderDark, pixels.Pixel(item.right, y));
  EXPECT_EQ(kHeaderLight, pixels.Pixel(item.right - 1, y));
  EXPECT_EQ(kHeaderLight, pixels.Pixel(item.left + 1, y));
  EXPECT_GT(pixels.CountColor(::GetSysColor(COLOR_WINDOWTEXT), item), 0);  // "Count"
  kt_test::SaveScreenshot(header.m_hWnd, L"headerctrlex");
}

class CheckListExTest : public ListFixture<CCheckListEx> {
 protected:
  int InsertRow(int index, const wchar_t* text) override { return list.InsertItem(index, text, false); }

  UINT StateImage(int item) const { return (list.GetItemState(item, LVIS_STATEIMAGEMASK) & LVIS_STATEIMAGEMASK) >> 12; }
  POINT CheckBoxCenter(int item) {
    const RECT row = RowRect(item);
    return POINT{row.left + 3 + ::GetSystemMetrics(SM_CXMENUCHECK) / 2, (row.top + row.bottom) / 2};
  }
  POINT LabelPoint(int item) {
    const RECT row = RowRect(item);
    return POINT{kColumnWidth + 20, (row.top + row.bottom) / 2};
  }
  void Click(POINT at, UINT down = WM_LBUTTONDOWN) {
    list.SendMessage(down, MK_LBUTTON, MAKELPARAM(at.x, at.y));
    list.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
    kt_test::PumpMessages();
  }
};

TEST_F(CheckListExTest, RowsAreInsertedWithAnExplicitCheck) {
  EXPECT_EQ(DWORD(LVS_EX_FULLROWSELECT | LVS_EX_CHECKBOXES), list.GetExtendedListViewStyle());
  EXPECT_EQ(0, list.InsertItem(0, L"off"));
  EXPECT_EQ(1, list.InsertItem(1, L"on", true));
  EXPECT_EQ(CCheckListEx::kUncheckedImage, StateImage(0));
  EXPECT_EQ(CCheckListEx::kCheckedImage, StateImage(1));
  EXPECT_FALSE(list.GetCheck(0));
  EXPECT_TRUE(list.GetCheck(1));
}

TEST_F(CheckListExTest, ToggleCheckTable) {
  AddRow(L"alpha", L"1", L"a");
  struct Case {
    UINT before;
    UINT after;
  };
  const Case cases[] = {{1, 2}, {2, 1}, {0, 1}, {3, 1}};
  for (const Case& c : cases) {
    list.SetItemState(0, INDEXTOSTATEIMAGEMASK(c.before), LVIS_STATEIMAGEMASK);
    list.ToggleCheck(0);
    EXPECT_EQ(c.after, StateImage(0)) << "from " << c.before;
  }
}

TEST_F(CheckListExTest, OneClickTogglesExactlyOnce) {
  AddRow(L"alpha", L"1", L"a");
  AddRow(L"beta", L"22", L"b");
  struct Case {
    const char* where;
    bool onBox;
    UINT message;
    bool selects;  // the list's own handling: a click on its state icon does not select
  };
  const Case cases[] = {{"check box", true, WM_LBUTTONDOWN, false},
                        {"label", false, WM_LBUTTONDOWN, true},
                        {"check box, double click", true, WM_LBUTTONDBLCLK, false},
                        {"label, double click", false, WM_LBUTTONDBLCLK, false}};
  for (const Case& c : cases) {
    for (const bool startChecked : {false, true}) {
      list.SetCheck(1, startChecked);
      list.SetItemState(-1, 0, LVIS_SELECTED);
      parent.imageChanges.clear();
      Click(c.onBox ? CheckBoxCenter(1) : LabelPoint(1), c.message);
      EXPECT_EQ(!startChecked, list.GetCheck(1)) << c.where << ", from " << startChecked;
      ASSERT_EQ(1u, parent.imageChanges.size()) << c.where << ", from " << startChecked;
      EXPECT_EQ(1, parent.imageChanges[0].item);
      EXPECT_EQ(startChecked ? 1u : 2u, parent.imageChanges[0].newImage);
      if (c.selects) {
        EXPECT_NE(0u, list.GetItemState(1, LVIS_SELECTED)) << c.where << ": the click also selects";
      }
      EXPECT_FALSE(list.GetCheck(0)) << c.where << ": the other row stays";
    }
  }
}

TEST_F(CheckListExTest, RowWithoutStateImageIsCheckedAndAClickUnchecksIt) {
  AddRow(L"alpha", L"1", L"a");
  list.SetItemState(0, 0, LVIS_STATEIMAGEMASK);
  EXPECT_TRUE(list.GetCheck(0));
  Click(LabelPoint(0));
  EXPECT_EQ(CCheckListEx::kUncheckedImage, StateImage(0));
}

TEST_F(CheckListExTest, ClickWithCtrlSelectsWithoutChangingTheCheck) {
  AddRow(L"alpha", L"1", L"a");
  AddRow(L"beta", L"22", L"b");
  BYTE keys[256] = {};
  ASSERT_TRUE(::GetKeyboardState(keys));
  BYTE held[256];
  memcpy(held, keys, sizeof(held));
  held[VK_CONTROL] = 0x80;
  held[VK_LCONTROL] = 0x80;
  ASSERT_TRUE(::SetKeyboardState(held));
  ASSERT_LT(::GetKeyState(VK_CONTROL), 0);
  for (const POINT at : {CheckBoxCenter(1), LabelPoint(0)}) {
    const bool wasChecked0 = list.GetCheck(0);
    const bool wasChecked1 = list.GetCheck(1);
    Click(at);
    EXPECT_EQ(wasChecked0, list.GetCheck(0));
    EXPECT_EQ(wasChecked1, list.GetCheck(1));
  }
  ::SetKeyboardState(keys);
  EXPECT_NE(0u, list.GetItemState(0, LVIS_SELECTED));
}

// Dark pixels inside the box, away from its border: the check mark.
int CheckMarkPixels(const kt_test::CPixels& pixels, POINT center) {
  const int reach = ::GetSystemMetrics(SM_CXMENUCHECK) / 2 - 3;
  return pixels.CountColor(RGB(0, 0, 0), RECT{center.x - reach, center.y - reach, center.x + reach + 1,
                                                center.y + reach + 1});
}

TEST_F(CheckListExTest, CheckBoxesAreDrawnAtTheRowsLeft) {
  AddRow(L"off", L"1", L"a");
  list.InsertItem(1, L"on", true);
  AddRow(L"none", L"3", L"c");
  list.SetItemState(2, 0, LVIS_STATEIMAGEMASK);
  list.SetItemState(1, LVIS_SELECTED, LVIS_SELECTED);
  const kt_test::CPixels pixels = kt_test::CapturePixels(list.m_hWnd);
  EXPECT_EQ(0, CheckMarkPixels(pixels, CheckBoxCenter(0)));
  EXPECT_GT(CheckMarkPixels(pixels, CheckBoxCenter(1)), 3);
  EXPECT_GT(CheckMarkPixels(pixels, CheckBoxCenter(2)), 3);  // no state image draws checked
  // The box's face is the window colour, and the selection starts right of it.
  const POINT box = CheckBoxCenter(1);
  const RECT row = RowRect(1);
  const int boxRight = row.left + 3 + ::GetSystemMetrics(SM_CXMENUCHECK);
  EXPECT_EQ(::GetSysColor(COLOR_WINDOW), pixels.Pixel(box.x - 3, box.y - 3));
  EXPECT_EQ(kFrame, pixels.Pixel(boxRight, (row.top + row.bottom) / 2));
  EXPECT_EQ(0, pixels.CountColor(kFrame, RECT{row.left, row.top, boxRight, row.bottom}));
  kt_test::SaveScreenshot(list.m_hWnd, L"checklistex");
}

}  // namespace
