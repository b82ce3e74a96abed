#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <memory>
#include <cwchar>
#include <string>
#include <vector>

#include "core/ModuleGroups.h"
#include "core/RecordBuilder.h"
#include "core/TraceStore.h"
#include "formats/Ktr.h"
#include "tests/tools/TraceWriterProcess.h"
#include "tests/tools/WriterTestUtil.h"
#include "tools/trace-writer/WriterChannel.h"
#include "tools/trace-writer/WriterOptions.h"
#include "tools/trace-writer/WriterRecord.h"
#include "tools/trace-writer/WriterRing.h"
#include "tools/trace-writer/WriterRun.h"

namespace {

constexpr uint32_t kStoreBytes = 8u << 20;
constexpr DWORD kProcessTimeoutMs = 60000;

std::vector<const TraceRecord*> Records(const CTraceBase& store) {
  std::vector<const TraceRecord*> out;
  CTraceRingWalker walker(const_cast<CTraceBase&>(store).Buffer());
  while (const TraceRecord* r = walker.Next()) out.push_back(r);
  return out;
}

std::wstring Expected(uint8_t encoding, const std::wstring& text) {
  return encoding == 1 ? ThroughAnsi(text) : text;
}

class TraceWriter : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(1, g_moduleGroups.LoadFromResource()); }
  void TearDown() override { g_moduleGroups.Clear(); }
};

// ---- command line ------------------------------------------------------

struct ArgsCase {
  std::vector<const wchar_t*> args;
  bool ok;
};

