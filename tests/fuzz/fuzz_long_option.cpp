// parse_long_option over arbitrary option texts: the result is 0 or 1, an
// illegal option (1) leaves every setting as it was, and the lists keep
// their room.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "framework/acct.h"
#include "framework/long_options.h"
#include "framework/search_lists.h"
#include "framework/settings.h"
#include "platform/platform.h"
#include "sandbox.h"
#include "support/test_support.h"

namespace {

struct Snapshot {
  option_rec options;
  std::u16string comment, output, acct;
  char delim;
  std::vector<std::u16string> excludes, types, dirs;
  int32_t excluded, after_width, line_format_width;
  int64_t greater, less, older, newer;
  int32_t older_count, newer_count;
  bool memo_open, acct_open;

  static Snapshot take() {
    return Snapshot{g_options,     comment_text,      output_path,  acct_path,       delim_char,
                    exclude_list,  type_list,         search_dirs, exclude_count,   name_after_width,
                    name_format_width, size_greater_than, size_less_than, older_time, newer_time,
                    older_days,    newer_days,        memo_file != nullptr, acct_file != nullptr};
  }
  bool operator==(const Snapshot& o) const {
    return std::memcmp(&options, &o.options, sizeof options) == 0 && comment == o.comment &&
           output == o.output && acct == o.acct && delim == o.delim && excludes == o.excludes &&
           types == o.types && dirs == o.dirs && excluded == o.excluded &&
           after_width == o.after_width && line_format_width == o.line_format_width &&
           greater == o.greater && less == o.less && older == o.older && newer == o.newer &&
           older_count == o.older_count && newer_count == o.newer_count &&
           memo_open == o.memo_open && acct_open == o.acct_open;
  }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::enter_sandbox();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  if (fuzz::names_outside(bytes)) return 0;  // values name files; only the sandbox is ours
  fuzz::reset_state();
  const std::u16string text = plat::from_native(bytes);

  const Snapshot before = Snapshot::take();
  int result = -1;
  try {
    result = parse_long_option(text, g_options);
  } catch (const test::RunEnded&) {
    fuzz::fail("a long option ended the run itself");
  }
  FUZZ_CHECK(result == 0 || result == 1);
  if (result == 1) FUZZ_CHECK(Snapshot::take() == before);

  fuzz::check_settings_within_limits();
  fuzz::reset_state();
  fuzz::clear_sandbox();
  return 0;
}
