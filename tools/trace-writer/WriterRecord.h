// The records a trace writer appends: the message text it makes up and the
// narrow record form in any encoding and cipher kind a traced program uses.
#pragma once

#include <cstddef>
#include <cstdint>

// A message fits the live limit with its terminator.
constexpr size_t kWriterMessageUnits = 2048;

// The message of record `sequence` (1..N) of writer thread `thread` of
// writer `id`: "w<ID> t<THREAD> #<SEQ> " and then a padding whose length
// and words follow from the three numbers, some long, some with characters
// outside ASCII (one outside the BMP). The same numbers give the same text,
// so a reader can check what it got. Returns the length in units.
size_t MakeWriterMessage(uint32_t id, uint32_t thread, uint32_t sequence, wchar_t* out, size_t units);

// The hint of that record: mostly empty, now and then a word.
const wchar_t* WriterHint(uint32_t sequence);

struct WriterRecordFields {
  uint32_t level = 0;
  uint32_t pid = 0;
  uint32_t tid = 0;
  uint32_t time = 0;
  uint16_t milliseconds = 0;
  uint64_t stamp = 0;
  const wchar_t* module = L"";
  const wchar_t* hint = L"";
  const wchar_t* message = L"";
  uint8_t encoding = 4;  // 1 ANSI, 2 UTF-16, 4 UTF-8
  uint8_t cipher = 4;    // 0 plain .. 4 the record key
};

// Offset of the sequence number in a narrow record; the ring stamps it when
// the record is appended.
constexpr size_t kWriterSequenceOffset = 20;

// Builds the narrow record into `out` (room for `limit` bytes). The string
// area is padded to 16 bytes and enciphered as asked; the sequence is left
// 0. Returns the record's length, or 0 when it does not fit or a string
// cannot be converted.
size_t BuildWriterRecord(const WriterRecordFields& fields, uint8_t* out, size_t limit);
