#include "jobs/Threads.h"

#include <process.h>

#include <cerrno>

#include "core/SysUtil.h"

int CThreadBase::Start() {
  // A second start would lose the first thread's handle and with it any way
  // to stop that thread.
  if (m_thread.valid()) return 0;
  const uintptr_t handle = _beginthreadex(nullptr, 0, ThreadProc, this, 0, nullptr);
  if (!handle) {
    DebugTraceA("CThreadBase::Start, 1, _beginthreadex failed, %d", errno);
    return 0;
  }
  m_thread.reset(reinterpret_cast<HANDLE>(handle));
  return 1;
}

int CThreadBase::Stop(DWORD timeoutMs) {
  if (!m_thread.valid()) return 1;
  const HANDLE thread = m_thread.get();
  // Fails only when the thread has already ended; the wait then returns at once.
  QueueUserAPC(ThreadStopApc, thread, reinterpret_cast<ULONG_PTR>(this));
  int ended = WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0 ? 1 : 0;
  if (!ended) {
    DebugTraceA("CThreadBase::Stop, 2, thread %lu did not end within %lu ms", GetThreadId(thread), timeoutMs);
    // Termination is asynchronous: wait until it has happened, or the
    // caller would delete the object while the thread still runs in it.
    if (TerminateThread(thread, kThreadTerminatedExitCode)) {
      WaitForSingleObject(thread, INFINITE);
    } else {
      DebugTraceA("CThreadBase::Stop, 3, TerminateThread failed, %lu", GetLastError());
    }
  }
  m_thread.reset();
  return ended;
}

unsigned __stdcall CThreadBase::ThreadProc(void* object) {
  try {
    return static_cast<CThreadBase*>(object)->Run();
  } catch (...) {
    DebugTraceA("CThreadBase::ThreadProc, 1, the thread body failed");
    return kThreadFailedExitCode;
  }
}

void CALLBACK CThreadBase::ThreadStopApc(ULONG_PTR object) {
  reinterpret_cast<CThreadBase*>(object)->RequestStop();
}

uint32_t CThreadCapture::Run() {
  // A stop queued right after the start is delivered when the thread starts,
  // before this body: the loop, which sets the run flag as it opens, would
  // otherwise never see it.
  if (!m_stopRequested) {
    const CCaptureItemScope scope(m_capture);
    m_capture->CaptureLoop();
  }
  // Control items queued while the loop was ending have nobody to go to now:
  // run their APCs here, unbound, so they are discarded rather than lost
  // with the sockets they carry when the thread exits.
  while (SleepEx(0, TRUE) == WAIT_IO_COMPLETION) {
  }
  return 0;
}

void CThreadCapture::RequestStop() {
  m_stopRequested = true;
  m_capture->ClearRunFlag();
}

CThreadWorker::CThreadWorker(IJobWorkerHost* manager, CGrowArray<JobItem*>* queue)
    : m_wake(CreateEventW(nullptr, FALSE, FALSE, nullptr)), m_manager(manager), m_queue(queue) {}

uint32_t CThreadWorker::Run() {
  if (!m_wake.valid()) return 0;
  while (!m_stopRequested) {
    switch (WaitForSingleObjectEx(m_wake.get(), INFINITE, TRUE)) {
      case WAIT_OBJECT_0:
        RunQueuedJobs();
        break;
      case WAIT_FAILED:
        // Waiting again would only spin.
        DebugTraceA("CThreadWorker::Run, 1, wait failed, %lu", GetLastError());
        return 0;
      default:
        // WAIT_IO_COMPLETION: the loop condition sees whether it was the stop.
        break;
    }
  }
  return 0;
}

void CThreadWorker::RequestStop() { m_stopRequested = true; }

void CThreadWorker::RunQueuedJobs() {
  // The wake event is auto-reset: jobs posted while one runs were signalled
  // only once, so the queue is drained whole. A stop leaves the rest queued
  // for the manager to delete.
  while (!m_stopRequested) {
    JobItem* job = m_manager->PopJob(m_queue);
    if (!job) return;
    if (!m_manager->NotifyJob(kNotifyJobStarted, job)) {
      // Out of the running list before it is deleted: the window's progress
      // timer reads the running jobs from another thread.
      m_manager->RemoveRunning(job);
      m_manager->DeleteJob(job);
      continue;
    }
    m_manager->RunJob(job);
    m_manager->RemoveRunning(job);
    if (!m_manager->NotifyJob(kNotifyJobFinished, job)) m_manager->DeleteJob(job);
  }
}
