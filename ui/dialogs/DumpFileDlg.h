// "Select Dump File": one dump file of a list, the local one or a connected
// remote instance's.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "capture/RemoteDumpList.h"
#include "core/RefString.h"
#include "resource.h"
#include "ui/controls/ListCtrlEx.h"
#include "ui/framework/DialogImpl.h"

class CDumpFileDlg : public CDialogImpl<CDumpFileDlg> {
 public:
  enum { IDD = IDD_DUMP_FILE };
  static constexpr size_t kCaptionChars = 255;

  // entries: shown in list order (not owned; kept alive by the caller).
  // remoteName: the remote instance's address text, or null for local files.
  CDumpFileDlg(const DumpFileEntries& entries, const wchar_t* remoteName)
      : m_entries(entries), m_remoteName(remoteName != nullptr ? remoteName : L"") {}

  BEGIN_MSG_MAP(CDumpFileDlg)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    COMMAND_ID_HANDLER(IDOK, OnOK)
    COMMAND_ID_HANDLER(IDCANCEL, OnOK)
    NOTIFY_HANDLER(IDC_DUMP_LIST, LVN_ITEMCHANGED, OnItemChanged)
    NOTIFY_HANDLER(IDC_DUMP_LIST, NM_DBLCLK, OnDblClk)
    REFLECT_NOTIFICATIONS()
  END_MSG_MAP()

  LRESULT OnInitDialog(UINT, WPARAM, LPARAM);
  LRESULT OnOK(WORD, WORD id, HWND);
  LRESULT OnItemChanged(int, NMHDR*) {
    UpdateSelection();
    return 0;
  }
  LRESULT OnDblClk(int, NMHDR* header);
  // The first selected row's path (with the remote prefix) to the path
  // text; OK only while a row is selected.
  void UpdateSelection();

  const DumpFileEntries& Entries() const { return m_entries; }
  const CString& RemoteName() const { return m_remoteName; }

  // The path OK or a double click took; empty otherwise.
  CString m_path;
  CListCtrlEx m_list;

 private:
  const DumpFileEntries& m_entries;
  CString m_remoteName;
};
