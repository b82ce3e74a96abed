#include "ui/controls/ToolTipEx.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/ui/UiHarness.h"

namespace {

using kt_test::CapturePixels;
using kt_test::CPixels;
using kt_test::PumpMessages;

constexpr UINT_PTR kTipId = 221;
constexpr int kItemWidth = 100;  // the fake owner's items split each tool into columns this wide
constexpr int kTipBelowTool = 12;
constexpr COLORREF kTextColor = RGB(76, 76, 76);
constexpr COLORREF kOutlineColor = RGB(118, 118, 118);
constexpr COLORREF kGradientTop = RGB(255, 255, 255);
constexpr COLORREF kGradientBottom = RGB(228, 229, 240);
constexpr RECT kTool0Rect = {20, 100, 320, 130};
constexpr RECT kTool1Rect = {20, 200, 320, 230};
constexpr POINT kBackground = {360, 280};  // host client area outside every tool

class CFakeHoverInput final : public IHoverInput {
 public:
  DWORD now = 0;
  POINT cursor = {};
  DWORD TickCount() override { return now; }
  BOOL GetCursorPos(POINT* point) override {
    *point = cursor;
    return TRUE;
  }
};

// A plain window that WindowFromPoint can find (statics answer HTTRANSPARENT).
class CToolWindow : public CWindowImpl<CToolWindow> {
 public:
  BEGIN_MSG_MAP(CToolWindow)
  END_MSG_MAP()
};

struct RecordedRequest {
  UINT code;
  HWND from;
  UINT_PTR id;
  WPARAM wParam;
  HWND tool;
  POINT pt;
  int64_t item;
  bool hasBuffer;
  uint64_t capacity;
};

// The frame's part: items are kItemWidth-wide columns of a tool; the text
// of item n is "Item n" (or `text` when set), placed kTipBelowTool below the
// tool at the item's left edge.
class CFakeOwner : public CWindowImpl<CFakeOwner> {
 public:
  std::vector<RecordedRequest> requests;
  std::wstring text;      // overrides "Item n" when not empty
  bool fillBuffer = false;  // writes capacity characters and no terminator
  bool emptyText = false;
  bool writePoint = true;

  BEGIN_MSG_MAP(CFakeOwner)
    MESSAGE_HANDLER(WM_NOTIFY, OnNotify)
  END_MSG_MAP()

  LRESULT OnNotify(UINT, WPARAM wParam, LPARAM lParam) {
    auto* record = reinterpret_cast<NMTOOLTIPEX*>(lParam);
    requests.push_back({record->hdr.code, record->hdr.hwndFrom, record->hdr.idFrom, wParam, record->hwndTool,
                        record->pt, record->item, record->pszText != nullptr, record->cchTextMax});
    RECT tool = {};
    ::GetWindowRect(record->hwndTool, &tool);
    if (record->hdr.code == kTipNotifyHitTest) {
      if (::PtInRect(&tool, record->pt)) {
        record->item = (record->pt.x - tool.left) / kItemWidth;
      }
    } else if (record->hdr.code == kTipNotifyGetText) {
      if (emptyText) {
        record->pszText[0] = 0;
      } else if (fillBuffer) {
        for (uint64_t i = 0; i < record->cchTextMax; ++i) {
          record->pszText[i] = L'x';
        }
      } else if (!text.empty()) {
        wcsncpy(record->pszText, text.c_str(), size_t(record->cchTextMax) - 1);
      } else {
        swprintf(record->pszText, size_t(record->cchTextMax), L"Item %lld", static_cast<long long>(record->item));
      }
      if (writePoint) {
        record->pt = POINT{tool.left + LONG(record->item) * kItemWidth, tool.bottom + kTipBelowTool};
      }
    }
    return 0;
  }

