#include "jobs/Threads.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "tests/jobs/JobTestKit.h"

namespace {

// A second handle to a thread, so that its exit code can be read after the
// thread object has closed its own.
class ThreadWatch {
 public:
  explicit ThreadWatch(HANDLE thread) {
    if (thread) {
      DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &m_handle, 0, FALSE, DUPLICATE_SAME_ACCESS);
    }
  }
  ~ThreadWatch() {
    if (m_handle) CloseHandle(m_handle);
  }
  ThreadWatch(const ThreadWatch&) = delete;
  ThreadWatch& operator=(const ThreadWatch&) = delete;
  bool WaitEnded(DWORD ms = 10000) const { return WaitForSingleObject(m_handle, ms) == WAIT_OBJECT_0; }
  DWORD ExitCode() const {
    DWORD code = 0;
    return GetExitCodeThread(m_handle, &code) ? code : 0xDEADBEEF;
  }
  DWORD Id() const { return GetThreadId(m_handle); }

 private:
  HANDLE m_handle = nullptr;
};

// A thread body made of steps the test picks.
class StubThread : public CThreadBase {
 public:
  enum class Body { Return, WaitNonAlertable, WaitAlertableOnce, Throw };

  StubThread(Body body, uint32_t result = 0, HANDLE hold = nullptr) : m_body(body), m_result(result), m_hold(hold) {}
  ~StubThread() override { Stop(kThreadStopTimeoutMs); }

  TestEvent entered;
  LONG stopRequests = 0;

 protected:
  uint32_t Run() override {
    entered.Set();
    switch (m_body) {
      case Body::Return:
        break;
      case Body::WaitNonAlertable:
        WaitForSingleObject(m_hold, INFINITE);
        break;
      case Body::WaitAlertableOnce:
        WaitForSingleObjectEx(m_hold, INFINITE, TRUE);
        break;
      case Body::Throw:
        throw std::bad_alloc();
    }
    return m_result;
  }
  void RequestStop() override { InterlockedIncrement(&stopRequests); }

 private:
  Body m_body;
  uint32_t m_result;
  HANDLE m_hold;
};

TEST(ThreadBase, StopWithoutThreadReturnsAtOnceAndQueuesNothing) {
  StubThread thread(StubThread::Body::Return);
  EXPECT_EQ(thread.Stop(kThreadStopTimeoutMs), 1);
  EXPECT_EQ(thread.Handle(), nullptr);
  EXPECT_EQ(thread.stopRequests, 0);
}

TEST(ThreadBase, StopAfterTheBodyEndedKeepsItsExitCode) {
  StubThread thread(StubThread::Body::Return, 5);
  ASSERT_EQ(thread.Start(), 1);
  const ThreadWatch watch(thread.Handle());
  ASSERT_TRUE(watch.WaitEnded());
  EXPECT_EQ(thread.Stop(kThreadStopTimeoutMs), 1);
  EXPECT_EQ(thread.Handle(), nullptr);
  EXPECT_EQ(watch.ExitCode(), 5u);
  EXPECT_EQ(thread.stopRequests, 0);
  EXPECT_EQ(thread.Stop(kThreadStopTimeoutMs), 1);
}

TEST(ThreadBase, StopApcRunsOnTheThreadAndEndsItsAlertableWait) {
  const TestEvent hold;
  StubThread thread(StubThread::Body::WaitAlertableOnce, 0, hold.get());
  ASSERT_EQ(thread.Start(), 1);
  const ThreadWatch watch(thread.Handle());
  ASSERT_TRUE(thread.entered.WaitSet());
  EXPECT_EQ(thread.Stop(kThreadStopTimeoutMs), 1);
  EXPECT_EQ(thread.stopRequests, 1);
  EXPECT_EQ(watch.ExitCode(), 0u);
}

