#include "app/FilterMenus.h"

#include "core/TraceRecord.h"
#include "core/TraceView.h"
#include "resource.h"

namespace ktmenus {
namespace {
constexpr size_t kLabelChars = 127;

struct LevelItem {
  UINT id;
  uint32_t mask;
};
constexpr LevelItem kLevelItems[] = {
    {ID_LEVEL_ERROR, kLevelError},
    {ID_LEVEL_WARN_ERROR, kLevelWarning | kLevelError},
    {ID_LEVEL_INFO_WARN_ERROR, kLevelInfo | kLevelWarning | kLevelError},
    {ID_LEVEL_DEBUG, kLevelDebug},
    {ID_LEVEL_BOOKMARK, kMarkMask},
    {ID_LEVEL_PII, kLevelPersonal},
};
}  // namespace

bool LevelMaskOfItem(UINT id, uint32_t* mask) {
  *mask = 0;
  if (id >= ID_LEVEL_BOOKMARK_GRAY && id <= ID_LEVEL_BOOKMARK_PURPLE) {
    *mask = kMarkFirstBit << (id - ID_LEVEL_BOOKMARK_GRAY);
    return true;
  }
  for (const LevelItem& item : kLevelItems) {
    if (item.id == id) {
      *mask = item.mask;
      return true;
    }
  }
  return false;
}

UINT CheckedLevelItem(const CTraceFilter& filter) {
  if ((filter.m_flags & kFilterLevel) == 0) {
    return ID_LEVEL_ALL;
  }
  for (UINT id = ID_LEVEL_BOOKMARK_GRAY; id <= ID_LEVEL_BOOKMARK_PURPLE; ++id) {
    uint32_t mask = 0;
    if (LevelMaskOfItem(id, &mask) && mask == filter.m_levelMask) {
      return id;
    }
  }
  for (const LevelItem& item : kLevelItems) {
    if (item.mask == filter.m_levelMask) {
      return item.id;
    }
  }
  return 0;
}

UINT CheckedProcessItem(const CTraceFilter& filter, const CGrowArray<uint32_t>& pids) {
  if ((filter.m_flags & kFilterPids) == 0) {
    return ID_PID_ALL;
  }
  if (filter.m_pids.count != 1) {
    return 0;
  }
  for (size_t k = 0; k < pids.count && ID_PID_FIRST + k <= ID_PID_LAST; ++k) {
    if (pids[k] == filter.m_pids[0]) {
      return UINT(ID_PID_FIRST + k);
    }
  }
  return 0;
}

std::wstring ProcessLabel(const CGrowArray<uint32_t>* pids) {
  if (pids == nullptr || pids->count == 0) {
    return L"pid:all";
  }
  std::wstring label = L"pid:";
  for (size_t i = 0; i < pids->count; ++i) {
    if (i != 0) {
      label += L"|";
    }
    label += std::to_wstring((*pids)[i]);
  }
  return label.substr(0, kLabelChars);
}

uint64_t GroupRecords(const CGrowArray<CTraceProcessStat*>& stats, size_t group, const CGrowArray<uint32_t>* pids) {
  if (stats.count == 0) {
    return 0;
  }
  if (pids == nullptr || pids->count == 0) {
    return stats[0]->GroupCount(group);
  }
  uint64_t total = 0;
  for (size_t i = 1; i < stats.count; ++i) {
    for (size_t k = 0; k < pids->count; ++k) {
      if (stats[i]->m_pid == (*pids)[k]) {
        total += stats[i]->GroupCount(group);
        break;
      }
    }
  }
  return total;
}
}  // namespace ktmenus
