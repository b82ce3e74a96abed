#include "core/CriticalSection.h"

#include <gtest/gtest.h>

#include <thread>
#include <type_traits>

namespace {

static_assert(!std::is_copy_constructible_v<CCriticalSectionGuard> && !std::is_copy_assignable_v<CCriticalSectionGuard>);
static_assert(!std::is_copy_constructible_v<CCriticalSection>);

// Whether another thread could enter the section now (it leaves at once).
bool FreeForOthers(CCriticalSection& section) {
  bool entered = false;
  std::thread other([&] {
    entered = TryEnterCriticalSection(section.get()) != 0;
    if (entered) LeaveCriticalSection(section.get());
  });
  other.join();
  return entered;
}

// Holds the section and leaves by an early return or at the end.
int HoldAndReturn(CCriticalSection& section, bool early, bool* heldInside) {
  const CCriticalSectionGuard guard(section);
  *heldInside = !FreeForOthers(section);
  if (early) {
    return 1;
  }
  return 2;
}

TEST(CriticalSectionGuard, HoldsForItsScopeOnEveryWayOut) {
  CCriticalSection section;
  for (const bool early : {true, false}) {
    SCOPED_TRACE(early ? "early return" : "end of scope");
    bool heldInside = false;
    EXPECT_EQ(early ? 1 : 2, HoldAndReturn(section, early, &heldInside));
    EXPECT_TRUE(heldInside);
    EXPECT_TRUE(FreeForOthers(section));
  }
}

TEST(CriticalSectionGuard, NestsOnOneThread) {
  CCriticalSection section;
  {
    const CCriticalSectionGuard outer(section);
    {
      const CCriticalSectionGuard inner(section);
    }
    EXPECT_FALSE(FreeForOthers(section));  // the outer hold remains
  }
  EXPECT_TRUE(FreeForOthers(section));
}

}  // namespace
