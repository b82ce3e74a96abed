// The capture thread against trace-writer.exe processes: whole runs through
// several laps of small rings, with sorting, across a stop and a start, and
// with writers that misbehave.
#include <algorithm>
#include <map>
#include <string>

#include "jobs/Threads.h"
#include "tests/capture/CaptureFixture.h"
#include "tests/capture/WriterProcess.h"

using namespace capture_test;

namespace {

constexpr DWORD kWriterTimeoutMs = 60000;
constexpr DWORD kArrivalTimeoutMs = 15000;

class Writer {
 public:
  explicit Writer(const std::wstring& arguments) : m_process(StartWriterProcess(arguments)) {}
  ~Writer() {
    if (m_process) {
      if (WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT) TerminateProcess(m_process, 99);
      CloseHandle(m_process);
    }
  }
  bool Started() const { return m_process != nullptr; }
  // The exit code, or -1 when it did not end in time.
  int Wait() {
    if (!m_process || WaitForSingleObject(m_process, kWriterTimeoutMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(m_process, &code);
    return int(code);
  }

 private:
  HANDLE m_process = nullptr;
};

// Each (writer, thread) has rising sequences without repeats.
::testing::AssertionResult RisesWithoutRepeats(const std::vector<Seen>& records) {
  std::map<std::pair<uint32_t, uint32_t>, uint32_t> last;
  for (const Seen& seen : records) {
    uint32_t& previous = last[{seen.id, seen.thread}];
    if (seen.sequence <= previous) {
      return ::testing::AssertionFailure() << "writer " << seen.id << " thread " << seen.thread << ": #"
                                           << seen.sequence << " after #" << previous;
    }
    previous = seen.sequence;
  }
  return ::testing::AssertionSuccess();
}

// What each writer is missing, so that a ring overrun (records lost in the
// middle or at the start, counted by the capture or overwritten before its
// first read) is told apart from a channel that was never read at all.
std::string Shortfall(const std::vector<Seen>& records, uint32_t writers, uint32_t count, uint64_t lost) {
  std::map<uint32_t, std::pair<uint32_t, uint32_t>> seen;  // id -> (records, lowest #)
  for (const Seen& record : records) {
    auto [it, added] = seen.try_emplace(record.id, 0, record.sequence);
    it->second.first += 1;
    it->second.second = std::min(it->second.second, record.sequence);
  }
  std::string text;
  for (uint32_t w = 1; w <= writers; ++w) {
    const auto it = seen.find(w);
    if (it == seen.end()) {
      text += "writer " + std::to_string(w) + ": no record at all (a channel never read); ";
    } else if (it->second.first != count) {
      text += "writer " + std::to_string(w) + ": " + std::to_string(it->second.first) + " of " +
              std::to_string(count) + ", the first #" + std::to_string(it->second.second) + " (overrun); ";
    }
  }
  return text + "the capture counted " + std::to_string(lost) + " lost";
}

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadGroupsOnce();
    NoticeLog::Get().Clear();
    m_tag = UniqueTag(L"e2e");
    m_capture = NewCapture(m_tag, 64u << 20, 4u << 20);
    ASSERT_EQ(1, m_capture->Init(0));
    Start();
  }
  void TearDown() override {
    Stop();
    m_capture->Release();
  }
  void Start() {
    const size_t started = NoticeLog::Get().Count(kNotifyNotice, kNoticeCaptureStarted);
    m_thread = new CThreadCapture(nullptr, m_capture);
    ASSERT_EQ(1, m_thread->Start());
    ASSERT_TRUE(WaitFor([&] { return NoticeLog::Get().Count(kNotifyNotice, kNoticeCaptureStarted) > started; },
                        kArrivalTimeoutMs));
  }
  void Stop() {
    if (m_thread != nullptr) {
      EXPECT_EQ(1, m_thread->Stop(kThreadStopTimeoutMs)) << "the capture thread had to be terminated";
      delete m_thread;
      m_thread = nullptr;
    }
  }
  bool Running() const { return m_thread && WaitForSingleObject(m_thread->Handle(), 0) == WAIT_TIMEOUT; }
  std::wstring Args(uint32_t id, uint32_t kind, uint32_t count, const wchar_t* more = L"") {
    return L"--tag " + m_tag + L" --wait-event 10000 --id " + std::to_wstring(id) + L" --kind " +
           std::to_wstring(kind) + L" --count " + std::to_wstring(count) + L" " + more;
  }
  size_t Count() {
    const CStoreLock lock(m_capture, kLockShared);
    return lock.Held() ? m_capture->m_views[0]->RecordCount() : 0;
  }
  bool WaitForCount(size_t n) { return WaitFor([&] { return Count() >= n; }, kArrivalTimeoutMs); }

