// Loading and saving .ktr files: one generated file of about 200 MB, made
// once per process in the temp folder and deleted at exit.
#include <benchmark/benchmark.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bench/BenchFiles.h"
#include "core/Cipher.h"
#include "core/ModuleGroups.h"
#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "formats/Ktr.h"
#include "tools/trace-dump/Generate.h"

namespace {

constexpr char kGroupsText[] = "[CORE]\nM=app.exe;kernel.dll;ui.dll\n[NET]\nM=net.dll\n";
constexpr uint64_t kFileBytes = 200ull << 20;
constexpr uint32_t kSampleRecords = 20000;
constexpr uint32_t kSeed = 7;
constexpr uint32_t kStoreStartBytes = 64u << 20;
constexpr size_t kWarmSpareBytes = 16u << 20;

using bench::FileSize;
using bench::TempPath;

// The generated store and its file, made on first use; the files go at exit.
class CBenchFile {
 public:
  static CBenchFile& Get() {
    static CBenchFile file;
    return file;
  }
  ~CBenchFile() {
    DeleteFileW(m_path.c_str());
    DeleteFileW(m_savePath.c_str());
  }

  bool Ready() const { return m_ready; }
  CTraceMgr* Store() { return &m_store; }
  const std::wstring& Path() const { return m_path; }
  const std::wstring& SavePath() const { return m_savePath; }
  uint64_t Bytes() const { return m_bytes; }
  uint32_t Records() const { return m_records; }

 private:
  CBenchFile() : m_path(TempPath(L"ktr_bench_")), m_savePath(TempPath(L"ktr_bench_save_")) {
    if (!g_moduleGroups.LoadFromText(kGroupsText, sizeof(kGroupsText) - 1) || !m_store.GrowBuffer(kStoreStartBytes)) {
      return;
    }
    // A sample gives the bytes a record takes in the file; then the rest.
    if (GenerateRecords(&m_store, kSampleRecords, kSeed) != kSampleRecords ||
        !SaveKtr(&m_store, m_path.c_str(), nullptr)) {
      return;
    }
    const uint64_t perRecord = FileSize(m_path) / kSampleRecords + 1;
    const uint32_t more = uint32_t(kFileBytes / perRecord) - kSampleRecords;
    if (GenerateRecords(&m_store, more, kSeed + 1) != more || !SaveKtr(&m_store, m_path.c_str(), nullptr)) {
      return;
    }
    m_bytes = FileSize(m_path);
    m_records = m_store.Buffer()->recordCount;
    m_ready = m_bytes != 0;
  }

  CTraceFile m_store;
  std::wstring m_path;
  std::wstring m_savePath;
  uint64_t m_bytes = 0;
  uint32_t m_records = 0;
  bool m_ready = false;
};

// A store whose memory was touched before: loading into it measures the
// reader itself. A fresh store's first touch of every page costs the system
// a page fault, which on a virtual machine can cost more than the reading.
class CWarmStore : public CTraceMgr {
 public:
  explicit CWarmStore(size_t bytes) : m_block(bytes) { std::memset(m_block.data(), 0, bytes); }
  ~CWarmStore() override { m_buffer = nullptr; }

  void Reset() {
    m_buffer = nullptr;
    for (size_t i = 0; i < m_processStats.count; ++i) {
      delete m_processStats[i];
    }
    m_processStats.count = 0;
  }
  int GrowBuffer(uint32_t bytes) override {
    if (m_buffer != nullptr || bytes > m_block.size()) {
      return 0;  // the whole block is handed out at once
    }
    m_buffer = reinterpret_cast<TraceBufferHeader*>(m_block.data());
    InitBufferHeader(m_buffer, uint32_t(m_block.size()));
    return 1;
  }
  int Lock(int, int) override { return 1; }
  void Unlock(int) override {}

