// The modeless statistic dialog: counts the messages of the view shown in
// the frame's current tab, grouped by text (cut at a key word), and asks the
// frame for a filtered tab of a result row.
//
// The counting runs on the user-interface thread in short slices with the
// thread's messages handled between them, so the frame keeps working. While
// it runs, "Analyze" is ignored and Cancel only sets the cancel flag; the
// window and the rows are torn down once the counting has returned.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/RefString.h"
#include "res/resource.h"
#include "ui/controls/ListCtrlEx.h"
#include "ui/controls/TabModel.h"
#include "ui/dialogs/StatisticRequest.h"
#include "ui/dialogs/StatisticRules.h"
#include "ui/framework/DialogImpl.h"

class CTraceView;

// The longest key word read from its edit.
constexpr size_t kStatisticKeyChars = 259;

class CTraceStatisticDlg : public CStdDialogImpl<CTraceStatisticDlg, CModelessDialog<CTraceStatisticDlg>> {
  using Base = CStdDialogImpl<CTraceStatisticDlg, CModelessDialog<CTraceStatisticDlg>>;

 public:
  enum { IDD = IDD_STATISTIC };

  CTraceStatisticDlg();
  ~CTraceStatisticDlg() override;

  // The frame's one call: a heap dialog over `parent`, reading the view
  // strip `viewStrip` (which must outlive the dialog's window), shown and
  // stored in *ownerSlot. Null when the window cannot be made (nothing is
  // left behind then).
  static CTraceStatisticDlg* Open(CTraceStatisticDlg** ownerSlot, HWND parent, const CTabStripModel* viewStrip);

  // Creates the window over `parent`, which receives the result requests;
  // *ownerSlot (may be null) points at this dialog while its window lives.
  HWND Create(HWND parent, CTraceStatisticDlg** ownerSlot = nullptr) {
    m_parent = parent;
    return Base::Create(parent, ownerSlot);
  }

  // The strip whose current group's selected item is the view analysed.
  // The groups stay the frame's; the dialog reads them only in Analyze.
  void SetViewStrip(const CTabStripModel* viewStrip) { m_viewStrip = viewStrip; }
  bool IsAnalyzing() const { return m_analyzing; }

  BEGIN_MSG_MAP(CTraceStatisticDlg)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    COMMAND_ID_HANDLER(IDC_STAT_ANALYZE, OnAnalyze)
    COMMAND_ID_HANDLER(IDC_STAT_DETAIL, OnDetail)
    // Before the standard map: Cancel during counting must not close yet.
    COMMAND_ID_HANDLER(IDCANCEL, OnCancelCommand)
    NOTIFY_HANDLER(IDC_STAT_LIST, NM_DBLCLK, OnListDoubleClick)
    NOTIFY_HANDLER(IDC_STAT_LIST, LVN_ITEMCHANGED, OnListItemChanged)
    CHAIN_MSG_MAP(Base)
  END_MSG_MAP()

  BOOL OnInit();

  CString m_keyWord;
  uint32_t m_showTop = 0;
  CListCtrlEx m_list;
  const CTabStripModel* m_viewStrip = nullptr;  // the frame's; never owned
  CStatisticRows m_rows;                        // the rows of the last analysis, in result order
  uint64_t m_total = 0;                         // records of the analysed view
  HWND m_progress = nullptr;
  CString m_filterText;                         // the text of the last result request
  bool m_requestFlag = false;                   // set while a result request is being sent
  volatile LONG m_cancel = 0;

 private:
  LRESULT OnDestroy(UINT, WPARAM, LPARAM);
  LRESULT OnAnalyze(WORD, WORD, HWND);
  LRESULT OnDetail(WORD, WORD, HWND);
  LRESULT OnCancelCommand(WORD, WORD, HWND);
  LRESULT OnListDoubleClick(int, NMHDR* header);
  LRESULT OnListItemChanged(int, NMHDR* header);

  // The analysis steps; each false when it ended without a result.
  bool CollectRows();
  bool DoStatistic();
  void ShowResult();

  // Handles one message taken by the counting pump, as the message loop would.
  void PumpMessage(MSG& msg);
  void SendRequest(size_t row);
  void SetStatus(const wchar_t* text);
  void SetProgress(uint32_t percent);
  void TearDown();

  HWND m_parent = nullptr;  // the window given at creation (the owner may be its top-level ancestor)
  CStatisticCounter m_counter;
  bool m_analyzing = false;
  bool m_closePending = false;  // Cancel came while counting
  bool m_quitTaken = false;     // the pump took WM_QUIT: posted again afterwards
  int m_quitCode = 0;
};
