// The main frame's states in this process: the capture's notices, job
// reports, the title, the status bar while a job runs, list positions kept
// per view, view tabs, the document strip, the tool tip, the save-log mutex,
// and a frame started without its menu bar.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/MainFrame.h"
#include "capture/LocalFileList.h"
#include "capture/TraceCapture.h"
#include "core/AppConfig.h"
#include "core/ModuleGroups.h"
#include "core/StoreLock.h"
#include "core/TraceFilter.h"
#include "core/TraceRecord.h"
#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "jobs/JobMgr.h"
#include "jobs/LocalJobs.h"
#include "jobs/RemoteJobs.h"
#include "resource.h"
#include "tests/app/FrameFixture.h"
#include "tests/core/TempFolder.h"
#include "tests/ui/UiHarness.h"
#include "tools/trace-dump/Generate.h"
#include "ui/dialogs/OptionsDlg.h"
#include "ui/framework/PopupSeam.h"

namespace {
constexpr uint32_t kFileRecords = 2000;
constexpr uint32_t kStoreBytes = 8u << 20;
constexpr int kFrameWidth = 1000;
constexpr int kFrameHeight = 700;
constexpr DWORD kWaitMs = 15000;
constexpr UINT kAddressNotice = 0x0100007F;

struct Box {
  HWND owner;
  std::wstring text;
  UINT type;
  std::wstring ownerTitle;  // what the owner showed when the box opened
};
std::vector<Box> g_boxes;
int WINAPI RecordBox(HWND owner, const wchar_t* text, const wchar_t*, UINT type) {
  wchar_t title[512] = {};
  ::GetWindowTextW(owner, title, 512);
  g_boxes.push_back({owner, text != nullptr ? text : L"", type, title});
  return IDOK;
}

template <class Condition>
bool PumpUntil(Condition condition) {
  return frame_test::PumpUntil(condition, kWaitMs);
}

using frame_test::Text;

bool StartsWith(std::wstring_view text, std::wstring_view head) { return text.starts_with(head); }

// Generated files of these tests come from one seed.
constexpr uint32_t kFileSeed = 7;

// A job the frame reports: failed with the given code, or finished well.
class ReportedJob : public JobItem {
 public:
  ReportedJob(uint32_t titleId, const wchar_t* name, bool failed, uint32_t code) : JobItem(titleId, name) {
    if (failed) SetFailed(code);
  }
  void Run() override {}
  uint32_t GetPercent() override { return 0; }
};

// Runs to its end, then reports a failure, as a rebuild short of memory does.
class FailingFilter : public JobFilter {
 public:
  using JobFilter::JobFilter;
  void RunAndFail() {
    Run();
    SetFailed(0);
  }
};

// Held running until released, so the status bar shows its progress.
class HeldJob : public JobItem {
 public:
  explicit HeldJob(HANDLE release) : JobItem(IDS_JOB_SAVING, L"held.ktr"), m_release(release) {}
  void Run() override { ::WaitForSingleObject(m_release, kWaitMs); }
  uint32_t GetPercent() override { return 40; }

