// The capture thread's loop: one alertable wait over every input, the
// dispatch of what was signalled, and on each timer tick the move of the
// staged records into the ring.
#include <algorithm>
#include <cstring>
#include <ctime>

#include "capture/TraceCapture.h"
#include "core/AppConfig.h"
#include "core/RecordBuilder.h"
#include "core/RecordImport.h"
#include "core/StoreLock.h"
#include "core/SysUtil.h"
#include "core/TraceView.h"
#include "net/EventSocket.h"

namespace {
// The version byte of a staged record doubles as its pending flag.
constexpr uint8_t kStagedTaken = 0;

bool IsPlainLevel(uint32_t level) {
  return level == kLevelDebug || level == kLevelInfo || level == kLevelWarning || level == kLevelError ||
         level == kLevelPersonal;
}

uint64_t SortStamp(const TraceRecord* record) {
  return (record->flags & kRecordStampValid) != 0 ? record->Stamp() : 0;
}
}  // namespace

void CTraceCapture::CaptureLoop() {
  // Records staged by an earlier run stay: their rings have moved on.
  {
    const CCriticalSectionGuard guard(m_captureLock);
    m_import.Consume(m_import.Size());
  }
  // The stop request can only arrive in the alertable wait below (a stop
  // queued earlier never lets the loop start), so the flag is set first.
  InterlockedExchange(&m_runFlag, 1);
  const CString user = GetCurrentUserName();
  if (!user.IsEmpty()) {
    AddBlockWord(user.c_str());
  }
  if (!OpenMapFiles(1)) {
    CloseMapFiles();
    return;
  }
  Notify(kNotifyNotice, kNoticeCaptureStarted);
  while (m_runFlag != 0 && m_waitHandles.count != 0) {
    const DWORD timeout = WakeRestedChannels();
    const DWORD count = DWORD(m_waitHandles.count);
    const DWORD result = m_wait(count, m_waitHandles.data, FALSE, timeout, TRUE);
    if (result == WAIT_IO_COMPLETION || result == WAIT_TIMEOUT) {
      continue;
    }
    if (result >= WAIT_OBJECT_0 + count) {
      // WAIT_FAILED (or an abandoned handle, which none of ours is): waiting
      // again would only spin.
      Log("CTraceCapture::CaptureLoop, 555-1, wait failed", int(GetLastError()));
      Notify(kNotifyNotice, kNoticeCaptureFailed);
      break;
    }
    // Serve the signalled handle, then every later one that is signalled
    // too, so a busy early handle never starves the later ones.
    size_t index = result - WAIT_OBJECT_0;
    while (m_runFlag != 0 && index < m_waitHandles.count) {
      const size_t next = DispatchAt(index);
      if (next >= m_waitHandles.count) {
        break;
      }
      const DWORD left = DWORD(m_waitHandles.count - next);
      const DWORD polled = WaitForMultipleObjects(left, m_waitHandles.data + next, FALSE, 0);
      if (polled >= WAIT_OBJECT_0 + left) {
        break;
      }
      index = next + (polled - WAIT_OBJECT_0);
    }
  }
  // What was read is stored now, held-back records too: their writers'
  // rings will not give them again.
  if (m_listenPort == 0) {
    StoreStaged(SortingEnabled());
  }
  delete m_listen;
  m_listen = nullptr;
  DeleteAllClients();
  CloseMapFiles();
}

void CTraceCapture::StoreStaged(bool sorted) {
  const CCriticalSectionGuard guard(m_captureLock);
  const size_t pending = CollectStaged(sorted, [](const TraceRecord*) { return true; });
  if (pending != 0) {
    const size_t taken = StoreRecords(m_order.data, m_order.count);
    CompactStaging(taken == m_order.count);  // the order held every pending record
  }
}