TEST(TraceWriterOptions, AcceptsTheAgreedLineAndRefusesBadValues) {
  const ArgsCase cases[] = {
      {{}, true},
      {{L"--kind", L"3", L"--global", L"--count", L"0", L"--batch", L"1", L"--rate", L"500", L"--ring", L"16384",
        L"--threads", L"8", L"--id", L"77", L"--cipher", L"0", L"--encoding", L"2", L"--level", L"0x1F", L"--module",
        L"app.exe", L"--wait-event", L"5000", L"--fault", L"hold-mutex", L"--linger", L"10", L"--tag", L"abc",
        L"--start-event", L"go"},
       true},
      {{L"--kind", L"4"}, false},
      {{L"--kind"}, false},
      {{L"--kind", L"-1"}, false},
      {{L"--count", L"12x"}, false},
      {{L"--count", L"4294967296"}, false},
      {{L"--batch", L"0"}, false},
      {{L"--ring", L"16383"}, false},
      {{L"--threads", L"0"}, false},
      {{L"--threads", L"65"}, false},
      {{L"--cipher", L"5"}, false},
      {{L"--encoding", L"3"}, false},
      {{L"--encoding", L"0"}, false},
      {{L"--level", L"32"}, false},
      {{L"--module", L""}, false},
      {{L"--module", L"a@b"}, false},
      {{L"--fault", L"explode"}, false},
      {{L"--tag", L"a\\b"}, false},
      {{L"--start-event", L""}, false},
      {{L"--start-event", L"0123456789012345678901234567890123456789012345678901234567890123"}, false},
      {{L"--verbose"}, false},
  };
  for (const ArgsCase& c : cases) {
    std::vector<const wchar_t*> argv{L"trace-writer"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    WriterOptions options;
    std::wstring error;
    EXPECT_EQ(c.ok, ParseWriterOptions(int(argv.size()), argv.data(), &options, &error))
        << (c.args.empty() ? L"" : c.args[0]) << L" " << error;
    EXPECT_EQ(c.ok, error.empty());
  }
}

TEST(TraceWriterOptions, ValuesLand) {
  const wchar_t* argv[] = {L"w", L"--kind", L"2", L"--global", L"--fault", L"bad-end", L"--cipher", L"1",
                           L"--encoding", L"1", L"--module", L"x.dll", L"--id", L"9"};
  WriterOptions options;
  std::wstring error;
  ASSERT_TRUE(ParseWriterOptions(int(std::size(argv)), argv, &options, &error));
  EXPECT_EQ(2u, options.kind);
  EXPECT_TRUE(options.global);
  EXPECT_EQ(WriterFault::kBadEnd, options.fault);
  EXPECT_EQ(1, options.cipher);
  EXPECT_EQ(1, options.encoding);
  EXPECT_EQ(L"x.dll", options.module);
  EXPECT_EQ(9u, options.id);
  EXPECT_EQ(kDefaultRecordCount, options.count);
  EXPECT_EQ(kDefaultBatch, options.batch);
  EXPECT_EQ(kDefaultRingBytes, options.ringBytes);
}

TEST(TraceWriterOptions, ChannelNames) {
  const ChannelNames local = MakeChannelNames(0, false, L"");
  EXPECT_EQ(L"KELTRA_TRACE_MUTEX", local.mutex);
  EXPECT_EQ(L"KELTRA_TRACE_EVENT", local.event);
  EXPECT_EQ(L"KELTRA_TRACE_FILE", local.mapping);
  const ChannelNames global = MakeChannelNames(3, true, L"");
  EXPECT_EQ(L"Global\\KELTRA_TRACE_MUTEX_EX_RESIDENT", global.mutex);
  EXPECT_EQ(L"Global\\KELTRA_TRACE_EVENT_EX_RESIDENT", global.event);
  EXPECT_EQ(L"Global\\KELTRA_TRACE_FILE_EX_RESIDENT", global.mapping);
  EXPECT_EQ(L"KELTRA_OR_TRACE_FILE_t1", MakeChannelNames(2, false, L"t1").mapping);
  EXPECT_EQ(L"KELTRA_TRACE_EVENT_EX", MakeChannelNames(1, false, L"").event);
}

// ---- messages and records ----------------------------------------------

TEST(TraceWriterRecord, MessagesAreRepeatableAndVaried) {
  EXPECT_EQ(MessageOf(5, 2, 40), MessageOf(5, 2, 40));
  EXPECT_EQ(0u, MessageOf(5, 2, 40).rfind(L"w5 t2 #40 ", 0));
  size_t longest = 0, shortest = SIZE_MAX;
  bool beyondAscii = false, surrogate = false;
  for (uint32_t s = 1; s <= 300; ++s) {
    const std::wstring m = MessageOf(1234, 1, s);
    longest = std::max(longest, m.size());
    shortest = std::min(shortest, m.size());
    for (wchar_t c : m) {
      beyondAscii |= c > 0x7F;
      surrogate |= c >= 0xD800 && c < 0xDC00;
    }
  }
  EXPECT_GE(longest, 1500u);
  EXPECT_LT(longest, kWriterMessageUnits);
  EXPECT_LE(shortest, 20u);
  EXPECT_TRUE(beyondAscii);
  EXPECT_TRUE(surrogate);
}

TEST_F(TraceWriter, RecordsReadBackInEveryEncodingAndCipher) {
  const uint8_t encodings[] = {1, 2, 4};
  const uint8_t ciphers[] = {0, 1, 2, 3, 4};
  const uint32_t sequences[] = {5, 97, 11};  // a hint, a long message, neither
  for (uint8_t encoding : encodings) {
    for (uint8_t cipher : ciphers) {
      for (uint32_t sequence : sequences) {
        SCOPED_TRACE(testing::Message() << "encoding " << int(encoding) << " cipher " << int(cipher) << " #"
                                        << sequence);
        const std::wstring message = MessageOf(42, 3, sequence);
        WriterRecordFields f;
        f.level = kLevelWarning;
        f.pid = 4321;
        f.tid = 8765;
        f.time = 1700000000;
        f.milliseconds = 999;
        f.stamp = 0x123456789ABCull;
        f.module = L"m\u00f6d.dll";
        f.hint = WriterHint(sequence);
        f.message = message.c_str();
        f.encoding = encoding;
        f.cipher = cipher;
        std::vector<uint8_t> bytes(kMaxNarrowRecord, 0xCC);
        const size_t length = BuildWriterRecord(f, bytes.data(), bytes.size());
        ASSERT_GE(length, 53u);
        EXPECT_EQ(0u, (length - kNarrowHeadSize) % 16);
        CTraceFile store;
        ASSERT_EQ(1, store.GrowBuffer(65536));
        const TraceRecord* r = CTraceMgr::AddRecord(&store, 0, bytes.data(), 1, kModeBuild);
        ASSERT_NE(nullptr, r);
        EXPECT_EQ(Expected(encoding, L"m\u00f6d.dll"), r->Module());
        EXPECT_EQ(Expected(encoding, f.hint), r->Hint());
        EXPECT_EQ(Expected(encoding, message), r->Message());
        EXPECT_EQ(kLevelWarning, r->level & kLevelMask);
        EXPECT_EQ(4321u, r->pid);
        EXPECT_EQ(8765u, r->tid);
        EXPECT_EQ(999, r->milliseconds);
        EXPECT_EQ(0x123456789ABCull, r->Stamp());
      }
    }
  }
}

TEST(TraceWriterRecord, RefusesWhatDoesNotFit) {
  const std::wstring huge(kWriterMessageUnits * 3, L'\u6587');  // 3 bytes a unit in UTF-8
  WriterRecordFields f;
  f.message = huge.c_str();
  uint8_t bytes[kMaxNarrowRecord];
  EXPECT_EQ(0u, BuildWriterRecord(f, bytes, sizeof(bytes)));
  f.message = L"short";
  EXPECT_EQ(0u, BuildWriterRecord(f, bytes, 60));
  EXPECT_NE(0u, BuildWriterRecord(f, bytes, sizeof(bytes)));
}

// ---- the ring ----------------------------------------------------------

TEST(TraceWriterRing, WrapsAndKeepsTheNewestInOrder) {
  constexpr uint32_t kCapacity = kMinRingBytes;
  std::vector<uint8_t> memory(kCapacity);
  auto* ring = reinterpret_cast<TraceBufferHeader*>(memory.data());
  InitWriterRing(ring, kCapacity, 7);
  uint32_t released = 0;
  std::vector<uint8_t> record(kMaxNarrowRecord);
  for (uint32_t i = 1; i <= 2000; ++i) {
    const uint32_t length = 64 + (i * 52) % 2000 / 4 * 4;  // varied, 4-aligned
    std::memset(record.data(), 0, length);
    std::memcpy(record.data(), &length, sizeof(uint16_t));
    ASSERT_EQ(i, AppendRingRecord(ring, record.data(), length, &released));
    ASSERT_EQ(1, CheckRingInvariants(ring)) << i;
  }
  EXPECT_EQ(2000u, ring->recordCount + released);
  EXPECT_EQ(7u, ring->generation);
  uint32_t expected = 2000 - ring->recordCount + 1;
  CTraceRingWalker walker(ring);
  while (const TraceRecord* r = walker.Next()) EXPECT_EQ(expected++, r->sequence);
  EXPECT_EQ(2001u, expected);
  EXPECT_EQ(0u, AppendRingRecord(ring, record.data(), kCapacity, &released));  // never fits
}

TEST(TraceWriterRing, FaultsDamageTheHeaderAsNamed) {
  struct Case {
    WriterFault fault;
    bool sound;
  };
  const Case cases[] = {
      {WriterFault::kBadMagic, false},  {WriterFault::kBadVersion, false},   {WriterFault::kBadEnd, false},
      {WriterFault::kBadCount, false},  {WriterFault::kZeroLength, true},    {WriterFault::kNewGeneration, true},
      {WriterFault::kHoldMutex, true},  {WriterFault::kNone, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(FaultName(c.fault) ? FaultName(c.fault) : L"none");
    std::vector<uint8_t> memory(kMinRingBytes);
    auto* ring = reinterpret_cast<TraceBufferHeader*>(memory.data());
    InitWriterRing(ring, kMinRingBytes, 5);
    uint8_t record[64] = {64};
    for (int i = 0; i < 3; ++i) AppendRingRecord(ring, record, sizeof(record), nullptr);
    ApplyRingFault(ring, c.fault);
    EXPECT_EQ(c.sound, IsSoundWriterRing(ring, memory.size()));
    if (c.fault == WriterFault::kZeroLength) {
      EXPECT_EQ(4u, ring->recordCount);
      EXPECT_EQ(4u, ring->lastSequence);
      EXPECT_EQ(0, *reinterpret_cast<uint16_t*>(ring->Bytes() + ring->write - kZeroLengthSlot));
    }
    if (c.fault == WriterFault::kNewGeneration) {
      EXPECT_EQ(0u, ring->recordCount);
      EXPECT_EQ(0u, ring->lastSequence);
      EXPECT_EQ(6u, ring->generation);
    }
  }
  std::vector<uint8_t> memory(kMinRingBytes);
  auto* ring = reinterpret_cast<TraceBufferHeader*>(memory.data());
  EXPECT_FALSE(IsSoundWriterRing(ring, memory.size()));  // a fresh mapping
  InitWriterRing(ring, kMinRingBytes, 1);
  EXPECT_TRUE(IsSoundWriterRing(ring, memory.size()));
  EXPECT_FALSE(IsSoundWriterRing(ring, memory.size() - 1));  // larger than the mapping
}

// ---- the writer as a process -------------------------------------------

// The tool's side of one channel, for a test: it creates the event as the
// tool does, and holds the mutex and the mapping so the ring outlives the
// writer process.
class TestChannel {
 public:
  TestChannel(uint32_t kind, uint32_t ringBytes, bool global = false)
      : m_tag(UniqueTag()), m_global(global), m_names(MakeChannelNames(kind, global, m_tag)) {
    m_event = CreateEventW(nullptr, FALSE, FALSE, m_names.event.c_str());
    m_mutex = CreateMutexW(nullptr, FALSE, m_names.mutex.c_str());
    m_mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, ringBytes, m_names.mapping.c_str());
    m_view = m_mapping ? static_cast<uint8_t*>(MapViewOfFile(m_mapping, FILE_MAP_READ, 0, 0, 0)) : nullptr;
    m_size = ringBytes;
  }
  ~TestChannel() {
    if (m_view) UnmapViewOfFile(m_view);
    for (HANDLE h : {m_event, m_mutex, m_mapping})
      if (h) CloseHandle(h);
  }
  bool valid() const { return m_event && m_mutex && m_view; }
  const std::wstring& tag() const { return m_tag; }
  bool global() const { return m_global; }
  HANDLE event() const { return m_event; }
  void DropMutex() {
    CloseHandle(m_mutex);
    m_mutex = nullptr;
  }

  // The ring's bytes, copied under the writer's mutex.
  std::vector<uint8_t> Copy(DWORD* waited = nullptr) {
    const DWORD w = WaitForSingleObject(m_mutex, 10000);
    if (waited) *waited = w;
    std::vector<uint8_t> bytes(m_view, m_view + m_size);
    ReleaseMutex(m_mutex);
    return bytes;
  }
  const TraceBufferHeader* Header() const { return reinterpret_cast<const TraceBufferHeader*>(m_view); }
  // Lays out an empty ring of the channel's whole size, as a writer that
  // finds none does.
  bool InitRing() {
    if (WaitForSingleObject(m_mutex, 10000) != WAIT_OBJECT_0) return false;
    void* bytes = MapViewOfFile(m_mapping, FILE_MAP_WRITE, 0, 0, 0);
    if (bytes) {
      InitWriterRing(static_cast<TraceBufferHeader*>(bytes), m_size, 1);
      UnmapViewOfFile(bytes);
    }
    ReleaseMutex(m_mutex);
    return bytes != nullptr;
  }

 private:
  std::wstring m_tag;
  bool m_global;
  ChannelNames m_names;
  HANDLE m_event = nullptr, m_mutex = nullptr, m_mapping = nullptr;
  uint8_t* m_view = nullptr;
  uint32_t m_size = 0;
};

std::wstring Args(const TestChannel& channel, uint32_t kind, const std::wstring& more) {
  return L"--kind " + std::to_wstring(kind) + (channel.global() ? L" --global" : L"") + L" --tag " + channel.tag() +
         L" --wait-event 10000 " + more;
}

// Checks that the store holds `count` records of each writer thread in order,
// as the writer process `pid` with id `id` wrote them.
void ExpectAllRecords(const CTraceBase& store, DWORD pid, uint32_t id, uint32_t threads, uint32_t count,
                      uint8_t encoding) {
  std::vector<uint32_t> last(threads + 1, 0);
  std::vector<uint32_t> tids(threads + 1, 0);
  for (const TraceRecord* r : Records(store)) {
    uint32_t w = 0, t = 0, s = 0;
    ASSERT_EQ(3, swscanf(r->Message(), L"w%u t%u #%u ", &w, &t, &s)) << r->Message();
    ASSERT_EQ(id, w);
    ASSERT_TRUE(t >= 1 && t <= threads) << t;
    ASSERT_EQ(last[t] + 1, s) << "thread " << t;
    last[t] = s;
    if (tids[t] == 0) tids[t] = r->tid;
    EXPECT_EQ(tids[t], r->tid);
    EXPECT_EQ(pid, r->pid);
    EXPECT_EQ(Expected(encoding, MessageOf(id, t, s)), r->Message());
    EXPECT_EQ(Expected(encoding, WriterHint(s)), r->Hint());
    EXPECT_STREQ(L"trace-writer.exe", r->Module());
    EXPECT_EQ(kLevelInfo, r->level & kLevelMask);
  }
  for (uint32_t t = 1; t <= threads; ++t) EXPECT_EQ(count, last[t]) << "thread " << t;
}

void Parse(const std::vector<uint8_t>& ring, CTraceFile* store) {
  ASSERT_EQ(1, store->GrowBuffer(kStoreBytes));
  uint32_t refused = 0;
  ASSERT_EQ(1, ParseKeltImage(store, ring.data(), ring.size(), 1, &refused));
  EXPECT_EQ(0u, refused);
}

struct VariantCase {
  uint32_t kind;
  uint8_t encoding;
  uint8_t cipher;
  uint32_t threads;
  uint32_t batch;
  bool global;
};

TEST_F(TraceWriter, ProcessWritesEveryRecordOfEveryThread) {
  constexpr uint32_t kCount = 150;
  const VariantCase cases[] = {
      {0, 4, 4, 3, 7, false}, {1, 2, 0, 1, 1, true},  {2, 1, 1, 2, 64, false},
      {3, 4, 2, 1, 150, true}, {0, 2, 3, 2, 5, false},
  };
  // The writers run side by side, each on a channel of its own.
  constexpr size_t kCases = std::size(cases);
  std::unique_ptr<TestChannel> channels[kCases];
  CTraceWriterProcess writers[kCases];
  for (size_t i = 0; i < kCases; ++i) {
    const VariantCase& c = cases[i];
    channels[i] = std::make_unique<TestChannel>(c.kind, kDefaultRingBytes, c.global);
    ASSERT_TRUE(channels[i]->valid());
    ASSERT_TRUE(writers[i].Start(Args(*channels[i], c.kind,
                                      L"--count " + std::to_wstring(kCount) + L" --threads " +
                                          std::to_wstring(c.threads) + L" --batch " + std::to_wstring(c.batch) +
                                          L" --encoding " + std::to_wstring(c.encoding) + L" --cipher " +
                                          std::to_wstring(c.cipher) + L" --id 31")));
  }
  for (size_t i = 0; i < kCases; ++i) {
    const VariantCase& c = cases[i];
    SCOPED_TRACE(testing::Message() << "kind " << c.kind << " encoding " << int(c.encoding) << " cipher "
                                    << int(c.cipher) << " threads " << c.threads);
    TestChannel& channel = *channels[i];
    CTraceWriterProcess& writer = writers[i];
    ASSERT_TRUE(writer.Wait(kProcessTimeoutMs));
    ASSERT_EQ(0u, writer.ExitCode()) << writer.Output();
    EXPECT_EQ("written: " + std::to_string(kCount * c.threads) + "\n", writer.Output());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(channel.event(), 0));  // signalled
    const std::vector<uint8_t> ring = channel.Copy();
    const auto* header = reinterpret_cast<const TraceBufferHeader*>(ring.data());
    EXPECT_EQ(kCount * c.threads, header->recordCount);
    EXPECT_EQ(kCount * c.threads, header->lastSequence);
    EXPECT_NE(0u, header->generation);
    CTraceFile store;
    Parse(ring, &store);
    ExpectAllRecords(store, writer.ProcessId(), 31, c.threads, kCount, c.encoding);
  }
}

