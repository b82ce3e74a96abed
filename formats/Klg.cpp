// .klg lines: parsing, the narrow record of a line, the line loop and the
// store reader.
#include "formats/Klg.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "core/RecordBuilder.h"
#include "core/RecordImport.h"
#include "core/StrUtil.h"
#include "core/SysUtil.h"
#include "core/TraceStore.h"
#include "formats/StoreToucher.h"

namespace {

constexpr size_t kTimestampChars = 24;
constexpr size_t kLevelColumn = 26;
constexpr size_t kThreadSkip = 3;    // "> ["
constexpr size_t kFileSkip = 2;      // "] "
constexpr size_t kLineNumberSkip = 1;  // ":"
constexpr size_t kFunctionSkip = 2;
constexpr size_t kScopePair = 2;     // "::"
// Module and hint are names: 127 bytes and the NUL.
constexpr size_t kMaxNameBytes = 127;
constexpr size_t kStringTerminators = 4;
constexpr uint32_t kRecordAlign = 4;
constexpr uint32_t kRecordSlack = 4;
constexpr uint8_t kVersion = 3;
constexpr size_t kSubNameOffsetAt = 48;
constexpr int kTmYearBase = 1900;
constexpr int kTimestampFields = 7;
constexpr int kLastSecond = 59;
constexpr uint32_t kPercent = 100;
constexpr uint64_t kMaxKlgFileSize = 0xFFFFFFFEull;
constexpr uint64_t kRecordsPerLineByte = 3;
constexpr uint32_t kImportAllGroups = 0;
constexpr uint8_t kUtf8Mark[] = {0xEF, 0xBB, 0xBF};

// Records made from .klg lines, process-wide, starting at 1.
std::atomic<uint32_t> g_klgSequence{0};

constexpr size_t kNotFound = SIZE_MAX;

// Where a field lies in its line.
struct Field {
  size_t from = 0;
  size_t to = 0;
};

// The text of [from, to), bounded by the line.
Field Sub(size_t size, size_t from, size_t to) {
  if (from >= size || to <= from) {
    return Field();
  }
  return Field{from, to < size ? to : size};
}

size_t FindFrom(const char* line, size_t size, char c, size_t from) {
  if (from >= size) {
    return kNotFound;
  }
  const uint8_t* found = MemFindByte(reinterpret_cast<const uint8_t*>(line) + from, size - from, uint8_t(c));
  return found != nullptr ? size_t(reinterpret_cast<const char*>(found) - line) : kNotFound;
}

size_t FirstNotBlank(const char* line, size_t size, size_t from) {
  for (size_t i = from; i < size; ++i) {
    if (line[i] != ' ') {
      return i;
    }
  }
  return kNotFound;
}

struct TimestampFields {
  int year, month, day, hour, minute, second, milliseconds;
};

// The seven numbers of "%d-%d-%dT%d:%d:%d.%dZ". Timestamps as the writer
// makes them are read digit by digit; anything else goes to the C library,
// whose reading stays the rule.
bool ReadTimestamp(const std::string& text, TimestampFields* f) {
  static constexpr char kShape[] = "0000-00-00T00:00:00.000Z";
  static_assert(sizeof(kShape) - 1 == kTimestampChars, "the timestamp's columns");
  bool digits = text.size() == kTimestampChars;
  for (size_t i = 0; digits && i < kTimestampChars; ++i) {
    const char c = text[i];
    digits = kShape[i] == '0' ? c >= '0' && c <= '9' : c == kShape[i];
  }
  if (digits) {
    auto number = [&text](size_t at, size_t count) {
      int value = 0;
      for (size_t i = at; i < at + count; ++i) {
        value = value * 10 + (text[i] - '0');
      }
      return value;
    };
    *f = TimestampFields{number(0, 4),  number(5, 2),  number(8, 2), number(11, 2),
                         number(14, 2), number(17, 2), number(20, 3)};
    return true;
  }
  return sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d.%dZ", &f->year, &f->month, &f->day, &f->hour, &f->minute,
                &f->second, &f->milliseconds) == kTimestampFields;
}

struct LineFields {
  Field timestamp, level, thread, file, lineNumber, function, message;
};

