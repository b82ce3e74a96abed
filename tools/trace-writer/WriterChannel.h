// The named objects of one writer channel as a traced program holds them:
// it creates (or opens) the mutex and the mapping with the ring, and opens
// the event the trace tool created, to signal it after an append.
#pragma once

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>

#include "core/Handle.h"
#include "core/TraceRecord.h"

struct ChannelNames {
  std::wstring mutex;
  std::wstring event;
  std::wstring mapping;
};

// The names of channel `kind` (0..3), behind "Global\" for the global set,
// each followed by "_<tag>" when a tag is given.
ChannelNames MakeChannelNames(uint32_t kind, bool global, const std::wstring& tag);

class CWriterChannel {
 public:
  explicit CWriterChannel(ChannelNames names) : m_names(std::move(names)) {}
  CWriterChannel(const CWriterChannel&) = delete;
  CWriterChannel& operator=(const CWriterChannel&) = delete;

  // Creates or opens the mutex and the mapping (`ringBytes` when this call
  // creates it) and makes sure the mapping holds a sound ring. Returns 1, or
  // 0 with the failing step in `error`.
  int Open(uint32_t ringBytes, std::wstring* error);

  // Takes the mutex (an abandoned one counts as taken) and returns the ring,
  // made fresh with a new generation when another process left it unsound.
  // Null when the wait failed; then nothing is held.
  TraceBufferHeader* Lock();
  void Unlock();
  // Writes every page of the ring with its own value under the mutex, so
  // later appends find the pages mapped, as in a program that has written
  // for a while.
  void TouchRing();

  // Signals the tool's event; looks for the event again (at most every
  // 100 ms) while it does not exist. True when an event was signalled.
  bool Signal();

  // Waits up to `ms` for the tool's event to exist. True when it does.
  bool WaitForEvent(uint32_t ms);

  HANDLE Mutex() const { return m_mutex.get(); }
  const ChannelNames& Names() const { return m_names; }
  uint32_t Capacity() const;

 private:
  bool OpenToolEvent();

  ChannelNames m_names;
  CHandle m_mutex;
  CHandle m_mapping;
  CHandle m_event;
  TraceBufferHeader* Ring() const { return static_cast<TraceBufferHeader*>(m_view.get()); }

  CMappedView m_view;  // the ring
  size_t m_mappedBytes = 0;
  uint32_t m_ringBytes = 0;
  std::mutex m_eventLock;  // guards the event handle and the look times
  DWORD m_lastEventLook = 0;
  bool m_eventLooked = false;
};
