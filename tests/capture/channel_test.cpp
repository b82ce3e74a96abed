// Reading writer rings in this process: what is new, what was overrun, and
// rings whose header or records lie.
#include <cstring>
#include <thread>

#include "tests/capture/CaptureFixture.h"

using namespace capture_test;

namespace {

class ChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadGroupsOnce();
    NoticeLog::Get().Clear();
    m_tag = UniqueTag(L"ch");
    m_capture = NewCapture(m_tag);
    ASSERT_EQ(1, m_capture->Init(0));
    ASSERT_EQ(1, m_capture->OpenMapFiles(1));
  }
  void TearDown() override {
    m_capture->CloseMapFiles();
    m_capture->Release();
  }
  // One import of channel `kind` and one tick's store.
  int Import(int kind = 0) {
    const int result = m_capture->ImportKelMapFile(&m_capture->LocalChannel(kind), 0);
    m_capture->DrainQueueToCaches();
    return result;
  }

  std::wstring m_tag;
  CTraceCapture* m_capture = nullptr;
};

TEST_F(ChannelTest, CopiesEachRecordOnceThroughManyWraps) {
  TestRing ring(m_tag, 0);
  ASSERT_TRUE(ring.Ok());
  constexpr uint32_t kBatch = 40, kBatches = 60;  // about 20 laps of a 64 KB ring
  for (uint32_t b = 0; b < kBatches; ++b) {
    ring.Append(7, b * kBatch + 1, kBatch);
    EXPECT_EQ(1, Import());
    EXPECT_EQ(1, Import());  // nothing new: nothing copied twice
  }
  const auto records = ViewRecords(m_capture);
  EXPECT_TRUE(HoldsAllInOrder(records, 7, 1, kBatch * kBatches));
  EXPECT_EQ(size_t(kBatch * kBatches), records.size());
  EXPECT_EQ(0u, m_capture->LostRecords());
  EXPECT_EQ(kForeignPid, records.front().pid);
}

TEST_F(ChannelTest, ABacklogLargerThanOneSliceIsTakenWholeAndInOrder) {
  constexpr uint32_t kRingBytes = 24u << 20;
  TestRing ring(m_tag, 0, kRingBytes);
  ASSERT_TRUE(ring.Ok());
  uint32_t written = 0;
  while (ring.Ring()->write < kRingBytes - (1u << 20)) {
    ring.Append(12, written + 1, 1000);
    written += 1000;
  }
  ASSERT_GT(ring.Ring()->write - kTraceHeaderSize, uint32_t(kImportSliceBytes * kImportSlicesPerCall));
  // One call takes a few slices and leaves the rest pending for the next
  // tick, so the other inputs are not kept waiting.
  EXPECT_EQ(1, Import());
  EXPECT_EQ(1u, m_capture->LocalChannel(0).m_pending);
  for (int tick = 0; tick < 10 && m_capture->LocalChannel(0).m_pending; ++tick) {
    EXPECT_EQ(1, Import());
  }
  EXPECT_EQ(0u, m_capture->LocalChannel(0).m_pending);
  EXPECT_EQ(0u, m_capture->LostRecords());
  // Every record was stored once; the store's small ring keeps the newest
  // of them, without a gap.
  EXPECT_EQ(written, m_capture->Buffer()->lastSequence);
  const auto records = ViewRecords(m_capture);
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(written, records.back().sequence);
  for (size_t i = 1; i < records.size(); ++i) {
    ASSERT_EQ(records[i - 1].sequence + 1, records[i].sequence);
  }
}

TEST_F(ChannelTest, OwnRecordsAreNeverStored) {
  TestRing ring(m_tag, 0);
  ring.Append(1, 1, 5, 0, 0, 2, GetCurrentProcessId());
  ring.Append(2, 1, 5);
  EXPECT_EQ(1, Import());
  const auto records = ViewRecords(m_capture);
  ASSERT_EQ(5u, records.size());
  EXPECT_EQ(2u, records[0].id);
}

