// Time on POSIX: the zone, stamps to calendar fields, local midnight.

#include "platform/posix_internal.h"
#include "platform/calendar.h"

#include <climits>
#include <ctime>

namespace plat {

ZoneInfo refresh_zone() {
  tzset();
  ZoneInfo zone;
  zone.standard_name = tzname[0] != nullptr ? tzname[0] : "";
  zone.daylight = daylight != 0;
  zone.daylight_name = zone.daylight && tzname[1] != nullptr ? tzname[1] : "";
  zone.offset_seconds = timezone;
  return zone;
}

std::optional<uint64_t> stamp_to_local(uint64_t stamp) {
  time_t now = time(nullptr);
  struct tm local;
  if (localtime_r(&now, &local) == nullptr) return std::nullopt;
  int64_t bias = static_cast<int64_t>(local.tm_gmtoff) * kStampsPerSecond;
  if (stamp >= 0x8000000000000000ULL) return std::nullopt;
  int64_t value = static_cast<int64_t>(stamp);
  if (bias < 0 && value < -bias) return std::nullopt;
  if (bias > 0 && value > INT64_MAX - bias) return std::nullopt;
  return static_cast<uint64_t>(value + bias);
}

namespace {

// Calendar date of a day count since 1970-01-01 (proleptic Gregorian).
void civil_from_days(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = yoe + era * 400;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<int>(y + (m <= 2 ? 1 : 0));
  month = static_cast<int>(m);
  day = static_cast<int>(d);
}

}  // namespace

std::optional<SystemTime> stamp_to_system_time(uint64_t stamp) {
  if (stamp >= 0x8000000000000000ULL) return std::nullopt;
  const uint64_t total_ms = stamp / 10000;
  const uint64_t ms_per_day = 86400000ULL;
  const int64_t days_since_1601 = static_cast<int64_t>(total_ms / ms_per_day);
  uint64_t ms_of_day = total_ms % ms_per_day;
  // 1601-01-01 lies 134774 days before 1970-01-01.
  const int64_t days = days_since_1601 - kEpochDelta / 86400;
  SystemTime t;
  civil_from_days(days, t.year, t.month, t.day);
  t.hour = static_cast<int>(ms_of_day / 3600000);
  t.minute = static_cast<int>(ms_of_day / 60000 % 60);
  t.second = static_cast<int>(ms_of_day / 1000 % 60);
  t.millisecond = static_cast<int>(ms_of_day % 1000);
  // 1601-01-01 was a Monday (weekday 1, Sunday 0).
  t.weekday = static_cast<int>((days_since_1601 + 1) % 7);
  return t;
}

int64_t now_seconds() { return static_cast<int64_t>(time(nullptr)); }

std::optional<int64_t> local_midnight(int year, int month, int day) {
  struct tm t = midnight_of(year, month, day);
  time_t result = mktime(&t);
  if (result == static_cast<time_t>(-1)) return std::nullopt;
  return static_cast<int64_t>(result);
}

SystemTime broken_down(int64_t seconds, bool utc) {
  time_t when = static_cast<time_t>(seconds);
  struct tm t{};
  if (utc) {
    gmtime_r(&when, &t);
  } else {
    localtime_r(&when, &t);
  }
  return system_time_of(t);
}

}  // namespace plat
