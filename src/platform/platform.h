// The operations the program needs from the operating system, in its own
// terms. The *_posix.cpp and *_win32.cpp files implement this header, one
// file per section below; nothing else in the program includes an
// operating-system header.
//
// Strings are UTF-16 inside the program. On POSIX, bytes that are not valid
// UTF-8 travel as the lone surrogates U+DC80..U+DCFF and come back out as the
// same bytes, so every name on disk round-trips.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace plat {

// ---- Strings and console text -------------------------------------------

// Native bytes (POSIX: file names, arguments) to UTF-16 and back.
std::u16string from_native(const std::string& bytes);
std::string to_native(const std::u16string& text);

// Writes text the way the platform shows names on its console (POSIX: the
// original bytes; Win32: UTF-16 to a console, the ANSI code page otherwise).
void write_text(FILE* stream, const std::u16string& text);

// The program's arguments as UTF-16, argument 0 first.
std::vector<std::u16string> program_arguments(int argc, char** argv);

// ---- Paths ----------------------------------------------------------------

char16_t separator();                   // '\\' on Win32, '/' on POSIX
bool is_separator(char16_t c);          // Win32 also accepts '/'
const std::u16string& long_path_prefix();  // "\\?\" on Win32, empty on POSIX
bool slash_begins_option();             // '/' introduces an option group

// Full path of `path` (at most max_units units); nullopt on failure.
std::optional<std::u16string> full_path(const std::u16string& path,
                                        size_t max_units);
// Full path of a file argument: its last part without the trailing dots
// and blanks Win32 drops from it, unless (POSIX) an entry of that very
// name exists.
std::optional<std::u16string> argument_full_path(const std::u16string& path,
                                                 size_t max_units);
std::optional<std::u16string> current_dir();
// Directory names compared as the platform compares them (search list).
bool same_dir_name(const std::u16string& a, const std::u16string& b);
// File names keep their case (POSIX); false where names ignore case (Win32).
bool names_keep_case();
// A directory path the platform cannot open at all: past PATH_MAX bytes
// (POSIX) or 32,767 units with its prefix (Win32).
bool path_too_long(const std::u16string& path);
// Volume root of a stored search directory: Win32 cuts at the first colon
// and adds ":\"; POSIX keeps the directory itself.
std::u16string volume_root(const std::u16string& dir);
// The running executable's full path.
std::u16string program_path();

bool is_directory(const std::u16string& path);
bool exists(const std::u16string& path);
// What a path names, links followed: `other` is what only POSIX has and
// no file walk lists (a FIFO, socket or device), or on Win32 what is no
// file on disk.
enum class path_kind { missing, file, directory, other };
path_kind kind_of(const std::u16string& path);
bool make_directory(const std::u16string& path);
// Two names of one file (hard link, case-insensitive volume, ...).
bool same_file(const std::u16string& a, const std::u16string& b);

// Identity of a file or directory (device and inode, or volume serial and
// file index), links followed: a walk refuses to enter a directory already
// on its own path, and passes over the files the run itself writes.
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t index = 0;
  bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> file_identity(const std::u16string& path);
// The identity of the file an open stream writes; nullopt for a console,
// a pipe or a stream without a file.
std::optional<FileIdentity> stream_identity(FILE* stream);

// File-system name of the volume holding `root` ("NTFS", "FAT32", ...).
std::optional<std::string> volume_fs_name(const std::u16string& root);

// ---- Directory enumeration (FindFirstFileW and friends) ------------------

inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrHidden = 0x02;
inline constexpr uint32_t kAttrDirectory = 0x10;

// Stamps are 100-nanosecond units since 1601-01-01 UTC; 0 when not kept.
inline constexpr int64_t kEpochDelta = 11644473600LL;  // seconds, 1601 to 1970
inline constexpr int64_t kStampsPerSecond = 10000000LL;

struct FindData {
  std::u16string name;
  uint32_t attributes = 0;
  // The entry is a link to elsewhere: a POSIX symbolic link, or on Win32 a
  // reparse point that stands for another name (junction, symbolic link).
  bool link = false;
  uint64_t size = 0;
  uint64_t creation = 0;
  uint64_t last_access = 0;
  uint64_t last_write = 0;
};

// One enumeration of `directory + pattern`. On Win32 this is a find
// handle. On POSIX a pattern selects what it selects on Windows (case
// ignored, "*.*" every name, '?' never a dot), "." and ".." come first
// except at a volume root, the rest in the order of their upper-cased
// UTF-16 units, and only regular files and directories are returned.
class DirSearch {
 public:
  DirSearch() = default;
  DirSearch(const DirSearch&) = delete;
  DirSearch& operator=(const DirSearch&) = delete;

