#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "core/Cipher.h"
#include "core/ModuleGroups.h"
#include "core/RecordBuilder.h"
#include "core/TraceStore.h"
#include "tests/formats/GuardedBytes.h"
#include "tests/tools/CopyDataWindow.h"
#include "tests/tools/TraceWriterProcess.h"
#include "tests/tools/WriterTestUtil.h"
#include "tools/trace-writer/WriterOlder.h"
#include "tools/trace-writer/WriterRun.h"
#include "tools/trace-writer/WriterSingle.h"

namespace {

constexpr DWORD kWaitMs = 10000;

uint32_t GetBe32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint16_t GetBe16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

class WriterInputs : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(1, g_moduleGroups.LoadFromResource());
    ASSERT_EQ(1, store.GrowBuffer(4u << 20));
  }
  void TearDown() override { g_moduleGroups.Clear(); }
  CTraceFile store;
};

// ---- the shared one-record buffer --------------------------------------

TEST_F(WriterInputs, KelBufferLayoutsReadBackAsTheImporterCutsThem) {
  struct Case {
    uint32_t version;
    WriterFault fault;
    uint32_t levelCode;
    uint32_t level;
    size_t cut;  // characters the reader keeps
  };
  const Case cases[] = {
      {0, WriterFault::kNone, 100, kLevelWarning, 1023},  {1, WriterFault::kNone, 200, kLevelError, 1023},
      {2, WriterFault::kNone, 400, kLevelPersonal, 2047}, {3, WriterFault::kNone, 300, kLevelInfo, 1023},
      {1, WriterFault::kUnterminated, 0, kLevelInfo, 1023}, {2, WriterFault::kUnterminated, 0, kLevelInfo, 2047},
      {3, WriterFault::kUnterminated, 0, kLevelInfo, 1023}, {2, WriterFault::kEmptyText, 0, kLevelInfo, 0},
      {3, WriterFault::kEmptyText, 0, kLevelInfo, 0},     {4, WriterFault::kNone, 0, kLevelInfo, 0},
  };
  const std::wstring text = MessageOf(7, 1, 97);  // long, with characters outside ASCII
  ASSERT_GT(text.size(), 1500u);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "version " << c.version << " fault " << int(c.fault));
    std::vector<uint8_t> bytes(kKelBufferBytes);
    KelBufferMessage m;
    m.version = c.version;
    m.levelCode = c.levelCode;
    m.pid = 11;
    m.tid = 22;
    m.module = L"net.dll";
    m.text = text.c_str();
    m.time = 1700000000;
    m.milliseconds = 5;
    m.fault = c.fault;
    FillKelBuffer(bytes.data(), m);
    CGuardedBytes guarded(bytes);  // the buffer ends at a page nobody may read
    ASSERT_TRUE(guarded.Ready());
    const TraceRecord* r = CTraceMgr::AddSharedRecord(&store, guarded.Data(), bytes.size(), 0, kModeBuild);
    if (c.cut == 0) {
      EXPECT_EQ(nullptr, r);
      continue;
    }
    ASSERT_NE(nullptr, r);
    EXPECT_EQ(c.level, r->level & kLevelMask);
    EXPECT_EQ(11u, r->pid);
    EXPECT_EQ(22u, r->tid);
    if (c.fault == WriterFault::kUnterminated) {
      EXPECT_EQ(std::wstring(c.cut, L'x'), r->Message());
      EXPECT_LT(wcslen(r->Module()), 128u);
      continue;
    }
    EXPECT_STREQ(L"net.dll", r->Module());
    const std::wstring sent = c.version == 3 ? text : ThroughAnsi(text);
    EXPECT_EQ(CutText(sent, c.cut), r->Message());
    if (c.version >= 2) {
      EXPECT_EQ(1700000000u, r->time);
      EXPECT_EQ(5, r->milliseconds);
    } else {
      EXPECT_LE(uint32_t(time(nullptr)) - r->time, 5u);  // stamped when read
    }
  }
}

// ---- the debugger buffer and WM_COPYDATA text --------------------------

