// The command table, the menu states, the routing of commands and
// notifications, the toolbar drop-downs with the history submenu, the list's
// context menu and the header's column menu.
#include "app/MainFrame.h"
#include "app/ColumnOrder.h"
#include "capture/LocalFileList.h"
#include "core/AppConfig.h"
#include "core/StoreLock.h"
#include "core/TraceView.h"
#include "resource.h"
#include "ui/framework/Menu.h"
#include "ui/framework/PopupSeam.h"

namespace {
constexpr UINT kMenuTextChars = 128;
constexpr UINT kGrayed = MF_GRAYED | MF_DISABLED;
constexpr int kMaxHeaderColumns = 16;
// The "Histroy Files" submenu stands this many places after "Open Remote...".
constexpr int kHistoryAfterOpenRemote = 2;
constexpr UINT kColumnMenuBits[] = {kColumnTime, kColumnModule, kColumnName, kColumnHint,
                                    kColumnId,   kColumnDelta,  kColumnTid};
using namespace ktrules;

const CMainFrame::CommandRow kCommandTable[] = {
    {ID_FILE_OPEN, ID_FILE_OPEN, &CMainFrame::OnFileOpen, nullptr, CheckRule::kNone},
    {ID_FILE_SAVE, ID_FILE_SAVE, &CMainFrame::OnFileSave, DocumentHasRecords, CheckRule::kNone},
    {ID_FILE_SAVE_VIEW, ID_FILE_SAVE_VIEW, &CMainFrame::OnFileSave, ViewHasRecords, CheckRule::kNone},
    {ID_FILE_SAVE_DUMP, ID_FILE_SAVE_DUMP, &CMainFrame::OnDumpFiles, DumpFilesAvailable, CheckRule::kNone},
    {ID_FILE_OPEN_REMOTE, ID_FILE_OPEN_REMOTE, &CMainFrame::OnRemoteFile, nullptr, CheckRule::kNone},
    {ID_FILE_HISTORY_MANAGE, ID_FILE_HISTORY_MANAGE, &CMainFrame::OnHistory, nullptr, CheckRule::kNone},
    {ID_FILE_HISTORY_FIRST, ID_FILE_HISTORY_LAST, &CMainFrame::OnHistoryFile, nullptr, CheckRule::kNone},
    {ID_APP_EXIT, ID_APP_EXIT, &CMainFrame::OnFileExit, nullptr, CheckRule::kNone},
    {ID_EDIT_COPY, ID_EDIT_COPY, &CMainFrame::OnEditCopy, SelectedInUsableView, CheckRule::kNone},
    {ID_EDIT_COPY_MESSAGE, ID_EDIT_COPY_MESSAGE, &CMainFrame::OnCopyMessage, SelectedInUsableView, CheckRule::kNone},
    {ID_EDIT_SELECT_ALL, ID_EDIT_SELECT_ALL, &CMainFrame::OnSelectAll, nullptr, CheckRule::kNone},
    {ID_VIEW_CLEAR_DISPLAY, ID_VIEW_CLEAR_DISPLAY, &CMainFrame::OnClearDisplay, LiveShown, CheckRule::kNone},
    {ID_BOOKMARK_TOGGLE, ID_BOOKMARK_TOGGLE, &CMainFrame::OnToggleBookmark, SelectedInUsableView, CheckRule::kNone},
    {ID_BOOKMARK_GRAY, ID_BOOKMARK_PURPLE, &CMainFrame::OnColourfulBookmark, RowsInUsableView,
     CheckRule::kLastBookmark},
    {ID_BOOKMARK_NEXT, ID_BOOKMARK_PREV, &CMainFrame::OnNextPrevBookmark, RowsInUsableView, CheckRule::kNone},
    {ID_BOOKMARK_CLEAR, ID_BOOKMARK_CLEAR, &CMainFrame::OnClearBookmarks, RowsInUsableView, CheckRule::kNone},
    {ID_EDIT_FIND, ID_EDIT_FIND, &CMainFrame::OnFind, nullptr, CheckRule::kNone},
    {ID_EDIT_FIND_NEXT, ID_EDIT_FIND_PREV, &CMainFrame::OnFind, nullptr, CheckRule::kNone},
    {ID_VIEW_AUTO_SCROLL, ID_VIEW_AUTO_SCROLL, &CMainFrame::OnAutoScroll, LiveShown, CheckRule::kFollowNewItems},
    {ID_VIEW_ALWAYS_ON_TOP, ID_VIEW_ALWAYS_ON_TOP, &CMainFrame::OnAlwaysOnTop, nullptr, CheckRule::kAlwaysOnTop},
    {ID_VIEW_SELECT_COLUMNS, ID_VIEW_SELECT_COLUMNS, &CMainFrame::OnSelectColumns, nullptr, CheckRule::kNone},
    {ID_VIEW_GOTO, ID_VIEW_GOTO, &CMainFrame::OnGoto, RowsInUsableView, CheckRule::kNone},
    {ID_VIEW_FILTER, ID_VIEW_FILTER, &CMainFrame::OnFilter, ViewUsable, CheckRule::kNone},
    {ID_VIEW_OPTIONS, ID_VIEW_OPTIONS, &CMainFrame::OnOptions, nullptr, CheckRule::kNone},
    {ID_TOOLS_CAPTURE, ID_TOOLS_CAPTURE, &CMainFrame::OnStartStopCapture, nullptr, CheckRule::kNone},
    {ID_TOOLS_SEND, ID_TOOLS_SEND, &CMainFrame::OnUpload, CanUploadDocument, CheckRule::kNone},
    {ID_TOOLS_SEND_VIEW, ID_TOOLS_SEND_VIEW, &CMainFrame::OnUpload, CanUploadView, CheckRule::kNone},
    {ID_TOOLS_CONNECT, ID_TOOLS_CONNECT, &CMainFrame::OnConnect, CanConnect, CheckRule::kNone},
    {ID_TOOLS_DISCONNECT, ID_TOOLS_DISCONNECT, &CMainFrame::OnDisconnect, CanDisconnect, CheckRule::kNone},
    {ID_TOOLS_BASE64, ID_TOOLS_BASE64, &CMainFrame::OnBase64Convert, nullptr, CheckRule::kNone},
    {ID_TOOLS_ERROR_LOOKUP, ID_TOOLS_ERROR_LOOKUP, &CMainFrame::OnErrorLookup, nullptr, CheckRule::kNone},
    {ID_TOOLS_STATISTIC, ID_TOOLS_STATISTIC, &CMainFrame::OnTraceStatistic, CanOpenStatistic, CheckRule::kNone},
    {ID_APP_ABOUT, ID_APP_ABOUT, &CMainFrame::OnAppAbout, nullptr, CheckRule::kNone},
    {ID_QUICK_FILTER, ID_QUICK_FILTER, &CMainFrame::OnSearchFilter, ViewUsable, CheckRule::kNone},
};

}  // namespace

