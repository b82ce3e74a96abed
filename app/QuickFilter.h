// The quick-filter box's text as filter conditions: "re:" (lower case) asks
// for a regular expression, "plain:" for the text after it, anything else
// is searched as typed; each shown text column gets one condition, joined
// by OR, so the pattern may occur in any of them.
#pragma once

#include <cstdint>
#include <string>

#include "core/TraceFilter.h"

enum class QuickFilterResult {
  kBuilt,           // the filter holds the conditions (none for an empty pattern)
  kInvalidPattern,  // a "re:" pattern that is no valid expression: nothing built
};

// Builds the conditions of `text` for the shown columns `columns` (column
// bits; only "Dll/Exe Name", "Hint" and "Message" are searched) into the
// empty `filter`. `pattern` receives the pattern that was used.
QuickFilterResult BuildQuickFilter(const wchar_t* text, uint32_t columns, CTraceFilter* filter, std::wstring* pattern);