TEST_F(TraceWriter, TwoProcessesShareOneRing) {
  constexpr uint32_t kCount = 400;
  TestChannel channel(0, kDefaultRingBytes);
  ASSERT_TRUE(channel.valid());
  // The second writer asks for a smaller ring: had it been the first to lock,
  // it would lay the ring out at its own size and the first writer's records
  // would lap it. The ring is there before either starts.
  ASSERT_TRUE(channel.InitRing());
  CTraceWriterProcess first, second;
  ASSERT_TRUE(first.Start(Args(channel, 0, L"--count 400 --batch 16 --id 1")));
  ASSERT_TRUE(second.Start(Args(channel, 0, L"--count 400 --batch 16 --id 2 --ring 65536")));
  ASSERT_TRUE(first.Wait(kProcessTimeoutMs));
  ASSERT_TRUE(second.Wait(kProcessTimeoutMs));
  EXPECT_EQ(0u, first.ExitCode());
  EXPECT_EQ(0u, second.ExitCode());
  const std::vector<uint8_t> ring = channel.Copy();
  const auto* header = reinterpret_cast<const TraceBufferHeader*>(ring.data());
  EXPECT_EQ(2 * kCount, header->recordCount);  // neither started the ring over
  EXPECT_EQ(2 * kCount, header->lastSequence);
  CTraceFile store;
  Parse(ring, &store);
  std::vector<uint32_t> last(3, 0);
  uint32_t previousSequence = 0;
  for (const TraceRecord* r : Records(store)) {
    uint32_t w = 0, t = 0, s = 0;
    ASSERT_EQ(3, swscanf(r->Message(), L"w%u t%u #%u ", &w, &t, &s));
    ASSERT_TRUE(w == 1 || w == 2);
    EXPECT_EQ(last[w] + 1, s);
    last[w] = s;
    EXPECT_EQ(w == 1 ? first.ProcessId() : second.ProcessId(), r->pid);
    EXPECT_GT(r->sequence, previousSequence);
    previousSequence = r->sequence;
  }
  EXPECT_EQ(kCount, last[1]);
  EXPECT_EQ(kCount, last[2]);
}

