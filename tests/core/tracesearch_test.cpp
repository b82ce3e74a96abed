#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <random>
#include <string>

#include "core/StrUtil.h"
#include "core/TraceFilter.h"
#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "tests/core/GuardPage.h"
#include "tests/core/RecordFixture.h"

namespace {

constexpr uint32_t kGroup = 0x1;

class SearchTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.SetFileName(L"", L"a.ktr"));
    ASSERT_TRUE(store.GrowBuffer(1 << 14));
    view = new CTraceView(&store, L"ALL", kAllGroups);
    ASSERT_TRUE(store.m_views.Append(view));
  }

  TraceRecord* Add(RecordSpec spec) {
    spec.groupFlag = kGroup;
    TraceRecord* r = AddRecord(&store, spec);
    EXPECT_NE(nullptr, r);
    return r;
  }

  CTraceFile store;
  CTraceView* view = nullptr;  // owned by the store's view list
};

// ---- ranges -------------------------------------------------------------

struct RangeCase {
  int from, to;
  int forward, backward;
};

// Five records; 1 and 3 are errors, carry a mark and say "needle".
class SearchRange : public SearchTest, public testing::WithParamInterface<RangeCase> {
 protected:
  void SetUp() override {
    SearchTest::SetUp();
    for (int i = 0; i < 5; ++i) {
      RecordSpec spec;
      const bool hit = i == 1 || i == 3;
      spec.level = hit ? kLevelError : kLevelInfo;
      spec.message = hit ? L"a needle here" : L"hay";
      TraceRecord* r = Add(spec);
      if (hit) SetRecordMark(r, 1, i);
    }
    ASSERT_TRUE(view->Rebuild());
    errors.SetLevelMask(kLevelError);
  }
  CTraceFilter errors;
};

TEST_P(SearchRange, EverySearchHonoursTheHalfOpenRange) {
  const RangeCase c = GetParam();
  EXPECT_EQ(c.forward, view->FindNextMatch(c.from, c.to, errors));
  EXPECT_EQ(c.forward, view->FindNextFlagged(c.from, c.to));
  EXPECT_EQ(c.forward, view->FindText(c.from, c.to, kSearchMessage, L"needle", 1));
  EXPECT_EQ(c.backward, view->FindPrevFlagged(c.from, c.to));
  EXPECT_EQ(c.backward, view->FindPrevText(c.from, c.to, kSearchMessage, L"needle", 1));
}

INSTANTIATE_TEST_SUITE_P(Table, SearchRange,
                         testing::Values(RangeCase{0, 5, 1, 3}, RangeCase{2, 5, 3, 3}, RangeCase{1, 2, 1, 1},
                                         RangeCase{0, 1, -1, -1}, RangeCase{2, 3, -1, -1},
                                         RangeCase{3, 10, 3, 3},      // the end is lowered to the count
                                         RangeCase{4, 10, -1, -1},    // tests index 4 only
                                         RangeCase{5, 10, -1, -1},    // starts at the count
                                         RangeCase{0, 0, -1, -1},     // backward with to = 0
                                         RangeCase{4, 2, -1, -1},     // from above to
                                         RangeCase{-3, 2, 1, 1},      // a negative start means 0
                                         RangeCase{0, -1, -1, -1}));

TEST_F(SearchTest, SearchesInAnEmptyViewFindNothing) {
  const CTraceFilter any;
  EXPECT_EQ(-1, view->FindNextMatch(0, 10, any));
  EXPECT_EQ(-1, view->FindPrevFlagged(0, 10));
  EXPECT_EQ(-1, view->FindPrevText(0, 10, kSearchMessage, L"", 1));
}

// ---- text fields ----------------------------------------------------------

struct TextCase {
  uint32_t fields;
  const wchar_t* text;
  int caseSensitive;
  bool found;
};

class SearchText : public SearchTest, public testing::WithParamInterface<TextCase> {
 protected:
  void SetUp() override {
    SearchTest::SetUp();
    RecordSpec spec;
    spec.module = L"KelNet.dll";
    spec.hint = L"Worker";
    spec.message = L"Connection Refused";
    spec.subName = L"SubName";
    Add(spec);
    ASSERT_TRUE(view->Rebuild());
  }
};