 private:
  HANDLE m_release;
};

class FakeRemoteDlg : public IRemoteFileDlg {
 public:
  HWND window = nullptr;
  int listed = 0;
  int enabled = 0;
  HWND DialogWindow() const override { return window; }
  size_t entries = 0;
  void OnListFilesDone(CFtpListing& listing) override {
    ++listed;
    entries = listing.Count();
  }
  void EnableControls() override { ++enabled; }
};

class FakeUploadDlg : public IUploadDlg {
 public:
  HWND window = nullptr;
  std::vector<const JobItem*> forgotten;
  HWND DialogWindow() const override { return window; }
  void ForgetJob(const JobItem* job) override { forgotten.push_back(job); }
};

class FakeStatisticDlg : public IStatisticDlg {
 public:
  bool pending = false;
  bool RequestPending() const override { return pending; }
  void ClearRequest() override { pending = false; }
};

class FrameStates : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    s_temp = std::make_unique<TempFolder>(L"ktstates");
    frame_test::LoadConfig(s_temp->path());
    g_appConfig.m_showMenu = 0;
    LocalFileFolders folders;
    wcscpy(folders.temp, s_temp->path().c_str());
    g_localFileList.SetFolders(folders);
    g_messageBox = RecordBox;
    s_loop = new CMessageLoop;
    s_frame = frame_test::StartFrame(kFrameWidth, kFrameHeight);
    kt_test::PumpMessages();
  }
  static void TearDownTestSuite() {
    g_appConfig.m_tabSyncTime = 1;
    const std::wstring dump = s_temp->File(L"keltra_20261210.dump");
    HANDLE file = ::CreateFileW(dump.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ::CloseHandle(file);
    HMENU menu = s_frame != nullptr ? s_frame->MenuBar() : nullptr;
    frame_test::CloseFrame(s_frame);
    // The detached menu went with the frame, and so did the dump file.
    EXPECT_FALSE(::IsMenu(menu));
    EXPECT_EQ(::GetFileAttributesW(dump.c_str()), INVALID_FILE_ATTRIBUTES);
    delete s_frame;
    s_frame = nullptr;
    delete s_loop;
    s_loop = nullptr;
    g_messageBox = ::MessageBoxW;
    g_localFileList.SetFolders(LocalFileFolders{});
    s_temp.reset();
  }

 protected:
  void SetUp() override {
    ASSERT_TRUE(s_frame != nullptr && s_frame->IsWindow());
    g_boxes.clear();
  }
  CMainFrame& Frame() { return *s_frame; }
  std::wstring Title() {
    wchar_t title[512] = {};
    ::GetWindowTextW(s_frame->m_hWnd, title, 512);
    return title;
  }
  std::wstring Status() {
    wchar_t text[512] = {};
    s_frame->StatusBar().SendMessage(WM_GETTEXT, 512, LPARAM(text));
    return text;
  }
  std::wstring ShownTabText() {
    const TabGroup* group = s_frame->ViewStrip().Model().CurrentGroup();
    return group->Item(group->selected)->text.c_str();
  }
  LRESULT Notice(uint32_t code, LPARAM value) { return s_frame->SendMessage(WM_APP, code, value); }
  void ShowGroup(size_t group) {
    s_frame->ViewStrip().SelectGroup(group);
    kt_test::PumpMessages();
  }
  // Adds a generated file as a new document (the frame holds its reference).
  CTraceFile* AddFile(const wchar_t* name) {
    CTraceFile* file = frame_test::MakeFile(name, kFileRecords, kFileSeed);
    EXPECT_EQ(s_frame->AddDocument(file), 1);
    return file;
  }
  // Takes the document of group `group` away as closing it does.
  void CloseDocument(size_t group) {
    auto* store = reinterpret_cast<CTraceMgr*>(s_frame->ViewStrip().Model().GetGroup(group)->data);
    s_frame->ViewStrip().RemoveGroup(group);
    s_frame->DocumentStrip().RemoveItem(group);
    store->Release();
    s_frame->UpdateLayout(TRUE);
    kt_test::PumpMessages();
  }
  RECT ChildRect(HWND child) {
    RECT rect;
    ::GetWindowRect(child, &rect);
    ::MapWindowPoints(nullptr, s_frame->m_hWnd, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
  }

  static std::unique_ptr<TempFolder> s_temp;
  static CMainFrame* s_frame;
  static CMessageLoop* s_loop;
};
std::unique_ptr<TempFolder> FrameStates::s_temp;
CMainFrame* FrameStates::s_frame = nullptr;
CMessageLoop* FrameStates::s_loop = nullptr;

TEST_F(FrameStates, StartsWithoutAMenuBarAndTheAcceleratorsStillWork) {
  EXPECT_EQ(Frame().GetMenu(), nullptr);
  EXPECT_TRUE(::IsMenu(Frame().MenuBar()));
  ASSERT_TRUE(Frame().CaptureOn());
  // F8 pressed in the list: Start/Stop Capture.
  MSG key = {Frame().List().m_hWnd, WM_KEYDOWN, VK_F8, 0};
  EXPECT_TRUE(Frame().PreTranslateMessage(&key));
  EXPECT_FALSE(Frame().CaptureOn());
  EXPECT_TRUE(StartsWith(Title(), L"keltracer - Stop - "));
  EXPECT_TRUE(Frame().PreTranslateMessage(&key));
  EXPECT_TRUE(Frame().CaptureOn());
}

TEST_F(FrameStates, TheWindowKeepsAtLeast600By400) {
  RECT before;
  Frame().GetWindowRect(&before);
  Frame().SetWindowPos(nullptr, 0, 0, 200, 100, SWP_NOMOVE | SWP_NOZORDER);
  RECT rect;
  Frame().GetWindowRect(&rect);
  EXPECT_EQ(rect.right - rect.left, ktframe::kMinTrackWidth);
  EXPECT_EQ(rect.bottom - rect.top, ktframe::kMinTrackHeight);
  Frame().SetWindowPos(nullptr, 0, 0, before.right - before.left, before.bottom - before.top,
                       SWP_NOMOVE | SWP_NOZORDER);
}

TEST_F(FrameStates, ARowTooNarrowForTheButtonsLeavesTheViewStripNoWidth) {
  RECT client;
  Frame().GetClientRect(&client);
  Frame().SendMessage(WM_SIZE, SIZE_RESTORED, MAKELPARAM(60, client.bottom));
  RECT strip;
  Frame().ViewStrip().GetWindowRect(&strip);
  EXPECT_EQ(strip.right - strip.left, 0);
  Frame().SendMessage(WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
  Frame().ViewStrip().GetWindowRect(&strip);
  EXPECT_GT(strip.right - strip.left, client.right / 2);
}

TEST_F(FrameStates, TheSaveLogMutexIsMadeOnceAndGoesWhenReleased) {
  const HANDLE held = Frame().SaveLogMutex();
  ASSERT_NE(held, nullptr);
  Frame().SetSaveLogMutex(1);
  EXPECT_EQ(Frame().SaveLogMutex(), held);
  Frame().SetSaveLogMutex(0);
  EXPECT_EQ(Frame().SaveLogMutex(), nullptr);
  EXPECT_EQ(::OpenMutexW(SYNCHRONIZE, FALSE, ktframe::kSaveLogMutexName), nullptr);
  Frame().SetSaveLogMutex(1);
  HANDLE seen = ::OpenMutexW(SYNCHRONIZE, FALSE, ktframe::kSaveLogMutexName);
  EXPECT_NE(seen, nullptr);
  ::CloseHandle(seen);
}

TEST_F(FrameStates, TheTitleShowsCaptureViewAndConnection) {
  const std::wstring tab = ShownTabText();
  struct Case {
    bool capture;
    uint32_t state;
    const wchar_t* address;
    std::wstring title;
  } const cases[] = {
      {true, ktframe::kNotConnected, L"", L"keltracer - " + tab},
      {false, ktframe::kNotConnected, L"", L"keltracer - Stop - " + tab},
      {true, ktframe::kConnecting, L"10.1.2.3", L"keltracer - " + tab + L" - 10.1.2.3(Connecting)"},
      {true, ktframe::kConnected, L"10.1.2.3", L"keltracer - " + tab + L" - 10.1.2.3"},
      {false, ktframe::kConnected, L"host", L"keltracer - Stop - " + tab + L" - host"},
  };
  for (const Case& c : cases) {
    Frame().ToggleCapture(c.capture);
    Frame().SetConnection(c.state, c.address);
    EXPECT_EQ(Title(), c.title);
  }
  // Stopping the capture while a connection is under way cancels it.
  Frame().ToggleCapture(true);
  Frame().SetConnection(ktframe::kConnecting, L"10.1.2.3");
  Frame().ToggleCapture(false);
  EXPECT_EQ(Frame().ConnectionState(), ktframe::kNotConnected);
  EXPECT_EQ(Title(), L"keltracer - Stop - " + tab);
  Frame().ToggleCapture(true);
  EXPECT_EQ(Title(), L"keltracer - " + tab);
  EXPECT_TRUE(g_boxes.empty());
}

TEST_F(FrameStates, ConnectionNoticesNameTheTypedAddress) {
  const std::wstring plain = L"keltracer - " + ShownTabText();
  Frame().SetConnection(ktframe::kConnecting, L"server:6000");
  Notice(kNotifyRemoteConnected, kAddressNotice);
  EXPECT_EQ(Frame().ConnectionState(), ktframe::kConnected);
  EXPECT_EQ(Title(), plain + L" - server:6000");
  Notice(kNotifyPeerLost, kAddressNotice);
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].text, L"Connect to \"server:6000\" lost!");
  EXPECT_EQ(g_boxes[0].type, UINT(MB_ICONWARNING));
  EXPECT_EQ(g_boxes[0].ownerTitle, plain);  // the state changed before the box
  EXPECT_EQ(Title(), plain);
  // Nothing left to lose: a second notice shows nothing.
  Notice(kNotifyPeerLost, kAddressNotice);
  EXPECT_EQ(g_boxes.size(), 1u);
  Frame().SetConnection(ktframe::kConnecting, L"other");
  Notice(kNotifyRemoteConnectFailed, kAddressNotice);
  ASSERT_EQ(g_boxes.size(), 2u);
  EXPECT_EQ(g_boxes[1].text, L"Connect to \"other\" failed!");
  EXPECT_EQ(Frame().ConnectionState(), ktframe::kNotConnected);
}

