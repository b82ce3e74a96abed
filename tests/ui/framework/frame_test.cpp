#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <vector>

#include "tests/ui/UiHarness.h"
#include "tests/ui/framework_test_res.h"
#include "ui/framework/FrameWindow.h"
#include "ui/framework/StatusBarPanes.h"

namespace {

class CTestFrame : public CFrameWindowImpl<CTestFrame> {
 public:
  DECLARE_FRAME_WND_CLASS(L"KtTestFrameClass", IDR_TEST_FRAME)
  std::vector<WORD> commands;

  BEGIN_MSG_MAP(CTestFrame)
    COMMAND_ID_HANDLER(ID_TEST_REFRESH, OnCommand)
    CHAIN_MSG_MAP(CFrameWindowImpl<CTestFrame>)
  END_MSG_MAP()

  LRESULT OnCommand(WORD, WORD id, HWND) {
    commands.push_back(id);
    return 0;
  }
};

// Takes the quit message the frame posts, so it cannot end a later test's loop.
bool TakeQuitMessage(WPARAM* exitCode) {
  MSG msg;
  if (!::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    return false;
  }
  *exitCode = msg.wParam;
  return true;
}

class FrameWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RECT rect = {0, 0, 500, 400};
    ASSERT_NE(nullptr, frame.CreateEx(nullptr, &rect));
  }
  void TearDown() override {
    if (frame.m_hWnd != nullptr) {
      frame.DestroyWindow();
    }
    WPARAM code = 0;
    TakeQuitMessage(&code);
  }
  CTestFrame frame;
};

TEST_F(FrameWindowTest, TakesTitleMenuAndAcceleratorsFromItsResourceId) {
  CString title;
  ASSERT_TRUE(frame.GetWindowText(title));
  EXPECT_STREQ(L"Framework Test Frame", title);
  wchar_t className[64] = {};
  ::GetClassNameW(frame.m_hWnd, className, 64);
  EXPECT_STREQ(L"KtTestFrameClass", className);
  ASSERT_NE(nullptr, frame.GetMenu());
  EXPECT_EQ(1, ::GetMenuItemCount(frame.GetMenu()));
  EXPECT_EQ(CTestFrame::GetDefaultStyle(), frame.GetStyle() & CTestFrame::GetDefaultStyle());

  MSG key = {frame.m_hWnd, WM_KEYDOWN, VK_F5, 0};
  EXPECT_TRUE(frame.TranslateAccelerator(&key));
  EXPECT_EQ((std::vector<WORD>{ID_TEST_REFRESH}), frame.commands);
  MSG other = {frame.m_hWnd, WM_KEYDOWN, VK_F6, 0};
  EXPECT_FALSE(frame.TranslateAccelerator(&other));
}

TEST_F(FrameWindowTest, DestroyingTheFramePostsQuitWithCodeOne) {
  HWND hwnd = frame.m_hWnd;
  ASSERT_TRUE(frame.DestroyWindow());
  EXPECT_FALSE(::IsWindow(hwnd));
  WPARAM code = 0;
  ASSERT_TRUE(TakeQuitMessage(&code));
  EXPECT_EQ(WPARAM(ktui::kFrameQuitCode), code);
}

// A child frame inside the test host: it lays out the same way and is
// visible at once (showing a top-level frame would wait for the window manager).
TEST(FrameWindowLayout, ClientSitsBetweenTheBars) {
  kt_test::CTestHostWindow host(600, 500);
  CTestFrame frame;
  RECT rect = {0, 0, 500, 400};
  ASSERT_NE(nullptr, frame.CreateEx(host.get(), &rect, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN));
  EXPECT_EQ(nullptr, frame.GetMenu());
  frame.m_hWndToolBar = frame.CreateSimpleToolBarCtrl(IDR_TEST_TOOLBAR);
  ASSERT_NE(nullptr, frame.m_hWndToolBar);
  CMultiPaneStatusBarCtrl status;
  ASSERT_NE(nullptr, status.Create(frame.m_hWnd, 0));
  frame.m_hWndStatusBar = status.m_hWnd;
  frame.m_hWndClient = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, frame.m_hWnd,
                                         nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, frame.m_hWndClient);
  frame.SetWindowPos(nullptr, 0, 0, 520, 420, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

  RECT frameClient, toolbar, statusBar, client;
  frame.GetClientRect(&frameClient);
  ::GetWindowRect(frame.m_hWndToolBar, &toolbar);
  ::GetWindowRect(frame.m_hWndStatusBar, &statusBar);
  ::GetWindowRect(frame.m_hWndClient, &client);
  frame.ScreenToClient(&toolbar);
  frame.ScreenToClient(&statusBar);
  frame.ScreenToClient(&client);
  EXPECT_GT(toolbar.bottom, 0);
  EXPECT_EQ(toolbar.bottom - toolbar.top, client.top);
  EXPECT_EQ(frameClient.bottom - (statusBar.bottom - statusBar.top), client.bottom);
  EXPECT_EQ(0, client.left);
  EXPECT_EQ(frameClient.right, client.right);
  EXPECT_EQ(1, frame.SendMessage(WM_ERASEBKGND, 0));  // the client covers everything: no erase

  frame.SendMessage(WM_SETFOCUS);
  EXPECT_EQ(frame.m_hWndClient, ::GetFocus());
  kt_test::SaveScreenshot(frame.m_hWnd, L"frame_layout");
  frame.DestroyWindow();
  MSG quit;
  EXPECT_FALSE(::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));  // only top-level frames quit
}

