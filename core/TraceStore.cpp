#include "core/TraceStore.h"

#include <process.h>

#include <cstdlib>
#include <new>

#include "core/PageToucher.h"
#include "core/StoreLock.h"
#include "core/TraceView.h"

namespace {
constexpr uint32_t kPageRound = 4096;

// Rounds up to a multiple of 4096, or 0 when that passes 32 bits.
uint32_t RoundToPage(uint32_t bytes) {
  const uint64_t rounded = (uint64_t(bytes) + kPageRound - 1) & ~uint64_t(kPageRound - 1);
  return rounded > UINT32_MAX ? 0 : uint32_t(rounded);
}

// Grows a linear heap buffer in place of the old one; 0 keeps the old one.
int GrowHeapBuffer(TraceBufferHeader*& buffer, uint32_t bytes, bool doubling) {
  const uint32_t want = RoundToPage(bytes == 0 ? 1 : bytes);
  if (want == 0) {
    return 0;
  }
  if (buffer == nullptr) {
    if (want < kTraceHeaderSize) {
      return 0;
    }
    auto* fresh = static_cast<TraceBufferHeader*>(std::malloc(want));
    if (fresh == nullptr) {
      return 0;
    }
    InitBufferHeader(fresh, want);
    buffer = fresh;
    return 1;
  }
  const uint32_t oldCapacity = buffer->capacity;
  const uint32_t newCapacity = NextHeapCapacity(oldCapacity, want, doubling);
  if (newCapacity == 0) {
    return 0;
  }
  auto* grown = static_cast<TraceBufferHeader*>(std::malloc(newCapacity));
  if (grown == nullptr) {
    return 0;
  }
  // Nothing lies past the write offset of a linear buffer: the rest of the
  // old block is never copied (and never touched).
  const uint32_t used = buffer->write < oldCapacity ? buffer->write : oldCapacity;
  std::memcpy(grown, buffer, used > kTraceHeaderSize ? used : kTraceHeaderSize);
  grown->freeBytes += newCapacity - oldCapacity;
  grown->end = newCapacity;
  grown->capacity = newCapacity;
  std::free(buffer);
  buffer = grown;
  return 1;
}
}  // namespace

uint32_t NextHeapCapacity(uint32_t capacity, uint32_t requested, bool doubling) {
  const uint32_t want = RoundToPage(requested);
  if (want == 0 && requested != 0) {
    return 0;
  }
  const uint32_t step = doubling ? (want > capacity ? want : capacity)
                                 : (want > capacity / 2 ? want : capacity / 2);
  const uint64_t next = uint64_t(capacity) + step;
  return next > UINT32_MAX ? 0 : uint32_t(next);
}

CTraceCache::~CTraceCache() {
  std::free(m_buffer);
  m_buffer = nullptr;
}

int CTraceCache::GrowBuffer(uint32_t bytes) { return GrowHeapBuffer(m_buffer, bytes, true); }

CTraceFile::~CTraceFile() {
  std::free(m_buffer);
  m_buffer = nullptr;
}

int CTraceFile::GrowBuffer(uint32_t bytes) { return GrowHeapBuffer(m_buffer, bytes, false); }

CTraceMgr::CTraceMgr() = default;

CTraceMgr::~CTraceMgr() {
  for (size_t i = 0; i < m_views.count; ++i) {
    m_views.data[i]->Release();
  }
  m_views.Free();
  for (size_t i = 0; i < m_processStats.count; ++i) {
    delete m_processStats.data[i];
  }
  m_processStats.Free();
}

LONG CTraceMgr::Release() {
  const LONG left = InterlockedDecrement(&m_refCount);
  if (left == 0) {
    delete this;
  }
  return left;
}

int CTraceMgr::SetFileName(const wchar_t* path, const wchar_t* name) {
  m_filePath = path;
  m_fileName = name;
  auto* all = new (std::nothrow) CTraceProcessStat(0);
  if (all == nullptr) {
    return 0;
  }
  if (!m_processStats.Append(all)) {
    delete all;
    return 0;
  }
  return 1;
}

