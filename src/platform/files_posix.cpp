// Files on POSIX: reading and writing in blocks, the file a lookup found,
// standard input and output, repair in place.

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
  forget_held_dir();
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

void reset_files_state() {
  remember_listed_dir(std::string(), -1);
  forget_looked_up_file();
  g_looked_up = LookedUp();
  reset_outputs_state();
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
