#include "core/RWLock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <ostream>
#include <utility>

namespace {

// Longest any step may take; reaching it means the lock hung.
constexpr DWORD kGuardMs = 5000;

constexpr int kShared = CRWLock::kModeShared;
constexpr int kExclusive = CRWLock::kModeExclusive;
constexpr int kWait = 1;
constexpr int kTry = 0;

class Handle {
 public:
  explicit Handle(HANDLE handle) : m_handle(handle) {}
  ~Handle() {
    if (m_handle) CloseHandle(m_handle);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return m_handle; }

 private:
  HANDLE m_handle;
};

// A thread that runs one step at a time on request, so a test can keep a
// lock held by it across steps and let it block while the test goes on.
class Worker {
 public:
  Worker()
      : m_go(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
        m_done(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        m_thread(CreateThread(nullptr, 0, &Worker::Main, this, 0, nullptr)) {}
  ~Worker() {
    Start(nullptr);
    // A thread still blocked means the test has already failed; do not hang on it.
    if (WaitForSingleObject(m_thread.get(), kGuardMs) != WAIT_OBJECT_0) TerminateThread(m_thread.get(), 1);
  }
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  void Start(std::function<int()> step) {
    m_step = std::move(step);
    ResetEvent(m_done.get());
    SetEvent(m_go.get());
  }

  // The started step's result, or -1 when it did not finish in time.
  int Finish(DWORD guardMs = kGuardMs) {
    if (WaitForSingleObject(m_done.get(), guardMs) != WAIT_OBJECT_0) {
      ADD_FAILURE() << "worker step did not finish";
      return -1;
    }
    return m_result;
  }

  int Run(std::function<int()> step) {
    Start(std::move(step));
    return Finish();
  }

 private:
  static DWORD WINAPI Main(void* self) {
    Worker* worker = static_cast<Worker*>(self);
    for (;;) {
      WaitForSingleObject(worker->m_go.get(), INFINITE);
      if (!worker->m_step) return 0;
      worker->m_result = worker->m_step();
      SetEvent(worker->m_done.get());
    }
  }

  Handle m_go;
  Handle m_done;
  std::function<int()> m_step;
  int m_result = 0;
  Handle m_thread;
};

// How the calling thread's wait on a hand-over semaphore behaves.
enum class WaitPlan {
  Real,           // waits on the semaphore
  FailAtOnce,     // fails before any hand-over
  FailAfterGate,  // fails once the test opens the gate, without taking its unit
  Probe,          // takes a unit only if one is already there, else fails
};

thread_local WaitPlan t_plan = WaitPlan::Real;

struct WaitScript {
  Handle registered{CreateSemaphoreW(nullptr, 0, 64, nullptr)};  // one unit per thread that started waiting
  Handle gate{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

DWORD ScriptedWait(void* context, HANDLE semaphore) {
  WaitScript* script = static_cast<WaitScript*>(context);
  ReleaseSemaphore(script->registered.get(), 1, nullptr);
  switch (t_plan) {
    case WaitPlan::FailAtOnce:
      return WAIT_FAILED;
    case WaitPlan::FailAfterGate:
      WaitForSingleObject(script->gate.get(), kGuardMs);
      return WAIT_FAILED;
    case WaitPlan::Probe:
      return WaitForSingleObject(semaphore, 0);
    case WaitPlan::Real:
      break;
  }
  return WaitForSingleObject(semaphore, INFINITE);
}

int ExpectedHeldState(int mode) { return mode == kShared ? 1 : -1; }

class RWLockTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(1, lock.Init());
    lock.SetWaitHook(&ScriptedWait, &script);
  }

  // Waits until n more threads are counted as waiting and are about to sleep.
  void AwaitWaiting(int n) {
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(script.registered.get(), kGuardMs)) << "no thread started waiting";
    }
  }

  std::function<int()> LockStep(int mode, int wait, WaitPlan plan = WaitPlan::Real) {
    return [this, mode, wait, plan] {
      t_plan = plan;
      return lock.Lock(mode, wait);
    };
  }
  std::function<int()> UnlockStep() {
    return [this] {
      lock.Unlock();
      return 1;
    };
  }
  std::function<int()> LevelsStep() {
    return [this] { return static_cast<int>(lock.CallerLevels()); };
  }

  void ExpectNobodyWaiting() {
    EXPECT_EQ(0, lock.WaitingReaders());
    EXPECT_EQ(0, lock.WaitingWriters());
  }