const TraceRecord* CTraceMgr::GetItem(CTraceView* view, int index) {
  if (view != m_memoView) {
    m_memoView = view;
    m_memoIndex = -1;
  }
  if (view == nullptr || index < 0) {
    return nullptr;
  }
  if (index == m_memoIndex) {
    return reinterpret_cast<const TraceRecord*>(m_memoRecord);
  }
  // The memo is only trusted once a copy really landed in it.
  m_memoIndex = -1;
  const TraceRecord* result = nullptr;
  {
    const CStoreLock lock(this, kLockShared);
    if (!lock.Held()) {
      return nullptr;
    }
    if (size_t(index) < view->RecordCount()) {
      const TraceRecord* source = view->RecordAt(size_t(index));
      uint32_t length = source->length;
      if (length >= kRecordFixedSize && length <= kMemoRecordSize) {
        std::memcpy(m_memoRecord, source, length);
        result = reinterpret_cast<const TraceRecord*>(m_memoRecord);
      }
    }
  }
  if (result == nullptr) {
    return nullptr;
  }
  // One line per record: blank every control character of the message.
  auto* copy = reinterpret_cast<TraceRecord*>(m_memoRecord);
  const uint32_t length = copy->length;
  if (copy->messageOffset >= kRecordFixedSize && copy->messageOffset < length) {
    auto* text = reinterpret_cast<wchar_t*>(m_memoRecord + copy->messageOffset);
    const size_t units = (length - copy->messageOffset) / sizeof(wchar_t);
    for (size_t i = 0; i < units && text[i] != 0; ++i) {
      if (text[i] < L' ') {
        text[i] = L' ';
      }
    }
  }
  m_memoIndex = index;
  return result;
}

void CTraceMgr::ResetSearch() {
  m_memoView = nullptr;
  m_memoIndex = -1;
}

void CTraceMgr::SetMark(TraceRecord* record, int set, int colour) {
  SetRecordMark(record, set, colour);
  ResetSearch();
}

void CTraceMgr::ClearMarks() {
  // The buffer walk itself: ClearAllMarks(CTraceMgr*) comes back here.
  ClearAllMarks(static_cast<CTraceBase*>(this));
  ResetSearch();
}

namespace {
// The helper works in small pieces, so the owner's growth never waits long
// for the lock.
constexpr uint32_t kPreparePieceBytes = 65536;
}  // namespace

int CReservedRing::Create(uint64_t reserveBytes, uint32_t step) {
  Release();
  if (step == 0 || reserveBytes < step || reserveBytes > kMaxRingReservation) {
    return 0;
  }
  void* base = VirtualAlloc(nullptr, SIZE_T(reserveBytes), MEM_RESERVE, PAGE_READWRITE);
  if (base == nullptr) {
    return 0;
  }
  if (VirtualAlloc(base, step, MEM_COMMIT, PAGE_READWRITE) != base) {
    VirtualFree(base, 0, MEM_RELEASE);
    return 0;
  }
  m_base = static_cast<uint8_t*>(base);
  m_reserved = reserveBytes;
  m_committed = step;
  m_step = step;
  return 1;
}

int CReservedRing::CommitNext() {
  if (m_base == nullptr || Full()) {
    return 0;
  }
  AcquireSRWLockExclusive(&m_growLock);
  const uint64_t left = m_reserved - m_committed;
  const uint32_t step = left < m_step ? uint32_t(left) : m_step;
  // A piece the helper is touching may not become ring memory under it.
  while (m_claimEnd != 0 && m_claimStart < uint64_t(m_committed) + step) {
    SleepConditionVariableSRW(&m_pieceDone, &m_growLock, INFINITE, 0);
  }
  void* at = m_base + m_committed;
  int grown = 1;
  if (m_prepared < uint64_t(m_committed) + step && VirtualAlloc(at, step, MEM_COMMIT, PAGE_READWRITE) != at) {
    m_reserved = m_committed;  // the ring stops growing
    grown = 0;
  } else {
    m_committed += step;
  }
  ReleaseSRWLockExclusive(&m_growLock);
  if (grown && m_wake.valid()) {
    SetEvent(m_wake.get());
  }
  return grown;
}

