// Connecting to a remote instance and leaving it, copying local and remote
// dump files, the history of trace files, the remote file browser and the
// upload dialog.
#include <winsock2.h>
#include <windows.h>
#include <commdlg.h>

#include <new>

#include "app/MainFrame.h"
#include "capture/LocalFileList.h"
#include "capture/RemoteDumpList.h"
#include "core/AppConfig.h"
#include "core/StrUtil.h"
#include "core/SysUtil.h"
#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "jobs/JobMgr.h"
#include "jobs/UploadJob.h"
#include "net/EventSocket.h"
#include "net/RemoteAddress.h"
#include "net/RemoteProtocol.h"
#include "net/RemoteServer.h"
#include "resource.h"
#include "ui/dialogs/DumpFileDlg.h"
#include "ui/dialogs/FileListText.h"
#include "ui/dialogs/HistroyDlg.h"
#include "ui/dialogs/KelFileDialog.h"
#include "ui/dialogs/RemoteFileDlg.h"
#include "ui/dialogs/SendToTalmoDlg.h"
#include "ui/dialogs/SockConnectDlg.h"
#include "ui/framework/MessageBoxes.h"

namespace {

void ShowText(HWND owner, const wchar_t* text, UINT icon) { ktui::MessageBoxText(owner, text, icon); }

// The save-file dialog for a dump copy: extension "dump", the source's file
// name as the initial name. False when the user cancelled.
bool AskDumpTarget(HWND owner, const wchar_t* sourcePath, CString* target) {
  static const wchar_t kFilter[] = L"Keltrace Dump Files (*.dump)\0*.dump\0";
  KelFileDialog dialog(FALSE, L"dump", ListFileName(sourcePath), OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, kFilter,
                       owner);
  if (dialog.DoModal(owner) != IDOK) {
    return false;
  }
  *target = dialog.m_fileName;
  return true;
}

// A copy of the local dump-file list, for the dialog.
void CopyLocalDumpFiles(const LocalFileArray& list, DumpFileEntries& out) {
  out.Clear();
  for (size_t i = 0; i < list.count; ++i) {
    auto* entry = new (std::nothrow) DumpFileEntry;
    if (entry == nullptr) {
      return;
    }
    entry->path = list[i]->path;
    entry->lastWrite = list[i]->lastWrite;
    entry->size = list[i]->size;
    entry->recordCount = list[i]->recordCount;
    if (!out.Append(entry)) {
      return;
    }
  }
}
}  // namespace

// The command table's entries; each rule was checked before.
void CMainFrame::OnConnect(UINT) { OnSockConnect(); }

void CMainFrame::OnDisconnect(UINT) { OnSockDisconnect(); }

void CMainFrame::OnDumpFiles(UINT) { OnSaveDumpFile(); }

void CMainFrame::OnHistory(UINT) { OnHistoryManage(); }

void CMainFrame::OnRemoteFile(UINT) { OnOpenRemote(); }

void CMainFrame::OnUpload(UINT id) { OnSendToTalmo(id == ID_TOOLS_SEND_VIEW); }

void CMainFrame::OnSockConnect() {
  if (!m_captureOn || m_connectionState != ktframe::kNotConnected) {
    return;
  }
  CSockConnectDlg dialog(&g_appConfig.m_remoteAddresses);
  if (dialog.DoModal(::GetActiveWindow()) != IDOK) {
    return;
  }
  ConnectTo(dialog.m_address.c_str());
}

void CMainFrame::ConnectTo(const wchar_t* text) {
  sockaddr_in address = {};
  CSocketClient* client = nullptr;
  if (MakeRemoteSocketAddress(text, &address)) {
    client = CSocketClient::Connect(address, kRemoteLiveViewer);
  }
  CaptureControlItem* item = client != nullptr ? NewCaptureItem(kCaptureItemAdoptSocket, client) : nullptr;
  if (item == nullptr) {
    delete client;
    ktui::MessageBoxFromId(m_hWnd, IDS_CONNECT_FAILED, MB_ICONWARNING, text);
    return;
  }
  m_connectionState = ktframe::kConnecting;
  m_remoteAddress.Assign(text);
  m_remoteServer = address;
  g_appConfig.m_remoteAddresses.AddUnique(text);
  // The capture thread owns the socket from here; it reports the outcome.
  if (!g_jobMgr.QueueCaptureItem(item)) {
    ResetConnection();
  }
  UpdateTitle();
}

void CMainFrame::OnSockDisconnect() {
  if (m_connectionState != ktframe::kConnected) {
    return;
  }
  if (CaptureControlItem* item = NewCaptureItem(kCaptureItemLeaveRemote, nullptr)) {
    g_jobMgr.QueueCaptureItem(item);
  }
  ResetConnection();
  UpdateTitle();
}

bool CMainFrame::DumpListPending() const { return m_dumpList != nullptr && m_dumpList->Pending(); }

