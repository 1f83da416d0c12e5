// Outputs on POSIX: files that appear whole or not at all, the endings
// that remove their named temporaries, and the directory held open for
// other threads.

#include "platform/posix_internal.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

namespace plat {

TempSlot g_temp_slots[kPendingOutputsMax];

class HeldDir {
 public:
  explicit HeldDir(int fd) : fd_(fd) {}
  ~HeldDir() { ::close(fd_); }
  HeldDir(const HeldDir&) = delete;
  HeldDir& operator=(const HeldDir&) = delete;

  int fd() const { return fd_; }
  // A nameless file could not be made here: outputs here take the whole way.
  std::atomic<bool> refused{false};

 private:
  const int fd_;
};

namespace {
// The hold on the directory listed last, while jobs need it.
std::shared_ptr<HeldDir> g_held;
}  // namespace

void forget_held_dir() { g_held.reset(); }

namespace {

// Notes `name` for the signal handlers in a free slot; -1 when every
// slot is taken.
int note_temp(const std::string& name) {
  for (size_t i = 0; i < kPendingOutputsMax; ++i) {
    TempSlot& slot = g_temp_slots[i];
    if (slot.named) continue;
    const size_t n = std::min(name.size(), sizeof slot.name - 1);
    std::memcpy(slot.name, name.data(), n);
    slot.name[n] = '\0';
    std::atomic_signal_fence(std::memory_order_seq_cst);
    slot.named = 1;
    return static_cast<int>(i);
  }
  return -1;
}

void forget_temp(int& slot) {
  if (slot < 0) return;
  g_temp_slots[slot].named = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  slot = -1;
}

// Holds the ending signals back while a temporary gets its name and is
// noted, so that no ending falls between the two.
class EndingsHeld {
 public:
  EndingsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kEndingSignals) sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, &saved_);
  }
  ~EndingsHeld() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
  EndingsHeld(const EndingsHeld&) = delete;
  EndingsHeld& operator=(const EndingsHeld&) = delete;

 private:
  sigset_t saved_;
};

const std::string& pid_text() {
  static const std::string text = std::to_string(getpid());
  return text;
}

// Gives a new temporary name beside `target` through `make` (which returns
// 0, or -1 with errno), trying the next name while one is taken. The name
// made is noted for the signal handlers in `slot`.
template <typename Make>
bool make_temp_name(const std::string& target, Make make, std::string& made, int& slot) {
  static unsigned counter = 0;
  const std::string marker = to_native(kTempMarker);
  std::string base = target + marker + pid_text() + "-";
  // A target whose name is near the file system's limit gets a short
  // temporary name in the same directory, so the rename stays one step.
  const size_t slash = target.rfind('/');
  const size_t name_length = target.size() - (slash == std::string::npos ? 0 : slash + 1);
  if (name_length + 32 > NAME_MAX)
    base = target.substr(0, slash == std::string::npos ? 0 : slash + 1) + marker + pid_text() + "-";
  for (int attempt = 0; attempt < 10000; ++attempt) {
    std::string name = base + std::to_string(counter++);
    EndingsHeld held;
    slot = note_temp(name);
    if (slot < 0) {
      g_last_errno = errno = EMFILE;
      return false;
    }
    if (make(name.c_str()) == 0) {
      made = std::move(name);
      return true;
    }
    const int error = errno;
    forget_temp(slot);
    if (error != EEXIST) {
      g_last_errno = errno = error;
      return false;
    }
  }
  g_last_errno = errno = EEXIST;
  return false;
}

constexpr int kNameless = O_TMPFILE | O_WRONLY | O_CLOEXEC;

// The directory part of a path, as a path to open.
std::string directory_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".")
         : slash == 0               ? std::string("/")
                                    : path.substr(0, slash);
}

// Nameless files are linked in through /proc; without it they could not
// be given a name by an ordinary user.
bool nameless_files_usable() {
  static const bool usable = access("/proc/self/fd", X_OK) == 0;
  return usable;
}