  CRWLock lock;
  WaitScript script;
  Worker a, b, c;  // declared last: they end before the lock goes
};

TEST_F(RWLockTest, RecursiveHoldLastsUntilItsLastRelease) {
  for (int mode : {kShared, kExclusive}) {
    SCOPED_TRACE(mode == kShared ? "shared" : "exclusive");
    ASSERT_EQ(1, a.Run(LockStep(mode, kTry)));
    ASSERT_EQ(1, a.Run(LockStep(mode, kTry)));
    EXPECT_EQ(ExpectedHeldState(mode), lock.State());
    EXPECT_EQ(2, a.Run(LevelsStep()));

    a.Run(UnlockStep());
    EXPECT_EQ(ExpectedHeldState(mode), lock.State());
    EXPECT_EQ(1, a.Run(LevelsStep()));
    EXPECT_EQ(0, b.Run(LockStep(kExclusive, kTry)));

    a.Run(UnlockStep());
    EXPECT_EQ(0, lock.State());
    EXPECT_EQ(0, a.Run(LevelsStep()));
    ASSERT_EQ(1, b.Run(LockStep(kExclusive, kTry)));
    b.Run(UnlockStep());
  }
}

TEST_F(RWLockTest, TryWhileAnotherThreadHoldsOnlySharesWithReaders) {
  struct Case {
    int held;
    int asked;
    int expected;
  };
  const Case cases[] = {
      {kShared, kShared, 1},
      {kShared, kExclusive, 0},
      {kExclusive, kShared, 0},
      {kExclusive, kExclusive, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "held " << c.held << ", asked " << c.asked);
    ASSERT_EQ(1, a.Run(LockStep(c.held, kTry)));
    EXPECT_EQ(c.expected, b.Run(LockStep(c.asked, kTry)));
    EXPECT_EQ(c.expected ? 2 : ExpectedHeldState(c.held), lock.State());
    EXPECT_EQ(c.expected, b.Run(LevelsStep()));
    ExpectNobodyWaiting();
    if (c.expected) b.Run(UnlockStep());
    a.Run(UnlockStep());
    EXPECT_EQ(0, lock.State());
  }
}

TEST_F(RWLockTest, ReadersWaitingBehindWriterAreAdmittedTogether) {
  ASSERT_EQ(1, a.Run(LockStep(kExclusive, kTry)));
  b.Start(LockStep(kShared, kWait));
  c.Start(LockStep(kShared, kWait));
  AwaitWaiting(2);
  EXPECT_EQ(2, lock.WaitingReaders());

  a.Run(UnlockStep());
  // The release itself counts both readers in, before either wakes.
  EXPECT_EQ(2, lock.State());
  ExpectNobodyWaiting();
  EXPECT_EQ(1, b.Finish());
  EXPECT_EQ(1, c.Finish());

  b.Run(UnlockStep());
  EXPECT_EQ(1, lock.State());
  c.Run(UnlockStep());
  EXPECT_EQ(0, lock.State());
}

TEST_F(RWLockTest, WaitingReadersGoBeforeAWaitingWriter) {
  ASSERT_EQ(1, a.Run(LockStep(kExclusive, kTry)));
  b.Start(LockStep(kExclusive, kWait));
  AwaitWaiting(1);
  c.Start(LockStep(kShared, kWait));
  AwaitWaiting(1);

  a.Run(UnlockStep());
  EXPECT_EQ(1, lock.State());
  EXPECT_EQ(1, lock.WaitingWriters());
  EXPECT_EQ(1, c.Finish());

  c.Run(UnlockStep());
  EXPECT_EQ(-1, lock.State());
  ExpectNobodyWaiting();
  EXPECT_EQ(1, b.Finish());
  b.Run(UnlockStep());
  EXPECT_EQ(0, lock.State());
}

TEST_F(RWLockTest, WriterBehindTwiceHeldReaderGetsLockAtSecondRelease) {
  ASSERT_EQ(1, a.Run(LockStep(kShared, kTry)));
  ASSERT_EQ(1, a.Run(LockStep(kShared, kWait)));
  b.Start(LockStep(kExclusive, kWait));
  AwaitWaiting(1);

  a.Run(UnlockStep());
  EXPECT_EQ(1, lock.State());
  EXPECT_EQ(1, lock.WaitingWriters());

  a.Run(UnlockStep());
  EXPECT_EQ(-1, lock.State());
  ExpectNobodyWaiting();
  EXPECT_EQ(1, b.Finish());
  EXPECT_EQ(1, b.Run(LevelsStep()));
  b.Run(UnlockStep());
  EXPECT_EQ(0, lock.State());
}

TEST_F(RWLockTest, UnlockWithoutAHoldIsIgnored) {
  a.Run(UnlockStep());
  EXPECT_EQ(0, lock.State());
  EXPECT_EQ(0, a.Run(LevelsStep()));

  // Another thread's stray release leaves a reader's hold alone.
  ASSERT_EQ(1, a.Run(LockStep(kShared, kTry)));
  b.Run(UnlockStep());
  EXPECT_EQ(1, lock.State());
  EXPECT_EQ(1, a.Run(LevelsStep()));

  // One release too many neither drives the state below 0 nor wraps the
  // thread's count into a phantom hold.
  a.Run(UnlockStep());
  a.Run(UnlockStep());
  EXPECT_EQ(0, lock.State());
  EXPECT_EQ(0, a.Run(LevelsStep()));
  ASSERT_EQ(1, a.Run(LockStep(kShared, kTry)));
  EXPECT_EQ(1, lock.State());
  a.Run(UnlockStep());
  EXPECT_EQ(0, lock.State());
  ASSERT_EQ(1, b.Run(LockStep(kExclusive, kTry)));
  b.Run(UnlockStep());
}

TEST_F(RWLockTest, HolderAskingForTheOtherModeIsRefusedInsteadOfDeadlocking) {
  for (int held : {kShared, kExclusive}) {
    SCOPED_TRACE(held == kShared ? "holds shared" : "holds exclusive");
    const int other = held == kShared ? kExclusive : kShared;
    ASSERT_EQ(1, a.Run(LockStep(held, kTry)));
    EXPECT_EQ(0, a.Run(LockStep(other, kWait)));
    EXPECT_EQ(ExpectedHeldState(held), lock.State());
    EXPECT_EQ(1, a.Run(LevelsStep()));
    ExpectNobodyWaiting();
    a.Run(UnlockStep());
    EXPECT_EQ(0, lock.State());
  }
}

TEST(RWLock, WithoutInitEveryRequestIsRefused) {
  CRWLock lock;
  EXPECT_EQ(0, lock.Lock(kShared, kWait));
  EXPECT_EQ(0, lock.Lock(kExclusive, kWait));
  lock.Unlock();
  EXPECT_EQ(0, lock.State());
  EXPECT_EQ(0u, lock.CallerLevels());
}

TEST(RWLock, CriticalSectionSpins) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  if (info.dwNumberOfProcessors < 2) GTEST_SKIP() << "spin counts are dropped on one processor";
  CRITICAL_SECTION section;
  InitCriticalSectionSpin(&section);
  constexpr ULONG_PTR kSpinBits = 0x00FFFFFF;  // the high bits carry flags
  constexpr ULONG_PTR kExpectedSpins = 4000;
  EXPECT_EQ(kExpectedSpins, section.SpinCount & kSpinBits);
  EnterCriticalSection(&section);
  LeaveCriticalSection(&section);
  DeleteCriticalSection(&section);
}

