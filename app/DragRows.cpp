#include "app/DragRows.h"

#include "core/AppConfig.h"

namespace {
// Replaces the list on the first row, then adds each id once.
void AddId(CGrowArray<uint32_t>& list, uint32_t id, size_t index) {
  if (index == 0) {
    list.Clear();
  }
  for (size_t i = 0; i < list.count; ++i) {
    if (list[i] == id) {
      return;
    }
  }
  list.Append(id);
}
}  // namespace

bool IsDragColumn(uint32_t bit) {
  return bit == kColumnModule || bit == kColumnName || bit == kColumnHint || bit == kColumnId || bit == kColumnTid;
}

bool AddDraggedRecord(uint32_t mode, size_t index, const TraceRecord& record, uint32_t* mask, CTraceFilter* filter) {
  const uint8_t join = index == 0 ? 0 : kConditionOr;
  switch (mode) {
    case kColumnModule:
      *mask = index == 0 ? record.groupFlag : (*mask | record.groupFlag);
      return true;
    case kColumnName:
      return filter->AddCondition(kConditionModule, uint8_t(kOperatorIs | join), record.Module(), -1) != 0;
    case kColumnHint:
      return filter->AddCondition(kConditionHint, uint8_t(kOperatorIs | join), record.Hint(), -1) != 0;
    case kColumnId:
      filter->m_flags |= kFilterPids;
      AddId(filter->m_pids, record.pid, index);
      return true;
    case kColumnTid:
      filter->m_flags |= kFilterTids;
      AddId(filter->m_tids, record.tid, index);
      return true;
    default:
      return false;
  }
}
