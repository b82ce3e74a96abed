// The time order of staged records, sorted through a compact key per record:
// sorting the pointers themselves reads every record's fields again on each
// comparison, and megabytes of staged records no longer sit in the caches.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/TraceRecord.h"

struct StagedSortKey {
  uint64_t when;      // seconds, then milliseconds
  uint64_t stamp;     // 0 when the record has none
  uint32_t arrival;   // staging number counted from the oldest staged one
  TraceRecord* record;
};

// The key of a staged record; `oldest` is the staging number of the oldest
// record staged (all numbers staged together lie less than 2^31 apart).
inline StagedSortKey MakeStagedSortKey(TraceRecord* record, uint32_t oldest) {
  StagedSortKey key;
  key.when = (uint64_t(record->time) << 16) | record->milliseconds;
  key.stamp = (record->flags & kRecordStampValid) != 0 ? record->Stamp() : 0;
  key.arrival = record->sequence - oldest;  // numbers wrap; counted so they do not
  key.record = record;
  return key;
}

// Sorts `keys` by time, milliseconds, stamp and arrival, the order of
// CTraceCapture::CompareRecords, and writes their records to `order`.
void SortStagedKeys(StagedSortKey* keys, size_t count, TraceRecord** order);
