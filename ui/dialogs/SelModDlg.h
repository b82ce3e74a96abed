// The module selection: the module groups as a check list, the checked ones
// making the mask.
//
//   CSelModDlg dialog;
//   dialog.m_mask = ignored;
//   if (dialog.DoModal(owner) == IDOK) { use dialog.m_mask }
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/ModuleGroups.h"
#include "resource.h"
#include "ui/controls/ListCtrlEx.h"
#include "ui/framework/DialogImpl.h"

class CSelModDlg : public CStdDialogImpl<CSelModDlg> {
 public:
  enum { IDD = IDD_SELECT_MODULE };

  uint32_t m_mask = 0;                            // in and out: group flags
  const CModuleGroups* m_groups = &g_moduleGroups;  // in: the rows, in table order
  CCheckListEx m_list;

  BEGIN_MSG_MAP(CSelModDlg)
    COMMAND_ID_HANDLER(IDC_SELMOD_UNCHECK_ALL, OnUncheckAll)
    CHAIN_MSG_MAP(CStdDialogImpl<CSelModDlg>)
  END_MSG_MAP()

  BOOL OnInit();
  bool OnOk();
  LRESULT OnUncheckAll(WORD code, WORD id, HWND control);
};
