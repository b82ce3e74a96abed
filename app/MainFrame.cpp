// Creation, layout and destruction of the main frame.
#include "app/MainFrame.h"

#include "app/AcceleratorFilter.h"

#include <shellapi.h>

#include "capture/LocalFileList.h"
#include "capture/TraceCapture.h"
#include "core/AppConfig.h"
#include "core/StrUtil.h"
#include "core/SysUtil.h"
#include "jobs/JobMgr.h"
#include "net/Inet.h"
#include "net/RemoteServer.h"
#include "resource.h"
#include "ui/framework/DeviceContext.h"
#include "ui/framework/MessageBoxes.h"

namespace {
constexpr UINT kImageWidth = 16;
constexpr int kDragImageCount = 2;
constexpr int kTabImageCount = 4;
constexpr int kViewStripExtraHeight = 4;
constexpr int kViewStripSlack = 8;
constexpr size_t kToolTextChars = 32;
constexpr int kMaxColumns = 16;
constexpr COLORREF kToolImageMask = RGB(255, 0, 255);
}  // namespace

CMainFrame::CMainFrame() { DebugTraceA("CMainFrame::CMainFrame"); }

// Documents went in OnDestroy; a frame that never got a window holds none.
// The class goes with the last frame: a window made later under its name
// (another viewer's stand-in, a frame reopened) must not find our procedure.
// Unregistering fails harmlessly while another frame's window is open.
CMainFrame::~CMainFrame() { GetWndClassInfo().Unregister(); }

LRESULT CMainFrame::OnCreate(UINT, WPARAM, LPARAM) {
  if (!g_inetSession.Open()) {
    MessageBoxId(IDS_WININET_INIT_FAILED, MB_ICONERROR);
    return -1;
  }
  m_followNewItems = g_appConfig.m_autoScroll;
  g_remoteServers.LoadFromIni(g_appConfig.m_remoteServers);
  m_menuBar = GetMenu();
  if (g_appConfig.m_showMenu == 0) {
    SetMenu(nullptr);
  }
  m_dragImages.CreateFromImage(IDB_DRAG, kImageWidth, kDragImageCount, CLR_DEFAULT, LR_CREATEDIBSECTION);
  m_tabImages.CreateFromImage(IDB_TABS, kImageWidth, kTabImageCount, CLR_DEFAULT, LR_CREATEDIBSECTION);
  CreateChildren();
  CreateToolTip();
  ::DragAcceptFiles(m_hWnd, TRUE);
  if (g_appConfig.m_alwaysOnTop != 0) {
    SetAlwaysOnTop(1);
  }
  if (CMessageLoop* loop = CMessageLoop::ForCurrentThread()) {
    loop->AddMessageFilter(this);
    loop->AddIdleHandler(this);
    m_inLoop = true;
  }
  SetSaveLogMutex(1);
  return 0;
}

