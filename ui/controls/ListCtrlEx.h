// The owner-drawn report lists: white rows, light grey grid lines, a soft
// blue gradient behind the selected row and the flat CHeaderCtrlEx header.
//
// CListCtrlExImpl<T> is the window template (T the derived class); its rows
// are drawn from the owner-draw requests the list sends to its parent, so the
// parent reflects WM_DRAWITEM and WM_MEASUREITEM back (REFLECT_NOTIFICATIONS)
// unless it draws the rows itself. T may replace DrawRowPrefix,
// DrawRowBackground, DrawSubItem, DrawGridLines, DrawColumnLines and
// OnMeasureItem; the template calls them through T.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "ui/controls/DrawHelpers.h"
#include "ui/controls/HeaderCtrlEx.h"
#include "ui/framework/Controls.h"
#include "ui/framework/DeviceContext.h"
#include "ui/framework/Gdi.h"
#include "ui/framework/WindowImpl.h"

namespace ktlist {

constexpr COLORREF kGridColor = RGB(237, 237, 237);
constexpr COLORREF kSelectedOuterTop = RGB(247, 252, 254);
constexpr COLORREF kSelectedOuterBottom = RGB(232, 246, 254);
constexpr COLORREF kSelectedInnerTop = RGB(242, 249, 254);
constexpr COLORREF kSelectedInnerBottom = RGB(214, 240, 253);
constexpr COLORREF kRowFrameColor = RGB(154, 223, 254);
constexpr int kCellTextInset = 3;
// Posted to a list by itself after a column was dropped at a new place: the
// header applies the new order only after its drop notification returns.
constexpr UINT kColumnsMovedMessage = WM_APP + 1;
constexpr UINT kCellTextFormat = DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS;

// The font the list draws and measures its rows with: its own (WM_GETFONT),
// DEFAULT_GUI_FONT when it has none. Not owned by the caller.
HFONT ListFont(HWND list);
// Row height for the owner-draw measure: the height of the list's own font,
// at least the small-icon height when the list has small images, plus 1.
UINT MeasureRowHeight(HWND list);

// Keeps the painting off the header: its window rectangle (bottom raised by
// one pixel) leaves the clip of `dc`.
void ExcludeHeaderFromClip(HDC dc, HWND list);
void FillListBackground(HDC dc, HWND list, const RECT& area);
// Horizontal lines under the header at every multiple of `rowHeight`.
void DrawGridLines(HDC dc, HWND list, const RECT& area, UINT rowHeight);
// A line at the right edge of every column, across the whole area.
void DrawColumnLines(HDC dc, HWND list, const RECT& area);
// Selected: two gradients and the frame; focused only: the frame; disabled
// or neither: nothing.
void DrawRowBackground(HDC dc, const RECT& row, UINT itemState);
// Every cell of `item` in header order: image, divider, text.
void DrawSubItems(HDC dc, const CListViewCtrl& list, int item, UINT itemState);

}  // namespace ktlist

template <class T, class TBase = CListViewCtrl>
class CListCtrlExImpl : public CWindowImpl<T, TBase> {
  using Base = CWindowImpl<T, TBase>;

 public:
  DECLARE_WND_SUPERCLASS(nullptr, WC_LISTVIEWW)

  // The extended list style Init sets; T may give its own.
  static DWORD GetListExtendedStyle() { return LVS_EX_FULLROWSELECT; }

  CHeaderCtrlEx m_header;
  UINT m_rowHeight = 0;  // pixels, 0 until the list first asks for it
  UINT m_gridLines = 1;

  BEGIN_MSG_MAP(CListCtrlExImpl)
    MESSAGE_HANDLER(WM_ERASEBKGND, OnEraseBackground)
    MESSAGE_HANDLER(WM_NCPAINT, OnNcPaint)
    MESSAGE_HANDLER(WM_PAINT, OnPaint)
    MESSAGE_HANDLER(WM_PRINTCLIENT, OnPaint)
    MESSAGE_HANDLER(WM_MEASUREITEM, OnMeasureItemMessage)
    MESSAGE_HANDLER(OCM_MEASUREITEM, OnMeasureItemMessage)
    MESSAGE_HANDLER(WM_DRAWITEM, OnDrawItemMessage)
    MESSAGE_HANDLER(OCM_DRAWITEM, OnDrawItemMessage)
    MESSAGE_HANDLER(WM_VSCROLL, OnVScroll)
    MESSAGE_HANDLER(WM_NOTIFY, OnHeaderNotify)
    MESSAGE_HANDLER(ktlist::kColumnsMovedMessage, OnColumnsMoved)
  END_MSG_MAP()

