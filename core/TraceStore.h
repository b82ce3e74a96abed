// The trace-store family: a root that knows only the buffer, the capture's
// staging buffer, the store base with views and statistics, and the store
// of a loaded file. The concrete stores differ in how the buffer grows, how
// it is locked and who deletes it.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/Containers.h"
#include "core/Handle.h"
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

  // --- record builder and importers ---
  // `store` is any buffer owner (a store or the capture's staging buffer) and
  // is written by the calling thread only. Records returned point into its
  // buffer; null means nothing was stored. Modes and limits: RecordBuilder.h;
  // validation rules and layouts: RecordImport.h. `messageUnits` is the
  // message's length in units when the caller knows it (SIZE_MAX: counted here).
  static TraceRecord* AddTraceItem(CTraceBase* store, int group, uint32_t level, const wchar_t* module,
                                   const wchar_t* hint, const wchar_t* message, uint32_t pid, uint32_t tid,
                                   uint32_t time, uint16_t milliseconds, const uint32_t* stamp,
                                   const wchar_t* subName, int mode, uint32_t messageLimit,
                                   size_t messageUnits = SIZE_MAX);
  static int AddBlockWord(const wchar_t* word);
  static TraceRecord* DecipherAndImport(CTraceBase* store, uint32_t ignoreMask, uint8_t* record, int mode);
  static TraceRecord* CopyRecord(CTraceBase* store, const TraceRecord* record);
  static TraceRecord* AddRecord(CTraceBase* store, uint32_t ignoreMask, const void* record, int copy, int mode);
  static TraceRecord* AddNetRecord(CTraceBase* store, uint32_t ignoreMask, const void* record, int mode);
  static TraceRecord* ImportRecord(CTraceBase* store, uint32_t ignoreMask, const void* record, int mode);
  static int SplitModuleName(const wchar_t* module, wchar_t* modulePart, wchar_t* subName, int* group,
                             uint32_t ignoreMask);
  static TraceRecord* AddDbgText(CTraceBase* store, const char* text, const char* end, uint32_t ignoreMask,
                                 int mode);
  static TraceRecord* AddTextLine(CTraceBase* store, const wchar_t* levelText, const wchar_t* dateTimeText,
                                  const wchar_t* moduleText, const wchar_t* idText, const wchar_t* message,
                                  int mode);
  static TraceRecord* AddDbwin(CTraceBase* store, const void* buffer, size_t size, uint32_t ignoreMask, int mode);
  static TraceRecord* AddSharedRecord(CTraceBase* store, const void* buffer, size_t size, uint32_t ignoreMask,
                                      int mode);
  static TraceRecord* AddQrvRecord(CTraceBase* store, uint32_t ignoreMask, const void* record, size_t size,
                                   int mode);
  static int ScanBufferForBlockWords(CTraceBase* store, const void* image, size_t size, int copy);
  // --- end of record builder and importers ---

  // --- views and statistics ---
  // Views and statistics change under the store's lock (or before anyone
  // else sees the store).

  // Creates a view with room for `expected` records, appends it, titles it
  // and rebuilds it. 1, or 0 when any allocation fails (the view is then
  // released and not in the list).
  int AddView(const wchar_t* name, uint32_t mask, size_t expected);
  // Appends a titled, empty view named after the mask. The store's list
  // keeps the reference: AddRef to hold the view. Null on failure.
  CTraceView* CreateView(uint32_t mask);
  // Index of the first view not owned by a filter job with this mask and an
  // equal filter, or -1.
  int FindView(uint32_t mask, const class CTraceFilter& filter) const;
  // qsort order of two CTraceView* elements (CTraceView::CompareLevelCounts).
  static int CompareViews(const void* a, const void* b);
  // With more than two views, orders views 1 to n by CompareViews; view 0
  // keeps its place.
  void SortViews();

  // Counts the record in entry 0 and in its process's entry (made when
  // new). Entry 0 is made first when SetFileName has not run.
  void AddToProcessStats(const TraceRecord* record);
  // For a record leaving the ring: marks it released (version 0) and takes
  // it out of the counts; a process entry whose count drops to 0 is freed.
  // A record already marked released is not counted out twice.
  void RemoveFromProcessStats(TraceRecord* record);
  // The entry of that process among entries 1 to n (never entry 0), or null.
  // The store keeps ownership.
  CTraceProcessStat* FindProcessStat(uint32_t pid) const;
  // Append heap copies (entry 0 included) that the caller deletes. 1, or 0
  // at the first allocation failure (the copies made so far stay).
  int CopyProcessStats(CGrowArray<CTraceProcessStat*>& array) const;
  // The same for entries 1 to n whose group mask meets `mask`.
  int CopyProcessStatsByMask(uint32_t mask, CGrowArray<CTraceProcessStat*>& array) const;
  // Appends the process ids of entries 1 to n whose group mask meets `mask`.
  int CollectProcessIds(uint32_t mask, CGrowArray<uint32_t>& array) const;
  // --- end of views and statistics ---

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
  // capacity, so the ring stops growing. Owner thread only.
  int CommitNext();
  // Starts a helper thread that commits and first-touches the memory up to
  // `aheadBytes` past the committed end, so the next steps are ready when
  // the ring grows: on some machines the first touch of a page costs tens
  // of microseconds, which the thread filling the ring should not pay. The
  // helper only touches memory the ring has not taken yet. 0 when the
  // thread cannot start; the ring then grows as before.
  int PrepareAhead(uint64_t aheadBytes);
  // Bytes from the base that are committed and touched ahead (0 without a
  // helper), and a wait until the helper has nothing left to do.
  uint64_t Prepared() const;
  bool WaitPrepared(DWORD ms) const;
  void Release();

  uint8_t* Base() const { return m_base; }
  uint64_t ReservedSize() const { return m_reserved; }
  uint32_t Committed() const { return m_committed; }
  bool Full() const { return m_committed >= m_reserved; }

 private:
  static unsigned __stdcall HelperProc(void* context);
  // Commits and touches one piece ahead; false when there is nothing to do.
  bool PreparePiece();
  void StopHelper();

  uint8_t* m_base = nullptr;
  uint64_t m_reserved = 0;
  uint32_t m_committed = 0;
  uint32_t m_step = 0;
  // The helper and the owner's growth meet under this lock.
  mutable SRWLOCK m_growLock = SRWLOCK_INIT;  // guards the sizes below and the claimed piece
  uint64_t m_prepared = 0;
  uint64_t m_ahead = 0;
  uint64_t m_claimStart = 0;  // the piece being touched; end 0: none
  uint64_t m_claimEnd = 0;
  CONDITION_VARIABLE m_pieceDone = CONDITION_VARIABLE_INIT;
  CHandle m_helper;
  CHandle m_wake;  // auto-reset: the committed end moved
  CHandle m_idle;  // auto-reset: a round of preparing ended
  volatile LONG m_stop = 0;
};

// The largest buffer a store reserves at once, ring or heap: offsets in the
// header are 32-bit. Readers that size a store from its file cap it here.
constexpr uint64_t kMaxStoreReservation = 0xFFF00000ull;
constexpr uint64_t kMaxRingReservation = kMaxStoreReservation;