  std::wstring m_tag;
  CTraceCapture* m_capture = nullptr;
  CThreadCapture* m_thread = nullptr;
};

struct RunCase {
  const char* name;
  uint32_t writers;
  bool sameRing;  // all on channel 0, else one kind each
  int sorting;
  bool global = false;  // the Global\ set of channels
};

class EndToEndRuns : public EndToEndTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(EndToEndRuns, StoreHoldsEveryRecordOfEveryWriterOnce) {
  const RunCase& c = GetParam();
  m_capture->SetSorting(c.sorting);
  constexpr uint32_t kCount = 640;
  // Small rings lapped twice, but slowly: a ring holds about 2.5 s of its
  // writers' records, so a capture thread starved for a second or two on a
  // loaded machine (a stretched store tick, a descheduled process) still
  // reads every record before it is overwritten.
  const wchar_t* shape = c.sameRing ? L"--ring 196608 --rate 120 --batch 16" : L"--ring 49152 --rate 120 --batch 16";
  std::vector<Writer*> writers;
  for (uint32_t w = 1; w <= c.writers; ++w) {
    const uint32_t kind = c.sameRing ? 0 : (w - 1) % kChannelKinds;
    std::wstring more = shape;
    if (c.global || w > uint32_t(kChannelKinds)) {
      more += L" --global";
    }
    writers.push_back(new Writer(Args(w, kind, kCount, more.c_str())));
    ASSERT_TRUE(writers.back()->Started());
  }
  for (Writer* writer : writers) {
    EXPECT_EQ(0, writer->Wait());
    delete writer;
  }
  EXPECT_TRUE(WaitForCount(size_t(c.writers) * kCount));
  const auto records = ViewRecords(m_capture);
  EXPECT_EQ(size_t(c.writers) * kCount, records.size())
      << Shortfall(records, c.writers, kCount, m_capture->LostRecords());
  for (uint32_t w = 1; w <= c.writers; ++w) {
    EXPECT_TRUE(HoldsAllInOrder(records, w, 1, kCount));
  }
  for (const Seen& seen : records) {
    ASSERT_NE(GetCurrentProcessId(), seen.pid);
  }
  if (c.sorting) {
    for (size_t i = 1; i < records.size(); ++i) {
      const uint64_t a = uint64_t(records[i - 1].time) * 1000 + records[i - 1].milliseconds;
      const uint64_t b = uint64_t(records[i].time) * 1000 + records[i].milliseconds;
      ASSERT_LE(a, b) << "row " << i;
    }
  }
  EXPECT_EQ(0u, m_capture->LostRecords());
  EXPECT_TRUE(Running());
}

const RunCase kRuns[] = {
    {"one", 1, false, 0},
    {"four_kinds", 4, false, 0},
    {"four_one_ring", 4, true, 0},
    {"four_sorted", 4, false, 1},
    {"four_global", 4, false, 0, true},
    {"eight_all_channels", 8, false, 0},
};

INSTANTIATE_TEST_SUITE_P(Writers, EndToEndRuns, ::testing::ValuesIn(kRuns),
                         [](const ::testing::TestParamInfo<RunCase>& info) { return std::string(info.param.name); });

class EndToEndRestart : public EndToEndTest, public ::testing::WithParamInterface<int> {};

TEST_P(EndToEndRestart, RecordsSurviveStopAndStartWithoutRepeats) {
  m_capture->SetSorting(GetParam());
  constexpr uint32_t kCount = 2000;
  // The writer keeps its channel a while after its last record, as a traced
  // program does: one that exits while no capture holds its ring takes the
  // unread records with it, which a slow stop on a busy machine would cause.
  Writer writer(Args(1, 0, kCount, L"--ring 1048576 --rate 1000 --batch 16 --linger 3000"));
  ASSERT_TRUE(writer.Started());
  // Stopped while records are staged (sorting holds them back).
  ASSERT_TRUE(WaitFor([&] { return m_capture->StagedCount() > 0 && Count() > 0; }, kArrivalTimeoutMs));
  Stop();
  const size_t before = Count();
  EXPECT_EQ(0u, m_capture->StagedCount()) << "a run ends with everything it read stored";
  Start();
  EXPECT_EQ(0, writer.Wait());
  EXPECT_TRUE(WaitForCount(kCount));
  const auto records = ViewRecords(m_capture);
  EXPECT_GE(records.size(), before);
  EXPECT_EQ(size_t(kCount), records.size());
  EXPECT_TRUE(HoldsAllInOrder(records, 1, 1, kCount));
}

INSTANTIATE_TEST_SUITE_P(Sorting, EndToEndRestart, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(info.param ? "sorted" : "unsorted");
                         });

