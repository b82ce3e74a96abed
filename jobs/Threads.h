// The threads of the program other than the user-interface thread: the
// capture thread and the two job workers. All are started the same way and
// stopped the same way: a user APC asks the thread to end, the caller waits a
// bounded time and terminates the thread as the last resort, so that closing
// the program never hangs on a stuck thread.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/Containers.h"
#include "core/Handle.h"
#include "jobs/Notify.h"

class CJobMgr;
class JobItem;

// Every caller of CThreadBase::Stop waits this long.
constexpr DWORD kThreadStopTimeoutMs = 3000;
// Exit code of a thread that did not end within the stop time-out.
constexpr DWORD kThreadTerminatedExitCode = 13;
// Exit code of a thread whose body let an exception escape.
constexpr DWORD kThreadFailedExitCode = 14;

class CThreadBase {
 public:
  CThreadBase() = default;
  // Closes the handle when still held; stop the thread first.
  virtual ~CThreadBase() = default;
  CThreadBase(const CThreadBase&) = delete;
  CThreadBase& operator=(const CThreadBase&) = delete;

  // Starts the thread on Run at once. 1 when it runs; 0 when it could not be
  // started or already holds a thread.
  int Start();
  // Asks the thread to end with a user APC (RequestStop runs on it at its
  // next alertable wait) and waits up to timeoutMs; a thread still running
  // then is terminated with kThreadTerminatedExitCode. Either way the handle
  // is closed when Stop returns and nothing of the thread runs any more.
  // 1 when no thread was held or it ended by itself; 0 when terminated.
  int Stop(DWORD timeoutMs);

  // The running thread's handle, owned by the object; null when none.
  HANDLE Handle() const { return m_thread.get(); }

 protected:
  // The thread body; its result is the thread's exit code.
  virtual uint32_t Run() = 0;
  // Runs on the thread itself, from the stop APC.
  virtual void RequestStop() = 0;

 private:
  static unsigned __stdcall ThreadProc(void* object);
  static void CALLBACK ThreadStopApc(ULONG_PTR object);

  CHandle m_thread;
};

// What the capture thread needs of the capture store (CTraceCapture).
class ICaptureStore : public ICaptureControl {
 public:
  // Opens the inputs and waits alertably over them until the run flag is
  // cleared; returns when the capture has ended.
  virtual void CaptureLoop() = 0;
  // Clears the run flag; called on the capture thread, inside an alertable
  // wait. It may come while the loop is still opening its inputs: the loop
  // must not set the flag back once it has been cleared.
  virtual void ClearRunFlag() = 0;

 protected:
  ~ICaptureStore() = default;
};

// The capture thread: runs the capture store's loop; control items that
// reach it while the loop runs go to the store.
class CThreadCapture : public CThreadBase {
 public:
  // Neither is owned; both outlive the thread.
  CThreadCapture(CJobMgr* manager, ICaptureStore* capture) : m_manager(manager), m_capture(capture) {}
  ~CThreadCapture() override = default;

  CJobMgr* Manager() const { return m_manager; }

 protected:
  uint32_t Run() override;
  void RequestStop() override;

 private:
  CJobMgr* m_manager;
  ICaptureStore* m_capture;
  bool m_stopRequested = false;  // set by the stop APC, on this thread
};

// The job manager's side of one worker's queue. Every call comes from the
// worker thread; the manager locks its arrays itself.
class IJobWorkerHost {
 public:
  // Takes the first job of the queue and enters it into the running list;
  // null when the queue is empty.
  virtual JobItem* PopJob(CGrowArray<JobItem*>* queue) = 0;
  // Posts kNotifyJobStarted or kNotifyJobFinished with the job to the
  // capture's owner window; 1 when posted. It does not delete the job.
  virtual int NotifyJob(uint32_t code, JobItem* job) = 0;
  // JobItem::Run.
  virtual void RunJob(JobItem* job) = 0;
  // Removes the job from the running list.
  virtual void RemoveRunning(JobItem* job) = 0;
  // Deletes a job the window will never see.
  virtual void DeleteJob(JobItem* job) = 0;

 protected:
  ~IJobWorkerHost() = default;
};

// A job worker: sleeps on its wake event and, each time it is signalled,
// runs every job of its queue in order.
class CThreadWorker : public CThreadBase {
 public:
  // Neither is owned. Makes the wake event (auto-reset, not signalled);
  // HasWakeEvent tells whether that worked.
  CThreadWorker(IJobWorkerHost* manager, CGrowArray<JobItem*>* queue);
  ~CThreadWorker() override = default;

  int HasWakeEvent() const { return m_wake.valid(); }
  // Signalled by whoever appends to the queue; owned by the worker.
  HANDLE WakeEvent() const { return m_wake.get(); }

 protected:
  uint32_t Run() override;
  void RequestStop() override;

 private:
  void RunQueuedJobs();

  CHandle m_wake;
  IJobWorkerHost* m_manager;
  CGrowArray<JobItem*>* m_queue;
  // Set by the stop APC on this thread. A job that waits alertably itself
  // takes the APC in its own wait, so the loop must not rely on seeing it.
  bool m_stopRequested = false;
};
