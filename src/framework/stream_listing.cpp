#include "framework/stream_listing.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "framework/paths.h"
#include "framework/reserve.h"
#include "framework/environment.h"
#include "framework/settings.h"
#include "framework/streams.h"
#include "platform/platform.h"
#include "platform/utf.h"

std::string g_utf8_buf;

namespace {

const char* const kSourceName = ".\\Ads_base_u";

// Work buffers of the listing, made once on first use.
std::u16string g_object_name;
std::u16string g_stream_path;
bool g_buffers_made = false;

bool make_work_buffers() {
  if (g_buffers_made) return true;
  struct Buffer {
    std::u16string* text;
    int line;
  };
  for (const Buffer& b : {Buffer{&g_object_name, 102}, Buffer{&g_stream_path, 127}}) {
    if (!try_reserve(*b.text, kPathBufferUnits)) {
      std::fprintf(stderr, "\n%d Memory problem. Source file %s", b.line, kSourceName);
      return false;  // the listing cannot go on without it
    }
  }
  g_buffers_made = true;
  return true;
}

// The listing writes units as bytes. A unit that no byte can show (256 and
// above: only names taken without replacement and comment texts carry
// them) is written as '?', the platform's stand-in for a character an
// 8-bit stream cannot hold, so the rest of the line is still written.
void append_wide(std::string& out, std::u16string_view text) {
  for (char16_t unit : text)
    out.push_back(unit < 256 ? static_cast<char>(static_cast<unsigned char>(unit)) : '?');
}

// "%-*.*s": cut to `precision` bytes (none when negative), then padded with
// blanks on the right to the magnitude of `width`.
void append_field(std::string& out, std::string_view text, int width, int precision) {
  if (precision >= 0 && text.size() > static_cast<size_t>(precision))
    text = text.substr(0, static_cast<size_t>(precision));
  out.append(text);
  const size_t room = static_cast<size_t>(std::abs(static_cast<long>(width)));
  if (room > text.size()) out.append(room - text.size(), ' ');
}

// The UTF-8 column cut to `width` bytes at a character boundary: a
// character that does not fit whole is left out, and the blanks make up the
// width.
void append_utf8_field(std::string& out, std::string_view bytes, int width) {
  if (width >= 0 && bytes.size() > static_cast<size_t>(width)) {
    size_t cut = static_cast<size_t>(width);
    while (cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80) --cut;
    bytes = bytes.substr(0, cut);
  }
  append_field(out, bytes, width, -1);
}

// Each unit above 0x7F becomes the lead byte of its own UTF-8 form, so
// every unit of the result is a single byte.
std::u16string lead_bytes(std::u16string_view text) {
  std::u16string out(text);
  for (auto& unit : out) {
    if (unit < 0x80) continue;
    unit = unit < 0x800 ? static_cast<char16_t>(0xC0 | (unit >> 6))
                        : static_cast<char16_t>(0xE0 | (unit >> 12));
  }
  return out;
}

void append_format(std::string& out, const char* format, ...) {
  char text[128];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n > 0) out.append(text, static_cast<size_t>(n) < sizeof text ? static_cast<size_t>(n)
                                                                     : sizeof text - 1);
}

// " % *Ld" with 20: a blank, then the size right-aligned in 20 characters
// behind the blank that stands for its sign.
void append_size(std::string& out, uint64_t size) {
  std::string digits = " ";
  digits += std::to_string(size);
  out.push_back(' ');
  if (digits.size() < 20) out.append(20 - digits.size(), ' ');
  out.append(digits);
}

void append_time(std::string& out, const time_fields& t, char letter, char d) {
  append_format(out, "%02d/%02d/%4d%c", t.month, t.day, t.year, d);
  append_format(out, "%02d:%02d%c%c", t.hour, t.minute, letter, d);
}

}  // namespace