  int Count(UINT code) const {
    int n = 0;
    for (const RecordedRequest& r : requests) {
      n += r.code == code ? 1 : 0;
    }
    return n;
  }
};

POINT ToScreen(HWND hwnd, POINT point) {
  ::ClientToScreen(hwnd, &point);
  return point;
}

class ToolTipExTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(m_host.get(), nullptr);
    ASSERT_NE(m_tool0.Create(m_host.get(), &kTool0Rect), nullptr);
    ASSERT_NE(m_tool1.Create(m_host.get(), &kTool1Rect), nullptr);
    const RECT hidden = {0, 0, 10, 10};
    ASSERT_NE(m_owner.Create(m_host.get(), &hidden, nullptr, WS_CHILD), nullptr);
    ASSERT_NE(m_tip.CreatePopup(m_host.get()), nullptr);
    m_tip.SetNotifyWindow(m_owner.m_hWnd);
    m_tip.SetControlId(kTipId);
    ASSERT_TRUE(m_tip.AddTool(m_tool0.m_hWnd));
    ASSERT_TRUE(m_tip.AddTool(m_tool1.m_hWnd));
    m_tip.SetHoverInput(&m_input);
    PumpMessages();
  }
  void TearDown() override {
    if (m_tip.m_hWnd != nullptr) {
      m_tip.DestroyWindow();
    }
    if (m_toolbar != nullptr) {
      ::DestroyWindow(m_toolbar);
    }
  }

  // The screen point of the middle of item `item` of a tool.
  POINT ItemPoint(const CToolWindow& tool, int item) const {
    return ToScreen(tool.m_hWnd, POINT{item * kItemWidth + kItemWidth / 2, 10});
  }
  POINT Background() const { return ToScreen(m_host.get(), kBackground); }
  // The mouse comes to `point`: the cursor is there, and the frame relays the move.
  void MoveMouse(POINT point) {
    m_input.cursor = point;
    MSG msg = {};
    msg.hwnd = ::WindowFromPoint(point);
    msg.message = WM_MOUSEMOVE;
    msg.pt = point;
    m_tip.RelayEvent(&msg);
  }
  void Relay(UINT message) {
    MSG msg = {};
    msg.hwnd = m_tool0.m_hWnd;
    msg.message = message;
    msg.pt = m_input.cursor;
    m_tip.RelayEvent(&msg);
  }
  // One hover-timer tick at `now`, delivered the way the system does.
  void TickAt(DWORD now) {
    m_input.now = now;
    ::PostMessageW(m_tip.m_hWnd, WM_TIMER, CToolTipEx::kHoverTimerId, 0);
    PumpMessages();
  }
  bool Shown() const { return m_tip.IsWindowVisible() != FALSE; }
  RECT TipRect() const {
    RECT r = {};
    m_tip.GetWindowRect(&r);
    return r;
  }
  // Rests over tool 0's item 1 from `start` until the tip shows.
  void ShowItem1(DWORD start) {
    m_input.now = start;
    MoveMouse(ItemPoint(m_tool0, 1));
    TickAt(start + CToolTipEx::kShowDelayMs);
    ASSERT_TRUE(Shown());
  }
  HWND CreateToolbar();

  kt_test::CTestHostWindow m_host{400, 300};
  CToolWindow m_tool0;
  CToolWindow m_tool1;
  CFakeOwner m_owner;
  CToolTipEx m_tip;
  CFakeHoverInput m_input;
  HWND m_toolbar = nullptr;
};

// Visible buttons: 0 file drop-down (enabled), [1 hidden], 2 state 0, 3 tools drop-down.
constexpr int kButtonWidth = 40;
constexpr int kButtonHeight = 24;

