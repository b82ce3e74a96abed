#include "ui/dialogs/RemoteFileDlg.h"

#include <new>

#include "jobs/JobMgr.h"
#include "ui/dialogs/RemoteFileRules.h"
#include "ui/dialogs/UploadProgress.h"
#include "ui/framework/Controls.h"
#include "ui/framework/MessageBoxes.h"

namespace {
constexpr int kNameWidth = 230;
constexpr int kSizeWidth = 80;
constexpr int kModifiedWidth = 120;
constexpr UINT kBusyControls[] = {IDC_REMOTE_LIST_FILES, IDOK, IDC_REMOTE_HISTORY};
}  // namespace

LRESULT CRemoteFileDlg::OnInitDialog(UINT, WPARAM, LPARAM) {
  CenterWindow(GetParent());
  CComboBox protocol(GetDlgItem(IDC_REMOTE_PROTOCOL));
  protocol.AddString(L"FTP");
  protocol.SetCurSel(0);
  CComboBox history(GetDlgItem(IDC_REMOTE_HISTORY));
  for (size_t i = 0; i < g_remoteServers.Count(); ++i) {
    history.AddString(g_remoteServers[i]->GetUrl().c_str());
  }
  m_list.SubclassWindow(GetDlgItem(IDC_REMOTE_FILES));
  m_list.InsertColumn(0, L"Name", LVCFMT_LEFT, kNameWidth);
  m_list.InsertColumn(1, L"Size", LVCFMT_RIGHT, kSizeWidth);
  m_list.InsertColumn(2, L"Modified", LVCFMT_RIGHT, kModifiedWidth);
  ExchangeControls(FALSE);
  ApplyAnonymous();
  return TRUE;
}

BOOL CRemoteFileDlg::ExchangeControls(BOOL save) {
  if (!DdxText(IDC_REMOTE_SERVER, m_server.host, save) || !DdxNumber(IDC_REMOTE_PORT, m_server.port, save)) {
    return FALSE;
  }
  int anonymous = int(m_server.anonymous);
  if (!DdxCheck(IDC_REMOTE_ANONYMOUS, anonymous, save)) {
    return FALSE;
  }
  if (save) {
    m_server.anonymous = uint32_t(anonymous);
  }
  if (!DdxText(IDC_REMOTE_USER, m_server.user, save) || !DdxText(IDC_REMOTE_PASSWORD, m_server.password, save) ||
      !DdxText(IDC_REMOTE_PATH, m_server.path, save)) {
    return FALSE;
  }
  if (save) {
    m_server.protocol = kProtocolFtp;  // the one protocol the box offers
  }
  return TRUE;
}

void CRemoteFileDlg::ApplyAnonymous() {
  const BOOL named = ::IsDlgButtonChecked(m_hWnd, IDC_REMOTE_ANONYMOUS) == BST_CHECKED ? FALSE : TRUE;
  ::EnableWindow(GetDlgItem(IDC_REMOTE_USER), named);
  ::EnableWindow(GetDlgItem(IDC_REMOTE_PASSWORD), named);
}

LRESULT CRemoteFileDlg::OnAnonymous(WORD, WORD, HWND) {
  ApplyAnonymous();
  return 0;
}

void CRemoteFileDlg::ShowError(const wchar_t* text) {
  ktui::MessageBoxText(m_hWnd, text, MB_ICONERROR);
}

void CRemoteFileDlg::OnListFiles() {
  if (!ExchangeControls(TRUE)) {
    return;
  }
  m_list.DeleteAllItems();
  m_listing.Clear();
  CRemoteServer entry = m_server;
  if (!CInetUrl::NormalizePath(entry) || !g_jobMgr.PostRemoteList(&entry)) {
    ShowError(L"start list files failed!");
    return;
  }
  m_server = entry;
  ExchangeControls(FALSE);
  SetBusy(IDS_JOB_REMOTE_LIST, m_server.GetUrl().c_str());
}

LRESULT CRemoteFileDlg::OnHistorySelect(WORD, WORD, HWND) {
  const int index = CComboBox(GetDlgItem(IDC_REMOTE_HISTORY)).GetCurSel();
  const CRemoteServer* chosen = index >= 0 ? g_remoteServers[size_t(index)] : nullptr;
  if (chosen == nullptr) {
    return 0;
  }
  m_server = *chosen;
  ExchangeControls(FALSE);
  ApplyAnonymous();
  OnListFiles();
  return 0;
}

