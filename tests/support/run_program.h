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
};

struct RunOptions {
  std::filesystem::path cwd;
  std::string stdin_text;
  bool stdin_closed = true;  // when false, stdin_text is fed
  std::vector<std::pair<std::string, std::string>> env;  // added or replaced
  std::vector<std::string> unset_env;
  int timeout_seconds = 60;
};

// The program under test (IPCONV_PROGRAM) and its runner (IPCONV_RUNNER).
std::string program_under_test();
bool running_under_wine();

RunResult run_program(const std::vector<std::string>& args, const RunOptions& options);

}  // namespace test