HWND ToolTipExTest::CreateToolbar() {
  m_toolbar = ::CreateWindowExW(0, TOOLBARCLASSNAMEW, L"",
                                WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | CCS_NOPARENTALIGN | CCS_NORESIZE |
                                    CCS_NODIVIDER | CCS_NOMOVEY,
                                0, 0, 300, 30, m_host.get(), nullptr, ::GetModuleHandleW(nullptr), nullptr);
  if (m_toolbar == nullptr) {
    return nullptr;
  }
  ::SendMessageW(m_toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  ::SendMessageW(m_toolbar, TB_SETBITMAPSIZE, 0, MAKELPARAM(16, 16));
  ::SendMessageW(m_toolbar, TB_SETBUTTONSIZE, 0, MAKELPARAM(kButtonWidth, kButtonHeight));
  TBBUTTON buttons[4] = {};
  const int commands[4] = {ID_FILE_DROPDOWN, ID_TOOLS_DROPDOWN, ID_QUICK_FILTER, ID_TOOLS_DROPDOWN};
  const BYTE states[4] = {TBSTATE_ENABLED, TBSTATE_ENABLED | TBSTATE_HIDDEN, 0, TBSTATE_ENABLED};
  for (int i = 0; i < 4; ++i) {
    buttons[i].iBitmap = I_IMAGENONE;
    buttons[i].idCommand = commands[i];
    buttons[i].fsState = states[i];
    buttons[i].fsStyle = BTNS_BUTTON;
    buttons[i].iString = -1;
  }
  ::SendMessageW(m_toolbar, TB_ADDBUTTONSW, 4, reinterpret_cast<LPARAM>(buttons));
  m_tip.SetToolbar(m_toolbar);
  PumpMessages();
  return m_toolbar;
}

struct FitCase {
  const char* name;
  RECT tip;
  RECT monitor;
  RECT expected;
};

// The primary monitor, one to its right, and one to its left at negative x.
constexpr RECT kPrimary = {0, 0, 1024, 768};
constexpr RECT kRightMonitor = {1024, 0, 2304, 1024};
constexpr RECT kLeftMonitor = {-1280, -200, 0, 824};

TEST(ToolTipExPlacement, FitsIntoTheMonitorUnderThePoint) {
  const FitCase cases[] = {
      {"inside stays", {100, 100, 200, 120}, kPrimary, {100, 100, 200, 120}},
      {"right edge exactly stays", {924, 100, 1024, 120}, kPrimary, {924, 100, 1024, 120}},
      {"one past the right edge", {925, 100, 1025, 120}, kPrimary, {921, 100, 1021, 120}},
      {"past the bottom of the primary", {100, 760, 200, 780}, kPrimary, {100, 745, 200, 765}},
      {"right and bottom corner of the second", {2250, 1010, 2350, 1030}, kRightMonitor, {2201, 1001, 2301, 1021}},
      {"left edge of the second", {1000, 100, 1100, 120}, kRightMonitor, {1027, 100, 1127, 120}},
      {"right edge of a monitor at negative x", {-50, 100, 50, 120}, kLeftMonitor, {-103, 100, -3, 120}},
      {"above a monitor that starts above 0", {-600, -250, -500, -230}, kLeftMonitor, {-600, -197, -500, -177}},
      {"wider than the monitor keeps its right edge on it", {0, 0, 1100, 20}, kPrimary, {-79, 0, 1021, 20}},
  };
  for (const FitCase& c : cases) {
    const RECT r = FitTipRect(c.tip, c.monitor);
    EXPECT_EQ(r.left, c.expected.left) << c.name;
    EXPECT_EQ(r.top, c.expected.top) << c.name;
    EXPECT_EQ(r.right, c.expected.right) << c.name;
    EXPECT_EQ(r.bottom, c.expected.bottom) << c.name;
  }
}

// The whole hover sequence, from starts where the delay or the time limit
// crosses the tick counter's wrap.
TEST_F(ToolTipExTest, HoverSequenceSurvivesTheTickWrap) {
  const DWORD starts[] = {0x00010000u, 0xFFFFFFFFu - 999u, 0xFFFFFFFFu - 500u, 0xFFFFFFFFu - 15500u, 0xFFFFFFFFu};
  for (DWORD start : starts) {
    SCOPED_TRACE(testing::Message() << "start " << start);
    MoveMouse(Background());
    m_input.now = start;
    MoveMouse(ItemPoint(m_tool0, 1));
    EXPECT_EQ(m_tip.GetCurrentTool(), 0);
    EXPECT_EQ(m_tip.GetCurrentItem(), 1);
    EXPECT_EQ(m_tip.GetTimerId(), CToolTipEx::kHoverTimerId);
    EXPECT_FALSE(Shown());
    TickAt(start + 999);
    EXPECT_FALSE(Shown());
    TickAt(start + 1000);
    EXPECT_TRUE(Shown());
    EXPECT_STREQ(m_tip.GetText().c_str(), L"Item 1");
    TickAt(start + 15999);
    EXPECT_TRUE(Shown());
    EXPECT_EQ(m_tip.GetTimerId(), CToolTipEx::kHoverTimerId);
    TickAt(start + 16000);
    EXPECT_FALSE(Shown());
    EXPECT_EQ(m_tip.GetTimerId(), 0u);
  }
}

TEST_F(ToolTipExTest, MovingToTheNextItemWhileShownSwitchesAtOnceAndExtendsTheLimit) {
  const DWORD start = 0xFFFFFFFFu - 2000u;
  ShowItem1(start);
  const DWORD moved = start + 3000;
  m_input.now = moved;
  MoveMouse(ItemPoint(m_tool0, 2));
  EXPECT_TRUE(Shown());
  EXPECT_STREQ(m_tip.GetText().c_str(), L"Item 2");
  const POINT corner = ToScreen(m_tool0.m_hWnd, POINT{2 * kItemWidth, kTool0Rect.bottom - kTool0Rect.top});
  EXPECT_EQ(TipRect().left, corner.x);
  EXPECT_EQ(TipRect().top, corner.y + kTipBelowTool);
  TickAt(moved + 16999);
  EXPECT_TRUE(Shown());
  TickAt(moved + 17000);
  EXPECT_FALSE(Shown());
}

TEST_F(ToolTipExTest, KeyOrButtonHidesUntilTheMouseReachesAnotherItem) {
  const UINT presses[] = {WM_KEYDOWN, WM_SYSKEYDOWN, WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN};
  DWORD start = 5000;
  for (UINT press : presses) {
    SCOPED_TRACE(testing::Message() << "message " << press);
    MoveMouse(Background());
    ShowItem1(start);
    Relay(press);
    EXPECT_FALSE(Shown());
    EXPECT_EQ(m_tip.GetTimerId(), 0u);
    MoveMouse(ItemPoint(m_tool0, 1));  // within the same item
    TickAt(start + 2500);
    EXPECT_FALSE(Shown());
    EXPECT_EQ(m_tip.GetTimerId(), 0u);
    m_input.now = start + 3000;
    MoveMouse(ItemPoint(m_tool1, 0));  // another tool: a new wait
    EXPECT_EQ(m_tip.GetTimerId(), CToolTipEx::kHoverTimerId);
    EXPECT_FALSE(Shown());
    TickAt(start + 4000);
    EXPECT_TRUE(Shown());
    EXPECT_STREQ(m_tip.GetText().c_str(), L"Item 0");
    start += 100000;
  }
}

TEST_F(ToolTipExTest, LeavingEveryToolOrTheCursorElsewhereHides) {
  ShowItem1(100);
  MoveMouse(Background());
  EXPECT_FALSE(Shown());
  EXPECT_EQ(m_tip.GetCurrentTool(), CToolTipEx::kNone);
  EXPECT_EQ(m_tip.GetCurrentItem(), CToolTipEx::kNone);
  EXPECT_EQ(m_tip.GetTimerId(), 0u);

  // The relayed moves missed the cursor's way out: the next tick finds it.
  MoveMouse(ItemPoint(m_tool0, 1));
  m_input.cursor = Background();
  TickAt(m_input.now + CToolTipEx::kShowDelayMs);
  EXPECT_FALSE(Shown());
  EXPECT_EQ(m_tip.GetTimerId(), 0u);
}

TEST_F(ToolTipExTest, NotificationsAskTheOwnerForItemAndText) {
  const POINT point = ItemPoint(m_tool1, 2);
  m_input.now = 0;
  MoveMouse(point);
  ASSERT_EQ(m_owner.requests.size(), 1u);
  const RecordedRequest hit = m_owner.requests[0];
  EXPECT_EQ(hit.code, kTipNotifyHitTest);
  EXPECT_EQ(hit.from, m_tip.m_hWnd);
  EXPECT_EQ(hit.id, kTipId);
  EXPECT_EQ(hit.wParam, kTipId);
  EXPECT_EQ(hit.tool, m_tool1.m_hWnd);
  EXPECT_EQ(hit.pt.x, point.x);
  EXPECT_EQ(hit.pt.y, point.y);
  EXPECT_EQ(hit.item, -1);  // preset before the owner answers
  EXPECT_FALSE(hit.hasBuffer);
  EXPECT_EQ(hit.capacity, 0u);

  TickAt(CToolTipEx::kShowDelayMs);
  ASSERT_EQ(m_owner.Count(kTipNotifyGetText), 1);
  const RecordedRequest text = m_owner.requests.back();
  EXPECT_EQ(text.code, kTipNotifyGetText);
  EXPECT_EQ(text.from, m_tip.m_hWnd);
  EXPECT_EQ(text.id, kTipId);
  EXPECT_EQ(text.tool, m_tool1.m_hWnd);
  EXPECT_EQ(text.item, 2);
  EXPECT_TRUE(text.hasBuffer);
  EXPECT_EQ(text.capacity, CToolTipEx::kTextCapacity);
  EXPECT_STREQ(m_tip.GetText().c_str(), L"Item 2");
  const POINT corner = ToScreen(m_tool1.m_hWnd, POINT{2 * kItemWidth, kTool1Rect.bottom - kTool1Rect.top});
  EXPECT_EQ(TipRect().left, corner.x);
  EXPECT_EQ(TipRect().top, corner.y + kTipBelowTool);

  // Resting on: no more questions.
  TickAt(CToolTipEx::kShowDelayMs + 250);
  MoveMouse(POINT{point.x + 1, point.y});
  EXPECT_EQ(m_owner.Count(kTipNotifyGetText), 1);
}

TEST_F(ToolTipExTest, NoItemOrAnEmptyTextKeepsTheTipHidden) {
  // A notify window that answers nothing leaves the item at -1: no wait starts.
  HWND silent = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 1, 1, m_host.get(), nullptr, nullptr, nullptr);
  ASSERT_NE(silent, nullptr);
  m_tip.SetNotifyWindow(silent);
  MoveMouse(ItemPoint(m_tool0, 1));
  EXPECT_EQ(m_tip.GetCurrentTool(), 0);
  EXPECT_EQ(m_tip.GetCurrentItem(), CToolTipEx::kNone);
  EXPECT_EQ(m_tip.GetTimerId(), 0u);
  TickAt(CToolTipEx::kShowDelayMs);
  EXPECT_FALSE(Shown());
  m_tip.SetNotifyWindow(m_owner.m_hWnd);
  ::DestroyWindow(silent);

  // An item whose text comes back empty ends the wait without showing.
  m_owner.emptyText = true;
  MoveMouse(ItemPoint(m_tool0, 2));
  EXPECT_EQ(m_tip.GetTimerId(), CToolTipEx::kHoverTimerId);
  TickAt(m_input.now + CToolTipEx::kShowDelayMs);
  EXPECT_FALSE(Shown());
  EXPECT_EQ(m_tip.GetTimerId(), 0u);
  EXPECT_EQ(m_owner.Count(kTipNotifyGetText), 1);
}

