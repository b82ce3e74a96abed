// The reader of ISO-timestamped logs. The file is mapped and parsed in place:
// a line is a byte span, and only the message is turned into UTF-16, piece by
// piece, so a huge line without line ends costs no more than its records.
#include <windows.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <new>

#include "core/ModuleGroups.h"
#include "core/RecordBuilder.h"
#include "core/SysUtil.h"
#include "core/TraceStore.h"
#include "formats/FileHandle.h"
#include "formats/TextLogs.h"

namespace {

constexpr uint32_t kPercent = 100;
// The reservation is three times the file: a record takes about that much
// more than its line.
constexpr uint64_t kReserveFactor = 3;
constexpr uint64_t kMaxReservation = 0xFFF00000ull;
// The first year of a timestamped line; smaller numbers open continuations.
constexpr int kFirstLogYear = 2001;
constexpr int kTmYearBase = 1900;
// Numbers of a timestamp have at most this many digits (an int holds them).
constexpr int kMaxNumberDigits = 9;
constexpr int kDecimalBase = 10;
constexpr int kHexBase = 16;
// A bracketed word loses its first and last characters.
constexpr size_t kBracketChars = 2;

struct Span {
  const uint8_t* begin;
  const uint8_t* end;
  size_t size() const { return size_t(end - begin); }
};

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

// Local-time conversion is slow, and a log's lines share their minutes: the
// start of the last minute is kept. Offsets between zones are whole
// minutes, so adding the seconds is exact.
class CMinuteCache {
 public:
  // Seconds since 1970, or -1 when the fields cannot be converted.
  int64_t Convert(const IsoStamp& s) {
    if (!m_filled || s.year != m_key.year || s.month != m_key.month || s.day != m_key.day || s.hour != m_key.hour ||
        s.minute != m_key.minute) {
      struct tm calendar = {};
      calendar.tm_year = s.year - kTmYearBase;
      calendar.tm_mon = s.month - 1;
      calendar.tm_mday = s.day;
      calendar.tm_hour = s.hour;
      calendar.tm_min = s.minute;
      calendar.tm_isdst = -1;
      m_minute = _mktime64(&calendar);
      m_key = s;
      m_filled = true;
    }
    return m_minute < 0 ? -1 : m_minute + s.second;
  }

 private:
  IsoStamp m_key = {};
  int64_t m_minute = -1;
  bool m_filled = false;
};

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

// Bytes to UTF-16: valid UTF-8 sequences are decoded, any other byte stands
// for the character of the same number (the byte-per-character reading).
class CWideDecoder {
 public:
  // Decodes from *at up to end into out (room for `room` units) and moves
  // *at on. A character needing two units is left for the next call when
  // only one unit is left. Returns the units written.
  static size_t Decode(const uint8_t** at, const uint8_t* end, wchar_t* out, size_t room) {
    const uint8_t* p = *at;
    size_t n = 0;
    while (p < end && n < room) {
      const uint8_t c = *p;
      if (c < 0x80) {
        out[n++] = wchar_t(c);
        ++p;
        continue;
      }
      uint32_t code = 0;
      const size_t length = Sequence(p, end, &code);
      if (length == 0) {
        out[n++] = wchar_t(c);
        ++p;
        continue;
      }
      if (code >= 0x10000) {
        if (n + 2 > room) {
          break;
        }
        code -= 0x10000;
        out[n++] = wchar_t(0xD800 + (code >> 10));
        out[n++] = wchar_t(0xDC00 + (code & 0x3FF));
      } else {
        out[n++] = wchar_t(code);
      }
      p += length;
    }
    *at = p;
    return n;
  }

 private:
  // Length of a valid UTF-8 sequence of two to four bytes at p, 0 otherwise.
  static size_t Sequence(const uint8_t* p, const uint8_t* end, uint32_t* code) {
    const uint8_t c = *p;
    size_t length;
    uint32_t value;
    uint32_t minimum;
    if ((c & 0xE0) == 0xC0) {
      length = 2, value = c & 0x1F, minimum = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      length = 3, value = c & 0x0F, minimum = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      length = 4, value = c & 0x07, minimum = 0x10000;
    } else {
      return 0;
    }
    if (size_t(end - p) < length) {
      return 0;
    }
    for (size_t i = 1; i < length; ++i) {
      if ((p[i] & 0xC0) != 0x80) {
        return 0;
      }
      value = (value << 6) | (p[i] & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
      return 0;
    }
    *code = value;
    return length;
  }
};

// What the last timestamped line set for the lines that continue it.
struct LineState {
  uint32_t level = kLevelInfo;
  uint32_t tid = 0;
  int64_t time = 0;
  uint16_t milliseconds = 0;
};

class CIsoLogReader {
 public:
  CIsoLogReader(CTraceMgr* store, const uint8_t* bytes, size_t size)
      : m_store(store), m_bytes(bytes), m_size(size), m_group(g_moduleGroups.CatchAllIndex()) {}

  // 1 when every line was read and stored, 0 when a record could not be stored.
  int Run();

