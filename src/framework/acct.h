// The accounting file, its directories and repair, the memo entry and the
// file-choice dialog.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "framework/settings.h"
extern FILE* acct_file;  // nullptr when there is none
// A write or close of the accounting file failed (and was reported).
extern bool g_acct_write_failed;
extern FILE* memo_file;  // nullptr when none was chosen
// The memo text read by memo_entry.
extern std::string g_memo_text;

// Room of the directory part of a path split by make_log_dirs (terminator
// included); a longer directory part is not walked.
inline constexpr size_t kLogDirPartUnits = 259;
// Room of the memo's line buffer (terminator included): longer input lines
// are read in pieces of at most kMemoLineBytes - 1 bytes.
inline constexpr size_t kMemoLineBytes = 5000;
// The memo entry ends once the text holds more than this many characters.
inline constexpr size_t kMemoTextLimit = 5000;
// Room of the path chosen with the file dialog (terminator included).
inline constexpr size_t kPickedPathUnits = 260;

// Creates the file's missing directories, repairs its end and opens it for
// appending behind a separator line; nullptr (after a message) on failure.
FILE* open_acct_file(const std::u16string& path);
void make_log_dirs(const std::u16string& path);
// Cuts the file at its first NUL or Ctrl-Z byte; creates it empty when it
// does not exist. Ends the run with status 1 when neither works.
void trim_file_end(const std::u16string& path);
// Reads the memo from standard input into g_memo_text and writes it to
// memo_file (or the accounting file when no memo file was chosen).
void memo_entry();
// The same entry read from `input`.
void memo_entry_from(FILE* input);
// Empty when the dialog was cancelled or there is none.
std::u16string pick_output_file();

// The full path of a file named in a setting (at most max_units), or the
// value as given when it cannot be formed; the open that follows reports.
std::u16string full_path_or_value(const std::u16string& value, size_t max_units);
// Makes `stream` the memo stream; a memo file opened earlier is closed.
void take_memo_stream(FILE* stream);

// Where a new accounting file was named; each leaves its own note in the
// file it replaces.
enum class acct_overrider { option_letter, ini_file, long_option };
// Names the accounting file: `value` as a full path of at most `room`
// units, opened once parsing ends. An accounting file still open (the one
// ACCT named) receives the overrider's note and is closed.
void set_acct_override(const std::u16string& value, size_t room, acct_overrider by,
                       option_rec& options);

// The memo's own file, opened for appending: the file `value` names (as a
// full path of at most `room` units) or, when `named` is false, the one the
// user picks. A cancelled pick leaves the memo without a file of its own.
void choose_memo_file(bool named, const std::u16string& value, size_t room);

// The system's reason for the file operation that just failed, on a line
// of its own under the message that names the file: "  Permission denied".
void write_failure_reason(FILE* stream);

// Pushes out what `stream` holds; false when something written to it did
// not reach the system, with the cause in `reason`.
bool stream_written(FILE* stream, std::string& reason);
// The same, then closes the stream; false also when the close fails.
bool stream_closed(FILE* stream, std::string& reason);
// Checks that the accounting record so far reached the file. A failure is
// reported once on standard error, naming the file and the cause, and
// sets g_acct_write_failed.
bool check_acct_file();
// Checks, closes and forgets the accounting file (acct_file becomes none).
void close_acct_file();

// Forgets the accounting and memo streams, as at process start. Open
// streams are not closed (tests own them).
void reset_acct_state();
