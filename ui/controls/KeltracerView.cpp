#include "ui/controls/KeltracerView.h"

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
