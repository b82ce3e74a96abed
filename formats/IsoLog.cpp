// The reader of ISO-timestamped logs. The file is read in chunks and parsed
// in place: a line is a byte span, and only the message is turned into
// UTF-16, piece by piece, so a huge line without line ends costs no more
// than its records.
#include <windows.h>

#include <cstring>
#include <memory>
#include <new>

#include "core/Handle.h"
#include "core/ModuleGroups.h"
#include "core/RecordBuilder.h"
#include "core/SysUtil.h"
#include "core/TraceStore.h"
#include "formats/LineReader.h"
#include "formats/LocalMinutes.h"
#include "formats/StoreToucher.h"
#include "formats/TextLogs.h"

namespace {

constexpr uint32_t kPercent = 100;
// The reservation is three times the file: a record takes about that much
// more than its line.
constexpr uint64_t kReserveFactor = 3;
// The first year of a timestamped line; smaller numbers open continuations.
constexpr int kFirstLogYear = 2001;
// Numbers of a timestamp have at most this many digits (an int holds them).
constexpr int kMaxNumberDigits = 9;
constexpr int kDecimalBase = 10;
constexpr int kHexBase = 16;
// A bracketed word loses its first and last characters.
constexpr size_t kBracketChars = 2;

using Span = ByteSpan;

bool IsBlank(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Stream-like extraction from one line.
class CLineCursor {
 public:
  explicit CLineCursor(Span line) : m_at(line.begin), m_end(line.end) {}

  void SkipBlanks() {
    while (m_at < m_end && IsBlank(*m_at)) {
      ++m_at;
    }
  }
  // An optionally signed decimal number of at most 9 digits.
  bool Number(int* value) {
    SkipBlanks();
    bool negative = false;
    if (m_at < m_end && (*m_at == '-' || *m_at == '+')) {
      negative = *m_at == '-';
      ++m_at;
    }
    int digits = 0;
    int result = 0;
    while (m_at < m_end && *m_at >= '0' && *m_at <= '9') {
      if (++digits > kMaxNumberDigits) {
        return false;
      }
      result = result * kDecimalBase + (*m_at - '0');
      ++m_at;
    }
    *value = negative ? -result : result;
    return digits != 0;
  }
  // Any single non-blank character.
  bool Separator() {
    SkipBlanks();
    if (m_at >= m_end) {
      return false;
    }
    ++m_at;
    return true;
  }
  // The next run of non-blank characters (empty at the end of the line).
  Span Word() {
    SkipBlanks();
    Span word{m_at, m_at};
    while (m_at < m_end && !IsBlank(*m_at)) {
      ++m_at;
    }
    word.end = m_at;
    return word;
  }
  const uint8_t* At() const { return m_at; }

 private:
  const uint8_t* m_at;
  const uint8_t* m_end;
};

struct IsoStamp {
  int year, month, day, hour, minute, second, milliseconds;
};

// The seven numbers and the separator after each. False when any is missing,
// so a line that only opens with a number continues the previous one.
bool ReadStamp(CLineCursor& cursor, IsoStamp* stamp) {
  int* fields[] = {&stamp->year,   &stamp->month,  &stamp->day,         &stamp->hour,
                   &stamp->minute, &stamp->second, &stamp->milliseconds};
  for (int* field : fields) {
    if (!cursor.Number(field) || !cursor.Separator()) {
      return false;
    }
  }
  return stamp->year >= kFirstLogYear;
}

uint32_t IsoLevel(Span word) {
  struct LevelWord {
    const char* text;
    uint32_t level;
  };
  static constexpr LevelWord kWords[] = {{"error", kLevelError}, {"warn", kLevelWarning}, {"debug", kLevelDebug}};
  for (const LevelWord& entry : kWords) {
    const size_t n = strlen(entry.text);
    if (word.size() == n && _strnicmp(reinterpret_cast<const char*>(word.begin), entry.text, n) == 0) {
      return entry.level;
    }
  }
  return kLevelInfo;
}

int DigitValue(uint8_t c, int base) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  const uint8_t lower = c | 0x20;
  if (base == kHexBase && lower >= 'a' && lower <= 'f') {
    return lower - 'a' + kDecimalBase;
  }
  return -1;
}

// The digits of `base` that open the field (anything may follow them), into
// 32 bits. False when there is no digit or the value does not fit.
bool ParseThreadNumber(Span field, int base, uint32_t* value) {
  uint64_t result = 0;
  const uint8_t* p = field.begin;
  for (int digit; p < field.end && (digit = DigitValue(*p, base)) >= 0; ++p) {
    result = result * uint64_t(base) + uint64_t(digit);
    if (result > 0xFFFFFFFFull) {
      return false;
    }
  }
  if (p == field.begin) {
    return false;
  }
  *value = uint32_t(result);
  return true;
}

// What the last timestamped line set for the lines that continue it.
struct LineState {
  uint32_t level = kLevelInfo;
  uint32_t tid = 0;
  int64_t time = 0;
  uint16_t milliseconds = 0;
};

// Hands whole lines to the parser and streams a line longer than the line
// reader's chunk into its message pieces.
class CIsoLogReader {
 public:
  CIsoLogReader(CTraceMgr* store, HANDLE file, uint64_t size)
      : m_store(store), m_lines(file), m_size(size), m_group(g_moduleGroups.CatchAllIndex()) {}