template <typename Eligible>
size_t CTraceCapture::CollectStaged(bool sorted, Eligible eligible) {
  m_order.count = 0;
  const TraceBufferHeader* h = m_staging.Buffer();
  if (h == nullptr || h->recordCount == 0 || !m_order.Reserve(h->recordCount)) {
    return 0;
  }
  // Keys are made during the walk, while each record's head is at hand.
  const bool keyed = sorted && m_sortKeys.Reserve(h->recordCount);
  size_t keys = 0;
  size_t pending = 0;
  uint32_t oldest = 0;
  CTraceRingWalker walker(h);
  while (TraceRecord* record = walker.Next()) {
    if (record->version == kStagedTaken) {
      continue;
    }
    if (pending++ == 0) {
      oldest = record->sequence;
    }
    if (!eligible(record)) {
      continue;
    }
    if (keyed) {
      m_sortKeys.data[keys++] = MakeStagedSortKey(record, oldest);
    } else {
      m_order.data[m_order.count++] = record;
    }
  }
  if (keyed) {
    SortStagedKeys(m_sortKeys.data, keys, m_order.data);
    m_order.count = keys;
  } else if (sorted) {
    std::sort(m_order.data, m_order.data + m_order.count,
              [](const TraceRecord* a, const TraceRecord* b) { return CompareRecords(a, b) < 0; });
  }
  return pending;
}

void CTraceCapture::DispatchHandle(HANDLE handle) {
  for (size_t i = 0; i < m_waitHandles.count; ++i) {
    if (m_waitHandles[i] == handle) {
      DispatchAt(i);
      return;
    }
  }
}

size_t CTraceCapture::DispatchAt(size_t index) {
  const HANDLE handle = m_waitHandles[index];
  size_t next = index + 1;
  if (handle == m_timer.get()) {
    AlignTimer();
    OnTimerTick();
    ExpireClients(&next);
    if (m_listen != nullptr) {
      // The backlog is also checked on every tick: Wine can signal an
      // FD_ACCEPT whose connection an earlier accept already took, and the
      // accept that then fails does not re-arm the event there. Connections
      // would wait in the backlog for good.
      AcceptWaiting(m_listen, &next);
    }
    return next;
  }
  if (m_listen != nullptr && handle == m_listen->Event()) {
    OnListenEvent(m_listen, &next);
    return next;
  }
  for (size_t i = 0; i < m_clients.count; ++i) {
    if (m_clients[i]->Event() == handle) {
      if (m_listenPort != 0) {
        OnServiceClientEvent(m_clients[i], &next);
      } else {
        OnRemoteClientEvent(m_clients[i], &next);
      }
      return next;
    }
  }
  if (!m_remoteViewer) {
    if (m_kel.data.valid() && handle == m_kel.data.get()) {
      OnKelBufferData();
      return next;
    }
    if (m_dbwin.data.valid() && handle == m_dbwin.data.get()) {
      OnDbwinData();
      return next;
    }
    DispatchChannels(handle);
  }
  return next;
}

void CTraceCapture::DispatchChannels(HANDLE handle) {
  for (int kind = 0; kind < kChannelKinds; ++kind) {
    for (CTraceChannel* channel : {&m_local[kind], &m_global[kind]}) {
      if (channel->Event() == handle) {
        channel->m_pending = 1;
        if (ImportKelMapFile(channel, kEventImportIntervalMs) < 0) {
          ChannelFailed(channel);
        } else {
          RestChannel(channel);
        }
        return;
      }
    }
  }
}

void CTraceCapture::RestChannel(CTraceChannel* channel) {
  // A writer signals after every append, and a signal within the import
  // interval cannot be served: waking for it costs server round trips and
  // nothing else. The event keeps the signal until the rest is over.
  const DWORD since = GetTickCount() - channel->LastReleaseTick();
  if (channel->RestHandle() == nullptr || since >= kEventImportIntervalMs ||
      !SwapWaitHandle(channel->Event(), channel->RestHandle())) {
    return;
  }
  channel->m_resting = 1;
}

DWORD CTraceCapture::WakeRestedChannels() {
  DWORD timeout = INFINITE;
  const DWORD now = GetTickCount();
  for (int kind = 0; kind < kChannelKinds; ++kind) {
    for (CTraceChannel* channel : {&m_local[kind], &m_global[kind]}) {
      if (!channel->m_resting) {
        continue;
      }
      // A read on the tick meanwhile moves the end of the rest along.
      const DWORD left = channel->LastReleaseTick() + kEventImportIntervalMs - now;
      if (int32_t(left) > 0 && left <= kEventImportIntervalMs) {
        timeout = left < timeout ? left : timeout;
        continue;
      }
      // A rebuilt wait array holds the event already.
      SwapWaitHandle(channel->RestHandle(), channel->Event());
      channel->m_resting = 0;
    }
  }
  return timeout;
}

