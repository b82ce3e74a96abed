#include "core/RecordImport.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

#include "core/Cipher.h"
#include "core/ModuleGroups.h"
#include "core/NarrowText.h"
#include "core/RecordBuilder.h"
#include "core/StrUtil.h"
#include "core/ThreadCache.h"
#include "core/TraceStore.h"

namespace {

// Module texts may hold "module@sub-name": room for both halves before the
// builder cuts each to 127 units.
constexpr size_t kModuleTextUnits = 2 * kRecordNameUnits;
constexpr size_t kDbwinMessageUnits = 4096;
constexpr wchar_t kDbwinModule[] = L"DBWIN";
constexpr wchar_t kQrvModule[] = L"qrv";
constexpr int kDecimalBase = 10;
constexpr int kCalendarBaseYear = 1900;
constexpr int kTwoDigitYearBase = 2000 - kCalendarBaseYear;  // 22 means 2022
constexpr int kYearWithoutYearText = 2007 - kCalendarBaseYear;
constexpr int kMaxShortYearDigits = 2;
constexpr int kMillisecondDigits = 3;
constexpr uint32_t kSharedCodeWarning = 100;
constexpr uint32_t kSharedCodeError = 200;
constexpr uint32_t kSharedCodePersonal = 400;

inline uint16_t LoadU16(const uint8_t* p) {
  uint16_t value;
  std::memcpy(&value, p, sizeof(value));
  return value;
}

inline uint32_t LoadU32(const uint8_t* p) {
  uint32_t value;
  std::memcpy(&value, p, sizeof(value));
  return value;
}

inline void StoreU16(uint8_t* p, uint16_t value) { std::memcpy(p, &value, sizeof(value)); }
inline void StoreU32(uint8_t* p, uint32_t value) { std::memcpy(p, &value, sizeof(value)); }

void SwapU16At(uint8_t* p) {
  StoreU16(p, uint16_t((LoadU16(p) >> 8) | (LoadU16(p) << 8)));
}

void SwapU32At(uint8_t* p) {
  const uint32_t v = LoadU32(p);
  StoreU32(p, (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24));
}

// UTF-16LE units of at most `bytes` bytes, at any alignment, terminated.
size_t Utf16ToWide(const uint8_t* text, size_t bytes, wchar_t* dest, size_t units) {
  const size_t most = bytes / sizeof(wchar_t) < units - 1 ? bytes / sizeof(wchar_t) : units - 1;
  size_t n = 0;
  for (; n < most; ++n) {
    const uint16_t unit = LoadU16(text + n * sizeof(wchar_t));
    if (unit == 0) {
      break;
    }
    dest[n] = wchar_t(unit);
  }
  dest[n] = 0;
  return n;
}

// Whether `size` bytes of a message could hold the block-word marker once
// converted. Every encoding a record may use gives the marker's ASCII units
// only from their own bytes (one each, or with a zero high byte in UTF-16),
// so bytes without that pattern cannot register a word; a match merely means
// the record is converted and looked at in full.
bool MayHoldBlockWordMarker(const uint8_t* bytes, size_t size, bool utf16) {
  constexpr size_t kMarkerUnits = sizeof(kBlockWordMarker) / sizeof(wchar_t) - 1;
  const size_t step = utf16 ? sizeof(wchar_t) : 1;
  const size_t patternBytes = kMarkerUnits * step;
  if (size < patternBytes) {
    return false;
  }
  const uint8_t first = uint8_t(kBlockWordMarker[0]);
  const uint8_t* const last = bytes + (size - patternBytes);
  for (const uint8_t* p = bytes; p <= last;) {
    p = MemFindByte(p, size_t(last - p) + 1, first);
    if (p == nullptr) {
      return false;
    }
    size_t unit = 0;
    while (unit < kMarkerUnits && p[unit * step] == uint8_t(kBlockWordMarker[unit]) &&
           (!utf16 || p[unit * step + 1] == 0)) {
      ++unit;
    }
    if (unit == kMarkerUnits) {
      return true;
    }
    ++p;
  }
  return false;
}

// Converted strings of one narrow record. Any string of a record fits,
// since no string is longer than the record.
struct RecordStrings {
  wchar_t module[kModuleTextUnits];
  wchar_t hint[kModuleTextUnits];
  wchar_t message[kMaxNarrowRecord + 1];
};

// The strings are converted into a buffer of the thread's: on the stack its
// size would make every record pay a probe of each of its pages.
RecordStrings* ThreadRecordStrings() {
  static CThreadCache<RecordStrings> cache;
  return cache.Get();
}

// A deciphered copy of an enciphered record that must stay as it is; apart,
// so the copy's room is not on the stack of every record.
__attribute__((noinline)) TraceRecord* DecipherCopy(CTraceBase* store, uint32_t ignoreMask, const void* record,
                                                    uint16_t length, int mode) {
  alignas(16) uint8_t work[kMaxNarrowRecord];
  std::memcpy(work, record, length);
  return CTraceMgr::DecipherAndImport(store, ignoreMask, work, mode);
}

// "(module:pid:tid)" at the very start, both ids decimal digits.
struct DbgPrefix {
  size_t moduleBytes = 0;    // module at text + 1
  size_t messageStart = 0;   // first byte behind ")"
  uint32_t pid = 0;
  uint32_t tid = 0;
};

// Digits from `at` up to the delimiter; at least one, and the value must fit.
bool ParseDigitsUntil(const uint8_t* text, size_t length, size_t* at, uint8_t delimiter, uint32_t* value) {
  size_t i = *at;
  uint64_t number = 0;
  const size_t first = i;
  while (i < length && text[i] >= '0' && text[i] <= '9') {
    number = number * kDecimalBase + uint32_t(text[i] - '0');
    if (number > UINT32_MAX) {
      return false;
    }
    ++i;
  }
  if (i == first || i >= length || text[i] != delimiter) {
    return false;
  }
  *value = uint32_t(number);
  *at = i + 1;
  return true;
}

bool ParseDbgPrefix(const uint8_t* text, size_t length, DbgPrefix* prefix) {
  if (length == 0 || text[0] != '(') {
    return false;
  }
  size_t at = 1;
  while (at < length && text[at] != ':') {
    ++at;
  }
  if (at >= length) {
    return false;
  }
  prefix->moduleBytes = at - 1;
  ++at;
  if (!ParseDigitsUntil(text, length, &at, ':', &prefix->pid) ||
      !ParseDigitsUntil(text, length, &at, ')', &prefix->tid)) {
    return false;
  }
  prefix->messageStart = at;
  return true;
}

// Leading decimal digits as a number; *digits gets their count.
int LeadingNumber(const wchar_t* text, int* digits) {
  int count = 0;
  while (text[count] >= L'0' && text[count] <= L'9') {
    ++count;
  }
  if (digits != nullptr) {
    *digits = count;
  }
  return _wtoi(text);
}

const wchar_t* BehindNextBlank(const wchar_t* p) {
  while (*p != 0 && *p != L' ') {
    ++p;
  }
  return *p == L' ' ? p + 1 : p;
}

const wchar_t* ScanToDelimiterOrBlank(const wchar_t* p, wchar_t delimiter) {
  while (*p != 0 && *p != delimiter && *p != L' ') {
    ++p;
  }
  return p;
}

uint32_t CalendarToRecordTime(struct tm* calendar) {
  const __time64_t value = _mktime64(calendar);
  return (value < 0 || value > __time64_t(UINT32_MAX)) ? UINT32_MAX : uint32_t(value);
}

}  // namespace

