// The older shared-memory sources: the process table with its per-process
// event rings, and the record region, made in this process the way their
// writers make them (and once by a trace-writer process).
#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include <tinyxml.h>

#include "formats/EventDesc.h"
#include "tests/capture/CaptureFixture.h"
#include "tests/tools/TraceWriterProcess.h"
#include "tools/trace-writer/WriterOlder.h"

using namespace capture_test;

namespace {

constexpr uint32_t kRegionBytes = 8192;

void PutBig32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24), p[1] = uint8_t(v >> 16), p[2] = uint8_t(v >> 8), p[3] = uint8_t(v);
}

// A named region and its "Mutex", as a writer creates them.
class Region {
 public:
  Region(const std::wstring& name, uint32_t size) {
    m_mutex = CreateMutexW(nullptr, FALSE, (name + L"Mutex").c_str());
    m_mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name.c_str());
    if (m_mapping) m_view = static_cast<uint8_t*>(MapViewOfFile(m_mapping, FILE_MAP_ALL_ACCESS, 0, 0, size));
  }
  ~Region() {
    if (m_view) UnmapViewOfFile(m_view);
    if (m_mapping) CloseHandle(m_mapping);
    if (m_mutex) CloseHandle(m_mutex);
  }
  bool Ok() const { return m_view != nullptr && m_mutex != nullptr; }
  uint8_t* View() { return m_view; }

 private:
  HANDLE m_mutex = nullptr, m_mapping = nullptr;
  uint8_t* m_view = nullptr;
};

int AlwaysAlive(uint32_t) { return 1; }

// The numbers "#<n>" of the messages of `pid`, in store order.
std::vector<uint32_t> Numbers(CTraceCapture* capture, uint32_t pid) {
  capture->DrainQueueToCaches();
  std::vector<uint32_t> out;
  CTraceView* view = capture->m_views[0];
  for (size_t i = 0; i < view->RecordCount(); ++i) {
    const TraceRecord* r = view->RecordAt(i);
    const wchar_t* hash = wcsstr(r->Message(), L" #");
    if (r->pid == pid && hash != nullptr) out.push_back(uint32_t(wcstoul(hash + 2, nullptr, 10)));
  }
  return out;
}

std::vector<uint32_t> Range(uint32_t first, uint32_t last) {
  std::vector<uint32_t> out;
  for (uint32_t n = first; n <= last; ++n) out.push_back(n);
  return out;
}

class OlderSources : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (g_eventDescriptions.FirstChildElement() == nullptr) {
      ASSERT_EQ(1, LoadEventDescriptions(&g_eventDescriptions));
    }
  }
  void SetUp() override {
    LoadGroupsOnce();
    NoticeLog::Get().Clear();
    m_tag = UniqueTag(L"older");
    m_capture = NewCapture(m_tag);
    ASSERT_EQ(1, m_capture->Init(0));
    g_appConfig.m_qrcEnable = 1;
    g_appConfig.m_qrcLogEnable = 1;
  }
  void TearDown() override {
    m_capture->CloseMapFiles();
    m_capture->Release();
  }
  // Appends events #first..#last to the ring of their area.
  void Append(uint8_t* region, uint32_t first, uint32_t last) {
    for (uint32_t n = first; n <= last; ++n) {
      char text[64];
      snprintf(text, sizeof(text), "w1 t1 #%u", n);
      uint8_t event[128];
      const size_t length = BuildQrcEvent(event, sizeof(event), 0, 0, n, 1, n, text);
      ASSERT_TRUE(AppendQrcBytes(QrcRing(region, kRegionBytes, QrcAreaOf(n)), event, uint32_t(length)));
    }
  }

  std::wstring m_tag;
  CTraceCapture* m_capture = nullptr;
};