void CMainFrame::CreateChildren() {
  m_hWndToolBar = CreateSimpleToolBarCtrl(IDR_MAINFRAME, FALSE, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN |
                                                                    WS_CLIPSIBLINGS);
  m_toolBar.Attach(m_hWndToolBar);
  if (m_toolBar.m_hWnd != nullptr) {
    m_toolBar.ModifyStyle(0, TBSTYLE_FLAT);
    if (m_toolImages.CreateFromImage(IDR_MAINFRAME, kImageWidth, 0, kToolImageMask, LR_CREATEDIBSECTION)) {
      m_toolBar.SendMessage(TB_SETIMAGELIST, 0, LPARAM(m_toolImages.get()));
    }
    m_toolBar.SendMessage(TB_SETEXTENDEDSTYLE, 0, TBSTYLE_EX_DRAWDDARROWS);
    SetupToolBar(ID_FILE_DROPDOWN, 0);
    SetupToolBar(ID_TOOLS_DROPDOWN, 0);
    m_toolBar.SetButtonSize(ktframe::kToolButtonSize, ktframe::kToolButtonSize);
    SetToolBarButtonState(ID_VIEW_STRIP, 0);
    if (m_viewStrip.Create(m_toolBar.m_hWnd, m_tabImages.get(), 0, 0, ID_VIEW_STRIP)) {
      m_viewStrip.SetNotifyWindow(m_hWnd);
    }
    SetToolBarButtonState(ID_QUICK_FILTER_EDIT, ktframe::kQuickFilterSlotWidth);
    m_quickFilter.Create(m_hWnd, m_toolBar.m_hWnd, ID_QUICK_FILTER_EDIT, ID_QUICK_FILTER);
  }
  if (m_documentStrip.Create(m_hWnd, m_tabImages.get(), WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                             ktframe::kDocumentStripHeight, ktframe::kDocumentStripId)) {
    m_documentStrip.AddGroup(L"", 0);
  }
  if (m_statusBar.CreateEx(m_hWnd, ktframe::kStatusBarNotifyId)) {
    m_hWndStatusBar = m_statusBar.m_hWnd;
  }
  if (m_list.Create(m_hWnd, nullptr, nullptr, ktframe::kListStyle, WS_EX_CLIENTEDGE, ktframe::kListId) != nullptr) {
    m_hWndClient = m_list.m_hWnd;
    m_list.Init(nullptr);
    m_list.m_paintLock = this;
    m_list.m_columnsObserver = this;
  }
  m_gridLines = g_appConfig.m_gridLines;
  m_list.m_gridLines = m_gridLines;
  if (m_listFont.CreatePointFont(int(g_appConfig.m_fontPoint), g_appConfig.m_fontName.c_str())) {
    m_list.SetFont(m_listFont.get(), FALSE);
  }
  UpdateColumns();
  RestoreColumnOrder();
}

void CMainFrame::CreateToolTip() {
  if (m_toolTip.CreatePopup(m_hWnd) == nullptr) {
    return;
  }
  m_toolTip.SetNotifyWindow(m_hWnd);
  m_toolTip.SetControlId(ktframe::kToolTipId);
  m_toolTip.SetToolbar(m_toolBar.m_hWnd);
  m_toolTip.AddTool(m_viewStrip.m_hWnd);
  m_toolTip.AddTool(m_statusBar.m_hWnd);
  m_toolTip.AddTool(m_documentStrip.m_hWnd);
}

// The saved order is applied only when it names every column exactly once.
void CMainFrame::RestoreColumnOrder() {
  const int count = int(m_list.m_header.SendMessage(HDM_GETITEMCOUNT));
  if (count < 1 || count > kMaxColumns) {
    return;
  }
  int order[kMaxColumns] = {};
  if (g_appConfig.LoadSaveColumnOrder(1, count, order) != count) {
    return;
  }
  bool seen[kMaxColumns] = {};
  for (int i = 0; i < count; ++i) {
    if (order[i] < 0 || order[i] >= count || seen[order[i]]) {
      return;
    }
    seen[order[i]] = true;
  }
  m_list.m_header.SendMessage(HDM_SETORDERARRAY, WPARAM(count), LPARAM(order));
}

void CMainFrame::StoreColumnOrder() {
  const int count = int(m_list.m_header.SendMessage(HDM_GETITEMCOUNT));
  if (count < 1 || count > kMaxColumns) {
    return;
  }
  int order[kMaxColumns] = {};
  if (m_list.m_header.SendMessage(HDM_GETORDERARRAY, WPARAM(count), LPARAM(order))) {
    g_appConfig.LoadSaveColumnOrder(0, count, order);
  }
}

