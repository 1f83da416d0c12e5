#include "framework/output_template.h"

#include <cstdio>

#include "framework/paths.h"
#include "framework/settings.h"
#include "framework/text.h"

namespace {

constexpr std::u16string_view kComputerToken = u"COMPUTERNAME";

// Where the template starts: the first "\MMDD", else "\YYYY", else
// "\YYMM", else "COMPUTERNAME"; the separator in front stays as written.
size_t template_start(std::u16string_view path) {
  const std::u16string sep(1, plat::separator());
  for (std::u16string_view token : {u"MMDD", u"YYYY", u"YYMM"}) {
    const size_t at = path.find(sep + std::u16string(token));
    if (at != std::u16string_view::npos) return at + 1;
  }
  return path.find(kComputerToken);
}

void append_number(std::u16string& out, const char* format, int value) {
  char text[24];
  std::snprintf(text, sizeof text, format, value);
  out += widen(text);
}

bool is_hour_letter(char16_t c) { return c == u'H' || c == u'h'; }

}  // namespace

bool has_output_template(std::u16string_view path) {
  return template_start(path) != std::u16string_view::npos;
}

std::u16string expand_template(std::u16string_view path, const template_clock& clock) {
  const size_t start = template_start(path);
  if (start == std::u16string_view::npos) return std::u16string(path);

  // The extension runs from the first dot of the file name; dots in
  // directory names do not count.
  const size_t dot = path.find(u'.', name_start(path));
  const std::u16string_view extension =
      dot == std::u16string_view::npos ? std::u16string_view() : path.substr(dot);

  const std::u16string_view tmpl = path.substr(start);
  const plat::SystemTime& t =
      tmpl.find(u'G') != std::u16string_view::npos ? clock.gmt : clock.local;

  // Only tokens are copied: every other character of the template is
  // dropped. Nothing beyond the longest path is kept.
  std::u16string expanded;
  size_t i = 0;
  while (i < tmpl.size() && expanded.size() < kMaxPathUnits) {
    const std::u16string_view rest = tmpl.substr(i);
    if (rest.starts_with(kComputerToken)) {
      if (clock.computer_name && clock.computer_name->size() < kComputerNameUnits)
        expanded += *clock.computer_name;
      i += kComputerToken.size();
    } else if (rest.starts_with(u"YYYY")) {
      append_number(expanded, "%04d", t.year);
      i += 4;
    } else if (rest.starts_with(u"YY")) {
      append_number(expanded, "%02d", t.year - 2000);
      i += 2;
    } else if (rest.starts_with(u"MM")) {
      append_number(expanded, "%02d", t.month);
      i += 2;
    } else if (rest.starts_with(u"DD")) {
      append_number(expanded, "%02d", t.day);
      i += 2;
    } else if (rest.size() >= 2 && is_hour_letter(rest[0]) && is_hour_letter(rest[1])) {
      append_number(expanded, "_%02d", t.hour);
      i += 2;
    } else if (rest.starts_with(u"mm")) {
      append_number(expanded, "%02d", t.minute);
      i += 2;
    } else {
      ++i;
    }
  }

  std::u16string result(path.substr(0, start));
  result += expanded;
  result += extension;
  if (result.size() > kMaxPathUnits) result.resize(kMaxPathUnits);
  return result;
}

void expand_output_template() {
  const int64_t now = plat::now_seconds();
  template_clock clock;
  clock.local = plat::broken_down(now, false);
  clock.gmt = plat::broken_down(now, true);
  if (output_path.find(kComputerToken) != std::u16string::npos)
    clock.computer_name = plat::computer_name();
  output_path = expand_template(output_path, clock);
}