TEST_F(FrameStates, ACaptureThatEndsIsShownStoppedAndCanBeStartedAgain) {
  const std::wstring tab = ShownTabText();
  struct Case {
    uint32_t notice;
    UINT text;
  } const cases[] = {{kNoticeCaptureFailed, IDS_CAPTURE_STOPPED}, {IDS_START_CAPTURE_FAILED, IDS_START_CAPTURE_FAILED}};
  for (const Case& c : cases) {
    g_boxes.clear();
    Frame().SetConnection(ktframe::kConnected, L"host");
    Notice(kNotifyNotice, c.notice);
    EXPECT_FALSE(Frame().CaptureOn());
    EXPECT_EQ(Frame().ConnectionState(), ktframe::kNotConnected);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].text, Text(c.text));
    EXPECT_FALSE(g_boxes[0].text.empty());
    EXPECT_EQ(g_boxes[0].type, UINT(MB_ICONERROR));
    EXPECT_EQ(g_boxes[0].ownerTitle, L"keltracer - Stop - " + tab);
    // Start/Stop Capture brings it back.
    Frame().SendMessage(WM_COMMAND, 33022, 0);
    EXPECT_TRUE(Frame().CaptureOn());
    EXPECT_EQ(Title(), L"keltracer - " + tab);
  }
}

TEST_F(FrameStates, LostRecordsAndFailedChannelsAreReportedOncePerStreak) {
  for (int i = 0; i < 3; ++i) Notice(kNotifyNotice, kNoticeRecordsLost);
  for (int i = 0; i < 2; ++i) Notice(kNotifyNotice, kNoticeChannelFailed);
  ASSERT_EQ(g_boxes.size(), 2u);
  EXPECT_EQ(g_boxes[0].text, Text(IDS_RECORDS_LOST));
  EXPECT_EQ(g_boxes[1].text, Text(IDS_CHANNEL_FAILED));
  EXPECT_EQ(g_boxes[0].type, UINT(MB_ICONWARNING));
  EXPECT_TRUE(Frame().CaptureOn());
  // A notice before the quiet spell is over keeps the streak going.
  for (uint32_t i = 0; i + 1 < ktframe::kTroubleQuietTicks; ++i) Frame().OnTimer(ktframe::kRefreshTimerId);
  Notice(kNotifyNotice, kNoticeRecordsLost);
  EXPECT_EQ(g_boxes.size(), 2u);
  // After a full quiet spell a new streak is reported again.
  for (uint32_t i = 0; i < ktframe::kTroubleQuietTicks; ++i) Frame().OnTimer(ktframe::kRefreshTimerId);
  Notice(kNotifyNotice, kNoticeRecordsLost);
  Notice(kNotifyNotice, kNoticeChannelFailed);
  ASSERT_EQ(g_boxes.size(), 4u);
  EXPECT_EQ(g_boxes[2].text, Text(IDS_RECORDS_LOST));
  EXPECT_EQ(g_boxes[3].text, Text(IDS_CHANNEL_FAILED));
}

