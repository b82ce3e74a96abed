// The filter dialog: edits a copy of a view's filter (level test, process-id
// test and up to 16 text conditions). After IDOK the caller applies
// m_filter to the view; after IDCANCEL nothing changed.
//
//   CFilterDlg dialog;
//   if (dialog.RunForView(*view, isLiveCapture, frame) == IDOK) { apply dialog.m_filter to the view }
//
// A caller that fills m_filter, m_processes, m_processNames and m_title
// itself runs DoModal instead.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/Containers.h"
#include "core/RefString.h"
#include "core/SysUtil.h"
#include "core/TraceFilter.h"
#include "core/TraceView.h"
#include "resource.h"
#include "ui/controls/ListCtrlEx.h"
#include "ui/framework/DialogImpl.h"

class CFilterDlg : public CStdDialogImpl<CFilterDlg> {
 public:
  enum { IDD = IDD_FILTER };

  // The level boxes in the order of their handles.
  enum LevelBox { kBoxLevel, kBoxDebug, kBoxInfo, kBoxWarning, kBoxError, kBoxPersonal, kBoxBookmark, kLevelBoxes };

  CFilterDlg() = default;
  ~CFilterDlg() override;
  CFilterDlg(const CFilterDlg&) = delete;
  CFilterDlg& operator=(const CFilterDlg&) = delete;

  // Fills the dialog for `view`: the per-process statistics of its store
  // whose group mask meets the view's (under the store's shared lock), the
  // running processes' names when the store is the live capture, a copy of
  // the view's filter and the title "Filter tab [<view title>]". 0 when a
  // filter job owns the view, or the store's lock or memory failed: the
  // dialog must then not be run.
  int LoadFromView(const CTraceView& view, bool liveCapture);
  // LoadFromView, then DoModal over `parent`. IDOK, IDCANCEL, or -1 when it
  // could not be filled or made.
  INT_PTR RunForView(const CTraceView& view, bool liveCapture, HWND parent = ::GetActiveWindow());

  HWND m_levelBoxes[kLevelBoxes] = {};  // the personal-data box is not in the template: null
  HWND m_pidBox = nullptr;
  CCheckListEx m_processList;
  CListCtrlEx m_conditionList;
  CString m_title;
  CTraceFilter m_filter;
  CGrowArray<CTraceProcessStat*> m_processes;  // owned
  CProcessList m_processNames;

  // Frees the process entries.
  void FreeProcesses();

  BEGIN_MSG_MAP(CFilterDlg)
    COMMAND_ID_HANDLER(IDC_FILTER_LEVEL, OnMasterBox)
    COMMAND_ID_HANDLER(IDC_FILTER_PID, OnMasterBox)
    COMMAND_ID_HANDLER(IDC_FILTER_ADD_CONDITION, OnAddCondition)
    COMMAND_ID_HANDLER(IDC_FILTER_EDIT_CONDITION, OnEditCondition)
    COMMAND_ID_HANDLER(IDC_FILTER_DELETE_CONDITION, OnDeleteCondition)
    COMMAND_ID_HANDLER(IDC_FILTER_RESET, OnReset)
    NOTIFY_HANDLER(IDC_FILTER_CONDITIONS, LVN_ITEMCHANGED, OnConditionChanged)
    NOTIFY_HANDLER(IDC_FILTER_CONDITIONS, NM_DBLCLK, OnConditionDoubleClick)
    CHAIN_MSG_MAP(CStdDialogImpl<CFilterDlg>)
  END_MSG_MAP()

  BOOL OnInit();
  // The level and process tests from the boxes; a thread-id test the
  // filter had stays (the dialog cannot show it).
  bool OnOk();
  LRESULT OnMasterBox(WORD code, WORD id, HWND control);
  LRESULT OnAddCondition(WORD code, WORD id, HWND control);
  LRESULT OnEditCondition(WORD code, WORD id, HWND control);
  LRESULT OnDeleteCondition(WORD code, WORD id, HWND control);
  LRESULT OnReset(WORD code, WORD id, HWND control);
  LRESULT OnConditionChanged(int id, NMHDR* header);
  LRESULT OnConditionDoubleClick(int id, NMHDR* header);

  void UpdateLevelChecks();
  void UpdateConditionList();
  // Levels enabled exactly while "Filter Level:" is checked, the process
  // list while "Filter Pid:" is.
  void UpdateEnabling();
  // Add (edit false) or edit the selected condition in the condition editor.
  void EditCondition(bool edit);

 private:
  void FillProcessList();
  // The first selected row of the condition list when it names a
  // condition, else -1.
  int SelectedCondition() const;
  void EnableConditionButtons(bool enable);
};
