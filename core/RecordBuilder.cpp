#include "core/RecordBuilder.h"

#include <emmintrin.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>

#include "core/Cipher.h"
#include "core/ModuleGroups.h"
#include "core/RecordImport.h"
#include "core/StrUtil.h"
#include "core/ThreadCache.h"
#include "core/TraceStore.h"

CBlockWordList g_blockWords;

namespace {

constexpr uint32_t kBitsPerWord = 32;
constexpr size_t kProcThreadUnits = 128;  // "[pid:tid]" with its terminator
constexpr size_t kDecimalUnits = 10;      // digits of a u32
constexpr wchar_t kTimeNotAvailable[] = L"N/A";
constexpr size_t kClockUnits = 32;
constexpr wchar_t kClockFormat[] = L"%H:%M:%S";
constexpr wchar_t kDateFormat[] = L"%m/%d/%y";
constexpr uint16_t kMillisecondDigits = 3;

inline bool TestBit(const uint32_t* bitmap, uint32_t bit) {
  return (bitmap[bit / kBitsPerWord] >> (bit % kBitsPerWord)) & 1u;
}

inline void SetBit(uint32_t* bitmap, uint32_t bit) { bitmap[bit / kBitsPerWord] |= 1u << (bit % kBitsPerWord); }

// Exact for two units below 256, a mix otherwise.
inline uint32_t PairHash(wchar_t first, wchar_t second) {
  return uint16_t((uint32_t(first) << 8) ^ uint32_t(second) ^ (uint32_t(first) >> 8));
}

inline uint32_t BucketOf(uint32_t pairHash) { return (pairHash ^ (pairHash >> 8)) & 0xFFu; }

// Writes the decimal digits of value at out; returns how many.
size_t PutDecimal(wchar_t* out, uint32_t value) {
  wchar_t digits[kDecimalUnits];
  size_t n = 0;
  do {
    digits[n++] = wchar_t(L'0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (size_t i = 0; i < n; ++i) {
    out[i] = digits[n - 1 - i];
  }
  return n;
}

// "[pid:tid]"; returns its length.
size_t FormatProcThread(wchar_t* out, uint32_t pid, uint32_t tid) {
  size_t n = 0;
  out[n++] = L'[';
  n += PutDecimal(out + n, pid);
  out[n++] = L':';
  n += PutDecimal(out + n, tid);
  out[n++] = L']';
  out[n] = 0;
  return n;
}

// Copies n units that do not overlap. Names are short: the runtime's memcpy
// is a call into another module, which costs more than the copy.
inline void CopyUnits(wchar_t* to, const wchar_t* from, size_t n) {
  constexpr size_t kStep = 8;
  constexpr size_t kHalf = kStep / 2;
  constexpr size_t kQuarter = kStep / 4;
  if (n >= kStep) {
    size_t i = 0;
    for (; i + kStep <= n; i += kStep) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i)));
    }
    if (i < n) {  // the last eight units, some written again
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + n - kStep),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + n - kStep)));
    }
  } else if (n >= kHalf) {
    uint64_t head, tail;
    std::memcpy(&head, from, sizeof(head));
    std::memcpy(&tail, from + n - kHalf, sizeof(tail));
    std::memcpy(to, &head, sizeof(head));
    std::memcpy(to + n - kHalf, &tail, sizeof(tail));
  } else if (n >= kQuarter) {
    uint32_t head, tail;
    std::memcpy(&head, from, sizeof(head));
    std::memcpy(&tail, from + n - kQuarter, sizeof(tail));
    std::memcpy(to, &head, sizeof(head));
    std::memcpy(to + n - kQuarter, &tail, sizeof(tail));
  } else if (n == 1) {
    to[0] = from[0];
  }
}

size_t BoundedUnits(const wchar_t* text, size_t most) { return text ? WcsLengthBounded(text, most) : 0; }

inline bool IsTrailingSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

