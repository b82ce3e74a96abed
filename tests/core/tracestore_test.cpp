#include <algorithm>
#include <cstring>

#include <gtest/gtest.h>

#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "tests/core/RecordFixture.h"

namespace {

struct GrowCase {
  bool doubling;      // the staging buffer doubles, a file store grows by half
  uint32_t start;     // capacity before (0: no buffer yet)
  uint32_t request;
  uint32_t expected;
};

class HeapGrowth : public testing::TestWithParam<GrowCase> {};

TEST_P(HeapGrowth, CapacityAfterGrowBuffer) {
  const GrowCase c = GetParam();
  CTraceFile file;
  CTraceCache cache;
  CTraceBase* store = c.doubling ? static_cast<CTraceBase*>(&cache) : &file;
  if (c.start != 0) {
    ASSERT_TRUE(store->GrowBuffer(c.start));
    ASSERT_EQ(c.start, store->Buffer()->capacity);
  }
  RecordSpec spec;
  TraceRecord* kept = c.start != 0 ? AddRecord(store, spec) : nullptr;
  const uint32_t usedBefore = c.start != 0 ? store->Buffer()->write : kTraceHeaderSize;

  ASSERT_TRUE(store->GrowBuffer(c.request));
  const TraceBufferHeader* h = store->Buffer();
  EXPECT_EQ(c.expected, h->capacity);
  EXPECT_EQ(c.expected, h->end);
  EXPECT_EQ(c.expected - usedBefore, h->freeBytes);
  if (kept != nullptr) {
    // The records moved with the buffer and are intact.
    CTraceRingWalker walker(h);
    TraceRecord* moved = walker.Next();
    ASSERT_NE(nullptr, moved);
    EXPECT_STREQ(L"hello", moved->Message());
    EXPECT_EQ(1u, h->lastSequence);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, HeapGrowth,
                         testing::Values(GrowCase{false, 0, 100, 4096},          // first buffer
                                         GrowCase{false, 8192, 100, 12288},      // by half
                                         GrowCase{false, 8192, 10000, 20480},    // by the request
                                         GrowCase{true, 32768, 100, 65536},      // doubling
                                         GrowCase{true, 4096, 20000, 4096 + 20480},
                                         GrowCase{true, 0, 4096, 4096}));

TEST(HeapGrowth, ArithmeticThatWouldPass4GiBFails) {
  EXPECT_EQ(0u, NextHeapCapacity(0xF0000000u, 100, true));
  EXPECT_EQ(0u, NextHeapCapacity(0xC0000000u, 100, false));
  EXPECT_EQ(0u, NextHeapCapacity(4096, 0xFFFFFF00u, false));  // rounding alone passes 32 bits
  EXPECT_EQ(0x80000000u + 0x40000000u, NextHeapCapacity(0x80000000u, 100, false));

  CTraceFile store;
  EXPECT_FALSE(store.GrowBuffer(0xFFFFFFFFu));
  EXPECT_EQ(nullptr, store.Buffer());
  ASSERT_TRUE(store.GrowBuffer(100));
  EXPECT_FALSE(store.GrowBuffer(0xFFFFF001u));
  EXPECT_EQ(4096u, store.Buffer()->capacity);  // the old buffer stays untouched
}

// A store whose lock can be refused and whose lock calls are counted.
class CountingStore : public CTraceFile {
 public:
  int Lock(int mode, int wait) override {
    ++locks;
    return refuse ? 0 : 1;
  }
  int locks = 0;
  bool refuse = false;
};

class GetItemTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.SetFileName(L"C:\\t\\a.ktr", L"a.ktr"));
    ASSERT_TRUE(store.GrowBuffer(8192));
    view = new CTraceView(&store, L"ALL", kAllGroups);
    ASSERT_TRUE(store.m_views.Append(view));
    const wchar_t* messages[] = {L"zero", L"one\tline\r\n", L"two"};
    for (const wchar_t* m : messages) {
      RecordSpec spec;
      spec.message = m;
      TraceRecord* r = AddRecord(&store, spec);
      ASSERT_NE(nullptr, r);
      ASSERT_TRUE(view->m_records.Append(r));
    }
  }
  CountingStore store;
  CTraceView* view = nullptr;  // owned by the store's view list
};

