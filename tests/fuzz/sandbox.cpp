#include "sandbox.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <system_error>

#include "framework/acct.h"
#include "framework/search_lists.h"
#include "framework/settings.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace fuzz {
namespace {

fs::path g_sandbox;

void remove_sandbox() {
  std::error_code ec;
  fs::current_path(fs::temp_directory_path(ec), ec);
  if (!g_sandbox.empty()) fs::remove_all(g_sandbox, ec);
}

}  // namespace

void enter_sandbox() {
  if (!g_sandbox.empty()) return;
  std::random_device rd;
  const fs::path base = fs::temp_directory_path();
  for (;;) {
    g_sandbox = base / ("ipconv-fuzz-" + std::to_string(rd()));
    if (fs::create_directory(g_sandbox)) break;
  }
  fs::current_path(g_sandbox);
  std::atexit(remove_sandbox);
  // No prompt may wait for a user: the dialogs and the memo entry read an
  // empty input instead.
  if (!std::freopen("/dev/null", "r", stdin)) fail("no /dev/null for standard input");
  test::reset_all_state();
}

void clear_sandbox() {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(g_sandbox, ec)) fs::remove_all(entry.path(), ec);
}

void reset_state() {
  // The memo stream may be the accounting stream itself.
  if (memo_file && memo_file != acct_file && memo_file != stdout) std::fclose(memo_file);
  if (acct_file && acct_file != stdout) std::fclose(acct_file);
  if (out_file && out_file != stdout) std::fclose(out_file);
  acct_file = memo_file = nullptr;
  out_file = stdout;
  test::reset_all_state();
}

bool names_outside(std::string_view bytes) {
  return bytes.find('/') != std::string_view::npos || bytes.find('\\') != std::string_view::npos;
}

std::pair<std::span<const uint8_t>, std::span<const uint8_t>> split_at_nul(const uint8_t* data,
                                                                           size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  size_t cut = 0;
  while (cut < size && data[cut] != 0) ++cut;
  return {bytes.first(cut), cut < size ? bytes.subspan(cut + 1) : bytes.last(0)};
}

std::vector<std::u16string> arguments_of(const uint8_t* data, size_t size) {
  std::vector<std::u16string> args{u"ipconv"};
  if (size == 0) return args;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\0', start);
    if (end == std::string_view::npos) end = text.size();
    args.push_back(plat::from_native(std::string(text.substr(start, end - start))));
    start = end + 1;
  }
  return args;
}

void check_settings_within_limits() {
  FUZZ_CHECK(exclude_list.size() < kExcludeSlots);
  FUZZ_CHECK(static_cast<size_t>(exclude_count) == exclude_list.size());
  FUZZ_CHECK(type_list.size() < kListSlots);
  FUZZ_CHECK(search_dirs.size() < kListSlots);
  FUZZ_CHECK(comment_text.size() < kCommentTextUnits);
  FUZZ_CHECK(output_path.size() <= kMaxPathUnits);
}

void fail(const char* what) {
  std::fprintf(stderr, "\nproperty broken: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

}  // namespace fuzz