TEST_F(FrameStates, FailedJobsAreReportedWithTheirCodesText) {
  const std::wstring longName(400, L'x');
  struct Case {
    uint32_t titleId;
    const wchar_t* name;
    uint32_t code;
    std::wstring head;  // the report starts with this
    bool systemText;    // a text in brackets other than N/A
  } const cases[] = {
      {IDS_JOB_OPENING, L"a.ktr", 0, L"Opening \"a.ktr\" failed.", false},
      {IDS_JOB_OPENING, L"a.ktr", ERROR_FILE_NOT_FOUND, L"Opening \"a.ktr\" failed, error 2 [", true},
      {IDS_JOB_REMOTE_GET, L"b.ktr", 12007, L"Get \"b.ktr\" failed, error 12007 [", true},  // WinINet: name not resolved
      {IDS_JOB_SAVING, L"c.ktr", 0x2FFFFFFF, L"Saving \"c.ktr\" failed, error 805306367 [N/A]", false},
      {IDS_JOB_SAVING, longName.c_str(), 0, L"Saving \"" + longName.substr(0, 100), false},
  };
  for (const Case& c : cases) {
    g_boxes.clear();
    ReportedJob job(c.titleId, c.name, true, c.code);
    Frame().OnThreadFinished(&job);
    ASSERT_EQ(g_boxes.size(), 1u) << c.code;
    const std::wstring& report = g_boxes[0].text;
    EXPECT_TRUE(StartsWith(report, c.head)) << std::string(report.begin(), report.end());
    EXPECT_LE(report.size(), 255u);
    EXPECT_EQ(g_boxes[0].type, UINT(MB_ICONERROR));
    if (c.systemText) {
      EXPECT_EQ(report.find(L"[N/A]"), std::wstring::npos);
      EXPECT_EQ(report.back(), L']');
      // Line ends and the full stop of the system text are cut.
      EXPECT_EQ(report.find_first_of(L"\r\n"), std::wstring::npos);
      EXPECT_NE(report[report.size() - 2], L'.');
    }
  }
  // A failure never changes the documents.
  EXPECT_EQ(Frame().ViewStrip().Model().GroupCount(), 1u);
}

TEST_F(FrameStates, ListingAndFetchEndsReachTheRemoteFileDialog) {
  // Without the dialog the reports go to the frame and nothing else happens.
  JobRmtList lostList(CRemoteServer(L"127.0.0.1", kProtocolNone, 0, L"/logs", L"", L""));
  lostList.Run();
  Frame().OnThreadFinished(&lostList);
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].owner, Frame().m_hWnd);
  FakeRemoteDlg dialog;
  dialog.window = ::CreateWindowExW(0, L"STATIC", L"Remote File", WS_POPUP, 0, 0, 100, 50, Frame().m_hWnd, nullptr,
                                    nullptr, nullptr);
  Frame().SetRemoteFileDlg(&dialog);
  struct Case {
    uint32_t titleId;
    bool visible;
    bool failed;
    int listed, enabled;
    bool overDialog;
  } const cases[] = {
      {IDS_JOB_REMOTE_LIST, false, true, 1, 0, false},  {IDS_JOB_REMOTE_LIST, true, true, 1, 0, true},
      {IDS_JOB_REMOTE_GET, true, true, 0, 1, true},     {IDS_JOB_REMOTE_LIST, true, false, 1, 0, false},
      {IDS_JOB_OPENING, true, true, 0, 0, false},  // a local job is never shown over it
  };
  for (const Case& c : cases) {
    g_boxes.clear();
    dialog.listed = dialog.enabled = 0;
    ::ShowWindow(dialog.window, c.visible ? SW_SHOWNA : SW_HIDE);
    // A listing's end hands its entries over: it is always the list job.
    ReportedJob reported(c.titleId, L"f.ktr", c.failed, 0);
    JobRmtList listed(CRemoteServer(L"127.0.0.1", kProtocolNone, 0, L"/", L"", L""));
    if (c.failed) listed.Run();
    JobItem& job = c.titleId == IDS_JOB_REMOTE_LIST ? static_cast<JobItem&>(listed) : reported;
    Frame().OnThreadFinished(&job);
    EXPECT_EQ(dialog.listed, c.listed) << c.titleId;
    EXPECT_EQ(dialog.enabled, c.enabled) << c.titleId;
    ASSERT_EQ(g_boxes.size(), c.failed ? 1u : 0u) << c.titleId;
    if (c.failed) {
      EXPECT_EQ(g_boxes[0].owner, c.overDialog ? dialog.window : Frame().m_hWnd) << c.titleId;
    }
  }
  Frame().SetRemoteFileDlg(nullptr);
  ::DestroyWindow(dialog.window);
}

TEST_F(FrameStates, AStoreWithoutViewsAddsNoDocument) {
  CTraceFile* empty = frame_test::MakeFile(L"empty.ktr", 10, kFileSeed, false);
  EXPECT_EQ(Frame().AddDocument(empty), 0);
  EXPECT_EQ(Frame().ViewStrip().Model().GroupCount(), 1u);
  EXPECT_EQ(Frame().DocumentStrip().Model().GetGroup(0)->Count(), 1u);
  EXPECT_EQ(Frame().ViewStrip().Model().Current(), 0);
  empty->Release();
}

