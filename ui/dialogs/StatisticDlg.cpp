#include "ui/dialogs/StatisticDlg.h"

#include <commctrl.h>

#include <cstdio>
#include <new>

#include "core/StoreLock.h"
#include "core/TraceView.h"
#include "ui/framework/MessageLoop.h"

namespace {

// The counting works this long between two looks at the message queue; far
// below what a user notices, long enough that the looks cost little.
constexpr LONGLONG kCountingSliceMicroseconds = 8000;
// The longest time spent on waiting messages before the counting goes on.
constexpr LONGLONG kPumpSliceMicroseconds = 2000;
// Work units between two looks at the clock.
constexpr size_t kCountingStepUnits = 1024;

constexpr wchar_t kStatusCollecting[] = L"Get total log count...";
constexpr wchar_t kStatusSortingText[] = L"sorting...";
constexpr wchar_t kStatusCounting[] = L"Doing statistic...";
constexpr wchar_t kStatusSortingCount[] = L"Sorting...";
constexpr wchar_t kStatusShowing[] = L"Showing result...";

constexpr wchar_t kDefaultShowTop[] = L"20";
constexpr wchar_t kDefaultKeyWord[] = L",";

struct ColumnSpec {
  const wchar_t* title;
  int width;
};
constexpr ColumnSpec kColumns[] = {
    {L"#", 40}, {L"Dll/Exe Name", 80}, {L"Ratio", 50}, {L"Count", 50}, {L"Message", 1000},
};

LONGLONG NowMicroseconds() {
  static const LONGLONG frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return f.QuadPart;
  }();
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return now.QuadPart / frequency * 1000000 + now.QuadPart % frequency * 1000000 / frequency;
}

CTraceView* SelectedView(const CTabStripModel* strip) {
  if (strip == nullptr) {
    return nullptr;
  }
  const TabGroup* group = strip->CurrentGroup();
  if (group == nullptr) {
    return nullptr;
  }
  const TabItem* item = group->Item(group->selected);
  return item != nullptr ? reinterpret_cast<CTraceView*>(item->data) : nullptr;
}

