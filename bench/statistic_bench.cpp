// The statistic dialog's Analyze over a view of a million records holding
// 10,000 distinct message texts, with the key word ",": the whole time of
// one analysis, and the longest time between two messages that the
// counting pump handled (a message is posted again each time it is
// handled, so the queue is never empty for long).
#include <benchmark/benchmark.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "tests/core/RecordFixture.h"
#include "ui/controls/TabModel.h"
#include "ui/dialogs/StatisticDlg.h"

namespace {

constexpr size_t kRecords = 1000000;
constexpr size_t kDistinctTexts = 10000;
constexpr UINT kMsgTick = WM_APP + 1;

std::wstring MessageText(size_t k) {
  return L"Worker " + std::to_wstring(k) + L" changed its state, code " + std::to_wstring(k % 7) + L", retry " +
         std::to_wstring(k % 3);
}

// Handles ticks: each one notes the time since the last and posts the next.
struct Ticker {
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kMsgTick) {
      Ticker* self = reinterpret_cast<Ticker*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
      LARGE_INTEGER now;
      ::QueryPerformanceCounter(&now);
      if (self->ticks == 0) {
        self->first = now.QuadPart;
      } else {
        self->longest = std::max(self->longest, now.QuadPart - self->last);
      }
      self->last = now.QuadPart;
      ++self->ticks;
      if (self->running) ::PostMessageW(hwnd, kMsgTick, 0, 0);
      return 0;
    }
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
  }
  HWND hwnd = nullptr;
  bool running = false;
  uint64_t ticks = 0;
  LONGLONG first = 0, last = 0, longest = 0;
};

void Pump() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message != WM_QUIT) ::DispatchMessageW(&msg);
  }
}

// A store of a million records and the dialog over it, made once: a
// top-level window costs seconds under Xvfb.
struct Setup {
  CTraceFile store;
  CTraceView* view = nullptr;
  CTabStripModel strip{TabStripKind::View};
  HWND owner = nullptr;
  CTraceStatisticDlg* dialog = nullptr;
  Ticker ticker;
  bool ready = false;

  Setup() {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
    static const wchar_t* const kModules[] = {L"kelcore.dll", L"kelnet.dll", L"kelui.dll", L"kelmain.exe"};
    std::vector<std::wstring> texts;
    uint64_t bytes = kTraceHeaderSize;
    for (size_t k = 0; k < kDistinctTexts; ++k) texts.push_back(MessageText(k));
    std::vector<RecordSpec> specs(kRecords);
    for (size_t i = 0; i < kRecords; ++i) {
      RecordSpec& spec = specs[i];
      spec.module = kModules[i % 4];
      spec.message = texts[(i * 7919) % kDistinctTexts].c_str();
      spec.groupFlag = 1;
      wchar_t pt[32];
      bytes += RecordBytesFor(spec, pt, 32);
    }
    store.SetFileName(L"", L"bench.ktr");
    if (!store.GrowBuffer(uint32_t(bytes))) return;
    for (const RecordSpec& spec : specs) {
      if (AddRecord(&store, spec) == nullptr) return;
    }
    if (!store.AddView(L"ALL", kAllGroups, kRecords)) return;
    view = store.m_views[0];
    if (strip.AddGroup(L"bench.ktr", reinterpret_cast<uint64_t>(&store)) < 0 ||
        strip.AddItem(0, L"ALL", -1, reinterpret_cast<uint64_t>(view), 0) < 0 || !strip.SelectItem(0)) {
      return;
    }
    WNDCLASSW wc = {};
    wc.lpfnWndProc = Ticker::Proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"StatisticBenchOwner";
    ::RegisterClassW(&wc);
    owner = ::CreateWindowExW(0, wc.lpszClassName, L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 900, 700,
                              nullptr, nullptr, wc.hInstance, nullptr);
    if (owner == nullptr) return;
    ::SetWindowLongPtrW(owner, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&ticker));
    dialog = CTraceStatisticDlg::Open(&dialog, owner, &strip);
    Pump();
    ready = dialog != nullptr && view->RecordCount() == kRecords;
  }
  ~Setup() {
    if (dialog != nullptr) ::DestroyWindow(dialog->m_hWnd);
    if (owner != nullptr) ::DestroyWindow(owner);
    Pump();
  }
};

