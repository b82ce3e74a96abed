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
  const bool locked = m_paintLock != nullptr && m_paintLock->LockForPaint();
  Base::DoPaint(dc);
  if (locked) {
    m_paintLock->UnlockAfterPaint();
  }
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
