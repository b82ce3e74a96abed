#include "jobs/JobMgr.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "jobs/LocalJobs.h"
#include "tests/jobs/JobTestKit.h"

namespace {

// --- A recording window stand-in ------------------------------------------
// Posting goes through a plain function pointer, so what it records lives
// here. It plays the window: a job handed over with code 11 is deleted.

std::mutex g_logLock;
std::vector<std::string> g_log;
std::map<std::string, int> g_deleted;
CJobMgr* g_manager = nullptr;
std::string g_refuseStarted;   // name of a job whose code 10 is refused
std::string g_refuseFinished;  // name of a job whose code 11 is refused
HANDLE g_finishedEvent = nullptr;
LONG g_finishedWanted = 0;

void Log(const std::string& line) {
  const std::lock_guard<std::mutex> lock(g_logLock);
  g_log.push_back(line);
}

std::vector<std::string> LogFor(const std::string& name) {
  const std::lock_guard<std::mutex> lock(g_logLock);
  std::vector<std::string> lines;
  for (const std::string& line : g_log) {
    if (line.size() > name.size() && line.compare(line.size() - name.size(), name.size(), name) == 0 &&
        line[line.size() - name.size() - 1] == ' ') {
      lines.push_back(line);
    }
  }
  return lines;
}

class ProbeJob : public JobItem {
 public:
  ProbeJob(const char* name, HANDLE hold = nullptr)
      : JobItem(IDS_JOB_OPENING, std::wstring(name, name + strlen(name)).c_str()), m_name(name), m_hold(hold) {}
  ~ProbeJob() override {
    Log(std::string(g_manager && g_manager->IsRunning(this) ? "deleted-while-running " : "deleted ") + m_name);
    const std::lock_guard<std::mutex> lock(g_logLock);
    ++g_deleted[m_name];
  }
  void Run() override {
    Log(std::string(g_manager->IsRunning(this) ? "run " : "run-unlisted ") + m_name);
    entered.Set();
    if (m_hold) WaitForSingleObject(m_hold, INFINITE);
  }
  uint32_t GetPercent() override { return percent; }

  const std::string& Name() const { return m_name; }
  TestEvent entered;
  std::atomic<uint32_t> percent{0};

 private:
  std::string m_name;
  HANDLE m_hold;
};

BOOL WINAPI RecordingPost(HWND, UINT message, WPARAM code, LPARAM value) {
  auto* job = reinterpret_cast<ProbeJob*>(value);
  if (message != ThreadsNotify || !job) return FALSE;
  const bool listed = g_manager->IsRunning(job);
  if (code == kNotifyJobStarted && job->Name() == g_refuseStarted) return FALSE;
  if (code == kNotifyJobFinished && job->Name() == g_refuseFinished) return FALSE;
  Log(std::to_string(code) + (listed ? " listed " : " unlisted ") + job->Name());
  if (code == kNotifyJobFinished) {
    delete job;
    if (InterlockedDecrement(&g_finishedWanted) == 0) SetEvent(g_finishedEvent);
  }
  return TRUE;
}

void WINAPI NoSleep(DWORD) {}

// A manager whose thread starts can fail and whose stops can be watched.
class TestMgr : public CJobMgr {
 public:
  bool failWorkerStart = false;
  int captureStarts = 0;
  HANDLE releaseOnStop = nullptr;  // set as the first thread is stopped

 protected:
  int StartThread(CThreadBase* thread) override {
    if (dynamic_cast<CThreadCapture*>(thread)) ++captureStarts;
    if (failWorkerStart && dynamic_cast<CThreadWorker*>(thread)) return 0;
    return CJobMgr::StartThread(thread);
  }
  void StopThread(CThreadBase* thread) override {
    if (releaseOnStop) SetEvent(releaseOnStop);
    CJobMgr::StopThread(thread);
  }
};

class JobMgrTest : public testing::Test {
 protected:
  void SetUp() override {
    g_log.clear();
    g_deleted.clear();
    g_refuseStarted.clear();
    g_refuseFinished.clear();
    g_finishedEvent = finished.get();
    g_manager = &manager;
    manager.SetPostFunctions(RecordingPost, NoSleep);
  }
  void TearDown() override {
    manager.Stop();
    g_manager = nullptr;
  }
  void ExpectFinished(LONG count) { g_finishedWanted = count; }
  void StartWithLocalWorker() {
    const HWND fakeOwner = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(0x1000));
    ASSERT_EQ(manager.Start(&capture, fakeOwner, 1), 1);
  }
  int Deleted(const std::string& name) {
    const std::lock_guard<std::mutex> lock(g_logLock);
    return g_deleted[name];
  }