 private:
  int Line(Span line);
  // Stores the spans one after the other as one message, in pieces.
  int Store(const Span* spans, size_t count);
  int StorePiece(size_t units);

  CTraceMgr* m_store;
  const uint8_t* m_bytes;
  size_t m_size;
  int m_group;
  LineState m_state;
  CMinuteCache m_minutes;
  wchar_t m_piece[kIsoMessagePieceUnits + 1];
};

int CIsoLogReader::Run() {
  const uint8_t* at = m_bytes;
  const uint8_t* end = m_bytes + m_size;
  const uint64_t step = m_size / kPercent != 0 ? m_size / kPercent : 1;
  uint32_t percent = 0;
  while (at < end) {
    const auto* lf = static_cast<const uint8_t*>(memchr(at, '\n', size_t(end - at)));
    const uint8_t* lineEnd = lf != nullptr ? lf : end;
    Span line{at, lineEnd};
    if (line.end > line.begin && line.end[-1] == '\r') {
      --line.end;
    }
    if (!Line(line)) {
      return 0;
    }
    at = lf != nullptr ? lf + 1 : end;
    const uint32_t now = uint32_t(uint64_t(at - m_bytes) / step);
    if (now != percent) {
      percent = now < kPercent ? now : kPercent;
      m_store->SetProgress(percent);
    }
  }
  return 1;
}

int CIsoLogReader::Line(Span line) {
  CLineCursor cursor(line);
  IsoStamp stamp;
  if (!ReadStamp(cursor, &stamp)) {
    // A continuation: the whole line under the last timestamped line's fields.
    return Store(&line, 1);
  }
  const Span levelWord = cursor.Word();
  const Span threadWord = cursor.Word();
  const uint8_t* after = cursor.At();
  // One character (the blank after the thread word) is passed over.
  const Span rest{after < line.end ? after + 1 : line.end, line.end};

  const int64_t time = m_minutes.Convert(stamp);
  m_state.time = time;
  m_state.milliseconds = uint16_t(stamp.milliseconds);
  const Span level = levelWord.size() > kBracketChars ? Span{levelWord.begin + 1, levelWord.end - 1}
                                                      : Span{levelWord.begin, levelWord.begin};
  m_state.level = IsoLevel(level);
  const Span thread = threadWord.size() > kBracketChars ? Span{threadWord.begin + 1, threadWord.end - 1}
                                                        : Span{threadWord.begin, threadWord.begin};
  constexpr size_t kHexPrefix = 2;
  const bool hex = thread.size() > kHexPrefix && thread.begin[0] == '0' && (thread.begin[1] | 0x20) == 'x';
  if (hex && ParseThreadNumber(Span{thread.begin + kHexPrefix, thread.end}, kHexBase, &m_state.tid)) {
    const Span spans[] = {threadWord, rest};
    return Store(spans, 2);
  }
  if (!hex && ParseThreadNumber(thread, kDecimalBase, &m_state.tid)) {
    return Store(&rest, 1);
  }
  // Not a thread number: the line stays, as thread 0, with the word kept.
  m_state.tid = 0;
  const Span fromWord{threadWord.begin, line.end};
  return Store(&fromWord, 1);
}

int CIsoLogReader::Store(const Span* spans, size_t count) {
  // Lines before the first timestamped line, and times the records cannot
  // carry, are not stored.
  if (m_state.time <= 0 || m_state.time > int64_t(0xFFFFFFFF)) {
    return 1;
  }
  size_t units = 0;
  bool stored = false;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* at = spans[i].begin;
    while (at < spans[i].end) {
      const size_t n =
          units < kIsoMessagePieceUnits
              ? CWideDecoder::Decode(&at, spans[i].end, m_piece + units, kIsoMessagePieceUnits - units)
              : 0;
      // Nothing fitted: the piece is full, or one unit short of a pair.
      if (n == 0) {
        if (!StorePiece(units)) {
          return 0;
        }
        stored = true;
        units = 0;
      }
      units += n;
    }
  }
  if (units != 0 || !stored) {
    return StorePiece(units);
  }
  return 1;
}

int CIsoLogReader::StorePiece(size_t units) {
  m_piece[units] = 0;
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
  CFileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
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
  if (reserve > kMaxReservation) {
    reserve = kMaxReservation;
  }
  // Records grow the buffer as they come when the reservation fails.
  store->GrowBuffer(uint32_t(reserve));
  if (bytes == 0) {
    return 1;
  }
  if (bytes > SIZE_MAX) {
    return 0;
  }
  CMappedView view;
  if (!view.MapReadOnly(file.get())) {
    DebugTraceA("LoadIsoLog, map, %lu", GetLastError());
    return 0;
  }
  // The reader holds a whole message piece: too large for the stack.
  std::unique_ptr<CIsoLogReader> reader(
      new (std::nothrow) CIsoLogReader(store, static_cast<const uint8_t*>(view.get()), size_t(bytes)));
  if (reader == nullptr) {
    return 0;
  }
  const int result = reader->Run();
  store->SetProgress(kPercent);
  return result;
}
