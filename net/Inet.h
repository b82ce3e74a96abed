// The program's WinINet layer: the one internet session, owners of the
// handles it hands out, the HTTP exchange used for the log server, and the
// FTP listing and download used by the remote jobs.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstddef>
#include <cstdint>

#include "core/RefString.h"
#include "net/OwnedList.h"

class CRemoteServer;

constexpr wchar_t kInetUserAgent[] = L"keltracer";
constexpr DWORD kInetTimeoutMs = 30000;

// Certificate and credential prompts go through this pointer instead of
// InternetErrorDlg, so that tests can answer them without a person. A
// replacement behaves like the API: it may change the request's options
// (as the real dialog does when the user accepts) and returns its answer.
// The program never changes it; tests put their own in and restore it.
using InetErrorDlgFn = DWORD(WINAPI*)(HWND window, HINTERNET request, DWORD error, DWORD flags, void** data);
extern InetErrorDlgFn g_inetErrorDlg;  // ::InternetErrorDlg unless a test replaced it

// Owner of one HINTERNET; closes it when destroyed. Null when empty.
class CInetHandle {
 public:
  CInetHandle() = default;
  explicit CInetHandle(HINTERNET handle) : m_handle(handle) {}
  virtual ~CInetHandle() { Close(); }
  CInetHandle(const CInetHandle&) = delete;
  CInetHandle& operator=(const CInetHandle&) = delete;

  HINTERNET get() const { return m_handle; }
  explicit operator bool() const { return m_handle != nullptr; }
  // Closes what it holds and takes the new handle.
  void Reset(HINTERNET handle = nullptr);
  void Close() { Reset(); }

 protected:
  HINTERNET m_handle = nullptr;
};

// The process-wide session. Opened by the main frame before any job needs
// it and closed at exit; the remote worker's jobs share it one at a time.
class CInetSession : public CInetHandle {
 public:
  // Opens the session with the system's proxy settings and 30 s connect,
  // send and receive time-outs. 1 when open (also when it was open already).
  int Open();
};

extern CInetSession g_inetSession;

// One listing entry. Attributes are the FTP find data's; a folder has
// FILE_ATTRIBUTE_DIRECTORY. The size is the low 32 bits of the file's size.
struct CFtpFileEntry {
  CString name;
  uint32_t attributes = 0;
  FILETIME lastWrite = {};
  uint32_t size = 0;

  bool IsFolder() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
};

// Folders before files, then by name without regard to case; qsort shape on
// entry pointers.
int CompareFtpEntries(const void* left, const void* right);

// A folder listing: owns its entries.
using CFtpListing = COwnedList<CFtpFileEntry>;

// A connection or request handle. The FTP operations use the global session
// and return 0 or the Win32/WinINet error code of the step that failed.
// progress (may be null) receives percents; it is written atomically because
// the window reads it while the job runs.
class CInetConnect : public CInetHandle {
 public:
  using CInetHandle::CInetHandle;

  // Lists the server entry's folder into listing (cleared first). Any folder
  // but the root starts with a ".." folder entry; the rest are sorted with
  // CompareFtpEntries. An empty folder is an empty listing, not an error.
  static DWORD FtpList(const CRemoteServer& server, CFtpListing& listing, volatile uint32_t* progress);
  // Downloads the entry's folder + remoteName into localPath. Reads until the
  // server has no more bytes; with a non-zero size the byte count must match
  // its low 32 bits (ERROR_INVALID_DATA otherwise). On any failure the local
  // file is deleted, so a file that is there is complete.
  static DWORD FtpGetFile(const CRemoteServer& server, const wchar_t* remoteName, uint32_t size,
                          const wchar_t* localPath, volatile uint32_t* progress);

  // SFTP is a known protocol without a transport: both return
  // ERROR_NOT_SUPPORTED at once and produce no entries and no file (an
  // empty "success" would show an SFTP folder as empty).
  static DWORD SftpList(const CRemoteServer& server, CFtpListing& listing, volatile uint32_t* progress);
  static DWORD SftpGetFile(const CRemoteServer& server, const wchar_t* remoteName, uint32_t size,
                           const wchar_t* localPath, volatile uint32_t* progress);
};

// One HTTP exchange with the log server. Results are 0 or a string-table id
// (IDS_SEND_ERR_*); ErrorCode() holds the Win32 or WinINet error or the HTTP
// status behind a non-zero result.
class CInetRequest {
 public:
  static constexpr size_t kMaxUrlBytes = 1024;
  static constexpr size_t kMaxReplyBytes = 1020;

  CInetRequest() = default;
  ~CInetRequest() { Close(); }
  CInetRequest(const CInetRequest&) = delete;
  CInetRequest& operator=(const CInetRequest&) = delete;

  // Connects to the URL's host and opens a request for its path and query
  // with the verb (null: GET). Only http and https URLs are taken.
  UINT OpenHttpRequest(const wchar_t* url, const char* verb);
  // Sends the opened request (with the body as application/octet-stream
  // when one is given); certificate and credential problems are put to the
  // user over the window through g_inetErrorDlg. 0 when the server answered 200.
  UINT SendRequest(HWND promptWindow, const void* body, DWORD length);
  // Reads the reply once (at most 1020 bytes) and checks its "<Status>"
  // (and, with checkServer, its "<ServerStatus>" 1).
  UINT ReadStatusReply(int checkServer);

  // The status query: GET, send, full status check.
  UINT Open(HWND promptWindow, const wchar_t* url);
  // One upload piece: POST with the body, "<Status>" check only.
  UINT Post(HWND promptWindow, const wchar_t* url, const void* body, DWORD length);

  // Error code 0 and both handles closed; the request can be used again.
  void Reset();
  // Closes both handles and leaves the error code alone: a cancel calls it
  // from another thread while a WinINet call on them may be running, which
  // then returns with an error. Each handle is closed once, by whichever
  // side takes it first.
  void Disconnect() {
    m_request.Close();
    m_connection.Close();
  }
  void Close() { Reset(); }

  DWORD ErrorCode() const { return m_error; }
  // The open request handle (null when none), for callers that cancel.
  HINTERNET RequestHandle() const { return m_request.get(); }

 private:
  // Result of the certificate prompt for a failed send: 0 to send again,
  // else the result to return.
  UINT OnCertificateError(HWND promptWindow, DWORD error);
  // Result of a status code that asks for credentials: 0 to send again.
  UINT OnAuthStatus(HWND promptWindow, DWORD status);

  DWORD m_error = 0;
  CInetConnect m_connection;
  CInetConnect m_request;
};

// Finds "<Status>" in reply, and, with checkServer, "<ServerStatus>"; 0 or
// the string-table id ReadStatusReply returns for it.
UINT CheckStatusReply(const char* reply, int checkServer);
