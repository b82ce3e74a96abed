#include "core/TraceFilter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/core/RecordFixture.h"

namespace {

int MatchText(const CTraceFilter& filter, const wchar_t* module, const wchar_t* hint, const wchar_t* message) {
  RecordSpec spec;
  spec.module = module;
  spec.hint = hint;
  spec.message = message;
  OwnedRecord record(spec);
  return filter.Match(record.get());
}

int MatchMessage(const CTraceFilter& filter, const wchar_t* message) {
  return MatchText(filter, L"mod.dll", L"", message);
}

constexpr uint8_t kCaseSensitive = kConditionCaseSensitive;
constexpr uint8_t kOr = kConditionOr;

TEST(TraceFilterMatch, SwitchedOffTestsPassEveryRecord) {
  CTraceFilter filter;
  RecordSpec spec;
  OwnedRecord record(spec);
  EXPECT_EQ(1, filter.Match(record.get()));
  filter.m_levelMask = 0;  // not switched on, so not tested
  filter.m_pids.Append(9);
  EXPECT_EQ(1, filter.Match(record.get()));
  EXPECT_EQ(0, filter.Match(nullptr));
}

TEST(TraceFilterMatch, LevelProcessAndThreadTests) {
  struct Row {
    const char* what;
    uint32_t flags;
    uint32_t levelMask;
    std::vector<uint32_t> pids;
    std::vector<uint32_t> tids;
    uint32_t level, pid, tid;
    int expected;
  };
  const Row rows[] = {
      {"level hit", kFilterLevel, kLevelWarning | kLevelError, {}, {}, kLevelError, 1, 1, 1},
      {"level miss", kFilterLevel, kLevelWarning, {}, {}, kLevelInfo, 1, 1, 0},
      {"level mask on a bookmark bit", kFilterLevel, kMarkFirstBit, {}, {}, kLevelInfo | kMarkFirstBit, 1, 1, 1},
      {"pid in list", kFilterPids, 0, {5, 7}, {}, kLevelInfo, 7, 1, 1},
      {"pid not in list", kFilterPids, 0, {5, 7}, {}, kLevelInfo, 6, 1, 0},
      {"pid list empty", kFilterPids, 0, {}, {}, kLevelInfo, 6, 1, 0},
      {"tid in list", kFilterTids, 0, {}, {3}, kLevelInfo, 1, 3, 1},
      {"tid list empty", kFilterTids, 0, {}, {}, kLevelInfo, 1, 3, 0},
      {"all three pass", kFilterLevel | kFilterPids | kFilterTids, kLevelInfo, {1}, {2}, kLevelInfo, 1, 2, 1},
      {"tid fails last", kFilterLevel | kFilterPids | kFilterTids, kLevelInfo, {1}, {2}, kLevelInfo, 1, 3, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    CTraceFilter filter;
    filter.m_flags = row.flags;
    filter.m_levelMask = row.levelMask;
    for (uint32_t pid : row.pids) filter.m_pids.Append(pid);
    for (uint32_t tid : row.tids) filter.m_tids.Append(tid);
    RecordSpec spec;
    spec.level = row.level;
    spec.pid = row.pid;
    spec.tid = row.tid;
    OwnedRecord record(spec);
    EXPECT_EQ(row.expected, filter.Match(record.get()));
  }
}

// A and (B or C) and D over a small fixture of records.
TEST(TraceFilterMatch, AndOfAnOrGroup) {
  CTraceFilter filter;
  ASSERT_EQ(1, filter.AddCondition(kConditionModule, kOperatorInclude, L"core", -1));        // A
  ASSERT_EQ(1, filter.AddCondition(kConditionHint, kOperatorIs, L"net", -1));                // B
  ASSERT_EQ(1, filter.AddCondition(kConditionHint, kOperatorIs | kOr, L"disk", -1));         // C
  ASSERT_EQ(1, filter.AddCondition(kConditionMessage, kOperatorExclude, L"noise", -1));      // D
  ASSERT_EQ(1, filter.Compile());
  struct Row {
    const wchar_t* module;
    const wchar_t* hint;
    const wchar_t* message;
    int expected;
  };
  const Row rows[] = {
      {L"kelcore.dll", L"net", L"fine", 1},
      {L"KELCORE.DLL", L"DISK", L"Fine", 1},     // case-blind throughout
      {L"kelcore.dll", L"disk", L"some NOISE", 0},  // D fails
      {L"kelcore.dll", L"gpu", L"fine", 0},      // neither B nor C
      {L"kelcore.dll", L"", L"fine", 0},         // empty hint is neither
      {L"kelnet.dll", L"net", L"fine", 0},       // A fails
      {L"kelcore.dll", L"network", L"fine", 0},  // IS is not INCLUDE
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.module << " " << row.hint << " " << row.message);
    EXPECT_EQ(row.expected, MatchText(filter, row.module, row.hint, row.message));
  }
}

TEST(TraceFilterMatch, TwoOrGroupsInARow) {
  CTraceFilter filter;
  filter.AddCondition(kConditionMessage, kOperatorInclude, L"a", -1);
  filter.AddCondition(kConditionMessage, kOperatorInclude | kOr, L"b", -1);
  filter.AddCondition(kConditionMessage, kOperatorInclude, L"x", -1);
  filter.AddCondition(kConditionMessage, kOperatorInclude | kOr, L"y", -1);
  filter.AddCondition(kConditionMessage, kOperatorInclude | kOr, L"z", -1);
  ASSERT_EQ(1, filter.Compile());
  EXPECT_EQ(1, MatchMessage(filter, L"a z"));
  EXPECT_EQ(1, MatchMessage(filter, L"b x"));
  EXPECT_EQ(0, MatchMessage(filter, L"a b"));
  EXPECT_EQ(0, MatchMessage(filter, L"x y z"));
}

TEST(TraceFilterMatch, OperatorsOnEveryField) {
  struct Row {
    uint8_t field;
    uint8_t flags;
    const wchar_t* text;
    const wchar_t* value;
    int expected;
  };
  const Row rows[] = {
      {kConditionMessage, kOperatorIs, L"Hello", L"hello", 1},
      {kConditionMessage, kOperatorIs | kCaseSensitive, L"Hello", L"hello", 0},
      {kConditionMessage, kOperatorIs, L"", L"", 1},
      {kConditionMessage, kOperatorIs, L"", L"x", 0},
      {kConditionMessage, kOperatorIs, L"hell", L"hello", 0},
      {kConditionModule, kOperatorInclude, L"Foo", L"myFOOlib", 1},
      {kConditionModule, kOperatorInclude | kCaseSensitive, L"Foo", L"myFOOlib", 0},
      {kConditionModule, kOperatorInclude | kCaseSensitive, L"FOO", L"myFOOlib", 1},
      {kConditionModule, kOperatorInclude, L"", L"anything", 1},
      {kConditionModule, kOperatorInclude, L"lib", L"li", 0},
      {kConditionModule, kOperatorInclude, L"ab", L"aab", 1},       // a near miss before the hit
      {kConditionHint, kOperatorIsNot, L"x", L"X", 0},
      {kConditionHint, kOperatorIsNot, L"x", L"y", 1},
      {kConditionHint, kOperatorIsNot, L"", L"y", 1},
      {kConditionHint, kOperatorIsNot, L"", L"", 0},
      {kConditionHint, kOperatorExclude, L"", L"y", 0},
      {kConditionHint, kOperatorExclude, L"q", L"abc", 1},
      {kConditionHint, kOperatorExclude, L"B", L"abc", 0},
      {kConditionMessage, kOperatorInclude, L"\u00c4RGER", L"gro\u00dfer \u00e4rger", 1},  // non-ASCII lowered alike
      {6, kOperatorInclude, L"", L"x", 0},                                        // no such field
      {kConditionMessage, 9, L"", L"x", 0},                                       // no such operator
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << int(row.field) << " op " << int(row.flags) << " \"" << row.text << "\" on \""
                                    << row.value << "\"");
    CTraceFilter filter;
    ASSERT_EQ(1, filter.AddCondition(row.field, row.flags, row.text, -1));
    ASSERT_EQ(1, filter.Compile());
    const wchar_t* module = row.field == kConditionModule ? row.value : L"m";
    const wchar_t* hint = row.field == kConditionHint ? row.value : L"h";
    const wchar_t* message = (row.field == kConditionMessage || row.field == 6) ? row.value : L"msg";
    EXPECT_EQ(row.expected, MatchText(filter, module, hint, message));
  }
}

