// The modal detail dialog: one trace item in full, its message shown as
// it is, with an embedded Base64 payload decoded, or as a hex dump.
//
//   CDetailDlg dialog;
//   dialog.SetRecord(*record, row);   // or set the text members one by one
//   dialog.DoModal(frame);            // IDOK (Close, Copy) or IDCANCEL (Escape)
#pragma once

#include <windows.h>

#include <cstddef>

#include "core/RefString.h"
#include "core/TraceRecord.h"
#include "resource.h"
#include "ui/framework/DialogImpl.h"

class CDetailDlg : public CStdDialogImpl<CDetailDlg> {
 public:
  enum { IDD = IDD_DETAIL };

  // Tabs of the message area, in order.
  enum Tab { kTabDefault = 0, kTabHvnDecode = 1, kTabHex = 2 };

  // Fills the text members from a record shown at `row` (from 0).
  void SetRecord(const TraceRecord& record, size_t row);

  CString m_number;
  CString m_level;
  CString m_time;
  CString m_module;
  CString m_procThread;
  CString m_name;
  CString m_hint;
  CString m_message;    // the record's message, set by the caller
  CString m_shownText;  // what the message area shows
  HWND m_tabs = nullptr;
  HWND m_messageEdit = nullptr;

  BEGIN_MSG_MAP(CDetailDlg)
    COMMAND_ID_HANDLER(IDC_DETAIL_COPY_CLOSE, OnCopyAndClose)
    NOTIFY_HANDLER(IDC_DETAIL_TABS, TCN_SELCHANGE, OnTabChanged)
    CHAIN_MSG_MAP(CStdDialogImpl<CDetailDlg>)
  END_MSG_MAP()

  BEGIN_DDX_MAP(CDetailDlg)
    DDX_TEXT(IDC_DETAIL_NUMBER, m_number)
    DDX_TEXT(IDC_DETAIL_LEVEL, m_level)
    DDX_TEXT(IDC_DETAIL_TIME, m_time)
    DDX_TEXT(IDC_DETAIL_MODULE, m_module)
    DDX_TEXT(IDC_DETAIL_PID_TID, m_procThread)
    DDX_TEXT(IDC_DETAIL_NAME, m_name)
    DDX_TEXT(IDC_DETAIL_HINT, m_hint)
    DDX_TEXT(IDC_DETAIL_MESSAGE, m_shownText)
  END_DDX_MAP()

  BOOL OnInit();

 private:
  LRESULT OnCopyAndClose(WORD, WORD, HWND);
  LRESULT OnTabChanged(int, NMHDR*);
  // Lays the message edit over the tab control's page.
  void PlaceMessageEdit();
};
