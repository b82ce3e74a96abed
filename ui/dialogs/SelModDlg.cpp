#include "ui/dialogs/SelModDlg.h"

namespace {

constexpr int kModuleColumnWidth = 120;
constexpr int kFilesColumnWidth = 300;

}  // namespace

BOOL CSelModDlg::OnInit() {
  m_list.SubclassWindow(GetDlgItem(IDC_SELMOD_LIST));
  m_list.InsertColumn(0, L"Module", LVCFMT_LEFT, kModuleColumnWidth);
  m_list.InsertColumn(1, L"Files", LVCFMT_LEFT, kFilesColumnWidth);
  const size_t count = m_groups != nullptr ? m_groups->Count() : 0;
  int row = 0;
  for (size_t i = 0; i < count; ++i) {
    const CModuleGroup* group = m_groups->GroupAt(i);
    const int inserted = m_list.InsertItem(row, group->Name(), (group->Flag() & m_mask) != 0);
    if (inserted < 0) continue;
    m_list.SetItemText(inserted, 1, group->GetWordList().c_str());
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = inserted;
    item.lParam = LPARAM(group->Flag());
    m_list.SendMessage(LVM_SETITEMW, 0, LPARAM(&item));
    row = inserted + 1;
  }
  return TRUE;
}

LRESULT CSelModDlg::OnUncheckAll(WORD code, WORD, HWND) {
  if (code != BN_CLICKED) return 0;
  const int rows = m_list.GetItemCount();
  for (int row = 0; row < rows; ++row) m_list.SetCheck(row, false);
  return 0;
}

bool CSelModDlg::OnOk() {
  uint32_t mask = 0;
  const int rows = m_list.GetItemCount();
  for (int row = 0; row < rows; ++row) {
    if (!m_list.GetCheck(row)) continue;
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (m_list.GetItem(&item)) mask |= uint32_t(item.lParam);
  }
  m_mask = mask;
  return true;
}