TEST_F(WriterInputs, DebuggerBufferReadsBackWithinItsSize) {
  const std::wstring text = MessageOf(9, 1, 5);
  for (WriterFault fault : {WriterFault::kNone, WriterFault::kUnterminated, WriterFault::kEmptyText}) {
    SCOPED_TRACE(int(fault));
    std::vector<uint8_t> bytes(kDbwinBufferBytes);
    FillDbwinBuffer(bytes.data(), 321, text.c_str(), fault);
    CGuardedBytes guarded(bytes);
    ASSERT_TRUE(guarded.Ready());
    const TraceRecord* r = CTraceMgr::AddDbwin(&store, guarded.Data(), bytes.size(), 0, kModeBuild);
    if (fault == WriterFault::kEmptyText) {
      EXPECT_EQ(nullptr, r);
      continue;
    }
    ASSERT_NE(nullptr, r);
    EXPECT_EQ(321u, r->pid);
    EXPECT_STREQ(L"DBWIN", r->Module());
    if (fault == WriterFault::kUnterminated) {
      const std::wstring message = r->Message();
      EXPECT_FALSE(message.empty());
      EXPECT_EQ(std::wstring::npos, message.find_first_not_of(L'x'));
    } else {
      EXPECT_EQ(ThroughAnsi(text), r->Message());
    }
  }
}

TEST_F(WriterInputs, CopyDataTextWithAndWithoutPrefix) {
  const std::string plain = MakeCopyDataText(L"app.exe", 12, 34, L"hello there", WriterFault::kNone);
  EXPECT_EQ(std::string("(app.exe:12:34)hello there", 27), plain);  // the terminator included
  EXPECT_EQ("hello there", MakeCopyDataText(L"app.exe", 12, 34, L"hello there", WriterFault::kUnterminated).substr(15));
  EXPECT_EQ(std::string("hello there", 12), MakeCopyDataText(L"app.exe", 12, 34, L"hello there", WriterFault::kNoPrefix));
  const std::string tooLong = MakeCopyDataText(L"app.exe", 12, 34, L"hi", WriterFault::kTooLong);
  EXPECT_EQ(kCopyDataTooLongBytes + 1, tooLong.size());

  const TraceRecord* r = CTraceMgr::AddDbgText(&store, plain.data(), plain.data() + plain.size(), 0, kModeBuild);
  ASSERT_NE(nullptr, r);
  EXPECT_STREQ(L"app.exe", r->Module());
  EXPECT_EQ(12u, r->pid);
  EXPECT_EQ(34u, r->tid);
  EXPECT_STREQ(L"hello there", r->Message());
  const std::string bare = MakeCopyDataText(L"app.exe", 12, 34, L"hello there", WriterFault::kNoPrefix);
  r = CTraceMgr::AddDbgText(&store, bare.data(), bare.data() + bare.size(), 0, kModeBuild);
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(0u, r->pid);
  EXPECT_STREQ(L"hello there", r->Message());
  r = CTraceMgr::AddDbgText(&store, tooLong.data(), tooLong.data() + tooLong.size(), 0, kModeBuild);
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(1023u - 2u, wcslen(r->Message()) - 2u);  // "hi" and x up to 1023 bytes
}

// ---- the record region -------------------------------------------------

