// A filter job over a large live capture while four traced programs keep
// writing: how long the job takes, how long the capture is held back from
// storing, and whether it loses anything meanwhile.
#include <windows.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchRecords.h"
#include "capture/TraceCapture.h"
#include "core/AppConfig.h"
#include "core/ModuleGroups.h"
#include "core/StoreLock.h"
#include "core/TraceFilter.h"
#include "core/TraceView.h"
#include "jobs/JobMgr.h"

namespace {

constexpr size_t kCaptureRecords = 5000000;
constexpr uint32_t kWriters = 4;
constexpr uint32_t kWriterRate = 5000;  // records per second per writer
constexpr uint64_t kRingReserve = 0xC0000000ull;
constexpr uint32_t kRingCommitStepBytes = 64u << 20;
constexpr DWORD kJobLimitMs = 600000;
constexpr DWORD kPollMs = 5;
constexpr DWORD kDrainMs = 3000;
constexpr DWORD kWarmUpMs = 2000;

HANDLE g_jobEnded = nullptr;
LARGE_INTEGER g_jobEndedAt;

BOOL WINAPI TakeNotice(HWND, UINT, WPARAM code, LPARAM value) {
  if (code == kNotifyJobFinished) {
    QueryPerformanceCounter(&g_jobEndedAt);
    delete reinterpret_cast<JobItem*>(value);
    SetEvent(g_jobEnded);
  }
  return TRUE;
}

BOOL WINAPI IgnoreNotice(HWND, UINT, WPARAM, LPARAM) { return TRUE; }

std::wstring WriterPath() {
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, length);
  path.resize(path.find_last_of(L"\\/") + 1);
  return path + L"..\\tools\\trace-writer\\trace-writer.exe";
}

struct Outcome {
  bool ok = false;
  std::string error;
  double jobMs = 0;
  double longestStallMs = 0;
  double longestHoldMs = 0;
  uint64_t lost = 0;        // while the job ran and the capture caught up
  uint64_t lostBefore = 0;  // while the writers warmed up
  uint32_t stagedPeak = 0;
};

class Scenario {
 public:
  Outcome Run();

 private:
  bool Prefill(CTraceCapture* capture);
  bool StartWriters(const std::wstring& tag);
  void StopWriters();

  std::vector<PROCESS_INFORMATION> m_writers;
};

bool Scenario::Prefill(CTraceCapture* capture) {
  const CStoreLock lock(capture, kLockExclusive);
  if (!lock.Held()) return false;
  CTraceView* view = capture->m_views[0];
  bool ok = true;
  for (size_t i = 0; i < kCaptureRecords && ok; ++i) {
    const std::wstring message = bench::MakeMessage(i);
    RecordSpec spec = bench::MakeSpec(i, message);
    spec.groupFlag = 1u << (i % 4);
    TraceRecord* record = AddRecord(capture, spec);
    ok = record != nullptr;
    if (ok) {
      capture->AddToProcessStats(record);
      view->AddRecord(record);
    }
  }
  return ok;
}

bool Scenario::StartWriters(const std::wstring& tag) {
  const std::wstring exe = WriterPath();
  for (uint32_t kind = 0; kind < kWriters; ++kind) {
    std::wstring command = L"\"" + exe + L"\" --kind " + std::to_wstring(kind) + L" --count 100000000 --rate " +
                           std::to_wstring(kWriterRate) + L" --batch 64 --wait-event 10000 --id " +
                           std::to_wstring(kind + 1) + L" --tag " + tag;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
      return false;
    }
    m_writers.push_back(process);
  }
  return true;
}

