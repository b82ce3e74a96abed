// The reader of ISO-timestamped logs. The file is read in chunks and parsed
// in place: a line is a byte span, and only the message is turned into
// UTF-16, piece by piece, so a huge line without line ends costs no more
// than its records.
#include <emmintrin.h>
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
// The file is read this much at a time; a line longer than this is
// streamed into its records.
constexpr size_t kReadChunk = 1u << 20;
constexpr ptrdiff_t kVectorBytes = 16;

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
      // Sixteen ASCII bytes at a time: most log text is ASCII.
      const __m128i zero = _mm_setzero_si128();
      while (end - p >= kVectorBytes && room - n >= size_t(kVectorBytes)) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        if (_mm_movemask_epi8(bytes) != 0) {
          break;
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n), _mm_unpacklo_epi8(bytes, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n + kVectorBytes / 2), _mm_unpackhi_epi8(bytes, zero));
        p += kVectorBytes;
        n += kVectorBytes;
      }
      if (p >= end || n >= room) {
        break;
      }
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

// The first LF in [p, end), or null.
const uint8_t* FindLineEnd(const uint8_t* p, const uint8_t* end) {
  const __m128i lf = _mm_set1_epi8('\n');
  while (end - p >= kVectorBytes) {
    const int hits = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), lf));
    if (hits != 0) {
      return p + __builtin_ctz(unsigned(hits));
    }
    p += kVectorBytes;
  }
  for (; p < end; ++p) {
    if (*p == '\n') {
      return p;
    }
  }
  return nullptr;
}

// Where a piece of a long line may end: before a UTF-8 sequence that the
// next bytes complete, so it is decoded whole.
const uint8_t* SafeCut(const uint8_t* begin, const uint8_t* end) {
  constexpr ptrdiff_t kLongestSequence = 4;
  for (const uint8_t* p = end; p > begin && end - p < kLongestSequence;) {
    --p;
    if ((*p & 0xC0) == 0x80) {
      continue;  // a continuation byte: look further back for its lead
    }
    const ptrdiff_t needed = *p >= 0xF0 ? 4 : *p >= 0xE0 ? 3 : *p >= 0xC0 ? 2 : 1;
    return end - p < needed ? p : end;
  }
  return end;
}

// Reads the file in chunks into one buffer (the file's bytes are seen once
// and no memory grows with the file), hands whole lines to the parser and
// streams a line longer than a chunk into its message pieces.
class CIsoLogReader {
 public:
  CIsoLogReader(CTraceMgr* store, HANDLE file, uint64_t size)
      : m_store(store), m_file(file), m_size(size), m_group(g_moduleGroups.CatchAllIndex()) {}

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
  int Fill();
  void Progress();

  CTraceMgr* m_store;
  HANDLE m_file;
  uint64_t m_size;
  uint64_t m_consumed = 0;
  uint32_t m_percent = 0;
  int m_group;
  LineState m_state;
  CMinuteCache m_minutes;
  bool m_skip = false;    // the message being built is not stored
  bool m_stored = false;  // a piece of it was stored already
  size_t m_units = 0;     // units in m_piece
  size_t m_have = 0;      // bytes in m_buffer
  bool m_eof = false;
  wchar_t m_piece[kIsoMessagePieceUnits + 1];
  uint8_t m_buffer[2 * kReadChunk];
};

int CIsoLogReader::Fill() {
  DWORD got = 0;
  if (!ReadFile(m_file, m_buffer + m_have, DWORD(sizeof(m_buffer) - m_have), &got, nullptr)) {
    DebugTraceA("LoadIsoLog, read, %lu", GetLastError());
    return 0;
  }
  m_have += got;
  m_eof = got == 0;
  return 1;
}

void CIsoLogReader::Progress() {
  const uint64_t step = m_size / kPercent != 0 ? m_size / kPercent : 1;
  uint64_t now = m_consumed / step;
  now = now < kPercent ? now : kPercent;
  if (now != m_percent) {
    m_percent = uint32_t(now);
    m_store->SetProgress(m_percent);
  }
}

int CIsoLogReader::Run() {
  size_t pos = 0;
  bool inLine = false;  // a long line's start was handled; its message goes on
  for (;;) {
    const uint8_t* at = m_buffer + pos;
    const uint8_t* end = m_buffer + m_have;
    const uint8_t* lf = FindLineEnd(at, end);
    if (lf != nullptr || (m_eof && at < end)) {
      Span line{at, lf != nullptr ? lf : end};
      if (line.end > line.begin && line.end[-1] == '\r') {
        --line.end;
      }
      if (!(inLine ? Append(line) && EndMessage() : LineStart(line, true))) {
        return 0;
      }
      inLine = false;
      const size_t next = size_t((lf != nullptr ? lf + 1 : end) - m_buffer);
      m_consumed += next - pos;
      pos = next;
      Progress();
      continue;
    }
    if (m_eof) {
      return inLine ? EndMessage() : 1;
    }
    if (size_t(end - at) >= kReadChunk) {
      // A chunk without a line end: what is there starts or continues a long line.
      const Span piece{at, SafeCut(at, end)};
      if (!(inLine ? Append(piece) : LineStart(piece, false))) {
        return 0;
      }
      inLine = true;
      m_consumed += piece.size();
      pos += piece.size();
    }
    memmove(m_buffer, m_buffer + pos, m_have - pos);
    m_have -= pos;
    pos = 0;
    if (!Fill()) {
      return 0;
    }
  }
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

  m_state.time = m_minutes.Convert(stamp);
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
    const size_t n = m_units < kIsoMessagePieceUnits
                         ? CWideDecoder::Decode(&at, span.end, m_piece + m_units, kIsoMessagePieceUnits - m_units)
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
  const TraceBufferHeader* header = store->Buffer();
  if (header == nullptr || header->freeBytes < reserve) {
    store->GrowBuffer(uint32_t(reserve));
  }
  // The reader holds a message piece and a read buffer: too large for the stack.
  std::unique_ptr<CIsoLogReader> reader(new (std::nothrow) CIsoLogReader(store, file.get(), bytes));
  if (reader == nullptr) {
    return 0;
  }
  const int result = reader->Run();
  store->SetProgress(kPercent);
  return result;
}
