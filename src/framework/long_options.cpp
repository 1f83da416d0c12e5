#include "framework/long_options.h"

#include <cstdio>
#include <string_view>

#include "framework/acct.h"
#include "framework/dates.h"
#include "framework/pause.h"
#include "framework/search_lists.h"
#include "framework/text.h"
#include "platform/platform.h"

namespace {

// Room the family gives the full paths and the date text of long options.
constexpr size_t kAcctPathChars = 2600;
constexpr size_t kMemoPathChars = 260;
constexpr size_t kDateChars = 259;

enum class match { first_n, whole };
enum class value_kind { none, required, optional, on_off };

// The rows in the order they are tested; the first name that matches wins.
// The program's --help lists them the same way (ipconv/option_table.cpp).
enum class row {
  acc, app, com, crc, create, del, exc, ext, file, line, gre, im, les, memo,
  name_after, newer, older, out, path, pau, rec, res, reverse, sha1, sha2,
  sha3, sha5, show, str, utf, var, wid, ver
};

struct long_row {
  std::u16string_view name;
  match compared;
  value_kind kind;
  row what;
};

constexpr long_row kRows[] = {
    {u"ACC", match::first_n, value_kind::required, row::acc},
    {u"LOG", match::first_n, value_kind::required, row::acc},
    {u"APP", match::first_n, value_kind::none, row::app},
    {u"COM", match::first_n, value_kind::required, row::com},
    {u"CRC", match::first_n, value_kind::none, row::crc},
    {u"CREATE", match::first_n, value_kind::none, row::create},
    {u"DEL", match::first_n, value_kind::required, row::del},
    {u"EXC", match::first_n, value_kind::required, row::exc},
    {u"EXT", match::first_n, value_kind::none, row::ext},
    {u"FILE", match::first_n, value_kind::required, row::file},
    {u"LINE", match::first_n, value_kind::optional, row::line},
    {u"GRE", match::first_n, value_kind::required, row::gre},
    {u"IM", match::first_n, value_kind::none, row::im},
    {u"LES", match::first_n, value_kind::required, row::les},
    {u"MEMO", match::first_n, value_kind::optional, row::memo},
    {u"NAMEAFTER", match::first_n, value_kind::optional, row::name_after},
    {u"NEW", match::first_n, value_kind::required, row::newer},
    {u"OLD", match::first_n, value_kind::required, row::older},
    {u"OUT", match::first_n, value_kind::required, row::out},
    {u"PATH", match::first_n, value_kind::required, row::path},
    {u"PAU", match::first_n, value_kind::none, row::pau},
    {u"REC", match::first_n, value_kind::on_off, row::rec},
    {u"RES", match::first_n, value_kind::on_off, row::res},
    {u"REVERSE", match::whole, value_kind::none, row::reverse},
    {u"SHA1", match::whole, value_kind::none, row::sha1},
    {u"SHA", match::whole, value_kind::none, row::sha1},
    {u"SHA2", match::first_n, value_kind::none, row::sha2},
    {u"SHA3", match::first_n, value_kind::none, row::sha3},
    {u"SHA5", match::first_n, value_kind::none, row::sha5},
    {u"SHOW", match::first_n, value_kind::optional, row::show},
    {u"STR", match::first_n, value_kind::on_off, row::str},
    {u"UTF", match::first_n, value_kind::none, row::utf},
    {u"VAR", match::first_n, value_kind::none, row::var},
    {u"WID", match::first_n, value_kind::required, row::wid},
    {u"VER", match::first_n, value_kind::on_off, row::ver},
};

const long_row* find_row(std::u16string_view text) {
  for (const long_row& r : kRows) {
    const bool hit = r.compared == match::whole
                         ? equals_ignore_case(text, r.name)
                         : starts_with_ignore_case(text, r.name);
    if (hit) return &r;
  }
  return nullptr;
}


// A name no row knows: reported, and the rest of the command line goes on.
void report_unknown(const std::u16string& text) {
  std::printf("\nIllegal or incomplete minusminus option of \"--%s\" IGNORED\n",
              plat::to_native(text).c_str());
  std::printf("Please check the option compatability and rerun if necessary\n");
  std::fflush(stdout);
  pause_seconds(3);
}

// Whether the row's kind of value takes `value`; an ON/OFF value is
// returned in `on_off` (ON without a value).
bool value_accepted(value_kind kind, const std::u16string& value, int32_t& on_off) {
  on_off = 1;
  switch (kind) {
    case value_kind::required:
      return !value.empty();
    case value_kind::on_off: {
      if (value.empty()) return true;
      const std::u16string upper = upper_ascii(value);
      if (upper == u"ON") return true;
      on_off = 0;
      return upper == u"OFF";
    }
    case value_kind::none:
    case value_kind::optional:
      return true;
  }
  return true;
}

// DEL: one character as written, "pipe", or the character's number.
char delimiter_of(const std::u16string& value) {
  if (value.size() == 1) return static_cast<char>(value[0] & 0xFF);
  if (value == u"pipe") return '|';
  return static_cast<char>(read_int32(value) & 0xFF);
}

void apply_name_after(const std::u16string& text, size_t name_size, bool has_equals,
                      const std::u16string& value, option_rec& options) {
  options.name_after = 1;
  options.name_after_set = 1;
  if (has_equals) {
    if (!value.empty()) name_after_width = read_int32(value);
    return;
  }
  // '--NAMEAFTER30': the width written straight after the name.
  const std::u16string rest = text.substr(name_size);
  if (!rest.empty() && rest[0] >= u'0' && rest[0] <= u'9') name_after_width = read_int32(rest);
}

// The options that take a file, a pattern or a number; false for the others.
bool apply_value_row(row what, const std::u16string& value, option_rec& options) {
  switch (what) {
    case row::acc:
      set_acct_override(value, kAcctPathChars, acct_overrider::long_option, options);
      break;
    case row::com:
      options.comment = 1;
      set_comment_text(value);
      break;
    case row::del: delim_char = delimiter_of(value); break;
    case row::exc:
      options.exclude = 1;
      add_exclude_pattern(upper_ascii(value));
      break;
    case row::file: add_file_type(value); break;
    case row::line:
      options.line_length = 80;
      if (!value.empty()) options.line_length = read_int32(value);
      break;
    case row::gre:
      options.size_greater = 1;
      size_greater_than = read_int64(value);
      break;
    case row::les:
      options.size_less = 1;
      size_less_than = read_int64(value);
      break;
    case row::memo:
      options.memo = 1;
      choose_memo_file(!value.empty(), value, kMemoPathChars);
      break;
    case row::newer:
      options.date_filter = 1;
      options.newer = 1;
      read_date_value(value, newer_days, newer_time, kDateChars);
      break;
    case row::older:
      options.date_filter = 1;
      options.older = 1;
      read_date_value(value, older_days, older_time, kDateChars);
      break;
    case row::out:
      options.output = 1;
      options.append = 0;
      output_path = full_path_or_value(value, kMaxPathUnits);
      break;
    case row::path: add_search_dir(value); break;
    case row::wid: options.width = read_int32(value); break;
    default: return false;
  }
  return true;
}

// The settings of the switches, plain or ON/OFF.
void apply_switch_row(row what, int32_t on_off, option_rec& options) {
  switch (what) {
    case row::app: options.append = 1; break;
    case row::crc:
      options.crc = 1;
      options.sha1 = 0;
      options.hash = 0;
      break;
    case row::create: options.create = 1; break;
    case row::ext:
      options.ext_mode = 1;
      options.name_format = 2;
      break;
    case row::im: options.immediate = 1; break;
    case row::pau: options.pause = 1; break;
    case row::rec: options.recurse = on_off; break;
    case row::res: options.reset_access = on_off; break;
    case row::reverse: options.reverse = 1; break;
    case row::sha1: options.sha1 = 1; break;
    case row::sha2: options.sha2 = 1; break;
    case row::sha3: options.sha3 = 1; break;
    case row::sha5: options.sha5 = 1; break;
    case row::show:
      options.show = 1;
      options.recurse = 1;
      options.var_len = 1;
      options.delim = 1;
      delim_char = '|';
      break;
    case row::str: options.streams = on_off; break;
    case row::utf: options.utf8 = 1; break;
    case row::var: options.var_len = 1; break;
    // VERBOSE: on (also bare, as the INI directive on sight) means quiet off.
    case row::ver: options.quiet = on_off ? 0 : 1; break;
    default: break;
  }
}

}  // namespace

int parse_long_option(const std::u16string& text, option_rec& options) {
  const long_row* r = find_row(text);
  if (!r) {
    report_unknown(text);
    return 0;
  }
  const size_t equals = text.find(u'=');
  const bool has_equals = equals != std::u16string::npos;
  const std::u16string value = has_equals ? text.substr(equals + 1) : std::u16string();

  int32_t on_off = 1;
  if (!value_accepted(r->kind, value, on_off)) return 1;
  if (r->what == row::name_after)
    apply_name_after(text, r->name.size(), has_equals, value, options);
  else if (!apply_value_row(r->what, value, options))
    apply_switch_row(r->what, on_off, options);
  return 0;
}

bool long_option_known(const std::u16string& text) { return find_row(text) != nullptr; }