TEST(TraceFilterMatch, LongMessagesAreSearchedWhole) {
  for (size_t length : {size_t(127), size_t(128), size_t(200), size_t(2047), size_t(2048), size_t(5000)}) {
    SCOPED_TRACE(length);
    std::wstring message(length - 6, L'x');
    message += L"NEEDLE";
    CTraceFilter blind;
    blind.AddCondition(kConditionMessage, kOperatorInclude, L"needle", -1);
    blind.AddCondition(kConditionMessage, kOperatorExclude, L"haystack", -1);
    ASSERT_EQ(1, blind.Compile());
    EXPECT_EQ(1, MatchMessage(blind, message.c_str()));
    CTraceFilter exact;
    exact.AddCondition(kConditionMessage, kOperatorIs, message.c_str(), -1);  // kept as its first 127
    ASSERT_EQ(1, exact.Compile());
    EXPECT_EQ(length == 127 ? 1 : 0, MatchMessage(exact, message.c_str()));
  }
}

// Places a pattern (and a near miss of it) at every position of texts of
// many lengths and checks INCLUDE and IS against a plain search of the
// lowered text, in and across blocks of eight units.
TEST(TraceFilterMatch, IncludeAgreesWithAPlainSearchEverywhere) {
  const std::wstring filler = L"abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  int mismatches = 0;
  for (size_t patternLength = 1; patternLength <= 10; ++patternLength) {
    std::wstring pattern;
    for (size_t k = 0; k < patternLength; ++k) pattern += static_cast<wchar_t>(k % 2 ? L'\u00c9' : L'Q');
    std::wstring lowered = pattern;
    for (wchar_t& c : lowered) c = c == L'Q' ? L'q' : c == L'\u00c9' ? L'\u00e9' : c;
    CTraceFilter include;
    include.AddCondition(kConditionMessage, kOperatorInclude, pattern.c_str(), -1);
    include.Compile();
    for (size_t length = 0; length <= 40; ++length) {
      for (size_t at = 0; at <= length; ++at) {
        for (int variant = 0; variant < 2; ++variant) {
          std::wstring text = filler.substr(0, length);
          if (at + patternLength <= length) {
            text.replace(at, patternLength, pattern);
            if (variant) text[at + patternLength - 1] = L'#';  // near miss
          }
          std::wstring expectText = text;
          for (wchar_t& c : expectText) c = (c >= L'A' && c <= L'Z') ? wchar_t(c + 32) : c == L'\u00c9' ? L'\u00e9' : c;
          const int expected = expectText.find(lowered) != std::wstring::npos;
          if (MatchMessage(include, text.c_str()) != expected) ++mismatches;
        }
      }
    }
  }
  EXPECT_EQ(0, mismatches);
}

