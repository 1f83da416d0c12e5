// The command-line parser: the accounting variable, the INI file, the
// leading file arguments, the option groups from left to right and
// the steps that close parsing.
#include "framework/options.h"

#include <cstdio>

#include "framework/acct.h"
#include "framework/argument_checks.h"
#include "framework/dates.h"
#include "framework/exit_status.h"
#include "framework/ini.h"
#include "framework/long_options.h"
#include "framework/output_template.h"
#include "framework/pause.h"
#include "framework/program_texts.h"
#include "framework/requests.h"
#include "framework/search_lists.h"
#include "framework/settings.h"
#include "framework/text.h"
#include "platform/platform.h"

bool g_extra_item_ignored = false;

bool begins_option_group(const std::u16string& arg) {
  if (arg.empty()) return false;
  return arg[0] == u'-' || arg[0] == u'+' ||
         (arg[0] == u'/' && plat::slash_begins_option());
}

bool is_long_option(const std::u16string& arg) {
  return arg.size() > 1 && arg[1] == u'-' && begins_option_group(arg);
}

bool is_file_argument(const std::u16string& arg) {
  return arg == kStandardInputArg || !begins_option_group(arg);
}

namespace {

// The -p list ends only at '-' or '+': a directory may begin with '/'.
bool ends_dir_list(const std::u16string& arg) {
  return !arg.empty() && (arg[0] == u'-' || arg[0] == u'+');
}

// A value missing at the end of the command line: nothing to read, so the
// run cannot go on with what the user meant.
[[noreturn]] void missing_value() {
  show_usage();
  end_run(exit_status::illegal_option);
}

// One option group being scanned: the arguments, the index of the group
// and the position of the current letter in it.
struct Scan {
  const std::vector<std::u16string>& args;
  size_t i;
  std::u16string group;  // a copy: taking a value moves i on
  size_t j;
  bool group_done;

  bool plus() const { return group[0] == u'+'; }
  bool has_attached() const { return j + 1 < group.size(); }
  std::u16string attached() const { return group.substr(j + 1); }