  // Starts the search for a search string (directory + pattern) and
  // fills the first entry. False when it cannot start or nothing matches.
  // Without details only the name and the directory and hidden bits are
  // sure to be filled (size, stamps and the read-only bit may stay 0):
  // cheaper where the platform must ask for the rest per entry.
  // A pattern without wildcards is looked up directly first (on POSIX as
  // given, then without its trailing dots and blanks).
  bool start(const std::u16string& search_string, FindData& first,
             bool details = true);
  // After a start that returned false: true when the directory exists but
  // could not be read or searched (reason in last_error_text()); false
  // when it does not exist or nothing in it matched.
  bool unreadable() const { return unreadable_; }
  bool next(FindData& entry) {
    if (next_ >= found_.size()) return false;
    const Listed& listed = found_[next_];
    entry.name.assign(names_, listed.name_at, listed.name_units);
    entry.attributes = listed.attributes;
    entry.link = listed.link != 0;
    const Details none;
    const Details& more = next_ < details_.size() ? details_[next_] : none;
    entry.size = more.size;
    entry.creation = more.creation;
    entry.last_access = more.last_access;
    entry.last_write = more.last_write;
    ++next_;
    return true;
  }
  void close() {
    std::u16string().swap(names_);
    std::vector<Listed>().swap(found_);
    std::vector<Details>().swap(details_);
    next_ = 0;
  }
  // From the next start on, the entries after the first are only the
  // directories: all that a walk needs to descend, and a directory of a
  // million files then costs next to nothing. The first entry stays what
  // it would be, so that start still tells whether anything matched.
  void directories_only() { directories_only_ = true; }

 private:
  bool unreadable_ = false;

  // The whole listing is taken when the search starts: no handle stays
  // open while the caller descends, and files the caller creates meanwhile
  // (its outputs) do not turn up in it. It is kept flat, as a directory may
  // hold millions of entries: the names one after the other in names_, a
  // small record per entry, and the size and stamps only when asked for.
  struct Listed {
    uint32_t name_at = 0;  // first unit of the name in names_
    uint32_t attributes = 0;
    uint16_t name_units = 0;
    uint8_t kind = 0;  // the platform's own note until the entry is described
    uint8_t link = 0;  // FindData::link
  };
  struct Details {
    uint64_t size = 0;
    uint64_t creation = 0;
    uint64_t last_access = 0;
    uint64_t last_write = 0;
  };
  // Adds a name to names_; false when the listing has no room left for it.
  bool add_name(std::u16string_view name, Listed& listed) {
    if (name.size() > UINT16_MAX || names_.size() > UINT32_MAX - name.size()) return false;
    listed.name_at = static_cast<uint32_t>(names_.size());
    listed.name_units = static_cast<uint16_t>(name.size());
    names_.append(name);
    return true;
  }
  std::u16string_view name_of(const Listed& listed) const {
    return std::u16string_view(names_).substr(listed.name_at, listed.name_units);
  }
  // "." first, ".." second, every other name after them.
  int dot_rank(const Listed& listed) const;
  // Keeps in names_ only the names found_ still lists, once entries have
  // been dropped from it.
  void compact_names();
  // How every start ends: the first entry handed out, or false and no
  // listing when nothing is left in it.
  bool hand_out_first(FindData& first);

  std::u16string names_;
  std::vector<Listed> found_;
  std::vector<Details> details_;  // in step with found_, when details were asked for
  size_t next_ = 0;
  bool directories_only_ = false;
};

// ---- Files ------------------------------------------------------------------

// An open file read or written in blocks (binary; line ends are the
// caller's business). Closed when it goes out of scope.
class File {
 public:
  File() = default;
  ~File() { close(); }
  File(File&& other) noexcept { take(other); }
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      close();
      take(other);
    }
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool is_open() const { return handle_ != kNone; }
  // Bytes read, 0 at the end, -1 on an error.
  long long read(void* buffer, size_t size);
  bool write_all(const void* data, size_t size);
  // Closes; false when the system reports the data was not stored.
  bool close();
  // True when the next read would give 0: a read gave 0, or came short
  // once the size the file had when opened was read. The last read of a
  // small file is then never made.
  bool at_end() const { return at_end_; }

  intptr_t handle_ = kNone;
  static constexpr intptr_t kNone = -1;
  // Size of the regular file when opened; 0 when unknown (or empty).
  uint64_t expected_size_ = 0;

 private:
  void forget_reads() {
    expected_size_ = read_so_far_ = 0;
    at_end_ = false;
  }
  void note_read(long long got, size_t asked) {
    if (got == 0) at_end_ = true;
    if (got <= 0) return;
    read_so_far_ += static_cast<uint64_t>(got);
    if (expected_size_ > 0 && static_cast<size_t>(got) < asked && read_so_far_ >= expected_size_)
      at_end_ = true;
  }
  void take(File& other) {
    handle_ = other.handle_;
    expected_size_ = other.expected_size_;
    read_so_far_ = other.read_so_far_;
    at_end_ = other.at_end_;
    other.handle_ = kNone;
    other.expected_size_ = other.read_so_far_ = 0;
    other.at_end_ = false;
  }
  uint64_t read_so_far_ = 0;
  bool at_end_ = false;
};

