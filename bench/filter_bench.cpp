// CTraceFilter::Match: runs once per record for every view on each capture
// tick and for every record of a store when a view is re-filtered.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/TraceFilter.h"
#include "bench/BenchRecords.h"

namespace {

// A pool larger than the caches, walked again and again: about a million
// matches per benchmark iteration.
constexpr size_t kPoolRecords = 1 << 16;
constexpr int kPoolPasses = 16;

class RecordPool {
 public:
  RecordPool() {
    std::vector<std::wstring> messages;
    for (size_t i = 0; i < kPoolRecords; ++i) messages.push_back(bench::MakeMessage(i));
    std::vector<RecordSpec> specs;
    size_t bytes = 0;
    for (size_t i = 0; i < kPoolRecords; ++i) {
      specs.push_back(bench::MakeSpec(i, messages[i]));
      const RecordSpec& spec = specs[i];
      wchar_t pt[32];
      bytes += RecordBytesFor(spec, pt, 32);
    }
    m_block.resize(bytes);
    size_t at = 0;
    for (size_t i = 0; i < kPoolRecords; ++i) {
      auto* record = reinterpret_cast<TraceRecord*>(m_block.data() + at);
      FillRecord(record, specs[i], uint32_t(i));
      m_records.push_back(record);
      at += record->length;
    }
  }

  const std::vector<const TraceRecord*>& Records() const { return m_records; }

 private:
  std::vector<uint8_t> m_block;
  std::vector<const TraceRecord*> m_records;
};

const RecordPool& Pool() {
  static const RecordPool pool;
  return pool;
}

void RunMatch(benchmark::State& state, const CTraceFilter& filter) {
  const std::vector<const TraceRecord*>& records = Pool().Records();
  uint64_t matched = 0;
  uint64_t total = 0;
  for (auto _ : state) {
    for (int pass = 0; pass < kPoolPasses; ++pass) {
      for (const TraceRecord* record : records) matched += filter.Match(record);
    }
    total += uint64_t(kPoolPasses) * records.size();
  }
  benchmark::DoNotOptimize(matched);
  state.counters["records"] = benchmark::Counter(double(total), benchmark::Counter::kIsRate);
  state.counters["matched"] = double(matched) / double(total ? total : 1);
}

void MatchLevelPid(benchmark::State& state) {
  CTraceFilter filter;
  filter.SetLevelMask(kLevelWarning | kLevelError);
  filter.AddProcessId(1001);
  filter.AddProcessId(1003);
  filter.AddProcessId(1004);
  filter.AddProcessId(1006);
  RunMatch(state, filter);
}
BENCHMARK(MatchLevelPid);

// Four case-blind INCLUDE conditions that every record must test in full:
// as an OR group that rarely hits, each is a scan of the whole message.
void MatchCaseBlindOr4(benchmark::State& state) {
  CTraceFilter filter;
  filter.AddCondition(kConditionMessage, kOperatorInclude, L"timeout", -1);
  filter.AddCondition(kConditionMessage, kOperatorInclude | kConditionOr, L"refused", -1);
  filter.AddCondition(kConditionMessage, kOperatorInclude | kConditionOr, L"denied", -1);
  filter.AddCondition(kConditionMessage, kOperatorInclude | kConditionOr, L"overflow", -1);
  filter.Compile();
  RunMatch(state, filter);
}
BENCHMARK(MatchCaseBlindOr4);

// Four AND-ed case-blind INCLUDE conditions; the words occur in most
// messages, so most records test all four.
void MatchCaseBlindAnd4(benchmark::State& state) {
  CTraceFilter filter;
  filter.AddCondition(kConditionMessage, kOperatorInclude, L"connect", -1);
  filter.AddCondition(kConditionMessage, kOperatorInclude, L"queue", -1);
  filter.AddCondition(kConditionMessage, kOperatorInclude, L"decode", -1);
  filter.AddCondition(kConditionMessage, kOperatorInclude, L"close", -1);
  filter.Compile();
  RunMatch(state, filter);
}
BENCHMARK(MatchCaseBlindAnd4);

void MatchRegex(benchmark::State& state) {
  CTraceFilter filter;
  filter.AddCondition(kConditionMessage, kOperatorRegex | kConditionCaseSensitive, L"Timeout \\w+ \\d{3}", -1);
  filter.Compile();
  RunMatch(state, filter);
}
BENCHMARK(MatchRegex)->Unit(benchmark::kMillisecond);

}  // namespace