  // The value of a letter: attached (after an optional '=' where the letter
  // allows one) or the next argument, which is then consumed. For -1 and -C
  // a next argument that looks like an option draws the usage text first;
  // it is still taken.
  std::u16string take_value(bool allow_equals, bool warn_dash) {
    group_done = true;
    if (has_attached()) {
      std::u16string value = attached();
      if (allow_equals && value[0] == u'=') value.erase(0, 1);
      return value;
    }
    if (i + 1 >= args.size()) missing_value();
    ++i;
    if (warn_dash && !args[i].empty() && args[i][0] == u'-') show_usage();
    return args[i];
  }
};


void option_acct(Scan& s) {
  if (s.plus() && s.j == 1) {
    g_options.accounting = 0;
    close_acct_file();
    return;
  }
  set_acct_override(s.take_value(false, true), kMaxPathUnits, acct_overrider::option_letter,
                    g_options);
}

void option_8(Scan& s) {
  if (s.j + 1 >= s.group.size() || s.group[s.j + 1] != u'8') {
    g_options.opt_8 = 1;
    return;
  }
  s.group_done = true;
  g_options.opt_8 = 0;
  g_options.name_format = 1;
  std::u16string rest = s.group.substr(s.j + 2);
  if (rest.empty()) return;
  name_format_width = read_int32(rest);
  g_options.name_format = 2;
  if (contains(rest, u"E")) g_options.ext_mode = 2;
  if (contains(rest, u"e")) g_options.ext_mode = 1;
}

void option_attributes(Scan& s) {
  s.group_done = true;
  g_options.attr_filter = 1;
  std::u16string rest = s.attached();
  if (rest.empty()) {
    std::fprintf(stderr, "\n-A option needs a modifier [rhms]\n");
    return;
  }
  for (char16_t c : rest) {
    switch (c) {
      case u'd': g_options.dir_mode += 1; g_options.dir_select = 1; break;
      case u'D': g_options.dir_mode += 2; g_options.dir_select = 1; break;
      case u'h': case u'H': g_options.attr_hidden = 1; break;
      case u'm': case u'M': g_options.attr_archive = 1; break;
      case u'r': case u'R': g_options.attr_readonly = 1; break;
      case u's': case u'S': g_options.attr_system = 1; break;
      case u'e': case u'E': g_options.attr_e = 1; break;
      default: break;
    }
  }
}

void option_range(Scan& s) {
  std::u16string value = s.take_value(false, false);
  range_low = read_int64(value);
  size_t comma = value.find(u',');
  if (comma != std::u16string::npos) range_high = read_int64(value.substr(comma + 1));
  if (!value.empty() && (value.back() == u'o' || value.back() == u'c'))
    range_mode = value.back();
}

void option_output(Scan& s) {
  if (s.plus()) {
    g_options.append = 0;
    g_options.output = 0;
    return;
  }
  std::u16string value = s.take_value(false, false);
  g_options.output = 1;
  if (equals_ignore_case(value, u"stdout")) {
    g_options.output = -1;
    g_options.append = 0;
    return;
  }
  output_path = full_path_or_value(value, kMaxPathUnits);
  if (has_output_template(output_path)) expand_output_template();
  std::printf("\n\n%d %s\n-o outputname %s\n\n", 886, ".\\Options_u",
              plat::to_native(output_path).c_str());
}

void option_dir_list(Scan& s) {
  while (s.i + 1 < s.args.size() && !ends_dir_list(s.args[s.i + 1]))
    add_search_dir(s.args[++s.i]);
}

// Attribute bits of the -q directives.
int32_t attr_bit(char16_t c) {
  switch (upper_ascii(c)) {
    case u'H': return 0x02;
    case u'A': return 0x20;
    case u'R': return 0x01;
    case u'S': return 0x04;
    case u'E': return 0x4000;
    default: return 0;
  }
}

void option_attr_bits(Scan& s) {
  g_options.attr_filter = 1;
  if (!s.has_attached()) return;
  char16_t sign = s.group[s.j + 1];
  if (sign != u'-' && sign != u'+') return;
  s.group_done = true;
  const bool include = sign == u'+';
  for (char16_t c : s.group.substr(s.j + 2)) {
    if (c == u'0' || c == u'n' || c == u'N') {
      attr_exclude = 0x4023;
      if (include) attr_include = 0;
      continue;
    }
    (include ? attr_include : attr_exclude) |= attr_bit(c);
  }
}

void option_time(Scan& s) {
  if (s.plus()) {
    g_options.show_time = 0;
    g_options.time_kind = 'w';
    return;
  }
  g_options.time_kind = 'w';
  g_options.show_time = 1;
  char16_t letter;
  if (s.has_attached()) {
    letter = s.group[++s.j];
  } else {
    if (s.i + 1 >= s.args.size()) missing_value();
    const std::u16string& next = s.args[++s.i];
    if (next.empty()) return;  // no letter: the default kind stays
    letter = next[0];
  }
  g_options.time_kind = letter;
  switch (letter) {
    case u'3':
      g_options.all_times = 1;
      break;
    case u'0':
      g_options.all_times = 0;
      g_options.zulu = 0;
      g_options.show_time = 0;
      break;
    case u'W': case u'C': case u'A':
      g_options.time_kind = letter + (u'a' - u'A');
      g_options.time_long = 1;
      break;
    default:
      break;
  }
}

void option_width(Scan& s) {
  int32_t value = read_int32(s.take_value(true, false));
  g_options.width = value;
  g_options.name_width = value;
}

void option_delimiter(Scan& s) {
  std::u16string value = s.take_value(true, false);
  g_options.delim = 1;
  if (value.size() == 1)
    delim_char = static_cast<char>(value[0] & 0xFF);
  else
    delim_char = static_cast<char>(read_int32(value) & 0xFF);
}

void option_file_types(Scan& s) {
  const char16_t sep = plat::separator();
  while (s.i + 1 < s.args.size() && !begins_option_group(s.args[s.i + 1])) {
    const std::u16string& type = s.args[++s.i];
    for (char16_t c : type)
      if (c == sep)
        std::fprintf(stderr, "Can't have a %c in the file type option\n",
                     static_cast<char>(sep));
    add_file_type(type);
  }
}

void option_date(Scan& s, bool older) {
  std::u16string value = s.take_value(false, false);
  g_options.date_filter = 1;
  (older ? g_options.older : g_options.newer) = 1;
  if (older)
    read_date_value(value, older_days, older_time);
  else
    read_date_value(value, newer_days, newer_time);
}

void option_exclude(Scan& s) {
  g_options.exclude = 1;
  exclude_list.clear();
  exclude_count = 0;
  if (s.i + 1 >= s.args.size()) missing_value();
  const std::u16string& first = s.args[s.i + 1];
  if (!first.empty() && first[0] == u'-') missing_value();
  int32_t given = 0;
  while (s.i + 1 < s.args.size() && !begins_option_group(s.args[s.i + 1])) {
    // Patterns beyond the list's room are dropped, but still consumed.
    add_exclude_pattern(upper_ascii(s.args[++s.i]));
    ++given;
  }
  if (given > kExcludeMax) {
    std::fprintf(stderr, "\nYou have too many -eXclude file types.\n");
    std::fprintf(stderr, "Max exclude types is %d\n", kExcludeMax);
  }
  if (exclude_list.size() > kExcludeKept) exclude_list.resize(kExcludeKept);
  exclude_count = static_cast<int32_t>(exclude_list.size());
}

void option_name_width(Scan& s, int32_t& flag) {
  if (s.plus()) {
    flag = 0;
    return;
  }
  flag = 1;
  if (s.has_attached()) {
    s.group_done = true;
    std::u16string value = s.attached();
    if (value[0] == u'=') value.erase(0, 1);
    if (!value.empty()) g_options.width = read_int32(value);
  }
}

[[noreturn]] void illegal_letter(const Scan& s) {
  std::printf("\nIllegal option %s\n",
              plat::to_native(s.group.substr(s.j)).c_str());
  show_help();
  pause_seconds(2);
  end_run(exit_status::illegal_option);
}

void process_letter(Scan& s) {
  const char16_t c = s.group[s.j];
  switch (c) {
    case u'-': {
      s.group_done = true;
      std::u16string text = s.attached();
      answer_request(text);  // also inside a group, as in -r-HELP
      if (is_jobs_option(text)) {
        apply_jobs_option(text);
        break;
      }
      // Inside a group too (-r-HLEP), with nothing but the tree to convert.
      if (file_argument_count == 0 && !long_option_known(text)) answer_help();
      if (parse_long_option(text, g_options) != 0) {
        std::printf("\nIllegal option: %s", plat::to_native(text).c_str());
        end_run(exit_status::illegal_option);
      }
      break;
    }
    case u'1': option_acct(s); break;
    case u'8': option_8(s); break;
    case u'?': answer_help();
    case u'A': option_attributes(s); break;
    case u'C':
      set_comment_text(s.take_value(false, true));
      g_options.comment = 1;
      break;
    case u'D': option_range(s); break;
    case u'G':
      size_greater_than = read_int64(s.take_value(false, false));
      g_options.size_greater = 1;
      break;
    case u'H': case u'h': g_options.opt_h = 1; break;
    case u'I': case u'i': g_options.immediate = 1; break;
    case u'L':
      size_less_than = read_int64(s.take_value(false, false));
      g_options.size_less = 1;
      break;
    case u'M': g_options.auto_width = 1; break;
    case u'N': option_name_width(s, g_options.path_only); break;
    case u'n':
      option_name_width(s, g_options.name_only);
      if (!s.plus()) g_options.name_width = g_options.width;
      break;
    case u'O':
      g_options.append = 1;
      option_output(s);
      break;
    case u'o': option_output(s); break;
    case u'P': g_options.pause ^= 1; break;
    case u'p': option_dir_list(s); break;
    case u'q': option_attr_bits(s); break;
    case u'R': g_options.reset_access = 1; break;
    case u'r':
      if (s.plus()) g_options.recurse = 1; else g_options.recurse ^= 1;
      break;
    case u'S':
      if (s.plus()) g_options.streams = 1; else g_options.streams ^= 1;
      break;
    case u'T':
      if (!s.plus()) g_options.reverse = 1;
      option_time(s);
      break;
    case u't': option_time(s); break;
    case u'U': case u'u': case u'Z': case u'z': g_options.zulu = 1; break;
    case u'V': g_options.var_len = 1; break;
    case u'v': g_options.quiet = 0; break;
    case u'W': case u'w': option_width(s); break;
    case u'X':
      g_options.opt_X = s.has_attached() ? 2 : 1;
      s.group_done = true;
      break;
    case u'a':
      g_options.append = s.plus() ? 0 : 1;
      break;
    case u'd': option_delimiter(s); break;
    case u'f': option_file_types(s); break;
    case u'g': option_date(s, true); break;
    case u'l': option_date(s, false); break;
    case u'm':
      if (s.plus()) g_options.show_time = 1; else g_options.show_time ^= 1;
      break;
    case u'x': option_exclude(s); break;
    default: illegal_letter(s);
  }
}

void write_extra_item(const std::u16string& arg) {
  std::printf("\nThere appears to be an extra or eroneous item \"%s\"\n",
              plat::to_native(arg).c_str());
  std::printf("at the end of the command line\n");
  std::printf("Please check your syntax, and correct to problem.\n");
}

void end_of_parsing() {
  refuse_output_over_input();
  if (type_list.empty()) add_file_type(u"*.*");
  if (g_options.accounting) {
    acct_file = open_acct_file(acct_path);
    if (!acct_file) std::printf("\nAccounting file not opened\n");
  }
  if (!acct_file && g_options.split) {
    g_options.accounting = 1;
    split_log_path = output_path + u".log";
    acct_file = open_acct_file(split_log_path);
  }
  if (g_options.memo) {
    if (!memo_file) memo_file = acct_file;
    if (memo_file) memo_entry();
  }
  if (g_options.var_len && !g_options.delim) {
    g_options.delim = 1;
    delim_char = '|';
  }
  if (g_options.path_only == 1) g_options.name_only = 0;
}

}  // namespace

