// The main frame's status bar: a text pane, a pane that carries a progress
// bar while a job runs, and a pane of eight clickable indicator items (filter
// button, process and level drop-downs, five level counters). The bar paints
// everything itself; a click on an item sends WM_NOTIFY to the parent with
// the item's position as the code.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstddef>
#include <cstdint>

#include "core/Containers.h"
#include "core/RefString.h"
#include "ui/controls/DrawHelpers.h"
#include "ui/framework/Controls.h"
#include "ui/framework/DoubleBuffer.h"
#include "ui/framework/ImageList.h"
#include "ui/framework/StatusBarPanes.h"

// Indicator item kinds and flags.
constexpr uint16_t kStatusItemDropDown = 0x1;  // kind: drawn with a down arrow at its right
constexpr uint16_t kStatusItemDisabled = 0x1;  // flags: drawn grey, never hit

// Positions of the eight items; a click notification carries one as its code.
enum StatusItemPosition : uint32_t {
  kStatusItemFilter = 0,
  kStatusItemProcess = 1,
  kStatusItemLevel = 2,
  kStatusItemDebug = 3,
  kStatusItemInfo = 4,
  kStatusItemWarning = 5,
  kStatusItemError = 6,
  kStatusItemPii = 7,
  kStatusItemCount = 8,
};

// The filter item's picture while the shown view is filtered; the pictures
// before it are the items' own, in item order.
constexpr int32_t kStatusImageFilterActive = 8;

// One indicator item; the bar owns it.
struct StatusIndicatorItem {
  uint16_t kind = 0;
  uint16_t flags = 0;
  int32_t image = -1;  // index into the bar's image list; negative: none
  uint32_t width = 0;  // pixels
  CString text;
  RECT rect = {};  // set by the layout
};

namespace kt_statusbar {

// Hover and click tracking over the theme mix-in. T answers HitTestItem(point)
// (-1 for nothing) and OnItemClick(item); a click makes the item hot and sets
// the pressed flag for as long as OnItemClick runs, so the owner's menu or
// dialog opens over a pressed button.
template <class T>
class CTrackWindowT : public CThemeWindowT<T> {
 public:
  CTrackWindowT() : CThemeWindowT<T>(L"TOOLBAR") {}

  int64_t GetHotItem() const { return m_hot; }
  void SetHotItem(int64_t item) { m_hot = item; }
  bool IsPressed() const { return m_pressed; }
  void SetPressed(bool pressed) { m_pressed = pressed; }

  BEGIN_MSG_MAP(CTrackWindowT)
    CHAIN_MSG_MAP(CThemeWindowT<T>)
    MESSAGE_HANDLER(WM_MOUSEMOVE, OnMouseMove)
    MESSAGE_HANDLER(WM_MOUSELEAVE, OnMouseLeave)
    MESSAGE_HANDLER(WM_LBUTTONDOWN, OnLButtonDown)
  END_MSG_MAP()

  LRESULT OnMouseMove(UINT, WPARAM, LPARAM lParam) {
    T* self = static_cast<T*>(this);
    if (!m_tracking) {
      TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, self->m_hWnd, 0};
      m_tracking = ::TrackMouseEvent(&track) != FALSE;
    }
    SetHot(self->HitTestItem(PointOf(lParam)));
    SetMsgHandled(FALSE);
    return 0;
  }

  LRESULT OnMouseLeave(UINT, WPARAM, LPARAM) {
    m_tracking = false;
    if (!m_pressed) {
      SetHot(-1);
    }
    SetMsgHandled(FALSE);
    return 0;
  }

  LRESULT OnLButtonDown(UINT, WPARAM, LPARAM lParam) {
    T* self = static_cast<T*>(this);
    const int64_t hit = self->HitTestItem(PointOf(lParam));
    if (hit < 0) {
      SetHot(-1);
      return 0;
    }
    m_hot = hit;
    m_pressed = true;
    self->RedrawWindow();
    self->OnItemClick(hit);
    m_pressed = false;
    if (!self->IsWindow()) {
      return 0;  // the owner closed the bar while it handled the click
    }
    // The owner's menu or dialog may have run for a while: the hover follows
    // the cursor from where it is now.
    POINT cursor = {};
    ::GetCursorPos(&cursor);
    self->ScreenToClient(&cursor);
    m_hot = self->HitTestItem(cursor);
    self->RedrawWindow();
    return 0;
  }

 protected:
  // Client coordinates are signed 16-bit values (windowsx.h's macros clash
  // with the framework's names).
  static POINT PointOf(LPARAM lParam) { return POINT{short(LOWORD(lParam)), short(HIWORD(lParam))}; }

