#include "framework/settings.h"

namespace {
// The companions that do not start zero or empty.
constexpr char kInitialDelim = ' ';
constexpr int32_t kInitialNameAfterWidth = -1;  // none given
constexpr int32_t kInitialNameFormatWidth = 75;

template <class... T>
void to_empty(T&... values) {
  ((values = T{}), ...);
}
}  // namespace

option_rec g_options;

std::u16string comment_text;

void set_comment_text(const std::u16string& text) {
  comment_text = text.substr(0, kCommentTextUnits - 1);
}
char delim_char = kInitialDelim;
std::u16string output_path;
std::u16string acct_path;
std::u16string split_log_path;
FILE* out_file = nullptr;
std::vector<std::u16string> exclude_list;
int32_t exclude_count = 0;
int32_t name_after_width = kInitialNameAfterWidth;
int32_t thread_count = 0;

int64_t size_greater_than = 0;
int64_t size_less_than = 0;
int32_t older_days = 0;
int32_t newer_days = 0;
int64_t older_time = 0;
int64_t newer_time = 0;
int64_t range_low = 0;
int64_t range_high = 0;
int32_t range_mode = 0;
int32_t attr_include = 0;
int32_t attr_exclude = 0;
int32_t name_format_width = kInitialNameFormatWidth;

void add_exclude_pattern(const std::u16string& upper_pattern) {
  if (exclude_list.size() + 1 >= kExcludeSlots) return;  // keep the end slot
  exclude_list.push_back(upper_pattern);
  exclude_count = static_cast<int32_t>(exclude_list.size());
}

void reset_settings() {
  g_options = option_rec{};
  to_empty(comment_text, output_path, acct_path, split_log_path, exclude_list, exclude_count,
           size_greater_than, size_less_than, older_days, newer_days, older_time, newer_time,
           range_low, range_high, range_mode, attr_include, attr_exclude, thread_count);
  delim_char = kInitialDelim;
  name_after_width = kInitialNameAfterWidth;
  name_format_width = kInitialNameFormatWidth;
  out_file = stdout;  // what tests write reports to
}
