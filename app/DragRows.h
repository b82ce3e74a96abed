// What rows dragged by one column build: the columns a drag may start on,
// and how each dragged record narrows the new view's source mask or filter.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/TraceFilter.h"
#include "core/TraceRecord.h"

// At most this many rows are dragged at once.
constexpr unsigned kMaxDragRows = 9;

// True for "Module", "Dll/Exe Name", "Hint", "Pid" and "Tid".
bool IsDragColumn(uint32_t bit);

// Adds the record of the `index`-th dragged row (0 for the first) to the
// new view: "Module" sets (first row) or widens the source mask, "Dll/Exe
// Name" and "Hint" add an IS condition (OR after the first), "Pid" and "Tid"
// replace (first row) or extend the id list. False when the filter is full,
// which ends the walk.
bool AddDraggedRecord(uint32_t mode, size_t index, const TraceRecord& record, uint32_t* mask, CTraceFilter* filter);
