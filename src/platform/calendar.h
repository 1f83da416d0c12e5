// What the time files of both systems do the same with the C runtime's
// broken-down time; only the calls that fill or read a struct tm differ.
#pragma once

#include <ctime>

#include "platform/platform.h"

namespace plat {

// The calendar date at local midnight, daylight saving left to the runtime.
inline std::tm midnight_of(int year, int month, int day) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_isdst = -1;
  return t;
}

inline SystemTime system_time_of(const std::tm& t) {
  SystemTime s;
  s.year = t.tm_year + 1900;
  s.month = t.tm_mon + 1;
  s.day = t.tm_mday;
  s.hour = t.tm_hour;
  s.minute = t.tm_min;
  s.second = t.tm_sec;
  s.weekday = t.tm_wday;
  return s;
}

}  // namespace plat