TEST_F(TraceWriter, ProcessWrapsASmallRingKeepingTheNewestRecords) {
  constexpr uint32_t kCount = 600;
  TestChannel channel(1, kMinRingBytes);
  ASSERT_TRUE(channel.valid());
  CTraceWriterProcess writer;
  ASSERT_EQ(0u, writer.Run(Args(channel, 1, L"--count 600 --batch 9 --id 8")));
  const std::vector<uint8_t> ring = channel.Copy();
  const auto* header = reinterpret_cast<const TraceBufferHeader*>(ring.data());
  EXPECT_EQ(1, CheckRingInvariants(header));
  EXPECT_EQ(kCount, header->lastSequence);
  ASSERT_LT(header->recordCount, kCount);
  ASSERT_GT(header->recordCount, 10u);
  CTraceFile store;
  Parse(ring, &store);
  uint32_t expected = kCount - header->recordCount + 1;
  for (const TraceRecord* r : Records(store)) {
    EXPECT_EQ(0u, std::wstring(r->Message()).rfind(L"w8 t1 #" + std::to_wstring(expected++) + L" ", 0));
  }
  EXPECT_EQ(kCount + 1, expected);
}

TEST_F(TraceWriter, ProcessRefusesBadArguments) {
  CTraceWriterProcess writer;
  EXPECT_EQ(DWORD(kWriterExitBadArguments), writer.Run(L"--batch 0"));
  EXPECT_NE(std::string::npos, writer.Output().find("--batch")) << writer.Output();
  EXPECT_NE(std::string::npos, writer.Output().find("usage")) << writer.Output();
}

