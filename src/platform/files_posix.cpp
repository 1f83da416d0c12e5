// Files on POSIX: reading and writing in blocks, outputs that appear whole
// or not at all, standard input and output, repair in place.

#include "platform/posix_internal.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

namespace plat {

thread_local int g_last_errno = 0;
char g_temp_name[PATH_MAX + 1];
volatile sig_atomic_t g_temp_named = 0;

long long File::read(void* buffer, size_t size) {
  if (handle_ == kNone) return -1;
  for (;;) {
    ssize_t n = ::read(static_cast<int>(handle_), buffer, size);
    if (n >= 0) {
      note_read(n, size);
      return n;
    }
    if (errno != EINTR) {
      remember_error();
      return -1;
    }
  }
}

bool File::write_all(const void* data, size_t size) {
  if (handle_ == kNone) return false;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(static_cast<int>(handle_), p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      remember_error();
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool File::close() {
  if (handle_ == kNone) return true;
  int fd = static_cast<int>(handle_);
  handle_ = kNone;
  forget_reads();
  if (::close(fd) != 0) {
    remember_error();
    return false;
  }
  return true;
}

LookedUp g_looked_up;

void remember_listed_dir(const std::string& dir, int fd) {
  if (g_looked_up.dir_fd >= 0) ::close(g_looked_up.dir_fd);
  // Without a descriptor of its own, calls take the whole path as before.
  g_looked_up.dir_fd = fd < 0 ? -1 : fcntl(fd, F_DUPFD_CLOEXEC, 3);
  if (fd < 0)
    g_looked_up.listed_dir.clear();
  else
    g_looked_up.listed_dir = dir;
}

AtPath at_path(const std::string& path) {
  const LookedUp& listed = g_looked_up;
  const size_t dir_size = listed.listed_dir.size();
  // "." is where relative names are looked up anyway.
  if (listed.dir_fd >= 0 && listed.listed_dir != "." && path.size() > dir_size &&
      path.compare(0, dir_size, listed.listed_dir) == 0 &&
      path.find('/', dir_size) == std::string::npos)
    return {listed.dir_fd, path.c_str() + dir_size};
  return {AT_FDCWD, path.c_str()};
}

void forget_looked_up_file() {
  if (g_looked_up.file_fd >= 0) ::close(g_looked_up.file_fd);
  g_looked_up.file_fd = -1;
  g_looked_up.file.clear();
}

bool open_read(const std::u16string& path, File& file) {
  file.close();
  const std::string native = to_native(path);
  // The regular file a lookup has just found is already open: what is
  // read is what the lookup saw, whatever stands at its name now.
  if (!g_looked_up.file.empty() && native == g_looked_up.file && g_looked_up.file_fd >= 0) {
    file.handle_ = g_looked_up.file_fd;
    file.expected_size_ = g_looked_up.size;
    g_looked_up.file_fd = -1;
    g_looked_up.file.clear();
    return true;
  }
  forget_looked_up_file();
  const AtPath at = at_path(native);
  // Non-blocking so that a FIFO cannot hold the open; only regular files
  // are read, and their reads ignore the flag, so it stays.
  int fd = openat(at.dir, at.name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    remember_error();
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    remember_error();
    ::close(fd);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    g_last_errno = errno = S_ISDIR(st.st_mode) ? EISDIR : ENOTSUP;
    return false;
  }
  file.handle_ = fd;
  file.expected_size_ = static_cast<uint64_t>(st.st_size);
  return true;
}

// ---- Pending outputs and the endings that remove them ---------------------

namespace {

void note_temp(const std::string& name) {
  g_temp_named = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  const size_t n = std::min(name.size(), sizeof g_temp_name - 1);
  std::memcpy(g_temp_name, name.data(), n);
  g_temp_name[n] = '\0';
  std::atomic_signal_fence(std::memory_order_seq_cst);
  g_temp_named = 1;
}

void forget_temp() { g_temp_named = 0; }

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
// made is noted for the signal handlers.
template <typename Make>
bool make_temp_name(const std::string& target, Make make, std::string& made) {
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
    note_temp(name);
    if (make(name.c_str()) == 0) {
      made = std::move(name);
      return true;
    }
    const int error = errno;
    forget_temp();
    if (error != EEXIST) {
      g_last_errno = errno = error;
      return false;
    }
  }
  g_last_errno = errno = EEXIST;
  return false;
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
begin_result check_target(const std::string& target, const File* source,
                          PendingOutput& output) {
  const AtPath at = at_path(target);
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
  return check_target(native, source, output);
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
      name);
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
    forget_temp();
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
    constexpr int kFlags = O_TMPFILE | O_WRONLY | O_CLOEXEC;
    const AtPath at = at_path(native);
    int fd;
    if (at.dir != AT_FDCWD) {
      fd = openat(at.dir, ".", kFlags, 0666);
    } else {
      const size_t slash = native.rfind('/');
      const std::string dir = slash == std::string::npos ? std::string(".")
                              : slash == 0               ? std::string("/")
                                                         : native.substr(0, slash);
      fd = open(dir.c_str(), kFlags, 0666);
    }
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
        output.file.close();
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
            target, [fd](const char* n) { return link_fd(fd, at_path(n)); }, name))
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
  forget_temp();
  output.temp_path.clear();
  output.keep_mode = 0;
  return true;
}

void reset_files_state() {
  remember_listed_dir(std::string(), -1);
  forget_looked_up_file();
  g_looked_up = LookedUp();
  g_close_checked = false;
  g_close_checked_dir.clear();
  g_close_reports = true;
}

bool remove_file(const std::u16string& path) {
  if (unlink(to_native(path).c_str()) != 0) {
    remember_error();
    return false;
  }
  return true;
}

std::string last_error_text() { return strerror(g_last_errno); }
uint32_t last_error_code() { return static_cast<uint32_t>(g_last_errno); }
void set_last_error_code(uint32_t code) { g_last_errno = static_cast<int>(code); }

FILE* open_stream(const std::u16string& path, const char* mode) {
  FILE* f = fopen(to_native(path).c_str(), mode);
  if (f == nullptr) remember_error();
  return f;
}

bool open_standard_input(File& file) {
  file.close();
  const int fd = fcntl(0, F_DUPFD_CLOEXEC, 3);
  if (fd < 0) {
    remember_error();
    return false;
  }
  file.handle_ = fd;
  return true;
}

bool keep_standard_output(File& file) {
  file.close();
  fflush(stdout);
  const int fd = fcntl(1, F_DUPFD_CLOEXEC, 3);
  if (fd < 0)
    remember_error();
  else
    file.handle_ = fd;
  // Unbuffered as standard error is, so that the reports of both streams
  // keep their order.
  setvbuf(stdout, nullptr, _IONBF, 0);
  // Without a standard error the reports are lost rather than mixed in;
  // the descriptor stays taken, so no file opened later becomes stdout.
  if (dup2(2, 1) < 0) {
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0 && null != 1) {
      dup2(null, 1);
      ::close(null);
    }
  }
  return fd >= 0;
}

bool text_input_ends_at_ctrl_z() { return false; }
const char* line_end() { return "\n"; }

bool open_read_write(const std::u16string& path, bool create, File& file) {
  file.close();
  int flags = O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0);
  int fd = open(to_native(path).c_str(), flags, 0666);
  if (fd < 0) {
    remember_error();
    return false;
  }
  file.handle_ = fd;
  return true;
}

std::optional<uint64_t> file_size(File& file) {
  struct stat st;
  if (!file.is_open() || fstat(static_cast<int>(file.handle_), &st) != 0) {
    remember_error();
    return std::nullopt;
  }
  return static_cast<uint64_t>(st.st_size);
}

bool set_file_length(File& file, uint64_t length) {
  if (!file.is_open() ||
      ftruncate(static_cast<int>(file.handle_), static_cast<off_t>(length)) != 0) {
    remember_error();
    return false;
  }
  return true;
}

}  // namespace plat
