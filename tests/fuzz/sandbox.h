// What the fuzz programs share: a private working directory for the
// settings parsers (they create accounting and memo files), a clean
// process state per input, and argument vectors cut from raw bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fuzz {

// Makes a fresh temporary directory the current directory for the rest of
// the process (removed at exit), and makes end_run throw and pauses count.
void enter_sandbox();
// Removes everything the last input created in the sandbox.
void clear_sandbox();

// Closes the streams a parser may have opened, then puts every setting,
// list and counter back to its state at process start.
void reset_state();

// Fails when a settings parser left a list, the comment or the output
// path larger than its fixed room.
void check_settings_within_limits();

// True when the bytes could name a file outside the sandbox: a separator
// (any absolute or relative path with a directory) is refused.
bool names_outside(std::string_view bytes);

// The bytes before the first NUL, and those after it (none without one):
// the two texts of a matcher's input.
std::pair<std::span<const uint8_t>, std::span<const uint8_t>> split_at_nul(const uint8_t* data,
                                                                           size_t size);

// The bytes cut at every NUL into arguments, each decoded as the platform
// decodes its arguments; argument 0 is the program.
std::vector<std::u16string> arguments_of(const uint8_t* data, size_t size);

// Aborts with a message: a broken property is a finding like a crash.
[[noreturn]] void fail(const char* what);
#define FUZZ_CHECK(condition) \
  do {                        \
    if (!(condition)) ::fuzz::fail(#condition); \
  } while (0)

}  // namespace fuzz
