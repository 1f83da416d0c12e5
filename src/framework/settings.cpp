#include "framework/settings.h"

#include <cstring>

option_rec g_options;

std::u16string comment_text;

void set_comment_text(const std::u16string& text) {
  comment_text = text.substr(0, kCommentTextUnits - 1);
}
char delim_char = ' ';
std::u16string output_path;
std::u16string acct_path;
std::u16string split_log_path;
FILE* acct_file = nullptr;
bool g_acct_write_failed = false;
FILE* memo_file = nullptr;
FILE* out_file = nullptr;
std::vector<std::u16string> exclude_list;
int32_t exclude_count = 0;
int32_t name_after_width = -1;
std::string g_memo_text;

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
int32_t name_format_width = 75;

void add_exclude_pattern(const std::u16string& upper_pattern) {
  if (exclude_list.size() + 1 >= kExcludeSlots) return;  // keep the end slot
  exclude_list.push_back(upper_pattern);
  exclude_count = static_cast<int32_t>(exclude_list.size());
}

void reset_settings() {
  std::memset(&g_options, 0, sizeof g_options);
  comment_text.clear();
  delim_char = ' ';
  output_path.clear();
  acct_path.clear();
  split_log_path.clear();
  acct_file = nullptr;
  g_acct_write_failed = false;
  memo_file = nullptr;
  out_file = stdout;
  exclude_list.clear();
  exclude_count = 0;
  name_after_width = -1;
  g_memo_text.clear();
  size_greater_than = size_less_than = 0;
  older_days = newer_days = 0;
  older_time = newer_time = 0;
  range_low = range_high = 0;
  range_mode = 0;
  attr_include = attr_exclude = 0;
  name_format_width = 75;
}
