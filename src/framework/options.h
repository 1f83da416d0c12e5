// The command-line parser: option letters, lists and the end of parsing.
#pragma once

#include <string>
#include <vector>

void parse_options(const std::vector<std::u16string>& args);

// An extra item after the options was passed over while a file argument
// let the run go on: the run ends with status 5 all the same.
extern bool g_extra_item_ignored;
void reset_options_state();

// True when the argument introduces an option group on this platform.
bool begins_option_group(const std::u16string& arg);
// True for a long option written as an argument of its own ("--NAME",
// "+-NAME").
bool is_long_option(const std::u16string& arg);
// True for a leading file argument: one that begins no option group, or a
// lone "-" (standard input).
bool is_file_argument(const std::u16string& arg);