TEST_F(GetItemTest, SameViewAndIndexCopiesOnce) {
  const TraceRecord* a = store.GetItem(view, 0);
  ASSERT_NE(nullptr, a);
  EXPECT_STREQ(L"zero", a->Message());
  const TraceRecord* b = store.GetItem(view, 0);
  EXPECT_EQ(a, b);
  EXPECT_EQ(1, store.locks);
  store.GetItem(view, 2);
  EXPECT_EQ(2, store.locks);
}

TEST_F(GetItemTest, ControlCharactersOfTheMessageAreBlanked) {
  const TraceRecord* r = store.GetItem(view, 1);
  ASSERT_NE(nullptr, r);
  EXPECT_STREQ(L"one line  ", r->Message());
  // The store's own record keeps its text.
  EXPECT_STREQ(L"one\tline\r\n", view->RecordAt(1)->Message());
}

TEST_F(GetItemTest, IndexAtTheCountReturnsNullAndForgetsTheMemo) {
  ASSERT_NE(nullptr, store.GetItem(view, 2));
  EXPECT_EQ(nullptr, store.GetItem(view, 3));
  EXPECT_EQ(nullptr, store.GetItem(view, -1));
  const int before = store.locks;
  ASSERT_NE(nullptr, store.GetItem(view, 2));
  EXPECT_EQ(before + 1, store.locks);
}

TEST_F(GetItemTest, AFailedLockLeavesNoMemoBehind) {
  store.refuse = true;
  EXPECT_EQ(nullptr, store.GetItem(view, 0));
  // Without the fix the second call would answer from a memo never filled.
  EXPECT_EQ(nullptr, store.GetItem(view, 0));
  store.refuse = false;
  const TraceRecord* r = store.GetItem(view, 0);
  ASSERT_NE(nullptr, r);
  EXPECT_STREQ(L"zero", r->Message());
}

TEST_F(GetItemTest, MarkChangesInvalidateTheMemo) {
  ASSERT_FALSE(store.GetItem(view, 1)->IsMarked());
  store.SetMark(view->RecordAt(1), 1, 2);
  const TraceRecord* r = store.GetItem(view, 1);
  EXPECT_EQ(kMarkFirstBit << 2, r->level & kMarkMask);
  store.ClearMarks();
  EXPECT_FALSE(store.GetItem(view, 1)->IsMarked());
}

TEST_F(GetItemTest, AnotherViewIsReadAgain) {
  CTraceView* other = new CTraceView(&store, L"other", 1);
  ASSERT_TRUE(store.m_views.Append(other));
  ASSERT_TRUE(other->m_records.Append(view->RecordAt(2)));
  EXPECT_STREQ(L"zero", store.GetItem(view, 0)->Message());
  EXPECT_STREQ(L"two", store.GetItem(other, 0)->Message());
}

TEST(TraceMgr, SetFileNameAddsTheAllProcessesEntry) {
  CTraceFile store;
  EXPECT_TRUE(store.SetFileName(nullptr, nullptr));
  EXPECT_STREQ(L"", store.m_filePath);
  ASSERT_EQ(1u, store.m_processStats.count);
  EXPECT_EQ(0u, store.m_processStats.data[0]->m_pid);
}

TEST(TraceMgr, LastReleaseDeletesTheStoreAndItsViews) {
  static int storesDeleted = 0;
  static int viewsDeleted = 0;
  class Store : public CTraceFile {
   public:
    ~Store() override { ++storesDeleted; }
  };
  class View : public CTraceView {
   public:
    using CTraceView::CTraceView;
    ~View() override { ++viewsDeleted; }
  };
  auto* store = new Store;
  auto* view = new View(store, L"ALL", kAllGroups);
  ASSERT_TRUE(store->m_views.Append(view));
  view->AddRef();  // a tab holds the view too
  store->AddRef();  // and a job the store
  EXPECT_EQ(1, store->Release());
  EXPECT_EQ(0, storesDeleted);
  EXPECT_EQ(0, store->Release());
  EXPECT_EQ(1, storesDeleted);
  EXPECT_EQ(0, viewsDeleted);  // the tab still holds it
  EXPECT_EQ(0, view->Release());
  EXPECT_EQ(1, viewsDeleted);
}

