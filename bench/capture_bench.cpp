// The live capture against trace-writer processes: records per second that
// reach the store with 1, 4 and 8 writers (one channel each), sorting off and
// on, enciphered records (cipher kind 4); beside it the longest exclusive
// hold of the store per tick and the records lost to overrun rings.
#include <benchmark/benchmark.h>

#include <windows.h>

#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <algorithm>
#include <string>
#include <vector>

#include "bench/BenchCapture.h"
#include "capture/TraceCapture.h"
#include "core/AppConfig.h"
#include "core/ModuleGroups.h"
#include "core/RecordBuilder.h"
#include "core/TraceView.h"
#include "jobs/Threads.h"
#include "tests/capture/WriterProcess.h"
#include "tools/trace-writer/WriterChannel.h"
#include "tools/trace-writer/WriterRecord.h"
#include "tools/trace-writer/WriterRing.h"

namespace {

constexpr char kGroupsText[] = "[CORE]\nM=kelcore.dll;kelhost.exe\n[NET]\nM=kelnet.dll\n";
constexpr uint32_t kWarmupPerWriter = 250000;      // eight of these surely lap the ring
constexpr uint32_t kOpenPerWriter = 16;            // enough to open each channel
// Room for every record a writer of the writers-alone runs appends.
constexpr uint32_t kAloneRingBytes = 128u << 20;
constexpr uint32_t kWriterRingBytes = 64u << 20;
constexpr DWORD kWriterTimeoutMs = 120000;
// A writer's ring goes with its process unless the capture opened it: the
// writers stay a while after their last record, as traced programs do.
constexpr uint32_t kWriterLingerMs = 3000;
constexpr DWORD kSettleMs = 4000;  // no new record for this long: the run is over
constexpr DWORD kPollMs = 20;


double ThreadCpuSeconds(HANDLE thread) {
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(thread, &created, &exited, &kernel, &user)) return 0;
  auto value = [](const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return double(value(kernel) + value(user)) / 1e7;
}

struct RunFigures {
  double seconds = 0;
  uint64_t stored = 0;
  uint64_t expected = 0;
  // The steady rate at which the capture takes records in (stored, or
  // staged for the store), between the polls that first saw a tenth and
  // nine tenths of the run's records taken: without the start of the
  // writers, and without the hold by which sorting stores records up to two
  // seconds late on purpose (over a long capture the store's rate equals
  // this one; in a run of one second the hold would look like slowness).
  double flowSeconds = 0;
  uint64_t flowRecords = 0;
  uint32_t failedWriters = 0;  // did not start or ended with an error
};

// Starts writer processes on channels 0.. of `tag`; with `startEvent` they
// wait for that event before they write.
std::vector<HANDLE> StartWriters(const std::wstring& tag, uint32_t writers, uint32_t perWriter, uint32_t rate,
                                 uint32_t firstId, const std::wstring& startEvent) {
  std::vector<HANDLE> processes;
  for (uint32_t w = 0; w < writers; ++w) {
    std::wstring args = L"--tag " + tag + L" --wait-event 10000 --kind " + std::to_wstring(w % kChannelKinds) +
                        (w >= uint32_t(kChannelKinds) ? L" --global" : L"") + L" --id " +
                        std::to_wstring(firstId + w) + L" --count " + std::to_wstring(perWriter) + L" --rate " +
                        std::to_wstring(rate) + L" --batch 256 --cipher 4 --linger " + std::to_wstring(kWriterLingerMs) + L" --ring " +
                        std::to_wstring(kWriterRingBytes);
    if (!startEvent.empty()) {
      args += L" --start-event " + startEvent;
    }
    processes.push_back(capture_test::StartWriterProcess(args));
  }
  return processes;
}

// Waits for the running writers, and then until every record is stored or
// nothing more came for a while (the rest was lost).
RunFigures WaitForRecords(CTraceCapture* capture, std::vector<HANDLE>& processes, uint64_t expected) {
  RunFigures figures;
  const uint64_t before = bench::StoredTotal(capture);
  LARGE_INTEGER frequency, start, last, flowFrom = {}, flowTo = {};
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  figures.expected = expected;
  // The rate counts up to the last record stored, not the writers' lingering.
  uint64_t seen = 0, seenFrom = 0, seenTo = 0;
  last = start;
  DWORD quietSince = GetTickCount();
  bool exited = false;
  const DWORD began = GetTickCount();
  while (seen < figures.expected && GetTickCount() - began < kWriterTimeoutMs) {
    if (!exited) {
      exited = WaitForMultipleObjects(DWORD(processes.size()), processes.data(), TRUE, kPollMs) == WAIT_OBJECT_0;
      if (exited) {
        quietSince = GetTickCount();
      }
    } else {
      Sleep(kPollMs);
      if (GetTickCount() - quietSince >= kSettleMs) {
        break;  // nothing more comes: the rest was lost
      }
    }
    const uint64_t now = bench::StoredTotal(capture) - before;
    // Read after the store: a record moving from staging to the store in
    // between is counted in neither, never twice.
    const uint64_t taken = now + capture->StagedCount();
    LARGE_INTEGER polled;
    QueryPerformanceCounter(&polled);
    if (seenFrom == 0 && taken * 10 >= expected) {
      seenFrom = taken;
      flowFrom = polled;
    } else if (seenFrom != 0 && seenTo == 0 && taken * 10 >= expected * 9) {
      seenTo = taken;
      flowTo = polled;
    }
    if (now != seen) {
      seen = now;
      last = polled;
      quietSince = GetTickCount();
    }
  }
  figures.failedWriters = bench::FinishWriters(processes, kWriterTimeoutMs);
  figures.seconds = double(last.QuadPart - start.QuadPart) / double(frequency.QuadPart);
  figures.stored = seen;
  if (seenTo == 0) {  // records were lost: up to the last one stored
    seenTo = seen;
    flowTo = last;
  }
  if (seenTo > seenFrom && flowTo.QuadPart > flowFrom.QuadPart) {
    figures.flowSeconds = double(flowTo.QuadPart - flowFrom.QuadPart) / double(frequency.QuadPart);
    figures.flowRecords = seenTo - seenFrom;
  }
  return figures;
}

RunFigures RunWriters(CTraceCapture* capture, const std::wstring& tag, uint32_t writers, uint32_t perWriter,
                      uint32_t rate, uint32_t firstId) {
  std::vector<HANDLE> processes = StartWriters(tag, writers, perWriter, rate, firstId, L"");
  return WaitForRecords(capture, processes, uint64_t(writers) * perWriter);
}

// args: writers, sorting, records per writer, records per second per writer
// (0: as fast as it can). With `lapped`, a first untimed run laps the
// store's ring once, so the timed run sees the steady state of a capture
// that has run a while: every page warm, the oldest records dropped as new
// ones come. Without it the timed run is the capture's first lap: a fresh
// ring whose every page is touched for the first time.
void RunCaptureWriters(benchmark::State& state, bool lapped) {
  const uint32_t writers = uint32_t(state.range(0));
  const int sorting = int(state.range(1));
  const uint32_t perWriter = uint32_t(state.range(2));
  const uint32_t rate = uint32_t(state.range(3));
  g_moduleGroups.LoadFromText(kGroupsText, sizeof(kGroupsText) - 1);
  g_appConfig.m_dbWinEnable = 0;
  g_appConfig.m_hvnEnable = 0;
  const std::wstring tag = L"bench" + std::to_wstring(GetCurrentProcessId());
  CTraceCapture* capture = bench::NewCapture(tag, sorting);
  CThreadCapture thread(nullptr, capture);
  thread.Start();
  // The timed writers are started first and wait for the start event:
  // starting a process forks this one under Wine, and the first write to
  // each page of the store after a fork faults. A capture does not start
  // processes; the warm-up below takes those faults out of the timed run.
  const std::wstring startName = L"start_" + tag;
  HANDLE start = CreateEventW(nullptr, TRUE, FALSE, startName.c_str());
  std::vector<HANDLE> timed = StartWriters(tag, writers, perWriter, rate, 1, startName);
  // Every channel once, so the capture holds every ring open from then on.
  RunWriters(capture, tag, 2 * kChannelKinds, lapped ? kWarmupPerWriter : kOpenPerWriter, 0, 100);
  RunFigures figures;
  uint64_t holdUs = 0;
  const uint64_t overrunBefore = capture->LostRecords();
  double cpuSeconds = 0;
  for (auto _ : state) {
    capture->TakeLongestHoldMicros();
    const double cpuBefore = ThreadCpuSeconds(thread.Handle());
    if (timed.empty()) {  // a later iteration starts its own
      timed = StartWriters(tag, writers, perWriter, rate, 1, L"");
    }
    SetEvent(start);
    figures = WaitForRecords(capture, timed, uint64_t(writers) * perWriter);
    cpuSeconds = ThreadCpuSeconds(thread.Handle()) - cpuBefore;
    holdUs = capture->TakeLongestHoldMicros();
    state.SetIterationTime(figures.seconds);
  }
  state.counters["records"] = benchmark::Counter(double(figures.stored) / figures.seconds);
  if (figures.flowSeconds > 0) {
    state.counters["sustained"] = benchmark::Counter(double(figures.flowRecords) / figures.flowSeconds);
  }
  state.counters["lost"] = double(figures.expected - figures.stored);
  state.counters["writers_failed"] = double(figures.failedWriters);
  state.counters["overrun"] = double(capture->LostRecords() - overrunBefore);
  state.counters["hold_ms"] = double(holdUs) / 1000.0;
  // How much of the run the capture thread had a processor: on a loaded
  // machine the rate says more about the neighbours than about the capture.
  state.counters["cpu_pct"] = 100.0 * cpuSeconds / figures.seconds;
  // The capture thread's own processor time per record stored: what the
  // capture costs, whatever its neighbours took (one over it is the rate
  // the thread could reach with a processor to itself).
  if (figures.stored != 0) {
    state.counters["cpu_us"] = 1e6 * cpuSeconds / double(figures.stored);
  }
  thread.Stop(kThreadStopTimeoutMs);
  capture->Release();
  CloseHandle(start);
}

void CaptureWriters(benchmark::State& state) { RunCaptureWriters(state, true); }
void CaptureWritersFirstLap(benchmark::State& state) { RunCaptureWriters(state, false); }

// The rate the writers alone reach: trace-writer processes appending to
// rings nobody reads, each big enough for all its records, timed through
// their ring headers from the first record to the last (process start-up
// is not counted). Beside a capture figure it tells which side limits.
// With `warm` the rings of an untimed first run are held open, so the timed
// writers find their pages touched, as they do under a running capture;
// `batch` is the records per mutex hold (the capture runs use 256).
struct WatchedRing {
  HANDLE mapping = nullptr;
  const volatile TraceBufferHeader* header = nullptr;
  uint32_t base = 0;  // the last number before this run
};

void WatchRing(WatchedRing* ring, const std::wstring& name) {
  if (ring->header != nullptr) {
    return;
  }
  ring->mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str());
  if (ring->mapping == nullptr) {
    return;
  }
  ring->header = static_cast<const volatile TraceBufferHeader*>(MapViewOfFile(ring->mapping, FILE_MAP_READ, 0, 0, 0));
  if (ring->header == nullptr) {
    CloseHandle(ring->mapping);
    ring->mapping = nullptr;
  }
}

