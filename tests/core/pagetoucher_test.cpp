#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

#include "core/PageToucher.h"

namespace {

constexpr size_t kRegion = CPageToucher::kRegionBytes;
constexpr size_t kPage = 4096;
constexpr int kHelpers = 4;

// A fresh committed range, released when the test ends.
class FreshRange {
 public:
  explicit FreshRange(size_t bytes)
      : m_size(bytes),
        m_base(static_cast<uint8_t*>(VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))) {}
  ~FreshRange() {
    if (m_base != nullptr) {
      VirtualFree(m_base, 0, MEM_RELEASE);
    }
  }
  uint8_t* begin() const { return m_base; }
  uint8_t* end() const { return m_base + m_size; }

 private:
  size_t m_size;
  uint8_t* m_base;
};

uint8_t Pattern(size_t step) { return uint8_t(1 + step % 251); }

TEST(PageToucher, BytesOfTheFillerAreNeverOverwritten) {
  // Steps that do not divide a page, so page starts fall inside them.
  constexpr size_t kStep = 1000;
  FreshRange range(16u << 20);
  ASSERT_NE(nullptr, range.begin());
  CPageToucher toucher;
  ASSERT_GT(toucher.Start(range.begin(), range.end(), 1u << 20, kHelpers), 0);
  const size_t steps = size_t(range.end() - range.begin()) / kStep;
  for (size_t i = 0; i < steps; ++i) {
    uint8_t* at = range.begin() + i * kStep;
    toucher.Reach(at + kStep);
    std::memset(at, Pattern(i), kStep);
  }
  toucher.Stop();
  for (size_t i = 0; i < steps; ++i) {
    const uint8_t* at = range.begin() + i * kStep;
    for (size_t k = 0; k < kStep; ++k) {
      ASSERT_EQ(Pattern(i), at[k]) << "byte " << i * kStep + k;
    }
  }
}

TEST(PageToucher, HelpersTouchOnlyWithinTheLead) {
  constexpr uint8_t kUntouched = 0xAB;
  constexpr size_t kLead = 8 * kRegion;
  constexpr size_t kFilled = 16 * kRegion;
  FreshRange range(64 * kRegion);
  ASSERT_NE(nullptr, range.begin());
  std::memset(range.begin(), kUntouched, size_t(range.end() - range.begin()));
  CPageToucher toucher;
  ASSERT_GT(toucher.Start(range.begin(), range.end(), kLead, kHelpers), 0);
  toucher.Reach(range.begin() + kFilled);
  // The last page the helpers may touch: they get there without the filler.
  volatile const uint8_t* lastInLead = range.begin() + kFilled + kLead - kPage;
  const ULONGLONG deadline = GetTickCount64() + 30000;
  while (*lastInLead == kUntouched && GetTickCount64() < deadline) {
    SwitchToThread();
  }
  toucher.Stop();
  EXPECT_EQ(0, *lastInLead);
  for (const uint8_t* page = range.begin() + kFilled + kLead; page < range.end(); page += kPage) {
    ASSERT_EQ(kUntouched, *page) << page - range.begin();
  }
}

TEST(PageToucher, NothingToTouchStartsNoHelper) {
  FreshRange range(4 * kRegion);
  ASSERT_NE(nullptr, range.begin());
  struct Case {
    uint8_t* begin;
    uint8_t* end;
    int helpers;
  } cases[] = {
      {range.begin(), range.end(), 0},
      {range.begin(), range.begin() + kRegion - 1, kHelpers},
      {range.end(), range.begin(), kHelpers},
      {nullptr, range.end(), kHelpers},
  };
  for (const Case& c : cases) {
    CPageToucher toucher;
    EXPECT_EQ(0, toucher.Start(c.begin, c.end, kRegion, c.helpers));
    EXPECT_FALSE(toucher.Active());
    toucher.Reach(range.end());
    toucher.Stop();
  }
}

TEST(PageToucher, ClaimedRegionsAreTheFillersAloneAfterReach) {
  // Stopping twice and starting again over the same range: the second run
  // starts from fresh claims.
  FreshRange range(32 * kRegion);
  ASSERT_NE(nullptr, range.begin());
  CPageToucher toucher;
  ASSERT_GT(toucher.Start(range.begin(), range.end(), 4 * kRegion, kHelpers), 0);
  toucher.Reach(range.begin() + 2 * kRegion);
  toucher.Stop();
  toucher.Stop();
  EXPECT_FALSE(toucher.Active());
  ASSERT_GT(toucher.Start(range.begin(), range.end(), 4 * kRegion, kHelpers), 0);
  // Reach waits for regions a helper is busy with: no zero lands afterwards.
  toucher.Reach(range.end());
  std::memset(range.begin(), 0x5A, 32 * kRegion);
  toucher.Stop();
  for (const uint8_t* page = range.begin(); page < range.end(); page += kPage) {
    ASSERT_EQ(0x5A, *page);
  }
}

}  // namespace