bool open_read(const std::u16string& path, File& file);

bool remove_file(const std::u16string& path);
// Every named temporary carries this marker and then "PID-N":
// TARGET.~ipconv-PID-N, or .~ipconv-PID-N beside a target whose name is
// near the length limit.
inline constexpr char16_t kTempMarker[] = u".~ipconv-";
// The process id in the name of one of our temporaries; nullopt for any
// other name.
std::optional<uint64_t> temp_name_owner(const std::u16string& name);
// Text of the last failed operation's system error. Each thread has its
// own: a thread that fails hands its error code to the thread that reports
// it, which takes it over with set_last_error_code.
std::string last_error_text();
uint32_t last_error_code();
void set_last_error_code(uint32_t code);

// Standard input as a File, for data read in blocks as it comes: no text
// mode stands between (Win32: the stream is binary). False when the
// process has no standard input.
bool open_standard_input(File& file);
// Keeps the process's standard output as `file`, for data written byte for
// byte, and points the stdout stream, and the standard output the process
// hands on, at standard error from then on: no report can mix with the
// data. Call it before anything is written to stdout. False when there is
// no standard output to keep; stdout is moved all the same.
bool keep_standard_output(File& file);

// Opens a C stream on a wide name; mode as for fopen ("a+", "w", "r", ...).
FILE* open_stream(const std::u16string& path, const char* mode);

// Byte of text input that ends the input (Win32 text mode: Ctrl+Z).
bool text_input_ends_at_ctrl_z();
// The line end of text output.
const char* line_end();

// Read-write access for repairing a file in place (accounting file).
bool open_read_write(const std::u16string& path, bool create, File& file);
std::optional<uint64_t> file_size(File& file);
bool set_file_length(File& file, uint64_t length);

// ---- Outputs ---------------------------------------------------------------

// An output being written. It has no name that a walk could meet until
// commit_output gives it the target's name in one step; until then it is
// abandoned (nothing left) when it goes out of scope, and where the file
// system forces a named temporary beside the target, the endings of the
// run that install_ending_handlers covers remove that temporary.
class PendingOutput {
 public:
  PendingOutput() = default;
  ~PendingOutput() { abandon(); }
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;

  File file;  // where the content goes
  // Closes the file and removes what was written; a committed output stays.
  void abandon();

  std::u16string target;
  std::u16string temp_path;  // the named temporary, empty while it has none
  int temp_slot = -1;        // where the endings find temp_path; -1: none
  bool vanishes = false;     // the file goes with its handle (nameless, or
                             // marked for deletion)
  uint32_t keep_mode = 0;    // what the replaced file passes on (POSIX mode
                             // bits, Win32 attributes); 0: nothing
};

enum class begin_result { ok, read_only, same_file, failed };
// Starts an output that is to become `target`. read_only: the existing
// target is protected (no write permission, or the read-only attribute)
// and stays as it is. same_file: the target is another name of the open
// `source` (a link to it, a hard link), which it would destroy. failed:
// last_error_text tells why.
begin_result begin_output(const std::u16string& target, PendingOutput& output,
                          const File* source = nullptr);
// How many outputs may be pending at once, each with its named temporary
// noted for the endings (a fixed room: the signal handlers may not
// allocate). begin_output fails beyond it.
inline constexpr size_t kPendingOutputsMax = 256;
// Always a named temporary beside the target: what begin_output falls back
// to by itself where the file system has no nameless files.
begin_result begin_named_output(const std::u16string& target, PendingOutput& output);
// Puts the complete output in place of its target in one step: a link at
// the target is replaced, not written through; a replaced file's
// permissions are kept. False (with last_error_text) when the data was
// not stored or could not be put in place; the output is then abandoned.
// Once in place, its file may still be open (a nameless file linked in):
// closing it, on any thread, is all that is left.
bool commit_output(PendingOutput& output);

