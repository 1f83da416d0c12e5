// Helpers shared by the unit tests.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "framework/exit_status.h"

namespace test {

// Thrown in place of ending the process, so a test can see the status.
struct RunEnded {
  exit_status status;
};

// Puts every process-wide setting, list and counter back to its state at
// process start, makes end_run throw RunEnded and makes pauses count
// instead of wait.
void reset_all_state();
int pauses_taken();     // pause_seconds calls since the reset
int seconds_paused();   // their seconds, added up

// A fresh directory, removed with its content at the end of the scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::u16string u16() const;
  // Writes a file below the directory (creating its parent directories).
  std::filesystem::path write(const std::string& relative, const std::string& content) const;

 private:
  std::filesystem::path path_;
};

std::string read_file(const std::filesystem::path& path);
// UTF-16 units as bytes in either byte order; of 8-bit text, each byte one
// unit of the same value.
std::string utf16_bytes(std::u16string_view units, bool big_endian);
std::string utf16_bytes(std::string_view text, bool big_endian);
// UTF-8 path text to the program's UTF-16.
std::u16string u16(const std::string& utf8);
std::string u8(const std::u16string& text);

// Changes the current directory for the scope.
class ScopedCwd {
 public:
  explicit ScopedCwd(const std::filesystem::path& dir);
  ~ScopedCwd();

 private:
  std::filesystem::path saved_;
};

// The question asked when a named stream cannot be read, word for word.
inline constexpr char kStreamReadPrompt[] =
    "\nLine: 91 Source File: ..\\..\\..\\INCLUDE_U\\Dmp_fun_u Has encountered an Alt Data "
    "Stream Read error"
    "\n\nIf you want me to continue press 'Y' else anyting else aborts"
    "\nIf you press Y, the -S, \"no alternate data stream option\" will be installed\n"
    "Enter Y or anything els now ";

// A path made full as the program makes it (the current directory in front).
std::u16string full_path(const std::u16string& relative);

// TZ, and the platform's zone with it, for the scope; the earlier value
// comes back at its end.
class ScopedTz {
 public:
  ScopedTz();
  explicit ScopedTz(const std::u16string& value);
  ~ScopedTz();
  ScopedTz(const ScopedTz&) = delete;
  ScopedTz& operator=(const ScopedTz&) = delete;
  void set(const std::u16string& value);

 private:
  std::optional<std::u16string> saved_;
};

}  // namespace test