std::wstring FormatUnsigned(uint64_t value) {
  wchar_t text[32];
  std::swprintf(text, std::size(text), L"%llu", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

CTraceStatisticDlg::CTraceStatisticDlg() = default;

CTraceStatisticDlg::~CTraceStatisticDlg() = default;

CTraceStatisticDlg* CTraceStatisticDlg::Open(CTraceStatisticDlg** ownerSlot, HWND parent,
                                             const CTabStripModel* viewStrip) {
  auto* dialog = new (std::nothrow) CTraceStatisticDlg;
  if (dialog == nullptr) {
    return nullptr;
  }
  dialog->SetViewStrip(viewStrip);
  if (dialog->Create(parent, ownerSlot) == nullptr) {
    delete dialog;
    return nullptr;
  }
  dialog->ShowWindow(SW_SHOW);
  return dialog;
}

BOOL CTraceStatisticDlg::OnInit() {
  ::SetWindowTextW(m_hWnd, L"Stastistic");
  ::SetDlgItemTextW(m_hWnd, IDC_STAT_TOP, kDefaultShowTop);
  ::SetDlgItemTextW(m_hWnd, IDC_STAT_KEY, kDefaultKeyWord);
  ::SendDlgItemMessageW(m_hWnd, IDC_STAT_KEY, EM_LIMITTEXT, kStatisticKeyChars, 0);
  SetStatus(L"Prepared to analyze...");
  m_list.SubclassWindow(::GetDlgItem(m_hWnd, IDC_STAT_LIST));
  for (size_t i = 0; i < std::size(kColumns); ++i) {
    m_list.InsertColumn(int(i), kColumns[i].title, LVCFMT_LEFT, kColumns[i].width);
  }
  m_progress = ::GetDlgItem(m_hWnd, IDC_STAT_PROGRESS);
  return TRUE;
}

LRESULT CTraceStatisticDlg::OnDestroy(UINT, WPARAM, LPARAM) {
  // A window destroyed from outside (the frame closing) while counting runs
  // ends the counting at its next step.
  ::InterlockedExchange(&m_cancel, 1);
  SetMsgHandled(FALSE);
  return 0;
}

void CTraceStatisticDlg::SetStatus(const wchar_t* text) { ::SetDlgItemTextW(m_hWnd, IDC_STAT_STATUS, text); }

void CTraceStatisticDlg::SetProgress(uint32_t percent) {
  if (m_progress != nullptr) {
    ::SendMessageW(m_progress, PBM_SETPOS, percent, 0);
  }
}

LRESULT CTraceStatisticDlg::OnAnalyze(WORD, WORD, HWND) {
  // The counting pump hands this dialog its own clicks: a second analysis
  // never starts inside the first.
  if (m_analyzing) {
    return 0;
  }
  m_analyzing = true;
  ::InterlockedExchange(&m_cancel, 0);
  m_quitTaken = false;
  bool shown = false;
  try {
    wchar_t key[kStatisticKeyChars + 1] = {};
    ::GetDlgItemTextW(m_hWnd, IDC_STAT_KEY, key, int(std::size(key)));
    m_keyWord = key;
    wchar_t top[32] = {};
    ::GetDlgItemTextW(m_hWnd, IDC_STAT_TOP, top, int(std::size(top)));
    m_showTop = ParseStatisticShowTop(top);
    if (m_progress != nullptr) {
      ::SendMessageW(m_progress, PBM_SETRANGE32, 0, 100);
    }
    if (CollectRows() && DoStatistic()) {
      ShowResult();
      shown = true;
    }
  } catch (const std::bad_alloc&) {
    m_rows.Clear();
    m_counter.Reset();
  }
  m_analyzing = false;
  if (!shown) {
    m_counter.Reset();
  }
  const bool quitTaken = m_quitTaken;
  const int quitCode = m_quitCode;
  if (m_closePending && ::IsWindow(m_hWnd)) {
    TearDown();
  }
  if (quitTaken) {
    ::PostQuitMessage(quitCode);
  }
  return 0;
}

bool CTraceStatisticDlg::CollectRows() {
  SetStatus(kStatusCollecting);
  // The old result's rows go now: the list must not offer rows that no
  // longer exist while the new ones are counted.
  m_list.DeleteAllItems();
  ::EnableWindow(::GetDlgItem(m_hWnd, IDC_STAT_DETAIL), FALSE);
  m_rows.Clear();
  m_total = 0;
  CTraceView* view = SelectedView(m_viewStrip);
  if (view == nullptr) {
    return true;
  }
  // Records are read only here, under the shared lock: the capture thread
  // appends to live views.
  const CStoreLock lock(view->m_owner, kLockShared);
  if (!lock.Held()) {
    return false;
  }
  const size_t count = view->RecordCount();
  m_total = count;
  m_rows.Reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const TraceRecord* record = view->RecordAt(i);
    m_rows.Add(record->Module(), record->Message());
  }
  return true;
}

void CTraceStatisticDlg::PumpMessage(MSG& msg) {
  // The thread's filters and its modeless dialogs (this one among them)
  // look at the message first, as in the loop this pump stands in for.
  CMessageLoop* loop = CMessageLoop::ForCurrentThread();
  const BOOL taken = loop != nullptr ? loop->PreTranslateMessage(&msg) : CMessageLoop::IsModelessDialogMessage(&msg);
  if (taken) {
    return;
  }
  ::TranslateMessage(&msg);
  ::DispatchMessageW(&msg);
}

bool CTraceStatisticDlg::DoStatistic() {
  SetStatus(kStatusSortingText);
  m_counter.Start(&m_rows, m_keyWord.c_str());
  CStatisticCounter::Phase phase = m_counter.CurrentPhase();
  for (;;) {
    // Messages first: every one waiting, but for a bounded time, so that a
    // window posting itself a message per message cannot starve the counting.
    const LONGLONG pumpEnd = NowMicroseconds() + kPumpSliceMicroseconds;
    MSG msg;
    while (m_cancel == 0 && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        // The program is ending: stop here, and let the loop that owns the
        // quit message see it again.
        m_quitTaken = true;
        m_quitCode = int(msg.wParam);
        ::InterlockedExchange(&m_cancel, 1);
        break;
      }
      PumpMessage(msg);
      if (NowMicroseconds() >= pumpEnd) {
        break;
      }
    }
    if (m_cancel != 0) {
      return false;
    }
    const LONGLONG sliceEnd = NowMicroseconds() + kCountingSliceMicroseconds;
    bool done = false;
    do {
      done = m_counter.Step(kCountingStepUnits);
    } while (!done && m_counter.CurrentPhase() == phase && NowMicroseconds() < sliceEnd);
    if (m_counter.CurrentPhase() != phase) {
      phase = m_counter.CurrentPhase();
      if (phase == CStatisticCounter::Phase::Merging) {
        SetStatus(kStatusCounting);
        SetProgress(0);
      } else if (phase == CStatisticCounter::Phase::SortingCount) {
        SetProgress(100);
        SetStatus(kStatusSortingCount);
        SetProgress(0);
      }
    } else if (phase == CStatisticCounter::Phase::Merging) {
      SetProgress(m_counter.MergeProgress());
    }
    if (done) {
      return m_cancel == 0;
    }
  }
}

