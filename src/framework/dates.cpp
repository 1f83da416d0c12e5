#include "framework/dates.h"

#include <cstdint>

#include "framework/text.h"
#include "platform/platform.h"

namespace {

constexpr int64_t kSecondsPerDay = 86400;

bool is_blank(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

// One decimal number as the runtime's "%d" reads it: blanks, a sign, at
// least one digit. `digits` tells how many digits were written.
bool read_number(std::u16string_view text, size_t& pos, int& value,
                 int& digits) {
  while (pos < text.size() && is_blank(text[pos])) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == u'+' || text[pos] == u'-')) {
    negative = text[pos] == u'-';
    ++pos;
  }
  int64_t magnitude = 0;
  digits = 0;
  while (pos < text.size() && text[pos] >= u'0' && text[pos] <= u'9') {
    // Past a few digits the date cannot exist anyway; stop growing.
    if (magnitude < 100000000) magnitude = magnitude * 10 + (text[pos] - u'0');
    ++digits;
    ++pos;
  }
  if (digits == 0) return false;
  value = static_cast<int>(negative ? -magnitude : magnitude);
  return true;
}

}  // namespace

bool is_date_value(std::u16string_view value) {
  return value.find_first_of(u"-/\\") != std::u16string_view::npos;
}

bool read_month_day_year(std::u16string_view value, int& month, int& day,
                         int& year) {
  size_t pos = 0;
  int digits = 0;
  if (!read_number(value, pos, month, digits)) return false;
  if (pos >= value.size()) return false;
  ++pos;  // the separator, whatever it is
  if (!read_number(value, pos, day, digits)) return false;
  if (pos >= value.size()) return false;
  ++pos;
  if (!read_number(value, pos, year, digits)) return false;
  if (digits <= 2 && year >= 0) year += year < 70 ? 2000 : 1900;
  return true;
}

bool date_to_days_and_time_at(std::u16string_view value, int64_t now,
                              int32_t& days, int64_t& time) {
  int month = 0, day = 0, year = 0;
  if (!read_month_day_year(value, month, day, year)) return false;
  std::optional<int64_t> midnight = plat::local_midnight(year, month, day);
  if (!midnight) return false;
  // A file time holds 100-ns units in 64 bits (about 29,000 years either
  // way); a date beyond that is as unreadable as a malformed one.
  constexpr int64_t kLimit = INT64_MAX / plat::kStampsPerSecond - plat::kEpochDelta;
  if (*midnight > kLimit || *midnight < -kLimit) return false;
  days = static_cast<int32_t>((now - *midnight) / kSecondsPerDay);
  time = (*midnight + plat::kEpochDelta) * plat::kStampsPerSecond;
  return true;
}

bool date_to_days_and_time(std::u16string_view value, int32_t& days,
                           int64_t& time) {
  return date_to_days_and_time_at(value, plat::now_seconds(), days, time);
}

bool read_date_value(const std::u16string& value, int32_t& days, int64_t& time,
                     size_t date_chars) {
  if (!is_date_value(value)) {
    days = read_int32(value);
    return false;
  }
  if (date_chars == std::u16string::npos) {
    date_to_days_and_time(value, days, time);
    return true;
  }
  std::string narrow = narrow_low_bytes(value);
  if (narrow.size() > date_chars) narrow.resize(date_chars);
  date_to_days_and_time(widen_bytes(narrow), days, time);
  return true;
}