TEST_F(TraceWriter, ProcessWaitsForTheEventAndFailsWithoutIt) {
  CTraceWriterProcess writer;
  const std::wstring tag = UniqueTag();
  EXPECT_EQ(DWORD(kWriterExitFailed), writer.Run(L"--tag " + tag + L" --wait-event 50 --count 5"));
  EXPECT_NE(std::string::npos, writer.Output().find("no event")) << writer.Output();
}

TEST_F(TraceWriter, ProcessWritesOnlyOnceItsStartEventIsSet) {
  constexpr DWORD kStillWaitingMs = 500;
  TestChannel channel(3, kDefaultRingBytes);
  ASSERT_TRUE(channel.valid());
  const std::wstring startName = L"start_" + channel.tag();
  HANDLE start = CreateEventW(nullptr, TRUE, FALSE, startName.c_str());
  ASSERT_NE(nullptr, start);
  CTraceWriterProcess writer;
  ASSERT_TRUE(writer.Start(Args(channel, 3, L"--count 20 --id 5 --start-event " + startName)));
  EXPECT_FALSE(writer.Wait(kStillWaitingMs));
  EXPECT_EQ(0u, channel.Header()->lastSequence);
  SetEvent(start);
  ASSERT_TRUE(writer.Wait(kProcessTimeoutMs));
  EXPECT_EQ(0u, writer.ExitCode()) << writer.Output();
  EXPECT_EQ(20u, channel.Header()->lastSequence);
  CloseHandle(start);
}

