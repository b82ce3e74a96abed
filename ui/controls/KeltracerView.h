// The trace list of the main window: a virtual, owner-drawn report list
// whose rows the frame paints from the shown view. The list itself only
// records what the user did with keys and the scroll bar, so the frame's
// timer can decide whether to keep following new records.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>

#include "ui/controls/ListCtrlEx.h"
#include "ui/controls/ListSelection.h"

// Whoever supplies the rows may hold its store for a whole paint, so a page
// waits for a busy store at most once instead of once per row.
class IListPaintLock {
 public:
  virtual bool LockForPaint() = 0;
  virtual void UnlockAfterPaint() = 0;

 protected:
  ~IListPaintLock() = default;
};

// Told when the user dropped a column at a new place.
class IListColumnsObserver {
 public:
  virtual void OnColumnsMoved() = 0;

 protected:
  ~IListColumnsObserver() = default;
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
  IListColumnsObserver* m_columnsObserver = nullptr;

 private:
  struct HeldState {
    bool held = false;
    bool fullRepaint = false;
    DWORD scrollBars = 0;  // WS_HSCROLL | WS_VSCROLL as they were
    RECT client = {};
    SCROLLINFO bars[2] = {};  // SB_HORZ, SB_VERT
  };
  HeldState m_held;
  int m_holdDepth = 0;  // holds inside a hold repaint nothing: the outermost one repaints
  // Selection, focus and mark of the rows. The list control's own stay
  // empty: the selection messages are answered from here, and the keys and
  // clicks that select are handled here.
  CListSelection m_selection;
  // A left button press on a row, until it is released or becomes a drag.
  struct Press {
    bool down = false;
    int row = -1;
    POINT point = {};
    bool selectOnRelease = false;  // a plain click on a selected row of several
  };
  Press m_press;

  void RedrawChangedBars();

 public:

  BEGIN_MSG_MAP(CKeltracerView)
    MESSAGE_HANDLER(LVM_SETITEMSTATE, OnSetItemState)
    MESSAGE_HANDLER(LVM_GETITEMSTATE, OnGetItemState)
    MESSAGE_HANDLER(LVM_GETSELECTEDCOUNT, OnGetSelectedCount)
    MESSAGE_HANDLER(LVM_GETNEXTITEM, OnGetNextItem)
    MESSAGE_HANDLER(LVM_GETSELECTIONMARK, OnGetSelectionMark)
    MESSAGE_HANDLER(LVM_SETSELECTIONMARK, OnSetSelectionMark)
    MESSAGE_HANDLER(LVM_SETITEMCOUNT, OnSetItemCount)
    MESSAGE_HANDLER(LVM_DELETEALLITEMS, OnDeleteAllItems)
    MESSAGE_HANDLER(LVM_GETITEMW, OnGetItem)
    MESSAGE_HANDLER(LVM_GETITEMA, OnGetItem)
    MESSAGE_HANDLER(WM_KEYDOWN, OnKeyDown)
    MESSAGE_HANDLER(WM_LBUTTONDOWN, OnButtonDown)
    MESSAGE_HANDLER(WM_LBUTTONDBLCLK, OnButtonDown)
    MESSAGE_HANDLER(WM_RBUTTONDOWN, OnButtonDown)
    MESSAGE_HANDLER(WM_RBUTTONDBLCLK, OnButtonDown)
    MESSAGE_HANDLER(WM_MOUSEMOVE, OnMouseMove)
    MESSAGE_HANDLER(WM_LBUTTONUP, OnLButtonUp)
    MESSAGE_HANDLER(WM_RBUTTONUP, OnRButtonUp)
    MESSAGE_HANDLER(WM_CAPTURECHANGED, OnCaptureChanged)
    MESSAGE_HANDLER(WM_SETFOCUS, OnFocusChange)
    MESSAGE_HANDLER(WM_KILLFOCUS, OnFocusChange)
    CHAIN_MSG_MAP(Base)
    MESSAGE_HANDLER(WM_KEYUP, OnKeyUp)
    MESSAGE_HANDLER(WM_VSCROLL, OnScrollAction)
    MESSAGE_HANDLER(WM_MOUSEWHEEL, OnScrollAction)
    NOTIFY_HANDLER(0, HDN_BEGINDRAG, OnHeaderBeginDrag)
  END_MSG_MAP()

  // Header items act as buttons, which the header needs before it lets
  // them be dragged; the list sorts nothing on a click all the same.
  void Init(HIMAGELIST imageList);
  void ColumnsMoved() {
    if (m_columnsObserver != nullptr) {
      m_columnsObserver->OnColumnsMoved();
    }
  }

  const CListSelection& Selection() const { return m_selection; }
  // The owner-draw item state of `row`: the request's other bits with
  // selection and focus from this list's own record of them.
  UINT RowState(int row, UINT drawState) const;

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
  // Holds nest: only the release of the outermost one repaints.
  void HoldDrawing();
  void RepaintHeld();
  // Ends a hold like RepaintHeld but paints nothing: the caller repaints the
  // whole list, frame and header included.
  void ReleaseHeld();

  LRESULT OnSetItemState(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT OnGetItemState(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT OnGetSelectedCount(UINT, WPARAM, LPARAM) { return m_selection.Count(); }
  LRESULT OnGetNextItem(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT OnGetSelectionMark(UINT, WPARAM, LPARAM) { return m_selection.Mark(); }
  LRESULT OnSetSelectionMark(UINT, WPARAM, LPARAM lParam);
  LRESULT OnSetItemCount(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT OnDeleteAllItems(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT OnGetItem(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT OnKeyDown(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT OnButtonDown(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT OnMouseMove(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT OnLButtonUp(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT OnRButtonUp(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT OnCaptureChanged(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT OnFocusChange(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT OnKeyUp(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT OnScrollAction(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT OnHeaderBeginDrag(int, NMHDR*) { return 0; }

 private:
  // The row a navigation key moves the focus to; -1 for a key that moves nothing.
  int KeyTarget(UINT key) const;
  // Focus to `row` with what the modifier keys ask: Shift extends from the
  // mark, Ctrl moves only the focus (or toggles with `toggle`), neither
  // selects the row alone.
  void SelectByInput(int row, bool shift, bool control, bool toggle);
  // Selection or focus changed on rows [first, last]: those on screen are
  // repainted, and the parent is told as the list itself would tell it.
  void RowsChanged(int first, int last, UINT newState, UINT oldState);
  void InvalidateRows(int first, int last);
  void NotifyParent(NMHDR* header);
  void SendClickNotify(UINT code, int row, POINT point);
};
