// Listing and fetching on a file server.
#include <new>

#include "core/StoreLock.h"
#include "formats/FileDispatch.h"
#include "formats/FilePath.h"
#include "jobs/LocalJobs.h"
#include "jobs/RemoteJobs.h"
#include "net/RemoteServer.h"

namespace {

constexpr uint32_t kDone = 100;

}  // namespace

JobRmtList::JobRmtList(const CRemoteServer& server)
    : JobItem(IDS_JOB_REMOTE_LIST, server.GetUrl().c_str()), m_server(server) {}

void JobRmtList::Run() {
  m_progress = 0;
  if (m_server.protocol == kProtocolFtp || m_server.protocol == kProtocolSftp) {
    const DWORD result = m_server.protocol == kProtocolFtp
                             ? CInetConnect::FtpList(m_server, m_listing, &m_progress)
                             : CInetConnect::SftpList(m_server, m_listing, &m_progress);
    if (result != 0) SetFailed(result);
  } else {
    SetFailed(0);
  }
  m_progress = kDone;
}

JobRmtGet::JobRmtGet(const CRemoteServer& server, const wchar_t* remoteName, uint32_t size, const wchar_t* localPath)
    : JobItem(IDS_JOB_REMOTE_GET, remoteName),
      m_server(server),
      m_remoteName(remoteName ? remoteName : L""),
      m_size(size),
      m_localPath(localPath ? localPath : L""),
      m_store(new (std::nothrow) CTraceFile) {}

JobRmtGet::~JobRmtGet() {
  if (m_store) m_store->Release();
}

uint32_t JobRmtGet::GetPercent() {
  if (!m_loading) return m_downloadProgress;
  return m_store ? m_store->Progress() : kDone;
}

DWORD JobRmtGet::Download() {
  if (m_server.protocol == kProtocolFtp) {
    return CInetConnect::FtpGetFile(m_server, m_remoteName.c_str(), m_size, m_localPath.c_str(), &m_downloadProgress);
  }
  return CInetConnect::SftpGetFile(m_server, m_remoteName.c_str(), m_size, m_localPath.c_str(),
                                   &m_downloadProgress);
}

void JobRmtGet::Run() {
  m_downloadProgress = 0;
  if (m_store) m_store->SetProgress(0);
  const bool known = m_server.protocol == kProtocolFtp || m_server.protocol == kProtocolSftp;
  if (!known || !m_store || m_localPath.IsEmpty()) {
    SetFailed(0);
    m_downloadProgress = kDone;
    return;
  }
  const DWORD result = Download();
  m_downloadProgress = kDone;
  if (result != 0) {
    SetFailed(result);
    return;
  }
  SetTitle(IDS_JOB_OPENING, FileNamePart(m_localPath.c_str()));
  InterlockedExchange(&m_loading, 1);
  int opened = 0;
  {
    const CStoreLock lock(m_store, kLockExclusive);
    opened = lock.Held() ? OpenFile(m_store, m_localPath.c_str()) : 0;
  }
  if (!opened) {
    DeleteFileW(m_localPath.c_str());
    SetFailed(0);
  }
  m_store->SetProgress(kDone);
}
