#include "ui/controls/KeltracerView.h"

namespace {
constexpr DWORD kScrollBarStyles = WS_HSCROLL | WS_VSCROLL;
constexpr UINT kRepaintRows = RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW;
constexpr int kBars[2] = {SB_HORZ, SB_VERT};

SCROLLINFO ReadBar(HWND list, int bar) {
  SCROLLINFO info = {sizeof(info), SIF_RANGE | SIF_PAGE | SIF_POS, 0, 0, 0, 0, 0};
  if (!::GetScrollInfo(list, bar, &info)) {
    info.fMask = 0;
  }
  return info;
}

bool SameBar(const SCROLLINFO& a, const SCROLLINFO& b) {
  return a.fMask == b.fMask && a.nMin == b.nMin && a.nMax == b.nMax && a.nPage == b.nPage && a.nPos == b.nPos;
}

bool HasPendingPaint(HWND window) { return window != nullptr && ::GetUpdateRect(window, nullptr, FALSE) != FALSE; }
}  // namespace

void CKeltracerView::Init(HIMAGELIST imageList) {
  Base::Init(imageList);
  if (m_header.m_hWnd != nullptr) {
    m_header.ModifyStyle(0, HDS_BUTTONS | HDS_DRAGDROP);
  }
}

uint32_t CKeltracerView::CheckScrolledToEnd() {
  if (m_scrollCheck != 0) {
    m_scrollCheck = 0;
    SCROLLINFO info = {sizeof(info), SIF_RANGE | SIF_PAGE | SIF_POS, 0, 0, 0, 0, 0};
    if (::GetScrollInfo(m_hWnd, SB_VERT, &info)) {
      m_atEnd = (info.nPos + int(info.nPage) >= info.nMax) ? 1 : 0;
    } else {
      m_atEnd = 1;  // no scroll bar: everything is in sight
    }
  }
  return m_atEnd;
}

void CKeltracerView::DoPaint(HDC dc) {
  // Given back on every way out of the paint.
  struct Hold {
    IListPaintLock* lock;
    ~Hold() {
      if (lock != nullptr) lock->UnlockAfterPaint();
    }
  };
  const Hold hold{m_paintLock != nullptr && m_paintLock->LockForPaint() ? m_paintLock : nullptr};
  Base::DoPaint(dc);
}

void CKeltracerView::ResetTracking(uint32_t follow, bool tracking) {
  m_atEnd = follow;
  m_recheck = 0;
  m_scrollCheck = 0;
  m_tracking = tracking ? 1 : 0;
}

LRESULT CKeltracerView::OnKeyUp(UINT, WPARAM wParam, LPARAM) {
  SetMsgHandled(FALSE);
  if (m_tracking == 0) {
    return 0;
  }
  switch (wParam) {
    case VK_PRIOR:
    case VK_HOME:
    case VK_UP:
      m_atEnd = 0;
      m_recheck = 1;
      m_scrollCheck = 0;
      break;
    case VK_END:
      m_atEnd = 1;
      m_recheck = 1;
      m_scrollCheck = 0;
      break;
    case VK_NEXT:
    case VK_DOWN:
      m_recheck = 1;
      m_scrollCheck = 1;
      break;
    default:
      break;
  }
  return 0;
}

LRESULT CKeltracerView::OnScrollAction(UINT, WPARAM, LPARAM) {
  SetMsgHandled(FALSE);
  if (m_tracking != 0) {
    m_recheck = 1;
    m_scrollCheck = 1;
  }
  return 0;
}

