#include "ui/dialogs/StatisticRules.h"

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <cwchar>
#include <limits>

namespace {

// Rows sorted in place before the merge passes start; small enough that one
// run stays far below a step's budget.
constexpr size_t kSortRunRows = 256;
// What sorting one run costs in budget units (about n log n comparisons).
constexpr size_t kSortRunCost = kSortRunRows * 8;
// Rows copied at once when the rest of one side of a merge follows; a
// copied row costs an eighth of a comparison.
constexpr size_t kCopyPieceRows = 8192;

}  // namespace

size_t CStatisticRows::Store(const wchar_t* text, uint32_t* length) {
  const size_t n = text != nullptr ? wcslen(text) : 0;
  const size_t offset = m_chars.size();
  // Records hold at most 64 KiB, so a length always fits.
  *length = uint32_t(std::min<size_t>(n, std::numeric_limits<uint32_t>::max()));
  m_chars.insert(m_chars.end(), text, text + *length);
  return offset;
}

void CStatisticRows::Add(const wchar_t* name, const wchar_t* text) {
  CStatisticRow row;
  const wchar_t* safeName = name != nullptr ? name : L"";
  const size_t nameChars = wcslen(safeName);
  if (m_haveLastName && nameChars == m_lastNameLength &&
      std::wmemcmp(m_chars.data() + m_lastNameOffset, safeName, nameChars) == 0) {
    row.nameOffset = m_lastNameOffset;
    row.nameLength = m_lastNameLength;
  } else {
    row.nameOffset = Store(safeName, &row.nameLength);
    m_lastNameOffset = row.nameOffset;
    m_lastNameLength = row.nameLength;
    m_haveLastName = true;
  }
  row.textOffset = Store(text != nullptr ? text : L"", &row.textLength);
  m_rows.push_back(row);
}

void CStatisticRows::Clear() {
  std::vector<wchar_t>().swap(m_chars);
  std::vector<CStatisticRow>().swap(m_rows);
  m_haveLastName = false;
}

std::wstring_view StatisticCompareKey(std::wstring_view text, std::wstring_view key, uint8_t* cut) {
  if (key.empty()) {
    return text;
  }
  const size_t at = text.find(key);
  if (at == std::wstring_view::npos) {
    return text;
  }
  if (cut != nullptr) {
    *cut = 1;
  }
  return text.substr(0, at);
}

bool StepStatisticMerge(CStatisticRows& rows, std::wstring_view key, StatisticMergeWalk& walk, size_t& budget) {
  std::vector<CStatisticRow>& data = rows.Rows();
  if (data.empty()) {
    return true;
  }
  if (walk.read == 0) {
    // The first row only moves the cursor on.
    walk.write = 0;
    walk.writeKey = StatisticCompareKey(rows.Text(data[0]), key, &data[0].cut);
    walk.read = 1;
  }
  // The survivor's key never changes while rows merge into it: its new text
  // is that key, which holds no key word, so its own key is itself.
  while (walk.read < data.size()) {
    if (budget == 0) {
      return false;
    }
    --budget;
    CStatisticRow& cursor = data[walk.read];
    const std::wstring_view cursorKey = StatisticCompareKey(rows.Text(cursor), key, &cursor.cut);
    CStatisticRow& survivor = data[walk.write];
    if (cursorKey == walk.writeKey) {
      survivor.textLength = uint32_t(walk.writeKey.size());
      survivor.count += cursor.count;
      survivor.merged = 1;
    } else {
      ++walk.write;
      if (walk.write != walk.read) {
        data[walk.write] = cursor;
      }
      walk.writeKey = StatisticCompareKey(rows.Text(data[walk.write]), key, &data[walk.write].cut);
      walk.stepCounter += 100;
    }
    ++walk.read;
  }
  data.resize(walk.write + 1);
  return true;
}

size_t MergeStatisticNeighbours(CStatisticRows& rows, std::wstring_view key) {
  StatisticMergeWalk walk;
  size_t budget = SIZE_MAX;
  StepStatisticMerge(rows, key, walk, budget);
  return rows.Count();
}

std::wstring StatisticFilterText(const CStatisticRows& rows, const CStatisticRow& row, std::wstring_view key) {
  std::wstring text(rows.Text(row));
  if (row.cut != 0 && row.merged != 0) {
    text.append(key);
  }
  return text;
}

double StatisticRatio(int32_t count, uint64_t total) {
  return total != 0 ? double(count) * 100.0 / double(total) : 0.0;
}

std::wstring FormatStatisticRatio(int32_t count, uint64_t total) {
  wchar_t text[64];
  std::swprintf(text, std::size(text), L"%.2f%%", StatisticRatio(count, total));
  return text;
}

uint32_t ParseStatisticShowTop(const wchar_t* text) {
  if (text == nullptr) {
    return 0;
  }
  const wchar_t* p = text;
  while (*p == L' ' || *p == L'\t') {
    ++p;
  }
  bool negative = false;
  if (*p == L'-' || *p == L'+') {
    negative = *p == L'-';
    ++p;
  }
  if (*p < L'0' || *p > L'9') {
    return 0;
  }
  int64_t value = 0;
  while (*p >= L'0' && *p <= L'9') {
    value = value * 10 + (*p - L'0');
    if (value > int64_t(std::numeric_limits<int32_t>::max()) + 1) {
      return 0;
    }
    ++p;
  }
  while (*p == L' ' || *p == L'\t') {
    ++p;
  }
  if (*p != 0) {
    return 0;
  }
  if (negative) {
    value = -value;
  }
  if (value > std::numeric_limits<int32_t>::max()) {
    return 0;
  }
  return uint32_t(int32_t(value));
}

