#include "core/Handle.h"

#include <gtest/gtest.h>

#include <cstring>
#include <type_traits>
#include <utility>

#include "tests/core/TempFolder.h"

namespace {

static_assert(!std::is_copy_constructible_v<CHandle> && !std::is_copy_assignable_v<CHandle>);
static_assert(std::is_nothrow_move_constructible_v<CHandle> && std::is_nothrow_move_assignable_v<CHandle>);
static_assert(!std::is_convertible_v<CHandle, HANDLE> && !std::is_convertible_v<HANDLE, CHandle>);
static_assert(!std::is_copy_constructible_v<CMappedView> && std::is_nothrow_move_constructible_v<CMappedView>);
static_assert(!std::is_convertible_v<CMappedView, void*> && !std::is_convertible_v<void*, CMappedView>);

bool IsOpen(HANDLE handle) {
  DWORD flags = 0;
  return GetHandleInformation(handle, &flags) != 0;
}

HANDLE NewEvent() { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }

bool IsMapped(const void* address) {
  MEMORY_BASIC_INFORMATION info = {};
  return VirtualQuery(address, &info, sizeof(info)) == sizeof(info) && info.State == MEM_COMMIT;
}

TEST(Handle, NullAndInvalidBothMeanNone) {
  for (HANDLE raw : {HANDLE(nullptr), INVALID_HANDLE_VALUE}) {
    CHandle handle(raw);
    EXPECT_FALSE(handle.valid());
    EXPECT_EQ(1, handle.Close());
    EXPECT_EQ(nullptr, handle.get());
  }
  EXPECT_FALSE(CHandle().valid());
}

TEST(Handle, ClosesWhatItHoldsWhenItGoes) {
  HANDLE raw = NewEvent();
  ASSERT_NE(nullptr, raw);
  {
    const CHandle handle(raw);
    EXPECT_TRUE(handle.valid());
    EXPECT_EQ(raw, handle.get());
    EXPECT_TRUE(IsOpen(raw));
  }
  EXPECT_FALSE(IsOpen(raw));
}

TEST(Handle, ReleaseHandsTheHandleToTheCaller) {
  CHandle handle(NewEvent());
  const HANDLE raw = handle.release();
  EXPECT_FALSE(handle.valid());
  EXPECT_TRUE(IsOpen(raw));
  EXPECT_TRUE(CloseHandle(raw));
}

TEST(Handle, ResetClosesTheOldOneAndKeepsTheSameOne) {
  CHandle handle(NewEvent());
  const HANDLE first = handle.get();
  handle.reset(first);  // taking what it holds must not close it
  EXPECT_TRUE(IsOpen(first));
  const HANDLE second = NewEvent();
  handle.reset(second);
  EXPECT_FALSE(IsOpen(first));
  EXPECT_EQ(second, handle.get());
  handle.reset();
  EXPECT_FALSE(IsOpen(second));
  EXPECT_FALSE(handle.valid());
}

TEST(Handle, MovingPassesOwnershipAndClosesWhatTheTargetHeld) {
  CHandle source(NewEvent());
  const HANDLE moved = source.get();
  CHandle target(std::move(source));
  EXPECT_FALSE(source.valid());
  EXPECT_EQ(moved, target.get());

  CHandle other(NewEvent());
  const HANDLE replaced = other.get();
  other = std::move(target);
  EXPECT_FALSE(IsOpen(replaced));
  EXPECT_FALSE(target.valid());
  EXPECT_EQ(moved, other.get());
  EXPECT_TRUE(IsOpen(moved));
}

TEST(MappedView, UnmapsWhenItGoesAndOnReset) {
  const CHandle mapping(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, nullptr));
  ASSERT_TRUE(mapping.valid());
  void* first = MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, 0);
  ASSERT_NE(nullptr, first);
  {
    const CMappedView view(first);
    view.bytes()[0] = 7;
    EXPECT_TRUE(IsMapped(first));
  }
  EXPECT_FALSE(IsMapped(first));

  CMappedView view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
  ASSERT_TRUE(view.valid());
  EXPECT_EQ(7, view.bytes()[0]);  // the mapping outlived the first view
  void* second = view.get();
  CMappedView moved(std::move(view));
  EXPECT_FALSE(view.valid());
  moved.reset();
  EXPECT_FALSE(IsMapped(second));
}

TEST(MappedView, MapReadOnlyMapsAWholeFileAndRefusesAnEmptyOne) {
  TempFolder folder;
  ASSERT_TRUE(folder.valid());
  const char text[] = "twelve bytes";
  for (const bool empty : {false, true}) {
    SCOPED_TRACE(empty ? "empty file" : "file with text");
    const std::wstring path = folder.File(empty ? L"empty.bin" : L"text.bin");
    CHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file.valid());
    DWORD written = 0;
    ASSERT_TRUE(empty || WriteFile(file.get(), text, sizeof(text) - 1, &written, nullptr));
    CMappedView view;
    EXPECT_EQ(empty ? 0 : 1, view.MapReadOnly(file.get()));
    EXPECT_EQ(!empty, view.valid());
    if (!empty) {
      EXPECT_EQ(0, std::memcmp(view.get(), text, sizeof(text) - 1));
    }
  }
}

}  // namespace
