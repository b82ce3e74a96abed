#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <stdexcept>
#include <string>

#include "tests/ui/UiHarness.h"
#include "ui/framework/MessageMap.h"
#include "ui/framework/WindowImpl.h"

namespace {

constexpr UINT kMsgPassOn = WM_APP + 1;
constexpr UINT kMsgNestedOuter = WM_APP + 2;
constexpr UINT kMsgNestedInner = WM_APP + 3;
constexpr UINT kMsgShadowed = WM_APP + 4;
constexpr UINT kMsgBaseOnly = WM_APP + 5;
constexpr UINT kMsgMemberOnly = WM_APP + 6;
constexpr UINT kMsgThrow = WM_APP + 7;
constexpr UINT kMsgUnmapped = WM_APP + 8;

constexpr WORD kCmdFirst = 200;
constexpr WORD kCmdLast = 210;
constexpr WORD kCmdEdit = 300;
constexpr UINT_PTR kListId = 400;
constexpr UINT_PTR kOtherId = 401;

// A mix-in with a map of its own, chained by the window.
class CBasePart {
 public:
  std::wstring* log = nullptr;

  BEGIN_MSG_MAP(CBasePart)
    MESSAGE_HANDLER(kMsgBaseOnly, OnBaseOnly)
    MESSAGE_HANDLER(kMsgShadowed, OnShadowed)
  END_MSG_MAP()

  LRESULT OnBaseOnly(UINT, WPARAM, LPARAM) {
    *log += L"base;";
    return 21;
  }
  LRESULT OnShadowed(UINT, WPARAM, LPARAM) {
    *log += L"base-shadowed;";
    return 22;
  }
};

class CMemberPart {
 public:
  BEGIN_MSG_MAP(CMemberPart)
    MESSAGE_HANDLER(kMsgMemberOnly, OnMemberOnly)
  END_MSG_MAP()

  LRESULT OnMemberOnly(UINT, WPARAM, LPARAM) { return 31; }
};

class CMapWindow : public CWindowImpl<CMapWindow>, public CBasePart {
 public:
  std::wstring calls;
  bool swallowText = false;
  LRESULT innerResult = 0;

  CMapWindow() { log = &calls; }

  BEGIN_MSG_MAP(CMapWindow)
    MESSAGE_HANDLER(kMsgPassOn, OnPassOn)
    MESSAGE_HANDLER(kMsgPassOn, OnTakeAfterPassOn)
    MESSAGE_HANDLER(WM_SETTEXT, OnSetText)
    MESSAGE_HANDLER(kMsgNestedOuter, OnNestedOuter)
    MESSAGE_HANDLER(kMsgNestedOuter, OnNestedOuterFallback)
    MESSAGE_HANDLER(kMsgNestedInner, OnNestedInner)
    MESSAGE_HANDLER(kMsgShadowed, OnShadowedHere)
    MESSAGE_HANDLER(kMsgThrow, OnThrow)
    COMMAND_HANDLER(kCmdEdit, EN_CHANGE, OnEditChange)
    COMMAND_RANGE_HANDLER(kCmdFirst, kCmdLast, OnCommandRange)
    COMMAND_ID_HANDLER(kCmdEdit, OnEditOtherCode)
    NOTIFY_HANDLER(kListId, NM_DBLCLK, OnListDoubleClick)
    NOTIFY_CODE_HANDLER(NM_RCLICK, OnAnyRightClick)
    CHAIN_MSG_MAP(CBasePart)
    CHAIN_MSG_MAP_MEMBER(m_member)
  END_MSG_MAP()

