// Date, time and computer-name tokens in output file names.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"

// Room for the computer name (terminator included); a longer name counts
// as not available.
inline constexpr size_t kComputerNameUnits = 260;

// The moment a template is expanded for, and the computer it runs on.
struct template_clock {
  plat::SystemTime local;
  plat::SystemTime gmt;
  std::optional<std::u16string> computer_name;  // nullopt: the query failed
};

// True when the path holds a template start the parser expands.
bool has_output_template(std::u16string_view path);

// The path with its template expanded for `clock`; unchanged when it has
// no template start. An expansion is never longer than kMaxPathUnits.
std::u16string expand_template(std::u16string_view path, const template_clock& clock);

// Rewrites output_path in place with the clock and computer name of now.
void expand_output_template();
