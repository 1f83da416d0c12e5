#include "ipconv/startup.h"

#include <algorithm>
#include <cstdio>

#include "framework/exit_status.h"
#include "framework/requests.h"
#include "framework/reserve.h"
#include "framework/settings.h"
#include "framework/stream_listing.h"
#include "framework/text.h"
#include "ipconv/convert.h"
#include "ipconv/jobs.h"
#include "platform/platform.h"

namespace {

constexpr size_t kUtf8BufferBytes = 262144;

constexpr const char* kNoMemory = "\n%d %s\nError obtaining memory\n";
constexpr const char* kSourceName = "ip_convert";

}  // namespace

void init_program_defaults() {
  plat::use_ansi_file_names();
  output_path.clear();
  // Each failure names the line number its users know from earlier releases.
  reserve_or_stop(output_path, kPathBufferUnits, kNoMemory, 84, kSourceName);
  reserve_or_stop(cur_dir, kPathBufferUnits, kNoMemory, 85, kSourceName);
  reserve_or_stop(cur_fname, kPathBufferUnits, kNoMemory, 86, kSourceName);
  reserve_or_stop(g_utf8_buf, kUtf8BufferBytes, kNoMemory, 90, kSourceName);
  out_file = stdout;
  g_options.recurse = 1;
  g_options.width = 40;
  g_options.name_width = 50;
  g_options.show_time = 1;
  g_options.streams = 1;
  g_options.pause = 0;
}

namespace {

// A comment text of COMPUTERNAME[n] becomes this computer's name, cut to
// 12 characters and padded to n, so listing lines from several machines
// line up.
void computer_name_comment() {
  static const std::u16string kToken = u"COMPUTERNAME";
  if (g_options.comment != 1 || !starts_with_ignore_case(comment_text, kToken)) return;
  int32_t n = read_int32(std::u16string_view(comment_text).substr(kToken.size()));
  auto name = plat::computer_name();
  if (!name) return;
  std::u16string text = name->substr(0, 12);
  // Never pad past what comment_text holds, keeping room for the delimiter.
  const bool add_delim = g_options.delim == 0;
  const int32_t room = static_cast<int32_t>(kCommentTextUnits - 1 - (add_delim ? 1 : 0));
  n = std::min(n, room);
  if (n > 0 && text.size() < static_cast<size_t>(n)) text.resize(static_cast<size_t>(n), u' ');
  if (add_delim) text.push_back(static_cast<char16_t>(static_cast<unsigned char>(delim_char)));
  comment_text = text;
}

}  // namespace

void settle_settings() {
  g_options.immediate = g_options.immediate ? 0 : 1;
  if (g_options.time_long || g_options.time_kind == '3') g_options.width -= 3;
  if (g_options.name_after) {
    if (name_after_width >= 0 && g_options.width != 0)
      g_options.width = name_after_width;
    else
      name_after_width = 50;
  }
  computer_name_comment();
}

void choose_job_threads() {
  if (thread_count > 0) {
    set_job_threads(thread_count);
    return;
  }
  if (const auto text = plat::get_env("IPCONV_JOBS"); text && !text->empty()) {
    if (const auto count = read_thread_count(*text)) {
      set_job_threads(*count);
      return;
    }
    std::fprintf(stderr, "\nIPCONV_JOBS=%s passed over: a number of threads from 1 to %d is wanted\n",
                 plat::to_native(*text).c_str(), kThreadsMax);
  }
  set_job_threads(default_job_threads());
}