// The grammar's fields in order; 0 at the first missing separator, the
// fields after it left empty.
int SplitLine(const char* line, size_t size, LineFields* fields) {
  fields->timestamp = Sub(size, 0, kTimestampChars);
  size_t close = FindFrom(line, size, '>', kLevelColumn);
  if (close == kNotFound) {
    return 0;
  }
  fields->level = Sub(size, kLevelColumn, close);
  size_t from = close + kThreadSkip;
  if ((close = FindFrom(line, size, ']', from)) == kNotFound) {
    return 0;
  }
  fields->thread = Sub(size, from, close);
  from = close + kFileSkip;
  if ((close = FindFrom(line, size, ':', from)) == kNotFound) {
    return 0;
  }
  fields->file = Sub(size, from, close);
  from = close + kLineNumberSkip;
  if ((close = FindFrom(line, size, ' ', from)) == kNotFound) {
    return 0;
  }
  fields->lineNumber = Sub(size, from, close);
  size_t start = close + kFunctionSkip;
  for (size_t search = start;;) {
    const size_t colon = FindFrom(line, size, ':', search);
    if (colon == kNotFound) {
      fields->message = Sub(size, start, size);
      return 1;
    }
    if (colon + 1 < size && line[colon + 1] == ':') {
      start = search = colon + kScopePair;
      continue;
    }
    fields->function = Sub(size, start, colon);
    fields->message = Sub(size, colon + 1, size);
    return 1;
  }
}

void Put16(uint8_t* at, uint32_t value) {
  at[0] = uint8_t(value);
  at[1] = uint8_t(value >> 8);
}

void Put32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    at[i] = uint8_t(value >> (8 * i));
  }
}

size_t Bounded(const std::string& text, size_t limit) { return text.size() < limit ? text.size() : limit; }

}  // namespace

int CKelTraceItem::ParseLine(const char* line, size_t size) {
  LineFields fields;
  const int parsed = SplitLine(line, size, &fields);
  auto take = [line](std::string& text, Field field) { text.assign(line + field.from, field.to - field.from); };
  take(m_timestamp, fields.timestamp);
  take(m_level, fields.level);
  take(m_thread, fields.thread);
  take(m_file, fields.file);
  take(m_lineNumber, fields.lineNumber);
  take(m_function, fields.function);
  take(m_message, fields.message);
  return parsed;
}

void CKelTraceItem::ComposeFields() {
  m_module = m_file;
  if (m_lineNumber.empty() && m_function.empty()) {
    m_hint.clear();
  } else {
    // In place: the hint keeps its memory from line to line.
    m_hint.assign(m_lineNumber);
    m_hint.append(": ");
    m_hint.append(m_function);
  }
}

int CKelTraceItem::BuildRecord(size_t lineLength) {
  m_recordLength = m_allocSize = 0;
  m_consumedLength = uint32_t(lineLength + 2);
  const size_t fixed = kKlgModuleOffset + kStringTerminators + Bounded(m_module, kMaxNameBytes) +
                       Bounded(m_hint, kMaxNameBytes) + Bounded(m_subName, kMaxNameBytes);
  // A long message is cut so the record stays a valid narrow record.
  const size_t message = Bounded(m_message, kMaxNarrowRecord - fixed);
  m_recordLength = uint32_t(fixed + message);
  const uint32_t allocSize = ((m_recordLength + kRecordAlign - 1) & ~(kRecordAlign - 1)) + kRecordSlack;
  if (allocSize > m_capacity) {
    m_record.reset(new (std::nothrow) uint8_t[allocSize]);
    m_capacity = m_record != nullptr ? allocSize : 0;
    if (m_record == nullptr) {
      m_recordLength = 0;
      return 0;
    }
  }
  m_allocSize = allocSize;
  std::memset(m_record.get(), 0, m_allocSize);
  return 1;
}

void CKelTraceItem::FillRecord(uint32_t time, uint16_t milliseconds) {
  ParseTime(&time, &milliseconds);
  FillRecordAt(time, milliseconds);
}

