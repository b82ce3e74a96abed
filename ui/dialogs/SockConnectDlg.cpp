#include "ui/dialogs/SockConnectDlg.h"

#include "ui/framework/Controls.h"

LRESULT CSockConnectDlg::OnInitDialog(UINT, WPARAM, LPARAM) {
  CenterWindow(GetParent());
  CComboBox combo(GetDlgItem(IDC_CONNECT_ADDRESS));
  combo.SendMessage(CB_LIMITTEXT, kMaxAddressChars);
  if (m_history != nullptr) {
    for (size_t i = 0; i < m_history->Count(); ++i) {
      combo.AddString((*m_history)[i]);
    }
  }
  if (combo.GetCount() > 0) {
    combo.SetCurSel(0);
  }
  return TRUE;
}

LRESULT CSockConnectDlg::OnOK(WORD, WORD id, HWND) {
  if (id == IDOK) {
    wchar_t text[kMaxAddressChars + 1] = {};
    ::GetDlgItemTextW(m_hWnd, IDC_CONNECT_ADDRESS, text, kMaxAddressChars + 1);
    m_address = text;
  }
  EndDialog(id);
  return 0;
}
