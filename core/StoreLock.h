// A store's lock held for one scope. Every reader and writer of a store goes
// through one of these, so no way out of the scope (an early return, an
// exception thrown by the work done under it) leaves the store locked and
// the next reader waiting for ever.
#pragma once

#include "core/TraceStore.h"

class CStoreLock {
 public:
  // Takes `store`'s lock in `mode` (kLockShared or kLockExclusive); with
  // `wait` 0 only when it can be had now. A null store is never held.
  CStoreLock(CTraceMgr* store, int mode, int wait = 1) : m_store(store), m_mode(mode) { Take(wait); }
  ~CStoreLock() { Release(); }
  CStoreLock(const CStoreLock&) = delete;
  CStoreLock& operator=(const CStoreLock&) = delete;

  // False when the lock could not be had: the caller then does nothing.
  bool Held() const { return m_held; }
  // Tries again, in the same mode, when not held (after Release or a try
  // that failed); returns Held().
  bool Take(int wait) {
    if (!m_held && m_store != nullptr) {
      m_held = m_store->Lock(m_mode, wait) != 0;
    }
    return m_held;
  }
  // Unlocks before the end of the scope (nothing when not held).
  void Release() {
    if (m_held) {
      m_held = false;
      m_store->Unlock(m_mode);
    }
  }

 private:
  CTraceMgr* m_store;
  int m_mode;
  bool m_held = false;
};