// Takes the full time-out once.
TEST(ThreadBase, ThreadThatIgnoresTheStopIsTerminatedWithCode13) {
  const TestEvent hold;
  StubThread thread(StubThread::Body::WaitNonAlertable, 0, hold.get());
  ASSERT_EQ(thread.Start(), 1);
  const ThreadWatch watch(thread.Handle());
  ASSERT_TRUE(thread.entered.WaitSet());
  EXPECT_EQ(thread.Stop(kThreadStopTimeoutMs), 0);
  EXPECT_EQ(thread.Handle(), nullptr);
  // Stop has waited for the termination itself: the thread is gone already.
  EXPECT_TRUE(watch.WaitEnded(0));
  EXPECT_EQ(watch.ExitCode(), kThreadTerminatedExitCode);
  EXPECT_EQ(thread.stopRequests, 0);
}

TEST(ThreadBase, SecondStartWhileRunningIsRefused) {
  const TestEvent hold;
  StubThread thread(StubThread::Body::WaitAlertableOnce, 0, hold.get());
  ASSERT_EQ(thread.Start(), 1);
  const HANDLE first = thread.Handle();
  EXPECT_EQ(thread.Start(), 0);
  EXPECT_EQ(thread.Handle(), first);
  ASSERT_TRUE(thread.entered.WaitSet());
  EXPECT_EQ(thread.Stop(kThreadStopTimeoutMs), 1);
}

TEST(ThreadBase, ExceptionFromTheBodyEndsOnlyThatThread) {
  StubThread thread(StubThread::Body::Throw);
  ASSERT_EQ(thread.Start(), 1);
  const ThreadWatch watch(thread.Handle());
  ASSERT_TRUE(watch.WaitEnded());
  EXPECT_EQ(watch.ExitCode(), kThreadFailedExitCode);
  EXPECT_EQ(thread.Stop(kThreadStopTimeoutMs), 1);
}

// A capture store whose loop waits alertably the way the real one does.
class FakeCapture : public ICaptureStore {
 public:
  TestEvent loopStarted;
  TestEvent loopEnded;
  TestEvent idle;  // never set: the loop only wakes for APCs
  DWORD loopThread = 0;

  void CaptureLoop() override {
    loopThread = GetCurrentThreadId();
    m_run = 1;
    loopStarted.Set();
    while (m_run) WaitForSingleObjectEx(idle.get(), INFINITE, TRUE);
    loopEnded.Set();
  }
  void ClearRunFlag() override { m_run = 0; }
  void OnControl(CaptureControlItem* item) override { FreeCaptureItem(item); }

 private:
  volatile LONG m_run = 0;
};

TEST(ThreadCapture, RunsTheLoopAndStopClearsTheRunFlag) {
  FakeCapture capture;
  CThreadCapture thread(nullptr, &capture);
  ASSERT_EQ(thread.Start(), 1);
  const ThreadWatch watch(thread.Handle());
  ASSERT_TRUE(capture.loopStarted.WaitSet());
  EXPECT_EQ(capture.loopThread, watch.Id());
  EXPECT_EQ(thread.Stop(kThreadStopTimeoutMs), 1);
  EXPECT_TRUE(capture.loopEnded.WaitSet(0));
  EXPECT_EQ(watch.ExitCode(), 0u);
}

// A stop queued at once may run on the new thread before its body starts
// (user APCs queued to a thread that has not run yet are delivered when it
// starts). The request must not be lost, or the thread is terminated.
TEST(ThreadCapture, StopRightAfterStartIsNotLost) {
  FakeCapture capture;
  CThreadCapture thread(nullptr, &capture);
  ASSERT_EQ(thread.Start(), 1);
  const ThreadWatch watch(thread.Handle());
  EXPECT_EQ(thread.Stop(kThreadStopTimeoutMs), 1);
  EXPECT_EQ(watch.ExitCode(), 0u);
}

// Jobs of the test; the worker sees them only as opaque JobItem pointers.
struct FakeJob {
  int id = 0;
  HANDLE started = nullptr;  // set when the job begins to run
  HANDLE release = nullptr;  // the job waits for it before it ends
  bool alertable = false;    // ... alertably, as a network job does
};