void CKeltracerView::HoldDrawing() {
  ++m_holdDepth;
  if (m_held.held || (GetStyle() & WS_VISIBLE) == 0) {
    return;
  }
  m_held.held = true;
  // Hiding validates the list and its header: a repaint they were waiting
  // for is made up in full.
  m_held.fullRepaint = HasPendingPaint(m_hWnd) || HasPendingPaint(m_header.m_hWnd);
  m_held.scrollBars = GetStyle() & kScrollBarStyles;
  GetClientRect(&m_held.client);
  for (size_t i = 0; i < 2; ++i) {
    m_held.bars[i] = ReadBar(m_hWnd, kBars[i]);
  }
  // The system's handler, not the list's: it only clears WS_VISIBLE.
  ::DefWindowProcW(m_hWnd, WM_SETREDRAW, FALSE, 0);
}

void CKeltracerView::RepaintHeld() {
  if (m_holdDepth > 0 && --m_holdDepth > 0) {
    return;  // the outer hold repaints
  }
  if (!m_held.held) {
    RedrawWindow(nullptr, nullptr, kRepaintRows);
    return;
  }
  m_held.held = false;
  ::DefWindowProcW(m_hWnd, WM_SETREDRAW, TRUE, 0);
  RECT client = {};
  GetClientRect(&client);
  if (m_held.fullRepaint || (GetStyle() & kScrollBarStyles) != m_held.scrollBars ||
      !::EqualRect(&client, &m_held.client)) {
    RedrawWindow(nullptr, nullptr, kRepaintRows | RDW_FRAME | RDW_ALLCHILDREN);
    return;
  }
  // Showing the window again asked for the whole frame; only the bars that
  // moved need it.
  RedrawWindow(nullptr, nullptr, RDW_VALIDATE | RDW_NOFRAME | RDW_NOCHILDREN);
  RedrawChangedBars();
  RedrawWindow(nullptr, nullptr, kRepaintRows);
}

void CKeltracerView::ReleaseHeld() {
  if (m_holdDepth > 0 && --m_holdDepth > 0) {
    return;
  }
  if (m_held.held) {
    m_held.held = false;
    ::DefWindowProcW(m_hWnd, WM_SETREDRAW, TRUE, 0);
  }
}

void CKeltracerView::RedrawChangedBars() {
  const DWORD style = GetStyle();
  for (size_t i = 0; i < 2; ++i) {
    const int bar = kBars[i];
    if ((style & (bar == SB_VERT ? WS_VSCROLL : WS_HSCROLL)) == 0) {
      continue;
    }
    SCROLLINFO now = ReadBar(m_hWnd, bar);
    if (now.fMask != 0 && !SameBar(now, m_held.bars[i])) {
      now.fMask = SIF_POS;  // the same position again: only the redraw is wanted
      ::SetScrollInfo(m_hWnd, bar, &now, TRUE);
    }
  }
}

namespace {
constexpr UINT kOwnStates = LVIS_SELECTED | LVIS_FOCUSED;
constexpr UINT kDirectionFlags = LVNI_ABOVE | LVNI_BELOW | LVNI_TOLEFT | LVNI_TORIGHT;
constexpr int kNotOurKey = -2;

POINT PointOf(LPARAM lParam) { return POINT{short(LOWORD(lParam)), short(HIWORD(lParam))}; }
}  // namespace

UINT CKeltracerView::RowState(int row, UINT drawState) const {
  UINT state = drawState & ~UINT(ODS_SELECTED | ODS_FOCUS);
  if (m_selection.IsSelected(row)) {
    state |= ODS_SELECTED;
  }
  // As the list draws it: the focus frame only while the list has the keyboard.
  if (row >= 0 && row == m_selection.Focus() && ::GetFocus() == m_hWnd) {
    state |= ODS_FOCUS;
  }
  return state;
}