TEST(TraceFilterMatch, AStringIsReadOnlyInsideItsRecord) {
  RecordSpec spec;
  spec.message = L"hello world";
  OwnedRecord record(spec);
  auto* damaged = const_cast<TraceRecord*>(record.get());
  damaged->length = uint16_t(damaged->messageOffset + 4 * sizeof(wchar_t));  // no terminator inside
  CTraceFilter filter;
  filter.AddCondition(kConditionMessage, kOperatorIs, L"hell", -1);
  ASSERT_EQ(1, filter.Compile());
  EXPECT_EQ(1, filter.Match(record.get()));
  damaged->messageOffset = uint16_t(damaged->length + 8);  // points past the record: an empty string
  EXPECT_EQ(0, filter.Match(record.get()));
}

TEST(TraceFilterMatch, CaseBlindContainmentReadsOnlyInsideItsRecord) {
  RecordSpec spec;
  spec.message = L"hello WORLD";
  OwnedRecord record(spec);
  CTraceFilter include, exclude;
  include.AddCondition(kConditionMessage, kOperatorInclude, L"World", -1);
  exclude.AddCondition(kConditionMessage, kOperatorExclude, L"World", -1);
  ASSERT_EQ(1, include.Compile());
  ASSERT_EQ(1, exclude.Compile());
  EXPECT_EQ(1, include.Match(record.get()));
  EXPECT_EQ(0, exclude.Match(record.get()));
  auto* damaged = const_cast<TraceRecord*>(record.get());
  damaged->length = uint16_t(damaged->messageOffset + 8 * sizeof(wchar_t));  // "hello WO", no terminator
  EXPECT_EQ(0, include.Match(record.get()));
  EXPECT_EQ(1, exclude.Match(record.get()));
  CTraceFilter cut;
  cut.AddCondition(kConditionMessage, kOperatorInclude, L"LO w", -1);
  ASSERT_EQ(1, cut.Compile());
  EXPECT_EQ(1, cut.Match(record.get()));
}

