// The one-message debugger channel against the ring channel, both fed by
// trace-writer processes in the same run: messages per second stored with
// one and four writers. And the backup writer's rate in MB/s.
#include <benchmark/benchmark.h>

#include <windows.h>

#include <ctime>
#include <string>
#include <vector>

#include "bench/BenchCapture.h"
#include "capture/TraceCapture.h"
#include "core/AppConfig.h"
#include "core/ModuleGroups.h"
#include "core/RecordBuilder.h"
#include "jobs/Threads.h"
#include "tests/capture/WriterProcess.h"

namespace {

constexpr char kGroupsText[] = "[CORE]\nM=kelcore.dll;kelhost.exe\n";
constexpr DWORD kWriterTimeoutMs = 300000;
constexpr DWORD kPollMs = 20;
constexpr DWORD kSettleMs = 4000;


CTraceCapture* NewBenchCapture(const std::wstring& tag) {
  g_moduleGroups.LoadFromText(kGroupsText, sizeof(kGroupsText) - 1);
  return bench::NewCapture(tag, 0);
}

// Starts the writers and waits until all their messages are stored (or
// nothing more comes); the seconds from the start to the last one stored.
double RunWriters(CTraceCapture* capture, uint32_t writers, const std::wstring& args, bool ring, uint64_t expected,
                  uint64_t* stored) {
  const uint64_t before = bench::StoredTotal(capture);
  LARGE_INTEGER frequency, start, last;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  last = start;
  std::vector<HANDLE> processes;
  for (uint32_t w = 0; w < writers; ++w) {
    // Ring writers get a channel each, as traced programs of different kinds.
    const std::wstring kind = ring ? L" --kind " + std::to_wstring(w % kChannelKinds) : L"";
    processes.push_back(capture_test::StartWriterProcess(args + kind + L" --id " + std::to_wstring(w + 1)));
  }
  uint64_t seen = 0;
  DWORD quietSince = GetTickCount();
  const DWORD began = GetTickCount();
  while (seen < expected && GetTickCount() - began < kWriterTimeoutMs && GetTickCount() - quietSince < kSettleMs) {
    WaitForMultipleObjects(DWORD(processes.size()), processes.data(), TRUE, kPollMs);
    const uint64_t now = bench::StoredTotal(capture) - before;
    if (now != seen) {
      seen = now;
      QueryPerformanceCounter(&last);
      quietSince = GetTickCount();
    }
  }
  bench::FinishWriters(processes, kWriterTimeoutMs);
  *stored = seen;
  return double(last.QuadPart - start.QuadPart) / double(frequency.QuadPart);
}

// args: input (0 ring channel, 1 debugger channel), writers, messages each.
// The debugger channel is the session's real one.
void InputMessages(benchmark::State& state) {
  const bool dbwin = state.range(0) == 1;
  const uint32_t writers = uint32_t(state.range(1));
  const uint32_t count = uint32_t(state.range(2));
  g_appConfig.m_dbWinEnable = dbwin ? 1 : 0;
  g_appConfig.m_hvnEnable = 0;
  const std::wstring tag = L"inputs" + std::to_wstring(GetCurrentProcessId());
  CTraceCapture* capture = NewBenchCapture(dbwin ? L"" : tag);
  CThreadCapture thread(nullptr, capture);
  thread.Start();
  const std::wstring args = dbwin ? L"--input dbwin --count " + std::to_wstring(count)
                                  : L"--tag " + tag + L" --wait-event 10000 --batch 64 --ring 67108864 --linger 3000 --count " +
                                        std::to_wstring(count);
  uint64_t stored = 0;
  RunWriters(capture, 1, args, !dbwin, count, &stored);  // warm: processes, channel, buffers
  double seconds = 0;
  for (auto _ : state) {
    seconds = RunWriters(capture, writers, args, !dbwin, uint64_t(writers) * count, &stored);
    state.SetIterationTime(seconds);
  }
  state.counters["messages"] = double(stored) / seconds;
  state.counters["lost"] = double(uint64_t(writers) * count - stored);
  thread.Stop(kThreadStopTimeoutMs);
  capture->Release();
  g_appConfig.m_dbWinEnable = 0;
}
BENCHMARK(InputMessages)
    ->ArgNames({"dbwin", "writers", "count"})
    ->Args({0, 1, 20000})
    ->Args({0, 4, 20000})
    ->Args({1, 1, 20000})
    ->Args({1, 4, 5000})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// FlushBackup over a ring of stored records into 20 MB files.
void BackupWrite(benchmark::State& state) {
  constexpr uint32_t kRecords = 100000;
  constexpr uint32_t kForeignPid = 0x7FFF0001;
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"ktbackupbench" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(folder.c_str(), nullptr);
  g_appConfig.m_logEnable = 1;
  g_appConfig.m_logLimit = 1;
  g_appConfig.m_logSize = 20;
  g_appConfig.m_logFolder = CString(folder.c_str());
  CTraceCapture* capture = NewBenchCapture(L"backupbench");
  const int group = g_moduleGroups.FindEnabled(L"kelcore.dll", 0);
  uint64_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    {
      const CStoreLock lock(capture, kLockExclusive);
      capture->Clear();
      for (uint32_t i = 0; i < kRecords; ++i) {
        std::wstring message = L"backup record " + std::to_wstring(i) + L" with a text of ordinary length for a trace";
        CTraceMgr::AddTraceItem(capture, group, kLevelInfo, L"kelcore.dll", L"hint", message.c_str(), kForeignPid, 1,
                                uint32_t(time(nullptr)), 0, nullptr, nullptr, kModeBuild, 2048);
      }
    }
    state.ResumeTiming();
    capture->FlushBackup();
    state.PauseTiming();
    // The files written by this round.
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folder + L"\\*.ktr").c_str(), &found);
    g_appConfig.m_logEnable = 0;
    capture->FlushBackup();  // closes the file; the next round is a new series
    g_appConfig.m_logEnable = 1;
    if (find != INVALID_HANDLE_VALUE) {
      do {
        bytes += (uint64_t(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        DeleteFileW((folder + L"\\" + found.cFileName).c_str());
      } while (FindNextFileW(find, &found));
      FindClose(find);
    }
    state.ResumeTiming();
  }
  state.SetBytesProcessed(int64_t(bytes));
  g_appConfig.m_logEnable = 0;
  capture->Release();
  RemoveDirectoryW(folder.c_str());
}
BENCHMARK(BackupWrite)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
