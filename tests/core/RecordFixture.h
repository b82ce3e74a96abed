// Builds records by hand in a store's buffer, laid out as the record builder
// lays them out: "[pid:tid]", module, hint, message, sub-name.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "core/TraceRecord.h"
#include "core/TraceStore.h"

struct RecordSpec {
  uint32_t pid = 100;
  uint32_t tid = 200;
  uint32_t level = kLevelInfo;
  uint32_t time = 1700000000;
  uint16_t milliseconds = 0;
  const wchar_t* module = L"mod.dll";
  const wchar_t* hint = L"";
  const wchar_t* message = L"hello";
  const wchar_t* subName = L"";
  uint32_t groupFlag = 0;  // component-group bit
  uint16_t flags = 0;      // kRecordStampValid, kRecordLive
  uint64_t stamp = 0;
};

inline uint32_t RecordBytesFor(const RecordSpec& spec, wchar_t* procThread, size_t size) {
  _snwprintf(procThread, size, L"[%u:%u]", spec.pid, spec.tid);
  procThread[size - 1] = 0;
  // An empty hint or sub-name takes no room: it points at the terminator
  // before it.
  const size_t hint = wcslen(spec.hint), sub = wcslen(spec.subName);
  const size_t units = wcslen(procThread) + 1 + wcslen(spec.module) + 1 + (hint ? hint + 1 : 0) +
                       wcslen(spec.message) + 1 + (sub ? sub + 1 : 0);
  return uint32_t((kRecordFixedSize + 2 * units + 3) & ~size_t(3));
}

// Fills `record` (which must have room for RecordBytesFor) and stamps `sequence`.
inline void FillRecord(TraceRecord* record, const RecordSpec& spec, uint32_t sequence) {
  wchar_t pt[32];
  const uint32_t bytes = RecordBytesFor(spec, pt, 32);
  std::memset(record, 0, kRecordFixedSize);
  record->length = uint16_t(bytes);
  record->version = kTraceVersion;
  record->encoding = kRecordEncodingUtf16;
  record->level = spec.level;
  record->pid = spec.pid;
  record->tid = spec.tid;
  record->sequence = sequence;
  record->time = spec.time;
  record->milliseconds = spec.milliseconds;
  record->groupFlag = spec.groupFlag;
  record->flags = spec.flags;
  record->SetStamp(spec.stamp);
  auto* base = reinterpret_cast<uint8_t*>(record);
  uint32_t at = kRecordFixedSize;
  auto put = [&](const wchar_t* s) {
    const uint32_t start = at;
    const size_t n = wcslen(s) + 1;
    std::memcpy(base + at, s, n * sizeof(wchar_t));
    at += uint32_t(n * sizeof(wchar_t));
    return uint16_t(start);
  };
  put(pt);
  record->moduleOffset = put(spec.module);
  record->hintOffset = spec.hint[0] ? put(spec.hint) : uint16_t(at - sizeof(wchar_t));
  record->messageOffset = put(spec.message);
  record->subNameOffset = spec.subName[0] ? put(spec.subName) : uint16_t(at - sizeof(wchar_t));
  std::wcsncpy(record->timeText, L"12:00:00.000 01/02/24", kRecordTimeTextUnits - 1);
}

// Allocates and fills one record in the store; null when it has no room.
inline TraceRecord* AddRecord(CTraceBase* store, const RecordSpec& spec) {
  wchar_t pt[32];
  TraceRecord* record = AllocRecord(store, RecordBytesFor(spec, pt, 32));
  if (record != nullptr) {
    FillRecord(record, spec, ++store->Buffer()->lastSequence);
  }
  return record;
}

// One record in a heap block of its own, laid out as the builder lays it out.
class OwnedRecord {
 public:
  explicit OwnedRecord(const RecordSpec& spec) {
    wchar_t pt[32];
    m_record = static_cast<TraceRecord*>(std::malloc(RecordBytesFor(spec, pt, 32)));
    if (m_record != nullptr) FillRecord(m_record, spec, 1);
  }
  ~OwnedRecord() { std::free(m_record); }
  OwnedRecord(const OwnedRecord&) = delete;
  OwnedRecord& operator=(const OwnedRecord&) = delete;
  TraceRecord* get() const { return m_record; }

 private:
  TraceRecord* m_record;
};
