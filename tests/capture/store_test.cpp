// The capture store's side: sorting, the memory limit and Clear, with
// records brought in through a writer ring in this process.
#include <algorithm>
#include <set>
#include <vector>

#include "capture/StagedOrder.h"
#include "tests/capture/CaptureFixture.h"

using namespace capture_test;

namespace {

DWORD g_fakeTick = 100000;
DWORD WINAPI FakeTick() { return g_fakeTick; }

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadGroupsOnce();
    NoticeLog::Get().Clear();
    m_tag = UniqueTag(L"st");
  }
  void TearDown() override {
    if (m_capture != nullptr) {
      m_capture->CloseMapFiles();
      m_capture->Release();
    }
  }
  void Open(uint64_t reserve = 4u << 20, uint32_t step = 1u << 20, uint32_t freeStep = 0) {
    m_capture = NewCapture(m_tag, reserve, step, freeStep);
    m_capture->SetTickSource(&FakeTick);
    ASSERT_EQ(1, m_capture->Init(0));
    ASSERT_EQ(1, m_capture->OpenMapFiles(1));
  }
  void Import(int kind = 0) { m_capture->ImportKelMapFile(&m_capture->LocalChannel(kind), 0); }

  // Ring, statistics and every view agree.
  void ExpectConsistent() {
    const CStoreLock lock(m_capture, kLockShared);
    ASSERT_TRUE(lock.Held());
    const TraceBufferHeader* h = m_capture->Buffer();
    EXPECT_EQ(1, CheckRingInvariants(h));
    std::set<const TraceRecord*> live;
    uint64_t levels[32] = {};
    CTraceRingWalker walker(h);
    while (const TraceRecord* record = walker.Next()) {
      live.insert(record);
      levels[record->level & kLevelMask] += 1;
    }
    EXPECT_EQ(size_t(h->recordCount), live.size());
    EXPECT_EQ(uint64_t(h->recordCount), m_capture->m_processStats[0]->m_count);
    uint64_t perProcess = 0;
    for (size_t i = 1; i < m_capture->m_processStats.count; ++i) {
      perProcess += m_capture->m_processStats[i]->m_count;
    }
    EXPECT_EQ(uint64_t(h->recordCount), perProcess);
    for (size_t v = 0; v < m_capture->m_views.count; ++v) {
      const CTraceView* view = m_capture->m_views[v];
      const TraceRecord* previous = nullptr;
      for (size_t i = 0; i < view->RecordCount(); ++i) {
        EXPECT_TRUE(live.count(view->RecordAt(i))) << "view " << v << " row " << i << " points into freed space";
        if (previous != nullptr) {
          EXPECT_LT(previous->sequence, view->RecordAt(i)->sequence);
        }
        previous = view->RecordAt(i);
      }
      EXPECT_EQ(uint64_t(view->RecordCount()), view->m_debugCount + view->m_infoCount + view->m_warningCount +
                                                   view->m_errorCount + view->m_personalCount);
    }
  }

  std::wstring m_tag;
  CTraceCapture* m_capture = nullptr;
};

TEST(CompareRecords, OrdersByTimeMillisecondsStampThenArrival) {
  auto make = [](uint32_t time, uint16_t ms, uint64_t stamp, uint32_t arrival) {
    TraceRecord r = {};
    r.time = time;
    r.milliseconds = ms;
    r.flags = stamp != 0 ? kRecordStampValid : 0;
    r.SetStamp(stamp);
    r.sequence = arrival;
    return r;
  };
  struct Case {
    TraceRecord a, b;
    int expected;
  } cases[] = {
      {make(10, 0, 0, 2), make(11, 0, 0, 1), -1},
      {make(10, 999, 0, 1), make(10, 5, 0, 2), 1},
      {make(10, 5, 300, 1), make(10, 5, 200, 2), 1},   // stamps decide before arrival
      {make(10, 5, 0, 1), make(10, 5, 0, 2), -1},      // then arrival
      {make(10, 5, 7, 4), make(10, 5, 7, 4), 0},
      {make(0x80000001u, 0, 0, 1), make(1, 0, 0, 2), 1},  // seconds are unsigned
      {make(10, 5, 0, 0xFFFFFFFFu), make(10, 5, 0, 1), -1},  // arrival numbers wrap
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, CTraceCapture::CompareRecords(&c.a, &c.b));
    EXPECT_EQ(-c.expected, CTraceCapture::CompareRecords(&c.b, &c.a));
  }
}

