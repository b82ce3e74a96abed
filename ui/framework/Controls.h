// Thin wrappers of the common controls: a CWindow plus the control's own
// messages as calls. Like CWindow they do not own their windows. Each can be
// the TBase of a CWindowImpl that superclasses or subclasses the control.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "core/RefString.h"
#include "ui/framework/Window.h"

class CListViewCtrl : public CWindow {
 public:
  using CWindow::CWindow;
  static const wchar_t* GetWndClassName() { return WC_LISTVIEWW; }

  int GetItemCount() const { return int(SendMessage(LVM_GETITEMCOUNT)); }
  // Owner-data lists: the row count, with LVSICF_* flags.
  BOOL SetItemCountEx(int count, DWORD flags) { return BOOL(SendMessage(LVM_SETITEMCOUNT, WPARAM(count), flags)); }
  int GetTopIndex() const { return int(SendMessage(LVM_GETTOPINDEX)); }
  int GetCountPerPage() const { return int(SendMessage(LVM_GETCOUNTPERPAGE)); }
  int GetNextItem(int start, UINT flags) const { return int(SendMessage(LVM_GETNEXTITEM, WPARAM(start), flags)); }
  UINT GetSelectedCount() const { return UINT(SendMessage(LVM_GETSELECTEDCOUNT)); }
  UINT GetItemState(int item, UINT mask) const { return UINT(SendMessage(LVM_GETITEMSTATE, WPARAM(item), mask)); }
  // item -1: every row.
  BOOL SetItemState(int item, UINT state, UINT mask);
  BOOL EnsureVisible(int item, BOOL partialOk) {
    return BOOL(SendMessage(LVM_ENSUREVISIBLE, WPARAM(item), MAKELPARAM(partialOk, 0)));
  }
  BOOL Scroll(int dx, int dy) { return BOOL(SendMessage(LVM_SCROLL, WPARAM(dx), LPARAM(dy))); }
  BOOL GetItemRect(int item, RECT* rect, int code) const;
  BOOL GetSubItemRect(int item, int subItem, int code, RECT* rect) const;
  BOOL GetItem(LVITEMW* item) const { return BOOL(SendMessage(LVM_GETITEMW, 0, LPARAM(item))); }
  int InsertItem(const LVITEMW& item) { return int(SendMessage(LVM_INSERTITEMW, 0, LPARAM(&item))); }
  int InsertItem(int index, const wchar_t* text);
  BOOL SetItemText(int item, int subItem, const wchar_t* text);
  // The text of a cell; empty when there is none.
  BOOL GetItemText(int item, int subItem, CString& text) const;
  BOOL DeleteItem(int item) { return BOOL(SendMessage(LVM_DELETEITEM, WPARAM(item))); }
  BOOL DeleteAllItems() { return BOOL(SendMessage(LVM_DELETEALLITEMS)); }
  BOOL RedrawItems(int first, int last) { return BOOL(SendMessage(LVM_REDRAWITEMS, WPARAM(first), LPARAM(last))); }

  int InsertColumn(int index, const wchar_t* text, int format, int width);
  BOOL DeleteColumn(int index) { return BOOL(SendMessage(LVM_DELETECOLUMN, WPARAM(index))); }
  BOOL GetColumn(int index, LVCOLUMNW* column) const {
    return BOOL(SendMessage(LVM_GETCOLUMNW, WPARAM(index), LPARAM(column)));
  }
  int GetColumnWidth(int index) const { return int(SendMessage(LVM_GETCOLUMNWIDTH, WPARAM(index))); }
  BOOL SetColumnWidth(int index, int width) { return BOOL(SendMessage(LVM_SETCOLUMNWIDTH, WPARAM(index), width)); }
  HWND GetHeader() const { return HWND(SendMessage(LVM_GETHEADER)); }

  DWORD GetExtendedListViewStyle() const { return DWORD(SendMessage(LVM_GETEXTENDEDLISTVIEWSTYLE)); }
  DWORD SetExtendedListViewStyle(DWORD style, DWORD mask = 0) {
    return DWORD(SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, mask, style));
  }
  HIMAGELIST GetImageList(int kind) const { return HIMAGELIST(SendMessage(LVM_GETIMAGELIST, WPARAM(kind))); }
  HIMAGELIST SetImageList(HIMAGELIST list, int kind) {
    return HIMAGELIST(SendMessage(LVM_SETIMAGELIST, WPARAM(kind), LPARAM(list)));
  }
  int HitTest(LVHITTESTINFO* info) const { return int(SendMessage(LVM_HITTEST, 0, LPARAM(info))); }
  int SubItemHitTest(LVHITTESTINFO* info) const { return int(SendMessage(LVM_SUBITEMHITTEST, 0, LPARAM(info))); }
};