bool IsValidNarrowHead(const NarrowHead& head) {
  return head.length >= kMinNarrowRecord && head.length <= kMaxNarrowRecord && head.version == kTraceVersion &&
         head.moduleOffset >= kNarrowHeadSize && head.hintOffset >= head.moduleOffset &&
         head.messageOffset >= head.hintOffset && head.length > head.messageOffset;
}

bool ReadNarrowHead(const void* record, NarrowHead* head) {
  if (record == nullptr) {
    return false;
  }
  const auto* p = static_cast<const uint8_t*>(record);
  head->length = LoadU16(p + kNarrowLengthOffset);
  if (head->length < kMinNarrowRecord || head->length > kMaxNarrowRecord) {
    return false;
  }
  head->version = p[kNarrowVersionOffset];
  head->flags = LoadU16(p + kNarrowFlagsOffset);
  head->encoding = p[kNarrowEncodingOffset];
  head->cipherKind = p[kNarrowCipherKindOffset];
  head->level = LoadU32(p + kNarrowLevelOffset);
  head->pid = LoadU32(p + kNarrowPidOffset);
  head->tid = LoadU32(p + kNarrowTidOffset);
  head->time = LoadU32(p + kNarrowTimeOffset);
  head->milliseconds = LoadU16(p + kNarrowMillisecondsOffset);
  head->moduleOffset = LoadU16(p + kNarrowModuleOffset);
  head->hintOffset = LoadU16(p + kNarrowHintOffset);
  head->messageOffset = LoadU16(p + kNarrowMessageOffset);
  head->stamp[0] = LoadU32(p + kNarrowStampLowOffset);
  head->stamp[1] = LoadU32(p + kNarrowStampHighOffset);
  return IsValidNarrowHead(*head);
}

