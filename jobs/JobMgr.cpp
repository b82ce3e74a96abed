// Threads, queues and notifications of the job manager.
#include "jobs/JobMgr.h"

#include <new>
#include <utility>

CJobMgr g_jobMgr;

namespace {

constexpr uint32_t kSeveralJobsPercent = 0xFFFFFFFF;

}  // namespace

CJobMgr::CJobMgr() : m_post(PostMessageW), m_sleep(Sleep) {}

CJobMgr::~CJobMgr() {
  Stop();
  m_localQueue.Free();
  m_remoteQueue.Free();
  m_running.Free();
}

int CJobMgr::Start(ICaptureStore* capture, HWND owner, int withLocalWorker) {
  {
    const CCriticalSectionGuard lock(m_lock);
    m_stopping = false;
  }
  m_capture = capture;
  m_owner = owner;
  if (withLocalWorker && !m_localWorker) {
    m_localWorker = CreateWorker(&m_localQueue);
    if (!m_localWorker) return 0;
  }
  return EnableCapture(1);
}

void CJobMgr::Stop() {
  {
    // Workers take no further job from here on: a queued job must not start
    // while its worker is being stopped.
    const CCriticalSectionGuard lock(m_lock);
    m_stopping = true;
  }
  CThreadBase* threads[] = {m_localWorker, m_remoteWorker, m_captureThread};
  m_localWorker = nullptr;
  m_remoteWorker = nullptr;
  m_captureThread = nullptr;
  for (CThreadBase* thread : threads) {
    if (!thread) continue;
    StopThread(thread);
    delete thread;
  }
  // Every thread is gone: nothing else touches the arrays now.
  DeleteQueued(m_localQueue);
  DeleteQueued(m_remoteQueue);
  DeleteQueued(m_running);
  // Notices still queued die with the window; their jobs are not ours to free.
  const CCriticalSectionGuard lock(m_lock);
  m_delivered.Clear();
}

void CJobMgr::DeleteQueued(CGrowArray<JobItem*>& jobs) {
  for (size_t i = 0; i < jobs.count; ++i) delete jobs[i];
  jobs.Clear();
}

int CJobMgr::EnableCapture(int enable) {
  if (!enable) {
    if (m_captureThread) {
      StopThread(m_captureThread);
      delete m_captureThread;
      m_captureThread = nullptr;
    }
    return 1;
  }
  if (!m_capture) return 0;
  if (m_captureThread) {
    // A capture thread whose loop has ended (its inputs failed to open) is
    // replaced; one still running is kept.
    if (WaitForSingleObject(m_captureThread->Handle(), 0) == WAIT_TIMEOUT) return 1;
    StopThread(m_captureThread);
    delete m_captureThread;
    m_captureThread = nullptr;
  }
  auto* thread = new (std::nothrow) CThreadCapture(this, m_capture);
  if (!thread) return 0;
  if (!StartThread(thread)) {
    delete thread;
    return 0;
  }
  m_captureThread = thread;
  return 1;
}

CThreadWorker* CJobMgr::CreateWorker(CGrowArray<JobItem*>* queue) {
  auto* worker = new (std::nothrow) CThreadWorker(this, queue);
  if (!worker) return nullptr;
  if (!worker->HasWakeEvent() || !StartThread(worker)) {
    delete worker;
    return nullptr;
  }
  return worker;
}

int CJobMgr::EnsureRemoteWorker() {
  if (m_remoteWorker) return 1;
  m_remoteWorker = CreateWorker(&m_remoteQueue);
  return m_remoteWorker ? 1 : 0;
}

int CJobMgr::QueueCaptureItem(CaptureControlItem* item) {
  if (!item) return 0;
  const HANDLE thread = m_captureThread ? m_captureThread->Handle() : nullptr;
  if (::QueueCaptureItem(thread, item)) return 1;
  DiscardCaptureItem(item);
  return 0;
}

int CJobMgr::PostJob(JobItem* job, CGrowArray<JobItem*>* queue, HANDLE wakeEvent) {
  if (!job) return 0;
  job->AttachManager(this);
  {
    const CCriticalSectionGuard lock(m_lock);
    if (!m_stopping && wakeEvent && queue->Append(job)) {
      SetEvent(wakeEvent);
      return 1;
    }
  }
  delete job;
  return 0;
}

