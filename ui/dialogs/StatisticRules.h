// The statistic dialog's rules without its window: the rows of one analysis,
// their compare keys, the neighbour merge, the two sorts and the figures the
// result list shows.
//
// The counting runs on the user-interface thread between messages, so every
// long step is resumable: CStatisticCounter::Step does a bounded amount of
// work and returns, and the caller handles messages between two steps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One group of messages. Its strings live in the owning CStatisticRows.
struct CStatisticRow {
  size_t nameOffset = 0;
  size_t textOffset = 0;
  uint32_t nameLength = 0;
  uint32_t textLength = 0;  // after a merge: the length of the group's compare key
  int32_t count = 1;
  uint8_t cut = 0;     // the key word was found in the text when a compare key was taken
  uint8_t merged = 0;  // at least one other row was merged into this one
};

// The rows of one analysis and the characters of their strings, copied out
// of the records so that nothing refers to a store afterwards.
class CStatisticRows {
 public:
  // Appends a row with count 1 and both flags clear. Throws std::bad_alloc.
  void Add(const wchar_t* name, const wchar_t* text);
  void Reserve(size_t rows) { m_rows.reserve(rows); }
  void Clear();

  size_t Count() const { return m_rows.size(); }
  std::vector<CStatisticRow>& Rows() { return m_rows; }
  const std::vector<CStatisticRow>& Rows() const { return m_rows; }
  const CStatisticRow& operator[](size_t index) const { return m_rows[index]; }

  std::wstring_view Name(const CStatisticRow& row) const {
    return {m_chars.data() + row.nameOffset, row.nameLength};
  }
  std::wstring_view Text(const CStatisticRow& row) const {
    return {m_chars.data() + row.textOffset, row.textLength};
  }

 private:
  size_t Store(const wchar_t* text, uint32_t* length);

  std::vector<wchar_t> m_chars;
  std::vector<CStatisticRow> m_rows;
  size_t m_lastNameOffset = 0;  // module names repeat: the last one is shared
  uint32_t m_lastNameLength = 0;
  bool m_haveLastName = false;
};

// The part of `text` before the first occurrence of `key` when the key is
// not empty and occurs (then *cut is set, never cleared); the whole text
// otherwise.
std::wstring_view StatisticCompareKey(std::wstring_view text, std::wstring_view key, uint8_t* cut);

// Ordinal order of UTF-16 code units, as wcscmp.
inline bool StatisticTextLess(std::wstring_view a, std::wstring_view b) { return a.compare(b) < 0; }

// The walk that merges neighbours whose compare keys are equal, in one pass
// that writes the survivors forward: the survivor's text becomes the common
// key, its count grows by the merged row's and its merged flag is set.
struct StatisticMergeWalk {
  size_t write = 0;  // the last survivor
  size_t read = 0;   // the cursor
  std::wstring_view writeKey;
  uint64_t stepCounter = 0;  // 100 per step between two different keys
};
// Compares at most `budget` rows (lowering it by as many); true when the walk
// has ended and the rows are cut to the survivors.
bool StepStatisticMerge(CStatisticRows& rows, std::wstring_view key, StatisticMergeWalk& walk, size_t& budget);
// The whole walk at once; the number of rows left.
size_t MergeStatisticNeighbours(CStatisticRows& rows, std::wstring_view key);

// The text a result request asks for: the row's text followed by the key
// word when the row has both the cut and the merged flag, else its text.
std::wstring StatisticFilterText(const CStatisticRows& rows, const CStatisticRow& row, std::wstring_view key);

// count x 100 / total; 0 for a total of 0.
double StatisticRatio(int32_t count, uint64_t total);
// "%.2f%%" of the ratio.
std::wstring FormatStatisticRatio(int32_t count, uint64_t total);

// Show Top as typed: a signed decimal number with optional blanks around it;
// 0 when the text is not such a number or does not fit 32 bits. Negative
// numbers wrap, since Show Top is unsigned.
uint32_t ParseStatisticShowTop(const wchar_t* text);
// How many rows the result list shows: Show Top of them, but the first row
// always when there is one.
size_t StatisticRowsShown(uint32_t showTop, size_t rows);

// The counting step of an analysis as resumable work: sort by text, merge
// neighbours, sort by count (descending). Each Step does about `budget`
// comparisons and moves.
class CStatisticCounter {
 public:
  enum class Phase { Idle, SortingText, Merging, SortingCount, Done };

  // `rows` must outlive the counting; the counter keeps the key word.
  // Throws std::bad_alloc.
  void Start(CStatisticRows* rows, std::wstring_view key);
  // False while work is left; a step that finishes a phase returns there, so
  // the caller sees every phase. Throws std::bad_alloc.
  bool Step(size_t budget);
  Phase CurrentPhase() const { return m_phase; }
  // The merge's progress as the walk defines it: 100 per distinct step over
  // the current number of rows.
  uint32_t MergeProgress() const;
  void Reset();

 private:
  // A bottom-up merge sort that stops after any amount of work.
  class CResumableSort {
   public:
    template <class Less>
    bool Step(std::vector<CStatisticRow>& data, size_t& budget, Less less);
    void Start(size_t count);

   private:
    std::vector<CStatisticRow> m_buffer;
    size_t m_count = 0;
    size_t m_runStart = 0;   // phase 1: next run to sort in place
    bool m_runsSorted = false;
    size_t m_width = 0;      // phase 2: width of the runs being merged
    size_t m_pairStart = 0;  // start of the pair being merged
    size_t m_left = 0, m_leftEnd = 0, m_right = 0, m_rightEnd = 0, m_out = 0;
    bool m_pairOpen = false;
  };

  CStatisticRows* m_rows = nullptr;
  std::wstring m_key;
  Phase m_phase = Phase::Idle;
  CResumableSort m_sort;
  StatisticMergeWalk m_walk;
};
