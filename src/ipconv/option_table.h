// The options as --help lists them. The manual page's option list and
// long-option table say the same, row for row (checked by the tests).
#pragma once

#include <cstdio>
#include <span>
#include <string_view>

// An option letter (with its + form and its value) or a whole word tested
// before the long-option table, such as --help.
struct letter_help {
  std::string_view written;  // as typed: "-o FILE, -O FILE, +o"
  std::string_view effect;
};

// A row of the long-option table, in the order the rows are tried.
struct long_help {
  std::string_view name;     // without the dashes: "ACC"
  std::string_view letters;  // how many first letters are compared, or "whole"
  std::string_view value;    // after '=': FILE (required), [N] (optional), "-" (none)
  std::string_view effect;
};

std::span<const letter_help> letter_help_rows();
std::span<const long_help> long_help_rows();

// The part of --help after the usage and help texts: every option, the
// exit statuses and where the manual is.
void write_option_list(FILE* stream);
