// The statistic dialog opened for real over a store of generated records:
// the analysis, the result list, the requests it sends its owner, and the
// ways it ends while the counting runs.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "tests/core/RecordFixture.h"
#include "tests/ui/UiHarness.h"
#include "ui/controls/TabModel.h"
#include "ui/dialogs/StatisticDlg.h"

namespace {

// A store whose lock can be refused, and that counts what was taken.
class CCountingStore : public CTraceMgr {
 public:
  ~CCountingStore() override {
    std::free(m_buffer);
    m_buffer = nullptr;
  }
  int GrowBuffer(uint32_t bytes) override {
    if (m_buffer != nullptr) return 0;
    m_buffer = static_cast<TraceBufferHeader*>(std::malloc(bytes));
    InitBufferHeader(m_buffer, bytes);
    return 1;
  }
  int Lock(int mode, int) override {
    if (refuseLock) return 0;
    ++locks;
    lastMode = mode;
    return 1;
  }
  void Unlock(int) override { ++unlocks; }

  bool refuseLock = false;
  int locks = 0;
  int unlocks = 0;
  int lastMode = 0;
};

struct Request {
  WPARAM flag;
  std::wstring text;
  bool dialogFlag;  // the dialog's own request flag while the owner handles it
};

std::vector<Request> g_requests;
CTraceStatisticDlg* g_requestDialog = nullptr;
WNDPROC g_hostProc = nullptr;

// Posted to the host: it destroys the window in lParam.
constexpr UINT kMsgDestroyDialog = WM_APP + 40;

// Posted to the host: it posts itself the next one while the watched
// dialog analyses, up to a limit that a starved counting reaches.
constexpr UINT kMsgSelfPost = WM_APP + 41;
constexpr int kSelfPostLimit = 200000;
int g_selfPosts = 0;
bool g_starved = false;

CTraceStatisticDlg* g_watched = nullptr;

LRESULT CALLBACK RecordingHostProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == kMsgSelfPost) {
    const bool analyzing = g_watched != nullptr && g_watched->IsAnalyzing();
    if (++g_selfPosts >= kSelfPostLimit) {
      g_starved = analyzing;
    } else if (analyzing) {
      ::PostMessageW(hwnd, kMsgSelfPost, 0, 0);
    }
    return 0;
  }
  if (msg == kMsgDestroyDialog) {
    ::DestroyWindow(reinterpret_cast<HWND>(lParam));
    return 0;
  }
  if (msg == WM_KT_STATISTIC_REQUEST) {
    g_requests.push_back({wParam, reinterpret_cast<const wchar_t*>(lParam),
                          g_requestDialog != nullptr && g_requestDialog->m_requestFlag});
    return 0;
  }
  return ::CallWindowProcW(g_hostProc, hwnd, msg, wParam, lParam);
}

