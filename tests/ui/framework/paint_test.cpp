#include <gtest/gtest.h>

#include "tests/ui/UiHarness.h"
#include "ui/framework/DeviceContext.h"
#include "ui/framework/DoubleBuffer.h"
#include "ui/framework/Gdi.h"
#include "ui/framework/WindowImpl.h"

namespace {

constexpr COLORREF kLeftFirst = RGB(20, 40, 200);
constexpr COLORREF kRightFirst = RGB(20, 160, 40);
constexpr COLORREF kLeftSecond = RGB(230, 210, 20);
constexpr COLORREF kRightSecond = RGB(20, 200, 210);
constexpr int kWidth = 120;
constexpr int kHeight = 60;

// Paints its left half in one colour and its right half in another, in
// client coordinates, so a wrongly placed buffer shows at once.
class CHalvesWindow : public CWindowImpl<CHalvesWindow>, public CDoubleBufferImpl<CHalvesWindow> {
 public:
  COLORREF left = kLeftFirst;
  COLORREF right = kRightFirst;
  HDC lastPaintDc = nullptr;
  int paints = 0;

  BEGIN_MSG_MAP(CHalvesWindow)
    CHAIN_MSG_MAP(CDoubleBufferImpl<CHalvesWindow>)
  END_MSG_MAP()

  void DoPaint(HDC dc) {
    ++paints;
    lastPaintDc = dc;
    RECT client;
    GetClientRect(&client);
    CDCHandle target(dc);
    const int middle = client.right / 2;
    target.FillSolidRect(RECT{0, 0, middle, client.bottom}, left);
    target.FillSolidRect(RECT{middle, 0, client.right, client.bottom}, right);
  }
};

class DoubleBufferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RECT rect = {0, 0, kWidth, kHeight};
    ASSERT_NE(nullptr, window.Create(host.get(), &rect));
    window.UpdateWindow();
  }
  kt_test::CTestHostWindow host;
  CHalvesWindow window;
};

TEST_F(DoubleBufferTest, PrintClientDrawsThroughTheBuffer) {
  window.paints = 0;
  const kt_test::CPixels pixels = kt_test::CapturePixels(window.m_hWnd);
  ASSERT_EQ(kWidth, pixels.width);
  EXPECT_EQ(1, window.paints);
  EXPECT_EQ(kWidth / 2 * kHeight, pixels.CountColor(kLeftFirst));
  EXPECT_EQ(kWidth / 2 * kHeight, pixels.CountColor(kRightFirst));
  EXPECT_EQ(0, pixels.CountColor(kt_test::kUnpaintedColor));
  kt_test::SaveScreenshot(window.m_hWnd, L"double_buffer_halves");
}

TEST_F(DoubleBufferTest, EraseIsSuppressed) {
  window.paints = 0;
  HDC dc = ::GetDC(window.m_hWnd);
  EXPECT_EQ(1, window.SendMessage(WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc)));
  ::ReleaseDC(window.m_hWnd, dc);
  EXPECT_EQ(0, window.paints);
}

TEST_F(DoubleBufferTest, PartialPaintLandsWhereItWasAskedFor) {
  window.left = kLeftSecond;
  window.right = kRightSecond;
  const RECT strip = {kWidth / 2 - 20, 10, kWidth / 2 + 20, 30};  // across the middle
  window.InvalidateRect(&strip, FALSE);
  window.paints = 0;
  window.UpdateWindow();
  EXPECT_EQ(1, window.paints);
  EXPECT_NE(nullptr, window.lastPaintDc);

  CClientDC screen(window.m_hWnd);
  ASSERT_FALSE(screen.IsNull());
  EXPECT_EQ(kLeftSecond, screen.GetPixel(kWidth / 2 - 10, 20));
  EXPECT_EQ(kRightSecond, screen.GetPixel(kWidth / 2 + 10, 20));
  EXPECT_EQ(kLeftFirst, screen.GetPixel(5, 20));            // outside the strip: untouched
  EXPECT_EQ(kRightFirst, screen.GetPixel(kWidth - 5, 20));
  EXPECT_EQ(kLeftFirst, screen.GetPixel(kWidth / 2 - 10, 40));
}

// A held window keeps its old pixels through a paint forced with
// RDW_UPDATENOW; the last release of nested holds leaves the paint owed, for
// the owner's one pass, and a release with nothing owed asks for none.
TEST_F(DoubleBufferTest, HeldPaintsAreOwedUntilTheLastReleaseAndPaintedOnceThen) {
  window.left = kLeftSecond;
  window.right = kRightSecond;
  window.paints = 0;
  window.HoldPainting();
  window.HoldPainting();
  window.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  EXPECT_EQ(0, window.paints);
  EXPECT_FALSE(::GetUpdateRect(window.m_hWnd, nullptr, FALSE));
  CClientDC screen(window.m_hWnd);
  ASSERT_FALSE(screen.IsNull());
  EXPECT_EQ(kLeftFirst, screen.GetPixel(5, 20));

  window.ReleasePainting();
  EXPECT_TRUE(window.IsPaintingHeld());
  EXPECT_FALSE(::GetUpdateRect(window.m_hWnd, nullptr, FALSE));
  window.ReleasePainting();
  EXPECT_FALSE(window.IsPaintingHeld());
  EXPECT_TRUE(::GetUpdateRect(window.m_hWnd, nullptr, FALSE));
  EXPECT_EQ(kLeftFirst, screen.GetPixel(5, 20));  // owed, not painted yet
  window.UpdateWindow();
  EXPECT_EQ(1, window.paints);
  EXPECT_EQ(kLeftSecond, screen.GetPixel(5, 20));
  EXPECT_EQ(kRightSecond, screen.GetPixel(kWidth - 5, 20));

  window.HoldPainting();
  window.ReleasePainting();
  EXPECT_FALSE(::GetUpdateRect(window.m_hWnd, nullptr, FALSE));
  window.ReleasePainting();  // one release too many is ignored
  EXPECT_FALSE(window.IsPaintingHeld());
}