  // Repaints at once, and only when the hot item changes.
  void SetHot(int64_t item) {
    if (item != m_hot) {
      m_hot = item;
      static_cast<T*>(this)->RedrawWindow();
    }
  }

  int64_t m_hot = -1;
  bool m_tracking = false;  // a WM_MOUSELEAVE has been asked for
  bool m_pressed = false;
};

}  // namespace kt_statusbar

class CStatusBarEx : public CMultiPaneStatusBarCtrlImpl<CStatusBarEx>,
                     public kt_statusbar::CTrackWindowT<CStatusBarEx>,
                     public CDoubleBufferImpl<CStatusBarEx> {
 public:
  // How much wider the progress pane is while its bar shows.
  static constexpr int kProgressExtraWidth = 100;
  static constexpr int kItemsPaneWidth = 430;

  CStatusBarEx() = default;
  ~CStatusBarEx();

  BEGIN_MSG_MAP(CStatusBarEx)
    MESSAGE_HANDLER(WM_SIZE, OnBarSize)
    CHAIN_MSG_MAP(kt_statusbar::CTrackWindowT<CStatusBarEx>)
    CHAIN_MSG_MAP(CDoubleBufferImpl<CStatusBarEx>)
  END_MSG_MAP()

  // Creates the bar as a child of `parent` with its panes, the hidden
  // progress bar, the item pictures and the eight items; `notifyId` is the id
  // the click notifications carry. FALSE when the window cannot be created.
  BOOL CreateEx(HWND parent, UINT notifyId);

  // Appends an item (flags 0, empty rectangle). FALSE, nothing added, when
  // memory runs out.
  BOOL AddItem(uint16_t kind, int32_t image, uint32_t width, const wchar_t* text);
  // The first enabled item whose rectangle holds `point`, -1 when none.
  int64_t HitTestItem(POINT point) const;
  // Texts of items 3 to 7: the level counters. A counter whose number does
  // not fit its item grows to fit it (never below its first width), and the
  // item pane with it.
  void SetPaneTexts(const wchar_t* debug, const wchar_t* info, const wchar_t* warning, const wchar_t* error,
                    const wchar_t* pii);
  // The text pane keeps room for `text` (its start that must read whole)
  // while the bar has it: when the items and the text do not both fit, the
  // counters drop their pictures and the item pane shrinks to its items.
  // Null or empty: no such room.
  void SetTextPaneMinimum(const wchar_t* text);
  bool CountersCompact() const { return m_compactCounters; }
  // Sets or clears the disabled flag of every item.
  void SetItemsDisabled(bool disabled);
  // The picture of the item at `position` (an image beyond the bar's list
  // draws none).
  void SetItemImage(size_t position, int32_t image);

  // SW_SHOW / SW_HIDE show or hide the progress bar, widening or narrowing
  // its pane; -1 only places a shown bar in its pane again. Other commands
  // do nothing.
  void ShowPaneWindow(int command);
  // Lays out the parts, the progress bar and the items.
  void UpdatePanes();

  size_t GetItemCount() const { return m_items.count; }
  // The item at `position`, null when out of range; the bar keeps owning it.
  const StatusIndicatorItem* GetItem(size_t position) const {
    return position < m_items.count ? m_items.data[position] : nullptr;
  }
  UINT GetNotifyId() const { return m_notifyId; }
  HWND GetProgressBar() const { return m_progress.m_hWnd; }
  // The tool-tip string of the item at `position`, 0 when it has none.
  static UINT GetItemTipId(size_t position);

  // Called by the tracking mix-in: tells the parent about a click.
  void OnItemClick(int64_t item);
  // Called by the double buffer.
  void DoPaint(HDC dc);

 private:
  LRESULT OnBarSize(UINT msg, WPARAM wParam, LPARAM lParam);

  BOOL AppendDefaultItems();
  // Widths of the counters for their texts; true when one changed.
  bool FitCounters();
  // Counters and the item pane for the bar's width; true when either changed.
  bool FitItemsPane();
  bool IsCounter(const StatusIndicatorItem& item) const;
  int TextExtent(const wchar_t* text) const;
  // The item pane: its items and gaps, at least its first width.
  int ItemsPaneWidth() const;
  void LayoutItems();
  void PlaceProgressBar();
  void PaintPaneSeparator(CDCHandle& dc, int paneId);
  void PaintItem(CDCHandle& dc, const StatusIndicatorItem& item, bool hot);
  void PaintSizeGrip(CDCHandle& dc, const RECT& client);
  void FreeItems();

  CProgressBarCtrl m_progress;
  UINT m_notifyId = 0;
  CImageList m_images;
  CGrowArray<StatusIndicatorItem*> m_items;  // owned
  int m_textMinimum = 0;  // pixels the text pane keeps, 0 for none
  bool m_compactCounters = false;  // counters drawn without their pictures
};
