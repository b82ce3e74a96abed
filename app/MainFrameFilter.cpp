// The quick filter, the status bar's process and level menus, the view
// strip's add-tab menu, the statistic dialog's request, and the
// notifications of the two tab strips.
#include <string>

#include "app/FilterMenus.h"
#include "app/MainFrame.h"
#include "app/QuickFilter.h"
#include "core/AppConfig.h"
#include "core/ModuleGroups.h"
#include "core/StoreLock.h"
#include "core/StrUtil.h"
#include "core/SysUtil.h"
#include "core/TraceFilter.h"
#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "resource.h"
#include "ui/dialogs/AddTabDlg.h"
#include "ui/framework/Menu.h"
#include "ui/framework/MessageBoxes.h"
#include "ui/framework/PopupSeam.h"

namespace {
constexpr size_t kItemTextChars = 256;
constexpr size_t kMaxProcessItems = ID_PID_LAST - ID_PID_FIRST + 1;
constexpr int kMenuGap = 2;  // between a status-bar item and the menu above it
constexpr int kProcessMenu = 1;
constexpr UINT kGrayed = MF_GRAYED | MF_DISABLED;

void FreeStats(CGrowArray<CTraceProcessStat*>& stats) {
  for (size_t i = 0; i < stats.count; ++i) {
    delete stats[i];
  }
  stats.Clear();
}
}  // namespace

uint32_t CMainFrame::ShownColumnMask() const {
  uint32_t mask = 0;
  for (size_t i = 0; i < m_columns.count; ++i) {
    mask |= m_columns[i];
  }
  return mask;
}

// An invalid expression is named and the view stays as it was: filtering
// by it would empty the view without saying why.
void CMainFrame::OnSearchFilter(UINT) {
  const CString text = m_quickFilter.GetSearchText();
  m_list.SetFocus();
  CTraceFilter filter;
  std::wstring pattern;
  if (BuildQuickFilter(text.c_str(), ShownColumnMask(), &filter, &pattern) == QuickFilterResult::kInvalidPattern) {
    ktui::MessageBoxFromId(m_hWnd, IDS_INVALID_PATTERN, MB_ICONWARNING, pattern.c_str());
    return;
  }
  const TabGroup* group = m_viewStrip.Model().CurrentGroup();
  if (group != nullptr && group->selected != kTabNoItem) {
    ApplyFilterToTab(group->selected, kFilterConditions, filter);
  }
}

