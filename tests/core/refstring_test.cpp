#include <gtest/gtest.h>

#include "core/RefString.h"

#include <string>

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

// The first string that the table of `module` holds, with its id.
bool FindFirstString(HMODULE module, UINT* id, std::wstring* text) {
  for (UINT candidate = 1; candidate < 4096; ++candidate) {
    wchar_t buffer[512];
    const int n = LoadStringW(module, candidate, buffer, 512);
    if (n > 0 && n < 511) {
      *id = candidate;
      text->assign(buffer, size_t(n));
      return true;
    }
  }
  return false;
}

TEST(RefString, LoadStringReadsTheWholeTableEntry) {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  ASSERT_NE(nullptr, user32);
  UINT id = 0;
  std::wstring expected;
  ASSERT_TRUE(FindFirstString(user32, &id, &expected));
  CString s(L"old");
  ASSERT_TRUE(s.LoadString(user32, id));
  EXPECT_EQ(expected, std::wstring(s.c_str()));
  EXPECT_EQ(expected.size(), s.GetLength());
}

TEST(RefString, LoadStringOfAMissingIdKeepsTheText) {
  CString s(L"kept");
  EXPECT_FALSE(s.LoadString(65521));
  EXPECT_STREQ(L"kept", s);
}

TEST(RefString, GetBufferKeepsTextAndUnsharesTheBlock) {
  CString a(L"abc");
  CString b = a;
  wchar_t* buffer = b.GetBuffer(10);
  ASSERT_NE(nullptr, buffer);
  EXPECT_STREQ(L"abc", buffer);
  buffer[3] = L'd';
  buffer[4] = 0;
  b.ReleaseBuffer();
  EXPECT_STREQ(L"abcd", b);
  EXPECT_EQ(4u, b.GetLength());
  EXPECT_STREQ(L"abc", a);  // the shared copy was left alone
  EXPECT_EQ(1, a.RefCount());
}

TEST(RefString, ReleaseBufferLengths) {
  struct Case {
    ptrdiff_t length;
    const wchar_t* expected;
  } cases[] = {
      {-1, L"hello"},      // up to the terminator
      {0, L""},            // empty
      {2, L"he"},          // shorter than what was written
      {8, L"hello"},       // exactly the room asked for: cut at the buffer's end
      {100000, L"hello"},  // beyond the buffer: cut, never read past it
  };
  for (const Case& c : cases) {
    CString s;
    wchar_t* buffer = s.GetBuffer(5);
    ASSERT_NE(nullptr, buffer);
    wcscpy(buffer, L"hello");
    s.ReleaseBuffer(c.length);
    EXPECT_STREQ(c.expected, s) << c.length;
    EXPECT_LE(s.GetLength(), 5u) << c.length;
  }
}

TEST(RefString, GetBufferWholeBufferWithoutTerminator) {
  CString s;
  wchar_t* buffer = s.GetBuffer(4);
  ASSERT_NE(nullptr, buffer);
  wmemcpy(buffer, L"wxyz", 4);  // an API that fills every character it was given
  s.ReleaseBuffer(4);
  EXPECT_STREQ(L"wxyz", s);
}

TEST(RefString, GetBufferSmallerThanTheTextKeepsTheText) {
  CString a(L"a longer text");
  CString b = a;  // shared, so GetBuffer must copy
  ASSERT_NE(nullptr, b.GetBuffer(2));
  b.ReleaseBuffer();
  EXPECT_STREQ(L"a longer text", b);
}

}  // namespace
