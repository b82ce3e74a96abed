// Error lookup: the message of a product-family error code, read from the
// message-table library "talmoerror.dll" beside the program (rules in
// MessageLibrary.h).
//
//   CErrorLookUpDlg::Run(frame);  // maps the library, runs the dialog, frees it
#pragma once

#include <windows.h>

#include "resource.h"
#include "ui/framework/DialogImpl.h"

class CErrorLookUpDlg : public CStdDialogImpl<CErrorLookUpDlg> {
 public:
  enum { IDD = IDD_ERROR_LOOKUP };

  // `library` may be null (every code then shows "Message not found"); it
  // stays the caller's and must outlive the dialog.
  explicit CErrorLookUpDlg(HMODULE library) : m_library(library) {}

  // The whole command: the library beside the program mapped as data, the
  // dialog over `owner`, the library freed again. DoModal's result.
  static INT_PTR Run(HWND owner);

  HMODULE m_library;

  BEGIN_MSG_MAP(CErrorLookUpDlg)
    // "Find" is the default button: it shows the text and stays open.
    COMMAND_ID_HANDLER(IDOK, OnFind)
    CHAIN_MSG_MAP(CStdDialogImpl<CErrorLookUpDlg>)
  END_MSG_MAP()

 private:
  LRESULT OnFind(WORD, WORD, HWND);
};