TEST_F(FrameStates, AFetchedFileBecomesADocumentAndTheStripComesAndGoes) {
  const RECT statusBar = ChildRect(Frame().StatusBar().m_hWnd);
  EXPECT_FALSE(Frame().DocumentStrip().IsWindowVisible());
  EXPECT_EQ(ChildRect(Frame().List().m_hWnd).bottom, statusBar.top);
  FakeRemoteDlg dialog;
  Frame().SetRemoteFileDlg(&dialog);
  auto* job = new JobRmtGet(CRemoteServer(), L"remote.ktr", 0, L"C:\\temp\\kelrmt_remote.ktr");
  CTraceMgr* store = job->Store();
  store->SetFileName(L"C:\\temp\\kelrmt_remote.ktr", L"kelrmt_remote.ktr");
  store->GrowBuffer(kStoreBytes);
  GenerateRecords(store, kFileRecords, 3);
  store->AddView(L"", kAllGroups, kFileRecords);
  Frame().OnThreadFinished(job);
  delete job;
  Frame().SetRemoteFileDlg(nullptr);
  EXPECT_EQ(dialog.enabled, 1);
  EXPECT_TRUE(g_boxes.empty());
  ASSERT_EQ(Frame().ViewStrip().Model().GroupCount(), 2u);
  EXPECT_EQ(store->RefCount(), 1);  // the frame's own
  EXPECT_EQ(Frame().CurrentStore(), store);
  EXPECT_EQ(Frame().List().GetItemCount(), int(kFileRecords));
  // Two documents: the strip shows between the list and the status bar.
  kt_test::PumpMessages();
  EXPECT_TRUE(Frame().DocumentStrip().IsWindowVisible());
  const RECT strip = ChildRect(Frame().DocumentStrip().m_hWnd);
  EXPECT_EQ(strip.bottom, statusBar.top);
  EXPECT_EQ(ChildRect(Frame().List().m_hWnd).bottom, strip.top);
  CloseDocument(1);
  EXPECT_FALSE(Frame().DocumentStrip().IsWindowVisible());
  EXPECT_EQ(ChildRect(Frame().List().m_hWnd).bottom, statusBar.top);
}

TEST_F(FrameStates, AFilterJobGivesItsTabBackItsTitleAndClosability) {
  CTraceFile* file = AddFile(L"filtered.ktr");
  CTraceView* view = file->m_views[0];
  TabItem* item = Frame().ViewStrip().Model().GetItem(1, 0);
  // What starting the job did: the tab cannot close and the list is empty.
  item->flags |= TBF_NOCLOSE;
  Frame().UpdateView(nullptr, 1, 1, 0, nullptr);
  EXPECT_EQ(Frame().List().GetItemCount(), 0);
  CTraceFilter hideWarnings;
  hideWarnings.m_flags = kFilterLevel;
  hideWarnings.m_levelMask = kLevelDebug | kLevelInfo | kLevelError | kLevelPersonal;
  auto* job = new FailingFilter(view, kFilterLevel, hideWarnings, -1);
  job->RunAndFail();
  Frame().OnThreadFinished(job);
  delete job;
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_TRUE(StartsWith(g_boxes[0].text, L"Searching \"")) << std::string(g_boxes[0].text.begin(), g_boxes[0].text.end());
  EXPECT_NE(g_boxes[0].text.find(L"\" failed."), std::wstring::npos);
  EXPECT_EQ(std::wstring(item->text.c_str()), std::wstring(view->m_title.c_str()));
  EXPECT_EQ(item->flags & TBF_NOCLOSE, 0u);
  // Shown again, with the warning counter hidden by the filter.
  EXPECT_EQ(Frame().List().GetItemCount(), int(view->RecordCount()));
  EXPECT_LT(view->RecordCount(), size_t(kFileRecords));
  EXPECT_TRUE(StartsWith(Status(), L"Filter is ON, " + std::to_wstring(view->RecordCount()) + L" items of read " +
                                       std::to_wstring(kFileRecords)));
  EXPECT_EQ(std::wstring(Frame().StatusBar().GetItem(kStatusItemWarning)->text.c_str()), L"hide");
  EXPECT_EQ(Frame().StatusBar().GetItem(kStatusItemFilter)->image, ktframe::kFilterActiveImage);
  EXPECT_NE(std::wstring(Frame().StatusBar().GetItem(kStatusItemError)->text.c_str()), L"hide");
  // The capture's first tab stays unclosable whatever a job did to it.
  auto* live = new FailingFilter(Frame().Capture()->m_views[0], 0, CTraceFilter(), -1);
  live->RunAndFail();
  Frame().OnThreadFinished(live);
  delete live;
  EXPECT_NE(Frame().ViewStrip().Model().GetItem(0, 0)->flags & TBF_NOCLOSE, 0u);
  CloseDocument(1);
}

TEST_F(FrameStates, ViewsKeepTheirPlaceAndSwitchingFindsTheSameTime) {
  CTraceFile* file = AddFile(L"places.ktr");
  CTraceFilter noDebug;
  noDebug.m_flags = kFilterLevel;
  noDebug.m_levelMask = kLevelInfo | kLevelWarning | kLevelError | kLevelPersonal;
  ASSERT_EQ(file->AddView(L"", kAllGroups, kFileRecords), 1);
  CTraceView* all = file->m_views[0];
  CTraceView* other = file->m_views[1];
  other->m_filter.Assign(kFilterLevel, noDebug);
  ASSERT_TRUE(other->Rebuild());
  Frame().ViewStrip().AddItem(1, other->m_title.c_str(), ktframe::kViewImage, reinterpret_cast<uint64_t>(other), 1);
  // A row far down that the other view holds too.
  int row = 900;
  while ((all->RecordAt(size_t(row))->level & kLevelDebug) != 0) ++row;
  CKeltracerView& list = Frame().List();
  list.EnsureVisible(row, FALSE);
  list.SetItemState(row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  const int top = list.GetTopIndex();
  ASSERT_GT(top, 0);
  Frame().ViewStrip().Model().SelectItem(1);
  const int synced = list.GetNextItem(-1, LVNI_SELECTED);
  ASSERT_GE(synced, 0);
  EXPECT_EQ(other->RecordAt(size_t(synced)), all->RecordAt(size_t(row)));
  EXPECT_GE(synced, list.GetTopIndex());
  EXPECT_LT(synced, list.GetTopIndex() + list.GetCountPerPage());
  // Back: the first view's top row and selection exactly as they were.
  Frame().ViewStrip().Model().SelectItem(0);
  EXPECT_EQ(list.GetTopIndex(), top);
  EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), row);
  EXPECT_EQ(list.GetNextItem(row, LVNI_SELECTED), -1);
  // The same after a visit to another document.
  ShowGroup(0);
  ShowGroup(1);
  EXPECT_EQ(list.GetTopIndex(), top);
  EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), row);
  // Without the time option and no place of its own, a file view opens at its top.
  g_appConfig.m_tabSyncTime = 0;
  other->m_topRow = -1;
  Frame().ViewStrip().Model().SelectItem(1);
  EXPECT_EQ(list.GetTopIndex(), 0);
  EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), -1);
  g_appConfig.m_tabSyncTime = 1;
  CloseDocument(1);
}