void CMainFrame::ShowFilterMenu(int which) {
  CTraceView* view = ShownView();
  CTraceMgr* store = CurrentStore();
  if (!IsUsable(view) || store == nullptr) {
    return;
  }
  CMenu menu(::LoadMenuW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_STATUS_MENU)));
  HMENU popup = menu.IsNull() ? nullptr : ::GetSubMenu(menu.get(), which == kProcessMenu ? 0 : 1);
  if (popup == nullptr) {
    return;
  }
  CGrowArray<uint32_t> pids;
  UINT checked = 0;
  if (which == kProcessMenu) {
    {
      const CStoreLock lock(store, kLockShared);
      if (lock.Held()) {
        store->CollectProcessIds(view->m_groupMask, pids);
      }
    }
    if (pids.count > 1) {
      CProcessList processes;
      if (IsLiveShown()) {
        processes.Refresh();
      }
      size_t k = 0;
      for (; k < pids.count && k < kMaxProcessItems; ++k) {
        wchar_t text[kItemTextChars] = {};
        StrPrintfW(text, kItemTextChars, L"%s (pid:%u)", processes.GetNameById(pids[k]).c_str(), pids[k]);
        ::InsertMenuW(popup, UINT(k), MF_BYPOSITION | MF_STRING, ID_PID_FIRST + k, text);
      }
      ::InsertMenuW(popup, UINT(k), MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
    }
    checked = ktmenus::CheckedProcessItem(view->m_filter, pids);
  } else {
    checked = ktmenus::CheckedLevelItem(view->m_filter);
  }
  if (checked != 0) {
    ::CheckMenuItem(popup, checked, MF_BYCOMMAND | MF_CHECKED);
  }
  const StatusIndicatorItem* item = m_statusBar.GetItem(size_t(which));
  POINT point = {0, 0};
  if (item != nullptr) {
    point = {item->rect.left, item->rect.top - kMenuGap};
  }
  m_statusBar.ClientToScreen(&point);
  point = ktframe::OntoMonitor(point);
  const int64_t group = m_viewStrip.Model().Current();
  const UINT id = UINT(g_trackPopupMenu(popup, TPM_RETURNCMD | TPM_BOTTOMALIGN, point.x, point.y, 0, m_hWnd, nullptr));
  if (id == 0 || id == checked || group < 0) {
    return;
  }
  m_viewStrip.SelectGroup(size_t(group));
  CTraceFilter filter;
  uint32_t mode = kFilterLevel;
  if (which == kProcessMenu) {
    mode = kFilterPids;
    if (id >= ID_PID_FIRST && id - ID_PID_FIRST < pids.count) {
      filter.AddProcessId(pids[id - ID_PID_FIRST]);
    }
  } else {
    uint32_t mask = 0;
    if (ktmenus::LevelMaskOfItem(id, &mask)) {
      filter.SetLevelMask(mask);
    }
  }
  const TabGroup* current = m_viewStrip.Model().CurrentGroup();
  if (current != nullptr && current->selected != kTabNoItem) {
    ApplyFilterToTab(current->selected, mode, filter);
  }
}

void CMainFrame::OnAddTabMenu() {
  CTraceView* view = ShownView();
  CTraceMgr* store = CurrentStore();
  if (!IsUsable(view) || store == nullptr) {
    return;
  }
  CMenu menu(::LoadMenuW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_ADD_TAB_MENU)));
  HMENU popup = menu.IsNull() ? nullptr : ::GetSubMenu(menu.get(), 0);
  if (popup == nullptr) {
    return;
  }
  CGrowArray<CTraceProcessStat*> stats;
  CGrowArray<uint32_t> pids;
  const bool pidList = (view->m_filter.m_flags & kFilterPids) != 0;
  uint32_t existingMask = 0;
  {
    const CStoreLock lock(store, kLockShared);
    if (!lock.Held()) {
      return;
    }
    store->CopyProcessStats(stats);
    for (size_t i = 0; pidList && i < view->m_filter.m_pids.count; ++i) {
      pids.Append(view->m_filter.m_pids[i]);
    }
    if ((view->m_filter.m_flags & ~kFilterPids) == 0) {
      existingMask = view->m_groupMask;
    }
  }
  const CGrowArray<uint32_t>* selection = pidList ? &pids : nullptr;
  const std::wstring label = ktmenus::ProcessLabel(selection);
  UINT position = 0;
  for (size_t g = 0; g < g_moduleGroups.Count() && ID_ADD_TAB_GROUP_FIRST + g <= ID_ADD_TAB_GROUP_LAST; ++g) {
    const uint64_t records = ktmenus::GroupRecords(stats, g, selection);
    if (records == 0) {
      continue;
    }
    const CModuleGroup* group = g_moduleGroups.GroupAt(g);
    wchar_t text[kItemTextChars] = {};
    StrPrintfW(text, kItemTextChars, L"%s (%s)\t%u", group->Name(), label.c_str(), unsigned(records));
    const UINT state = group->Flag() == existingMask ? kGrayed : 0;
    ::InsertMenuW(popup, position++, MF_BYPOSITION | MF_STRING | state, ID_ADD_TAB_GROUP_FIRST + g, text);
  }
  if (position > 0) {
    ::InsertMenuW(popup, position, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
  }
  POINT point = {kTabAddButtonRect.left, kTabAddButtonRect.bottom};
  m_viewStrip.ClientToScreen(&point);
  point = ktframe::OntoMonitor(point);
  const int64_t current = m_viewStrip.Model().Current();
  const UINT id = UINT(g_trackPopupMenu(popup, TPM_RETURNCMD, point.x, point.y, 0, m_hWnd, nullptr));
  if (id == 0 || current < 0) {
    FreeStats(stats);
    return;
  }
  m_viewStrip.Model().ClearPressed();
  m_viewStrip.SelectGroup(size_t(current));
  CTraceFilter filter;
  uint32_t mask = 0;
  if (id == ID_ADD_TAB_CUSTOM) {
    CAddTabDlg dialog(pidList ? 0 : 1, pids.count != 0 ? pids[0] : 0, &stats);
    HINSTANCE module = ::GetModuleHandleW(nullptr);
    CString format;
    format.LoadString(module, IDS_ADD_TAB_CAPTION);
    wchar_t title[kItemTextChars] = {};
    const TabGroup* group = m_viewStrip.Model().CurrentGroup();
    StrPrintfW(title, kItemTextChars, format.c_str(), group != nullptr ? group->name.c_str() : L"");
    dialog.m_title.Assign(title);
    if (current == 0 && stats.count >= kAddTabMinProcessEntries) {
      dialog.m_processes.Refresh();
    }
    if (dialog.DoModal(::GetActiveWindow()) == IDOK) {
      m_viewStrip.SelectGroup(size_t(current));
      if (dialog.m_all == 0) {
        filter.AddProcessId(dialog.m_pid);
      }
      mask = dialog.m_resultMask;
    }
  } else if (id >= ID_ADD_TAB_GROUP_FIRST && id <= ID_ADD_TAB_GROUP_LAST) {
    const CModuleGroup* group = g_moduleGroups.GroupAt(id - ID_ADD_TAB_GROUP_FIRST);
    if (group == nullptr) {
      FreeStats(stats);
      return;
    }
    for (size_t i = 0; i < pids.count; ++i) {
      filter.AddProcessId(pids[i]);
    }
    mask = group->Flag();
  }
  FreeStats(stats);
  if (mask != 0 && !AddViewTab(store, mask, filter)) {
    MessageBoxId(IDS_ADD_TAB_FAILED, MB_ICONERROR);
  }
}

