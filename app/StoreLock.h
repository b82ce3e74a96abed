// A store's lock held for one scope. The frame never leaves a store locked
// across a return: every shared read and every mark change goes through one
// of these, so an early return cannot forget the unlock.
#pragma once

#include "core/TraceStore.h"

class CStoreLock {
 public:
  // Takes `store`'s lock in `mode` (kLockShared or kLockExclusive); with
  // `wait` 0 only when it is free now. A null store is never held.
  CStoreLock(CTraceMgr* store, int mode, int wait = 1)
      : m_store(store), m_mode(mode), m_held(store != nullptr && store->Lock(mode, wait) != 0) {}
  ~CStoreLock() { Release(); }
  CStoreLock(const CStoreLock&) = delete;
  CStoreLock& operator=(const CStoreLock&) = delete;

  // False when the lock could not be had: the caller then does nothing.
  bool Held() const { return m_held; }
  // Unlocks before the end of the scope (nothing when not held).
  void Release() {
    if (m_held) {
      m_store->Unlock(m_mode);
      m_held = false;
    }
  }

 private:
  CTraceMgr* m_store;
  int m_mode;
  bool m_held;
};