TEST_F(WriterInputs, QrvRegionStartsOverWhenFullAndTimesRise) {
  constexpr uint32_t kSize = kQrvMinRegion;
  std::vector<uint8_t> region(kSize, 0);
  CQrvRegion qrv(region.data(), kSize);
  uint32_t previousUsed = 0;
  bool startedOver = false;
  SYSTEMTIME previous{};
  for (uint32_t s = 1; s <= 60; ++s) {
    const std::string text = "record " + std::to_string(s) + std::string(s * 7 % 300, 'p');
    ASSERT_TRUE(qrv.Append(77, text.data(), uint16_t(text.size()), false));
    const uint32_t used = qrv.Used();
    ASSERT_LE(kQrvRecordsOffset + used, kSize);
    startedOver |= used < previousUsed;
    previousUsed = used;
    // The newest record is the last one in the used bytes.
    const uint8_t* record = region.data() + kQrvRecordsOffset + used - kQrvRecordHead - text.size();
    uint16_t length;
    std::memcpy(&length, record, sizeof(length));
    ASSERT_EQ(text.size(), length);
    const TraceRecord* r = CTraceMgr::AddQrvRecord(&store, 0, record, kQrvRecordHead + length, kModeBuild);
    ASSERT_NE(nullptr, r);
    EXPECT_EQ(77u, r->pid);
    EXPECT_EQ(std::wstring(text.begin(), text.end()), r->Message());
    SYSTEMTIME stamp;
    std::memcpy(&stamp, record + 6, sizeof(stamp));
    FILETIME a, b;
    SystemTimeToFileTime(&previous, &a);
    SystemTimeToFileTime(&stamp, &b);
    if (s > 1) {
      EXPECT_LT(CompareFileTime(&a, &b), 0) << s;
    }
    previous = stamp;
  }
  EXPECT_TRUE(startedOver);
  ASSERT_TRUE(qrv.Append(77, "a", 1, false));
  ASSERT_TRUE(qrv.Append(77, "b", 1, true));
  const uint8_t* second = region.data() + kQrvRecordsOffset + qrv.Used() - kQrvRecordHead - 1;
  EXPECT_EQ(0, std::memcmp(second - kQrvRecordHead - 1 + 6, second + 6, sizeof(SYSTEMTIME)));  // same time
  EXPECT_FALSE(qrv.Append(77, std::string(kSize, 'z').data(), uint16_t(kSize), false));
  qrv.ApplyFault(WriterFault::kBadCount);
  uint16_t length;
  std::memcpy(&length, second, sizeof(length));
  EXPECT_EQ(kQrvHostileLength, length);
  qrv.ApplyFault(WriterFault::kBadEnd);
  EXPECT_GT(qrv.Used(), kSize);
}

// ---- the process table and the per-process regions --------------------

TEST(WriterQrc, TableListsEachPidOnce) {
  std::vector<uint8_t> table(kQrcTableBytes, 0);
  EXPECT_TRUE(RegisterQrcPid(table.data(), 0x01020304));
  EXPECT_TRUE(RegisterQrcPid(table.data(), 0x01020304));
  EXPECT_EQ(0x01020304u, GetBe32(table.data()));
  EXPECT_EQ(0u, GetBe32(table.data() + 4));
  for (uint32_t pid = 10; pid < 10 + kQrcTableSlots - 1; ++pid) EXPECT_TRUE(RegisterQrcPid(table.data(), pid));
  EXPECT_FALSE(RegisterQrcPid(table.data(), 5000));  // full
}

TEST(WriterQrc, EventIsBigEndian) {
  uint8_t event[64];
  const size_t length = BuildQrcEvent(event, sizeof(event), 2, 3, 0x01020304, 0x0506, 0xA0B0C0D0, "xyz");
  const uint8_t expected[] = {0, 22, 2, 3, 1, 2, 3, 4, 5, 6, 0, 9, 0xA0, 0xB0, 0xC0, 0xD0, 0, 4, 'x', 'y', 'z', 0};
  ASSERT_EQ(sizeof(expected), length);
  EXPECT_EQ(0, std::memcmp(expected, event, length));
  EXPECT_EQ(0u, BuildQrcEvent(event, 21, 2, 3, 0, 0, 0, "xyz"));
}

// Reads a ring as the tool does: from `position` to the write position,
// wrapping once.
std::vector<uint8_t> ReadRing(const uint8_t* ring, uint32_t* position) {
  const uint32_t size = GetBe32(ring), write = GetBe32(ring + 4);
  std::vector<uint8_t> block;
  if (*position == 0xFFFFFFFF) *position = GetBe32(ring + 8);
  const uint8_t* data = ring + kQrcRingHead;
  if (write > *position) {
    block.assign(data + *position, data + write);
  } else if (write < *position) {
    block.assign(data + *position, data + size);
    block.insert(block.end(), data, data + write);
  }
  *position = write;
  return block;
}

std::vector<uint32_t> EventNumbers(const std::vector<uint8_t>& block) {
  std::vector<uint32_t> numbers;
  for (size_t at = 0; at + kQrcMinEvent <= block.size();) {
    const uint16_t length = GetBe16(&block[at]);
    if (length < kQrcMinEvent || at + length > block.size()) break;
    numbers.push_back(GetBe32(&block[at + 12]));
    at += length;
  }
  return numbers;
}

