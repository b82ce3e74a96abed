// The statistic dialog's counting without its window: compare keys, the
// neighbour merge, the sorts, ratios and Show Top.
#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

#include "ui/dialogs/StatisticRules.h"

namespace {

struct ExpectedRow {
  const wchar_t* text;
  int32_t count;
  uint8_t cut;
  uint8_t merged;
  const wchar_t* filterText;
};

// Runs the whole counting the way the dialog does, `budget` units a step.
void Count(CStatisticRows& rows, const wchar_t* key, size_t budget) {
  CStatisticCounter counter;
  counter.Start(&rows, key);
  int guard = 0;
  while (!counter.Step(budget)) {
    ASSERT_LT(++guard, 100000000);
  }
  EXPECT_EQ(counter.CurrentPhase(), CStatisticCounter::Phase::Done);
  EXPECT_EQ(counter.MergeProgress(), 100u);
}

TEST(StatisticCompareKey, CutsAtTheFirstKeyWord) {
  struct Case {
    const wchar_t* text;
    const wchar_t* key;
    const wchar_t* compareKey;
    uint8_t cut;
  };
  const Case cases[] = {
      {L"open,port 1", L",", L"open", 1},
      {L"open,a,b", L",", L"open", 1},
      {L",leading", L",", L"", 1},
      {L"no key word", L",", L"no key word", 0},
      {L"a::b::c", L"::", L"a", 1},
      {L"a:b", L"::", L"a:b", 0},
      {L"with, comma", L"", L"with, comma", 0},
      {L"", L",", L"", 0},
      {L"ends,", L",", L"ends", 1},
  };
  for (const Case& c : cases) {
    uint8_t cut = 0;
    EXPECT_EQ(StatisticCompareKey(c.text, c.key, &cut), std::wstring_view(c.compareKey)) << c.text;
    EXPECT_EQ(cut, c.cut) << c.text;
  }
  // A cut flag once set stays set.
  uint8_t cut = 1;
  EXPECT_EQ(StatisticCompareKey(L"plain", L",", &cut), L"plain");
  EXPECT_EQ(cut, 1);
}

struct AnalysisCase {
  const char* name;
  std::vector<const wchar_t*> texts;
  const wchar_t* key;
  std::vector<ExpectedRow> rows;  // in the result's order
};

class StatisticAnalysis : public ::testing::TestWithParam<AnalysisCase> {};

TEST_P(StatisticAnalysis, GivesTheRowsOfTheResult) {
  const AnalysisCase& c = GetParam();
  for (size_t budget : {size_t(1), size_t(3), SIZE_MAX}) {
    CStatisticRows rows;
    for (size_t i = 0; i < c.texts.size(); ++i) {
      rows.Add(i % 2 ? L"b.dll" : L"a.exe", c.texts[i]);
    }
    Count(rows, c.key, budget);
    ASSERT_EQ(rows.Count(), c.rows.size()) << "budget " << budget;
    for (size_t i = 0; i < c.rows.size(); ++i) {
      const CStatisticRow& row = rows[i];
      const ExpectedRow& want = c.rows[i];
      EXPECT_EQ(rows.Text(row), std::wstring_view(want.text)) << i;
      EXPECT_EQ(row.count, want.count) << i;
      EXPECT_EQ(row.cut, want.cut) << i;
      EXPECT_EQ(row.merged, want.merged) << i;
      EXPECT_EQ(StatisticFilterText(rows, row, c.key), want.filterText) << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, StatisticAnalysis,
    ::testing::Values(
        AnalysisCase{"Empty", {}, L",", {}},
        AnalysisCase{"EmptyKeyMergesOnlyEqualTexts",
                     {L"b,1", L"a", L"b,1", L"b,2"},
                     L"",
                     {{L"b,1", 2, 0, 1, L"b,1"}, {L"a", 1, 0, 0, L"a"}, {L"b,2", 1, 0, 0, L"b,2"}}},
        AnalysisCase{"DifferOnlyAfterTheComma",
                     {L"open,port 1", L"close", L"open,port 2"},
                     L",",
                     {{L"open", 2, 1, 1, L"open,"}, {L"close", 1, 0, 0, L"close"}}},
        AnalysisCase{"LeadingKeyWordGivesAnEmptyKey",
                     {L",x", L"z", L",y", L",w"},
                     L",",
                     {{L"", 3, 1, 1, L","}, {L"z", 1, 0, 0, L"z"}}},
        AnalysisCase{"NeverMergedAsksForItsWholeText",
                     {L"x,1", L"y,1", L"y,2"},
                     L",",
                     {{L"y", 2, 1, 1, L"y,"}, {L"x,1", 1, 1, 0, L"x,1"}}},
        // "abc" sorts right before "abc,..." and joins the group; its row
        // was the survivor and never had the key word.
        AnalysisCase{"PlainTextJoinsAnAdjacentGroup",
                     {L"abc,2", L"abc", L"abc,1"},
                     L",",
                     {{L"abc", 3, 0, 1, L"abc"}}},
        // "abc!" sorts between "abc" and "abc,1": the plain text stays alone.
        AnalysisCase{"PlainTextStaysAloneWhenATextSortsBetween",
                     {L"abc,1", L"abc", L"abc!", L"abc,2"},
                     L",",
                     {{L"abc", 2, 1, 1, L"abc,"}, {L"abc", 1, 0, 0, L"abc"}, {L"abc!", 1, 0, 0, L"abc!"}}},
        AnalysisCase{"OrdinalOrderOfCodeUnits",
                     {L"\x00e9", L"z", L"\x00e9", L"Z", L"z"},
                     L",",
                     {{L"z", 2, 0, 1, L"z"}, {L"\x00e9", 2, 0, 1, L"\x00e9"}, {L"Z", 1, 0, 0, L"Z"}}}),
    [](const ::testing::TestParamInfo<AnalysisCase>& info) { return std::string(info.param.name); });

// Many rows: the runs and merge passes of both sorts, resumed after every
// few units, give the same groups as one uninterrupted run.
TEST(StatisticCounter, LargeInputResumedGivesEveryGroupOnce) {
  constexpr int kGroups = 300;
  std::vector<std::wstring> texts;
  for (int g = 0; g < kGroups; ++g) {
    for (int i = 0; i <= g; ++i) {
      texts.push_back(L"group " + std::to_wstring((g * 7919) % kGroups) + L", item " + std::to_wstring(i));
    }
  }
  // A fixed shuffle, so the text sort has work to do.
  for (size_t i = 0; i < texts.size(); ++i) {
    std::swap(texts[i], texts[(i * 104729 + 13) % texts.size()]);
  }
  for (size_t budget : {size_t(5), size_t(1000), SIZE_MAX}) {
    CStatisticRows rows;
    for (const std::wstring& text : texts) {
      rows.Add(L"m.dll", text.c_str());
    }
    Count(rows, L",", budget);
    ASSERT_EQ(rows.Count(), size_t(kGroups));
    int64_t total = 0;
    for (size_t i = 0; i < rows.Count(); ++i) {
      // Every group has a count of its own: group g has g + 1 items.
      const int g = kGroups - 1 - int(i);
      EXPECT_EQ(rows[i].count, g + 1) << i;
      // A group of one was never merged and keeps its whole text.
      const std::wstring name = L"group " + std::to_wstring((g * 7919) % kGroups);
      EXPECT_EQ(rows.Text(rows[i]), g == 0 ? name + L", item 0" : name) << i;
      total += rows[i].count;
    }
    EXPECT_EQ(total, int64_t(texts.size()));
  }
}

// A million equal keys fold into one row in one pass over the rows.
TEST(StatisticMerge, FoldsALongRunIntoOneRow) {
  CStatisticRows rows;
  constexpr int kRows = 1000000;
  rows.Reserve(kRows);
  for (int i = 0; i < kRows; ++i) {
    rows.Add(L"m.dll", L"same,text");
  }
  EXPECT_EQ(MergeStatisticNeighbours(rows, L","), 1u);
  EXPECT_EQ(rows[0].count, kRows);
  EXPECT_EQ(rows.Text(rows[0]), L"same");
}

TEST(StatisticMerge, MergesOnlyNeighbours) {
  // Not sorted: equal keys that are not neighbours stay apart.
  CStatisticRows rows;
  for (const wchar_t* text : {L"a,1", L"a,2", L"b", L"a,3", L"b", L"b"}) {
    rows.Add(L"m.dll", text);
  }
  ASSERT_EQ(MergeStatisticNeighbours(rows, L","), 4u);
  const std::pair<const wchar_t*, int> want[] = {{L"a", 2}, {L"b", 1}, {L"a,3", 1}, {L"b", 2}};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(rows.Text(rows[i]), want[i].first) << i;
    EXPECT_EQ(rows[i].count, want[i].second) << i;
  }
}

TEST(StatisticRows, KeepCopiesOfNamesAndTexts) {
  CStatisticRows rows;
  wchar_t name[] = L"first.dll";
  wchar_t text[] = L"message";
  rows.Add(name, text);
  rows.Add(name, text);
  rows.Add(L"second.dll", L"");
  rows.Add(nullptr, nullptr);
  name[0] = L'X';
  text[0] = L'X';
  EXPECT_EQ(rows.Name(rows[0]), L"first.dll");
  EXPECT_EQ(rows.Name(rows[1]), L"first.dll");
  EXPECT_EQ(rows.Text(rows[1]), L"message");
  EXPECT_EQ(rows.Name(rows[2]), L"second.dll");
  EXPECT_EQ(rows.Text(rows[2]), L"");
  EXPECT_EQ(rows.Name(rows[3]), L"");
}

TEST(StatisticRatio, FormatsTheShareOfTheTotal) {
  struct Case {
    int32_t count;
    uint64_t total;
    const wchar_t* text;
  };
  const Case cases[] = {
      {1, 4, L"25.00%"},    {2, 3, L"66.67%"}, {1, 3, L"33.33%"},          {3, 3, L"100.00%"},
      {0, 0, L"0.00%"},     {1, 1000000, L"0.00%"}, {5000, 1000000, L"0.50%"},
      {2000000000, 4000000000u, L"50.00%"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatStatisticRatio(c.count, c.total), c.text) << c.count << "/" << c.total;
  }
  // With every row shown the shares add up to 100.
  const int32_t counts[] = {7, 5, 3, 1, 1};
  double sum = 0;
  for (int32_t count : counts) sum += StatisticRatio(count, 17);
  EXPECT_NEAR(sum, 100.0, 1e-9);
}

TEST(StatisticShowTop, ParsesTheTypedNumber) {
  struct Case {
    const wchar_t* text;
    uint32_t value;
  };
  const Case cases[] = {
      {L"20", 20},
      {L"0", 0},
      {L"", 0},
      {L"abc", 0},
      {L"12abc", 0},
      {L" 7 ", 7},
      {L"-1", 0xFFFFFFFFu},
      {L"-20", uint32_t(-20)},
      {L"2147483647", 2147483647u},
      {L"2147483648", 0},
      {L"-2147483648", 0x80000000u},
      {L"99999999999999999999", 0},
      {L"-", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseStatisticShowTop(c.text), c.value) << c.text;
  }
  EXPECT_EQ(ParseStatisticShowTop(nullptr), 0u);
}

TEST(StatisticShowTop, AlwaysShowsTheFirstRowAndNeverMoreThanThereAre) {
  struct Case {
    const wchar_t* showTop;
    size_t rows;
    size_t shown;
  };
  const Case cases[] = {
      {L"20", 5, 5},  {L"3", 5, 3},  {L"0", 5, 1},  {L"not a number", 5, 1},
      {L"-1", 5, 5},  {L"-5", 5, 5}, {L"6", 5, 5},  {L"5", 5, 5},
      {L"0", 0, 0},   {L"20", 0, 0}, {L"1", 1, 1},  {L"4294967295", 3, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StatisticRowsShown(ParseStatisticShowTop(c.showTop), c.rows), c.shown)
        << c.showTop << " of " << c.rows;
  }
}

}  // namespace
