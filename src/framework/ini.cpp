#include "framework/ini.h"

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

// Lets the user read a message about the INI file before start-up goes on.
void wait_after_message(int seconds) {
  std::fflush(stdout);
  pause_seconds(seconds);
}


// Only a date turns the NEWER or OLDER filter itself on.
void apply_date_directive(const DirectiveLine& line, int32_t& flag,
                          int32_t& days, int64_t& time) {
  if (read_date_value(line.wide_value(), days, time)) flag = 1;
}

}  // namespace

void apply_ini_directive(const std::string& text, option_rec& options) {
  const DirectiveLine line(text);
  const char* whole = line.upper.c_str();

  if (line.begins("ACCT") || line.begins("ACCTING") ||
      line.begins("ACCOUNT") || line.begins("LOG")) {
    if (!line.has_value) {
      std::printf("\nMissing ini file modifier at: %s=", whole);
      wait_after_message(2);
      options.accounting = 0;
    } else if (line.value_off()) {
      options.accounting = 0;
    } else {
      set_acct_override(line.name_value(), kAcctPathChars, acct_overrider::ini_file, options);
    }
    return;
  }

  if (line.begins("ALL_HT")) {
    if (!line.has_value) {
      std::printf("\nMissing ini file modifier at: %s", whole);
      wait_after_message(2);
      return;
    }
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
    return;
  }

  if (line.begins("ALL_TIMES") || line.begins("ALLTIMES")) {
    if (!line.has_value || line.value_on()) {
      options.show_time = 1;
      options.all_times = 1;
      options.time_kind = '3';
    }
    if (line.value_off()) options.all_times = 0;
    return;
  }

  if (line.begins("APPEND")) return apply_switch(options.append, line);
  if (line.begins("AUTO")) return apply_switch(options.auto_width, line);

  if (line.begins("COMMENT")) {
    options.comment = 1;
    if (line.has_value) set_comment_text(line.wide_value());
    return;
  }

  if (line.begins("CRC")) return apply_switch(options.crc, line);

  if (line.has("DELIM")) {
    if (!line.has_value) {
      std::printf("\nMissing ini file directive %s", whole);
      wait_after_message(2);
      options.delim = 0;
    } else if (line.value_off()) {
      options.delim = 0;
    } else {
      options.delim = 1;
      delim_char = line.value().empty() ? '\0' : line.value().front();
    }
    return;
  }

  if (line.begins("EXC") || line.begins("X=")) {
    options.exclude = 1;
    if (!line.has_value) {
      std::printf("\nMissing/illegal ini file directive %s", whole);
      wait_after_message(2);
      return;
    }
    add_exclude_pattern(line.wide_value());
    return;
  }

  if (line.begins("EXT")) {
    options.name_format = 2;
    options.ext_mode = 1;
    return;
  }

  if (line.begins("FILE")) {
    if (!line.has_value) {
      std::printf("\nMissing/Illegal ini file directive %s", whole);
      wait_after_message(2);
      return;
    }
    add_file_type(line.wide_value());
    return;
  }

  if (line.has("GREATER") || line.has("LARGER") || line.has("BIGGER")) {
    options.size_greater = 1;
    if (!line.has_value) {
      std::printf("\nMissing ini file modifier at: %s", whole);
      std::printf("\nGREATER size option turned OFF");
      wait_after_message(3);
      options.size_greater = 0;
      return;
    }
    size_greater_than = read_int64(line.value());
    return;
  }

  if (line.begins("HASH")) return apply_switch(options.hash, line);

  if (line.has("IMMEDIATE") || line.has("NO_COUNT"))
    return apply_switch(options.immediate, line);

  if (line.has("LESSTHAN") || line.has("SMALLER")) {
    options.size_less = 1;
    if (!line.has_value) {
      std::printf("\nIllegal ini file directive %s", whole);
      std::printf("\nLESSTHAN size option turned OFF");
      wait_after_message(3);
      options.size_less = 0;
      return;
    }
    size_less_than = read_int64(line.value());
    return;
  }

  if (line.begins("MEMO")) {
    options.memo = 1;
    if (line.value_off())
      options.memo = 0;
    else
      choose_memo_file(line.has_value, line.name_value(), kMemoPathChars);
    return;
  }

  if (line.has("MILITARY")) {
    if (line.value_on()) options.show_time = 1;
    if (line.value_off()) options.show_time = 0;
    return;
  }

  if (line.begins("NAMEONLY")) return apply_switch(options.name_only, line);

  if (line.has("NEWER") || line.has("YOUNGER")) {
    options.date_filter = 1;
    if (!line.has_value) {
      std::printf("\nMissing ini modifier at: %s", whole);
      std::printf("\nAging modifier turned off");
      wait_after_message(2);
      options.date_filter = 0;
      return;
    }
    apply_date_directive(line, options.newer, newer_days, newer_time);
    return;
  }

  if (line.has("OLDER")) {
    options.date_filter = 1;
    if (!line.has_value) {
      std::printf("\nMissing ini file modifier at: %s", whole);
      std::printf("\nAging modifier turned off");
      wait_after_message(2);
      options.date_filter = 0;
      return;
    }
    apply_date_directive(line, options.older, older_days, older_time);
    return;
  }

  if (line.begins("OUTPUT")) {
    if (!line.has_value) {
      std::printf("\nMissing ini file modifier at: %s", whole);
      std::printf("Output set to NOne\n");
      wait_after_message(3);
      options.output = 0;
      return;
    }
    options.output = 1;
    output_path = full_path_or_value(line.name_value(), kMaxPathUnits);
    return;
  }

  if (line.begins("PATH")) {
    if (!line.has_value) {
      std::printf("\nMissing/Illegal ini file directive %s", whole);
      wait_after_message(2);
      return;
    }
    add_search_dir(line.name_value());
    return;
  }

  if (line.begins("PPATHONLY")) return apply_switch(options.path_only, line);
  if (line.has("PAUSE")) return apply_switch(options.pause, line);

  if (line.has("RECURSE")) {
    if (!line.has_value) {
      std::printf("\nMissing ini file directive at: %s", whole);
      wait_after_message(2);
      return;
    }
    if (line.value_on()) options.recurse = 1;
    if (line.value_off()) options.recurse = 0;
    return;
  }

  if (line.has("RESET")) return apply_switch(options.reset_access, line);

  if (line.begins("REVERSE")) {
    apply_switch(options.reverse, line);
    if (line.has_value && has_text(line.value(), "NO")) options.reverse = 0;
    return;
  }

  if (line.begins("SHA")) return apply_switch(options.sha1, line);

  if (line.has("SILENT")) {
    options.quiet = 0;
    if (line.value_on()) options.quiet = 1;
    if (line.value_off()) options.quiet = 0;
    return;
  }
  if (line.has("VERBOSE")) {
    // Verbose on means quiet off, and the other way round.
    int32_t verbose = 0;
    apply_switch(verbose, line);
    options.quiet = verbose ? 0 : 1;
    return;
  }

  if (line.begins("SPLIT")) {
    options.quiet += 1;
    if (!line.has_value) {
      std::printf("\nIllegal ini file directive %s", whole);
      wait_after_message(2);
      options.split = 0;
      return;
    }
    options.split = 1;
    return;
  }

  if (line.begins("STREAM")) {
    options.streams = 0;
    if (!line.has_value) {
      std::printf("\nIllegal ini file directive %s", whole);
      wait_after_message(2);
      return;
    }
    if (line.value_on()) options.streams = 1;
    if (line.value_off()) options.streams = 0;
    return;
  }

  if (line.has("TIME")) {
    options.time_long = 1;
    options.time_kind = 'w';
    if (!line.has_value) {
      std::printf("\nIllegal ini file directive %s", whole);
      wait_after_message(2);
      return;
    }
    const char first = line.value().empty() ? '\0' : line.value().front();
    options.time_kind = (first >= 'A' && first <= 'Z') ? first + 32 : first;
    options.show_time = 1;
    return;
  }

  if (line.begins("VAR")) {
    options.var_len = 1;
    return;
  }

  if (line.begins("WIDTH")) {
    if (!line.has_value) {
      std::printf("\nMissing ini file modifier at: %s", whole);
      wait_after_message(2);
      return;
    }
    options.width = read_int32(line.wide_value());
    return;
  }

  if (line.has("ZULU")) {
    options.show_time = 1;
    if (!line.has_value) {
      std::printf("\nIllegal ini file directive %s", whole);
      wait_after_message(2);
      return;
    }
    if (line.value_on()) options.zulu = 1;
    if (line.value_off()) options.zulu = 0;
    return;
  }

  if (line.has("LFN") || line.has("LONGFILENAME")) {
    options.opt_8 = 0;
    options.name_format = 1;
    if (!line.value_on() && line.value_off()) options.name_format = 0;
    return;
  }

  if (line.has("8.3")) {
    options.opt_8 = 1;
    return;
  }

  if (line.begins("ARCHIVE")) {
    options.attr_filter = 1;
    return apply_switch(options.attr_archive, line);
  }
  if (line.has("READONLY")) {
    options.attr_filter = 1;
    return apply_switch(options.attr_readonly, line);
  }
  if (line.has("HIDDEN")) {
    options.attr_filter = 1;
    return apply_switch(options.attr_hidden, line);
  }
  if (line.has("SYSTEM")) {
    options.attr_filter = 1;
    return apply_switch(options.attr_system, line);
  }

  if (line.has("DIR_ONLY")) {
    options.attr_filter = 1;
    options.dir_select = 1;
    if (line.value_on()) options.dir_mode = 2;
    if (line.value_off()) options.dir_mode = 0;
    return;
  }

  if (line.has("DIRECTORY")) {
    options.attr_filter = 1;
    options.dir_select = 1;
    options.dir_mode = 1;
    if (line.value_on()) {
      options.dir_select = 1;
      options.dir_mode = 1;
    }
    if (line.value_off()) options.dir_select = 0;
    return;
  }
  // Anything else is a word of some other tool: ignored without a word.
}

