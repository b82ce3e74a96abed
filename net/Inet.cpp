#include "net/Inet.h"

#include "core/SysUtil.h"

InetErrorDlgFn g_inetErrorDlg = ::InternetErrorDlg;
CInetSession g_inetSession;

void CInetHandle::Reset(HINTERNET handle) {
  // Exchanged, not read and cleared: a cancel on another thread may close
  // the same owner, and each handle must be closed exactly once.
  HINTERNET old = InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&m_handle), handle);
  if (old) InternetCloseHandle(old);
}

int CInetSession::Open() {
  if (m_handle) return 1;
  HINTERNET session = InternetOpenW(kInetUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (!session) {
    DebugTraceA("CInetSession::Open, 1, InternetOpenW %lu", GetLastError());
    return 0;
  }
  DWORD timeout = kInetTimeoutMs;
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    if (!InternetSetOptionW(session, option, &timeout, sizeof(timeout))) {
      DebugTraceA("CInetSession::Open, 2, option %lu: %lu", option, GetLastError());
    }
  }
  Reset(session);
  return 1;
}

int CompareFtpEntries(const void* left, const void* right) {
  const CFtpFileEntry* a = *static_cast<const CFtpFileEntry* const*>(left);
  const CFtpFileEntry* b = *static_cast<const CFtpFileEntry* const*>(right);
  if (a->IsFolder() != b->IsFolder()) return a->IsFolder() ? -1 : 1;
  return a->name.CompareNoCase(b->name.c_str());
}
