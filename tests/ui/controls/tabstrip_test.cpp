#include "ui/controls/TabStrip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/ui/UiHarness.h"
#include "ui/framework/ImageList.h"
#include "ui/framework/PopupSeam.h"
#include "ui/framework/WindowImpl.h"

namespace {

constexpr int kHostWidth = 920;
constexpr int kHostHeight = 120;
constexpr int kStripHeight = 24;
constexpr UINT kStripId = 4711;
constexpr DWORD kDefaultStyle = 0x56000000;

constexpr COLORREF kMask = RGB(255, 0, 255);
// Pictures of res/tabs.bmp (scripts/gen-tabs-bmp.py): the add picture's plus
// and the document's folded corner, each at a pixel whose neighbours differ.
constexpr COLORREF kAddPlus = RGB(30, 150, 50);
constexpr POINT kAddPlusPixel = {10, 2};
constexpr COLORREF kDocFold = RGB(200, 140, 40);
constexpr POINT kDocFoldPixel = {9, 3};
constexpr POINT kDocMaskPixel = {12, 1};

constexpr COLORREF kDocOutlineSelected = RGB(60, 127, 177);
constexpr COLORREF kDocOutline = RGB(137, 140, 149);
constexpr COLORREF kDocTextSelected = RGB(21, 66, 139);
constexpr COLORREF kDocText = RGB(106, 106, 106);
constexpr COLORREF kViewText = RGB(21, 66, 139);
constexpr COLORREF kViewBand = RGB(183, 200, 246);

COLORREF Sys(int index) { return ::GetSysColor(index); }
POINT Centre(const RECT& r) { return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }
LPARAM PointParam(POINT p) { return MAKELPARAM(p.x, p.y); }

// Every channel of `c` lies between those of `from` and `to`.
bool Between(COLORREF c, COLORREF from, COLORREF to) {
  auto in = [](int v, int a, int b) { return v >= std::min(a, b) && v <= std::max(a, b); };
  return in(GetRValue(c), GetRValue(from), GetRValue(to)) && in(GetGValue(c), GetGValue(from), GetGValue(to)) &&
         in(GetBValue(c), GetBValue(from), GetBValue(to));
}

struct RecordedNotify {
  WPARAM wParam;
  HWND from;
  UINT_PTR id;
  UINT code;
  uint64_t a;
  uint64_t b;
};

class CNotifyParent : public CWindowImpl<CNotifyParent> {
 public:
  BEGIN_MSG_MAP(CNotifyParent)
    MESSAGE_HANDLER(WM_NOTIFY, OnNotify)
  END_MSG_MAP()

  LRESULT OnNotify(UINT, WPARAM wParam, LPARAM lParam) {
    const auto* record = reinterpret_cast<const NMTABCTRLEX*>(lParam);
    notifies.push_back({wParam, record->hdr.hwndFrom, record->hdr.idFrom, record->hdr.code, record->a, record->b});
    return record->hdr.code == TCXN_ITEMCLOSING ? closeAnswer : 0;
  }
  std::vector<UINT> Codes() const {
    std::vector<UINT> codes;
    for (const auto& n : notifies) codes.push_back(n.code);
    return codes;
  }

  std::vector<RecordedNotify> notifies;
  LRESULT closeAnswer = 0;
};

// Reads the entries of the list menu while it is "open": the recorder keeps
// only the handle, which is gone once the strip returns.
struct MenuEntry {
  UINT id;
  std::wstring text;
  bool checked;
};
std::vector<MenuEntry> g_menuEntries;
TrackPopupMenuFn g_recordingSeam = nullptr;

BOOL WINAPI SnapshotMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner, const RECT* excluded) {
  g_menuEntries.clear();
  for (int i = 0; i < ::GetMenuItemCount(menu); ++i) {
    wchar_t text[64] = {};
    ::GetMenuStringW(menu, i, text, 64, MF_BYPOSITION);
    const bool checked = (::GetMenuState(menu, i, MF_BYPOSITION) & MF_CHECKED) != 0;
    g_menuEntries.push_back({::GetMenuItemID(menu, i), text, checked});
  }
  return g_recordingSeam(menu, flags, x, y, reserved, owner, excluded);
}

