#include "ui/dialogs/AddTabDlg.h"

#include <commctrl.h>

#include "core/StrUtil.h"
#include "core/TraceView.h"

namespace {

constexpr wchar_t kNumberColumnText[] = L"Number";

}  // namespace

BOOL CAddTabDlg::OnInit() {
  m_combo.Attach(GetDlgItem(IDC_ADD_TAB_PID));
  m_list.SubclassWindow(GetDlgItem(IDC_ADD_TAB_LIST));
  CString module;
  module.LoadString(IDS_COLUMN_MODULE);
  m_list.InsertColumn(0, module.c_str(), LVCFMT_LEFT, kModuleColumnWidth);
  m_list.InsertColumn(1, kNumberColumnText, LVCFMT_RIGHT, kNumberColumnWidth);
  FillProcesses();
  FillGroups();
  if (!m_title.IsEmpty()) {
    SetWindowText(m_title.c_str());
  }
  return TRUE;
}

void CAddTabDlg::FillProcesses() {
  // Each row keeps the index of its entry, so a skipped entry cannot shift
  // what a row stands for.
  m_combo.ResetContent();
  m_combo.SetItemData(m_combo.AddString(kAllProcessesText), 0);
  if (!AddTabOffersProcesses(m_entries)) {
    m_combo.SetCurSel(0);
    m_combo.EnableWindow(FALSE);
    return;
  }
  const size_t initial = AddTabInitialEntry(m_entries, m_all, m_pid);
  int selected = 0;
  for (size_t i = 1; i < m_entries->count; ++i) {
    const CTraceProcessStat* entry = (*m_entries)[i];
    if (entry == nullptr) {
      continue;
    }
    const int row = m_combo.AddString(FormatProcessLabel(m_processes, entry->m_pid).c_str());
    if (row >= 0) {
      m_combo.SetItemData(row, DWORD_PTR(i));
      if (i == initial) {
        selected = row;
      }
    }
  }
  m_combo.SetCurSel(selected);
}

size_t CAddTabDlg::ChosenEntry() const {
  const int row = m_combo.GetCurSel();
  return row < 0 ? 0 : size_t(m_combo.GetItemData(row));
}

void CAddTabDlg::FillGroups() {
  m_list.DeleteAllItems();
  CWindow ok(GetDlgItem(IDOK));
  ok.EnableWindow(FALSE);
  if (m_groups == nullptr || m_groups->Count() == 0) {
    return;
  }
  AddTabGroupRow rows[kMaxModuleGroups + 1];
  const size_t count =
      AddTabGroupRows(*m_groups, AddTabEntryAt(m_entries, ChosenEntry()), rows, sizeof(rows) / sizeof(rows[0]));
  for (size_t i = 0; i < count; ++i) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = int(i);
    item.pszText = const_cast<wchar_t*>(rows[i].name);
    item.lParam = LPARAM(rows[i].flag);
    const int row = m_list.InsertItem(item);
    wchar_t number[24];
    StrPrintfW(number, 24, L"%I64u", static_cast<unsigned long long>(rows[i].count));
    m_list.SetItemText(row, 1, number);
  }
}

uint32_t CAddTabDlg::RowFlag(int row) const {
  LVITEMW item = {};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  return m_list.GetItem(&item) ? uint32_t(item.lParam) : 0;
}

void CAddTabDlg::TakeProcess() {
  const AddTabProcess process = AddTabProcessAt(m_entries, ChosenEntry());
  m_all = process.all;
  m_pid = process.pid;
}

LRESULT CAddTabDlg::OnSelectAll(WORD, WORD, HWND) {
  m_list.SetItemState(-1, LVIS_SELECTED, LVIS_SELECTED);
  return 0;
}

LRESULT CAddTabDlg::OnRowChanged(int, NMHDR*) {
  CWindow ok(GetDlgItem(IDOK));
  ok.EnableWindow(m_list.GetSelectedCount() > 0);
  return 0;
}

LRESULT CAddTabDlg::OnRowDoubleClick(int, NMHDR* header) {
  const auto* activate = reinterpret_cast<const NMITEMACTIVATE*>(header);
  if (activate->iItem < 0) {
    return 0;
  }
  TakeProcess();
  m_resultMask = RowFlag(activate->iItem);
  CloseDialog(IDOK);
  return 0;
}

bool CAddTabDlg::OnOk() {
  // Enter reaches OK even while the button is disabled: a tab of no group is
  // no tab.
  uint32_t mask = 0;
  for (int row = m_list.GetNextItem(-1, LVNI_SELECTED); row >= 0; row = m_list.GetNextItem(row, LVNI_SELECTED)) {
    mask |= RowFlag(row);
  }
  if (mask == 0) {
    return false;
  }
  TakeProcess();
  m_resultMask = mask;
  return true;
}
