#include "ui/controls/SearchBar.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/ui/UiHarness.h"
#include "ui/framework/WindowImpl.h"

namespace {

constexpr int kBarWidth = 120;
constexpr int kBarHeight = 22;
constexpr DWORD kExpectedEditStyle = 0x50010080;
constexpr wchar_t kHint[] = L"<Filter Here>";

struct RecordedCommand {
  WPARAM wParam;
  LPARAM lParam;
};

// Stands in for the main frame: keeps every WM_COMMAND it is sent.
class CCommandRecorder : public CWindowImpl<CCommandRecorder> {
 public:
  BEGIN_MSG_MAP(CCommandRecorder)
    MESSAGE_HANDLER(WM_COMMAND, OnCommand)
  END_MSG_MAP()

  LRESULT OnCommand(UINT, WPARAM wParam, LPARAM lParam) {
    commands.push_back({wParam, lParam});
    return 0;
  }

  std::vector<RecordedCommand> commands;
};

std::wstring TextOf(HWND hwnd) {
  wchar_t text[512] = {};
  ::GetWindowTextW(hwnd, text, 512);
  return text;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[64] = {};
  ::GetClassNameW(hwnd, name, 64);
  return name;
}

void Type(HWND edit, const std::wstring& text) {
  for (wchar_t c : text) {
    ::SendMessageW(edit, WM_CHAR, c, 0);
  }
}

class SearchBarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const RECT none = {0, 0, 1, 1};
    ASSERT_NE(recorder.Create(host.get(), &none, nullptr, WS_CHILD), nullptr);
    ASSERT_TRUE(bar.Create(recorder.m_hWnd, host.get(), ID_QUICK_FILTER_EDIT, ID_QUICK_FILTER));
    edit = bar.Edit().m_hWnd;
    kt_test::PumpMessages();
  }
  void TearDown() override {
    if (bar.m_hWnd != nullptr) {
      bar.DestroyWindow();
    }
  }

  kt_test::CTestHostWindow host{300, 60};
  CCommandRecorder recorder;
  CSearchBar bar;
  HWND edit = nullptr;
};

TEST_F(SearchBarTest, CreatesTheNamedClassesWithTheirStylesAndPlace) {
  EXPECT_EQ(ClassOf(bar.m_hWnd), L"WTLSearchBar");
  EXPECT_EQ(ClassOf(edit), L"WTLSearchEdit");
  EXPECT_EQ(bar.GetStyle(), DWORD(0x56000000));
  EXPECT_EQ(DWORD(::GetWindowLongPtrW(edit, GWL_STYLE)), kExpectedEditStyle);
  EXPECT_EQ(::GetDlgCtrlID(edit), ID_QUICK_FILTER_EDIT);
  RECT barRect;
  bar.GetClientRect(&barRect);
  EXPECT_EQ(barRect.right, kBarWidth);
  EXPECT_EQ(barRect.bottom, kBarHeight);
  EXPECT_EQ(reinterpret_cast<HFONT>(::SendMessageW(edit, WM_GETFONT, 0, 0)), ::GetStockObject(DEFAULT_GUI_FONT));
}

TEST_F(SearchBarTest, ShowsTheGreyHintAndReadsEmptyAfterCreation) {
  EXPECT_TRUE(bar.Edit().IsHintShown());
  EXPECT_EQ(TextOf(edit), kHint);
  EXPECT_TRUE(bar.GetSearchText().IsEmpty());

  const kt_test::CPixels pixels = kt_test::CaptureScreenPixels(bar.m_hWnd);
  ASSERT_FALSE(pixels.IsEmpty());
  EXPECT_GT(pixels.CountColor(kSearchHintColor), 10);
  EXPECT_EQ(pixels.CountColor(RGB(0, 0, 0)), 0) << "the hint is not drawn in the normal text colour";
  kt_test::SaveScreenshot(bar.m_hWnd, L"searchbar_hint");
}