int CReservedRing::PrepareAhead(uint64_t aheadBytes) {
  if (m_base == nullptr) {
    return 0;
  }
  AcquireSRWLockExclusive(&m_growLock);
  m_ahead = aheadBytes;
  ReleaseSRWLockExclusive(&m_growLock);
  if (!m_helper.valid()) {
    m_wake.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    m_idle.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    InterlockedExchange(&m_stop, 0);
    if (m_wake.valid() && m_idle.valid()) {
      m_helper.reset(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &CReservedRing::HelperProc, this, 0, nullptr)));
    }
    if (!m_helper.valid()) {
      StopHelper();
      return 0;
    }
  }
  SetEvent(m_wake.get());
  return 1;
}

unsigned __stdcall CReservedRing::HelperProc(void* context) {
  auto* ring = static_cast<CReservedRing*>(context);
  while (WaitForSingleObject(ring->m_wake.get(), INFINITE) == WAIT_OBJECT_0 && ring->m_stop == 0) {
    while (ring->m_stop == 0 && ring->PreparePiece()) {
    }
    SetEvent(ring->m_idle.get());
  }
  return 0;
}

bool CReservedRing::PreparePiece() {
  // The piece is claimed under the lock and touched outside it, so the
  // owner's growth waits for one piece at most, never for the whole run.
  AcquireSRWLockExclusive(&m_growLock);
  const uint64_t from = m_prepared > m_committed ? m_prepared : m_committed;
  const uint64_t wanted = uint64_t(m_committed) + m_ahead;
  const uint64_t target = wanted < m_reserved ? wanted : m_reserved;
  if (from >= target) {
    ReleaseSRWLockExclusive(&m_growLock);
    return false;
  }
  const uint32_t piece = uint32_t(target - from < kPreparePieceBytes ? target - from : kPreparePieceBytes);
  m_claimStart = from;
  m_claimEnd = from + piece;
  ReleaseSRWLockExclusive(&m_growLock);

  uint8_t* at = m_base + from;
  const bool committed = VirtualAlloc(at, piece, MEM_COMMIT, PAGE_READWRITE) == at;
  if (committed) {
    TouchFreshPages(at, piece);
  }

  AcquireSRWLockExclusive(&m_growLock);
  if (committed) {
    m_prepared = from + piece;
  }
  m_claimEnd = 0;
  ReleaseSRWLockExclusive(&m_growLock);
  WakeAllConditionVariable(&m_pieceDone);
  return committed && from + piece < target;
}

uint64_t CReservedRing::Prepared() const {
  AcquireSRWLockShared(&m_growLock);
  const uint64_t prepared = m_prepared;
  ReleaseSRWLockShared(&m_growLock);
  return prepared;
}

bool CReservedRing::WaitPrepared(DWORD ms) const {
  return m_idle.valid() && WaitForSingleObject(m_idle.get(), ms) == WAIT_OBJECT_0;
}

void CReservedRing::StopHelper() {
  if (m_helper.valid()) {
    InterlockedExchange(&m_stop, 1);
    SetEvent(m_wake.get());
    WaitForSingleObject(m_helper.get(), INFINITE);
    m_helper.reset();
  }
  m_wake.reset();
  m_idle.reset();
}

void CReservedRing::Release() {
  // The helper first: it may be touching the range.
  StopHelper();
  if (m_base != nullptr) {
    VirtualFree(m_base, 0, MEM_RELEASE);
  }
  m_base = nullptr;
  m_reserved = 0;
  m_committed = 0;
  m_step = 0;
  m_prepared = 0;
  m_ahead = 0;
  m_claimStart = 0;
  m_claimEnd = 0;
}
