#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "formats/StoreToucher.h"
#include "tests/formats/StoreFixture.h"

namespace {

using storefix::Item;

std::wstring MessageOf(uint32_t serial) {
  return L"record " + std::to_wstring(serial) + L" " + std::wstring(1000, L'x');
}

// A reader's loop over a store that grows once its room runs out: helpers
// start again over the grown buffer and must leave the records written
// there alone. The pauses after the growth give a new helper all the time
// it needs to reach the first region before the next record is claimed;
// whether it gets there before or after that record is written is up to
// the scheduler, so the load runs several times.
void LoadWithOneGrowth() {
  CTraceFile store;
  // Half of this is what a linear store grows by: enough for the helpers.
  ASSERT_EQ(1, store.GrowBuffer(34u << 20));
  const uint32_t firstCapacity = store.Buffer()->capacity;
  CStoreToucher toucher;
  toucher.Start(&store);
  Item item;
  uint32_t serial = 0;
  uint32_t afterGrowth = 0;
  constexpr uint32_t kPausedRecords = 4;
  constexpr uint32_t kRecordsAfterGrowth = 2000;
  while (afterGrowth < kRecordsAfterGrowth) {
    toucher.BeforeRecord(&store);
    item.message = MessageOf(serial);
    ASSERT_NE(nullptr, storefix::Add(store, item)) << "record " << serial;
    ++serial;
    if (store.Buffer()->capacity != firstCapacity) {
      if (afterGrowth++ < kPausedRecords) {
        Sleep(40);
      }
    }
  }
  ASSERT_GT(store.Buffer()->capacity, firstCapacity);
  ASSERT_EQ(serial, store.Buffer()->recordCount);
  uint32_t walked = 0;
  for (const TraceRecord* r : storefix::Records(store)) {
    ASSERT_EQ(MessageOf(walked), r->Message()) << "record " << walked;
    ++walked;
  }
  EXPECT_EQ(serial, walked);
}

TEST(StoreToucher, RecordsWrittenAfterTheStoreGrewAreKept) {
  ASSERT_EQ(1, g_moduleGroups.LoadFromText(storefix::kGroupsText, sizeof(storefix::kGroupsText) - 1));
  for (int load = 0; load < 10 && !HasFatalFailure(); ++load) {
    SCOPED_TRACE("load " + std::to_string(load));
    LoadWithOneGrowth();
  }
}

// A reader of 4 MB of input whose records take seven times as much: the
// file-sized store grows once, after the sample, to what the whole input
// takes, and the helpers that start over the grown store leave every record
// whole.
TEST(StoreToucher, ForecastGrowsTheStoreOnceForTheWholeInput) {
  ASSERT_EQ(1, g_moduleGroups.LoadFromText(storefix::kGroupsText, sizeof(storefix::kGroupsText) - 1));
  constexpr uint64_t kInputBytes = 4u << 20;
  constexpr uint64_t kInputPerRecord = 300;
  CTraceFile store;
  ASSERT_EQ(1, store.GrowBuffer(uint32_t(kInputBytes)));
  std::vector<uint32_t> capacities = {store.Buffer()->capacity};
  CStoreToucher toucher;
  toucher.StartWithForecast(&store, kInputBytes);
  Item item;
  uint32_t serial = 0;
  for (uint64_t done = 0; done < kInputBytes; done += kInputPerRecord, ++serial) {
    toucher.BeforeRecord(&store, done);
    item.message = MessageOf(serial);
    ASSERT_NE(nullptr, storefix::Add(store, item)) << "record " << serial;
    if (store.Buffer()->capacity != capacities.back()) {
      capacities.push_back(store.Buffer()->capacity);
    }
  }
  EXPECT_EQ(2u, capacities.size()) << "the store grew " << capacities.size() - 1 << " times";
  const TraceBufferHeader* header = store.Buffer();
  EXPECT_LT(header->freeBytes, header->write / 4) << "an eighth to spare, not more than a quarter";
  uint32_t walked = 0;
  for (const TraceRecord* r : storefix::Records(store)) {
    ASSERT_EQ(MessageOf(walked), r->Message()) << "record " << walked;
    ++walked;
  }
  EXPECT_EQ(serial, walked);
}

}  // namespace
