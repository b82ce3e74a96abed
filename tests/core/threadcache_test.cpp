#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>

#include "core/ThreadCache.h"

namespace {

std::atomic<int> g_alive{0};

struct Counted {
  Counted() { ++g_alive; }
  ~Counted() { --g_alive; }
  int value = 0;
};

struct ThreadResult {
  CThreadCache<Counted>* cache;
  Counted* first = nullptr;
  Counted* second = nullptr;
};

DWORD WINAPI TakeTwice(void* param) {
  auto* result = static_cast<ThreadResult*>(param);
  result->first = result->cache->Get();
  result->second = result->cache->Get();
  if (result->first != nullptr) {
    result->first->value = 7;
  }
  return 0;
}

Counted* RunThread(CThreadCache<Counted>* cache, Counted** second) {
  ThreadResult result{cache};
  HANDLE thread = CreateThread(nullptr, 0, &TakeTwice, &result, 0, nullptr);
  EXPECT_NE(nullptr, thread);
  if (thread != nullptr) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  *second = result.second;
  return result.first;
}

TEST(ThreadCache, OneObjectPerThreadDeletedWhenTheThreadEnds) {
  const int before = g_alive;
  {
    CThreadCache<Counted> cache;
    Counted* mine = cache.Get();
    ASSERT_NE(nullptr, mine);
    EXPECT_EQ(mine, cache.Get());
    EXPECT_EQ(0, mine->value) << "a new object starts from its defaults";

    Counted* second = nullptr;
    Counted* theirs = RunThread(&cache, &second);
    ASSERT_NE(nullptr, theirs);
    EXPECT_EQ(theirs, second) << "the same object on every call of one thread";
    EXPECT_NE(mine, theirs);
    EXPECT_EQ(before + 1, g_alive.load()) << "the other thread's object went with its thread";
    EXPECT_EQ(0, mine->value) << "the other thread wrote its own object";
  }
  EXPECT_EQ(before, g_alive.load()) << "the cache's end deletes what is left";
}

TEST(ThreadCache, TwoCachesOfOneTypeKeepApartObjects) {
  CThreadCache<Counted> a;
  CThreadCache<Counted> b;
  ASSERT_NE(nullptr, a.Get());
  ASSERT_NE(nullptr, b.Get());
  EXPECT_NE(a.Get(), b.Get());
}

}  // namespace
