// The live capture, the notices of the other threads, the job reports and
// the refresh timer; text and file names handed to the window.
#include <new>
#include <string>

#include "app/MainFrame.h"
#include "capture/TraceCapture.h"
#include "core/StoreLock.h"
#include "core/StrUtil.h"
#include "core/SysUtil.h"
#include "core/TraceView.h"
#include "jobs/JobMgr.h"
#include "jobs/LocalJobs.h"
#include "jobs/RemoteJobs.h"
#include "resource.h"
#include "ui/framework/MessageBoxes.h"

namespace {
constexpr size_t kReportChars = 256;
constexpr DWORD kWinInetFirstError = 12000;

// The system's text for an error code, with trailing line ends and full
// stops removed; empty when there is none.
CString SystemErrorText(DWORD code) {
  CString text;
  DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
  HMODULE wininet = nullptr;
  if (code >= kWinInetFirstError) {
    wininet = ::LoadLibraryW(L"wininet.dll");
    if (wininet != nullptr) {
      flags |= FORMAT_MESSAGE_FROM_HMODULE;
    }
  }
  wchar_t* message = nullptr;
  const DWORD length = ::FormatMessageW(flags, wininet, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                        reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  if (length != 0 && message != nullptr) {
    size_t end = length;
    while (end > 0 && (message[end - 1] == L'\r' || message[end - 1] == L'\n' || message[end - 1] == L'.')) {
      --end;
    }
    text.Assign(message, end);
  }
  if (message != nullptr) {
    ::LocalFree(message);
  }
  if (wininet != nullptr) {
    ::FreeLibrary(wininet);
  }
  return text;
}
}  // namespace

CTraceMgr* CMainFrame::CaptureStore() const { return m_capture; }

void CMainFrame::StartCapture(const wchar_t* commandLine) {
  HCURSOR previous = ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
  auto* capture = new (std::nothrow) CTraceCapture(m_hWnd);
  bool started = false;
  if (capture != nullptr && capture->Init(0) && g_jobMgr.Start(capture, m_hWnd, 1)) {
    m_captureOn = true;
    m_capture = capture;
    if (AddDocument(capture)) {
      started = true;
      if (TabItem* item = m_viewStrip.Model().GetItem(0, 0)) {
        item->flags |= TBF_NOCLOSE | ktframe::TBF_PERMANENT;
      }
      if (TabItem* item = m_documentStrip.Model().GetItem(0, 0)) {
        item->flags |= TBF_NOCLOSE | ktframe::TBF_PERMANENT;
      }
      m_viewStrip.Refresh(true, false);
      m_documentStrip.Refresh(true, false);
      SetTimer(ktframe::kRefreshTimerId, ktframe::kRefreshTimerMs);
      OpenCommandLineFile(commandLine);
    }
  }
  if (!started) {
    // The state is settled before the box: its loop dispatches our messages.
    m_captureOn = false;
    m_capture = nullptr;
    g_jobMgr.Stop();
    if (capture != nullptr) {
      capture->Release();
    }
    MessageBoxId(IDS_APP_INIT_FAILED, MB_ICONERROR);
    PostMessage(WM_CLOSE);
  }
  ::SetCursor(previous);
}

void CMainFrame::ToggleCapture(bool on) {
  if (m_captureOn == on) {
    return;
  }
  m_captureOn = on;
  const bool failed = !g_jobMgr.EnableCapture(on ? 1 : 0) && on;
  if (failed) {
    m_captureOn = false;
  }
  if (!m_captureOn && m_connectionState == ktframe::kConnecting) {
    ResetConnection();
  }
  UpdateTitle();
  if (failed) {
    MessageBoxId(IDS_START_CAPTURE_THREAD_FAILED, MB_ICONERROR);
  }
}

void CMainFrame::ResetConnection() {
  m_connectionState = ktframe::kNotConnected;
  m_remoteAddress.Assign(L"", 0);
}

LRESULT CMainFrame::OnThreadsNotifyMessage(UINT, WPARAM wParam, LPARAM lParam) {
  return OnThreadsNotify(uint32_t(wParam), lParam);
}

void CMainFrame::ShowCaptureFailure(uint32_t stringId, UINT icon) { MessageBoxId(stringId, icon); }

void CMainFrame::CaptureEnded(uint32_t stringId) {
  // The state is settled before the box: its loop dispatches our messages.
  m_captureOn = false;
  g_jobMgr.EnableCapture(0);
  ResetConnection();
  UpdateTitle();
  ShowCaptureFailure(stringId, MB_ICONERROR);
}

void CMainFrame::SetConnection(uint32_t state, const wchar_t* address) {
  m_connectionState = state;
  m_remoteAddress.Assign(address != nullptr ? address : L"");
  UpdateTitle();
}

LRESULT CMainFrame::OnThreadsNotify(uint32_t code, LPARAM value) {
  switch (code) {
    case kNotifyNotice:
      switch (uint32_t(value)) {
        case kNoticeOldestDropped:
          if (IsLiveShown() && IsUsable(ShownView())) {
            ClearListSelection();
            UpdateView(ShownView(), 0, 1, 0, nullptr);
          }
          break;
        case IDS_START_HVN_FAILED:
        case IDS_START_QRC_FAILED:
        case IDS_START_QRV_FAILED:
        case IDS_BACKUP_CREATE_FAILED:
        case IDS_BACKUP_WRITE_FAILED:
          ShowCaptureFailure(uint32_t(value), MB_ICONWARNING);
          break;
        case IDS_START_CAPTURE_FAILED:
          DebugTraceA("CMainFrame::OnThreadsNotify, 111");
          CaptureEnded(IDS_START_CAPTURE_FAILED);
          break;
        case kNoticeCaptureFailed:
          // The loop ended by itself: the capture no longer runs, so the
          // frame must not claim it does.
          DebugTraceA("CMainFrame::OnThreadsNotify, 112");
          CaptureEnded(IDS_CAPTURE_STOPPED);
          break;
        // These two may come every second for as long as the trouble lasts:
        // one box per streak tells the user without burying the window.
        case kNoticeRecordsLost:
          if (m_lossStreak.Notice()) {
            ShowCaptureFailure(IDS_RECORDS_LOST, MB_ICONWARNING);
          }
          break;
        case kNoticeChannelFailed:
          if (m_channelStreak.Notice()) {
            ShowCaptureFailure(IDS_CHANNEL_FAILED, MB_ICONWARNING);
          }
          break;
        default:
          break;
      }
      return 0;
    case kNotifyJobStarted:
      UpdateStatusBar(1);
      return 0;
    case kNotifyJobFinished: {
      // Any process can post WM_APP: only a job the manager handed over is
      // ours to report and delete.
      auto* job = reinterpret_cast<JobItem*>(value);
      if (job == nullptr || !g_jobMgr.TakeFinishedJob(job)) {
        return 0;
      }
      OnThreadFinished(job);
      if (m_uploadDlg != nullptr) {
        m_uploadDlg->ForgetJob(job);
      }
      delete job;
      return 0;
    }
    case kNotifyPeerLost:
    case kNotifyRemoteConnectFailed: {
      if (m_connectionState == ktframe::kNotConnected) {
        return 0;  // nothing to lose: a stale or foreign notice
      }
      const UINT id = code == kNotifyPeerLost ? IDS_CONNECT_LOST : IDS_CONNECT_FAILED;
      const CString address = m_remoteAddress;  // the reset below clears it
      ResetConnection();
      UpdateTitle();
      ktui::MessageBoxFromId(m_hWnd, id, MB_ICONWARNING, address.c_str());
      return 0;
    }
    case kNotifyRemoteConnected:
      if (m_connectionState != ktframe::kConnecting) {
        return 0;
      }
      m_connectionState = ktframe::kConnected;
      UpdateTitle();
      return 0;
    default:
      return 0;
  }
}

// Failures of a listing or a fetch are shown over the remote-file dialog
// while it is in sight, so they appear where the user is looking.
HWND CMainFrame::RemoteFileOwner() const {
  HWND dialog = m_remoteFileDlg != nullptr ? m_remoteFileDlg->DialogWindow() : nullptr;
  return dialog != nullptr && ::IsWindowVisible(dialog) ? dialog : m_hWnd;
}

void CMainFrame::ReportFailedJob(const JobItem& job) {
  wchar_t report[kReportChars] = {};
  const uint32_t code = job.ErrorCode();
  if (code != 0) {
    const CString system = SystemErrorText(code);
    StrPrintfW(report, kReportChars, L"%s failed, error %u [%s]", job.Title().c_str(), code,
               system.IsEmpty() ? L"N/A" : system.c_str());
  } else {
    StrPrintfW(report, kReportChars, L"%s failed.", job.Title().c_str());
  }
  const uint32_t titleId = job.TitleId();
  const bool remote = titleId == IDS_JOB_REMOTE_LIST || titleId == IDS_JOB_REMOTE_GET;
  ktui::MessageBoxText(remote ? RemoteFileOwner() : m_hWnd, report, MB_ICONERROR);
}

void CMainFrame::OnThreadFinished(JobItem* job) {
  const uint32_t titleId = job->TitleId();
  const bool opened = !job->Failed() && (titleId == IDS_JOB_OPENING || titleId == IDS_JOB_REMOTE_GET);
  if (!opened) {
    UpdateStatusBar(1);
  }
  if (job->Failed()) {
    ReportFailedJob(*job);
  } else if (opened) {
    CTraceMgr* store = titleId == IDS_JOB_OPENING ? static_cast<JobFile*>(job)->Store()
                                                   : static_cast<JobRmtGet*>(job)->Store();
    // The progress goes from the status bar in the paint that shows the
    // document; a message box must not find the frame held.
    HoldFramePainting();
    UpdateStatusBar(1);
    const int added = store != nullptr ? AddDocument(store) : 0;
    PaintFrameOnce();
    if (added != 0) {
      store->AddRef();  // the job's own reference goes with the job
    } else {
      MessageBoxId(IDS_ADD_TAB_GROUP_FAILED, MB_ICONERROR);
    }
  }
  switch (titleId) {
    case IDS_JOB_SEARCHING:
      FinishFilterJob(static_cast<JobFilter*>(job)->View());
      break;
    case IDS_JOB_REMOTE_LIST:
      if (m_remoteFileDlg != nullptr) {
        m_remoteFileDlg->OnListFilesDone(static_cast<JobRmtList*>(job)->Listing());
      }
      break;
    case IDS_JOB_REMOTE_GET:
      if (m_remoteFileDlg != nullptr) {
        m_remoteFileDlg->EnableControls();
      }
      break;
    default:
      break;
  }
}

// Whatever the outcome, the tab gets its title and closability back and, when
// it is the one in sight, shows its view again.
void CMainFrame::FinishFilterJob(CTraceView* view) {
  CTabStripModel& model = m_viewStrip.Model();
  size_t groupIndex = 0;
  const int64_t itemIndex = model.FindItemByData(reinterpret_cast<uint64_t>(view), &groupIndex);
  if (view == nullptr || itemIndex < 0) {
    return;
  }
  view->UpdateTitle();
  m_viewStrip.SetItemText(groupIndex, size_t(itemIndex), view->m_title.c_str());
  SetItemClosable(groupIndex, size_t(itemIndex), true);
  if (int64_t(groupIndex) == model.Current()) {
    m_viewStrip.Refresh(true, false);
    if (model.CurrentGroup()->selected == size_t(itemIndex)) {
      UpdateView(view, 1, 1, 1, nullptr);
    }
  }
}

LRESULT CMainFrame::OnTimerMessage(UINT, WPARAM wParam, LPARAM) {
  if (wParam == ktframe::kRefreshRetryTimerId) {
    KillTimer(ktframe::kRefreshRetryTimerId);
    CTraceView* view = ShownView();
    if (IsLiveShown() && IsUsable(view) && view->ExchangeState(kViewIdle) == kViewNewRecords) {
      RefreshLiveView(view, UpdateStatusBar(0));
    }
    return 0;
  }
  const LRESULT result = OnTimer(wParam);
  if (wParam == ktframe::kRefreshTimerId) {
    SetTimer(ktframe::kRefreshTimerId, MsToSecondMark(SystemMsIntoSecond(), ktframe::kRefreshMarkMs));
  }
  return result;
}

LRESULT CMainFrame::OnTimer(UINT_PTR) {
  m_lossStreak.Tick();
  m_channelStreak.Tick();
  const int busy = UpdateStatusBar(0);
  CTraceView* view = ShownView();
  if (!IsLiveShown() || !IsUsable(view)) {
    return 0;
  }
  if (m_list.m_recheck != 0) {
    m_list.m_recheck = 0;
    m_followNewItems = m_list.CheckScrolledToEnd();
  }
  if (view->ExchangeState(kViewIdle) == kViewNewRecords) {
    RefreshLiveView(view, busy);
    return 0;
  }
  if (busy == 0 && m_capture != nullptr && m_capture->ExchangeNewData(0) == 1) {
    UpdateFilterStatus();
  }
  return 0;
}

void CMainFrame::RefreshLiveView(CTraceView* view, int busy) {
  // The refresh never waits for the capture's store: when it is busy the
  // view keeps its news, and they are looked at again shortly. Held through
  // the repaint, the lock is taken again by the paint without waiting.
  const CStoreLock lock(CurrentStore(), kLockShared, 0);
  if (!lock.Held()) {
    view->ExchangeState(kViewNewRecords);
    SetTimer(ktframe::kRefreshRetryTimerId, ktframe::kRefreshRetryMs);
    return;
  }
  UpdateView(view, 0, busy == 0 ? 1 : 0, 0, nullptr);
}
