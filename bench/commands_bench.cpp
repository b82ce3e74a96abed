// The frame's commands at 10 million rows: opening the View menu, Find Next
// without a hit, Toggle Bookmark on 100,000 selected rows, copying 50,000
// rows; and the quick filter's job in records per second.
#include <benchmark/benchmark.h>

#include <windows.h>
#include <commctrl.h>

#include "app/MainFrame.h"
#include "app/QuickFilter.h"
#include "core/AppConfig.h"
#include "core/ModuleGroups.h"
#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "jobs/LocalJobs.h"
#include "resource.h"
#include "tests/core/TempFolder.h"
#include "tools/trace-dump/Generate.h"
#include "ui/framework/PopupSeam.h"

namespace {
constexpr uint32_t kDistinctRecords = 100000;
constexpr size_t kViewRecords = 10000000;
constexpr uint32_t kStoreBytes = 64u << 20;
constexpr uint32_t kFilterRecords = 1000000;
constexpr uint32_t kFilterStoreBytes = 512u << 20;
constexpr int kMarkedRows = 100000;
constexpr int kCopiedRows = 50000;
constexpr int kFrameWidth = 1280;
constexpr int kFrameHeight = 1000;

int WINAPI AnswerYes(HWND, const wchar_t*, const wchar_t*, UINT) { return IDYES; }

void Pump() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message != WM_QUIT) ::DispatchMessageW(&msg);
  }
}

// One frame showing a file document whose one view holds 10 million rows
// (distinct records repeated: the commands cost the same).
struct FrameSetup {
  TempFolder temp{L"ktcmdbench"};
  CMainFrame* frame = nullptr;
  CTraceMgr* file = nullptr;