uint32_t LevelFromWord(const wchar_t* word) {
  if (word == nullptr) {
    return kLevelInfo;
  }
  struct Named {
    const wchar_t* word;
    uint32_t level;
  };
  static constexpr Named kNamed[] = {
      {L"debug", kLevelDebug}, {L"info", kLevelInfo},   {L"warn", kLevelWarning},
      {L"warning", kLevelWarning}, {L"error", kLevelError}, {L"PII", kLevelPersonal},
  };
  for (const Named& named : kNamed) {
    if (_wcsicmp(word, named.word) == 0) {
      return named.level;
    }
  }
  wchar_t* end = nullptr;
  const unsigned long code = wcstoul(word, &end, kDecimalBase);
  return end == word ? kLevelInfo : LevelFromCode(uint32_t(code));
}

uint32_t LevelFromCode(uint32_t code) {
  switch (code) {
    case kSharedCodeWarning:
      return kLevelWarning;
    case kSharedCodeError:
      return kLevelError;
    case kSharedCodePersonal:
      return kLevelPersonal;
    default:
      return kLevelInfo;
  }
}

const wchar_t* ParseDateText(const wchar_t* text, struct tm* calendar) {
  if (text == nullptr) {
    return nullptr;
  }
  const wchar_t* slash = wcschr(text, L'/');
  if (slash == nullptr) {
    return nullptr;
  }
  const int month = LeadingNumber(text, nullptr) - 1;
  calendar->tm_mon = month < 0 ? 0 : month;
  const wchar_t* day = slash + 1;
  const wchar_t* stop = ScanToDelimiterOrBlank(day, L'/');
  calendar->tm_mday = LeadingNumber(day, nullptr);
  if (*stop != L'/') {
    calendar->tm_year = kYearWithoutYearText;
    return BehindNextBlank(stop);
  }
  const wchar_t* yearText = stop + 1;
  int digits = 0;
  const int year = LeadingNumber(yearText, &digits);
  calendar->tm_year = digits <= kMaxShortYearDigits ? year + kTwoDigitYearBase : year - kCalendarBaseYear;
  return BehindNextBlank(yearText);
}

const wchar_t* ParseTimeText(const wchar_t* text, struct tm* calendar, uint16_t* milliseconds) {
  if (text == nullptr) {
    return nullptr;
  }
  const wchar_t* colon = wcschr(text, L':');
  if (colon == nullptr) {
    return nullptr;
  }
  calendar->tm_hour = LeadingNumber(text, nullptr);
  calendar->tm_min = LeadingNumber(colon + 1, nullptr);
  const wchar_t* stop = ScanToDelimiterOrBlank(colon + 1, L':');
  if (*stop == L':') {
    calendar->tm_sec = LeadingNumber(stop + 1, nullptr);
    const wchar_t* dot = ScanToDelimiterOrBlank(stop + 1, L'.');
    if (*dot == L'.' && dot[1] != 0 && dot[1] != L' ') {
      uint16_t value = 0;
      for (int i = 0; i < kMillisecondDigits && dot[1 + i] >= L'0' && dot[1 + i] <= L'9'; ++i) {
        value = uint16_t(value * kDecimalBase + (dot[1 + i] - L'0'));
      }
      *milliseconds = value;
    }
  }
  return BehindNextBlank(stop);
}

