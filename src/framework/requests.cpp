// Whole-word long options: the text requests and --JOBS=N.
#include "framework/requests.h"

#include <cstdio>

#include "framework/acct.h"
#include "framework/exit_status.h"
#include "framework/options.h"
#include "framework/program_texts.h"
#include "framework/settings.h"
#include "framework/text.h"
#include "platform/platform.h"

namespace {

// A text asked for on standard output ends the run with status 0 once it
// reached it.
[[noreturn]] void answer_with(void (*show)()) {
  show();
  std::string reason;
  if (!stream_written(stdout, reason)) {
    std::fprintf(stderr, "\nError writing standard output: %s\n", reason.c_str());
    end_run(exit_status::output_file);
  }
  end_run(exit_status::normal_exit);
}

}  // namespace

void answer_help() {
  show_usage();
  show_help();
  end_run(exit_status::illegal_option);
}

// Whole words, because the long-option table's VER row would take
// "VERSION" by its prefix.
void answer_request(std::u16string_view long_text) {
  if (equals_ignore_case(long_text, u"HELP") || equals_ignore_case(long_text, u"USAGE"))
    answer_with(show_help_page);
  if (equals_ignore_case(long_text, u"VERSION")) answer_with(show_version);
}

// "/?" is a help request on every platform, never a path to walk.
void answer_requests_first(const std::vector<std::u16string>& args) {
  for (size_t k = 1; k < args.size(); ++k) {
    const std::u16string& arg = args[k];
    if (arg == u"/?") answer_help();
    if (is_long_option(arg)) answer_request(std::u16string_view(arg).substr(2));
  }
}

std::optional<int32_t> read_thread_count(std::u16string_view text) {
  if (text.empty() || text.size() > 4) return std::nullopt;
  int32_t value = 0;
  for (const char16_t c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + (c - u'0');
  }
  if (value < 1 || value > kThreadsMax) return std::nullopt;
  return value;
}

bool is_jobs_option(std::u16string_view text) {
  const std::u16string_view name = text.substr(0, text.find(u'='));
  return equals_ignore_case(name, u"JOBS");
}

void apply_jobs_option(const std::u16string& text) {
  const size_t equals = text.find(u'=');
  const auto count = equals == std::u16string::npos
                         ? std::nullopt
                         : read_thread_count(std::u16string_view(text).substr(equals + 1));
  if (!count) {
    std::printf("\nIllegal option: %s", plat::to_native(text).c_str());
    end_run(exit_status::illegal_option);
  }
  thread_count = *count;
}