TEST(WriterQrc, RingWrapsAndReadsBackTailFirst) {
  constexpr uint32_t kSize = kQrcMinRegion;
  std::vector<uint8_t> region(kSize, 0);
  InitQrcRegion(region.data(), kSize, 42, 1700000000, WriterFault::kNone);
  EXPECT_EQ(1, region[2]);
  EXPECT_EQ(42u, GetBe32(&region[4]));
  EXPECT_EQ(kQrcRingOffset, GetBe32(&region[32 + 4]));
  uint8_t* ring = QrcRing(region.data(), kSize, 1);
  EXPECT_EQ(QrcRingBytes(kSize), GetBe32(ring));
  uint32_t position = 0xFFFFFFFF;
  uint32_t next = 1;
  uint8_t event[256];
  bool wrapped = false;
  for (int round = 0; round < 6; ++round) {
    for (int i = 0; i < 9; ++i, ++next) {
      const std::string text = "event " + std::to_string(next) + std::string(next % 40, 'q');
      const size_t length = BuildQrcEvent(event, sizeof(event), 0, 1, next, 7, next, text.c_str());
      const uint32_t before = GetBe32(ring + 4);
      ASSERT_TRUE(AppendQrcBytes(ring, event, uint32_t(length)));
      wrapped |= GetBe32(ring + 4) < before;
    }
    const std::vector<uint32_t> numbers = EventNumbers(ReadRing(ring, &position));
    ASSERT_EQ(9u, numbers.size()) << round;
    for (uint32_t i = 0; i < 9; ++i) EXPECT_EQ(next - 9 + i, numbers[i]);
  }
  EXPECT_TRUE(wrapped);
  EXPECT_FALSE(AppendQrcBytes(ring, event, QrcRingBytes(kSize)));

  InitQrcRegion(region.data(), kSize, 42, 0, WriterFault::kBadOffset);
  EXPECT_GT(GetBe32(&region[32 + 4]), kSize);
  InitQrcRegion(region.data(), kSize, 42, 0, WriterFault::kBadSize);
  EXPECT_GT(GetBe32(QrcRing(region.data(), kSize, 0)), (kSize - kQrcAreaOffset) / 2);
}

// ---- the writer as a process, the test playing the tool -----------------

// The tool's side of a hand-over buffer: it creates both events and the
// mapping, frees the buffer, and takes what writers hand over.
class ToolBuffer {
 public:
  ToolBuffer(const wchar_t* ready, const wchar_t* data, const wchar_t* buffer, size_t size, const std::wstring& tag,
             bool global = false)
      : m_size(size) {
    m_ready = CreateEventW(nullptr, FALSE, FALSE, InputObjectName(ready, global, tag).c_str());
    m_data = CreateEventW(nullptr, FALSE, FALSE, InputObjectName(data, global, tag).c_str());
    SetLastError(0);
    m_mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, DWORD(size),
                                   InputObjectName(buffer, global, tag).c_str());
    m_existed = GetLastError() == ERROR_ALREADY_EXISTS;
    m_view = m_mapping ? static_cast<uint8_t*>(MapViewOfFile(m_mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0)) : nullptr;
    SetEvent(m_ready);
  }
  ~ToolBuffer() {
    if (m_view) UnmapViewOfFile(m_view);
    for (HANDLE h : {m_ready, m_data, m_mapping})
      if (h) CloseHandle(h);
  }
  bool valid() const { return m_view != nullptr; }
  // Another reader made the buffer first.
  bool existed() const { return m_existed; }
  // Takes `count` messages, each read into the store by `read`.
  template <class Read>
  void Take(uint32_t count, Read read) {
    for (uint32_t i = 0; i < count; ++i) {
      ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(m_data, kWaitMs)) << i;
      read(std::vector<uint8_t>(m_view, m_view + m_size));
      SetEvent(m_ready);
    }
  }

 private:
  size_t m_size;
  bool m_existed = false;
  HANDLE m_ready = nullptr, m_data = nullptr, m_mapping = nullptr;
  uint8_t* m_view = nullptr;
};

