// The trace-store family: a root that knows only the buffer, the capture's
// staging buffer, the store base with views and statistics, and the store
// of a loaded file. The concrete stores differ in how the buffer grows, how
// it is locked and who deletes it.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/Containers.h"
#include "core/RefString.h"
#include "core/TraceRecord.h"

class CTraceView;
class CTraceProcessStat;

// Lock modes of a store.
constexpr int kLockShared = 1;
constexpr int kLockExclusive = 2;

// Large enough for any record: its length field has 16 bits.
constexpr uint32_t kMemoRecordSize = 65536;

class CTraceBase {
 public:
  CTraceBase() = default;
  CTraceBase(const CTraceBase&) = delete;
  CTraceBase& operator=(const CTraceBase&) = delete;
  virtual ~CTraceBase() = default;

  // Makes at least `bytes` more bytes reservable; 0 leaves the old buffer
  // untouched.
  virtual int GrowBuffer(uint32_t bytes) = 0;

  TraceBufferHeader* Buffer() const { return m_buffer; }

 protected:
  TraceBufferHeader* m_buffer = nullptr;  // records follow in the same block
};

// Growth of a heap buffer: the new capacity, or 0 when it would pass 4 GiB.
// `minimumStep` is max(want, capacity) for doubling, max(want, capacity / 2)
// for growing by half.
uint32_t NextHeapCapacity(uint32_t capacity, uint32_t requested, bool doubling);

// The capture's staging buffer: a linear buffer growing by doubling, filled
// by the inputs and drained by the capture loop.
class CTraceCache : public CTraceBase {
 public:
  ~CTraceCache() override;
  int GrowBuffer(uint32_t bytes) override;
};

class CTraceMgr : public CTraceBase {
 public:
  CTraceMgr();
  ~CTraceMgr() override;

  virtual int Lock(int mode, int wait) = 0;
  virtual void Unlock(int mode) = 0;
  // Called by the binary writer after the store was written out.
  virtual int AfterWrite() { return 1; }

  // Reference counting: the holder that drops the count to 0 deletes the store.
  LONG AddRef() { return InterlockedIncrement(&m_refCount); }
  LONG Release();
  LONG RefCount() const { return m_refCount; }

  // Stores the source's path and name and appends the all-processes
  // statistics entry. 0 when that entry cannot be added.
  int SetFileName(const wchar_t* path, const wchar_t* name);

  // A copy of the record at `index` of `view`, with control characters of
  // the message blanked so the list shows one line. The copy stays valid
  // until the next call. Null when the index is outside the view or the
  // store cannot be locked. User-interface thread only.
  const TraceRecord* GetItem(CTraceView* view, int index);

  // Forgets the memo, so the next GetItem reads the store again.
  void ResetSearch();

  // Mark changes go through the store so a memo copy never shows old marks.
  // The caller holds the exclusive lock.
  void SetMark(TraceRecord* record, int set, int colour);
  void ClearMarks();

  // New-data and has-data flags, changed only by atomic exchange.
  LONG ExchangeNewData(LONG value) { return InterlockedExchange(&m_newData, value); }
  LONG ExchangeHasData(LONG value) { return InterlockedExchange(&m_hasData, value); }
  LONG HasData() const { return m_hasData; }

  uint32_t Progress() const { return m_progress; }
  void SetProgress(uint32_t percent) { InterlockedExchange(reinterpret_cast<volatile LONG*>(&m_progress), LONG(percent)); }

  uint32_t m_sourceItemCount = 0;  // records the .ktr reader found in the image
  CString m_filePath;
  CString m_fileName;
  CGrowArray<CTraceProcessStat*> m_processStats;  // entry 0: all processes
  CGrowArray<CTraceView*> m_views;                // each holds one reference
  uint8_t m_isStatisticsStore = 0;

 protected:
  volatile uint32_t m_progress = 0;
  volatile LONG m_refCount = 1;
  volatile LONG m_newData = 0;
  volatile LONG m_hasData = 0;

 private:
  CTraceView* m_memoView = nullptr;
  int m_memoIndex = -1;
  alignas(8) uint8_t m_memoRecord[kMemoRecordSize] = {};
};

// A store loaded from a file: nobody else sees it while it loads, and
// afterwards it is only read, so it needs no lock.
class CTraceFile : public CTraceMgr {
 public:
  ~CTraceFile() override;
  int GrowBuffer(uint32_t bytes) override;
  int Lock(int mode, int wait) override { return 1; }
  void Unlock(int mode) override {}
};

// An address range reserved once and committed step by step, so a ring
// living in it grows without moving: views keep plain pointers to records.
class CReservedRing {
 public:
  CReservedRing() = default;
  CReservedRing(const CReservedRing&) = delete;
  CReservedRing& operator=(const CReservedRing&) = delete;
  ~CReservedRing() { Release(); }

  // Reserves `reserveBytes` (computed by the caller in 64 bits; kept below
  // 4 GiB since header offsets are 32-bit) and commits the first `step`
  // bytes. 0 on failure, with nothing held.
  int Create(uint64_t reserveBytes, uint32_t step);
  // Commits the next step behind the current capacity. 0 when the range is
  // used up or the commit fails; the reserved size then drops to the
  // capacity, so the ring stops growing.
  int CommitNext();
  void Release();

  uint8_t* Base() const { return m_base; }
  uint64_t ReservedSize() const { return m_reserved; }
  uint32_t Committed() const { return m_committed; }
  bool Full() const { return m_committed >= m_reserved; }

 private:
  uint8_t* m_base = nullptr;
  uint64_t m_reserved = 0;
  uint32_t m_committed = 0;
  uint32_t m_step = 0;
};

// The largest reservation a ring may have: offsets in the header are 32-bit.
constexpr uint64_t kMaxRingReservation = 0xFFF00000ull;
