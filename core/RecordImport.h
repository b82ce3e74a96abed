// The importers' side of the record formats: the head of a narrow record and
// its validation, the layouts of the shared one-record buffer and of QRV
// records, and the parsers of level words, dates and times. The importers
// themselves are CTraceMgr members (core/TraceStore.h).
//
// Every importer trusts nothing it reads: a narrow record must be 53 to 12288
// bytes of version 3 whose string offsets lie after the 52-byte head, in
// order, inside the record; every string is read by a bounded scan that ends
// at the record's (or source's) end and is terminated there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

// Narrow record head, byte offsets.
constexpr size_t kNarrowLengthOffset = 0;
constexpr size_t kNarrowVersionOffset = 2;
constexpr size_t kNarrowFlagsOffset = 4;
constexpr size_t kNarrowEncodingOffset = 6;
constexpr size_t kNarrowCipherKindOffset = 7;
constexpr size_t kNarrowLevelOffset = 8;
constexpr size_t kNarrowPidOffset = 12;
constexpr size_t kNarrowTidOffset = 16;
constexpr size_t kNarrowSequenceOffset = 20;
constexpr size_t kNarrowTimeOffset = 24;
constexpr size_t kNarrowMillisecondsOffset = 28;
constexpr size_t kNarrowModuleOffset = 30;
constexpr size_t kNarrowHintOffset = 32;
constexpr size_t kNarrowMessageOffset = 34;
constexpr size_t kNarrowStampLowOffset = 36;
constexpr size_t kNarrowStampHighOffset = 40;

constexpr uint32_t kMinNarrowRecord = 53;

// String encodings of a narrow record.
constexpr uint8_t kNarrowEncodingAnsi = 1;
constexpr uint8_t kNarrowEncodingUtf16 = 2;
constexpr uint8_t kNarrowEncodingUtf8 = 4;

// The head of a narrow record in host order.
struct NarrowHead {
  uint16_t length;
  uint8_t version;
  uint16_t flags;
  uint8_t encoding;
  uint8_t cipherKind;
  uint32_t level;
  uint32_t pid;
  uint32_t tid;
  uint32_t time;
  uint16_t milliseconds;
  uint16_t moduleOffset;
  uint16_t hintOffset;
  uint16_t messageOffset;
  uint32_t stamp[2];  // low word first
};

// Reads a little-endian head (the record may lie at any alignment) and
// checks it: true when the record may be imported. Reads nothing beyond the
// first two bytes unless the length says the head is there.
bool ReadNarrowHead(const void* record, NarrowHead* head);
// The checks on a head already in host order.
bool IsValidNarrowHead(const NarrowHead& head);

// The shared one-record buffer, byte offsets.
constexpr size_t kSharedRecordSize = 2344;
constexpr size_t kSharedLevelOffset = 0;
constexpr size_t kSharedPidOffset = 4;
constexpr size_t kSharedTidOffset = 8;
constexpr size_t kSharedModuleOffset = 12;
constexpr size_t kSharedModuleBytes = 260;
constexpr size_t kSharedTextOffset = 272;
constexpr size_t kSharedVersionOffset = 2320;
constexpr size_t kSharedTimeOffset = 2328;
constexpr size_t kSharedMillisecondsOffset = 2336;
constexpr uint32_t kSharedMaxVersion = 3;
// Where each layout's text is cut (the byte or unit there is forced to 0).
constexpr size_t kSharedCutV0V1 = 1295;
constexpr size_t kSharedCutV2 = 2319;
constexpr size_t kSharedCutV3 = 2318;

// QRV record: u16 text bytes, u32 pid at 2, SYSTEMTIME at 6, text at 22.
constexpr size_t kQrvPidOffset = 2;
constexpr size_t kQrvTimeOffset = 6;
constexpr size_t kQrvTextOffset = 22;
constexpr size_t kQrvMaxTextBytes = 2047;

// Debugger output: u32 pid, then narrow text.
constexpr size_t kDbwinTextOffset = 4;

// WM_COPYDATA text: a message longer than this many bytes is cut to it.
constexpr size_t kDbgTextMaxMessageBytes = 1023;

// Level word of a text line: debug, info, warn(ing), error, PII (any case),
// else the number 100, 200 or 400; anything else is information.
uint32_t LevelFromWord(const wchar_t* word);
// Level code of the shared buffer: 100 warning, 200 error, 400 personal
// data, anything else information.
uint32_t LevelFromCode(uint32_t code);

// "M/D/Y" into the calendar time: a one- or two-digit year is 2000 plus the
// value, longer years are taken as they stand; without a second "/" the year
// is 2007. Returns the text behind the next blank (or its end), null when the
// text holds no "/".
const wchar_t* ParseDateText(const wchar_t* text, struct tm* calendar);
// "H:M[:S[.mmm]]" into the calendar time and milliseconds. Returns the text
// behind the next blank (or its end), null when the text holds no ":".
const wchar_t* ParseTimeText(const wchar_t* text, struct tm* calendar, uint16_t* milliseconds);
// A date and a time in either order, as local time. Neither "/" nor ":" in
// the text leaves both results untouched; a calendar time mktime cannot
// represent (a time of day without a date) gives 0xFFFFFFFF, shown as "N/A".
void ParseDateTime(const wchar_t* text, uint32_t* time, uint16_t* milliseconds);