TEST_F(FrameStates, ViewTabsAreReusedAndStatisticDetailsShareOneTab) {
  CTraceFile* file = AddFile(L"tabs.ktr");
  TabGroup* group = Frame().ViewStrip().Model().CurrentGroup();
  // The tab for this mask and filter exists: it is selected, no job starts.
  EXPECT_EQ(Frame().AddViewTab(file, kAllGroups, CTraceFilter()), 1);
  EXPECT_EQ(group->Count(), 1u);
  EXPECT_EQ(Frame().List().GetItemCount(), int(kFileRecords));
  FakeStatisticDlg statistic;
  statistic.pending = true;
  Frame().SetStatisticDlg(&statistic);
  CTraceFilter first;
  ASSERT_EQ(first.AddCondition(kConditionMessage, kOperatorInclude, L"a", -1), 1);
  ASSERT_EQ(Frame().AddViewTab(file, kAllGroups, first), 1);
  file->m_isStatisticsStore = 0;  // the caller's part
  ASSERT_EQ(group->Count(), 2u);
  EXPECT_TRUE(StartsWith(group->Item(1)->text.c_str(), kStatisticsViewName));
  EXPECT_EQ(group->selected, 1u);
  EXPECT_TRUE(PumpUntil([&] { return (group->Item(1)->flags & TBF_NOCLOSE) == 0; }));
  // A second detail goes to the same tab instead of a new one.
  CTraceFilter second;
  ASSERT_EQ(second.AddCondition(kConditionMessage, kOperatorInclude, L"b", -1), 1);
  const size_t views = file->m_views.count;
  ASSERT_EQ(Frame().AddViewTab(file, kAllGroups, second), 1);
  file->m_isStatisticsStore = 0;
  EXPECT_EQ(group->Count(), 2u);
  EXPECT_EQ(file->m_views.count, views);
  EXPECT_TRUE(PumpUntil([&] { return (group->Item(1)->flags & TBF_NOCLOSE) == 0; }));
  auto* detail = reinterpret_cast<CTraceView*>(group->Item(1)->data);
  wchar_t condition[256] = {};
  ASSERT_GE(detail->m_filter.FormatCondition(0, condition, 256), 0);
  EXPECT_NE(std::wstring(condition).find(L'b'), std::wstring::npos);
  EXPECT_EQ(std::wstring(condition).find(L'a'), std::wstring::npos);
  EXPECT_EQ(Frame().List().GetItemCount(), int(detail->RecordCount()));
  // Without a pending request a new view is named as usual.
  statistic.pending = false;
  CTraceFilter third;
  ASSERT_EQ(third.AddCondition(kConditionMessage, kOperatorInclude, L"c", -1), 1);
  ASSERT_EQ(Frame().AddViewTab(file, kAllGroups, third), 1);
  EXPECT_EQ(group->Count(), 3u);
  EXPECT_FALSE(StartsWith(group->Item(2)->text.c_str(), kStatisticsViewName));
  EXPECT_TRUE(PumpUntil([&] { return (group->Item(2)->flags & TBF_NOCLOSE) == 0; }));
  Frame().SetStatisticDlg(nullptr);
  CloseDocument(1);
}

TEST_F(FrameStates, HomeStopsFollowingTheLiveCaptureAndEndResumesIt) {
  ShowGroup(0);
  CKeltracerView& list = Frame().List();
  ASSERT_EQ(Frame().FollowNewItems(), 1u);
  list.SendMessage(WM_KEYUP, VK_HOME, 0);
  // A refresh in between does not forget the key.
  Notice(kNotifyNotice, kNoticeOldestDropped);
  Frame().OnTimer(ktframe::kRefreshTimerId);
  EXPECT_EQ(Frame().FollowNewItems(), 0u);
  list.SendMessage(WM_KEYUP, VK_END, 0);
  Frame().OnTimer(ktframe::kRefreshTimerId);
  EXPECT_EQ(Frame().FollowNewItems(), 1u);
  // In a file document keys change nothing.
  CTraceFile* file = AddFile(L"keys.ktr");
  (void)file;
  list.SendMessage(WM_KEYUP, VK_HOME, 0);
  EXPECT_EQ(list.m_recheck, 0u);
  ShowGroup(0);
  Frame().OnTimer(ktframe::kRefreshTimerId);
  EXPECT_EQ(Frame().FollowNewItems(), 1u);
  CloseDocument(1);
}

