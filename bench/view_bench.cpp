// Rebuilding a view and searching it: a filter job rebuilds the whole view
// of a store, and the find command scans the shown view record by record.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/TraceFilter.h"
#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "bench/BenchRecords.h"

namespace {

constexpr size_t kStoreRecords = 1000000;
constexpr uint32_t kGroups = 4;

// A file store of a million records, built once for every benchmark.
class BenchStore {
 public:
  BenchStore() {
    std::vector<std::wstring> messages;
    messages.reserve(kStoreRecords);
    std::vector<RecordSpec> specs;
    specs.reserve(kStoreRecords);
    uint64_t bytes = kTraceHeaderSize;
    for (size_t i = 0; i < kStoreRecords; ++i) {
      messages.push_back(bench::MakeMessage(i));
      specs.push_back(bench::MakeSpec(i, messages[i]));
      RecordSpec& spec = specs[i];
      spec.groupFlag = 1u << (i % kGroups);
      wchar_t pt[32];
      bytes += RecordBytesFor(spec, pt, 32);
      m_messageBytes += messages[i].size() * sizeof(wchar_t);
    }
    m_store.SetFileName(L"", L"bench.ktr");
    m_ready = m_store.GrowBuffer(uint32_t(bytes)) != 0;
    for (size_t i = 0; i < kStoreRecords && m_ready; ++i) {
      m_ready = AddRecord(&m_store, specs[i]) != nullptr;
    }
  }

  CTraceFile& Store() { return m_store; }
  bool Ready() const { return m_ready; }
  uint64_t MessageBytes() const { return m_messageBytes; }

 private:
  CTraceFile m_store;
  bool m_ready = false;
  uint64_t m_messageBytes = 0;
};

BenchStore& Bench() {
  static BenchStore store;
  return store;
}

void RunRebuild(benchmark::State& state, const CTraceFilter& filter) {
  BenchStore& bench = Bench();
  if (!bench.Ready()) {
    state.SkipWithError("the store could not be built");
    return;
  }
  CTraceView view(&bench.Store(), L"ALL", kAllGroups);
  view.m_records.Reserve(kStoreRecords);
  view.m_filter.Assign(0, filter);
  uint64_t walked = 0;
  for (auto _ : state) {
    view.Rebuild();
    walked += bench.Store().Buffer()->recordCount;
  }
  state.counters["records"] = benchmark::Counter(double(walked), benchmark::Counter::kIsRate);
  state.counters["kept"] = double(view.RecordCount()) / double(kStoreRecords);
}

void RebuildLevelPid(benchmark::State& state) {
  CTraceFilter filter;
  filter.SetLevelMask(kLevelWarning | kLevelError);
  filter.AddProcessId(1001);
  filter.AddProcessId(1003);
  filter.AddProcessId(1004);
  filter.AddProcessId(1006);
  RunRebuild(state, filter);
}
BENCHMARK(RebuildLevelPid)->Unit(benchmark::kMillisecond);

// Four case-blind INCLUDE conditions as an OR group that rarely hits: every
// record scans its whole message four times.
void RebuildCaseBlindOr4(benchmark::State& state) {
  CTraceFilter filter;
  filter.AddCondition(kConditionMessage, kOperatorInclude, L"timeout", -1);
  filter.AddCondition(kConditionMessage, kOperatorInclude | kConditionOr, L"refused", -1);
  filter.AddCondition(kConditionMessage, kOperatorInclude | kConditionOr, L"denied", -1);
  filter.AddCondition(kConditionMessage, kOperatorInclude | kConditionOr, L"overflow", -1);
  RunRebuild(state, filter);
}
BENCHMARK(RebuildCaseBlindOr4)->Unit(benchmark::kMillisecond);

// Four AND-ed case-blind INCLUDE conditions whose words occur in most messages.
void RebuildCaseBlindAnd4(benchmark::State& state) {
  CTraceFilter filter;
  filter.AddCondition(kConditionMessage, kOperatorInclude, L"connect", -1);
  filter.AddCondition(kConditionMessage, kOperatorInclude, L"queue", -1);
  filter.AddCondition(kConditionMessage, kOperatorInclude, L"decode", -1);
  filter.AddCondition(kConditionMessage, kOperatorInclude, L"close", -1);
  RunRebuild(state, filter);
}
BENCHMARK(RebuildCaseBlindAnd4)->Unit(benchmark::kMillisecond);

void RebuildRegex(benchmark::State& state) {
  CTraceFilter filter;
  filter.AddCondition(kConditionMessage, kOperatorRegex | kConditionCaseSensitive, L"Timeout \\w+ \\d{3}", -1);
  RunRebuild(state, filter);
}
BENCHMARK(RebuildRegex)->Unit(benchmark::kMillisecond);

// A search through every message for a text that is nowhere: the find
// command's worst case.
void RunFindText(benchmark::State& state, const wchar_t* text, int caseSensitive) {
  BenchStore& bench = Bench();
  if (!bench.Ready()) {
    state.SkipWithError("the store could not be built");
    return;
  }
  CTraceView view(&bench.Store(), L"ALL", kAllGroups);
  view.m_records.Reserve(kStoreRecords);
  view.Rebuild();
  const int count = int(view.RecordCount());
  int found = 0;
  uint64_t scanned = 0;
  for (auto _ : state) {
    found += view.FindText(0, count, kSearchMessage, text, caseSensitive);
    scanned += bench.MessageBytes();
  }
  benchmark::DoNotOptimize(found);
  state.SetBytesProcessed(int64_t(scanned));
}

void FindTextCaseSensitive(benchmark::State& state) { RunFindText(state, L"Timeout refused", 1); }
BENCHMARK(FindTextCaseSensitive)->Unit(benchmark::kMillisecond);

void FindTextCaseBlind(benchmark::State& state) { RunFindText(state, L"timeout refused", 0); }
BENCHMARK(FindTextCaseBlind)->Unit(benchmark::kMillisecond);

}  // namespace
