// Pieces the capture benchmarks share: a capture owned by no window, the
// count of records it stored, and the end of a run of writer processes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "capture/TraceCapture.h"
#include "core/StoreLock.h"

namespace bench {

// Notices go nowhere: the benchmarks read figures, not messages.
inline HWND BenchOwner() { return reinterpret_cast<HWND>(static_cast<uintptr_t>(0x4D0)); }
inline BOOL WINAPI DropPost(HWND, UINT, WPARAM, LPARAM) { return TRUE; }

// The ring reservation of the benchmark captures: the smallest MaxMem.
constexpr uint64_t kStoreReserve = 256ull << 20;

// A capture of the channels named with `tag` that stores every record,
// sorted by time or not, initialised without a listening port.
inline CTraceCapture* NewCapture(const std::wstring& tag, int sorting) {
  auto* capture = new CTraceCapture(BenchOwner());
  capture->SetPostFunction(&DropPost);
  capture->SetRingLimits(kStoreReserve, 0, 0);
  capture->SetChannelTag(tag.c_str());
  capture->SetIgnoreMask(0);
  capture->SetSorting(sorting);
  capture->Init(0);
  return capture;
}

// Records stored since the store was made (the ring numbers every record).
inline uint64_t StoredTotal(CTraceCapture* capture) {
  const CStoreLock lock(capture, kLockShared);
  return lock.Held() ? capture->Buffer()->lastSequence : 0;
}

// Lets the writer processes end (up to timeoutMs) and closes their handles.
// Returns how many did not start or did not end with exit code 0, so that
// records a writer never wrote are not taken for records the capture lost.
inline uint32_t FinishWriters(std::vector<HANDLE>& processes, DWORD timeoutMs) {
  std::vector<HANDLE> started;
  for (HANDLE process : processes) {
    if (process) started.push_back(process);
  }
  if (!started.empty()) {
    WaitForMultipleObjects(DWORD(started.size()), started.data(), TRUE, timeoutMs);
  }
  uint32_t failed = uint32_t(processes.size() - started.size());
  for (HANDLE process : started) {
    DWORD code = 1;
    if (!GetExitCodeProcess(process, &code) || code != 0) ++failed;
    CloseHandle(process);
  }
  processes.clear();
  return failed;
}

}  // namespace bench
