// Clearing the live display, the options that the View menu switches, and
// the tool commands that open dialogs.
#include "app/ColumnOrder.h"
#include "app/MainFrame.h"
#include "app/WaitCursor.h"
#include "capture/TraceCapture.h"
#include "core/AppConfig.h"
#include "core/StoreLock.h"
#include "core/SysUtil.h"
#include "core/TraceView.h"
#include "resource.h"
#include "ui/dialogs/AboutDlg.h"
#include "ui/dialogs/Base64ConvDlg.h"
#include "ui/dialogs/DetailDlg.h"
#include "ui/dialogs/ErrorLookUpDlg.h"
#include "ui/dialogs/FilterDlg.h"
#include "ui/dialogs/GotoDlg.h"
#include "ui/dialogs/OptionsDlg.h"
#include "ui/dialogs/SelectColumnsDlg.h"
#include "ui/dialogs/StatisticDlg.h"

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

void CMainFrame::OnGoto(UINT) {
  const int rows = m_list.GetItemCount();
  if (!IsUsable(ShownView()) || rows <= 0) {
    return;
  }
  CGotoDlg dialog;
  const int first = FirstSelectedRow();
  dialog.m_line = first >= 0 ? first + 1 : 1;
  dialog.m_lineCount = uint32_t(rows);
  if (dialog.DoModal(::GetActiveWindow()) == IDOK) {
    SelectItem(dialog.m_line - 1);
  }
}

void CMainFrame::OnOptions(UINT) {
  COptionsDlg dialog;
  if (dialog.DoModal(::GetActiveWindow()) != IDOK) {
    return;
  }
  if (dialog.m_changes.font != 0) {
    ReplaceListFont();
  }
  m_gridLines = g_appConfig.m_gridLines;
  m_list.m_gridLines = m_gridLines;
  m_list.m_header.Invalidate(TRUE);
  m_list.Invalidate(TRUE);
  if (dialog.m_changes.autoScroll != 0) {
    m_followNewItems = g_appConfig.m_autoScroll;
  }
  if (dialog.m_changes.alwaysOnTop != 0) {
    SetAlwaysOnTop(int(g_appConfig.m_alwaysOnTop));
  }
  if (dialog.m_changes.showMenu != 0) {
    SetMenu(g_appConfig.m_showMenu != 0 ? m_menuBar : nullptr);
  }
}

// The list measures its fixed row height only on a size change: it is sized
// to nothing and back, and its top row and following are kept. The top row
// is scrolled back to the top: making it visible from row 0 would leave it
// at the bottom, a page away from where the user was.
void CMainFrame::ReplaceListFont() {
  CFont font;
  if (!font.CreatePointFont(int(g_appConfig.m_fontPoint), g_appConfig.m_fontName.c_str())) {
    return;
  }
  m_listFont = std::move(font);
  m_list.SetFont(m_listFont.get(), FALSE);
  const int top = m_list.GetTopIndex();
  const uint32_t follow = m_followNewItems;
  m_list.EnsureVisible(0, FALSE);
  RECT rect;
  m_list.GetWindowRect(&rect);
  constexpr UINT kResize = SWP_NOMOVE | SWP_NOZORDER | SWP_NOREDRAW;
  m_list.SetWindowPos(nullptr, 0, 0, 0, 0, kResize);
  m_list.SetWindowPos(nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top, kResize);
  m_followNewItems = follow;
  const int delta = top - m_list.GetTopIndex();
  if (top >= 0 && delta != 0 && m_list.m_rowHeight != 0) {
    m_list.Scroll(0, delta * int(m_list.m_rowHeight));
  }
}

void CMainFrame::OnFilter(UINT) {
  CTraceView* view = ShownView();
  const int64_t group = m_viewStrip.Model().Current();
  if (!IsUsable(view) || group < 0) {
    return;
  }
  CFilterDlg dialog;
  if (dialog.RunForView(*view, IsLiveShown(), ::GetActiveWindow()) != IDOK) {
    return;
  }
  // The dialog's loop may have moved the selection meanwhile.
  m_viewStrip.SelectGroup(size_t(group));
  const TabGroup* current = m_viewStrip.Model().CurrentGroup();
  if (current != nullptr && current->selected != kTabNoItem) {
    ApplyFilterToTab(current->selected, 0, dialog.m_filter);
  }
}

void CMainFrame::OnSelectColumns(UINT) {
  CSelectColumnsDlg dialog;
  dialog.m_mask = g_appConfig.m_columns;
  int order[kColumnKinds] = {};
  int count = int(m_list.m_header.SendMessage(HDM_GETITEMCOUNT));
  if (count < 0 || count > int(kColumnKinds) ||
      !m_list.m_header.SendMessage(HDM_GETORDERARRAY, WPARAM(count), LPARAM(order))) {
    count = 0;
  }
  ktcols::BitsInDisplayOrder(order, count, m_columns, dialog.m_order);
  dialog.m_count = uint32_t(count);
  if (dialog.DoModal(::GetActiveWindow()) != IDOK || dialog.m_changed == 0) {
    return;
  }
  g_appConfig.m_columns = dialog.m_mask;
  UpdateColumns();
  const int shown = int(dialog.m_count < kColumnKinds ? dialog.m_count : kColumnKinds);
  int positions[kColumnKinds] = {};
  for (int i = 0; i < shown; ++i) {
    positions[i] = i < count ? order[i] : i;
  }
  ktcols::OrderFromBits(dialog.m_order, shown, m_columns, positions);
  m_list.m_header.SendMessage(HDM_SETORDERARRAY, WPARAM(shown), LPARAM(positions));
  m_list.Invalidate(TRUE);
}

// At most one: the command is refused while the dialog's slot is taken.
void CMainFrame::OnTraceStatistic(UINT) {
  if (m_statisticWindow == nullptr) {
    CTraceStatisticDlg::Open(&m_statisticWindow, m_hWnd, &m_viewStrip.Model());
  }
}

void CMainFrame::OnErrorLookup(UINT) { CErrorLookUpDlg::Run(::GetActiveWindow()); }

void CMainFrame::OnBase64Convert(UINT) {
  CBase64ConvDlg dialog;
  dialog.DoModal(::GetActiveWindow());
}

void CMainFrame::OnAppAbout(UINT) {
  wchar_t version[CAboutDlg::kVersionChars] = {};
  GetModuleVersionString(nullptr, version, CAboutDlg::kVersionChars);
  CAboutDlg dialog(version);
  dialog.DoModal(::GetActiveWindow());
}

// The record as it is stored (its message not blanked for the list).
LRESULT CMainFrame::OnShowDetail(int row) {
  CTraceView* view = ShownView();
  if (row < 0 || !IsUsable(view)) {
    return 0;
  }
  CDetailDlg dialog;
  {
    const CStoreLock lock(CurrentStore(), kLockShared);
    if (!lock.Held() || size_t(row) >= view->RecordCount()) {
      return 0;
    }
    dialog.SetRecord(*view->RecordAt(size_t(row)), size_t(row));
  }
  dialog.DoModal(::GetActiveWindow());
  return 0;
}
