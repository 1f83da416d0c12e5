// Named streams on POSIX: the stamps of an object, and its "user."
// extended attributes read as the streams of a backup read.

#include "platform/posix_internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cstring>

namespace plat {

namespace {

bool stamps_of(const std::string& native, Stamps& out) {
  struct stat st;
  int64_t birth_sec = 0, birth_nsec = 0;
  if (!query(AT_FDCWD, native.c_str(), 0, st, birth_sec, birth_nsec)) return false;
  out.last_write = stamp_of(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  out.last_access = stamp_of(st.st_atim.tv_sec, st.st_atim.tv_nsec);
  bool no_crtime = false;
  out.creation = (birth_sec != 0 || birth_nsec != 0) ? stamp_of(birth_sec, birth_nsec)
                                                     : ntfs_creation(native, no_crtime);
  return true;
}

}  // namespace

std::optional<Stamps> object_stamps(const std::u16string& path) {
  std::string native = to_native(path);
  Stamps s;
  if (stamps_of(native, s)) return s;
  const int saved = errno;
  // "object:stream": a stream has its object's own times. Only a colon in
  // the last component separates a stream; a name may contain one itself,
  // which is why the whole path was tried first.
  const size_t slash = native.rfind('/');
  const size_t colon = native.rfind(':');
  if (colon != std::string::npos && (slash == std::string::npos || colon > slash + 1)) {
    native.resize(colon);
    if (stamps_of(native, s)) return s;
  }
  g_last_errno = saved;
  return std::nullopt;
}

// The streams of an object as the backup-read sequence delivers them: its
// main data first, without a name, then each "user." extended attribute as
// the named data stream ":NAME:$DATA" (how ntfs-3g shows NTFS streams).
struct BackupReader::State {
  struct Stream {
    uint32_t id = 0;
    uint64_t size = 0;
    std::u16string name;
  };
  std::vector<Stream> streams;
  size_t current = 0;  // index of the next header
};

namespace {

constexpr uint32_t kBackupData = 1;           // BACKUP_DATA
constexpr uint32_t kBackupAlternateData = 4;  // BACKUP_ALTERNATE_DATA

}  // namespace

BackupReader::BackupReader() : state_(nullptr) {}
BackupReader::~BackupReader() { close(); }

bool BackupReader::open(const std::u16string& path) {
  close();
  const std::string native = to_native(path);
  struct stat st;
  if (stat(native.c_str(), &st) != 0) {
    remember_error();
    return false;
  }
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
    g_last_errno = errno = ENOTSUP;
    return false;
  }

  // The list may grow between the size query and the read: retry.
  std::string names;
  for (int attempt = 0; attempt < 5; ++attempt) {
    ssize_t need = listxattr(native.c_str(), nullptr, 0);
    if (need < 0) {
      if (errno == ENOTSUP) {
        need = 0;  // a file system without attributes has no streams
      } else {
        remember_error();
        return false;
      }
    }
    names.assign(static_cast<size_t>(need), '\0');
    if (need == 0) break;
    ssize_t got = listxattr(native.c_str(), names.data(), names.size());
    if (got >= 0) {
      names.resize(static_cast<size_t>(got));
      break;
    }
    if (errno != ERANGE || attempt == 4) {
      remember_error();
      return false;
    }
  }

  state_ = new State();
  State::Stream main;
  main.id = kBackupData;
  main.size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
  state_->streams.push_back(main);

  static const std::string kUser = "user.";
  size_t pos = 0;
  while (pos < names.size()) {
    const size_t end = names.find('\0', pos);
    const std::string name =
        names.substr(pos, (end == std::string::npos ? names.size() : end) - pos);
    pos = end == std::string::npos ? names.size() : end + 1;
    if (name.compare(0, kUser.size(), kUser) != 0 || name.size() == kUser.size()) continue;
    const ssize_t length = getxattr(native.c_str(), name.c_str(), nullptr, 0);
    if (length < 0) continue;  // removed meanwhile
    State::Stream stream;
    stream.id = kBackupAlternateData;
    stream.size = static_cast<uint64_t>(length);
    stream.name = u":" + from_native(name.substr(kUser.size())) + u":$DATA";
    state_->streams.push_back(std::move(stream));
  }
  return true;
}

int BackupReader::read_header(StreamHeader& header) {
  if (state_ == nullptr) {
    g_last_errno = EBADF;
    return -1;
  }
  if (state_->current >= state_->streams.size()) return 0;
  const State::Stream& s = state_->streams[state_->current++];
  header = StreamHeader();
  header.id = s.id;
  header.size = s.size;
  header.name_size = static_cast<uint32_t>(s.name.size() * sizeof(char16_t));
  return 1;
}

long long BackupReader::read_name(char16_t* name, uint32_t name_size) {
  if (state_ == nullptr || state_->current == 0) {
    g_last_errno = EBADF;
    return -1;
  }
  const std::u16string& full = state_->streams[state_->current - 1].name;
  const size_t units = std::min<size_t>(full.size(), name_size / sizeof(char16_t));
  std::copy(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(units), name);
  return static_cast<long long>(units * sizeof(char16_t));
}

// The data is never delivered, so there is nothing to pass over: the next
// header follows.
void BackupReader::skip_data() {}

void BackupReader::close() {
  delete state_;
  state_ = nullptr;
}

// Reading another user's streams needs no privilege to be switched on here;
// the reads show what ordinary access allows.
PrivilegeStatus enable_backup_restore() { return PrivilegeStatus::ok; }

}  // namespace plat
