// The main frame's list under load: painting one full page of a view of 10
// million records, and the user-interface thread's longest stall while four
// trace writers write at full rate and the timer refreshes the shown view.
#include <benchmark/benchmark.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/MainFrame.h"
#include "capture/TraceCapture.h"
#include "core/AppConfig.h"
#include "core/ModuleGroups.h"
#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "tests/core/TempFolder.h"
#include "ui/framework/PopupSeam.h"
#include "tools/trace-dump/Generate.h"

namespace {
constexpr uint32_t kDistinctRecords = 100000;
constexpr size_t kViewRecords = 10000000;
constexpr uint32_t kStoreBytes = 64u << 20;
constexpr int kFrameWidth = 1280;
constexpr int kFrameHeight = 1000;
constexpr int kWriters = 4;
constexpr DWORD kLoadMs = 6000;
constexpr DWORD kFirstRowsMs = 10000;  // the writers' start-up and first records
constexpr DWORD kPollMs = 50;

// Message boxes the frame raised (at full rate the capture reports lost
// records): answered at once, a modal loop would stop the measurement.
int g_popups = 0;
int WINAPI AnswerMessageBox(HWND, const wchar_t*, const wchar_t*, UINT) {
  ++g_popups;
  return IDOK;
}

void Pump() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message != WM_QUIT) ::DispatchMessageW(&msg);
  }
}

// One frame for the whole run: a top-level window costs seconds under Xvfb.
struct FrameSetup {
  TempFolder temp{L"ktbench"};
  CMainFrame* frame = nullptr;
  CTraceMgr* file = nullptr;

  FrameSetup() {
    g_messageBox = AnswerMessageBox;
    g_appConfig.SetIniFolders(temp.path().c_str(), temp.path().c_str());
    g_appConfig.LoadOrSave(1);
    g_appConfig.m_sortEnable = 0;  // stored at the next tick, not two seconds later
    g_moduleGroups.LoadFromResource();
    frame = new CMainFrame;
    RECT rect = {0, 0, kFrameWidth, kFrameHeight};
    if (frame->CreateEx(nullptr, &rect) == nullptr) return;
    frame->ShowWindow(SW_SHOWNORMAL);
    frame->StartCapture(L"");
    Pump();
  }
  ~FrameSetup() {
    if (frame != nullptr && frame->IsWindow()) frame->DestroyWindow();
    Pump();
    delete frame;
  }

  // A file document whose one view holds 10 million rows: the distinct
  // records repeat, which costs painting the same as 10 million of them.
  bool AddBigFile() {
    if (file == nullptr) file = AddFile(kViewRecords);
    return file != nullptr;
  }

  // A file document of `rows` rows, made once; it becomes the shown one.
  CTraceMgr* ShowFile(size_t rows) {
    for (const SizedFile& made : sized) {
      if (made.rows == rows) {
        frame->ViewStrip().SelectGroup(made.group);
        Pump();
        return made.store;
      }
    }
    CTraceMgr* store = AddFile(rows);
    if (store != nullptr) sized.push_back({rows, size_t(frame->ViewStrip().Model().Current()), store});
    return store;
  }

 private:
  struct SizedFile {
    size_t rows;
    size_t group;
    CTraceMgr* store;
  };
  std::vector<SizedFile> sized;

  CTraceMgr* AddFile(size_t rows) {
    auto* store = new CTraceFile;
    store->SetFileName(L"C:\\bench\\big.ktr", L"big.ktr");
    const uint32_t distinct = rows < kDistinctRecords ? uint32_t(rows) : kDistinctRecords;
    if (!store->GrowBuffer(kStoreBytes) || GenerateRecords(store, distinct, 5) != distinct ||
        !store->AddView(L"", kAllGroups, rows)) {
      store->Release();
      return nullptr;
    }
    CTraceView* view = store->m_views[0];
    for (size_t i = view->RecordCount(); i < rows; ++i) {
      if (!view->m_records.Append(view->m_records[i % distinct])) break;
    }
    if (!frame->AddDocument(store)) {
      store->Release();
      return nullptr;
    }
    Pump();
    return store;
  }
};