LRESULT CKeltracerView::OnSetItemState(UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* item = reinterpret_cast<LVITEMW*>(lParam);
  const int row = int(wParam);
  const int count = GetItemCount();
  if (item == nullptr || row < -1 || row >= count) {
    return FALSE;
  }
  LRESULT result = TRUE;
  if ((item->stateMask & ~kOwnStates) != 0) {
    LVITEMW rest = *item;
    rest.stateMask &= ~kOwnStates;
    result = DefWindowProc(msg, wParam, reinterpret_cast<LPARAM>(&rest));
  }
  if ((item->stateMask & LVIS_SELECTED) != 0) {
    const bool select = (item->state & LVIS_SELECTED) != 0;
    if (row == -1) {
      const bool had = m_selection.RangeCount() != 0;
      if (select && count > 0) {
        result = m_selection.SetRange(0, count - 1, true) ? result : FALSE;
      } else {
        m_selection.Clear();
      }
      if (had || select) {
        RowsChanged(0, count - 1, select ? LVIS_SELECTED : 0, select ? 0 : LVIS_SELECTED);
      }
    } else if (m_selection.IsSelected(row) != select) {
      result = m_selection.SetRange(row, row, select) ? result : FALSE;
      RowsChanged(row, row, select ? LVIS_SELECTED : 0, select ? 0 : LVIS_SELECTED);
    }
  }
  if ((item->stateMask & LVIS_FOCUSED) != 0) {
    const int old = m_selection.Focus();
    if ((item->state & LVIS_FOCUSED) != 0) {
      // Every row focused at once is no state a list can be in.
      if (row != -1 && row != old) {
        m_selection.SetFocus(row);
        InvalidateRows(old, old);
        RowsChanged(row, row, LVIS_FOCUSED, 0);
      }
    } else if (old >= 0 && (row == -1 || row == old)) {
      m_selection.SetFocus(-1);
      RowsChanged(old, old, 0, LVIS_FOCUSED);
    }
  }
  return result;
}

LRESULT CKeltracerView::OnGetItemState(UINT msg, WPARAM wParam, LPARAM lParam) {
  const UINT mask = UINT(lParam);
  const int row = int(wParam);
  UINT state = (mask & ~kOwnStates) != 0 ? UINT(DefWindowProc(msg, wParam, LPARAM(mask & ~kOwnStates))) : 0;
  if ((mask & LVIS_SELECTED) != 0 && m_selection.IsSelected(row)) {
    state |= LVIS_SELECTED;
  }
  if ((mask & LVIS_FOCUSED) != 0 && row >= 0 && row == m_selection.Focus()) {
    state |= LVIS_FOCUSED;
  }
  return state;
}

LRESULT CKeltracerView::OnGetNextItem(UINT, WPARAM wParam, LPARAM lParam) {
  const int start = int(wParam);
  const UINT flags = LOWORD(lParam);
  if ((flags & kOwnStates) == 0) {
    SetMsgHandled(FALSE);  // no state asked: the list walks by position alone
    return 0;
  }
  if ((flags & LVNI_FOCUSED) != 0) {
    const int focus = m_selection.Focus();
    if (focus < 0 || focus == start || ((flags & LVNI_SELECTED) != 0 && !m_selection.IsSelected(focus))) {
      return -1;
    }
    return focus;
  }
  switch (flags & kDirectionFlags) {
    case 0:
    case LVNI_BELOW:
      return m_selection.NextSelected(start);
    case LVNI_ABOVE:
      return m_selection.PreviousSelected(start < 0 ? GetItemCount() : start);
    default:
      return -1;  // a report list has nothing to the left or right of a row
  }
}

LRESULT CKeltracerView::OnSetSelectionMark(UINT, WPARAM, LPARAM lParam) {
  const int old = m_selection.Mark();
  m_selection.SetMark(int(lParam));
  return old;
}

LRESULT CKeltracerView::OnSetItemCount(UINT msg, WPARAM wParam, LPARAM lParam) {
  const LRESULT result = DefWindowProc(msg, wParam, lParam);
  m_selection.Truncate(int(wParam));
  return result;
}

LRESULT CKeltracerView::OnDeleteAllItems(UINT msg, WPARAM wParam, LPARAM lParam) {
  const LRESULT result = DefWindowProc(msg, wParam, lParam);
  m_selection.Truncate(0);
  return result;
}