void utf16_to_utf8(const std::u16string& text) {
  // The reserved capacity keeps this from allocating during the walk; the
  // name ends at its first NUL, and the terminator must still fit.
  g_utf8_buf.clear();
  const std::u16string_view name(text.data(), std::min(text.size(), text.find(u'\0')));
  plat::append_utf8(g_utf8_buf, name, false, kUtf8ConvertBytes - 1);
}

std::string stream_line(const std::u16string& object_name, const std::u16string& stream_name,
                        uint64_t size, const file_times& times) {
  const option_rec& o = g_options;
  const char d = delim_char;
  std::string line;

  if (o.comment != 0 && !comment_text.empty()) {
    append_wide(line, comment_text);
    line.push_back(d);
  }

  if (o.width != 0) {
    const std::u16string listing = object_name + stream_name;
    if (o.name_only != 0) {
      if (o.var_len != 0) {
        append_wide(line, listing);  // the size column's own blank follows
      } else {
        std::string bytes;
        append_wide(bytes, listing);
        append_field(line, bytes, o.name_width, o.name_width);
        line.push_back(d);
      }
    } else if (o.utf8 != 0) {
      utf16_to_utf8(listing);
      append_utf8_field(line, g_utf8_buf, o.width);
      line.push_back(d);
    } else {
      std::string bytes;
      append_wide(bytes, lead_bytes(listing));
      if (o.var_len != 0)
        line.append(bytes);
      else
        append_field(line, bytes, o.width, o.width);
      line.push_back(d);
    }
  }

  if (o.path_only != 0) {
    line.push_back('\n');
    return line;
  }

  append_size(line, size);
  line.push_back(d);

  if (o.time_kind != '0') {
    if (o.show_time != 0) {
      switch (o.time_kind) {
        case '3':
          append_format(line, "%.56s%c%.3s%c", blank_text, d, blank_text, d);
          break;
        case 'a': append_time(line, times.last_access, 'a', d); break;
        case 'c': append_time(line, times.creation, 'w', d); break;
        case 'm':
        case 'w': append_time(line, times.last_write, 'w', d); break;
        default: break;
      }
    }
    if (o.zulu != 0)
      append_format(line, "GMT%c", d);
    else
      append_format(line, "%3.3s%c", g_zone_abbrev, d);
  }

  append_format(line, "Dadata%c", d);
  if (o.opt_8 != 0) append_format(line, "%.16s%c", blank_text, d);
  line.push_back('\n');
  return line;
}

int list_streams(const std::u16string& path, int count, int32_t& lines_listed) {
  if (count <= 0) return 0;
  if (!make_work_buffers()) return 0;

  g_object_name = path;
  if (!g_object_name.empty() && plat::is_separator(g_object_name.back()))
    g_object_name.pop_back();
  g_object_name.erase(0, name_start(g_object_name));

  const size_t listed =
      static_cast<size_t>(count) < g_stream_table.size() ? static_cast<size_t>(count)
                                                         : g_stream_table.size();
  for (size_t i = 0; i < listed; ++i) {
    stream_entry& entry = g_stream_table[i];
    // ":NAME:$DATA" is listed as ":NAME".
    const size_t second_colon = entry.name.find(u':', 1);
    if (second_colon != std::u16string::npos) entry.name.resize(second_colon);

    g_stream_path = path;
    g_stream_path += entry.name;
    if (!g_stream_path.empty() && g_stream_path.back() == u':') g_stream_path.pop_back();

    file_times times{};
    if (get_file_times(times, g_options.zulu, g_stream_path) != 0) {
      std::printf("\n%d %s\nCouldn't get filetime for %s", 170, kSourceName,
                  plat::to_native(without_long_prefix(g_stream_path)).c_str());
    }
    ++lines_listed;

    const std::string line = stream_line(g_object_name, entry.name, entry.size, times);
    std::fwrite(line.data(), 1, line.size(), out_file);
    if (g_options.path_only != 0) break;  // the name of the first stream only
  }
  return 0;
}

void reset_stream_listing_state() {
  g_utf8_buf.clear();
  g_object_name.clear();
  g_stream_path.clear();
  g_buffers_made = false;
}