POINT ktframe::OntoMonitor(POINT point) {
  if (::MonitorFromPoint(point, MONITOR_DEFAULTTONULL) != nullptr) {
    return point;
  }
  MONITORINFO info = {sizeof(info)};
  if (::GetMonitorInfoW(::MonitorFromPoint(point, MONITOR_DEFAULTTONEAREST), &info)) {
    if (point.x < info.rcWork.left) point.x = info.rcWork.left;
    if (point.x >= info.rcWork.right) point.x = info.rcWork.right - 1;
  }
  return point;
}

const CMainFrame::CommandRow* CMainFrame::FindCommand(UINT id) {
  for (const CommandRow& row : kCommandTable) {
    if (id >= row.first && id <= row.last) {
      return &row;
    }
  }
  return nullptr;
}

CommandState CMainFrame::CommandStateOf(UINT id, const CommandFacts& facts) {
  const CommandRow* row = FindCommand(id);
  return row != nullptr ? Evaluate(id, row->enable, row->check, facts) : CommandState{};
}

// The selection is tested by its count: finding the first selected row walks
// the rows before it in Wine's owner-data list, seconds at millions of rows.
CommandFacts CMainFrame::GatherFacts() {
  CommandFacts facts;
  facts.hasRows = m_list.GetItemCount() > 0;
  facts.rowSelected = facts.hasRows && m_list.GetSelectedCount() > 0;
  CTraceView* view = ShownView();
  facts.viewUsable = IsUsable(view);
  facts.liveShown = IsLiveShown();
  facts.followNewItems = m_followNewItems != 0;
  facts.alwaysOnTop = g_appConfig.m_alwaysOnTop != 0;
  facts.captureOn = m_captureOn;
  facts.connection = m_connectionState;
  facts.dumpListEmpty = g_localFileList.DumpFiles().count == 0;
  CTraceMgr* store = CurrentStore();
  {
    const CStoreLock lock(store, kLockShared);
    if (lock.Held()) {
      facts.documentRecords = store->Buffer() != nullptr ? store->Buffer()->recordCount : 0;
      facts.viewRecords = facts.viewUsable ? uint32_t(view->RecordCount()) : 0;
    }
  }
  facts.documentHasData = store != nullptr && store->HasData() == 1;
  facts.viewChanged = view != nullptr && view->Changed() == 1;
  facts.uploadDialogOpen = m_uploadDlg != nullptr;
  facts.statisticDialogOpen = m_statisticDlg != nullptr || m_statisticWindow != nullptr;
  facts.lastBookmarkCommand = m_lastBookmarkCommand;
  return facts;
}

