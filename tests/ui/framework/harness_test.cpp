// The harness itself: capture, screenshots and the popup seams, on real
// controls.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <vector>

#include "tests/ui/UiHarness.h"
#include "ui/framework/Controls.h"
#include "ui/framework/Menu.h"
#include "ui/framework/PopupSeam.h"

namespace {

constexpr UINT kMenuFirst = 33100;
constexpr UINT kMenuSecond = 33101;

TEST(UiHarness, ListViewRendersIntoTheCapture) {
  kt_test::CTestHostWindow host;
  HWND hwnd = ::CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0, 300, 150, host.get(),
                                nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, hwnd);
  CListViewCtrl list(hwnd);
  ASSERT_EQ(0, list.InsertColumn(0, L"Name", LVCFMT_LEFT, 120));
  ASSERT_EQ(0, list.InsertItem(0, L"first row"));
  ASSERT_TRUE(list.SetItemText(0, 0, L"renamed row"));
  CString text;
  ASSERT_TRUE(list.GetItemText(0, 0, text));
  EXPECT_STREQ(L"renamed row", text);

  const kt_test::CPixels pixels = kt_test::CapturePixels(hwnd);
  ASSERT_EQ(300, pixels.width);
  ASSERT_EQ(150, pixels.height);
  EXPECT_EQ(0, pixels.CountColor(kt_test::kUnpaintedColor));
  const COLORREF background = pixels.Pixel(pixels.width - 2, pixels.height - 2);
  RECT row;
  ASSERT_TRUE(list.GetItemRect(0, &row, LVIR_LABEL));
  const int rowPixels = (row.right - row.left) * (row.bottom - row.top);
  EXPECT_LT(pixels.CountColor(background, row), rowPixels);  // the text left marks in its row
  EXPECT_EQ(2 * 2, pixels.CountColor(background, RECT{100, 120, 102, 122}));
}

TEST(UiHarness, ScreenshotIsAReadableBitmap) {
  kt_test::CPixels pixels;
  pixels.width = 3;
  pixels.height = 2;
  pixels.bgra = {0x000000FF, 0x0000FF00, 0x00FF0000, 0x00FFFFFF, 0x00000000, 0x00808080};
  const std::wstring path = kt_test::ScreenshotFolder() + L"\\harness_selftest.bmp";
  ASSERT_TRUE(kt_test::WriteBmp(pixels, path));

  HBITMAP loaded = static_cast<HBITMAP>(::LoadImageW(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
  ASSERT_NE(nullptr, loaded);
  HDC dc = ::CreateCompatibleDC(nullptr);
  HGDIOBJ previous = ::SelectObject(dc, loaded);
  EXPECT_EQ(pixels.Pixel(0, 0), ::GetPixel(dc, 0, 0));
  EXPECT_EQ(RGB(0, 0, 255), ::GetPixel(dc, 0, 0));
  EXPECT_EQ(pixels.Pixel(2, 0), ::GetPixel(dc, 2, 0));
  EXPECT_EQ(pixels.Pixel(2, 1), ::GetPixel(dc, 2, 1));
  ::SelectObject(dc, previous);
  ::DeleteDC(dc);
  ::DeleteObject(loaded);
}

TEST(PopupSeam, PopupMenusAndMessageBoxesAreRecordedNotShown) {
  kt_test::CTestHostWindow host;
  CMenu menu;
  ASSERT_TRUE(menu.CreatePopupMenu());
  menu.AppendMenu(MF_STRING, kMenuFirst, L"First");
  menu.AppendMenu(MF_STRING, kMenuSecond, L"Second");

  kt_test::CPopupRecorder recorder;
  recorder.menuAnswer = kMenuSecond;
  recorder.messageBoxAnswer = IDNO;
  EXPECT_EQ(BOOL(kMenuSecond), menu.TrackPopupMenu(TPM_RETURNCMD | TPM_NONOTIFY, 40, 50, host.get()));
  EXPECT_EQ(IDNO, g_messageBox(host.get(), L"Save changes?", L"keltracer", MB_YESNO | MB_ICONQUESTION));

  ASSERT_EQ(1u, recorder.menus.size());
  EXPECT_EQ(menu.get(), recorder.menus[0].menu);
  EXPECT_EQ(40, recorder.menus[0].x);
  EXPECT_EQ(50, recorder.menus[0].y);
  EXPECT_EQ(host.get(), recorder.menus[0].owner);
  ASSERT_EQ(1u, recorder.messageBoxes.size());
  EXPECT_EQ(L"Save changes?", recorder.messageBoxes[0].text);
  EXPECT_EQ(UINT(MB_YESNO | MB_ICONQUESTION), recorder.messageBoxes[0].type);
}

TEST(PopupSeam, UnexpectedPopupsFailInsteadOfBlocking) {
  CMenu menu;
  ASSERT_TRUE(menu.CreatePopupMenu());
  EXPECT_NONFATAL_FAILURE(menu.TrackPopupMenu(TPM_RETURNCMD, 0, 0, nullptr), "unexpected popup menu");
  EXPECT_NONFATAL_FAILURE(g_messageBox(nullptr, L"text", L"caption", MB_OK), "unexpected message box");
}

}  // namespace
