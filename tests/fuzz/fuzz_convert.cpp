// The conversion of lines: the address of a line and its suffix against a
// second, plain computation (strtoll and printf), and whole streams fed in
// odd-sized reads against a plain model of the text-mode line reader.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "ipconv/convert.h"
#include "sandbox.h"

namespace {

uint32_t plain_address(std::string_view line) {
  // strtoll stops at a NUL as the line's number does at any non-digit.
  const std::string text(line.substr(0, line.find('\0')));
  const long long value = std::strtoll(text.c_str(), nullptr, 10);  // clamps like the runtime
  return static_cast<uint32_t>(static_cast<unsigned long long>(value));
}

std::string plain_suffix(uint32_t a) {
  char text[64];
  std::snprintf(text, sizeof text, "|Hex|%08X|IP-decimal|%u.%u.%u.%u", a, a >> 24, (a >> 16) & 0xFF,
                (a >> 8) & 0xFF, a & 0xFF);
  return text;
}

// Text mode as a plain loop: the input ends at Ctrl+Z where the platform
// says so, a CR right before an LF is dropped; lines are taken as the
// runtime's line reader takes them, at most kLinePieceMax characters, and
// the LF right after a full piece ends that piece.
std::string plain_conversion(std::string_view in, bool ctrl_z, const char* eol) {
  std::string text;
  text.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    if (ctrl_z && in[i] == 0x1A) break;
    if (in[i] == '\r' && i + 1 < in.size() && in[i + 1] == '\n') continue;
    text += in[i];
  }
  std::string out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t take = 0;
    while (pos + take < text.size() && take < kLinePieceMax && text[pos + take] != '\n') ++take;
    const std::string_view line = std::string_view(text).substr(pos, take);
    pos += take;
    if (pos < text.size() && text[pos] == '\n') ++pos;
    out += line;
    // A UTF-8 byte-order mark at the very start is copied, not read as
    // part of the first number.
    const bool marked = out.size() == line.size() && line.substr(0, 3) == "\xEF\xBB\xBF";
    out += plain_suffix(plain_address(marked ? line.substr(3) : line));
    out += eol;
  }
  return out;
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
    FUZZ_CHECK(address == plain_address(content));
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

  ChunkSource source;
  source.data = content;
  source.pattern = (flags >> 2) & 7;
  source.state = data[3];
  source.fail_at_end = (flags & 0x80) != 0;
  LimitedSink sink;
  if (flags & 0x40) sink.limit = static_cast<size_t>(data[3]) << 8 | data[4];
  const ConvertOptions options{(flags & 1) != 0, (flags & 2) ? "\r\n" : "\n"};
  use_wide_line_steps((flags & 0x20) == 0);

  const convert_result result = convert_stream(source, sink, options);
  const std::string expected = plain_conversion(content, options.ends_at_ctrl_z, options.line_end);

  // Whatever reached the sink is the start of the right output; a read
  // error or a full disk is reported, never success.
  FUZZ_CHECK(expected.compare(0, sink.written.size(), sink.written) == 0);
  const bool ends_early = options.ends_at_ctrl_z && content.find('\x1a') != std::string::npos;
  const bool read_fails = source.fail_at_end && !ends_early;
  if (expected.size() > sink.limit) {
    FUZZ_CHECK(result == convert_result::write_failed ||
               (read_fails && result == convert_result::read_failed));
  } else if (read_fails) {
    FUZZ_CHECK(result == convert_result::read_failed);
  } else {
    FUZZ_CHECK(result == convert_result::ok);
    FUZZ_CHECK(sink.written == expected);
  }
  return 0;
}
