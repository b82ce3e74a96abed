// Documents and view tabs, the shown view in the list, the title, the
// status-bar texts of the shown view, and the list columns.
#include <cwchar>

#include "app/MainFrame.h"
#include "core/AppConfig.h"
#include "core/StoreLock.h"
#include "core/StrUtil.h"
#include "core/TraceFilter.h"
#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "jobs/JobMgr.h"
#include "ui/controls/StatusBarEx.h"
#include "ui/framework/PaintPass.h"
#include "resource.h"

namespace {
constexpr size_t kStatusTextChars = 256;
constexpr size_t kCounterChars = 32;
constexpr size_t kColumnTextChars = 128;
constexpr UINT kAllRowsState = LVIS_SELECTED | LVIS_FOCUSED;
constexpr uint32_t kLevelOrder[] = {kLevelDebug, kLevelInfo, kLevelWarning, kLevelError, kLevelPersonal};
constexpr wchar_t kHiddenLevelText[] = L"hide";
constexpr wchar_t kFilterStatusFormat[] = L"Filter is %s, %d items of read %d, total items %d";
constexpr wchar_t kFilterStatusCountFormat[] = L"Filter is %s, %d items";

uint32_t Clamp32(uint64_t value) { return value > UINT32_MAX ? UINT32_MAX : uint32_t(value); }

uint32_t LevelCount(const CTraceView& view, uint32_t level) {
  switch (level) {
    case kLevelDebug: return Clamp32(view.m_debugCount);
    case kLevelInfo: return Clamp32(view.m_infoCount);
    case kLevelWarning: return Clamp32(view.m_warningCount);
    case kLevelError: return Clamp32(view.m_errorCount);
    default: return Clamp32(view.m_personalCount);
  }
}
}  // namespace

bool CMainFrame::IsUsable(const CTraceView* view) { return view != nullptr && view->State() != kViewFilterJob; }

CTraceView* CMainFrame::ShownView() const {
  const TabGroup* group = m_viewStrip.Model().CurrentGroup();
  if (group == nullptr || group->selected == kTabNoItem) {
    return nullptr;
  }
  const TabItem* item = group->Item(group->selected);
  return item != nullptr ? reinterpret_cast<CTraceView*>(item->data) : nullptr;
}

CTraceMgr* CMainFrame::CurrentStore() const {
  const TabGroup* group = m_viewStrip.Model().CurrentGroup();
  return group != nullptr ? reinterpret_cast<CTraceMgr*>(group->data) : nullptr;
}

bool CMainFrame::IsLiveShown() const { return m_viewStrip.Model().Current() == 0; }

// A document changes the view strip, the document strip (which may show
// and take room from the list), the list and the status bar. Each of them
// painting on its own showed the frame half old, half new for a moment (a
// status bar or strip ahead of its list, a list in its old size), so nothing
// paints until the frame is laid out, and then all of it in one pass.
int CMainFrame::AddDocument(CTraceMgr* store) {
  if (store == nullptr) {
    return 0;
  }
  HoldFramePainting();
  const int result = AddDocumentHeld(store);
  PaintFrameOnce();
  return result;
}

void CMainFrame::HoldFramePainting() {
  ++m_frameHolds;
  m_list.HoldDrawing();
  m_viewStrip.HoldPainting();
  m_documentStrip.HoldPainting();
  m_statusBar.HoldPainting();
}