TEST_F(ToolTipExTest, AnUnterminatedOwnerTextIsCutAtTheBuffer) {
  m_owner.fillBuffer = true;
  ShowItem1(0);
  EXPECT_EQ(m_tip.GetText().GetLength(), CToolTipEx::kTextCapacity - 1);
  // Cut with an ellipsis into the largest tip there is.
  EXPECT_LE(TipRect().right - TipRect().left, 506);
  EXPECT_LE(TipRect().bottom - TipRect().top, 406);
}

TEST_F(ToolTipExTest, TipSizeFollowsTheText) {
  struct SizeCase {
    const wchar_t* text;
    int minWidth;
    int maxWidth;
    int minHeight;
    int maxHeight;
  };
  const std::wstring longWord(3000, L'w');
  std::wstring longText;
  for (int i = 0; i < 1000; ++i) {
    longText += L"word ";
  }
  std::wstring manyLines;
  for (int i = 0; i < 100; ++i) {
    manyLines += L"line of a long tip\r\n";
  }
  const SizeCase cases[] = {
      {L"a", 7, 30, 18, 40},
      {L"Close tab", 20, 120, 18, 40},
      {longWord.c_str(), 400, 506, 18, 406},
      {longText.c_str(), 400, 506, 200, 406},
      {manyLines.c_str(), 20, 506, 406, 406},
  };
  int oneLineHeight = 0;
  for (const SizeCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "text length " << wcslen(c.text));
    m_owner.text = c.text;
    MoveMouse(Background());
    ShowItem1(0);
    const RECT r = TipRect();
    EXPECT_GE(r.right - r.left, c.minWidth);
    EXPECT_LE(r.right - r.left, c.maxWidth);
    EXPECT_GE(r.bottom - r.top, c.minHeight);
    EXPECT_LE(r.bottom - r.top, c.maxHeight);
    if (oneLineHeight == 0) {
      oneLineHeight = r.bottom - r.top;
    }
  }
  m_owner.text = L"two\r\nlines";
  MoveMouse(Background());
  ShowItem1(0);
  EXPECT_GT(TipRect().bottom - TipRect().top, oneLineHeight);
}