FrameSetup& Setup() {
  static FrameSetup setup;
  return setup;
}

void BM_PaintPageAt10M(benchmark::State& state) {
  FrameSetup& setup = Setup();
  if (setup.frame == nullptr || !setup.AddBigFile()) {
    state.SkipWithError("no frame");
    return;
  }
  CKeltracerView& list = setup.frame->List();
  list.EnsureVisible(int(kViewRecords / 2), FALSE);
  Pump();
  for (auto _ : state) {
    list.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  }
  state.counters["rows_per_page"] = list.GetCountPerPage();
  state.counters["rows"] = double(list.GetItemCount());
}
BENCHMARK(BM_PaintPageAt10M)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Showing the 10-million-row view again with one row selected and focused:
// the frame clears the old selection before it places the list.
void BM_ShowViewAt10MWithSelection(benchmark::State& state) {
  FrameSetup& setup = Setup();
  if (setup.frame == nullptr || !setup.AddBigFile()) {
    state.SkipWithError("no frame");
    return;
  }
  CKeltracerView& list = setup.frame->List();
  CTraceView* view = setup.file->m_views[0];
  const int row = int(kViewRecords / 2);
  for (auto _ : state) {
    state.PauseTiming();
    list.SetItemState(row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    Pump();
    state.ResumeTiming();
    setup.frame->UpdateView(view, 1, 1, 0, nullptr);
  }
  state.counters["selected_after"] = double(list.GetSelectedCount());
}
BENCHMARK(BM_ShowViewAt10MWithSelection)->Unit(benchmark::kMillisecond)->Iterations(5);

double NowMs() {
  LARGE_INTEGER frequency, now;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&now);
  return double(now.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

enum SelectionInput { kInputDown = 0, kInputPageDown = 1, kInputClick = 2 };

// A selection move as the user makes it, from the input to the repainted
// list: Down, Page Down or a click on a row a few rows further, each from a
// selected row in the middle of a view of 10 thousand to 10 million rows.
void BM_SelectionMove(benchmark::State& state) {
  FrameSetup& setup = Setup();
  const size_t rows = size_t(state.range(0));
  const auto input = SelectionInput(state.range(1));
  if (setup.frame == nullptr || setup.ShowFile(rows) == nullptr) {
    state.SkipWithError("no frame");
    return;
  }
  CKeltracerView& list = setup.frame->List();
  list.SetFocus();
  const int start = int(rows / 2);
  constexpr UINT kBoth = LVIS_SELECTED | LVIS_FOCUSED;
  constexpr int kClickedRowsFurther = 3;
  double worst = 0;
  for (auto _ : state) {
    list.SetItemState(-1, 0, kBoth);
    list.SetItemState(start, kBoth, kBoth);
    list.SendMessage(LVM_SETSELECTIONMARK, 0, start);
    list.EnsureVisible(start + list.GetCountPerPage() / 2, FALSE);  // the row in the middle of the page
    list.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    Pump();
    RECT target = {};
    list.GetItemRect(start + kClickedRowsFurther, &target, LVIR_BOUNDS);
    const LPARAM at = MAKELPARAM(target.left + 20, (target.top + target.bottom) / 2);
    const double began = NowMs();
    switch (input) {
      case kInputDown:
      case kInputPageDown: {
        const WPARAM key = input == kInputDown ? VK_DOWN : VK_NEXT;
        list.SendMessage(WM_KEYDOWN, key, 1);
        list.SendMessage(WM_KEYUP, key, LPARAM(0xC0000001));
        break;
      }
      case kInputClick:
        // The release waits in the queue, as a real one would.
        list.PostMessage(WM_LBUTTONUP, 0, at);
        list.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, at);
        break;
    }
    Pump();
    list.UpdateWindow();
    const double took = NowMs() - began;
    worst = took > worst ? took : worst;
    state.SetIterationTime(took / 1000.0);
  }
  const int selected = list.GetNextItem(-1, LVNI_SELECTED);
  state.counters["moved_by"] = double(selected - start);
  state.counters["rows_per_page"] = list.GetCountPerPage();
  state.counters["worst_ms"] = worst;
}
BENCHMARK(BM_SelectionMove)
    ->ArgsProduct({{10000, 1000000, 10000000}, {kInputDown, kInputPageDown, kInputClick}})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(10);

double ThreadCpuMs() {
  FILETIME created, exited, kernel, user;
  if (!::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
  const auto ticks = [](const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return double(ticks(kernel) + ticks(user)) / 10000.0;
}

std::wstring WriterPath() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path);
  folder.resize(folder.find_last_of(L"\\/") + 1);
  return folder + L"..\\tools\\trace-writer\\trace-writer.exe";
}

// The longest dispatched message of a stretch of the message loop: how long
// the user-interface thread kept input waiting.
struct LoopStall {
  double longestMs = 0;
  double longestCpuMs = 0;  // of the longest: the rest was waiting for a processor or the server
  UINT longestMessage = 0;
  double busyMs = 0;
  size_t dispatched = 0;

  // Pumps until `done` says so or `ms` have passed.
  template <class Done>
  void Pump(DWORD ms, Done done) {
    LARGE_INTEGER frequency, start, now;
    ::QueryPerformanceFrequency(&frequency);
    const ULONGLONG end = ::GetTickCount64() + ms;
    while (::GetTickCount64() < end && !done()) {
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, kPollMs, QS_ALLINPUT);
      MSG msg;
      while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        const double cpuBefore = ThreadCpuMs();
        ::QueryPerformanceCounter(&start);
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
        ::QueryPerformanceCounter(&now);
        const double elapsed = double(now.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart);
        if (elapsed > longestMs) {
          longestMs = elapsed;
          longestMessage = msg.message;
          longestCpuMs = ThreadCpuMs() - cpuBefore;
        }
        busyMs += elapsed;
        ++dispatched;
      }
    }
  }
};