bool CMainFrame::RunCommand(UINT id) {
  const CommandRow* row = FindCommand(id);
  if (row == nullptr) {
    return false;
  }
  if (row->enable != nullptr && !row->enable(GatherFacts())) {
    return false;
  }
  (this->*(row->handler))(id);
  return true;
}

void CMainFrame::ApplyRules(HMENU menu, const CommandFacts& facts) {
  for (const CommandRow& row : kCommandTable) {
    if (row.enable == nullptr && row.check == CheckRule::kNone) {
      continue;
    }
    for (UINT id = row.first; id <= row.last; ++id) {
      const CommandState state = Evaluate(id, row.enable, row.check, facts);
      ::EnableMenuItem(menu, id, MF_BYCOMMAND | (state.enabled ? MF_ENABLED : kGrayed));
      if (state.check >= 0) {
        ::CheckMenuItem(menu, id, MF_BYCOMMAND | (state.check != 0 ? MF_CHECKED : MF_UNCHECKED));
      }
    }
  }
  wchar_t text[kMenuTextChars] = {};
  ::LoadStringW(::GetModuleHandleW(nullptr), facts.captureOn ? IDS_MENU_STOP_CAPTURE : IDS_MENU_START_CAPTURE, text,
                int(kMenuTextChars));
  ::ModifyMenuW(menu, ID_TOOLS_CAPTURE, MF_BYCOMMAND | MF_STRING, ID_TOOLS_CAPTURE, text);
}

LRESULT CMainFrame::OnInitMenuPopup(UINT, WPARAM wParam, LPARAM lParam) {
  SetMsgHandled(FALSE);
  if (HIWORD(lParam) != 0) {
    return 0;  // the system menu
  }
  ApplyRules(reinterpret_cast<HMENU>(wParam), GatherFacts());
  return 0;
}

LRESULT CMainFrame::OnCommand(UINT, WPARAM wParam, LPARAM) {
  if (FindCommand(LOWORD(wParam)) == nullptr) {
    SetMsgHandled(FALSE);
    return 0;
  }
  RunCommand(LOWORD(wParam));
  return 0;
}

void CMainFrame::OnStartStopCapture(UINT) { ToggleCapture(!m_captureOn); }