// Checks that every thread's messages arrived whole and in order.
void ExpectInOrder(const std::vector<std::wstring>& messages, uint32_t id, uint32_t threads, uint32_t count,
                   size_t cut, bool ansi) {
  std::vector<uint32_t> last(threads + 1, 0);
  for (const std::wstring& m : messages) {
    uint32_t w = 0, t = 0, s = 0;
    ASSERT_EQ(3, swscanf(m.c_str(), L"w%u t%u #%u ", &w, &t, &s)) << m;
    ASSERT_EQ(id, w);
    ASSERT_TRUE(t >= 1 && t <= threads);
    ASSERT_EQ(last[t] + 1, s);
    last[t] = s;
    const std::wstring sent = MessageOf(id, t, s);
    EXPECT_EQ(CutText(ansi ? ThroughAnsi(sent) : sent, cut), m);
  }
  for (uint32_t t = 1; t <= threads; ++t) EXPECT_EQ(count, last[t]);
}

TEST_F(WriterInputs, ProcessFeedsTheSharedBufferOneMessageAtATime) {
  for (bool global : {false, true}) {
    SCOPED_TRACE(global);
    const std::wstring tag = UniqueTag();
    ToolBuffer buffer(L"KEL_BUFFER_READY", L"KEL_DATA_READY", L"KEL_BUFFER", kKelBufferBytes, tag, global);
    ASSERT_TRUE(buffer.valid());
    CTraceWriterProcess writer;
    ASSERT_TRUE(writer.Start(L"--input kel-buffer --version 3 --threads 2 --count 60 --id 4 --level-code 200 --tag " +
                             tag + L" --wait-event 10000" + (global ? L" --global" : L"")));
    std::vector<std::wstring> messages;
    buffer.Take(120, [&](const std::vector<uint8_t>& bytes) {
      const TraceRecord* r = CTraceMgr::AddSharedRecord(&store, bytes.data(), bytes.size(), 0, kModeBuild);
      ASSERT_NE(nullptr, r);
      EXPECT_EQ(kLevelError, r->level & kLevelMask);
      EXPECT_EQ(writer.ProcessId(), r->pid);
      messages.push_back(r->Message());
    });
    ASSERT_TRUE(writer.Wait(kWaitMs));
    EXPECT_EQ(0u, writer.ExitCode()) << writer.Output();
    EXPECT_EQ("written: 120\n", writer.Output());
    ExpectInOrder(messages, 4, 2, 60, 1023, false);
  }
}

TEST_F(WriterInputs, ProcessFillsTheDebuggerBufferByHand) {
  for (const wchar_t* fault : {L"", L"--fault unterminated"}) {
    SCOPED_TRACE(fault);
    const std::wstring tag = UniqueTag();
    ToolBuffer buffer(L"DBWIN_BUFFER_READY", L"DBWIN_DATA_READY", L"DBWIN_BUFFER", kDbwinBufferBytes, tag);
    ASSERT_TRUE(buffer.valid());
    CTraceWriterProcess writer;
    ASSERT_TRUE(writer.Start(L"--input dbwin-raw --count 40 --id 6 --tag " + tag + L" --wait-event 10000 " + fault));
    std::vector<std::wstring> messages;
    buffer.Take(40, [&](const std::vector<uint8_t>& bytes) {
      CGuardedBytes guarded(bytes);
      const TraceRecord* r = CTraceMgr::AddDbwin(&store, guarded.Data(), bytes.size(), 0, kModeBuild);
      ASSERT_NE(nullptr, r);
      EXPECT_EQ(writer.ProcessId(), r->pid);
      messages.push_back(r->Message());
    });
    ASSERT_TRUE(writer.Wait(kWaitMs));
    EXPECT_EQ("written: 40\n", writer.Output());
    if (fault[0] == 0) {
      ExpectInOrder(messages, 6, 1, 40, kWriterMessageUnits, true);
    } else {
      for (const std::wstring& m : messages) EXPECT_EQ(std::wstring::npos, m.find_first_not_of(L'x'));
    }
  }
}

// What the tracer window received.
struct CopyDataReceived {
  ULONG_PTR tag;
  std::string bytes;
};

