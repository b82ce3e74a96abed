// The add-tab dialog: the module groups and the process of a new view tab
// (rules in AddTabChoice.h).
//
//   CAddTabDlg dialog(all, pid, &store->m_processStats);
//   dialog.m_title.Format(captionFormat, documentName);
//   if (live && AddTabOffersProcesses(...)) dialog.m_processes.Refresh();
//   if (dialog.DoModal(frame) == IDOK) {
//     open a tab of dialog.m_resultMask, for dialog.m_pid unless dialog.m_all
//   }
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/ModuleGroups.h"
#include "core/SysUtil.h"
#include "resource.h"
#include "ui/controls/ListCtrlEx.h"
#include "ui/dialogs/AddTabChoice.h"
#include "ui/framework/Controls.h"
#include "ui/framework/DialogImpl.h"

class CAddTabDlg : public CStdDialogImpl<CAddTabDlg> {
 public:
  enum { IDD = IDD_ADD_TAB };
  static constexpr int kModuleColumnWidth = 200;
  static constexpr int kNumberColumnWidth = 100;

  // `all` 1: the view has no process test (else `pid` is its first pid).
  // `entries` stay the caller's and must outlive the dialog.
  CAddTabDlg(uint32_t all, uint32_t pid, const ProcessEntries* entries)
      : m_all(all), m_pid(pid), m_entries(entries) {}

  CString m_title;                       // the caption; the template's when empty
  CListCtrlEx m_list;                    // 1019, while the dialog is open
  CComboBox m_combo;                     // 1063
  uint32_t m_all;                        // in and out
  uint32_t m_pid;                        // in and out
  const ProcessEntries* m_entries;
  uint32_t m_resultMask = 0;             // out: the chosen module-group flags
  CProcessList m_processes;              // the names shown beside the pids
  const CModuleGroups* m_groups = &g_moduleGroups;

  BEGIN_MSG_MAP(CAddTabDlg)
    COMMAND_HANDLER(IDC_ADD_TAB_PID, CBN_SELCHANGE, OnProcessChanged)
    COMMAND_ID_HANDLER(IDC_ADD_TAB_SELECT_ALL, OnSelectAll)
    NOTIFY_HANDLER(IDC_ADD_TAB_LIST, LVN_ITEMCHANGED, OnRowChanged)
    NOTIFY_HANDLER(IDC_ADD_TAB_LIST, NM_DBLCLK, OnRowDoubleClick)
    CHAIN_MSG_MAP(CStdDialogImpl<CAddTabDlg>)
  END_MSG_MAP()

  BOOL OnInit();
  bool OnOk();

 private:
  LRESULT OnProcessChanged(WORD, WORD, HWND) {
    FillGroups();
    return 0;
  }
  LRESULT OnSelectAll(WORD, WORD, HWND);
  LRESULT OnRowChanged(int, NMHDR*);
  LRESULT OnRowDoubleClick(int, NMHDR* header);

  void FillProcesses();
  void FillGroups();
  // The entry index the combo's selection stands for (0 for none).
  size_t ChosenEntry() const;
  uint32_t RowFlag(int row) const;
  void TakeProcess();
};