// The live delay as the user sees it: from a trace writer's record to its
// row painted in the live capture's list, with sorting off (0) and on (1).
// Each round starts a writer that waits for an event, releases it and pumps
// the frame's messages until the row count grows.
void BM_LiveDelay(benchmark::State& state) {
  FrameSetup& setup = Setup();
  if (setup.frame == nullptr || setup.frame->Capture() == nullptr) {
    state.SkipWithError("no capture");
    return;
  }
  const int previousSort = int(g_appConfig.m_sortEnable);
  g_appConfig.m_sortEnable = uint32_t(state.range(0));
  setup.frame->ViewStrip().SelectGroup(0);
  Pump();
  CKeltracerView& list = setup.frame->List();
  constexpr DWORD kWriterReadyMs = 700;
  constexpr DWORD kRowWaitMs = 8000;
  std::vector<double> delays;
  int round = 0;
  for (auto _ : state) {
    const std::wstring event = L"ktbench_live_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                               std::to_wstring(++round);
    HANDLE start = ::CreateEventW(nullptr, TRUE, FALSE, event.c_str());
    std::wstring command = L"\"" + WriterPath() + L"\" --count 1 --batch 1 --linger 3000 --start-event " + event;
    STARTUPINFOW startup = {sizeof(startup)};
    PROCESS_INFORMATION info = {};
    if (start == nullptr || !::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                                              nullptr, nullptr, &startup, &info)) {
      if (start != nullptr) ::CloseHandle(start);
      state.SkipWithError("no writer");
      break;
    }
    // The writer maps its ring and waits; the frame's list settles meanwhile.
    // The extra wait spreads the releases over the second of the capture's
    // and the window's timers, whose phase decides most of the delay.
    constexpr DWORD kPhaseStepMs = 379;
    constexpr DWORD kPhaseSpanMs = 1000;
    LoopStall idle;
    idle.Pump(kWriterReadyMs + DWORD(round) * kPhaseStepMs % kPhaseSpanMs, [] { return false; });
    const int rowsBefore = list.GetItemCount();
    const double began = NowMs();
    ::SetEvent(start);
    LoopStall wait;
    wait.Pump(kRowWaitMs, [&] { return list.GetItemCount() > rowsBefore; });
    list.UpdateWindow();
    const double took = NowMs() - began;
    const bool arrived = list.GetItemCount() > rowsBefore;
    ::TerminateProcess(info.hProcess, 0);
    ::WaitForSingleObject(info.hProcess, INFINITE);
    ::CloseHandle(info.hProcess);
    ::CloseHandle(info.hThread);
    ::CloseHandle(start);
    if (!arrived) {
      state.SkipWithError("the record never arrived");
      break;
    }
    delays.push_back(took);
    state.SetIterationTime(took / 1000.0);
  }
  g_appConfig.m_sortEnable = uint32_t(previousSort);
  if (delays.empty()) return;
  std::sort(delays.begin(), delays.end());
  state.counters["median_ms"] = delays[delays.size() / 2];
  state.counters["shortest_ms"] = delays.front();
  state.counters["longest_ms"] = delays.back();
}