// Copies `units` units and terminates, trimmed as TrimTrailingSpace trims, in
// one pass: messages are the longest strings of a record. The terminator at
// the full length stays too: an absent sub-name points at it.
void CopyTrimmed(wchar_t* target, const wchar_t* text, size_t units) {
  constexpr size_t kStep = 8;
  target[units] = 0;
  size_t keep = 0;  // units up to the last one that is no blank
  size_t i = 0;
  const __m128i cr = _mm_set1_epi16(L'\r');
  const __m128i lf = _mm_set1_epi16(L'\n');
  const __m128i tab = _mm_set1_epi16(L'\t');
  const __m128i space = _mm_set1_epi16(L' ');
  for (; i + kStep <= units; i += kStep) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    const __m128i lineBreak = _mm_or_si128(_mm_cmpeq_epi16(v, cr), _mm_cmpeq_epi16(v, lf));
    const __m128i blank = _mm_or_si128(lineBreak, _mm_or_si128(_mm_cmpeq_epi16(v, tab), _mm_cmpeq_epi16(v, space)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(target + i),
                     _mm_or_si128(_mm_andnot_si128(lineBreak, v), _mm_and_si128(lineBreak, space)));
    const unsigned kept = ~unsigned(_mm_movemask_epi8(blank)) & 0xFFFFu;
    if (kept != 0) {
      keep = i + (31 - unsigned(__builtin_clz(kept))) / sizeof(wchar_t) + 1;
    }
  }
  for (; i < units; ++i) {
    const wchar_t c = text[i];
    target[i] = (c == L'\r' || c == L'\n') ? L' ' : c;
    if (!IsTrailingSpace(c)) {
      keep = i + 1;
    }
  }
  target[keep] = 0;
}

constexpr int64_t kSecondsPerMinute = 60;
constexpr int64_t kSecondsPerHour = 3600;
constexpr int64_t kSecondsPerDay = 86400;
constexpr int kCalendarBaseYear = 1900;
constexpr int kYearsPerCentury = 100;

// Days since 1970-01-01 of a Gregorian date, and back (the usual era
// arithmetic: 400-year eras of 146097 days, years starting in March).
constexpr int64_t kDaysPerEra = 146097;
constexpr int64_t kYearsPerEra = 400;
constexpr int64_t kDaysFromEraStartTo1970 = 719468;

int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - (kYearsPerEra - 1)) / kYearsPerEra;
  const auto yearOfEra = unsigned(year - era * kYearsPerEra);
  const unsigned shiftedMonth = month > 2 ? month - 3 : month + 9;
  const unsigned dayOfYear = (153 * shiftedMonth + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * kDaysPerEra + int64_t(dayOfEra) - kDaysFromEraStartTo1970;
}

void CivilFromDays(int64_t days, int64_t* year, unsigned* month, unsigned* day) {
  days += kDaysFromEraStartTo1970;
  const int64_t era = (days >= 0 ? days : days - (kDaysPerEra - 1)) / kDaysPerEra;
  const auto dayOfEra = unsigned(days - era * kDaysPerEra);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
  *day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  *month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  *year = int64_t(yearOfEra) + era * kYearsPerEra + (*month <= 2 ? 1 : 0);
}

// Local time minus UTC at `seconds`, in seconds; false when the system
// cannot convert it.
bool LocalOffset(__time64_t seconds, int64_t* offset) {
  struct tm local {};
  if (_localtime64_s(&local, &seconds) != 0) {
    return false;
  }
  const int64_t days = DaysFromCivil(int64_t(local.tm_year) + kCalendarBaseYear, unsigned(local.tm_mon + 1),
                                     unsigned(local.tm_mday));
  *offset = days * kSecondsPerDay + local.tm_hour * kSecondsPerHour + local.tm_min * kSecondsPerMinute +
            local.tm_sec - seconds;
  return true;
}

void PutTwoDigits(wchar_t* out, int64_t value) {
  out[0] = wchar_t(L'0' + value / 10 % 10);
  out[1] = wchar_t(L'0' + value % 10);
}