double TimeWritersAlone(const std::wstring& tag, uint32_t writers, uint32_t perWriter, uint32_t batch,
                        std::vector<WatchedRing>& rings) {
  std::vector<HANDLE> processes;
  std::vector<std::wstring> names;
  for (uint32_t w = 0; w < writers; ++w) {
    const bool global = w >= uint32_t(kChannelKinds);
    names.push_back(MakeChannelNames(w % kChannelKinds, global, tag).mapping);
    rings[w].base = rings[w].header != nullptr ? rings[w].header->lastSequence : 0;
    std::wstring args = L"--tag " + tag + L" --kind " + std::to_wstring(w % kChannelKinds) +
                        (global ? L" --global" : L"") + L" --id " + std::to_wstring(w + 1) + L" --count " +
                        std::to_wstring(perWriter) + L" --batch " + std::to_wstring(batch) + L" --cipher 4 --ring " +
                        std::to_wstring(kAloneRingBytes);
    processes.push_back(capture_test::StartWriterProcess(args));
  }
  LARGE_INTEGER frequency, now, first = {}, last = {};
  QueryPerformanceFrequency(&frequency);
  const DWORD began = GetTickCount();
  bool done = false;
  while (!done && GetTickCount() - began < kWriterTimeoutMs) {
    done = true;
    bool any = false;
    for (uint32_t w = 0; w < writers; ++w) {
      WatchRing(&rings[w], names[w]);
      const uint32_t written = rings[w].header != nullptr ? rings[w].header->lastSequence - rings[w].base : 0;
      any = any || written != 0;
      done = done && written >= perWriter;
    }
    QueryPerformanceCounter(&now);
    if (any && first.QuadPart == 0) {
      first = now;
    }
    last = now;
    if (!done) {
      Sleep(1);
    }
  }
  bench::FinishWriters(processes, kWriterTimeoutMs);
  return done ? double(last.QuadPart - first.QuadPart) / double(frequency.QuadPart) : 0;
}