  LRESULT OnPassOn(UINT, WPARAM, LPARAM) {
    calls += L"pass;";
    SetMsgHandled(FALSE);
    return 1;
  }
  LRESULT OnTakeAfterPassOn(UINT, WPARAM, LPARAM) {
    calls += L"take;";
    return 2;
  }
  LRESULT OnSetText(UINT, WPARAM, LPARAM) {
    calls += L"settext;";
    SetMsgHandled(swallowText ? TRUE : FALSE);
    return TRUE;
  }
  LRESULT OnNestedOuter(UINT, WPARAM, LPARAM) {
    SetMsgHandled(FALSE);
    // A message handled inside must not make the outer one count as handled.
    innerResult = SendMessage(kMsgNestedInner);
    return 0;
  }
  LRESULT OnNestedOuterFallback(UINT, WPARAM, LPARAM) { return 7; }
  LRESULT OnNestedInner(UINT, WPARAM, LPARAM) { return 5; }
  LRESULT OnShadowedHere(UINT, WPARAM, LPARAM) {
    calls += L"derived-shadowed;";
    return 11;
  }
  LRESULT OnThrow(UINT, WPARAM, LPARAM) { throw std::runtime_error("handler failure"); }
  LRESULT OnEditChange(WORD, WORD, HWND) {
    calls += L"change;";
    return 0;
  }
  LRESULT OnCommandRange(WORD, WORD id, HWND) {
    calls += L"range" + std::to_wstring(id) + L";";
    return 0;
  }
  LRESULT OnEditOtherCode(WORD code, WORD, HWND) {
    calls += L"edit-code" + std::to_wstring(code) + L";";
    return 0;
  }
  LRESULT OnListDoubleClick(int, NMHDR*) {
    calls += L"dblclk;";
    return 0;
  }
  LRESULT OnAnyRightClick(int, NMHDR* header) {
    calls += L"rclick" + std::to_wstring(header->idFrom) + L";";
    return 0;
  }

 private:
  CMemberPart m_member;
};

class MessageMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RECT rect = {0, 0, 100, 50};
    ASSERT_NE(nullptr, window.Create(host.get(), &rect));
  }

  kt_test::CTestHostWindow host;
  CMapWindow window;
};

TEST_F(MessageMapTest, ClearedFlagLetsTheNextEntryRun) {
  EXPECT_EQ(2, window.SendMessage(kMsgPassOn));
  EXPECT_EQ(L"pass;take;", window.calls);
}

TEST_F(MessageMapTest, ClearedFlagReachesDefaultProcessingAndASetOneStopsIt) {
  window.swallowText = false;
  window.SetWindowText(L"stored");
  window.swallowText = true;
  window.SetWindowText(L"swallowed");
  CString text;
  ASSERT_TRUE(window.GetWindowText(text));
  EXPECT_STREQ(L"stored", text);
  EXPECT_EQ(L"settext;settext;", window.calls);
}

TEST_F(MessageMapTest, NestedDispatchLeavesTheOuterFlagAlone) {
  EXPECT_EQ(7, window.SendMessage(kMsgNestedOuter));
  EXPECT_EQ(5, window.innerResult);
}

TEST_F(MessageMapTest, CommandsByIdRangeAndCode) {
  struct Case {
    WORD id;
    WORD code;
    const wchar_t* expected;
  } cases[] = {
      {kCmdFirst - 1, 0, L""},
      {kCmdFirst, 0, L"range200;"},
      {kCmdLast, BN_CLICKED, L"range210;"},
      {kCmdLast + 1, 0, L""},
      {kCmdEdit, EN_CHANGE, L"change;"},
      {kCmdEdit, EN_SETFOCUS, L"edit-code256;"},
  };
  for (const Case& c : cases) {
    window.calls.clear();
    window.SendMessage(WM_COMMAND, MAKEWPARAM(c.id, c.code), 0);
    EXPECT_EQ(c.expected, window.calls) << c.id << "/" << c.code;
  }
}

TEST_F(MessageMapTest, NotificationsByIdAndCode) {
  struct Case {
    UINT_PTR id;
    UINT code;
    const wchar_t* expected;
  } cases[] = {
      {kListId, UINT(NM_DBLCLK), L"dblclk;"},
      {kListId, UINT(NM_CLICK), L""},
      {kOtherId, UINT(NM_DBLCLK), L""},
      {kOtherId, UINT(NM_RCLICK), L"rclick401;"},
      {kListId, UINT(NM_RCLICK), L"rclick400;"},
  };
  for (const Case& c : cases) {
    window.calls.clear();
    NMHDR header = {host.get(), c.id, c.code};
    window.SendMessage(WM_NOTIFY, c.id, reinterpret_cast<LPARAM>(&header));
    EXPECT_EQ(c.expected, window.calls) << c.id << "/" << int(c.code);
  }
  window.calls.clear();
  window.SendMessage(WM_NOTIFY, kListId, 0);  // no header: nothing matches, nothing crashes
  EXPECT_EQ(L"", window.calls);
}

TEST_F(MessageMapTest, ChainedMapsRunAfterTheOwnEntries) {
  EXPECT_EQ(21, window.SendMessage(kMsgBaseOnly));
  EXPECT_EQ(11, window.SendMessage(kMsgShadowed));
  EXPECT_EQ(31, window.SendMessage(kMsgMemberOnly));
  EXPECT_EQ(0, window.SendMessage(kMsgUnmapped));
  EXPECT_EQ(L"base;derived-shadowed;", window.calls);
}