// Whether the dialog was still counting when its window went.
HWND g_watchedWindow = nullptr;
int g_destroyedWhileAnalyzing = -1;
LRESULT CALLBACK WatchDestroy(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_DESTROYWND && reinterpret_cast<HWND>(wParam) == g_watchedWindow && g_watched != nullptr) {
    g_destroyedWhileAnalyzing = g_watched->IsAnalyzing() ? 1 : 0;
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

class StatisticDlgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_requests.clear();
    g_requestDialog = nullptr;
    g_hostProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(host.get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingHostProc)));
    ASSERT_TRUE(store.GrowBuffer(1 << 22));
  }
  void TearDown() override {
    if (slot != nullptr) {
      ::DestroyWindow(slot->m_hWnd);
    }
    EXPECT_EQ(nullptr, slot);
    ::SetWindowLongPtrW(host.get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_hostProc));
    if (view != nullptr) view->Release();
  }

  void AddRecords(const std::vector<std::pair<const wchar_t*, const wchar_t*>>& records) {
    for (const auto& [module, message] : records) {
      RecordSpec spec;
      spec.module = module;
      spec.message = message;
      spec.groupFlag = 1;
      ASSERT_NE(nullptr, AddRecord(&store, spec));
    }
  }
  // The view of every record, shown as the selected tab of the strip.
  void MakeView() {
    view = new CTraceView(&store, L"ALL", kAllGroups);
    ASSERT_TRUE(view->Rebuild());
    ASSERT_GE(strip.AddGroup(L"run.ktr", reinterpret_cast<uint64_t>(&store)), 0);
    ASSERT_GE(strip.AddItem(0, L"ALL", -1, reinterpret_cast<uint64_t>(view), 0), 0);
    ASSERT_TRUE(strip.SelectItem(0));
  }
  void Open() {
    ASSERT_NE(nullptr, CTraceStatisticDlg::Open(&slot, host.get(), &strip));
    ASSERT_NE(nullptr, slot);
    g_requestDialog = slot;
    dialog = slot->m_hWnd;
  }
  void SetText(int id, const wchar_t* text) { ::SetDlgItemTextW(dialog, id, text); }
  std::wstring Text(int id) {
    wchar_t buffer[512] = {};
    ::GetDlgItemTextW(dialog, id, buffer, 512);
    return buffer;
  }
  void Click(int id) { ::SendDlgItemMessageW(dialog, id, BM_CLICK, 0, 0); }
  HWND List() { return ::GetDlgItem(dialog, IDC_STAT_LIST); }
  std::wstring Cell(int item, int column) {
    wchar_t buffer[512] = {};
    LVITEMW lv = {};
    lv.iSubItem = column;
    lv.pszText = buffer;
    lv.cchTextMax = 512;
    ::SendMessageW(List(), LVM_GETITEMTEXTW, item, reinterpret_cast<LPARAM>(&lv));
    return buffer;
  }
  int ItemCount() { return int(::SendMessageW(List(), LVM_GETITEMCOUNT, 0, 0)); }
  void Select(int item, bool selected) {
    LVITEMW lv = {};
    lv.stateMask = LVIS_SELECTED;
    lv.state = selected ? LVIS_SELECTED : 0;
    ::SendMessageW(List(), LVM_SETITEMSTATE, item, reinterpret_cast<LPARAM>(&lv));
  }
  bool DetailEnabled() { return ::IsWindowEnabled(::GetDlgItem(dialog, IDC_STAT_DETAIL)) != FALSE; }

  kt_test::CTestHostWindow host{800, 600};
  CCountingStore store;
  CTraceView* view = nullptr;
  CTabStripModel strip{TabStripKind::View};
  CTraceStatisticDlg* slot = nullptr;
  HWND dialog = nullptr;
};

TEST_F(StatisticDlgTest, StartsWithItsDefaults) {
  AddRecords({{L"a.dll", L"x"}});
  MakeView();
  Open();
  wchar_t title[64] = {};
  ::GetWindowTextW(dialog, title, 64);
  EXPECT_STREQ(L"Stastistic", title);
  EXPECT_EQ(L"20", Text(IDC_STAT_TOP));
  EXPECT_EQ(L",", Text(IDC_STAT_KEY));
  EXPECT_EQ(L"Prepared to analyze...", Text(IDC_STAT_STATUS));
  EXPECT_FALSE(DetailEnabled());
  HWND header = reinterpret_cast<HWND>(::SendMessageW(List(), LVM_GETHEADER, 0, 0));
  EXPECT_EQ(5, int(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)));
  EXPECT_EQ(1000, int(::SendMessageW(List(), LVM_GETCOLUMNWIDTH, 4, 0)));
  EXPECT_TRUE(::IsWindowVisible(dialog));
  
}

TEST_F(StatisticDlgTest, AnalyzeCountsTheShownViewAndListsTheTopRows) {
  AddRecords({{L"net.dll", L"open,port 1"},
              {L"ui.dll", L"paint"},
              {L"net.dll", L"open,port 2"},
              {L"net.dll", L"open,port 3"},
              {L"core.dll", L"close,now"}});
  MakeView();
  Open();
  Click(IDC_STAT_ANALYZE);
  EXPECT_EQ(1, store.locks);
  EXPECT_EQ(1, store.unlocks);
  EXPECT_EQ(kLockShared, store.lastMode);
  EXPECT_EQ(L"Showing result...", Text(IDC_STAT_STATUS));
  EXPECT_EQ(L"5", Text(IDC_STAT_TOTAL));
  EXPECT_EQ(L"3", Text(IDC_STAT_ROWS));
  ASSERT_EQ(3, ItemCount());
  EXPECT_EQ(L"1", Cell(0, 0));
  EXPECT_EQ(L"net.dll", Cell(0, 1));
  EXPECT_EQ(L"60.00%", Cell(0, 2));
  EXPECT_EQ(L"3", Cell(0, 3));
  EXPECT_EQ(L"open", Cell(0, 4));
  // Equal counts keep the text order.
  EXPECT_EQ(L"close,now", Cell(1, 4));
  EXPECT_EQ(L"20.00%", Cell(1, 2));
  EXPECT_EQ(L"paint", Cell(2, 4));
  EXPECT_EQ(L"3", Cell(2, 0));
  EXPECT_EQ(100, int(::SendDlgItemMessageW(dialog, IDC_STAT_PROGRESS, PBM_GETPOS, 0, 0)));
  kt_test::SaveWindowShot(dialog, L"statistic");

  // Show Top "0", or no number, still shows the first row; a negative one
  // shows them all.
  const std::pair<const wchar_t*, int> tops[] = {{L"0", 1}, {L"many", 1}, {L"2", 2}, {L"-1", 3}, {L"99", 3}};
  for (const auto& [top, shown] : tops) {
    SetText(IDC_STAT_TOP, top);
    Click(IDC_STAT_ANALYZE);
    EXPECT_EQ(shown, ItemCount()) << top;
    EXPECT_EQ(L"3", Text(IDC_STAT_ROWS)) << top;
  }
  // Analyze again starts from nothing: an empty key merges only equal texts.
  SetText(IDC_STAT_KEY, L"");
  Click(IDC_STAT_ANALYZE);
  EXPECT_EQ(L"5", Text(IDC_STAT_ROWS));
}

