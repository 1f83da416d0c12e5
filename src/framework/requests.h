// Whole words among the long options, looked at before the long-option
// table: the requests for a text (--help, --usage, --version, /?) and the
// number of threads (--JOBS=N).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The usage and help texts, then the end of the run with status 5.
[[noreturn]] void answer_help();
// --HELP, --USAGE or --VERSION in any case (text without the dashes) is
// answered on standard output and ends the run; anything else returns.
void answer_request(std::u16string_view long_text);
// A help or version request is answered before anything else is acted on,
// wherever it stands among the arguments.
void answer_requests_first(const std::vector<std::u16string>& args);

// A number of threads as --JOBS=N and the environment give it: a whole
// number from 1 to kThreadsMax; nullopt for anything else.
std::optional<int32_t> read_thread_count(std::u16string_view text);
// --JOBS=N, whole word in any case (text without the dashes): true for
// that name whatever follows it.
bool is_jobs_option(std::u16string_view text);
// Takes --JOBS=N into the settings; any other value ends the run as a
// long option with a bad value does.
void apply_jobs_option(const std::u16string& text);