  // Runs once after Create or SubclassWindow: owner-drawn rows, T's extended
  // style, the flat header and, when given, the small image list (which the
  // list then owns unless it has LVS_SHAREIMAGELISTS).
  void Init(HIMAGELIST imageList) {
    if ((this->GetStyle() & LVS_OWNERDRAWFIXED) == 0) {
      this->ModifyStyle(0, LVS_OWNERDRAWFIXED);
    }
    this->SetExtendedListViewStyle(T::GetListExtendedStyle());
    HWND header = this->GetHeader();
    if (header != nullptr && m_header.m_hWnd == nullptr) {
      m_header.SubclassWindow(header);
    }
    if (imageList != nullptr) {
      this->SetImageList(imageList, LVSIL_SMALL);
    }
  }

  // Attaches to a dialog's list control and initialises it. FALSE when the
  // control cannot be subclassed.
  BOOL SubclassWindow(HWND hwnd, HIMAGELIST imageList = nullptr) {
    if (!Base::SubclassWindow(hwnd)) {
      return FALSE;
    }
    static_cast<T*>(this)->Init(imageList);
    RemeasureRows();
    return TRUE;
  }

  // An owner-drawn list asks for its row height only when it is sized, so
  // size it to nothing and back.
  void RemeasureRows() {
    RECT rect;
    if (!this->GetWindowRect(&rect)) {
      return;
    }
    constexpr UINT kFlags = SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE;
    this->SetWindowPos(nullptr, 0, 0, 0, 0, kFlags);
    this->SetWindowPos(nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top, kFlags);
  }

  LRESULT OnEraseBackground(UINT, WPARAM, LPARAM) { return 1; }

  // The themed list draws its border by filling the whole region it is given
  // with its theme's background, and a frame repaint gives it the whole
  // window: the rows showed white until the client was painted again. It
  // gets the frame's part only.
  LRESULT OnNcPaint(UINT msg, WPARAM wParam, LPARAM lParam) {
    RECT window;
    RECT client;
    CRgn frame;
    if (this->GetWindowRect(&window) && this->GetClientRect(&client)) {
      ::MapWindowPoints(this->m_hWnd, nullptr, reinterpret_cast<POINT*>(&client), 2);
      CRgn inside;
      const bool made =
          frame.CreateRectRgnIndirect(window) && inside.CreateRectRgnIndirect(client) &&
          frame.Combine(frame.get(), inside.get(), RGN_DIFF) != ERROR &&
          (wParam == 1 || frame.Combine(frame.get(), reinterpret_cast<HRGN>(wParam), RGN_AND) != ERROR);
      if (!made) {
        frame.Reset();
      }
    }
    const WPARAM region = !frame.IsNull() ? reinterpret_cast<WPARAM>(frame.get()) : wParam;
    const LRESULT result = this->DefWindowProc(msg, region, lParam);
    // The list may hand the region on to GetDCEx, which then deletes it.
    if (!frame.IsNull() && ::GetObjectType(frame.get()) != OBJ_REGION) {
      frame.Detach();
    }
    return result;
  }

  LRESULT OnPaint(UINT msg, WPARAM wParam, LPARAM) {
    if (msg == WM_PRINTCLIENT || wParam != 0) {
      RECT client;
      this->GetClientRect(&client);
      PaintBuffered(reinterpret_cast<HDC>(wParam), client);
    } else {
      CPaintDC dc(this->m_hWnd);
      if (!dc.IsNull()) {
        PaintBuffered(dc.get(), dc.m_ps.rcPaint);
      }
    }
    return 0;
  }

  LRESULT OnMeasureItemMessage(UINT, WPARAM, LPARAM lParam) {
    auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
    if (measure == nullptr || measure->CtlType != ODT_LISTVIEW) {
      SetMsgHandled(FALSE);
      return 0;
    }
    static_cast<T*>(this)->OnMeasureItem(measure);
    return 1;
  }

  LRESULT OnDrawItemMessage(UINT, WPARAM, LPARAM lParam) {
    auto* draw = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
    if (draw == nullptr || draw->CtlType != ODT_LISTVIEW) {
      SetMsgHandled(FALSE);
      return 0;
    }
    static_cast<T*>(this)->DrawItem(draw);
    return 1;
  }

  // Line and page scrolls repaint everything instead of moving the bits, so
  // grid lines and gradients never smear.
  LRESULT OnVScroll(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (LOWORD(wParam)) {
      case SB_LINEUP:
      case SB_LINEDOWN:
      case SB_PAGEUP:
      case SB_PAGEDOWN:
        this->DefWindowProc(msg, wParam, lParam);
        this->Invalidate(TRUE);
        return 0;
      default:
        SetMsgHandled(FALSE);
        return 0;
    }
  }