LRESULT CMainFrame::OnNotify(UINT, WPARAM, LPARAM lParam) {
  auto* header = reinterpret_cast<NMHDR*>(lParam);
  if (header == nullptr) {
    SetMsgHandled(FALSE);
    return 0;
  }
  if (header->code == UINT(TBN_DROPDOWN)) {
    return OnToolbarDropDown(header);
  }
  if (header->idFrom == ktframe::kListId && header->hwndFrom == m_list.m_hWnd) {
    switch (header->code) {
      case UINT(NM_RCLICK):
        return OnListContextMenu();
      case UINT(NM_DBLCLK):
        return OnShowDetail(reinterpret_cast<const NMITEMACTIVATE*>(header)->iItem);
      case UINT(LVN_GETDISPINFOW):
        return 0;
      case UINT(LVN_ODFINDITEMW):
        return -1;
      case UINT(LVN_BEGINDRAG):
        return OnBeginDrag(header);
      default:
        break;
    }
  }
  if (header->idFrom == IDC_LIST_HEADER && header->hwndFrom == m_list.m_header.m_hWnd &&
      header->code == UINT(NM_RCLICK)) {
    return OnColumnMenu();
  }
  if (header->idFrom == ktframe::kToolTipId && header->hwndFrom == m_toolTip.m_hWnd) {
    return OnToolTipNotify(header);
  }
  if (header->hwndFrom == m_viewStrip.m_hWnd) {
    return OnViewStripNotify(header);
  }
  if (header->hwndFrom == m_documentStrip.m_hWnd) {
    return OnDocumentStripNotify(header);
  }
  if (header->hwndFrom == m_statusBar.m_hWnd) {
    return OnStatusBarNotify(header);
  }
  SetMsgHandled(FALSE);
  return 0;
}

LRESULT CMainFrame::OnToolbarDropDown(NMHDR* header) {
  const auto* dropDown = reinterpret_cast<const NMTOOLBARW*>(header);
  const int index = m_toolBar.CommandToIndex(UINT(dropDown->iItem));
  if (index < 0) {
    return 0;
  }
  const bool fileMenu = dropDown->iItem == int(ID_FILE_DROPDOWN);
  CMenu menu(::LoadMenuW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(fileMenu ? IDR_FILE_MENU : IDR_TOOLS_MENU)));
  HMENU popup = menu.IsNull() ? nullptr : ::GetSubMenu(menu.get(), 0);
  if (popup == nullptr) {
    return 0;
  }
  if (fileMenu) {
    const int count = ::GetMenuItemCount(popup);
    for (int i = 0; i < count; ++i) {
      if (::GetMenuItemID(popup, i) == ID_FILE_OPEN_REMOTE) {
        if (HMENU history = ::GetSubMenu(popup, i + kHistoryAfterOpenRemote)) {
          g_localFileList.Rescan(m_connectionState == ktframe::kConnected ? kLocalFilesTrace
                                                                          : kLocalFilesTrace | kLocalFilesDump);
          BuildHistoryMenu(history);
        }
        break;
      }
    }
  }
  RECT rect;
  m_toolBar.GetItemRect(index, &rect);
  POINT point = {rect.left, rect.bottom};
  m_toolBar.ClientToScreen(&point);
  point = ktframe::OntoMonitor(point);
  g_trackPopupMenu(popup, 0, point.x, point.y, 0, m_hWnd, nullptr);
  return 0;
}

