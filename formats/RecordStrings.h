// The strings of a stored record, read only inside the record's own length:
// a damaged offset or a missing terminator never takes a writer past it.
#pragma once

#include <cstddef>
#include <cwchar>

#include "core/StrUtil.h"
#include "core/TraceRecord.h"

struct WideSpan {
  const wchar_t* text;
  size_t units;  // terminator excluded
};

// The string at `offset`, cut at the end of the record; "" for an offset in
// the fixed part or past the end.
inline WideSpan RecordString(const TraceRecord* record, uint16_t offset) {
  if (offset < kRecordFixedSize || offset >= record->length) {
    return {L"", 0};
  }
  const wchar_t* text = record->StringAt(offset);
  return {text, WcsLengthBounded(text, (record->length - offset) / sizeof(wchar_t))};
}