TEST_F(FrameStates, TheLiveCaptureFollowsNewRowsUntilTheUserLooksElsewhere) {
  ShowGroup(0);
  CKeltracerView& list = Frame().List();
  auto send = [&](int count) {
    for (int i = 0; i < count; ++i) {
      const std::string text = "(follow.exe:5:6)row " + std::to_string(i);
      COPYDATASTRUCT data = {1, DWORD(text.size() + 1), const_cast<char*>(text.c_str())};
      Frame().SendMessage(WM_COPYDATA, 0, LPARAM(&data));
    }
  };
  auto lastRowInSight = [&] { return list.GetTopIndex() + list.GetCountPerPage() >= list.GetItemCount(); };
  const int before = list.GetItemCount();
  send(300);
  ASSERT_TRUE(PumpUntil([&] { return list.GetItemCount() >= before + 300; }));
  EXPECT_TRUE(lastRowInSight());
  // The user goes to the top: the list stays there and only grows.
  const int count = list.GetItemCount();
  list.EnsureVisible(0, FALSE);
  list.SendMessage(WM_KEYUP, VK_HOME, 0);
  send(100);
  ASSERT_TRUE(PumpUntil([&] { return list.GetItemCount() >= count + 100; }));
  EXPECT_EQ(Frame().FollowNewItems(), 0u);
  EXPECT_EQ(list.GetTopIndex(), 0);
  list.SendMessage(WM_KEYUP, VK_END, 0);
  Frame().OnTimer(ktframe::kRefreshTimerId);
  EXPECT_EQ(Frame().FollowNewItems(), 1u);
}

TEST_F(FrameStates, ARefreshThatFindsTheStoreBusyTriesAgainSoon) {
  ShowGroup(0);
  CKeltracerView& list = Frame().List();
  CTraceCapture* capture = Frame().Capture();
  CTraceView* live = capture->m_views[0];
  // Only the retry can show the rows here: the once-a-second refresh stops.
  Frame().KillTimer(ktframe::kRefreshTimerId);
  const int before = list.GetItemCount();
  const std::string text = "(busy.exe:5:6)held back";
  COPYDATASTRUCT data = {1, DWORD(text.size() + 1), const_cast<char*>(text.c_str())};
  Frame().SendMessage(WM_COPYDATA, 0, LPARAM(&data));
  ASSERT_TRUE(PumpUntil([&] { return live->State() == kViewNewRecords; }));
  // Another thread holds the store, as the capture does while it stores.
  HANDLE held = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread holder([&] {
    const CStoreLock lock(capture, kLockExclusive);
    ::SetEvent(held);
    ::WaitForSingleObject(release, INFINITE);
  });
  ::WaitForSingleObject(held, INFINITE);
  Frame().SendMessage(WM_TIMER, ktframe::kRefreshTimerId, 0);
  Frame().KillTimer(ktframe::kRefreshTimerId);
  EXPECT_EQ(list.GetItemCount(), before);
  EXPECT_EQ(live->State(), kViewNewRecords);
  ::SetEvent(release);
  holder.join();
  EXPECT_TRUE(PumpUntil([&] { return list.GetItemCount() == before + 1; }));
  EXPECT_EQ(live->State(), kViewIdle);
  ::CloseHandle(held);
  ::CloseHandle(release);
  Frame().SetTimer(ktframe::kRefreshTimerId, ktframe::kRefreshTimerMs);
}

TEST_F(FrameStates, TheTimerLeavesARunningJobsProgressAlone) {
  ShowGroup(0);
  HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_EQ(g_jobMgr.PostLocalJob(new HeldJob(release)), 1);
  const std::wstring progress = L"[Saving \"held.ktr\", 40% completed]";
  EXPECT_TRUE(PumpUntil([&] { return Status() == progress; })) << std::string(Status().begin(), Status().end());
  HWND bar = Frame().StatusBar().GetProgressBar();
  EXPECT_TRUE(::IsWindowVisible(bar));
  EXPECT_EQ(::SendMessageW(bar, PBM_GETPOS, 0, 0), 40);
  // New records in the live view and in the store: the text stays.
  Frame().Capture()->m_views[0]->ExchangeState(kViewNewRecords);
  Frame().OnTimer(ktframe::kRefreshTimerId);
  EXPECT_EQ(Status(), progress);
  Frame().Capture()->ExchangeNewData(1);
  Frame().OnTimer(ktframe::kRefreshTimerId);
  EXPECT_EQ(Status(), progress);
  // The job's end brings the filter status back and hides the bar.
  ::SetEvent(release);
  EXPECT_TRUE(PumpUntil([&] { return StartsWith(Status(), L"Filter is OFF, "); }));
  EXPECT_FALSE(::IsWindowVisible(bar));
  ::CloseHandle(release);
}

INT_PTR CALLBACK PlainDialogProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

// The frame keeps no list of its modeless dialogs: they are in the loop's
// registry, which the loop asks after the frame's accelerators.
TEST_F(FrameStates, TheOpenModelessDialogsGetTheirKeysFromTheLoop) {
  kt_test::CDialogTemplateBuilder form(WS_POPUP | WS_VISIBLE | DS_SETFONT, 120, 40, L"modeless");
  form.Add(kt_test::CDialogTemplateBuilder::kEdit, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 5, 5, 50, 12, 100)
      .Add(kt_test::CDialogTemplateBuilder::kEdit, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 60, 5, 50, 12, 101);
  HWND dialog = ::CreateDialogIndirectW(nullptr, form.get(), Frame().m_hWnd, PlainDialogProc);
  ASSERT_NE(dialog, nullptr);
  MSG tab = {::GetDlgItem(dialog, 100), WM_KEYDOWN, VK_TAB, 0};
  EXPECT_FALSE(s_loop->PreTranslateMessage(&tab));  // no dialog registered
  ASSERT_TRUE(CMessageLoop::AddModelessDialog(dialog));
  EXPECT_FALSE(Frame().PreTranslateMessage(&tab));
  EXPECT_TRUE(s_loop->PreTranslateMessage(&tab));
  // F8 still reaches the frame's accelerators first, also from the dialog.
  MSG f8 = {::GetDlgItem(dialog, 100), WM_KEYDOWN, VK_F8, 0};
  const bool captureOn = Frame().CaptureOn();
  EXPECT_TRUE(s_loop->PreTranslateMessage(&f8));
  EXPECT_NE(captureOn, Frame().CaptureOn());
  EXPECT_TRUE(s_loop->PreTranslateMessage(&f8));
  EXPECT_EQ(captureOn, Frame().CaptureOn());
  EXPECT_TRUE(CMessageLoop::RemoveModelessDialog(dialog));
  ::DestroyWindow(dialog);
}

