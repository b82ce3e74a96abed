// The column chooser of the trace list: which columns are shown and in
// which order (rules in ColumnChoice.h).
//
//   CSelectColumnsDlg dialog;
//   dialog.m_mask = mask;  copy the order into dialog.m_order;  dialog.m_count = n;
//   if (dialog.DoModal(frame) == IDOK) { read m_mask, m_order[0 .. m_count) }
#pragma once

#include <windows.h>

#include <cstdint>

#include "resource.h"
#include "ui/controls/ListCtrlEx.h"
#include "ui/dialogs/ColumnChoice.h"
#include "ui/framework/DialogImpl.h"

class CSelectColumnsDlg : public CStdDialogImpl<CSelectColumnsDlg> {
 public:
  enum { IDD = IDD_SELECT_COLUMNS };

  CListCtrlEx m_available;             // 1081, while the dialog is open
  CListCtrlEx m_current;               // 1082
  uint32_t m_mask = 0;                 // in and out
  uint32_t m_order[kColumnKinds] = {};  // in and out: column bits, m_count of them
  uint32_t m_count = 0;                // in and out; more than 9 is read as 9
  uint32_t m_changed = 0;              // out: 1 when a move or Reset changed the lists

  BEGIN_MSG_MAP(CSelectColumnsDlg)
    COMMAND_ID_HANDLER(IDC_COLUMNS_ADD, OnAdd)
    COMMAND_ID_HANDLER(IDC_COLUMNS_REMOVE, OnRemove)
    COMMAND_ID_HANDLER(IDC_COLUMNS_UP, OnMoveUp)
    COMMAND_ID_HANDLER(IDC_COLUMNS_DOWN, OnMoveDown)
    COMMAND_ID_HANDLER(IDC_COLUMNS_RESET, OnReset)
    NOTIFY_HANDLER(IDC_COLUMNS_AVAILABLE, LVN_ITEMCHANGED, OnRowChanged)
    NOTIFY_HANDLER(IDC_COLUMNS_CURRENT, LVN_ITEMCHANGED, OnRowChanged)
    NOTIFY_HANDLER(IDC_COLUMNS_AVAILABLE, NM_DBLCLK, OnAvailableDoubleClick)
    NOTIFY_HANDLER(IDC_COLUMNS_CURRENT, NM_DBLCLK, OnCurrentDoubleClick)
    CHAIN_MSG_MAP(CStdDialogImpl<CSelectColumnsDlg>)
  END_MSG_MAP()

  BOOL OnInit();
  bool OnOk();

 private:
  LRESULT OnAdd(WORD, WORD, HWND);
  LRESULT OnRemove(WORD, WORD, HWND);
  LRESULT OnMoveUp(WORD, WORD, HWND);
  LRESULT OnMoveDown(WORD, WORD, HWND);
  LRESULT OnReset(WORD, WORD, HWND);
  LRESULT OnRowChanged(int, NMHDR*);
  LRESULT OnAvailableDoubleClick(int, NMHDR* header);
  LRESULT OnCurrentDoubleClick(int, NMHDR* header);

  // Shows the choice in both lists with these rows selected (-1: none).
  void Show(int availableRow, int currentRow);
  void UpdateButtons();
  static int Selected(const CListCtrlEx& list) { return list.GetNextItem(-1, LVNI_SELECTED); }

  CColumnChoice m_choice;
  bool m_showing = false;  // refilling the lists: their row changes are ours
};