void ParseDateTime(const wchar_t* text, uint32_t* time, uint16_t* milliseconds) {
  if (text == nullptr) {
    return;
  }
  const wchar_t* first = wcspbrk(text, L"/:");
  if (first == nullptr) {
    return;
  }
  struct tm calendar {};
  calendar.tm_isdst = -1;
  uint16_t millis = 0;
  if (*first == L':') {
    ParseDateText(ParseTimeText(text, &calendar, &millis), &calendar);
  } else {
    ParseTimeText(ParseDateText(text, &calendar), &calendar, &millis);
  }
  *time = CalendarToRecordTime(&calendar);
  *milliseconds = millis;
}

TraceRecord* CTraceMgr::ImportRecord(CTraceBase* store, uint32_t ignoreMask, const void* record, int mode) {
  NarrowHead head;
  if (!ReadNarrowHead(record, &head) || head.cipherKind != kCipherPlain) {
    return nullptr;
  }
  UINT codePage = CP_ACP;
  switch (head.encoding) {
    case kNarrowEncodingAnsi:
      codePage = CP_ACP;
      break;
    case kNarrowEncodingUtf8:
      codePage = CP_UTF8;
      break;
    case kNarrowEncodingUtf16:
      break;
    default:
      return nullptr;
  }
  const auto* bytes = static_cast<const uint8_t*>(record);
  // A scan only looks for block words: most messages show at once that
  // they name none, without being converted.
  if (mode == kModeScan && !MayHoldBlockWordMarker(bytes + head.messageOffset, size_t(head.length) - head.messageOffset,
                                                    head.encoding == kNarrowEncodingUtf16)) {
    return nullptr;
  }
  std::unique_ptr<RecordStrings> own;
  RecordStrings* kept = ThreadRecordStrings();
  if (kept == nullptr) {
    own.reset(new (std::nothrow) RecordStrings);
    kept = own.get();
    if (kept == nullptr) {
      return nullptr;
    }
  }
  RecordStrings& strings = *kept;
  auto load = [&](uint16_t offset, wchar_t* dest, size_t units) {
    const size_t available = size_t(head.length) - offset;
    if (head.encoding == kNarrowEncodingUtf16) {
      return Utf16ToWide(bytes + offset, available, dest, units);
    }
    if (head.encoding == kNarrowEncodingUtf8) {
      return Utf8ToWide(bytes + offset, available, dest, units);
    }
    return NarrowToWide(codePage, bytes + offset, available, dest, units);
  };
  load(head.moduleOffset, strings.module, kModuleTextUnits);
  load(head.hintOffset, strings.hint, kModuleTextUnits);
  // The builder need not count the message again.
  const size_t messageUnits = load(head.messageOffset, strings.message, kMaxNarrowRecord + 1);

  // With a sub-name only the module part names the group.
  wchar_t modulePart[kRecordNameUnits];
  wchar_t subName[kRecordNameUnits];
  int group = -1;
  const wchar_t* module = strings.module;
  const wchar_t* sub = nullptr;
  if (SplitModuleName(strings.module, modulePart, subName, &group, ignoreMask)) {
    module = modulePart;
    sub = subName;
  } else {
    group = g_moduleGroups.FindEnabled(strings.module, ignoreMask);
  }
  if (group < 0) {
    return nullptr;
  }
  const uint32_t* stamp = (head.flags & kRecordStampValid) != 0 ? head.stamp : nullptr;
  return AddTraceItem(store, group, head.level, module, strings.hint, strings.message, head.pid, head.tid, head.time,
                      head.milliseconds, stamp, sub, mode, kLiveMessageLimit, messageUnits);
}

TraceRecord* CTraceMgr::AddRecord(CTraceBase* store, uint32_t ignoreMask, const void* record, int copy, int mode) {
  NarrowHead head;
  if (!ReadNarrowHead(record, &head)) {
    return nullptr;
  }
  if (head.cipherKind == kCipherPlain) {
    return ImportRecord(store, ignoreMask, record, mode);
  }
  if (copy != 0) {
    return DecipherCopy(store, ignoreMask, record, head.length, mode);
  }
  // The caller lets the source change: decipher where it lies, so a second
  // pass over the same record reads it plain.
  return DecipherAndImport(store, ignoreMask, static_cast<uint8_t*>(const_cast<void*>(record)), mode);
}

