// The remote connection, dump files, the history dialog, the remote-file
// dialog and the upload: each command reaches its handler here through the
// command table, with its enable rule already checked.
#include "app/MainFrame.h"

void CMainFrame::OnConnect(UINT) {}

void CMainFrame::OnDisconnect(UINT) {}

void CMainFrame::OnDumpFiles(UINT) {}

void CMainFrame::OnHistory(UINT) {}

void CMainFrame::OnRemoteFile(UINT) {}

void CMainFrame::OnUpload(UINT) {}
