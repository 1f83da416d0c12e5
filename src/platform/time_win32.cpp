// Time on Win32: the zone, stamps to calendar fields, local midnight.

#include "platform/win32_internal.h"
#include "platform/calendar.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>

namespace plat {

namespace {

FILETIME filetime_of(uint64_t stamp) {
  FILETIME t;
  t.dwLowDateTime = static_cast<DWORD>(stamp & 0xFFFFFFFFu);
  t.dwHighDateTime = static_cast<DWORD>(stamp >> 32);
  return t;
}

}  // namespace

ZoneInfo refresh_zone() {
  _tzset();
  ZoneInfo zone;
  zone.standard_name = _tzname[0] != nullptr ? _tzname[0] : "";
  zone.daylight = _daylight != 0;
  zone.daylight_name = zone.daylight && _tzname[1] != nullptr ? _tzname[1] : "";
  zone.offset_seconds = _timezone;
  // The names of a TZ value "tzn[+|-]hh[:mm[:ss]][dzn]" are its first three
  // characters and the three after the offset. Read them here as the
  // runtime defines them: some runtimes (Wine's) keep only two.
  const char* tz = getenv("TZ");
  if (tz != nullptr && tz[0] != '\0') {
    const std::string value(tz);
    zone.standard_name = value.substr(0, 3);
    size_t at = std::min<size_t>(3, value.size());
    if (at < value.size() && (value[at] == '+' || value[at] == '-')) ++at;
    while (at < value.size() && ((value[at] >= '0' && value[at] <= '9') || value[at] == ':')) ++at;
    const std::string daylight = value.substr(at, 3);
    zone.daylight = !daylight.empty();
    zone.daylight_name = daylight;
  }
  return zone;
}

std::optional<uint64_t> stamp_to_local(uint64_t stamp) {
  const FILETIME utc = filetime_of(stamp);
  FILETIME local;
  if (!FileTimeToLocalFileTime(&utc, &local)) {
    remember_error();
    return std::nullopt;
  }
  return stamp_of(local);
}

std::optional<SystemTime> stamp_to_system_time(uint64_t stamp) {
  const FILETIME t = filetime_of(stamp);
  SYSTEMTIME s;
  if (!FileTimeToSystemTime(&t, &s)) {
    remember_error();
    return std::nullopt;
  }
  SystemTime out;
  out.year = s.wYear;
  out.month = s.wMonth;
  out.day = s.wDay;
  out.hour = s.wHour;
  out.minute = s.wMinute;
  out.second = s.wSecond;
  out.millisecond = s.wMilliseconds;
  out.weekday = s.wDayOfWeek;
  return out;
}

int64_t now_seconds() { return static_cast<int64_t>(_time64(nullptr)); }

std::optional<int64_t> local_midnight(int year, int month, int day) {
  struct tm t = midnight_of(year, month, day);
  const __time64_t result = _mktime64(&t);
  if (result == static_cast<__time64_t>(-1)) return std::nullopt;
  return static_cast<int64_t>(result);
}

// The runtime knows no time before 1970: such a time gives zero fields.
SystemTime broken_down(int64_t seconds, bool utc) {
  const __time64_t when = static_cast<__time64_t>(seconds);
  struct tm t{};
  const struct tm* got = utc ? _gmtime64(&when) : _localtime64(&when);
  if (got != nullptr) t = *got;
  return system_time_of(t);
}

}  // namespace plat
