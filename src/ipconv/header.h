// The output stream and the run header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

// The times and zone texts of the run header.
struct run_header_texts {
  std::string local_time;  // 'Www Mmm dd hh:mm:ss yyyy'
  std::string gmt_time;    // the same layout, in UTC
  std::string standard_name;
  std::string standard_abbrev;  // up to 3 letters, upper-cased
  std::string daylight_name;    // empty without daylight saving
  std::string daylight_abbrev;  // up to 3 letters, case kept
  int offset_hours = 0;         // positive west of Greenwich
  int daylight_flag = 0;
};

// Opens output_path as out_file when an output file is named; ends the
// run with status 3 when it cannot be opened.
void open_output();
// At the end of the run: closes the output file and pushes out standard
// output. False, after a message naming the file and the cause, when
// something written to either was lost.
bool finish_output();

// Fills the texts for the start time `start` (seconds since 1970 UTC) in
// `zone`; the local time is the process's own.
void run_header_times(run_header_texts& texts, int64_t start, const plat::ZoneInfo& zone);
// The same for now, after refreshing the zone information.
void run_header_times(run_header_texts& texts);

// Writes the header blocks for `texts` to out_file and acct_file, as the
// quiet and output settings ask.
void write_run_header(const run_header_texts& texts, const std::vector<std::u16string>& args);
void print_run_header(const std::vector<std::u16string>& args);