TEST(TraceFilterRegex, IsMatchedAsWritten) {
  struct Row {
    uint8_t flags;
    const wchar_t* expression;
    const wchar_t* message;
    int expected;
  };
  const uint8_t blind = kOperatorRegex;
  const uint8_t exact = kOperatorRegex | kCaseSensitive;
  const Row rows[] = {
      {exact, L"^\\D+$", L"letters only", 1},    // lowering would make it \d
      {exact, L"^\\D+$", L"has 1 digit", 0},
      {blind, L"^\\D+$", L"LETTERS", 1},
      {exact, L"\\bW\\w+", L"Hello World", 1},
      {exact, L"ERROR \\d+", L"error 42", 0},
      {blind, L"ERROR \\d+", L"error 42", 1},   // case-blind is compiled case-blind
      {blind, L"error \\d+", L"ERROR 42", 1},
      {exact, L"lo W", L"Hello World", 1},      // a search, not a full match
      {exact, L"", L"anything", 1},
      {exact, L"", L"", 1},
      {exact, L"^$", L"", 1},
      {exact, L"(", L"(", 0},                   // invalid: matches nothing
      {blind, L"[z-a]", L"abc", 0},
      {exact, L"a{2,1}", L"aa", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.expression << " on " << row.message);
    CTraceFilter filter;
    ASSERT_EQ(1, filter.AddCondition(kConditionMessage, row.flags, row.expression, -1));
    EXPECT_STREQ(row.expression, filter.ConditionAt(0)->m_text.c_str());
    ASSERT_EQ(1, filter.Compile());
    EXPECT_EQ(row.expected, MatchMessage(filter, row.message));
  }
}

TEST(TraceFilterRegex, AnInvalidAlternativeLeavesTheOthersWorking) {
  CTraceFilter filter;
  filter.AddCondition(kConditionMessage, kOperatorRegex | kCaseSensitive, L"(unclosed", -1);
  filter.AddCondition(kConditionMessage, kOperatorRegex | kCaseSensitive | kOr, L"^ok", -1);
  ASSERT_EQ(1, filter.Compile());
  EXPECT_EQ(1, MatchMessage(filter, L"ok then"));
  EXPECT_EQ(0, MatchMessage(filter, L"(unclosed"));
}

TEST(TraceFilterRegex, ACopyCompilesItsOwnExpressions) {
  CTraceFilter source;
  source.AddCondition(kConditionHint, kOperatorRegex, L"^n[0-9]", -1);
  ASSERT_EQ(1, source.Compile());
  CTraceFilter copy(source);
  EXPECT_EQ(0, MatchText(copy, L"m", L"N5", L"x"));  // copies start uncompiled
  ASSERT_EQ(1, copy.Compile());
  source.RemoveAllConditions(nullptr);
  EXPECT_EQ(1, MatchText(copy, L"m", L"N5", L"x"));
  EXPECT_EQ(0, MatchText(copy, L"m", L"x5", L"x"));
}