TEST_F(ChannelTest, OverrunIsCountedAndTold) {
  TestRing ring(m_tag, 0, 16384);
  ring.Append(3, 1, 10);
  EXPECT_EQ(1, Import());
  // Far more than the ring holds before the next read.
  ring.Append(3, 11, 400);
  const uint32_t oldest = [&] {
    const TraceBufferHeader* h = ring.Ring();
    uint32_t sequence;
    std::memcpy(&sequence, h->Bytes() + h->first + 20, sizeof(sequence));
    return sequence;
  }();
  ASSERT_GT(oldest, 11u);
  EXPECT_EQ(1, Import());
  EXPECT_EQ(uint64_t(oldest - 11), m_capture->LostRecords());
  m_capture->OnTimerTick();
  EXPECT_EQ(1u, NoticeLog::Get().Count(kNotifyNotice, kNoticeRecordsLost));
  m_capture->OnTimerTick();  // told once per new loss, not per tick
  EXPECT_EQ(1u, NoticeLog::Get().Count(kNotifyNotice, kNoticeRecordsLost));
  // What survived in the ring was taken, in order.
  const auto records = ViewRecords(m_capture);
  EXPECT_EQ(410u, records.back().sequence);
  EXPECT_EQ(size_t(10 + 410 - oldest + 1), records.size());
}

TEST_F(ChannelTest, NewGenerationIsReadFromTheStart) {
  {
    TestRing ring(m_tag, 0, kTestRingBytes, 1);
    ring.Append(4, 1, 20);
    EXPECT_EQ(1, Import());
    // The writer starts over: numbers from 1 in a new generation.
    InitWriterRing(ring.Ring(), kTestRingBytes, 2);
    ring.Append(5, 1, 3);
    EXPECT_EQ(1, Import());
  }
  const auto records = ViewRecords(m_capture);
  EXPECT_TRUE(HoldsAllInOrder(records, 4, 1, 20));
  EXPECT_TRUE(HoldsAllInOrder(records, 5, 1, 3));
  EXPECT_EQ(0u, m_capture->LostRecords());
}

TEST_F(ChannelTest, EncipheredRecordsAreReadPlain) {
  TestRing ring(m_tag, 0);
  for (uint8_t cipher = 0; cipher <= 4; ++cipher) {
    ring.Append(10 + cipher, 1, 3, 0, 0, 2, kForeignPid, cipher);
  }
  EXPECT_EQ(1, Import());
  const auto records = ViewRecords(m_capture);
  for (uint32_t cipher = 0; cipher <= 4; ++cipher) {
    EXPECT_TRUE(HoldsAllInOrder(records, 10 + cipher, 1, 3)) << "cipher " << cipher;
  }
}

TEST_F(ChannelTest, AbandonedMutexIsTakenAfterTheRingIsChecked) {
  TestRing ring(m_tag, 0);
  ring.Append(6, 1, 5);
  EXPECT_EQ(1, Import());  // the channel holds the mutex handle now
  ring.Append(6, 6, 5);
  // A writer thread that dies holding the mutex.
  std::thread([&] { WaitForSingleObject(ring.Mutex(), INFINITE); }).join();
  EXPECT_EQ(1, Import());
  EXPECT_TRUE(HoldsAllInOrder(ViewRecords(m_capture), 6, 1, 10));
  // Dying again, this time with a damaged header: refused, nothing read.
  ring.Append(6, 11, 5);
  std::thread([&] {
    WaitForSingleObject(ring.Mutex(), INFINITE);
    ring.Ring()->end = ring.Ring()->capacity + 4096;
  }).join();
  EXPECT_EQ(kChannelFailed, Import());
  EXPECT_EQ(10u, ViewRecords(m_capture).size());
}

// A header or record damaged one way; each must be refused without reading
// outside the mapping or looping.
struct HostileCase {
  const char* name;
  void (*damage)(TraceBufferHeader* h);
  int lockResult;  // what the import returns
};

void SetU16At(TraceBufferHeader* h, uint32_t offset, uint16_t value) { std::memcpy(h->Bytes() + offset, &value, 2); }

const HostileCase kHostile[] = {
    {"magic", [](TraceBufferHeader* h) { h->magic[0] = 'X'; }, kChannelFailed},
    {"version", [](TraceBufferHeader* h) { h->version = 4; }, kChannelFailed},
    {"wrap start", [](TraceBufferHeader* h) { h->headerSize = 0; }, kChannelFailed},
    {"wrap start past capacity", [](TraceBufferHeader* h) { h->headerSize = 0xFFFC; }, kChannelFailed},
    {"capacity past mapping", [](TraceBufferHeader* h) { h->capacity = 1u << 30; }, kChannelFailed},
    {"end past capacity", [](TraceBufferHeader* h) { h->end = h->capacity + 64; }, kChannelFailed},
    {"first past end", [](TraceBufferHeader* h) { h->first = h->end; }, kChannelFailed},
    {"write past capacity", [](TraceBufferHeader* h) { h->write = h->capacity + 4; }, kChannelFailed},
    {"count impossible", [](TraceBufferHeader* h) { h->recordCount = 0xFFFFFFF0u; }, kChannelFailed},
    {"zero length", [](TraceBufferHeader* h) { SetU16At(h, h->first, 0); }, kChannelLocked},
    {"short length", [](TraceBufferHeader* h) { SetU16At(h, h->first, 12); }, kChannelLocked},
    {"length past write", [](TraceBufferHeader* h) { SetU16At(h, h->first, 12000); }, kChannelLocked},
    {"count beyond records", [](TraceBufferHeader* h) { h->recordCount += 50; }, kChannelLocked},
};