class CMenuSnapshot {
 public:
  CMenuSnapshot() {
    g_recordingSeam = g_trackPopupMenu;
    g_trackPopupMenu = &SnapshotMenu;
  }
  ~CMenuSnapshot() { g_trackPopupMenu = g_recordingSeam; }
};

template <class Strip>
class TabStripFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    const RECT rect = {0, 0, kHostWidth, kHostHeight};
    ASSERT_NE(nullptr, parent.Create(host.get(), &rect, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN));
    ASSERT_TRUE(images.CreateFromImage(IDB_TABS, 16, 0, CLR_DEFAULT, LR_CREATEDIBSECTION));
    ASSERT_TRUE(strip.Create(parent.m_hWnd, images.get(), 0, kStripHeight, kStripId));
    ParkCursor();
  }
  void TearDown() override { parent.DestroyWindow(); }

  void ParkCursor() {
    POINT away = {kHostWidth - 5, kHostHeight - 5};
    parent.ClientToScreen(&away);
    ::SetCursorPos(away.x, away.y);
  }
  void Resize(int width) { ::SetWindowPos(strip.m_hWnd, nullptr, 0, 0, width, kStripHeight, SWP_NOZORDER); }
  void AddItems(size_t group, int count, int image) {
    for (int i = 0; i < count; ++i) {
      const std::wstring text = L"view " + std::to_wstring(i);
      ASSERT_EQ(i, strip.AddItem(group, text.c_str(), image, 0, 1));
    }
  }
  const TabGroup& Group() const { return *strip.Model().CurrentGroup(); }
  const TabItem& Item(size_t i) const { return *Group().items[i]; }
  const RECT& ButtonRect(int64_t code) const { return strip.Model().GetButton(code)->rect; }
  bool ButtonShown(int64_t code) const { return strip.Model().GetButton(code)->IsShown(); }
  void Send(UINT msg, POINT p) { strip.SendMessage(msg, msg == WM_LBUTTONDOWN ? MK_LBUTTON : 0, PointParam(p)); }
  void Click(POINT p) {
    Send(WM_LBUTTONDOWN, p);
    Send(WM_LBUTTONUP, p);
  }
  kt_test::CPixels Capture() const { return kt_test::CapturePixels(strip.m_hWnd); }

  kt_test::CTestHostWindow host{kHostWidth, kHostHeight};
  CNotifyParent parent;
  CImageList images;
  Strip strip;
};

using DocumentStripTest = TabStripFixture<CFileTabCtrl>;
using ViewStripTest = TabStripFixture<CTabBar>;

// ---- window ---------------------------------------------------------------

TEST_F(ViewStripTest, IsAChildOfItsOwnClassWithTheDefaultStyle) {
  EXPECT_EQ(kDefaultStyle, static_cast<DWORD>(::GetWindowLongPtrW(strip.m_hWnd, GWL_STYLE)) & 0xFFFF0000u);
  wchar_t name[64] = {};
  ::GetClassNameW(strip.m_hWnd, name, 64);
  EXPECT_STREQ(L"KeltracerTabBar", name);
  EXPECT_EQ(parent.m_hWnd, strip.GetNotifyWindow());
  RECT client = {};
  strip.GetClientRect(&client);
  EXPECT_EQ(kStripHeight, client.bottom);
}

TEST_F(DocumentStripTest, CreatedHiddenWhenTheOwnerAsksAndOfItsOwnClass) {
  CFileTabCtrl hidden;
  ASSERT_TRUE(hidden.Create(parent.m_hWnd, nullptr, WS_CHILD, kStripHeight, kStripId + 1));
  EXPECT_FALSE(hidden.IsWindowVisible());
  wchar_t name[64] = {};
  ::GetClassNameW(hidden.m_hWnd, name, 64);
  EXPECT_STREQ(L"KeltracerFileTabCtrl", name);
  hidden.DestroyWindow();
}

// ---- document strip drawing -----------------------------------------------

class DocumentStripDrawTest : public DocumentStripTest {
 protected:
  void SetUp() override {
    DocumentStripTest::SetUp();
    ASSERT_EQ(0, strip.AddGroup(L"", 0));
    for (const wchar_t* text : {L"alpha.ktr", L"beta.ktr", L"gamma.ktr"}) {
      ASSERT_GE(strip.AddItem(0, text, 2, 0, 0), 0);
    }
    Resize(600);
    Click(Centre(Item(1).rect));
    ParkCursor();
    parent.notifies.clear();
  }
};

