#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <vector>

#include "core/TraceRecord.h"
#include "core/TraceStore.h"
#include "tests/core/RecordFixture.h"

namespace {

TEST(TraceBufferHeader, GoldenBytesOfAFreshHeader) {
  alignas(8) uint8_t bytes[48];
  std::memset(bytes, 0xCC, sizeof(bytes));
  InitBufferHeader(reinterpret_cast<TraceBufferHeader*>(bytes), 0x1000);
  const uint8_t expected[48] = {
      'K', 'E', 'L', 'T', 0xFF, 0xFE, 3, 1,  // magic, byte-order mark, version, fixed byte
      48, 0, 0, 0,                           // header size, flags
      0x00, 0x10, 0, 0,                      // capacity
      0, 0, 0, 0,                            // record count
      0xD0, 0x0F, 0, 0,                      // free bytes = 4096 - 48
      0x00, 0x10, 0, 0,                      // end
      48, 0, 0, 0,                           // first
      48, 0, 0, 0,                           // write
      0, 0, 0, 0,                            // last sequence
      0, 0, 0, 0,                            // generation
      0, 0, 0, 0,                            // reserved
  };
  EXPECT_EQ(0, std::memcmp(expected, bytes, sizeof(expected)));
}

TEST(TraceRecord, GoldenBytesOfOneRecord) {
  alignas(8) uint8_t bytes[256];
  std::memset(bytes, 0xEE, sizeof(bytes));
  RecordSpec spec;
  spec.pid = 0x1234;
  spec.tid = 0x56;
  spec.level = kLevelWarning;
  spec.time = 0x65432100;
  spec.milliseconds = 999;
  spec.module = L"ab";
  spec.hint = L"";
  spec.message = L"x";
  auto* record = reinterpret_cast<TraceRecord*>(bytes);
  FillRecord(record, spec, 7);
  record->flags = kRecordStampValid;
  record->SetStamp(0x1122334455667788ull);
  record->groupFlag = 0x4;

  // "[4660:86]" 10 units, "ab" 3, "x" 2; the empty hint and sub-name point at
  // the terminators before them: 15 units, 112 + 30 = 142, rounded 144.
  EXPECT_EQ(144, record->length);
  const uint8_t head[52] = {
      144, 0, 3, 0, 1, 0, 2, 0,        // length, version, source, flags, encoding, cipher
      4, 0, 0, 0,                      // level word
      0x34, 0x12, 0, 0, 0x56, 0, 0, 0, // pid, tid
      7, 0, 0, 0,                      // sequence
      0x00, 0x21, 0x43, 0x65,          // time
      0xE7, 0x03,                      // milliseconds
      132, 0, 136, 0, 138, 0,          // module, hint (module's zero), message
      0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11,  // stamp low, high
      0, 0, 0, 0,                      // session id
      140, 0, 0, 0,                    // sub-name (message's zero), reserved
  };
  EXPECT_EQ(0, std::memcmp(head, bytes, sizeof(head)));
  EXPECT_EQ(0x4u, *reinterpret_cast<uint32_t*>(bytes + 52));
  EXPECT_STREQ(L"[4660:86]", record->ProcThreadText());
  EXPECT_STREQ(L"ab", record->Module());
  EXPECT_STREQ(L"", record->Hint());
  EXPECT_STREQ(L"x", record->Message());
  EXPECT_STREQ(L"", record->SubName());
  EXPECT_EQ(0x1122334455667788ull, record->Stamp());
}

TEST(TraceBufferHeader, ResetKeepsTheLastSequence) {
  CTraceFile store;
  ASSERT_TRUE(store.GrowBuffer(8192));
  TraceBufferHeader* h = store.Buffer();
  EXPECT_EQ(0u, h->recordCount);
  EXPECT_EQ(h->capacity - 48, h->freeBytes);
  EXPECT_EQ(48u, h->first);
  EXPECT_EQ(48u, h->write);
  EXPECT_EQ(h->capacity, h->end);
  EXPECT_EQ(0u, h->lastSequence);

  RecordSpec spec;
  ASSERT_NE(nullptr, AddRecord(&store, spec));
  ASSERT_NE(nullptr, AddRecord(&store, spec));
  ResetBufferHeader(h);
  EXPECT_EQ(0u, h->recordCount);
  EXPECT_EQ(48u, h->write);
  TraceRecord* next = AddRecord(&store, spec);
  ASSERT_NE(nullptr, next);
  EXPECT_EQ(3u, next->sequence);
}

struct MarkCase {
  int set;
  int colour;
  uint32_t before;
  uint32_t after;
};

class RecordMarks : public testing::TestWithParam<MarkCase> {};

TEST_P(RecordMarks, SetAndClear) {
  const MarkCase c = GetParam();
  TraceRecord record{};
  record.level = c.before;
  SetRecordMark(&record, c.set, c.colour);
  EXPECT_EQ(c.after, record.level);
  EXPECT_EQ((c.after & kMarkMask) != 0, TraceRecord::IsMarked(&record));
}

INSTANTIATE_TEST_SUITE_P(
    Table, RecordMarks,
    testing::Values(MarkCase{1, 0, kLevelInfo, kLevelInfo | 0x10000},
                    MarkCase{1, 6, kLevelError, kLevelError | 0x400000},
                    MarkCase{1, 3, kLevelInfo | 0x10000, kLevelInfo | 0x10000 | 0x80000},  // keeps colour 0
                    MarkCase{1, 7, kLevelInfo, kLevelInfo | 0x10000},                     // out of range: colour 0
                    MarkCase{1, -1, kLevelInfo, kLevelInfo | 0x10000},
                    MarkCase{0, 3, kLevelInfo | 0x10000 | 0x80000, kLevelInfo},           // clear removes all
                    MarkCase{0, 0, kLevelDebug, kLevelDebug}));

TEST(TraceBuffer, ClearAllMarksWalksEveryRecord) {
  CTraceFile store;
  ASSERT_TRUE(store.GrowBuffer(4096));
  RecordSpec spec;
  for (int i = 0; i < 5; ++i) {
    TraceRecord* r = AddRecord(&store, spec);
    ASSERT_NE(nullptr, r);
    SetRecordMark(r, 1, i);
  }
  ClearAllMarks(&store);
  CTraceRingWalker walker(store.Buffer());
  int seen = 0;
  while (TraceRecord* r = walker.Next()) {
    EXPECT_FALSE(r->IsMarked());
    EXPECT_EQ(kLevelInfo, r->level);
    ++seen;
  }
  EXPECT_EQ(5, seen);
}

// A fixed-size ring that frees its oldest records instead of growing, as the
// live capture does once it reaches its memory limit.
class FixedRing : public CTraceBase {
 public:
  explicit FixedRing(uint32_t capacity) : m_bytes(capacity + 8) {
    m_buffer = reinterpret_cast<TraceBufferHeader*>(Aligned());
    InitBufferHeader(m_buffer, capacity);
  }
  // One pass may stop at the end of the ring's older part with too little
  // free; a second pass then starts over at the front, as the capture does.
  int GrowBuffer(uint32_t bytes) override {
    ReleaseOldestRecords(m_buffer, bytes, &FixedRing::OnDrop, this);
    if (m_buffer->freeBytes < bytes) {
      ++secondPasses;
      ReleaseOldestRecords(m_buffer, bytes, &FixedRing::OnDrop, this);
    }
    return 1;
  }
  int secondPasses = 0;
  std::deque<uint32_t> live;
  int droppedOutOfOrder = 0;

