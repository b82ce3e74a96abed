#include <gtest/gtest.h>

#include "core/RefString.h"

namespace {

TEST(RefString, CopiesShareUntilOneChanges) {
  CString a(L"trace");
  CString b = a;
  EXPECT_EQ(a.c_str(), b.c_str());
  EXPECT_EQ(2, a.RefCount());
  ASSERT_TRUE(b.Append(L".ktr"));
  EXPECT_STREQ(L"trace", a);
  EXPECT_STREQ(L"trace.ktr", b);
  EXPECT_EQ(1, a.RefCount());
  b.MakeLower();
  CString c = b;
  c.MakeLower();  // a shared block is copied before it is changed
  EXPECT_NE(b.c_str(), c.c_str());
}

TEST(RefString, EmptyAndNullAreTheSame) {
  CString a;
  CString b(nullptr);
  EXPECT_STREQ(L"", a);
  EXPECT_TRUE(b.IsEmpty());
  EXPECT_TRUE(a == b);
  EXPECT_EQ(0, a.CompareNoCase(nullptr));
}

TEST(RefString, FormatUsesWindowsWideRules) {
  CString s;
  ASSERT_TRUE(s.Format(L"%s (%s) - %s|%hs|%u", L"ALL", L"pid:all", L"a.ktr", "narrow", 42u));
  EXPECT_STREQ(L"ALL (pid:all) - a.ktr|narrow|42", s);
  std::wstring longText(5000, L'x');
  ASSERT_TRUE(s.Format(L"%s!", longText.c_str()));
  EXPECT_EQ(5001u, s.GetLength());
}

TEST(RefString, AppendAndAssignFromItsOwnText) {
  CString s(L"abc");
  ASSERT_TRUE(s.Append(s.c_str()));
  EXPECT_STREQ(L"abcabc", s);
  ASSERT_TRUE(s.Assign(s.c_str() + 3, 2));
  EXPECT_STREQ(L"ab", s);
}

}  // namespace