TEST(TraceFilterConditions, AddingKeepsTheTextAsTheCaseRuleSays) {
  CTraceFilter filter;
  filter.AddCondition(kConditionMessage, kOperatorInclude, L"MiXeD", -1);
  filter.AddCondition(kConditionMessage, kOperatorInclude | kCaseSensitive, L"MiXeD", -1);
  filter.AddCondition(kConditionMessage, kOperatorRegex, L"MiXeD\\D", -1);
  const std::wstring longText(200, L'w');
  filter.AddCondition(kConditionMessage, kOperatorIs, longText.c_str(), -1);
  filter.AddCondition(kConditionMessage, kOperatorIs | kCaseSensitive, nullptr, -1);
  ASSERT_EQ(5u, filter.ConditionCount());
  EXPECT_STREQ(L"mixed", filter.ConditionAt(0)->m_text.c_str());
  EXPECT_STREQ(L"MiXeD", filter.ConditionAt(1)->m_text.c_str());
  EXPECT_STREQ(L"MiXeD\\D", filter.ConditionAt(2)->m_text.c_str());
  EXPECT_EQ(127u, filter.ConditionAt(3)->m_text.GetLength());
  EXPECT_STREQ(L"", filter.ConditionAt(4)->m_text.c_str());
  EXPECT_EQ(kFilterConditions, filter.m_flags);
}