// A folder is entered, a file fetched; nothing while the listing is not ready.
void CRemoteFileDlg::OpenRow(int row) {
  const CFtpFileEntry* entry = row >= 0 ? m_listing[size_t(row)] : nullptr;
  if (m_ready == 0 || entry == nullptr) {
    return;
  }
  if (entry->IsFolder()) {
    OpenDirectory(*entry);
  } else {
    GetFile(*entry);
  }
}

LRESULT CRemoteFileDlg::OnOpenCommand(WORD, WORD, HWND) {
  OpenRow(m_list.GetNextItem(-1, LVNI_SELECTED));
  return 0;
}

LRESULT CRemoteFileDlg::OnDblClk(int, NMHDR* header) {
  OpenRow(reinterpret_cast<const NMITEMACTIVATE*>(header)->iItem);
  return 0;
}

void CRemoteFileDlg::OpenDirectory(const CFtpFileEntry& entry) {
  // The entry may be one of the listing's, which the listing below deletes.
  const CString name = entry.name;
  if (!RemoteOpenFolder(m_server.path, name.c_str())) {
    return;
  }
  ExchangeControls(FALSE);
  OnListFiles();
}

void CRemoteFileDlg::GetFile(const CFtpFileEntry& entry) {
  wchar_t folder[MAX_PATH] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH, folder);
  wchar_t local[MAX_PATH] = {};
  if (length == 0 || length >= MAX_PATH || !MakeRemoteTempName(entry.name.c_str(), folder, local, MAX_PATH) ||
      !g_jobMgr.PostRemoteGet(&m_server, entry.name.c_str(), entry.size, local)) {
    ShowError(L"get file failed!");
    return;
  }
  auto* remembered = new (std::nothrow) CRemoteServer(m_server);
  if (remembered != nullptr) {
    const CString url = remembered->GetUrl();
    if (g_remoteServers.AddUnique(remembered)) {
      CComboBox(GetDlgItem(IDC_REMOTE_HISTORY)).AddString(url.c_str());
    }
  }
  SetBusy(IDS_JOB_REMOTE_GET, entry.name.c_str());
}

LRESULT CRemoteFileDlg::OnHide(WORD, WORD, HWND) {
  ShowWindow(SW_HIDE);
  return 0;
}

void CRemoteFileDlg::SetBusy(UINT jobTextId, const wchar_t* argument) {
  ::SetWindowTextW(m_hWnd, RemoteFileTitle(jobTextId, argument).c_str());
  m_ready = 0;
  for (UINT id : kBusyControls) {
    ::EnableWindow(GetDlgItem(int(id)), FALSE);
  }
}

void CRemoteFileDlg::SetReady() {
  ::SetWindowTextW(m_hWnd, RemoteFileTitle(0, nullptr).c_str());
  m_ready = 1;
  for (UINT id : kBusyControls) {
    ::EnableWindow(GetDlgItem(int(id)), TRUE);
  }
}

void CRemoteFileDlg::FillList() {
  m_list.SetRedraw(FALSE);
  m_list.DeleteAllItems();
  CString size, modified;
  for (size_t i = 0; i < m_listing.Count(); ++i) {
    const CFtpFileEntry& entry = *m_listing[i];
    const int row = m_list.InsertItem(int(i), entry.name.c_str());
    RemoteFileCells(entry, &size, &modified);
    m_list.SetItemText(row, 1, size.c_str());
    m_list.SetItemText(row, 2, modified.c_str());
  }
  m_list.SetRedraw(TRUE);
  m_list.Invalidate(TRUE);
}

void CRemoteFileDlg::OnListFilesDone(CFtpListing& listing) {
  m_listing.Clear();
  m_listing.Swap(listing);
  FillList();
  ::SetFocus(m_list.m_hWnd);
  SetReady();
  const int end = ::GetWindowTextLengthW(GetDlgItem(IDC_REMOTE_PATH));
  ::SendMessageW(GetDlgItem(IDC_REMOTE_PATH), EM_SETSEL, WPARAM(end), LPARAM(end));
}

void CRemoteFileDlg::EnableControls() { SetReady(); }

CRemoteFileDlg::~CRemoteFileDlg() {
  if (m_slot != nullptr && *m_slot == this) {
    *m_slot = nullptr;
  }
}
