// Reads what a window and its controls show, and sets list view rows, the
// way the tests look at them.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

namespace kt_test {

inline std::wstring Cell(HWND list, int row, int column) {
  wchar_t buffer[512] = {};
  LVITEMW item = {};
  item.iSubItem = column;
  item.pszText = buffer;
  item.cchTextMax = 512;
  ::SendMessageW(list, LVM_GETITEMTEXTW, WPARAM(row), LPARAM(&item));
  return buffer;
}

inline std::wstring Cell(HWND dialog, int listId, int row, int column) {
  return Cell(::GetDlgItem(dialog, listId), row, column);
}

inline int Rows(HWND dialog, int listId) {
  return int(::SendDlgItemMessageW(dialog, listId, LVM_GETITEMCOUNT, 0, 0));
}

// A row with no state image counts as checked, as the list shows it.
inline bool RowChecked(HWND dialog, int listId, int row) {
  const UINT state = UINT(::SendDlgItemMessageW(dialog, listId, LVM_GETITEMSTATE, WPARAM(row), LVIS_STATEIMAGEMASK));
  return (state >> 12) != 1;
}

inline void SetRowChecked(HWND dialog, int listId, int row, bool checked) {
  LVITEMW item = {};
  item.stateMask = LVIS_STATEIMAGEMASK;
  item.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
  ::SendDlgItemMessageW(dialog, listId, LVM_SETITEMSTATE, WPARAM(row), LPARAM(&item));
}

inline std::wstring Caption(HWND hwnd) {
  std::wstring text(size_t(::GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(size_t(::GetWindowTextW(hwnd, text.data(), int(text.size()))));
  return text;
}

inline std::wstring Text(HWND dialog, int id) { return Caption(::GetDlgItem(dialog, id)); }

// The list's double-click report to its dialog, as a click on the row makes it.
inline void DoubleClickRow(HWND dialog, int listId, int row) {
  NMITEMACTIVATE activate = {};
  activate.hdr.hwndFrom = ::GetDlgItem(dialog, listId);
  activate.hdr.idFrom = UINT_PTR(listId);
  activate.hdr.code = NM_DBLCLK;
  activate.iItem = row;
  ::SendMessageW(dialog, WM_NOTIFY, WPARAM(listId), LPARAM(&activate));
}

}  // namespace kt_test