 private:
  std::vector<uint8_t> m_block;
};

void Report(benchmark::State& state, bool bytes, uint64_t records) {
  CBenchFile& file = CBenchFile::Get();
  if (bytes) {
    state.SetBytesProcessed(int64_t(state.iterations() * file.Bytes()));
  } else {
    state.counters["records"] = benchmark::Counter(double(records), benchmark::Counter::kIsRate);
  }
}

void KtrLoad(benchmark::State& state, bool bytes) {
  CBenchFile& file = CBenchFile::Get();
  if (!file.Ready()) {
    state.SkipWithError("the benchmark file could not be generated");
    return;
  }
  uint64_t records = 0;
  for (auto _ : state) {
    CTraceFile* store = new CTraceFile;
    store->SetFileName(file.Path().c_str(), L"bench");
    if (!LoadKtr(store)) {
      state.SkipWithError("load failed");
      store->Release();
      return;
    }
    records += store->Buffer()->recordCount;
    state.PauseTiming();
    store->Release();
    state.ResumeTiming();
  }
  Report(state, bytes, records);
}

void KtrLoadWarm(benchmark::State& state, bool bytes) {
  CBenchFile& file = CBenchFile::Get();
  if (!file.Ready()) {
    state.SkipWithError("the benchmark file could not be generated");
    return;
  }
  // Room for the records as the generating store held them.
  CWarmStore store(size_t(file.Store()->Buffer()->write) + kWarmSpareBytes);
  store.SetFileName(file.Path().c_str(), L"bench");
  uint64_t records = 0;
  for (auto _ : state) {
    if (!LoadKtr(&store)) {
      state.SkipWithError("load failed");
      return;
    }
    records += store.Buffer()->recordCount;
    state.PauseTiming();
    store.Reset();
    state.ResumeTiming();
  }
  Report(state, bytes, records);
}

void KtrSave(benchmark::State& state, bool bytes) {
  CBenchFile& file = CBenchFile::Get();
  if (!file.Ready()) {
    state.SkipWithError("the benchmark file could not be generated");
    return;
  }
  uint64_t records = 0;
  for (auto _ : state) {
    if (!SaveKtr(file.Store(), file.SavePath().c_str(), nullptr)) {
      state.SkipWithError("save failed");
      return;
    }
    records += file.Records();
  }
  Report(state, bytes, records);
}

void KtrLoadBytes(benchmark::State& state) { KtrLoad(state, true); }
void KtrLoadRecords(benchmark::State& state) { KtrLoad(state, false); }
void KtrLoadWarmBytes(benchmark::State& state) { KtrLoadWarm(state, true); }
void KtrLoadWarmRecords(benchmark::State& state) { KtrLoadWarm(state, false); }
void KtrSaveBytes(benchmark::State& state) { KtrSave(state, true); }
void KtrSaveRecords(benchmark::State& state) { KtrSave(state, false); }

// Parts of the work, to see where the time goes: the string-area cipher
// alone, and the image written to memory without the file.
void KtrCipherArea(benchmark::State& state) {
  // The largest string area: a multiple of the cipher block.
  alignas(16) uint8_t area[(kNarrowRecordLimit - kNarrowAreaOffset) / kNarrowAreaAlign * kNarrowAreaAlign] = {};
  const bool encipher = state.range(0) != 0;
  for (auto _ : state) {
    const int done = encipher ? EncipherArea(kCipherAes256Record, area, sizeof(area))
                              : DecipherArea(kCipherAes256Record, area, sizeof(area));
    benchmark::DoNotOptimize(done);
  }
  state.SetBytesProcessed(int64_t(state.iterations() * sizeof(area)));
}

void KtrWriteImage(benchmark::State& state) {
  CBenchFile& file = CBenchFile::Get();
  if (!file.Ready()) {
    state.SkipWithError("the benchmark file could not be generated");
    return;
  }
  // One buffer for every round: after the first its pages are warm, so the
  // figure is the conversion itself.
  CByteBuffer image;
  if (!WriteKeltImage(file.Store(), image, nullptr)) {
    state.SkipWithError("write failed");
    return;
  }
  for (auto _ : state) {
    image.Consume(image.Size());
    if (!WriteKeltImage(file.Store(), image, nullptr)) {
      state.SkipWithError("write failed");
      return;
    }
    benchmark::DoNotOptimize(image.Data());
  }
  state.SetBytesProcessed(int64_t(state.iterations() * file.Bytes()));
}

BENCHMARK(KtrCipherArea)->Arg(0)->Arg(1);
BENCHMARK(KtrWriteImage)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(KtrLoadBytes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(KtrLoadRecords)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(KtrLoadWarmBytes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(KtrLoadWarmRecords)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(KtrSaveBytes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(KtrSaveRecords)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
