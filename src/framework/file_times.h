// Calendar fields of an object's three file times.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

struct time_fields {
  int32_t month, day, year, hour, minute, second, millisecond;
};

struct file_times {
  time_fields last_write;
  time_fields last_access;
  time_fields creation;
  uint32_t creation_low, creation_high;
  uint32_t access_low, access_high;
  uint32_t write_low, write_high;
};

// Fills `times` from the three stamps of an enumeration record, in UTC when
// `zulu` is non-zero, else in local time with the bias in force now. A zero
// stamp reads 00/00/1980 00:00:00. Returns 1 when no stamp converted.
int convert_file_times(file_times& times, int zulu, const plat::FindData& data);
// The same for the object (or "object:stream") at `path`; 1 when it cannot
// be opened or queried.
int get_file_times(file_times& times, int zulu, const std::u16string& path);
