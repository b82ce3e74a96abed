#include <gtest/gtest.h>

#include <windows.h>

#include "tests/ui/UiHarness.h"
#include "tests/ui/framework_test_res.h"
#include "ui/framework/ImageList.h"

namespace {

constexpr int kPictureWidth = 16;
constexpr int kPictures = 3;  // framework_test_toolbar.bmp is 48 pixels wide

TEST(ImageList, StripFromABitmapResourceAndADragOverTheHost) {
  kt_test::CTestHostWindow host;
  CImageList images;
  ASSERT_TRUE(images.CreateFromImage(IDR_TEST_TOOLBAR, kPictureWidth, kPictures, CLR_DEFAULT, LR_CREATEDIBSECTION));
  EXPECT_EQ(kPictures, images.GetImageCount());
  int cx = 0, cy = 0;
  ASSERT_TRUE(images.GetIconSize(&cx, &cy));
  EXPECT_EQ(kPictureWidth, cx);
  EXPECT_EQ(15, cy);

  ASSERT_TRUE(images.BeginDrag(1, -12, -10));
  EXPECT_TRUE(CImageList::DragEnter(host.get(), 20, 20));
  EXPECT_TRUE(CImageList::DragMove(40, 30));
  EXPECT_TRUE(CImageList::DragLeave(host.get()));
  CImageList::EndDrag();
}

TEST(ImageList, MovedListHasOneOwner) {
  CImageList first;
  ASSERT_TRUE(first.Create(16, 16, ILC_COLOR32 | ILC_MASK, 1, 1));
  const HIMAGELIST handle = first.get();
  CImageList second(std::move(first));
  EXPECT_TRUE(first.IsNull());
  EXPECT_EQ(handle, second.get());
  HIMAGELIST given = second.Detach();
  EXPECT_TRUE(second.IsNull());
  EXPECT_TRUE(ImageList_Destroy(given));  // still alive: nobody destroyed it on the way
}

}  // namespace
