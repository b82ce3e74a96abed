// The job manager: the one owner of the worker threads and the capture
// thread, and of the jobs until their finished notice reaches the window.
// The window posts work from its own thread; the local worker runs open,
// save, filter and dump-copy jobs in posting order, the remote worker
// (made on first use) the jobs that reach other machines.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/Containers.h"
#include "core/CriticalSection.h"
#include "core/RefString.h"
#include "core/SysUtil.h"
#include "jobs/JobItem.h"
#include "jobs/Notify.h"
#include "jobs/Threads.h"

class CRemoteServer;
class CTraceFilter;
class CTraceMgr;
class CTraceView;
class JobSendToTalmo;
struct CFtpFileEntry;
template <typename T>
class COwnedList;
using CFtpListing = COwnedList<CFtpFileEntry>;
struct sockaddr_in;

class CJobMgr : public IJobWorkerHost {
 public:
  CJobMgr();
  // Stops whatever still runs and deletes every job left.
  virtual ~CJobMgr();
  CJobMgr(const CJobMgr&) = delete;
  CJobMgr& operator=(const CJobMgr&) = delete;

  // --- thread control (user-interface thread) ---

  // Records the capture and its owner window (which receives the
  // notifications), starts the local worker when asked, then the capture
  // thread. 1 when the capture thread runs; 0 when the local worker or the
  // capture thread could not be started.
  int Start(ICaptureStore* capture, HWND owner, int withLocalWorker);
  // Stops the local worker, the remote worker and the capture thread in that
  // order, then deletes every job still queued or listed as running, without
  // running or announcing it. Posts are refused from here on.
  void Stop();
  // Starts (enable 1) or stops (0) the capture thread. Starting while a
  // capture thread is still running keeps that one: two capture loops must
  // never run on one store. 1 when the capture thread runs (or, for 0, is
  // gone); 0 when it could not be started.
  int EnableCapture(int enable);
  // A started worker draining `queue`, or null (nothing left behind).
  CThreadWorker* CreateWorker(CGrowArray<JobItem*>* queue);
  // 1 when the remote worker exists or could be made now.
  int EnsureRemoteWorker();
  // Hands a control item to the capture thread. The item is taken in every
  // case: queued, the capture thread owns it; otherwise it is discarded here
  // with the socket it carries. 1 when queued.
  int QueueCaptureItem(CaptureControlItem* item);

  // --- posting work (user-interface thread): 1 when queued, else 0 ---

  // Opens the file into a new file store, which the job owns.
  int PostOpenFile(const wchar_t* path);
  // Saves the whole store (store set) or one view (view set, store null).
  int PostSaveFile(const wchar_t* path, CTraceMgr* store, CTraceView* view);
  // Re-filters the view; `selected` is the view index of the selected
  // record, -1 for none. The view stays with the job (state 2) until it ran
  // or was deleted.
  int PostFilter(CTraceView* view, uint32_t partMask, const CTraceFilter& filter, int selected);
  // Copies a dump file; with avoidOverwrite an existing file is never replaced.
  int PostSaveDump(const wchar_t* source, const wchar_t* destination, int avoidOverwrite);
  // Lists the entry's folder; the job copies the entry and holds the
  // listing (JobRmtList::Listing) until it is deleted.
  int PostRemoteList(const CRemoteServer* server);
  // Fetches the entry's file into the local temporary path and opens it;
  // the job copies the entry.
  int PostRemoteGet(const CRemoteServer* server, const wchar_t* remoteName, uint32_t size, const wchar_t* localPath);
  // Fetches a dump file from a remote instance into the local path.
  int PostRemoteSaveDump(const sockaddr_in& address, const wchar_t* remotePath, const wchar_t* localPath);
  // Uploads the store or the view (exactly one set); steps go to
  // progressWindow. The queued job (for the dialog's Cancel), or null.
  JobSendToTalmo* PostSendToServer(HWND promptWindow, HWND progressWindow, CTraceMgr* store, CTraceView* view);
  // Queue a job for the local worker, or for the remote worker (made first
  // when missing). Each takes the job: on failure it is deleted.
  int PostLocalJob(JobItem* job);
  int PostRemoteJob(JobItem* job);

  // --- worker side ---

  // Appends the job to the queue under the lock and signals the worker.
  // Takes the job: when it cannot be queued it is deleted and 0 returned.
  int PostJob(JobItem* job, CGrowArray<JobItem*>* queue, HANDLE wakeEvent);
  // IJobWorkerHost
  JobItem* PopJob(CGrowArray<JobItem*>* queue) override;
  void RemoveRunning(JobItem* job) override;
  int NotifyJob(uint32_t code, JobItem* job) override;
  void RunJob(JobItem* job) override;
  void DeleteJob(JobItem* job) override;
  // Posts code 10 or 11 with the job to the owner window; 1 when posted.
  // When the post fails the job leaves the running list and is deleted:
  // nobody else will ever see it.
  int Notify(uint32_t code, JobItem* job);

  // The status-bar text of the running jobs and, for one running job, its
  // percent (0xFFFFFFFF for several). Returns the number of running jobs;
  // with none the text is left alone.
  uint32_t GetProgressText(CString& text, uint32_t* percent);

  // Sets a posted job's title under the lock (JobItem::SetTitle).
  void ReplaceTitle(JobItem* job, CString& title);
  // Whether the job is in the running list now.
  bool IsRunning(const JobItem* job);
  // The window's claim on a finished notice: true once for each job whose
  // code 11 this manager posted, false for any other value (any process can
  // post WM_APP to the window).
  bool TakeFinishedJob(const JobItem* job);

  HWND OwnerWindow() const { return m_owner; }
  // Posting goes through these; tests record or refuse posts with them.
  void SetPostFunctions(PostMessageFn post, SleepFn sleep) {
    m_post = post;
    m_sleep = sleep;
  }

 protected:
  // Thread start and stop, the one place tests fail a start or watch a stop.
  virtual int StartThread(CThreadBase* thread) { return thread->Start(); }
  virtual void StopThread(CThreadBase* thread) { thread->Stop(kThreadStopTimeoutMs); }

 private:
  void DeleteQueued(CGrowArray<JobItem*>& jobs);

  ICaptureStore* m_capture = nullptr;  // the owner store; not owned
  HWND m_owner = nullptr;
  CThreadCapture* m_captureThread = nullptr;
  CThreadWorker* m_localWorker = nullptr;
  CThreadWorker* m_remoteWorker = nullptr;
  CCriticalSection m_lock;  // guards both queues, the running and delivered lists, m_stopping and job titles
  CGrowArray<JobItem*> m_localQueue;
  CGrowArray<JobItem*> m_remoteQueue;
  CGrowArray<JobItem*> m_running;
  CGrowArray<const JobItem*> m_delivered;  // code 11 posted, not yet claimed
  bool m_stopping = false;  // under the lock
  PostMessageFn m_post;
  SleepFn m_sleep;
};

// The program's one job manager.
extern CJobMgr g_jobMgr;