void CTraceStatisticDlg::ShowResult() {
  SetStatus(kStatusShowing);
  ::SetDlgItemTextW(m_hWnd, IDC_STAT_TOTAL, FormatUnsigned(m_total).c_str());
  ::SetDlgItemTextW(m_hWnd, IDC_STAT_ROWS, FormatUnsigned(m_rows.Count()).c_str());
  m_list.DeleteAllItems();
  m_list.SendMessage(WM_SETREDRAW, FALSE);
  SetProgress(0);
  const size_t shown = StatisticRowsShown(m_showTop, m_rows.Count());
  for (size_t i = 0; i < shown; ++i) {
    const CStatisticRow& row = m_rows[i];
    const int item = m_list.InsertItem(int(i), FormatUnsigned(i + 1).c_str());
    if (item < 0) {
      break;
    }
    const std::wstring name(m_rows.Name(row));
    const std::wstring text(m_rows.Text(row));
    m_list.SetItemText(item, 1, name.c_str());
    m_list.SetItemText(item, 2, FormatStatisticRatio(row.count, m_total).c_str());
    m_list.SetItemText(item, 3, FormatUnsigned(uint32_t(row.count)).c_str());
    m_list.SetItemText(item, 4, text.c_str());
    SetProgress(uint32_t((i + 1) * 100 / shown));
  }
  SetProgress(100);
  m_list.SendMessage(WM_SETREDRAW, TRUE);
  ::InvalidateRect(m_list.m_hWnd, nullptr, TRUE);
}

void CTraceStatisticDlg::SendRequest(size_t row) {
  if (row >= m_rows.Count()) {
    return;
  }
  const std::wstring text = StatisticFilterText(m_rows, m_rows[row], m_keyWord.c_str());
  m_filterText = text.c_str();
  // Set before every request: each tab opened for it gets the statistic title.
  m_requestFlag = true;
  if (m_parent != nullptr) {
    ::SendMessageW(m_parent, WM_KT_STATISTIC_REQUEST, WPARAM(m_requestFlag), reinterpret_cast<LPARAM>(m_filterText.c_str()));
  }
  m_requestFlag = false;
}

LRESULT CTraceStatisticDlg::OnDetail(WORD, WORD, HWND) {
  if (m_analyzing) {
    return 0;
  }
  for (int item = m_list.GetNextItem(-1, LVNI_SELECTED); item >= 0; item = m_list.GetNextItem(item, LVNI_SELECTED)) {
    SendRequest(size_t(item));
    if (m_hWnd == nullptr || m_analyzing) {
      break;
    }
  }
  return 0;
}

LRESULT CTraceStatisticDlg::OnListDoubleClick(int, NMHDR* header) {
  const auto* activate = reinterpret_cast<const NMITEMACTIVATE*>(header);
  if (!m_analyzing && activate->iItem >= 0) {
    SendRequest(size_t(activate->iItem));
  }
  return 0;
}

LRESULT CTraceStatisticDlg::OnListItemChanged(int, NMHDR* header) {
  const auto* change = reinterpret_cast<const NMLISTVIEW*>(header);
  if ((change->uChanged & LVIF_STATE) != 0) {
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_STAT_DETAIL), m_list.GetSelectedCount() > 0);
  }
  return 0;
}

LRESULT CTraceStatisticDlg::OnCancelCommand(WORD, WORD, HWND) {
  ::InterlockedExchange(&m_cancel, 1);
  if (m_analyzing) {
    // The counting step is still on the stack: it sees the flag at its next
    // step, and the analysis tears the dialog down once it has returned.
    m_closePending = true;
    return 0;
  }
  TearDown();
  return 0;
}

void CTraceStatisticDlg::TearDown() {
  m_counter.Reset();
  m_rows.Clear();
  DestroyWindow();
}
