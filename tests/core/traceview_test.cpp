#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/ModuleGroups.h"
#include "core/TraceFilter.h"
#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "tests/core/RecordFixture.h"

namespace {

constexpr uint32_t kCore = 0x1;
constexpr uint32_t kNetwork = 0x2;
constexpr uint32_t kMedia = 0x4;
constexpr uint32_t kUi = 0x8;

void LoadGroupTable() {
  if (g_moduleGroups.Count() == 0) {
    ASSERT_EQ(1, g_moduleGroups.LoadFromResource());
  }
}

// A ring of fixed capacity that never grows, as the capture's ring does once
// it reached its limit: the caller releases the oldest records itself.
class RingStore : public CTraceMgr {
 public:
  explicit RingStore(uint32_t capacity) {
    m_buffer = static_cast<TraceBufferHeader*>(std::malloc(capacity));
    InitBufferHeader(m_buffer, capacity);
  }
  ~RingStore() override {
    std::free(m_buffer);
    m_buffer = nullptr;
  }
  int GrowBuffer(uint32_t) override { return 0; }
  int Lock(int, int) override { return 1; }
  void Unlock(int) override {}
};

// Adds a record to the ring, releasing the oldest records as the capture
// does: statistics first, then every view drops what left.
TraceRecord* AddToRing(RingStore* store, const RecordSpec& spec) {
  wchar_t pt[32];
  const uint32_t bytes = RecordBytesFor(spec, pt, 32);
  TraceRecord* record = nullptr;
  for (int attempt = 0; attempt < 4 && record == nullptr; ++attempt) {
    record = AddRecord(store, spec);
    if (record != nullptr) {
      break;
    }
    const TraceRingRelease released = ReleaseOldestRecords(
        store->Buffer(), bytes,
        [](void* context, TraceRecord* r) { static_cast<CTraceMgr*>(context)->RemoveFromProcessStats(r); },
        store);
    for (size_t i = 0; i < store->m_views.count; ++i) {
      store->m_views[i]->RemoveRange(released.low, released.high);
    }
  }
  if (record != nullptr) {
    store->AddToProcessStats(record);
    for (size_t i = 0; i < store->m_views.count; ++i) {
      store->m_views[i]->AddRecord(record);
    }
  }
  return record;
}

class ViewTest : public testing::Test {
 protected:
  void SetUp() override {
    LoadGroupTable();
    ASSERT_TRUE(store.SetFileName(L"C:\\logs\\run.ktr", L"run.ktr"));
    ASSERT_TRUE(store.GrowBuffer(1 << 16));
  }

  TraceRecord* Add(uint32_t level, uint32_t group = kCore, uint32_t pid = 100) {
    RecordSpec spec;
    spec.level = level;
    spec.groupFlag = group;
    spec.pid = pid;
    TraceRecord* r = AddRecord(&store, spec);
    EXPECT_NE(nullptr, r);
    if (r != nullptr) {
      store.AddToProcessStats(r);
    }
    return r;
  }

  // A view the store owns; the pointer stays valid while the store lives.
  CTraceView* NewView(uint32_t mask) {
    auto* view = new CTraceView(&store, L"test", mask);
    EXPECT_TRUE(store.m_views.Append(view));
    return view;
  }

