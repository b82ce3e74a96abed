// The window-free rules of the filter dialog and the condition editor: what
// the level boxes show for a filter, the filter that the boxes and the
// process list make on OK, and the condition editor's choices for a
// condition's field and flags and back.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/Containers.h"
#include "core/TraceFilter.h"

namespace ktdlg {

// The level boxes map to the record's level bits (core/TraceRecord.h);
// "Error" also carries the personal-data bit, which has no box, and
// "Bookmark" every mark bit. Every level checked is the same as no level
// test at all.

// The check states of the filter dialog's level and process boxes.
struct FilterLevelChecks {
  bool levelTest = false;  // "Filter Level:"
  bool debug = false;
  bool info = false;
  bool warning = false;
  bool error = false;
  bool personal = false;   // the absent box 1014: shown nowhere, read nowhere
  bool bookmark = false;
  bool pidTest = false;    // "Filter Pid:"
};

// What the boxes show for a filter: without a level test every level box
// is checked (each passes everything).
FilterLevelChecks LevelChecksFromFilter(uint32_t flags, uint32_t levelMask);

// The level test the boxes ask for. `on` false: no level test (the master
// box is clear, or every level is checked, whatever "Bookmark" shows).
struct FilterLevelTest {
  bool on = false;
  uint32_t mask = 0;
};
FilterLevelTest LevelTestFromChecks(const FilterLevelChecks& checks);

// OK of the filter dialog on its working copy: the level and process tests
// from the boxes and `checkedPids` (the pids of the checked rows, in row
// order; only read when "Filter Pid:" is checked), the condition test when
// the filter has conditions. A thread-id test the filter had is kept: the
// dialog cannot show it, so closing it with OK must not drop it. 0 when
// the process-id list could not be allocated (the test is then on with an
// empty list, which no record passes).
int ApplyFilterChecks(CTraceFilter& filter, const FilterLevelChecks& checks, const uint32_t* checkedPids,
                      size_t checkedCount);

// Entries of the condition editor's lists.
constexpr int kConnectorAnd = 0;
constexpr int kConnectorOr = 1;
constexpr int kFieldChoiceModule = 0;
constexpr int kFieldChoiceHint = 1;
constexpr int kFieldChoiceMessage = 2;
// The four operators every condition can choose; a regular-expression
// condition gets a fifth entry of its own, so it opens as what it is.
constexpr int kOperatorChoiceCount = 4;
constexpr int kOperatorChoiceRegex = 4;
constexpr int kNoChoice = -1;  // a combo box without selection

struct ConditionChoices {
  int connector = kConnectorAnd;
  bool connectorEnabled = true;  // false for the first condition
  int field = kFieldChoiceMessage;
  int op = kNoChoice;            // index in the operator list, kNoChoice for none
  bool regexEntry = false;       // the operator list has the regular-expression entry
  bool caseSensitive = false;
};

// The editor's choices for a condition. An operator without an entry (5 to
// 15, never made by this program) opens with no operator selected.
ConditionChoices ConditionChoicesFrom(uint8_t field, uint8_t flags, bool first);
// The field of a field-list index: module, hint, or message for any other.
uint8_t ConditionFieldFromChoice(int fieldChoice);
// The flags of the editor's choices. An operator list without selection
// keeps the operator of `originalFlags`: OK without a choice never changes
// the operator, and never stores the list's "no selection" as one.
uint8_t ConditionFlagsFromChoices(const ConditionChoices& choices, uint8_t originalFlags);

}  // namespace ktdlg