TEST_F(StatisticDlgTest, AnEmptyViewGivesAnEmptyResult) {
  MakeView();
  Open();
  Click(IDC_STAT_ANALYZE);
  EXPECT_EQ(L"0", Text(IDC_STAT_TOTAL));
  EXPECT_EQ(L"0", Text(IDC_STAT_ROWS));
  EXPECT_EQ(0, ItemCount());
}

TEST_F(StatisticDlgTest, ARefusedLockAnalysesNothing) {
  AddRecords({{L"a.dll", L"x"}});
  MakeView();
  Open();
  store.refuseLock = true;
  Click(IDC_STAT_ANALYZE);
  EXPECT_EQ(0, ItemCount());
  EXPECT_EQ(L"", Text(IDC_STAT_TOTAL));
  EXPECT_EQ(0, store.unlocks);
}

TEST_F(StatisticDlgTest, EveryRequestCarriesTheFlagAndTheRowsFilterText) {
  AddRecords({{L"net.dll", L"open,port 1"},
              {L"net.dll", L"open,port 2"},
              {L"ui.dll", L"single,with comma"},
              {L"ui.dll", L"single,with comma"},
              {L"ui.dll", L"single,with comma"},
              {L"core.dll", L"lonely,text"}});
  MakeView();
  Open();
  Click(IDC_STAT_ANALYZE);
  ASSERT_EQ(3, ItemCount());
  EXPECT_FALSE(DetailEnabled());
  Select(0, true);
  EXPECT_TRUE(DetailEnabled());
  Select(1, true);
  Select(2, true);
  Click(IDC_STAT_DETAIL);
  // Merged rows cut at the key ask for their key and the key word; a row
  // never merged asks for its whole text.
  ASSERT_EQ(3u, g_requests.size());
  EXPECT_EQ(L"single,", g_requests[0].text);
  EXPECT_EQ(L"open,", g_requests[1].text);
  EXPECT_EQ(L"lonely,text", g_requests[2].text);
  for (const Request& request : g_requests) {
    EXPECT_EQ(1u, request.flag);
    EXPECT_TRUE(request.dialogFlag);
  }
  EXPECT_FALSE(slot->m_requestFlag);
  EXPECT_EQ(L"lonely,text", std::wstring(slot->m_filterText.c_str()));

  // A double click asks for its row alone; one on no row asks nothing.
  g_requests.clear();
  NMITEMACTIVATE activate = {};
  activate.hdr.hwndFrom = List();
  activate.hdr.idFrom = IDC_STAT_LIST;
  activate.hdr.code = NM_DBLCLK;
  activate.iItem = 1;
  ::SendMessageW(dialog, WM_NOTIFY, IDC_STAT_LIST, reinterpret_cast<LPARAM>(&activate));
  activate.iItem = -1;
  ::SendMessageW(dialog, WM_NOTIFY, IDC_STAT_LIST, reinterpret_cast<LPARAM>(&activate));
  ASSERT_EQ(1u, g_requests.size());
  EXPECT_EQ(L"open,", g_requests[0].text);
  EXPECT_TRUE(g_requests[0].dialogFlag);

  for (int i = 0; i < 3; ++i) Select(i, false);
  EXPECT_FALSE(DetailEnabled());
}

TEST_F(StatisticDlgTest, CancelAndCloseEndTheDialogWithoutARequest) {
  for (UINT how : {UINT(IDCANCEL), UINT(WM_CLOSE)}) {
    AddRecords({{L"a.dll", L"x,1"}, {L"a.dll", L"x,2"}});
    if (view == nullptr) MakeView();
    Open();
    Click(IDC_STAT_ANALYZE);
    Select(0, true);
    if (how == WM_CLOSE) {
      // The dialog manager turns the close into a posted Cancel.
      ::SendMessageW(dialog, WM_CLOSE, 0, 0);
      kt_test::PumpMessages();
    } else {
      Click(IDCANCEL);
    }
    EXPECT_FALSE(::IsWindow(dialog));
    EXPECT_EQ(nullptr, slot);
    EXPECT_TRUE(g_requests.empty());
  }
}

