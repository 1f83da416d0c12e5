#include "framework/exit_status.h"

#include <cstdio>
#include <cstdlib>

namespace {
run_end_hook g_end_hook = nullptr;
run_cleanup g_cleanup = nullptr;
}

const char* exit_status_name(exit_status status) {
  switch (status) {
    case exit_status::normal_exit: return "NORMAL_EXIT";
    case exit_status::user_aborted: return "USER_ABORTED";
    case exit_status::input_file: return "INPUT_FILE";
    case exit_status::output_file: return "OUTPUT_FILE";
    case exit_status::paramater_file: return "PARAMATER_FILE";
    case exit_status::illegal_option: return "ILLEGAL or INCOMPLETE OPTION";
    case exit_status::insufficient_memory: return "INSUFFICIENT MEMORY";
    case exit_status::other_exit: return "OTHER_EXIT";
    case exit_status::write_error: return "WRITE_ERROR";
    case exit_status::corrupted_program_file: return "CORRUPTED Program FILE";
    case exit_status::read_error: return "READ_ERROR";
    case exit_status::non_specific_error: return "NON_SPECIFIC ERROR";
  }
  return "NON_SPECIFIC ERROR";
}

void set_run_end_hook(run_end_hook hook) { g_end_hook = hook; }

void set_run_cleanup(run_cleanup cleanup) { g_cleanup = cleanup; }

void end_run(exit_status status) {
  if (g_cleanup) g_cleanup();
  std::fflush(nullptr);
  if (g_end_hook) g_end_hook(status);
  std::exit(static_cast<int>(status));
}