TraceRecord* CTraceMgr::AddNetRecord(CTraceBase* store, uint32_t ignoreMask, const void* record, int mode) {
  if (record == nullptr) {
    return nullptr;
  }
  const auto* bytes = static_cast<const uint8_t*>(record);
  const uint16_t length = uint16_t((bytes[0] << 8) | bytes[1]);
  if (length < kMinNarrowRecord || length > kMaxNarrowRecord) {
    return nullptr;
  }
  alignas(16) uint8_t work[kMaxNarrowRecord];
  std::memcpy(work, bytes, length);
  for (size_t at : {kNarrowLengthOffset, kNarrowFlagsOffset, kNarrowMillisecondsOffset, kNarrowModuleOffset,
                    kNarrowHintOffset, kNarrowMessageOffset}) {
    SwapU16At(work + at);
  }
  for (size_t at : {kNarrowLevelOffset, kNarrowPidOffset, kNarrowTidOffset, kNarrowSequenceOffset,
                    kNarrowTimeOffset}) {
    SwapU32At(work + at);
  }
  if ((LoadU16(work + kNarrowFlagsOffset) & kRecordStampValid) != 0) {
    SwapU32At(work + kNarrowStampLowOffset);
    SwapU32At(work + kNarrowStampHighOffset);
  }
  return DecipherAndImport(store, ignoreMask, work, mode);
}

int CTraceMgr::SplitModuleName(const wchar_t* module, wchar_t* modulePart, wchar_t* subName, int* group,
                               uint32_t ignoreMask) {
  if (module == nullptr) {
    return 0;
  }
  // A loop of its own: the runtime's wcschr is a call into another module
  // for every record.
  const wchar_t* at = module;
  while (*at != 0 && *at != L'@') {
    ++at;
  }
  if (*at == 0) {
    return 0;
  }
  size_t units = size_t(at - module);
  if (units > kRecordNameUnits - 1) {
    units = kRecordNameUnits - 1;
  }
  wmemcpy(modulePart, module, units);
  modulePart[units] = 0;
  StrCopyNW(subName, kRecordNameUnits, at + 1);
  if (group != nullptr) {
    *group = g_moduleGroups.FindEnabled(modulePart, ignoreMask);
  }
  return 1;
}

TraceRecord* CTraceMgr::AddDbgText(CTraceBase* store, const char* text, const char* end, uint32_t ignoreMask,
                                   int mode) {
  if (text == nullptr || end == nullptr || end < text) {
    return nullptr;
  }
  const auto* bytes = reinterpret_cast<const uint8_t*>(text);
  const size_t length = BoundedBytes(bytes, size_t(end - text));
  DbgPrefix prefix;
  if (!ParseDbgPrefix(bytes, length, &prefix)) {
    prefix = DbgPrefix();
  }
  wchar_t module[kRecordNameUnits];
  NarrowToWide(CP_ACP, bytes + 1, prefix.moduleBytes, module, kRecordNameUnits);
  const int group = g_moduleGroups.FindEnabled(module, ignoreMask);
  if (group < 0) {
    return nullptr;
  }
  wchar_t message[kDbgTextMaxMessageBytes + 1];
  NarrowToWide(CP_ACP, bytes + prefix.messageStart, length - prefix.messageStart, message,
               kDbgTextMaxMessageBytes + 1);
  uint32_t now = 0;
  uint16_t millis = 0;
  CurrentRecordTime(&now, &millis);
  return AddTraceItem(store, group, kLevelInfo, module, nullptr, message, prefix.pid, prefix.tid, now, millis,
                      nullptr, nullptr, mode, kLiveMessageLimit);
}

