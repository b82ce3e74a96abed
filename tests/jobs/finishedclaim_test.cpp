// A finished-job notice is the window's to claim exactly once, and only for a
// job this manager handed over: a WM_APP any other process posts carries a
// value the window must never report or delete.
#include <gtest/gtest.h>

#include "jobs/JobMgr.h"
#include "jobs/LocalJobs.h"

namespace {

class IdleJob : public JobItem {
 public:
  IdleJob() : JobItem(IDS_JOB_OPENING, L"idle") {}
  void Run() override {}
  uint32_t GetPercent() override { return 0; }
};

// A manager with an owner window and no threads: only its notices are used.
class NoThreadMgr : public CJobMgr {
 public:
  NoThreadMgr() {
    SetPostFunctions(&Post, &NoSleep);
    Start(nullptr, reinterpret_cast<HWND>(1), 0);
  }

 protected:
  int StartThread(CThreadBase*) override { return 0; }
  static BOOL WINAPI Post(HWND, UINT, WPARAM, LPARAM);
  static void WINAPI NoSleep(DWORD) {}
};

BOOL g_postResult = TRUE;
BOOL WINAPI NoThreadMgr::Post(HWND, UINT, WPARAM, LPARAM) { return g_postResult; }

TEST(FinishedClaim, OnlyHandedOverJobsAreClaimedAndOnlyOnce) {
  NoThreadMgr manager;
  IdleJob handed, started, refused, stranger;

  g_postResult = TRUE;
  ASSERT_EQ(manager.NotifyJob(kNotifyJobFinished, &handed), 1);
  ASSERT_EQ(manager.NotifyJob(kNotifyJobStarted, &started), 1);
  g_postResult = FALSE;
  EXPECT_EQ(manager.NotifyJob(kNotifyJobFinished, &refused), 0);
  g_postResult = TRUE;

  EXPECT_FALSE(manager.TakeFinishedJob(&stranger));
  EXPECT_FALSE(manager.TakeFinishedJob(nullptr));
  EXPECT_FALSE(manager.TakeFinishedJob(&started));  // a progress notice hands nothing over
  EXPECT_FALSE(manager.TakeFinishedJob(&refused));  // its post failed: the worker deletes it
  EXPECT_TRUE(manager.TakeFinishedJob(&handed));
  EXPECT_FALSE(manager.TakeFinishedJob(&handed));  // a repeated notice deletes nothing twice
}

TEST(FinishedClaim, StopForgetsUnclaimedNotices) {
  NoThreadMgr manager;
  IdleJob handed;
  g_postResult = TRUE;
  ASSERT_EQ(manager.NotifyJob(kNotifyJobFinished, &handed), 1);
  manager.Stop();
  EXPECT_FALSE(manager.TakeFinishedJob(&handed));
}

}  // namespace
