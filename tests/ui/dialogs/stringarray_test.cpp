#include <gtest/gtest.h>

#include "ui/dialogs/StringArray.h"

namespace {

TEST(DeleteStringArray, FreesEveryStringAndKeepsTheCapacity) {
  CGrowArray<CString*> array;
  ASSERT_EQ(1, array.Append(new CString(L"one")));
  ASSERT_EQ(1, array.Append(nullptr));
  CString shared(L"shared text");
  ASSERT_EQ(1, array.Append(new CString(shared)));  // a copy sharing its block
  const size_t capacity = array.capacity;
  DeleteStringArray(nullptr, &array);
  EXPECT_EQ(0u, array.count);
  EXPECT_EQ(capacity, array.capacity);
  EXPECT_STREQ(L"shared text", shared.c_str());
  // Filled again, emptied again: nothing of the first fill is touched.
  ASSERT_EQ(1, array.Append(new CString(L"two")));
  DeleteStringArray(&array, &array);
  EXPECT_EQ(0u, array.count);
  DeleteStringArray(nullptr, nullptr);
}

}  // namespace
