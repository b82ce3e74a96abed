#include "ui/dialogs/SelectColumnsDlg.h"

#include <commctrl.h>

namespace {

void FillList(CListCtrlEx& list, size_t count, uint32_t (CColumnChoice::*at)(int) const, const CColumnChoice& choice,
              int selected) {
  list.DeleteAllItems();
  for (size_t i = 0; i < count; ++i) {
    const uint32_t bit = (choice.*at)(int(i));
    CString name;
    name.LoadString(ColumnNameStringId(bit));
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = int(i);
    item.pszText = const_cast<wchar_t*>(name.c_str());
    item.lParam = LPARAM(bit);
    list.InsertItem(item);
  }
  if (selected >= 0) {
    list.SetItemState(selected, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    list.EnsureVisible(selected, FALSE);
  }
}

void SetUpList(CListCtrlEx& list, HWND control) {
  list.SubclassWindow(control);
  list.InsertColumn(0, L"", LVCFMT_LEFT, 10);
  list.SetColumnWidth(0, LVSCW_AUTOSIZE_USEHEADER);
}

}  // namespace

BOOL CSelectColumnsDlg::OnInit() {
  SetUpList(m_available, GetDlgItem(IDC_COLUMNS_AVAILABLE));
  SetUpList(m_current, GetDlgItem(IDC_COLUMNS_CURRENT));
  m_choice.Fill(m_order, m_count < kColumnKinds ? m_count : kColumnKinds);
  Show(-1, -1);
  return TRUE;
}

void CSelectColumnsDlg::Show(int availableRow, int currentRow) {
  m_showing = true;
  FillList(m_available, m_choice.AvailableCount(), &CColumnChoice::AvailableAt, m_choice, availableRow);
  FillList(m_current, m_choice.CurrentCount(), &CColumnChoice::CurrentAt, m_choice, currentRow);
  m_showing = false;
  UpdateButtons();
}

void CSelectColumnsDlg::UpdateButtons() {
  const ColumnButtons buttons = m_choice.Buttons(Selected(m_available), Selected(m_current));
  ::EnableWindow(GetDlgItem(IDC_COLUMNS_ADD), buttons.add);
  ::EnableWindow(GetDlgItem(IDC_COLUMNS_REMOVE), buttons.remove);
  ::EnableWindow(GetDlgItem(IDC_COLUMNS_UP), buttons.up);
  ::EnableWindow(GetDlgItem(IDC_COLUMNS_DOWN), buttons.down);
}

LRESULT CSelectColumnsDlg::OnRowChanged(int, NMHDR*) {
  if (!m_showing) {
    UpdateButtons();
  }
  return 0;
}

LRESULT CSelectColumnsDlg::OnAdd(WORD, WORD, HWND) {
  const int row = m_choice.Add(Selected(m_available), Selected(m_current));
  if (row >= 0) {
    Show(-1, row);
  }
  return 0;
}

LRESULT CSelectColumnsDlg::OnRemove(WORD, WORD, HWND) {
  const int row = m_choice.Remove(Selected(m_current), Selected(m_available));
  if (row >= 0) {
    Show(row, -1);
  }
  return 0;
}

LRESULT CSelectColumnsDlg::OnMoveUp(WORD, WORD, HWND) {
  const int row = m_choice.MoveUp(Selected(m_current));
  if (row >= 0) {
    Show(Selected(m_available), row);
    m_current.SetFocus();
  }
  return 0;
}

LRESULT CSelectColumnsDlg::OnMoveDown(WORD, WORD, HWND) {
  const int row = m_choice.MoveDown(Selected(m_current));
  if (row >= 0) {
    Show(Selected(m_available), row);
    m_current.SetFocus();
  }
  return 0;
}

LRESULT CSelectColumnsDlg::OnReset(WORD, WORD, HWND) {
  m_choice.Reset();
  Show(-1, -1);
  return 0;
}

LRESULT CSelectColumnsDlg::OnAvailableDoubleClick(int, NMHDR* header) {
  const auto* activate = reinterpret_cast<const NMITEMACTIVATE*>(header);
  if (activate->iItem >= 0) {
    const int row = m_choice.Add(activate->iItem, Selected(m_current));
    if (row >= 0) {
      Show(-1, row);
    }
  }
  return 0;
}

LRESULT CSelectColumnsDlg::OnCurrentDoubleClick(int, NMHDR* header) {
  const auto* activate = reinterpret_cast<const NMITEMACTIVATE*>(header);
  if (activate->iItem >= 0) {
    const int row = m_choice.Remove(activate->iItem, Selected(m_available));
    if (row >= 0) {
      Show(row, -1);
    }
  }
  return 0;
}

bool CSelectColumnsDlg::OnOk() {
  m_count = m_choice.Result(&m_mask, m_order);
  m_changed = m_choice.Changed() ? 1 : 0;
  return true;
}
