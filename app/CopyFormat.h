// The text Copy puts on the clipboard: one line per row, the cells in
// display order as the list shows them, separated by tabs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/TraceRecord.h"

// Appends row `row` (its index in the shown view) of `record` with the
// columns `bits` (display order) and "\r\n". `delta` is the formatted
// "Delta (us)" cell (ignored unless that column is among the bits).
void AppendCopyRow(std::wstring* out, const uint32_t* bits, size_t count, int row, const TraceRecord& record,
                   const wchar_t* delta);
