#include "core/RWLock.h"

#include <utility>

namespace {

constexpr LONG kSemaphoreMax = 0x7FFFFFFF;

// The thread's TLS word: recursion count in the low 16 bits, mode above.
constexpr DWORD kLevelMask = 0xFFFF;
constexpr DWORD kModeMask = 0xFFFF0000;
constexpr DWORD kWordShared = 0x10000;
constexpr DWORD kWordExclusive = 0x20000;

constexpr int32_t kStateExclusive = -1;

}  // namespace

CRWLock::~CRWLock() {
  if (m_tlsIndex != TLS_OUT_OF_INDEXES) TlsFree(m_tlsIndex);
}

int CRWLock::Init() {
  if (IsReady()) return 1;
  const DWORD index = TlsAlloc();
  CHandle shared(CreateSemaphoreW(nullptr, 0, kSemaphoreMax, nullptr));
  CHandle exclusive(CreateSemaphoreW(nullptr, 0, kSemaphoreMax, nullptr));
  if (index == TLS_OUT_OF_INDEXES || !shared.valid() || !exclusive.valid()) {
    if (index != TLS_OUT_OF_INDEXES) TlsFree(index);
    return 0;
  }
  m_tlsIndex = index;
  m_sharedSem = std::move(shared);
  m_exclusiveSem = std::move(exclusive);
  return 1;
}

bool CRWLock::IsReady() const {
  return m_tlsIndex != TLS_OUT_OF_INDEXES && m_sharedSem.valid() && m_exclusiveSem.valid();
}

DWORD CRWLock::ThreadWord() const {
  return static_cast<DWORD>(reinterpret_cast<uintptr_t>(TlsGetValue(m_tlsIndex)));
}

void CRWLock::SetThreadWord(DWORD word) const {
  TlsSetValue(m_tlsIndex, reinterpret_cast<void*>(static_cast<uintptr_t>(word)));
}

int CRWLock::Lock(int mode, int wait) {
  return mode == kModeShared ? LockShared(wait) : LockExclusive(wait);
}

int CRWLock::LockShared(int wait) {
  if (!IsReady()) return 0;
  const DWORD word = ThreadWord();
  const DWORD levels = word & kLevelMask;
  if (levels) {
    if ((word & kModeMask) != kWordShared || levels == kLevelMask) return 0;
    SetThreadWord(kWordShared | (levels + 1));
    return 1;
  }
  WaitHook hook;
  void* context;
  {
    CCriticalSectionGuard guard(m_cs);
    if (m_state >= 0) {
      ++m_state;
      SetThreadWord(kWordShared | 1);
      return 1;
    }
    if (!wait) return 0;
    ++m_waitingReaders;
    hook = m_waitHook;
    context = m_waitContext;
  }
  if (!WaitForHandOver(m_sharedSem.get(), hook, context)) {
    AbandonSharedWait();
    return 0;
  }
  SetThreadWord(kWordShared | 1);
  return 1;
}

int CRWLock::LockExclusive(int wait) {
  if (!IsReady()) return 0;
  const DWORD word = ThreadWord();
  const DWORD levels = word & kLevelMask;
  if (levels) {
    if ((word & kModeMask) != kWordExclusive || levels == kLevelMask) return 0;
    SetThreadWord(kWordExclusive | (levels + 1));
    return 1;
  }
  WaitHook hook;
  void* context;
  {
    CCriticalSectionGuard guard(m_cs);
    if (m_state == 0) {
      m_state = kStateExclusive;
      SetThreadWord(kWordExclusive | 1);
      return 1;
    }
    if (!wait) return 0;
    ++m_waitingWriters;
    hook = m_waitHook;
    context = m_waitContext;
  }
  if (!WaitForHandOver(m_exclusiveSem.get(), hook, context)) {
    AbandonExclusiveWait();
    return 0;
  }
  SetThreadWord(kWordExclusive | 1);
  return 1;
}

void CRWLock::Unlock() {
  if (!IsReady()) return;
  const DWORD word = ThreadWord();
  const DWORD levels = word & kLevelMask;
  if (!levels) return;
  if (levels > 1) {
    SetThreadWord((word & kModeMask) | (levels - 1));
    return;
  }
  HandOver next;
  {
    CCriticalSectionGuard guard(m_cs);
    next = ReleaseHoldLocked();
  }
  SetThreadWord(0);
  Signal(next);
}

CRWLock::HandOver CRWLock::ReleaseHoldLocked() {
  if (m_state > 0) {
    --m_state;
  } else if (m_state == kStateExclusive) {
    m_state = 0;
  }
  HandOver next;
  if (m_state != 0) return next;
  if (m_waitingReaders > 0) {
    next.semaphore = m_sharedSem.get();
    next.count = m_waitingReaders;
    m_state = m_waitingReaders;
    m_waitingReaders = 0;
  } else if (m_waitingWriters > 0) {
    next.semaphore = m_exclusiveSem.get();
    next.count = 1;
    --m_waitingWriters;
    m_state = kStateExclusive;
  }
  return next;
}

void CRWLock::Signal(const HandOver& next) {
  if (next.semaphore) ReleaseSemaphore(next.semaphore, next.count, nullptr);
}

int CRWLock::WaitForHandOver(HANDLE semaphore, WaitHook hook, void* context) const {
  const DWORD result = hook ? hook(context, semaphore) : WaitForSingleObject(semaphore, INFINITE);
  return result == WAIT_OBJECT_0;
}

// A reader whose wait failed is either still counted as waiting, or was
// admitted with the others and counted in the state. Admission takes every
// waiting reader at once, and no reader can start waiting while an admitted
// one still counts in the state, so a nonzero waiting count means this one
// was not admitted.
void CRWLock::AbandonSharedWait() {
  HandOver next;
  {
    CCriticalSectionGuard guard(m_cs);
    if (m_waitingReaders > 0) {
      --m_waitingReaders;
    } else {
      // Take back the unit posted for this thread before giving up its hold,
      // so it cannot let a later waiter in early.
      WaitForSingleObject(m_sharedSem.get(), 0);
      next = ReleaseHoldLocked();
    }
  }
  Signal(next);
}

// Writers are admitted one at a time and any waiting writer may take the unit
// posted for one of them. While another writer still waits, this one can
// simply stop counting as waiting (that writer takes the turn); with none
// left waiting, the turn was this thread's and it gives it back.
void CRWLock::AbandonExclusiveWait() {
  HandOver next;
  {
    CCriticalSectionGuard guard(m_cs);
    if (m_waitingWriters > 0) {
      --m_waitingWriters;
    } else {
      WaitForSingleObject(m_exclusiveSem.get(), 0);
      next = ReleaseHoldLocked();
    }
  }
  Signal(next);
}

int CRWLock::State() const {
  CCriticalSectionGuard guard(m_cs);
  return m_state;
}

int CRWLock::WaitingReaders() const {
  CCriticalSectionGuard guard(m_cs);
  return m_waitingReaders;
}

int CRWLock::WaitingWriters() const {
  CCriticalSectionGuard guard(m_cs);
  return m_waitingWriters;
}

unsigned CRWLock::CallerLevels() const {
  if (!IsReady()) return 0;
  return ThreadWord() & kLevelMask;
}

void CRWLock::SetWaitHook(WaitHook hook, void* context) {
  CCriticalSectionGuard guard(m_cs);
  m_waitHook = hook;
  m_waitContext = context;
}