LRESULT CKeltracerView::OnGetItem(UINT msg, WPARAM wParam, LPARAM lParam) {
  const LRESULT result = DefWindowProc(msg, wParam, lParam);
  // LVITEMA and LVITEMW agree up to the state fields.
  auto* item = reinterpret_cast<LVITEMW*>(lParam);
  if (result != 0 && item != nullptr && (item->mask & LVIF_STATE) != 0) {
    const UINT own = item->stateMask & kOwnStates;
    item->state &= ~own;
    item->state |= UINT(OnGetItemState(LVM_GETITEMSTATE, WPARAM(item->iItem), LPARAM(own)));
  }
  return result;
}

int CKeltracerView::KeyTarget(UINT key) const {
  const int count = GetItemCount();
  const int focus = m_selection.Focus();
  const int top = GetTopIndex();
  const int perPage = GetCountPerPage();
  const int page = perPage > 1 ? perPage : 1;
  if (key != VK_UP && key != VK_DOWN && key != VK_PRIOR && key != VK_NEXT && key != VK_HOME && key != VK_END &&
      key != VK_SPACE) {
    return kNotOurKey;
  }
  if (count <= 0) {
    return -1;
  }
  int target = -1;
  switch (key) {
    case VK_HOME:
      target = 0;
      break;
    case VK_END:
      target = count - 1;
      break;
    case VK_UP:
      target = focus < 0 ? 0 : focus - 1;
      break;
    case VK_DOWN:
      target = focus + 1;
      break;
    case VK_PRIOR:
      // The first row in sight, or a page up when the focus is there already.
      target = focus == top ? top - page + 1 : top;
      if (target < 0) target = 0;
      break;
    case VK_NEXT: {
      const int bottom = top + page - 1;
      target = focus == bottom ? bottom + page - 1 : bottom;
      if (target >= count) target = count - 1;
      break;
    }
    case VK_SPACE:
      target = focus;
      break;
    default:
      break;
  }
  return target >= 0 && target < count ? target : -1;
}

LRESULT CKeltracerView::OnKeyDown(UINT, WPARAM wParam, LPARAM) {
  const UINT key = UINT(wParam);
  const int target = KeyTarget(key);
  if (target == kNotOurKey) {
    SetMsgHandled(FALSE);
    return 0;
  }
  NMLVKEYDOWN keyDown = {};
  keyDown.hdr.code = LVN_KEYDOWN;
  keyDown.wVKey = WORD(key);
  NotifyParent(&keyDown.hdr);
  if (!IsWindow()) {
    return 0;
  }
  const bool shift = ::GetKeyState(VK_SHIFT) < 0;
  const bool control = ::GetKeyState(VK_CONTROL) < 0;
  if (target >= 0 && (target != m_selection.Focus() || key == VK_SPACE)) {
    SelectByInput(target, shift && key != VK_SPACE, control, key == VK_SPACE && control);
    EnsureVisible(target, FALSE);
  }
  UpdateWindow();
  return 0;
}

