#include "core/StoreLock.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "core/Handle.h"
#include "core/RWLock.h"

namespace {

// A store whose lock is a real reader/writer lock, as the capture's is.
class LockedStore : public CTraceFile {
 public:
  LockedStore() { m_ready = m_lock.Init() != 0; }
  int Lock(int mode, int wait) override { return m_lock.Lock(mode, wait); }
  void Unlock(int) override { m_lock.Unlock(); }

  bool m_ready = false;
  CRWLock m_lock;
};

// Whether another thread could take the store exclusively right now.
bool FreeForOthers(LockedStore& store) {
  bool taken = false;
  std::thread other([&] { taken = CStoreLock(&store, kLockExclusive, 0).Held(); });
  other.join();
  return taken;
}

// Holds the store exclusively on a thread of its own until told to let go.
class OtherHolder {
 public:
  explicit OtherHolder(LockedStore& store)
      : m_held(CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_go(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    m_thread = std::thread([this, &store] {
      const CStoreLock lock(&store, kLockExclusive);
      SetEvent(m_held.get());
      WaitForSingleObject(m_go.get(), INFINITE);
    });
    WaitForSingleObject(m_held.get(), INFINITE);
  }
  ~OtherHolder() { LetGo(); }
  void LetGo() {
    if (!m_thread.joinable()) return;
    SetEvent(m_go.get());
    m_thread.join();
  }

 private:
  CHandle m_held;
  CHandle m_go;
  std::thread m_thread;
};

enum class WayOut { kEnd, kEarlyReturn, kException };

// Reads under the guard and leaves its scope the given way.
int ReadUnderLock(LockedStore& store, int mode, WayOut way) {
  const CStoreLock lock(&store, mode);
  if (!lock.Held()) return -1;
  if (way == WayOut::kEarlyReturn) return 0;
  if (way == WayOut::kException) throw std::runtime_error("the work failed");
  return 1;
}

TEST(StoreLock, EveryWayOutOfTheScopeFreesTheStore) {
  struct Case {
    const char* name;
    int mode;
    WayOut way;
  };
  const Case cases[] = {
      {"shared, end of scope", kLockShared, WayOut::kEnd},
      {"shared, early return", kLockShared, WayOut::kEarlyReturn},
      {"shared, exception", kLockShared, WayOut::kException},
      {"exclusive, end of scope", kLockExclusive, WayOut::kEnd},
      {"exclusive, early return", kLockExclusive, WayOut::kEarlyReturn},
      {"exclusive, exception", kLockExclusive, WayOut::kException},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LockedStore store;
    ASSERT_TRUE(store.m_ready);
    try {
      EXPECT_GE(ReadUnderLock(store, c.mode, c.way), 0);
    } catch (const std::runtime_error&) {
      EXPECT_EQ(c.way, WayOut::kException);
    }
    EXPECT_EQ(0u, store.m_lock.CallerLevels());
    EXPECT_EQ(0, store.m_lock.State());
    EXPECT_TRUE(FreeForOthers(store));
  }
}

// A try that finds the store taken holds nothing, so neither Release nor the
// end of its scope may unlock the other thread's hold; a later Take gets it.
TEST(StoreLock, ATryOnABusyStoreHoldsNothingUntilTakenAgain) {
  LockedStore store;
  ASSERT_TRUE(store.m_ready);
  OtherHolder other(store);
  {
    CStoreLock lock(&store, kLockShared, 0);
    EXPECT_FALSE(lock.Held());
    lock.Release();
    EXPECT_FALSE(lock.Take(0));
    EXPECT_EQ(-1, store.m_lock.State());
    other.LetGo();
    EXPECT_TRUE(lock.Take(0));
    EXPECT_EQ(1, store.m_lock.State());
  }
  EXPECT_EQ(0, store.m_lock.State());
  EXPECT_TRUE(FreeForOthers(store));
}

// An early Release gives back exactly the guard's own level: an outer hold
// of the same thread stays, and the end of the scope does not unlock again.
TEST(StoreLock, AnEarlyReleaseGivesBackOneLevelOnce) {
  LockedStore store;
  ASSERT_TRUE(store.m_ready);
  {
    const CStoreLock outer(&store, kLockShared);
    {
      CStoreLock inner(&store, kLockShared);
      ASSERT_TRUE(inner.Held());
      EXPECT_EQ(2u, store.m_lock.CallerLevels());
      inner.Release();
      EXPECT_FALSE(inner.Held());
      EXPECT_EQ(1u, store.m_lock.CallerLevels());
    }
    EXPECT_EQ(1u, store.m_lock.CallerLevels());
    EXPECT_FALSE(FreeForOthers(store));
  }
  EXPECT_EQ(0u, store.m_lock.CallerLevels());
  EXPECT_TRUE(FreeForOthers(store));
}

TEST(StoreLock, ANullStoreIsNeverHeld) {
  CStoreLock lock(nullptr, kLockExclusive);
  EXPECT_FALSE(lock.Held());
  EXPECT_FALSE(lock.Take(1));
  lock.Release();
  EXPECT_FALSE(lock.Held());
}

}  // namespace