 private:
  static void OnDrop(void* context, TraceRecord* record) {
    auto* self = static_cast<FixedRing*>(context);
    if (self->live.empty() || self->live.front() != record->sequence) {
      ++self->droppedOutOfOrder;
    } else {
      self->live.pop_front();
    }
  }
  uint8_t* Aligned() { return reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(m_bytes.data()) + 7) & ~uintptr_t(7)); }
  std::vector<uint8_t> m_bytes;
};

TEST(TraceRing, RandomAllocateAndReleaseKeepsTheInvariants) {
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> messageUnits(0, 90);
  FixedRing ring(2048);
  int lapsWithEndBelowCapacity = 0;
  for (int step = 0; step < 20000; ++step) {
    RecordSpec spec;
    std::wstring message(size_t(messageUnits(random)), L'm');
    spec.message = message.c_str();
    wchar_t pt[32];
    const uint32_t bytes = RecordBytesFor(spec, pt, 32);
    TraceRecord* record = AllocRecord(&ring, bytes);
    ASSERT_NE(nullptr, record) << "step " << step;
    FillRecord(record, spec, ++ring.Buffer()->lastSequence);
    ring.live.push_back(record->sequence);

    const TraceBufferHeader* h = ring.Buffer();
    ASSERT_EQ(1, CheckRingInvariants(h)) << "step " << step << " count " << h->recordCount << " free "
                                         << h->freeBytes << " end " << h->end << " first " << h->first
                                         << " write " << h->write << " last length " << bytes;
    ASSERT_EQ(0, ring.droppedOutOfOrder);
    ASSERT_EQ(ring.live.size(), h->recordCount);
    if (h->end < h->capacity) {
      ++lapsWithEndBelowCapacity;
    }
    // The walk visits exactly the live records, oldest first.
    CTraceRingWalker walker(h);
    size_t i = 0;
    while (TraceRecord* r = walker.Next()) {
      ASSERT_LT(i, ring.live.size());
      ASSERT_EQ(ring.live[i], r->sequence) << "step " << step;
      ++i;
    }
    ASSERT_EQ(ring.live.size(), i);
  }
  EXPECT_GT(lapsWithEndBelowCapacity, 100);
  EXPECT_GT(ring.secondPasses, 10);
}

