// The record builder's companions: the builder modes and limits, the
// process-wide block-word list and the record time text. The builder itself
// is CTraceMgr::AddTraceItem (declared with the store, core/TraceStore.h).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "core/Containers.h"

// Builder modes: a scan pass only registers block words; a build pass stores.
constexpr int kModeScan = 0;
constexpr int kModeBuild = 1;

// Message limits in units, terminator included.
constexpr uint32_t kLiveMessageLimit = 2048;   // live and record input
constexpr uint32_t kIsoMessageLimit = 32001;   // ISO-timestamped text logs
// Above this a record could pass the 16-bit length field.
constexpr uint32_t kMaxMessageLimit = kIsoMessageLimit;

// Module, hint and sub-name strings, terminator included.
constexpr size_t kRecordNameUnits = 128;

// A message holding this marker followed by Base64 registers a block word.
constexpr wchar_t kBlockWordMarker[] = L"###BLKW###-";
// Decoded block words must stay below this many bytes.
constexpr size_t kBlockWordDecodeBytes = 4096;

// Distinct, case-sensitive words; a message containing one of them is stored
// as personal data. Words are only added while the program runs. Any thread
// may add and test: m_lock guards the words and the lookup tables, readers
// share it.
class CBlockWordList {
 public:
  CBlockWordList();
  ~CBlockWordList();
  CBlockWordList(const CBlockWordList&) = delete;
  CBlockWordList& operator=(const CBlockWordList&) = delete;

  // 1 when added; 0 for a null or empty word, one already present, or no memory.
  int Add(const wchar_t* word);
  // True when some registered word occurs in text (null text: false).
  bool FoundIn(const wchar_t* text) const;
  size_t Count() const;
  // Forgets every word. The program never does; tests and benchmarks start
  // from an empty list with it.
  void Clear();

 private:
  static constexpr size_t kUnitBits = 65536;
  static constexpr size_t kBitmapWords = kUnitBits / 32;
  static constexpr size_t kBuckets = 256;

  struct Word {
    wchar_t* text;  // owned, malloc'ed
    size_t length;
  };

  bool FoundInLocked(const wchar_t* text) const;
  // Whether a word starts at p (p[0] is no terminator).
  bool StartsAt(const wchar_t* p) const;
  bool Holds(const wchar_t* word, size_t length) const;

  mutable SRWLOCK m_lock = SRWLOCK_INIT;  // guards the words, their bitmaps and their buckets
  volatile LONG m_count = 0;  // read without the lock to skip an empty list
  CGrowArray<Word> m_words;
  // One-unit words by their unit, longer words by a hash of their first two
  // units: a message position whose bit is clear cannot start any word.
  size_t m_singleCount = 0;
  uint32_t m_singles[kBitmapWords] = {};
  uint32_t m_pairs[kBitmapWords] = {};
  // Units that start some word, and always the terminator: a test skips
  // every other unit with one bit test.
  uint32_t m_firsts[kBitmapWords] = {1u};
  // The lowest and highest of those units but the terminator; a step of the
  // test passes over eight units that all lie outside.
  static constexpr wchar_t kNoFirstLow = 0xFFFF;
  static constexpr wchar_t kNoFirstHigh = 0;
  wchar_t m_firstLow = kNoFirstLow;
  wchar_t m_firstHigh = kNoFirstHigh;
  CGrowArray<uint32_t> m_buckets[kBuckets];  // word indices by pair hash
};

// The program's one list.
extern CBlockWordList g_blockWords;

// Writes the 24-unit time text of a record: the local time as
// "HH:MM:SS.mmm MM/DD/YY", or "N/A" when the time (read as a signed 32-bit
// value) cannot be converted. Returns 1 when the time converted.
int FormatRecordTimeText(uint32_t time, uint16_t milliseconds, wchar_t* out);

// The current time as the records carry it: seconds since 1970 and milliseconds.
void CurrentRecordTime(uint32_t* seconds, uint16_t* milliseconds);