  // A column that changed its width or place moves every cell to its right:
  // the list itself only shifts the bits it painted before, which leaves
  // cells of the old layout under the new header. The rows are painted anew.
  LRESULT OnHeaderNotify(UINT msg, WPARAM wParam, LPARAM lParam) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header == nullptr || header->hwndFrom != m_header.m_hWnd) {
      SetMsgHandled(FALSE);
      return 0;
    }
    switch (header->code) {
      case UINT(HDN_ITEMCHANGEDW):
      case UINT(HDN_ITEMCHANGEDA):
      case UINT(HDN_ENDTRACKW):
      case UINT(HDN_ENDTRACKA): {
        const LRESULT result = this->DefWindowProc(msg, wParam, lParam);
        this->Invalidate(FALSE);
        return result;
      }
      case UINT(HDN_ENDDRAG): {
        const LRESULT result = static_cast<T*>(this)->OnHeaderEndDrag(msg, wParam, lParam);
        if (result == 0) {
          this->PostMessage(ktlist::kColumnsMovedMessage);
        }
        return result;
      }
      default:
        SetMsgHandled(FALSE);
        return 0;
    }
  }

  // The drop of a dragged column; 0 lets the header take the new order.
  LRESULT OnHeaderEndDrag(UINT msg, WPARAM wParam, LPARAM lParam) { return this->DefWindowProc(msg, wParam, lParam); }

  LRESULT OnColumnsMoved(UINT, WPARAM, LPARAM) {
    this->Invalidate(FALSE);
    static_cast<T*>(this)->ColumnsMoved();
    return 0;
  }

  // Called after the header took a new column order; T may act on it.
  void ColumnsMoved() {}

  void DoPaint(HDC dc) {
    RECT client;
    this->GetClientRect(&client);
    T* self = static_cast<T*>(this);
    ktlist::FillListBackground(dc, this->m_hWnd, client);
    self->DrawGridLines(dc, client);
    self->DrawColumnLines(dc, client);
    this->DefWindowProc(WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);  // sends the owner-draw request of every visible row
  }

  void DrawItem(const DRAWITEMSTRUCT* draw) {
    CSaveDC saved(draw->hDC);
    CDCHandle dc(draw->hDC);
    dc.SelectObject(ktlist::ListFont(this->m_hWnd));
    dc.SetBkMode(TRANSPARENT);
    UINT state = draw->itemState;
    if (!this->IsWindowEnabled()) {
      state |= ODS_DISABLED;
    }
    dc.SetTextColor(::GetSysColor((state & ODS_DISABLED) != 0 ? COLOR_GRAYTEXT : COLOR_WINDOWTEXT));
    const int item = int(draw->itemID);
    RECT row = draw->rcItem;
    T* self = static_cast<T*>(this);
    self->DrawRowPrefix(draw->hDC, item, row, state);
    self->DrawRowBackground(draw->hDC, item, row, state);
    self->DrawSubItem(draw->hDC, item, state);
  }

  // What T draws at the row's left before the background; it moves
  // `row.left` past what it drew.
  void DrawRowPrefix(HDC, int, RECT&, UINT) {}

  void DrawRowBackground(HDC dc, int, const RECT& rect, UINT itemState) {
    ktlist::DrawRowBackground(dc, rect, itemState);
  }

  void DrawSubItem(HDC dc, int item, UINT itemState) { ktlist::DrawSubItems(dc, *this, item, itemState); }

  void DrawGridLines(HDC dc, const RECT& rect) {
    if (m_gridLines != 0 && m_rowHeight != 0 && this->IsWindowEnabled()) {
      ktlist::DrawGridLines(dc, this->m_hWnd, rect, m_rowHeight);
    }
  }

  void DrawColumnLines(HDC dc, const RECT& rect) { ktlist::DrawColumnLines(dc, this->m_hWnd, rect); }

  // Draws the whole client now into the paint bitmap, for the next paint of
  // this same client to show without drawing it again. An owner that paints
  // many windows in one short pass draws the slow part, the rows, first;
  // it does so while the list is held, so that the scroll bars the list
  // works out in that paint are not drawn yet, and calls DropPaintAhead
  // after the pass, so a paint that never came cannot leave an old picture
  // for a later one.
  void PaintAhead() {
    DropPaintAhead();
    // The list may show or hide a scroll bar while it paints, which changes
    // the client; the second try draws for the client it then has.
    for (int attempt = 0; attempt < 2; ++attempt) {
      RECT client;
      if (!this->GetClientRect(&client) || ::IsRectEmpty(&client)) {
        return;
      }
      CClientDC screen(this->m_hWnd);
      if (screen.IsNull()) {
        return;
      }
      CMemoryDC buffer(screen.get(), client, m_paintBitmap);
      if (!buffer.IsValid()) {
        return;
      }
      static_cast<T*>(this)->DoPaint(buffer.get());
      RECT after;
      if (this->GetClientRect(&after) && ::EqualRect(&after, &client)) {
        m_paintedAhead = {client, this->GetTopIndex(), this->GetItemCount()};
        return;
      }
    }
  }
  void DropPaintAhead() { m_paintedAhead = {}; }

  void OnMeasureItem(MEASUREITEMSTRUCT* measure) {
    m_rowHeight = ktlist::MeasureRowHeight(this->m_hWnd);
    measure->itemHeight = m_rowHeight;
  }

 private:
  CPaintBitmap m_paintBitmap;  // a full page of a big list is megabytes

  // What PaintAhead drew: the picture serves only a paint of all of that
  // client with the same rows. An empty client when there is none.
  struct PaintedAhead {
    RECT client;
    int top;
    int count;
  };
  PaintedAhead m_paintedAhead = {};

  bool IsPaintedAhead(const RECT& area) {
    RECT client;
    return !::IsRectEmpty(&m_paintedAhead.client) && this->GetClientRect(&client) &&
           ::EqualRect(&client, &area) && ::EqualRect(&m_paintedAhead.client, &area) &&
           m_paintedAhead.top == this->GetTopIndex() && m_paintedAhead.count == this->GetItemCount();
  }

  void PaintBuffered(HDC target, const RECT& area) {
    const bool ahead = IsPaintedAhead(area);
    DropPaintAhead();
    if (target == nullptr || area.right <= area.left || area.bottom <= area.top) {
      return;
    }
    CSaveDC saved(target);
    ktlist::ExcludeHeaderFromClip(target, this->m_hWnd);
    CMemoryDC buffer(target, area, m_paintBitmap);
    T* self = static_cast<T*>(this);
    if (buffer.IsValid()) {
      if (!ahead) {
        self->DoPaint(buffer.get());
      }
      buffer.Present();
    } else {
      self->DoPaint(target);  // no memory for the bitmap: paint directly, flicker and all
    }
  }
};

