#include "core/TraceView.h"

#include <cstring>

#include "core/ModuleGroups.h"
#include "core/StrUtil.h"
#include "core/TraceStore.h"

namespace {
constexpr uint32_t kPercentAll = 100;
constexpr size_t kIdTextChars = 16;  // "|4294967295" and the terminator
constexpr int kNoRow = -1;

// A remembered row after `dropped` leading entries left: none stays none,
// a row that left with them becomes none.
int ShiftRow(int row, size_t dropped) {
  if (row < 0) {
    return row;
  }
  return size_t(row) < dropped ? kNoRow : row - int(dropped);
}

// Walking a store is a chain of dependent loads (each record's length gives
// the next address), so the hardware sees one miss at a time. Records lie
// back to back, so the lines ahead of the walk are the ones it needs next:
// touching them early turns the walk from latency-bound to bandwidth-bound.
class CLinePrefetcher {
 public:
  void Ahead(const void* at) {
    const auto here = reinterpret_cast<uintptr_t>(at);
    const uintptr_t target = here + kDistance;
    if (m_next < here || m_next > target) {
      m_next = here;  // the start, or the walk wrapped to the front
    }
    for (; m_next < target; m_next += kLine) {
      // Prefetching never faults, also past the end of the buffer.
      __builtin_prefetch(reinterpret_cast<const void*>(m_next));
    }
  }

 private:
  static constexpr uintptr_t kLine = 64;
  static constexpr uintptr_t kDistance = 4096;
  uintptr_t m_next = 0;
};

int CompareDescending(uint64_t a, uint64_t b) { return a > b ? -1 : (a < b ? 1 : 0); }

// "pid:7|9", "tid:..." or "pid:all", cut at kTitleIdsChars.
void FormatIds(const CTraceFilter& filter, wchar_t* out, size_t size) {
  const CGrowArray<uint32_t>* ids = nullptr;
  const wchar_t* prefix = L"pid:all";
  if (filter.m_flags & kFilterTids) {
    ids = &filter.m_tids;
    prefix = L"tid:";
  } else if (filter.m_flags & kFilterPids) {
    ids = &filter.m_pids;
    prefix = L"pid:";
  }
  StrCopyNW(out, size, prefix);
  if (ids == nullptr) {
    return;
  }
  size_t length = std::wcslen(out);
  for (size_t i = 0; i < ids->count && length + 1 < size; ++i) {
    wchar_t one[kIdTextChars];
    StrPrintfW(one, kIdTextChars, i == 0 ? L"%u" : L"|%u", (*ids)[i]);
    length = StrCatNW(out, size, one);
  }
}
}  // namespace

CTraceView::CTraceView(CTraceMgr* owner, const wchar_t* name, uint32_t mask)
    : m_owner(owner), m_name(name), m_groupMask(mask) {}

LONG CTraceView::Release() {
  const LONG left = InterlockedDecrement(&m_refCount);
  if (left == 0) {
    delete this;
  }
  return left;
}

uint64_t* CTraceView::LevelCounter(uint32_t level) {
  if (level & kLevelInfo) return &m_infoCount;
  if (level & kLevelWarning) return &m_warningCount;
  if (level & kLevelError) return &m_errorCount;
  if (!(level & kLevelPersonal)) return &m_debugCount;
  return &m_personalCount;
}

void CTraceView::CountLevel(const TraceRecord* record) { *LevelCounter(record->level) += 1; }

void CTraceView::UncountLevel(const TraceRecord* record) {
  uint64_t* counter = LevelCounter(record->level);
  if (*counter != 0) {
    *counter -= 1;
  }
}

int CTraceView::AddRecord(TraceRecord* record) {
  if ((m_groupMask & record->groupFlag) == 0 || !m_filter.Match(record)) {
    return 0;
  }
  if (!m_records.Append(record)) {
    return 0;
  }
  CountLevel(record);
  return 1;
}

LONG CTraceView::ResetCounters() {
  m_records.Clear();
  m_debugCount = m_infoCount = m_warningCount = m_errorCount = m_personalCount = 0;
  return InterlockedExchange(&m_changed, 0);
}

int CTraceView::Rebuild() {
  SetProgress(0);
  ResetCounters();
  int result = 1;
  const TraceBufferHeader* header = m_owner != nullptr ? m_owner->Buffer() : nullptr;
  if (header != nullptr) {
    const uint64_t total = header->recordCount;
    // The percent changes a hundred times at most: work out at which record
    // it next changes instead of dividing for every record.
    uint32_t percent = 0;
    uint64_t nextChange = (total + kPercentAll - 1) / kPercentAll;
    uint64_t i = 0;
    CTraceRingWalker walker(header);
    CLinePrefetcher prefetcher;
    while (TraceRecord* record = walker.Next()) {
      prefetcher.Ahead(record);
      // A record the filter accepts but the index cannot take is lost.
      if ((m_groupMask & record->groupFlag) != 0 && m_filter.Match(record)) {
        if (m_records.Append(record)) {
          CountLevel(record);
        } else {
          result = 0;
        }
      }
      if (i >= nextChange) {
        percent = uint32_t(i * kPercentAll / total);
        SetProgress(percent);
        nextChange = ((uint64_t(percent) + 1) * total + kPercentAll - 1) / kPercentAll;
      }
      ++i;
    }
  }
  SetProgress(kPercentAll);
  return result;
}