bool CTraceCapture::SwapWaitHandle(HANDLE from, HANDLE to) {
  for (size_t i = 0; i < m_waitHandles.count; ++i) {
    if (m_waitHandles[i] == from) {
      m_waitHandles[i] = to;
      return true;
    }
  }
  return false;
}

void CTraceCapture::AlignTimer() {
  // A failure keeps the timer as it was: its period goes on.
  LARGE_INTEGER due;
  due.QuadPart = -int64_t(MsToSecondMark(SystemMsIntoSecond(), kCaptureTickMarkMs)) * 10000;
  SetWaitableTimer(m_timer.get(), &due, kCaptureTickMs, nullptr, nullptr, FALSE);
}

void CTraceCapture::OnTimerTick() {
  if (!m_remoteViewer) {
    ImportOlderSources();
    for (int kind = 0; kind < kChannelKinds; ++kind) {
      for (CTraceChannel* channel : {&m_local[kind], &m_global[kind]}) {
        if (channel->m_pending && ImportKelMapFile(channel, kTimerImportIntervalMs) < 0) {
          ChannelFailed(channel);
        }
      }
    }
  }
  if (m_listenPort == 0) {
    if (SortingEnabled()) {
      SortAndStorePending();
    } else {
      DrainQueueToCaches();
    }
    FlushBackup();
  } else {
    ForwardToRemotes();
  }
  ReportLoss();
}

void CTraceCapture::ChannelFailed(CTraceChannel* channel) {
  // This channel alone stops; its event stays, so a writer that comes back
  // is opened afresh on its next signal.
  channel->CloseRing();
  channel->m_pending = 0;
  if (!channel->m_failureNotified) {
    channel->m_failureNotified = 1;
    Notify(kNotifyNotice, kNoticeChannelFailed);
  }
}

void CTraceCapture::ReportLoss() {
  const uint64_t lost = LostRecords();
  if (lost != m_lostReported) {
    m_lostReported = lost;
    Notify(kNotifyNotice, kNoticeRecordsLost);
  }
}

int CTraceCapture::ImportKelMapFile(CTraceChannel* channel, DWORD intervalMs) {
  int locked = channel->Lock(kChannelWaitMs, intervalMs);
  if (locked != kChannelLocked) {
    if (locked < 0) {
      Log("CTraceCapture::ImportKelMapFile, 333-1, delay", int(intervalMs));
    }
    return locked;
  }
  channel->m_failureNotified = 0;
  // A ring full of new records is taken in slices: the writer waits on its
  // mutex only for one slice, and the import and staging buffers stay small
  // enough to be reused warm.
  for (int slice = 0;; ++slice) {
    const uint32_t copied = channel->ReadNewRecords(m_import, kImportSliceBytes);
    const bool more = channel->HasMore();
    channel->Release();  // before any decoding: the writer waits on it
    if (copied != 0) {
      const CCriticalSectionGuard guard(m_captureLock);
      StageImported(channel, IgnoreMask());
    }
    m_import.Consume(m_import.Size());
    StoreIfLarge();
    if (!more) {
      break;
    }
    if (slice + 1 >= kImportSlicesPerCall) {
      channel->m_pending = 1;  // the rest on the next signal or tick
      break;
    }
    locked = channel->Lock(kChannelWaitMs, 0);
    if (locked != kChannelLocked) {
      channel->m_pending = 1;
      return locked < 0 ? locked : kChannelLocked;
    }
  }
  return kChannelLocked;
}

void CTraceCapture::StoreIfLarge() {
  // A fast writer fills the staging buffer far beyond what a tick should
  // carry: store it now rather than let it grow for the rest of the second.
  bool large;
  {
    const CCriticalSectionGuard guard(m_captureLock);
    const TraceBufferHeader* h = m_staging.Buffer();
    large = h != nullptr && h->write - h->headerSize >= (SortingEnabled() ? kSortHoldCapBytes : kEagerStoreBytes);
  }
  if (large && m_listenPort == 0) {
    if (SortingEnabled()) {
      SortAndStorePending();
    } else {
      DrainQueueToCaches();
    }
  }
}

void CTraceCapture::MarkArrival() {
  const TraceBufferHeader* h = m_staging.Buffer();
  if (h == nullptr) {
    return;
  }
  const DWORD now = m_tick();
  if (m_arrivals.count != 0 && m_arrivals[m_arrivals.count - 1].tick == now) {
    return;
  }
  m_arrivals.Append(ArrivalMark{h->lastSequence + 1, now});
}

