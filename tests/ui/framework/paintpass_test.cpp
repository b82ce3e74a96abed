#include <gtest/gtest.h>

#include "tests/ui/UiHarness.h"
#include "ui/framework/DeviceContext.h"
#include "ui/framework/PaintPass.h"
#include "ui/framework/WindowImpl.h"

namespace {

constexpr COLORREF kOld = RGB(200, 30, 30);
constexpr COLORREF kNew = RGB(30, 30, 200);
constexpr int kSide = 40;
constexpr int kPanels = 3;
// Longer than the time after which a DC that began drawing copies the
// surface to the screen as it draws.
constexpr DWORD kStaleMs = 120;

// A child that fills its client with one colour, straight onto its paint DC.
class CPanel : public CWindowImpl<CPanel> {
 public:
  COLORREF color = kOld;

  BEGIN_MSG_MAP(CPanel)
    MESSAGE_HANDLER(WM_ERASEBKGND, OnEraseBackground)
    MESSAGE_HANDLER(WM_PAINT, OnPaint)
  END_MSG_MAP()

  LRESULT OnEraseBackground(UINT, WPARAM, LPARAM) { return 1; }
  LRESULT OnPaint(UINT, WPARAM, LPARAM) {
    CPaintDC dc(m_hWnd);
    RECT client;
    GetClientRect(&client);
    dc.FillSolidRect(client, color);
    return 0;
  }
};

// What the screen shows at the centre of `hwnd`: read from the desktop, not
// from the window's own surface, so it is what a person would see.
COLORREF Shown(HWND hwnd) {
  RECT rect;
  ::GetWindowRect(hwnd, &rect);
  CClientDC desktop(nullptr);
  return desktop.GetPixel((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
}

// Lets the thread go idle, which shows everything drawn so far.
void GoIdle() {
  kt_test::PumpMessages();
  ::MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_ALLINPUT, 0);
}

class PaintPassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < kPanels; ++i) {
      RECT rect = {i * (kSide + 4), 0, i * (kSide + 4) + kSide, kSide};
      ASSERT_NE(nullptr, panels[i].Create(host.get(), &rect, nullptr, WS_CHILD | WS_VISIBLE));
      panels[i].UpdateWindow();
    }
    GoIdle();
    ::Sleep(kStaleMs);  // every panel's DC last began drawing long ago, as in a frame in use
  }

  void RepaintAll() {
    for (CPanel& panel : panels) {
      panel.color = kNew;
      panel.Invalidate(FALSE);
    }
    for (CPanel& panel : panels) {
      panel.UpdateWindow();
    }
  }

  kt_test::CTestHostWindow host{200, 60};
  CPanel panels[kPanels];
};

TEST_F(PaintPassTest, APassStartedThisWayReachesTheScreenOnlyWhole) {
  ASSERT_EQ(kOld, Shown(panels[0].m_hWnd));
  ktui::StartPaintPass(::GetAncestor(host.get(), GA_ROOT));
  RepaintAll();
  // The last panel has painted, and the screen still shows the old picture.
  for (const CPanel& panel : panels) {
    EXPECT_EQ(kOld, Shown(panel.m_hWnd));
  }
  GoIdle();
  for (const CPanel& panel : panels) {
    EXPECT_EQ(kNew, Shown(panel.m_hWnd));
  }
}

}  // namespace