TEST_F(FrameStates, TheToolTipKnowsItsToolsAndAPressHidesIt) {
  CToolTipEx& tip = Frame().ToolTip();
  auto hover = [&](HWND window, const RECT* part) {
    RECT rect;
    if (part != nullptr) {
      rect = *part;
      ::MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    } else {
      ::GetWindowRect(window, &rect);
    }
    MSG move = {window, WM_MOUSEMOVE, 0, 0, 0, {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2}};
    EXPECT_FALSE(Frame().PreTranslateMessage(&move));
    return tip.GetCurrentTool();
  };
  Frame().RedrawWindow(nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  EXPECT_EQ(hover(Frame().ViewStrip().m_hWnd, nullptr), 0);
  EXPECT_EQ(hover(Frame().StatusBar().m_hWnd, nullptr), 1);
  HWND toolbar = ::GetDlgItem(Frame().m_hWnd, 59392);
  RECT button;
  ASSERT_TRUE(::SendMessageW(toolbar, TB_GETRECT, ID_FILE_DROPDOWN, LPARAM(&button)));
  EXPECT_EQ(hover(toolbar, &button), CToolTipEx::kToolbarTool);
  tip.PopUp(true);
  ASSERT_TRUE(tip.IsWindowVisible());
  EXPECT_STREQ(tip.GetText().c_str(), L"Open/Save/Manage File");
  for (UINT press : {UINT(WM_KEYDOWN), UINT(WM_LBUTTONDOWN), UINT(WM_RBUTTONDOWN)}) {
    tip.PopUp(true);
    MSG msg = {Frame().List().m_hWnd, press, 0, 0};
    EXPECT_FALSE(Frame().PreTranslateMessage(&msg));
    EXPECT_FALSE(tip.IsWindowVisible()) << press;
  }
}

}  // namespace

// Showing a file view again starts with no row selected or focused, however
// the rows were marked before (clearing walks only the marked rows, or all
// of them when very many are selected).
TEST_F(FrameStates, ShowingAFileViewClearsEverySelectionAndTheFocus) {
  struct Case {
    const char* name;
    std::vector<int> selected;
    int focused;  // -1: none
    bool selectAll;
  };
  const Case cases[] = {
      {"one row, focused", {700}, 700, false},
      {"several rows, focus on one", {3, 10, 4999}, 10, false},
      {"rows, focus elsewhere", {5, 6}, 200, false},
      {"focus alone", {}, 42, false},
      {"every row", {}, 4321, true},
  };
  CTraceFile* file = frame_test::MakeFile(L"marks.ktr", 5000, kFileSeed);
  ASSERT_EQ(Frame().AddDocument(file), 1);
  CTraceView* view = file->m_views[0];
  CKeltracerView& list = Frame().List();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.selectAll) list.SetItemState(-1, LVIS_SELECTED, LVIS_SELECTED);
    for (int row : c.selected) list.SetItemState(row, LVIS_SELECTED, LVIS_SELECTED);
    if (c.focused >= 0) list.SetItemState(c.focused, LVIS_FOCUSED, LVIS_FOCUSED);
    ASSERT_EQ(list.GetSelectedCount(), c.selectAll ? 5000u : UINT(c.selected.size()));
    Frame().UpdateView(view, 1, 1, 0, nullptr);
    EXPECT_EQ(list.GetSelectedCount(), 0u);
    EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), -1);
    EXPECT_EQ(list.GetNextItem(-1, LVNI_FOCUSED), -1);
    EXPECT_EQ(list.GetTopIndex(), 0);
  }
  CloseDocument(1);
}

// A new font measures the rows again; the row that was at the top stays at
// the top, whether the rows grow or shrink.
TEST_F(FrameStates, ANewFontKeepsTheTopRowAtTheTop) {
  CTraceFile* file = AddFile(L"fonts.ktr");
  ASSERT_EQ(Frame().ShownView(), file->m_views[0]);
  CKeltracerView& list = Frame().List();
  constexpr int kTop = 700;
  list.EnsureVisible(int(kFileRecords) - 1, FALSE);
  list.Scroll(0, (kTop - list.GetTopIndex()) * int(list.m_rowHeight));
  ASSERT_EQ(list.GetTopIndex(), kTop);
  const uint32_t point = g_appConfig.m_fontPoint;
  kt_test::CModalRecorder modal;
  for (const uint32_t tenths : {point + 80, point}) {
    SCOPED_TRACE(tenths);
    const UINT height = list.m_rowHeight;
    modal.answerWith = [&](CDialogImplBase& dialog, UINT templateId) -> INT_PTR {
      EXPECT_EQ(UINT(IDD_OPTIONS), templateId);
      g_appConfig.m_fontPoint = tenths;
      static_cast<COptionsDlg&>(dialog).m_changes.font = 1;
      return IDOK;
    };
    Frame().SendMessage(WM_COMMAND, MAKEWPARAM(ID_VIEW_OPTIONS, 0), 0);
    EXPECT_NE(list.m_rowHeight, height);
    EXPECT_EQ(list.GetTopIndex(), kTop);
  }
  CloseDocument(1);
}
