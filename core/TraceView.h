// A view: a filtered, ordered subset of one store's records, and the
// per-process statistics of a store.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/Containers.h"
#include "core/RefString.h"
#include "core/TraceRecord.h"

class CTraceMgr;

// States of a view.
constexpr LONG kViewIdle = 0;
constexpr LONG kViewNewRecords = 1;
constexpr LONG kViewFilterJob = 2;  // a filter job owns it: no new records, no trimming

constexpr uint32_t kAllGroups = 0xFFFFFFFFu;

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

  CTraceMgr* m_owner;  // not counted as a reference
  CString m_name;
  CString m_title;
  uint32_t m_groupMask;
  uint32_t m_progress = 0;
  CGrowArray<TraceRecord*> m_records;  // pointers into the owner's buffer, in store order
  uint64_t m_debugCount = 0;
  uint64_t m_infoCount = 0;
  uint64_t m_warningCount = 0;
  uint64_t m_errorCount = 0;
  uint64_t m_personalCount = 0;
  int m_topRow = -1;
  int m_selectedRow = -1;

 private:
  volatile LONG m_refCount = 1;
  volatile LONG m_state = kViewIdle;
  volatile LONG m_changed = 0;
};

class CTraceProcessStat {
 public:
  explicit CTraceProcessStat(uint32_t pid) : m_pid(pid) {}

  uint32_t m_pid;
  uint32_t m_groupMask = 0;
  uint64_t m_count = 0;
  CGrowArray<uint64_t> m_groupCounts;  // one per component group
};