LRESULT CMainFrame::OnDestroy(UINT, WPARAM, LPARAM) {
  SetMsgHandled(FALSE);
  ::KillTimer(m_hWnd, ktframe::kRefreshTimerId);
  ::KillTimer(m_hWnd, ktframe::kRefreshRetryTimerId);
  if (m_inLoop) {
    if (CMessageLoop* loop = CMessageLoop::ForCurrentThread()) {
      loop->RemoveMessageFilter(this);
      loop->RemoveIdleHandler(this);
    }
    m_inLoop = false;
  }
  m_dragImages.Destroy();
  m_tabImages.Destroy();
  m_toolBar.SendMessage(TB_SETIMAGELIST, 0, 0);
  m_toolImages.Destroy();
  // A menu attached to the window goes with it; a detached one is ours.
  if (m_menuBar != nullptr && GetMenu() != m_menuBar) {
    ::DestroyMenu(m_menuBar);
  }
  m_menuBar = nullptr;
  // The modeless dialogs go before the jobs they watch are deleted.
  DestroyRemoteWindows();
  g_jobMgr.Stop();
  ReleaseDocuments();
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
  if (length > 0 && length <= MAX_PATH) {
    DeleteRemoteTempFiles(temp);
  }
  g_localFileList.DeleteDumpFiles();
  StoreColumnOrder();
  if (g_appConfig.m_iniPath[0] != L'\0') {
    g_appConfig.Save();
  }
  SetSaveLogMutex(0);
  return 0;
}

void CMainFrame::ReleaseDocuments() {
  m_shownView = nullptr;
  CTabStripModel& model = m_viewStrip.Model();
  for (size_t i = 0; i < model.GroupCount(); ++i) {
    auto* store = reinterpret_cast<CTraceMgr*>(model.GetGroup(i)->data);
    if (store != nullptr) {
      store->Release();
    }
  }
  // The capture's reference went with group 0 (or it never got a group).
  if (model.GroupCount() == 0 && m_capture != nullptr) {
    m_capture->Release();
  }
  m_capture = nullptr;
}

