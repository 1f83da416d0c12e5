#include "ipconv/run.h"

#include <cstdio>
#include <cstring>

#include "framework/acct.h"
#include "framework/environment.h"
#include "framework/options.h"
#include "framework/reserve.h"
#include "framework/program_texts.h"
#include "framework/search_lists.h"
#include "framework/settings.h"
#include "framework/walk.h"
#include "ipconv/convert.h"
#include "ipconv/header.h"
#include "ipconv/jobs.h"
#include "ipconv/startup.h"
#include "platform/platform.h"

std::u16string dirfullpath;

void on_interrupt(int) {}

void init_buffers() {
  // The line number the messages give is the one users know from earlier
  // releases.
  constexpr int kReservationLine = 41;
  // The path buffers are reserved once, so the walk and the conversion
  // reuse them for every file instead of growing them.
  struct Reservation {
    std::u16string* buffer;
    size_t units;
    const char* message;
  };
  const Reservation reservations[] = {
      {&pg_complete_path, kPathBufferUnits, "Couldn't create pg_complete_path buffer\n"},
      {&g_streampath, kPathBufferUnits, "Couldn't create pg_complete_path buffer\n"},
      {&g_searchstr, kPathBufferUnits, "Line # %d: Memory error, couldn't create g_searchstr \n"},
      {&g_patternstr, 2 * kPathBufferUnits, "\nLine #: %d,  memory error"},
      {&dirfullpath, kPathBufferUnits, "\nLine %d:Couldn't create dirfullpath buffer\n"},
  };
  for (const auto& r : reservations)
    reserve_or_stop(*r.buffer, r.units, r.message, kReservationLine);
}

int volume_type() {
  const auto name = plat::volume_fs_name(plat::volume_root(dirfullpath));
  if (!name) return 0;
  if (*name == "NTFS") return 2;
  if (*name == "FAT32") return 4;
  return 1;
}

const char* format_thousands() {
  static char text[49];
  std::memset(text, 0, 48);
  const bool negative = g_bytes_counted < 0;
  uint64_t value = negative ? 0 - static_cast<uint64_t>(g_bytes_counted)
                            : static_cast<uint64_t>(g_bytes_counted);
  int pos = 46;
  int digits = 0;
  do {
    if (digits > 0 && digits % 3 == 0) text[pos--] = ',';
    text[pos--] = static_cast<char>('0' + value % 10);
    value /= 10;
    ++digits;
  } while (value != 0);
  if (negative) text[pos--] = '-';
  return text + pos + 1;
}

namespace {

// "-" among the leading file arguments: standard output is for the
// converted lines of standard input alone.
bool names_standard_input(const std::vector<std::u16string>& args) {
  for (size_t i = 1; i < args.size() && is_file_argument(args[i]); ++i)
    if (args[i] == kStandardInputArg) return true;
  return false;
}

void walk_search_dirs() {
  for (auto& dir : search_dirs) {
    if (dir.empty() || !plat::is_separator(dir.back())) dir += plat::separator();
    // The files of one search directory may lie in the next one's tree.
    finish_jobs();
    walk_dir(dir);
  }
}

}  // namespace

exit_status run_program(const std::vector<std::u16string>& args) {
  plat::set_stdin_unbuffered();
  plat::install_interrupt_handler(on_interrupt);
  plat::install_ending_handlers();
  if (args.size() < 2) {
    show_usage();
    show_help();
    std::fflush(nullptr);
    return exit_status::illegal_option;
  }
  g_run_started = plat::now_seconds();
  // Before anything can be written to stdout: from here on it goes to
  // standard error, the INI notes and option messages included.
  if (names_standard_input(args)) keep_data_output();
  init_buffers();
  g_file_hook = process_file;
  g_settle_hook = finish_jobs;
  set_run_cleanup(discard_jobs);
  init_environment();
  init_program_defaults();
  parse_options(args);
  open_output();
  // What the run writes is never one of its inputs.
  if (g_options.output == 1) note_run_file(out_file);
  note_run_file(acct_file);
  print_run_header(args);
  check_acct_file();  // the record of this run is complete here

  // Standard input alone is what the user asked for: no directory is walked.
  if (search_dirs.empty() && !standard_input_named) {
    if (auto cwd = plat::current_dir()) add_search_dir(*cwd);
  }
  settle_settings();
  choose_job_threads();

  dirfullpath = search_dirs.empty() ? std::u16string() : search_dirs.front();
  g_volume_type = volume_type();

  if (standard_input_named) convert_standard_input();

  if (g_options.immediate == 0 && g_options.output != 0) {
    std::fputs("\nCounting files: ", stderr);
    walk_search_dirs();
    g_counting = 0;
    if (g_options.auto_width != 0) {
      g_options.width = static_cast<int32_t>(g_max_path_len + 2);
      std::fprintf(stderr, "\r  Maximum path length found is %d, -w %d installed\n",
                   g_options.width, g_options.width);
    }
    std::fprintf(stderr, "\r%7ld files to process,  %s bytes\n",
                 static_cast<long>(g_files_counted), format_thousands());
  } else {
    g_options.auto_width = 0;
  }

  g_counting = 0;
  walk_search_dirs();
  stop_jobs();
  report_unmatched_arguments();
  close_acct_file();
  const bool outputs_written = finish_output();
  std::fflush(nullptr);

  if (g_conversion_status == 3 || g_acct_write_failed || !outputs_written)
    return exit_status::output_file;
  if (g_conversion_status == 2 || g_walk_status == 2) return exit_status::input_file;
  // Part of what was asked was not done: a script must be able to tell.
  if (g_extra_item_ignored) return exit_status::illegal_option;
  return exit_status::normal_exit;
}

exit_status report_insufficient_memory() {
  std::fputs("\nInsufficient memory\n", stderr);
  return exit_status::insufficient_memory;
}

void reset_run_state() { dirfullpath.clear(); }