TEST_P(SearchText, FieldsAndCase) {
  const TextCase c = GetParam();
  EXPECT_EQ(c.found, view->RecordContainsText(c.fields, 0, c.text, c.caseSensitive));
  EXPECT_EQ(c.found ? 0 : -1, view->FindText(0, 1, c.fields, c.text, c.caseSensitive));
  EXPECT_EQ(c.found ? 0 : -1, view->FindPrevText(0, 1, c.fields, c.text, c.caseSensitive));
}

INSTANTIATE_TEST_SUITE_P(
    Table, SearchText,
    testing::Values(TextCase{0, L"Kel", 1, false},                         // no field: never
                    TextCase{0, L"", 1, false},
                    TextCase{kSearchModule, L"KelNet", 1, true},
                    TextCase{kSearchModule, L"kelnet", 1, false},           // case-sensitive
                    TextCase{kSearchModule, L"kelnet", 0, true},            // field lowered
                    TextCase{kSearchModule, L"KELNET", 0, false},           // pattern is not
                    TextCase{kSearchHint, L"ork", 1, true},
                    TextCase{kSearchMessage, L"Refused", 1, true},
                    TextCase{kSearchMessage, L"tion ref", 0, true},
                    TextCase{kSearchModule | kSearchHint, L"Refused", 1, false},
                    TextCase{kSearchMessage, L"Worker", 1, false},
                    TextCase{kSearchModule | kSearchHint | kSearchMessage, L"Refused", 1, true},
                    TextCase{kSearchMessage, L"SubName", 1, false},         // the sub-name is not searched
                    TextCase{kSearchMessage, L"[100:200]", 1, false},
                    TextCase{~(kSearchModule | kSearchHint | kSearchMessage), L"e", 1, false}));

TEST_F(SearchTest, RecordContainsTextRefusesANullTextAndOutsideIndexes) {
  Add(RecordSpec{});
  ASSERT_TRUE(view->Rebuild());
  EXPECT_FALSE(view->RecordContainsText(kSearchMessage, 0, nullptr, 1));
  EXPECT_FALSE(view->RecordContainsText(kSearchMessage, 1, L"hello", 1));
  EXPECT_FALSE(view->RecordContainsText(kSearchMessage, -1, L"hello", 1));
  EXPECT_TRUE(view->RecordContainsText(kSearchMessage, 0, L"hello", 1));
}

// ---- insert position -----------------------------------------------------------

struct InsertCase {
  int own;  // index of the record asked for, -1 for one outside the view
  uint32_t time;
  uint16_t milliseconds;
  int expected;
};

class InsertPos : public SearchTest, public testing::WithParamInterface<InsertCase> {
 protected:
  void SetUp() override {
    SearchTest::SetUp();
    const struct {
      uint32_t time;
      uint16_t ms;
    } rows[] = {{100, 0}, {100, 500}, {101, 0}, {101, 200}, {101, 200}, {103, 0}};
    for (const auto& row : rows) {
      RecordSpec spec;
      spec.time = row.time;
      spec.milliseconds = row.ms;
      Add(spec);
    }
    RecordSpec outsider;
    outsider.groupFlag = 0;
    wchar_t pt[32];
    other = AllocRecord(&store, RecordBytesFor(outsider, pt, 32));
    ASSERT_NE(nullptr, other);
    FillRecord(other, outsider, 99);  // group 0: in no view
    ASSERT_TRUE(view->Rebuild());
    ASSERT_EQ(6u, view->RecordCount());
  }
  TraceRecord* other = nullptr;
};

TEST_P(InsertPos, OwnIndexElseFirstAtOrAfterTheTime) {
  const InsertCase c = GetParam();
  const TraceRecord* record = c.own >= 0 ? view->RecordAt(size_t(c.own)) : other;
  EXPECT_EQ(c.expected, view->FindInsertPos(record, c.time, c.milliseconds));
}