TEST_F(TraceWriter, ProcessFaultModes) {
  constexpr uint32_t kCount = 40;  // batches of 8: the mid-run faults come at 24
  constexpr uint32_t kKind = 2;
  struct FaultCase {
    const wchar_t* name;
    DWORD exitCode;
    const char* output;
  };
  const FaultCase cases[] = {
      {L"bad-magic", 0, "written: 40\n"},      {L"bad-version", 0, "written: 40\n"},
      {L"bad-end", 0, "written: 40\n"},        {L"bad-count", 0, "written: 40\n"},
      {L"zero-length", 0, "written: 40\n"},    {L"new-generation", 0, "written: 40\n"},
      {L"hold-mutex", 0, "written: 40\n"},     {L"die-holding-mutex", kWriterExitDied, "written: 24\n"},
      {L"signal-no-ring", 0, "written: 0\n"},
  };
  // The writers run side by side, each on a channel of its own.
  constexpr size_t kCases = std::size(cases);
  std::unique_ptr<TestChannel> channels[kCases];
  CTraceWriterProcess writers[kCases];
  for (size_t i = 0; i < kCases; ++i) {
    channels[i] = std::make_unique<TestChannel>(kKind, kMinRingBytes * 4);
    ASSERT_TRUE(channels[i]->valid());
    if (std::wstring(cases[i].name) == L"signal-no-ring") {
      // The tool's event alone: the writer must not create the ring.
      channels[i]->DropMutex();
    }
    ASSERT_TRUE(writers[i].Start(Args(*channels[i], kKind, L"--count 40 --batch 8 --id 3 --fault " +
                                                              std::wstring(cases[i].name))));
  }
  for (size_t i = 0; i < kCases; ++i) {
    const FaultCase& c = cases[i];
    SCOPED_TRACE(c.name);
    TestChannel& channel = *channels[i];
    CTraceWriterProcess& writer = writers[i];
    const std::wstring fault = c.name;
    ASSERT_TRUE(writer.Wait(kProcessTimeoutMs));
    ASSERT_EQ(c.exitCode, writer.ExitCode());
    EXPECT_EQ(c.output, writer.Output());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(channel.event(), 0));
    if (fault == L"signal-no-ring") {
      EXPECT_EQ(0u, channel.Header()->capacity);  // the test's mapping was never written
      continue;
    }
    DWORD waited = 0;
    const std::vector<uint8_t> ring = channel.Copy(&waited);
    const auto* h = reinterpret_cast<const TraceBufferHeader*>(ring.data());
    EXPECT_EQ(fault == L"die-holding-mutex" ? DWORD(WAIT_ABANDONED) : DWORD(WAIT_OBJECT_0), waited);
    if (fault == L"bad-magic") { EXPECT_NE(0, std::memcmp(h->magic, "KELT", 4)); }
    if (fault == L"bad-version") { EXPECT_NE(kTraceVersion, h->version); }
    if (fault == L"bad-end") { EXPECT_GT(h->end, ring.size()); }
    if (fault == L"bad-count") { EXPECT_GT(h->recordCount, ring.size()); }
    if (fault == L"zero-length") {
      EXPECT_EQ(kCount + 1, h->recordCount);
      EXPECT_EQ(0, *reinterpret_cast<const uint16_t*>(ring.data() + h->write - kZeroLengthSlot));
    }
    if (fault == L"die-holding-mutex") {
      // Half a record counted: 24 whole ones and the one being appended.
      EXPECT_EQ(25u, h->recordCount);
      EXPECT_EQ(25u, h->lastSequence);
    }
    if (fault == L"new-generation" || fault == L"hold-mutex") {
      CTraceFile store;
      Parse(ring, &store);
      const std::vector<const TraceRecord*> records = Records(store);
      const uint32_t first = fault == L"new-generation" ? 25 : 1;  // the restarted ring holds the rest
      ASSERT_EQ(kCount - first + 1, records.size());
      EXPECT_EQ(kCount - first + 1, h->lastSequence);
      for (uint32_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(0u, std::wstring(records[i]->Message()).rfind(L"w3 t1 #" + std::to_wstring(first + i) + L" ", 0));
      }
    }
  }
}

}  // namespace
