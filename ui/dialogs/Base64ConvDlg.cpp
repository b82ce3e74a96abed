#include "ui/dialogs/Base64ConvDlg.h"

#include "ui/dialogs/Base64Text.h"

BOOL CBase64ConvDlg::OnInit() {
  m_type.Attach(GetDlgItem(IDC_BASE64_TYPE));
  m_text.Attach(GetDlgItem(IDC_BASE64_TEXT));
  m_type.AddString(kUtf8TypeText);
  m_type.SetCurSel(0);
  return TRUE;
}

LRESULT CBase64ConvDlg::Convert(bool encode) {
  wchar_t text[kBase64InputChars + 1] = {};
  m_text.GetWindowText(text, int(kBase64InputChars + 1));
  if (text[0] == 0) {
    return 0;
  }
  if (m_type.GetCurSel() != 0) {
    m_text.SetWindowText(L"");
    return 0;
  }
  CString result;
  const int converted = encode ? EncodeTextBase64(text, &result) : DecodeTextBase64(text, &result);
  if (converted != 0) {
    m_text.SetWindowText(result.c_str());
  }
  return 0;
}
