// The INI directives: each line is tested against the rows below in their
// order, and the first row whose word it holds applies it.
#include "framework/ini.h"

#include <array>
#include <cstdio>
#include <string_view>

#include "framework/acct.h"
#include "framework/dates.h"
#include "framework/pause.h"
#include "framework/search_lists.h"
#include "framework/text.h"
#include "platform/platform.h"

namespace {

// Room the family gives the full paths of its INI values.
constexpr size_t kAcctPathChars = 260;
constexpr size_t kMemoPathChars = 1040;

bool has_text(std::string_view text, std::string_view word) {
  return text.find(word) != std::string_view::npos;
}

// One directive line. Every test is made on the upper-cased text; the
// text as written is kept beside it for values that name files, which
// keep their case where the platform's names do.
struct DirectiveLine {
  std::string upper;
  std::string raw;
  bool has_value = false;
  size_t value_pos = 0;

  explicit DirectiveLine(const std::string& line)
      : upper(upper_ascii(std::string_view(line))), raw(line) {
    const size_t equals = upper.find('=');
    has_value = equals != std::string::npos;
    value_pos = has_value ? equals + 1 : upper.size();
  }

  bool begins(std::string_view word) const {
    return std::string_view(upper).substr(0, word.size()) == word;
  }
  bool has(std::string_view word) const { return has_text(upper, word); }

  std::string_view value() const {
    return std::string_view(upper).substr(value_pos);
  }
  char first_of_value() const { return value().empty() ? '\0' : value().front(); }
  // ON or YES anywhere in the value.
  bool value_on() const {
    return has_value && (has_text(value(), "ON") || has_text(value(), "YES"));
  }
  bool value_off() const { return has_value && has_text(value(), "OFF"); }

