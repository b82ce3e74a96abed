// The post operations of the job manager: each makes one job and queues it.
#include <new>

#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "jobs/JobMgr.h"
#include "jobs/LocalJobs.h"

int CJobMgr::PostOpenFile(const wchar_t* path) {
  auto* store = new (std::nothrow) CTraceFile;
  if (!store) return 0;
  auto* job = new (std::nothrow) JobFile(IDS_JOB_OPENING, path, store, nullptr);
  // The job holds its own reference; the new store's first one goes here.
  store->Release();
  if (!job) return 0;
  return PostLocalJob(job);
}

int CJobMgr::PostSaveFile(const wchar_t* path, CTraceMgr* store, CTraceView* view) {
  if (!store && !view) return 0;
  auto* job = new (std::nothrow) JobFile(store ? IDS_JOB_SAVING : IDS_JOB_SAVING_VIEW, path, store, view);
  if (!job) return 0;
  return PostLocalJob(job);
}

int CJobMgr::PostFilter(CTraceView* view, uint32_t partMask, const CTraceFilter& filter, int selected) {
  if (!view) return 0;
  // A job that cannot be queued is deleted, which gives the view back.
  auto* job = new (std::nothrow) JobFilter(view, partMask, filter, selected);
  if (!job) return 0;
  return PostLocalJob(job);
}

int CJobMgr::PostSaveDump(const wchar_t* source, const wchar_t* destination, int avoidOverwrite) {
  auto* job = new (std::nothrow) JobSaveDump(source, destination, avoidOverwrite);
  if (!job) return 0;
  return PostLocalJob(job);
}