TEST(ProcRing, NewBytesAsOneBlockTailFirst) {
  struct Case {
    const char* name;
    uint32_t size, write, start, position;
    uint64_t room;
    int result;
    std::vector<uint8_t> block;
    uint32_t after;
  };
  const Case cases[] = {
      {"first read from start", 16, 5, 0, kRingNeverRead, 64, 1, {0, 1, 2, 3, 4}, 5},
      {"on from position", 16, 9, 0, 5, 64, 1, {5, 6, 7, 8}, 9},
      {"wrapped: tail then head", 16, 3, 0, 13, 64, 1, {13, 14, 15, 0, 1, 2}, 3},
      {"unchanged", 16, 7, 0, 7, 64, 0, {}, 7},
      {"size past its room", 60, 3, 0, 1, 64, 0, {}, 1},
      {"write past the size", 16, 16, 0, 1, 64, 0, {}, 1},
      {"start past the size", 16, 3, 20, kRingNeverRead, 64, 0, {}, kRingNeverRead},
      {"position of an older ring", 16, 4, 2, 40, 64, 1, {2, 3}, 4},
      {"room smaller than the head", 16, 4, 0, 0, 8, 0, {}, 0},
      {"zero size", 0, 0, 0, 0, 64, 0, {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> ring(12 + 52, 0xEE);
    PutBig32(&ring[0], c.size);
    PutBig32(&ring[4], c.write);
    PutBig32(&ring[8], c.start);
    for (uint32_t i = 0; i < 52; ++i) ring[12 + i] = uint8_t(i);
    CByteBuffer out;
    uint32_t position = c.position;
    EXPECT_EQ(c.result, CTraceProcFile::ReadNew(ring.data(), c.room, &out, &position));
    EXPECT_EQ(c.block, std::vector<uint8_t>(out.Data(), out.Data() + out.Size()));
    EXPECT_EQ(c.after, position);
  }
}

TEST_F(OlderSources, ProcessRingsReadInOrderAcrossAWrap) {
  Region table(QrcTableName(false, m_tag), kQrcTableBytes);
  Region region(QrcRegionName(false, kForeignPid, m_tag), kRegionBytes);
  ASSERT_TRUE(table.Ok() && region.Ok());
  InitQrcRegion(region.View(), kRegionBytes, kForeignPid, 1700000000, WriterFault::kNone);
  ASSERT_TRUE(RegisterQrcPid(table.View(), kForeignPid));
  CTraceManagerView& view = m_capture->QrcView(0);
  view.SetAliveFunction(&AlwaysAlive);

  Append(region.View(), 1, 100);
  EXPECT_EQ(1, m_capture->ImportQrc(&view));
  EXPECT_EQ(1u, view.FileCount());
  EXPECT_EQ(100u, Numbers(m_capture, kForeignPid).size());
  // Far enough to wrap the trace ring once since the last read, not to lap it.
  Append(region.View(), 101, 220);
  m_capture->ImportQrc(&view);
  auto numbers = Numbers(m_capture, kForeignPid);
  ASSERT_EQ(220u, numbers.size());
  // Each ring in order; the log ring (every fourth) after the trace ring.
  std::vector<uint32_t> trace, log;
  for (uint32_t n : numbers) (QrcAreaOf(n) == 0 ? log : trace).push_back(n);
  for (size_t i = 1; i < trace.size(); ++i) EXPECT_LT(trace[i - 1], trace[i]);
  for (size_t i = 1; i < log.size(); ++i) EXPECT_LT(log[i - 1], log[i]);
  EXPECT_EQ(165u, trace.size());
  EXPECT_EQ(55u, log.size());
  uint32_t write = 0;
  std::memcpy(&write, QrcRing(region.View(), kRegionBytes, 1) + 4, 4);
  EXPECT_LT(_byteswap_ulong(write), 2000u) << "the trace ring did not wrap";
  m_capture->DrainQueueToCaches();
  EXPECT_EQ(kSourceDescribedEvent, m_capture->m_views[0]->RecordAt(0)->sourceType);

  // Only the areas asked for.
  g_appConfig.m_qrcLogEnable = 0;
  Append(region.View(), 221, 224);
  m_capture->ImportQrc(&view);
  EXPECT_EQ(223u, Numbers(m_capture, kForeignPid).size());
}

TEST_F(OlderSources, HostileRegionsAreSurvived) {
  struct Case {
    WriterFault fault;
    size_t expected;  // of 10 good events
  };
  const Case cases[] = {{WriterFault::kBadOffset, 0},
                        {WriterFault::kBadSize, 0},
                        {WriterFault::kShortEvent, 10},
                        {WriterFault::kLongEvent, 10}};
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.fault));
    CTraceCapture* capture = NewCapture(UniqueTag(L"hostile"));
    ASSERT_EQ(1, capture->Init(0));
    const std::wstring tag = UniqueTag(L"region");
    capture->SetChannelTag(tag.c_str());
    Region table(QrcTableName(false, tag), kQrcTableBytes);
    Region region(QrcRegionName(false, kForeignPid, tag), kRegionBytes);
    ASSERT_TRUE(table.Ok() && region.Ok());
    InitQrcRegion(region.View(), kRegionBytes, kForeignPid, 1700000000, c.fault);
    ASSERT_TRUE(RegisterQrcPid(table.View(), kForeignPid));
    if (c.fault != WriterFault::kBadOffset && c.fault != WriterFault::kBadSize) {
      Append(region.View(), 1, 10);
      uint8_t bad[kQrcMinEvent] = {};
      bad[1] = c.fault == WriterFault::kShortEvent ? 6 : 0xA0;
      ASSERT_TRUE(AppendQrcBytes(QrcRing(region.View(), kRegionBytes, 1), bad, sizeof(bad)));
    } else {
      // Put bytes where a trusting reader would look.
      for (uint32_t area = 0; area < 2; ++area) {
        uint8_t* ring = QrcRing(region.View(), kRegionBytes, area);
        PutBig32(ring + 4, 100);
      }
    }
    capture->QrcView(0).SetAliveFunction(&AlwaysAlive);
    EXPECT_EQ(1, capture->ImportQrc(&capture->QrcView(0)));
    EXPECT_EQ(c.expected, Numbers(capture, kForeignPid).size());
    capture->CloseMapFiles();
    capture->Release();
  }
}

