#include "core/PageToucher.h"

#include <process.h>

#include <new>

#include "core/SysUtil.h"

namespace {
constexpr size_t kPageBytes = 4096;
// Helpers that waited for the filler are woken after it moved on by a part
// of the lead, not at every region: each wake is a system call.
constexpr size_t kWakesPerLead = 4;
}  // namespace

int CPageToucher::Start(uint8_t* begin, uint8_t* end, size_t lead, int helpers) {
  Stop();
  if (begin == nullptr || end <= begin || helpers <= 0) {
    return 0;
  }
  const size_t count = size_t(end - begin) / kRegionBytes;
  // Region indices travel in LONGs.
  if (count == 0 || count > size_t(MAXLONG)) {
    return 0;
  }
  m_states.reset(new (std::nothrow) volatile LONG[count]);
  if (m_states == nullptr) {
    return 0;
  }
  for (size_t i = 0; i < count; ++i) {
    m_states[i] = kUntouched;
  }
  m_begin = begin;
  m_count = count;
  m_leadRegions = lead / kRegionBytes != 0 ? lead / kRegionBytes : 1;
  m_wakeStep = m_leadRegions / kWakesPerLead != 0 ? m_leadRegions / kWakesPerLead : 1;
  m_wokenAt = 0;
  m_claimedEnd = begin;
  m_fillerRegion = 0;
  m_nextRegion = 0;
  m_stop = 0;
  m_waiting = 0;
  const int wanted = helpers < kMaxHelpers ? helpers : kMaxHelpers;
  while (m_threadCount < wanted) {
    const uintptr_t thread = _beginthreadex(nullptr, 0, HelperProc, this, 0, nullptr);
    if (thread == 0) {
      DebugTraceA("CPageToucher::Start, 1, _beginthreadex failed after %d", m_threadCount);
      break;
    }
    m_threads[m_threadCount++].reset(reinterpret_cast<HANDLE>(thread));
  }
  if (m_threadCount == 0) {
    m_count = 0;
    m_states.reset();
  }
  return m_threadCount;
}

void CPageToucher::Stop() {
  InterlockedExchange(&m_stop, 1);
  if (m_threadCount != 0) {
    // Under the lock, so no helper is between its test of m_stop and its sleep.
    AcquireSRWLockExclusive(&m_lock);
    ReleaseSRWLockExclusive(&m_lock);
    WakeAllConditionVariable(&m_wake);
    for (int i = 0; i < m_threadCount; ++i) {
      WaitForSingleObject(m_threads[i].get(), INFINITE);
      m_threads[i].reset();
    }
    m_threadCount = 0;
  }
  m_count = 0;
  m_states.reset();
}

unsigned __stdcall CPageToucher::HelperProc(void* self) {
  static_cast<CPageToucher*>(self)->HelperLoop();
  return 0;
}

void CPageToucher::HelperLoop() {
  for (;;) {
    const size_t index = size_t(InterlockedIncrement(&m_nextRegion) - 1);
    if (index >= m_count || !WaitForLead(index)) {
      return;
    }
    // The filler got here first: the region is its own.
    if (InterlockedCompareExchange(&m_states[index], kHelperBusy, kUntouched) == kUntouched) {
      TouchRegion(index);
      InterlockedExchange(&m_states[index], kReady);
    }
  }
}

bool CPageToucher::WaitForLead(size_t index) {
  if (m_stop != 0) {
    return false;
  }
  if (index < size_t(m_fillerRegion) + m_leadRegions) {
    return true;
  }
  AcquireSRWLockExclusive(&m_lock);
  // Counted before the test: a filler moving on after it sees the count
  // and wakes us (it takes the lock, so not before we sleep).
  InterlockedIncrement(&m_waiting);
  while (m_stop == 0 && index >= size_t(InterlockedCompareExchange(&m_fillerRegion, 0, 0)) + m_leadRegions) {
    SleepConditionVariableSRW(&m_wake, &m_lock, INFINITE, 0);
  }
  InterlockedDecrement(&m_waiting);
  ReleaseSRWLockExclusive(&m_lock);
  return m_stop == 0;
}

void TouchFreshPages(uint8_t* at, size_t bytes) {
  volatile uint8_t* page = at;
  for (size_t done = 0; done < bytes; done += kPageBytes) {
    page[done] = 0;
  }
}

void CPageToucher::TouchRegion(size_t index) { TouchFreshPages(m_begin + index * kRegionBytes, kRegionBytes); }

void CPageToucher::ClaimUpTo(const uint8_t* upTo) {
  size_t region = size_t(m_claimedEnd - m_begin) / kRegionBytes;
  while (m_claimedEnd < upTo && region < m_count) {
    if (InterlockedCompareExchange(&m_states[region], kReady, kUntouched) == kHelperBusy) {
      while (InterlockedCompareExchange(&m_states[region], kReady, kReady) != kReady) {
        SwitchToThread();
      }
    }
    ++region;
    m_claimedEnd = m_begin + region * kRegionBytes;
  }
  if (region >= m_count) {
    // Past the last region nothing is shared: no more claiming.
    m_claimedEnd = reinterpret_cast<const uint8_t*>(UINTPTR_MAX);
  }
  InterlockedExchange(&m_fillerRegion, LONG(region));
  if (region - m_wokenAt >= m_wakeStep && InterlockedCompareExchange(&m_waiting, 0, 0) != 0) {
    m_wokenAt = region;
    AcquireSRWLockExclusive(&m_lock);
    ReleaseSRWLockExclusive(&m_lock);
    WakeAllConditionVariable(&m_wake);
  }
}