  TestEvent finished;
  IdleCapture capture;
  TestMgr manager;
};

using Lines = std::vector<std::string>;

TEST_F(JobMgrTest, LocalJobsRunInOrderWhileARemoteJobOverlaps) {
  StartWithLocalWorker();
  ExpectFinished(4);
  const TestEvent hold;
  auto* first = new ProbeJob("A", hold.get());
  ASSERT_EQ(manager.PostLocalJob(first), 1);
  ASSERT_TRUE(first->entered.WaitSet());
  ASSERT_EQ(manager.PostLocalJob(new ProbeJob("B")), 1);
  ASSERT_EQ(manager.PostLocalJob(new ProbeJob("C")), 1);
  // The remote job runs to its end while A still holds the local worker.
  auto* remote = new ProbeJob("R");
  ASSERT_EQ(manager.PostRemoteJob(remote), 1);
  ASSERT_TRUE(remote->entered.WaitSet());
  EXPECT_TRUE(LogFor("B").empty());
  hold.Set();
  ASSERT_TRUE(finished.WaitSet());

  for (const char* name : {"A", "B", "C", "R"}) {
    SCOPED_TRACE(name);
    // Code 10 while listed, then the run, then code 11 once unlisted, then
    // the window's delete.
    EXPECT_EQ(LogFor(name), (Lines{std::string("10 listed ") + name, std::string("run ") + name,
                                   std::string("11 unlisted ") + name, std::string("deleted ") + name}));
    EXPECT_EQ(Deleted(name), 1);
  }
  // Strict order on the local worker: each job ends before the next starts.
  Lines local;
  {
    const std::lock_guard<std::mutex> lock(g_logLock);
    for (const std::string& line : g_log) {
      if (line.back() != 'R') local.push_back(line);
    }
  }
  EXPECT_EQ(local, (Lines{"10 listed A", "run A", "11 unlisted A", "deleted A", "10 listed B", "run B",
                          "11 unlisted B", "deleted B", "10 listed C", "run C", "11 unlisted C", "deleted C"}));
}

TEST_F(JobMgrTest, StartedNoticeRefusedMeansNotRunAndDeletedOnceUnlisted) {
  StartWithLocalWorker();
  g_refuseStarted = "X";
  ExpectFinished(1);
  ASSERT_EQ(manager.PostLocalJob(new ProbeJob("X")), 1);
  ASSERT_EQ(manager.PostLocalJob(new ProbeJob("Y")), 1);
  ASSERT_TRUE(finished.WaitSet());
  EXPECT_EQ(LogFor("X"), (Lines{"deleted X"}));
  EXPECT_EQ(Deleted("X"), 1);
  EXPECT_EQ(LogFor("Y"), (Lines{"10 listed Y", "run Y", "11 unlisted Y", "deleted Y"}));
}

TEST_F(JobMgrTest, FinishedNoticeRefusedMeansTheWorkerDeletesTheJobOnce) {
  StartWithLocalWorker();
  g_refuseFinished = "X";
  ExpectFinished(1);
  ASSERT_EQ(manager.PostLocalJob(new ProbeJob("X")), 1);
  ASSERT_EQ(manager.PostLocalJob(new ProbeJob("Y")), 1);
  ASSERT_TRUE(finished.WaitSet());
  EXPECT_EQ(LogFor("X"), (Lines{"10 listed X", "run X", "deleted X"}));
  EXPECT_EQ(Deleted("X"), 1);
  EXPECT_EQ(Deleted("Y"), 1);
}