// The live capture shown while four writers write without pause: every
// dispatched message is timed, the refresh timer's and the paints included.
// The first refresh that shows rows is counted apart (first_stall_ms): it
// falls into the writers' start-up and brings the scroll bar and the first
// glyphs of their texts; stall_ms is the longest after it.
void BM_RefreshWhileWritersWrite(benchmark::State& state) {
  FrameSetup& setup = Setup();
  if (setup.frame == nullptr || setup.frame->Capture() == nullptr) {
    state.SkipWithError("no capture");
    return;
  }
  setup.frame->DocumentStrip().Model().SelectItem(0);
  Pump();
  LoopStall first, steady;
  int rowsAtEnd = 0;
  setup.frame->Capture()->TakeLongestHoldMicros();
  for (auto _ : state) {
    std::vector<PROCESS_INFORMATION> writers;
    for (int i = 0; i < kWriters; ++i) {
      std::wstring command = L"\"" + WriterPath() + L"\" --count 2000000 --batch 256 --threads 1";
      STARTUPINFOW startup = {sizeof(startup)};
      PROCESS_INFORMATION info = {};
      if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                           &startup, &info)) {
        writers.push_back(info);
      }
    }
    CKeltracerView& list = setup.frame->List();
    const int rowsBefore = list.GetItemCount();
    first.Pump(kFirstRowsMs, [&] { return list.GetItemCount() > rowsBefore; });
    steady.Pump(kLoadMs, [] { return false; });
    rowsAtEnd = list.GetItemCount();
    for (PROCESS_INFORMATION& info : writers) {
      ::TerminateProcess(info.hProcess, 0);
      ::WaitForSingleObject(info.hProcess, INFINITE);
      ::CloseHandle(info.hProcess);
      ::CloseHandle(info.hThread);
    }
  }
  state.counters["stall_ms"] = steady.longestMs;
  state.counters["stall_cpu_ms"] = steady.longestCpuMs;
  state.counters["longest_message"] = steady.longestMessage;
  state.counters["busy_ms"] = steady.busyMs;
  state.counters["dispatched"] = double(steady.dispatched);
  state.counters["first_stall_ms"] = first.longestMs;
  state.counters["first_stall_cpu_ms"] = first.longestCpuMs;
  state.counters["rows"] = rowsAtEnd;
  state.counters["popups"] = g_popups;
  state.counters["capture_hold_ms"] = double(setup.frame->Capture()->TakeLongestHoldMicros()) / 1000.0;
}
BENCHMARK(BM_RefreshWhileWritersWrite)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_LiveDelay)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(12);

}  // namespace
