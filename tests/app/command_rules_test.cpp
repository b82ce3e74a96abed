// The frame's window-free rules as tables: menu states by the gathered
// facts, search ranges, header order arithmetic, quick-filter parsing, the
// filter menus, dragged rows, file names, the copy format and the keys an
// edit control keeps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/AcceleratorFilter.h"
#include "app/ColumnOrder.h"
#include "app/CopyFormat.h"
#include "app/DragRows.h"
#include "app/FileNames.h"
#include "app/FilterMenus.h"
#include "app/MainFrame.h"
#include "app/QuickFilter.h"
#include "app/SearchRange.h"
#include "core/AppConfig.h"
#include "core/RecordBuilder.h"
#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "resource.h"

namespace {

// ---------------------------------------------------------------- menu states

CommandFacts Idle() {
  CommandFacts facts;
  facts.lastBookmarkCommand = ID_BOOKMARK_GRAY;
  return facts;
}
CommandFacts FileWithSelection() {
  CommandFacts facts = Idle();
  facts.hasRows = facts.rowSelected = facts.viewUsable = true;
  facts.documentRecords = facts.viewRecords = 100;
  facts.captureOn = true;
  return facts;
}
CommandFacts Live() {
  CommandFacts facts = FileWithSelection();
  facts.liveShown = true;
  facts.followNewItems = true;
  return facts;
}

struct StateCase {
  const char* name;
  CommandFacts facts;
  UINT id;
  bool enabled;
  int check;
};

CommandFacts With(CommandFacts facts, void (*change)(CommandFacts&)) {
  change(facts);
  return facts;
}

const StateCase kStateCases[] = {
    // An empty list: Goto, bookmarks and colours grey, Find stays.
    {"empty: goto", Idle(), ID_VIEW_GOTO, false, -1},
    {"empty: toggle", Idle(), ID_BOOKMARK_TOGGLE, false, -1},
    {"empty: colour", Idle(), ID_BOOKMARK_RED, false, 0},
    {"empty: next mark", Idle(), ID_BOOKMARK_NEXT, false, -1},
    {"empty: clear marks", Idle(), ID_BOOKMARK_CLEAR, false, -1},
    {"empty: find", Idle(), ID_EDIT_FIND, true, -1},
    {"empty: find next", Idle(), ID_EDIT_FIND_NEXT, true, -1},
    {"empty: copy", Idle(), ID_EDIT_COPY, false, -1},
    {"empty: save", Idle(), ID_FILE_SAVE, false, -1},
    {"empty: statistic", Idle(), ID_TOOLS_STATISTIC, false, -1},
    // Rows but no selection.
    {"rows: copy", With(FileWithSelection(), [](CommandFacts& f) { f.rowSelected = false; }), ID_EDIT_COPY, false, -1},
    {"rows: goto", With(FileWithSelection(), [](CommandFacts& f) { f.rowSelected = false; }), ID_VIEW_GOTO, true, -1},
    {"selection: copy message", FileWithSelection(), ID_EDIT_COPY_MESSAGE, true, -1},
    {"selection: toggle", FileWithSelection(), ID_BOOKMARK_TOGGLE, true, -1},
    // A file document: Clear Display and Auto Scroll grey.
    {"file: clear display", FileWithSelection(), ID_VIEW_CLEAR_DISPLAY, false, -1},
    {"file: auto scroll", FileWithSelection(), ID_VIEW_AUTO_SCROLL, false, -1},
    {"live: clear display", Live(), ID_VIEW_CLEAR_DISPLAY, true, -1},
    {"live: auto scroll checked", Live(), ID_VIEW_AUTO_SCROLL, true, 1},
    {"live: auto scroll off", With(Live(), [](CommandFacts& f) { f.followNewItems = false; }), ID_VIEW_AUTO_SCROLL,
     true, 0},
    // A view owned by a filter job: Filter and every mark command refused.
    {"job: filter", With(FileWithSelection(), [](CommandFacts& f) { f.viewUsable = false; }), ID_VIEW_FILTER, false, -1},
    {"job: toggle", With(FileWithSelection(), [](CommandFacts& f) { f.viewUsable = false; }), ID_BOOKMARK_TOGGLE, false,
     -1},
    {"job: colour", With(FileWithSelection(), [](CommandFacts& f) { f.viewUsable = false; }), ID_BOOKMARK_BLUE, false,
     0},
    {"job: clear marks", With(FileWithSelection(), [](CommandFacts& f) { f.viewUsable = false; }), ID_BOOKMARK_CLEAR,
     false, -1},
    {"job: quick filter", With(FileWithSelection(), [](CommandFacts& f) { f.viewUsable = false; }), ID_QUICK_FILTER,
     false, -1},
    {"usable: filter", FileWithSelection(), ID_VIEW_FILTER, true, -1},
    // Saving needs records in the document or the view.
    {"save", FileWithSelection(), ID_FILE_SAVE, true, -1},
    {"save view of none", With(FileWithSelection(), [](CommandFacts& f) { f.viewRecords = 0; }), ID_FILE_SAVE_VIEW,
     false, -1},
    // Connection states 0, 1, 2 with capture on and off.
    {"connect: idle", FileWithSelection(), ID_TOOLS_CONNECT, true, -1},
    {"connect: capture off", With(FileWithSelection(), [](CommandFacts& f) { f.captureOn = false; }), ID_TOOLS_CONNECT,
     false, -1},
    {"connect: connecting", With(FileWithSelection(), [](CommandFacts& f) { f.connection = 1; }), ID_TOOLS_CONNECT,
     false, -1},
    {"connect: connected", With(FileWithSelection(), [](CommandFacts& f) { f.connection = 2; }), ID_TOOLS_CONNECT, false,
     -1},
    {"disconnect: idle", FileWithSelection(), ID_TOOLS_DISCONNECT, false, -1},
    {"disconnect: connecting", With(FileWithSelection(), [](CommandFacts& f) { f.connection = 1; }),
     ID_TOOLS_DISCONNECT, false, -1},
    {"disconnect: connected", With(FileWithSelection(), [](CommandFacts& f) { f.connection = 2; }),
     ID_TOOLS_DISCONNECT, true, -1},
    {"disconnect: capture off", With(FileWithSelection(), [](CommandFacts& f) {
       f.connection = 2;
       f.captureOn = false;
     }),
     ID_TOOLS_DISCONNECT, false, -1},
    // Dump files: by the local list when not connected, by capture when connected.
    {"dump: empty list", FileWithSelection(), ID_FILE_SAVE_DUMP, false, -1},
    {"dump: list", With(FileWithSelection(), [](CommandFacts& f) { f.dumpListEmpty = false; }), ID_FILE_SAVE_DUMP, true,
     -1},
    {"dump: connecting", With(FileWithSelection(), [](CommandFacts& f) {
       f.dumpListEmpty = false;
       f.connection = 1;
     }),
     ID_FILE_SAVE_DUMP, false, -1},
    {"dump: connected", With(FileWithSelection(), [](CommandFacts& f) { f.connection = 2; }), ID_FILE_SAVE_DUMP, true,
     -1},
    {"dump: connected, capture off", With(FileWithSelection(), [](CommandFacts& f) {
       f.connection = 2;
       f.captureOn = false;
     }),
     ID_FILE_SAVE_DUMP, false, -1},
    // Uploads: the has-data flag, the view's changed flag, no open upload dialog.
    {"send: no data", FileWithSelection(), ID_TOOLS_SEND, false, -1},
    {"send: data", With(FileWithSelection(), [](CommandFacts& f) { f.documentHasData = true; }), ID_TOOLS_SEND, true,
     -1},
    {"send: dialog open", With(FileWithSelection(), [](CommandFacts& f) {
       f.documentHasData = true;
       f.uploadDialogOpen = true;
     }),
     ID_TOOLS_SEND, false, -1},
    {"send view: unchanged", With(FileWithSelection(), [](CommandFacts& f) { f.documentHasData = true; }),
     ID_TOOLS_SEND_VIEW, false, -1},
    {"send view: changed", With(FileWithSelection(), [](CommandFacts& f) {
       f.documentHasData = true;
       f.viewChanged = true;
     }),
     ID_TOOLS_SEND_VIEW, true, -1},
    // Statistic: one dialog at most.
    {"statistic", FileWithSelection(), ID_TOOLS_STATISTIC, true, -1},
    {"statistic open", With(FileWithSelection(), [](CommandFacts& f) { f.statisticDialogOpen = true; }),
     ID_TOOLS_STATISTIC, false, -1},
    // Checks: always on top, the last colour command.
    {"on top", With(Idle(), [](CommandFacts& f) { f.alwaysOnTop = true; }), ID_VIEW_ALWAYS_ON_TOP, true, 1},
    {"not on top", Idle(), ID_VIEW_ALWAYS_ON_TOP, true, 0},
    {"last colour checked", With(FileWithSelection(), [](CommandFacts& f) { f.lastBookmarkCommand = ID_BOOKMARK_PINK; }),
     ID_BOOKMARK_PINK, true, 1},
    {"other colour unchecked",
     With(FileWithSelection(), [](CommandFacts& f) { f.lastBookmarkCommand = ID_BOOKMARK_PINK; }), ID_BOOKMARK_GRAY,
     true, 0},
    // Commands without a rule.
    {"open", Idle(), ID_FILE_OPEN, true, -1},
    {"history entry", Idle(), ID_FILE_HISTORY_FIRST + 38, true, -1},
    {"options", Idle(), ID_VIEW_OPTIONS, true, -1},
    {"about", Idle(), ID_APP_ABOUT, true, -1},
};

TEST(CommandRules, MenuStatesFollowTheFacts) {
  for (const StateCase& c : kStateCases) {
    SCOPED_TRACE(c.name);
    ASSERT_NE(CMainFrame::FindCommand(c.id), nullptr);
    const CommandState state = CMainFrame::CommandStateOf(c.id, c.facts);
    EXPECT_EQ(state.enabled, c.enabled);
    EXPECT_EQ(state.check, c.check);
  }
}

TEST(CommandRules, EveryMenuAndAcceleratorCommandHasARow) {
  HINSTANCE module = ::GetModuleHandleW(nullptr);
  std::vector<UINT> ids;
  for (UINT menuId : {UINT(IDR_MAINFRAME), UINT(IDR_FILE_MENU), UINT(IDR_TOOLS_MENU)}) {
    HMENU menu = ::LoadMenuW(module, MAKEINTRESOURCEW(menuId));
    ASSERT_NE(menu, nullptr);
    std::vector<HMENU> pending = {menu};
    while (!pending.empty()) {
      HMENU current = pending.back();
      pending.pop_back();
      for (int i = 0; i < ::GetMenuItemCount(current); ++i) {
        if (HMENU sub = ::GetSubMenu(current, i)) {
          pending.push_back(sub);
        } else if (::GetMenuItemID(current, i) != 0) {
          ids.push_back(::GetMenuItemID(current, i));
        }
      }
    }
    ::DestroyMenu(menu);
  }
  HACCEL table = ::LoadAcceleratorsW(module, MAKEINTRESOURCEW(IDR_MAINFRAME));
  ASSERT_NE(table, nullptr);
  ACCEL keys[64];
  const int count = ::CopyAcceleratorTableW(table, keys, 64);
  EXPECT_EQ(count, 21);
  for (int i = 0; i < count; ++i) ids.push_back(keys[i].cmd);
  for (UINT id : ids) {
    EXPECT_NE(CMainFrame::FindCommand(id), nullptr) << id;
  }
}

// ---------------------------------------------------------------- search ranges

struct PlanCase {
  int selected, rows;
  SearchRange first;
  bool hasSecond;
  SearchRange second;
};

template <size_t N>
void ExpectPlans(const PlanCase (&cases)[N], SearchPlan (*makePlan)(int, int)) {
  for (const PlanCase& c : cases) {
    const SearchPlan plan = makePlan(c.selected, c.rows);
    EXPECT_EQ(plan.first.from, c.first.from) << c.selected;
    EXPECT_EQ(plan.first.to, c.first.to) << c.selected;
    ASSERT_EQ(plan.hasSecond, c.hasSecond) << c.selected;
    if (c.hasSecond) {
      EXPECT_EQ(plan.second.from, c.second.from) << c.selected;
      EXPECT_EQ(plan.second.to, c.second.to) << c.selected;
    }
  }
}

TEST(SearchRanges, ForwardWrapsRoundToTheSelectedRowItself) {
  const PlanCase cases[] = {
      {-1, 10, {0, 10}, false, {}},  // nothing selected: the whole list once
      {0, 10, {1, 10}, true, {0, 1}},
      {4, 10, {5, 10}, true, {0, 5}},
      {9, 10, {10, 10}, true, {0, 10}},  // the last row: round to the top
  };
  ExpectPlans(cases, ForwardSearchPlan);
}

TEST(SearchRanges, BackwardWrapsRoundFromTheEnd) {
  const PlanCase cases[] = {
      {-1, 10, {0, 10}, false, {}},  // nothing selected: from the last row upward
      {0, 10, {0, 10}, false, {}},   // the first row: the whole list
      {1, 10, {0, 1}, true, {1, 10}},
      {9, 10, {0, 9}, true, {9, 10}},
  };
  ExpectPlans(cases, BackwardSearchPlan);
}

TEST(SearchRanges, TheSecondRangeRunsOnlyWithoutAFirstHit) {
  std::vector<std::pair<int, int>> asked;
  const int hit = RunSearchPlan(ForwardSearchPlan(9, 10), [&](int from, int to) {
    asked.emplace_back(from, to);
    return from == 0 ? 0 : -1;
  });
  EXPECT_EQ(hit, 0);
  ASSERT_EQ(asked.size(), 2u);
  asked.clear();
  EXPECT_EQ(RunSearchPlan(ForwardSearchPlan(2, 10), [&](int from, int to) {
              asked.emplace_back(from, to);
              return from;
            }),
            3);
  EXPECT_EQ(asked.size(), 1u);
}

// ---------------------------------------------------------------- column order

CGrowArray<uint32_t> Columns(std::initializer_list<uint32_t> bits) {
  CGrowArray<uint32_t> columns;
  for (uint32_t bit : bits) columns.Append(bit);
  return columns;
}

TEST(ColumnOrder, AShownColumnComesJustBeforeTheLastShownOne) {
  // Before: #, Time, Message in that order; Hint (index 2 of the new array) is shown.
  int order[4] = {0, 1, 2};
  ktcols::OrderWithShownColumn(order, 3, 2);
  EXPECT_EQ(std::vector<int>(order, order + 4), (std::vector<int>{0, 1, 2, 3}));
  // Columns dragged: Message first, then #, Time; the new column is index 1.
  int moved[4] = {2, 0, 1};
  ktcols::OrderWithShownColumn(moved, 3, 1);
  EXPECT_EQ(std::vector<int>(moved, moved + 4), (std::vector<int>{3, 0, 1, 2}));
}

TEST(ColumnOrder, HidingTheLastButOneAndShowingItAgainPutsItBeforeTheMessage) {
  // # Time Tid Message, Tid hidden, then shown again.
  CGrowArray<uint32_t> columns = Columns({kColumnNumber, kColumnTime, kColumnMessage});
  int order[4] = {0, 1, 2};
  columns = Columns({kColumnNumber, kColumnTime, kColumnTid, kColumnMessage});
  const int shown = ktcols::IndexOfColumn(columns, kColumnTid);
  ASSERT_EQ(shown, 2);
  ktcols::OrderWithShownColumn(order, 3, shown);
  uint32_t bits[4] = {};
  ktcols::BitsInDisplayOrder(order, 4, columns, bits);
  EXPECT_EQ(bits[2], kColumnTid);
  EXPECT_EQ(bits[3], kColumnMessage);
}

TEST(ColumnOrder, BitsMapBackToTheNewIndexesAndUnknownOnesKeepTheirPlace) {
  const CGrowArray<uint32_t> columns = Columns({kColumnNumber, kColumnTime, kColumnHint, kColumnMessage});
  const uint32_t bits[4] = {kColumnMessage, kColumnHint, kColumnDelta, kColumnNumber};
  int order[4] = {7, 7, 7, 7};
  ktcols::OrderFromBits(bits, 4, columns, order);
  EXPECT_EQ(std::vector<int>(order, order + 4), (std::vector<int>{3, 2, 7, 0}));
  const int display[3] = {3, 9, 0};
  uint32_t back[3] = {};
  ktcols::BitsInDisplayOrder(display, 3, columns, back);
  EXPECT_EQ(back[1], 0u);
}

// ---------------------------------------------------------------- quick filter

struct QuickCase {
  const wchar_t* text;
  uint32_t columns;
  QuickFilterResult result;
  size_t conditions;
  uint8_t flags;  // of every condition but the first's OR bit
  const wchar_t* pattern;
};

TEST(QuickFilter, PrefixesAndShownColumnsMakeTheConditions) {
  const uint32_t all = kColumnName | kColumnHint | kColumnMessage;
  const QuickCase cases[] = {
      {L"", all, QuickFilterResult::kBuilt, 0, 0, L""},
      {L"re:", all, QuickFilterResult::kBuilt, 0, 0, L""},
      {L"re:err[0-9]+", all, QuickFilterResult::kBuilt, 3, 0xC4, L"err[0-9]+"},
      {L"plain:", all, QuickFilterResult::kBuilt, 3, 0x41, L""},
      {L"plain:re:x", all, QuickFilterResult::kBuilt, 3, 0x41, L"re:x"},
      {L"RE:abc", all, QuickFilterResult::kBuilt, 3, 0x41, L"RE:abc"},  // the prefix is case-sensitive
      {L"Timeout", kColumnName, QuickFilterResult::kBuilt, 1, 0x41, L"Timeout"},
      {L"Timeout", kColumnTime, QuickFilterResult::kBuilt, 0, 0, L"Timeout"},
      {L"re:(unclosed", all, QuickFilterResult::kInvalidPattern, 0, 0, L"(unclosed"},
  };
  for (const QuickCase& c : cases) {
    SCOPED_TRACE(testing::Message() << std::string(c.text, c.text + wcslen(c.text)));
    CTraceFilter filter;
    std::wstring pattern;
    EXPECT_EQ(BuildQuickFilter(c.text, c.columns, &filter, &pattern), c.result);
    EXPECT_EQ(pattern, c.pattern);
    ASSERT_EQ(filter.ConditionCount(), c.conditions);
    for (size_t i = 0; i < filter.ConditionCount(); ++i) {
      const uint8_t expected = i == 0 ? uint8_t(c.flags & ~kConditionOr) : c.flags;
      EXPECT_EQ(filter.ConditionAt(i)->m_flags, expected) << i;
    }
  }
}

TEST(QuickFilter, OnlyTheShownTextColumnsAreSearchedInTheirOrder) {
  CTraceFilter filter;
  std::wstring pattern;
  BuildQuickFilter(L"x", kColumnMessage | kColumnName | kColumnTime, &filter, &pattern);
  ASSERT_EQ(filter.ConditionCount(), 2u);
  EXPECT_EQ(filter.ConditionAt(0)->m_field, kConditionModule);
  EXPECT_EQ(filter.ConditionAt(1)->m_field, kConditionMessage);
}

// ---------------------------------------------------------------- filter menus

TEST(FilterMenus, LevelItemsStandForTheirMasks) {
  const struct {
    UINT id;
    bool has;
    uint32_t mask;
  } cases[] = {
      {ID_LEVEL_ERROR, true, 8},         {ID_LEVEL_WARN_ERROR, true, 12},     {ID_LEVEL_INFO_WARN_ERROR, true, 14},
      {ID_LEVEL_DEBUG, true, 1},         {ID_LEVEL_BOOKMARK, true, 0x7F0000}, {ID_LEVEL_BOOKMARK_GRAY, true, 0x10000},
      {ID_LEVEL_BOOKMARK_PURPLE, true, 0x400000}, {ID_LEVEL_PII, true, 16}, {ID_LEVEL_ALL, false, 0},
      {ID_PID_ALL, false, 0},
  };
  for (const auto& c : cases) {
    uint32_t mask = 99;
    EXPECT_EQ(ktmenus::LevelMaskOfItem(c.id, &mask), c.has) << c.id;
    EXPECT_EQ(mask, c.mask) << c.id;
  }
}

TEST(FilterMenus, TheCheckedLevelItemHasExactlyTheViewsMask) {
  CTraceFilter filter;
  EXPECT_EQ(ktmenus::CheckedLevelItem(filter), UINT(ID_LEVEL_ALL));
  const struct {
    uint32_t mask;
    UINT item;
  } cases[] = {{12, ID_LEVEL_WARN_ERROR}, {0x40000, ID_LEVEL_BOOKMARK_PINK}, {0x7F0000, ID_LEVEL_BOOKMARK},
               {6, 0}, {16, ID_LEVEL_PII}};
  for (const auto& c : cases) {
    filter.SetLevelMask(c.mask);
    EXPECT_EQ(ktmenus::CheckedLevelItem(filter), c.item) << c.mask;
  }
}

TEST(FilterMenus, TheProcessItemOfAOneIdList) {
  const CGrowArray<uint32_t> pids = Columns({40, 41, 42});
  CTraceFilter filter;
  EXPECT_EQ(ktmenus::CheckedProcessItem(filter, pids), UINT(ID_PID_ALL));
  filter.AddProcessId(42);
  EXPECT_EQ(ktmenus::CheckedProcessItem(filter, pids), UINT(ID_PID_FIRST + 2));
  filter.AddProcessId(41);
  EXPECT_EQ(ktmenus::CheckedProcessItem(filter, pids), 0u);
  CTraceFilter other;
  other.AddProcessId(77);
  EXPECT_EQ(ktmenus::CheckedProcessItem(other, pids), 0u);
}

TEST(FilterMenus, ProcessLabelsAndGroupCountsFollowThePidList) {
  EXPECT_EQ(ktmenus::ProcessLabel(nullptr), L"pid:all");
  const CGrowArray<uint32_t> pids = Columns({7, 12});
  EXPECT_EQ(ktmenus::ProcessLabel(&pids), L"pid:7|12");
  CGrowArray<uint32_t> many;
  for (uint32_t i = 0; i < 40; ++i) many.Append(1000000 + i);
  EXPECT_EQ(ktmenus::ProcessLabel(&many).size(), 127u);

  g_moduleGroups.LoadFromResource();
  CTraceFile store;
  store.SetFileName(L"C:\\x.ktr", L"x.ktr");
  store.GrowBuffer(1 << 16);
  const uint32_t stamp[2] = {};
  (void)stamp;
  for (uint32_t pid : {7u, 7u, 12u, 13u}) {
    TraceRecord* record = CTraceMgr::AddTraceItem(&store, 0, kLevelInfo, L"app", L"", L"m", pid, 1, 1700000000, 0,
                                                  nullptr, nullptr, kModeBuild, 2048);
    ASSERT_NE(record, nullptr);
    store.AddToProcessStats(record);
  }
  CGrowArray<CTraceProcessStat*> stats;
  ASSERT_EQ(store.CopyProcessStats(stats), 1);
  const size_t group = size_t(HighestBitIndex(store.FindProcessStat(7)->m_groupMask));
  EXPECT_EQ(ktmenus::GroupRecords(stats, group, nullptr), 4u);
  EXPECT_EQ(ktmenus::GroupRecords(stats, group, &pids), 3u);
  EXPECT_EQ(ktmenus::GroupRecords(stats, group + 1, &pids), 0u);
  for (size_t i = 0; i < stats.count; ++i) delete stats[i];
}

// ---------------------------------------------------------------- dragged rows

class DraggedRows : public ::testing::Test {
 protected:
  void SetUp() override {
    g_moduleGroups.LoadFromResource();
    ASSERT_EQ(store.GrowBuffer(1 << 20), 1);
  }
  const TraceRecord& Record(const wchar_t* module, const wchar_t* hint, uint32_t pid, uint32_t tid) {
    TraceRecord* record = CTraceMgr::AddTraceItem(&store, 0, kLevelInfo, module, hint, L"m", pid, tid, 1700000000, 0,
                                                  nullptr, nullptr, kModeBuild, 2048);
    EXPECT_NE(record, nullptr);
    return *record;
  }
  CTraceFile store;
};

TEST_F(DraggedRows, OnlyTheFiveColumnsStartADrag) {
  for (uint32_t bit : {kColumnModule, kColumnName, kColumnHint, kColumnId, kColumnTid}) EXPECT_TRUE(IsDragColumn(bit));
  for (uint32_t bit : {kColumnNumber, kColumnTime, kColumnDelta, kColumnMessage}) EXPECT_FALSE(IsDragColumn(bit));
}

TEST_F(DraggedRows, HintsBecomeOrConditionsWithoutDuplicates) {
  const TraceRecord* rows[] = {&Record(L"app", L"a", 1, 1), &Record(L"app", L"b", 1, 1), &Record(L"app", L"a", 1, 1)};
  CTraceFilter filter;
  filter.AddCondition(kConditionMessage, kOperatorInclude, L"keep", -1);
  uint32_t mask = kAllGroups;
  for (size_t i = 0; i < 3; ++i) ASSERT_TRUE(AddDraggedRecord(kColumnHint, i, *rows[i], &mask, &filter));
  ASSERT_EQ(filter.ConditionCount(), 3u);
  EXPECT_EQ(filter.ConditionAt(1)->m_field, kConditionHint);
  EXPECT_EQ(filter.ConditionAt(1)->m_flags, kOperatorIs);  // the first dragged one: AND
  EXPECT_EQ(filter.ConditionAt(2)->m_flags, kOperatorIs | kConditionOr);
  EXPECT_EQ(std::wstring(filter.ConditionAt(2)->m_text.c_str()), L"b");
  EXPECT_EQ(mask, kAllGroups);
}

TEST_F(DraggedRows, ModulesWidenTheMaskFromTheFirstRowsFlag) {
  const TraceRecord& first = Record(L"app", L"", 1, 1);
  const TraceRecord& second = Record(L"other.dll", L"", 1, 1);
  uint32_t mask = kAllGroups;
  CTraceFilter filter;
  ASSERT_TRUE(AddDraggedRecord(kColumnModule, 0, first, &mask, &filter));
  EXPECT_EQ(mask, first.groupFlag);
  ASSERT_TRUE(AddDraggedRecord(kColumnModule, 1, second, &mask, &filter));
  EXPECT_EQ(mask, first.groupFlag | second.groupFlag);
  EXPECT_EQ(filter.ConditionCount(), 0u);
}

TEST_F(DraggedRows, PidsReplaceTheViewsListAndTidsAreEachTakenOnce) {
  CTraceFilter filter;
  filter.AddProcessId(99);
  uint32_t mask = 0;
  const TraceRecord& a = Record(L"app", L"", 5, 50);
  const TraceRecord& b = Record(L"app", L"", 5, 51);
  ASSERT_TRUE(AddDraggedRecord(kColumnId, 0, a, &mask, &filter));
  ASSERT_TRUE(AddDraggedRecord(kColumnId, 1, b, &mask, &filter));
  ASSERT_EQ(filter.m_pids.count, 1u);
  EXPECT_EQ(filter.m_pids[0], 5u);
  ASSERT_TRUE(AddDraggedRecord(kColumnTid, 0, a, &mask, &filter));
  ASSERT_TRUE(AddDraggedRecord(kColumnTid, 1, b, &mask, &filter));
  ASSERT_TRUE(AddDraggedRecord(kColumnTid, 2, a, &mask, &filter));
  EXPECT_EQ(filter.m_tids.count, 2u);
  EXPECT_NE(filter.m_flags & kFilterTids, 0u);
}

TEST_F(DraggedRows, AFullFilterStopsTheWalk) {
  CTraceFilter filter;
  for (int i = 0; i < 16; ++i) filter.AddCondition(kConditionMessage, kOperatorInclude, std::to_wstring(i).c_str(), -1);
  uint32_t mask = 0;
  EXPECT_FALSE(AddDraggedRecord(kColumnName, 0, Record(L"app", L"", 1, 1), &mask, &filter));
  EXPECT_EQ(filter.ConditionCount(), 16u);
  CTraceFilter almost;
  for (int i = 0; i < 15; ++i) almost.AddCondition(kConditionMessage, kOperatorInclude, std::to_wstring(i).c_str(), -1);
  EXPECT_TRUE(AddDraggedRecord(kColumnName, 0, Record(L"one", L"", 1, 1), &mask, &almost));
  EXPECT_FALSE(AddDraggedRecord(kColumnName, 1, Record(L"two", L"", 1, 1), &mask, &almost));
}

// ---------------------------------------------------------------- file names

TEST(FileNames, TheDefaultSaveNameCarriesTheUtcTimeAndOneGroup) {
  SYSTEMTIME utc = {};
  utc.wYear = 2026;
  utc.wMonth = 3;
  utc.wDay = 7;
  utc.wHour = 4;
  utc.wMinute = 5;
  utc.wSecond = 9;
  EXPECT_EQ(DefaultSaveName(utc, nullptr), L"keltra_03072026_040509");
  EXPECT_EQ(DefaultSaveName(utc, L"NET"), L"keltra_03072026_040509_NET");
  EXPECT_EQ(DefaultSaveName(utc, std::wstring(40, L'g').c_str()), L"keltra_03072026_040509_" + std::wstring(30, L'g'));
}

TEST(FileNames, DumpFilesBesideASavedFileNeverShareAName) {
  const std::vector<std::wstring> dumps = {L"C:\\t\\d_1.dump", L"C:\\t\\e_2.dump", L"C:\\t\\keltra.dump",
                                           L"C:\\u\\keltra.dump", L"C:\\t\\f_12.dump", L"C:\\t\\g_1.dump"};
  const std::vector<std::wstring> targets = DumpTargets(L"C:\\out\\trace.ktr", dumps);
  const std::vector<std::wstring> expected = {L"C:\\out\\trace_1.dump",     L"C:\\out\\trace_2.dump",
                                              L"C:\\out\\trace.dump",       L"C:\\out\\trace (2).dump",
                                              L"C:\\out\\trace (3).dump",   L"C:\\out\\trace_1 (2).dump"};
  EXPECT_EQ(targets, expected);
  EXPECT_EQ(DumpTargets(L"C:\\out\\noext", {L"a.dump"}), std::vector<std::wstring>{L"C:\\out\\noext.dump"});
}

TEST(FileNames, ACommandLineIsOnePathWithoutItsQuotes) {
  const struct {
    const wchar_t* text;
    const wchar_t* path;
  } cases[] = {
      {L"\"C:\\my logs\\a.ktr\"", L"C:\\my logs\\a.ktr"},
      {L"C:\\a.ktr C:\\b.ktr", L"C:\\a.ktr C:\\b.ktr"},
      {L"\"\"x\"", L"x"},
      {L"\"", L""},
      {L"a\"", L"a"},
      {L"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(CommandLinePath(c.text), c.path) << c.text;
  EXPECT_EQ(CommandLinePath(nullptr), L"");
}

// ---------------------------------------------------------------- copy format

TEST(CopyFormat, CellsAsShownWithPidAndTidEachTheirOwnNumber) {
  g_moduleGroups.LoadFromResource();
  CTraceFile store;
  ASSERT_EQ(store.GrowBuffer(1 << 16), 1);
  const TraceRecord* record = CTraceMgr::AddTraceItem(&store, 0, kLevelInfo, L"app.exe", L"hint", L"hello", 321, 654,
                                                      1700000000, 7, nullptr, nullptr, kModeBuild, 2048);
  ASSERT_NE(record, nullptr);
  const uint32_t bits[] = {kColumnNumber, kColumnId, kColumnTid, kColumnName, kColumnHint, kColumnDelta,
                           kColumnMessage};
  std::wstring text;
  AppendCopyRow(&text, bits, 7, 4, *record, L"12");
  EXPECT_EQ(text, L"5\t321\t654\tapp.exe\thint\t12\thello\r\n");
  const uint32_t three[] = {kColumnNumber, kColumnTime, kColumnMessage};
  std::wstring lines;
  AppendCopyRow(&lines, three, 3, 0, *record, nullptr);
  EXPECT_EQ(lines, L"1\t" + std::wstring(record->timeText) + L"\thello\r\n");
}

// ---------------------------------------------------------------- editing keys

TEST(EditingKeys, AnEditKeepsItsEditingKeysAndTheRestAreAccelerators) {
  const struct {
    UINT key;
    bool ctrl, shift, alt, editing;
  } cases[] = {
      {'A', true, false, false, true},     {'C', true, false, false, true},  {'V', true, false, false, true},
      {'X', true, false, false, true},     {'Y', true, false, false, true},  {'Z', true, false, false, true},
      {VK_INSERT, true, false, false, true}, {VK_INSERT, false, true, false, true},
      {VK_DELETE, false, true, false, true}, {VK_BACK, true, false, false, true},
      // The frame's own keys, which an edit has no use for.
      {'E', true, false, false, false},    {'H', true, false, false, false},
      {'O', true, false, false, false},    {'F', true, false, false, false}, {VK_F3, false, false, false, false},
      {VK_F2, true, false, false, false},  {'C', true, true, false, false},  {'C', true, false, true, false},
      {'C', false, false, false, false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsEditingKey(c.key, c.ctrl, c.shift, c.alt), c.editing) << c.key;
}

}  // namespace
