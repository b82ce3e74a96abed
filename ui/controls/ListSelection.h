// The selected rows, the focused row and the selection mark of an
// owner-data list, kept beside the list control instead of inside it.
// Wine's list clears an owner-data selection by walking every row, on each
// plain key or click selection: seconds at millions of rows. Here every
// change costs the same at any row count; only the number of separate
// ranges counts.
#pragma once

#include <cstdint>

#include "core/Containers.h"

class CListSelection {
 public:
  // Rows [first, last], both inclusive.
  struct Range {
    int first;
    int last;
  };

  bool IsSelected(int row) const;
  // Selected rows in all, at most INT32_MAX.
  int Count() const;
  // The first selected row after `after` (-1: from the start); -1 when none.
  int NextSelected(int after) const;
  // The last selected row before `before`; -1 when none.
  int PreviousSelected(int before) const;

  // Selects or deselects rows [first, last] (first <= last, both >= 0).
  // False when memory runs out; the selection is then as it was.
  bool SetRange(int first, int last, bool selected);
  // Only `row` stays selected; false when memory runs out (nothing changed).
  bool SelectOnly(int row);
  void Clear() { m_ranges.Clear(); }
  // Drops the selection from row `count` on, and a focus or mark there.
  void Truncate(int count);

  int Focus() const { return m_focus; }
  void SetFocus(int row) { m_focus = row; }
  int Mark() const { return m_mark; }
  void SetMark(int row) { m_mark = row; }

  size_t RangeCount() const { return m_ranges.count; }
  const Range& RangeAt(size_t index) const { return m_ranges[index]; }

 private:
  // Index of the first range that ends at or after `row`.
  size_t LowerBound(int row) const;

  CGrowArray<Range> m_ranges;  // sorted, apart: each next range starts two or more rows after the last ends
  int m_focus = -1;
  int m_mark = -1;
};