TEST_F(OlderSources, ExitedProcessLeavesTheTableLiveOneStays) {
  CTraceWriterProcess exited;
  ASSERT_EQ(0u, exited.Run(L"--input qrv --count 1 --tag " + m_tag + L"x"));
  const uint32_t gone = exited.ProcessId();
  const uint32_t self = GetCurrentProcessId();
  EXPECT_EQ(0, CTraceManagerView::ProcessAlive(gone));
  EXPECT_EQ(1, CTraceManagerView::ProcessAlive(self));

  Region table(QrcTableName(false, m_tag), kQrcTableBytes);
  Region mine(QrcRegionName(false, self, m_tag), kRegionBytes);
  Region theirs(QrcRegionName(false, gone, m_tag), kRegionBytes);
  ASSERT_TRUE(table.Ok() && mine.Ok() && theirs.Ok());
  InitQrcRegion(mine.View(), kRegionBytes, self, 1700000000, WriterFault::kNone);
  InitQrcRegion(theirs.View(), kRegionBytes, gone, 1700000000, WriterFault::kNone);
  ASSERT_TRUE(RegisterQrcPid(table.View(), gone));
  ASSERT_TRUE(RegisterQrcPid(table.View(), self));
  CTraceManagerView& view = m_capture->QrcView(0);
  EXPECT_EQ(1, view.Refresh(kOlderLockMs));
  ASSERT_EQ(1u, view.FileCount());
  EXPECT_EQ(self, view.File(0)->Pid());
  uint32_t slots[2];
  std::memcpy(slots, table.View(), sizeof(slots));
  EXPECT_EQ(0u, slots[0]) << "the exited process's slot is cleared";
  EXPECT_EQ(_byteswap_ulong(self), slots[1]);

  // A process judged gone later loses its region object too.
  view.SetAliveFunction([](uint32_t) { return 0; });
  view.Refresh(kOlderLockMs);
  EXPECT_EQ(0u, view.FileCount());
}

// A writer makes the table's mutex, then its mapping: a capture that looks
// in between waits for the mapping instead of giving the source up.
TEST_F(OlderSources, TableWithoutItsMappingYetIsTriedAgain) {
  CTraceManagerView& view = m_capture->QrcView(0);
  view.SetAliveFunction(&AlwaysAlive);
  EXPECT_EQ(0, m_capture->ImportQrc(&view));
  const std::wstring name = QrcTableName(false, m_tag);
  HANDLE mutex = CreateMutexW(nullptr, FALSE, (name + L"Mutex").c_str());
  ASSERT_NE(nullptr, mutex);
  EXPECT_EQ(0, m_capture->ImportQrc(&view));
  EXPECT_EQ(0, m_capture->ImportQrc(&view));
  {
    Region table(name, kQrcTableBytes);
    Region region(QrcRegionName(false, kForeignPid, m_tag), kRegionBytes);
    ASSERT_TRUE(table.Ok() && region.Ok());
    InitQrcRegion(region.View(), kRegionBytes, kForeignPid, 1700000000, WriterFault::kNone);
    ASSERT_TRUE(RegisterQrcPid(table.View(), kForeignPid));
    Append(region.View(), 1, 5);
    EXPECT_EQ(1, m_capture->ImportQrc(&view));
    auto numbers = Numbers(m_capture, kForeignPid);
    std::sort(numbers.begin(), numbers.end());  // two rings, each in order
    EXPECT_EQ(Range(1, 5), numbers);
    m_capture->CloseMapFiles();
  }
  EXPECT_EQ(0u, NoticeLog::Get().Count(kNotifyNotice, IDS_START_QRC_FAILED));
  CloseHandle(mutex);
}

// A name that is there but is no mapping (here an event) is a broken
// source: reported once and left alone for the run.
TEST_F(OlderSources, UnusableMappingIsReportedOnce) {
  const std::wstring name = QrcTableName(false, m_tag);
  HANDLE mutex = CreateMutexW(nullptr, FALSE, (name + L"Mutex").c_str());
  HANDLE squatter = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  ASSERT_TRUE(mutex != nullptr && squatter != nullptr);
  CTraceManagerView& view = m_capture->QrcView(0);
  EXPECT_EQ(-1, m_capture->ImportQrc(&view));
  EXPECT_EQ(0, m_capture->ImportQrc(&view));
  EXPECT_EQ(1u, NoticeLog::Get().Count(kNotifyNotice, IDS_START_QRC_FAILED));
  CloseHandle(squatter);
  CloseHandle(mutex);
}

