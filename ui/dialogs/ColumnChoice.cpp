#include "ui/dialogs/ColumnChoice.h"

#include "resource.h"

namespace {

bool ValidRow(int row, size_t count) { return row >= 0 && size_t(row) < count; }

// Removes row `row` of `list` and returns its bit.
uint32_t TakeRow(uint32_t* list, size_t* count, size_t row) {
  const uint32_t bit = list[row];
  for (size_t i = row + 1; i < *count; ++i) {
    list[i - 1] = list[i];
  }
  --*count;
  return bit;
}

// Inserts `bit` at `row` (0 to count) and returns the row.
int PutRow(uint32_t* list, size_t* count, size_t row, uint32_t bit) {
  for (size_t i = *count; i > row; --i) {
    list[i] = list[i - 1];
  }
  list[row] = bit;
  ++*count;
  return int(row);
}

// Behind `after`, or at the end when `after` is no row of the list.
size_t InsertionRow(int after, size_t count) { return ValidRow(after, count) ? size_t(after) + 1 : count; }

}  // namespace

bool IsColumnBit(uint32_t bit) { return bit != 0 && (bit & (bit - 1)) == 0 && bit <= kColumnMessage; }

bool IsFixedColumn(uint32_t bit) { return bit == kColumnNumber || bit == kColumnMessage; }

UINT ColumnNameStringId(uint32_t bit) {
  if (!IsColumnBit(bit)) {
    return 0;
  }
  UINT index = 0;
  while ((1u << index) != bit) {
    ++index;
  }
  return IDS_COLUMN_NUMBER + index;
}

bool CColumnChoice::Holds(uint32_t bit) const {
  for (size_t i = 0; i < m_currentCount; ++i) {
    if (m_current[i] == bit) {
      return true;
    }
  }
  return false;
}

void CColumnChoice::Fill(const uint32_t* order, size_t count) {
  m_currentCount = 0;
  for (size_t i = 0; order != nullptr && i < count && m_currentCount < kColumnKinds; ++i) {
    if (IsColumnBit(order[i]) && !Holds(order[i])) {
      m_current[m_currentCount++] = order[i];
    }
  }
  m_availableCount = 0;
  for (uint32_t bit = kColumnNumber; bit <= kColumnMessage; bit <<= 1) {
    if (!Holds(bit)) {
      m_available[m_availableCount++] = bit;
    }
  }
}

void CColumnChoice::Reset() {
  Fill(kDefaultColumnOrder, sizeof(kDefaultColumnOrder) / sizeof(kDefaultColumnOrder[0]));
  m_changed = true;
}

ColumnButtons CColumnChoice::Buttons(int availableRow, int currentRow) const {
  ColumnButtons buttons = {};
  buttons.add = ValidRow(availableRow, m_availableCount);
  if (ValidRow(currentRow, m_currentCount)) {
    buttons.remove = !IsFixedColumn(m_current[currentRow]);
    buttons.up = currentRow > 0;
    buttons.down = size_t(currentRow) + 1 < m_currentCount;
  }
  return buttons;
}

int CColumnChoice::Add(int availableRow, int currentRow) {
  if (!ValidRow(availableRow, m_availableCount)) {
    return -1;
  }
  const size_t row = InsertionRow(currentRow, m_currentCount);
  const uint32_t bit = TakeRow(m_available, &m_availableCount, size_t(availableRow));
  m_changed = true;
  return PutRow(m_current, &m_currentCount, row, bit);
}

int CColumnChoice::Remove(int currentRow, int availableRow) {
  if (!ValidRow(currentRow, m_currentCount) || IsFixedColumn(m_current[currentRow])) {
    return -1;
  }
  const size_t row = InsertionRow(availableRow, m_availableCount);
  const uint32_t bit = TakeRow(m_current, &m_currentCount, size_t(currentRow));
  m_changed = true;
  return PutRow(m_available, &m_availableCount, row, bit);
}

int CColumnChoice::MoveUp(int currentRow) {
  if (!ValidRow(currentRow, m_currentCount) || currentRow == 0) {
    return -1;
  }
  const uint32_t bit = TakeRow(m_current, &m_currentCount, size_t(currentRow));
  m_changed = true;
  return PutRow(m_current, &m_currentCount, size_t(currentRow) - 1, bit);
}

int CColumnChoice::MoveDown(int currentRow) {
  if (!ValidRow(currentRow, m_currentCount) || size_t(currentRow) + 1 >= m_currentCount) {
    return -1;
  }
  const uint32_t bit = TakeRow(m_current, &m_currentCount, size_t(currentRow));
  m_changed = true;
  return PutRow(m_current, &m_currentCount, size_t(currentRow) + 1, bit);
}

uint32_t CColumnChoice::Result(uint32_t* mask, uint32_t* order) const {
  uint32_t shown = 0;
  for (size_t i = 0; i < m_currentCount; ++i) {
    order[i] = m_current[i];
    shown |= m_current[i];
  }
  *mask = shown;
  return uint32_t(m_currentCount);
}

uint32_t CColumnChoice::AvailableAt(int row) const {
  return ValidRow(row, m_availableCount) ? m_available[row] : 0;
}

uint32_t CColumnChoice::CurrentAt(int row) const { return ValidRow(row, m_currentCount) ? m_current[row] : 0; }