void CTraceCapture::StageImported(CTraceChannel* channel, uint32_t ignoreMask) {
  const uint8_t* data = m_import.Data();
  const size_t size = m_import.Size();
  // Every length was checked when the bytes were copied.
  auto walk = [&](auto&& visit) {
    for (size_t offset = 0; offset + kMinNarrowRecord <= size;) {
      uint16_t length;
      std::memcpy(&length, data + offset, sizeof(length));
      if (length < kMinNarrowRecord || offset + length > size) {
        break;
      }
      uint32_t pid;
      std::memcpy(&pid, data + offset + kNarrowPidOffset, sizeof(pid));
      if (pid != m_ownPid) {
        visit(const_cast<uint8_t*>(data + offset));
      }
      offset += length;
    }
  };
  // The whole batch is scanned for block words before any of it is built.
  walk([&](uint8_t* record) { AddRecord(&m_staging, ignoreMask, record, 0, kModeScan); });
  MarkArrival();
  const DWORD session = channel->SessionId();
  walk([&](uint8_t* record) {
    TraceRecord* staged = AddRecord(&m_staging, ignoreMask, record, 0, kModeBuild);
    if (staged != nullptr) {
      staged->flags |= kRecordLive;
      staged->sourceType = kSourceWriterRing;
      staged->sessionId = session;
    }
  });
}

bool CTraceCapture::SortingEnabled() const {
  return m_sortOverride >= 0 ? m_sortOverride != 0 : g_appConfig.m_sortEnable != 0;
}

uint32_t CTraceCapture::IgnoreMask() const { return m_ignoreOverride ? m_ignoreMask : g_appConfig.m_ignoreMask; }

int CTraceCapture::CompareRecords(const TraceRecord* a, const TraceRecord* b) {
  if (a->time != b->time) {
    return a->time < b->time ? -1 : 1;
  }
  if (a->milliseconds != b->milliseconds) {
    return a->milliseconds < b->milliseconds ? -1 : 1;
  }
  const uint64_t stampA = SortStamp(a), stampB = SortStamp(b);
  if (stampA != stampB) {
    return stampA < stampB ? -1 : 1;
  }
  // Staging numbers are given in arrival order and never repeat.
  if (a->sequence != b->sequence) {
    return SequenceAfter(b->sequence, a->sequence) ? -1 : 1;
  }
  return 0;
}

void CTraceCapture::DrainQueueToCaches() { StoreStaged(false); }

void CTraceCapture::SortAndStorePending() {
  const CCriticalSectionGuard guard(m_captureLock);
  const TraceBufferHeader* h = m_staging.Buffer();
  if (h == nullptr || h->recordCount == 0) {
    return;
  }
  // A record waits until the seconds before the last two are complete, so
  // that inputs a little out of step merge in time order; but no longer
  // than two seconds after it arrived, whatever its writer's clock says, and
  // not at all once the staging buffer passes the cap.
  bool all = false;
  bool anyArrived = false;
  uint32_t arrived = 0;
  const DWORD now = m_tick();
  const int64_t settled = int64_t(time(nullptr)) - kSortSettleSeconds;
  const uint32_t stagedBytes = h->write - h->headerSize;
  if (stagedBytes >= kSortHoldCapBytes) {
    all = true;
  } else {
    for (size_t i = 0; i < m_arrivals.count && now - m_arrivals[i].tick >= kSortHoldMs; ++i) {
      anyArrived = true;
      arrived = i + 1 < m_arrivals.count ? m_arrivals[i + 1].sequence - 1 : h->lastSequence;
    }
  }
  const size_t pending = CollectStaged(true, [&](const TraceRecord* record) {
    return all || int64_t(record->time) <= settled || (anyArrived && !SequenceAfter(record->sequence, arrived));
  });
  if (m_order.count != 0) {
    CompactStaging(StoreRecords(m_order.data, m_order.count) == pending);
  }
}

bool CTraceCapture::RetakeStore(CStoreLock& lock) {
  // Readers that queued during the last chunk were let in at its release;
  // they hold the store for moments, so the next chunk follows them. A
  // reader that stays (a long save) leaves the rest for the next tick.
  const DWORD started = GetTickCount();
  do {
    SwitchToThread();
    if (lock.Take(0)) {
      return true;
    }
  } while (GetTickCount() - started < kStoreRetakeMs);
  return false;
}