TEST(TraceFilterConditions, DuplicatesAreDroppedOnlyWhereTheyTestTheSame) {
  struct Add {
    const wchar_t* text;
    uint8_t flags;
  };
  struct Row {
    const char* what;
    std::vector<Add> adds;
    size_t kept;
  };
  const uint8_t inc = kOperatorInclude;
  const Row rows[] = {
      {"plain twice", {{L"a", inc}, {L"a", inc}}, 1},
      {"plain twice, other text between", {{L"a", inc}, {L"b", inc}, {L"a", inc}}, 2},
      {"plain, OR group between", {{L"a", inc}, {L"b", inc}, {L"c", inc | kOr}, {L"a", inc}}, 4},
      {"plain after its own OR group", {{L"a", inc}, {L"b", inc | kOr}, {L"b", inc}}, 3},
      {"OR equal to a member", {{L"a", inc}, {L"b", inc}, {L"c", inc | kOr}, {L"b", inc | kOr}}, 3},
      {"OR equal to the group head", {{L"a", inc}, {L"b", inc | kOr}, {L"a", inc | kOr}}, 2},
      {"OR equal to one before the group", {{L"a", inc}, {L"b", inc}, {L"c", inc | kOr}, {L"a", inc | kOr}}, 4},
      {"same text, other case flag", {{L"a", inc}, {L"a", inc | kCaseSensitive}}, 2},
      {"same text, other operator", {{L"a", inc}, {L"a", kOperatorExclude}}, 2},
      {"case-blind texts equal once lowered", {{L"A", inc}, {L"a", inc}}, 1},
      {"first condition loses its OR bit", {{L"a", inc | kOr}, {L"a", inc}}, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    CTraceFilter filter;
    for (const Add& add : row.adds) ASSERT_EQ(1, filter.AddCondition(kConditionMessage, add.flags, add.text, -1));
    EXPECT_EQ(row.kept, filter.ConditionCount());
    EXPECT_FALSE(filter.ConditionAt(0)->IsOr());
  }
}

TEST(TraceFilterConditions, AFullListRefusesAppendsButReplaces) {
  CTraceFilter filter;
  for (int i = 0; i < 16; ++i) {
    ASSERT_EQ(1, filter.AddCondition(kConditionMessage, kOperatorInclude, std::to_wstring(i).c_str(), -1));
  }
  EXPECT_EQ(0, filter.AddCondition(kConditionMessage, kOperatorInclude, L"17th", -1));
  EXPECT_EQ(16u, filter.ConditionCount());
  EXPECT_EQ(1, filter.AddCondition(kConditionHint, kOperatorIs, L"New", 15));
  EXPECT_STREQ(L"new", filter.ConditionAt(15)->m_text.c_str());
  EXPECT_EQ(kConditionHint, filter.ConditionAt(15)->m_field);
  EXPECT_EQ(1, filter.Compile());
}

TEST(TraceFilterConditions, ReplacingOutsideTheListFails) {
  CTraceFilter filter;
  EXPECT_EQ(0, filter.AddCondition(kConditionMessage, kOperatorInclude, L"a", 0));  // empty list
  filter.AddCondition(kConditionMessage, kOperatorInclude, L"a", -1);
  filter.AddCondition(kConditionMessage, kOperatorInclude, L"b", -1);
  for (int bad : {2, 3, -2, 1000}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(0, filter.AddCondition(kConditionMessage, kOperatorInclude, L"z", bad));
  }
  EXPECT_EQ(2u, filter.ConditionCount());
  EXPECT_STREQ(L"b", filter.ConditionAt(1)->m_text.c_str());
  // Replacing index 0 never leaves an OR bit on the first condition.
  EXPECT_EQ(1, filter.AddCondition(kConditionMessage, kOperatorInclude | kOr, L"c", 0));
  EXPECT_FALSE(filter.ConditionAt(0)->IsOr());
}

TEST(TraceFilterConditions, Removing) {
  CTraceFilter filter;
  filter.AddCondition(kConditionMessage, kOperatorInclude, L"a", -1);
  filter.AddCondition(kConditionMessage, kOperatorInclude | kOr, L"b", -1);
  filter.RemoveCondition(2);
  filter.RemoveCondition(-1);
  EXPECT_EQ(2u, filter.ConditionCount());
  filter.RemoveCondition(0);
  ASSERT_EQ(1u, filter.ConditionCount());
  EXPECT_STREQ(L"b", filter.ConditionAt(0)->m_text.c_str());
  EXPECT_FALSE(filter.ConditionAt(0)->IsOr());
  ASSERT_EQ(1, filter.Compile());
  EXPECT_EQ(0, MatchMessage(filter, L"a"));
  EXPECT_EQ(1, MatchMessage(filter, L"b"));
  filter.RemoveCondition(0);
  EXPECT_EQ(0u, filter.m_flags & kFilterConditions);
  EXPECT_EQ(1, MatchMessage(filter, L"a"));
}

TEST(TraceFilterConditions, AnEditedFilterMatchesNothingUntilCompiled) {
  CTraceFilter filter;
  filter.AddCondition(kConditionMessage, kOperatorInclude, L"a", -1);
  EXPECT_EQ(0, MatchMessage(filter, L"a"));
  ASSERT_EQ(1, filter.Compile());
  EXPECT_EQ(1, MatchMessage(filter, L"a"));
  filter.AddCondition(kConditionMessage, kOperatorInclude, L"b", -1);
  EXPECT_EQ(0, MatchMessage(filter, L"a b"));
}

// Kinds and next offsets of A, B|C, D: each OR alternative jumps past its
// wrapped node, each wrapped node to the group end.
TEST(TraceFilterCompile, NodeLayout) {
  CTraceFilter filter;
  filter.AddCondition(kConditionModule, kOperatorInclude, L"a", -1);
  filter.AddCondition(kConditionHint, kOperatorIs, L"bb", -1);
  filter.AddCondition(kConditionHint, kOperatorIs | kOr, L"c", -1);
  filter.AddCondition(kConditionMessage, kOperatorExclude | kCaseSensitive, L"D", -1);
  ASSERT_EQ(1, filter.Compile());
  struct Row {
    size_t offset;
    uint8_t kind;
    uint8_t flags;
    size_t next;
  };
  // Text bytes: "a" 4, "bb" 6, "c" 4, "D" 4.
  const Row rows[] = {
      {0, kConditionModule, kOperatorInclude, 20},
      {20, kNodeOrAlternative, 0, 58},
      {36, kConditionHint, kOperatorIs, 94},
      {58, kNodeOrAlternative, 0, 94},
      {74, kConditionHint, kOperatorIs | kOr, 94},
      {94, kNodeOrEnd, 0, 110},
      {110, kConditionMessage, kOperatorExclude | kCaseSensitive, 130},
      {130, kNodeEnd, 0, 146},
  };
  const TraceFilterNodeList& nodes = filter.Nodes();
  ASSERT_EQ(146u, nodes.used);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.offset);
    const auto* node = reinterpret_cast<const TraceFilterNode*>(nodes.data + row.offset);
    EXPECT_EQ(row.kind, node->kind);
    EXPECT_EQ(row.flags, node->flags);
    EXPECT_EQ(row.next, node->next);
  }
  EXPECT_STREQ(L"bb", reinterpret_cast<const TraceFilterNode*>(nodes.data + 36)->Text());
}