TEST_F(SearchBarTest, TypedTextIsDrawnInTheNormalColour) {
  Type(edit, L"WWW");
  EXPECT_FALSE(bar.Edit().IsHintShown());
  const kt_test::CPixels pixels = kt_test::CaptureScreenPixels(bar.m_hWnd);
  ASSERT_FALSE(pixels.IsEmpty());
  EXPECT_EQ(pixels.CountColor(kSearchHintColor), 0);
  EXPECT_GT(pixels.CountColor(::GetSysColor(COLOR_WINDOWTEXT)), 10);
  kt_test::SaveScreenshot(bar.m_hWnd, L"searchbar_text");
}

// The edit's frame is one shadow pixel all round, and the band above the
// text has the window colour while enabled and the face colour while disabled.
TEST_F(SearchBarTest, PaintsItsFrameAndTopBand) {
  struct Case {
    BOOL enabled;
    int band;
  };
  for (const Case& c : {Case{TRUE, COLOR_WINDOW}, Case{FALSE, COLOR_BTNFACE}}) {
    ::EnableWindow(edit, c.enabled);
    ::RedrawWindow(edit, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
    const kt_test::CPixels pixels = kt_test::CaptureScreenPixels(bar.m_hWnd);
    ASSERT_FALSE(pixels.IsEmpty());
    const COLORREF shadow = ::GetSysColor(COLOR_BTNSHADOW);
    for (const POINT& p : {POINT{0, 0}, POINT{kBarWidth - 1, 0}, POINT{0, kBarHeight - 1},
                           POINT{kBarWidth - 1, kBarHeight - 1}, POINT{60, 0}, POINT{60, kBarHeight - 1}}) {
      EXPECT_EQ(pixels.Pixel(p.x, p.y), shadow) << p.x << "," << p.y;
    }
    EXPECT_EQ(pixels.Pixel(kBarWidth - 2, 1), ::GetSysColor(c.band)) << "enabled " << c.enabled;
  }
}

// The margin above the text centres one line of the edit's own font, not of
// the system font that a bare GetDC carries.
TEST_F(SearchBarTest, CentresOneLineOfItsOwnFont) {
  HDC screen = ::GetDC(nullptr);
  HGDIOBJ old = ::SelectObject(screen, ::GetStockObject(DEFAULT_GUI_FONT));
  SIZE space = {};
  ::GetTextExtentPoint32W(screen, L" ", 1, &space);
  ::SelectObject(screen, old);
  ::ReleaseDC(nullptr, screen);
  ASSERT_GT(space.cy, 0);
  const int margin = (kBarHeight - space.cy) / 2;

  RECT window;
  ::GetWindowRect(edit, &window);
  POINT origin = {0, 0};
  ::ClientToScreen(edit, &origin);
  RECT client;
  ::GetClientRect(edit, &client);
  EXPECT_EQ(origin.x - window.left, 1);
  EXPECT_EQ(origin.y - window.top, margin + 1);
  EXPECT_EQ(client.right, kBarWidth - 2);
  EXPECT_EQ(client.bottom, kBarHeight - margin - 2);
}

TEST_F(SearchBarTest, EnterAndCtrlEnterAreSentAsCommandsWithoutTyping) {
  Type(edit, L"abc");
  struct Case {
    wchar_t key;
    WORD code;
  };
  for (const Case& c : {Case{L'\r', kSearchEnter}, Case{L'\n', kSearchCtrlEnter}}) {
    recorder.commands.clear();
    ::SendMessageW(edit, WM_CHAR, c.key, 0);
    ASSERT_EQ(recorder.commands.size(), 1u) << int(c.key);
    EXPECT_EQ(LOWORD(recorder.commands[0].wParam), ID_QUICK_FILTER);
    EXPECT_EQ(HIWORD(recorder.commands[0].wParam), c.code);
    EXPECT_EQ(recorder.commands[0].lParam, reinterpret_cast<LPARAM>(edit));
    EXPECT_EQ(TextOf(edit), L"abc");
  }
}

TEST_F(SearchBarTest, EnterOnTheHintReportsAnEmptyFilter) {
  ::SendMessageW(edit, WM_CHAR, L'\r', 0);
  ASSERT_EQ(recorder.commands.size(), 1u);
  EXPECT_TRUE(bar.Edit().IsHintShown());
  EXPECT_TRUE(bar.GetSearchText().IsEmpty());
}

TEST_F(SearchBarTest, TypingReplacesTheHint) {
  Type(edit, L"kernel");
  EXPECT_FALSE(bar.Edit().IsHintShown());
  EXPECT_STREQ(bar.GetSearchText().c_str(), L"kernel");
}

TEST_F(SearchBarTest, FocusClearsTheHintAndLeavingEmptyBringsItBack) {
  ::SetFocus(edit);
  ASSERT_EQ(::GetFocus(), edit);
  EXPECT_FALSE(bar.Edit().IsHintShown());
  EXPECT_EQ(TextOf(edit), L"");

  ::SetFocus(host.get());
  EXPECT_TRUE(bar.Edit().IsHintShown());
  EXPECT_EQ(TextOf(edit), kHint);
  EXPECT_TRUE(bar.GetSearchText().IsEmpty());
}

TEST_F(SearchBarTest, LeavingWithTextKeepsIt) {
  ::SetFocus(edit);
  ASSERT_EQ(::GetFocus(), edit);
  Type(edit, L"tid");
  ::SetFocus(host.get());
  EXPECT_FALSE(bar.Edit().IsHintShown());
  EXPECT_STREQ(bar.GetSearchText().c_str(), L"tid");
}

// The edit holds no more than the filter takes: text typed past 127
// characters is refused instead of being cut off silently when it is read.
TEST_F(SearchBarTest, RefusesTextBeyondWhatTheFilterHolds) {
  EXPECT_EQ(::SendMessageW(edit, EM_GETLIMITTEXT, 0, 0), kSearchTextMaxLength);
  struct Case {
    size_t typed;
    size_t kept;
  };
  for (const Case& c : {Case{126, 126}, Case{127, 127}, Case{128, 127}, Case{200, 127}}) {
    ::SetWindowTextW(edit, L"");
    std::wstring text;
    for (size_t i = 0; i < c.typed; ++i) {
      text += wchar_t(L'a' + i % 26);
    }
    Type(edit, text);
    EXPECT_EQ(size_t(::GetWindowTextLengthW(edit)), c.kept) << c.typed;
    EXPECT_EQ(std::wstring(bar.GetSearchText().c_str()), text.substr(0, c.kept)) << c.typed;
  }
}

TEST_F(SearchBarTest, HintColourOnlyWhileTheHintIsShown) {
  HDC dc = ::CreateCompatibleDC(nullptr);
  ASSERT_NE(dc, nullptr);
  constexpr COLORREF kUntouched = RGB(1, 2, 3);

  ::SetTextColor(dc, kUntouched);
  LRESULT brush = ::SendMessageW(bar.m_hWnd, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                                 reinterpret_cast<LPARAM>(edit));
  EXPECT_NE(brush, 0);
  EXPECT_EQ(::GetTextColor(dc), kSearchHintColor);

  bar.Edit().SetText(false);
  ::SetTextColor(dc, kUntouched);
  EXPECT_EQ(::SendMessageW(bar.m_hWnd, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                           reinterpret_cast<LPARAM>(edit)),
            brush);
  EXPECT_EQ(::GetTextColor(dc), kUntouched);
  ::DeleteDC(dc);
}

TEST_F(SearchBarTest, SetTextSwitchesBetweenHintAndEmpty) {
  Type(edit, L"abc");
  bar.Edit().SetText(false);  // the flag is already clear: the text stays
  EXPECT_EQ(TextOf(edit), L"abc");
  bar.Edit().SetText(true);
  EXPECT_EQ(TextOf(edit), kHint);
  bar.Edit().SetText(false);
  EXPECT_EQ(TextOf(edit), L"");
}

TEST(SearchBarCreate, FailsWithoutAParentAndLeavesNoWindow) {
  CSearchBar bar;
  EXPECT_FALSE(bar.Create(nullptr, nullptr, ID_QUICK_FILTER_EDIT, ID_QUICK_FILTER));
  EXPECT_EQ(bar.m_hWnd, nullptr);
  EXPECT_TRUE(bar.GetSearchText().IsEmpty());
}

}  // namespace
