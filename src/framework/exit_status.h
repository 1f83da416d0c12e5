// The ways a run ends, and the one place that ends it.
#pragma once

#include <cstdint>

enum class exit_status : int {
  normal_exit = 0,
  user_aborted = 1,
  input_file = 2,
  output_file = 3,
  paramater_file = 4,
  illegal_option = 5,
  insufficient_memory = 6,
  other_exit = 7,
  write_error = 8,
  corrupted_program_file = 9,
  read_error = 10,
  non_specific_error = 12,
};

// The status's name as the family prints it ("NORMAL_EXIT", ...).
const char* exit_status_name(exit_status status);

// Ends the process at once with `status`, after flushing the streams.
// Tests replace the ending (see set_run_end_hook) to observe it instead.
[[noreturn]] void end_run(exit_status status);

// Work the program has under way when the run ends at once (files being
// converted): undone first, before the streams are flushed.
using run_cleanup = void (*)();
void set_run_cleanup(run_cleanup cleanup);

using run_end_hook = void (*)(exit_status);
// A hook that must not return (it throws, for tests); nullptr restores exit.
void set_run_end_hook(run_end_hook hook);