void CMainFrame::OnSaveDumpFile() {
  if (m_connectionState == ktframe::kConnected) {
    if (DumpListPending()) {
      return;
    }
    if (m_dumpList == nullptr) {
      m_dumpList = new (std::nothrow) CRemoteDumpListRequest;
    }
    // The request runs off this thread: a server that never answers must
    // not stop the window. The wait cursor shows until it ends.
    if (m_dumpList == nullptr || !m_dumpList->Start(m_remoteServer, m_remoteAddress.c_str(), DumpListLimits(),
                                                    m_hWnd, ktframe::kDumpListDoneMessage)) {
      ShowText(m_hWnd, L"socket create remote dump file list failed!", MB_ICONERROR);
      return;
    }
    ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
    return;
  }
  if (m_connectionState != ktframe::kNotConnected) {
    return;
  }
  g_localFileList.Rescan(kLocalFilesDump);
  const LocalFileArray& files = g_localFileList.DumpFiles();
  if (files.count == 0) {
    return;
  }
  CString source;
  if (files.count == 1) {
    source = files[0]->path;
  } else {
    DumpFileEntries entries;
    CopyLocalDumpFiles(files, entries);
    CDumpFileDlg dialog(entries, nullptr);
    if (dialog.DoModal(m_hWnd) != IDOK || dialog.m_path.IsEmpty()) {
      return;
    }
    source = dialog.m_path;
  }
  CString target;
  if (AskDumpTarget(m_hWnd, source.c_str(), &target)) {
    g_jobMgr.PostSaveDump(source.c_str(), target.c_str(), 0);
  }
}

LRESULT CMainFrame::OnDumpListDone(UINT, WPARAM, LPARAM) {
  // Anyone can post this message: only a request that has ended counts.
  if (m_dumpList == nullptr || !m_dumpList->Pending() || !m_dumpList->Finished()) {
    return 0;
  }
  DumpFileEntries entries;
  const DumpListResult result = m_dumpList->Take(entries);
  ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
  if (result == DumpListResult::kNoConnection) {
    ShowText(m_hWnd, L"socket create remote dump file list failed!", MB_ICONERROR);
    return 0;
  }
  if (result != DumpListResult::kListed || m_connectionState != ktframe::kConnected) {
    return 0;
  }
  // The list is the asked server's, whatever the frame connected to since:
  // it is shown under that server's name and its file fetched from there.
  const sockaddr_in server = m_dumpList->Server();
  const CString name = m_dumpList->ServerName();
  CDumpFileDlg dialog(entries, name.c_str());
  if (dialog.DoModal(m_hWnd) != IDOK || dialog.m_path.IsEmpty()) {
    return 0;
  }
  CString target;
  if (AskDumpTarget(m_hWnd, dialog.m_path.c_str(), &target)) {
    g_jobMgr.PostRemoteSaveDump(server, dialog.m_path.c_str(), target.c_str());
  }
  return 0;
}

LRESULT CMainFrame::OnSetCursor(UINT, WPARAM, LPARAM) {
  if (!DumpListPending()) {
    SetMsgHandled(FALSE);
    return FALSE;
  }
  ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
  return TRUE;
}

void CMainFrame::OnHistoryManage() {
  g_localFileList.Rescan(kLocalFilesTrace);
  CHistroyDlg dialog(g_localFileList.TraceFiles());
  if (dialog.DoModal(m_hWnd) != IDOK) {
    return;
  }
  for (const CString& path : dialog.m_chosen) {
    g_jobMgr.PostOpenFile(path.c_str());
  }
}

void CMainFrame::OnOpenRemote() {
  if (m_remoteFileDlg == nullptr) {
    auto* dialog = new (std::nothrow) CRemoteFileDlg(&m_remoteFileDlg);
    if (dialog == nullptr) {
      return;
    }
    if (dialog->Create(m_hWnd) == nullptr) {
      delete dialog;
      return;
    }
    m_remoteFileDlg = dialog;
  }
  HWND window = m_remoteFileDlg->DialogWindow();
  ::ShowWindow(window, SW_SHOW);
  ::SetForegroundWindow(window);
}

void CMainFrame::OnSendToTalmo(bool view) {
  if (m_uploadDlg != nullptr) {
    return;
  }
  CTraceMgr* store = CurrentStore();
  CTraceView* shown = view ? ShownView() : nullptr;
  if (store == nullptr || (view && shown == nullptr)) {
    return;
  }
  auto* dialog = new (std::nothrow) CSendToTalmoDlg(&m_uploadDlg);
  if (dialog == nullptr || dialog->Create(m_hWnd) == nullptr) {
    delete dialog;
    m_uploadDlg = nullptr;
    ShowText(m_hWnd, L"create send to talmo dialog failed!", MB_ICONERROR);
    return;
  }
  m_uploadDlg = dialog;
  JobSendToTalmo* job = g_jobMgr.PostSendToServer(m_hWnd, dialog->m_hWnd, view ? nullptr : store, shown);
  if (job == nullptr) {
    ShowText(m_hWnd, L"start send to talmo failed!", MB_ICONERROR);
    ::DestroyWindow(dialog->m_hWnd);
    return;
  }
  dialog->Start(job);
  dialog->ShowWindow(SW_SHOW);
}

void CMainFrame::DestroyRemoteWindows() {
  delete m_dumpList;
  m_dumpList = nullptr;
  if (m_uploadDlg != nullptr) {
    ::DestroyWindow(m_uploadDlg->DialogWindow());
  }
  if (m_remoteFileDlg != nullptr) {
    ::DestroyWindow(m_remoteFileDlg->DialogWindow());
  }
  g_remoteServers.SaveToIni(g_appConfig.m_remoteServers);
}
