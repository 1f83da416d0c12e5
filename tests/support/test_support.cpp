#include "support/test_support.h"

#include <atomic>
#include <fstream>
#include <random>
#include <sstream>

#include "framework/acct.h"
#include "framework/environment.h"
#include "framework/options.h"
#include "framework/pause.h"
#include "framework/search_lists.h"
#include "framework/settings.h"
#include "framework/stream_listing.h"
#include "framework/streams.h"
#include "framework/text.h"
#include "framework/walk.h"
#include "ipconv/convert.h"
#include "ipconv/file_notes.h"
#include "ipconv/jobs.h"
#include "ipconv/run.h"
#include "platform/platform.h"
#include "platform/utf.h"

namespace test {
namespace {
int g_pauses = 0;
int g_seconds = 0;

void count_pause(int seconds) {
  ++g_pauses;
  g_seconds += seconds;
}

[[noreturn]] void throw_run_ended(exit_status status) { throw RunEnded{status}; }
}  // namespace

void reset_all_state() {
  // Every module that keeps process-wide state, from the platform up.
  plat::reset_platform_state();
  reset_settings();
  reset_environment();
  reset_search_lists();
  reset_options_state();
  reset_acct_state();
  reset_walk_state();
  reset_streams_state();
  reset_stream_listing_state();
  reset_jobs_state();
  reset_convert_state();
  reset_file_notes();
  reset_run_state();
  g_pauses = g_seconds = 0;
  set_pause_hook(count_pause);
  set_run_end_hook(throw_run_ended);
}

int pauses_taken() { return g_pauses; }
int seconds_paused() { return g_seconds; }

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device rd;
  auto base = std::filesystem::temp_directory_path();
  for (;;) {
    std::ostringstream name;
    name << "ipconv-test-" << rd() << "-" << counter++;
    path_ = base / name.str();
    if (std::filesystem::create_directory(path_)) break;
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::u16string TempDir::u16() const { return test::u16(path_.string()); }

std::filesystem::path TempDir::write(const std::string& relative,
                                     const std::string& content) const {
  auto target = path_ / relative;
  std::filesystem::create_directories(target.parent_path());
  std::ofstream out(target, std::ios::binary);
  out << content;
  return target;
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string utf16_bytes(std::u16string_view units, bool big_endian) {
  std::string bytes;
  for (char16_t unit : units) {
    const auto low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
    bytes += big_endian ? high : low;
    bytes += big_endian ? low : high;
  }
  return bytes;
}

std::string utf16_bytes(std::string_view text, bool big_endian) {
  std::u16string units;
  for (char c : text) units += static_cast<char16_t>(static_cast<unsigned char>(c));
  return utf16_bytes(units, big_endian);
}

std::u16string u16(const std::string& utf8) { return plat::utf8_to_utf16_escaped(utf8); }
std::string u8(const std::u16string& text) { return plat::utf16_to_utf8_escaped(text); }

ScopedCwd::ScopedCwd(const std::filesystem::path& dir)
    : saved_(std::filesystem::current_path()) {
  std::filesystem::current_path(dir);
}
ScopedCwd::~ScopedCwd() {
  std::error_code ec;
  std::filesystem::current_path(saved_, ec);
}

std::u16string full_path(const std::u16string& relative) {
  return *plat::full_path(relative, kMaxPathUnits);
}

ScopedTz::ScopedTz() : saved_(plat::get_env("TZ")) {}
ScopedTz::ScopedTz(const std::u16string& value) : ScopedTz() { set(value); }
ScopedTz::~ScopedTz() { set(saved_ ? *saved_ : u""); }
void ScopedTz::set(const std::u16string& value) {
  plat::set_env("TZ", value);
  plat::refresh_zone();
}

}  // namespace test