INSTANTIATE_TEST_SUITE_P(Table, InsertPos,
                         testing::Values(InsertCase{-1, 99, 0, 0},     // everything is later
                                         InsertCase{-1, 100, 300, 1},  // same second, later ms
                                         InsertCase{-1, 100, 600, 2},  // no candidate: first later second
                                         InsertCase{4, 101, 200, 4},   // itself, past the candidate 3
                                         InsertCase{3, 101, 200, 3},
                                         InsertCase{-1, 101, 200, 3},
                                         InsertCase{-1, 102, 0, 5},
                                         InsertCase{-1, 103, 500, 5},  // same second, all earlier ms: last
                                         InsertCase{-1, 200, 0, 5},    // everything is earlier: last
                                         InsertCase{0, 100, 0, 0}));

TEST_F(SearchTest, InsertPosOfNullOrInAnEmptyViewIsNone) {
  TraceRecord* r = Add(RecordSpec{});
  EXPECT_EQ(-1, view->FindInsertPos(r, r->time, 0));  // not rebuilt: empty
  ASSERT_TRUE(view->Rebuild());
  EXPECT_EQ(-1, view->FindInsertPos(nullptr, r->time, 0));
  EXPECT_EQ(0, view->FindInsertPos(r, r->time, 0));
}

// ---- marks --------------------------------------------------------------

TEST_F(SearchTest, MarkRecordGoesThroughTheStoreAndRefreshesItsMemo) {
  for (int i = 0; i < 3; ++i) Add(RecordSpec{});
  ASSERT_TRUE(view->Rebuild());
  ASSERT_FALSE(store.GetItem(view, 1)->IsMarked());

  EXPECT_EQ(0, view->MarkRecord(3, 1, 0));  // at the count: nothing
  EXPECT_EQ(0, view->MarkRecord(-1, 1, 0));
  for (size_t i = 0; i < 3; ++i) EXPECT_FALSE(view->RecordAt(i)->IsMarked());

  EXPECT_EQ(1, view->MarkRecord(1, 1, 4));
  EXPECT_EQ(kMarkFirstBit << 4, store.GetItem(view, 1)->level & kMarkMask);
  EXPECT_EQ(1, view->MarkRecord(1, 1, 2));
  EXPECT_EQ((kMarkFirstBit << 4) | (kMarkFirstBit << 2), store.GetItem(view, 1)->level & kMarkMask);
  EXPECT_EQ(1, view->FindNextFlagged(0, 3));
  EXPECT_EQ(1, view->MarkRecord(1, 0, 0));
  EXPECT_FALSE(store.GetItem(view, 1)->IsMarked());
  EXPECT_EQ(kLevelInfo, view->RecordAt(1)->level);  // the level bit stays
}

TEST_F(SearchTest, ClearAllMarksOfAStoreReachesRecordsOutsideTheViewAndTheMemo) {
  RecordSpec hidden;
  hidden.level = kLevelError;
  Add(RecordSpec{});
  Add(hidden);
  CTraceFilter info;
  info.SetLevelMask(kLevelInfo);
  ASSERT_TRUE(view->m_filter.Assign(0, info));
  ASSERT_TRUE(view->Rebuild());
  ASSERT_EQ(1u, view->RecordCount());
  CTraceRingWalker walker(store.Buffer());
  while (TraceRecord* r = walker.Next()) SetRecordMark(r, 1, 6);
  ASSERT_TRUE(store.GetItem(view, 0)->IsMarked());  // memo holds the marked copy

  ClearAllMarks(&store);
  EXPECT_FALSE(store.GetItem(view, 0)->IsMarked());
  CTraceRingWalker again(store.Buffer());
  while (TraceRecord* r = again.Next()) EXPECT_FALSE(r->IsMarked());
}

// ---- the case-sensitive scan under the text search ----------------------

// The scan reads the text in aligned 16-byte blocks: it must agree with
// wcsstr wherever the text starts, and never read past the block holding
// the terminator.
bool Reference(const wchar_t* text, const wchar_t* pattern) {
  // An empty pattern is in every text, the empty one too (as the C library
  // defines it; Wine's msvcrt answers null for an empty text).
  return pattern[0] == 0 || std::wcsstr(text, pattern) != nullptr;
}