TEST(Gdi, SelectionIsUndoneBeforeTheOwnerDeletesTheObject) {
  HDC dc = ::CreateCompatibleDC(nullptr);
  ASSERT_NE(nullptr, dc);
  const HGDIOBJ stockPen = ::GetCurrentObject(dc, OBJ_PEN);
  {
    CPen pen;
    ASSERT_TRUE(pen.CreatePen(PS_SOLID, 1, RGB(237, 237, 237)));
    CSelectObject selected(dc, pen.get());
    EXPECT_EQ(pen.get(), ::GetCurrentObject(dc, OBJ_PEN));
  }
  EXPECT_EQ(stockPen, ::GetCurrentObject(dc, OBJ_PEN));
  ::DeleteDC(dc);
}

TEST(Gdi, MemoryDcOverAnEmptyAreaIsNotValid) {
  HDC screen = ::GetDC(nullptr);
  {
    CMemoryDC empty(screen, RECT{10, 10, 10, 20});
    EXPECT_FALSE(empty.IsValid());
    EXPECT_FALSE(empty.Present());
    CMemoryDC area(screen, RECT{0, 0, 4, 4});
    EXPECT_TRUE(area.IsValid());
  }
  ::ReleaseDC(nullptr, screen);
}

TEST(Gdi, PaintBitmapIsReusedUntilALargerAreaIsAskedFor) {
  HDC screen = ::GetDC(nullptr);
  CPaintBitmap kept;
  const HBITMAP first = kept.Get(screen, 40, 30);
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(first, kept.Get(screen, 40, 30));
  EXPECT_EQ(first, kept.Get(screen, 10, 5));
  // Wider but lower still needs a new one; it keeps the larger height too.
  const HBITMAP wider = kept.Get(screen, 60, 10);
  ASSERT_NE(nullptr, wider);
  BITMAP info = {};
  ASSERT_EQ(int(sizeof(info)), ::GetObjectW(wider, sizeof(info), &info));
  EXPECT_EQ(60, info.bmWidth);
  EXPECT_EQ(30, info.bmHeight);
  EXPECT_EQ(0, ::GetObjectW(first, sizeof(info), &info));  // the outgrown one is deleted
  EXPECT_EQ(nullptr, kept.Get(screen, 0, 10));
  ::ReleaseDC(nullptr, screen);
}

TEST(Gdi, MemoryDcOverAKeptBitmapPresentsItsAreaAndLeavesTheBitmapAlive) {
  HDC screen = ::GetDC(nullptr);
  HDC target = ::CreateCompatibleDC(screen);
  HBITMAP targetBitmap = ::CreateCompatibleBitmap(screen, 20, 20);
  const HGDIOBJ old = ::SelectObject(target, targetBitmap);
  CBrush white, red;
  ASSERT_TRUE(white.CreateSolidBrush(RGB(255, 255, 255)) && red.CreateSolidBrush(RGB(255, 0, 0)));
  RECT all = {0, 0, 20, 20};
  ::FillRect(target, &all, white.get());
  CPaintBitmap kept;
  for (int pass = 0; pass < 2; ++pass) {  // the second paint draws into the same bitmap
    const RECT area = {5, 5, 10, 10};
    CMemoryDC buffer(target, area, kept);
    ASSERT_TRUE(buffer.IsValid());
    ::FillRect(buffer.get(), &area, red.get());  // the target's coordinates
    EXPECT_TRUE(buffer.Present());
  }
  EXPECT_EQ(RGB(255, 0, 0), ::GetPixel(target, 5, 5));
  EXPECT_EQ(RGB(255, 0, 0), ::GetPixel(target, 9, 9));
  EXPECT_EQ(RGB(255, 255, 255), ::GetPixel(target, 10, 10));
  EXPECT_EQ(RGB(255, 255, 255), ::GetPixel(target, 4, 4));
  BITMAP info = {};
  EXPECT_NE(0, ::GetObjectW(kept.Get(target, 5, 5), sizeof(info), &info));
  ::SelectObject(target, old);
  ::DeleteObject(targetBitmap);
  ::DeleteDC(target);
  ::ReleaseDC(nullptr, screen);
}

TEST(Gdi, OwnerMoveLeavesOneOwner) {
  CBrush first;
  ASSERT_TRUE(first.CreateSolidBrush(RGB(1, 2, 3)));
  const HBRUSH handle = first.get();
  CBrush second(std::move(first));
  EXPECT_TRUE(first.IsNull());
  EXPECT_EQ(handle, second.get());
  LOGBRUSH info = {};
  EXPECT_EQ(int(sizeof(info)), ::GetObjectW(second.get(), sizeof(info), &info));
  second.Reset();
  EXPECT_EQ(0, ::GetObjectW(handle, sizeof(info), &info));  // deleted exactly once, by its last owner
}

}  // namespace
