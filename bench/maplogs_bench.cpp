// Decoding described events: a .kdv image and a .kmp image generated in
// memory (about 64 MB each, two million events) and parsed into a fresh file
// store, then the same images opened from a file as the viewer does (the
// store reserves the file's size and grows on the way).
#include <benchmark/benchmark.h>
#include <windows.h>

#include <tinyxml.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "bench/BenchFiles.h"
#include "core/ModuleGroups.h"
#include "core/TraceStore.h"
#include "formats/EventDesc.h"
#include "formats/MapLogs.h"
#include "tests/formats/MapLogFixture.h"

namespace {

constexpr char kGroupsText[] = "[MEDIA]\nM=MEDIA_LOG;MEDIA_TRACE\n[NET]\nM=NETIO_LOG;NETIO_TRACE\n";
constexpr size_t kImageBytes = 64u << 20;
constexpr size_t kBlockPayload = 4096;
constexpr uint32_t kStoreStartBytes = 256u << 20;

// NETIO "Connect" (level 1, event 1): a number and a short text.
Bytes Event(uint32_t serial) {
  Bytes e;
  AppendBig16(e, 0);
  e.push_back(1);
  e.push_back(1);
  AppendBig32(e, serial);
  AppendBig16(e, 77);
  AppendBig16(e, 0x0009);
  AppendBig32(e, serial);
  const char text[] = "example.org";
  AppendBig16(e, sizeof(text));
  e.insert(e.end(), text, text + sizeof(text));
  e[0] = uint8_t(e.size() >> 8);
  e[1] = uint8_t(e.size());
  return e;
}

Bytes KdvImage(uint32_t* events) {
  Bytes image(kSourceHeaderSize, 0);
  *events = 0;
  while (image.size() < kImageBytes) {
    Bytes payload;
    for (Bytes e = Event(*events); payload.size() + e.size() <= kBlockPayload; e = Event(++*events)) {
      payload.insert(payload.end(), e.begin(), e.end());
    }
    AppendKdvBlock(image, 1, 0, payload);
  }
  return image;
}

// One module whose log area holds the events and wraps in its middle.
Bytes KmpImage(uint32_t* events) {
  Bytes data;
  *events = 0;
  for (Bytes e = Event(0); data.size() + e.size() <= kImageBytes; e = Event(++*events)) {
    data.insert(data.end(), e.begin(), e.end());
  }
  const uint32_t capacity = uint32_t(data.size()) + 1;
  const Bytes area = WrappedKmpArea(data, capacity, capacity / 2, 0);
  Bytes header(kSourceHeaderSize, 0);
  header[2] = 1;
  PutBig32(&header[32 + 4], kSourceHeaderSize);
  PutBig32(&header[32 + 12], uint32_t(area.size()));
  return Concat({header, area});
}

bool Prepare() {
  static const bool ready = g_moduleGroups.LoadFromText(kGroupsText, sizeof(kGroupsText) - 1) &&
                            LoadEventDescriptions(&g_eventDescriptions);
  return ready;
}

// With `touched` the store's memory is written once before the clock runs:
// the figure then leaves out the first touch of fresh pages.
template <int (*Parse)(CTraceMgr*, const uint8_t*, size_t), Bytes (*Make)(uint32_t*), bool touched = false>
void ParseImage(benchmark::State& state) {
  uint32_t events = 0;
  const Bytes image = Make(&events);
  if (!Prepare()) {
    state.SkipWithError("no event descriptions");
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    auto* store = new CTraceFile;
    if (store->GrowBuffer(kStoreStartBytes) && touched) {
      TraceBufferHeader* header = store->Buffer();
      memset(header->Bytes() + header->write, 0, header->freeBytes);
    }
    state.ResumeTiming();
    if (!Parse(store, image.data(), image.size()) || store->Buffer()->recordCount != events) {
      state.SkipWithError("the image did not parse whole");
    }
    state.PauseTiming();
    store->Release();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(int64_t(state.iterations() * image.size()));
  state.counters["records"] =
      benchmark::Counter(double(state.iterations()) * events, benchmark::Counter::kIsRate);
}

template <int (*Load)(CTraceMgr*), Bytes (*Make)(uint32_t*)>
void LoadFile(benchmark::State& state) {
  uint32_t events = 0;
  const Bytes image = Make(&events);
  const std::wstring path = bench::TempPath(L"maplogs_bench_");
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  const bool saved = file != INVALID_HANDLE_VALUE &&
                     WriteFile(file, image.data(), DWORD(image.size()), &written, nullptr) &&
                     written == image.size();
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
  }
  if (!saved || !Prepare()) {
    DeleteFileW(path.c_str());
    state.SkipWithError("no image file or no event descriptions");
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    auto* store = new CTraceFile;
    store->SetFileName(path.c_str(), L"bench");
    state.ResumeTiming();
    if (!Load(store) || store->Buffer() == nullptr || store->Buffer()->recordCount != events) {
      state.SkipWithError("the file did not load whole");
    }
    state.PauseTiming();
    store->Release();
    state.ResumeTiming();
  }
  DeleteFileW(path.c_str());
  state.SetBytesProcessed(int64_t(state.iterations() * image.size()));
}

void KdvParse(benchmark::State& state) { ParseImage<ParseKdvImage, KdvImage>(state); }
void KmpParse(benchmark::State& state) { ParseImage<ParseKmpImage, KmpImage>(state); }
// Where the time goes: the parse into a store whose memory was touched.
void KdvParseTouchedStore(benchmark::State& state) { ParseImage<ParseKdvImage, KdvImage, true>(state); }
void KdvLoadFile(benchmark::State& state) { LoadFile<LoadKdv, KdvImage>(state); }
void KmpLoadFile(benchmark::State& state) { LoadFile<LoadKmp, KmpImage>(state); }

}  // namespace

BENCHMARK(KdvParse)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(KmpParse)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(KdvParseTouchedStore)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(KdvLoadFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(KmpLoadFile)->Unit(benchmark::kMillisecond)->UseRealTime();