void CKeltracerView::SelectByInput(int row, bool shift, bool control, bool toggle) {
  const int oldFocus = m_selection.Focus();
  if (shift) {
    const int mark = m_selection.Mark() >= 0 ? m_selection.Mark() : row;
    const int first = mark < row ? mark : row;
    const int last = mark < row ? row : mark;
    if (!control) {
      const bool had = m_selection.RangeCount() != 0;
      InvalidateRows(GetTopIndex(), GetTopIndex() + GetCountPerPage());
      m_selection.Clear();
      if (had) {
        RowsChanged(-1, -1, 0, LVIS_SELECTED);
      }
    }
    m_selection.SetMark(mark);
    if (m_selection.SetRange(first, last, true)) {
      RowsChanged(first, last, LVIS_SELECTED, 0);
    }
  } else if (control) {
    if (toggle) {
      const bool select = !m_selection.IsSelected(row);
      if (m_selection.SetRange(row, row, select)) {
        if (select) {
          m_selection.SetMark(row);
        }
        RowsChanged(row, row, select ? LVIS_SELECTED : 0, select ? 0 : LVIS_SELECTED);
      }
    }
  } else {
    const bool wasSelected = m_selection.IsSelected(row);
    if (m_selection.Count() > (wasSelected ? 1 : 0)) {
      // Only the old selection in sight needs painting again.
      const int top = GetTopIndex();
      const int bottom = top + GetCountPerPage();
      for (int r = m_selection.NextSelected(top - 1); r >= 0 && r <= bottom; r = m_selection.NextSelected(r)) {
        InvalidateRows(r, r);
      }
      RowsChanged(-1, -1, 0, LVIS_SELECTED);
    }
    if (m_selection.SelectOnly(row)) {
      m_selection.SetMark(row);
      if (!wasSelected) {
        RowsChanged(row, row, LVIS_SELECTED, 0);
      }
    }
  }
  if (row != oldFocus) {
    m_selection.SetFocus(row);
    InvalidateRows(oldFocus, oldFocus);
    RowsChanged(row, row, LVIS_FOCUSED, 0);
  }
}

void CKeltracerView::InvalidateRows(int first, int last) {
  const int top = GetTopIndex();
  const int bottom = top + GetCountPerPage();  // with the row cut by the bottom edge
  if (first < top) first = top;
  if (last > bottom) last = bottom;
  if (first > last || last < 0) {
    return;
  }
  RECT from = {}, to = {};
  if (!GetItemRect(first, &from, LVIR_BOUNDS) || !GetItemRect(last, &to, LVIR_BOUNDS)) {
    return;
  }
  RECT client = {};
  GetClientRect(&client);
  RECT rows = {client.left, from.top, client.right, to.bottom};
  InvalidateRect(&rows, FALSE);
}

void CKeltracerView::RowsChanged(int first, int last, UINT newState, UINT oldState) {
  if (first >= 0) {
    InvalidateRows(first, last);
  }
  if (first == last) {
    NMLISTVIEW changed = {};
    changed.hdr.code = LVN_ITEMCHANGED;
    changed.iItem = first;
    changed.uNewState = newState;
    changed.uOldState = oldState;
    changed.uChanged = LVIF_STATE;
    NotifyParent(&changed.hdr);
  } else {
    NMLVODSTATECHANGE changed = {};
    changed.hdr.code = LVN_ODSTATECHANGED;
    changed.iFrom = first;
    changed.iTo = last;
    changed.uNewState = newState;
    changed.uOldState = oldState;
    NotifyParent(&changed.hdr);
  }
}

void CKeltracerView::NotifyParent(NMHDR* header) {
  header->hwndFrom = m_hWnd;
  header->idFrom = UINT_PTR(::GetDlgCtrlID(m_hWnd));
  ::SendMessageW(GetParent(), WM_NOTIFY, WPARAM(header->idFrom), reinterpret_cast<LPARAM>(header));
}

void CKeltracerView::SendClickNotify(UINT code, int row, POINT point) {
  NMITEMACTIVATE click = {};
  click.hdr.code = code;
  click.iItem = row;
  click.ptAction = point;
  NotifyParent(&click.hdr);
}

