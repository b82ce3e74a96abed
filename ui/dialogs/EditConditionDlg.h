// The condition editor: one text condition of a filter (connector, field,
// operator, case and text).
//
//   CEditConditionDlg editor(condition_or_null, first);
//   if (editor.DoModal(owner) == IDOK) { use editor.m_field, m_flags, m_text }
//
// Cancel leaves m_field, m_flags and m_text as they were given.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/RefString.h"
#include "core/TraceFilter.h"
#include "resource.h"
#include "ui/framework/Controls.h"
#include "ui/framework/DialogImpl.h"

class CEditConditionDlg : public CStdDialogImpl<CEditConditionDlg> {
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
    CHAIN_MSG_MAP(CStdDialogImpl<CEditConditionDlg>)
  END_MSG_MAP()

  BEGIN_DDX_MAP(CEditConditionDlg)
    DDX_COMBO_INDEX(IDC_COND_CONNECTOR, m_connectorChoice)
    DDX_COMBO_INDEX(IDC_COND_FIELD, m_fieldChoice)
    DDX_COMBO_INDEX(IDC_COND_OPERATOR, m_operatorChoice)
    DDX_CHECK(IDC_COND_MATCH_CASE, m_caseSensitive)
    DDX_TEXT(IDC_COND_TEXT, m_editText)
  END_DDX_MAP()

  BOOL OnInit();
  bool OnOk();

 private:
  // The combo boxes' selections as exchanged (-1: none).
  int m_connectorChoice = -1;
  int m_fieldChoice = -1;
  int m_operatorChoice = -1;
  bool m_regexEntry = false;
};