void CKelTraceItem::FillRecordAt(uint32_t time, uint16_t milliseconds) {
  uint8_t* r = m_record.get();
  if (r == nullptr || m_allocSize == 0) {
    return;
  }
  uint32_t tid = 0;
  for (size_t i = 0; i < m_thread.size() && m_thread[i] >= '0' && m_thread[i] <= '9'; ++i) {
    const uint64_t next = uint64_t(tid) * 10 + uint64_t(m_thread[i] - '0');
    if (next > 0xFFFFFFFFull) {
      break;
    }
    tid = uint32_t(next);
  }
  Put16(r + kNarrowLengthOffset, m_recordLength);
  r[kNarrowVersionOffset] = kVersion;
  r[kNarrowEncodingOffset] = kNarrowEncodingAnsi;
  Put32(r + kNarrowLevelOffset, ParseLevel());
  Put32(r + kNarrowTidOffset, tid);
  Put32(r + kNarrowSequenceOffset, ++g_klgSequence);
  Put32(r + kNarrowTimeOffset, time);
  Put16(r + kNarrowMillisecondsOffset, milliseconds);

  // The strings follow one another, each ended by its NUL (the record is
  // zeroed); the message takes what the record has room for.
  uint32_t at = kKlgModuleOffset;
  auto put = [&](size_t offsetField, const std::string& text, size_t bytes) {
    Put16(r + offsetField, at);
    std::memcpy(r + at, text.data(), bytes);
    at += uint32_t(bytes) + 1;
  };
  const size_t module = Bounded(m_module, kMaxNameBytes);
  const size_t hint = Bounded(m_hint, kMaxNameBytes);
  const size_t sub = Bounded(m_subName, kMaxNameBytes);
  const size_t message = m_recordLength - (kKlgModuleOffset + kStringTerminators + module + hint + sub);
  put(kNarrowModuleOffset, m_module, module);
  put(kNarrowHintOffset, m_hint, hint);
  put(kNarrowMessageOffset, m_message, message);
  put(kSubNameOffsetAt, m_subName, sub);
}

uint32_t CKelTraceItem::ParseLevel() const {
  if (m_level == "Debug") {
    return kLevelDebug;
  }
  if (m_level == "Warn") {
    return kLevelWarning;
  }
  if (m_level == "Error") {
    return kLevelError;
  }
  return kLevelInfo;
}

bool CKelTraceItem::ParseTime(uint32_t* time, uint16_t* milliseconds, CLocalMinuteCache* minutes) const {
  TimestampFields f;
  if (!ReadTimestamp(m_timestamp, &f)) {
    return false;
  }
  int64_t seconds = -1;
  if (minutes != nullptr && f.second >= 0 && f.second <= kLastSecond) {
    const int64_t start = minutes->MinuteStart(f.year, f.month, f.day, f.hour, f.minute);
    seconds = start < 0 ? -1 : start + f.second;
  } else {
    struct tm calendar = {};
    calendar.tm_year = f.year - kTmYearBase;
    calendar.tm_mon = f.month - 1;
    calendar.tm_mday = f.day;
    calendar.tm_hour = f.hour;
    calendar.tm_min = f.minute;
    calendar.tm_sec = f.second;
    calendar.tm_isdst = -1;
    seconds = _mktime64(&calendar);
  }
  if (seconds <= 0 || seconds > int64_t(0xFFFFFFFF)) {
    return false;
  }
  *time = uint32_t(seconds);
  *milliseconds = uint16_t(f.milliseconds);
  return true;
}

void CKelTraceItem::FreeRecord() {
  m_record.reset();
  m_recordLength = 0;
  m_allocSize = 0;
  m_capacity = 0;
}

int CKelTraceFileHelper::Open(const wchar_t* path) {
  Close();
  if (path == nullptr) {
    return 0;
  }
  m_file = CHandle(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!m_file.valid()) {
    return 0;
  }
  m_lines.reset(new (std::nothrow) CChunkLineReader(m_file.get()));
  if (m_lines == nullptr || !m_lines->Init()) {
    Close();
    return 0;
  }
  return 1;
}

void CKelTraceFileHelper::Close() {
  m_item.reset();
  m_lines.reset();
  m_file.Close();
  m_failed = false;
  m_atStart = true;
  m_lastTime = 0;
  m_lastMilliseconds = 0;
}

bool CKelTraceFileHelper::ReadLine(ByteSpan* line, size_t* length) {
  *length = 0;
  if (m_lines == nullptr) {
    return false;
  }
  m_longLine.clear();
  bool any = false;
  for (bool lineEnd = false; !lineEnd;) {
    ByteSpan piece;
    const int got = m_lines->Next(&piece, &lineEnd);
    if (got <= 0) {
      m_failed = m_failed || got < 0;
      break;
    }
    any = true;
    // A UTF-8 mark at the start of the file would shift the first line's columns.
    if (m_atStart && piece.size() >= sizeof(kUtf8Mark) && memcmp(piece.begin, kUtf8Mark, sizeof(kUtf8Mark)) == 0) {
      piece.begin += sizeof(kUtf8Mark);
    }
    m_atStart = false;
    const size_t room = kMaxKlgLineBytes - m_longLine.size();
    const size_t take = piece.size() < room ? piece.size() : room;
    *length += piece.size();
    if (!any && lineEnd) {
      *line = ByteSpan{piece.begin, piece.begin + take};  // a line in one piece is used where it lies
      return true;
    }
    any = true;
    m_longLine.append(reinterpret_cast<const char*>(piece.begin), take);
  }
  const auto* text = reinterpret_cast<const uint8_t*>(m_longLine.data());
  *line = ByteSpan{text, text + m_longLine.size()};
  return any;
}