TEST_F(MessageMapTest, ThrowingHandlerIsContainedAndDispatchGoesOn) {
  EXPECT_EQ(0, window.SendMessage(kMsgThrow));
  EXPECT_EQ(nullptr, window.GetCurrentMessage());
  EXPECT_EQ(2, window.SendMessage(kMsgPassOn));
}

// Reflection: an owner-drawn button subclassed by an object that draws it.
constexpr int kButtonId = 500;
constexpr COLORREF kButtonColor = RGB(200, 30, 40);
constexpr UINT kMeasuredHeight = 17;

class COwnerDrawButton : public CWindowImpl<COwnerDrawButton> {
 public:
  int draws = 0;
  int measures = 0;

  BEGIN_MSG_MAP(COwnerDrawButton)
    MESSAGE_HANDLER(OCM_DRAWITEM, OnDrawItem)
    MESSAGE_HANDLER(OCM_MEASUREITEM, OnMeasureItem)
  END_MSG_MAP()

  LRESULT OnDrawItem(UINT, WPARAM, LPARAM lParam) {
    ++draws;
    const auto* draw = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    HBRUSH brush = ::CreateSolidBrush(kButtonColor);
    ::FillRect(draw->hDC, &draw->rcItem, brush);
    ::DeleteObject(brush);
    return TRUE;
  }
  LRESULT OnMeasureItem(UINT, WPARAM, LPARAM lParam) {
    ++measures;
    reinterpret_cast<MEASUREITEMSTRUCT*>(lParam)->itemHeight = kMeasuredHeight;
    return TRUE;
  }
};

class CReflectingParent : public CWindowImpl<CReflectingParent> {
 public:
  int ownMeasures = 0;

  BEGIN_MSG_MAP(CReflectingParent)
    REFLECT_NOTIFICATIONS()
    MESSAGE_HANDLER(WM_MEASUREITEM, OnMeasureItem)
  END_MSG_MAP()

  LRESULT OnMeasureItem(UINT, WPARAM, LPARAM) {
    ++ownMeasures;
    return TRUE;
  }
};

class ReflectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RECT rect = {0, 0, 200, 100};
    ASSERT_NE(nullptr, parent.Create(host.get(), &rect));
    HWND hwnd = ::CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 10, 10, 60, 30,
                                  parent.m_hWnd, reinterpret_cast<HMENU>(kButtonId), nullptr, nullptr);
    ASSERT_NE(nullptr, hwnd);
    ASSERT_TRUE(button.SubclassWindow(hwnd));
  }

  kt_test::CTestHostWindow host;
  CReflectingParent parent;
  COwnerDrawButton button;
};

TEST_F(ReflectionTest, OwnerDrawnButtonPaintsThroughReflection) {
  const kt_test::CPixels pixels = kt_test::CapturePixels(button.m_hWnd);
  ASSERT_FALSE(pixels.IsEmpty());
  EXPECT_GE(button.draws, 1);
  EXPECT_EQ(kButtonColor, pixels.Pixel(30, 15));
  EXPECT_EQ(pixels.width * pixels.height, pixels.CountColor(kButtonColor));
  kt_test::SaveScreenshot(button.m_hWnd, L"reflected_owner_draw_button");
}

TEST_F(ReflectionTest, MeasureItemGoesToTheControlButMenusStayWithTheParent) {
  MEASUREITEMSTRUCT control = {ODT_BUTTON, kButtonId, 0, 0, 0, 0};
  EXPECT_EQ(TRUE, parent.SendMessage(WM_MEASUREITEM, kButtonId, reinterpret_cast<LPARAM>(&control)));
  EXPECT_EQ(kMeasuredHeight, control.itemHeight);
  EXPECT_EQ(1, button.measures);

  MEASUREITEMSTRUCT menu = {ODT_MENU, 0, 0, 0, 0, 0};
  parent.SendMessage(WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&menu));
  MEASUREITEMSTRUCT missing = {ODT_BUTTON, kButtonId + 1, 0, 0, 0, 0};
  parent.SendMessage(WM_MEASUREITEM, kButtonId + 1, reinterpret_cast<LPARAM>(&missing));
  EXPECT_EQ(1, button.measures);
  EXPECT_EQ(2, parent.ownMeasures);
}

}  // namespace
