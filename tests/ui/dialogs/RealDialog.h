// Shared helpers of the dialog tests that open a dialog for real.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/ui/UiHarness.h"

namespace kt_test {

// Runs `dialog` modally over `parent` for real; `drive` is called once from
// inside its modal loop and must end it.
template <class D>
INT_PTR RunForReal(D& dialog, HWND parent, UINT templateId, std::function<void(HWND)> drive) {
  CModalRecorder recorder;
  recorder.runReal = true;
  recorder.drive = std::move(drive);
  const INT_PTR result = dialog.DoModal(parent);
  EXPECT_EQ(1u, recorder.dialogs.size());
  if (!recorder.dialogs.empty()) {
    EXPECT_EQ(templateId, recorder.dialogs[0].templateId);
  }
  return result;
}

inline std::wstring WindowText(HWND hwnd) {
  std::wstring text(size_t(::GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(size_t(::GetWindowTextW(hwnd, text.data(), int(text.size()))));
  return text;
}

inline std::wstring ItemText(HWND dialog, int id) { return WindowText(::GetDlgItem(dialog, id)); }

// True while a modal dialog runs: EndDialog enables its owner again at
// once, long before the window goes (it may not even be shown yet).
inline bool ModalStillRunning(HWND dialog) {
  HWND owner = ::GetWindow(dialog, GW_OWNER);
  return owner != nullptr && !::IsWindowEnabled(owner);
}

inline bool ItemEnabled(HWND dialog, int id) { return ::IsWindowEnabled(::GetDlgItem(dialog, id)) != FALSE; }

// Every row of a list view, the cells of each joined by "|".
inline std::vector<std::wstring> ListRows(HWND list) {
  std::vector<std::wstring> rows;
  HWND header = reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0));
  int columns = header != nullptr ? int(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 1;
  if (columns < 1) {
    columns = 1;
  }
  const int count = int(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int row = 0; row < count; ++row) {
    std::wstring joined;
    for (int column = 0; column < columns; ++column) {
      wchar_t cell[128] = {};
      LVITEMW item = {};
      item.iSubItem = column;
      item.pszText = cell;
      item.cchTextMax = 128;
      ::SendMessageW(list, LVM_GETITEMTEXTW, WPARAM(row), reinterpret_cast<LPARAM>(&item));
      joined += (column == 0 ? L"" : L"|") + std::wstring(cell);
    }
    rows.push_back(joined);
  }
  return rows;
}

inline void SelectRow(HWND list, int row, bool selected = true) {
  LVITEMW item = {};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = selected ? LVIS_SELECTED | LVIS_FOCUSED : 0;
  ::SendMessageW(list, LVM_SETITEMSTATE, WPARAM(row), reinterpret_cast<LPARAM>(&item));
}

inline std::vector<int> SelectedRows(HWND list) {
  std::vector<int> rows;
  for (int row = int(::SendMessageW(list, LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED)); row >= 0;
       row = int(::SendMessageW(list, LVM_GETNEXTITEM, WPARAM(row), LVNI_SELECTED))) {
    rows.push_back(row);
  }
  return rows;
}

// A double click on the middle of a row, as the mouse gives it.
inline void DoubleClickRow(HWND list, int row) {
  RECT rect = {};
  rect.left = LVIR_BOUNDS;
  ::SendMessageW(list, LVM_GETITEMRECT, WPARAM(row), reinterpret_cast<LPARAM>(&rect));
  const LPARAM at = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  ::SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
  ::SendMessageW(list, WM_LBUTTONUP, 0, at);
  ::SendMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
  ::SendMessageW(list, WM_LBUTTONUP, 0, at);
}

// Picks combo row `row` as a user does: the selection, then the dialog's notice.
inline void ChooseComboRow(HWND dialog, int id, int row) {
  HWND combo = ::GetDlgItem(dialog, id);
  ::SendMessageW(combo, CB_SETCURSEL, WPARAM(row), 0);
  ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
}

inline std::vector<std::wstring> ComboRows(HWND dialog, int id) {
  HWND combo = ::GetDlgItem(dialog, id);
  std::vector<std::wstring> rows;
  const int count = int(::SendMessageW(combo, CB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    std::wstring text(size_t(::SendMessageW(combo, CB_GETLBTEXTLEN, WPARAM(i), 0)) + 1, L'\0');
    text.resize(size_t(::SendMessageW(combo, CB_GETLBTEXT, WPARAM(i), reinterpret_cast<LPARAM>(text.data()))));
    rows.push_back(text);
  }
  return rows;
}

}  // namespace kt_test