TraceRecord* CTraceMgr::AddTextLine(CTraceBase* store, const wchar_t* levelText, const wchar_t* dateTimeText,
                                    const wchar_t* moduleText, const wchar_t* idText, const wchar_t* message,
                                    int mode) {
  if (moduleText == nullptr) {
    moduleText = L"";
  }
  // Module names are file names and hold no "/", hints often do (paths): the
  // first "/" ends the name.
  const wchar_t* slash = wcschr(moduleText, L'/');
  size_t units = slash != nullptr ? size_t(slash - moduleText) : wcslen(moduleText);
  if (units > kModuleTextUnits - 1) {
    units = kModuleTextUnits - 1;
  }
  wchar_t moduleName[kModuleTextUnits];
  wmemcpy(moduleName, moduleText, units);
  moduleName[units] = 0;
  const wchar_t* hint = slash != nullptr ? slash + 1 : nullptr;

  // Nothing is ignored on this road.
  constexpr uint32_t kNoIgnoredGroups = 0;
  wchar_t modulePart[kRecordNameUnits];
  wchar_t subName[kRecordNameUnits];
  int group = -1;
  const wchar_t* module = moduleName;
  const wchar_t* sub = nullptr;
  if (SplitModuleName(moduleName, modulePart, subName, &group, kNoIgnoredGroups)) {
    module = modulePart;
    sub = subName;
  } else {
    group = g_moduleGroups.FindEnabled(moduleName, kNoIgnoredGroups);
  }
  if (group < 0) {
    return nullptr;
  }

  uint32_t pid = 0;
  uint32_t tid = 0;
  if (idText != nullptr) {
    const wchar_t* ids = *idText == L'[' ? idText + 1 : idText;
    pid = uint32_t(wcstoul(ids, nullptr, kDecimalBase));
    const wchar_t* colon = wcschr(ids, L':');
    tid = colon != nullptr ? uint32_t(wcstoul(colon + 1, nullptr, kDecimalBase)) : 0;
  }
  uint32_t time = 0;
  uint16_t millis = 0;
  ParseDateTime(dateTimeText, &time, &millis);
  return AddTraceItem(store, group, LevelFromWord(levelText), module, hint, message != nullptr ? message : L"", pid,
                      tid, time, millis, nullptr, sub, mode, kLiveMessageLimit);
}

TraceRecord* CTraceMgr::AddDbwin(CTraceBase* store, const void* buffer, size_t size, uint32_t ignoreMask, int mode) {
  if (buffer == nullptr || size <= kDbwinTextOffset) {
    return nullptr;
  }
  const int group = g_moduleGroups.FindEnabled(kDbwinModule, ignoreMask);
  if (group < 0) {
    return nullptr;
  }
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  wchar_t message[kDbwinMessageUnits];
  NarrowToWide(CP_ACP, bytes + kDbwinTextOffset, size - kDbwinTextOffset, message, kDbwinMessageUnits);
  if (message[0] == 0) {
    return nullptr;
  }
  uint32_t now = 0;
  uint16_t millis = 0;
  CurrentRecordTime(&now, &millis);
  return AddTraceItem(store, group, kLevelDebug, kDbwinModule, nullptr, message, LoadU32(bytes), 0, now, millis,
                      nullptr, nullptr, mode, kLiveMessageLimit);
}