TEST(TraceMgr, FlagsAreExchanged) {
  CTraceFile store;
  EXPECT_EQ(0, store.ExchangeNewData(1));
  EXPECT_EQ(1, store.ExchangeNewData(0));
  EXPECT_EQ(0, store.ExchangeHasData(1));
  EXPECT_EQ(1, store.HasData());
}

TEST(ReservedRing, CommitsStepByStepWithoutMoving) {
  constexpr uint32_t kStep = 65536;
  CReservedRing ring;
  ASSERT_TRUE(ring.Create(3ull * kStep, kStep));
  uint8_t* base = ring.Base();
  EXPECT_EQ(kStep, ring.Committed());
  base[kStep - 1] = 1;
  ASSERT_TRUE(ring.CommitNext());
  base[2 * kStep - 1] = 2;  // the new step is usable in place
  ASSERT_TRUE(ring.CommitNext());
  base[3 * kStep - 1] = 3;
  EXPECT_TRUE(ring.Full());
  EXPECT_FALSE(ring.CommitNext());
  EXPECT_EQ(base, ring.Base());
  EXPECT_EQ(1, base[kStep - 1]);
  EXPECT_EQ(3u * kStep, ring.Committed());
}

// The helper commits and touches steps ahead; the ring takes them as they
// are, and nothing the owner wrote is touched by the helper.
TEST(ReservedRing, PreparedStepsJoinTheRingWithoutTheHelperWritingRingMemory) {
  constexpr uint32_t kStep = 65536;
  constexpr uint32_t kSteps = 8;
  constexpr uint64_t kAhead = 3ull * kStep;
  constexpr DWORD kWaitMs = 30000;
  CReservedRing ring;
  ASSERT_TRUE(ring.Create(uint64_t(kSteps) * kStep, kStep));
  uint8_t* base = ring.Base();
  std::memset(base, 0xA5, kStep);
  ASSERT_TRUE(ring.PrepareAhead(kAhead));
  ASSERT_TRUE(ring.WaitPrepared(kWaitMs));
  EXPECT_EQ(kStep + kAhead, ring.Prepared());
  for (uint32_t step = 1; step < kSteps; ++step) {
    ASSERT_TRUE(ring.CommitNext());
    uint8_t* fresh = base + uint64_t(step) * kStep;
    EXPECT_EQ(kStep, uint32_t(std::count(fresh, fresh + kStep, uint8_t(0)))) << "step " << step;
    std::memset(fresh, int(step), kStep);
    ASSERT_TRUE(ring.WaitPrepared(kWaitMs));
    EXPECT_EQ(std::min<uint64_t>(uint64_t(step + 1) * kStep + kAhead, uint64_t(kSteps) * kStep), ring.Prepared());
  }
  EXPECT_TRUE(ring.Full());
  EXPECT_FALSE(ring.CommitNext());
  EXPECT_EQ(kStep, uint32_t(std::count(base, base + kStep, uint8_t(0xA5))));
  for (uint32_t step = 1; step < kSteps; ++step) {
    const uint8_t* bytes = base + uint64_t(step) * kStep;
    EXPECT_EQ(kStep, uint32_t(std::count(bytes, bytes + kStep, uint8_t(step)))) << "step " << step;
  }
}

TEST(ReservedRing, ReleaseStopsAHelperInTheMiddleOfItsWork) {
  constexpr uint32_t kStep = 65536;
  constexpr uint64_t kReserve = 64ull << 20;
  CReservedRing ring;
  ASSERT_TRUE(ring.Create(kReserve, kStep));
  ASSERT_TRUE(ring.PrepareAhead(kReserve));
  ring.Release();
  EXPECT_EQ(nullptr, ring.Base());
  EXPECT_EQ(0u, ring.Prepared());
  // The ring is usable again, helper and all.
  ASSERT_TRUE(ring.Create(4ull * kStep, kStep));
  ASSERT_TRUE(ring.PrepareAhead(kStep));
  ASSERT_TRUE(ring.CommitNext());
  ring.Base()[2 * kStep - 1] = 1;
}

TEST(ReservedRing, ReservationsAreKeptBelow4GiB) {
  CReservedRing ring;
  EXPECT_FALSE(ring.Create(4096ull * 1048576ull, 4194304));  // MaxMem 4096 MB
  EXPECT_FALSE(ring.Create(0, 4194304));
  EXPECT_FALSE(ring.Create(4096, 0));
  EXPECT_EQ(nullptr, ring.Base());
}

}  // namespace