JobItem* AsItem(FakeJob* job) { return reinterpret_cast<JobItem*>(job); }
FakeJob* AsFake(JobItem* job) { return reinterpret_cast<FakeJob*>(job); }

// The job manager's side of one queue: a locked CGrowArray as the real one
// is, and a log of every call in the order the worker made them.
class FakeHost : public IJobWorkerHost {
 public:
  FakeHost() { InitializeCriticalSection(&m_lock); }
  ~FakeHost() {
    DeleteCriticalSection(&m_lock);
    queue.Free();
  }

  void Add(FakeJob* job) {
    EnterCriticalSection(&m_lock);
    queue.Append(AsItem(job));
    LeaveCriticalSection(&m_lock);
  }
  std::vector<std::string> Log() {
    EnterCriticalSection(&m_lock);
    std::vector<std::string> copy = m_log;
    LeaveCriticalSection(&m_lock);
    return copy;
  }
  size_t Queued() {
    EnterCriticalSection(&m_lock);
    const size_t count = queue.count;
    LeaveCriticalSection(&m_lock);
    return count;
  }

  JobItem* PopJob(CGrowArray<JobItem*>* from) override {
    EnterCriticalSection(&m_lock);
    JobItem* job = nullptr;
    if (from == &queue && from->count) {
      job = (*from)[0];
      from->RemoveAt(0);
      ++m_running;
    }
    LeaveCriticalSection(&m_lock);
    return job;
  }
  int NotifyJob(uint32_t code, JobItem* job) override {
    const bool refuse = code == refuseCode && AsFake(job)->id == refuseJob;
    Record((refuse ? "refused " : "notify ") + std::to_string(code) + " " + Id(job));
    return refuse ? 0 : 1;
  }
  void RunJob(JobItem* item) override {
    FakeJob* job = AsFake(item);
    Record("run " + Id(item));
    if (job->started) SetEvent(job->started);
    if (job->release) {
      const DWORD result = WaitForSingleObjectEx(job->release, INFINITE, job->alertable ? TRUE : FALSE);
      if (result == WAIT_IO_COMPLETION) Record("cut " + Id(item));
    }
  }
  void RemoveRunning(JobItem* job) override {
    EnterCriticalSection(&m_lock);
    --m_running;
    LeaveCriticalSection(&m_lock);
    Record("remove " + Id(job));
  }
  void DeleteJob(JobItem* job) override {
    EnterCriticalSection(&m_lock);
    const bool listed = m_running > 0;
    LeaveCriticalSection(&m_lock);
    Record((listed ? "delete-listed " : "delete ") + Id(job));
  }

  CGrowArray<JobItem*> queue;
  uint32_t refuseCode = 0xFFFFFFFF;
  int refuseJob = -1;
  // Set once the log has this many entries.
  size_t doneAt = 0;
  TestEvent done;

 private:
  static std::string Id(JobItem* job) { return std::to_string(AsFake(job)->id); }
  void Record(const std::string& entry) {
    EnterCriticalSection(&m_lock);
    m_log.push_back(entry);
    const bool reached = doneAt && m_log.size() == doneAt;
    LeaveCriticalSection(&m_lock);
    if (reached) done.Set();
  }

  CRITICAL_SECTION m_lock;
  std::vector<std::string> m_log;
  int m_running = 0;
};

TEST(ThreadWorker, RunsSignalledJobsInOrderAndStopsWhenIdle) {
  FakeHost host;
  CThreadWorker worker(&host, &host.queue);
  ASSERT_TRUE(worker.HasWakeEvent());
  ASSERT_EQ(worker.Start(), 1);
  const ThreadWatch watch(worker.Handle());
  FakeJob a{1}, b{2};
  host.doneAt = 8;
  host.Add(&a);
  host.Add(&b);
  SetEvent(worker.WakeEvent());
  ASSERT_TRUE(host.done.WaitSet());
  EXPECT_EQ(host.Log(), (std::vector<std::string>{"notify 10 1", "run 1", "remove 1", "notify 11 1", "notify 10 2",
                                                  "run 2", "remove 2", "notify 11 2"}));
  EXPECT_EQ(worker.Stop(kThreadStopTimeoutMs), 1);
  EXPECT_EQ(watch.ExitCode(), 0u);
}