TraceRecord* CTraceMgr::AddSharedRecord(CTraceBase* store, const void* buffer, size_t size, uint32_t ignoreMask,
                                        int mode) {
  if (buffer == nullptr || size < kSharedRecordSize) {
    return nullptr;
  }
  // The writer may change the buffer while it is read: work on a copy.
  alignas(8) uint8_t copy[kSharedRecordSize];
  std::memcpy(copy, buffer, kSharedRecordSize);
  const uint32_t version = LoadU32(copy + kSharedVersionOffset);
  if (version > kSharedMaxVersion) {
    return nullptr;
  }
  const uint32_t level = LevelFromCode(LoadU32(copy + kSharedLevelOffset));
  constexpr uint32_t kWideVersion = 3;
  constexpr uint32_t kLastUntimedVersion = 1;
  wchar_t module[kSharedModuleBytes + 1];
  wchar_t message[kSharedCutV2 - kSharedTextOffset + 1];
  if (version == kWideVersion) {
    Utf16ToWide(copy + kSharedModuleOffset, kSharedModuleBytes, module, kSharedModuleBytes / sizeof(wchar_t) + 1);
    Utf16ToWide(copy + kSharedTextOffset, kSharedCutV3 - kSharedTextOffset, message,
                (kSharedCutV3 - kSharedTextOffset) / sizeof(wchar_t) + 1);
  } else {
    NarrowToWide(CP_ACP, copy + kSharedModuleOffset, kSharedModuleBytes, module, kSharedModuleBytes + 1);
    const size_t cut = version <= kLastUntimedVersion ? kSharedCutV0V1 : kSharedCutV2;
    NarrowToWide(CP_ACP, copy + kSharedTextOffset, cut - kSharedTextOffset, message, cut - kSharedTextOffset + 1);
  }
  const int group = g_moduleGroups.FindEnabled(module, ignoreMask);
  if (group < 0) {
    return nullptr;
  }
  if (version <= kLastUntimedVersion) {
    uint32_t now = 0;
    uint16_t millis = 0;
    CurrentRecordTime(&now, &millis);
    const uint64_t wide = now;
    std::memcpy(copy + kSharedTimeOffset, &wide, sizeof(wide));
    StoreU16(copy + kSharedMillisecondsOffset, millis);
  }
  if (message[0] == 0) {
    return nullptr;
  }
  return AddTraceItem(store, group, level, module, nullptr, message, LoadU32(copy + kSharedPidOffset),
                      LoadU32(copy + kSharedTidOffset), LoadU32(copy + kSharedTimeOffset),
                      LoadU16(copy + kSharedMillisecondsOffset), nullptr, nullptr, mode, kLiveMessageLimit);
}

TraceRecord* CTraceMgr::AddQrvRecord(CTraceBase* store, uint32_t ignoreMask, const void* record, size_t size,
                                     int mode) {
  if (record == nullptr || size < kQrvTextOffset) {
    return nullptr;
  }
  const int group = g_moduleGroups.FindEnabled(kQrvModule, ignoreMask);
  if (group < 0) {
    return nullptr;
  }
  const auto* bytes = static_cast<const uint8_t*>(record);
  SYSTEMTIME when;
  std::memcpy(&when, bytes + kQrvTimeOffset, sizeof(when));
  struct tm calendar {};
  calendar.tm_year = int(when.wYear) - kCalendarBaseYear;
  calendar.tm_mon = int(when.wMonth) - 1;
  calendar.tm_mday = when.wDay;
  calendar.tm_hour = when.wHour;
  calendar.tm_min = when.wMinute;
  calendar.tm_sec = when.wSecond;
  calendar.tm_isdst = -1;
  const uint32_t time = CalendarToRecordTime(&calendar);

  size_t textBytes = LoadU16(bytes);
  if (textBytes > size - kQrvTextOffset) {
    textBytes = size - kQrvTextOffset;
  }
  if (textBytes > kQrvMaxTextBytes) {
    textBytes = kQrvMaxTextBytes;
  }
  uint8_t text[kQrvMaxTextBytes + 1];
  std::memcpy(text, bytes + kQrvTextOffset, textBytes);
  UnscrambleBytes(text, textBytes);
  text[textBytes] = 0;
  wchar_t message[kQrvMaxTextBytes + 1];
  NarrowToWide(CP_ACP, text, textBytes, message, kQrvMaxTextBytes + 1);
  return AddTraceItem(store, group, kLevelInfo, kQrvModule, nullptr, message, LoadU32(bytes + kQrvPidOffset), 0,
                      time, when.wMilliseconds, nullptr, nullptr, mode, kLiveMessageLimit);
}

int CTraceMgr::ScanBufferForBlockWords(CTraceBase* store, const void* image, size_t size, int copy) {
  if (image == nullptr || size < kTraceHeaderSize) {
    return 0;
  }
  const auto* bytes = static_cast<const uint8_t*>(image);
  size_t offset = LoadU32(bytes + offsetof(TraceBufferHeader, first));
  if (offset < kTraceHeaderSize) {
    return 0;
  }
  constexpr uint32_t kScanAllGroups = 0;
  int offered = 0;
  while (offset + kNarrowHeadSize < size) {
    const uint16_t length = LoadU16(bytes + offset);
    // A length below the smallest record (zero included) would never move on.
    if (length < kMinNarrowRecord || offset + length > size) {
      break;
    }
    AddRecord(store, kScanAllGroups, bytes + offset, copy, kModeScan);
    ++offered;
    offset += length;
  }
  return offered;
}
