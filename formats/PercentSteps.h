// Progress in percent, told to the window's thread only when it changes:
// every record would otherwise pay an interlocked write.
#pragma once

#include <cstdint>

constexpr uint32_t kPercentScale = 100;

// done * 100 / count; 100 for a count of 0.
inline uint32_t PercentOf(uint64_t done, uint64_t count) {
  return count != 0 ? uint32_t(done * kPercentScale / count) : kPercentScale;
}

// The percentage of `total` done.
class CPercentSteps {
 public:
  explicit CPercentSteps(uint64_t total) : m_total(total) {}
  // True when `done` reaches a new percentage, which goes to *percent.
  bool Reached(uint64_t done, uint32_t* percent) {
    if (done < m_next) {
      return false;
    }
    *percent = PercentOf(done, m_total);
    // The first count that gives the next percentage.
    m_next = m_total != 0 ? ((uint64_t(*percent) + 1) * m_total + kPercentScale - 1) / kPercentScale : UINT64_MAX;
    return true;
  }

 private:
  uint64_t m_total;
  uint64_t m_next = 0;
};