TEST_F(DocumentStripDrawTest, MeasuresTextInTheGuiFontThroughTheWindow) {
  const wchar_t* kLong = L"a-document-with-a-name-far-too-long-for-one-tab-of-the-strip.ktr";
  ASSERT_EQ(3, strip.AddItem(0, L"document-number-one.ktr", 2, 0, 0));
  ASSERT_EQ(4, strip.AddItem(0, kLong, -1, 0, 0));
  HDC dc = ::GetDC(strip.m_hWnd);
  HGDIOBJ old = ::SelectObject(dc, ::GetStockObject(DEFAULT_GUI_FONT));
  SIZE extent = {};
  ::GetTextExtentPoint32W(dc, L"document-number-one.ktr", 23, &extent);
  ::SelectObject(dc, old);
  ::ReleaseDC(strip.m_hWnd, dc);
  ASSERT_LT(extent.cx + 30, 196);
  EXPECT_EQ(static_cast<uint32_t>(extent.cx + 12 + 18), Item(3).width);
  EXPECT_EQ(196u, Item(4).width);
  // Tabs touch and start at the strip's left edge.
  EXPECT_EQ(2, Item(0).rect.left);
  for (size_t i = 1; i < 3; ++i) EXPECT_EQ(Item(i - 1).rect.right, Item(i).rect.left);
  EXPECT_EQ(static_cast<LONG>(Item(1).width + 18), Item(1).rect.right - Item(1).rect.left);
}

TEST_F(DocumentStripDrawTest, SelectedTabAndOthersInTheirOutlineTextAndFillColours) {
  const kt_test::CPixels px = Capture();
  ASSERT_FALSE(px.IsEmpty());
  const RECT& sel = Item(1).rect;
  const RECT& other = Item(2).rect;
  const int b = sel.bottom - 2;
  EXPECT_EQ(kDocOutlineSelected, px.Pixel(sel.left, sel.top + 10));
  EXPECT_EQ(kDocOutlineSelected, px.Pixel(Centre(sel).x, b));
  EXPECT_EQ(kDocOutline, px.Pixel(Centre(other).x, b));
  EXPECT_EQ(kDocOutline, px.Pixel(other.right, other.top + 10));
  // Upper and lower halves of the fill.
  EXPECT_TRUE(Between(px.Pixel(Centre(sel).x, sel.top + 3), RGB(221, 242, 252), RGB(211, 237, 251)));
  EXPECT_TRUE(Between(px.Pixel(Centre(sel).x, b - 3), RGB(184, 227, 249), RGB(165, 219, 247)));
  EXPECT_TRUE(Between(px.Pixel(Centre(other).x, other.top + 3), RGB(235, 235, 235), RGB(229, 229, 229)));
  EXPECT_TRUE(Between(px.Pixel(Centre(other).x, b - 3), RGB(214, 214, 214), RGB(203, 203, 203)));
  // Text: blue on the selected tab, grey on the others, never mixed.
  EXPECT_GT(px.CountColor(kDocTextSelected, sel), 0);
  EXPECT_EQ(0, px.CountColor(kDocText, sel));
  EXPECT_GT(px.CountColor(kDocText, other), 0);
  EXPECT_EQ(0, px.CountColor(kDocTextSelected, other));
}

TEST_F(DocumentStripDrawTest, DocumentPictureAtTheTabsLeftAndBottomLinesAcrossTheStrip) {
  const kt_test::CPixels px = Capture();
  const RECT& r = Item(2).rect;
  const POINT icon = {r.left + 4, r.top + 1 + (r.bottom - 2 - r.top - 16) / 2};
  EXPECT_EQ(kDocFold, px.Pixel(icon.x + kDocFoldPixel.x, icon.y + kDocFoldPixel.y));
  EXPECT_NE(kMask, px.Pixel(icon.x + kDocMaskPixel.x, icon.y + kDocMaskPixel.y));
  EXPECT_NE(kDocFold, px.Pixel(icon.x + kDocFoldPixel.x - 1, icon.y + kDocFoldPixel.y - 2));

  EXPECT_EQ(RGB(145, 145, 145), px.Pixel(300, kStripHeight - 2));
  EXPECT_EQ(RGB(255, 255, 255), px.Pixel(300, kStripHeight - 1));
  EXPECT_EQ(RGB(145, 145, 145), px.Pixel(4, kStripHeight - 2));
  EXPECT_EQ(Sys(COLOR_BTNFACE), px.Pixel(3, kStripHeight - 2));
  EXPECT_EQ(Sys(COLOR_BTNFACE), px.Pixel(590, 5));
}