TEST(ToolBarResource, ButtonsFollowTheResource) {
  kt_test::CTestHostWindow host;
  struct Case {
    bool initialSeparator;
    std::vector<int> commands;  // 0 for a separator
  } cases[] = {
      {false, {ID_TEST_BUTTON1, 0, ID_TEST_BUTTON2, ID_TEST_BUTTON3}},
      {true, {0, ID_TEST_BUTTON1, 0, ID_TEST_BUTTON2, ID_TEST_BUTTON3}},
  };
  for (const Case& c : cases) {
    HWND toolbar = ktui::CreateToolBarFromResource(host.get(), ::GetModuleHandleW(nullptr), IDR_TEST_TOOLBAR,
                                                   c.initialSeparator, ktui::kSimpleToolBarStyle,
                                                   ktui::kToolBarWindowId);
    ASSERT_NE(nullptr, toolbar);
    CToolBarCtrl bar(toolbar);
    ASSERT_EQ(int(c.commands.size()), bar.GetButtonCount());
    int picture = 0;
    for (int i = 0; i < bar.GetButtonCount(); ++i) {
      TBBUTTON button = {};
      ASSERT_TRUE(bar.GetButton(i, &button));
      if (c.commands[i] == 0) {
        EXPECT_NE(0, button.fsStyle & BTNS_SEP) << i;
      } else {
        EXPECT_EQ(c.commands[i], button.idCommand) << i;
        EXPECT_EQ(picture++, button.iBitmap) << i;
      }
    }
    const int first = bar.AddString(L"Open/Save");
    EXPECT_GE(first, 0);
    EXPECT_EQ(first + 1, bar.AddString(L"Tools"));
    wchar_t text[32] = {};
    bar.SendMessage(TB_GETSTRINGW, MAKEWPARAM(32, first + 1), reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(L"Tools", text);
    kt_test::SaveScreenshot(toolbar, c.initialSeparator ? L"toolbar_with_separator" : L"toolbar");
    ::DestroyWindow(toolbar);
  }
  EXPECT_EQ(nullptr, ktui::CreateToolBarFromResource(host.get(), ::GetModuleHandleW(nullptr), IDR_TEST_FRAME,
                                                     false, ktui::kSimpleToolBarStyle, ktui::kToolBarWindowId));
}

std::vector<BYTE> Words(std::initializer_list<WORD> words) {
  std::vector<BYTE> bytes;
  for (WORD w : words) {
    bytes.push_back(LOBYTE(w));
    bytes.push_back(HIBYTE(w));
  }
  return bytes;
}

std::vector<BYTE> Dwords(std::initializer_list<DWORD> dwords) {
  std::vector<BYTE> bytes;
  for (DWORD d : dwords) {
    for (int shift = 0; shift < 32; shift += 8) {
      bytes.push_back(BYTE(d >> shift));
    }
  }
  return bytes;
}

TEST(ToolBarResource, BothLayoutsAreReadAndMalformedOnesRefused) {
  struct Case {
    const char* what;
    std::vector<BYTE> bytes;
    size_t cut;  // bytes taken off the end
    bool ok;
    size_t count;
    UINT lastItem;
  } cases[] = {
      {"classic, exact size", Words({1, 16, 15, 2, 100, 101}), 0, true, 2, 101},
      {"classic, padded", Words({1, 16, 15, 1, 100, 0}), 0, true, 1, 100},
      {"classic, no buttons", Words({1, 16, 15, 0}), 0, true, 0, 0},
      {"classic, one byte short", Words({1, 16, 15, 2, 100, 101}), 1, false, 0, 0},
      {"classic, count beyond the items", Words({1, 16, 15, 9, 100, 101}), 0, false, 0, 0},
      {"classic, no picture width", Words({1, 0, 15, 1, 100}), 0, false, 0, 0},
      {"windres, exact size", Dwords({16, 15, 3, 100, 0, 70000}), 0, true, 3, 70000},
      {"windres, one byte short", Dwords({16, 15, 3, 100, 0, 101}), 1, false, 0, 0},
      {"windres, count beyond the items", Dwords({16, 15, 4, 100, 0, 101}), 0, false, 0, 0},
      {"windres, huge count", Dwords({16, 15, 0xFFFFFFFF, 100}), 0, false, 0, 0},
      {"no room for a header", Words({1, 16, 15}), 0, false, 0, 0},
      {"empty", {}, 0, false, 0, 0},
  };
  for (const Case& c : cases) {
    ktui::ToolBarResource parsed = {};
    const bool ok = ktui::ParseToolBarResource(c.bytes.empty() ? nullptr : c.bytes.data(),
                                               c.bytes.size() - c.cut, &parsed);
    EXPECT_EQ(c.ok, ok) << c.what;
    if (ok) {
      EXPECT_EQ(16u, parsed.width) << c.what;
      EXPECT_EQ(15u, parsed.height) << c.what;
      EXPECT_EQ(c.count, parsed.count) << c.what;
      if (c.count > 0) {
        EXPECT_EQ(c.lastItem, parsed.Item(c.count - 1)) << c.what;
      }
    }
  }
}

TEST(StatusBarPanes, RightEdgesLeaveTheRestToTheDefaultPane) {
  struct Case {
    int client;
    int grip;
    std::vector<int> widths;
    size_t defaultIndex;
    std::vector<int> edges;
  } cases[] = {
      {600, 20, {0, 40, 430}, 0, {110, 150, 580}},
      {490, 20, {0, 40, 430}, 0, {0, 40, 470}},  // exactly no room left
      {300, 20, {0, 40, 430}, 0, {0, 40, 470}},  // narrower: the default pane is 0 wide, never negative
      {600, 0, {50, 0, 60}, 1, {50, 540, 600}},  // default pane in the middle
      {600, 0, {50, 60}, 2, {50, 110}},          // no default pane
  };
  for (const Case& c : cases) {
    std::vector<int> edges(c.widths.size(), -99);
    ktui::ComputePaneRightEdges(c.client, c.grip, c.widths.data(), c.widths.size(), c.defaultIndex, edges.data());
    EXPECT_EQ(c.edges, edges) << c.client;
  }
}

TEST(StatusBarPanes, PanesAreSizedFromTheirStringsAndFollowTheBar) {
  kt_test::CTestHostWindow host(600, 200);
  CMultiPaneStatusBarCtrl bar;
  ASSERT_NE(nullptr, bar.Create(host.get(), 0));
  const int panes[] = {ktui::kDefaultPaneId, IDS_TEST_PANE_A, IDS_TEST_PANE_B};
  ASSERT_TRUE(bar.SetPanes(panes, 3));
  EXPECT_GT(bar.GetPaneWidth(IDS_TEST_PANE_B), bar.GetPaneWidth(IDS_TEST_PANE_A));
  EXPECT_GT(bar.GetPaneWidth(IDS_TEST_PANE_A), 2 * ktui::kPaneTextPadding);
  ASSERT_TRUE(bar.SetPaneWidth(IDS_TEST_PANE_B, 130));
  EXPECT_FALSE(bar.SetPaneWidth(ktui::kDefaultPaneId, 10));
  EXPECT_FALSE(bar.SetPaneWidth(12345, 10));

  CString text;
  ASSERT_TRUE(bar.GetText(2, text));
  EXPECT_STREQ(L"Pane B text", text);

  const int grip = ::GetSystemMetrics(SM_CXVSCROLL) + ::GetSystemMetrics(SM_CXEDGE);
  RECT client;
  bar.GetClientRect(&client);
  int edges[3] = {};
  ASSERT_EQ(3, bar.GetParts(3, edges));
  EXPECT_EQ(client.right - grip, edges[2]);
  EXPECT_EQ(client.right - grip - 130, edges[1]);
  EXPECT_EQ(client.right - grip - 130 - bar.GetPaneWidth(IDS_TEST_PANE_A), edges[0]);

  ::SetWindowPos(host.get(), nullptr, 0, 0, 800, 240, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  bar.SendMessage(WM_SIZE, SIZE_RESTORED, 0);  // as the frame's layout tells its bars
  RECT wider;
  bar.GetClientRect(&wider);
  ASSERT_GT(wider.right, client.right);
  ASSERT_EQ(3, bar.GetParts(3, edges));
  EXPECT_EQ(wider.right - grip, edges[2]);
  EXPECT_EQ(wider.right - grip - 130, edges[1]);
  kt_test::SaveScreenshot(bar.m_hWnd, L"status_bar_panes");
}

}  // namespace