size_t CTraceCapture::StoreRecords(TraceRecord** order, size_t count) {
  size_t taken = 0;
  bool refused = false;
  while (taken < count && !refused) {
    const size_t chunkEnd = std::min(count, taken + kStoreChunkRecords);
    uint32_t chunkBytes = 0;
    for (size_t i = taken; i < chunkEnd; ++i) {
      chunkBytes += order[i]->length;
    }
    TouchRingAhead(chunkBytes);
    // The first try never waits: the window holds the store, and everything
    // waits for the next tick.
    CStoreLock lock(this, kLockExclusive, 0);
    if (!lock.Held() && (taken == 0 || !RetakeStore(lock))) {
      break;
    }
    LARGE_INTEGER started, ended;
    QueryPerformanceCounter(&started);
    for (; taken < chunkEnd; ++taken) {
      TraceRecord* record = order[taken];
      if (record->pid != m_ownPid) {
        TraceRecord* copy = CopyRecord(this, record);
        if (copy == nullptr) {
          if (Buffer() != nullptr && Buffer()->recordCount == 0) {
            // Not even an empty ring holds it: keeping it would stall every
            // record behind it for good.
            record->version = kStagedTaken;
            continue;
          }
          refused = true;  // it stays staged for the next tick
          break;
        }
        if (!IsPlainLevel(copy->level & kLevelMask)) {
          copy->level = (copy->level & ~kLevelMask) | kLevelInfo;
        }
        AddToProcessStats(copy);
        OfferToViews(copy);
      }
      record->version = kStagedTaken;
    }
    QueryPerformanceCounter(&ended);
    lock.Release();
    const uint64_t held = uint64_t(ended.QuadPart - started.QuadPart);
    if (held > m_longestHold) {
      m_longestHold = held;
    }
    ExchangeNewData(1);
    ExchangeHasData(1);
  }
  return taken;
}

void CTraceCapture::OfferToViews(TraceRecord* record) {
  for (size_t i = 0; i < m_views.count; ++i) {
    CTraceView* view = m_views[i];
    if (view->State() != kViewFilterJob && view->AddRecord(record)) {
      view->ExchangeState(kViewNewRecords);
      view->ExchangeChanged(1);
    }
  }
}

void CTraceCapture::CompactStaging(bool allTaken) {
  TraceBufferHeader* h = m_staging.Buffer();
  if (h == nullptr) {
    return;
  }
  uint32_t write = h->headerSize;
  uint32_t kept = 0;
  // When every record was taken there is nothing to keep, and a walk over
  // megabytes of staged records would only find that out.
  CTraceRingWalker walker(h);
  while (TraceRecord* record = allTaken ? nullptr : walker.Next()) {
    if (record->version == kStagedTaken) {
      continue;
    }
    const uint32_t length = record->length;
    uint8_t* target = h->Bytes() + write;
    if (target != reinterpret_cast<uint8_t*>(record)) {
      std::memmove(target, record, length);
    }
    write += length;
    ++kept;
  }
  h->recordCount = kept;
  h->first = h->headerSize;
  h->write = write;
  h->end = h->capacity;
  h->freeBytes = h->capacity - write;
  if (kept == 0) {
    m_arrivals.count = 0;
    return;
  }
  // Marks before the one covering the oldest kept record are spent.
  const uint32_t oldest = reinterpret_cast<const TraceRecord*>(h->Bytes() + h->headerSize)->sequence;
  size_t spent = 0;
  while (spent + 1 < m_arrivals.count && !SequenceAfter(m_arrivals[spent + 1].sequence, oldest)) {
    ++spent;
  }
  if (spent != 0) {
    std::memmove(m_arrivals.data, m_arrivals.data + spent, (m_arrivals.count - spent) * sizeof(ArrivalMark));
    m_arrivals.count -= spent;
  }
}

void CTraceCapture::ResetStaging() {
  if (m_staging.Buffer() != nullptr) {
    ResetBufferHeader(m_staging.Buffer());
  }
  m_arrivals.count = 0;
}

uint64_t CTraceCapture::TakeLongestHoldMicros() {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  const uint64_t held = m_longestHold;
  m_longestHold = 0;
  return frequency.QuadPart != 0 ? held * 1000000 / uint64_t(frequency.QuadPart) : 0;
}