// Records of one thread mostly share their second, so the clock and date
// texts of the last second converted are kept per thread. The local offset
// is kept for the UTC hour: zones change it only at whole or half hours, so
// an hour that starts and ends with the same offset has it throughout, and
// its seconds need no call into the system's time conversion.
struct TimeTextCache {
  bool filled = false;
  bool converted = false;
  uint32_t time = 0;
  bool hourKnown = false;  // hourStart's hour has one offset
  int64_t hourStart = -1;
  int64_t offset = 0;
  wchar_t clock[kClockUnits] = {};
  wchar_t date[kClockUnits] = {};
  size_t clockUnits = 0;
  size_t dateUnits = 0;
  // The whole time text at millisecond 0, when its three millisecond digits
  // are not cut off: a record of this second only puts in its own digits.
  bool composed = false;
  wchar_t text[kRecordTimeTextUnits] = {};
};
TimeTextCache* ThreadTimeCache() {
  static CThreadCache<TimeTextCache> cache;
  return cache.Get();
}

// "HH:MM:SS" and "MM/DD/YY" of a local time given as seconds since 1970.
void FormatLocalSeconds(int64_t local, TimeTextCache& cache) {
  const int64_t days = local >= 0 ? local / kSecondsPerDay : -((kSecondsPerDay - 1 - local) / kSecondsPerDay);
  const int64_t inDay = local - days * kSecondsPerDay;
  PutTwoDigits(cache.clock, inDay / kSecondsPerHour);
  cache.clock[2] = L':';
  PutTwoDigits(cache.clock + 3, inDay % kSecondsPerHour / kSecondsPerMinute);
  cache.clock[5] = L':';
  PutTwoDigits(cache.clock + 6, inDay % kSecondsPerMinute);
  cache.clock[8] = 0;
  int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
  CivilFromDays(days, &year, &month, &day);
  PutTwoDigits(cache.date, month);
  cache.date[2] = L'/';
  PutTwoDigits(cache.date + 3, day);
  cache.date[5] = L'/';
  PutTwoDigits(cache.date + 6, (year % kYearsPerCentury + kYearsPerCentury) % kYearsPerCentury);
  cache.date[8] = 0;
  cache.clockUnits = 8;
  cache.dateUnits = 8;
}

void ConvertSecond(uint32_t time, TimeTextCache& cache) {
  const __time64_t seconds = static_cast<int32_t>(time);
  cache.filled = true;
  cache.time = time;
  cache.converted = false;
  if (seconds < 0) {
    return;
  }
  const int64_t hourStart = seconds - seconds % kSecondsPerHour;
  if (hourStart != cache.hourStart) {
    int64_t atEnd = 0;
    cache.hourStart = hourStart;
    cache.hourKnown = LocalOffset(hourStart, &cache.offset) &&
                      LocalOffset(hourStart + kSecondsPerHour - 1, &atEnd) && atEnd == cache.offset;
  }
  if (cache.hourKnown) {
    FormatLocalSeconds(seconds + cache.offset, cache);
    cache.converted = true;
    return;
  }
  // An hour in which the offset changes: the system converts each second.
  struct tm local {};
  if (_localtime64_s(&local, &seconds) != 0) {
    return;
  }
  cache.clockUnits = wcsftime(cache.clock, kClockUnits, kClockFormat, &local);
  cache.dateUnits = wcsftime(cache.date, kClockUnits, kDateFormat, &local);
  cache.converted = cache.clockUnits != 0 && cache.dateUnits != 0;
}

