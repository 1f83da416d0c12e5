// The process-wide settings record and its companion values.
//
// Every writer (defaults, environment, INI file, option letters, long
// options) runs before the walk; afterwards the record is read only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct option_rec {
  // Fields consulted by this program, in declaration order.
  int32_t append;
  int32_t auto_width;
  int32_t accounting;
  int32_t comment;
  int32_t delim;
  int32_t dir_mode;
  int32_t width;
  int32_t show_time;
  int32_t name_only;
  int32_t path_only;
  int32_t name_after;
  int32_t output;  // 0 none, 1 file in output_path, -1 standard output
  int32_t recurse;
  int32_t time_long;
  int32_t opt_8;
  int32_t name_width;
  int32_t streams;
  int32_t split;
  int32_t time_kind;  // a character code: 'w', 'a', 'c', '3', '0', ...
  int32_t utf8;
  int32_t var_len;
  int32_t quiet;
  int32_t zulu;
  int32_t memo;
  int32_t immediate;
  int32_t exclude;
  // Recorded for the family's options; nothing in this program reads them.
  int32_t date_filter;
  int32_t all_times;
  int32_t all_hashes;
  int32_t attr_archive;
  int32_t attr_hidden;
  int32_t attr_readonly;
  int32_t attr_system;
  int32_t attr_filter;
  int32_t crc;
  int32_t dir_select;
  int32_t attr_e;
  int32_t ext_mode;
  int32_t size_greater;
  int32_t hash;
  int32_t opt_h;
  int32_t size_less;
  int32_t line_length;
  int32_t pause;
  int32_t reset_access;
  int32_t sha1;
  int32_t sha2;
  int32_t sha3;
  int32_t sha5;
  int32_t opt_X;
  int32_t reverse;
  int32_t name_after_set;
  int32_t show;
  int32_t older;
  int32_t newer;
  int32_t create;
  int32_t name_format;
};

extern option_rec g_options;

// Capacities that stored files and command lines rely on.
inline constexpr size_t kPathBufferUnits = 65536;  // a path buffer
inline constexpr size_t kMaxPathUnits = 32768;     // longest path a call yields
inline constexpr size_t kExcludeSlots = 160;       // exclude_list, with its end
inline constexpr size_t kExcludeKept = 78;         // -x cuts the list here
inline constexpr int32_t kExcludeMax = 80;         // "Max exclude types is"
inline constexpr size_t kCommentTextUnits = 260;   // comment_text, with its end

// Companion values.
extern std::u16string comment_text;
// Stores a comment cut to comment_text's room (kCommentTextUnits with the end).
void set_comment_text(const std::u16string& text);
extern char delim_char;
extern std::u16string output_path;
extern std::u16string acct_path;
extern std::u16string split_log_path;
extern FILE* out_file;   // framework reports; standard output by default
extern std::vector<std::u16string> exclude_list;  // upper-cased patterns
extern int32_t exclude_count;
extern int32_t name_after_width;
// Threads that convert files, from --JOBS=N (1 to kThreadsMax); 0: not
// given, the program chooses.
extern int32_t thread_count;
inline constexpr int32_t kThreadsMax = 64;

// Recorded-only companions.
extern int64_t size_greater_than;
extern int64_t size_less_than;
extern int32_t older_days;
extern int32_t newer_days;
extern int64_t older_time;
extern int64_t newer_time;
extern int64_t range_low;
extern int64_t range_high;
extern int32_t range_mode;
extern int32_t attr_include;
extern int32_t attr_exclude;
extern int32_t name_format_width;

// Appends one pattern to exclude_list, keeping exclude_count in step;
// patterns beyond the list's room are dropped.
void add_exclude_pattern(const std::u16string& upper_pattern);

// Zero-fills the record and puts every companion back to its initial
// value, as at process start; out_file becomes standard output.
void reset_settings();
