#include "ipconv/header.h"

#include <cstdio>
#include <memory>
#include <new>

#include "framework/acct.h"
#include "framework/exit_status.h"
#include "framework/settings.h"

namespace {

constexpr const char* kSourceName = "header.cpp";

// 'Www Mmm dd hh:mm:ss yyyy', built here so that no locale changes it.
std::string time_text(const plat::SystemTime& t) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const char* day = t.weekday >= 0 && t.weekday < 7 ? kDays[t.weekday] : "???";
  const char* month = t.month >= 1 && t.month <= 12 ? kMonths[t.month - 1] : "???";
  char text[64];
  std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %d", day, month, t.day, t.hour,
                t.minute, t.second, t.year);
  return std::string(text).substr(0, 24);
}

// The header's zone abbreviation: the first three characters, the second
// replaced by the one after the first blank, the third by the one after a
// later blank. A blank at the very end leaves the terminator in place, so
// the abbreviation ends there.
// Not the listing column's rule, on purpose: run headers already written read this way.
std::string header_abbreviation(const std::string& name, bool upper) {
  char abbrev[4] = {0, 0, 0, 0};
  for (size_t i = 0; i < 3 && i < name.size(); ++i) abbrev[i] = name[i];
  auto at = [&name](size_t i) { return i < name.size() ? name[i] : '\0'; };
  const size_t first = name.find(' ');
  if (first != std::string::npos) {
    abbrev[1] = at(first + 1);
    if (first + 2 <= name.size()) {
      const size_t further = name.find(' ', first + 2);
      if (further != std::string::npos) abbrev[2] = at(further + 1);
    }
  }
  std::string result(abbrev);  // up to the first terminator
  if (upper)
    for (char& c : result)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return result;
}

void write_arguments(FILE* stream, const std::vector<std::u16string>& args) {
  for (const std::u16string& arg : args) {
    plat::write_text(stream, arg);
    std::fputs(" ", stream);
  }
}

}  // namespace

void open_output() {
  if (g_options.output == 1) {
    FILE* stream = nullptr;
    if (g_options.append) {
      stream = plat::open_stream(output_path, "a+");
      if (stream == nullptr) {
        std::fprintf(stderr, "\ncan't open output file %s\n", plat::to_native(output_path).c_str());
        write_failure_reason(stderr);
        std::fprintf(stderr, "FILE: %s, LINE %d\n", kSourceName, __LINE__);
        end_run(exit_status::output_file);
      }
    } else {
      stream = plat::open_stream(output_path, "w");
      if (stream == nullptr) {
        std::fprintf(stderr, "\ncan't create output file %s\n",
                     plat::to_native(output_path).c_str());
        write_failure_reason(stderr);
        std::fprintf(stderr, "FILE: %s, LINE %d\n", kSourceName, __LINE__);
        end_run(exit_status::output_file);
      }
    }
    std::setvbuf(stream, nullptr, _IOFBF, BUFSIZ);
    out_file = stream;
  } else if (g_options.output == 0 && g_options.append) {
    std::printf("\n\tNeed output file name if -a is chosen\n");
  }
}

bool finish_output() {
  bool written = true;
  std::string reason;
  if (out_file != nullptr && out_file != stdout) {
    if (!stream_closed(out_file, reason)) {
      std::fprintf(stderr, "\nError writing output file %s: %s\n",
                   plat::to_native(output_path).c_str(), reason.c_str());
      written = false;
    }
    out_file = stdout;
  }
  if (!stream_written(stdout, reason)) {
    std::fprintf(stderr, "\nError writing standard output: %s\n", reason.c_str());
    written = false;
  }
  return written;
}

void run_header_times(run_header_texts& texts, int64_t start, const plat::ZoneInfo& zone) {
  texts.local_time = time_text(plat::broken_down(start, false));
  // The true UTC time of the start, whether daylight time is in force or not.
  texts.gmt_time = time_text(plat::broken_down(start, true));
  texts.offset_hours = static_cast<int>(zone.offset_seconds / 3600);
  texts.standard_name = zone.standard_name;
  texts.standard_abbrev = header_abbreviation(zone.standard_name, true);
  if (!zone.daylight || zone.daylight_name.empty()) {
    texts.daylight_name.clear();
    texts.daylight_abbrev.clear();
    texts.daylight_flag = 0;
    return;
  }
  texts.daylight_flag = 1;
  texts.daylight_name = zone.daylight_name;
  texts.daylight_abbrev = header_abbreviation(zone.daylight_name, false);
}

void run_header_times(run_header_texts& texts) {
  const plat::ZoneInfo zone = plat::refresh_zone();
  run_header_times(texts, plat::now_seconds(), zone);
}

void write_run_header(const run_header_texts& texts, const std::vector<std::u16string>& args) {
  if (g_options.output == 0 && g_options.quiet != 0) return;
  // hh:mm of the local time text.
  const std::string local_hhmm = texts.local_time.size() > 11 ? texts.local_time.substr(11, 5) : "";

  if (g_options.quiet == 0 && out_file != nullptr) {
    std::fputs("\nStarted ", out_file);
    std::fprintf(out_file, "%s GMT, ", texts.gmt_time.c_str());
    std::fprintf(out_file, "%.5s %s ", local_hhmm.c_str(), texts.standard_name.c_str());
    std::fprintf(out_file, "(%s/%s:%d%s)", texts.standard_abbrev.c_str(),
                 texts.daylight_abbrev.c_str(), texts.offset_hours,
                 texts.daylight_flag == 1 ? "*" : "");
    std::fputs("\n\n", out_file);
    std::fputs("Command line:  ", out_file);
    write_arguments(out_file, args);
    std::fputs("\nLast Access Date UPDATE is ", out_file);
    std::fputs("turned ON\n", out_file);
    std::fputs("\n\n", out_file);
  }

  if (acct_file != nullptr) {
    std::fputs("\n Started ", acct_file);
    if (!texts.standard_name.empty()) {
      std::fprintf(acct_file, "%s GMT, ", texts.gmt_time.c_str());
      std::fprintf(acct_file, "%.5s %s ", local_hhmm.c_str(), texts.standard_name.c_str());
      std::fprintf(acct_file, "(%s/%s:%d)", texts.standard_abbrev.c_str(),
                   texts.daylight_abbrev.c_str(), texts.offset_hours);
    } else {
      std::fprintf(acct_file, "%s Local Time: ", texts.local_time.c_str());
    }
    std::fputs("\n", acct_file);
    std::fputs(" Command Line: ", acct_file);
    write_arguments(acct_file, args);
    std::fputs("\nLast Access Date UPDATE is ", acct_file);
    std::fputs("turned ON\n", acct_file);
    std::fputs("\n", acct_file);
  }
}

void print_run_header(const std::vector<std::u16string>& args) {
  std::unique_ptr<run_header_texts> texts;
  try {
    texts = std::make_unique<run_header_texts>();
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "\nCan't get timezone information\n");
    end_run(exit_status::insufficient_memory);
  }
  run_header_times(*texts);
  write_run_header(*texts, args);
}
