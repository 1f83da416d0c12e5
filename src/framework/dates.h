// Dates of the NEWER/OLDER directives, -g/-l and --NEW/--OLD.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// A value containing '-', '/' or '\' is a date (month, day, year).
bool is_date_value(std::u16string_view value);

// Month, day and year as decimal numbers, each separated from the next by
// one character of any kind ("01-15-2014", "1/15/14"). A year written with
// one or two digits is completed: 00-69 are 2000-2069, 70-99 1970-1999.
// False when one of the three numbers is missing.
bool read_month_day_year(std::u16string_view value, int& month, int& day,
                         int& year);

// From a month-day-year date: the whole days from its local midnight to
// now, and that midnight as 100-ns units since 1601 UTC. False when the
// date cannot be read.
bool date_to_days_and_time(std::u16string_view value, int32_t& days,
                           int64_t& time);
// The same against a given present moment (seconds since 1970 UTC).
bool date_to_days_and_time_at(std::u16string_view value, int64_t now,
                              int32_t& days, int64_t& time);

// The value of a date filter: a date sets `days` and `time`, anything else
// is read as a number of days. With `date_chars` the date is read from
// narrow text of at most that many characters, as the long options read
// it. True when the value was a date.
bool read_date_value(const std::u16string& value, int32_t& days, int64_t& time,
                     size_t date_chars = std::u16string::npos);
