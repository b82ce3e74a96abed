// The window of remote-server mode: owns the capture that serves remote
// viewers, shows the port and the connected viewers, reports capture errors
// and takes WM_COPYDATA text into the capture. Closing it ends the process.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/Containers.h"
#include "jobs/Notify.h"
#include "resource.h"
#include "ui/framework/DialogImpl.h"
#include "ui/framework/MessageLoop.h"

class CTraceCapture;

// Exit code of the message loop after the window closed.
constexpr int kRemoteServerExitCode = 2;

class CMainDlg : public CDialogImpl<CMainDlg>, public CMessageFilter {
 public:
  enum { IDD = IDD_REMOTE_SERVER };

  CMainDlg() = default;
  ~CMainDlg() override;

  // Creates the modeless dialog; null when it cannot be made.
  HWND Create(HWND parent);
  // Starts the capture listening on `port`; 1, or 0 after telling the user
  // and asking the window to close.
  int StartServer(uint16_t port);
  void UpdateStatus();
  // Removes the first entry equal to the address; whether one was found.
  bool RemoveClient(uint32_t address);

  BOOL PreTranslateMessage(MSG* msg) override;

  BEGIN_MSG_MAP(CMainDlg)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    COMMAND_ID_HANDLER(IDCANCEL, OnCancel)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    MESSAGE_HANDLER(WM_COPYDATA, OnCopyData)
    MESSAGE_HANDLER(ThreadsNotify, OnThreadsNotify)
  END_MSG_MAP()

  LRESULT OnInitDialog(UINT, WPARAM, LPARAM);
  LRESULT OnCancel(WORD, WORD, HWND);
  LRESULT OnDestroy(UINT, WPARAM, LPARAM);
  LRESULT OnCopyData(UINT, WPARAM, LPARAM lParam);
  LRESULT OnThreadsNotify(UINT, WPARAM code, LPARAM value);

  // What tests look at.
  const CGrowArray<uint32_t>& Viewers() const { return m_viewers; }
  CTraceCapture* Capture() const { return m_capture; }

 private:
  void Message(UINT id, UINT icon);

  CTraceCapture* m_capture = nullptr;
  CGrowArray<uint32_t> m_viewers;  // IPv4, network order, in order of connection
  HWND m_status = nullptr;
};