TEST(TraceFilterCompile, NoConditionsGivesOneEndNode) {
  CTraceFilter filter;
  ASSERT_EQ(1, filter.Compile());
  EXPECT_EQ(sizeof(TraceFilterNode), filter.Nodes().used);
  EXPECT_EQ(kNodeEnd, filter.Nodes().data[0]);
}

TEST(TraceFilterAssign, APartMaskSwitchesOnlyTheTestsItCopies) {
  CTraceFilter view;
  view.SetLevelMask(kLevelError);
  CTraceFilter source;
  source.AddProcessId(42);
  source.SetLevelMask(kLevelDebug);
  source.AddCondition(kConditionMessage, kOperatorInclude, L"x", -1);
  ASSERT_EQ(1, view.Assign(kFilterPids, source));
  EXPECT_EQ(kFilterLevel | kFilterPids, view.m_flags);
  EXPECT_EQ(kLevelError, view.m_levelMask);
  EXPECT_EQ(0u, view.ConditionCount());

  RecordSpec spec;
  spec.pid = 42;
  spec.level = kLevelError;
  spec.message = L"no match wanted here";
  OwnedRecord errorOf42(spec);
  EXPECT_EQ(1, view.Match(errorOf42.get()));

  // The source's level test is not taken, so it is not switched on either
  // (it would test this filter's own, empty, level mask).
  CTraceFilter bare;
  ASSERT_EQ(1, bare.Assign(kFilterPids, source));
  EXPECT_EQ(kFilterPids, bare.m_flags);
  EXPECT_EQ(1, bare.Match(errorOf42.get()));

  // Taking the conditions compiles them; the level and pid tests stay.
  ASSERT_EQ(1, view.Assign(kFilterConditions, source));
  EXPECT_EQ(kFilterLevel | kFilterPids | kFilterConditions, view.m_flags);
  EXPECT_EQ(0, view.Match(errorOf42.get()));
  spec.message = L"x marks it";
  OwnedRecord withX(spec);
  EXPECT_EQ(1, view.Match(withX.get()));

  // Taking a part the source has switched off switches it off here.
  CTraceFilter noPids;
  ASSERT_EQ(1, view.Assign(kFilterPids, noPids));
  EXPECT_EQ(kFilterLevel | kFilterConditions, view.m_flags);
  EXPECT_EQ(0u, view.m_pids.count);
}

TEST(TraceFilterAssign, MaskZeroTakesEverythingAndCompiles) {
  CTraceFilter source;
  source.SetLevelMask(kLevelInfo);
  source.AddThreadId(7);
  source.AddCondition(kConditionMessage, kOperatorInclude, L"Keep", -1);
  source.m_flags |= 0xF0;  // bits beyond the four are dropped
  CTraceFilter view;
  view.AddProcessId(1);
  ASSERT_EQ(1, view.Assign(0, source));
  EXPECT_EQ(kFilterLevel | kFilterTids | kFilterConditions, view.m_flags);
  EXPECT_EQ(0u, view.m_pids.count);
  RecordSpec spec;
  spec.tid = 7;
  spec.message = L"please KEEP me";
  OwnedRecord keep(spec);
  EXPECT_EQ(1, view.Match(keep.get()));
  spec.message = L"drop me";
  OwnedRecord drop(spec);
  EXPECT_EQ(0, view.Match(drop.get()));
}

TEST(TraceFilterAssign, ConditionsSwitchedOnButAbsentAreSwitchedOff) {
  CTraceFilter source;
  source.m_flags = kFilterConditions;
  CTraceFilter view;
  ASSERT_EQ(1, view.Assign(kFilterConditions, source));
  EXPECT_EQ(0u, view.m_flags);
  EXPECT_EQ(1, MatchMessage(view, L"anything"));
  ASSERT_EQ(1, view.Assign(0, view));  // onto itself: only normalises
}

