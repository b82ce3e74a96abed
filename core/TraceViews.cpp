// The store's views and its per-process statistics.
#include <cstdlib>
#include <new>

#include "core/ModuleGroups.h"
#include "core/StrUtil.h"
#include "core/TraceFilter.h"
#include "core/TraceStore.h"
#include "core/TraceView.h"

namespace {
constexpr size_t kAllViewNameChars = 64;
constexpr size_t kFirstSortedView = 1;  // view 0 keeps its place
constexpr size_t kFewestViewsToSort = 3;

HMODULE CurrentModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&CurrentModule), &module);
  return module;
}

bool MeetsMask(const CTraceProcessStat* stat, uint32_t mask) { return (stat->m_groupMask & mask) != 0; }

// Appends a heap copy; 0 when the copy or the append fails.
int AppendCopy(const CTraceProcessStat* source, CGrowArray<CTraceProcessStat*>& array) {
  auto* copy = new (std::nothrow) CTraceProcessStat(*source);
  if (copy == nullptr) {
    return 0;
  }
  if (!copy->IsCopyOf(*source) || !array.Append(copy)) {
    delete copy;
    return 0;
  }
  return 1;
}
}  // namespace

CString AllViewName() {
  wchar_t name[kAllViewNameChars];
  if (LoadStringW(CurrentModule(), IDS_ALL_VIEW, name, int(kAllViewNameChars)) <= 0) {
    StrCopyNW(name, kAllViewNameChars, kAllViewName);
  }
  return CString(name);
}

int CTraceMgr::AddView(const wchar_t* name, uint32_t mask, size_t expected) {
  auto* view = new (std::nothrow) CTraceView(this, name, mask);
  if (view == nullptr) {
    return 0;
  }
  if ((name != nullptr && name[0] != 0 && view->m_name.IsEmpty()) || !view->m_records.Reserve(expected) ||
      !view->UpdateTitle() || !m_views.Append(view)) {
    view->Release();
    return 0;
  }
  if (!view->Rebuild()) {
    m_views.RemoveAt(m_views.count - 1);
    view->Release();
    return 0;
  }
  return 1;
}

CTraceView* CTraceMgr::CreateView(uint32_t mask) {
  CString name;
  const uint32_t allLoaded = m_processStats.count != 0 ? m_processStats[0]->m_groupMask : 0;
  if (m_isStatisticsStore) {
    name = kStatisticsViewName;
  } else if (BitCount(mask) > 1 && (mask == allLoaded || mask == kAllGroups)) {
    name = AllViewName();
  } else {
    name = g_moduleGroups.FormatNamesPipe(mask);
  }
  auto* view = new (std::nothrow) CTraceView(this, name.c_str(), mask);
  if (view == nullptr) {
    return nullptr;
  }
  if (view->m_name.GetLength() != name.GetLength() || !view->UpdateTitle() || !m_views.Append(view)) {
    view->Release();
    return nullptr;
  }
  return view;
}

int CTraceMgr::FindView(uint32_t mask, const CTraceFilter& filter) const {
  for (size_t i = 0; i < m_views.count; ++i) {
    CTraceView* view = m_views[i];
    if (view->State() != kViewFilterJob && view->m_groupMask == mask && !view->m_filter.IsDifferent(filter)) {
      return int(i);
    }
  }
  return -1;
}

int CTraceMgr::CompareViews(const void* a, const void* b) {
  return CTraceView::CompareLevelCounts(*static_cast<CTraceView* const*>(a), *static_cast<CTraceView* const*>(b));
}

void CTraceMgr::SortViews() {
  if (m_views.count < kFewestViewsToSort) {
    return;
  }
  std::qsort(m_views.data + kFirstSortedView, m_views.count - kFirstSortedView, sizeof(CTraceView*),
             &CTraceMgr::CompareViews);
}

void CTraceMgr::AddToProcessStats(const TraceRecord* record) {
  if (m_processStats.count == 0) {
    // Without entry 0 a process entry would stand in its place.
    auto* all = new (std::nothrow) CTraceProcessStat(0);
    if (all == nullptr) {
      return;
    }
    if (!m_processStats.Append(all)) {
      delete all;
      return;
    }
  }
  const int group = HighestBitIndex(record->groupFlag);
  m_processStats[0]->Add(record, group);
  CTraceProcessStat* stat = FindProcessStat(record->pid);
  if (stat == nullptr) {
    stat = new (std::nothrow) CTraceProcessStat(record->pid);
    if (stat == nullptr) {
      return;
    }
    if (!m_processStats.Append(stat)) {
      delete stat;
      return;
    }
  }
  stat->Add(record, group);
}

void CTraceMgr::RemoveFromProcessStats(TraceRecord* record) {
  if (record->version == 0 || m_processStats.count == 0) {
    return;
  }
  record->version = 0;  // released
  const int group = HighestBitIndex(record->groupFlag);
  m_processStats[0]->Remove(record, group);
  for (size_t i = 1; i < m_processStats.count; ++i) {
    CTraceProcessStat* stat = m_processStats[i];
    if (stat->m_pid != record->pid) {
      continue;
    }
    stat->Remove(record, group);
    if (stat->m_count == 0) {
      m_processStats.RemoveAt(i);
      delete stat;
    }
    return;
  }
}

CTraceProcessStat* CTraceMgr::FindProcessStat(uint32_t pid) const {
  for (size_t i = 1; i < m_processStats.count; ++i) {
    if (m_processStats[i]->m_pid == pid) {
      return m_processStats[i];
    }
  }
  return nullptr;
}

int CTraceMgr::CopyProcessStats(CGrowArray<CTraceProcessStat*>& array) const {
  for (size_t i = 0; i < m_processStats.count; ++i) {
    if (!AppendCopy(m_processStats[i], array)) {
      return 0;
    }
  }
  return 1;
}

int CTraceMgr::CopyProcessStatsByMask(uint32_t mask, CGrowArray<CTraceProcessStat*>& array) const {
  for (size_t i = 1; i < m_processStats.count; ++i) {
    if (MeetsMask(m_processStats[i], mask) && !AppendCopy(m_processStats[i], array)) {
      return 0;
    }
  }
  return 1;
}

int CTraceMgr::CollectProcessIds(uint32_t mask, CGrowArray<uint32_t>& array) const {
  for (size_t i = 1; i < m_processStats.count; ++i) {
    if (MeetsMask(m_processStats[i], mask) && !array.Append(m_processStats[i]->m_pid)) {
      return 0;
    }
  }
  return 1;
}
