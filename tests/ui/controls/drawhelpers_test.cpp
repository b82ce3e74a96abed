#include "ui/controls/DrawHelpers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/ui/UiHarness.h"
#include "ui/controls/StaticEx.h"
#include "ui/framework/Gdi.h"
#include "ui/framework/ThemeSwitch.h"
#include "ui/framework/WindowImpl.h"

namespace {

constexpr COLORREF kSentinel = RGB(255, 0, 255);

// A 32-bit DIB to draw on and read back, filled with kSentinel.
class CCanvas {
 public:
  CCanvas(int width, int height) : m_width(width), m_height(height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    m_dc = ::CreateCompatibleDC(nullptr);
    m_bitmap.Reset(::CreateDIBSection(m_dc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&m_bits), nullptr, 0));
    m_previous = ::SelectObject(m_dc, m_bitmap.get());
    for (int i = 0; i < width * height; ++i) {
      m_bits[i] = 0x00FF00FF;
    }
  }
  ~CCanvas() {
    ::SelectObject(m_dc, m_previous);
    ::DeleteDC(m_dc);
  }
  CCanvas(const CCanvas&) = delete;
  CCanvas& operator=(const CCanvas&) = delete;

  bool IsValid() const { return m_dc != nullptr && m_bits != nullptr; }
  HDC dc() const { return m_dc; }
  COLORREF Pixel(int x, int y) const {
    ::GdiFlush();
    const uint32_t v = m_bits[y * m_width + x];
    return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
  }
  int Count(COLORREF color) const {
    int n = 0;
    for (int y = 0; y < m_height; ++y) {
      for (int x = 0; x < m_width; ++x) {
        n += Pixel(x, y) == color ? 1 : 0;
      }
    }
    return n;
  }

 private:
  int m_width;
  int m_height;
  HDC m_dc = nullptr;
  CBitmap m_bitmap;
  HGDIOBJ m_previous = nullptr;
  uint32_t* m_bits = nullptr;
};

COLORREF Band(COLORREF from, COLORREF to, int step) {
  auto mix = [step](int a, int b) { return (a * (64 - step) + b * step) / 64; };
  return RGB(mix(GetRValue(from), GetRValue(to)), mix(GetGValue(from), GetGValue(to)),
             mix(GetBValue(from), GetBValue(to)));
}

// Restores the run's setting (themes off) whatever a test switched.
class CThemesAllowedScope {
 public:
  explicit CThemesAllowedScope(bool allowed) : m_old(AreThemesAllowed()) { SetThemesAllowed(allowed); }
  ~CThemesAllowedScope() { SetThemesAllowed(m_old); }
  CThemesAllowedScope(const CThemesAllowedScope&) = delete;
  CThemesAllowedScope& operator=(const CThemesAllowedScope&) = delete;

 private:
  bool m_old;
};

// ---- DrawGradientRect ----------------------------------------------------

constexpr COLORREF kFrom = RGB(0, 40, 255);
constexpr COLORREF kTo = RGB(255, 200, 0);

// Which band covers line `line` of `extent` lines (the last band whose start
// is at or before it).
int BandOfLine(int line, int extent) {
  int band = 0;
  for (int i = 0; i < 64; ++i) {
    if ((i * extent) / 64 <= line && ((i + 1) * extent) / 64 > line) {
      band = i;
    }
  }
  return band;
}

TEST(DrawGradientRect, RowsFollowTheSixtyFourBands) {
  struct Case {
    int height;
    int bandOfRow1;  // 32 rows: only odd bands have a row; 128: two rows each
  };
  for (const Case& c : {Case{32, 3}, Case{128, 0}, Case{64, 1}, Case{100, 1}}) {
    CCanvas canvas(8, c.height + 2);
    ASSERT_TRUE(canvas.IsValid());
    const RECT r = {2, 1, 6, 1 + c.height};
    DrawGradientRect(canvas.dc(), r, kFrom, kTo, false);
    EXPECT_EQ(BandOfLine(1, c.height), c.bandOfRow1) << c.height;
    for (int y = 0; y < c.height; ++y) {
      const COLORREF expected = Band(kFrom, kTo, BandOfLine(y, c.height));
      ASSERT_EQ(canvas.Pixel(2, 1 + y), expected) << "height " << c.height << " row " << y;
      ASSERT_EQ(canvas.Pixel(5, 1 + y), expected) << "height " << c.height << " row " << y;
    }
    EXPECT_EQ(canvas.Pixel(2, 0), kSentinel);
    EXPECT_EQ(canvas.Pixel(2, c.height + 1), kSentinel);
    EXPECT_EQ(canvas.Pixel(1, 5), kSentinel);
    EXPECT_EQ(canvas.Pixel(6, 5), kSentinel);
  }
}

