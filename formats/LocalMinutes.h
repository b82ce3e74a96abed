// Local time of log lines through the C library's conversion, which is slow:
// a log's lines share their minutes, so the start of the last minute
// converted is kept. Zone offsets and their changes fall on whole minutes,
// so any second of a minute is its start plus the second.
#pragma once

#include <cstdint>
#include <ctime>

class CLocalMinuteCache {
 public:
  // Seconds since 1970 of the local time year-month-day hour:minute:00
  // (month 1 to 12; fields out of range carry over as mktime carries them,
  // daylight saving as the system decides), or -1 when the system cannot
  // convert it.
  int64_t MinuteStart(int year, int month, int day, int hour, int minute) {
    if (!m_filled || year != m_year || month != m_month || day != m_day || hour != m_hour || minute != m_minute) {
      constexpr int kTmYearBase = 1900;
      struct tm calendar = {};
      calendar.tm_year = year - kTmYearBase;
      calendar.tm_mon = month - 1;
      calendar.tm_mday = day;
      calendar.tm_hour = hour;
      calendar.tm_min = minute;
      calendar.tm_isdst = -1;
      const int64_t start = _mktime64(&calendar);
      m_start = start < 0 ? -1 : start;
      m_year = year;
      m_month = month;
      m_day = day;
      m_hour = hour;
      m_minute = minute;
      m_filled = true;
    }
    return m_start;
  }

 private:
  bool m_filled = false;
  int m_year = 0;
  int m_month = 0;
  int m_day = 0;
  int m_hour = 0;
  int m_minute = 0;
  int64_t m_start = -1;
};