// Threads mixing both modes and recursion never see a writer beside anyone
// else, and every wait ends in a hand-over.
TEST(RWLock, MixedLoadKeepsWritersAlone) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 1500;
  CRWLock lock;
  ASSERT_EQ(1, lock.Init());
  std::atomic<int> readers{0};
  std::atomic<int> writers{0};
  std::atomic<int> violations{0};
  auto check = [&](bool exclusive) {
    if (exclusive ? writers.load() != 1 || readers.load() != 0 : writers.load() != 0) ++violations;
  };
  Handle start(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  Worker workers[kThreads];
  for (int t = 0; t < kThreads; ++t) {
    workers[t].Start([&, t] {
      WaitForSingleObject(start.get(), kGuardMs);
      for (int round = 0; round < kRounds; ++round) {
        const bool exclusive = (round + t) % 3 == 0;
        if (!lock.Lock(exclusive ? kExclusive : kShared, kWait)) return 0;
        std::atomic<int>& holders = exclusive ? writers : readers;
        ++holders;
        check(exclusive);
        SwitchToThread();  // let the others queue up behind this hold
        if (round % 5 == 0) {  // a nested level in the same mode
          if (!lock.Lock(exclusive ? kExclusive : kShared, kWait)) return 0;
          check(exclusive);
          lock.Unlock();
        }
        check(exclusive);
        --holders;
        lock.Unlock();
      }
      return 1;
    });
  }
  SetEvent(start.get());
  // Thousands of hand-overs take seconds on a busy machine: the guard only
  // catches a deadlock.
  constexpr DWORD kLoadGuardMs = 120000;
  for (Worker& worker : workers) EXPECT_EQ(1, worker.Finish(kLoadGuardMs));
  EXPECT_EQ(0, violations.load());
  EXPECT_EQ(0, lock.State());
  EXPECT_EQ(0, lock.WaitingReaders());
  EXPECT_EQ(0, lock.WaitingWriters());
}