size_t StatisticRowsShown(uint32_t showTop, size_t rows) {
  if (rows == 0) {
    return 0;
  }
  return std::max<size_t>(1, std::min<size_t>(showTop, rows));
}

void CStatisticCounter::CResumableSort::Start(size_t count) {
  m_count = count;
  m_buffer.resize(count);
  m_runStart = 0;
  m_runsSorted = false;
  m_width = kSortRunRows;
  m_pairStart = 0;
  m_pairOpen = false;
}

template <class Less>
bool CStatisticCounter::CResumableSort::Step(std::vector<CStatisticRow>& data, size_t& budget, Less less) {
  while (!m_runsSorted) {
    if (m_runStart >= m_count) {
      m_runsSorted = true;
      break;
    }
    if (budget == 0) {
      return false;
    }
    const size_t end = std::min(m_count, m_runStart + kSortRunRows);
    std::sort(data.begin() + ptrdiff_t(m_runStart), data.begin() + ptrdiff_t(end), less);
    m_runStart = end;
    budget -= std::min(budget, kSortRunCost);
  }
  while (m_width < m_count) {
    if (!m_pairOpen) {
      if (m_pairStart >= m_count) {
        // One pass is done: the merged runs are in the buffer.
        data.swap(m_buffer);
        m_width *= 2;
        m_pairStart = 0;
        continue;
      }
      m_left = m_pairStart;
      m_leftEnd = std::min(m_count, m_pairStart + m_width);
      m_right = m_leftEnd;
      m_rightEnd = std::min(m_count, m_leftEnd + m_width);
      m_out = m_pairStart;
      m_pairOpen = true;
    }
    while (m_left < m_leftEnd && m_right < m_rightEnd) {
      if (budget == 0) {
        return false;
      }
      --budget;
      // Taking the left row on ties keeps the sort stable.
      if (less(data[m_right], data[m_left])) {
        m_buffer[m_out++] = data[m_right++];
      } else {
        m_buffer[m_out++] = data[m_left++];
      }
    }
    // One side is used up: the other follows in bounded pieces, since at
    // the last passes it can hold half of all rows.
    while (m_left < m_leftEnd || m_right < m_rightEnd) {
      if (budget == 0) {
        return false;
      }
      size_t& from = m_left < m_leftEnd ? m_left : m_right;
      const size_t end = m_left < m_leftEnd ? m_leftEnd : m_rightEnd;
      const size_t piece = std::min(end - from, kCopyPieceRows);
      std::copy(data.begin() + ptrdiff_t(from), data.begin() + ptrdiff_t(from + piece),
                m_buffer.begin() + ptrdiff_t(m_out));
      from += piece;
      m_out += piece;
      budget -= std::min(budget, piece / 8 + 1);
    }
    m_pairStart = m_rightEnd;
    m_pairOpen = false;
  }
  // The buffer stays for the next sort of these rows, which has no more of
  // them: growing it again would touch fresh memory inside a step.
  return true;
}

void CStatisticCounter::Reset() {
  m_rows = nullptr;
  m_key.clear();
  m_phase = Phase::Idle;
  m_sort = CResumableSort();
  m_walk = StatisticMergeWalk();
}

void CStatisticCounter::Start(CStatisticRows* rows, std::wstring_view key) {
  Reset();
  m_rows = rows;
  m_key.assign(key);
  m_sort.Start(rows->Count());
  m_phase = Phase::SortingText;
}

uint32_t CStatisticCounter::MergeProgress() const {
  if (m_rows == nullptr || m_phase != Phase::Merging) {
    return m_phase == Phase::SortingCount || m_phase == Phase::Done ? 100 : 0;
  }
  const size_t left = m_walk.read != 0 ? m_rows->Count() - m_walk.read : m_rows->Count();
  const size_t current = (m_walk.read != 0 ? m_walk.write + 1 : 0) + left;
  return current != 0 ? uint32_t(std::min<uint64_t>(100, m_walk.stepCounter / current)) : 0;
}

bool CStatisticCounter::Step(size_t budget) {
  if (budget == 0) {
    budget = 1;
  }
  switch (m_phase) {
    case Phase::Idle:
    case Phase::Done:
      return true;
    case Phase::SortingText: {
      const CStatisticRows* rows = m_rows;
      if (m_sort.Step(m_rows->Rows(), budget, [rows](const CStatisticRow& a, const CStatisticRow& b) {
            return StatisticTextLess(rows->Text(a), rows->Text(b));
          })) {
        m_phase = Phase::Merging;
      }
      return false;
    }
    case Phase::Merging:
      if (StepStatisticMerge(*m_rows, m_key, m_walk, budget)) {
        m_sort.Start(m_rows->Count());
        m_phase = Phase::SortingCount;
      }
      return false;
    case Phase::SortingCount:
      if (!m_sort.Step(m_rows->Rows(), budget,
                       [](const CStatisticRow& a, const CStatisticRow& b) { return a.count > b.count; })) {
        return false;
      }
      m_phase = Phase::Done;
      return true;
  }
  return true;
}
