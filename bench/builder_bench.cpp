// The record builder: every captured or loaded record passes it once, with
// the block-word test on its message.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/ModuleGroups.h"
#include "core/RecordBuilder.h"
#include "core/TraceStore.h"

namespace {

constexpr char kGroupsText[] = "[CORE]\nM=kelcore.dll;kelhost.exe\n[NET]\nM=kelnet.dll\n";
constexpr int64_t kRecordsPerRun = 1000000;
constexpr uint32_t kRecordsPerSecond = 1000;  // records sharing one time stamp
constexpr uint32_t kStagingBytes = 64u << 20;

// A staging buffer that starts over when it is full, so a run of a million
// records needs no more memory than one batch.
class BenchStaging : public CTraceBase {
 public:
  BenchStaging() : m_bytes(kStagingBytes / sizeof(uint64_t)) {
    m_buffer = reinterpret_cast<TraceBufferHeader*>(m_bytes.data());
    InitBufferHeader(m_buffer, kStagingBytes);
  }
  int GrowBuffer(uint32_t) override {
    ResetBufferHeader(m_buffer);
    return 1;
  }

 private:
  std::vector<uint64_t> m_bytes;
};

struct Sample {
  const wchar_t* module;
  const wchar_t* hint;
  std::wstring message;
};

std::vector<Sample> Samples() {
  std::vector<Sample> samples;
  const wchar_t* modules[] = {L"kelcore.dll", L"kelnet.dll", L"kelhost.exe", L"other.dll"};
  const wchar_t* hints[] = {nullptr, L"Connect", L"OnTimer", nullptr};
  for (int i = 0; i < 64; ++i) {
    wchar_t text[160];
    swprintf(text, 160, L"request %d finished in %d ms, state=%d, queue depth %d, peer 10.0.%d.%d\r\n", i * 37,
             i * 3 + 1, i % 5, i % 11, i % 7, i * 13 % 250);
    samples.push_back({modules[i % 4], hints[i % 4], text});
  }
  return samples;
}

void BuildRecords(benchmark::State& state) {
  g_moduleGroups.LoadFromText(kGroupsText, sizeof(kGroupsText) - 1);
  g_blockWords.Clear();
  for (int64_t i = 0; i < state.range(0); ++i) {
    wchar_t word[32];
    swprintf(word, 32, L"blk%03dword", int(i));
    g_blockWords.Add(word);
  }
  const std::vector<Sample> samples = Samples();
  BenchStaging staging;
  const uint32_t stamp[2] = {0x12345678u, 0x9u};
  uint32_t n = 0;
  for (auto _ : state) {
    const Sample& s = samples[n % samples.size()];
    TraceRecord* r = CTraceMgr::AddTraceItem(&staging, int(n % 3), kLevelInfo, s.module, s.hint,
                                             s.message.c_str(), 4000 + n % 16, 100 + n % 64,
                                             1700000000 + n / kRecordsPerSecond, uint16_t(n % 1000), stamp,
                                             nullptr, kModeBuild, kLiveMessageLimit);
    benchmark::DoNotOptimize(r);
    ++n;
  }
  state.counters["records"] = benchmark::Counter(double(n), benchmark::Counter::kIsRate);
  g_blockWords.Clear();
  g_moduleGroups.Clear();
}
BENCHMARK(BuildRecords)->Arg(0)->Arg(100)->Iterations(kRecordsPerRun);

}  // namespace
