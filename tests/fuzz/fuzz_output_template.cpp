// Output name templates: expand_template against a plain expansion for
// any clock and computer name, and expand_output_template on the real
// clock; text before the template never changes and no result is longer
// than a path may be.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "framework/output_template.h"
#include "framework/settings.h"
#include "framework/text.h"
#include "platform/platform.h"
#include "sandbox.h"

namespace {

std::u16string number(const char* format, int value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return widen(text);
}

std::optional<size_t> plain_start(const std::u16string& path) {
  for (const char16_t* token : {u"MMDD", u"YYYY", u"YYMM"}) {
    const size_t at = path.find(std::u16string(1, plat::separator()) + token);
    if (at != std::u16string::npos) return at + 1;
  }
  const size_t at = path.find(u"COMPUTERNAME");
  if (at != std::u16string::npos) return at;
  return std::nullopt;
}

std::u16string plain_expansion(const std::u16string& path, const template_clock& clock) {
  const std::optional<size_t> start = plain_start(path);
  if (!start) return path;
  size_t name = 0;
  for (size_t i = 0; i < path.size(); ++i)
    if (plat::is_separator(path[i])) name = i + 1;
  const size_t dot = path.find(u'.', name);
  const std::u16string extension = dot == std::u16string::npos ? u"" : path.substr(dot);
  const std::u16string tmpl = path.substr(*start);
  const plat::SystemTime& t = tmpl.find(u'G') != std::u16string::npos ? clock.gmt : clock.local;
  std::u16string out;
  for (size_t i = 0; i < tmpl.size();) {
    auto at = [&](const char16_t* token) { return tmpl.compare(i, std::char_traits<char16_t>::length(token), token) == 0; };
    if (at(u"COMPUTERNAME")) {
      if (clock.computer_name && clock.computer_name->size() < kComputerNameUnits) out += *clock.computer_name;
      i += 12;
    } else if (at(u"YYYY")) {
      out += number("%04d", t.year), i += 4;
    } else if (at(u"YY")) {
      out += number("%02d", t.year - 2000), i += 2;
    } else if (at(u"MM")) {
      out += number("%02d", t.month), i += 2;
    } else if (at(u"DD")) {
      out += number("%02d", t.day), i += 2;
    } else if (i + 1 < tmpl.size() && (tmpl[i] == u'H' || tmpl[i] == u'h') &&
               (tmpl[i + 1] == u'H' || tmpl[i + 1] == u'h')) {
      out += number("_%02d", t.hour), i += 2;
    } else if (at(u"mm")) {
      out += number("%02d", t.minute), i += 2;
    } else {
      ++i;
    }
  }
  return path.substr(0, *start) + out + extension;
}

int field(const uint8_t*& p, const uint8_t* end) {
  if (end - p < 2) return 0;
  const int v = static_cast<int16_t>(p[0] | p[1] << 8);
  p += 2;
  return v;
}

plat::SystemTime time_of(const uint8_t*& p, const uint8_t* end) {
  plat::SystemTime t;
  t.year = 1900 + field(p, end);
  t.month = field(p, end);
  t.day = field(p, end);
  t.hour = field(p, end);
  t.minute = field(p, end);
  return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The clock and the computer name first, then the path.
  const uint8_t* p = data;
  const uint8_t* end = data + size;
  if (size < 1) return 0;
  const uint8_t flags = *p++;
  template_clock clock;
  clock.local = time_of(p, end);
  clock.gmt = time_of(p, end);
  size_t name_size = end - p > 0 ? *p++ % 64 : 0;
  if (flags & 2) name_size += 250;  // around the longest computer name
  if (flags & 1) {
    std::u16string name;
    for (size_t i = 0; i < name_size; ++i) name.push_back(static_cast<char16_t>(u'A' + i % 26));
    clock.computer_name = name;
  }
  std::string path_bytes(reinterpret_cast<const char*>(p), static_cast<size_t>(end - p));
  std::u16string path = plat::from_native(path_bytes);
  // Paths near the longest: a long directory in front, or (rarely, as it
  // is slow) the input repeated, so that the template itself is long.
  const uint8_t length_mode = flags >> 2;
  if (length_mode == 0x3F)
    path.insert(0, std::u16string(kMaxPathUnits - 40 - path.size() % 16, u'd'));
  else if (length_mode == 0x3E && !path.empty())
    while (path.size() < kMaxPathUnits - 16) path += path;
  // The parser hands over full paths, which are never longer than this.
  if (path.size() > kMaxPathUnits) path.resize(kMaxPathUnits - path.size() % 8);

  const std::u16string expanded = expand_template(path, clock);
  FUZZ_CHECK(expanded.size() <= kMaxPathUnits);
  const std::u16string plain = plain_expansion(path, clock);
  if (plain.size() <= kMaxPathUnits) FUZZ_CHECK(expanded == plain);
  FUZZ_CHECK(has_output_template(path) == plain_start(path).has_value());
  if (const auto start = plain_start(path)) FUZZ_CHECK(expanded.compare(0, *start, path, 0, *start) == 0);

  // The real clock and computer name.
  output_path = path;
  expand_output_template();
  FUZZ_CHECK(output_path.size() <= kMaxPathUnits);
  if (const auto start = plain_start(path)) {
    FUZZ_CHECK(output_path.compare(0, *start, path, 0, *start) == 0);
  } else {
    FUZZ_CHECK(output_path == path);
  }
  output_path.clear();
  return 0;
}
