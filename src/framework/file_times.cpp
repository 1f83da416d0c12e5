#include "framework/file_times.h"

namespace {

// Converts one stamp into `out`; false when the conversion failed.
// `local_counts` makes a failed local-time conversion a failure too.
bool convert_stamp(uint64_t stamp, int zulu, bool local_counts, time_fields& out) {
  bool ok = true;
  uint64_t value = stamp;
  if (zulu == 0) {
    if (auto local = plat::stamp_to_local(stamp)) {
      value = *local;
    } else if (local_counts) {
      ok = false;
    }
    // Otherwise the stamp is shown as it is: a stamp too near the start of
    // 1601 to move west is a zero stamp in all but name.
  }
  const auto calendar = plat::stamp_to_system_time(value);
  if (calendar) {
    out.month = calendar->month;
    out.day = calendar->day;
    out.year = calendar->year;
    out.hour = calendar->hour;
    out.minute = calendar->minute;
    out.second = calendar->second;
    out.millisecond = calendar->millisecond;
  } else {
    // No calendar date: shown like a stamp that was never recorded.
    ok = false;
    out.year = 1601;
    out.millisecond = 0;
  }
  if (out.hour > 24 || out.year == 1601 || !ok) out.hour = out.minute = out.second = 0;
  if (out.year == 1601) {
    out.month = out.day = 0;
    out.year = 1980;
  }
  return ok;
}

void split(uint64_t stamp, uint32_t& low, uint32_t& high) {
  low = static_cast<uint32_t>(stamp & 0xFFFFFFFFu);
  high = static_cast<uint32_t>(stamp >> 32);
}

}  // namespace

int convert_file_times(file_times& times, int zulu, const plat::FindData& data) {
  split(data.creation, times.creation_low, times.creation_high);
  split(data.last_access, times.access_low, times.access_high);
  split(data.last_write, times.write_low, times.write_high);
  const bool access_ok = convert_stamp(data.last_access, zulu, true, times.last_access);
  const bool creation_ok = convert_stamp(data.creation, zulu, false, times.creation);
  const bool write_ok = convert_stamp(data.last_write, zulu, false, times.last_write);
  return (access_ok || creation_ok || write_ok) ? 0 : 1;
}

int get_file_times(file_times& times, int zulu, const std::u16string& path) {
  const auto stamps = plat::object_stamps(path);
  if (!stamps) return 1;
  plat::FindData data;
  data.creation = stamps->creation;
  data.last_access = stamps->last_access;
  data.last_write = stamps->last_write;
  return convert_file_times(times, zulu, data);
}
