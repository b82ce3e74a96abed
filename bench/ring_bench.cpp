// Ring allocate and release: the live capture's hot path once its memory
// limit is reached (every new record pushes out old ones).
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "core/TraceRecord.h"
#include "core/TraceStore.h"

namespace {

class BenchRing : public CTraceBase {
 public:
  explicit BenchRing(uint32_t capacity) : m_bytes(capacity) {
    m_buffer = reinterpret_cast<TraceBufferHeader*>(m_bytes.data());
    InitBufferHeader(m_buffer, capacity);
  }
  int GrowBuffer(uint32_t bytes) override {
    ReleaseOldestRecords(m_buffer, bytes, nullptr, nullptr);
    if (m_buffer->freeBytes < bytes) {
      ReleaseOldestRecords(m_buffer, bytes, nullptr, nullptr);
    }
    return 1;
  }

 private:
  std::vector<uint8_t> m_bytes;
};

void RingAlloc(benchmark::State& state) {
  BenchRing ring(uint32_t(state.range(0)));
  const uint32_t sizes[] = {160, 224, 300, 512, 180, 1024, 260, 140};
  uint64_t records = 0;
  size_t i = 0;
  for (auto _ : state) {
    const uint32_t bytes = sizes[i++ & 7];
    TraceRecord* r = AllocRecord(&ring, bytes);
    r->length = uint16_t(bytes);
    r->sequence = ++ring.Buffer()->lastSequence;
    benchmark::DoNotOptimize(r);
    ++records;
  }
  state.counters["records"] = benchmark::Counter(double(records), benchmark::Counter::kIsRate);
}
BENCHMARK(RingAlloc)->Arg(1 << 20)->Arg(64 << 20);

void RingWalk(benchmark::State& state) {
  BenchRing ring(16 << 20);
  while (ring.Buffer()->recordCount < 50000) {
    TraceRecord* r = AllocRecord(&ring, 256);
    r->length = 256;
    r->sequence = ++ring.Buffer()->lastSequence;
  }
  uint64_t records = 0;
  for (auto _ : state) {
    CTraceRingWalker walker(ring.Buffer());
    while (TraceRecord* r = walker.Next()) {
      benchmark::DoNotOptimize(r->sequence);
      ++records;
    }
  }
  state.counters["records"] = benchmark::Counter(double(records), benchmark::Counter::kIsRate);
}
BENCHMARK(RingWalk);

}  // namespace
