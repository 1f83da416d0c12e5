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

int convert_file_times(file_times& times, int zulu, const plat::FindData& data);
int get_file_times(file_times& times, int zulu, const std::u16string& path);