TEST(TraceRing, WalkOfARingWhoseEndLiesBelowCapacity) {
  FixedRing ring(1024);
  RecordSpec spec;
  std::wstring message(100, L'x');  // 112 + 2 * (10 + 8 + 101) = 350 -> 352 bytes
  spec.message = message.c_str();
  ASSERT_NE(nullptr, AddRecord(&ring, spec));  // at 48
  ring.live.push_back(1);
  ASSERT_NE(nullptr, AddRecord(&ring, spec));  // at 400
  ring.live.push_back(2);
  // The third does not fit behind 752: the ring laps, end becomes 752 and the
  // oldest record is released.
  ASSERT_NE(nullptr, AddRecord(&ring, spec));
  ring.live.push_back(3);
  const TraceBufferHeader* h = ring.Buffer();
  EXPECT_EQ(752u, h->end);
  EXPECT_EQ(400u, h->first);
  EXPECT_EQ(400u, h->write);
  EXPECT_EQ(0u, h->freeBytes);
  EXPECT_EQ(2u, h->recordCount);
  EXPECT_EQ(1, CheckRingInvariants(h));
  CTraceRingWalker walker(h);
  EXPECT_EQ(2u, walker.Next()->sequence);
  EXPECT_EQ(48u, walker.Offset());  // continues at the header size after end
  EXPECT_EQ(3u, walker.Next()->sequence);
  EXPECT_EQ(nullptr, walker.Next());
}

TEST(TraceRing, ReleasingEverythingEmptiesTheRingAndKeepsTheSequence) {
  FixedRing ring(1024);
  RecordSpec spec;
  ASSERT_NE(nullptr, AddRecord(&ring, spec));
  ring.live.push_back(1);
  TraceRingRelease released = ReleaseOldestRecords(ring.Buffer(), 4096, nullptr, nullptr);
  EXPECT_EQ(1u, released.dropped);
  const TraceBufferHeader* h = ring.Buffer();
  EXPECT_EQ(0u, h->recordCount);
  EXPECT_EQ(1, CheckRingInvariants(h));
  EXPECT_EQ(1024u - 48u, h->freeBytes);
  EXPECT_EQ(1u, h->lastSequence);
}

TEST(TraceRing, WalkStopsAtADamagedLength) {
  CTraceFile store;
  ASSERT_TRUE(store.GrowBuffer(4096));
  RecordSpec spec;
  TraceRecord* r = AddRecord(&store, spec);
  ASSERT_NE(nullptr, AddRecord(&store, spec));
  r->length = 0xFFFC;  // would leave the buffer
  CTraceRingWalker walker(store.Buffer());
  EXPECT_EQ(nullptr, walker.Next());
  r->length = 0;
  CTraceRingWalker again(store.Buffer());
  EXPECT_EQ(nullptr, again.Next());
}

TEST(TraceBuffer, AllocRecordWithoutRoomReturnsNull) {
  class NoGrowth : public CTraceBase {
   public:
    NoGrowth() {
      m_buffer = reinterpret_cast<TraceBufferHeader*>(m_bytes);
      InitBufferHeader(m_buffer, sizeof(m_bytes));
    }
    int GrowBuffer(uint32_t) override {
      ++asked;
      return 0;
    }
    int asked = 0;

   private:
    alignas(8) uint8_t m_bytes[512];
  } store;
  EXPECT_NE(nullptr, AllocRecord(&store, 400));
  EXPECT_EQ(nullptr, AllocRecord(&store, 400));
  EXPECT_EQ(1, store.asked);
  EXPECT_EQ(1u, store.Buffer()->recordCount);
  EXPECT_EQ(512u - 48u - 400u, store.Buffer()->freeBytes);
}

}  // namespace