// The colour of row y of the tip's gradient fill over `height` rows.
COLORREF GradientAt(int y, int height) {
  COLORREF color = kt_test::kUnpaintedColor;
  for (int band = 0; band < 64; ++band) {
    if (y >= band * height / 64 && y < (band + 1) * height / 64) {
      auto mix = [band](int from, int to) { return (from * (64 - band) + to * band) / 64; };
      color = RGB(mix(GetRValue(kGradientTop), GetRValue(kGradientBottom)),
                  mix(GetGValue(kGradientTop), GetGValue(kGradientBottom)),
                  mix(GetBValue(kGradientTop), GetBValue(kGradientBottom)));
    }
  }
  return color;
}

TEST_F(ToolTipExTest, PaintsOutlineGradientAndText) {
  m_owner.text = L"Scroll tab to left\r\nsecond line";
  ShowItem1(0);
  const CPixels pixels = CapturePixels(m_tip.m_hWnd);
  ASSERT_FALSE(pixels.IsEmpty());
  const int w = pixels.width;
  const int h = pixels.height;
  EXPECT_EQ(pixels.CountColor(kt_test::kUnpaintedColor), 0);
  // The outline runs along every edge; the corners are rounded off.
  EXPECT_EQ(pixels.Pixel(w / 2, 0), kOutlineColor);
  EXPECT_EQ(pixels.Pixel(w / 2, h - 1), kOutlineColor);
  EXPECT_EQ(pixels.Pixel(0, h / 2), kOutlineColor);
  EXPECT_EQ(pixels.Pixel(w - 1, h / 2), kOutlineColor);
  EXPECT_NE(pixels.Pixel(0, 0), kOutlineColor);
  EXPECT_NE(pixels.Pixel(w - 1, h - 1), kOutlineColor);
  // Between the outline and the text: the gradient, top to bottom.
  for (int y = 3; y < h - 3; y += 4) {
    EXPECT_EQ(pixels.Pixel(1, y), GradientAt(y, h)) << "row " << y;
    EXPECT_EQ(pixels.Pixel(w - 2, y), GradientAt(y, h)) << "row " << y;
  }
  EXPECT_EQ(pixels.Pixel(1, h / 2), GradientAt(h / 2, h));
  // Text in its colour, and only inside the 3-pixel inset.
  const RECT inset = {3, 3, w - 3, h - 3};
  EXPECT_GT(pixels.CountColor(kTextColor, inset), 10);
  EXPECT_EQ(pixels.CountColor(kTextColor), pixels.CountColor(kTextColor, inset));
  // Both lines are drawn: text in the top half and in the bottom half.
  EXPECT_GT(pixels.CountColor(kTextColor, RECT{3, 3, w - 3, h / 2}), 0);
  EXPECT_GT(pixels.CountColor(kTextColor, RECT{3, h / 2, w - 3, h - 3}), 0);
  kt_test::SaveScreenshot(m_tip.m_hWnd, L"tooltip");
}

