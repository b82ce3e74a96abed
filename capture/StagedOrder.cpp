#include "capture/StagedOrder.h"

#include <algorithm>

bool SortStagedByTime(TraceRecord** order, size_t count, CGrowArray<StagedSortKey>* keys) {
  if (count < 2) {
    return true;
  }
  if (!keys->Reserve(count)) {
    return false;
  }
  // Arrival numbers wrap; counted from the oldest they compare as plain numbers.
  const uint32_t oldest = order[0]->sequence;
  for (size_t i = 0; i < count; ++i) {
    const TraceRecord* record = order[i];
    StagedSortKey& key = keys->data[i];
    key.when = (uint64_t(record->time) << 16) | record->milliseconds;
    key.stamp = (record->flags & kRecordStampValid) != 0 ? record->Stamp() : 0;
    key.arrival = record->sequence - oldest;
    key.record = order[i];
  }
  // Arrival numbers never repeat, so no two keys are equal.
  std::sort(keys->data, keys->data + count, [](const StagedSortKey& a, const StagedSortKey& b) {
    if (a.when != b.when) {
      return a.when < b.when;
    }
    if (a.stamp != b.stamp) {
      return a.stamp < b.stamp;
    }
    return a.arrival < b.arrival;
  });
  for (size_t i = 0; i < count; ++i) {
    order[i] = keys->data[i].record;
  }
  return true;
}
