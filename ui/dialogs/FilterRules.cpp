#include "ui/dialogs/FilterRules.h"

namespace ktdlg {

FilterLevelChecks LevelChecksFromFilter(uint32_t flags, uint32_t levelMask) {
  FilterLevelChecks checks;
  checks.levelTest = (flags & kFilterLevel) != 0;
  const uint32_t shown = checks.levelTest ? levelMask : (kLevelMask | kMarkMask);
  checks.debug = (shown & kLevelDebug) != 0;
  checks.info = (shown & kLevelInfo) != 0;
  checks.warning = (shown & kLevelWarning) != 0;
  checks.error = (shown & kLevelError) != 0;
  checks.personal = (shown & kLevelPersonal) != 0;
  checks.bookmark = (shown & kMarkMask) != 0;
  checks.pidTest = (flags & kFilterPids) != 0;
  return checks;
}

FilterLevelTest LevelTestFromChecks(const FilterLevelChecks& checks) {
  FilterLevelTest test;
  if (!checks.levelTest) return test;
  uint32_t mask = 0;
  if (checks.debug) mask |= kLevelDebug;
  if (checks.info) mask |= kLevelInfo;
  if (checks.warning) mask |= kLevelWarning;
  // Personal-data records count as errors: their box is not in the dialog.
  if (checks.error) mask |= kLevelError | kLevelPersonal;
  if (mask == kLevelMask) return test;
  if (checks.bookmark) mask |= kMarkMask;
  test.on = true;
  test.mask = mask;
  return test;
}

int ApplyFilterChecks(CTraceFilter& filter, const FilterLevelChecks& checks, const uint32_t* checkedPids,
                      size_t checkedCount) {
  filter.m_flags &= kFilterTids;
  filter.m_levelMask = 0;
  filter.m_pids.Clear();
  const FilterLevelTest level = LevelTestFromChecks(checks);
  if (level.on) {
    filter.m_flags |= kFilterLevel;
    filter.m_levelMask = level.mask;
  }
  int ok = 1;
  if (checks.pidTest) {
    filter.m_flags |= kFilterPids;
    if (checkedCount != 0 && checkedPids != nullptr && !filter.m_pids.AppendN(checkedPids, checkedCount)) ok = 0;
  }
  if (filter.ConditionCount() != 0) filter.m_flags |= kFilterConditions;
  return ok;
}

ConditionChoices ConditionChoicesFrom(uint8_t field, uint8_t flags, bool first) {
  ConditionChoices choices;
  choices.connectorEnabled = !first;
  choices.connector = !first && (flags & kConditionOr) != 0 ? kConnectorOr : kConnectorAnd;
  choices.field = field == kConditionModule ? kFieldChoiceModule
                  : field == kConditionHint ? kFieldChoiceHint
                                            : kFieldChoiceMessage;
  const int op = flags & kConditionOperatorMask;
  choices.regexEntry = op == kOperatorRegex;
  choices.op = op < kOperatorChoiceCount || op == kOperatorRegex ? op : kNoChoice;
  choices.caseSensitive = (flags & kConditionCaseSensitive) != 0;
  return choices;
}

uint8_t ConditionFieldFromChoice(int fieldChoice) {
  switch (fieldChoice) {
    case kFieldChoiceModule:
      return kConditionModule;
    case kFieldChoiceHint:
      return kConditionHint;
    default:
      return kConditionMessage;
  }
}

uint8_t ConditionFlagsFromChoices(const ConditionChoices& choices, uint8_t originalFlags) {
  const bool known = (choices.op >= 0 && choices.op < kOperatorChoiceCount) ||
                     (choices.regexEntry && choices.op == kOperatorChoiceRegex);
  uint8_t flags = known ? uint8_t(choices.op) : uint8_t(originalFlags & kConditionOperatorMask);
  if (choices.connector == kConnectorOr) flags |= kConditionOr;
  if (choices.caseSensitive) flags |= kConditionCaseSensitive;
  return flags;
}

}  // namespace ktdlg