TEST_F(WriterInputs, ProcessSendsCopyDataToTheTracerWindow) {
  struct Case {
    const wchar_t* fault;
    ULONG_PTR tag;
  };
  const Case cases[] = {{L"", 0}, {L"no-prefix", 0}, {L"ignored-data", kCopyDataIgnoredTag},
                        {L"empty-data", 0},  {L"too-long", 0},  {L"unterminated", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    const std::wstring tag = UniqueTag();
    std::vector<CopyDataReceived> received;
    CCopyDataWindow sink(tag, [&](const COPYDATASTRUCT* data) -> LRESULT {
      received.push_back({data->dwData, std::string(static_cast<const char*>(data->lpData), data->cbData)});
      return TRUE;
    });
    ASSERT_TRUE(sink.valid());
    CTraceWriterProcess writer;
    ASSERT_TRUE(writer.Start(L"--input copydata --count 12 --id 5 --module cd.exe --tag " + tag +
                             L" --wait-event 10000" + (c.fault[0] ? std::wstring(L" --fault ") + c.fault : L"")));
    sink.PumpUntil(writer.Process());
    ASSERT_TRUE(writer.Wait(kWaitMs));
    EXPECT_EQ("written: 12\n", writer.Output());
    ASSERT_EQ(12u, received.size());
    std::vector<std::wstring> messages;
    for (const CopyDataReceived& got : received) {
      EXPECT_EQ(c.tag, got.tag);
      const std::wstring fault = c.fault;
      if (fault == L"empty-data") {
        EXPECT_TRUE(got.bytes.empty());
        continue;
      }
      if (fault == L"too-long") {
        EXPECT_EQ(kCopyDataTooLongBytes + 1, got.bytes.size());
      }
      EXPECT_EQ(fault != L"unterminated", !got.bytes.empty() && got.bytes.back() == 0);
      const TraceRecord* r =
          CTraceMgr::AddDbgText(&store, got.bytes.data(), got.bytes.data() + got.bytes.size(), 0, kModeBuild);
      ASSERT_NE(nullptr, r);
      if (fault == L"no-prefix") {
        EXPECT_EQ(0u, r->pid);
      } else {
        EXPECT_STREQ(L"cd.exe", r->Module());
        EXPECT_EQ(writer.ProcessId(), r->pid);
        EXPECT_NE(0u, r->tid);
      }
      messages.push_back(r->Message());
    }
    if (std::wstring(c.fault) != L"empty-data" && std::wstring(c.fault) != L"too-long") {
      ExpectInOrder(messages, 5, 1, 12, 1023, true);
    }
  }
}

TEST_F(WriterInputs, ProcessFillsTheRecordRegion) {
  constexpr uint32_t kSize = 16384;
  const std::wstring tag = UniqueTag();
  const std::wstring name = QrvRegionName(tag);
  const HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSize, name.c_str());
  const HANDLE mutex = CreateMutexW(nullptr, FALSE, (name + L"Mutex").c_str());
  ASSERT_NE(nullptr, mapping);
  ASSERT_NE(nullptr, mutex);
  const auto* view = static_cast<const uint8_t*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(nullptr, view);
  CTraceWriterProcess writer;
  ASSERT_EQ(0u, writer.Run(L"--input qrv --count 300 --batch 16 --id 3 --ring 16384 --tag " + tag));
  EXPECT_EQ("written: 300\n", writer.Output());
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mutex, kWaitMs));
  uint32_t used;
  std::memcpy(&used, view + kQrvUsedOffset, sizeof(used));
  ASSERT_LE(used, kSize - kQrvRecordsOffset);
  std::vector<std::wstring> messages;
  for (uint32_t at = kQrvRecordsOffset; at + kQrvRecordHead <= kQrvRecordsOffset + used;) {
    uint16_t length;
    std::memcpy(&length, view + at, sizeof(length));
    ASSERT_LE(at + kQrvRecordHead + length, kQrvRecordsOffset + used);
    const TraceRecord* r = CTraceMgr::AddQrvRecord(&store, 0, view + at, kQrvRecordHead + length, kModeBuild);
    ASSERT_NE(nullptr, r);
    EXPECT_EQ(writer.ProcessId(), r->pid);
    messages.push_back(r->Message());
    at += kQrvRecordHead + length;
  }
  ReleaseMutex(mutex);
  // The region started over when full: it holds the newest records, in order.
  ASSERT_FALSE(messages.empty());
  ASSERT_LT(messages.size(), 300u);
  uint32_t w = 0, t = 0, first = 0;
  ASSERT_EQ(3, swscanf(messages[0].c_str(), L"w%u t%u #%u ", &w, &t, &first));
  for (size_t i = 0; i < messages.size(); ++i) {
    EXPECT_EQ(CutText(ThroughAnsi(MessageOf(3, 1, first + uint32_t(i))), kQrvMaxTextBytes), messages[i]);
  }
  EXPECT_EQ(300u, first + messages.size() - 1);
  UnmapViewOfFile(view);
  CloseHandle(mapping);
  CloseHandle(mutex);
}