TEST(TraceFilterCopy, CopiesEveryPart) {
  CTraceFilter source;
  source.SetLevelMask(kLevelWarning);
  source.AddProcessId(3);
  source.AddThreadId(4);
  source.AddCondition(kConditionHint, kOperatorIs, L"h", -1);
  CTraceFilter copy(source);
  CTraceFilter assigned;
  assigned.AddCondition(kConditionMessage, kOperatorInclude, L"old", -1);
  assigned = source;
  for (const CTraceFilter* filter : {&copy, &assigned}) {
    EXPECT_EQ(source.m_flags, filter->m_flags);
    EXPECT_EQ(kLevelWarning, filter->m_levelMask);
    ASSERT_EQ(1u, filter->m_pids.count);
    EXPECT_EQ(3u, filter->m_pids[0]);
    ASSERT_EQ(1u, filter->m_tids.count);
    ASSERT_EQ(1u, filter->ConditionCount());
    EXPECT_STREQ(L"h", filter->ConditionAt(0)->m_text.c_str());
    EXPECT_EQ(0u, filter->Nodes().used);
  }
}

TEST(TraceFilterCompare, IsDifferent) {
  auto make = [](uint32_t flags, uint32_t level, std::vector<uint32_t> pids, std::vector<uint32_t> tids) {
    auto* filter = new CTraceFilter;
    filter->m_flags = flags;
    filter->m_levelMask = level;
    for (uint32_t pid : pids) filter->m_pids.Append(pid);
    for (uint32_t tid : tids) filter->m_tids.Append(tid);
    return filter;
  };
  struct Row {
    const char* what;
    CTraceFilter* a;
    CTraceFilter* b;
    int different;
  };
  const Row rows[] = {
      {"both empty", make(0, 0, {}, {}), make(0, 0, {}, {}), 0},
      {"flags differ", make(kFilterLevel, 1, {}, {}), make(0, 1, {}, {}), 1},
      {"level differs", make(kFilterLevel, 1, {}, {}), make(kFilterLevel, 2, {}, {}), 1},
      {"level unused", make(0, 1, {}, {}), make(0, 2, {}, {}), 0},
      {"pids equal", make(kFilterPids, 0, {1, 2}, {}), make(kFilterPids, 0, {1, 2}, {}), 0},
      {"pid order", make(kFilterPids, 0, {1, 2}, {}), make(kFilterPids, 0, {2, 1}, {}), 1},
      {"pid count", make(kFilterPids, 0, {1}, {}), make(kFilterPids, 0, {1, 2}, {}), 1},
      {"pids unused", make(0, 0, {1}, {}), make(0, 0, {2}, {}), 0},
      {"tids differ", make(kFilterTids, 0, {}, {5}), make(kFilterTids, 0, {}, {6}), 1},
      {"conditions used", make(kFilterConditions, 0, {}, {}), make(kFilterConditions, 0, {}, {}), 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(row.different, row.a->IsDifferent(*row.b) != 0);
    EXPECT_EQ(row.different == 0, *row.a == *row.b);
    delete row.a;
    delete row.b;
  }
}

TEST(TraceFilterFormat, TextFormOfConditions) {
  CTraceFilter filter;
  filter.AddCondition(kConditionModule, kOperatorIs, L"a", -1);
  filter.AddCondition(kConditionHint, kOperatorInclude | kOr, L"b", -1);
  filter.AddCondition(kConditionMessage, kOperatorIsNot, L"c", -1);
  filter.AddCondition(kConditionMessage, kOperatorRegex | kCaseSensitive, L"^x+\\d", -1);
  filter.AddCondition(7, kOperatorExclude | kOr, L"e", -1);
  const wchar_t* expected[] = {
      L"AND \"NAME\" IS \"a\"",
      L"    OR \"HINT\" INCLUDE \"b\"",
      L"AND \"MESSAGE\" IS NOT \"c\"",
      L"AND \"MESSAGE\" REGEX \"^x+\\d\"",
      L"    OR \"MESSAGE\" EXCLUDE \"e\"",
  };
  wchar_t buffer[64];
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(int(wcslen(expected[i])), filter.FormatCondition(i, buffer, 64));
    EXPECT_STREQ(expected[i], buffer);
  }
  EXPECT_EQ(7, filter.FormatCondition(0, buffer, 8));
  EXPECT_STREQ(L"AND \"NA", buffer);
  EXPECT_EQ(-1, filter.FormatCondition(5, buffer, 64));
  EXPECT_STREQ(L"", buffer);
  EXPECT_EQ(-1, filter.FormatCondition(0, buffer, 0));
}

}  // namespace
