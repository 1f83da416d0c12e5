// Stamps from calendar dates, the zone for a scope and field checks, for
// the file-times tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "framework/file_times.h"
#include "platform/platform.h"

namespace file_times_checks {

inline int64_t unix_seconds(int y, unsigned m, unsigned d, int h, int mi, int s) {
  using namespace std::chrono;
  const sys_days date{year{y} / month{m} / day{d}};
  return date.time_since_epoch().count() * 86400LL + h * 3600 + mi * 60 + s;
}

inline uint64_t stamp_at(int y, unsigned m, unsigned d, int h, int mi, int s, int ms = 0) {
  return static_cast<uint64_t>(unix_seconds(y, m, d, h, mi, s) + 11644473600LL) * 10000000ULL +
         static_cast<uint64_t>(ms) * 10000ULL;
}

// Sets TZ for the scope and refreshes the runtime's zone.
class ScopedZone {
 public:
  explicit ScopedZone(const char16_t* zone) : saved_(plat::get_env("TZ")) {
    plat::set_env("TZ", zone);
    plat::refresh_zone();
  }
  ~ScopedZone() {
    plat::set_env("TZ", saved_ ? *saved_ : u"UTC0");
    plat::refresh_zone();
  }

 private:
  std::optional<std::u16string> saved_;
};

inline void expect_fields(const time_fields& t, int month, int day, int year, int hour,
                          int minute, int second) {
  EXPECT_EQ(t.month, month);
  EXPECT_EQ(t.day, day);
  EXPECT_EQ(t.year, year);
  EXPECT_EQ(t.hour, hour);
  EXPECT_EQ(t.minute, minute);
  EXPECT_EQ(t.second, second);
}

}  // namespace file_times_checks