Setup& Bench() {
  static Setup setup;
  return setup;
}

std::wstring DialogText(HWND dialog, int id) {
  wchar_t text[64] = {};
  ::GetDlgItemTextW(dialog, id, text, 64);
  return text;
}

void StatisticAnalyze(benchmark::State& state) {
  Setup& bench = Bench();
  if (!bench.ready) {
    state.SkipWithError("the store or the dialog could not be made");
    return;
  }
  HWND dialog = bench.dialog->m_hWnd;
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  LONGLONG longest = 0, collecting = 0;
  uint64_t ticks = 0;
  for (auto _ : state) {
    Ticker& ticker = bench.ticker;
    ticker = Ticker{bench.owner, true};
    LARGE_INTEGER start;
    ::QueryPerformanceCounter(&start);
    // Only the counting pump takes posted messages while Analyze runs.
    ::PostMessageW(bench.owner, kMsgTick, 0, 0);
    ::SendDlgItemMessageW(dialog, IDC_STAT_ANALYZE, BM_CLICK, 0, 0);
    ticker.running = false;
    longest = std::max(longest, ticker.longest);
    collecting = std::max(collecting, ticker.first - start.QuadPart);
    ticks += ticker.ticks;
    state.PauseTiming();
    Pump();
    state.ResumeTiming();
  }
  if (DialogText(dialog, IDC_STAT_TOTAL) != std::to_wstring(kRecords) ||
      DialogText(dialog, IDC_STAT_ROWS) != std::to_wstring(kDistinctTexts)) {
    state.SkipWithError("the analysis gave another result");
    return;
  }
  state.counters["longest_gap_ms"] = double(longest) * 1000.0 / double(frequency.QuadPart);
  state.counters["before_pump_ms"] = double(collecting) * 1000.0 / double(frequency.QuadPart);
  state.counters["pumped"] = double(ticks) / double(state.iterations());
}
BENCHMARK(StatisticAnalyze)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The counting alone, without a window: the longest of its steps of 1024
// units (the pump looks at the clock between two steps), over the same rows.
void StatisticCounterSteps(benchmark::State& state) {
  Setup& bench = Bench();
  if (!bench.ready) {
    state.SkipWithError("the store could not be made");
    return;
  }
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  LONGLONG longest = 0;
  size_t rows = 0;
  for (auto _ : state) {
    state.PauseTiming();
    CStatisticRows statistic;
    statistic.Reserve(kRecords);
    for (size_t i = 0; i < bench.view->RecordCount(); ++i) {
      const TraceRecord* record = bench.view->RecordAt(i);
      statistic.Add(record->Module(), record->Message());
    }
    CStatisticCounter counter;
    state.ResumeTiming();
    counter.Start(&statistic, L",");
    for (bool done = false; !done;) {
      LARGE_INTEGER before, after;
      ::QueryPerformanceCounter(&before);
      done = counter.Step(1024);
      ::QueryPerformanceCounter(&after);
      longest = std::max(longest, after.QuadPart - before.QuadPart);
    }
    rows = statistic.Count();
  }
  if (rows != kDistinctTexts) {
    state.SkipWithError("the counting gave another result");
    return;
  }
  state.counters["longest_step_ms"] = double(longest) * 1000.0 / double(frequency.QuadPart);
}
BENCHMARK(StatisticCounterSteps)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// What one look at an empty queue costs: why the counting works in slices
// of several milliseconds instead of looking before every comparison.
void PeekMessageEmptyQueue(benchmark::State& state) {
  MSG msg;
  for (auto _ : state) {
    benchmark::DoNotOptimize(::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  }
}
BENCHMARK(PeekMessageEmptyQueue);

}  // namespace
