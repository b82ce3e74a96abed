#include <gtest/gtest.h>

#include <windows.h>

#include "resource.h"

namespace {

TEST(ResourceArt, ProgramIconHasBothSizes) {
  HINSTANCE module = GetModuleHandleW(nullptr);
  for (int size : {16, 32}) {
    HICON icon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, size, size, 0));
    ASSERT_NE(nullptr, icon) << size;
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP bitmap{};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bitmap), &bitmap);
    EXPECT_EQ(size, bitmap.bmWidth);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    DestroyIcon(icon);
  }
}

TEST(ResourceArt, DragStripHoldsTwo16PixelImages) {
  HBITMAP strip = static_cast<HBITMAP>(
      LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_DRAG), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  ASSERT_NE(nullptr, strip);
  BITMAP bitmap{};
  ASSERT_TRUE(GetObjectW(strip, sizeof(bitmap), &bitmap));
  EXPECT_EQ(32, bitmap.bmWidth);
  EXPECT_EQ(16, bitmap.bmHeight);
  DeleteObject(strip);
}

}  // namespace
