// Find with the common find dialog and F3 / Ctrl+F3, go to a row or the
// next record of a level, seven-colour bookmarks, and copying rows.
#include <string>
#include <vector>

#include "app/CopyFormat.h"
#include "app/MainFrame.h"
#include "app/SearchRange.h"
#include "app/WaitCursor.h"
#include "core/AppConfig.h"
#include "core/StoreLock.h"
#include "core/SysUtil.h"
#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "resource.h"
#include "ui/dialogs/FindDialog.h"
#include "ui/framework/MessageBoxes.h"

namespace {
constexpr UINT kConfirmCopyRows = 50000;
constexpr int kMaxCopyColumns = 12;
constexpr size_t kCopyCharsPerRow = 32;
constexpr size_t kDeltaChars = 128;
constexpr UINT kRowState = LVIS_SELECTED | LVIS_FOCUSED;

// Hands `rows` of `view` up to its end to `append`, under the store's shared
// lock so no load changes them meanwhile; false when the lock could not be
// had.
template <class AppendRow>
bool ReadRows(CTraceMgr* store, const CTraceView& view, const std::vector<int>& rows, std::wstring* text,
              AppendRow append) {
  text->reserve(rows.size() * kCopyCharsPerRow);
  const CStoreLock lock(store, kLockShared);
  if (!lock.Held()) {
    return false;
  }
  for (int row : rows) {
    if (size_t(row) >= view.RecordCount()) {
      break;
    }
    append(row, *view.RecordAt(size_t(row)));
  }
  return true;
}
}  // namespace

void CMainFrame::SetFindText(const wchar_t* text, bool down, bool matchCase) {
  m_findText.Assign(text != nullptr ? text : L"");
  m_findDown = down ? 1 : 0;
  m_matchCase = matchCase ? 1 : 0;
}

void CMainFrame::OnFind(UINT id) {
  if ((id == ID_EDIT_FIND_NEXT || id == ID_EDIT_FIND_PREV) && !m_findText.IsEmpty()) {
    FindText(id == ID_EDIT_FIND_NEXT, nullptr);
    return;
  }
  CFindDialog::Open(m_hWnd, &m_findDlg, m_findText.c_str(), m_findDown != 0, m_matchCase != 0);
}

// The dialog's closing report needs nothing here: its window clears
// m_findDlg and leaves the loop's registry when it is destroyed.
LRESULT CMainFrame::OnFindReplaceMsg(UINT, WPARAM, LPARAM lParam) {
  const auto* request = reinterpret_cast<const FINDREPLACEW*>(lParam);
  if (request == nullptr || (request->Flags & FR_FINDNEXT) == 0) {
    return 0;
  }
  SetFindText(request->lpstrFindWhat, (request->Flags & FR_DOWN) != 0, (request->Flags & FR_MATCHCASE) != 0);
  FindText(m_findDown != 0, FindDlg());
  return 0;
}

// A search never starts inside another: the miss box of the first one runs
// a message loop that could deliver F3 again.
void CMainFrame::FindText(bool down, HWND focusWindow) {
  if (m_searching) {
    return;
  }
  m_searching = true;
  const int hit = SearchItems(down);
  if (hit >= 0) {
    SelectItem(hit);
    if (focusWindow != nullptr) {
      m_list.SetFocus();
    }
  } else {
    ktui::MessageBoxFromId(m_hWnd, IDS_CANNOT_FIND_STRING, MB_ICONWARNING, m_findText.c_str());
    if (focusWindow != nullptr) {
      ::SetFocus(focusWindow);
    }
  }
  m_searching = false;
}

int CMainFrame::SearchItems(bool down) {
  CTraceView* view = ShownView();
  const int rows = m_list.GetItemCount();
  if (!IsUsable(view) || rows <= 0 || m_findText.IsEmpty()) {
    return -1;
  }
  uint32_t fields = 0;
  for (size_t i = 0; i < m_columns.count; ++i) {
    fields |= m_columns[i] & (kSearchModule | kSearchHint | kSearchMessage);
  }
  if (fields == 0) {
    return -1;
  }
  const CWaitCursor wait;
  std::wstring text = m_findText.c_str();
  if (m_matchCase == 0) {
    ::CharLowerW(text.data());
  }
  const int caseSensitive = m_matchCase != 0 ? 1 : 0;
  const int selected = FirstSelectedRow();
  const CStoreLock lock(CurrentStore(), kLockShared);
  if (!lock.Held()) {
    return -1;
  }
  if (down) {
    return RunSearchPlan(ForwardSearchPlan(selected, rows), [&](int from, int to) {
      return view->FindText(from, to, fields, text.c_str(), caseSensitive);
    });
  }
  return RunSearchPlan(BackwardSearchPlan(selected, rows), [&](int from, int to) {
    return view->FindPrevText(from, to, fields, text.c_str(), caseSensitive);
  });
}