LRESULT CMainFrame::OnSize(UINT, WPARAM, LPARAM lParam) {
  SetMsgHandled(FALSE);
  const int width = short(LOWORD(lParam));
  if (width < 1 || m_toolBar.m_hWnd == nullptr) {
    return 0;
  }
  if (m_viewStrip.m_hWnd != nullptr) {
    const int index = m_toolBar.CommandToIndex(ID_VIEW_STRIP);
    RECT slot;
    if (index >= 0 && m_toolBar.GetItemRect(index, &slot)) {
      int others = 0;
      const int count = m_toolBar.GetButtonCount();
      for (int i = 0; i < count; ++i) {
        RECT rect;
        if (i != index && m_toolBar.GetItemRect(i, &rect)) {
          others += rect.right - rect.left;
        }
      }
      const int stripWidth = width - others - kViewStripSlack > 0 ? width - others - kViewStripSlack : 0;
      TBBUTTONINFOW info = {sizeof(info), TBIF_SIZE};
      info.cx = WORD(stripWidth);
      m_toolBar.SetButtonInfo(ID_VIEW_STRIP, info);
      m_viewStrip.SetWindowPos(nullptr, slot.left, slot.top, stripWidth,
                               slot.bottom - slot.top + kViewStripExtraHeight, SWP_NOZORDER);
    }
  }
  if (m_quickFilter.m_hWnd != nullptr) {
    const int index = m_toolBar.CommandToIndex(ID_QUICK_FILTER_EDIT);
    RECT slot, bar;
    if (index >= 0 && m_toolBar.GetItemRect(index, &slot) && m_quickFilter.GetWindowRect(&bar)) {
      const int top = slot.top + ((slot.bottom - slot.top) - (bar.bottom - bar.top)) / 2;
      m_quickFilter.SetWindowPos(nullptr, slot.left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    }
  }
  return 0;
}

void CMainFrame::UpdateLayout(BOOL resizeBars) {
  RECT rect;
  GetClientRect(&rect);
  UpdateBarsPosition(rect, resizeBars);
  if (m_documentStrip.m_hWnd != nullptr) {
    const TabGroup* group = m_documentStrip.Model().GetGroup(0);
    if (group != nullptr && group->Count() >= 2) {
      rect.bottom -= ktframe::kDocumentStripHeight;
      m_documentStrip.SetWindowPos(nullptr, rect.left, rect.bottom, rect.right - rect.left,
                                   ktframe::kDocumentStripHeight,
                                   SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW |
                                       (m_frameHolds != 0 ? SWP_NOREDRAW : 0));
    } else {
      m_documentStrip.ShowWindow(SW_HIDE);
    }
  }
  if (m_hWndClient != nullptr) {
    ::SetWindowPos(m_hWndClient, nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

LRESULT CMainFrame::OnEraseBackground(UINT, WPARAM wParam, LPARAM) {
  auto dc = reinterpret_cast<HDC>(wParam);
  RECT clip;
  if (dc == nullptr) {
    return 1;
  }
  // The list paints all of its window itself. While it is held from drawing
  // it is not visible to the clipping of children, and filling its place
  // showed a white list for a moment before its rows came.
  const CSaveDC saved(dc);
  RECT list;
  if (m_list.m_hWnd != nullptr && ::GetWindowRect(m_list.m_hWnd, &list)) {
    ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&list), 2);
    ::ExcludeClipRect(dc, list.left, list.top, list.right, list.bottom);
  }
  if (::GetClipBox(dc, &clip) != ERROR) {
    ::FillRect(dc, &clip, ::GetSysColorBrush(COLOR_WINDOW));
  }
  return 1;
}

LRESULT CMainFrame::OnGetMinMaxInfo(UINT, WPARAM, LPARAM lParam) {
  auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
  info->ptMinTrackSize.x = ktframe::kMinTrackWidth;
  info->ptMinTrackSize.y = ktframe::kMinTrackHeight;
  return 0;
}

void CMainFrame::SetToolBarButtonState(UINT id, int width) {
  TBBUTTONINFOW info = {sizeof(info), TBIF_STATE | TBIF_STYLE | TBIF_SIZE};
  info.fsState = 0;
  info.fsStyle = BTNS_SHOWTEXT;
  info.cx = WORD(width);
  m_toolBar.SetButtonInfo(id, info);
}

int CMainFrame::SetupToolBar(UINT id, int withText) {
  const int index = m_toolBar.CommandToIndex(id);
  if (index < 0) {
    return 0;
  }
  TBBUTTON button = {};
  if (!m_toolBar.GetButton(index, &button)) {
    return 0;
  }
  button.fsStyle |= BTNS_WHOLEDROPDOWN;
  if (withText != 0) {
    CString text;
    text.LoadString(::GetModuleHandleW(nullptr), id);
    const wchar_t* shown = text.c_str();
    if (const wchar_t* feed = wcschr(shown, L'\n')) {
      shown = feed + 1;
    }
    wchar_t cut[kToolTextChars] = {};
    StrCopyNW(cut, kToolTextChars, shown);
    const int stringIndex = m_toolBar.AddString(cut);
    if (stringIndex >= 0) {
      button.iString = stringIndex;
      button.fsStyle |= BTNS_SHOWTEXT;
    }
  }
  m_toolBar.DeleteButton(index);
  return m_toolBar.InsertButton(index, button) ? 1 : 0;
}

void CMainFrame::SetSaveLogMutex(int hold) {
  if (hold != 0) {
    if (!m_saveLogMutex.valid()) {
      m_saveLogMutex.reset(::CreateMutexW(nullptr, TRUE, ktframe::kSaveLogMutexName));
    }
  } else {
    m_saveLogMutex.reset();
  }
  ::OutputDebugStringW(L"CMainFrame::SetSaveLogMutex");
}

// The modeless dialogs get their keys from the message loop's registry
// (CMessageLoop::AddModelessDialog), after this filter.
BOOL CMainFrame::PreTranslateMessage(MSG* msg) {
  if (m_dragging && msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE) {
    CancelDrag();
    return TRUE;
  }
  // An edit control with the focus keeps its editing keys (Ctrl+C copies
  // its text, not the selected rows).
  if (!KeyBelongsToEdit(*msg) && TranslateAccelerator(msg)) {
    return TRUE;
  }
  if (m_toolTip.m_hWnd != nullptr) {
    m_toolTip.RelayEvent(msg);
  }
  return FALSE;
}

int CMainFrame::MessageBoxId(UINT stringId, UINT icon, HWND owner) {
  return ktui::MessageBoxFromId(owner != nullptr ? owner : m_hWnd, stringId, icon);
}