void Scenario::StopWriters() {
  for (PROCESS_INFORMATION& process : m_writers) {
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  m_writers.clear();
}

// Follows the staging buffer: a store empties it, so the longest time it
// kept growing is the longest the capture was held back from storing.
class StallTracker {
 public:
  explicit StallTracker(CTraceCapture* capture) : m_capture(capture), m_previous(capture->StagedCount()) {
    QueryPerformanceFrequency(&m_frequency);
    QueryPerformanceCounter(&m_lastStore);
  }
  void Sample() {
    const uint32_t staged = m_capture->StagedCount();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    if (staged < m_previous) m_lastStore = now;
    const double stall = double(now.QuadPart - m_lastStore.QuadPart) * 1000.0 / double(m_frequency.QuadPart);
    if (stall > m_longestMs) m_longestMs = stall;
    if (staged > m_peak) m_peak = staged;
    m_previous = staged;
  }
  double LongestMs() const { return m_longestMs; }
  uint32_t Peak() const { return m_peak; }

 private:
  CTraceCapture* m_capture;
  uint32_t m_previous;
  LARGE_INTEGER m_frequency;
  LARGE_INTEGER m_lastStore;
  double m_longestMs = 0;
  uint32_t m_peak = 0;
};

double MillisecondsBetween(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return double(to.QuadPart - from.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

// Posts the filter job on the capture's first view and follows the capture
// until the job has ended and the capture has caught up.
void MeasureJob(CJobMgr& manager, CTraceCapture* capture, HANDLE never, Outcome* outcome) {
  CTraceFilter filter;
  filter.AddCondition(kConditionMessage, kOperatorInclude, L"timeout", -1);
  capture->TakeLongestHoldMicros();
  outcome->lostBefore = capture->LostRecords();
  StallTracker tracker(capture);
  LARGE_INTEGER posted;
  QueryPerformanceCounter(&posted);
  if (!manager.PostFilter(capture->m_views[0], 0, filter, 0)) {
    outcome->error = "post failed";
    return;
  }
  const DWORD start = GetTickCount();
  while (WaitForSingleObject(g_jobEnded, kPollMs) == WAIT_TIMEOUT && GetTickCount() - start < kJobLimitMs) {
    tracker.Sample();
  }
  if (WaitForSingleObject(g_jobEnded, 0) != WAIT_OBJECT_0) {
    outcome->error = "the job did not end";
    return;
  }
  outcome->jobMs = MillisecondsBetween(posted, g_jobEndedAt);
  const DWORD drain = GetTickCount();
  while (GetTickCount() - drain < kDrainMs) {
    tracker.Sample();
    WaitForSingleObject(never, kPollMs);
  }
  outcome->longestStallMs = tracker.LongestMs();
  outcome->stagedPeak = tracker.Peak();
  outcome->longestHoldMs = double(capture->TakeLongestHoldMicros()) / 1000.0;
  outcome->lost = capture->LostRecords() - outcome->lostBefore;
  outcome->ok = true;
}

Outcome Scenario::Run() {
  Outcome outcome;
  g_moduleGroups.LoadFromResource();
  // Inputs a benchmark must not own: the debugger channel would make every
  // other process of the session wait on it.
  g_appConfig.m_dbWinEnable = 0;
  g_appConfig.m_hvnEnable = 0;
  wchar_t tag[16];
  swprintf(tag, 16, L"jb%lu", GetCurrentProcessId());
  const HWND owner = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x4D0));
  auto* capture = new CTraceCapture(owner);
  capture->SetPostFunction(&IgnoreNotice);
  capture->SetRingLimits(kRingReserve, kRingCommitStepBytes, 0);
  capture->SetChannelTag(tag);
  capture->SetIgnoreMask(0);
  capture->SetSorting(0);
  const HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_jobEnded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  CJobMgr manager;
  manager.SetPostFunctions(&TakeNotice, Sleep);
  if (!capture->Init(0) || !Prefill(capture)) {
    outcome.error = "prefill failed";
  } else if (!manager.Start(capture, owner, 1)) {
    outcome.error = "manager start failed";
  } else if (!StartWriters(tag)) {
    outcome.error = "writers did not start";
  } else {
    // The writers run a while first, so the job meets a busy capture.
    WaitForSingleObject(never, kWarmUpMs);
    MeasureJob(manager, capture, never, &outcome);
  }
  StopWriters();
  manager.Stop();
  capture->CloseMapFiles();
  capture->Release();
  CloseHandle(g_jobEnded);
  CloseHandle(never);
  return outcome;
}

Outcome RunAndPrint() {
  Outcome outcome = Scenario().Run();
  std::fprintf(stderr, "filter job %.1f ms, longest stall %.1f ms, longest hold %.1f ms, staged peak %u, lost %llu (before the job %llu)%s%s\n",
               outcome.jobMs, outcome.longestStallMs, outcome.longestHoldMs, outcome.stagedPeak,
               static_cast<unsigned long long>(outcome.lost),
               static_cast<unsigned long long>(outcome.lostBefore), outcome.error.empty() ? "" : ", ", outcome.error.c_str());
  return outcome;
}

const Outcome& Result() {
  static Outcome outcome = RunAndPrint();
  return outcome;
}

void Report(benchmark::State& state, double ms) {
  const Outcome& outcome = Result();
  for (auto _ : state) state.SetIterationTime(ms / 1000.0);
  if (!outcome.ok) state.SkipWithError(outcome.error.c_str());
  if (outcome.lost != 0) state.SkipWithError("the capture lost records while the job ran");
  state.counters["lost"] = double(outcome.lost);
  state.counters["staged_peak"] = double(outcome.stagedPeak);
}

void BM_FilterJobDuringCapture_JobTime(benchmark::State& state) { Report(state, Result().jobMs); }
void BM_FilterJobDuringCapture_LongestStall(benchmark::State& state) { Report(state, Result().longestStallMs); }
void BM_FilterJobDuringCapture_LongestHold(benchmark::State& state) { Report(state, Result().longestHoldMs); }

BENCHMARK(BM_FilterJobDuringCapture_JobTime)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterJobDuringCapture_LongestStall)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterJobDuringCapture_LongestHold)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
