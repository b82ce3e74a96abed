#include "ui/controls/ListSelection.h"

#include <climits>
#include <utility>

size_t CListSelection::LowerBound(int row) const {
  size_t low = 0;
  size_t high = m_ranges.count;
  while (low < high) {
    const size_t middle = low + (high - low) / 2;
    if (m_ranges[middle].last < row) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low;
}

bool CListSelection::IsSelected(int row) const {
  const size_t index = LowerBound(row);
  return index < m_ranges.count && m_ranges[index].first <= row;
}

int CListSelection::Count() const {
  int64_t total = 0;
  for (size_t i = 0; i < m_ranges.count; ++i) {
    total += int64_t(m_ranges[i].last) - m_ranges[i].first + 1;
  }
  return total > INT32_MAX ? INT32_MAX : int(total);
}

int CListSelection::NextSelected(int after) const {
  if (after == INT_MAX) {
    return -1;
  }
  const int from = after < 0 ? 0 : after + 1;
  const size_t index = LowerBound(from);
  if (index >= m_ranges.count) {
    return -1;
  }
  return m_ranges[index].first > from ? m_ranges[index].first : from;
}

int CListSelection::PreviousSelected(int before) const {
  if (before <= 0) {
    return -1;
  }
  const int from = before - 1;
  const size_t index = LowerBound(from);
  if (index < m_ranges.count && m_ranges[index].first <= from) {
    return from;
  }
  return index > 0 ? m_ranges[index - 1].last : -1;
}

bool CListSelection::SetRange(int first, int last, bool selected) {
  if (first < 0 || last < first) {
    return true;
  }
  // Ranges that touch or overlap [first, last] are merged into it when it is
  // selected, or cut back around it when it is not.
  const int touchFrom = first > 0 ? first - 1 : 0;
  const int touchTo = last < INT_MAX ? last + 1 : INT_MAX;
  size_t begin = LowerBound(touchFrom);
  size_t end = begin;
  while (end < m_ranges.count && m_ranges[end].first <= touchTo) {
    ++end;
  }
  CGrowArray<Range> middle;
  if (selected) {
    Range merged = {first, last};
    if (begin < end) {
      merged.first = m_ranges[begin].first < first ? m_ranges[begin].first : first;
      merged.last = m_ranges[end - 1].last > last ? m_ranges[end - 1].last : last;
    }
    if (!middle.Append(merged)) {
      return false;
    }
  } else {
    for (size_t i = begin; i < end; ++i) {
      const Range& range = m_ranges[i];
      if (range.first < first && !middle.Append(Range{range.first, first - 1})) {
        return false;
      }
      if (range.last > last && !middle.Append(Range{last + 1, range.last})) {
        return false;
      }
    }
  }
  CGrowArray<Range> result;
  if (!result.Reserve(m_ranges.count - (end - begin) + middle.count) || !result.AppendN(m_ranges.data, begin) ||
      !result.AppendN(middle.data, middle.count) ||
      !result.AppendN(m_ranges.data + end, m_ranges.count - end)) {
    return false;
  }
  m_ranges = std::move(result);
  return true;
}

bool CListSelection::SelectOnly(int row) {
  if (row < 0) {
    m_ranges.Clear();
    return true;
  }
  if (!m_ranges.Reserve(1)) {
    return false;
  }
  m_ranges.Clear();
  m_ranges.Append(Range{row, row});  // cannot fail: the room is there
  return true;
}

void CListSelection::Truncate(int count) {
  if (count < 0) {
    count = 0;
  }
  if (m_ranges.count != 0 && m_ranges[m_ranges.count - 1].last >= count) {
    size_t keep = LowerBound(count);
    if (keep < m_ranges.count && m_ranges[keep].first < count) {
      m_ranges[keep].last = count - 1;
      ++keep;
    }
    m_ranges.count = keep;
  }
  if (m_focus >= count) {
    m_focus = -1;
  }
  if (m_mark >= count) {
    m_mark = -1;
  }
}