TEST(CompareRecords, KeyedSortGivesTheComparisonsOrder) {
  // Few distinct times, milliseconds and stamps, so every tie-break is
  // reached; arrival numbers run across their wrap.
  constexpr size_t kRecords = 3000;
  std::vector<TraceRecord> records(kRecords);
  uint32_t state = 12345;
  auto next = [&state]() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  for (size_t i = 0; i < kRecords; ++i) {
    TraceRecord& r = records[i];
    r = {};
    r.time = next() % 3 == 0 ? 0x80000000u + next() % 2 : 100 + next() % 3;
    r.milliseconds = uint16_t(next() % 3 == 0 ? 0xFFFF : next() % 4);
    const uint64_t stamp = next() % 4 == 0 ? 0 : (uint64_t(next() % 3) << 32) | (next() % 3);
    r.flags = next() % 5 == 0 ? 0 : kRecordStampValid;  // a stamp without its flag does not count
    r.SetStamp(stamp);
    r.sequence = 0xFFFFFA00u + uint32_t(i);  // wraps half way
  }
  std::vector<TraceRecord*> expected, sorted;
  for (TraceRecord& r : records) {
    expected.push_back(&r);
  }
  sorted = expected;
  std::stable_sort(expected.begin(), expected.end(),
                   [](const TraceRecord* a, const TraceRecord* b) { return CTraceCapture::CompareRecords(a, b) < 0; });
  std::vector<StagedSortKey> keys;
  for (TraceRecord* r : sorted) {
    keys.push_back(MakeStagedSortKey(r, sorted.front()->sequence));
  }
  SortStagedKeys(keys.data(), keys.size(), sorted.data());
  EXPECT_TRUE(expected == sorted);
}

TEST_F(StoreTest, SortingMergesByTimeAndHoldsRecordsBackByArrival) {
  Open();
  m_capture->SetSorting(1);
  TestRing a(m_tag, 0), b(m_tag, 1);
  const uint32_t now = uint32_t(time(nullptr));
  // Two writers whose records interleave in time; one writer's clock is an
  // hour ahead, which must not keep its records back.
  a.Append(1, 1, 1, now, 300);
  a.Append(1, 2, 1, now, 500);
  b.Append(2, 1, 1, now, 100);
  b.Append(2, 2, 1, now, 400);
  b.Append(2, 3, 1, now + 3600, 0);
  g_fakeTick = 100000;
  Import(0);
  Import(1);
  m_capture->SortAndStorePending();
  EXPECT_TRUE(ViewRecords(m_capture).empty()) << "held back for 2 s after arrival";
  g_fakeTick += 1500;
  a.Append(1, 3, 1, now, 200);  // arrives later, stamped earlier
  Import(0);
  g_fakeTick += 500;
  m_capture->SortAndStorePending();
  auto records = ViewRecords(m_capture);
  ASSERT_EQ(5u, records.size());
  const uint32_t expectedIds[] = {2, 1, 2, 1, 2};
  const uint16_t expectedMs[] = {100, 300, 400, 500, 0};
  for (size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(expectedIds[i], records[i].id) << i;
    EXPECT_EQ(expectedMs[i], records[i].milliseconds) << i;
  }
  EXPECT_EQ(1u, m_capture->StagedCount());
  g_fakeTick += 2000;
  m_capture->SortAndStorePending();
  records = ViewRecords(m_capture);
  ASSERT_EQ(6u, records.size());
  EXPECT_EQ(3u, records[5].sequence);
  EXPECT_EQ(0u, m_capture->StagedCount());
}

TEST_F(StoreTest, EqualTimesKeepTheirArrivalOrder) {
  Open();
  m_capture->SetSorting(1);
  TestRing ring(m_tag, 0);
  const uint32_t now = uint32_t(time(nullptr));
  ring.Append(1, 1, 50, now, 7, 2, kForeignPid, 0, 0);
  Import();
  g_fakeTick += 2000;
  m_capture->SortAndStorePending();
  EXPECT_TRUE(HoldsAllInOrder(ViewRecords(m_capture), 1, 1, 50));
}

TEST_F(StoreTest, LevelsAreNormalisedOnBothPaths) {
  for (int sorting = 0; sorting <= 1; ++sorting) {
    SCOPED_TRACE(sorting);
    m_tag = UniqueTag(L"lv");
    Open();
    m_capture->SetSorting(sorting);
    TestRing ring(m_tag, 0);
    const uint32_t levels[] = {1, 2, 3, 4, 8, 16, 0, 5, 31};
    const uint32_t stored[] = {1, 2, 2, 4, 8, 16, 2, 2, 2};
    for (uint32_t i = 0; i < 9; ++i) {
      ring.Append(1, i + 1, 1, 0, 0, levels[i]);
    }
    Import();
    g_fakeTick += 2000;
    m_capture->OnTimerTick();
    const auto records = ViewRecords(m_capture);
    ASSERT_EQ(9u, records.size());
    for (uint32_t i = 0; i < 9; ++i) {
      EXPECT_EQ(stored[i], records[i].level) << "level " << levels[i];
    }
    m_capture->CloseMapFiles();
    m_capture->Release();
    m_capture = nullptr;
  }
}