std::shared_ptr<CKelTraceItem> CKelTraceFileHelper::ReadNext() {
  // Held by nobody else, the last item is filled again: its strings and
  // record keep their memory.
  if (m_item != nullptr && m_item.use_count() != 1) {
    m_item.reset();
  }
  ByteSpan line;
  size_t length = 0;
  while (ReadLine(&line, &length)) {
    if (line.size() == 0) {
      continue;
    }
    if (m_item == nullptr) {
      m_item = std::make_shared<CKelTraceItem>();
    } else {
      m_item->m_subName = kKlgSubName;
    }
    std::shared_ptr<CKelTraceItem> item = m_item;
    const auto* text = reinterpret_cast<const char*>(line.begin);
    const int parsed = item->ParseLine(text, line.size());
    uint32_t time = 0;
    uint16_t milliseconds = 0;
    const bool timed = item->ParseTime(&time, &milliseconds, &m_minutes);
    if (timed) {
      m_lastTime = time;
      m_lastMilliseconds = milliseconds;
    }
    // A line off the grammar still gives a record, and keeps its text
    // (behind the timestamp when it has one).
    if (!parsed) {
      const Field kept = timed ? Sub(line.size(), FirstNotBlank(text, line.size(), kTimestampChars), line.size())
                               : Field{0, line.size()};
      item->m_message.assign(text + kept.from, kept.to - kept.from);
    }
    item->ComposeFields();
    if (!item->BuildRecord(length)) {
      m_item.reset();
      m_failed = true;
      return nullptr;
    }
    // The time is the line's own, or the last line's that had one.
    item->FillRecordAt(m_lastTime, m_lastMilliseconds);
    return item;
  }
  return nullptr;
}

int LoadKlgItems(CTraceMgr* store, uint64_t size, int copy) {
  if (store == nullptr) {
    return 0;
  }
  try {
    CKelTraceFileHelper helper;
    if (!helper.Open(store->m_filePath.c_str())) {
      return 0;
    }
    CStoreToucher toucher;
    toucher.Start(store);
    uint64_t consumed = 0;
    uint32_t told = 0;
    const uint64_t total = size != 0 ? size : 1;
    while (std::shared_ptr<CKelTraceItem> item = helper.ReadNext()) {
      consumed += item->ConsumedLength();
      const uint64_t now = consumed * kPercent / total;
      const uint32_t percent = uint32_t(now < kPercent ? now : kPercent);
      if (percent != told) {
        told = percent;
        store->SetProgress(percent);
      }
      toucher.BeforeRecord(store);
      TraceRecord* stored = CTraceMgr::AddRecord(store, kImportAllGroups, item->Record(), copy, kModeBuild);
      if (stored == nullptr) {
        DebugTraceA("LoadKlgItems, store, %u records", store->Buffer() ? store->Buffer()->recordCount : 0u);
        return 0;
      }
      stored->groupName = kKlgGroupName;
      store->AddToProcessStats(stored);
    }
    return helper.Failed() ? 0 : 1;
  } catch (const std::exception&) {
    return 0;
  }
}

int LoadKlg(CTraceMgr* store) {
  if (store == nullptr) {
    return 0;
  }
  uint64_t size = 0;
  {
    CHandle file(CreateFileW(store->m_filePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER bytes;
    if (!file.valid() || !GetFileSizeEx(file.get(), &bytes)) {
      return 0;
    }
    size = uint64_t(bytes.QuadPart);
  }
  if (size == 0 || size > kMaxKlgFileSize - kTraceHeaderSize) {
    return 0;
  }
  // A stored record holds its line as UTF-16 behind a fixed head: about
  // three times the line. Reserving that at once spares the copies of a
  // buffer growing step by step; the file's size is the fallback.
  const uint64_t estimate = size * kRecordsPerLineByte;
  if (!(estimate < kMaxStoreReservation && store->GrowBuffer(uint32_t(estimate))) &&
      !store->GrowBuffer(uint32_t(size + kTraceHeaderSize))) {
    return 0;
  }
  const int result = LoadKlgItems(store, size, 1);
  store->SetProgress(kPercent);
  return result;
}
