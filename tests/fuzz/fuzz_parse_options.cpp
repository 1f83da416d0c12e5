// parse_options over arbitrary argument vectors (the input cut at NUL
// bytes): the run either goes on or ends with one of the parser's own
// statuses, and the lists keep their room.
#include <cstdint>
#include <string>
#include <vector>

#include "framework/options.h"
#include "framework/search_lists.h"
#include "framework/settings.h"
#include "sandbox.h"
#include "support/test_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // An empty current directory: no INI file is found there, and the
  // accounting and memo files the arguments name are created there.
  fuzz::enter_sandbox();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (fuzz::names_outside(bytes)) return 0;
  fuzz::reset_state();
  const std::vector<std::u16string> args = fuzz::arguments_of(data, size);

  try {
    parse_options(args);
  } catch (const test::RunEnded& ended) {
    // Illegal or incomplete options, or an accounting file that can be
    // neither opened nor created; --version, and its text not written.
    FUZZ_CHECK(ended.status == exit_status::illegal_option ||
               ended.status == exit_status::user_aborted ||
               ended.status == exit_status::normal_exit ||
               ended.status == exit_status::output_file);
  }

  fuzz::check_settings_within_limits();
  fuzz::reset_state();
  fuzz::clear_sandbox();
  return 0;
}