size_t CTraceView::RemoveRange(const void* low, const void* high) {
  const auto lowest = reinterpret_cast<uintptr_t>(low);
  const auto limit = reinterpret_cast<uintptr_t>(high);
  size_t dropped = 0;
  while (dropped < m_records.count) {
    const auto at = reinterpret_cast<uintptr_t>(m_records[dropped]);
    if (at < lowest || at >= limit) {
      break;
    }
    UncountLevel(m_records[dropped]);
    ++dropped;
  }
  if (dropped == 0) {
    return 0;
  }
  m_records.DropFront(dropped);
  m_topRow = ShiftRow(m_topRow, dropped);
  m_selectedRow = ShiftRow(m_selectedRow, dropped);
  return dropped;
}

int CTraceView::UpdateTitle() {
  wchar_t ids[kTitleIdsChars + 1];
  FormatIds(m_filter, ids, kTitleIdsChars + 1);
  const wchar_t* fileName = m_owner != nullptr ? m_owner->m_fileName.c_str() : L"";
  CString title;
  if (!title.Format(L"%s (%s) - %s", m_name.c_str(), ids, fileName)) {
    return 0;
  }
  m_title = title;
  return 1;
}

int CTraceView::CompareLevelCounts(const CTraceView* a, const CTraceView* b) {
  if (int order = CompareDescending(a->m_errorCount, b->m_errorCount)) return order;
  if (int order = CompareDescending(a->m_warningCount, b->m_warningCount)) return order;
  if (int order = CompareDescending(a->m_infoCount, b->m_infoCount)) return order;
  return CompareDescending(a->m_debugCount, b->m_debugCount);
}

int CTraceView::FormatDelta(int index, wchar_t* buffer, size_t size) const {
  if (buffer == nullptr || size == 0) {
    return -1;
  }
  auto put = [&](const wchar_t* text) { return int(StrCopyNW(buffer, size, text)); };
  if (index < 0 || size_t(index) >= m_records.count || !(m_records[size_t(index)]->flags & kRecordStampValid)) {
    return put(L"N/A");
  }
  const TraceRecord* record = m_records[size_t(index)];
  for (int earlier = index - 1; earlier >= 0; --earlier) {
    const TraceRecord* before = m_records[size_t(earlier)];
    if (!(before->flags & kRecordStampValid)) {
      continue;
    }
    // Unsigned subtraction, then the sign: no overflow for any two stamps.
    const auto delta = static_cast<int64_t>(record->Stamp() - before->Stamp());
    if (delta < 0) {
      return put(L"-0");
    }
    StrPrintfW(buffer, size, L"%I64d", delta);
    return int(std::wcslen(buffer));
  }
  return put(L"0");
}

int CTraceView::MarkRecord(int index, int set, int colour) {
  if (index < 0 || size_t(index) >= m_records.count) {
    return 0;
  }
  TraceRecord* record = m_records[size_t(index)];
  if (m_owner != nullptr) {
    m_owner->SetMark(record, set, colour);
  } else {
    SetRecordMark(record, set, colour);
  }
  return 1;
}

void ClearAllMarks(CTraceMgr* store) {
  if (store != nullptr) {
    store->ClearMarks();
  }
}

CTraceProcessStat::CTraceProcessStat(uint32_t pid) : m_pid(pid) {
  const size_t groups = g_moduleGroups.Count();
  if (m_groupCounts.Reserve(groups)) {
    std::memset(m_groupCounts.data, 0, groups * sizeof(uint64_t));
    m_groupCounts.count = groups;
  }
}

CTraceProcessStat::CTraceProcessStat(const CTraceProcessStat& other)
    : m_pid(other.m_pid), m_groupMask(other.m_groupMask), m_count(other.m_count) {
  m_groupCounts.AppendN(other.m_groupCounts.data, other.m_groupCounts.count);
}

bool CTraceProcessStat::IsCopyOf(const CTraceProcessStat& other) const {
  return m_pid == other.m_pid && m_groupMask == other.m_groupMask && m_count == other.m_count &&
         m_groupCounts.count == other.m_groupCounts.count &&
         (m_groupCounts.count == 0 ||
          std::memcmp(m_groupCounts.data, other.m_groupCounts.data, m_groupCounts.count * sizeof(uint64_t)) == 0);
}

uint64_t* CTraceProcessStat::Counter(int group) {
  if (group < 0) {
    return nullptr;
  }
  const size_t at = size_t(group);
  if (at >= m_groupCounts.count) {
    // A group the table did not have when the entry was made, or counters
    // that could not be allocated then.
    if (!m_groupCounts.Reserve(at + 1)) {
      return nullptr;
    }
    std::memset(m_groupCounts.data + m_groupCounts.count, 0, (at + 1 - m_groupCounts.count) * sizeof(uint64_t));
    m_groupCounts.count = at + 1;
  }
  return &m_groupCounts[at];
}

void CTraceProcessStat::Add(const TraceRecord* record, int group) {
  m_count += 1;
  // A record without a group bit belongs to no group counter.
  if (record->groupFlag == 0) {
    return;
  }
  if (uint64_t* counter = Counter(group)) {
    *counter += 1;
    m_groupMask |= record->groupFlag;
  }
}

void CTraceProcessStat::Remove(const TraceRecord* record, int group) {
  if (m_count != 0) {
    m_count -= 1;
  }
  if (record->groupFlag == 0 || group < 0 || size_t(group) >= m_groupCounts.count) {
    return;
  }
  uint64_t& counter = m_groupCounts[size_t(group)];
  if (counter != 0) {
    counter -= 1;
  }
  if (counter == 0) {
    m_groupMask &= ~record->groupFlag;
  }
}
