// What the POSIX files of the platform layer share: the error of the last
// failed call, stamps of file times, the file query that the listing and
// the stream times both make, and the pending outputs' temporaries that
// the signal handlers remove.
#pragma once

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace plat {

// errno of the calling thread's last failed operation, for last_error_text.
extern thread_local int g_last_errno;
// statx is refused here (old kernel, a filter): fstatat from then on.
extern bool statx_missing;
inline void remember_error() { g_last_errno = errno; }

// argv[0] as the program was started, for program_path without /proc.
extern std::string g_argv0;

// A file time as a stamp; 0 before 1601.
inline uint64_t stamp_of(int64_t seconds, int64_t nanoseconds) {
  const int64_t since_1601 = seconds + kEpochDelta;
  if (since_1601 < 0) return 0;
  return static_cast<uint64_t>(since_1601) * kStampsPerSecond +
         static_cast<uint64_t>(nanoseconds / 100);
}

// The object `name` (relative to `dir_fd`) names, links followed unless
// flags say otherwise; false when it cannot be reached. Birth time only
// where the file system keeps one.
bool query(int dir_fd, const char* name, int flags, struct stat& st, int64_t& birth_sec,
           int64_t& birth_nsec);
// The NTFS creation stamp ntfs-3g keeps; 0 without one. `missing`
// remembers a file system that has none.
uint64_t ntfs_creation(const std::string& path, bool& missing);

// The signals that end a run; held back while a temporary gets its name.
inline constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};

// The named temporaries of the pending outputs, for the signal handlers:
// fixed buffers, since a handler may not allocate. A slot is taken and
// given back on the main thread only; its flag says when its name is
// whole.
struct TempSlot {
  char name[PATH_MAX + 1];
  volatile sig_atomic_t named;
};
extern TempSlot g_temp_slots[kPendingOutputsMax];

// What the directory listing learnt that the files may use without asking
// the system again: the last directory listed in full (readable and
// searchable), kept open, and the regular file (no link) a plain-name
// lookup in it found last, with its size and, when it could be read, the
// descriptor the lookup opened it with. Each open_read of that path uses
// it once.
struct LookedUp {
  std::string listed_dir;  // as given to the listing, ending in '/' or "."
  int dir_fd = -1;         // listed_dir as it was listed; -1: none
  std::string file;        // empty: none
  uint64_t size = 0;
  int file_fd = -1;        // the file open for reading; -1: none
};
extern LookedUp g_looked_up;

// Forgets the file of the last lookup, closing its descriptor.
void forget_looked_up_file();

// Makes `dir` (open as `fd`, which stays the caller's) the directory listed
// last, or, with fd -1, forgets it.
void remember_listed_dir(const std::string& dir, int fd);

// A path as the *at calls take it. A name right inside the directory listed
// last is taken relative to its descriptor: the kernel then looks up one
// name instead of walking the whole path, for every call on every file of
// a walk.
struct AtPath {
  int dir;
  const char* name;
};
AtPath at_path(const std::string& path);

// Forgets what the files of the platform remember between calls.
void reset_files_state();
// Lets go of the directory held for other threads (once another is listed).
void forget_held_dir();
// Forgets what the outputs remember between calls.
void reset_outputs_state();

}  // namespace plat
