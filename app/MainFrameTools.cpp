// Clearing the live display, the options that the View menu switches, and
// the tool commands that open dialogs.
#include "app/MainFrame.h"
#include "app/StoreLock.h"
#include "app/WaitCursor.h"
#include "capture/TraceCapture.h"
#include "core/AppConfig.h"
#include "core/TraceView.h"
#include "resource.h"

void CMainFrame::OnClearDisplay(UINT) {
  if (m_capture == nullptr) {
    return;
  }
  m_capture->SetTracerProp(1);
  if (!IsLiveShown()) {
    return;
  }
  {
    const CWaitCursor wait;
    const CStoreLock lock(m_capture, kLockExclusive);
    if (!lock.Held()) {
      return;
    }
    m_capture->Clear();
  }
  UpdateView(ShownView(), 0, 1, 0, nullptr);
}

void CMainFrame::OnSelectAll(UINT) {
  if (IsUsable(ShownView()) && m_list.GetItemCount() > 0) {
    SelectItem(-1);
  }
}

void CMainFrame::OnAlwaysOnTop(UINT) {
  g_appConfig.m_alwaysOnTop = g_appConfig.m_alwaysOnTop != 0 ? 0 : 1;
  SetAlwaysOnTop(int(g_appConfig.m_alwaysOnTop));
}

void CMainFrame::SetAlwaysOnTop(int on) {
  ::SetWindowPos(m_hWnd, on != 0 ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
}

void CMainFrame::OnAutoScroll(UINT) {
  m_followNewItems = m_followNewItems != 0 ? 0 : 1;
  g_appConfig.m_autoScroll = m_followNewItems;
  m_list.ResetTracking(m_followNewItems, IsLiveShown());
}

// The commands below open dialogs; each shows its dialog once the dialog
// library offers it.
void CMainFrame::OnOptions(UINT) {}

void CMainFrame::OnFilter(UINT) {}

void CMainFrame::OnSelectColumns(UINT) {}

void CMainFrame::OnTraceStatistic(UINT) {}

void CMainFrame::OnErrorLookup(UINT) {}

void CMainFrame::OnBase64Convert(UINT) {}

void CMainFrame::OnAppAbout(UINT) {}

LRESULT CMainFrame::OnShowDetail(int) { return 0; }

void CMainFrame::OnGoto(UINT) {}