// Enough records that the counting takes many turns of its pump.
void AddManyRecords(CTraceBase* store, int count) {
  for (int i = 0; i < count; ++i) {
    const std::wstring text = L"message " + std::to_wstring(i % 97) + L", item " + std::to_wstring(i);
    RecordSpec spec;
    spec.message = text.c_str();
    spec.groupFlag = 1;
    ASSERT_NE(nullptr, AddRecord(store, spec));
  }
}

TEST_F(StatisticDlgTest, CancelDuringCountingTearsDownOnlyAfterTheCountingReturned) {
  AddManyRecords(&store, 20000);
  MakeView();
  Open();
  g_watched = slot;
  g_watchedWindow = dialog;
  g_destroyedWhileAnalyzing = -1;
  HHOOK hook = ::SetWindowsHookExW(WH_CBT, WatchDestroy, nullptr, ::GetCurrentThreadId());
  ASSERT_NE(nullptr, hook);
  // Only the counting pump takes posted messages: the cancel arrives there.
  ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  Click(IDC_STAT_ANALYZE);
  ::UnhookWindowsHookEx(hook);
  g_watched = nullptr;
  EXPECT_FALSE(::IsWindow(dialog));
  EXPECT_EQ(nullptr, slot);
  EXPECT_EQ(0, g_destroyedWhileAnalyzing);
}

TEST_F(StatisticDlgTest, AnalyzeWhileCountingIsIgnored) {
  AddManyRecords(&store, 20000);
  MakeView();
  Open();
  for (int i = 0; i < 3; ++i) {
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_STAT_ANALYZE, BN_CLICKED), 0);
  }
  Click(IDC_STAT_ANALYZE);
  EXPECT_EQ(1, store.locks);
  EXPECT_EQ(L"20000", Text(IDC_STAT_TOTAL));
  EXPECT_EQ(L"97", Text(IDC_STAT_ROWS));
  EXPECT_EQ(L"Showing result...", Text(IDC_STAT_STATUS));
  kt_test::PumpMessages();
  EXPECT_EQ(1, store.locks);
}

TEST_F(StatisticDlgTest, AQuitTakenByTheCountingPumpIsPostedAgain) {
  AddManyRecords(&store, 20000);
  MakeView();
  Open();
  ::PostQuitMessage(7);
  Click(IDC_STAT_ANALYZE);
  // The analysis stopped without a result, and the quit is back in the queue.
  EXPECT_NE(L"Showing result...", Text(IDC_STAT_STATUS));
  EXPECT_EQ(0, ItemCount());
  MSG msg;
  ASSERT_TRUE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(7u, msg.wParam);
  EXPECT_TRUE(::IsWindow(dialog));
}

// The owner destroys the dialog's window (as a closing frame does) while the
// counting pump runs: the counting ends and nothing touches the window after.
TEST_F(StatisticDlgTest, TheWindowDestroyedFromOutsideDuringCountingEndsTheCounting) {
  AddManyRecords(&store, 20000);
  MakeView();
  Open();
  g_watched = slot;
  g_watchedWindow = dialog;
  ::PostMessageW(host.get(), kMsgDestroyDialog, 0, reinterpret_cast<LPARAM>(dialog));
  Click(IDC_STAT_ANALYZE);
  g_watched = nullptr;
  EXPECT_FALSE(::IsWindow(dialog));
  EXPECT_EQ(nullptr, slot);
}

// A window that posts itself a message for every message it handles keeps
// the queue full: the counting still goes on between its messages.
TEST_F(StatisticDlgTest, AWindowThatKeepsTheQueueFullDoesNotStarveTheCounting) {
  AddManyRecords(&store, 20000);
  MakeView();
  Open();
  g_watched = slot;
  g_selfPosts = 0;
  g_starved = false;
  ::PostMessageW(host.get(), kMsgSelfPost, 0, 0);
  Click(IDC_STAT_ANALYZE);
  g_watched = nullptr;
  EXPECT_FALSE(g_starved);
  EXPECT_GT(g_selfPosts, 1);
  EXPECT_EQ(L"Showing result...", Text(IDC_STAT_STATUS));
  EXPECT_EQ(L"97", Text(IDC_STAT_ROWS));
}

}  // namespace