TEST_F(DocumentStripDrawTest, CloseBoxIsGreyUntilTheMouseIsOverIt) {
  const RECT box = ButtonRect(kTabHitClose);
  EXPECT_EQ(Item(1).rect.right - 2, box.right);
  const POINT onCross = {box.left + 6, box.top + 7};
  EXPECT_EQ(Sys(COLOR_GRAYTEXT), Capture().Pixel(onCross.x, onCross.y));

  Send(WM_MOUSEMOVE, Centre(box));
  EXPECT_TRUE(strip.IsTracking());
  EXPECT_EQ(kTabHitClose, strip.Model().Hot());
  const kt_test::CPixels px = Capture();
  EXPECT_EQ(Sys(COLOR_BTNTEXT), px.Pixel(onCross.x, onCross.y));
  EXPECT_EQ(Sys(COLOR_BTNHIGHLIGHT), px.Pixel(box.left, box.top));
  EXPECT_EQ(Sys(COLOR_BTNSHADOW), px.Pixel(box.right - 1, box.bottom - 1));

  strip.SendMessage(WM_MOUSELEAVE, 0, 0);
  EXPECT_FALSE(strip.IsTracking());
  EXPECT_EQ(Sys(COLOR_GRAYTEXT), Capture().Pixel(onCross.x, onCross.y));
}

TEST_F(DocumentStripDrawTest, NoCloseTabHasNoCloseBox) {
  Group().items[1]->flags |= TBF_NOCLOSE;
  strip.Refresh(true, true);
  const RECT box = ButtonRect(kTabHitClose);
  EXPECT_FALSE(ButtonShown(kTabHitClose));
  EXPECT_EQ(0, Capture().CountColor(Sys(COLOR_GRAYTEXT), box));
}

TEST_F(DocumentStripDrawTest, HoveredTabTakesTheHotFill) {
  const RECT& r = Item(2).rect;
  Send(WM_MOUSEMOVE, Centre(r));
  EXPECT_TRUE(Between(Capture().Pixel(Centre(r).x, r.top + 3), RGB(237, 243, 252), RGB(198, 221, 247)));
}

TEST_F(DocumentStripDrawTest, ListMenuOpensUpwards) {
  for (int i = 0; i < 12; ++i) ASSERT_GE(strip.AddItem(0, L"more", 2, 0, 0), 0);
  Resize(250);
  ASSERT_TRUE(ButtonShown(kTabHitList));
  kt_test::CPopupRecorder recorder;
  Click(Centre(ButtonRect(kTabHitList)));
  ASSERT_EQ(1u, recorder.menus.size());
  EXPECT_EQ(static_cast<UINT>(TPM_RETURNCMD | TPM_BOTTOMALIGN), recorder.menus[0].flags);
  EXPECT_EQ(strip.m_hWnd, recorder.menus[0].owner);
}

TEST_F(DocumentStripDrawTest, Screenshot) {
  EXPECT_FALSE(kt_test::SaveScreenshot(strip.m_hWnd, L"tabstrip_document").empty());
}

// ---- view strip drawing and layout ----------------------------------------

class ViewStripThreeTabsTest : public ViewStripTest {
 protected:
  void SetUp() override {
    ViewStripTest::SetUp();
    Resize(900);
    ASSERT_EQ(0, strip.AddGroup(L"capture", 0));
    AddItems(0, 3, 0);
    ParkCursor();
    strip.Refresh(true, true);
    parent.notifies.clear();
  }
};