LRESULT CKeltracerView::OnButtonDown(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (::GetFocus() != m_hWnd) {
    ::SetFocus(m_hWnd);
  }
  const POINT point = PointOf(lParam);
  LVHITTESTINFO hit = {};
  hit.pt = point;
  const int found = HitTest(&hit);
  const int row = found >= 0 && (hit.flags & LVHT_ONITEM) != 0 ? found : -1;
  const bool shift = (wParam & MK_SHIFT) != 0;
  const bool control = (wParam & MK_CONTROL) != 0;
  const bool left = msg == WM_LBUTTONDOWN || msg == WM_LBUTTONDBLCLK;
  if (row < 0) {
    if (!left || (!shift && !control)) {
      if (m_selection.RangeCount() != 0) {
        InvalidateRows(GetTopIndex(), GetTopIndex() + GetCountPerPage());
        m_selection.Clear();
        RowsChanged(-1, -1, 0, LVIS_SELECTED);
      }
    }
  } else if (!left) {
    // A right click keeps a selection it lands in, for the context menu.
    if (m_selection.IsSelected(row)) {
      SelectByInput(row, false, true, false);
    } else {
      SelectByInput(row, false, false, false);
    }
  } else if (!shift && !control && m_selection.IsSelected(row) && m_selection.Count() > 1) {
    // The selection may be about to be dragged: it is narrowed to the row
    // only when the button comes up without a drag.
    SelectByInput(row, false, true, false);
  } else {
    SelectByInput(row, shift, control, control);
  }
  if (left) {
    m_press.down = true;
    m_press.row = row;
    m_press.point = point;
    m_press.selectOnRelease = row >= 0 && !shift && !control && m_selection.Count() > 1;
    SetCapture();
  }
  UpdateWindow();
  if (msg == WM_LBUTTONDBLCLK) {
    SendClickNotify(UINT(NM_DBLCLK), row, point);
  }
  return 0;
}

LRESULT CKeltracerView::OnMouseMove(UINT, WPARAM wParam, LPARAM lParam) {
  if (!m_press.down || (wParam & MK_LBUTTON) == 0) {
    SetMsgHandled(FALSE);
    return 0;
  }
  const POINT point = PointOf(lParam);
  const int dx = point.x - m_press.point.x;
  const int dy = point.y - m_press.point.y;
  if ((dx < 0 ? -dx : dx) <= ::GetSystemMetrics(SM_CXDRAG) && (dy < 0 ? -dy : dy) <= ::GetSystemMetrics(SM_CYDRAG)) {
    return 0;
  }
  m_press.down = false;
  ReleaseCapture();
  if (m_press.row >= 0) {
    LVHITTESTINFO hit = {};
    hit.pt = m_press.point;
    SubItemHitTest(&hit);
    NMLISTVIEW drag = {};
    drag.hdr.code = LVN_BEGINDRAG;
    drag.iItem = m_press.row;
    drag.iSubItem = hit.iSubItem;
    drag.ptAction = m_press.point;
    NotifyParent(&drag.hdr);
  }
  return 0;
}

LRESULT CKeltracerView::OnLButtonUp(UINT, WPARAM, LPARAM lParam) {
  if (!m_press.down) {
    SetMsgHandled(FALSE);
    return 0;
  }
  m_press.down = false;
  ReleaseCapture();
  if (m_press.selectOnRelease) {
    SelectByInput(m_press.row, false, false, false);
    UpdateWindow();
  }
  SendClickNotify(UINT(NM_CLICK), m_press.row, PointOf(lParam));
  return 0;
}

LRESULT CKeltracerView::OnRButtonUp(UINT, WPARAM, LPARAM lParam) {
  const POINT point = PointOf(lParam);
  LVHITTESTINFO hit = {};
  hit.pt = point;
  const int found = HitTest(&hit);
  SendClickNotify(UINT(NM_RCLICK), found >= 0 && (hit.flags & LVHT_ONITEM) != 0 ? found : -1, point);
  return 0;
}

LRESULT CKeltracerView::OnFocusChange(UINT, WPARAM, LPARAM) {
  InvalidateRows(m_selection.Focus(), m_selection.Focus());
  SetMsgHandled(FALSE);
  return 0;
}

LRESULT CKeltracerView::OnCaptureChanged(UINT, WPARAM, LPARAM lParam) {
  if (reinterpret_cast<HWND>(lParam) != m_hWnd) {
    m_press.down = false;
  }
  SetMsgHandled(FALSE);
  return 0;
}
