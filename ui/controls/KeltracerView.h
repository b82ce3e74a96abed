// The trace list of the main window: a virtual, owner-drawn report list
// whose rows the frame paints from the shown view. The list itself only
// records what the user did with keys and the scroll bar, so the frame's
// timer can decide whether to keep following new records.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>

#include "ui/controls/ListCtrlEx.h"

// Whoever supplies the rows may hold its store for a whole paint, so a page
// waits for a busy store at most once instead of once per row.
class IListPaintLock {
 public:
  virtual bool LockForPaint() = 0;
  virtual void UnlockAfterPaint() = 0;

 protected:
  ~IListPaintLock() = default;
};

class CKeltracerView : public CListCtrlExImpl<CKeltracerView> {
  using Base = CListCtrlExImpl<CKeltracerView>;

 public:
  DECLARE_WND_SUPERCLASS(L"KeltracerView", WC_LISTVIEWW)

  // Header drag and drop is on, so the columns can really be reordered.
  static DWORD GetListExtendedStyle() { return LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP; }

  uint32_t m_atEnd = 1;         // last seen scrolled to its end
  uint32_t m_recheck = 0;       // a key or scroll happened since the timer looked
  uint32_t m_scrollCheck = 0;   // m_atEnd must be read from the scroll bar again
  uint32_t m_tracking = 0;      // only while the live capture is shown
  IListPaintLock* m_paintLock = nullptr;

 private:
  struct HeldState {
    bool held = false;
    bool fullRepaint = false;
    DWORD scrollBars = 0;  // WS_HSCROLL | WS_VSCROLL as they were
    RECT client = {};
    SCROLLINFO bars[2] = {};  // SB_HORZ, SB_VERT
  };
  HeldState m_held;

  void RedrawChangedBars();

 public:

  BEGIN_MSG_MAP(CKeltracerView)
    CHAIN_MSG_MAP(Base)
    MESSAGE_HANDLER(WM_KEYUP, OnKeyUp)
    MESSAGE_HANDLER(WM_VSCROLL, OnScrollAction)
    MESSAGE_HANDLER(WM_MOUSEWHEEL, OnScrollAction)
    NOTIFY_HANDLER(0, HDN_BEGINDRAG, OnHeaderBeginDrag)
  END_MSG_MAP()

  // Whether the list is scrolled to its end, read from the scroll bar only
  // when an action asked for it.
  uint32_t CheckScrolledToEnd();
  // The template's paint inside the row supplier's lock.
  void DoPaint(HDC dc);
  // Called by the frame each time it shows a view.
  void ResetTracking(uint32_t follow, bool tracking);

  // Between these two, row count, selection and scroll changes draw nothing:
  // the window is hidden from drawing, not the list told to stop, so the list
  // keeps its scroll bars' ranges and positions up to date. Under Wine a
  // themed scroll bar costs dozens of server round trips and milliseconds of
  // blending per redraw, and one row count change redraws both bars four
  // times. RepaintHeld repaints the rows at once and redraws only the scroll
  // bars that changed; everything, frame and header included, when the
  // scroll bars came or went, the client area changed, or a repaint was
  // pending before the hold. Without a hold it only repaints the rows.
  void HoldDrawing();
  void RepaintHeld();

  LRESULT OnKeyUp(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT OnScrollAction(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT OnHeaderBeginDrag(int, NMHDR*) { return 0; }
};