void CMainFrame::PaintFrameOnce() {
  // The rows, the slow part of the pass, are drawn off screen first, while
  // the list is still held: the scroll bars it works out as it draws them
  // stay off the screen too.
  if (m_frameHolds == 1 && m_list.m_hWnd != nullptr) {
    m_list.PaintAhead();
  }
  m_statusBar.ReleasePainting();
  m_documentStrip.ReleasePainting();
  m_viewStrip.ReleasePainting();
  m_list.ReleaseHeld();
  if (m_frameHolds == 0 || --m_frameHolds != 0) {
    return;  // the outermost hold paints
  }
  // The list's scroll bars may have come or gone while it was held. The
  // rows are painted first: bars and strips that showed the new document
  // over the old rows looked like a frame of their own. Short as the pass
  // now is, it reaches the screen in one piece.
  RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
  ktui::StartPaintPass(m_hWnd);
  if (m_list.m_hWnd != nullptr) {
    m_list.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    m_list.DropPaintAhead();
  }
  RedrawWindow(nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

int CMainFrame::AddDocumentHeld(CTraceMgr* store) {
  const wchar_t* name = store->m_fileName.c_str();
  const int64_t document = m_documentStrip.AddItem(0, name, ktframe::kDocumentImage, 0, 0);
  if (document < 0) {
    return 0;
  }
  const int64_t group = m_viewStrip.AddGroup(name, reinterpret_cast<uint64_t>(store));
  if (group < 0) {
    m_documentStrip.RemoveItem(size_t(document));
    return 0;
  }
  {
    const CStoreLock lock(store, kLockShared);
    for (size_t i = 0; lock.Held() && i < store->m_views.count; ++i) {
      CTraceView* view = store->m_views[i];
      m_viewStrip.AddItem(size_t(group), view->m_title.c_str(), ktframe::kViewImage, reinterpret_cast<uint64_t>(view),
                          1);
    }
  }
  const TabGroup* added = m_viewStrip.Model().GetGroup(size_t(group));
  if (added == nullptr || added->Count() == 0) {
    m_viewStrip.RemoveGroup(size_t(group));
    m_documentStrip.RemoveItem(size_t(document));
    return 0;
  }
  m_viewStrip.SelectGroup(size_t(group));
  UpdateLayout(FALSE);
  return 1;
}

int CMainFrame::AddViewTab(CTraceMgr* store, uint32_t mask, const CTraceFilter& filter) {
  CTabStripModel& model = m_viewStrip.Model();
  TabGroup* group = model.CurrentGroup();
  if (store == nullptr || group == nullptr || group->Count() >= kMaxTabItems) {
    return 0;
  }
  CStoreLock lock(store, kLockShared);
  if (!lock.Held()) {
    return 0;
  }
  // A view made for the statistic dialog's request is named as its detail.
  const bool statistic = m_statisticRequest || (m_statisticDlg != nullptr && m_statisticDlg->RequestPending());
  if (statistic) {
    store->m_isStatisticsStore = 1;
  }
  const int index = store->FindView(mask, filter);
  const bool existing = index >= 0;
  CTraceView* view = existing ? store->m_views[size_t(index)] : store->CreateView(mask);
  lock.Release();
  if (existing) {
    for (size_t i = 0; i < group->Count(); ++i) {
      if (group->Item(i)->data == reinterpret_cast<uint64_t>(view)) {
        if (g_appConfig.m_tabBkGround == 0) {
          model.SelectItem(i);
        }
        break;
      }
    }
    return 1;  // it already shows this filter: no job
  }
  if (view == nullptr) {
    return 0;
  }
  const int64_t named = statistic ? model.FindItem(view->m_title.c_str()) : kTabItemNotFound;
  int64_t item = kTabItemNotFound;
  if (named != kTabItemNotFound) {
    // The statistic dialog asked for this detail before: its tab is filtered anew.
    DropView(store, view);
    item = named;
  } else {
    item = m_viewStrip.AddItem(size_t(model.Current()), view->m_title.c_str(), ktframe::kViewImage,
                               reinterpret_cast<uint64_t>(view), 1);
    if (item < 0) {
      DropView(store, view);
      return 0;
    }
  }
  if (g_appConfig.m_tabBkGround == 0) {
    model.SelectItem(size_t(item));
  }
  ApplyFilterToTab(size_t(item), 0, filter);
  return 1;
}

// The capture thread walks the store's views, so a view leaves that list
// only under the store's lock; the list's reference goes with it. When the
// lock cannot be had the view stays listed, and the store releases it when
// it goes.
void CMainFrame::DropView(CTraceMgr* store, CTraceView* view) {
  const CStoreLock lock(store, kLockShared);
  if (lock.Held() && store->m_views.Remove(view) != nullptr) {
    view->Release();
  }
}

void CMainFrame::SetItemClosable(size_t groupIndex, size_t itemIndex, bool closable) {
  TabItem* item = m_viewStrip.Model().GetItem(groupIndex, itemIndex);
  if (item == nullptr || (item->flags & ktframe::TBF_PERMANENT) != 0) {
    return;
  }
  item->flags = closable ? (item->flags & ~TBF_NOCLOSE) : (item->flags | TBF_NOCLOSE);
}

void CMainFrame::ApplyFilterToTab(size_t itemIndex, uint32_t mode, const CTraceFilter& filter) {
  CTabStripModel& model = m_viewStrip.Model();
  const TabGroup* group = model.CurrentGroup();
  const TabItem* item = group != nullptr ? group->Item(itemIndex) : nullptr;
  if (item == nullptr) {
    return;
  }
  const size_t groupIndex = size_t(model.Current());
  SetItemClosable(groupIndex, itemIndex, false);
  m_viewStrip.Refresh(true, false);
  const int selectedRow = m_list.GetNextItem(-1, LVNI_SELECTED);
  auto* view = reinterpret_cast<CTraceView*>(item->data);
  if (!g_jobMgr.PostFilter(view, mode, filter, selectedRow)) {
    SetItemClosable(groupIndex, itemIndex, true);
    m_viewStrip.Refresh(true, false);
    return;
  }
  if (group->selected == itemIndex) {
    UpdateView(nullptr, 1, 1, 0, nullptr);
    if (CTraceMgr* store = CurrentStore()) {
      store->ResetSearch();
    }
  }
}

// The list keeps its selection itself: clearing it costs the same at any
// row count.
void CMainFrame::ClearListSelection() { m_list.SetItemState(-1, 0, kAllRowsState); }

void CMainFrame::ReadCounts(CTraceView* view, uint32_t* count, uint32_t* read, uint32_t* total) {
  *count = *read = *total = 0;
  CTraceMgr* store = CurrentStore();
  const CStoreLock lock(store, kLockShared);
  if (view == nullptr || !lock.Held()) {
    return;
  }
  *count = Clamp32(view->RecordCount());
  *read = store->Buffer() != nullptr ? store->Buffer()->recordCount : 0;
  *total = store->m_sourceItemCount != 0 ? store->m_sourceItemCount : *read;
}

void CMainFrame::WriteFilterStatus(const CTraceView* view, uint32_t count, uint32_t read, uint32_t total) {
  wchar_t text[kStatusTextChars] = {};
  const bool on = (view->m_filter.m_flags & kFilterAllFlags) != 0;
  StrPrintfW(text, kStatusTextChars, kFilterStatusFormat, on ? L"ON" : L"OFF", int(count), int(read), int(total));
  // Down to the frame's smallest width the text reads whole up to its count.
  wchar_t upToCount[kStatusTextChars] = {};
  StrPrintfW(upToCount, kStatusTextChars, kFilterStatusCountFormat, on ? L"ON" : L"OFF", int(count));
  m_statusBar.SetTextPaneMinimum(upToCount);
  m_statusBar.SendMessage(SB_SETTEXTW, 0, LPARAM(text));
}

void CMainFrame::KeepListPosition(CTraceView* view) {
  if (IsUsable(view)) {
    view->m_topRow = m_list.GetTopIndex();
    view->m_selectedRow = m_list.GetNextItem(-1, LVNI_SELECTED);
  }
}

// The row of `view` at the time of row `row` of `previous`, -1 for none.
// The caller holds the current store's shared lock; a previous view of
// another store is read under that store's lock.
int CMainFrame::NearRow(CTraceView* view, CTraceView* previous, int row) {
  CTraceMgr* other = previous->m_owner != CurrentStore() ? previous->m_owner : nullptr;
  const CStoreLock lock(other, kLockShared);
  if (other != nullptr && !lock.Held()) {
    return -1;
  }
  int nearRow = -1;
  if (size_t(row) < previous->RecordCount()) {
    const TraceRecord* record = previous->RecordAt(size_t(row));
    nearRow = view->FindInsertPos(record, record->time, record->milliseconds);
  }
  return nearRow;
}

void CMainFrame::UpdateView(CTraceView* view, int enableControls, int showFilterStatus, int restorePosition,
                            CTraceView* previous) {
  int previousRow = -1;
  if (IsUsable(previous)) {
    KeepListPosition(previous);
    previousRow = previous->m_selectedRow;
  }
  const bool usable = IsUsable(view);
  m_shownView = usable ? view : nullptr;
  m_list.HoldDrawing();
  if (!usable) {
    m_list.SetItemCountEx(0, 0);
    m_statusBar.SetItemImage(kStatusItemFilter, 0);
    m_statusBar.SetPaneTexts(L"", L"", L"", L"", L"");
  } else {
    int top = -1, nearRow = -1;
    uint32_t count = 0, read = 0, total = 0;
    uint32_t levels[5] = {};
    CTraceMgr* store = CurrentStore();
    CStoreLock lock(store, kLockShared);
    if (lock.Held()) {
      // While the live capture follows new records nothing is restored.
      if (!(IsLiveShown() && m_followNewItems != 0)) {
        if (restorePosition != 0) {
          top = view->m_topRow;
          if (top > 0 && size_t(top) > view->RecordCount()) {
            top = -1;
          }
        }
        if (top < 0 && g_appConfig.m_tabSyncTime != 0 && previousRow >= 0) {
          nearRow = NearRow(view, previous, previousRow);
        }
      }
      count = Clamp32(view->RecordCount());
      read = store->Buffer() != nullptr ? store->Buffer()->recordCount : 0;
      total = store->m_sourceItemCount != 0 ? store->m_sourceItemCount : read;
      for (size_t i = 0; i < 5; ++i) {
        levels[i] = LevelCount(*view, kLevelOrder[i]);
      }
      lock.Release();
    }
    m_list.SetItemCountEx(int(count), LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
    PlaceList(view, count, top, nearRow);
    wchar_t texts[5][kCounterChars] = {};
    const bool levelFilter = (view->m_filter.m_flags & kFilterLevel) != 0;
    for (size_t i = 0; i < 5; ++i) {
      if (levelFilter && (view->m_filter.m_levelMask & kLevelOrder[i]) == 0) {
        StrCopyNW(texts[i], kCounterChars, kHiddenLevelText);
      } else {
        StrPrintfW(texts[i], kCounterChars, L"%u", levels[i]);
      }
    }
    m_statusBar.SetPaneTexts(texts[0], texts[1], texts[2], texts[3], texts[4]);
    const bool filtered = (view->m_filter.m_flags & kFilterAllFlags) != 0;
    m_statusBar.SetItemImage(kStatusItemFilter, filtered ? ktframe::kFilterActiveImage : 0);
    if (showFilterStatus != 0) {
      WriteFilterStatus(view, count, read, total);
    }
  }
  if (enableControls != 0) {
    EnableViewControls(usable);
  }
  m_statusBar.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | (m_frameHolds != 0 ? 0 : RDW_UPDATENOW));
  UpdateTitle();
  m_list.RepaintHeld();
}

void CMainFrame::PlaceList(CTraceView* view, uint32_t count, int top, int nearRow) {
  const int selected = view->m_selectedRow;
  const bool selectedInRange = selected >= 0 && uint32_t(selected) < count;
  if (top >= 0) {
    const int delta = top - m_list.GetTopIndex();
    if (delta != 0 && m_list.m_rowHeight != 0) {
      m_list.Scroll(0, delta * int(m_list.m_rowHeight));
    }
    ClearListSelection();
    if (selectedInRange) {
      m_list.SetItemState(selected, kAllRowsState, kAllRowsState);
    }
  } else if (nearRow >= 0) {
    ClearListSelection();
    m_list.SetItemState(nearRow, kAllRowsState, kAllRowsState);
    m_list.EnsureVisible(nearRow, FALSE);
  } else if (IsLiveShown()) {
    if (m_followNewItems != 0 && count >= 1) {
      if (selectedInRange) {
        m_list.SetItemState(selected, kAllRowsState, kAllRowsState);
      }
      view->m_selectedRow = -1;
      m_list.EnsureVisible(int(count) - 1, FALSE);
    }
  } else {
    ClearListSelection();
    m_list.EnsureVisible(0, FALSE);
  }
}

void CMainFrame::EnableViewControls(bool usable) {
  m_toolBar.EnableButton(ID_QUICK_FILTER, usable ? TRUE : FALSE);
  if (m_quickFilter.m_hWnd != nullptr) {
    m_quickFilter.EnableWindow(usable ? TRUE : FALSE);
    m_quickFilter.Edit().EnableWindow(usable ? TRUE : FALSE);
    m_quickFilter.Edit().Invalidate(TRUE);
  }
  m_statusBar.SetItemsDisabled(!usable);
}

void CMainFrame::UpdateTitle() {
  HINSTANCE module = ::GetModuleHandleW(nullptr);
  CString title, part;
  title.LoadString(module, IDS_APP_CAPTION);
  if (!m_captureOn) {
    part.LoadString(module, IDS_TITLE_STOPPED);
    title += part.c_str();
  }
  const TabGroup* group = m_viewStrip.Model().CurrentGroup();
  if (group != nullptr && group->selected != kTabNoItem) {
    title += L" - ";
    title += group->Item(group->selected)->text.c_str();
  }
  if (m_connectionState == ktframe::kConnected) {
    title += L" - ";
    title += m_remoteAddress.c_str();
  } else if (m_connectionState == ktframe::kConnecting) {
    title += L" - ";
    title += m_remoteAddress.c_str();
    title += L"(Connecting)";
  }
  SetWindowText(title.c_str());
}

int CMainFrame::UpdateStatusBar(int force) {
  CString text;
  uint32_t percent = 0;
  if (g_jobMgr.GetProgressText(text, &percent) != 0) {
    m_statusBar.SendMessage(SB_SETTEXTW, 0, LPARAM(text.c_str()));
    const bool known = int32_t(percent) >= 0;
    if (known) {
      ::SendMessageW(m_statusBar.GetProgressBar(), PBM_SETPOS, percent, 0);
    }
    if (force != 0) {
      m_statusBar.ShowPaneWindow(known ? SW_SHOW : SW_HIDE);
    }
    return 1;
  }
  if (force == 0) {
    return 0;
  }
  m_statusBar.ShowPaneWindow(SW_HIDE);
  UpdateFilterStatus();
  return 1;
}

void CMainFrame::UpdateFilterStatus() {
  CTraceView* view = ShownView();
  if (!IsUsable(view)) {
    return;
  }
  uint32_t count = 0, read = 0, total = 0;
  ReadCounts(view, &count, &read, &total);
  WriteFilterStatus(view, count, read, total);
}

void CMainFrame::UpdateColumns() {
  m_columns.Clear();
  const uint32_t mask = g_appConfig.m_columns | kColumnsAlwaysShown;
  for (size_t i = 0; i < ktframe::kColumnBits; ++i) {
    const uint32_t bit = 1u << i;
    if ((mask & bit) != 0) {
      m_columns.Append(bit);
    }
  }
  m_list.SetRedraw(FALSE);
  const int existing = int(m_list.m_header.SendMessage(HDM_GETITEMCOUNT));
  for (int i = 0; i < existing; ++i) {
    m_list.DeleteColumn(0);
  }
  HINSTANCE module = ::GetModuleHandleW(nullptr);
  for (size_t i = 0; i < m_columns.count; ++i) {
    wchar_t text[kColumnTextChars] = {};
    ::LoadStringW(module, ktframe::ColumnTextId(m_columns[i]), text, int(kColumnTextChars));
    m_list.InsertColumn(int(i), text, LVCFMT_LEFT, ktframe::ColumnWidth(m_columns[i]));
  }
  m_list.SetRedraw(TRUE);
}

CTraceView* CMainFrame::ItemView(size_t item) const {
  const TabGroup* group = m_viewStrip.Model().CurrentGroup();
  const TabItem* tab = group != nullptr ? group->Item(item) : nullptr;
  return tab != nullptr ? reinterpret_cast<CTraceView*>(tab->data) : nullptr;
}