TEST_F(ViewStripThreeTabsTest, WideStripShowsFullTabsAfterTheAddButtonAndCloseAllAtTheEnd) {
  EXPECT_EQ(38, Item(0).rect.left);
  EXPECT_EQ(214, Item(0).rect.right - Item(0).rect.left);
  EXPECT_EQ(196, Item(1).rect.right - Item(1).rect.left);
  EXPECT_EQ(Item(1).rect.right, Item(2).rect.left);
  EXPECT_EQ((RECT{884, 4, 900, 20}).left, ButtonRect(kTabHitCloseAll).left);
  EXPECT_EQ(900, ButtonRect(kTabHitCloseAll).right);
  EXPECT_FALSE(ButtonShown(kTabHitList));
  EXPECT_FALSE(ButtonShown(kTabHitScrollLeft));

  const kt_test::CPixels px = Capture();
  const RECT& add = ButtonRect(kTabHitAdd);
  EXPECT_EQ(kAddPlus, px.Pixel(add.left + 4 + kAddPlusPixel.x, add.top + 4 + kAddPlusPixel.y));
  EXPECT_NE(kMask, px.Pixel(add.left + 4, add.top + 4));
  // The drop-down arrow right of the picture.
  EXPECT_GT(px.CountColor(Sys(COLOR_BTNTEXT), RECT{add.right - 8, add.top, add.right - 4, add.bottom}), 0);
  const RECT& all = ButtonRect(kTabHitCloseAll);
  EXPECT_EQ(Sys(COLOR_BTNTEXT), px.Pixel(all.left + 6, all.top + 7));
}

TEST_F(ViewStripThreeTabsTest, SelectedTabJoinsTheBaseLineAndTheBandBelow) {
  const kt_test::CPixels px = Capture();
  const RECT& sel = Item(0).rect;
  const RECT& other = Item(1).rect;
  EXPECT_EQ(kViewBand, px.Pixel(Centre(sel).x, kStripHeight - 1));
  EXPECT_EQ(kViewBand, px.Pixel(Centre(other).x, kStripHeight - 1));
  // The base line runs under the other tabs but not under the selected one.
  EXPECT_EQ(Sys(COLOR_BTNSHADOW), px.Pixel(Centre(other).x, other.bottom));
  EXPECT_EQ(Sys(COLOR_BTNHIGHLIGHT), px.Pixel(Centre(other).x, other.bottom + 1));
  EXPECT_TRUE(Between(px.Pixel(Centre(sel).x, sel.bottom + 1), RGB(207, 231, 250), RGB(185, 209, 250)));
  // The selected tab stands two pixels taller.
  EXPECT_EQ(Sys(COLOR_BTNSHADOW), px.Pixel(Centre(sel).x, sel.top));
  EXPECT_EQ(Sys(COLOR_BTNFACE), px.Pixel(Centre(other).x, sel.top));
  EXPECT_EQ(Sys(COLOR_BTNSHADOW), px.Pixel(Centre(other).x, other.top));
  EXPECT_TRUE(Between(px.Pixel(Centre(other).x, other.bottom - 3), RGB(207, 215, 235), RGB(235, 238, 252)));
  for (size_t i = 0; i < 3; ++i) EXPECT_GT(px.CountColor(kViewText, Item(i).rect), 0) << i;
}

struct MouseCase {
  const char* name;
  UINT message;
  int target;  // item index, or a hit code of 128 and up, or -1 for empty space
  std::vector<UINT> codes;
  uint64_t a;
};