// Only a request of the open dialog on this thread is served: the text
// pointer means nothing in a message from another thread or process.
LRESULT CMainFrame::OnStatisticFilter(UINT, WPARAM wParam, LPARAM lParam) {
  const auto* text = reinterpret_cast<const wchar_t*>(lParam);
  CTraceMgr* store = CurrentStore();
  CTraceView* view = ShownView();
  const bool open = m_statisticWindow != nullptr || (m_statisticDlg != nullptr && m_statisticDlg->RequestPending());
  // The new tab takes the shown view's groups: without a usable view there
  // are none to take.
  if (wParam == 0 || text == nullptr || ::InSendMessage() || store == nullptr || !IsUsable(view) || !open) {
    return 0;
  }
  CTraceFilter filter;
  filter.AddCondition(kConditionMessage, kOperatorInclude, text, -1);
  m_statisticRequest = true;
  if (!AddViewTab(store, view->m_groupMask, filter)) {
    MessageBoxId(IDS_ADD_TAB_FAILED, MB_ICONERROR);
  }
  m_statisticRequest = false;
  if (m_statisticDlg != nullptr) {
    m_statisticDlg->ClearRequest();
  }
  store->m_isStatisticsStore = 0;
  return 0;
}

bool CMainFrame::ConfirmCloseDocument() {
  const TabGroup* group = m_viewStrip.Model().CurrentGroup();
  return ktui::MessageBoxFromId(m_hWnd, IDS_CONFIRM_CLOSE_FILE, MB_OKCANCEL | MB_ICONQUESTION,
                                group != nullptr ? group->name.c_str() : L"") == IDOK;
}

