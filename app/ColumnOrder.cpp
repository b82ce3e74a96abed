#include "app/ColumnOrder.h"

namespace ktcols {
int IndexOfColumn(const CGrowArray<uint32_t>& columns, uint32_t bit) {
  for (size_t i = 0; i < columns.count; ++i) {
    if (columns[i] == bit) {
      return int(i);
    }
  }
  return -1;
}

void OrderWithShownColumn(int* order, int n, int shown) {
  if (n < 1 || shown < 0) {
    return;
  }
  for (int i = 0; i < n; ++i) {
    if (order[i] >= shown) {
      ++order[i];
    }
  }
  order[n] = order[n - 1];
  order[n - 1] = shown;
}

void BitsInDisplayOrder(const int* order, int n, const CGrowArray<uint32_t>& columns, uint32_t* bits) {
  for (int i = 0; i < n; ++i) {
    bits[i] = order[i] >= 0 && size_t(order[i]) < columns.count ? columns[size_t(order[i])] : 0;
  }
}

void OrderFromBits(const uint32_t* bits, int n, const CGrowArray<uint32_t>& columns, int* order) {
  for (int i = 0; i < n; ++i) {
    const int index = IndexOfColumn(columns, bits[i]);
    if (index >= 0) {
      order[i] = index;
    }
  }
}
}  // namespace ktcols
