// The trace writer's own costs: building one record (message, narrow form,
// cipher) and appending batches under the channel's named mutex with one
// signal per batch. Under Wine every mutex wait, release and SetEvent is a
// round trip to the wineserver, which is why writers batch.
#include <benchmark/benchmark.h>
#include <windows.h>

#include <string>
#include <vector>

#include "core/TraceRecord.h"
#include "tools/trace-writer/WriterChannel.h"
#include "tools/trace-writer/WriterRecord.h"
#include "tools/trace-writer/WriterRing.h"

namespace {

constexpr uint32_t kRingBytes = 1u << 20;
constexpr uint32_t kSequences = 1000;

size_t BuildOne(uint32_t sequence, uint8_t cipher, uint8_t* out) {
  static wchar_t message[kWriterMessageUnits];
  MakeWriterMessage(1, 1, sequence, message, kWriterMessageUnits);
  WriterRecordFields fields;
  fields.level = kLevelInfo;
  fields.pid = 1;
  fields.tid = 2;
  fields.module = L"bench.exe";
  fields.hint = WriterHint(sequence);
  fields.message = message;
  fields.cipher = cipher;
  return BuildWriterRecord(fields, out, kMaxNarrowRecord);
}

void WriterBuildRecord(benchmark::State& state) {
  std::vector<uint8_t> out(kMaxNarrowRecord);
  uint64_t records = 0;
  uint32_t sequence = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(BuildOne(sequence++ % kSequences + 1, uint8_t(state.range(0)), out.data()));
    ++records;
  }
  state.counters["records"] = benchmark::Counter(double(records), benchmark::Counter::kIsRate);
}
BENCHMARK(WriterBuildRecord)->Arg(0)->Arg(4)->UseRealTime();

// Lock, append a batch of ready records, unlock, signal: the part of a
// writer that talks to the wineserver.
void WriterLockedBatch(benchmark::State& state) {
  const std::wstring tag = L"bench" + std::to_wstring(GetCurrentProcessId());
  CWriterChannel channel(MakeChannelNames(0, false, tag));
  std::wstring error;
  const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, channel.Names().event.c_str());
  if (event == nullptr || !channel.Open(kRingBytes, &error)) {
    state.SkipWithError("channel");
    return;
  }
  std::vector<uint8_t> record(kMaxNarrowRecord);
  const uint32_t length = uint32_t(BuildOne(7, 4, record.data()));
  const uint32_t batch = uint32_t(state.range(0));
  uint64_t records = 0;
  for (auto _ : state) {
    TraceBufferHeader* ring = channel.Lock();
    for (uint32_t i = 0; i < batch; ++i) {
      AppendRingRecord(ring, record.data(), length, nullptr);
    }
    channel.Unlock();
    channel.Signal();
    records += batch;
  }
  CloseHandle(event);
  state.counters["records"] = benchmark::Counter(double(records), benchmark::Counter::kIsRate);
}
BENCHMARK(WriterLockedBatch)->Arg(1)->Arg(16)->Arg(64)->Arg(256)->UseRealTime();

}  // namespace