void parse_options(const std::vector<std::u16string>& args) {
  acct_path.reserve(kPathBufferUnits);
  split_log_path.reserve(kPathBufferUnits);
  exclude_list.reserve(kExcludeSlots);

  answer_requests_first(args);
  answer_mistakes_without_file_argument(args);

  if (auto acct = plat::get_env("ACCT")) {
    const std::u16string name = equals_ignore_case(*acct, u"ON") ? u"ACCT-ING" : *acct;
    acct_file = open_acct_file(name);
  }

  read_ini_file(args, g_options);

  size_t i = 1;
  for (; i < args.size() && is_file_argument(args[i]); ++i) {
    ++file_argument_count;
    if (args[i] == kStandardInputArg)
      standard_input_named = true;
    else
      add_search_arg(args[i]);
  }
  const size_t file_args = i - 1;

  for (; i < args.size(); ++i) {
    // A "-" after the options, with no file argument before them, meant
    // standard input ("ipconv -v -"): walking the current directory instead
    // would convert what was not asked for.
    const bool misplaced_input = file_args == 0 && args[i] == kStandardInputArg;
    if (!begins_option_group(args[i]) || misplaced_input) {
      write_extra_item(args[i]);
      // Without a file argument the run would convert the current
      // directory instead of what was typed: most likely a file named
      // after the options.
      if (file_args == 0) end_run(exit_status::illegal_option);
      g_extra_item_ignored = true;
      break;
    }
    if (args[i] == u"-.ini") {
      // The INI reader saw it; whatever follows is taken as a group.
      if (++i >= args.size()) break;
    }
    Scan s{args, i, args[i], 1, false};
    for (; !s.group_done && s.j < s.group.size(); ++s.j) process_letter(s);
    i = s.i;
  }

  end_of_parsing();
}

void reset_options_state() { g_extra_item_ignored = false; }