TEST_F(JobMgrTest, StopWithQueuedJobsRunsNoneAndDeletesEach) {
  StartWithLocalWorker();
  const TestEvent hold;
  auto* first = new ProbeJob("A", hold.get());
  ASSERT_EQ(manager.PostLocalJob(first), 1);
  ASSERT_TRUE(first->entered.WaitSet());
  ASSERT_EQ(manager.PostLocalJob(new ProbeJob("B")), 1);
  ASSERT_EQ(manager.PostRemoteJob(new ProbeJob("Q", hold.get())), 1);
  ASSERT_EQ(manager.PostLocalJob(new ProbeJob("C")), 1);
  // A ends only once Stop has begun: B and C must not start after it.
  manager.releaseOnStop = hold.get();
  g_finishedWanted = 100;
  manager.Stop();
  EXPECT_EQ(LogFor("A"), (Lines{"10 listed A", "run A", "11 unlisted A", "deleted A"}));
  for (const char* name : {"B", "C"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(LogFor(name), (Lines{std::string("deleted ") + name}));
    EXPECT_EQ(Deleted(name), 1);
  }
  // The remote job was running (held) or queued; either way it is gone once.
  EXPECT_EQ(Deleted("Q"), 1);
  // Nothing can be posted to a stopped manager; the job is not leaked.
  EXPECT_EQ(manager.PostLocalJob(new ProbeJob("late")), 0);
  EXPECT_EQ(Deleted("late"), 1);
}

TEST_F(JobMgrTest, RemoteWorkerThatCannotStartFailsThePost) {
  StartWithLocalWorker();
  manager.failWorkerStart = true;
  EXPECT_EQ(manager.PostRemoteJob(new ProbeJob("R1")), 0);
  EXPECT_EQ(Deleted("R1"), 1);
  EXPECT_EQ(manager.EnsureRemoteWorker(), 0);
  // Made on the next post that can start it.
  manager.failWorkerStart = false;
  ExpectFinished(1);
  ASSERT_EQ(manager.PostRemoteJob(new ProbeJob("R2")), 1);
  ASSERT_TRUE(finished.WaitSet());
  EXPECT_EQ(LogFor("R2"), (Lines{"10 listed R2", "run R2", "11 unlisted R2", "deleted R2"}));
}

TEST_F(JobMgrTest, LocalWorkerThatCannotStartFailsStart) {
  manager.failWorkerStart = true;
  const HWND fakeOwner = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(0x1000));
  EXPECT_EQ(manager.Start(&capture, fakeOwner, 1), 0);
  EXPECT_EQ(manager.captureStarts, 0);
  EXPECT_EQ(manager.PostLocalJob(new ProbeJob("L")), 0);
  EXPECT_EQ(Deleted("L"), 1);
}

TEST_F(JobMgrTest, QueueKeepsPostingOrderAndARefusedNoticeDeletesTheJobUnlisted) {
  StartWithLocalWorker();
  CGrowArray<JobItem*> queue;
  const TestEvent wake(FALSE);
  ASSERT_EQ(manager.PostJob(new ProbeJob("a"), &queue, wake.get()), 1);
  ASSERT_EQ(manager.PostJob(new ProbeJob("b"), &queue, wake.get()), 1);
  EXPECT_TRUE(wake.WaitSet(0));
  JobItem* a = manager.PopJob(&queue);
  JobItem* b = manager.PopJob(&queue);
  EXPECT_EQ(manager.PopJob(&queue), nullptr);
  ASSERT_TRUE(a && b);
  EXPECT_TRUE(manager.IsRunning(a));
  EXPECT_TRUE(manager.IsRunning(b));
  g_refuseStarted = "a";
  EXPECT_EQ(manager.Notify(kNotifyJobStarted, a), 0);
  EXPECT_EQ(LogFor("a"), (Lines{"deleted a"}));
  EXPECT_EQ(manager.Notify(kNotifyJobStarted, b), 1);
  manager.RemoveRunning(b);
  g_finishedWanted = 100;
  EXPECT_EQ(manager.Notify(kNotifyJobFinished, b), 1);
  EXPECT_EQ(LogFor("b"), (Lines{"10 listed b", "11 unlisted b", "deleted b"}));
  queue.Free();
}

