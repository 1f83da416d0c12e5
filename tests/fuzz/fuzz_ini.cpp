// The INI reader over arbitrary file contents, in both reading modes: the
// line pieces give back the file's text, and whatever the directives say,
// the lists keep their room and the run is never ended.
#include <cstdint>
#include <cstdio>
#include <string>

#include "framework/ini.h"
#include "framework/search_lists.h"
#include "framework/settings.h"
#include "platform/platform.h"
#include "sandbox.h"
#include "support/test_support.h"

namespace {

FILE* stream_of(const std::string& text) {
  // fmemopen refuses an empty buffer on some systems; one byte past the end
  // is never read, since the size given is the text's.
  static std::string buffer;
  buffer = text;
  buffer.push_back('\0');
  return fmemopen(buffer.data(), text.size(), "r");
}

// The file as text mode reads it: CR LF is LF; Ctrl+Z ends it where the
// platform says so.
std::string text_mode(const std::string& raw) {
  std::string out;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == 0x1A && plat::text_input_ends_at_ctrl_z()) break;
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    out += raw[i];
  }
  return out;
}

void check_pieces(const std::string& raw) {
  FILE* file = stream_of(raw);
  if (!file) return;
  std::string piece, joined;
  while (read_ini_piece(file, piece)) {
    FUZZ_CHECK(piece.size() <= kIniPieceChars);
    const size_t lf = piece.find('\n');
    FUZZ_CHECK(lf == std::string::npos || lf + 1 == piece.size());
    joined += piece;
  }
  std::fclose(file);
  const std::string expected = text_mode(raw);
  if (raw.find('\0') == std::string::npos) {
    FUZZ_CHECK(joined == expected);
  } else {
    // A NUL ends what the line's string functions see: the rest of that
    // piece is dropped, nothing is added.
    FUZZ_CHECK(joined.size() <= expected.size());
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::enter_sandbox();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string raw(reinterpret_cast<const char*>(data) + 1, size - 1);
  // A value naming a file may name one anywhere; only the sandbox is ours.
  if (fuzz::names_outside(raw)) return 0;

  check_pieces(raw);

  fuzz::reset_state();
  FILE* file = stream_of(raw);
  if (!file) return 0;
  const bool own_section = data[0] & 1;
  try {
    read_ini_stream(file, own_section, "[IPCONV]", g_options);
  } catch (const test::RunEnded&) {
    fuzz::fail("the INI file ended the run");
  }
  std::fclose(file);

  fuzz::check_settings_within_limits();
  fuzz::reset_state();
  fuzz::clear_sandbox();
  return 0;
}