int CJobMgr::PostLocalJob(JobItem* job) {
  if (!m_localWorker) {
    delete job;
    return 0;
  }
  return PostJob(job, &m_localQueue, m_localWorker->WakeEvent());
}

int CJobMgr::PostRemoteJob(JobItem* job) {
  if (!job) return 0;
  if (!EnsureRemoteWorker()) {
    delete job;
    return 0;
  }
  return PostJob(job, &m_remoteQueue, m_remoteWorker->WakeEvent());
}

JobItem* CJobMgr::PopJob(CGrowArray<JobItem*>* queue) {
  const CCriticalSectionGuard lock(m_lock);
  if (m_stopping || queue->count == 0) return nullptr;
  JobItem* job = (*queue)[0];
  queue->RemoveAt(0);
  // A job the running list cannot take still runs; it is only missing from
  // the progress text.
  m_running.Append(job);
  return job;
}

void CJobMgr::RemoveRunning(JobItem* job) {
  const CCriticalSectionGuard lock(m_lock);
  m_running.Remove(job);
}

bool CJobMgr::IsRunning(const JobItem* job) {
  const CCriticalSectionGuard lock(m_lock);
  for (size_t i = 0; i < m_running.count; ++i) {
    if (m_running[i] == job) return true;
  }
  return false;
}

int CJobMgr::NotifyJob(uint32_t code, JobItem* job) {
  if (code != kNotifyJobFinished) {
    return PostStatus(m_owner, code, reinterpret_cast<LPARAM>(job), m_post, m_sleep);
  }
  // Listed before the post: the window may claim it before PostStatus returns.
  {
    const CCriticalSectionGuard lock(m_lock);
    if (!m_delivered.Append(job)) return 0;
  }
  if (PostStatus(m_owner, code, reinterpret_cast<LPARAM>(job), m_post, m_sleep)) return 1;
  const CCriticalSectionGuard lock(m_lock);
  m_delivered.Remove(job);
  return 0;
}

bool CJobMgr::TakeFinishedJob(const JobItem* job) {
  const CCriticalSectionGuard lock(m_lock);
  return job != nullptr && m_delivered.Remove(job) != nullptr;
}

void CJobMgr::RunJob(JobItem* job) {
  try {
    job->Run();
  } catch (...) {
    // A job's failure is a result; one that throws still reaches the window.
    DebugTraceA("CJobMgr::RunJob, 1, job %u threw", job->TitleId());
    job->SetFailed(0);
  }
}

void CJobMgr::DeleteJob(JobItem* job) { delete job; }

int CJobMgr::Notify(uint32_t code, JobItem* job) {
  if (NotifyJob(code, job)) return 1;
  RemoveRunning(job);
  DeleteJob(job);
  return 0;
}

void CJobMgr::ReplaceTitle(JobItem* job, CString& title) {
  const CCriticalSectionGuard lock(m_lock);
  std::swap(job->m_title, title);
}

uint32_t CJobMgr::GetProgressText(CString& text, uint32_t* percent) {
  const CCriticalSectionGuard lock(m_lock);
  const size_t running = m_running.count;
  if (running == 0) return 0;
  if (running == 1) {
    JobItem* job = m_running[0];
    const uint32_t value = job->GetPercent();
    text.Format(L"[%s, %u%% completed]", job->m_title.c_str(), value);
    if (percent) *percent = value;
    return 1;
  }
  const size_t total = m_localQueue.count + m_remoteQueue.count + running;
  CString all;
  CString piece;
  for (size_t i = 0; i < running; ++i) {
    JobItem* job = m_running[i];
    piece.Format(L"[%u of %u : %s, %u%% completed]", uint32_t(i + 1), uint32_t(total), job->m_title.c_str(),
                 job->GetPercent());
    all.Append(piece.c_str());
  }
  text = std::move(all);
  if (percent) *percent = kSeveralJobsPercent;
  return uint32_t(running);
}