TEST_F(JobMgrTest, ProgressTextTable) {
  StartWithLocalWorker();
  CString text(L"untouched");
  uint32_t percent = 7;
  EXPECT_EQ(manager.GetProgressText(text, &percent), 0u);
  EXPECT_STREQ(text.c_str(), L"untouched");
  EXPECT_EQ(percent, 7u);

  // One running, two queued: the single form, without a count.
  const TestEvent holdLocal;
  const TestEvent holdRemote;
  auto* a = new ProbeJob("a.ktr", holdLocal.get());
  a->percent = 40;
  ASSERT_EQ(manager.PostLocalJob(a), 1);
  ASSERT_TRUE(a->entered.WaitSet());
  ASSERT_EQ(manager.PostLocalJob(new ProbeJob("b.ktr")), 1);
  ASSERT_EQ(manager.PostLocalJob(new ProbeJob("c.ktr")), 1);
  EXPECT_EQ(manager.GetProgressText(text, &percent), 1u);
  EXPECT_STREQ(text.c_str(), L"[Opening \"a.ktr\", 40% completed]");
  EXPECT_EQ(percent, 40u);

  // Two running (local, then remote) and two queued: numbered pieces.
  auto* r = new ProbeJob("r%s.ktr", holdRemote.get());
  r->percent = 5;
  ASSERT_EQ(manager.PostRemoteJob(r), 1);
  ASSERT_TRUE(r->entered.WaitSet());
  EXPECT_EQ(manager.GetProgressText(text, &percent), 2u);
  EXPECT_STREQ(text.c_str(),
               L"[1 of 4 : Opening \"a.ktr\", 40% completed][2 of 4 : Opening \"r%s.ktr\", 5% completed]");
  EXPECT_EQ(percent, 0xFFFFFFFFu);

  ExpectFinished(4);
  holdLocal.Set();
  holdRemote.Set();
  ASSERT_TRUE(finished.WaitSet());
}

// A title that changes while the window's timer reads progress texts.
class RetitlingJob : public JobItem {
 public:
  explicit RetitlingJob(HANDLE done) : JobItem(IDS_JOB_OPENING, L"first"), m_done(done) {}
  void Run() override {
    for (int i = 0; i < 2000; ++i) SetTitle(i % 2 ? IDS_JOB_OPENING : IDS_JOB_SAVING, L"a-longer-file-name.ktr");
    SetEvent(m_done);
  }
  uint32_t GetPercent() override { return 1; }

 private:
  HANDLE m_done;
};

BOOL WINAPI AcceptAndDeletePost(HWND, UINT, WPARAM code, LPARAM value) {
  if (code == kNotifyJobFinished) {
    delete reinterpret_cast<JobItem*>(value);
    SetEvent(g_finishedEvent);
  }
  return TRUE;
}

TEST_F(JobMgrTest, TitlesChangeSafelyWhileProgressIsRead) {
  StartWithLocalWorker();
  manager.SetPostFunctions(AcceptAndDeletePost, NoSleep);
  const TestEvent done;
  ASSERT_EQ(manager.PostLocalJob(new RetitlingJob(done.get())), 1);
  CString text;
  uint32_t percent = 0;
  while (!done.IsSet()) {
    if (manager.GetProgressText(text, &percent) == 1) {
      const bool known = text == L"[Opening \"first\", 1% completed]" ||
                         text == L"[Opening \"a-longer-file-name.ktr\", 1% completed]" ||
                         text == L"[Saving \"a-longer-file-name.ktr\", 1% completed]";
      ASSERT_TRUE(known) << text.c_str();
    }
  }
  ASSERT_TRUE(finished.WaitSet());
}

TEST_F(JobMgrTest, EnableCaptureNeverStartsASecondCaptureThread) {
  StartWithLocalWorker();
  ASSERT_TRUE(capture.looping.WaitSet());
  EXPECT_EQ(manager.EnableCapture(1), 1);
  EXPECT_EQ(manager.captureStarts, 1);
  EXPECT_EQ(capture.loops, 1);
  EXPECT_EQ(manager.EnableCapture(0), 1);
  EXPECT_EQ(manager.EnableCapture(0), 1);
  capture.Rearm();
  EXPECT_EQ(manager.EnableCapture(1), 1);
  EXPECT_EQ(manager.captureStarts, 2);
}

TEST_F(JobMgrTest, ControlItemsReachTheCaptureThreadOrAreFreedBySender) {
  // No capture thread yet: the item is refused and freed here.
  EXPECT_EQ(manager.QueueCaptureItem(NewCaptureItem(kCaptureItemLeaveRemote, nullptr)), 0);
  StartWithLocalWorker();
  ASSERT_TRUE(capture.looping.WaitSet());
  ASSERT_EQ(manager.QueueCaptureItem(NewCaptureItem(kCaptureItemLeaveRemote, nullptr)), 1);
  ASSERT_TRUE(capture.controlled.WaitSet());
  EXPECT_EQ(capture.lastKind, LONG(kCaptureItemLeaveRemote));
  EXPECT_NE(capture.controlThread, GetCurrentThreadId());
}

}  // namespace
