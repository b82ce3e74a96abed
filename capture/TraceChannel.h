// One writer channel: a traced program's ring of narrow records in a named
// mapping, guarded by its named mutex and announced by an event this program
// creates. Everything in the ring was written by another process, so the
// header is checked on every lock and every record length and offset before
// it is read.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/Containers.h"
#include "core/Handle.h"
#include "core/TraceRecord.h"

// Kernel-object names hold at most this many characters with the terminator.
constexpr size_t kChannelNameChars = 64;

// Result codes of CTraceChannel::Lock.
constexpr int kChannelLocked = 1;
constexpr int kChannelNotNow = 0;
constexpr int kChannelFailed = -1;

// Mutex waits: the first lock of a ring may wait longer than later ones.
constexpr DWORD kChannelFirstWaitMs = 1000;
constexpr DWORD kChannelWaitMs = 25;

class CTraceChannel {
 public:
  CTraceChannel() = default;
  ~CTraceChannel() { Close(); }
  CTraceChannel(const CTraceChannel&) = delete;
  CTraceChannel& operator=(const CTraceChannel&) = delete;

  // Names the channel; names are cut to 63 characters.
  void Init(DWORD sessionId, const wchar_t* mutexName, const wchar_t* eventName, const wchar_t* mappingName);
  // Creates the event (auto-reset, not signalled) and, when a writer's mutex
  // already exists, signals it so the first wait reads what was written.
  // 0 when the event cannot be created.
  int OpenEvent(SECURITY_ATTRIBUTES* attributes);
  // Closes every handle and the view.
  void Close();
  // Closes the writer's objects only; the event stays, so a writer that
  // comes back later is read again from a fresh open.
  void CloseRing();

  // kChannelLocked (call Release), kChannelNotNow (too soon after the last
  // release, or the mutex is busy) or kChannelFailed (objects missing, wait
  // failed, or the ring header is not sound).
  int Lock(DWORD waitMs, DWORD intervalMs);
  // Appends the records newer than the last one copied, each checked for a
  // sound length inside the ring, until `maxBytes` are appended. Returns how
  // many were appended; HasMore tells whether newer ones were left for the
  // next read. Locked callers only.
  uint32_t ReadNewRecords(CByteBuffer& output, size_t maxBytes = SIZE_MAX);
  bool HasMore() const { return m_more; }
  void Release();

  HANDLE Event() const { return m_event.get(); }
  // Never signalled: it stands in for the event in the capture's wait while
  // the channel rests (null when it could not be made: then it never rests).
  HANDLE RestHandle() const { return m_rest.get(); }
  DWORD LastReleaseTick() const { return m_lastReleaseTick; }
  bool IsOpen() const { return m_view.valid(); }
  DWORD SessionId() const { return m_sessionId; }
  uint32_t LastSequence() const { return m_lastSequence; }
  // Records a writer overwrote before this channel could copy them.
  uint64_t LostRecords() const { return m_lostRecords; }
  // Records whose length or offset was unsound (the rest of that copy is
  // given up).
  uint64_t DamagedRecords() const { return m_damagedRecords; }
  const wchar_t* EventName() const { return m_eventName; }

  uint32_t m_pending = 0;          // the event fired; cleared by Release
  uint32_t m_failureNotified = 0;  // the owner was told this channel failed
  // The rest handle stands in for the event until the import interval has
  // passed since the last release.
  uint32_t m_resting = 0;

 private:
  int OpenRing();
  // Checks the header copy taken under the mutex against the mapped size.
  bool HeaderIsSound() const;
  // Where the record at `offset` may end: the end of the older part for
  // records in it, else the write offset.
  uint32_t RecordLimit(uint32_t offset) const;
  // Where the next read starts: right behind the last record copied when
  // that place still holds the next number, else at the oldest record.
  uint32_t ReadStart() const;

  const uint8_t* View() const { return m_view.bytes(); }

  CHandle m_event;
  CHandle m_rest;
  CHandle m_mutex;
  CHandle m_mapping;
  CMappedView m_view;  // the whole ring, read-only
  size_t m_viewSize = 0;
  TraceBufferHeader m_header = {};  // taken on each lock
  uint32_t m_lastSequence = 0;
  uint32_t m_generation = 0;
  uint32_t m_resumeOffset = 0;  // behind the last record copied, 0 none
  bool m_hasRead = false;  // a record of this generation was copied
  bool m_more = false;     // the last read stopped at its byte limit
  DWORD m_sessionId = 0;
  DWORD m_lastReleaseTick = 0;
  uint64_t m_lostRecords = 0;
  uint64_t m_damagedRecords = 0;
  wchar_t m_mutexName[kChannelNameChars] = {};
  wchar_t m_eventName[kChannelNameChars] = {};
  wchar_t m_mappingName[kChannelNameChars] = {};
};

// True when sequence a comes after b (sequence numbers wrap).
inline bool SequenceAfter(uint32_t a, uint32_t b) { return int32_t(a - b) > 0; }

// Windows NT 6 or later: integrity labels and the global namespace per session.
bool IsNt6OrLater();
