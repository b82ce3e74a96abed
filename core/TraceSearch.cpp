// Searches inside one view: by filter, by mark and by text, and the position
// of a record shown before.
#include "core/StrUtil.h"
#include "core/TraceView.h"

namespace {
constexpr int kNotFound = -1;
// Records searched ahead of the one compared: each lies elsewhere in the
// store, so its lines are asked for before the compare needs them.
constexpr int kPrefetchAhead = 8;
constexpr size_t kPrefetchLines = 4;
constexpr size_t kCacheLine = 64;

void PrefetchRecord(const TraceRecord* record) {
  const auto* bytes = reinterpret_cast<const char*>(record);
  for (size_t line = 0; line < kPrefetchLines; ++line) __builtin_prefetch(bytes + line * kCacheLine);
}

// A string offset that lies inside the record and on a character boundary;
// other offsets read as an empty string.
const wchar_t* FieldText(const TraceRecord* record, uint16_t offset) {
  if (offset < kRecordFixedSize || offset >= record->length || (offset & 1u) != 0) {
    return L"";
  }
  return record->StringAt(offset);
}
}  // namespace

bool CTraceView::InRange(int* from, int* to) const {
  if (*from < 0) {
    *from = 0;
  }
  if (*to < 0 || size_t(*to) > m_records.count) {
    *to = *to < 0 ? 0 : int(m_records.count);
  }
  return *from < *to;
}

int CTraceView::FindNextMatch(int from, int to, const CTraceFilter& filter) const {
  if (!InRange(&from, &to)) return kNotFound;
  for (int i = from; i < to; ++i) {
    if (filter.Match(m_records[size_t(i)])) return i;
  }
  return kNotFound;
}

int CTraceView::FindNextFlagged(int from, int to) const {
  if (!InRange(&from, &to)) return kNotFound;
  for (int i = from; i < to; ++i) {
    if (TraceRecord::IsMarked(m_records[size_t(i)])) return i;
  }
  return kNotFound;
}

int CTraceView::FindPrevFlagged(int from, int to) const {
  if (!InRange(&from, &to)) return kNotFound;
  for (int i = to - 1; i >= from; --i) {
    if (TraceRecord::IsMarked(m_records[size_t(i)])) return i;
  }
  return kNotFound;
}

bool CTraceView::RecordContainsText(uint32_t fields, int index, const wchar_t* text, int caseSensitive) const {
  if (text == nullptr || index < 0 || size_t(index) >= m_records.count) {
    return false;
  }
  const TraceRecord* record = m_records[size_t(index)];
  if ((fields & kSearchModule) && WcsContains(FieldText(record, record->moduleOffset), text, caseSensitive)) {
    return true;
  }
  if ((fields & kSearchHint) && WcsContains(FieldText(record, record->hintOffset), text, caseSensitive)) {
    return true;
  }
  return (fields & kSearchMessage) && WcsContains(FieldText(record, record->messageOffset), text, caseSensitive);
}

int CTraceView::FindText(int from, int to, uint32_t fields, const wchar_t* text, int caseSensitive) const {
  if (!InRange(&from, &to)) return kNotFound;
  for (int i = from; i < to; ++i) {
    if (i + kPrefetchAhead < to) PrefetchRecord(m_records[size_t(i + kPrefetchAhead)]);
    if (RecordContainsText(fields, i, text, caseSensitive)) return i;
  }
  return kNotFound;
}

int CTraceView::FindPrevText(int from, int to, uint32_t fields, const wchar_t* text, int caseSensitive) const {
  if (!InRange(&from, &to)) return kNotFound;
  for (int i = to - 1; i >= from; --i) {
    if (i - kPrefetchAhead >= from) PrefetchRecord(m_records[size_t(i - kPrefetchAhead)]);
    if (RecordContainsText(fields, i, text, caseSensitive)) return i;
  }
  return kNotFound;
}

int CTraceView::FindInsertPos(const TraceRecord* record, uint32_t time, uint16_t milliseconds) const {
  if (record == nullptr || m_records.count == 0) {
    return kNotFound;
  }
  int candidate = kNotFound;
  const int count = int(m_records.count);
  for (int i = 0; i < count; ++i) {
    const TraceRecord* at = m_records[size_t(i)];
    if (at->time > time) {
      return candidate != kNotFound ? candidate : i;
    }
    if (at->time == time) {
      if (at == record) {
        return i;
      }
      if (at->milliseconds >= milliseconds && candidate == kNotFound) {
        candidate = i;
      }
    }
  }
  return candidate != kNotFound ? candidate : count - 1;
}