TEST(DrawGradientRect, FirstBandIsTheFromColourAndLastStopsShortOfTo) {
  CCanvas canvas(4, 128);
  ASSERT_TRUE(canvas.IsValid());
  DrawGradientRect(canvas.dc(), RECT{0, 0, 4, 128}, RGB(0, 0, 0), RGB(255, 255, 255), false);
  EXPECT_EQ(canvas.Pixel(0, 0), RGB(0, 0, 0));
  EXPECT_EQ(canvas.Pixel(0, 1), RGB(0, 0, 0));
  EXPECT_EQ(canvas.Pixel(0, 2), RGB(3, 3, 3));
  EXPECT_EQ(canvas.Pixel(0, 127), RGB(251, 251, 251));
}

TEST(DrawGradientRect, HorizontalMakesColumns) {
  CCanvas canvas(34, 3);
  ASSERT_TRUE(canvas.IsValid());
  DrawGradientRect(canvas.dc(), RECT{1, 1, 33, 2}, kFrom, kTo, true);
  for (int x = 0; x < 32; ++x) {
    ASSERT_EQ(canvas.Pixel(1 + x, 1), Band(kFrom, kTo, BandOfLine(x, 32))) << x;
  }
  EXPECT_EQ(canvas.Pixel(0, 1), kSentinel);
  EXPECT_EQ(canvas.Pixel(33, 1), kSentinel);
  EXPECT_EQ(canvas.Pixel(5, 0), kSentinel);
  EXPECT_EQ(canvas.Pixel(5, 2), kSentinel);
}

TEST(DrawGradientRect, EqualColoursGiveOneFlatColour) {
  CCanvas canvas(10, 50);
  ASSERT_TRUE(canvas.IsValid());
  DrawGradientRect(canvas.dc(), RECT{0, 0, 10, 50}, RGB(10, 120, 230), RGB(10, 120, 230), false);
  EXPECT_EQ(canvas.Count(RGB(10, 120, 230)), 500);
}

TEST(DrawGradientRect, EmptyOrInvertedRectanglesDrawNothing) {
  CCanvas canvas(10, 10);
  ASSERT_TRUE(canvas.IsValid());
  for (const RECT& r : {RECT{2, 2, 2, 8}, RECT{2, 2, 8, 2}, RECT{8, 8, 2, 2}}) {
    DrawGradientRect(canvas.dc(), r, kFrom, kTo, false);
    DrawGradientRect(canvas.dc(), r, kFrom, kTo, true);
  }
  EXPECT_EQ(canvas.Count(kSentinel), 100);
}

// ---- DrawDropArrow -------------------------------------------------------

TEST(DrawDropArrow, DrawsThreeCentredRowsPointingDown) {
  struct Case {
    RECT rect;
    int firstRow;  // the 6-pixel row
    int left6;     // first pixel of each row
    int left4;
    int left2;
  };
  for (const Case& c : {Case{{0, 0, 16, 16}, 8, 5, 6, 7}, Case{{10, 4, 21, 13}, 8, 12, 13, 14},
                        Case{{3, 3, 9, 6}, 4, 3, 4, 5}}) {
    CCanvas canvas(24, 24);
    ASSERT_TRUE(canvas.IsValid());
    constexpr COLORREF kArrow = RGB(20, 30, 40);
    DrawDropArrow(canvas.dc(), c.rect, kArrow);
    EXPECT_EQ(canvas.Count(kArrow), 12);
    const struct {
      int y, left, width;
    } rows[] = {{c.firstRow, c.left6, 6}, {c.firstRow + 1, c.left4, 4}, {c.firstRow + 2, c.left2, 2}};
    for (const auto& row : rows) {
      for (int x = row.left; x < row.left + row.width; ++x) {
        EXPECT_EQ(canvas.Pixel(x, row.y), kArrow) << c.rect.left << ": " << x << "," << row.y;
      }
    }
  }
}

// ---- CThemeHelper and CThemeWindowT ------------------------------------

TEST(ThemeHelper, IsOneObjectWhoseFlagNeedsTheWholeSet) {
  CThemeHelper& helper = GetThemeHelper();
  EXPECT_EQ(&helper, &GetThemeHelper());
  if (helper.OpenThemeData == nullptr || helper.CloseThemeData == nullptr || helper.DrawThemeBackground == nullptr) {
    EXPECT_EQ(helper.IsThemeActive, nullptr);
    EXPECT_EQ(helper.active, 0);
  }
  if (helper.module == nullptr) {
    EXPECT_EQ(helper.active, 0);
  }
}

