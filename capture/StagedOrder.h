// The time order of staged records, sorted through a compact key per record:
// sorting the pointers themselves reads every record's fields again on each
// comparison, and megabytes of staged records no longer sit in the caches.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/Containers.h"
#include "core/TraceRecord.h"

struct StagedSortKey {
  uint64_t when;      // seconds, then milliseconds
  uint64_t stamp;     // 0 when the record has none
  uint32_t arrival;   // staging number counted from the oldest in the batch
  TraceRecord* record;
};

// Sorts `order` (records in arrival order, as staging holds them, their
// staging numbers less than 2^31 apart) by time, milliseconds, stamp and
// arrival, the order of CTraceCapture::CompareRecords. False, with `order`
// untouched, when the keys find no memory.
bool SortStagedByTime(TraceRecord** order, size_t count, CGrowArray<StagedSortKey>* keys);
