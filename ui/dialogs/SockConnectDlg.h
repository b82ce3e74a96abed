// "Connect to": the address of a remote instance, typed or taken from the
// addresses used before.
#pragma once

#include <windows.h>

#include "core/Containers.h"
#include "core/RefString.h"
#include "resource.h"
#include "ui/framework/DialogImpl.h"

class CSockConnectDlg : public CDialogImpl<CSockConnectDlg> {
 public:
  enum { IDD = IDD_SOCK_CONNECT };
  // The typed text is read up to this many characters.
  static constexpr int kMaxAddressChars = 1023;

  // history: the addresses used before, in list order (not owned).
  explicit CSockConnectDlg(const CStringList* history) : m_history(history) {}

  BEGIN_MSG_MAP(CSockConnectDlg)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    COMMAND_ID_HANDLER(IDOK, OnOK)
    COMMAND_ID_HANDLER(IDCANCEL, OnOK)
  END_MSG_MAP()

  LRESULT OnInitDialog(UINT, WPARAM, LPARAM);
  // OK keeps the typed text; both buttons end the dialog with their id.
  LRESULT OnOK(WORD, WORD id, HWND);

  // The text OK took (empty after Cancel).
  CString m_address;

 private:
  const CStringList* m_history;
};
