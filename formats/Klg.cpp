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
constexpr uint32_t kPercent = 100;
constexpr uint64_t kMaxKlgFileSize = 0xFFFFFFFEull;
constexpr uint64_t kRecordsPerLineByte = 3;
constexpr uint32_t kImportAllGroups = 0;
constexpr uint8_t kUtf8Mark[] = {0xEF, 0xBB, 0xBF};

// Records made from .klg lines, process-wide, starting at 1.
std::atomic<uint32_t> g_klgSequence{0};

// The text of [from, to), bounded by the line.
std::string Sub(const std::string& line, size_t from, size_t to) {
  if (from >= line.size() || to <= from) {
    return std::string();
  }
  return line.substr(from, (to < line.size() ? to : line.size()) - from);
}

size_t FindFrom(const std::string& line, char c, size_t from) {
  return from < line.size() ? line.find(c, from) : std::string::npos;
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

int CKelTraceItem::ParseLine(const std::string& line) {
  m_timestamp = Sub(line, 0, kTimestampChars);
  size_t close = FindFrom(line, '>', kLevelColumn);
  if (close == std::string::npos) {
    return 0;
  }
  m_level = Sub(line, kLevelColumn, close);
  size_t from = close + kThreadSkip;
  if ((close = FindFrom(line, ']', from)) == std::string::npos) {
    return 0;
  }
  m_thread = Sub(line, from, close);
  from = close + kFileSkip;
  if ((close = FindFrom(line, ':', from)) == std::string::npos) {
    return 0;
  }
  m_file = Sub(line, from, close);
  from = close + kLineNumberSkip;
  if ((close = FindFrom(line, ' ', from)) == std::string::npos) {
    return 0;
  }
  m_lineNumber = Sub(line, from, close);
  size_t start = close + kFunctionSkip;
  for (size_t search = start;;) {
    const size_t colon = FindFrom(line, ':', search);
    if (colon == std::string::npos) {
      m_message = Sub(line, start, line.size());
      return 1;
    }
    if (colon + 1 < line.size() && line[colon + 1] == ':') {
      start = search = colon + kScopePair;
      continue;
    }
    m_function = Sub(line, start, colon);
    m_message = Sub(line, colon + 1, line.size());
    return 1;
  }
}

void CKelTraceItem::ComposeFields() {
  m_module = m_file;
  if (m_lineNumber.empty() && m_function.empty()) {
    m_hint.clear();
  } else {
    m_hint = m_lineNumber + ": " + m_function;
  }
}

int CKelTraceItem::BuildRecord(size_t lineLength) {
  FreeRecord();
  m_consumedLength = uint32_t(lineLength + 2);
  const size_t fixed = kKlgModuleOffset + kStringTerminators + Bounded(m_module, kMaxNameBytes) +
                       Bounded(m_hint, kMaxNameBytes) + Bounded(m_subName, kMaxNameBytes);
  // A long message is cut so the record stays a valid narrow record.
  const size_t message = Bounded(m_message, kMaxNarrowRecord - fixed);
  m_recordLength = uint32_t(fixed + message);
  m_allocSize = ((m_recordLength + kRecordAlign - 1) & ~(kRecordAlign - 1)) + kRecordSlack;
  m_record.reset(new (std::nothrow) uint8_t[m_allocSize]());
  if (m_record == nullptr) {
    m_recordLength = m_allocSize = 0;
    return 0;
  }
  return 1;
}

void CKelTraceItem::FillRecord(uint32_t time, uint16_t milliseconds) {
  uint8_t* r = m_record.get();
  if (r == nullptr) {
    return;
  }
  ParseTime(&time, &milliseconds);
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

bool CKelTraceItem::ParseTime(uint32_t* time, uint16_t* milliseconds) const {
  struct tm calendar = {};
  int millis = 0;
  if (sscanf(m_timestamp.c_str(), "%d-%d-%dT%d:%d:%d.%dZ", &calendar.tm_year, &calendar.tm_mon, &calendar.tm_mday,
             &calendar.tm_hour, &calendar.tm_min, &calendar.tm_sec, &millis) != kTimestampFields) {
    return false;
  }
  calendar.tm_year -= kTmYearBase;
  calendar.tm_mon -= 1;
  calendar.tm_isdst = -1;
  const int64_t seconds = _mktime64(&calendar);
  if (seconds <= 0 || seconds > int64_t(0xFFFFFFFF)) {
    return false;
  }
  *time = uint32_t(seconds);
  *milliseconds = uint16_t(millis);
  return true;
}

void CKelTraceItem::FreeRecord() {
  m_record.reset();
  m_recordLength = 0;
  m_allocSize = 0;
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

bool CKelTraceFileHelper::ReadLine(std::string* line, size_t* length) {
  line->clear();
  *length = 0;
  if (m_lines == nullptr) {
    return false;
  }
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
    const size_t room = kMaxKlgLineBytes - line->size();
    line->append(reinterpret_cast<const char*>(piece.begin), piece.size() < room ? piece.size() : room);
    *length += piece.size();
  }
  return any;
}

std::shared_ptr<CKelTraceItem> CKelTraceFileHelper::ReadNext() {
  m_item.reset();
  std::string line;
  size_t length = 0;
  while (ReadLine(&line, &length)) {
    if (line.empty()) {
      continue;
    }
    auto item = std::make_shared<CKelTraceItem>();
    const int parsed = item->ParseLine(line);
    uint32_t time = 0;
    uint16_t milliseconds = 0;
    const bool timed = item->ParseTime(&time, &milliseconds);
    if (timed) {
      m_lastTime = time;
      m_lastMilliseconds = milliseconds;
    }
    // A line off the grammar still gives a record, and keeps its text
    // (behind the timestamp when it has one).
    if (!parsed) {
      item->m_message = timed ? Sub(line, line.find_first_not_of(' ', kTimestampChars), line.size()) : line;
    }
    item->ComposeFields();
    if (!item->BuildRecord(length)) {
      m_failed = true;
      return nullptr;
    }
    item->FillRecord(m_lastTime, m_lastMilliseconds);
    m_item = item;
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
