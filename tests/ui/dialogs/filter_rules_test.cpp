#include "ui/dialogs/FilterRules.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "tests/core/RecordFixture.h"

namespace {

using namespace ktdlg;

FilterLevelChecks Levels(bool debug, bool info, bool warning, bool error, bool bookmark) {
  FilterLevelChecks checks;
  checks.levelTest = true;
  checks.debug = debug;
  checks.info = info;
  checks.warning = warning;
  checks.error = error;
  checks.bookmark = bookmark;
  return checks;
}

struct LevelRow {
  const char* name;
  FilterLevelChecks checks;
  bool on;
  uint32_t mask;
};

TEST(FilterRules, LevelTestFromChecks) {
  FilterLevelChecks masterOff = Levels(true, false, false, false, true);
  masterOff.levelTest = false;
  const LevelRow rows[] = {
      {"master box clear", masterOff, false, 0},
      {"every level", Levels(true, true, true, true, false), false, 0},
      {"every level and bookmark", Levels(true, true, true, true, true), false, 0},
      {"nothing checked", Levels(false, false, false, false, false), true, 0},
      {"error alone", Levels(false, false, false, true, false), true, 24},
      {"bookmark alone", Levels(false, false, false, false, true), true, 0x7F0000},
      {"debug alone", Levels(true, false, false, false, false), true, 1},
      {"info and warning", Levels(false, true, true, false, false), true, 6},
      {"three levels and bookmark", Levels(true, true, true, false, true), true, 0x7F0007},
      {"error and bookmark", Levels(false, false, false, true, true), true, 0x7F0018},
  };
  for (const LevelRow& row : rows) {
    const FilterLevelTest test = LevelTestFromChecks(row.checks);
    EXPECT_EQ(row.on, test.on) << row.name;
    EXPECT_EQ(row.mask, test.mask) << row.name;
  }
}

struct ShownRow {
  uint32_t flags;
  uint32_t mask;
  bool levelTest, debug, info, warning, error, personal, bookmark, pidTest;
};

TEST(FilterRules, LevelChecksShowTheFilter) {
  const ShownRow rows[] = {
      // No level test: every level box and "Bookmark" checked (they are disabled).
      {0, 0, false, true, true, true, true, true, true, false},
      {0, 0x8, false, true, true, true, true, true, true, false},
      {kFilterPids, 0, false, true, true, true, true, true, true, true},
      {kFilterLevel, 0, true, false, false, false, false, false, false, false},
      {kFilterLevel, 24, true, false, false, false, true, true, false, false},
      {kFilterLevel, 0x10, true, false, false, false, false, true, false, false},
      {kFilterLevel | kFilterPids, 0x10003, true, true, true, false, false, false, true, true},
      {kFilterLevel, 0x400000, true, false, false, false, false, false, true, false},
  };
  for (const ShownRow& row : rows) {
    const FilterLevelChecks checks = LevelChecksFromFilter(row.flags, row.mask);
    SCOPED_TRACE(testing::Message() << "flags " << row.flags << " mask " << row.mask);
    EXPECT_EQ(row.levelTest, checks.levelTest);
    EXPECT_EQ(row.debug, checks.debug);
    EXPECT_EQ(row.info, checks.info);
    EXPECT_EQ(row.warning, checks.warning);
    EXPECT_EQ(row.error, checks.error);
    EXPECT_EQ(row.personal, checks.personal);
    EXPECT_EQ(row.bookmark, checks.bookmark);
    EXPECT_EQ(row.pidTest, checks.pidTest);
  }
}

// Opening the dialog on what OK made and pressing OK again changes nothing,
// for every combination of the boxes.
TEST(FilterRules, EveryCombinationOfBoxesSurvivesAnotherOk) {
  for (unsigned bits = 0; bits < 64; ++bits) {
    FilterLevelChecks checks =
        Levels((bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0, (bits & 8) != 0, (bits & 16) != 0);
    checks.levelTest = (bits & 32) != 0;
    CTraceFilter filter;
    ASSERT_EQ(1, ApplyFilterChecks(filter, checks, nullptr, 0));
    const FilterLevelChecks shown = LevelChecksFromFilter(filter.m_flags, filter.m_levelMask);
    CTraceFilter again;
    ASSERT_EQ(1, ApplyFilterChecks(again, shown, nullptr, 0));
    EXPECT_EQ(filter.m_flags, again.m_flags) << bits;
    EXPECT_EQ(filter.m_levelMask, again.m_levelMask) << bits;
  }
}

int MatchLevel(CTraceFilter& filter, uint32_t level, uint32_t pid = 100, uint32_t tid = 200) {
  filter.Compile();
  RecordSpec spec;
  spec.level = level;
  spec.pid = pid;
  spec.tid = tid;
  OwnedRecord record(spec);
  return filter.Match(record.get());
}

TEST(FilterRules, LevelMasksSelectTheRecordsTheBoxesName) {
  CTraceFilter errorOnly;
  ApplyFilterChecks(errorOnly, Levels(false, false, false, true, false), nullptr, 0);
  EXPECT_EQ(1, MatchLevel(errorOnly, kLevelError));
  EXPECT_EQ(1, MatchLevel(errorOnly, kLevelPersonal));
  EXPECT_EQ(0, MatchLevel(errorOnly, kLevelWarning));

  CTraceFilter none;
  ApplyFilterChecks(none, Levels(false, false, false, false, false), nullptr, 0);
  EXPECT_EQ(0, MatchLevel(none, kLevelDebug));
  EXPECT_EQ(0, MatchLevel(none, kLevelError | kMarkFirstBit));

  CTraceFilter bookmarks;
  ApplyFilterChecks(bookmarks, Levels(false, false, false, false, true), nullptr, 0);
  EXPECT_EQ(1, MatchLevel(bookmarks, kLevelInfo | (kMarkFirstBit << 3)));
  EXPECT_EQ(0, MatchLevel(bookmarks, kLevelInfo));
}

TEST(FilterRules, OkKeepsTheThreadTestTheViewHad) {
  CTraceFilter filter;
  filter.SetLevelMask(kLevelError);
  ASSERT_EQ(1, filter.AddProcessId(1));
  ASSERT_EQ(1, filter.AddThreadId(7));
  ASSERT_EQ(1, filter.AddThreadId(9));
  ASSERT_EQ(1, filter.AddCondition(kConditionMessage, kOperatorInclude, L"x", -1));

  FilterLevelChecks checks = Levels(true, true, false, false, false);
  checks.pidTest = true;
  const uint32_t pids[] = {5, 100};
  ASSERT_EQ(1, ApplyFilterChecks(filter, checks, pids, 2));

  EXPECT_EQ(kFilterLevel | kFilterPids | kFilterConditions | kFilterTids, filter.m_flags);
  EXPECT_EQ(3u, filter.m_levelMask);
  ASSERT_EQ(2u, filter.m_pids.count);
  EXPECT_EQ(5u, filter.m_pids[0]);
  EXPECT_EQ(100u, filter.m_pids[1]);
  ASSERT_EQ(2u, filter.m_tids.count);
  EXPECT_EQ(7u, filter.m_tids[0]);
  EXPECT_EQ(9u, filter.m_tids[1]);

  CTraceFilter levelOnly;
  levelOnly.SetLevelMask(kLevelError);
  levelOnly.AddThreadId(7);
  FilterLevelChecks levelsOff;
  ApplyFilterChecks(levelOnly, levelsOff, nullptr, 0);
  EXPECT_EQ(kFilterTids, levelOnly.m_flags);
  EXPECT_EQ(1, MatchLevel(levelOnly, kLevelDebug, 100, 7));
  EXPECT_EQ(0, MatchLevel(levelOnly, kLevelDebug, 100, 8));
}

TEST(FilterRules, OkWithoutThreadTestAddsNone) {
  CTraceFilter filter;
  filter.m_tids.Append(7);  // a list without its flag is no test
  ApplyFilterChecks(filter, FilterLevelChecks(), nullptr, 0);
  EXPECT_EQ(0u, filter.m_flags);
  EXPECT_EQ(1, MatchLevel(filter, kLevelDebug, 100, 8));
}

TEST(FilterRules, PidTestWithoutCheckedRowsPassesNothing) {
  CTraceFilter filter;
  filter.AddProcessId(100);
  FilterLevelChecks checks;
  checks.pidTest = true;
  ASSERT_EQ(1, ApplyFilterChecks(filter, checks, nullptr, 0));
  EXPECT_EQ(kFilterPids, filter.m_flags);
  EXPECT_EQ(0u, filter.m_pids.count);
  EXPECT_EQ(0, MatchLevel(filter, kLevelDebug, 100));
}

TEST(FilterRules, ResetThenOkAcceptsEveryRecord) {
  CTraceFilter filter;  // what Reset leaves
  ApplyFilterChecks(filter, LevelChecksFromFilter(0, 0), nullptr, 0);
  EXPECT_EQ(0u, filter.m_flags);
  EXPECT_EQ(1, MatchLevel(filter, kLevelDebug));
  EXPECT_EQ(1, MatchLevel(filter, kLevelError | kMarkMask));
}

struct ChoiceRow {
  uint8_t field;
  uint8_t flags;
  bool first;
  int connector;
  bool connectorEnabled;
  int fieldChoice;
  int op;
  bool regexEntry;
  bool caseSensitive;
  uint8_t fieldBack;
  uint8_t flagsBack;  // OK without touching a control
};

TEST(FilterRules, ConditionChoicesAndBack) {
  const ChoiceRow rows[] = {
      // The editor's start for a new condition: field 5, INCLUDE, AND.
      {5, 0x01, false, kConnectorAnd, true, 2, 1, false, false, 5, 0x01},
      {3, 0x00, false, kConnectorAnd, true, 0, 0, false, false, 3, 0x00},
      {4, 0x42, false, kConnectorOr, true, 1, 2, false, false, 4, 0x42},
      {5, 0xC3, false, kConnectorOr, true, 2, 3, false, true, 5, 0xC3},
      // The first condition shows AND, disabled, and never keeps an OR bit.
      {3, 0x41, true, kConnectorAnd, false, 0, 1, false, false, 3, 0x01},
      // Regular expressions, as the quick filter makes them, keep operator 4.
      {5, 0xC4, false, kConnectorOr, true, 2, 4, true, true, 5, 0xC4},
      {3, 0x04, true, kConnectorAnd, false, 0, 4, true, false, 3, 0x04},
      {4, 0x84, false, kConnectorAnd, true, 1, 4, true, true, 4, 0x84},
      // A field the editor does not list opens and stores as the message.
      {9, 0x01, false, kConnectorAnd, true, 2, 1, false, false, 5, 0x01},
      // An operator without an entry opens unselected and is kept.
      {5, 0x47, false, kConnectorOr, true, 2, kNoChoice, false, false, 5, 0x47},
  };
  for (const ChoiceRow& row : rows) {
    SCOPED_TRACE(testing::Message() << "field " << int(row.field) << " flags " << int(row.flags));
    const ConditionChoices choices = ConditionChoicesFrom(row.field, row.flags, row.first);
    EXPECT_EQ(row.connector, choices.connector);
    EXPECT_EQ(row.connectorEnabled, choices.connectorEnabled);
    EXPECT_EQ(row.fieldChoice, choices.field);
    EXPECT_EQ(row.op, choices.op);
    EXPECT_EQ(row.regexEntry, choices.regexEntry);
    EXPECT_EQ(row.caseSensitive, choices.caseSensitive);
    EXPECT_EQ(row.fieldBack, ConditionFieldFromChoice(choices.field));
    EXPECT_EQ(row.flagsBack, ConditionFlagsFromChoices(choices, row.flags));
  }
}

TEST(FilterRules, ChoicesTheUserMakesBecomeFlags) {
  ConditionChoices regex = ConditionChoicesFrom(kConditionMessage, 0xC4, false);
  // No selection in the list (the list reports -1): the operator stays 4,
  // it does not become 3 by adding -1 into the flags.
  regex.op = kNoChoice;
  EXPECT_EQ(0xC4, ConditionFlagsFromChoices(regex, 0xC4));
  // Picking another operator replaces it.
  regex.op = 1;
  regex.connector = kConnectorAnd;
  regex.caseSensitive = false;
  EXPECT_EQ(0x01, ConditionFlagsFromChoices(regex, 0xC4));

  // The regular-expression index means nothing in a list without that entry.
  ConditionChoices plain = ConditionChoicesFrom(kConditionHint, 0x02, false);
  plain.op = kOperatorChoiceRegex;
  EXPECT_EQ(0x02, ConditionFlagsFromChoices(plain, 0x02));

  for (int op = 0; op < kOperatorChoiceCount; ++op) {
    plain.op = op;
    plain.connector = kConnectorOr;
    plain.caseSensitive = true;
    EXPECT_EQ(op | 0xC0, ConditionFlagsFromChoices(plain, 0x02)) << op;
  }
  EXPECT_EQ(kConditionModule, ConditionFieldFromChoice(kFieldChoiceModule));
  EXPECT_EQ(kConditionHint, ConditionFieldFromChoice(kFieldChoiceHint));
  EXPECT_EQ(kConditionMessage, ConditionFieldFromChoice(kFieldChoiceMessage));
  EXPECT_EQ(kConditionMessage, ConditionFieldFromChoice(kNoChoice));
}

}  // namespace