TEST(ThemeHelper, TheProgramSwitchPinsTheClassicLook) {
  CThemeHelper& helper = GetThemeHelper();
  {
    CThemesAllowedScope themes(true);
    EXPECT_EQ(helper.IsActive(), helper.active != 0);
  }
  CThemesAllowedScope themes(false);
  EXPECT_FALSE(helper.IsActive());
  kt_test::CTestHostWindow host(40, 20);
  EXPECT_EQ(helper.OpenTheme(host.get(), L"TOOLBAR"), nullptr);

  CCanvas canvas(10, 10);
  ASSERT_TRUE(canvas.IsValid());
  EXPECT_EQ(DrawThemedBackground(nullptr, canvas.dc(), 1, 1, RECT{0, 0, 10, 10}), S_FALSE);
  EXPECT_EQ(canvas.Count(kSentinel), 100);
}

// A window that keeps a theme and notes which messages reach its own map.
class CThemedWindow : public CWindowImpl<CThemedWindow>, public CThemeWindowT<CThemedWindow> {
 public:
  CThemedWindow() : CThemeWindowT<CThemedWindow>(L"TOOLBAR") {}

  BEGIN_MSG_MAP(CThemedWindow)
    CHAIN_MSG_MAP(CThemeWindowT<CThemedWindow>)
    MESSAGE_HANDLER(WM_CREATE, OnSeen)
    MESSAGE_HANDLER(WM_THEMECHANGED, OnSeen)
    MESSAGE_HANDLER(WM_DESTROY, OnSeen)
  END_MSG_MAP()

  LRESULT OnSeen(UINT msg, WPARAM, LPARAM) {
    seen.push_back(msg);
    SetMsgHandled(FALSE);
    return 0;
  }

  std::vector<UINT> seen;
};

TEST(ThemeWindow, KeepsNoThemeWhileThemesAreOffAndPassesMessagesOn) {
  CThemesAllowedScope themes(false);
  kt_test::CTestHostWindow host(40, 20);
  CThemedWindow window;
  const RECT r = {0, 0, 20, 10};
  ASSERT_NE(window.Create(host.get(), &r), nullptr);
  EXPECT_EQ(window.GetTheme(), nullptr);
  ::SendMessageW(window.m_hWnd, WM_THEMECHANGED, 0, 0);
  EXPECT_EQ(window.GetTheme(), nullptr) << "a system theme must not come back while the program has themes off";
  window.DestroyWindow();
  EXPECT_EQ(window.seen, (std::vector<UINT>{WM_CREATE, WM_THEMECHANGED, WM_DESTROY}));
}

TEST(ThemeWindow, RenewsAndDropsItsThemeWithTheSystem) {
  CThemesAllowedScope themes(true);
  kt_test::CTestHostWindow host(40, 20);
  CThemedWindow window;
  const RECT r = {0, 0, 20, 10};
  ASSERT_NE(window.Create(host.get(), &r), nullptr);
  ::SendMessageW(window.m_hWnd, WM_THEMECHANGED, 0, 0);
  if (!GetThemeHelper().IsActive()) {
    EXPECT_EQ(window.GetTheme(), nullptr);
  }
  SetThemesAllowed(false);
  ::SendMessageW(window.m_hWnd, WM_THEMECHANGED, 0, 0);
  EXPECT_EQ(window.GetTheme(), nullptr);
  window.DestroyWindow();
  EXPECT_EQ(window.GetTheme(), nullptr);
}

// ---- CStaticEx -----------------------------------------------------------

constexpr COLORREF kLabelBack = RGB(200, 220, 240);
constexpr COLORREF kLabelText = RGB(200, 0, 0);
constexpr int kLabelWidth = 60;
constexpr int kLabelHeight = 20;

// The label's parent: answers WM_CTLCOLORSTATIC with its brush (or none).
class CLabelParent : public CWindowImpl<CLabelParent> {
 public:
  BEGIN_MSG_MAP(CLabelParent)
    MESSAGE_HANDLER(WM_CTLCOLORSTATIC, OnCtlColorStatic)
  END_MSG_MAP()

  LRESULT OnCtlColorStatic(UINT, WPARAM, LPARAM lParam) {
    asked = reinterpret_cast<HWND>(lParam);
    return giveBrush ? reinterpret_cast<LRESULT>(brush.get()) : 0;
  }

  CBrush brush;
  bool giveBrush = true;
  HWND asked = nullptr;
};

class StaticExTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(parent.brush.CreateSolidBrush(kLabelBack));
    const RECT area = {0, 0, 100, 40};
    ASSERT_NE(parent.Create(host.get(), &area), nullptr);
    const RECT r = {10, 10, 10 + kLabelWidth, 10 + kLabelHeight};
    ASSERT_NE(label.Create(parent.m_hWnd, &r, L"Step"), nullptr);
    label.SetTextColor(kLabelText);
  }
  void TearDown() override {
    label.DestroyWindow();
    parent.DestroyWindow();
  }

  kt_test::CTestHostWindow host{120, 60};
  CLabelParent parent;
  CStaticEx label;
};

TEST_F(StaticExTest, StartsAsBlackText) {
  CStaticEx fresh;
  EXPECT_EQ(fresh.GetState(), CStaticEx::kStateText);
  EXPECT_EQ(fresh.GetTextColor(), RGB(0, 0, 0));
}

TEST_F(StaticExTest, TextStateDrawsTheTextInItsColourOnTheParentsBrush) {
  const kt_test::CPixels pixels = kt_test::CapturePixels(label.m_hWnd);
  ASSERT_FALSE(pixels.IsEmpty());
  EXPECT_EQ(parent.asked, label.m_hWnd);
  const int text = pixels.CountColor(kLabelText);
  EXPECT_GT(text, 10);
  EXPECT_EQ(pixels.CountColor(kt_test::kUnpaintedColor), 0);
  EXPECT_GT(pixels.CountColor(kLabelBack), kLabelWidth * kLabelHeight / 2);
  // Left-aligned and vertically centred: the top and bottom rows and the
  // right half stay background.
  EXPECT_EQ(pixels.CountColor(kLabelText, RECT{0, 0, kLabelWidth, 3}), 0);
  EXPECT_EQ(pixels.CountColor(kLabelText, RECT{0, kLabelHeight - 3, kLabelWidth, kLabelHeight}), 0);
  EXPECT_EQ(pixels.CountColor(kLabelText, RECT{kLabelWidth / 2, 0, kLabelWidth, kLabelHeight}), 0);
  kt_test::SaveScreenshot(parent.m_hWnd, L"staticex_text");
}

TEST_F(StaticExTest, TickStateDrawsTheTickWithTheCurrentPen) {
  label.SetState(CStaticEx::kStateTick);
  const kt_test::CPixels pixels = kt_test::CapturePixels(label.m_hWnd);
  ASSERT_FALSE(pixels.IsEmpty());
  // 60 x 20: L = 24, T = 6, R = 34, B = 16.
  const POINT expected[] = {{25, 11}, {26, 12}, {27, 13}, {28, 12}, {29, 11}, {32, 8},
                            {25, 10}, {26, 11}, {27, 12}, {28, 11}, {29, 10}, {32, 7}};
  for (const POINT& p : expected) {
    EXPECT_EQ(pixels.Pixel(p.x, p.y), RGB(0, 0, 0)) << p.x << "," << p.y;
  }
  EXPECT_EQ(pixels.CountColor(RGB(0, 0, 0)), 16);
  EXPECT_EQ(pixels.CountColor(kLabelText), 0);
  EXPECT_EQ(pixels.CountColor(kLabelBack), kLabelWidth * kLabelHeight - 16);
  kt_test::SaveScreenshot(parent.m_hWnd, L"staticex_tick");
}

TEST_F(StaticExTest, OtherStatesPaintOnlyTheBackground) {
  for (UINT state : {1u, 3u, 0xFFFFFFFFu}) {
    label.SetState(state);
    const kt_test::CPixels pixels = kt_test::CapturePixels(label.m_hWnd);
    EXPECT_EQ(pixels.CountColor(kLabelBack), kLabelWidth * kLabelHeight) << state;
  }
}

// The double buffer starts undefined: without a brush from the parent the
// label must still paint every pixel.
TEST_F(StaticExTest, WithoutABrushFromTheParentPaintsTheFaceColour) {
  parent.giveBrush = false;
  label.SetState(1);
  const kt_test::CPixels pixels = kt_test::CapturePixels(label.m_hWnd);
  EXPECT_EQ(pixels.CountColor(::GetSysColor(COLOR_BTNFACE)), kLabelWidth * kLabelHeight);
}

TEST_F(StaticExTest, DrawsWithItsOwnFontWhenGivenOne) {
  const int defaultText = kt_test::CapturePixels(label.m_hWnd).CountColor(kLabelText);
  CFont big;
  ASSERT_TRUE(big.CreatePointFont(160, L"Tahoma", FW_BOLD));
  label.SetFont(big.get());
  EXPECT_EQ(label.GetFont(), big.get());
  const int bigText = kt_test::CapturePixels(label.m_hWnd).CountColor(kLabelText);
  EXPECT_GT(bigText, defaultText * 2);
  label.SetFont(nullptr);
}

}  // namespace
