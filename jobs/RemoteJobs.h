// The jobs of the remote worker that reach files elsewhere: listing and
// fetching on a file server, and fetching a dump file from a remote
// instance over the remote protocol.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>

#include "core/RefString.h"
#include "jobs/JobItem.h"
#include "net/Inet.h"
#include "net/RemoteProtocol.h"
#include "net/RemoteServer.h"
#include "res/resource.h"

class CSocketClient;
class CTraceMgr;

// Lists a server entry's folder. The job works on a copy of the entry and
// fills a listing of its own: the dialog that asked may be gone by the time
// the job ends, and takes the entries from the job when it is not.
class JobRmtList : public JobItem {
 public:
  explicit JobRmtList(const CRemoteServer& server);

  void Run() override;
  uint32_t GetPercent() override { return m_progress; }

  const CRemoteServer& Server() const { return m_server; }
  // After the job ran; the job keeps ownership.
  CFtpListing& Listing() { return m_listing; }

 private:
  CRemoteServer m_server;
  CFtpListing m_listing;
  volatile uint32_t m_progress = 0;
};

// Downloads one file of the server entry's folder into a temporary file and
// opens it into a new file store.
class JobRmtGet : public JobItem {
 public:
  // size: the file's size from the listing, 0 when unknown. The job keeps a
  // copy of the entry, makes the store and holds one reference of it.
  JobRmtGet(const CRemoteServer& server, const wchar_t* remoteName, uint32_t size, const wchar_t* localPath);
  ~JobRmtGet() override;

  void Run() override;
  // The download's percent while it runs, then the loader's.
  uint32_t GetPercent() override;

  // The store the file was opened into (null when it could not be made).
  CTraceMgr* Store() const { return m_store; }
  const CString& LocalPath() const { return m_localPath; }

 private:
  DWORD Download();

  CRemoteServer m_server;
  CString m_remoteName;
  uint32_t m_size;
  CString m_localPath;
  CTraceMgr* m_store;
  volatile uint32_t m_downloadProgress = 0;
  volatile LONG m_loading = 0;
};

// Asks a remote instance for one of its dump files (request type 3) and
// writes it to a local file. The file appears only when exactly the
// announced number of bytes arrived and the peer closed; anything else
// (a stop, a short or long reply, a time-out) leaves no file behind and an
// existing file as it was.
class JobRmtSaveDump : public JobItem {
 public:
  // The remote protocol's file request takes names of 1 to 511 bytes.
  static constexpr uint32_t kMaxRemotePathBytes = kRemoteMaxNameBytes;
  // Largest reply taken; a longer announcement is refused before any byte
  // is written.
  static constexpr uint64_t kMaxDumpBytes = 0x80000000ull;
  // No network event for this long ends the job (WSAETIMEDOUT).
  static constexpr DWORD kIdleTimeoutMs = 30000;
  // The whole transfer must end within this, however steadily bytes trickle.
  static constexpr DWORD kTotalTimeoutMs = 600000;

  JobRmtSaveDump(const sockaddr_in& address, const wchar_t* remotePath, const wchar_t* localPath);

  void Run() override;
  uint32_t GetPercent() override { return m_progress; }

  // Tests shorten the time limits.
  void SetTimeouts(DWORD idleMs, DWORD totalMs) {
    m_idleTimeoutMs = idleMs;
    m_totalTimeoutMs = totalMs;
  }

  const CString& LocalPath() const { return m_localPath; }

 private:
  sockaddr_in m_address;
  CString m_remotePath;
  CString m_localPath;
  volatile uint32_t m_progress = 0;
  DWORD m_idleTimeoutMs = kIdleTimeoutMs;
  DWORD m_totalTimeoutMs = kTotalTimeoutMs;
};
