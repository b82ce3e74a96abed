// Header order arithmetic of the list's columns: the shown-column array
// holds the column bits by column index, the header's order array holds
// column indexes by display position.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/Containers.h"

namespace ktcols {
// Index of `bit` in the shown-column array, -1 when it is not shown.
int IndexOfColumn(const CGrowArray<uint32_t>& columns, uint32_t bit);

// `order` holds the n display positions from before column index `shown`
// was inserted, with room for n + 1. Afterwards it holds n + 1 positions:
// the old entries at or after `shown` moved one index up, and the new column
// just before the one that was shown last.
void OrderWithShownColumn(int* order, int n, int shown);

// The bits shown at each display position: the shown-column entry of each
// order entry, 0 for an index outside the array.
void BitsInDisplayOrder(const int* order, int n, const CGrowArray<uint32_t>& columns, uint32_t* bits);

// The order array for display bits `bits` over the new shown-column array:
// each position gets its bit's column index; a bit no longer shown keeps
// the value `order` held there.
void OrderFromBits(const uint32_t* bits, int n, const CGrowArray<uint32_t>& columns, int* order);
}  // namespace ktcols
