#include "ui/dialogs/ErrorLookUpDlg.h"

#include "ui/dialogs/MessageLibrary.h"

INT_PTR CErrorLookUpDlg::Run(HWND owner) {
  CMessageLibrary library;
  library.LoadFromProgramFolder();
  CErrorLookUpDlg dialog(library.get());
  return dialog.DoModal(owner);
}

LRESULT CErrorLookUpDlg::OnFind(WORD, WORD, HWND) {
  wchar_t code[kErrorCodeChars + 1] = {};
  ::GetDlgItemTextW(m_hWnd, IDC_ERROR_CODE, code, int(kErrorCodeChars + 1));
  CString text;
  if (LookUpErrorText(m_library, code, &text) != 0) {
    SetDlgItemText(IDC_ERROR_TEXT, text.c_str());
  }
  return 0;
}