TEST_F(ToolTipExTest, ToolbarButtonsTakeTheirTextFromTheStringTable) {
  ASSERT_NE(CreateToolbar(), nullptr);
  struct ButtonCase {
    const char* name;
    int x;              // toolbar client x
    int64_t item;       // expected item
    const wchar_t* text;
  };
  const ButtonCase cases[] = {
      {"enabled button", kButtonWidth / 2, 0, L"Open/Save/Manage File"},
      {"state 0 (next after the hidden one)", kButtonWidth + kButtonWidth / 2, CToolTipEx::kNone, nullptr},
      {"enabled after a hidden one", 2 * kButtonWidth + kButtonWidth / 2, 3, L"Tools/Options"},
  };
  for (const ButtonCase& c : cases) {
    SCOPED_TRACE(c.name);
    MoveMouse(Background());
    m_input.now = 0;
    const POINT point = ToScreen(m_toolbar, POINT{c.x, kButtonHeight / 2});
    MoveMouse(point);
    EXPECT_EQ(m_tip.GetCurrentTool(), CToolTipEx::kToolbarTool);
    EXPECT_EQ(m_tip.GetCurrentItem(), c.item);
    TickAt(CToolTipEx::kShowDelayMs);
    if (c.text == nullptr) {
      EXPECT_FALSE(Shown());
      continue;
    }
    ASSERT_TRUE(Shown());
    EXPECT_STREQ(m_tip.GetText().c_str(), c.text);
    RECT button = {};
    ::SendMessageW(m_toolbar, TB_GETITEMRECT, WPARAM(c.item), reinterpret_cast<LPARAM>(&button));
    const POINT corner = ToScreen(m_toolbar, POINT{button.left, button.bottom + 12});
    EXPECT_EQ(TipRect().left, corner.x);
    EXPECT_EQ(TipRect().top, corner.y);
  }
  EXPECT_EQ(m_owner.requests.size(), 0u);  // the toolbar's tips are the tip's own
}

