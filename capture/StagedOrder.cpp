#include "capture/StagedOrder.h"

#include <algorithm>

void SortStagedKeys(StagedSortKey* keys, size_t count, TraceRecord** order) {
  // Arrival numbers never repeat, so no two keys are equal.
  std::sort(keys, keys + count, [](const StagedSortKey& a, const StagedSortKey& b) {
    if (a.when != b.when) {
      return a.when < b.when;
    }
    if (a.stamp != b.stamp) {
      return a.stamp < b.stamp;
    }
    return a.arrival < b.arrival;
  });
  for (size_t i = 0; i < count; ++i) {
    order[i] = keys[i].record;
  }
}