// A wait that fails must leave no count, hold or semaphore unit behind.
struct FailedWaitCase {
  const char* name;
  int waitMode;
  bool afterHandOver;  // the releaser had already admitted the thread
};

void PrintTo(const FailedWaitCase& c, std::ostream* os) { *os << c.name; }

class RWLockFailedWaitTest : public RWLockTest, public testing::WithParamInterface<FailedWaitCase> {};

TEST_P(RWLockFailedWaitTest, LeavesTheLockConsistent) {
  const FailedWaitCase& fail = GetParam();
  const int holderMode = fail.waitMode == kShared ? kExclusive : kShared;

  ASSERT_EQ(1, a.Run(LockStep(holderMode, kTry)));
  b.Start(LockStep(fail.waitMode, kWait, fail.afterHandOver ? WaitPlan::FailAfterGate : WaitPlan::FailAtOnce));
  AwaitWaiting(1);
  if (fail.afterHandOver) {
    a.Run(UnlockStep());
    EXPECT_EQ(ExpectedHeldState(fail.waitMode), lock.State());  // handed to b
    SetEvent(script.gate.get());
  }
  EXPECT_EQ(0, b.Finish());
  EXPECT_EQ(0, b.Run(LevelsStep()));
  ExpectNobodyWaiting();
  if (!fail.afterHandOver) {
    EXPECT_EQ(ExpectedHeldState(holderMode), lock.State());
    a.Run(UnlockStep());
  }
  EXPECT_EQ(0, lock.State());
  b.Run(UnlockStep());
  EXPECT_EQ(0, lock.State());

  // No unit of the failed hand-over is left in the semaphore for a later waiter.
  ASSERT_EQ(1, a.Run(LockStep(holderMode, kTry)));
  EXPECT_EQ(0, c.Run(LockStep(fail.waitMode, kWait, WaitPlan::Probe)));
  ExpectNobodyWaiting();
  a.Run(UnlockStep());
  EXPECT_EQ(0, lock.State());
}

INSTANTIATE_TEST_SUITE_P(Cases, RWLockFailedWaitTest,
                         testing::Values(FailedWaitCase{"ReaderBeforeHandOver", kShared, false},
                                         FailedWaitCase{"ReaderAfterHandOver", kShared, true},
                                         FailedWaitCase{"WriterBeforeHandOver", kExclusive, false},
                                         FailedWaitCase{"WriterAfterHandOver", kExclusive, true}),
                         [](const testing::TestParamInfo<FailedWaitCase>& info) { return info.param.name; });

TEST_F(RWLockTest, FailedWriterLeavesItsTurnToAnotherWaitingWriter) {
  ASSERT_EQ(1, a.Run(LockStep(kShared, kTry)));
  b.Start(LockStep(kExclusive, kWait, WaitPlan::FailAfterGate));
  c.Start(LockStep(kExclusive, kWait));
  AwaitWaiting(2);

  a.Run(UnlockStep());
  EXPECT_EQ(-1, lock.State());
  EXPECT_EQ(1, lock.WaitingWriters());
  EXPECT_EQ(1, c.Finish());  // took the unit while b sat at the gate

  SetEvent(script.gate.get());
  EXPECT_EQ(0, b.Finish());
  ExpectNobodyWaiting();
  EXPECT_EQ(-1, lock.State());
  EXPECT_EQ(1, c.Run(LevelsStep()));

  c.Run(UnlockStep());
  EXPECT_EQ(0, lock.State());
  ASSERT_EQ(1, a.Run(LockStep(kShared, kTry)));
  EXPECT_EQ(0, b.Run(LockStep(kExclusive, kWait, WaitPlan::Probe)));
  a.Run(UnlockStep());
  EXPECT_EQ(0, lock.State());
}

}  // namespace