void WritersAlone(benchmark::State& state) {
  const uint32_t writers = uint32_t(state.range(0));
  const uint32_t perWriter = uint32_t(state.range(1));
  const bool warm = state.range(2) != 0;
  const uint32_t batch = uint32_t(state.range(3));
  const std::wstring tag = L"alone" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(state.range(2)) +
                          L"_" + std::to_wstring(batch);
  std::vector<WatchedRing> rings(writers);
  if (warm) {
    TimeWritersAlone(tag, writers, perWriter, batch, rings);
  }
  double seconds = 0;
  for (auto _ : state) {
    seconds = TimeWritersAlone(tag, writers, perWriter, batch, rings);
    state.SetIterationTime(seconds > 0 ? seconds : 1);
  }
  state.counters["records"] = benchmark::Counter(seconds > 0 ? double(writers) * perWriter / seconds : 0);
  for (WatchedRing& ring : rings) {
    if (ring.header != nullptr) UnmapViewOfFile(const_cast<TraceBufferHeader*>(ring.header));
    if (ring.mapping != nullptr) CloseHandle(ring.mapping);
  }
}

// The capture thread's own work per record, without processes: one ring of
// enciphered records copied, deciphered, decoded and staged, then stored.
void RunCaptureImport(benchmark::State& state, int untimedRounds) {
  constexpr uint32_t kRecords = 100000;
  constexpr uint32_t kRingBytes = 64u << 20;
  constexpr uint32_t kForeignPid = 0x7FFF0001;
  g_moduleGroups.LoadFromText(kGroupsText, sizeof(kGroupsText) - 1);
  g_appConfig.m_dbWinEnable = 0;
  g_appConfig.m_hvnEnable = 0;
  const std::wstring tag = L"import" + std::to_wstring(GetCurrentProcessId());
  const ChannelNameSet& names = kChannelTable[0];
  HANDLE mutex = CreateMutexW(nullptr, FALSE, (std::wstring(names.mutex) + L"_" + tag).c_str());
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kRingBytes,
                                      (std::wstring(names.mapping) + L"_" + tag).c_str());
  auto* ring = static_cast<TraceBufferHeader*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  InitWriterRing(ring, kRingBytes, 1);
  static wchar_t message[kWriterMessageUnits];
  static uint8_t record[kMaxNarrowRecord];
  CTraceCapture* capture = bench::NewCapture(tag, 0);
  capture->OpenMapFiles(1);
  uint32_t sequence = 0;
  uint64_t records = 0;
  uint64_t holdUs = 0;
  auto fillRing = [&]() {
    for (uint32_t i = 0; i < kRecords; ++i) {
      MakeWriterMessage(1, 1, ++sequence, message, kWriterMessageUnits);
      WriterRecordFields fields;
      fields.level = 2;
      fields.pid = kForeignPid;
      fields.tid = 1;
      fields.time = uint32_t(time(nullptr));
      fields.module = L"trace-writer.exe";
      fields.message = message;
      fields.cipher = uint8_t(state.range(0));
      AppendRingRecord(ring, record, uint32_t(BuildWriterRecord(fields, record, sizeof(record))), nullptr);
    }
  };
  for (int round = 0; round < untimedRounds; ++round) {
    fillRing();
    capture->ImportKelMapFile(&capture->LocalChannel(0), 0);
    capture->DrainQueueToCaches();
  }
  capture->TakeLongestHoldMicros();
  for (auto _ : state) {
    state.PauseTiming();
    fillRing();
    state.ResumeTiming();
    capture->ImportKelMapFile(&capture->LocalChannel(0), 0);
    capture->DrainQueueToCaches();
    records += kRecords;
    holdUs = std::max(holdUs, capture->TakeLongestHoldMicros());
  }
  state.counters["records"] = benchmark::Counter(double(records), benchmark::Counter::kIsRate);
  state.counters["hold_ms"] = double(holdUs) / 1000.0;
  capture->CloseMapFiles();
  capture->Release();
  UnmapViewOfFile(ring);
  CloseHandle(mapping);
  CloseHandle(mutex);
}