TEST_F(ChannelTest, HostileRingsAreRefusedWithoutHarm) {
  for (const HostileCase& c : kHostile) {
    SCOPED_TRACE(c.name);
    const std::wstring tag = UniqueTag(L"hostile");
    CTraceCapture* capture = NewCapture(tag);
    ASSERT_EQ(1, capture->Init(0));
    ASSERT_EQ(1, capture->OpenMapFiles(1));
    {
      // A ring exactly as large as its mapping: reading past it faults.
      TestRing ring(tag, 0, 16384);
      ring.Append(1, 1, 3);
      c.damage(ring.Ring());
      EXPECT_EQ(c.lockResult, capture->ImportKelMapFile(&capture->LocalChannel(0), 0));
      capture->DrainQueueToCaches();
      const auto records = ViewRecords(capture);
      EXPECT_LE(records.size(), 3u);
      for (const Seen& seen : records) {
        EXPECT_EQ(1u, seen.id);
      }
    }
    capture->CloseMapFiles();
    capture->Release();
  }
}

TEST_F(ChannelTest, AFailedChannelFailsAloneAndIsToldOnce) {
  TestRing good(m_tag, 0);
  // Kind 1 is signalled with no ring behind it, twice.
  for (int i = 0; i < 2; ++i) {
    m_capture->DispatchHandle(m_capture->LocalChannel(1).Event());
  }
  EXPECT_EQ(1u, NoticeLog::Get().Count(kNotifyNotice, kNoticeChannelFailed));
  EXPECT_EQ(1, m_capture->RunFlag());
  good.Append(8, 1, 12);
  m_capture->DispatchHandle(m_capture->LocalChannel(0).Event());
  m_capture->DrainQueueToCaches();
  EXPECT_TRUE(HoldsAllInOrder(ViewRecords(m_capture), 8, 1, 12));
  // When a ring appears behind kind 1 it is read.
  TestRing late(m_tag, 1);
  late.Append(9, 1, 4);
  m_capture->DispatchHandle(m_capture->LocalChannel(1).Event());
  m_capture->DrainQueueToCaches();
  EXPECT_TRUE(HoldsAllInOrder(ViewRecords(m_capture), 9, 1, 4));
}

TEST_F(ChannelTest, ARingOpenedBeforeItsWriterSetItUpIsReadOnceItIs) {
  // The writer has made its mutex and mapping but not yet written the
  // header: the capture's first look finds zeros.
  TestRing ring(m_tag, 1);
  ASSERT_TRUE(ring.Ok());
  std::memset(ring.Ring(), 0, sizeof(TraceBufferHeader));
  m_capture->DispatchHandle(m_capture->LocalChannel(1).Event());
  EXPECT_EQ(1u, NoticeLog::Get().Count(kNotifyNotice, kNoticeChannelFailed));
  InitWriterRing(ring.Ring(), kTestRingBytes, 1);
  ring.Append(5, 1, 30);
  m_capture->DispatchHandle(m_capture->LocalChannel(1).Event());
  m_capture->DrainQueueToCaches();
  ring.Append(5, 31, 30);
  EXPECT_EQ(1, Import(1));
  EXPECT_TRUE(HoldsAllInOrder(ViewRecords(m_capture), 5, 1, 60));
  EXPECT_EQ(0u, m_capture->LostRecords());
}

TEST_F(ChannelTest, WriterRunningBeforeOpenIsReadAtOnce) {
  const std::wstring tag = UniqueTag(L"early");
  TestRing ring(tag, 2);
  ring.Append(11, 1, 6);
  CTraceCapture* capture = NewCapture(tag);
  ASSERT_EQ(1, capture->Init(0));
  ASSERT_EQ(1, capture->OpenMapFiles(1));
  // The event was signalled because the writer's mutex was there.
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(capture->LocalChannel(2).Event(), 0));
  capture->DispatchHandle(capture->LocalChannel(2).Event());
  capture->DrainQueueToCaches();
  EXPECT_TRUE(HoldsAllInOrder(ViewRecords(capture), 11, 1, 6));
  capture->CloseMapFiles();
  capture->Release();
}

}  // namespace