TEST_F(ViewStripThreeTabsTest, MouseMessagesSendTheirNotifications) {
  const MouseCase cases[] = {
      {"click tab", WM_LBUTTONDOWN, 2, {TCXN_SELCHANGED}, 2},
      {"click selected tab", WM_LBUTTONDOWN, 0, {}, 0},
      {"double click tab", WM_LBUTTONDBLCLK, 1, {TCXN_ITEMDBLCLK}, 1},
      {"right click tab", WM_RBUTTONUP, 1, {TCXN_RCLICK}, 1},
      {"right click empty", WM_RBUTTONUP, -1, {TCXN_RCLICK}, kTabNone},
      {"right click button", WM_RBUTTONUP, static_cast<int>(kTabHitCloseAll), {}, 0},
      {"close all", WM_LBUTTONDOWN, static_cast<int>(kTabHitCloseAll), {TCXN_CLOSEALL}, 0},
      {"add", WM_LBUTTONDOWN, static_cast<int>(kTabHitAdd), {TCXN_ADDTAB}, 0},
      {"click empty", WM_LBUTTONDOWN, -1, {}, 0},
  };
  for (const MouseCase& c : cases) {
    SCOPED_TRACE(c.name);
    if (Group().selected != 0) strip.Model().SelectItem(0);
    parent.notifies.clear();
    POINT p = {800, 12};
    if (c.target >= 0 && c.target < 128) p = Centre(Item(static_cast<size_t>(c.target)).rect);
    if (c.target >= 128) p = Centre(ButtonRect(c.target));
    if (c.message == WM_LBUTTONDOWN) {
      Click(p);
    } else {
      Send(c.message, p);
    }
    EXPECT_EQ(c.codes, parent.Codes());
    if (!parent.notifies.empty()) {
      const RecordedNotify& n = parent.notifies[0];
      EXPECT_EQ(c.a, n.a);
      EXPECT_EQ(kStripId, n.wParam);
      EXPECT_EQ(kStripId, n.id);
      EXPECT_EQ(strip.m_hWnd, n.from);
    }
  }
}

TEST_F(ViewStripThreeTabsTest, CloseBoxAsksTheOwnerWhoMayVeto) {
  const POINT box = Centre(ButtonRect(kTabHitClose));
  parent.closeAnswer = 1;
  Click(box);
  EXPECT_EQ(std::vector<UINT>{TCXN_ITEMCLOSING}, parent.Codes());
  EXPECT_EQ(3u, Group().Count());

  parent.closeAnswer = 0;
  parent.notifies.clear();
  Click(box);
  EXPECT_EQ((std::vector<UINT>{TCXN_ITEMCLOSING, TCXN_SELCHANGED}), parent.Codes());
  EXPECT_EQ(2u, Group().Count());
  EXPECT_STREQ(L"view 1", strip.GetItemText(0).c_str());
}

TEST_F(ViewStripThreeTabsTest, ResizeLaysTheTabsOutAgain) {
  Resize(400);
  const LONG w1 = Item(1).rect.right - Item(1).rect.left;
  EXPECT_LT(w1, 196);
  EXPECT_GE(w1, 60);
  EXPECT_EQ(w1, Item(2).rect.right - Item(2).rect.left);
  EXPECT_EQ(w1 + 18, Item(0).rect.right - Item(0).rect.left);
  EXPECT_LE(Item(2).rect.right, ButtonRect(kTabHitCloseAll).left);
  EXPECT_FALSE(ButtonShown(kTabHitList));

  Resize(200);
  EXPECT_TRUE(ButtonShown(kTabHitList));
  EXPECT_TRUE(ButtonShown(kTabHitScrollLeft));
  EXPECT_LT(Group().endVisible, 3u);

  Resize(900);
  EXPECT_FALSE(ButtonShown(kTabHitList));
  EXPECT_EQ(0u, Group().firstVisible);
  EXPECT_EQ(196, Item(1).rect.right - Item(1).rect.left);
}

class ViewStripManyTabsTest : public ViewStripTest {
 protected:
  void SetUp() override {
    ViewStripTest::SetUp();
    Resize(300);
    ASSERT_EQ(0, strip.AddGroup(L"capture", 0));
    AddItems(0, 10, 0);
    ParkCursor();
    parent.notifies.clear();
  }
};

