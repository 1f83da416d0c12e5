// Runs the built program (under an optional runner such as wine) for the
// end-to-end tests.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace test {

struct RunResult {
  int status = -1;  // exit status; -1 when the program did not exit normally
  std::string out;
  std::string err;
  long peak_rss_kib = -1;  // the program's peak resident memory
};

struct RunOptions {
  std::filesystem::path cwd;
  std::string stdin_text;
  bool stdin_closed = true;  // when false, stdin_text is fed
  std::vector<std::pair<std::string, std::string>> env;  // added or replaced
  std::vector<std::string> unset_env;
  int timeout_seconds = 60;
  // Wine says its drives are NTFS but cannot read their streams (BackupRead
  // fails), so under wine "-S" goes in before the first option group (or
  // at the end) unless a test wants the streams read; a run without
  // arguments stays without.
  bool streams_under_wine = false;
  // When set, the program runs with this file-size limit (a multiple of
  // 512 bytes) and with SIGXFSZ ignored, so that a write past it fails.
  long file_size_limit_bytes = -1;
  // When the tests run as root, the program runs as the user nobody, so
  // that permissions refuse it what they refuse a user (the directories it
  // must write to have to be writable by everyone then).
  bool run_as_nobody = false;
  // When set, the program runs with this limit of its address space
  // (ulimit -v, in KiB).
  long memory_limit_kib = -1;
  // When set, the program's standard output goes to this file (such as
  // /dev/full) instead of RunResult::out.
  std::filesystem::path stdout_path;
  // When set, standard input is read from this file or standard output
  // written to it, in place of the pipes.
  std::string stdin_file;
  std::string stdout_file;
  // Standard output as written, also under wine: the converted lines of a
  // run that reads standard input, which are not written in text mode.
  bool stdout_as_written = false;
};

// The program under test (IPCONV_PROGRAM) and its runner (IPCONV_RUNNER).
std::string program_under_test();
bool running_under_wine();

// Under wine the program's standard output and error are in text mode:
// their CR LF come back as LF, and Wine's own "wine: ..." notes are left out.
RunResult run_program(const std::vector<std::string>& args, const RunOptions& options);

// A path as the program under test names it: under wine the Linux path
// seen through Wine's drive Z: ("Z:\tmp\x" for "/tmp/x"); the path
// itself otherwise. Also the form to pass an absolute path as an argument.
std::string shown_path(const std::filesystem::path& path);
// Text as the program writes it in text mode: under wine every LF
// becomes CR LF.
std::string program_text(const std::string& text);

// Special files for the walk to meet.
bool make_fifo(const std::filesystem::path& path);
bool make_socket_file(const std::filesystem::path& path);

}  // namespace test