// The view strip's selection decides the shown view; the document strip
// follows the view strip's current group. Key and scroll tracking starts
// afresh with each view shown, and only the live capture follows the end.
LRESULT CMainFrame::OnViewStripNotify(NMHDR* header) {
  const auto* record = reinterpret_cast<const NMTABCTRLEX*>(header);
  CTabStripModel& model = m_viewStrip.Model();
  switch (header->code) {
    case TCXN_GROUPCHANGED: {
      // The old document's view keeps its place for when it comes back.
      if (const TabGroup* old = record->b < model.GroupCount() ? model.GetGroup(size_t(record->b)) : nullptr) {
        const TabItem* item = old->Item(old->selected);
        KeepListPosition(item != nullptr ? reinterpret_cast<CTraceView*>(item->data) : nullptr);
      }
      CTabStripModel& documents = m_documentStrip.Model();
      if (record->a < documents.GetGroup(0)->Count()) {
        documents.SelectItem(size_t(record->a));
        m_documentStrip.Refresh(true, true);
      }
      m_list.ResetTracking(m_followNewItems, record->a == 0);
      if (model.CurrentGroup() != nullptr && model.CurrentGroup()->Count() == 0) {
        UpdateView(nullptr, 1, 1, 0, nullptr);
      }
      return 0;
    }
    case TCXN_GROUPREMOVING: {
      const TabGroup* group = model.GetGroup(size_t(record->a));
      auto* store = group != nullptr ? reinterpret_cast<CTraceMgr*>(group->data) : nullptr;
      if (store == nullptr || store == CaptureStore()) {
        return 0;
      }
      if (m_shownView != nullptr && m_shownView->m_owner == store) {
        m_shownView = nullptr;
      }
      m_documentStrip.RemoveItem(size_t(record->a));
      store->Release();
      UpdateLayout(TRUE);
      return 0;
    }
    case TCXN_SELCHANGED: {
      CTraceView* previous = record->b != kTabNone ? ItemView(size_t(record->b)) : nullptr;
      CTraceView* view = ItemView(size_t(record->a));
      m_list.ResetTracking(m_followNewItems, IsLiveShown());
      UpdateView(view, 1, 1, 1, previous == view ? nullptr : previous);
      return 0;
    }
    case TCXN_ITEMCLOSING: {
      CTraceView* view = ItemView(size_t(record->a));
      CTraceMgr* store = CurrentStore();
      if (view == nullptr || store == nullptr) {
        return 0;
      }
      if (view == m_shownView) {
        m_shownView = nullptr;
      }
      DropView(store, view);
      return 0;
    }
    case TCXN_ITEMDBLCLK:
      if (g_appConfig.m_tabDBClose != 0) {
        m_viewStrip.CloseItem(size_t(record->a), 1);
      }
      return 0;
    case TCXN_CLOSEALL:
      model.ClearPressed();
      if (ConfirmCloseDocument()) {
        m_viewStrip.CloseAllItems();
      }
      return 0;
    case TCXN_ADDTAB:
      OnAddTabMenu();
      return 0;
    default:
      return 0;
  }
}

LRESULT CMainFrame::OnDocumentStripNotify(NMHDR* header) {
  const auto* record = reinterpret_cast<const NMTABCTRLEX*>(header);
  LRESULT result = 0;
  switch (header->code) {
    case TCXN_SELCHANGED:
      if (record->a < m_viewStrip.Model().GroupCount() && int64_t(record->a) != m_viewStrip.Model().Current()) {
        m_viewStrip.SelectGroup(size_t(record->a));
      }
      break;
    case TCXN_ITEMCLOSING:
      // The strip never closes a document itself: its views go, and the
      // last one's group takes the document with it.
      m_documentStrip.Model().ClearPressed();
      if (ConfirmCloseDocument()) {
        m_viewStrip.CloseAllItems();
      }
      result = 1;
      break;
    default:
      break;
  }
  return result;
}
