#include "framework/acct.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

#include "framework/exit_status.h"
#include "framework/pause.h"
#include "framework/paths.h"
#include "framework/settings.h"
#include "platform/platform.h"

FILE* acct_file = nullptr;
bool g_acct_write_failed = false;
FILE* memo_file = nullptr;
std::string g_memo_text;

namespace {

// The family's file operations report under this module name and the
// lines its users know from earlier releases.
constexpr const char* kModuleName = ".\\Generic_u";
constexpr int kOpenErrorLine = 324;
constexpr int kMemoryErrorLine = 340;

// Drive letters ("C:") exist only where the backslash separates names.
bool platform_has_drives() { return plat::is_separator(u'\\'); }

size_t drive_length(const std::u16string& path) {
  if (platform_has_drives() && path.size() >= 2 && path[1] == u':') return 2;
  return 0;
}

// Where the walk over a directory looks for separators: past "C:" where
// drives exist; on POSIX past the leading '/', so that no real directory
// of a relative or absolute path is skipped.
size_t walk_start() { return platform_has_drives() ? 2 : 1; }

// The name the open accounting file was opened under, for messages.
std::u16string g_acct_name;

void report_acct_failure(const std::string& reason) {
  std::fprintf(stderr, "\nError writing accounting file %s: %s\n",
               plat::to_native(g_acct_name).c_str(), reason.c_str());
  g_acct_write_failed = true;
}

}  // namespace

FILE* open_acct_file(const std::u16string& path) {
  make_log_dirs(path);
  trim_file_end(path);
  FILE* stream = plat::open_stream(path, "a+");
  if (stream == nullptr) {
    std::printf("Can't open accounting file %s\n", plat::to_native(path).c_str());
    write_failure_reason(stdout);
    return nullptr;
  }
  std::fseek(stream, 0, SEEK_END);
  std::fprintf(stream, "\n%.40s\n",
               "****************************************************************");
  g_acct_name = path;
  return stream;
}

void make_log_dirs(const std::u16string& path) {
  // Split off drive and directory: the directory part runs to the last
  // separator, that separator included.
  const size_t drive = drive_length(path);
  const size_t dir_length = name_start(std::u16string_view(path).substr(drive));
  // A directory part beyond its room is left alone: the open that follows
  // reports the path if its directory is missing.
  if (dir_length >= kLogDirPartUnits) return;

  std::u16string dir = path.substr(0, drive + dir_length);
  // Name the directory itself, not its content.
  const size_t cut = name_start(dir);
  dir.resize(cut == 0 ? 0 : cut - 1);

  // No directory part (a bare name such as ACCT-ING): the file lies in the
  // current directory, which exists.
  if (dir.empty()) return;
  if (plat::is_directory(dir)) return;

  for (size_t i = walk_start(); i < dir.size(); ++i) {
    if (!plat::is_separator(dir[i])) continue;
    const std::u16string prefix = dir.substr(0, i);
    if (!plat::exists(prefix)) {
      plat::make_directory(prefix);
      std::printf("Creating (log\\error) directory:  %s\n", plat::to_native(prefix).c_str());
    }
    dir[i] = plat::separator();
  }
  plat::make_directory(dir);
  std::printf("Creating (log) directory:  %s\n", plat::to_native(dir).c_str());
  pause_seconds(1);
}