// The paths shown are kept: a choice opens the file the menu showed, even
// when the list has been scanned again since.
void CMainFrame::BuildHistoryMenu(HMENU submenu) {
  for (int i = ::GetMenuItemCount(submenu) - 1; i >= 0; --i) {
    ::DeleteMenu(submenu, UINT(i), MF_BYPOSITION);
  }
  m_historyPaths.clear();
  const LocalFileArray& files = g_localFileList.TraceFiles();
  if (files.count == 0) {
    ::InsertMenuW(submenu, 0, MF_BYPOSITION | MF_STRING | kGrayed, ID_FILE_HISTORY_NONE, L"none");
    return;
  }
  const size_t most = ID_FILE_HISTORY_LAST - ID_FILE_HISTORY_FIRST + 1;
  for (size_t i = 0; i < files.count && i < most; ++i) {
    m_historyPaths.emplace_back(files[i]->path);
    ::InsertMenuW(submenu, UINT(i), MF_BYPOSITION | MF_STRING, ID_FILE_HISTORY_FIRST + i, files[i]->path);
  }
}

void CMainFrame::OnHistoryFile(UINT id) {
  const size_t index = id - ID_FILE_HISTORY_FIRST;
  if (index < m_historyPaths.size()) {
    const std::wstring& path = m_historyPaths[index];
    OpenPath(path.c_str(), path.size());
  }
}

LRESULT CMainFrame::OnListContextMenu() {
  CMenu menu(::LoadMenuW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_TOOLS_MENU)));
  HMENU first = menu.IsNull() ? nullptr : ::GetSubMenu(menu.get(), 0);
  HMENU view = first != nullptr ? ::GetSubMenu(first, 0) : nullptr;
  if (view == nullptr) {
    return 0;
  }
  POINT point;
  ::GetCursorPos(&point);
  point = ktframe::OntoMonitor(point);
  g_trackPopupMenu(view, 0, point.x, point.y, 0, m_hWnd, nullptr);
  return 0;
}

LRESULT CMainFrame::OnColumnMenu() {
  CMenu menu;
  if (!menu.CreatePopupMenu()) {
    return 1;
  }
  HINSTANCE module = ::GetModuleHandleW(nullptr);
  const uint32_t mask = g_appConfig.m_columns;
  for (size_t i = 0; i < sizeof(kColumnMenuBits) / sizeof(kColumnMenuBits[0]); ++i) {
    wchar_t text[kMenuTextChars] = {};
    ::LoadStringW(module, ktframe::ColumnTextId(kColumnMenuBits[i]), text, int(kMenuTextChars));
    ::AppendMenuW(menu.get(), MF_STRING, ID_COLUMN_TIME + i, text);
    if ((mask & kColumnMenuBits[i]) != 0) {
      ::CheckMenuItem(menu.get(), UINT(i), MF_BYPOSITION | MF_CHECKED);
    }
  }
  POINT point;
  ::GetCursorPos(&point);
  point = ktframe::OntoMonitor(point);
  const UINT id = UINT(g_trackPopupMenu(menu.get(), TPM_RETURNCMD, point.x, point.y, 0, m_hWnd, nullptr));
  if (id < ID_COLUMN_TIME || id > ID_COLUMN_LAST) {
    return 1;
  }
  const uint32_t bit = 1u << (id - ID_COLUMN_BASE);
  if ((mask & bit) == 0) {
    int order[kMaxHeaderColumns + 1] = {};
    int count = int(m_list.m_header.SendMessage(HDM_GETITEMCOUNT));
    if (count > kMaxHeaderColumns ||
        !m_list.m_header.SendMessage(HDM_GETORDERARRAY, WPARAM(count), LPARAM(order))) {
      count = 0;
    }
    g_appConfig.m_columns |= bit;
    UpdateColumns();
    if (count >= 1) {
      const int shown = ktcols::IndexOfColumn(m_columns, bit);
      ktcols::OrderWithShownColumn(order, count, shown);
      m_list.m_header.SendMessage(HDM_SETORDERARRAY, WPARAM(count + 1), LPARAM(order));
    }
  } else {
    g_appConfig.m_columns &= ~bit;
    const int shown = ktcols::IndexOfColumn(m_columns, bit);
    if (shown >= 0) {
      m_columns.RemoveAt(size_t(shown));
      m_list.DeleteColumn(shown);
    }
  }
  m_list.Invalidate(TRUE);
  return 1;
}
