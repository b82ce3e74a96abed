// The post operations for the remote worker: each makes one job and queues
// it there, making the worker first when it is missing.
#include <winsock2.h>

#include <new>

#include "jobs/JobMgr.h"
#include "jobs/RemoteJobs.h"
#include "jobs/UploadJob.h"

int CJobMgr::PostRemoteList(const CRemoteServer* server) {
  if (!server || !EnsureRemoteWorker()) return 0;
  auto* job = new (std::nothrow) JobRmtList(*server);
  return job ? PostRemoteJob(job) : 0;
}

int CJobMgr::PostRemoteGet(const CRemoteServer* server, const wchar_t* remoteName, uint32_t size,
                           const wchar_t* localPath) {
  if (!server || !EnsureRemoteWorker()) return 0;
  auto* job = new (std::nothrow) JobRmtGet(*server, remoteName, size, localPath);
  if (!job) return 0;
  if (!job->Store()) {
    delete job;
    return 0;
  }
  return PostRemoteJob(job);
}

int CJobMgr::PostRemoteSaveDump(const sockaddr_in& address, const wchar_t* remotePath, const wchar_t* localPath) {
  if (!EnsureRemoteWorker()) return 0;
  auto* job = new (std::nothrow) JobRmtSaveDump(address, remotePath, localPath);
  return job ? PostRemoteJob(job) : 0;
}

JobSendToTalmo* CJobMgr::PostSendToServer(HWND promptWindow, HWND progressWindow, CTraceMgr* store,
                                          CTraceView* view) {
  if ((!store && !view) || !EnsureRemoteWorker()) return nullptr;
  auto* job = new (std::nothrow) JobSendToTalmo(promptWindow, progressWindow, store, view);
  if (!job) return nullptr;
  return PostRemoteJob(job) ? job : nullptr;
}