  CTraceFile store;
};

std::vector<uint64_t> Counters(const CTraceView& v) {
  return {v.m_debugCount, v.m_infoCount, v.m_warningCount, v.m_errorCount, v.m_personalCount};
}

// ---- accepting records --------------------------------------------------

struct MaskCase {
  uint32_t mask;
  uint32_t levelFilter;  // 0: no level test
  size_t expected;
};

class ViewMask : public ViewTest, public testing::WithParamInterface<MaskCase> {};

TEST_P(ViewMask, AcceptsRecordsOfItsGroupsThatPassTheFilter) {
  const MaskCase c = GetParam();
  // One record of each level in each of four groups.
  const uint32_t groups[] = {kCore, kNetwork, kMedia, kUi};
  const uint32_t levels[] = {kLevelDebug, kLevelInfo, kLevelWarning, kLevelError};
  for (uint32_t g : groups) {
    for (uint32_t l : levels) Add(l, g);
  }
  CTraceView* view = NewView(c.mask);
  if (c.levelFilter != 0) {
    CTraceFilter filter;
    filter.SetLevelMask(c.levelFilter);
    ASSERT_TRUE(view->m_filter.Assign(0, filter));
  }
  ASSERT_TRUE(view->Rebuild());
  EXPECT_EQ(c.expected, view->RecordCount());
  for (size_t i = 0; i < view->RecordCount(); ++i) {
    EXPECT_NE(0u, view->RecordAt(i)->groupFlag & c.mask);
    if (c.levelFilter) {
      EXPECT_NE(0u, view->RecordAt(i)->level & c.levelFilter);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ViewMask,
                         testing::Values(MaskCase{0, 0, 0},                      // accepts nothing
                                         MaskCase{kAllGroups, 0, 16},            // everything
                                         MaskCase{kAllGroups, kLevelError, 4},   // everything the filter takes
                                         MaskCase{kNetwork, 0, 4},
                                         MaskCase{kCore | kMedia, kLevelInfo | kLevelWarning, 4},
                                         MaskCase{0x80000000u, 0, 0}));          // a group without records

TEST_F(ViewTest, AddRecordCountsOnlyWhatItAppends) {
  CTraceView* view = NewView(kNetwork);
  TraceRecord* core = Add(kLevelError, kCore);
  TraceRecord* net = Add(kLevelError, kNetwork);
  EXPECT_EQ(0, view->AddRecord(core));
  EXPECT_EQ(1, view->AddRecord(net));
  EXPECT_EQ(1u, view->RecordCount());
  EXPECT_EQ(1u, view->m_errorCount);
}

// ---- level counting -----------------------------------------------------

struct LevelCase {
  uint32_t level;
  int counter;  // 0 debug, 1 information, 2 warning, 3 error, 4 personal data
};

class LevelCounting : public ViewTest, public testing::WithParamInterface<LevelCase> {};

TEST_P(LevelCounting, OneCounterPerRecordInTheOrderInfoWarningError) {
  const LevelCase c = GetParam();
  CTraceView* view = NewView(kAllGroups);
  TraceRecord* r = Add(c.level);
  view->CountLevel(r);
  std::vector<uint64_t> expected(5, 0);
  expected[size_t(c.counter)] = 1;
  EXPECT_EQ(expected, Counters(*view));
  view->UncountLevel(r);
  EXPECT_EQ(std::vector<uint64_t>(5, 0), Counters(*view));
  view->UncountLevel(r);  // never below 0
  EXPECT_EQ(std::vector<uint64_t>(5, 0), Counters(*view));
}

INSTANTIATE_TEST_SUITE_P(
    Table, LevelCounting,
    testing::Values(LevelCase{kLevelDebug, 0}, LevelCase{kLevelInfo, 1}, LevelCase{kLevelWarning, 2},
                    LevelCase{kLevelError, 3}, LevelCase{kLevelPersonal, 4},
                    LevelCase{0, 0},                                   // no level bit at all
                    LevelCase{kMarkMask, 0},                           // only marks: debug
                    LevelCase{kLevelPersonal | kMarkFirstBit, 4},
                    LevelCase{kLevelInfo | kLevelPersonal, 1},         // information wins
                    LevelCase{kLevelWarning | kLevelError, 2},         // tested before error
                    LevelCase{kLevelDebug | kLevelPersonal, 4}));

// ---- rebuild ------------------------------------------------------------

TEST_F(ViewTest, RebuildReplacesTheIndexAndTheCounters) {
  for (uint32_t l : {kLevelInfo, kLevelError, kLevelInfo, kLevelWarning, kLevelDebug}) Add(l);
  CTraceView* view = NewView(kAllGroups);
  ASSERT_TRUE(view->Rebuild());
  EXPECT_EQ(5u, view->RecordCount());
  EXPECT_EQ((std::vector<uint64_t>{1, 2, 1, 1, 0}), Counters(*view));
  EXPECT_EQ(100u, view->Progress());

  view->ExchangeChanged(1);
  CTraceFilter errors;
  errors.SetLevelMask(kLevelError | kLevelWarning);
  ASSERT_TRUE(view->m_filter.Assign(0, errors));
  ASSERT_TRUE(view->Rebuild());
  ASSERT_EQ(2u, view->RecordCount());
  EXPECT_EQ(kLevelError, view->RecordAt(0)->level);    // store order kept
  EXPECT_EQ(kLevelWarning, view->RecordAt(1)->level);
  EXPECT_EQ((std::vector<uint64_t>{0, 0, 1, 1, 0}), Counters(*view));
  EXPECT_EQ(0, view->Changed());  // a rebuild starts with ResetCounters
}

TEST_F(ViewTest, RebuildOfAnEmptyStoreEndsAtHundredPercent) {
  CTraceView* view = NewView(kAllGroups);
  view->SetProgress(37);
  view->m_errorCount = 3;
  ASSERT_TRUE(view->Rebuild());
  EXPECT_EQ(100u, view->Progress());
  EXPECT_EQ(0u, view->RecordCount());
  EXPECT_EQ(std::vector<uint64_t>(5, 0), Counters(*view));
}

TEST(ViewRing, RebuildWalksAWrappedRingInRingOrder) {
  LoadGroupTable();
  RingStore ring(4096);
  ASSERT_TRUE(ring.SetFileName(L"", L""));
  RecordSpec spec;
  spec.groupFlag = kCore;
  for (int i = 0; i < 60; ++i) ASSERT_NE(nullptr, AddToRing(&ring, spec));
  const TraceBufferHeader* h = ring.Buffer();
  // Older records at [first, end), newer ones at [48, write).
  ASSERT_GE(h->first, h->write) << "the ring must have wrapped for this test";
  ASSERT_GT(h->write, uint32_t(kTraceHeaderSize));

  auto* view = new CTraceView(&ring, L"ALL", kAllGroups);
  ASSERT_TRUE(ring.m_views.Append(view));
  ASSERT_TRUE(view->Rebuild());
  ASSERT_EQ(h->recordCount, view->RecordCount());
  for (size_t i = 1; i < view->RecordCount(); ++i) {
    EXPECT_EQ(view->RecordAt(i - 1)->sequence + 1, view->RecordAt(i)->sequence);
  }
  EXPECT_EQ(h->lastSequence, view->RecordAt(view->RecordCount() - 1)->sequence);
}

// ---- removing released records ------------------------------------------

struct RemoveCase {
  size_t released;       // leading records whose bytes leave the ring
  int top, selected;     // remembered rows before
  size_t left;
  int topAfter, selectedAfter;
};

class RemoveRange : public ViewTest, public testing::WithParamInterface<RemoveCase> {};

TEST_P(RemoveRange, DropsLeadingEntriesAndShiftsRememberedRows) {
  const RemoveCase c = GetParam();
  std::vector<TraceRecord*> records;
  for (int i = 0; i < 8; ++i) records.push_back(Add(i % 2 ? kLevelError : kLevelInfo));
  CTraceView* view = NewView(kAllGroups);
  ASSERT_TRUE(view->Rebuild());
  view->m_topRow = c.top;
  view->m_selectedRow = c.selected;
  const uint8_t* low = reinterpret_cast<const uint8_t*>(records[0]);
  const uint8_t* high = c.released < records.size() ? reinterpret_cast<const uint8_t*>(records[c.released])
                                                    : reinterpret_cast<const uint8_t*>(records.back()) + 4096;
  EXPECT_EQ(c.released, view->RemoveRange(low, high));
  ASSERT_EQ(c.left, view->RecordCount());
  if (c.left) {
    EXPECT_EQ(records[c.released], view->RecordAt(0));
  }
  EXPECT_EQ(c.topAfter, view->m_topRow);
  EXPECT_EQ(c.selectedAfter, view->m_selectedRow);
  // Counters follow the records that stayed: the odd ones are errors.
  const uint64_t errors = 4 - c.released / 2;
  EXPECT_EQ(errors, view->m_errorCount);
  EXPECT_EQ(8 - c.released - errors, view->m_infoCount);
}

INSTANTIATE_TEST_SUITE_P(Table, RemoveRange,
                         testing::Values(RemoveCase{5, 6, 2, 3, 1, -1},   // selected row left: none
                                         RemoveCase{5, 5, 5, 3, 0, 0},    // exactly the first kept row
                                         RemoveCase{0, 4, 4, 8, 4, 4},    // nothing released
                                         RemoveCase{2, -1, -1, 6, -1, -1},
                                         RemoveCase{8, 7, 3, 0, -1, -1}));  // everything

TEST_F(ViewTest, RemoveRangeStopsAtTheFirstEntryOutsideTheRange) {
  std::vector<TraceRecord*> records;
  for (int i = 0; i < 4; ++i) records.push_back(Add(kLevelInfo, i == 0 ? kNetwork : kCore));
  CTraceView* view = NewView(kCore);  // holds records 1 to 3
  ASSERT_TRUE(view->Rebuild());
  // Records 2 and 3 lie in the range but record 1 leads and does not.
  EXPECT_EQ(0u, view->RemoveRange(records[2], reinterpret_cast<uint8_t*>(records[3]) + 1));
  EXPECT_EQ(3u, view->RecordCount());
  // A range starting at record 0 (not in this view) still covers its head.
  EXPECT_EQ(2u, view->RemoveRange(records[0], records[3]));
  ASSERT_EQ(1u, view->RecordCount());
  EXPECT_EQ(records[3], view->RecordAt(0));
}

TEST(ViewRing, ReleasesKeepViewsAndStatisticsEqualToARebuild) {
  LoadGroupTable();
  RingStore ring(8192);
  ASSERT_TRUE(ring.SetFileName(L"", L""));
  auto* all = new CTraceView(&ring, L"ALL", kAllGroups);
  auto* net = new CTraceView(&ring, L"NET", kNetwork);
  ASSERT_TRUE(ring.m_views.Append(all));
  ASSERT_TRUE(ring.m_views.Append(net));
  const uint32_t levels[] = {kLevelInfo, kLevelError, kLevelWarning, kLevelDebug, kLevelPersonal};
  for (uint32_t i = 0; i < 300; ++i) {
    RecordSpec spec;
    spec.level = levels[i % 5];
    spec.groupFlag = i % 3 == 0 ? kNetwork : kCore;
    spec.pid = 10 + i % 4;
    ASSERT_NE(nullptr, AddToRing(&ring, spec));
  }
  for (CTraceView* view : {all, net}) {
    const std::vector<uint64_t> counted = Counters(*view);
    std::vector<TraceRecord*> kept(view->m_records.data, view->m_records.data + view->RecordCount());
    ASSERT_TRUE(view->Rebuild());
    EXPECT_EQ(counted, Counters(*view));
    EXPECT_EQ(kept, std::vector<TraceRecord*>(view->m_records.data, view->m_records.data + view->RecordCount()));
  }
  // Entry 0 counts exactly the records still in the ring.
  EXPECT_EQ(ring.Buffer()->recordCount, ring.m_processStats[0]->m_count);
  uint64_t perProcess = 0;
  for (size_t i = 1; i < ring.m_processStats.count; ++i) perProcess += ring.m_processStats[i]->m_count;
  EXPECT_EQ(ring.Buffer()->recordCount, perProcess);
}

// ---- flags, title, names --------------------------------------------------

TEST_F(ViewTest, ResetCountersReturnsAndClearsTheChangedFlag) {
  CTraceView* view = NewView(kAllGroups);
  view->AddRecord(Add(kLevelError));
  view->ExchangeChanged(1);
  EXPECT_EQ(1, view->ResetCounters());
  EXPECT_EQ(0u, view->RecordCount());
  EXPECT_EQ(0u, view->m_errorCount);
  EXPECT_EQ(0, view->ResetCounters());
}

struct TitleCase {
  uint32_t flags;  // which id lists the filter uses
  std::vector<uint32_t> pids, tids;
  const wchar_t* expected;
};

class ViewTitle : public ViewTest, public testing::WithParamInterface<TitleCase> {};

TEST_P(ViewTitle, NamesTheIdsTheFilterSelects) {
  const TitleCase& c = GetParam();
  CTraceView* view = NewView(kAllGroups);
  for (uint32_t p : c.pids) view->m_filter.AddProcessId(p);
  for (uint32_t t : c.tids) view->m_filter.AddThreadId(t);
  view->m_filter.m_flags = c.flags;
  ASSERT_TRUE(view->UpdateTitle());
  EXPECT_STREQ(c.expected, view->m_title.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Table, ViewTitle,
    testing::Values(TitleCase{0, {}, {}, L"test (pid:all) - run.ktr"},
                    TitleCase{kFilterPids, {7}, {}, L"test (pid:7) - run.ktr"},
                    TitleCase{kFilterPids, {7, 9, 4294967295u}, {}, L"test (pid:7|9|4294967295) - run.ktr"},
                    TitleCase{kFilterPids | kFilterTids, {7}, {30, 31}, L"test (tid:30|31) - run.ktr"},
                    TitleCase{kFilterTids, {}, {}, L"test (tid:) - run.ktr"},
                    TitleCase{kFilterLevel, {7}, {8}, L"test (pid:all) - run.ktr"}));  // lists not in use

TEST_F(ViewTest, TitleIdsAreCutAt255Characters) {
  CTraceView* view = NewView(kAllGroups);
  for (uint32_t p = 1000000; p < 1000100; ++p) view->m_filter.AddProcessId(p);
  ASSERT_TRUE(view->UpdateTitle());
  const std::wstring title = view->m_title.c_str();
  const size_t open = title.find(L'('), close = title.find(L") - run.ktr");
  ASSERT_NE(std::wstring::npos, close);
  EXPECT_EQ(kTitleIdsChars, close - open - 1);
  EXPECT_EQ(L"test (pid:1000000|1000001|", title.substr(0, 26));
}

struct NameCase {
  uint32_t mask;
  bool statisticsStore;
  const wchar_t* expected;
};

class CreateViewName : public ViewTest, public testing::WithParamInterface<NameCase> {};

TEST_P(CreateViewName, FollowsTheMaskAndTheStore) {
  const NameCase c = GetParam();
  // Entry 0 has seen core and network records.
  Add(kLevelInfo, kCore);
  Add(kLevelInfo, kNetwork);
  store.m_isStatisticsStore = c.statisticsStore ? 1 : 0;
  CTraceView* view = store.CreateView(c.mask);
  ASSERT_NE(nullptr, view);
  EXPECT_STREQ(c.expected, view->m_name.c_str());
  EXPECT_EQ(c.mask, view->m_groupMask);
  EXPECT_EQ(0u, view->RecordCount());  // not rebuilt
  ASSERT_EQ(1u, store.m_views.count);
  EXPECT_EQ(view, store.m_views[0]);
  EXPECT_EQ(std::wstring(c.expected) + L" (pid:all) - run.ktr", view->m_title.c_str());
}

INSTANTIATE_TEST_SUITE_P(Table, CreateViewName,
                         testing::Values(NameCase{kCore | kNetwork, false, L"ALL"},   // entry 0's mask
                                         NameCase{kAllGroups, false, L"ALL"},
                                         NameCase{kCore | kMedia, false, L"CORE|MEDIA"},
                                         NameCase{kNetwork, false, L"NETWORK"},
                                         NameCase{kCore | kNetwork, true, L"Stastistic Details -"}));

TEST_F(ViewTest, CreateViewOfOneGroupIsNamedAfterItEvenWhenItIsEntryZerosMask) {
  Add(kLevelInfo, kMedia);
  ASSERT_EQ(kMedia, store.m_processStats[0]->m_groupMask);
  CTraceView* view = store.CreateView(kMedia);
  ASSERT_NE(nullptr, view);
  EXPECT_STREQ(L"MEDIA", view->m_name.c_str());
}

TEST_F(ViewTest, AddViewRebuildsAndSortViewsKeepsTheFirst) {
  Add(kLevelError, kCore);
  Add(kLevelInfo, kNetwork);
  Add(kLevelError, kMedia);
  Add(kLevelError, kMedia);
  Add(kLevelWarning, kNetwork);
  ASSERT_TRUE(store.AddView(L"ALL", kAllGroups, 5));
  ASSERT_TRUE(store.AddView(L"CORE", kCore, 1));
  ASSERT_TRUE(store.AddView(L"NETWORK", kNetwork, 2));
  ASSERT_TRUE(store.AddView(L"MEDIA", kMedia, 2));
  EXPECT_EQ(5u, store.m_views[0]->RecordCount());
  EXPECT_STREQ(L"NETWORK (pid:all) - run.ktr", store.m_views[2]->m_title.c_str());
  store.SortViews();
  std::vector<std::wstring> order;
  for (size_t i = 0; i < store.m_views.count; ++i) order.push_back(store.m_views[i]->m_name.c_str());
  // ALL stays first although it has the most errors; then errors, then warnings.
  EXPECT_EQ((std::vector<std::wstring>{L"ALL", L"MEDIA", L"CORE", L"NETWORK"}), order);
}

struct CompareCase {
  std::vector<uint64_t> a, b;  // debug, info, warning, error
  int expected;
};

class CompareLevels : public testing::TestWithParam<CompareCase> {};

TEST_P(CompareLevels, ErrorsThenWarningsThenInformationThenDebug) {
  const CompareCase& c = GetParam();
  CTraceView a(nullptr, L"a", 0), b(nullptr, L"b", 0);
  a.m_debugCount = c.a[0], a.m_infoCount = c.a[1], a.m_warningCount = c.a[2], a.m_errorCount = c.a[3];
  b.m_debugCount = c.b[0], b.m_infoCount = c.b[1], b.m_warningCount = c.b[2], b.m_errorCount = c.b[3];
  EXPECT_EQ(c.expected, CTraceView::CompareLevelCounts(&a, &b));
  EXPECT_EQ(-c.expected, CTraceView::CompareLevelCounts(&b, &a));
  CTraceView* pa = &a;
  CTraceView* pb = &b;
  EXPECT_EQ(c.expected, CTraceMgr::CompareViews(&pa, &pb));
}

INSTANTIATE_TEST_SUITE_P(Table, CompareLevels,
                         testing::Values(CompareCase{{0, 0, 0, 2}, {9, 9, 9, 1}, -1},
                                         CompareCase{{0, 0, 3, 1}, {9, 9, 2, 1}, -1},
                                         CompareCase{{0, 5, 3, 1}, {9, 4, 3, 1}, -1},
                                         CompareCase{{1, 5, 3, 1}, {2, 5, 3, 1}, 1},
                                         CompareCase{{1, 5, 3, 1}, {1, 5, 3, 1}, 0},
                                         // Counts above 32 bits must not be cut.
                                         CompareCase{{0, 0, 0, 1ull << 32}, {0, 0, 0, 1}, -1}));

TEST_F(ViewTest, FindViewSkipsFilterJobViewsAndComparesMaskAndFilter) {
  CTraceView* busy = NewView(kCore);
  CTraceView* other = NewView(kNetwork);
  CTraceView* plain = NewView(kCore);
  CTraceView* errors = NewView(kCore);
  CTraceFilter errorFilter;
  errorFilter.SetLevelMask(kLevelError);
  ASSERT_TRUE(errors->m_filter.Assign(0, errorFilter));
  busy->ExchangeState(kViewFilterJob);
  (void)other;
  (void)plain;

  const CTraceFilter none;
  EXPECT_EQ(2, store.FindView(kCore, none));
  EXPECT_EQ(1, store.FindView(kNetwork, none));
  EXPECT_EQ(3, store.FindView(kCore, errorFilter));
  EXPECT_EQ(-1, store.FindView(kMedia, none));
  CTraceFilter warnings;
  warnings.SetLevelMask(kLevelWarning);
  EXPECT_EQ(-1, store.FindView(kCore, warnings));
  busy->ExchangeState(kViewIdle);
  EXPECT_EQ(0, store.FindView(kCore, none));
}

// ---- time delta -------------------------------------------------------------

struct DeltaCase {
  int index;
  size_t size;
  const wchar_t* expected;
};

class FormatDelta : public ViewTest, public testing::WithParamInterface<DeltaCase> {
 protected:
  void Fill() {
    // index: 0 unstamped, 1 stamp 1000, 2 unstamped, 3 stamp 1250, 4 stamp 1100,
    // 5 stamp 1100, 6 a stamp 2^40 above that.
    struct Row {
      bool stamped;
      uint64_t stamp;
    };
    const Row rows[] = {{false, 5}, {true, 1000}, {false, 99999}, {true, 1250},
                        {true, 1100}, {true, 1100}, {true, (1ull << 40) + 1100}};
    for (const Row& row : rows) {
      RecordSpec spec;
      spec.groupFlag = kCore;
      spec.flags = row.stamped ? kRecordStampValid : 0;
      spec.stamp = row.stamp;
      ASSERT_NE(nullptr, AddRecord(&store, spec));
    }
    view = NewView(kAllGroups);
    ASSERT_TRUE(view->Rebuild());
  }
  CTraceView* view = nullptr;
};

TEST_P(FormatDelta, TextOfTheDeltaColumn) {
  const DeltaCase c = GetParam();
  Fill();
  wchar_t buffer[64];
  std::wmemset(buffer, L'#', 64);
  const int written = view->FormatDelta(c.index, buffer, c.size);
  EXPECT_STREQ(c.expected, buffer);
  EXPECT_EQ(int(std::wcslen(c.expected)), written);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FormatDelta,
    testing::Values(DeltaCase{0, 64, L"N/A"},       // no valid stamp
                    DeltaCase{2, 64, L"N/A"},
                    DeltaCase{1, 64, L"0"},         // first stamped record
                    DeltaCase{3, 64, L"250"},       // skips the unstamped record 2
                    DeltaCase{4, 64, L"-0"},        // smaller than the previous stamp
                    DeltaCase{5, 64, L"0"},         // equal stamps
                    DeltaCase{6, 64, L"1099511627776"},  // 64 bits wide
                    DeltaCase{7, 64, L"N/A"},       // at the count
                    DeltaCase{-1, 64, L"N/A"},
                    DeltaCase{3, 3, L"25"}));       // cut to the buffer

TEST_F(ViewTest, FormatDeltaRefusesAnEmptyBuffer) {
  CTraceView* view = NewView(kAllGroups);
  wchar_t buffer[4] = {L'x', 0};
  EXPECT_EQ(-1, view->FormatDelta(0, buffer, 0));
  EXPECT_EQ(L'x', buffer[0]);
}

// ---- per-process statistics ----------------------------------------------------

TEST_F(ViewTest, StatisticsCountByProcessAndGroup) {
  Add(kLevelInfo, kCore, 7);
  Add(kLevelInfo, kNetwork, 7);
  Add(kLevelInfo, kNetwork, 8);
  Add(kLevelInfo, kUi, 5);
  ASSERT_EQ(4u, store.m_processStats.count);  // entry 0, then 7, 8, 5 in order seen
  const CTraceProcessStat* all = store.m_processStats[0];
  EXPECT_EQ(0u, all->m_pid);
  EXPECT_EQ(4u, all->m_count);
  EXPECT_EQ(kCore | kNetwork | kUi, all->m_groupMask);
  EXPECT_EQ(2u, all->GroupCount(1));
  EXPECT_EQ(1u, all->GroupCount(3));
  EXPECT_EQ(7u, store.m_processStats[1]->m_pid);
  EXPECT_EQ(8u, store.m_processStats[2]->m_pid);
  EXPECT_EQ(5u, store.m_processStats[3]->m_pid);

  const CTraceProcessStat* seven = store.FindProcessStat(7);
  ASSERT_NE(nullptr, seven);
  EXPECT_EQ(2u, seven->m_count);
  EXPECT_EQ(kCore | kNetwork, seven->m_groupMask);
  EXPECT_EQ(nullptr, store.FindProcessStat(0));  // entry 0 is never returned
  EXPECT_EQ(nullptr, store.FindProcessStat(9));
}

TEST_F(ViewTest, ReleasingTheOnlyRecordOfAProcessRemovesItsEntry) {
  TraceRecord* first = Add(kLevelInfo, kCore, 5);
  TraceRecord* only = Add(kLevelInfo, kNetwork, 7);
  TraceRecord* last = Add(kLevelInfo, kCore, 9);
  store.RemoveFromProcessStats(only);
  EXPECT_EQ(0, only->version);  // marked released
  EXPECT_EQ(nullptr, store.FindProcessStat(7));
  ASSERT_EQ(3u, store.m_processStats.count);
  EXPECT_EQ(9u, store.m_processStats[2]->m_pid);  // the later entry moved down
  EXPECT_EQ(kCore, store.m_processStats[0]->m_groupMask);
  EXPECT_EQ(2u, store.m_processStats[0]->m_count);

  // Releasing the same record again changes nothing.
  store.RemoveFromProcessStats(only);
  EXPECT_EQ(2u, store.m_processStats[0]->m_count);

  store.RemoveFromProcessStats(first);
  store.RemoveFromProcessStats(last);
  ASSERT_EQ(1u, store.m_processStats.count);  // entry 0 stays
  EXPECT_EQ(0u, store.m_processStats[0]->m_count);
  EXPECT_EQ(0u, store.m_processStats[0]->m_groupMask);
}

TEST_F(ViewTest, AGroupBitStaysWhileRecordsOfTheGroupRemain) {
  TraceRecord* a = Add(kLevelInfo, kMedia, 7);
  Add(kLevelInfo, kMedia, 7);
  store.RemoveFromProcessStats(a);
  EXPECT_EQ(kMedia, store.FindProcessStat(7)->m_groupMask);
  EXPECT_EQ(1u, store.FindProcessStat(7)->GroupCount(2));
}

TEST(ProcessStats, EntryZeroIsMadeWhenTheLoaderDidNotSetAFileName) {
  LoadGroupTable();
  CTraceFile store;
  ASSERT_TRUE(store.GrowBuffer(4096));
  RecordSpec spec;
  spec.pid = 42;
  spec.groupFlag = kCore;
  store.AddToProcessStats(AddRecord(&store, spec));
  ASSERT_EQ(2u, store.m_processStats.count);
  EXPECT_EQ(0u, store.m_processStats[0]->m_pid);
  EXPECT_NE(nullptr, store.FindProcessStat(42));
}

TEST(ProcessStats, CountersGrowForGroupsBeyondTheTableOfTheirTime) {
  LoadGroupTable();
  CTraceProcessStat stat(3);
  ASSERT_EQ(g_moduleGroups.Count(), stat.m_groupCounts.count);
  uint8_t bytes[256] = {};
  auto* r = reinterpret_cast<TraceRecord*>(bytes);
  r->groupFlag = 1u << 30;
  stat.Add(r, 30);
  EXPECT_EQ(31u, stat.m_groupCounts.count);
  EXPECT_EQ(1u, stat.GroupCount(30));
  EXPECT_EQ(1u << 30, stat.m_groupMask);
  stat.Remove(r, 30);
  EXPECT_EQ(0u, stat.m_groupMask);
  stat.Remove(r, 30);  // never below 0
  EXPECT_EQ(0u, stat.m_count);
  EXPECT_EQ(0u, stat.GroupCount(30));
}

class StatCopies : public ViewTest {
 protected:
  void SetUp() override {
    ViewTest::SetUp();
    Add(kLevelInfo, kCore, 7);
    Add(kLevelInfo, kNetwork, 8);
    Add(kLevelInfo, kNetwork | kMedia, 9);  // two bits: counted in the highest group
    Add(kLevelInfo, kUi, 10);
  }
  void TearDown() override {
    for (size_t i = 0; i < copies.count; ++i) delete copies[i];
  }
  std::vector<uint32_t> Pids() const {
    std::vector<uint32_t> pids;
    for (size_t i = 0; i < copies.count; ++i) pids.push_back(copies[i]->m_pid);
    return pids;
  }
  CGrowArray<CTraceProcessStat*> copies;
};

TEST_F(StatCopies, CopyProcessStatsCopiesEveryEntryIncludingEntryZero) {
  ASSERT_TRUE(store.CopyProcessStats(copies));
  EXPECT_EQ((std::vector<uint32_t>{0, 7, 8, 9, 10}), Pids());
  for (size_t i = 0; i < copies.count; ++i) {
    EXPECT_NE(store.m_processStats[i], copies[i]);
    EXPECT_TRUE(copies[i]->IsCopyOf(*store.m_processStats[i]));
    EXPECT_NE(store.m_processStats[i]->m_groupCounts.data, copies[i]->m_groupCounts.data);
  }
  EXPECT_EQ(1u, copies[3]->GroupCount(2));  // media, the higher bit
  EXPECT_EQ(0u, copies[3]->GroupCount(1));
}

struct ByMaskCase {
  uint32_t mask;
  std::vector<uint32_t> pids;
};

class StatsByMask : public StatCopies, public testing::WithParamInterface<ByMaskCase> {};

TEST_P(StatsByMask, EntriesWhoseGroupsMeetTheMask) {
  const ByMaskCase& c = GetParam();
  ASSERT_TRUE(store.CopyProcessStatsByMask(c.mask, copies));
  EXPECT_EQ(c.pids, Pids());
  CGrowArray<uint32_t> ids;
  ASSERT_TRUE(store.CollectProcessIds(c.mask, ids));
  EXPECT_EQ(c.pids, std::vector<uint32_t>(ids.data, ids.data + ids.count));
}

INSTANTIATE_TEST_SUITE_P(Table, StatsByMask,
                         testing::Values(ByMaskCase{kNetwork, {8, 9}}, ByMaskCase{kMedia, {9}},
                                         ByMaskCase{kCore | kUi, {7, 10}}, ByMaskCase{kAllGroups, {7, 8, 9, 10}},
                                         ByMaskCase{0, {}}, ByMaskCase{0x100, {}}));

}  // namespace