class CHeaderCtrl : public CWindow {
 public:
  using CWindow::CWindow;
  int GetItemCount() const { return int(SendMessage(HDM_GETITEMCOUNT)); }
  BOOL GetItemRect(int index, RECT* rect) const { return BOOL(SendMessage(HDM_GETITEMRECT, WPARAM(index), LPARAM(rect))); }
  BOOL GetItem(int index, HDITEMW* item) const { return BOOL(SendMessage(HDM_GETITEMW, WPARAM(index), LPARAM(item))); }
  BOOL GetOrderArray(int count, int* order) const {
    return BOOL(SendMessage(HDM_GETORDERARRAY, WPARAM(count), LPARAM(order)));
  }
  BOOL SetOrderArray(int count, const int* order) {
    return BOOL(SendMessage(HDM_SETORDERARRAY, WPARAM(count), LPARAM(order)));
  }
};

class CComboBox : public CWindow {
 public:
  using CWindow::CWindow;
  int AddString(const wchar_t* text) { return int(SendMessage(CB_ADDSTRING, 0, LPARAM(text))); }
  int InsertString(int index, const wchar_t* text) {
    return int(SendMessage(CB_INSERTSTRING, WPARAM(index), LPARAM(text)));
  }
  int DeleteString(int index) { return int(SendMessage(CB_DELETESTRING, WPARAM(index))); }
  void ResetContent() { SendMessage(CB_RESETCONTENT); }
  int GetCount() const { return int(SendMessage(CB_GETCOUNT)); }
  int GetCurSel() const { return int(SendMessage(CB_GETCURSEL)); }
  int SetCurSel(int index) { return int(SendMessage(CB_SETCURSEL, WPARAM(index))); }
  // The text of item `index`; 0 (text emptied) when there is no such item.
  BOOL GetLBText(int index, CString& text) const;
  DWORD_PTR GetItemData(int index) const { return DWORD_PTR(SendMessage(CB_GETITEMDATA, WPARAM(index))); }
  int SetItemData(int index, DWORD_PTR data) { return int(SendMessage(CB_SETITEMDATA, WPARAM(index), LPARAM(data))); }
};

class CButton : public CWindow {
 public:
  using CWindow::CWindow;
  int GetCheck() const { return int(SendMessage(BM_GETCHECK)); }
  void SetCheck(int state) { SendMessage(BM_SETCHECK, WPARAM(state)); }
};

class CEdit : public CWindow {
 public:
  using CWindow::CWindow;
  void SetLimitText(UINT max) { SendMessage(EM_LIMITTEXT, max); }
  void SetMargins(UINT left, UINT right) {
    SendMessage(EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(left, right));
  }
  void SetSel(int start, int end) { SendMessage(EM_SETSEL, WPARAM(start), LPARAM(end)); }
  void ReplaceSel(const wchar_t* text, BOOL canUndo = FALSE) { SendMessage(EM_REPLACESEL, canUndo, LPARAM(text)); }
  void SetReadOnly(BOOL readOnly = TRUE) { SendMessage(EM_SETREADONLY, readOnly); }
  int GetLineCount() const { return int(SendMessage(EM_GETLINECOUNT)); }
};

class CTabCtrl : public CWindow {
 public:
  using CWindow::CWindow;
  int InsertItem(int index, const wchar_t* text);
  int GetItemCount() const { return int(SendMessage(TCM_GETITEMCOUNT)); }
  int GetCurSel() const { return int(SendMessage(TCM_GETCURSEL)); }
  int SetCurSel(int index) { return int(SendMessage(TCM_SETCURSEL, WPARAM(index))); }
  BOOL DeleteAllItems() { return BOOL(SendMessage(TCM_DELETEALLITEMS)); }
  // larger TRUE: window rectangle from display rectangle; FALSE: the reverse.
  void AdjustRect(BOOL larger, RECT* rect) { SendMessage(TCM_ADJUSTRECT, larger, LPARAM(rect)); }
};

