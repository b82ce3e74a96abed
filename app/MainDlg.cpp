#include "app/MainDlg.h"

#include <cstring>
#include <new>

#include "capture/LocalFileList.h"
#include "capture/TraceCapture.h"
#include "core/StrUtil.h"
#include "core/SysUtil.h"
#include "jobs/JobMgr.h"
#include "net/EventSocket.h"
#include "ui/framework/MessageBoxes.h"

namespace {
constexpr ULONG_PTR kHandOverData = 1234;
constexpr size_t kCopyDataBytes = 2048;
constexpr size_t kAddressChars = 127;
constexpr size_t kStatusLineChars = 64;
}  // namespace

CMainDlg::~CMainDlg() {
  if (m_capture != nullptr) {
    m_capture->Release();
  }
  m_viewers.Free();
}

HWND CMainDlg::Create(HWND parent) { return CDialogImpl<CMainDlg>::Create(parent); }

BOOL CMainDlg::PreTranslateMessage(MSG* msg) { return ::IsDialogMessageW(m_hWnd, msg); }

LRESULT CMainDlg::OnInitDialog(UINT, WPARAM, LPARAM) {
  CenterWindow();
  HINSTANCE module = ::GetModuleHandleW(nullptr);
  auto icon = [module](int metricX, int metricY) {
    return ::LoadImageW(module, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, ::GetSystemMetrics(metricX),
                        ::GetSystemMetrics(metricY), LR_DEFAULTCOLOR);
  };
  SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon(SM_CXICON, SM_CYICON)));
  SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon(SM_CXSMICON, SM_CYSMICON)));
  if (CMessageLoop* loop = CMessageLoop::ForCurrentThread()) {
    loop->AddMessageFilter(this);
  }
  CString caption;
  caption.LoadString(module, IDS_REMOTE_SERVER_CAPTION);
  SetWindowText(caption.c_str());
  m_status = GetDlgItem(IDC_SERVER_STATUS);
  return TRUE;
}

int CMainDlg::StartServer(uint16_t port) {
  m_capture = new (std::nothrow) CTraceCapture(m_hWnd);
  if (m_capture != nullptr && m_capture->Init(port) && g_jobMgr.Start(m_capture, m_hWnd, 0)) {
    UpdateStatus();
    return 1;
  }
  Message(IDS_APP_INIT_FAILED, MB_ICONERROR);
  PostMessage(WM_CLOSE);
  return 0;
}

void CMainDlg::UpdateStatus() {
  const unsigned port = m_capture != nullptr ? m_capture->ListenPort() : 0;
  wchar_t line[kStatusLineChars];
  CString text;
  if (m_viewers.count == 0) {
    StrPrintfW(line, kStatusLineChars, L"Wait for connection, on port %u", port);
    text = line;
  } else {
    StrPrintfW(line, kStatusLineChars, L"Client connected, on port %u\r\n", port);
    text = line;
    for (size_t i = 0; i < m_viewers.count; ++i) {
      wchar_t entry[kAddressChars + 1];
      StrPrintfW(entry, kAddressChars + 1, i + 1 < m_viewers.count ? L"%hs;" : L"%hs",
                 AddrToString(m_viewers[i]).c_str());
      text += entry;
    }
  }
  ::SetWindowTextW(m_status, text.c_str());
}

bool CMainDlg::RemoveClient(uint32_t address) {
  for (size_t i = 0; i < m_viewers.count; ++i) {
    if (m_viewers[i] == address) {
      m_viewers.RemoveAt(i);
      return true;
    }
  }
  return false;
}

void CMainDlg::Message(UINT id, UINT icon) { ktui::MessageBoxFromId(m_hWnd, id, icon); }

LRESULT CMainDlg::OnThreadsNotify(UINT, WPARAM code, LPARAM value) {
  switch (code) {
    case kNotifyNotice:
      switch (value) {
        case IDS_START_HVN_FAILED:
        case IDS_START_QRC_FAILED:
        case IDS_START_QRV_FAILED:
          Message(UINT(value), MB_ICONWARNING);
          break;
        case IDS_START_CAPTURE_FAILED:
          DebugTraceA("%s", "CMainDlg::OnThreadsNotify, 222");
          Message(UINT(value), MB_ICONERROR);
          PostMessage(WM_CLOSE);
          break;
        case IDS_LISTEN_CREATE_FAILED:
          Message(UINT(value), MB_ICONERROR);
          PostMessage(WM_CLOSE);
          break;
        case kNoticeCaptureFailed:
          // The capture loop ended by itself: no viewer is served any more,
          // so the server ends as it does when its capture cannot start.
          Message(IDS_CAPTURE_STOPPED, MB_ICONERROR);
          PostMessage(WM_CLOSE);
          break;
        case IDS_LISTEN_LOST:
          Message(UINT(value), MB_ICONWARNING);
          break;
        default:
          break;
      }
      break;
    case kNotifyViewerConnected:
      m_viewers.Append(AddressFromParam(value));
      UpdateStatus();
      break;
    case kNotifyPeerLost:
      // Any process can post this message: an address nobody announced
      // changes nothing.
      if (RemoveClient(AddressFromParam(value))) {
        UpdateStatus();
      }
      break;
    default:
      break;
  }
  return 0;
}

LRESULT CMainDlg::OnCopyData(UINT, WPARAM, LPARAM lParam) {
  const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
  if (data == nullptr || data->cbData == 0 || data->dwData == kHandOverData || m_capture == nullptr ||
      data->lpData == nullptr) {
    return TRUE;
  }
  // Read within cbData only: the sender's text need not end with a 0.
  const size_t limit = data->cbData < kCopyDataBytes ? data->cbData : kCopyDataBytes - 1;
  const char* text = static_cast<const char*>(data->lpData);
  size_t length = 0;
  while (length < limit && text[length] != '\0') {
    ++length;
  }
  char buffer[kCopyDataBytes];
  std::memcpy(buffer, text, length);
  buffer[length] = '\0';
  m_capture->AddCopyDataText(buffer, buffer + length);
  return TRUE;
}

LRESULT CMainDlg::OnCancel(WORD, WORD, HWND) {
  DestroyWindow();
  ::PostQuitMessage(kRemoteServerExitCode);
  return 0;
}

LRESULT CMainDlg::OnDestroy(UINT, WPARAM, LPARAM) {
  if (CMessageLoop* loop = CMessageLoop::ForCurrentThread()) {
    loop->RemoveMessageFilter(this);
  }
  g_jobMgr.Stop();
  if (m_capture != nullptr) {
    m_capture->Release();
    m_capture = nullptr;
  }
  g_localFileList.DeleteDumpFiles();
  SetMsgHandled(FALSE);
  return 0;
}