  FrameSetup() {
    g_messageBox = AnswerYes;
    g_appConfig.SetIniFolders(temp.path().c_str(), temp.path().c_str());
    g_appConfig.LoadOrSave(1);
    g_appConfig.m_columns |= kColumnHint | kColumnName;
    g_moduleGroups.LoadFromResource();
    frame = new CMainFrame;
    RECT rect = {0, 0, kFrameWidth, kFrameHeight};
    if (frame->CreateEx(nullptr, &rect) == nullptr) {
      delete frame;
      frame = nullptr;
      return;
    }
    frame->ShowWindow(SW_SHOWNORMAL);
    frame->StartCapture(L"");
    Pump();
    auto* store = new CTraceFile;
    store->SetFileName(L"C:\\bench\\big.ktr", L"big.ktr");
    if (!store->GrowBuffer(kStoreBytes) || GenerateRecords(store, kDistinctRecords, 5) != kDistinctRecords ||
        !store->AddView(L"", kAllGroups, kViewRecords)) {
      store->Release();
      return;
    }
    CTraceView* view = store->m_views[0];
    for (size_t i = view->RecordCount(); i < kViewRecords; ++i) {
      if (!view->m_records.Append(view->m_records[i % kDistinctRecords])) break;
    }
    if (!frame->AddDocument(store)) {
      store->Release();
      return;
    }
    file = store;
    Pump();
  }
  ~FrameSetup() {
    if (frame != nullptr && frame->IsWindow()) frame->DestroyWindow();
    Pump();
    delete frame;
  }
  bool Ready() const { return frame != nullptr && file != nullptr; }
  // Selects rows [first, first + count) and focuses the first.
  void Select(int first, int count) {
    CKeltracerView& list = frame->List();
    list.SetItemState(-1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    for (int row = first; row < first + count; ++row) list.SetItemState(row, LVIS_SELECTED, LVIS_SELECTED);
    list.SetItemState(first, LVIS_FOCUSED, LVIS_FOCUSED);
  }
};

FrameSetup& Setup() {
  static FrameSetup setup;
  return setup;
}

void BM_OpenViewMenuAt10M(benchmark::State& state) {
  FrameSetup& setup = Setup();
  if (!setup.Ready()) {
    state.SkipWithError("no frame");
    return;
  }
  setup.Select(int(kViewRecords / 2), 1);
  HMENU menu = ::LoadMenuW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
  HMENU view = ::GetSubMenu(menu, 1);
  for (auto _ : state) {
    setup.frame->SendMessage(WM_INITMENUPOPUP, WPARAM(view), 1);
  }
  ::DestroyMenu(menu);
}
BENCHMARK(BM_OpenViewMenuAt10M)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_FindNextWithoutAHitAt10M(benchmark::State& state) {
  FrameSetup& setup = Setup();
  if (!setup.Ready()) {
    state.SkipWithError("no frame");
    return;
  }
  setup.Select(int(kViewRecords / 2), 1);
  setup.frame->SetFindText(L"text no record holds", true, false);
  int hit = 0;
  for (auto _ : state) {
    hit = setup.frame->SearchItems(true);
  }
  state.counters["hit"] = hit;
}
BENCHMARK(BM_FindNextWithoutAHitAt10M)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_FindNextMatchCaseWithoutAHitAt10M(benchmark::State& state) {
  FrameSetup& setup = Setup();
  if (!setup.Ready()) {
    state.SkipWithError("no frame");
    return;
  }
  setup.Select(int(kViewRecords / 2), 1);
  setup.frame->SetFindText(L"text no record holds", true, true);
  for (auto _ : state) {
    benchmark::DoNotOptimize(setup.frame->SearchItems(true));
  }
}
BENCHMARK(BM_FindNextMatchCaseWithoutAHitAt10M)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ToggleBookmark100kRowsAt10M(benchmark::State& state) {
  FrameSetup& setup = Setup();
  if (!setup.Ready()) {
    state.SkipWithError("no frame");
    return;
  }
  setup.Select(int(kViewRecords / 2), kMarkedRows);
  for (auto _ : state) {
    setup.frame->OnToggleBookmark(ID_BOOKMARK_TOGGLE);
  }
  state.counters["selected"] = double(setup.frame->List().GetSelectedCount());
}
BENCHMARK(BM_ToggleBookmark100kRowsAt10M)->Unit(benchmark::kMillisecond)->Iterations(6);

void BM_Copy50kRowsAt10M(benchmark::State& state) {
  FrameSetup& setup = Setup();
  if (!setup.Ready()) {
    state.SkipWithError("no frame");
    return;
  }
  setup.Select(int(kViewRecords / 2), kCopiedRows);
  for (auto _ : state) {
    setup.frame->OnEditCopy(ID_EDIT_COPY);
  }
}
BENCHMARK(BM_Copy50kRowsAt10M)->Unit(benchmark::kMillisecond)->Iterations(5);

// The job the quick filter posts, run over a million distinct records.
void BM_QuickFilterJob(benchmark::State& state) {
  g_moduleGroups.LoadFromResource();
  static CTraceFile* store = [] {
    auto* made = new CTraceFile;
    made->SetFileName(L"C:\\bench\\filter.ktr", L"filter.ktr");
    if (!made->GrowBuffer(kFilterStoreBytes) || GenerateRecords(made, kFilterRecords, 9) != kFilterRecords ||
        !made->AddView(L"", kAllGroups, kFilterRecords)) {
      made->Release();
      return static_cast<CTraceFile*>(nullptr);
    }
    return made;
  }();
  if (store == nullptr) {
    state.SkipWithError("no store");
    return;
  }
  CTraceFilter filter;
  std::wstring pattern;
  BuildQuickFilter(L"timeout", kColumnName | kColumnHint | kColumnMessage, &filter, &pattern);
  CTraceView* view = store->m_views[0];
  size_t kept = 0;
  for (auto _ : state) {
    JobFilter job(view, kFilterConditions, filter, -1);
    job.Run();
    kept = view->RecordCount();
  }
  state.counters["kept"] = double(kept);
  state.counters["records_per_second"] =
      benchmark::Counter(double(kFilterRecords) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_QuickFilterJob)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
}  // namespace
