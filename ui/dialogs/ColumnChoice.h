// The trace list's nine columns and the two lists of the column chooser:
// which columns are shown, in which order, and which moves are allowed.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "core/AppConfig.h"  // the column bits, defined once

constexpr uint32_t kColumnPid = kColumnId;
constexpr size_t kColumnKinds = 9;

// What Reset brings back: "#", "Time", "Dll/Exe Name", "Pid", "Message".
constexpr uint32_t kDefaultColumnMask = kColumnNumber | kColumnTime | kColumnName | kColumnPid | kColumnMessage;
constexpr uint32_t kDefaultColumnOrder[] = {kColumnNumber, kColumnTime, kColumnName, kColumnPid, kColumnMessage};

// True for exactly one of the nine column bits.
bool IsColumnBit(uint32_t bit);
// "#" and "Message" can be moved but never leave the list.
bool IsFixedColumn(uint32_t bit);
// The string-table id of a column's name (61416 + bit index); 0 when `bit`
// is not one column.
UINT ColumnNameStringId(uint32_t bit);

struct ColumnButtons {
  bool add;
  bool remove;
  bool up;
  bool down;
};

// The chooser's two lists as bits; rows are indices, -1 for "no row". Every
// move that changes a list sets the changed flag.
class CColumnChoice {
 public:
  // Current: the order's column bits, in order; entries that are no column
  // or repeat an earlier one are skipped. Available: every other column, in
  // bit order. The list shows what the order holds, so the caller's mask is
  // not consulted: a mask that disagrees with the order cannot hide a column
  // from both lists. The changed flag is not touched.
  void Fill(const uint32_t* order, size_t count);
  // The default columns; sets the changed flag.
  void Reset();

  ColumnButtons Buttons(int availableRow, int currentRow) const;

  // Moves Available row `availableRow` into Current behind `currentRow`
  // (at the end for -1). Its new Current row, or -1 when nothing moved.
  int Add(int availableRow, int currentRow);
  // Moves Current row `currentRow`, unless it is "#" or "Message", into
  // Available behind `availableRow` (at the end for -1). Its new Available
  // row, or -1 when nothing moved.
  int Remove(int currentRow, int availableRow);
  // The row's new place, or -1 when it cannot move that way.
  int MoveUp(int currentRow);
  int MoveDown(int currentRow);

  // The shown columns as the caller keeps them: the OR of Current, and
  // Current in order (at most kColumnKinds entries). Returns the count.
  uint32_t Result(uint32_t* mask, uint32_t* order) const;

  size_t AvailableCount() const { return m_availableCount; }
  size_t CurrentCount() const { return m_currentCount; }
  // 0 past the end.
  uint32_t AvailableAt(int row) const;
  uint32_t CurrentAt(int row) const;
  bool Changed() const { return m_changed; }

 private:
  bool Holds(uint32_t bit) const;

  uint32_t m_available[kColumnKinds] = {};
  uint32_t m_current[kColumnKinds] = {};
  size_t m_availableCount = 0;
  size_t m_currentCount = 0;
  bool m_changed = false;
};