TEST_F(ViewStripManyTabsTest, ScrollButtonsAppearAndScrollLeftLightsUpAfterScrollingRight) {
  ASSERT_TRUE(ButtonShown(kTabHitScrollRight));
  const RECT left = ButtonRect(kTabHitScrollLeft);
  const RECT right = ButtonRect(kTabHitScrollRight);
  const RECT list = ButtonRect(kTabHitList);
  EXPECT_EQ(right.right, list.left);
  EXPECT_EQ(left.right, right.left);
  // Left arrow: its shortest column sits 6 pixels in and 7 down.
  const POINT leftTip = {left.left + 6, left.top + 7};
  kt_test::CPixels px = Capture();
  EXPECT_EQ(Sys(COLOR_GRAYTEXT), px.Pixel(leftTip.x, leftTip.y));
  EXPECT_EQ(Sys(COLOR_BTNTEXT), px.Pixel(right.right - 1 - 6, right.top + 7));
  EXPECT_EQ(Sys(COLOR_BTNTEXT), px.Pixel(list.left + 5, list.top + 6));  // the list glyph's bar
  EXPECT_EQ(Sys(COLOR_BTNFACE), px.Pixel(list.left + 4, list.top + 6));

  Click(Centre(right));
  EXPECT_EQ(1u, Group().firstVisible);
  EXPECT_FALSE(Item(0).IsShown() && Item(0).rect.right > 38);
  EXPECT_EQ(Sys(COLOR_BTNTEXT), Capture().Pixel(leftTip.x, leftTip.y));
  // The selected tab left the window: the selection went to the last laid-out one.
  EXPECT_EQ(std::vector<UINT>{TCXN_SELCHANGED}, parent.Codes());
  EXPECT_EQ(Group().endVisible - 1, Group().selected);
  EXPECT_EQ(Group().selected, parent.notifies[0].a);
  EXPECT_EQ(0u, parent.notifies[0].b);
}

TEST_F(ViewStripManyTabsTest, ListMenuThroughThePopupSeamSelectsTheChosenTab) {
  kt_test::CPopupRecorder recorder;
  recorder.menuAnswer = kTabListCommandBase + 7;
  CMenuSnapshot snapshot;
  const RECT list = ButtonRect(kTabHitList);
  Click(Centre(list));

  ASSERT_EQ(1u, recorder.menus.size());
  POINT anchor = {list.left, list.bottom};
  strip.ClientToScreen(&anchor);
  EXPECT_EQ(anchor.x, recorder.menus[0].x);
  EXPECT_EQ(anchor.y, recorder.menus[0].y);
  EXPECT_EQ(static_cast<UINT>(TPM_RETURNCMD), recorder.menus[0].flags);
  EXPECT_EQ(strip.m_hWnd, recorder.menus[0].owner);
  ASSERT_EQ(10u, g_menuEntries.size());
  for (size_t i = 0; i < 10; ++i) {
    EXPECT_EQ(kTabListCommandBase + i, g_menuEntries[i].id);
    EXPECT_EQ(L"view " + std::to_wstring(i), g_menuEntries[i].text);
    EXPECT_EQ(i == 0, g_menuEntries[i].checked);
  }
  EXPECT_EQ(std::vector<UINT>{TCXN_SELCHANGED}, parent.Codes());
  EXPECT_EQ(7u, parent.notifies[0].a);
  EXPECT_EQ(7u, Group().selected);
  // Pulled into view: the selection rule makes it the first laid-out tab.
  EXPECT_EQ(7u, Group().firstVisible);
  EXPECT_LT(7u, Group().endVisible);
  EXPECT_TRUE(Item(7).IsShown());
}

TEST_F(ViewStripManyTabsTest, ToolTipStringsOfTheButtons) {
  EXPECT_EQ(static_cast<UINT>(IDS_TIP_TAB_LIST), CTabBar::GetToolTipStringId(kTabHitList));
  EXPECT_EQ(static_cast<UINT>(IDS_TIP_ADD_TAB), CTabBar::GetToolTipStringId(strip.HitTest(Centre(ButtonRect(kTabHitAdd)))));
  EXPECT_EQ(0u, CTabBar::GetToolTipStringId(strip.HitTest(Centre(Item(0).rect))));
}

TEST_F(ViewStripManyTabsTest, Screenshot) {
  Resize(600);
  strip.AddGroup(L"second", 0);
  EXPECT_FALSE(kt_test::SaveScreenshot(strip.m_hWnd, L"tabstrip_view").empty());
}

TEST_F(ViewStripTest, EmptyStripPaintsEveryPixelAndHidesTheAddButton) {
  Resize(300);
  const kt_test::CPixels px = Capture();
  EXPECT_EQ(0, px.CountColor(kt_test::kUnpaintedColor));
  EXPECT_EQ(px.width * px.height, px.CountColor(Sys(COLOR_BTNFACE)));
}

}  // namespace