  std::u16string wide_value() const {
    return plat::from_native(std::string(value()));
  }
  // A value naming a file or directory.
  std::u16string name_value() const {
    if (!plat::names_keep_case()) return wide_value();
    return plat::from_native(raw.substr(value_pos));
  }
};

// The switch rule: on at sight; ON or YES in the value turns it on, and
// OFF, tested last, turns it off (so OFF wins over ON).
void apply_switch(int32_t& field, const DirectiveLine& line) {
  field = 1;
  if (line.value_on()) field = 1;
  if (line.value_off()) field = 0;
}

// ON sets the field and OFF clears it; anything else leaves it as it was.
void apply_on_off(int32_t& field, const DirectiveLine& line) {
  if (line.value_on()) field = 1;
  if (line.value_off()) field = 0;
}

// True, after telling the user, when the directive has no value. The
// message names the line (`format` takes it) and may say what follows
// (`then`); the wait lets the user read it before start-up goes on.
bool lacks_value(const DirectiveLine& line, const char* format, const char* then = nullptr,
                 int seconds = 2) {
  if (line.has_value) return false;
  std::printf(format, line.upper.c_str());
  if (then) std::printf("%s", then);
  std::fflush(stdout);
  pause_seconds(seconds);
  return true;
}

constexpr const char* kMissingModifier = "\nMissing ini file modifier at: %s";
constexpr const char* kIllegalDirective = "\nIllegal ini file directive %s";

// Only a date turns the NEWER or OLDER filter itself on.
void apply_date_directive(const DirectiveLine& line, int32_t& flag, int32_t& days,
                          int64_t& time) {
  if (read_date_value(line.wide_value(), days, time)) flag = 1;
}

// ---- The directives with rules of their own ------------------------------

using Apply = void (*)(const DirectiveLine&, option_rec&);

void accounting(const DirectiveLine& line, option_rec& options) {
  if (lacks_value(line, "\nMissing ini file modifier at: %s=")) {
    options.accounting = 0;
  } else if (line.value_off()) {
    options.accounting = 0;
  } else {
    set_acct_override(line.name_value(), kAcctPathChars, acct_overrider::ini_file, options);
  }
}

void all_hashes_and_times(const DirectiveLine& line, option_rec& options) {
  if (lacks_value(line, kMissingModifier)) return;
  if (line.value_on()) {
    options.show_time = 1;
    options.all_times = 1;
    options.time_kind = '3';
    options.all_hashes = 1;
    options.hash = 1;
  }
  if (line.value_off()) {
    options.all_times = 0;
    options.all_hashes = 0;
  }
}

void all_times(const DirectiveLine& line, option_rec& options) {
  if (!line.has_value || line.value_on()) {
    options.show_time = 1;
    options.all_times = 1;
    options.time_kind = '3';
  }
  if (line.value_off()) options.all_times = 0;
}

void comment(const DirectiveLine& line, option_rec& options) {
  options.comment = 1;
  if (line.has_value) set_comment_text(line.wide_value());
}

void delimiter(const DirectiveLine& line, option_rec& options) {
  if (lacks_value(line, "\nMissing ini file directive %s") || line.value_off()) {
    options.delim = 0;
    return;
  }
  options.delim = 1;
  delim_char = line.first_of_value();
}

void exclude(const DirectiveLine& line, option_rec& options) {
  options.exclude = 1;
  if (lacks_value(line, "\nMissing/illegal ini file directive %s")) return;
  add_exclude_pattern(line.wide_value());
}

void extension(const DirectiveLine&, option_rec& options) {
  options.name_format = 2;
  options.ext_mode = 1;
}

void file_type(const DirectiveLine& line, option_rec&) {
  if (lacks_value(line, "\nMissing/Illegal ini file directive %s")) return;
  add_file_type(line.wide_value());
}

void greater(const DirectiveLine& line, option_rec& options) {
  options.size_greater = 1;
  if (lacks_value(line, kMissingModifier, "\nGREATER size option turned OFF", 3)) {
    options.size_greater = 0;
    return;
  }
  size_greater_than = read_int64(line.value());
}

void less_than(const DirectiveLine& line, option_rec& options) {
  options.size_less = 1;
  if (lacks_value(line, kIllegalDirective, "\nLESSTHAN size option turned OFF", 3)) {
    options.size_less = 0;
    return;
  }
  size_less_than = read_int64(line.value());
}

void memo(const DirectiveLine& line, option_rec& options) {
  options.memo = 1;
  if (line.value_off())
    options.memo = 0;
  else
    choose_memo_file(line.has_value, line.name_value(), kMemoPathChars);
}

void military(const DirectiveLine& line, option_rec& options) {
  apply_on_off(options.show_time, line);
}

void newer(const DirectiveLine& line, option_rec& options) {
  options.date_filter = 1;
  if (lacks_value(line, "\nMissing ini modifier at: %s", "\nAging modifier turned off")) {
    options.date_filter = 0;
    return;
  }
  apply_date_directive(line, options.newer, newer_days, newer_time);
}

void older(const DirectiveLine& line, option_rec& options) {
  options.date_filter = 1;
  if (lacks_value(line, kMissingModifier, "\nAging modifier turned off")) {
    options.date_filter = 0;
    return;
  }
  apply_date_directive(line, options.older, older_days, older_time);
}

void output(const DirectiveLine& line, option_rec& options) {
  if (lacks_value(line, kMissingModifier, "Output set to NOne\n", 3)) {
    options.output = 0;
    return;
  }
  options.output = 1;
  output_path = full_path_or_value(line.name_value(), kMaxPathUnits);
}

void search_path(const DirectiveLine& line, option_rec&) {
  if (lacks_value(line, "\nMissing/Illegal ini file directive %s")) return;
  add_search_dir(line.name_value());
}

void recurse(const DirectiveLine& line, option_rec& options) {
  if (lacks_value(line, "\nMissing ini file directive at: %s")) return;
  apply_on_off(options.recurse, line);
}

void reverse(const DirectiveLine& line, option_rec& options) {
  apply_switch(options.reverse, line);
  if (line.has_value && has_text(line.value(), "NO")) options.reverse = 0;
}

void silent(const DirectiveLine& line, option_rec& options) {
  options.quiet = 0;
  apply_on_off(options.quiet, line);
}

void verbose(const DirectiveLine& line, option_rec& options) {
  // Verbose on means quiet off, and the other way round.
  int32_t on = 0;
  apply_switch(on, line);
  options.quiet = on ? 0 : 1;
}

void split(const DirectiveLine& line, option_rec& options) {
  options.quiet += 1;
  options.split = lacks_value(line, kIllegalDirective) ? 0 : 1;
}

void streams(const DirectiveLine& line, option_rec& options) {
  options.streams = 0;
  if (lacks_value(line, kIllegalDirective)) return;
  apply_on_off(options.streams, line);
}

void time_kind(const DirectiveLine& line, option_rec& options) {
  options.time_long = 1;
  options.time_kind = 'w';
  if (lacks_value(line, kIllegalDirective)) return;
  const char first = line.first_of_value();
  options.time_kind = (first >= 'A' && first <= 'Z') ? first + 32 : first;
  options.show_time = 1;
}

void variable_length(const DirectiveLine&, option_rec& options) { options.var_len = 1; }

void width(const DirectiveLine& line, option_rec& options) {
  if (lacks_value(line, kMissingModifier)) return;
  options.width = read_int32(line.wide_value());
}

void zulu(const DirectiveLine& line, option_rec& options) {
  options.show_time = 1;
  if (lacks_value(line, kIllegalDirective)) return;
  apply_on_off(options.zulu, line);
}

void long_names(const DirectiveLine& line, option_rec& options) {
  options.opt_8 = 0;
  options.name_format = 1;
  if (!line.value_on() && line.value_off()) options.name_format = 0;
}

void short_names(const DirectiveLine&, option_rec& options) { options.opt_8 = 1; }

// The attribute switches also turn the attribute filter on.
template <int32_t option_rec::*field>
void attribute(const DirectiveLine& line, option_rec& options) {
  options.attr_filter = 1;
  apply_switch(options.*field, line);
}

void directories_only(const DirectiveLine& line, option_rec& options) {
  options.attr_filter = 1;
  options.dir_select = 1;
  if (line.value_on()) options.dir_mode = 2;
  if (line.value_off()) options.dir_mode = 0;
}

void directories(const DirectiveLine& line, option_rec& options) {
  options.attr_filter = 1;
  options.dir_select = 1;
  options.dir_mode = 1;
  if (line.value_off()) options.dir_select = 0;
}

// ---- The rows, in the order they are tested ------------------------------

enum class where { begins, anywhere };

struct directive_row {
  where match;
  std::array<std::string_view, 4> words;  // any one of them
  int32_t option_rec::*plain_switch;      // a plain switch on this field, or
  Apply apply;                            // a directive of its own
};

constexpr directive_row kDirectives[] = {
    {where::begins, {"ACCT", "ACCTING", "ACCOUNT", "LOG"}, nullptr, accounting},
    {where::begins, {"ALL_HT"}, nullptr, all_hashes_and_times},
    {where::begins, {"ALL_TIMES", "ALLTIMES"}, nullptr, all_times},
    {where::begins, {"APPEND"}, &option_rec::append, nullptr},
    {where::begins, {"AUTO"}, &option_rec::auto_width, nullptr},
    {where::begins, {"COMMENT"}, nullptr, comment},
    {where::begins, {"CRC"}, &option_rec::crc, nullptr},
    {where::anywhere, {"DELIM"}, nullptr, delimiter},
    {where::begins, {"EXC", "X="}, nullptr, exclude},
    {where::begins, {"EXT"}, nullptr, extension},
    {where::begins, {"FILE"}, nullptr, file_type},
    {where::anywhere, {"GREATER", "LARGER", "BIGGER"}, nullptr, greater},
    {where::begins, {"HASH"}, &option_rec::hash, nullptr},
    {where::anywhere, {"IMMEDIATE", "NO_COUNT"}, &option_rec::immediate, nullptr},
    {where::anywhere, {"LESSTHAN", "SMALLER"}, nullptr, less_than},
    {where::begins, {"MEMO"}, nullptr, memo},
    {where::anywhere, {"MILITARY"}, nullptr, military},
    {where::begins, {"NAMEONLY"}, &option_rec::name_only, nullptr},
    {where::anywhere, {"NEWER", "YOUNGER"}, nullptr, newer},
    {where::anywhere, {"OLDER"}, nullptr, older},
    {where::begins, {"OUTPUT"}, nullptr, output},
    {where::begins, {"PATH"}, nullptr, search_path},
    {where::begins, {"PPATHONLY"}, &option_rec::path_only, nullptr},
    {where::anywhere, {"PAUSE"}, &option_rec::pause, nullptr},
    {where::anywhere, {"RECURSE"}, nullptr, recurse},
    {where::anywhere, {"RESET"}, &option_rec::reset_access, nullptr},
    {where::begins, {"REVERSE"}, nullptr, reverse},
    {where::begins, {"SHA"}, &option_rec::sha1, nullptr},
    {where::anywhere, {"SILENT"}, nullptr, silent},
    {where::anywhere, {"VERBOSE"}, nullptr, verbose},
    {where::begins, {"SPLIT"}, nullptr, split},
    {where::begins, {"STREAM"}, nullptr, streams},
    {where::anywhere, {"TIME"}, nullptr, time_kind},
    {where::begins, {"VAR"}, nullptr, variable_length},
    {where::begins, {"WIDTH"}, nullptr, width},
    {where::anywhere, {"ZULU"}, nullptr, zulu},
    {where::anywhere, {"LFN", "LONGFILENAME"}, nullptr, long_names},
    {where::anywhere, {"8.3"}, nullptr, short_names},
    {where::begins, {"ARCHIVE"}, nullptr, attribute<&option_rec::attr_archive>},
    {where::anywhere, {"READONLY"}, nullptr, attribute<&option_rec::attr_readonly>},
    {where::anywhere, {"HIDDEN"}, nullptr, attribute<&option_rec::attr_hidden>},
    {where::anywhere, {"SYSTEM"}, nullptr, attribute<&option_rec::attr_system>},
    {where::anywhere, {"DIR_ONLY"}, nullptr, directories_only},
    {where::anywhere, {"DIRECTORY"}, nullptr, directories},
};

bool matches(const directive_row& row, const DirectiveLine& line) {
  for (std::string_view word : row.words) {
    if (word.empty()) break;
    if (row.match == where::begins ? line.begins(word) : line.has(word)) return true;
  }
  return false;
}

}  // namespace

void apply_ini_directive(const std::string& text, option_rec& options) {
  const DirectiveLine line(text);
  for (const directive_row& row : kDirectives) {
    if (!matches(row, line)) continue;
    if (row.plain_switch)
      apply_switch(options.*row.plain_switch, line);
    else
      row.apply(line, options);
    return;
  }
  // Anything else is a word of some other tool: ignored without a word.
}