struct FaultCase {
  const char* fault;
  bool toldChannelFailed;
  int exitCode;
  bool allOfFaulty;  // the faulty writer's records arrive whole too
};

class EndToEndFaults : public EndToEndTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(EndToEndFaults, CaptureGoesOnAndOtherWritersAreComplete) {
  const FaultCase& c = GetParam();
  constexpr uint32_t kGood = 1000, kFaulty = 400;
  // About 2.5 s of records in its ring, lapped more than once: a starved
  // capture thread still keeps up with it.
  Writer good(Args(1, 0, kGood, L"--ring 98304 --rate 250 --batch 16"));
  // A ring that holds the whole run, so a writer catching up after its own
  // fault does not overrun it.
  std::wstring faultArgs = L"--ring 1048576 --rate 1000 --batch 16 --fault ";
  faultArgs += std::wstring(c.fault, c.fault + strlen(c.fault));
  Writer faulty(Args(2, 1, kFaulty, faultArgs.c_str()));
  ASSERT_TRUE(good.Started() && faulty.Started());
  EXPECT_EQ(c.exitCode, faulty.Wait());
  EXPECT_EQ(0, good.Wait());
  EXPECT_TRUE(WaitFor(
      [&] {
        const auto seen = ViewRecords(m_capture);
        return HoldsAllInOrder(seen, 1, 1, kGood) && (!c.allOfFaulty || HoldsAllInOrder(seen, 2, 1, kFaulty));
      },
      kArrivalTimeoutMs));
  const auto records = ViewRecords(m_capture);
  EXPECT_TRUE(HoldsAllInOrder(records, 1, 1, kGood));
  EXPECT_TRUE(RisesWithoutRepeats(records));
  if (c.allOfFaulty) {
    EXPECT_TRUE(HoldsAllInOrder(records, 2, 1, kFaulty));
  }
  if (c.toldChannelFailed) {
    EXPECT_TRUE(WaitFor([] { return NoticeLog::Get().Count(kNotifyNotice, kNoticeChannelFailed) >= 1; },
                        kArrivalTimeoutMs));
  }
  EXPECT_TRUE(Running());
  EXPECT_EQ(1, m_capture->RunFlag());
}

const FaultCase kFaults[] = {
    {"die-holding-mutex", false, 3, false},
    {"bad-magic", true, 0, false},
    {"bad-version", true, 0, false},
    {"bad-end", true, 0, false},
    {"bad-count", true, 0, false},
    {"zero-length", false, 0, false},
    {"new-generation", false, 0, false},
    {"hold-mutex", false, 0, true},
    {"signal-no-ring", true, 0, false},
};

INSTANTIATE_TEST_SUITE_P(Faults, EndToEndFaults, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<FaultCase>& info) {
                           std::string name = info.param.fault;
                           for (char& ch : name) {
                             if (ch == '-') ch = '_';
                           }
                           return name;
                         });

}  // namespace
