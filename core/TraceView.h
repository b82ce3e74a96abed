// A view: a filtered, ordered subset of one store's records, and the
// per-process statistics of a store.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/Containers.h"
#include "core/RefString.h"
#include "core/TraceFilter.h"
#include "core/TraceRecord.h"
#include "res/resource.h"

class CTraceMgr;

// States of a view.
constexpr LONG kViewIdle = 0;
constexpr LONG kViewNewRecords = 1;
constexpr LONG kViewFilterJob = 2;  // a filter job owns it: no new records, no trimming

constexpr uint32_t kAllGroups = 0xFFFFFFFFu;

// Name of every view of a store built for the statistic dialog.
constexpr wchar_t kStatisticsViewName[] = L"Stastistic Details -";
// Name of the view over every group when the string table lacks IDS_ALL_VIEW.
constexpr wchar_t kAllViewName[] = L"ALL";
// That name from the string table (the fallback when it is missing).
CString AllViewName();

// Record strings a text search may look at (bits of the `fields` argument).
constexpr uint32_t kSearchModule = 0x08;
constexpr uint32_t kSearchHint = 0x10;
constexpr uint32_t kSearchMessage = 0x100;

// The process or thread part of a view's title is cut at this length.
constexpr size_t kTitleIdsChars = 255;

class CTraceView {
 public:
  CTraceView(CTraceMgr* owner, const wchar_t* name, uint32_t mask);
  CTraceView(const CTraceView&) = delete;
  CTraceView& operator=(const CTraceView&) = delete;
  virtual ~CTraceView() = default;

  LONG AddRef() { return InterlockedIncrement(&m_refCount); }
  // Deletes the view when the last reference goes.
  LONG Release();

  size_t RecordCount() const { return m_records.count; }
  TraceRecord* RecordAt(size_t index) const { return m_records.data[index]; }

  LONG ExchangeState(LONG value) { return InterlockedExchange(&m_state, value); }
  LONG State() const { return m_state; }
  LONG ExchangeChanged(LONG value) { return InterlockedExchange(&m_changed, value); }
  LONG Changed() const { return m_changed; }

  // Progress of a rebuild in percent, read by the window while a job runs.
  uint32_t Progress() const { return m_progress; }
  void SetProgress(uint32_t percent) {
    InterlockedExchange(reinterpret_cast<volatile LONG*>(&m_progress), LONG(percent));
  }

  // The caller holds the owner's lock for everything below that changes the
  // index or the counters.

  // Appends the record when its group is in the mask and the filter (which
  // must be compiled) accepts it, and counts its level. 1 when appended; 0
  // when it was not accepted or the index could not grow.
  int AddRecord(TraceRecord* record);
  // Rebuilds the index from every record of the owner's buffer, in ring
  // order. 1, or 0 when the index could not grow (the records appended so
  // far stay and are counted).
  int Rebuild();
  // Drops the leading entries whose record lies in [low, high): the ring
  // releases its oldest records first, and the index is in store order.
  // Returns how many were dropped.
  size_t RemoveRange(const void* low, const void* high);
  // Empties the index and the counters; returns the old changed flag and
  // clears it.
  LONG ResetCounters();
  void CountLevel(const TraceRecord* record);
  void UncountLevel(const TraceRecord* record);

  // "name (pid:...) - file name"; 0 when the title could not be allocated
  // (the old one then stays).
  int UpdateTitle();

  // qsort order of two views: more errors first, then warnings, information
  // and debug records.
  static int CompareLevelCounts(const CTraceView* a, const CTraceView* b);

  // The time-delta column of the record at `index`: the stamp difference to
  // the nearest earlier stamped record of the view, "0" when there is none,
  // "-0" when it is negative, "N/A" for an index outside the view or a record
  // without a stamp. Returns the length written, -1 for a buffer of size 0.
  int FormatDelta(int index, wchar_t* buffer, size_t size) const;

  // Searches over the half-open range [from, to) of view indexes; `to` is
  // first lowered to the record count. Forward searches return the lowest
  // matching index, backward ones the highest; -1 when nothing matches.
  int FindNextMatch(int from, int to, const CTraceFilter& filter) const;
  int FindNextFlagged(int from, int to) const;
  int FindPrevFlagged(int from, int to) const;
  // `fields` holds kSearchModule, kSearchHint and kSearchMessage. With
  // caseSensitive 0 the record's strings are compared as lower case and the
  // text must already be lower case (the window lowers it once).
  int FindText(int from, int to, uint32_t fields, const wchar_t* text, int caseSensitive) const;
  int FindPrevText(int from, int to, uint32_t fields, const wchar_t* text, int caseSensitive) const;
  bool RecordContainsText(uint32_t fields, int index, const wchar_t* text, int caseSensitive) const;

  // Where a record shown before stands in this view: its own index, else the
  // first record at or after its time; -1 for a null record or an empty view.
  int FindInsertPos(const TraceRecord* record, uint32_t time, uint16_t milliseconds) const;

  // Sets (or with set 0 clears all) marks of the record at `index` through
  // the owner, so its memo copy is refreshed. 1, or 0 for an index outside
  // the view. The caller holds the owner's exclusive lock.
  int MarkRecord(int index, int set, int colour);

  CTraceMgr* m_owner;  // not counted as a reference
  CString m_name;
  CString m_title;
  uint32_t m_groupMask;
  volatile uint32_t m_progress = 0;
  CSlidingArray<TraceRecord*> m_records;  // pointers into the owner's buffer, in store order
  uint64_t m_debugCount = 0;
  uint64_t m_infoCount = 0;
  uint64_t m_warningCount = 0;
  uint64_t m_errorCount = 0;
  uint64_t m_personalCount = 0;
  CTraceFilter m_filter;
  int m_topRow = -1;       // the list's top row when the view was last shown, -1 none
  int m_selectedRow = -1;  // its first selected row then, -1 none

 private:
  uint64_t* LevelCounter(uint32_t level);
  bool InRange(int* from, int* to) const;

  volatile LONG m_refCount = 1;
  volatile LONG m_state = kViewIdle;
  volatile LONG m_changed = 0;
};

// Counts the records of a store for one process (pid 0: all of them), in all
// and per component group.
class CTraceProcessStat {
 public:
  // One counter per group of the module-group table as it stands now.
  explicit CTraceProcessStat(uint32_t pid);
  // Counters that cannot be copied are left out; IsCopyOf tells.
  CTraceProcessStat(const CTraceProcessStat& other);
  CTraceProcessStat& operator=(const CTraceProcessStat&) = delete;

  // `group` is the index of the record's group bit.
  void Add(const TraceRecord* record, int group);
  // Never counts below 0.
  void Remove(const TraceRecord* record, int group);
  uint64_t GroupCount(size_t group) const { return group < m_groupCounts.count ? m_groupCounts[group] : 0; }
  bool IsCopyOf(const CTraceProcessStat& other) const;

  uint32_t m_pid;
  uint32_t m_groupMask = 0;  // group bits of the records counted
  uint64_t m_count = 0;
  CGrowArray<uint64_t> m_groupCounts;  // one per component group

 private:
  uint64_t* Counter(int group);
};

// Clears the marks of every record of the store and forgets its memo copy.
// The caller holds the store's exclusive lock.
void ClearAllMarks(CTraceMgr* store);
