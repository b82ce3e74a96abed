#include "core/TraceFilterRegex.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <memory>
#include <regex>
#include <string>

namespace {

constexpr bool kExact = false;
constexpr bool kCaseBlind = true;

// 1 when the expression is found in the text, 0 when not or when the
// pattern gives no expression.
int Found(const wchar_t* pattern, const wchar_t* text, bool caseBlind) {
  CTraceFilterRegex* created = nullptr;
  if (!CTraceFilterRegex::Create(pattern, std::wcslen(pattern), caseBlind, &created)) {
    ADD_FAILURE() << "out of memory compiling " << pattern;
    return -1;
  }
  const std::unique_ptr<CTraceFilterRegex> regex(created);
  return regex != nullptr && regex->Search(text, std::wcslen(text)) ? 1 : 0;
}

TEST(TraceFilterRegex, EcmaScriptSyntax) {
  struct Row {
    const wchar_t* expression;
    const wchar_t* message;
    int expected;
  };
  const Row rows[] = {
      {L"cat|dog", L"hotdog", 1},
      {L"^(cat|dog)$", L"hotdog", 0},
      {L"gr(a|e)y", L"grey", 1},
      {L"(?:ab)+c", L"xababc", 1},
      {L"(?:ab)+c", L"xac", 0},
      {L"colou?r", L"color", 1},
      {L"a{3}", L"aa", 0},
      {L"a{3}", L"baaab", 1},
      {L"^a{2,}$", L"aaaa", 1},
      {L"^a{2,3}$", L"aaaa", 0},
      {L"^a{0,1}b", L"b", 1},
      {L"a+?b", L"aab", 1},
      {L"[a-c]x", L"bx", 1},
      {L"[^a-c]x", L"bx", 0},
      {L"[^a-c]x", L"dx", 1},
      {L"[\\d_]+$", L"ab_12", 1},
      {L"^[\\D]+$", L"abc", 1},
      {L"^[\\D]+$", L"a1", 0},
      {L"^\\S+\\s\\S+$", L"two\twords", 1},
      {L"\\w\\W\\w", L"a-b", 1},
      {L"[-a]", L"-", 1},
      {L"[a-]", L"-", 1},
      {L"[]", L"anything", 0},
      {L"[^]", L"x", 1},
      {L"a.c", L"a\nc", 0},
      {L"a.c", L"a-c", 1},
      {L"\\x41\\u00e9", L"A\u00e9", 1},
      {L"\\.\\*\\\\\\/", L".*\\/", 1},
      {L"\\t", L"tab\there", 1},
      {L"\\bend\\b", L"the end.", 1},
      {L"\\bend\\b", L"endless", 0},
      {L"\\Bend", L"legend", 1},
      {L"x^", L"x", 0},
      {L"$^", L"", 1},
      {L"a]b}", L"a]b}", 1},  // a lone "]" or "}" is itself
      {L"(a*)*b", L"aab", 1},
      {L"(a|)+b", L"b", 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.expression << " on " << row.message);
    EXPECT_EQ(row.expected, Found(row.expression, row.message, kExact));
  }
}

TEST(TraceFilterRegex, CaseBlindClassesAndLetters) {
  struct Row {
    const wchar_t* expression;
    const wchar_t* message;
    int expected;
  };
  const Row rows[] = {
      {L"^[a-z]+$", L"ABC", 1},
      {L"^[A-Z]+$", L"abc", 1},
      {L"[^a]", L"A", 0},
      {L"\u00e9t\u00e9", L"\u00c9T\u00c9", 1},
      {L"\\x41", L"a", 1},
      {L"^\\W$", L"A", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.expression << " on " << row.message);
    EXPECT_EQ(row.expected, Found(row.expression, row.message, kCaseBlind));
  }
}

// The engine finds what the standard library's ECMAScript engine finds, over short texts where the latter is safe to run.
TEST(TraceFilterRegex, AgreesWithStdRegexOnShortTexts) {
  const wchar_t* patterns[] = {
      L"ab",       L"a|b",        L"^ab",       L"ab$",        L"a.b",         L"a*b",     L"a+b",
      L"a?b",      L"(ab|cd)+",   L"[a-c]+d",   L"[^ab]",      L"\\d{2}",      L"\\w+\\s", L"\\bab",
      L"b\\B",     L"x{1,2}y",    L"^$",        L"(?:a|bc)d",  L"[\\s\\d]",    L"A",       L"[B-D]",
      L"^[^x]*$",  L"c.?d",       L"(a|ab)c",   L"\\.",        L"[.]",         L"a{2,}",   L"\\W",
  };
  const wchar_t* texts[] = {L"",      L"ab",     L"AB",   L"xaby",   L"a\nb", L"aaab",  L"cdcd",
                            L"12",    L"x 1",    L"abc",  L"xxy",    L"bcd",  L"a.b",   L"word ",
                            L"CD",    L"zzz",    L"abcd", L"a_b",    L"Ab"};
  int mismatches = 0;
  for (const wchar_t* pattern : patterns) {
    for (bool caseBlind : {false, true}) {
      auto options = std::regex_constants::ECMAScript;
      if (caseBlind) options |= std::regex_constants::icase;
      const std::wregex reference(pattern, options);
      for (const wchar_t* text : texts) {
        const int expected = std::regex_search(text, reference) ? 1 : 0;
        if (Found(pattern, text, caseBlind) != expected) {
          ++mismatches;
          ADD_FAILURE() << pattern << (caseBlind ? " (case-blind)" : "") << " on \"" << text << "\"";
        }
      }
    }
  }
  EXPECT_EQ(0, mismatches);
}

// Invalid patterns, and valid ECMAScript this engine does not run
// (back-references, look-around, named groups, programs over the size
// limit): no expression, which a filter condition takes as matching nothing.
TEST(TraceFilterRegex, UnusablePatternsGiveNoExpression) {
  const wchar_t* patterns[] = {L"a**",   L"*a",    L"{",     L"a{2,1}", L"a{x}",  L"\\",     L"[a",
                               L"(a",    L"a)",    L"[z-a]", L"[\\d-z]", L"\\q",  L"\\xZZ",  L"\\u12",
                               L"^*",    L"\\b+",  L"(a)\\1", L"(?=a)", L"(?!a)", L"(?<n>a)", L"a{1001}",
                               L"(?:a{999}){999}", L"\\c1", L"\\01"};
  for (const wchar_t* pattern : patterns) {
    SCOPED_TRACE(testing::Message() << pattern);
    CTraceFilterRegex* regex = nullptr;
    ASSERT_EQ(1, CTraceFilterRegex::Create(pattern, std::wcslen(pattern), false, &regex));
    EXPECT_EQ(nullptr, regex);
    delete regex;
  }
}

// Patterns that make a backtracking engine recurse once per character or
// run for ever finish here on the longest message a record holds.
TEST(TraceFilterRegex, LongTextsAndNestedLoopsFinish) {
  const std::wstring message(30000, L'a');
  struct Row {
    const wchar_t* expression;
    int expected;
  };
  const Row rows[] = {{L".*x", 0},        {L"((a)*)*b", 0}, {L"(?:a?){60}b", 0}, {L"(a|aa)*c", 0},
                      {L"(a+a+)+y", 0},   {L"^(a|b)*$", 1}, {L"a{1000}$", 1},    {L"(?:(?:a?){10}){10}$", 1}};
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.expression);
    EXPECT_EQ(row.expected, Found(row.expression, message.c_str(), kExact));
  }
}

}  // namespace