TEST(WcsContainsExact, AgreesWithWcsstrAtEveryAlignment) {
  std::mt19937 random(1234);
  alignas(16) wchar_t buffer[96];
  const wchar_t alphabet[] = L"ab";
  for (int round = 0; round < 20000; ++round) {
    const size_t start = random() % 16;
    const size_t length = random() % 40;
    for (size_t i = 0; i < std::size(buffer); ++i) buffer[i] = alphabet[random() % 2];  // junk around the text
    buffer[start + length] = 0;
    wchar_t pattern[8];
    const size_t patternLength = random() % 6;
    for (size_t i = 0; i < patternLength; ++i) pattern[i] = alphabet[random() % 2];
    pattern[patternLength] = 0;
    const wchar_t* text = buffer + start;
    ASSERT_EQ(Reference(text, pattern), WcsContains(text, pattern, 1))
        << "text of " << length << " units at " << start << ", pattern of " << patternLength;
  }
}

TEST(WcsContainsExact, UnitsBeforeTheTextDoNotCount) {
  alignas(16) wchar_t buffer[] = L"needleXYZ";
  EXPECT_FALSE(WcsContains(buffer + 1, L"needle", 1));
  EXPECT_TRUE(WcsContains(buffer + 1, L"eedle", 1));
  EXPECT_FALSE(WcsContains(buffer + 1, L"n", 1));
}

TEST(WcsContainsExact, ATextThatEndsAtAPageEndIsReadNoFurther) {
  const CGuardPage guard;
  ASSERT_TRUE(guard.Ready());
  uint8_t* base = guard.Begin();
  auto* end = reinterpret_cast<wchar_t*>(guard.End());  // first unit of the guard page
  for (size_t length = 0; length < 20; ++length) {
    wchar_t* text = end - length - 1;
    for (size_t i = 0; i < length; ++i) text[i] = L"xyzneedle"[i % 9];
    text[length] = 0;
    EXPECT_EQ(Reference(text, L"needle"), WcsContains(text, L"needle", 1)) << length;
    EXPECT_EQ(Reference(text, L"e"), WcsContains(text, L"e", 1)) << length;
    EXPECT_EQ(Reference(text, L"needle"), WcsContains(text, L"needle", 0)) << length;
    EXPECT_EQ(Reference(text, L"le"), WcsContains(text, L"le", 0)) << length;
    EXPECT_TRUE(WcsContains(text, L"", 1));
  }
  // A text at an odd address cannot be read in aligned units.
  std::memcpy(base + 1, L"abc", 8);
  EXPECT_TRUE(WcsContains(reinterpret_cast<const wchar_t*>(base + 1), L"bc", 1));
}

}  // namespace

// The case-blind search against a lowered copy and wcsstr, at every start,
// over ASCII letters of both cases and units whose lower case is ASCII
// (the Kelvin sign) or non-ASCII (A with diaeresis).
TEST(WcsContainsFolded, AgreesWithALoweredCopyAtEveryAlignment) {
  std::mt19937 random(4321);
  alignas(16) wchar_t buffer[96];
  const wchar_t alphabet[] = {L'a', L'A', L'k', L'K', 0x212A, 0x00C4, 0x00E4, L'b'};
  for (int round = 0; round < 20000; ++round) {
    const size_t start = random() % 16;
    const size_t length = random() % 40;
    for (size_t i = 0; i < std::size(buffer); ++i) buffer[i] = alphabet[random() % std::size(alphabet)];
    buffer[start + length] = 0;
    wchar_t pattern[8];
    const size_t patternLength = random() % 5;
    for (size_t i = 0; i < patternLength; ++i) pattern[i] = alphabet[random() % std::size(alphabet)];
    pattern[patternLength] = 0;
    WcsToLowerInPlace(pattern);
    std::wstring lowered(buffer + start);
    WcsToLowerInPlace(lowered.data());
    const wchar_t* text = buffer + start;
    ASSERT_EQ(Reference(lowered.c_str(), pattern), WcsContains(text, pattern, 0))
        << "text of " << length << " units at " << start << ", pattern of " << patternLength;
  }
}