// Decodes the Base64 text behind the marker and registers the word it names.
void RegisterBlockWord(const wchar_t* message) {
  const wchar_t* marker = wcsstr(message, kBlockWordMarker);
  if (marker == nullptr) {
    return;
  }
  const wchar_t* encoded = marker + (sizeof(kBlockWordMarker) / sizeof(wchar_t) - 1);
  char decoded[kBlockWordDecodeBytes] = {};
  const size_t bytes = Base64Decode(encoded, wcslen(encoded), decoded, sizeof(decoded));
  if (bytes == 0 || bytes >= kBlockWordDecodeBytes) {
    return;
  }
  decoded[bytes] = 0;
  const int length = static_cast<int>(strlen(decoded));
  wchar_t word[kBlockWordDecodeBytes];
  const int units =
      length > 0 ? MultiByteToWideChar(CP_ACP, 0, decoded, length, word, int(kBlockWordDecodeBytes) - 1) : 0;
  if (units <= 0) {
    return;
  }
  word[units] = 0;
  g_blockWords.Add(word);
}

}  // namespace

CBlockWordList::CBlockWordList() = default;

CBlockWordList::~CBlockWordList() { Clear(); }

bool CBlockWordList::Holds(const wchar_t* word, size_t length) const {
  for (size_t i = 0; i < m_words.count; ++i) {
    if (m_words[i].length == length && wmemcmp(m_words[i].text, word, length) == 0) {
      return true;
    }
  }
  return false;
}

int CBlockWordList::Add(const wchar_t* word) {
  if (word == nullptr || word[0] == 0) {
    return 0;
  }
  const size_t length = wcslen(word);
  AcquireSRWLockExclusive(&m_lock);
  int added = 0;
  if (!Holds(word, length) && m_words.Reserve(m_words.count + 1)) {
    auto* copy = static_cast<wchar_t*>(std::malloc((length + 1) * sizeof(wchar_t)));
    if (copy != nullptr) {
      std::memcpy(copy, word, (length + 1) * sizeof(wchar_t));
      const uint32_t index = uint32_t(m_words.count);
      SetBit(m_firsts, copy[0]);
      m_firstLow = copy[0] < m_firstLow ? copy[0] : m_firstLow;
      m_firstHigh = copy[0] > m_firstHigh ? copy[0] : m_firstHigh;
      if (length == 1) {
        m_words.Append(Word{copy, length});
        SetBit(m_singles, copy[0]);
        ++m_singleCount;
        added = 1;
      } else {
        const uint32_t hash = PairHash(copy[0], copy[1]);
        if (m_buckets[BucketOf(hash)].Append(index)) {
          m_words.Append(Word{copy, length});
          SetBit(m_pairs, hash);
          added = 1;
        }
      }
      if (!added) {
        std::free(copy);
      } else {
        InterlockedIncrement(&m_count);
      }
    }
  }
  ReleaseSRWLockExclusive(&m_lock);
  return added;
}

bool CBlockWordList::StartsAt(const wchar_t* p) const {
  const wchar_t first = p[0];
  if (m_singleCount != 0 && TestBit(m_singles, first)) {
    return true;
  }
  const wchar_t second = p[1];
  if (second == 0) {
    return false;
  }
  const uint32_t hash = PairHash(first, second);
  if (!TestBit(m_pairs, hash)) {
    return false;
  }
  const CGrowArray<uint32_t>& bucket = m_buckets[BucketOf(hash)];
  for (size_t i = 0; i < bucket.count; ++i) {
    const Word& word = m_words[bucket[i]];
    // The text ends at its terminator, where any longer word mismatches.
    if (word.text[0] == first && word.text[1] == second && wcsncmp(p + 2, word.text + 2, word.length - 2) == 0) {
      return true;
    }
  }
  return false;
}