TEST(ThreadWorker, StopRightAfterStartIsNotLost) {
  FakeHost host;
  CThreadWorker worker(&host, &host.queue);
  ASSERT_EQ(worker.Start(), 1);
  const ThreadWatch watch(worker.Handle());
  EXPECT_EQ(worker.Stop(kThreadStopTimeoutMs), 1);
  EXPECT_EQ(watch.ExitCode(), 0u);
}

TEST(ThreadWorker, JobsAddedDuringALongJobRunAfterItWithoutAnotherSignal) {
  FakeHost host;
  CThreadWorker worker(&host, &host.queue);
  ASSERT_EQ(worker.Start(), 1);
  const TestEvent started, release;
  FakeJob longJob{0, started.get(), release.get()};
  FakeJob more[5] = {{1}, {2}, {3}, {4}, {5}};
  host.doneAt = 4 * 6;
  host.Add(&longJob);
  SetEvent(worker.WakeEvent());
  ASSERT_TRUE(started.WaitSet());
  for (FakeJob& job : more) host.Add(&job);
  release.Set();
  ASSERT_TRUE(host.done.WaitSet());
  std::vector<std::string> runs;
  for (const std::string& entry : host.Log()) {
    if (entry.rfind("run ", 0) == 0) runs.push_back(entry);
  }
  EXPECT_EQ(runs, (std::vector<std::string>{"run 0", "run 1", "run 2", "run 3", "run 4", "run 5"}));
  EXPECT_EQ(worker.Stop(kThreadStopTimeoutMs), 1);
}

TEST(ThreadWorker, RefusedNoticesLeaveTheRunningListBeforeTheJobIsDeleted) {
  struct Case {
    uint32_t refuseCode;
    std::vector<std::string> log;
  };
  const Case cases[] = {
      {kNotifyJobStarted, {"refused 10 1", "remove 1", "delete 1", "notify 10 2", "run 2", "remove 2", "notify 11 2"}},
      {kNotifyJobFinished,
       {"notify 10 1", "run 1", "remove 1", "refused 11 1", "delete 1", "notify 10 2", "run 2", "remove 2",
        "notify 11 2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.refuseCode);
    FakeHost host;
    host.refuseCode = c.refuseCode;
    host.refuseJob = 1;
    host.doneAt = c.log.size();
    CThreadWorker worker(&host, &host.queue);
    ASSERT_EQ(worker.Start(), 1);
    FakeJob a{1}, b{2};
    host.Add(&a);
    host.Add(&b);
    SetEvent(worker.WakeEvent());
    ASSERT_TRUE(host.done.WaitSet());
    EXPECT_EQ(host.Log(), c.log);
    EXPECT_EQ(worker.Stop(kThreadStopTimeoutMs), 1);
  }
}

// The stop APC lands in the job's own alertable wait. The worker must still
// end by itself, without running the next queued job and without being
// terminated.
TEST(ThreadWorker, StopTakenByAJobsOwnWaitStillEndsTheWorker) {
  FakeHost host;
  CThreadWorker worker(&host, &host.queue);
  ASSERT_EQ(worker.Start(), 1);
  const ThreadWatch watch(worker.Handle());
  const TestEvent started, never;
  FakeJob waiting{1, started.get(), never.get(), true};
  FakeJob next{2};
  host.Add(&waiting);
  host.Add(&next);
  SetEvent(worker.WakeEvent());
  ASSERT_TRUE(started.WaitSet());
  EXPECT_EQ(worker.Stop(kThreadStopTimeoutMs), 1);
  EXPECT_EQ(watch.ExitCode(), 0u);
  EXPECT_EQ(host.Log(), (std::vector<std::string>{"notify 10 1", "run 1", "cut 1", "remove 1", "notify 11 1"}));
  EXPECT_EQ(host.Queued(), 1u);
}

}  // namespace