std::string fd_path(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// The directory whose file system was last asked about, and whether a
// close there can report anything: local disk file systems report a
// failed write at the write (space, quota), network and FUSE ones may
// keep it for the close. Asked once a directory.
bool g_close_checked = false;
std::string g_close_checked_dir;
bool g_close_reports = true;

bool close_may_report(int fd, const std::string& target) {
  const size_t slash = target.rfind('/');
  std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  if (g_close_checked && dir == g_close_checked_dir) return g_close_reports;
  struct statfs fs;
  if (fstatfs(fd, &fs) != 0) return true;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0xEF53UL:      // ext2, ext3, ext4
    case 0x58465342UL:  // xfs
    case 0x9123683EUL:  // btrfs
    case 0x01021994UL:  // tmpfs
    case 0xF2F52010UL:  // f2fs
    case 0x794C7630UL:  // overlayfs, over one of these
      g_close_reports = false;
      break;
    default:
      g_close_reports = true;
  }
  g_close_checked = true;
  g_close_checked_dir = std::move(dir);
  return g_close_reports;
}

// Gives the nameless file `fd` a name. Newer kernels let the opener link
// it through its descriptor; older ones ask for a privilege there
// (ENOENT), and /proc serves from then on.
int link_fd(int fd, AtPath at) {
  static bool through_proc = false;
  if (!through_proc) {
    if (linkat(fd, "", at.dir, at.name, AT_EMPTY_PATH) == 0) return 0;
    if (errno != ENOENT && errno != EPERM && errno != EINVAL) return -1;
  }
  if (linkat(AT_FDCWD, fd_path(fd).c_str(), at.dir, at.name, AT_SYMLINK_FOLLOW) != 0) return -1;
  through_proc = true;
  return 0;
}

// What the existing target allows: replacing a file keeps its permissions;
// a file without any write permission is not replaced; another name of
// `source` (links followed) is not touched at all. A new target costs
// one query.
begin_result check_target(AtPath at, const File* source, PendingOutput& output) {
  struct stat st;
  if (fstatat(at.dir, at.name, &st, AT_SYMLINK_NOFOLLOW) != 0) return begin_result::ok;
  if (source != nullptr && source->is_open()) {
    struct stat object = st, own;
    if ((!S_ISLNK(st.st_mode) || fstatat(at.dir, at.name, &object, 0) == 0) &&
        fstat(static_cast<int>(source->handle_), &own) == 0 && object.st_dev == own.st_dev &&
        object.st_ino == own.st_ino)
      return begin_result::same_file;
  }
  if (!S_ISREG(st.st_mode)) return begin_result::ok;
  if ((st.st_mode & 0222) == 0) return begin_result::read_only;
  output.keep_mode = static_cast<uint32_t>(st.st_mode & 0777);
  return begin_result::ok;
}

// Drops what `output` held and points it at `target` (`native` its name
// on disk), as far as the existing target allows.
begin_result point_at_target(const std::u16string& target, const File* source,
                             PendingOutput& output, std::string& native) {
  output.abandon();
  output.target = target;
  native = to_native(target);
  return check_target(at_path(native), source, output);
}

begin_result begin_named(const std::string& target, PendingOutput& output) {
  int fd = -1;
  std::string name;
  const bool made = make_temp_name(
      target,
      [&fd](const char* n) {
        fd = open(n, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        return fd >= 0 ? 0 : -1;
      },
      name, output.temp_slot);
  if (!made) return begin_result::failed;
  output.file.handle_ = fd;
  output.temp_path = from_native(name);
  return begin_result::ok;
}

}  // namespace

void PendingOutput::abandon() {
  file.close();
  if (!temp_path.empty()) {
    unlink(to_native(temp_path).c_str());
    forget_temp(temp_slot);
    temp_path.clear();
  }
  vanishes = false;
  keep_mode = 0;
}

begin_result begin_named_output(const std::u16string& target, PendingOutput& output) {
  std::string native;
  const begin_result allowed = point_at_target(target, nullptr, output, native);
  if (allowed != begin_result::ok) return allowed;
  return begin_named(native, output);
}

begin_result begin_output(const std::u16string& target, PendingOutput& output,
                          const File* source) {
  std::string native;
  const begin_result allowed = point_at_target(target, source, output, native);
  if (allowed != begin_result::ok) return allowed;
  if (nameless_files_usable()) {
    const AtPath at = at_path(native);
    const int fd = at.dir != AT_FDCWD ? openat(at.dir, ".", kNameless, 0666)
                                      : open(directory_of(native).c_str(), kNameless, 0666);
    if (fd >= 0) {
      output.file.handle_ = fd;
      output.vanishes = true;
      return begin_result::ok;
    }
    // File systems without nameless files (some FUSE and network file
    // systems) refuse in several ways; a named temporary serves there.
  }
  return begin_named(native, output);
}

