// Exporting 1,000,000 records as text and as HTML, zipping a 100 MB KELT
// image and loading that archive into a new store. MB/s counts the bytes
// written (the export files) or the image bytes packed or unpacked (zip). Files go to the temp folder and are deleted.
#include <benchmark/benchmark.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench/BenchFiles.h"
#include "bench/BenchRecords.h"
#include "core/Containers.h"
#include "core/ModuleGroups.h"
#include "core/RecordBuilder.h"
#include "core/TraceStore.h"
#include "formats/Ktr.h"
#include "formats/TextExport.h"
#include "formats/Zip.h"

namespace {

constexpr char kGroupsText[] = "[CORE]\nM=kelcore.dll;kelmain.exe\n[NET]\nM=kelnet.dll\n[UI]\nM=kelui.dll\n";
constexpr size_t kExportRecords = 1000000;
constexpr uint64_t kZipImageBytes = 100ull << 20;
constexpr uint32_t kBaseTime = 1700000000;

using bench::FileSize;
using bench::TempPath;

// Fills a store through the record builder until it holds `records` records
// or its image reaches `imageBytes`.
bool Fill(CTraceMgr& store, size_t records, uint64_t imageBytes) {
  if (!g_moduleGroups.LoadFromText(kGroupsText, sizeof(kGroupsText) - 1) || !store.GrowBuffer(64u << 20)) {
    return false;
  }
  uint64_t bytes = 0;
  for (size_t i = 0; i < records && bytes < imageBytes; ++i) {
    const std::wstring message = bench::MakeMessage(i);
    const RecordSpec spec = bench::MakeSpec(i, message);
    TraceRecord* record = CTraceMgr::AddTraceItem(
        &store, g_moduleGroups.FindEnabled(spec.module, 0), spec.level, spec.module, spec.hint, spec.message,
        spec.pid, spec.tid, kBaseTime + uint32_t(i / 1000), uint16_t(i % 1000), nullptr,
        i % 8 == 0 ? L"sub" : nullptr, kModeBuild, kLiveMessageLimit);
    if (record == nullptr) {
      return false;
    }
    store.AddToProcessStats(record);
    // A narrow record is about half the memory form: 52 bytes of head and
    // UTF-8 strings padded to 16.
    bytes += record->length / 2;
  }
  return true;
}

class CExportStore {
 public:
  static CExportStore& Get() {
    static CExportStore store;
    return store;
  }
  bool Ready() const { return m_ready; }
  CTraceMgr* Store() { return &m_store; }

 private:
  CExportStore() { m_ready = Fill(m_store, kExportRecords, UINT64_MAX); }
  CTraceFile m_store;
  bool m_ready = false;
};

void Export(benchmark::State& state, int html) {
  CExportStore& source = CExportStore::Get();
  if (!source.Ready()) {
    state.SkipWithError("the records could not be made");
    return;
  }
  const std::wstring path = TempPath(html ? L"export_bench.html" : L"export_bench.log");
  uint64_t written = 0;
  for (auto _ : state) {
    if (!SaveText(source.Store(), path.c_str(), html, nullptr)) {
      state.SkipWithError("export failed");
      break;
    }
    state.PauseTiming();
    written += FileSize(path);
    state.ResumeTiming();
  }
  DeleteFileW(path.c_str());
  state.SetBytesProcessed(int64_t(written));
}

void ExportText1M(benchmark::State& state) { Export(state, 0); }
void ExportHtml1M(benchmark::State& state) { Export(state, 1); }

// The 100 MB image, made once.
class CZipImage {
 public:
  static CZipImage& Get() {
    static CZipImage image;
    return image;
  }
  const CByteBuffer& Image() const { return m_image; }
  CTraceMgr* Store() { return &m_store; }
  bool Ready() const { return m_image.Size() != 0; }

 private:
  CZipImage() {
    if (Fill(m_store, SIZE_MAX, kZipImageBytes)) {
      WriteKeltImage(&m_store, m_image, nullptr);
    }
  }
  CTraceFile m_store;
  CByteBuffer m_image;
};

// Packing the image into an in-memory archive (the upload's road).
void ZipImage100MB(benchmark::State& state) {
  CZipImage& image = CZipImage::Get();
  if (!image.Ready()) {
    state.SkipWithError("the image could not be made");
    return;
  }
  SYSTEMTIME now;
  GetSystemTime(&now);
  size_t packed = 0;
  for (auto _ : state) {
    CZipHandleOwner archive(CZip::OpenInMemory());
    if (archive.get() == nullptr ||
        CZip::AddBuffer(archive.get(), L"bench.ktr", now, image.Image().Data(), image.Image().Size()) != 0 ||
        CZip::Close(archive.get()) != 0) {
      state.SkipWithError("zip failed");
      break;
    }
    packed = CZip::GetMemorySize(archive.get());
  }
  state.counters["packed_ratio"] = double(packed) / double(image.Image().Size());
  state.SetBytesProcessed(int64_t(state.iterations() * image.Image().Size()));
}

// SaveZip whole: image, archive and file.
void SaveZip100MB(benchmark::State& state) {
  CZipImage& image = CZipImage::Get();
  if (!image.Ready()) {
    state.SkipWithError("the image could not be made");
    return;
  }
  const std::wstring path = TempPath(L"export_bench.zip");
  for (auto _ : state) {
    if (!SaveZip(image.Store(), path.c_str(), nullptr)) {
      state.SkipWithError("save failed");
      break;
    }
  }
  state.counters["packed_ratio"] = double(FileSize(path)) / double(image.Image().Size());
  DeleteFileW(path.c_str());
  state.SetBytesProcessed(int64_t(state.iterations() * image.Image().Size()));
}

// Opening the saved archive into a new store, as the viewer opens a .zip.
void LoadZip100MB(benchmark::State& state) {
  CZipImage& image = CZipImage::Get();
  const std::wstring path = TempPath(L"export_bench_load.zip");
  if (!image.Ready() || !SaveZip(image.Store(), path.c_str(), nullptr)) {
    DeleteFileW(path.c_str());
    state.SkipWithError("the archive could not be made");
    return;
  }
  const uint32_t records = image.Store()->Buffer()->recordCount;
  for (auto _ : state) {
    state.PauseTiming();
    auto* store = new CTraceFile;
    store->SetFileName(path.c_str(), L"bench.zip");
    state.ResumeTiming();
    if (!LoadZip(store) || store->Buffer() == nullptr || store->Buffer()->recordCount != records) {
      state.SkipWithError("the archive did not load whole");
    }
    state.PauseTiming();
    store->Release();
    state.ResumeTiming();
  }
  DeleteFileW(path.c_str());
  state.SetBytesProcessed(int64_t(state.iterations() * image.Image().Size()));
}

BENCHMARK(ExportText1M)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(ExportHtml1M)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(ZipImage100MB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(SaveZip100MB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(LoadZip100MB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
