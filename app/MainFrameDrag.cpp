// Dragging up to nine selected rows by one column onto the view strip,
// which opens a view of the records like them in that column.
#include <vector>

#include "app/DragRows.h"
#include "app/MainFrame.h"
#include "core/StoreLock.h"
#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "resource.h"

namespace {
constexpr int kDragImage = 1;
constexpr int kDragHotX = -12;
constexpr int kDragHotY = -10;
}  // namespace

LRESULT CMainFrame::OnBeginDrag(NMHDR* header) {
  const auto* drag = reinterpret_cast<const NMLISTVIEW*>(header);
  const UINT selected = m_list.GetSelectedCount();
  if (m_dragging || !IsUsable(ShownView()) || selected == 0 || selected > kMaxDragRows) {
    return 0;
  }
  // Wine's list reports column 0 wherever the drag starts: the point says
  // which column it is.
  LVHITTESTINFO hit = {};
  hit.pt = drag->ptAction;
  const int column = m_list.SubItemHitTest(&hit) >= 0 ? hit.iSubItem : drag->iSubItem;
  if (column < 0 || size_t(column) >= m_columns.count || !IsDragColumn(m_columns[size_t(column)])) {
    return 0;
  }
  CImageList image(::ImageList_Duplicate(m_dragImages.get()));
  if (image.IsNull() || !image.BeginDrag(kDragImage, kDragHotX, kDragHotY)) {
    return 0;
  }
  m_dragImage = std::move(image);
  m_dragMode = m_columns[size_t(column)];
  POINT screen = drag->ptAction;
  m_list.ClientToScreen(&screen);
  CImageList::DragEnter(::GetDesktopWindow(), screen.x, screen.y);
  m_dragging = true;
  SetCapture();
  return 0;
}

LRESULT CMainFrame::OnDragMouseMove(UINT, WPARAM, LPARAM lParam) {
  if (!m_dragging) {
    SetMsgHandled(FALSE);
    return 0;
  }
  POINT point = {short(LOWORD(lParam)), short(HIWORD(lParam))};
  ClientToScreen(&point);
  CImageList::DragMove(point.x, point.y);
  CImageList::DragShowNolock(false);
  ::SetCursor(::LoadCursorW(nullptr, HitTestWindow(point) ? IDC_ARROW : IDC_NO));
  CImageList::DragShowNolock(true);
  return 0;
}

LRESULT CMainFrame::OnDragButtonUp(UINT, WPARAM, LPARAM lParam) {
  if (!m_dragging) {
    SetMsgHandled(FALSE);
    return 0;
  }
  EndDrag(POINT{short(LOWORD(lParam)), short(HIWORD(lParam))}, true);
  return 0;
}

LRESULT CMainFrame::OnDragCaptureChanged(UINT, WPARAM, LPARAM lParam) {
  SetMsgHandled(FALSE);
  if (m_dragging && reinterpret_cast<HWND>(lParam) != m_hWnd) {
    CancelDrag();
  }
  return 0;
}

LRESULT CMainFrame::OnDragCancelMode(UINT, WPARAM, LPARAM) {
  SetMsgHandled(FALSE);
  CancelDrag();
  return 0;
}

LRESULT CMainFrame::OnDragActivateApp(UINT, WPARAM wParam, LPARAM) {
  SetMsgHandled(FALSE);
  if (wParam == FALSE) {
    CancelDrag();
  }
  return 0;
}

void CMainFrame::CancelDrag() {
  if (m_dragging) {
    EndDrag(POINT{0, 0}, false);
  }
}

// The flag drops first: releasing the capture sends WM_CAPTURECHANGED back.
void CMainFrame::EndDrag(POINT clientPoint, bool drop) {
  m_dragging = false;
  ::ReleaseCapture();
  CImageList::DragLeave(::GetDesktopWindow());
  CImageList::EndDrag();
  m_dragImage.Destroy();
  POINT screen = clientPoint;
  ClientToScreen(&screen);
  if (drop && HitTestWindow(screen)) {
    CreateTabFromSelection(screen);
  }
  m_dragMode = 0;
}

bool CMainFrame::HitTestWindow(POINT screenPoint) const {
  RECT rect;
  return m_viewStrip.m_hWnd != nullptr && ::GetWindowRect(m_viewStrip.m_hWnd, &rect) &&
         ::PtInRect(&rect, screenPoint);
}

void CMainFrame::CreateTabFromSelection(POINT) {
  const uint32_t mode = m_dragMode;
  m_dragMode = 0;
  CTraceView* view = ShownView();
  CTraceMgr* store = CurrentStore();
  if (!IsUsable(view) || store == nullptr || m_list.GetSelectedCount() == 0) {
    return;
  }
  const std::vector<int> rows = SelectedRows();
  uint32_t mask = view->m_groupMask;
  CTraceFilter filter(view->m_filter);
  {
    const CStoreLock lock(store, kLockShared);
    if (!lock.Held()) {
      return;
    }
    for (size_t i = 0; i < rows.size() && size_t(rows[i]) < view->RecordCount(); ++i) {
      if (!AddDraggedRecord(mode, i, *view->RecordAt(size_t(rows[i])), &mask, &filter)) {
        break;
      }
    }
  }
  if (!AddViewTab(store, mask, filter)) {
    MessageBoxId(IDS_ADD_TAB_FAILED, MB_ICONERROR);
  }
}