class StoneTest : public OlderSources {
 protected:
  void SetUp() override {
    OlderSources::SetUp();
    m_region = new Region(QrvRegionName(m_tag), kRegionBytes);
    ASSERT_TRUE(m_region->Ok());
    g_appConfig.m_qrvEnable = 1;
  }
  void TearDown() override {
    OlderSources::TearDown();
    delete m_region;
  }
  void Append(CQrvRegion& records, uint32_t first, uint32_t last, bool sameTime = false) {
    for (uint32_t n = first; n <= last; ++n) {
      char text[64];
      const int length = snprintf(text, sizeof(text), "w1 t1 #%u", n);
      ASSERT_TRUE(records.Append(kForeignPid, text, uint16_t(length), sameTime));
    }
  }
  Region* m_region = nullptr;
};

TEST_F(StoneTest, RecordsOnceEachEqualTimesIncluded) {
  CQrvRegion records(m_region->View(), kRegionBytes);
  CTraceStone& stone = m_capture->Stone();
  Append(records, 1, 5);
  EXPECT_EQ(1, m_capture->ImportQrv(&stone));
  EXPECT_EQ(Range(1, 5), Numbers(m_capture, kForeignPid));
  m_capture->ImportQrv(&stone);
  EXPECT_EQ(Range(1, 5), Numbers(m_capture, kForeignPid)) << "nothing new, nothing taken";
  // Written later with the time of the newest record already taken.
  Append(records, 6, 7, true);
  m_capture->ImportQrv(&stone);
  Append(records, 8, 8, true);
  Append(records, 9, 10);
  m_capture->ImportQrv(&stone);
  EXPECT_EQ(Range(1, 10), Numbers(m_capture, kForeignPid));
  m_capture->DrainQueueToCaches();
  const TraceRecord* r = m_capture->m_views[0]->RecordAt(0);
  EXPECT_STREQ(L"qrv", r->Module());
  EXPECT_EQ(kSourceQrvRecord, r->sourceType);
}

TEST_F(StoneTest, HostileLengthsAreSurvived) {
  for (WriterFault fault : {WriterFault::kBadEnd, WriterFault::kBadCount}) {
    SCOPED_TRACE(int(fault));
    CTraceStone stone;
    stone.SetTag(m_tag.c_str());
    std::memset(m_region->View(), 0, kRegionBytes);
    CQrvRegion records(m_region->View(), kRegionBytes);
    Append(records, 1, 6);
    records.ApplyFault(fault);
    const size_t before = Numbers(m_capture, kForeignPid).size();
    m_capture->ImportQrv(&stone);
    // bad-end: all six; bad-count: the damaged last record is not read.
    EXPECT_EQ(before + (fault == WriterFault::kBadEnd ? 6 : 5), Numbers(m_capture, kForeignPid).size());
    stone.Close();
  }
}

TEST(OlderSourcesEndToEnd, WriterProcessRingsAndDeadPid) {
  LoadGroupsOnce();
  if (g_eventDescriptions.FirstChildElement() == nullptr) {
    ASSERT_EQ(1, LoadEventDescriptions(&g_eventDescriptions));
  }
  g_appConfig.m_qrcEnable = 1;
  g_appConfig.m_qrcLogEnable = 1;
  const std::wstring tag = UniqueTag(L"qrcproc");
  CTraceCapture* capture = NewCapture(tag);
  ASSERT_EQ(1, capture->Init(0));
  CTraceWriterProcess writer;
  ASSERT_TRUE(writer.Start(L"--input qrc --count 1000 --batch 50 --fault dead-pid --linger 20000 --tag " + tag));
  CTraceManagerView& view = capture->QrcView(0);
  ASSERT_TRUE(WaitFor(
      [&] {
        capture->ImportQrc(&view);
        return Numbers(capture, writer.ProcessId()).size() >= 1000;
      },
      30000));
  const auto numbers = Numbers(capture, writer.ProcessId());
  EXPECT_EQ(1000u, numbers.size());
  std::vector<uint32_t> sorted = numbers;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(Range(1, 1000), sorted);
  HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, QrcTableName(false, tag).c_str());
  ASSERT_NE(nullptr, mapping);
  const auto* slots = static_cast<const uint32_t*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, kQrcTableBytes));
  ASSERT_NE(nullptr, slots);
  EXPECT_EQ(_byteswap_ulong(writer.ProcessId()), slots[0]);
  EXPECT_EQ(0u, slots[1]) << "the dead pid was cleared";
  UnmapViewOfFile(slots);
  CloseHandle(mapping);
  capture->CloseMapFiles();
  capture->Release();
}

}  // namespace