TEST_F(WriterInputs, ProcessListsItselfAndFillsItsRegion) {
  constexpr uint32_t kSize = 65536;
  constexpr uint32_t kCount = 200;
  const std::wstring tag = UniqueTag();
  const std::wstring table = QrcTableName(false, tag);
  const HANDLE tableMapping =
      CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kQrcTableBytes, table.c_str());
  ASSERT_NE(nullptr, tableMapping);
  const auto* slots = static_cast<const uint8_t*>(MapViewOfFile(tableMapping, FILE_MAP_READ, 0, 0, 0));
  CTraceWriterProcess writer;
  ASSERT_TRUE(writer.Start(L"--input qrc --count 200 --batch 8 --id 2 --ring 65536 --fault dead-pid --tag " + tag, true));
  // The region is named by the pid: hold it before the writer runs.
  const std::wstring name = QrcRegionName(false, writer.ProcessId(), tag);
  const HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSize, name.c_str());
  ASSERT_NE(nullptr, mapping);
  const auto* region = static_cast<const uint8_t*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
  writer.Resume();
  ASSERT_TRUE(writer.Wait(kWaitMs));
  EXPECT_EQ("written: 200\n", writer.Output());
  EXPECT_EQ(writer.ProcessId(), GetBe32(slots));
  EXPECT_EQ(kQrcDeadPid, GetBe32(slots + 4));
  EXPECT_EQ(writer.ProcessId(), GetBe32(region + 4));
  for (uint32_t area = 0; area < 2; ++area) {
    SCOPED_TRACE(area);
    uint32_t position = 0xFFFFFFFF;
    const std::vector<uint8_t> block = ReadRing(QrcRing(const_cast<uint8_t*>(region), kSize, area), &position);
    std::vector<uint32_t> expected;
    for (uint32_t s = 1; s <= kCount; ++s)
      if (QrcAreaOf(s) == area) expected.push_back(s);
    EXPECT_EQ(expected, EventNumbers(block));
  }
  UnmapViewOfFile(region);
  UnmapViewOfFile(slots);
  CloseHandle(mapping);
  CloseHandle(tableMapping);
}

// Runs alone (see tests/CMakeLists.txt): it owns the session's debugger
// channel while it runs.
TEST_F(WriterInputs, DebugChannelOutputDebugStringArrivesWhole) {
  ToolBuffer buffer(L"DBWIN_BUFFER_READY", L"DBWIN_DATA_READY", L"DBWIN_BUFFER", kDbwinBufferBytes, L"");
  if (buffer.existed()) {
    GTEST_SKIP() << "another reader owns the debugger channel";
  }
  ASSERT_TRUE(buffer.valid());
  CTraceWriterProcess writer;
  ASSERT_TRUE(writer.Start(L"--input dbwin --count 50 --id 8"));
  std::vector<std::wstring> messages;
  buffer.Take(50, [&](const std::vector<uint8_t>& bytes) {
    const TraceRecord* r = CTraceMgr::AddDbwin(&store, bytes.data(), bytes.size(), 0, kModeBuild);
    ASSERT_NE(nullptr, r);
    if (r->pid == writer.ProcessId()) messages.push_back(r->Message());
  });
  ASSERT_TRUE(writer.Wait(kWaitMs));
  EXPECT_EQ("written: 50\n", writer.Output());
  ExpectInOrder(messages, 8, 1, 50, kWriterMessageUnits, true);
}

TEST_F(WriterInputs, FaultsBelongToTheirInputs) {
  CTraceWriterProcess writer;
  EXPECT_EQ(DWORD(kWriterExitBadArguments), writer.Run(L"--input qrv --fault no-prefix"));
  EXPECT_NE(std::string::npos, writer.Output().find("does not apply")) << writer.Output();
}

}  // namespace