std::shared_ptr<HeldDir> hold_listed_dir(const std::u16string& dir) {
  const LookedUp& listed = g_looked_up;
  if (listed.dir_fd < 0 || listed.listed_dir == "." || to_native(dir) != listed.listed_dir)
    return nullptr;
  if (!g_held) {
    // Opened again rather than duplicated: a handle of its own, so that
    // the other threads do not share one with the main thread's calls.
    const int fd = openat(listed.dir_fd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    g_held = std::make_shared<HeldDir>(fd);
  }
  if (g_held->refused) return nullptr;
  return g_held;
}

// What a lookup of a plain name in the directory listed last does (the
// name opened as it stands, not through a link, non-blocking), and then
// open_read with the descriptor it opened.
bool open_held(HeldDir& dir, const std::u16string& name, File& file) {
  file.close();
  const int fd = openat(dir.fd(), to_native(name).c_str(),
                        O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  file.handle_ = fd;
  file.expected_size_ = static_cast<uint64_t>(st.st_size);
  return true;
}

std::optional<begin_result> begin_held_output(HeldDir& dir, const std::u16string& target,
                                              PendingOutput& output, const File* source) {
  if (dir.refused || !nameless_files_usable()) return std::nullopt;
  output.abandon();
  output.target = target;
  const std::string native = to_native(target);
  const std::string name = native.substr(native.rfind('/') + 1);
  const begin_result allowed = check_target({dir.fd(), name.c_str()}, source, output);
  if (allowed != begin_result::ok) return allowed;
  const int fd = openat(dir.fd(), ".", kNameless, 0666);
  if (fd < 0) {
    dir.refused = true;
    output.abandon();
    output.target.clear();
    return std::nullopt;
  }
  output.file.handle_ = fd;
  output.vanishes = true;
  return begin_result::ok;
}

bool commit_output(PendingOutput& output) {
  if (!output.file.is_open()) {
    g_last_errno = EBADF;
    return false;
  }
  const int fd = static_cast<int>(output.file.handle_);
  const std::string target = to_native(output.target);
  // Best effort: a file system without permissions refuses this.
  if (output.keep_mode != 0) fchmod(fd, static_cast<mode_t>(output.keep_mode));
  auto fail = [&output]() {
    const int error = g_last_errno;
    output.abandon();
    g_last_errno = errno = error;
    return false;
  };

  if (output.vanishes) {
    // A file that was there when the output began is replaced by the
    // rename below, after the close has reported what the file system
    // reports at close; a new target is linked in directly.
    if (output.keep_mode == 0) {
      // Closing a duplicate hands over what the file system reports at
      // close (a network file system's write errors) while the file stays
      // open.
      if (close_may_report(fd, target)) {
        const int probe = dup(fd);
        if (probe < 0 || ::close(probe) != 0) {
          remember_error();
          return fail();
        }
      }
      // The link itself tells whether the target is there: it never
      // replaces anything, so a target that came meanwhile (or a link at
      // its name) is replaced by the rename below.
      if (link_fd(fd, at_path(target)) == 0) {
        output.vanishes = false;
        return true;
      }
      if (errno != EEXIST) {
        remember_error();
        return fail();
      }
    }
    // The target exists: a temporary name first, then one rename over it.
    std::string name;
    if (!make_temp_name(
            target, [fd](const char* n) { return link_fd(fd, at_path(n)); }, name,
            output.temp_slot))
      return fail();
    output.temp_path = from_native(name);
    output.vanishes = false;
    if (!output.file.close()) return fail();
  } else if (!output.file.close()) {
    return fail();
  }
  const std::string temp = to_native(output.temp_path);
  const AtPath from = at_path(temp), to = at_path(target);
  if (renameat(from.dir, from.name, to.dir, to.name) != 0) {
    remember_error();
    return fail();
  }
  forget_temp(output.temp_slot);
  output.temp_path.clear();
  output.keep_mode = 0;
  return true;
}

void reset_outputs_state() {
  forget_held_dir();
  g_close_checked = false;
  g_close_checked_dir.clear();
  g_close_reports = true;
}

}  // namespace plat