void trim_file_end(const std::u16string& path) {
  plat::File file;
  if (!plat::open_read_write(path, false, file) && !plat::open_read_write(path, true, file)) {
    std::fprintf(stderr, "\n%s\n%d\nerror opening %s\n", kModuleName, kOpenErrorLine,
                 plat::to_native(path).c_str());
    write_failure_reason(stderr);
    end_run(exit_status::user_aborted);
  }
  const std::optional<uint64_t> size = plat::file_size(file);
  if (!size || *size < 10) {
    file.close();
    return;
  }

  std::vector<unsigned char> content;
  try {
    if (*size > content.max_size()) throw std::bad_alloc();
    content.resize(static_cast<size_t>(*size));
  } catch (const std::exception&) {
    file.close();
    std::fprintf(stderr, "\n%s\n%d\nerror getting memory for %s\n", kModuleName,
                 kMemoryErrorLine, plat::to_native(path).c_str());
    end_run(exit_status::user_aborted);
  }

  size_t got = 0;
  while (got < content.size()) {
    const long long n = file.read(content.data() + got, content.size() - got);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  // Only the bytes actually read count.
  for (size_t i = 0; i < got; ++i) {
    if (content[i] == 0x00 || content[i] == 0x1A) {
      plat::set_file_length(file, i);
      break;
    }
  }
  file.close();
}

namespace {

enum class piece_kind { end_of_input, line, part_of_line };

// One line of standard input without its line end, or, when the line does
// not fit the line buffer, its next part.
piece_kind read_memo_piece(FILE* input, std::string& piece) {
  piece.clear();
  for (;;) {
    const int c = std::getc(input);
    if (c == EOF) return piece.empty() ? piece_kind::end_of_input : piece_kind::line;
    if (c == '\n') break;
    piece.push_back(static_cast<char>(c));
    if (piece.size() == kMemoLineBytes - 1) {
      const int next = std::getc(input);
      if (next == '\n' || next == EOF) break;
      std::ungetc(next, input);
      return piece_kind::part_of_line;
    }
  }
  if (!piece.empty() && piece.back() == '\r') piece.pop_back();
  return piece_kind::line;
}

// Standard input cannot be flushed portably: what is left of the line the
// entry stopped in is read and dropped, so that no later key test sees it.
void drop_rest_of_line(FILE* input) {
  for (int c = std::getc(input); c != EOF && c != '\n'; c = std::getc(input)) {
  }
}

}  // namespace

void memo_entry() { memo_entry_from(stdin); }

void memo_entry_from(FILE* input) {
  std::printf("\n\n\nInput up to 2000 characters of your memo information now.\n");
  std::printf("End with two blank lines (carriage returns)%c\n\n\n", 7);
  std::fflush(stdout);

  g_memo_text.clear();
  int blank_lines = 0;
  bool in_long_line = false;  // the previous piece was cut by the buffer
  std::string piece;
  for (;;) {
    const piece_kind kind = read_memo_piece(input, piece);
    if (kind == piece_kind::end_of_input) break;
    const bool continues = in_long_line;
    in_long_line = kind == piece_kind::part_of_line;
    if (continues || piece.size() >= 2) {
      g_memo_text += piece;
      if (!in_long_line) g_memo_text += '\n';
      blank_lines = 0;
    } else {
      if (++blank_lines >= 2) break;
      g_memo_text += '\n';
    }
    if (g_memo_text.size() > kMemoTextLimit) {
      if (in_long_line) drop_rest_of_line(input);
      break;
    }
  }

  FILE* target = memo_file != nullptr ? memo_file : acct_file;
  if (target != nullptr) {
    std::fwrite(g_memo_text.data(), 1, g_memo_text.size(), target);
    std::fputs("\n", target);
    std::fflush(target);
  }
}

std::u16string pick_output_file() {
  const std::optional<std::u16string> chosen = plat::open_file_dialog(u"Output File Selection");
  if (!chosen || chosen->empty()) return {};
  const std::optional<std::u16string> full = plat::full_path(*chosen, kMaxPathUnits);
  // The dialog's buffer holds no longer name: such a choice fails there.
  if (!full || full->size() >= kPickedPathUnits) return {};
  return *full;
}

std::u16string full_path_or_value(const std::u16string& value, size_t max_units) {
  std::optional<std::u16string> full = plat::full_path(value, max_units);
  return full ? *full : value;
}

void take_memo_stream(FILE* stream) {
  if (memo_file && memo_file != acct_file && memo_file != stream) std::fclose(memo_file);
  memo_file = stream;
}

void set_acct_override(const std::u16string& value, size_t room, acct_overrider by,
                       option_rec& options) {
  acct_path = full_path_or_value(value, room);
  options.accounting = 1;
  if (!acct_file) return;
  switch (by) {
    case acct_overrider::option_letter:
    case acct_overrider::ini_file:
      std::fprintf(acct_file, "This file closed.\n");
      std::fprintf(acct_file, "Accounting file overridden by %s file pointing to %s\n",
                   by == acct_overrider::ini_file ? ".ini" : "option -1",
                   plat::to_native(acct_path).c_str());
      break;
    case acct_overrider::long_option:
      // The long option names the value as given, not its full path.
      std::fprintf(acct_file, "Previous log closed, and %s opened\n",
                   plat::to_native(value).c_str());
      break;
  }
  close_acct_file();
}

namespace {

// A memo file that cannot be opened is named, with the reason; the memo
// then goes to the accounting file.
FILE* open_memo_file(const std::u16string& path) {
  FILE* stream = plat::open_stream(path, "a+");
  if (stream == nullptr) {
    std::fprintf(stderr, "\nCan't open memo file %s\n", plat::to_native(path).c_str());
    write_failure_reason(stderr);
  }
  return stream;
}

}  // namespace

void choose_memo_file(bool named, const std::u16string& value, size_t room) {
  if (named) {
    take_memo_stream(open_memo_file(full_path_or_value(value, room)));
    return;
  }
  const std::u16string picked = pick_output_file();
  if (!picked.empty()) take_memo_stream(open_memo_file(picked));
}

void write_failure_reason(FILE* stream) {
  std::fprintf(stream, "  %s\n", plat::last_error_text().c_str());
}

bool stream_written(FILE* stream, std::string& reason) {
  errno = 0;
  if (std::fflush(stream) != 0) {
    reason = errno != 0 ? std::strerror(errno) : "write failed";
    return false;
  }
  // A write that failed earlier dropped its data and left only the
  // stream's error mark; its cause is gone.
  if (std::ferror(stream)) {
    reason = "an earlier write failed";
    return false;
  }
  return true;
}

bool stream_closed(FILE* stream, std::string& reason) {
  const bool written = stream_written(stream, reason);
  errno = 0;
  if (std::fclose(stream) != 0 && written) {
    reason = errno != 0 ? std::strerror(errno) : "close failed";
    return false;
  }
  return written;
}

bool check_acct_file() {
  if (acct_file == nullptr) return true;
  std::string reason;
  if (stream_written(acct_file, reason)) return true;
  report_acct_failure(reason);
  std::clearerr(acct_file);  // reported once; only a new failure counts again
  return false;
}

void close_acct_file() {
  if (acct_file == nullptr) return;
  std::string reason;
  if (!stream_closed(acct_file, reason)) report_acct_failure(reason);
  acct_file = nullptr;
}

void reset_acct_state() {
  acct_file = nullptr;
  g_acct_write_failed = false;
  memo_file = nullptr;
  g_memo_text.clear();
  g_acct_name.clear();
}