TEST_F(ToolTipExTest, ClicksOnTheTipReachTheWindowBeneath) {
  ShowItem1(0);
  const RECT r = TipRect();
  const POINT inside = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  EXPECT_EQ(m_tip.SendMessage(WM_NCHITTEST, 0, MAKELPARAM(inside.x, inside.y)), HTTRANSPARENT);
  HWND beneath = ::WindowFromPoint(inside);
  EXPECT_NE(beneath, m_tip.m_hWnd);
  EXPECT_NE(beneath, nullptr);
}

TEST_F(ToolTipExTest, TipAtTheScreenEdgeEndsThreePixelsBeforeIt) {
  MONITORINFO info = {};
  info.cbSize = sizeof(info);
  const POINT origin = {0, 0};
  ASSERT_TRUE(::GetMonitorInfoW(::MonitorFromPoint(origin, MONITOR_DEFAULTTOPRIMARY), &info));
  // An owner that puts the tip at the monitor's bottom-right corner.
  class CCornerOwner : public CWindowImpl<CCornerOwner> {
   public:
    POINT corner = {};
    BEGIN_MSG_MAP(CCornerOwner)
      MESSAGE_HANDLER(WM_NOTIFY, OnNotify)
    END_MSG_MAP()
    LRESULT OnNotify(UINT, WPARAM, LPARAM lParam) {
      auto* record = reinterpret_cast<NMTOOLTIPEX*>(lParam);
      if (record->hdr.code == kTipNotifyHitTest) {
        record->item = 0;
      } else {
        wcsncpy(record->pszText, L"Near the corner of the screen", size_t(record->cchTextMax) - 1);
        record->pt = POINT{corner.x - 5, corner.y - 5};
      }
      return 0;
    }
  };
  CCornerOwner owner;
  const RECT hidden = {0, 0, 1, 1};
  ASSERT_NE(owner.Create(m_host.get(), &hidden, nullptr, WS_CHILD), nullptr);
  owner.corner = POINT{info.rcMonitor.right, info.rcMonitor.bottom};
  m_tip.SetNotifyWindow(owner.m_hWnd);
  ShowItem1(0);
  EXPECT_EQ(TipRect().right, info.rcMonitor.right - 3);
  EXPECT_EQ(TipRect().bottom, info.rcMonitor.bottom - 3);
  m_tip.SetNotifyWindow(m_owner.m_hWnd);
  owner.DestroyWindow();
}

}  // namespace
