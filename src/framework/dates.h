// Dates of the NEWER/OLDER directives, -g/-l and --NEW/--OLD.
#pragma once

#include <cstdint>
#include <string_view>

// A value containing '-', '/' or '\' is a date (month, day, year).
bool is_date_value(std::u16string_view value);

// From a month-day-year date: the whole days from its local midnight to
// now, and that midnight as 100-ns units since 1601 UTC. False when the
// date cannot be read.
bool date_to_days_and_time(std::u16string_view value, int32_t& days,
                           int64_t& time);
