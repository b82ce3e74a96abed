// The Base64 converter: the text of its edit to Base64 of its UTF-8 bytes
// and back (rules in Base64Text.h). It edits nothing of its caller.
//
//   CBase64ConvDlg converter;
//   converter.DoModal(frame);    // "Close" ends it with IDCANCEL
#pragma once

#include <windows.h>

#include "resource.h"
#include "ui/framework/Controls.h"
#include "ui/framework/DialogImpl.h"

class CBase64ConvDlg : public CStdDialogImpl<CBase64ConvDlg> {
 public:
  enum { IDD = IDD_BASE64_CONVERT };
  // The combo's only entry, index 0.
  static constexpr wchar_t kUtf8TypeText[] = L"UTF8 String";

  CComboBox m_type;  // 1122, while the dialog is open
  CEdit m_text;      // 1121

  BEGIN_MSG_MAP(CBase64ConvDlg)
    COMMAND_ID_HANDLER(IDC_BASE64_ENCODE, OnEncode)
    COMMAND_ID_HANDLER(IDC_BASE64_DECODE, OnDecode)
    // No OK button: Enter outside the edit must not close the converter
    // and lose its text.
    COMMAND_ID_HANDLER(IDOK, OnEnter)
    CHAIN_MSG_MAP(CStdDialogImpl<CBase64ConvDlg>)
  END_MSG_MAP()

  BOOL OnInit();

 private:
  LRESULT OnEncode(WORD, WORD, HWND) { return Convert(true); }
  LRESULT OnDecode(WORD, WORD, HWND) { return Convert(false); }
  LRESULT OnEnter(WORD, WORD, HWND) { return 0; }
  LRESULT Convert(bool encode);
};