void CaptureImport(benchmark::State& state) { RunCaptureImport(state, 0); }
constexpr int kLapRounds = 12;
// Twelve untimed rounds lap the store's ring first: the timed ones show the
// steady state of a capture that has run a while.
void CaptureImportLapped(benchmark::State& state) { RunCaptureImport(state, kLapRounds); }
// Twelve rounds lap the store's ring: the later ones show the steady state.
BENCHMARK(CaptureImport)->ArgName("cipher")->Arg(0)->Arg(4)->Iterations(12)->Unit(benchmark::kMillisecond);
BENCHMARK(CaptureImportLapped)->ArgName("cipher")->Arg(4)->Iterations(12)->Unit(benchmark::kMillisecond);

// Four million records per run (two for one writer), so a run lasts a few
// seconds and one stall of the machine does not decide the rate; the
// writers lap their rings, so a capture that falls behind loses records.
// The rated runs offer a fixed load to find where nothing is lost; the
// last four offer a million records per second and a quarter more.
BENCHMARK(CaptureWriters)
    ->ArgNames({"writers", "sort", "count", "rate"})
    ->Args({1, 0, 2000000, 0})
    ->Args({4, 0, 1000000, 0})
    ->Args({8, 0, 500000, 0})
    ->Args({1, 1, 2000000, 0})
    ->Args({4, 1, 1000000, 0})
    ->Args({8, 1, 500000, 0})
    ->Args({4, 0, 250000, 50000})
    ->Args({4, 0, 250000, 100000})
    ->Args({4, 1, 250000, 50000})
    ->Args({4, 0, 1000000, 250000})
    ->Args({4, 1, 1000000, 250000})
    ->Args({4, 0, 1000000, 312500})
    ->Args({4, 1, 1000000, 312500})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// The first lap of a fresh store, beside the steady state above.
BENCHMARK(CaptureWritersFirstLap)
    ->ArgNames({"writers", "sort", "count", "rate"})
    ->Args({4, 0, 250000, 0})
    ->Args({4, 1, 250000, 0})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

BENCHMARK(WritersAlone)
    ->ArgNames({"writers", "count", "warm", "batch"})
    ->Args({1, 500000, 1, 256})
    ->Args({4, 250000, 0, 256})
    ->Args({4, 250000, 1, 256})
    ->Args({8, 125000, 1, 256})
    ->Args({4, 250000, 1, 4096})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
