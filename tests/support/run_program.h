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
  // When set, standard input is read from this file or standard output
  // written to it (such as /dev/full), in place of the pipes.
  std::string stdin_file;
  std::string stdout_file;
  // Standard output as written, also under wine: the converted lines of a
  // run that reads standard input, which are not written in text mode.
  bool stdout_as_written = false;
  // With file_size_limit_bytes: SIGXFSZ keeps its default action, so only
  // the program itself can keep the limit from ending it.
  bool file_size_signal_default = false;
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

// A run of the native program that the test holds and ends itself. Its
// standard output is a pipe of one page that the test leaves unread, so
// the program stops at a listing line once the pipe is full; no waiting
// on guessed times. A run still going at the end of the scope is killed.
class HeldRun {
 public:
  HeldRun(const std::vector<std::string>& args, const RunOptions& options);
  ~HeldRun();
  HeldRun(const HeldRun&) = delete;
  HeldRun& operator=(const HeldRun&) = delete;

  // Waits until the program blocks writing to its full standard output;
  // false when it ended first or the timeout passed.
  bool wait_until_held();
  void send(int signal);
  // Waits until a signal sent is no longer pending: the program took it.
  bool wait_until_taken(int signal);
  // The reader goes away: the program's next write to standard output
  // meets a closed pipe.
  void close_output();
  // Reads the rest of both outputs and waits for the end.
  RunResult finish();
  // The signal that ended the run; 0 when it exited (after finish).
  int end_signal() const { return end_signal_; }

 private:
  int pid_ = -1;
  int out_ = -1, err_ = -1;
  int timeout_seconds_ = 60;
  int end_signal_ = 0;
  std::string out_text_;
};

// Special files for the walk to meet.
bool make_fifo(const std::filesystem::path& path);
bool make_socket_file(const std::filesystem::path& path);

}  // namespace test
