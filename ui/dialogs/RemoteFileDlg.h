// "Remote File": browses a folder of an FTP server and opens one of its
// files as a new document. Modeless and owned by the main frame: hiding it
// keeps its entry and listing; its jobs work on copies, so the frame may
// destroy it while they run.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>

#include "net/Inet.h"
#include "net/RemoteServer.h"
#include "resource.h"
#include "ui/controls/ListCtrlEx.h"
#include "ui/dialogs/ModelessLinks.h"
#include "ui/framework/DataExchange.h"
#include "ui/framework/DialogImpl.h"

class CRemoteFileDlg : public CModelessDialog<CRemoteFileDlg>,
                       public CWinDataExchange<CRemoteFileDlg>,
                       public IRemoteFileDlg {
 public:
  enum { IDD = IDD_REMOTE_FILE };

  // slot: the owner's pointer to this dialog, cleared when it is destroyed.
  explicit CRemoteFileDlg(IRemoteFileDlg** slot) : m_slot(slot) {}

  BEGIN_MSG_MAP(CRemoteFileDlg)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    COMMAND_ID_HANDLER(IDC_REMOTE_ANONYMOUS, OnAnonymous)
    COMMAND_ID_HANDLER(IDC_REMOTE_LIST_FILES, OnListFilesCommand)
    COMMAND_HANDLER(IDC_REMOTE_HISTORY, CBN_SELCHANGE, OnHistorySelect)
    COMMAND_ID_HANDLER(IDOK, OnOpenCommand)
    COMMAND_ID_HANDLER(IDCANCEL, OnHide)
    NOTIFY_HANDLER(IDC_REMOTE_FILES, NM_DBLCLK, OnDblClk)
    REFLECT_NOTIFICATIONS()
  END_MSG_MAP()

  LRESULT OnInitDialog(UINT, WPARAM, LPARAM);
  LRESULT OnAnonymous(WORD, WORD, HWND);
  LRESULT OnListFilesCommand(WORD, WORD, HWND) {
    OnListFiles();
    return 0;
  }
  LRESULT OnHistorySelect(WORD, WORD, HWND);
  LRESULT OnOpenCommand(WORD, WORD, HWND);
  LRESULT OnHide(WORD, WORD, HWND);
  LRESULT OnDblClk(int, NMHDR* header);

  // Saves the controls into the entry and lists its folder. A port that is
  // not a number stops here, with the focus on the port.
  void OnListFiles();
  void OpenRow(int row);
  void OpenDirectory(const CFtpFileEntry& entry);
  void GetFile(const CFtpFileEntry& entry);

  // IRemoteFileDlg
  HWND DialogWindow() const override { return m_hWnd; }
  void OnListFilesDone(CFtpListing& listing) override;
  void EnableControls() override;

  // The window is gone: the owner's pointer goes with the object.
  ~CRemoteFileDlg() override;

  // Host, port, anonymous flag, user, password, path, protocol; FALSE at
  // the first control that does not hold a value (the rest keep theirs).
  BOOL ExchangeControls(BOOL save);

  CRemoteServer m_server;
  CFtpListing m_listing;
  uint32_t m_ready = 1;
  CListCtrlEx m_list;

 private:
  void ApplyAnonymous();
  void SetBusy(UINT jobTextId, const wchar_t* argument);
  void SetReady();
  void FillList();
  void ShowError(const wchar_t* text);

  IRemoteFileDlg** m_slot;
};
