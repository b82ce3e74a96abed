// Helper threads that touch the fresh pages of a buffer ahead of the one
// thread filling it from its start. A first write to a page costs far more
// than the bytes written into it (tens of microseconds on a virtual machine),
// and a loader that fills hundreds of megabytes would otherwise pay it page
// by page on its own thread.
//
// The range is cut into regions, and each region is written by one side
// only: a helper that claimed it (and writes a zero at each page start), or
// the filling thread, which claims an untouched region itself and waits for
// one a helper is busy with. So the filler's bytes are never overwritten.
// Helpers stay at most `lead` bytes ahead of the filler.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/Handle.h"

// Makes every page of [at, at + bytes) present by writing a zero at each
// page start. Only for fresh memory, whose bytes read 0 anyway.
void TouchFreshPages(uint8_t* at, size_t bytes);

class CPageToucher {
 public:
  static constexpr size_t kRegionBytes = 64 * 1024;
  static constexpr int kMaxHelpers = 8;

  CPageToucher() = default;
  CPageToucher(const CPageToucher&) = delete;
  CPageToucher& operator=(const CPageToucher&) = delete;
  // Stops the helpers first.
  ~CPageToucher() { Stop(); }

  // Starts up to `helpers` threads over [begin, end), which stays committed
  // and unmoved until Stop returns; nothing in it is read before it is
  // written. Returns the number of helpers started (0 when none could be,
  // or the range is smaller than one region): with none, Reach does nothing.
  int Start(uint8_t* begin, uint8_t* end, size_t lead, int helpers);

  // Before the filler writes below `upTo`: claims the regions up to there,
  // waiting for any a helper is touching. Cheap while `upTo` stays in
  // regions already claimed. The filler only ever calls it with rising
  // addresses inside the range (beyond its end is ignored).
  void Reach(const uint8_t* upTo) {
    if (upTo > m_claimedEnd && m_count != 0) {
      ClaimUpTo(upTo);
    }
  }

  // Ends the helpers and waits for them; after it, no helper touches the
  // range again. Safe to call twice.
  void Stop();

  bool Active() const { return m_count != 0; }

 private:
  enum RegionState : LONG { kUntouched = 0, kHelperBusy = 1, kReady = 2 };

  static unsigned __stdcall HelperProc(void* self);
  void HelperLoop();
  // Waits while region `index` lies beyond the lead; false when stopping.
  bool WaitForLead(size_t index);
  void ClaimUpTo(const uint8_t* upTo);
  void TouchRegion(size_t index);

  uint8_t* m_begin = nullptr;
  size_t m_count = 0;  // regions
  size_t m_leadRegions = 0;
  size_t m_wakeStep = 1;                  // regions
  size_t m_wokenAt = 0;                   // filler only: its region at the last wake
  const uint8_t* m_claimedEnd = nullptr;  // filler only: all below is its own
  std::unique_ptr<volatile LONG[]> m_states;
  volatile LONG m_fillerRegion = 0;  // the first region the filler has not claimed
  volatile LONG m_nextRegion = 0;    // the next region a helper tries
  volatile LONG m_stop = 0;
  volatile LONG m_waiting = 0;       // helpers inside WaitForLead
  SRWLOCK m_lock = SRWLOCK_INIT;     // guards the sleep on m_wake only
  CONDITION_VARIABLE m_wake = CONDITION_VARIABLE_INIT;
  CHandle m_threads[kMaxHelpers];
  int m_threadCount = 0;
};