// The directory the walk listed last, held open so that other threads can
// open its files and begin outputs in it while the main thread walks on.
// Each costs the system about as much as naming an output, which stays the
// main thread's. Where a name needs more than these plain steps, they
// decline, and the caller takes the whole way on the main thread.
class HeldDir;
// The hold on `dir` when it is the directory listed last (POSIX); nullptr
// otherwise, and always where names are opened by their whole path
// (Win32). Main thread only.
std::shared_ptr<HeldDir> hold_listed_dir(const std::u16string& dir);
// Opens `name` in `dir`, on any thread, where it is a regular file that a
// lookup of the name finds as it stands (not through a link): what
// open_read would then read. False otherwise, with nothing to tell.
bool open_held(HeldDir& dir, const std::u16string& name, File& file);
// Begins the output `target` in `dir`, on any thread, as begin_output
// would where it makes a nameless file. nullopt where begin_output would
// need a named temporary: the output is then left as it was.
std::optional<begin_result> begin_held_output(HeldDir& dir, const std::u16string& target,
                                              PendingOutput& output, const File* source);

// ---- Console, signals, time, system --------------------------------------

void clear_console();
bool key_waiting();     // _kbhit
int read_key();         // _getch; EOF counts as "any other key" (-1)
void set_stdin_unbuffered();
// The first Ctrl+C goes to `handler`; the second ends the run.
void install_interrupt_handler(void (*handler)(int));
// The signals that end a run (the second Ctrl+C, SIGTERM, SIGHUP, SIGQUIT,
// SIGPIPE; Win32: Ctrl+C, Ctrl+Break, console close) first remove the
// named temporaries of every pending output, then end the process as they
// would have.
// A file-size limit makes writes fail instead of ending the run.
void install_ending_handlers();
void sleep_seconds(int seconds);
// Starts `body` on a thread of its own. The signals that end a run and the
// first Ctrl+C never go to it (POSIX: they are held back there), so that
// holding them back in the main thread holds them back for the process.
std::thread start_thread(std::function<void()> body);
// The processors this process may run on (its affinity), at least 1.
unsigned usable_processors();
void use_ansi_file_names();  // SetFileApisToANSI; nothing on POSIX
// A process with this id runs on this machine.
bool process_running(uint64_t pid);
// When the process with this id started, as a stamp; nullopt when that
// cannot be learnt.
std::optional<uint64_t> process_started(uint64_t pid);

// File-open dialog; POSIX: the title as a prompt on a terminal, one line.
std::optional<std::u16string> open_file_dialog(const std::u16string& title);

std::optional<std::u16string> get_env(const std::string& name);
void set_env(const std::string& name, const std::u16string& value);
std::optional<std::u16string> computer_name();

// Time-zone information (_tzset, _tzname, _timezone, _daylight).
struct ZoneInfo {
  std::string standard_name;
  std::string daylight_name;
  long offset_seconds = 0;  // positive west of Greenwich
  bool daylight = false;    // the zone observes daylight saving
};
ZoneInfo refresh_zone();

// Local broken-down time from a stamp and the inverse; tm-like fields.
struct SystemTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0,
      millisecond = 0, weekday = 0;
};
// FileTimeToLocalFileTime: applies the bias in force now.
std::optional<uint64_t> stamp_to_local(uint64_t stamp);
// FileTimeToSystemTime.
std::optional<SystemTime> stamp_to_system_time(uint64_t stamp);
int64_t now_seconds();  // seconds since 1970-01-01 UTC
// Local midnight of a calendar date as seconds since 1970 UTC.
std::optional<int64_t> local_midnight(int year, int month, int day);
// Broken-down local time (or UTC) of a time in seconds since 1970.
SystemTime broken_down(int64_t seconds, bool utc);

// ---- Named streams and privileges ----------------------------------------

// File times of an object (or of "object:stream"), as stamps.
struct Stamps {
  uint64_t creation = 0, last_access = 0, last_write = 0;
};
std::optional<Stamps> object_stamps(const std::u16string& path);

// The backup-read sequence of one object: a stream header per stream
// (WIN32_STREAM_ID), then its name, then its data.
struct StreamHeader {
  uint32_t id = 0;
  uint32_t attributes = 0;
  uint64_t size = 0;
  uint32_t name_size = 0;  // in bytes
};
class BackupReader {
 public:
  BackupReader();
  ~BackupReader();
  BackupReader(const BackupReader&) = delete;
  BackupReader& operator=(const BackupReader&) = delete;

  bool open(const std::u16string& path);
  // Reads the next header. 1: a header; 0: end of the object; -1: error.
  int read_header(StreamHeader& header);
  // Reads the current stream's name (name_size bytes); the bytes read, or -1.
  long long read_name(char16_t* name, uint32_t name_size);
  // Skips the rest of the current stream's data.
  void skip_data();
  void close();

 private:
  struct State;
  State* state_;
};

enum class PrivilegeStatus { ok, token_error, backup_lookup_error,
                             restore_lookup_error };
PrivilegeStatus enable_backup_restore();

// ---- State ------------------------------------------------------------------

// Puts the layer's remembered state back as at process start (the last
// error, what was learnt about the system, an interrupt seen), so that each
// test starts from the same state.
void reset_platform_state();

}  // namespace plat
