// Pieces the job tests share: an owned event, a capture store that only
// waits, and a job whose steps the test watches.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "jobs/JobItem.h"
#include "jobs/JobMgr.h"
#include "jobs/Threads.h"

class TestEvent {
 public:
  explicit TestEvent(BOOL manualReset = TRUE) : m_handle(CreateEventW(nullptr, manualReset, FALSE, nullptr)) {}
  ~TestEvent() {
    if (m_handle) CloseHandle(m_handle);
  }
  TestEvent(const TestEvent&) = delete;
  TestEvent& operator=(const TestEvent&) = delete;
  HANDLE get() const { return m_handle; }
  void Set() const { SetEvent(m_handle); }
  // Long enough never to fire on a working build; a hang becomes a failure.
  bool WaitSet(DWORD ms = 10000) const { return WaitForSingleObject(m_handle, ms) == WAIT_OBJECT_0; }
  bool IsSet() const { return WaitForSingleObject(m_handle, 0) == WAIT_OBJECT_0; }

 private:
  HANDLE m_handle;
};

// A capture whose loop only waits alertably until it is told to stop.
class IdleCapture : public ICaptureStore {
 public:
  void CaptureLoop() override {
    InterlockedIncrement(&loops);
    looping.Set();
    while (m_run) SleepEx(INFINITE, TRUE);
  }
  void ClearRunFlag() override { m_run = false; }
  // For a capture thread started again after a stop.
  void Rearm() { m_run = true; }
  void OnControl(CaptureControlItem* item) override {
    lastKind = LONG(item->kind);
    controlThread = GetCurrentThreadId();
    FreeCaptureItem(item);
    controlled.Set();
  }

  volatile LONG loops = 0;
  volatile LONG lastKind = -1;
  DWORD controlThread = 0;
  TestEvent looping;
  TestEvent controlled;

 private:
  volatile bool m_run = true;
};
