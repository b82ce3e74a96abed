// Recursive reader/writer lock guarding the live capture store.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/CriticalSection.h"
#include "core/Handle.h"

// Recursive per thread for the mode it holds. Waiting threads sleep on a
// semaphore outside the critical section; at a last release the releaser sets
// the state for the threads it wakes, preferring all waiting readers to one
// waiting writer.
class CRWLock {
 public:
  static constexpr int kModeShared = 1;
  static constexpr int kModeExclusive = 2;

  // Replaces the wait on a hand-over semaphore; a result other than
  // WAIT_OBJECT_0 counts as a failed wait. Lets tests see a thread start
  // waiting and make its wait fail.
  using WaitHook = DWORD (*)(void* context, HANDLE semaphore);

  CRWLock() = default;
  ~CRWLock();
  CRWLock(const CRWLock&) = delete;
  CRWLock& operator=(const CRWLock&) = delete;

  // Allocates the TLS index and both semaphores; 0 when any of them fails
  // (the lock then refuses every request). Call once before first use.
  int Init();

  // mode kModeShared takes it shared, any other mode exclusive. Returns 1 when
  // held, 0 when wait is 0 and it is taken, when the wait failed, or when the
  // calling thread holds it in the other mode (that request could only wait
  // for this thread's own release).
  int Lock(int mode, int wait);
  int LockShared(int wait);
  int LockExclusive(int wait);
  // Releases one level of the calling thread's hold; nothing when it holds none.
  void Unlock();

  // Snapshots taken under the critical section, for diagnostics and tests.
  int State() const;  // n > 0: n shared holders; -1: exclusive; 0: free
  int WaitingReaders() const;
  int WaitingWriters() const;
  // Recursion depth of the calling thread's hold (0: none).
  unsigned CallerLevels() const;

  void SetWaitHook(WaitHook hook, void* context);

 private:
  // Who a release wakes: the semaphore to release after leaving, and by how much.
  struct HandOver {
    HANDLE semaphore = nullptr;
    LONG count = 0;
  };

  bool IsReady() const;
  DWORD ThreadWord() const;
  void SetThreadWord(DWORD word) const;
  // Takes one hold off the state and, when the lock becomes free, admits the
  // next waiters. Called inside the critical section.
  HandOver ReleaseHoldLocked();
  static void Signal(const HandOver& next);
  int WaitForHandOver(HANDLE semaphore, WaitHook hook, void* context) const;
  void AbandonSharedWait();
  void AbandonExclusiveWait();

  mutable CCriticalSection m_cs;  // guards the waiting counts, the state and the wait hook
  CHandle m_sharedSem;
  CHandle m_exclusiveSem;
  int32_t m_waitingReaders = 0;  // waiting and not yet admitted
  int32_t m_waitingWriters = 0;
  int32_t m_state = 0;
  DWORD m_tlsIndex = TLS_OUT_OF_INDEXES;  // per thread: mode bits | recursion count
  WaitHook m_waitHook = nullptr;
  void* m_waitContext = nullptr;
};
