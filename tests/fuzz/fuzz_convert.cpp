// The conversion of lines: the address of a line and its suffix against a
// second, plain computation (strtoll and printf), and whole streams fed in
// odd-sized reads against a plain model of the text-mode line reader, as
// 8-bit text and again as UTF-16 text in either byte order.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

#include "ipconv/convert.h"
#include "sandbox.h"
#include "support/test_support.h"

namespace {

// A line's address from its units: bytes, or UTF-16 units (decoded).
template <class Unit>
uint32_t plain_address(std::basic_string_view<Unit> line) {
  // strtoll stops at a NUL as the line's number does at any non-digit; a
  // unit above 255 is no digit, sign or space.
  std::string text;
  for (Unit unit : line) {
    const auto value = static_cast<std::make_unsigned_t<Unit>>(unit);
    if (value == 0) break;
    text += value > 0xFF ? 'x' : static_cast<char>(value);
  }
  const long long value = std::strtoll(text.c_str(), nullptr, 10);  // clamps like the runtime
  return static_cast<uint32_t>(static_cast<unsigned long long>(value));
}

std::string plain_suffix(uint32_t a) {
  char text[64];
  std::snprintf(text, sizeof text, "|Hex|%08X|IP-decimal|%u.%u.%u.%u", a, a >> 24, (a >> 16) & 0xFF,
                (a >> 8) & 0xFF, a & 0xFF);
  return text;
}

// Text mode as a plain loop over units: the input ends at Ctrl+Z where
// the platform says so, a CR right before an LF is dropped; lines are
// taken as the runtime's line reader takes them, at most kLinePieceMax
// units, and the LF right after a full piece ends that piece. `mark`: the
// byte-order mark that begins the first line, copied but not read as part
// of the number.
template <class Unit>
std::basic_string<Unit> plain_conversion(std::basic_string_view<Unit> in, bool ctrl_z,
                                         const char* eol, std::basic_string_view<Unit> mark) {
  std::basic_string<Unit> text;
  text.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    if (ctrl_z && in[i] == 0x1A) break;
    if (in[i] == '\r' && i + 1 < in.size() && in[i + 1] == '\n') continue;
    text += in[i];
  }
  const auto units = [](std::string_view ascii) {
    return std::basic_string<Unit>(ascii.begin(), ascii.end());
  };
  std::basic_string<Unit> out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t take = 0;
    while (pos + take < text.size() && take < kLinePieceMax && text[pos + take] != '\n') ++take;
    const auto line = std::basic_string_view<Unit>(text).substr(pos, take);
    pos += take;
    if (pos < text.size() && text[pos] == '\n') ++pos;
    const bool marked = out.empty() && line.starts_with(mark);
    out += line;
    out += units(plain_suffix(plain_address(marked ? line.substr(mark.size()) : line)));
    out += units(eol);
  }
  return out;
}

std::u16string decoded(std::string_view bytes, bool big_endian) {
  std::u16string units;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto first = static_cast<unsigned char>(bytes[i]);
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    units += static_cast<char16_t>(big_endian ? first << 8 | second : second << 8 | first);
  }
  return units;
}

struct ChunkSource final : ByteSource {
  std::string_view data;
  size_t pos = 0;
  unsigned pattern;  // which read sizes
  uint32_t state;    // for the varying sizes
  bool fail_at_end;
  long long read(char* buffer, size_t size) override {
    if (pos == data.size()) return fail_at_end ? -1 : 0;
    static const size_t kSizes[] = {1, 2, 3, 7, 64, 4096, size_t{1} << 20, 0};
    size_t chunk = kSizes[pattern % 8];
    if (chunk == 0) {
      state = state * 1103515245u + 12345u;
      chunk = 1 + (state >> 16) % 40000;
    }
    chunk = std::min({chunk, size, data.size() - pos});
    std::memcpy(buffer, data.data() + pos, chunk);
    pos += chunk;
    return static_cast<long long>(chunk);
  }
};