bool read_ini_piece(FILE* file, std::string& piece) {
  piece.clear();
  const bool ctrl_z_ends = plat::text_input_ends_at_ctrl_z();
  while (piece.size() < kIniPieceChars) {
    int c = std::getc(file);
    if (c == EOF) break;
    if (ctrl_z_ends && c == 0x1A) {
      std::ungetc(c, file);  // the end stays the end for the next read
      break;
    }
    if (c == '\r') {
      const int next = std::getc(file);
      if (next == '\n') {
        c = '\n';
      } else if (next != EOF) {
        std::ungetc(next, file);
      }
    }
    piece.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  if (piece.empty()) return false;
  // The runtime's string functions see a NUL as the end of the line.
  const size_t nul = piece.find('\0');
  if (nul != std::string::npos) piece.resize(nul);
  return true;
}

void read_ini_stream(FILE* file, bool own_section, const std::string& header,
                     option_rec& options) {
  std::string piece;
  if (own_section) {
    bool found = false;
    while (!found && read_ini_piece(file, piece))
      found = upper_ascii(std::string_view(piece)).starts_with(header);
    if (!found) return;
  }
  while (read_ini_piece(file, piece)) {
    if (!piece.empty() && piece.back() == '\n') piece.pop_back();
    const std::string upper = upper_ascii(std::string_view(piece));
    if (upper.empty()) continue;
    if (upper[0] == ';' || upper[0] == '#') continue;
    if (upper[0] == '[') {
      if (own_section) return;  // the next program's section
      continue;
    }
    if (own_section && has_text(upper, header)) return;
    apply_ini_directive(piece, options);
  }
}

namespace {

struct ProgramName {
  std::u16string dir;   // drive and directory, with the closing separator
  std::u16string base;  // without directory and extension
};

ProgramName split_program_path(const std::u16string& program) {
  ProgramName parts;
  size_t name_start = 0;
  for (size_t i = program.size(); i > 0; --i) {
    if (plat::is_separator(program[i - 1])) {
      name_start = i;
      break;
    }
  }
  parts.dir = program.substr(0, name_start);
  const std::u16string name = program.substr(name_start);
  parts.base = name.substr(0, name.rfind(u'.'));
  return parts;
}

}  // namespace

std::vector<ini_candidate> ini_candidates(const std::u16string& program) {
  const ProgramName parts = split_program_path(program);
  const std::u16string own = parts.base + u".ini";
  const std::u16string shared = u"VELDORAN.INI";
  const std::u16string fallback = u"PROGRAM.ini";
  return {
      {own, false},    {parts.dir + own, false},
      {shared, true},  {parts.dir + shared, true},
      {fallback, false}, {parts.dir + fallback, false},
  };
}

std::string ini_section_header(const std::u16string& program) {
  const std::string base = plat::to_native(split_program_path(program).base);
  std::string header = "[";
  header += upper_ascii(std::string_view(base));
  header += ']';
  return header;
}

void read_ini_file(const std::vector<std::u16string>& args, option_rec& options) {
  for (const std::u16string& arg : args)
    if (arg == u"-.ini") return;

  const std::u16string program = plat::program_path();
  for (const ini_candidate& candidate : ini_candidates(program)) {
    if (!plat::exists(candidate.path)) continue;
    // A directory of that name exists but cannot be read as a file.
    FILE* file = plat::is_directory(candidate.path)
                     ? nullptr
                     : plat::open_stream(candidate.path, "r");
    if (!file) {
      // Nothing can be read; after the user has seen it, start-up goes on
      // with the settings it has.
      std::printf("\nCouldn't open .ini file\n");
      std::fflush(stdout);
      std::getchar();
      return;
    }
    read_ini_stream(file, candidate.own_section,
                    ini_section_header(program), options);
    std::fclose(file);
    return;
  }
}