void CMainFrame::SelectItem(int index) {
  m_list.HoldDrawing();
  if (index < 0) {
    m_list.SetItemState(-1, LVIS_SELECTED, LVIS_SELECTED);
  } else {
    ClearListSelection();
    m_list.SetItemState(index, kRowState, kRowState);
    m_list.EnsureVisible(index, FALSE);
    if (m_list.m_tracking != 0) {
      // Following new records stops at the next tick: the user looks here.
      m_list.m_atEnd = 0;
      m_list.m_scrollCheck = 0;
      m_list.m_recheck = 1;
    }
  }
  m_list.RepaintHeld();
}

// The selection of one block of rows around the focused row, [*first,
// *last]: found by looking at the rows next to the focus only. False when
// the selected rows are not all in that block.
bool CMainFrame::SelectedBlock(UINT count, int* first, int* last) const {
  const int focused = m_list.GetNextItem(-1, LVNI_FOCUSED);
  if (count == 0 || focused < 0 || (m_list.GetItemState(focused, LVIS_SELECTED) & LVIS_SELECTED) == 0) {
    return false;
  }
  int low = focused, high = focused;
  while (UINT(high - low + 1) < count && low > 0 && (m_list.GetItemState(low - 1, LVIS_SELECTED) & LVIS_SELECTED) != 0) {
    --low;
  }
  const int rows = m_list.GetItemCount();
  while (UINT(high - low + 1) < count && high + 1 < rows &&
         (m_list.GetItemState(high + 1, LVIS_SELECTED) & LVIS_SELECTED) != 0) {
    ++high;
  }
  if (UINT(high - low + 1) != count) {
    return false;
  }
  *first = low;
  *last = high;
  return true;
}

// Finding a selected row through the list walks every row before it in
// Wine's owner-data list (seconds at millions of rows): a selection around
// the focused row, the usual one, is found from the focus instead.
int CMainFrame::FirstSelectedRow() const {
  const UINT count = m_list.GetSelectedCount();
  if (count == 0) {
    return -1;
  }
  int first = -1, last = -1;
  if (SelectedBlock(count, &first, &last)) {
    return first;
  }
  return m_list.GetNextItem(-1, LVNI_SELECTED);
}

// The selected rows in order; the walk stops at the last of them instead of
// looking through the rest of the list.
std::vector<int> CMainFrame::SelectedRows() const {
  std::vector<int> rows;
  const UINT count = m_list.GetSelectedCount();
  rows.reserve(count);
  int first = -1, last = -1;
  if (SelectedBlock(count, &first, &last)) {
    for (int row = first; row <= last; ++row) {
      rows.push_back(row);
    }
    return rows;
  }
  for (int row = m_list.GetNextItem(-1, LVNI_SELECTED); row >= 0 && rows.size() < count;
       row = m_list.GetNextItem(row, LVNI_SELECTED)) {
    rows.push_back(row);
  }
  return rows;
}

void CMainFrame::GotoNextByLevel(uint32_t levelMask) {
  CTraceView* view = ShownView();
  const int rows = m_list.GetItemCount();
  if (!IsUsable(view) || rows <= 0) {
    return;
  }
  CTraceFilter filter;
  filter.SetLevelMask(levelMask);
  filter.Compile();
  const int selected = FirstSelectedRow();
  int hit = -1;
  {
    const CWaitCursor wait;
    const CStoreLock lock(CurrentStore(), kLockShared);
    if (!lock.Held()) {
      return;
    }
    hit = RunSearchPlan(ForwardSearchPlan(selected, rows),
                        [&](int from, int to) { return view->FindNextMatch(from, to, filter); });
  }
  if (hit >= 0) {
    SelectItem(hit);
  }
}

void CMainFrame::OnToggleBookmark(UINT) { MarkSelectedRows(false); }

void CMainFrame::OnColourfulBookmark(UINT id) {
  if (!IsUsable(ShownView())) {
    return;
  }
  m_lastBookmarkCommand = id;
  m_bookmarkColour = id >= ID_BOOKMARK_GRAY && id <= ID_BOOKMARK_PURPLE ? id - ID_BOOKMARK_GRAY : 0;
  MarkSelectedRows(true);
}