struct LimitedSink final : ByteSink {
  std::string written;
  size_t limit = SIZE_MAX;  // a full disk after this many bytes
  bool write(const char* data, size_t size) override {
    if (written.size() + size > limit) return false;
    written.append(data, size);
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const uint8_t flags = data[0];
  std::string content(reinterpret_cast<const char*>(data) + 5, size - 5);

  // One line as it stands.
  {
    const uint32_t address = line_address(content.data(), content.size());
    FUZZ_CHECK(address == plain_address<char>(content));
    // Exactly the room promised, on the heap, so that a write past it is seen.
    const std::unique_ptr<char[]> suffix(new char[kSuffixMax]);
    char* end = append_suffix(suffix.get(), address);
    FUZZ_CHECK(static_cast<size_t>(end - suffix.get()) <= kSuffixMax);
    FUZZ_CHECK(std::string(suffix.get(), end) == plain_suffix(address));
  }

  // Pieces near the longest line: one byte of the input repeated to just
  // around kLinePieceMax.
  if (data[1] >= 0xF0 && !content.empty()) {
    const size_t repeat = kLinePieceMax - 8 + data[1] % 16;
    const size_t at = data[2] % content.size();
    if (content[at] != '\n') content.insert(at, repeat, content[at]);
  }

  const ConvertOptions options{(flags & 1) != 0, (flags & 2) ? "\r\n" : "\n"};
  use_wide_line_steps((flags & 0x20) == 0);
  const bool fail_at_end = (flags & 0x80) != 0;
  const size_t limit = (flags & 0x40) ? static_cast<size_t>(data[3]) << 8 | data[4] : SIZE_MAX;

  // Converts `input` and checks it against `expected`: whatever reached
  // the sink is the start of it; a read error or a full disk is reported,
  // never success. `told`: the encoding is the one the first block tells.
  const auto check = [&](std::string_view input, const std::string& expected, bool ends_early,
                         bool told) {
    ChunkSource source;
    source.data = input;
    source.pattern = (flags >> 2) & 7;
    source.state = data[3];
    source.fail_at_end = fail_at_end;
    LimitedSink sink;
    sink.limit = limit;
    const InputStart start = told ? read_input_start(source) : InputStart{};
    const convert_result result = convert_stream(source, sink, options, told ? &start : nullptr);
    FUZZ_CHECK(expected.compare(0, sink.written.size(), sink.written) == 0);
    const bool read_fails = fail_at_end && !ends_early;
    if (expected.size() > sink.limit) {
      FUZZ_CHECK(result == convert_result::write_failed ||
                 (read_fails && result == convert_result::read_failed));
    } else if (read_fails) {
      FUZZ_CHECK(result == convert_result::read_failed);
    } else {
      FUZZ_CHECK(result == convert_result::ok);
      FUZZ_CHECK(sink.written == expected);
    }
  };

  check(content,
        plain_conversion<char>(content, options.ends_at_ctrl_z, options.line_end, "\xEF\xBB\xBF"),
        options.ends_at_ctrl_z && content.find('\x1a') != std::string::npos, false);

  // The same bytes as UTF-16 units after a byte-order mark, an odd last
  // byte copied after the last line unless the input ended at a Ctrl+Z.
  // Units that would make the mark one of UTF-32 are left out.
  const bool big_endian = (data[1] & 1) != 0;
  if (!big_endian && content.size() >= 2 && content[0] == 0 && content[1] == 0) return 0;
  const std::string input = (big_endian ? "\xFE\xFF" : "\xFF\xFE") + content;
  const std::u16string units = decoded(input, big_endian);
  const bool ends_early = options.ends_at_ctrl_z && units.find(u'\x1a') != std::u16string::npos;
  std::string expected = test::utf16_bytes(
      plain_conversion<char16_t>(units, options.ends_at_ctrl_z, options.line_end, u"\uFEFF"),
      big_endian);
  if (input.size() % 2 != 0 && !ends_early) expected += input.back();
  check(input, expected, ends_early, true);
  return 0;
}
