// The condition editor: one text condition of a filter (field, connector,
// operator, case and text). The caller reads m_field, m_flags and m_text
// after DoModal returned IDOK; Cancel leaves them as they were given.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/RefString.h"
#include "core/TraceFilter.h"
#include "resource.h"
#include "ui/framework/Controls.h"
#include "ui/framework/DataExchange.h"
#include "ui/framework/DialogImpl.h"

class CEditConditionDlg : public CDialogImpl<CEditConditionDlg>, public CWinDataExchange<CEditConditionDlg> {
 public:
  enum { IDD = IDD_EDIT_CONDITION };

  // `condition` supplies field, flags and text; none gives an empty
  // INCLUDE condition on the message. `first`: the condition opens the
  // list, so its connector is AND and cannot be changed.
  CEditConditionDlg(const CTraceFilterCondition* condition, bool first);

  uint8_t m_field;
  uint8_t m_flags;
  CString m_text;
  BOOL m_first;
  CComboBox m_connector;
  CComboBox m_fieldCombo;
  CComboBox m_operator;
  int m_caseSensitive = BST_UNCHECKED;
  CString m_editText;

  BEGIN_MSG_MAP(CEditConditionDlg)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    COMMAND_ID_HANDLER(IDOK, OnOK)
    COMMAND_ID_HANDLER(IDCANCEL, OnCancel)
  END_MSG_MAP()

  BEGIN_DDX_MAP(CEditConditionDlg)
    DDX_CHECK(IDC_COND_MATCH_CASE, m_caseSensitive)
    DDX_TEXT(IDC_COND_TEXT, m_editText)
  END_DDX_MAP()

  LRESULT OnInitDialog(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT OnOK(WORD code, WORD id, HWND control);
  LRESULT OnCancel(WORD code, WORD id, HWND control);
};
