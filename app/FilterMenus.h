// What the status bar's level and process menus and the view strip's
// add-tab menu stand for: level masks by item, the checked item of a
// filter, the process label and the record count of a group.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "core/Containers.h"
#include "core/TraceFilter.h"

class CTraceProcessStat;

namespace ktmenus {
// The level mask a level-menu item stands for; false for "level:all" and
// for ids that are no level item (mask left 0).
bool LevelMaskOfItem(UINT id, uint32_t* mask);
// The item that shows `filter`'s level part: the item of exactly its mask,
// "level:all" without a level mask, 0 when no item has that mask.
UINT CheckedLevelItem(const CTraceFilter& filter);
// The process-menu item to check for `filter` among `pids` (the collected
// ids, item k standing for pids[k]): the item of a one-id pid list, "pid:all"
// without a pid list, 0 otherwise.
UINT CheckedProcessItem(const CTraceFilter& filter, const CGrowArray<uint32_t>& pids);
// "pid:" and the ids ("%u", then "|%u"; at most 127 characters), or
// "pid:all" for a null or empty list.
std::wstring ProcessLabel(const CGrowArray<uint32_t>* pids);
// Records of group `group` for the process selection: entry 0's count
// without a pid list, else the sum over the listed processes' entries.
uint64_t GroupRecords(const CGrowArray<CTraceProcessStat*>& stats, size_t group, const CGrowArray<uint32_t>* pids);
}  // namespace ktmenus