TEST_F(StoreTest, StoreBusyKeepsRecordsStaged) {
  Open();
  TestRing ring(m_tag, 0);
  ring.Append(1, 1, 30);
  Import();
  // The window holds the store (a long save): nothing is stored, nothing lost.
  std::thread holder;
  HANDLE held = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  holder = std::thread([&] {
    const CStoreLock lock(m_capture, kLockShared);
    SetEvent(held);
    WaitForSingleObject(done, INFINITE);
  });
  WaitForSingleObject(held, INFINITE);
  m_capture->DrainQueueToCaches();
  EXPECT_EQ(30u, m_capture->StagedCount());
  SetEvent(done);
  holder.join();
  m_capture->DrainQueueToCaches();
  EXPECT_EQ(0u, m_capture->StagedCount());
  EXPECT_TRUE(HoldsAllInOrder(ViewRecords(m_capture), 1, 1, 30));
  CloseHandle(held);
  CloseHandle(done);
}

TEST_F(StoreTest, MemoryLimitDropsOldestInWholeStepsAndKeepsEverythingConsistent) {
  constexpr uint32_t kStep = 65536;
  Open(4 * kStep, kStep, kStep);
  // A second view that a filter job owns, built before the drops.
  {
    const CStoreLock lock(m_capture, kLockExclusive);
    ASSERT_TRUE(lock.Held());
    ASSERT_EQ(1, m_capture->AddView(L"job", kAllGroups, 0));
  }
  TestRing ring(m_tag, 0, 1u << 20);
  constexpr uint32_t kBatch = 100;
  uint32_t written = 0;
  size_t notices = 0;
  for (int round = 0; round < 40; ++round) {
    ring.Append(1, written + 1, kBatch, 0, 0, 2 << (round % 3));
    written += kBatch;
    Import();
    if (round == 10) {
      m_capture->m_views[1]->ExchangeState(kViewFilterJob);
    }
    m_capture->DrainQueueToCaches();
    ExpectConsistent();
    notices = NoticeLog::Get().Count(kNotifyNotice, kNoticeOldestDropped);
  }
  const auto records = ViewRecords(m_capture);
  ASSERT_FALSE(records.empty());
  // Nothing newer than the dropped ones is lost: the records left are the
  // newest, without a gap.
  EXPECT_EQ(written, records.back().sequence);
  EXPECT_EQ(written - records.front().sequence + 1, records.size());
  EXPECT_LT(records.size(), size_t(written));
  // Whole steps: a drop frees at least 64 KB, so about one per 64 KB written.
  const uint64_t bytesWritten = uint64_t(m_capture->Buffer()->lastSequence) * (4 * kStep) / records.size();
  EXPECT_GE(notices, 1u);
  EXPECT_LE(notices, size_t(bytesWritten / kStep + 2));
  EXPECT_EQ(0u, m_capture->StagedCount());
}

TEST_F(StoreTest, ClearEmptiesRingViewsAndStatistics) {
  Open();
  {
    const CStoreLock lock(m_capture, kLockExclusive);
    ASSERT_TRUE(lock.Held());
    ASSERT_EQ(1, m_capture->AddView(L"job", kAllGroups, 0));
  }
  TestRing ring(m_tag, 0);
  ring.Append(1, 1, 25);
  Import();
  m_capture->DrainQueueToCaches();
  m_capture->m_views[1]->ExchangeState(kViewFilterJob);
  {
    const CStoreLock lock(m_capture, kLockExclusive);
    ASSERT_TRUE(lock.Held());
    EXPECT_EQ(1, m_capture->Clear());
  }
  ExpectConsistent();
  EXPECT_EQ(0u, m_capture->Buffer()->recordCount);
  EXPECT_EQ(1u, m_capture->m_processStats.count);
  EXPECT_EQ(0u, m_capture->m_views[1]->RecordCount());
  EXPECT_EQ(kViewFilterJob, m_capture->m_views[1]->State());
  // Capture goes on after a clear, without the old records.
  ring.Append(1, 26, 5);
  Import();
  m_capture->DrainQueueToCaches();
  const auto records = ViewRecords(m_capture);
  ASSERT_EQ(5u, records.size());
  EXPECT_EQ(26u, records.front().sequence);
  ExpectConsistent();
}

}  // namespace