bool CBlockWordList::FoundInLocked(const wchar_t* text) const {
  const auto address = reinterpret_cast<uintptr_t>(text);
  if (address % sizeof(wchar_t) != 0) {
    for (const wchar_t* p = text;; ++p) {
      // The terminator's bit is set: the skip ends there at the latest.
      while (!TestBit(m_firsts, p[0])) {
        ++p;
      }
      if (p[0] == 0) {
        return false;
      }
      if (StartsAt(p)) {
        return true;
      }
    }
  }
  // Eight units a step: only the terminator and units between the lowest
  // and the highest first unit of the words are looked at one by one. The
  // loads are 16-byte aligned, so they never reach into a page the text does
  // not touch; units before the text are masked off.
  constexpr uintptr_t kBlockBytes = sizeof(__m128i);
  const __m128i zero = _mm_setzero_si128();
  const __m128i low = _mm_set1_epi16(short(m_firstLow));
  const __m128i span = _mm_set1_epi16(short(uint16_t(m_firstHigh - m_firstLow)));
  const auto* block = reinterpret_cast<const __m128i*>(address & ~(kBlockBytes - 1));
  unsigned valid = ~0u << (address & (kBlockBytes - 1));
  for (;; ++block, valid = ~0u) {
    const __m128i units = _mm_load_si128(block);
    const __m128i inSpan = _mm_cmpeq_epi16(_mm_subs_epu16(_mm_sub_epi16(units, low), span), zero);
    unsigned candidates = unsigned(_mm_movemask_epi8(_mm_or_si128(inSpan, _mm_cmpeq_epi16(units, zero)))) & valid;
    while (candidates != 0) {
      const unsigned bit = unsigned(__builtin_ctz(candidates));
      const auto* p = reinterpret_cast<const wchar_t*>(reinterpret_cast<const char*>(block) + bit);
      if (p[0] == 0) {
        return false;
      }
      if (TestBit(m_firsts, p[0]) && StartsAt(p)) {
        return true;
      }
      candidates &= ~(3u << bit);
    }
  }
}

bool CBlockWordList::FoundIn(const wchar_t* text) const {
  if (text == nullptr || m_count == 0) {
    return false;
  }
  AcquireSRWLockShared(&m_lock);
  const bool found = FoundInLocked(text);
  ReleaseSRWLockShared(&m_lock);
  return found;
}

size_t CBlockWordList::Count() const { return size_t(m_count); }

void CBlockWordList::Clear() {
  AcquireSRWLockExclusive(&m_lock);
  for (size_t i = 0; i < m_words.count; ++i) {
    std::free(m_words[i].text);
  }
  m_words.Free();
  for (auto& bucket : m_buckets) {
    bucket.Free();
  }
  std::memset(m_singles, 0, sizeof(m_singles));
  m_singleCount = 0;
  std::memset(m_pairs, 0, sizeof(m_pairs));
  std::memset(m_firsts, 0, sizeof(m_firsts));
  SetBit(m_firsts, 0);
  m_firstLow = kNoFirstLow;
  m_firstHigh = kNoFirstHigh;
  InterlockedExchange(&m_count, 0);
  ReleaseSRWLockExclusive(&m_lock);
}

namespace {

// "%s.%03hu " of the clock and the milliseconds, then the date, cut to 23.
// Unit by unit into place: each small copy would be a call into the runtime.
void ComposeTimeText(const TimeTextCache& cache, uint16_t milliseconds, wchar_t* out) {
  constexpr size_t kLast = kRecordTimeTextUnits - 1;
  size_t n = 0;
  auto put = [out, &n](wchar_t unit) {
    if (n < kLast) {
      out[n++] = unit;
    }
  };
  for (size_t i = 0; i < cache.clockUnits; ++i) {
    put(cache.clock[i]);
  }
  put(L'.');
  wchar_t digits[kDecimalUnits];
  const size_t count = PutDecimal(digits, milliseconds);
  for (size_t pad = count; pad < kMillisecondDigits; ++pad) {
    put(L'0');
  }
  for (size_t i = 0; i < count; ++i) {
    put(digits[i]);
  }
  put(L' ');
  for (size_t i = 0; i < cache.dateUnits; ++i) {
    put(cache.date[i]);
  }
  out[n] = 0;
}

int FormatTimeText(uint32_t time, uint16_t milliseconds, wchar_t* out, TimeTextCache& cache) {
  if (!cache.filled || cache.time != time) {
    ConvertSecond(time, cache);
    // The digits follow the clock and its dot.
    cache.composed = cache.converted && cache.clockUnits + 1 + kMillisecondDigits < kRecordTimeTextUnits;
    if (cache.composed) {
      ComposeTimeText(cache, 0, cache.text);
    }
  }
  if (!cache.converted) {
    StrCopyNW(out, kRecordTimeTextUnits, kTimeNotAvailable);
    return 0;
  }
  constexpr uint16_t kMillisecondsPerSecond = 1000;
  if (cache.composed && milliseconds < kMillisecondsPerSecond) {
    std::memcpy(out, cache.text, sizeof(cache.text));
    wchar_t* digits = out + cache.clockUnits + 1;
    digits[0] = wchar_t(L'0' + milliseconds / 100);
    digits[1] = wchar_t(L'0' + milliseconds / 10 % 10);
    digits[2] = wchar_t(L'0' + milliseconds % 10);
    return 1;
  }
  ComposeTimeText(cache, milliseconds, out);
  return 1;
}

}  // namespace