  // Touches the reserved part of the store's buffer on helper threads ahead
  // of the records, when it is large enough to pay for them.
  void StartTouching() { m_toucher.Start(m_store); }

  // 1 when the file was read to its end and every record stored; 0 when a
  // read failed or a record could not be stored.
  int Run();

 private:
  // The start of a line: its head, then its message begins. `complete`
  // says the span reaches the line's end.
  int LineStart(Span line, bool complete);
  // A message is built from spans, stored in pieces as they fill.
  void BeginMessage();
  int Append(Span span);
  int EndMessage();
  int StorePiece(size_t units);
  void Progress();

  CTraceMgr* m_store;
  CStoreToucher m_toucher;
  CChunkLineReader m_lines;
  uint64_t m_size;
  uint32_t m_percent = 0;
  int m_group;
  LineState m_state;
  CLocalMinuteCache m_minutes;
  bool m_skip = false;    // the message being built is not stored
  bool m_stored = false;  // a piece of it was stored already
  size_t m_units = 0;     // units in m_piece
  wchar_t m_piece[kIsoMessagePieceUnits + 1];
};

void CIsoLogReader::Progress() {
  const uint64_t step = m_size / kPercent != 0 ? m_size / kPercent : 1;
  uint64_t now = m_lines.Consumed() / step;
  now = now < kPercent ? now : kPercent;
  if (now != m_percent) {
    m_percent = uint32_t(now);
    m_store->SetProgress(m_percent);
  }
}

int CIsoLogReader::Run() {
  if (!m_lines.Init()) {
    return 0;
  }
  ByteSpan piece;
  bool lineEnd = true;
  bool inLine = false;  // a long line's start was handled; its message goes on
  bool first = true;
  int got;
  while ((got = m_lines.Next(&piece, &lineEnd)) > 0) {
    // A UTF-8 mark would hide the first line's timestamp.
    constexpr uint8_t kUtf8Mark[] = {0xEF, 0xBB, 0xBF};
    if (first && piece.size() >= sizeof(kUtf8Mark) && memcmp(piece.begin, kUtf8Mark, sizeof(kUtf8Mark)) == 0) {
      piece.begin += sizeof(kUtf8Mark);
    }
    first = false;
    if (!(inLine ? Append(piece) && (!lineEnd || EndMessage()) : LineStart(piece, lineEnd))) {
      return 0;
    }
    inLine = !lineEnd;
    Progress();
  }
  return got == 0 ? 1 : 0;
}

int CIsoLogReader::LineStart(Span line, bool complete) {
  CLineCursor cursor(line);
  IsoStamp stamp;
  if (!ReadStamp(cursor, &stamp)) {
    // A continuation: the whole line under the last timestamped line's fields.
    BeginMessage();
    return Append(line) && (!complete || EndMessage());
  }
  const Span levelWord = cursor.Word();
  const Span threadWord = cursor.Word();
  const uint8_t* after = cursor.At();
  // One character (the blank after the thread word) is passed over.
  const Span rest{after < line.end ? after + 1 : line.end, line.end};

  const int64_t minute = m_minutes.MinuteStart(stamp.year, stamp.month, stamp.day, stamp.hour, stamp.minute);
  m_state.time = minute < 0 ? -1 : minute + stamp.second;
  m_state.milliseconds = uint16_t(stamp.milliseconds);
  const Span level = levelWord.size() > kBracketChars ? Span{levelWord.begin + 1, levelWord.end - 1}
                                                      : Span{levelWord.begin, levelWord.begin};
  m_state.level = IsoLevel(level);
  const Span thread = threadWord.size() > kBracketChars ? Span{threadWord.begin + 1, threadWord.end - 1}
                                                        : Span{threadWord.begin, threadWord.begin};
  constexpr size_t kHexPrefix = 2;
  const bool hex = thread.size() > kHexPrefix && thread.begin[0] == '0' && (thread.begin[1] | 0x20) == 'x';
  BeginMessage();
  int appended;
  if (hex && ParseThreadNumber(Span{thread.begin + kHexPrefix, thread.end}, kHexBase, &m_state.tid)) {
    appended = Append(threadWord) && Append(rest);
  } else if (!hex && ParseThreadNumber(thread, kDecimalBase, &m_state.tid)) {
    appended = Append(rest);
  } else {
    // Not a thread number: the line stays, as thread 0, with the word kept.
    m_state.tid = 0;
    appended = Append(Span{threadWord.begin, line.end});
  }
  return appended && (!complete || EndMessage());
}

void CIsoLogReader::BeginMessage() {
  // Lines before the first timestamped line, and times the records cannot
  // carry, are not stored.
  m_skip = m_state.time <= 0 || m_state.time > int64_t(0xFFFFFFFF);
  m_stored = false;
  m_units = 0;
}

int CIsoLogReader::Append(Span span) {
  if (m_skip) {
    return 1;
  }
  const uint8_t* at = span.begin;
  while (at < span.end) {
    const size_t n = m_units < kIsoMessagePieceUnits ? DecodeUtf8(&at, span.end, m_piece + m_units,
                                                                  kIsoMessagePieceUnits - m_units, InvalidByte::kLatin1)
                                                     : 0;
    // Nothing fitted: the piece is full, or one unit short of a pair.
    if (n == 0) {
      if (!StorePiece(m_units)) {
        return 0;
      }
      m_stored = true;
      m_units = 0;
    }
    m_units += n;
  }
  return 1;
}

int CIsoLogReader::EndMessage() {
  if (m_skip || (m_units == 0 && m_stored)) {
    return 1;
  }
  return StorePiece(m_units);
}

int CIsoLogReader::StorePiece(size_t units) {
  m_piece[units] = 0;
  m_toucher.BeforeRecord(m_store);
  TraceRecord* record = CTraceMgr::AddTraceItem(
      m_store, m_group, m_state.level, kIsoLogModule, nullptr, m_piece, 0, m_state.tid, uint32_t(m_state.time),
      m_state.milliseconds, nullptr, nullptr, kModeBuild, kIsoMessageLimit);
  if (record == nullptr) {
    DebugTraceA("LoadIsoLog, store, %u records", m_store->Buffer() ? m_store->Buffer()->recordCount : 0u);
    return 0;
  }
  m_store->AddToProcessStats(record);
  return 1;
}

}  // namespace

int LoadIsoLog(CTraceMgr* store, const wchar_t* path) {
  if (store == nullptr || path == nullptr) {
    return 0;
  }
  CHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.valid()) {
    return 0;
  }
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size)) {
    return 0;
  }
  const uint64_t bytes = uint64_t(size.QuadPart);
  uint64_t reserve = bytes * kReserveFactor;
  if (reserve > kMaxStoreReservation) {
    reserve = kMaxStoreReservation;
  }
  // Records grow the buffer as they come when the reservation fails.
  const TraceBufferHeader* header = store->Buffer();
  if (header == nullptr || header->freeBytes < reserve) {
    store->GrowBuffer(uint32_t(reserve));
  }
  // The reader holds a whole message piece: too large for the stack.
  std::unique_ptr<CIsoLogReader> reader(new (std::nothrow) CIsoLogReader(store, file.get(), bytes));
  if (reader == nullptr) {
    return 0;
  }
  reader->StartTouching();
  const int result = reader->Run();
  store->SetProgress(kPercent);
  return result;
}