// The plain flat list of the dialogs.
class CListCtrlEx : public CListCtrlExImpl<CListCtrlEx> {};

// A flat list with a check box at the left of each row. The check lives in
// the row's state image: 1 unchecked, anything else checked (a row without a
// state image reads and draws as checked, so rows are always inserted with
// an explicit one).
class CCheckListEx : public CListCtrlExImpl<CCheckListEx>, public CThemeWindowT<CCheckListEx> {
 public:
  static constexpr UINT kUncheckedImage = 1;
  static constexpr UINT kCheckedImage = 2;

  CCheckListEx() : CThemeWindowT<CCheckListEx>(L"BUTTON") {}

  static DWORD GetListExtendedStyle() { return LVS_EX_FULLROWSELECT | LVS_EX_CHECKBOXES; }

  BEGIN_MSG_MAP(CCheckListEx)
    CHAIN_MSG_MAP(CListCtrlExImpl<CCheckListEx>)
    CHAIN_MSG_MAP(CThemeWindowT<CCheckListEx>)
    MESSAGE_HANDLER(WM_LBUTTONDOWN, OnLButtonDown)
    MESSAGE_HANDLER(WM_LBUTTONDBLCLK, OnLButtonDown)
  END_MSG_MAP()

  // The template's Init, then the "BUTTON" theme while themes are on.
  void Init(HIMAGELIST imageList);

  // Unchecked becomes checked, anything else unchecked.
  void ToggleCheck(int item);
  bool GetCheck(int item) const { return GetStateImage(item) != kUncheckedImage; }
  BOOL SetCheck(int item, bool checked) { return SetStateImage(item, checked ? kCheckedImage : kUncheckedImage); }
  // Inserts a row with the given check (the list forces new rows to
  // unchecked, so the check is written after the insert). The row's index,
  // -1 when the list refused it. It hides the list's own InsertItem calls on
  // purpose: no row of a check list comes in without its state image.
  int InsertItem(int index, const wchar_t* text, bool checked = false);

  LRESULT OnLButtonDown(UINT msg, WPARAM wParam, LPARAM lParam);

  // The check box at the row's left; the row continues at its right edge.
  void DrawRowPrefix(HDC dc, int item, RECT& row, UINT itemState);

 private:
  UINT GetStateImage(int item) const;
  BOOL SetStateImage(int item, UINT image);
};