class CUpDownCtrl : public CWindow {
 public:
  using CWindow::CWindow;
  void SetRange32(int lower, int upper) { SendMessage(UDM_SETRANGE32, WPARAM(lower), LPARAM(upper)); }
  int SetPos32(int position) { return int(SendMessage(UDM_SETPOS32, 0, LPARAM(position))); }
  // The position; `error` (when given) is TRUE when the buddy's text is no valid position.
  int GetPos32(BOOL* error = nullptr) const { return int(SendMessage(UDM_GETPOS32, 0, LPARAM(error))); }
  HWND SetBuddy(HWND buddy) { return HWND(SendMessage(UDM_SETBUDDY, WPARAM(buddy))); }
};

class CProgressBarCtrl : public CWindow {
 public:
  using CWindow::CWindow;
  void SetRange(int lower, int upper) { SendMessage(PBM_SETRANGE32, WPARAM(lower), LPARAM(upper)); }
  int SetPos(int position) { return int(SendMessage(PBM_SETPOS, WPARAM(position))); }
  int GetPos() const { return int(SendMessage(PBM_GETPOS)); }
};

class CToolBarCtrl : public CWindow {
 public:
  using CWindow::CWindow;
  void SetButtonStructSize() { SendMessage(TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON)); }
  int GetButtonCount() const { return int(SendMessage(TB_BUTTONCOUNT)); }
  int CommandToIndex(UINT id) const { return int(SendMessage(TB_COMMANDTOINDEX, id)); }
  BOOL GetButton(int index, TBBUTTON* button) const {
    return BOOL(SendMessage(TB_GETBUTTON, WPARAM(index), LPARAM(button)));
  }
  BOOL GetItemRect(int index, RECT* rect) const {
    return BOOL(SendMessage(TB_GETITEMRECT, WPARAM(index), LPARAM(rect)));
  }
  BOOL SetButtonInfo(UINT id, const TBBUTTONINFOW& info) {
    return BOOL(SendMessage(TB_SETBUTTONINFOW, id, LPARAM(&info)));
  }
  BOOL InsertButton(int index, const TBBUTTON& button) {
    return BOOL(SendMessage(TB_INSERTBUTTONW, WPARAM(index), LPARAM(&button)));
  }
  BOOL AddButtons(int count, const TBBUTTON* buttons) {
    return BOOL(SendMessage(TB_ADDBUTTONSW, WPARAM(count), LPARAM(buttons)));
  }
  BOOL DeleteButton(int index) { return BOOL(SendMessage(TB_DELETEBUTTON, WPARAM(index))); }
  // One string (not a double-null list): its index, -1 on failure.
  int AddString(const wchar_t* text);
  BOOL SetButtonSize(int cx, int cy) { return BOOL(SendMessage(TB_SETBUTTONSIZE, 0, MAKELPARAM(cx, cy))); }
  BOOL SetBitmapSize(int cx, int cy) { return BOOL(SendMessage(TB_SETBITMAPSIZE, 0, MAKELPARAM(cx, cy))); }
  BOOL EnableButton(UINT id, BOOL enable = TRUE) { return BOOL(SendMessage(TB_ENABLEBUTTON, id, MAKELPARAM(enable, 0))); }
  void AutoSize() { SendMessage(TB_AUTOSIZE); }
};

class CStatusBarCtrl : public CWindow {
 public:
  using CWindow::CWindow;
  static const wchar_t* GetWndClassName() { return STATUSCLASSNAMEW; }
  // `rightEdges` holds the right edge of each part, -1 for "to the end".
  BOOL SetParts(int count, const int* rightEdges) {
    return BOOL(SendMessage(SB_SETPARTS, WPARAM(count), LPARAM(rightEdges)));
  }
  int GetParts(int count, int* rightEdges) const {
    return int(SendMessage(SB_GETPARTS, WPARAM(count), LPARAM(rightEdges)));
  }
  BOOL SetText(int part, const wchar_t* text, int type = 0) {
    return BOOL(SendMessage(SB_SETTEXTW, WPARAM(part | type), LPARAM(text)));
  }
  BOOL GetText(int part, CString& text) const;
  BOOL GetRect(int part, RECT* rect) const { return BOOL(SendMessage(SB_GETRECT, WPARAM(part), LPARAM(rect))); }
  // Horizontal border, vertical border and the gap between parts.
  BOOL GetBorders(int borders[3]) const { return BOOL(SendMessage(SB_GETBORDERS, 0, LPARAM(borders))); }
  void SetSimple(BOOL simple = TRUE) { SendMessage(SB_SIMPLE, simple); }
};