// The rows are read off the list before the exclusive lock is taken: the
// list must not call back into a paint (shared lock) while it is held.
void CMainFrame::MarkSelectedRows(bool recolour) {
  CTraceView* view = ShownView();
  if (!IsUsable(view) || m_list.GetSelectedCount() == 0) {
    return;
  }
  const CWaitCursor wait;
  const std::vector<int> rows = SelectedRows();
  {
    const CStoreLock lock(CurrentStore(), kLockExclusive);
    if (lock.Held() && !rows.empty()) {
      const bool marked = size_t(rows[0]) < view->RecordCount() && view->RecordAt(size_t(rows[0]))->IsMarked();
      const int set = marked && !recolour ? 0 : 1;
      for (int row : rows) {
        if (marked && recolour) {
          view->MarkRecord(row, 0, 0);
        }
        if (!view->MarkRecord(row, set, int(m_bookmarkColour))) {
          break;
        }
      }
    }
  }
  m_list.Invalidate(FALSE);
  m_list.UpdateWindow();
}

void CMainFrame::OnNextPrevBookmark(UINT id) {
  CTraceView* view = ShownView();
  const int rows = m_list.GetItemCount();
  if (!IsUsable(view) || rows <= 0) {
    return;
  }
  const int selected = FirstSelectedRow();
  int hit = -1;
  {
    const CWaitCursor wait;
    const CStoreLock lock(CurrentStore(), kLockShared);
    if (!lock.Held()) {
      return;
    }
    if (id == ID_BOOKMARK_NEXT) {
      hit = RunSearchPlan(ForwardSearchPlan(selected, rows),
                          [&](int from, int to) { return view->FindNextFlagged(from, to); });
    } else {
      hit = RunSearchPlan(BackwardSearchPlan(selected, rows),
                          [&](int from, int to) { return view->FindPrevFlagged(from, to); });
    }
  }
  if (hit >= 0) {
    SelectItem(hit);
  }
}

// Every view of the document loses its bookmarks, not only the shown one.
void CMainFrame::OnClearBookmarks(UINT) {
  CTraceMgr* store = CurrentStore();
  if (!IsUsable(ShownView()) || store == nullptr) {
    return;
  }
  {
    const CWaitCursor wait;
    const CStoreLock lock(store, kLockExclusive);
    if (lock.Held()) {
      ClearAllMarks(store);
    }
  }
  m_list.Invalidate(FALSE);
  m_list.UpdateWindow();
}

bool CMainFrame::ConfirmLongCopy(UINT rows) {
  return rows < kConfirmCopyRows || MessageBoxId(IDS_CONFIRM_LONG_COPY, MB_YESNO | MB_ICONWARNING) == IDYES;
}

void CMainFrame::OnEditCopy(UINT) {
  CTraceView* view = ShownView();
  const UINT selected = m_list.GetSelectedCount();
  if (!IsUsable(view) || selected == 0 || !ConfirmLongCopy(selected)) {
    return;
  }
  int order[kMaxCopyColumns] = {};
  const int count = int(m_list.m_header.SendMessage(HDM_GETITEMCOUNT));
  if (count < 1 || count > kMaxCopyColumns ||
      !m_list.m_header.SendMessage(HDM_GETORDERARRAY, WPARAM(count), LPARAM(order))) {
    return;
  }
  uint32_t bits[kMaxCopyColumns] = {};
  for (int i = 0; i < count; ++i) {
    if (order[i] < 0 || size_t(order[i]) >= m_columns.count) {
      return;
    }
    bits[i] = m_columns[size_t(order[i])];
  }
  const CWaitCursor wait;
  const std::vector<int> rows = SelectedRows();
  bool withDelta = false;
  for (int i = 0; i < count; ++i) {
    withDelta = withDelta || bits[i] == kColumnDelta;
  }
  std::wstring text;
  wchar_t delta[kDeltaChars];
  const bool read = ReadRows(CurrentStore(), *view, rows, &text, [&](int row, const TraceRecord& record) {
    delta[0] = L'\0';
    if (withDelta) {
      view->FormatDelta(row, delta, kDeltaChars);
    }
    AppendCopyRow(&text, bits, size_t(count), row, record, delta);
  });
  if (!read) {
    return;
  }
  CopyTextToClipboard(m_hWnd, text.c_str(), text.size());
}

void CMainFrame::OnCopyMessage(UINT) {
  CTraceView* view = ShownView();
  const UINT selected = m_list.GetSelectedCount();
  if (!IsUsable(view) || selected == 0 || !ConfirmLongCopy(selected)) {
    return;
  }
  const CWaitCursor wait;
  const std::vector<int> rows = SelectedRows();
  std::wstring text;
  const bool read = ReadRows(CurrentStore(), *view, rows, &text, [&text](int, const TraceRecord& record) {
    text += record.Message();
    text += L"\r\n";
  });
  if (!read) {
    return;
  }
  CopyTextToClipboard(m_hWnd, text.c_str(), text.size());
}
