#include "ui/framework/Controls.h"

#include <cwchar>

#include "core/Containers.h"

namespace {
// Longest cell or combo text read back; longer texts are cut.
constexpr int kItemTextChars = 1024;
}  // namespace

BOOL CListViewCtrl::SetItemState(int item, UINT state, UINT mask) {
  LVITEMW lvi = {};
  lvi.state = state;
  lvi.stateMask = mask;
  return BOOL(SendMessage(LVM_SETITEMSTATE, WPARAM(item), LPARAM(&lvi)));
}

BOOL CListViewCtrl::GetItemRect(int item, RECT* rect, int code) const {
  rect->left = code;
  return BOOL(SendMessage(LVM_GETITEMRECT, WPARAM(item), LPARAM(rect)));
}

BOOL CListViewCtrl::GetSubItemRect(int item, int subItem, int code, RECT* rect) const {
  rect->top = subItem;
  rect->left = code;
  return BOOL(SendMessage(LVM_GETSUBITEMRECT, WPARAM(item), LPARAM(rect)));
}

int CListViewCtrl::InsertItem(int index, const wchar_t* text) {
  LVITEMW lvi = {};
  lvi.mask = LVIF_TEXT;
  lvi.iItem = index;
  lvi.pszText = const_cast<wchar_t*>(text);
  return InsertItem(lvi);
}

BOOL CListViewCtrl::SetItemText(int item, int subItem, const wchar_t* text) {
  LVITEMW lvi = {};
  lvi.iSubItem = subItem;
  lvi.pszText = const_cast<wchar_t*>(text);
  return BOOL(SendMessage(LVM_SETITEMTEXTW, WPARAM(item), LPARAM(&lvi)));
}

BOOL CListViewCtrl::GetItemText(int item, int subItem, CString& text) const {
  wchar_t* buffer = text.GetBuffer(kItemTextChars);
  if (buffer == nullptr) {
    return FALSE;
  }
  buffer[0] = 0;
  LVITEMW lvi = {};
  lvi.iSubItem = subItem;
  lvi.pszText = buffer;
  lvi.cchTextMax = kItemTextChars + 1;
  const int length = int(SendMessage(LVM_GETITEMTEXTW, WPARAM(item), LPARAM(&lvi)));
  text.ReleaseBuffer(length > 0 ? length : 0);
  return TRUE;
}

int CListViewCtrl::InsertColumn(int index, const wchar_t* text, int format, int width) {
  LVCOLUMNW column = {};
  column.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH;
  column.fmt = format;
  column.cx = width;
  column.pszText = const_cast<wchar_t*>(text);
  return int(SendMessage(LVM_INSERTCOLUMNW, WPARAM(index), LPARAM(&column)));
}

BOOL CComboBox::GetLBText(int index, CString& text) const {
  const int length = int(SendMessage(CB_GETLBTEXTLEN, WPARAM(index)));
  if (length < 0) {
    text.Empty();
    return FALSE;
  }
  wchar_t* buffer = text.GetBuffer(size_t(length));
  if (buffer == nullptr) {
    return FALSE;
  }
  const int copied = int(SendMessage(CB_GETLBTEXT, WPARAM(index), LPARAM(buffer)));
  text.ReleaseBuffer(copied > 0 ? copied : 0);
  return TRUE;
}

int CTabCtrl::InsertItem(int index, const wchar_t* text) {
  TCITEMW item = {};
  item.mask = TCIF_TEXT;
  item.pszText = const_cast<wchar_t*>(text);
  return int(SendMessage(TCM_INSERTITEMW, WPARAM(index), LPARAM(&item)));
}

int CToolBarCtrl::AddString(const wchar_t* text) {
  // TB_ADDSTRINGW takes a list of strings ended by an empty one.
  const size_t length = text != nullptr ? std::wcslen(text) : 0;
  CGrowArray<wchar_t> list;
  if (!list.AppendN(text, length) || !list.Append(0) || !list.Append(0)) {
    return -1;
  }
  return int(SendMessage(TB_ADDSTRINGW, 0, LPARAM(list.data)));
}

BOOL CStatusBarCtrl::GetText(int part, CString& text) const {
  const int length = LOWORD(SendMessage(SB_GETTEXTLENGTHW, WPARAM(part)));
  wchar_t* buffer = text.GetBuffer(size_t(length));
  if (buffer == nullptr) {
    return FALSE;
  }
  buffer[0] = 0;
  SendMessage(SB_GETTEXTW, WPARAM(part), LPARAM(buffer));
  buffer[length] = 0;
  text.ReleaseBuffer();
  return TRUE;
}