int FormatRecordTimeText(uint32_t time, uint16_t milliseconds, wchar_t* out) {
  TimeTextCache* kept = ThreadTimeCache();
  if (kept != nullptr) {
    return FormatTimeText(time, milliseconds, out, *kept);
  }
  TimeTextCache unkept;
  return FormatTimeText(time, milliseconds, out, unkept);
}

void CurrentRecordTime(uint32_t* seconds, uint16_t* milliseconds) {
  constexpr uint64_t kTicksPerMillisecond = 10000;
  constexpr uint64_t kMillisecondsPerSecond = 1000;
  constexpr uint64_t kUnixEpochInTicks = 116444736000000000ull;  // 1601 to 1970
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t ticks = (uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  const uint64_t sinceEpoch = ticks > kUnixEpochInTicks ? (ticks - kUnixEpochInTicks) / kTicksPerMillisecond : 0;
  *seconds = uint32_t(sinceEpoch / kMillisecondsPerSecond);
  *milliseconds = uint16_t(sinceEpoch % kMillisecondsPerSecond);
}

int CTraceMgr::AddBlockWord(const wchar_t* word) { return g_blockWords.Add(word); }

TraceRecord* CTraceMgr::AddTraceItem(CTraceBase* store, int group, uint32_t level, const wchar_t* module,
                                     const wchar_t* hint, const wchar_t* message, uint32_t pid, uint32_t tid,
                                     uint32_t time, uint16_t milliseconds, const uint32_t* stamp,
                                     const wchar_t* subName, int mode, uint32_t messageLimit, size_t messageUnits) {
  if (message == nullptr) {
    message = L"";
    messageUnits = 0;
  }
  const wchar_t* given = message;
  message = SkipLeadingNewlines(message);
  if (mode == kModeScan) {
    RegisterBlockWord(message);
    return nullptr;
  }
  if (store == nullptr) {
    return nullptr;
  }

  wchar_t procThread[kProcThreadUnits];
  const uint32_t P = uint32_t(FormatProcThread(procThread, pid, tid)) + 1;
  const uint32_t M = uint32_t(BoundedUnits(module, kRecordNameUnits - 1)) + 1;
  hint = SkipLeadingNewlines(hint);
  const size_t hintUnits = BoundedUnits(hint, kRecordNameUnits - 1);
  const uint32_t H = hintUnits != 0 ? uint32_t(hintUnits) + 1 : 0;
  if (g_blockWords.FoundIn(message)) {
    level = kLevelPersonal;
  }
  level &= kLevelMask;
  const uint32_t limit = messageLimit == 0 ? 1 : (messageLimit > kMaxMessageLimit ? kMaxMessageLimit : messageLimit);
  size_t units = 0;
  if (messageUnits != SIZE_MAX) {
    const size_t left = messageUnits - size_t(message - given);
    units = left < limit - 1 ? left : limit - 1;
  } else {
    units = WcsLengthBounded(message, limit - 1);
  }
  const uint32_t G = uint32_t(units) + 1;
  const size_t subUnits = BoundedUnits(subName, kRecordNameUnits - 1);
  const uint32_t S = subUnits != 0 ? uint32_t(subUnits) + 1 : 0;
  const uint32_t length = (2 * (G + S + H + M + P) + kRecordFixedSize + 3) & ~uint32_t(3);

  TraceRecord* record = AllocRecord(store, length);
  if (record == nullptr) {
    return nullptr;
  }
  TraceBufferHeader* header = store->Buffer();  // reserving may have moved it
  std::memset(record, 0, kRecordFixedSize);
  record->length = uint16_t(length);
  record->version = kTraceVersion;
  record->encoding = kRecordEncodingUtf16;
  record->level = level;
  record->pid = pid;
  record->tid = tid;
  record->sequence = ++header->lastSequence;
  record->time = time;
  record->milliseconds = milliseconds;

  const uint32_t moduleAt = kRecordFixedSize + 2 * P;
  uint32_t hintAt, messageAt;
  if (H != 0) {
    hintAt = moduleAt + 2 * M;
    messageAt = hintAt + 2 * H;
  } else {
    hintAt = moduleAt + 2 * M - 2;  // the module's terminator reads as an empty hint
    messageAt = moduleAt + 2 * M;
  }
  const uint32_t subAt = S != 0 ? messageAt + 2 * G : messageAt + 2 * G - 2;
  record->moduleOffset = uint16_t(moduleAt);
  record->hintOffset = uint16_t(hintAt);
  record->messageOffset = uint16_t(messageAt);
  record->subNameOffset = uint16_t(subAt);

  auto* bytes = reinterpret_cast<uint8_t*>(record);
  auto put = [bytes](uint32_t at, const wchar_t* text, uint32_t units) {
    auto* target = reinterpret_cast<wchar_t*>(bytes + at);
    CopyUnits(target, text, units - 1);
    target[units - 1] = 0;
    return target;
  };
  put(kRecordFixedSize, procThread, P);
  put(moduleAt, module, M);
  if (H != 0) {
    TrimTrailingSpace(put(hintAt, hint, H));
  }
  CopyTrimmed(reinterpret_cast<wchar_t*>(bytes + messageAt), message, G - 1);
  if (S != 0) {
    put(subAt, subName, S);
  }

  if (stamp != nullptr) {
    record->stampLow = stamp[0];
    record->stampHigh = stamp[1];
    record->flags |= kRecordStampValid;
  }
  FormatRecordTimeText(time, milliseconds, record->timeText);

  // An index outside the table (GroupAt takes -1 as past the end) falls to
  // the catch-all group.
  const CModuleGroup* owner = g_moduleGroups.GroupAt(size_t(group));
  if (owner == nullptr) {
    owner = g_moduleGroups.GroupAt(size_t(g_moduleGroups.CatchAllIndex()));
  }
  record->groupFlag = owner != nullptr ? owner->Flag() : 0;
  record->groupName = owner != nullptr ? owner->Name() : L"";
  return record;
}

TraceRecord* CTraceMgr::CopyRecord(CTraceBase* store, const TraceRecord* record) {
  if (store == nullptr || record == nullptr || record->length < kRecordFixedSize) {
    return nullptr;
  }
  const uint32_t length = record->length;
  TraceRecord* copy = AllocRecord(store, length);
  if (copy == nullptr) {
    return nullptr;
  }
  std::memcpy(copy, record, length);
  copy->sequence = ++store->Buffer()->lastSequence;
  return copy;
}

TraceRecord* CTraceMgr::DecipherAndImport(CTraceBase* store, uint32_t ignoreMask, uint8_t* record, int mode) {
  NarrowHead head;
  if (!ReadNarrowHead(record, &head)) {
    return nullptr;
  }
  const uint8_t kind = record[kNarrowCipherKindOffset];
  if (kind != kCipherPlain) {
    if (!DecipherArea(kind, record + head.moduleOffset, head.length - head.moduleOffset)) {
      return nullptr;
    }
    record[kNarrowCipherKindOffset] = kCipherPlain;
  }
  return ImportRecord(store, ignoreMask, record, mode);
}
