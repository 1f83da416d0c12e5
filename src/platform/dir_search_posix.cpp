// POSIX (Linux) implementation of the platform layer.
//
// Names travel as bytes on disk and as UTF-16 inside the program; bytes that
// are not valid UTF-8 become U+DC80 + byte and come back out unchanged.

#include "platform/platform.h"
#include "platform/calendar.h"
#include "platform/upcase_table.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "framework/text.h"

namespace plat {

namespace {

// Seconds from 1601-01-01 to 1970-01-01, and stamp units per second.
constexpr int64_t kEpochDelta = 11644473600LL;
constexpr int64_t kUnitsPerSecond = 10000000LL;

int g_last_errno = 0;
std::string g_argv0;

void remember_error() { g_last_errno = errno; }

uint64_t stamp_of(int64_t seconds, int64_t nanoseconds) {
  int64_t since_1601 = seconds + kEpochDelta;
  if (since_1601 < 0) return 0;
  return static_cast<uint64_t>(since_1601) * kUnitsPerSecond +
         static_cast<uint64_t>(nanoseconds / 100);
}

}  // namespace

// ---- Strings and console text -------------------------------------------

std::u16string from_native(const std::string& bytes) {
  return utf8_to_utf16_escaped(bytes);
}

std::string to_native(const std::u16string& text) {
  return utf16_to_utf8_escaped(text);
}

void write_text(FILE* stream, const std::u16string& text) {
  std::string bytes = to_native(text);
  fwrite(bytes.data(), 1, bytes.size(), stream);
}

std::vector<std::u16string> program_arguments(int argc, char** argv) {
  std::vector<std::u16string> args;
  for (int i = 0; i < argc; ++i) {
    if (argv[i] == nullptr) break;
    args.push_back(from_native(argv[i]));
  }
  if (argc > 0 && argv[0] != nullptr) g_argv0 = argv[0];
  return args;
}

// ---- Paths ----------------------------------------------------------------

char16_t separator() { return u'/'; }
bool is_separator(char16_t c) { return c == u'/'; }

const std::u16string& long_path_prefix() {
  static const std::u16string empty;
  return empty;
}

bool slash_begins_option() { return false; }

std::optional<std::u16string> current_dir() {
  std::string buffer(256, '\0');
  for (;;) {
    if (getcwd(buffer.data(), buffer.size()) != nullptr) {
      buffer.resize(strlen(buffer.c_str()));
      return from_native(buffer);
    }
    if (errno != ERANGE) {
      remember_error();
      return std::nullopt;
    }
    buffer.resize(buffer.size() * 2);
  }
}

// Lexical: "." and ".." are folded and repeated separators collapsed, but no
// link is resolved, as GetFullPathNameW does. A trailing separator of the
// input is kept so that "dir/" still names a directory to the caller.
std::optional<std::u16string> full_path(const std::u16string& path,
                                        size_t max_units) {
  if (path.empty()) return std::nullopt;
  std::u16string whole;
  if (path[0] == u'/') {
    whole = path;
  } else {
    std::optional<std::u16string> cwd = current_dir();
    if (!cwd) return std::nullopt;
    whole = *cwd + u'/' + path;
  }
  bool trailing = whole.back() == u'/';

  std::vector<std::u16string> parts;
  size_t pos = 0;
  while (pos < whole.size()) {
    size_t end = whole.find(u'/', pos);
    if (end == std::u16string::npos) end = whole.size();
    std::u16string part = whole.substr(pos, end - pos);
    pos = end + 1;
    if (part.empty() || part == u".") continue;
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(std::move(part));
  }

  std::u16string result;
  for (const std::u16string& part : parts) {
    result += u'/';
    result += part;
  }
  if (result.empty()) {
    result = u"/";
  } else if (trailing) {
    result += u'/';
  }
  if (result.size() > max_units) return std::nullopt;
  return result;
}

bool same_dir_name(const std::u16string& a, const std::u16string& b) {
  return a == b;
}

std::u16string volume_root(const std::u16string& dir) { return dir; }

std::u16string program_path() {
  std::string buffer(PATH_MAX, '\0');
  const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (n > 0 && static_cast<size_t>(n) < buffer.size()) {
    buffer.resize(static_cast<size_t>(n));
    return from_native(buffer);
  }
  if (g_argv0.empty()) return std::u16string();
  // Without /proc: argv[0] as the shell found it, along PATH when it
  // names no directory.
  std::string found = g_argv0;
  if (found.find('/') == std::string::npos) {
    const char* path = getenv("PATH");
    std::string dirs = path != nullptr ? path : "";
    size_t pos = 0;
    while (pos <= dirs.size()) {
      size_t end = dirs.find(':', pos);
      if (end == std::string::npos) end = dirs.size();
      std::string dir = dirs.substr(pos, end - pos);
      pos = end + 1;
      std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + g_argv0;
      if (access(candidate.c_str(), X_OK) == 0) {
        found = candidate;
        break;
      }
    }
  }
  std::u16string wide = from_native(found);
  std::optional<std::u16string> full = full_path(wide, 32767);
  return full ? *full : wide;
}

bool is_directory(const std::u16string& path) {
  struct stat st;
  if (stat(to_native(path).c_str(), &st) != 0) {
    remember_error();
    return false;
  }
  return S_ISDIR(st.st_mode);
}

bool exists(const std::u16string& path) {
  struct stat st;
  if (stat(to_native(path).c_str(), &st) != 0) {
    remember_error();
    return false;
  }
  return true;
}

bool make_directory(const std::u16string& path) {
  if (mkdir(to_native(path).c_str(), 0777) != 0) {
    remember_error();
    return false;
  }
  return true;
}

bool same_file(const std::u16string& a, const std::u16string& b) {
  struct stat sa, sb;
  if (stat(to_native(a).c_str(), &sa) != 0 ||
      stat(to_native(b).c_str(), &sb) != 0) {
    remember_error();
    return false;
  }
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::optional<DirIdentity> dir_identity(const std::u16string& path) {
  struct stat st;
  if (stat(to_native(path).c_str(), &st) != 0) {
    remember_error();
    return std::nullopt;
  }
  DirIdentity id;
  id.volume = static_cast<uint64_t>(st.st_dev);
  id.index = static_cast<uint64_t>(st.st_ino);
  return id;
}

std::optional<std::string> volume_fs_name(const std::u16string& root) {
  std::string native = to_native(root);
  if (native.empty()) native = ".";
  struct statfs fs;
  if (statfs(native.c_str(), &fs) != 0) {
    remember_error();
    return std::nullopt;
  }
  const unsigned long magic = static_cast<unsigned long>(fs.f_type);
  if (magic == 0x7366746eUL) return std::string("NTFS");
  if (magic == 0x4d44UL) return std::string("FAT32");
  // ntfs-3g runs under FUSE; it is the only driver that answers this.
  if (magic == 0x65735546UL) {
    char probe[8];
    if (getxattr(native.c_str(), "system.ntfs_attrib", probe, sizeof probe) >= 0 ||
        errno == ERANGE) {
      return std::string("NTFS");
    }
  }
  switch (magic) {
    case 0xef53UL: return std::string("ext4");
    case 0x01021994UL: return std::string("tmpfs");
    case 0x794c7630UL: return std::string("overlay");
    case 0x9123683eUL: return std::string("btrfs");
    case 0x58465342UL: return std::string("xfs");
    case 0x65735546UL: return std::string("fuse");
    case 0x6969UL: return std::string("nfs");
    case 0xff534d42UL: return std::string("cifs");
    case 0x2011bab0UL: return std::string("exfat");
    case 0x9fa0UL: return std::string("proc");
    case 0x62656572UL: return std::string("sysfs");
    default: break;
  }
  char hex[32];
  snprintf(hex, sizeof hex, "fs-0x%lx", magic);
  return std::string(hex);
}

// ---- Directory enumeration ------------------------------------------------

namespace {

// The upper case of every unit as Windows folds file names, expanded once
// from the runs of the table: one lookup per unit, as every name of every
// listing is folded.
const char16_t* upcase_units() {
  static const std::vector<char16_t> units = [] {
    std::vector<char16_t> table(0x10000);
    for (size_t c = 0; c < table.size(); ++c) table[c] = static_cast<char16_t>(c);
    for (unsigned i = 0; i < kUpcaseRunCount; ++i) {
      const UpcaseRun& run = kUpcaseRuns[i];
      for (unsigned c = run.first; c <= run.last; c += run.step)
        table[c] = static_cast<char16_t>(c + run.delta);
    }
    return table;
  }();
  return units.data();
}

char16_t fold_unit(char16_t c) { return upcase_units()[c]; }

std::u16string fold(const std::u16string& text) {
  const char16_t* upcase = upcase_units();
  std::u16string out(text);
  for (char16_t& c : out) c = upcase[c];
  return out;
}

// What may stay of a pattern once the name is used up: stars and ".*"
// groups, each of which may match the end of a name ("README.*.*" takes
// "README", "*.**" every name).
bool matches_end(std::u16string_view rest) {
  size_t p = 0;
  while (p < rest.size()) {
    if (rest[p] == u'*') {
      ++p;
    } else if (rest[p] == u'.' && p + 1 < rest.size() && rest[p + 1] == u'*') {
      p += 2;
    } else {
      return false;
    }
  }
  return true;
}

// '*' any run, '?' any one unit; both sides already folded.
bool glob(std::u16string_view pattern, std::u16string_view name) {
  size_t p = 0, n = 0;
  size_t star = std::u16string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      resume = n;
    } else if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (star != std::u16string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  // A star that took more of the name would leave a longer rest ending in
  // this one, which cannot match the end where this one does not.
  return matches_end(pattern.substr(p));
}

// A name against a pattern as FindFirstFileW matches them, both folded.
bool name_matches(const std::u16string& folded_pattern,
                  const std::u16string& folded_name) {
  return glob(folded_pattern, folded_name);
}

// The order of a listing: by upper-cased units, and names that differ only
// in case by their own units. Folded as it compares, so that a large listing
// keeps one copy of each name.
bool listed_before(std::u16string_view a, std::u16string_view b) {
  const size_t common = std::min(a.size(), b.size());
  // Equal units fold alike: only the rest from the first difference is folded.
  size_t i = 0;
  while (i < common && a[i] == b[i]) ++i;
  for (; i < common; ++i) {
    const char16_t fa = fold_unit(a[i]), fb = fold_unit(b[i]);
    if (fa != fb) return fa < fb;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

bool statx_missing = false;

// The object an entry names, links followed; false when it cannot be
// reached. Birth time only where the file system keeps one.
bool query(int dir_fd, const char* name, int flags, struct stat& st,
           int64_t& birth_sec, int64_t& birth_nsec) {
  birth_sec = birth_nsec = 0;
  if (!statx_missing) {
    struct statx sx;
    if (statx(dir_fd, name, flags, STATX_BASIC_STATS | STATX_BTIME, &sx) == 0) {
      memset(&st, 0, sizeof st);
      st.st_ino = sx.stx_ino;
      st.st_mode = sx.stx_mode;
      st.st_size = static_cast<off_t>(sx.stx_size);
      st.st_mtim.tv_sec = sx.stx_mtime.tv_sec;
      st.st_mtim.tv_nsec = sx.stx_mtime.tv_nsec;
      st.st_atim.tv_sec = sx.stx_atime.tv_sec;
      st.st_atim.tv_nsec = sx.stx_atime.tv_nsec;
      if (sx.stx_mask & STATX_BTIME) {
        birth_sec = sx.stx_btime.tv_sec;
        birth_nsec = sx.stx_btime.tv_nsec;
      }
      return true;
    }
    if (errno != ENOSYS && errno != EPERM) return false;
    statx_missing = true;  // old kernel or a filter that refuses statx
  }
  return fstatat(dir_fd, name, &st, flags) == 0;
}

// ntfs-3g keeps the NTFS creation stamp in an attribute of its own, as it
// cannot hand it over as a birth time. `missing` remembers a file system
// without it, so that a directory costs at most one failed query.
uint64_t ntfs_creation(const std::string& path, bool& missing) {
  if (missing) return 0;
  uint64_t stamp = 0;
  unsigned char bytes[8];
  if (getxattr(path.c_str(), "system.ntfs_crtime", bytes, sizeof bytes) ==
      static_cast<ssize_t>(sizeof bytes)) {
    for (int i = 7; i >= 0; --i) stamp = (stamp << 8) | bytes[i];  // little-endian
    return stamp;
  }
  if (errno == ENODATA || errno == ENOTSUP || errno == ERANGE) missing = true;
  return 0;
}

bool hidden_name(std::u16string_view name) {
  return !name.empty() && name[0] == u'.' && name != u"." && name != u"..";
}

// Fills `data` but its name for the entry `name` of type `type` (a d_type);
// false when the entry is not a regular file or a directory (FIFO, socket,
// device), which Win32 never lists, or has gone since the directory was read.
// `dir_path` names the directory of `dir_fd` for the one query that takes
// no descriptor; `no_crtime` is that query's memory (ntfs_creation).
bool describe(int dir_fd, const std::string& dir_path, std::u16string_view name,
              unsigned char type, bool details, bool& no_crtime, FindData& data) {
  data.attributes = 0;
  data.size = data.creation = data.last_access = data.last_write = 0;
  if (hidden_name(name)) data.attributes |= kAttrHidden;
  switch (type) {
    case DT_FIFO: case DT_SOCK: case DT_CHR: case DT_BLK:
      return false;
    case DT_DIR:
      if (!details) {
        data.attributes |= kAttrDirectory;
        return true;
      }
      break;
    case DT_REG:
      if (!details) return true;
      break;
    default:  // a link or a type the file system does not tell
      break;
  }

  const std::string native = utf16_to_utf8_escaped(name);
  struct stat st;
  int64_t birth_sec = 0, birth_nsec = 0;
  if (!query(dir_fd, native.c_str(), 0, st, birth_sec, birth_nsec)) {
    // A link whose target is missing is listed as an empty file with the
    // link's own times.
    if (!query(dir_fd, native.c_str(), AT_SYMLINK_NOFOLLOW, st, birth_sec,
               birth_nsec) ||
        !S_ISLNK(st.st_mode)) {
      return false;
    }
    st.st_size = 0;
    st.st_mode = S_IFREG | 0666;
  }
  if (S_ISDIR(st.st_mode)) {
    data.attributes |= kAttrDirectory;
  } else if (S_ISREG(st.st_mode)) {
    data.size = static_cast<uint64_t>(st.st_size);
  } else {
    return false;
  }
  if (!details) return true;
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) data.attributes |= kAttrReadOnly;
  data.last_write = stamp_of(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  data.last_access = stamp_of(st.st_atim.tv_sec, st.st_atim.tv_nsec);
  if (birth_sec != 0 || birth_nsec != 0) {
    data.creation = stamp_of(birth_sec, birth_nsec);
  } else {
    data.creation = ntfs_creation(dir_path + "/" + native, no_crtime);
  }
  return true;
}

unsigned char type_of(mode_t mode) {
  if (S_ISREG(mode)) return DT_REG;
  if (S_ISDIR(mode)) return DT_DIR;
  if (S_ISLNK(mode)) return DT_LNK;
  if (S_ISFIFO(mode)) return DT_FIFO;
  if (S_ISSOCK(mode)) return DT_SOCK;
  if (S_ISCHR(mode)) return DT_CHR;
  if (S_ISBLK(mode)) return DT_BLK;
  return DT_UNKNOWN;
}

bool has_wildcard(const std::u16string& pattern) {
  return pattern.find_first_of(u"*?") != std::u16string::npos;
}

}  // namespace

bool DirSearch::start(const std::u16string& search_string, FindData& first,
                      bool details) {
  close();
  unreadable_ = false;
  const size_t cut = search_string.rfind(u'/');
  std::u16string dir, pattern;
  if (cut == std::u16string::npos) {
    dir = u".";
    pattern = search_string;
  } else {
    dir = search_string.substr(0, cut + 1);
    pattern = search_string.substr(cut + 1);
  }
  // As Win32 path handling does, the trailing dots and blanks of the
  // pattern are dropped ("*.txt." is "*.txt", "ab. " is "ab"), and one made
  // of nothing else selects nothing; "." and ".." still name those entries.
  if (pattern != u"." && pattern != u"..") {
    const size_t keep = pattern.find_last_not_of(u". ");
    pattern.resize(keep == std::u16string::npos ? 0 : keep + 1);
  }
  if (pattern.empty()) return false;

  const std::string native_dir = to_native(dir);
  const int fd = open(native_dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    remember_error();
    unreadable_ = errno != ENOENT && errno != ENOTDIR;
    return false;
  }
  // A directory that can be listed but not searched gives names that
  // cannot be opened: it counts as unreadable.
  if (faccessat(fd, ".", X_OK, AT_EACCESS) != 0) {
    remember_error();
    unreadable_ = true;
    ::close(fd);
    return false;
  }

  // A plain name is looked up directly: the hook asks for every file it is
  // handed, and reading a large directory each time would cost its square.
  // Only when that exact name is missing does a spelling in another case
  // count.
  const bool plain = !has_wildcard(pattern) && pattern != u"." && pattern != u"..";
  if (plain) {
    struct stat st;
    if (fstatat(fd, to_native(pattern).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      bool no_crtime = false;
      const bool listed =
          describe(fd, native_dir, pattern, type_of(st.st_mode), details, no_crtime, first);
      if (listed) first.name = pattern;
      ::close(fd);
      return listed;
    }
  }

  DIR* d = fdopendir(fd);  // owns fd from here on
  if (d == nullptr) {
    remember_error();
    unreadable_ = true;
    ::close(fd);
    return false;
  }

  // A volume root ("/" or a mount point) has no "." and ".." to list.
  bool root = false;
  struct stat self, parent;
  if (fstat(fd, &self) == 0 && fstatat(fd, "..", &parent, 0) == 0) {
    root = self.st_dev != parent.st_dev || self.st_ino == parent.st_ino;
  }

  const std::u16string folded_pattern = fold(pattern);
  const bool all = folded_pattern == u"*" || folded_pattern == u"*.*";
  bool dot_kept = false;
  std::u16string name, key;
  // Without files, the one that would come first is still kept unless "."
  // or ".." comes before it.
  std::u16string first_file;
  bool have_first_file = false;
  bool room = true;
  while (struct dirent* de = readdir(d)) {
    const unsigned char type = de->d_type;
    if (type == DT_FIFO || type == DT_SOCK || type == DT_CHR || type == DT_BLK) continue;
    const bool dot = strcmp(de->d_name, ".") == 0 || strcmp(de->d_name, "..") == 0;
    if (dot && root) continue;
    const bool only_first = directories_only_ && type == DT_REG;
    if (only_first && dot_kept) continue;
    name = utf8_to_utf16_escaped(de->d_name);
    if (!all) {
      key = name;
      for (char16_t& c : key) c = fold_unit(c);
      if (!name_matches(folded_pattern, key)) continue;
    }
    if (only_first) {
      if (!have_first_file || listed_before(name, first_file)) first_file = name;
      have_first_file = true;
      continue;
    }
    Listed listed;
    listed.kind = type;
    if (!add_name(name, listed)) {
      room = false;
      break;
    }
    found_.push_back(listed);
    dot_kept = dot_kept || dot;
  }
  if (room && have_first_file && !dot_kept) {
    Listed listed;
    listed.kind = DT_REG;
    room = add_name(first_file, listed);
    found_.push_back(listed);
  }
  if (!room) {
    // Names past 4 Gi units: rather no listing than one that silently
    // leaves entries out.
    errno = EOVERFLOW;
    remember_error();
    closedir(d);
    close();
    return false;
  }

  // "." and ".." first, "." before "..".
  const auto dot_rank = [this](const Listed& e) -> int {
    const bool dot = e.name_units <= 2 && name_of(e) == std::u16string_view(u"..", e.name_units);
    return dot ? e.name_units : 3;
  };
  std::sort(found_.begin(), found_.end(), [&](const Listed& a, const Listed& b) {
    const int rank_a = dot_rank(a), rank_b = dot_rank(b);
    if (rank_a != rank_b) return rank_a < rank_b;
    return listed_before(name_of(a), name_of(b));
  });

  bool no_crtime = false;
  if (details) details_.reserve(found_.size());
  FindData described;
  size_t kept = 0;
  for (size_t i = 0; i < found_.size(); ++i) {
    Listed listed = found_[i];
    if (!describe(fd, native_dir, name_of(listed), listed.kind, details, no_crtime, described))
      continue;
    if (directories_only_ && kept > 0 && (described.attributes & kAttrDirectory) == 0) continue;
    listed.attributes = described.attributes;
    found_[kept++] = listed;
    if (details)
      details_.push_back(Details{described.size, described.creation, described.last_access,
                                 described.last_write});
  }
  closedir(d);
  const bool dropped = kept < found_.size();
  found_.resize(kept);
  if (directories_only_ && dropped) {
    // Entries whose type only a query could tell turned out to be files:
    // the listing is held while the walk descends, so their names go.
    std::u16string compact;
    for (Listed& listed : found_) {
      const std::u16string_view own = name_of(listed);
      listed.name_at = static_cast<uint32_t>(compact.size());
      compact.append(own);
    }
    names_.swap(compact);
    found_.shrink_to_fit();
  }
  if (!next(first)) {
    close();
    return false;
  }
  return true;
}

// ---- Files ------------------------------------------------------------------

long long File::read(void* buffer, size_t size) {
  if (handle_ == kNone) return -1;
  for (;;) {
    ssize_t n = ::read(static_cast<int>(handle_), buffer, size);
    if (n >= 0) return n;
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
  if (::close(fd) != 0) {
    remember_error();
    return false;
  }
  return true;
}

bool open_read(const std::u16string& path, File& file) {
  file.close();
  // Non-blocking so that a FIFO cannot hold the open; only regular files
  // are read.
  int fd = open(to_native(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
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
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  file.handle_ = fd;
  return true;
}

// ---- Pending outputs and the endings that remove them ---------------------

namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};

// The named temporary of the pending output, for the signal handlers:
// a fixed buffer, since a handler may not allocate. One output is
// pending at a time.
char g_temp_name[PATH_MAX + 1];
volatile sig_atomic_t g_temp_named = 0;

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

int link_fd(int fd, const char* name) {
  return linkat(AT_FDCWD, fd_path(fd).c_str(), AT_FDCWD, name, AT_SYMLINK_FOLLOW);
}

// What the existing target allows: replacing a file keeps its permissions;
// a file without any write permission is not replaced.
begin_result check_target(const std::string& target, PendingOutput& output) {
  struct stat st;
  if (lstat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return begin_result::ok;
  if ((st.st_mode & 0222) == 0) return begin_result::read_only;
  output.keep_mode = static_cast<uint32_t>(st.st_mode & 0777);
  return begin_result::ok;
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
  output.abandon();
  output.target = target;
  const std::string native = to_native(target);
  const begin_result allowed = check_target(native, output);
  if (allowed != begin_result::ok) return allowed;
  return begin_named(native, output);
}

begin_result begin_output(const std::u16string& target, PendingOutput& output) {
  output.abandon();
  output.target = target;
  const std::string native = to_native(target);
  const begin_result allowed = check_target(native, output);
  if (allowed != begin_result::ok) return allowed;
  if (nameless_files_usable()) {
    const size_t slash = native.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string(".")
                            : slash == 0               ? std::string("/")
                                                       : native.substr(0, slash);
    const int fd = open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
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
    // Closing a duplicate hands over what the file system reports at close
    // (a network file system's write errors) while the file stays open.
    const int probe = dup(fd);
    if (probe < 0 || ::close(probe) != 0) {
      remember_error();
      return fail();
    }
    struct stat st;
    if (lstat(target.c_str(), &st) != 0 && errno == ENOENT) {
      if (link_fd(fd, target.c_str()) == 0) {
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
    if (!make_temp_name(target, [fd](const char* n) { return link_fd(fd, n); }, name))
      return fail();
    output.temp_path = from_native(name);
    output.vanishes = false;
    output.file.close();
  } else if (!output.file.close()) {
    return fail();
  }
  if (rename(to_native(output.temp_path).c_str(), target.c_str()) != 0) {
    remember_error();
    return fail();
  }
  forget_temp();
  output.temp_path.clear();
  output.keep_mode = 0;
  return true;
}

bool remove_file(const std::u16string& path) {
  if (unlink(to_native(path).c_str()) != 0) {
    remember_error();
    return false;
  }
  return true;
}

bool process_running(uint64_t pid) {
  if (pid == 0 || pid > static_cast<uint64_t>(INT_MAX)) return false;
  // EPERM: it runs, under another user.
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

std::string last_error_text() { return strerror(g_last_errno); }

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

// ---- Console, signals, time, system --------------------------------------

void clear_console() {
  fflush(stdout);
  if (!isatty(STDOUT_FILENO)) return;
  fputs("\033[H\033[2J", stdout);
  fflush(stdout);
}

bool key_waiting() {
  if (!isatty(STDIN_FILENO)) return false;
  struct pollfd p;
  p.fd = STDIN_FILENO;
  p.events = POLLIN;
  p.revents = 0;
  return poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

int read_key() {
  if (!isatty(STDIN_FILENO)) {
    int c = getchar();
    return c == EOF ? -1 : c;
  }
  fflush(stdout);
  struct termios saved;
  if (tcgetattr(STDIN_FILENO, &saved) != 0) {
    int c = getchar();
    return c == EOF ? -1 : c;
  }
  struct termios raw = saved;
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  unsigned char byte = 0;
  ssize_t n;
  do {
    n = ::read(STDIN_FILENO, &byte, 1);
  } while (n < 0 && errno == EINTR);
  tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  return n == 1 ? byte : -1;
}

void set_stdin_unbuffered() { setvbuf(stdin, nullptr, _IONBF, 0); }

namespace {

void (*g_first_interrupt)(int) = nullptr;
volatile sig_atomic_t g_interrupted = 0;

// Removes the pending output's named temporary, then lets the signal end
// the process the way it would have without a handler.
void end_by_signal(int sig) {
  if (g_temp_named) unlink(g_temp_name);
  struct sigaction fallback;
  memset(&fallback, 0, sizeof fallback);
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(sig, &fallback, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
}

void on_interrupt_signal(int sig) {
  if (g_interrupted) {
    end_by_signal(sig);
    return;
  }
  g_interrupted = 1;
  const int saved = errno;
  if (g_first_interrupt) g_first_interrupt(sig);
  errno = saved;
}

// Interrupted writes and reads go on (SA_RESTART): the first Ctrl+C must
// not cost a write to a full pipe.
void install(int sig, void (*handler)(int)) {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  for (int s : kEndingSignals) sigaddset(&action.sa_mask, s);
  action.sa_flags = SA_RESTART;
  sigaction(sig, &action, nullptr);
}

}  // namespace

void install_interrupt_handler(void (*handler)(int)) {
  g_first_interrupt = handler;
  install(SIGINT, on_interrupt_signal);
}

void install_ending_handlers() {
  for (int sig : {SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
    // A signal the caller ignores stays ignored (nohup, a writer that
    // wants EPIPE).
    struct sigaction current;
    if (sigaction(sig, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    install(sig, end_by_signal);
  }
  signal(SIGXFSZ, SIG_IGN);
}

void sleep_seconds(int seconds) {
  if (seconds <= 0) return;
  struct timespec want = {seconds, 0}, left = {0, 0};
  while (nanosleep(&want, &left) != 0 && errno == EINTR) want = left;
}

void use_ansi_file_names() {}

std::optional<std::u16string> open_file_dialog(const std::u16string& title) {
  if (!isatty(STDIN_FILENO)) return std::nullopt;
  write_text(stdout, title);
  fputs(": ", stdout);
  fflush(stdout);
  std::string line;
  for (;;) {
    int c = getchar();
    if (c == EOF) {
      if (line.empty()) return std::nullopt;
      break;
    }
    if (c == '\n') break;
    line.push_back(static_cast<char>(c));
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.empty()) return std::nullopt;
  return from_native(line);
}

std::optional<std::u16string> get_env(const std::string& name) {
  const char* value = getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return from_native(value);
}

void set_env(const std::string& name, const std::u16string& value) {
  setenv(name.c_str(), to_native(value).c_str(), 1);
}

std::optional<std::u16string> computer_name() {
  char name[HOST_NAME_MAX + 1];
  if (gethostname(name, sizeof name) != 0) {
    remember_error();
    return std::nullopt;
  }
  name[sizeof name - 1] = '\0';
  return from_native(name);
}

ZoneInfo refresh_zone() {
  tzset();
  ZoneInfo zone;
  zone.standard_name = tzname[0] != nullptr ? tzname[0] : "";
  zone.daylight = daylight != 0;
  zone.daylight_name = zone.daylight && tzname[1] != nullptr ? tzname[1] : "";
  zone.offset_seconds = timezone;
  return zone;
}

std::optional<uint64_t> stamp_to_local(uint64_t stamp) {
  time_t now = time(nullptr);
  struct tm local;
  if (localtime_r(&now, &local) == nullptr) return std::nullopt;
  int64_t bias = static_cast<int64_t>(local.tm_gmtoff) * kUnitsPerSecond;
  if (stamp >= 0x8000000000000000ULL) return std::nullopt;
  int64_t value = static_cast<int64_t>(stamp);
  if (bias < 0 && value < -bias) return std::nullopt;
  if (bias > 0 && value > INT64_MAX - bias) return std::nullopt;
  return static_cast<uint64_t>(value + bias);
}

namespace {

// Calendar date of a day count since 1970-01-01 (proleptic Gregorian).
void civil_from_days(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = yoe + era * 400;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<int>(y + (m <= 2 ? 1 : 0));
  month = static_cast<int>(m);
  day = static_cast<int>(d);
}

}  // namespace

std::optional<SystemTime> stamp_to_system_time(uint64_t stamp) {
  if (stamp >= 0x8000000000000000ULL) return std::nullopt;
  const uint64_t total_ms = stamp / 10000;
  const uint64_t ms_per_day = 86400000ULL;
  const int64_t days_since_1601 = static_cast<int64_t>(total_ms / ms_per_day);
  uint64_t ms_of_day = total_ms % ms_per_day;
  // 1601-01-01 lies 134774 days before 1970-01-01.
  const int64_t days = days_since_1601 - 134774;
  SystemTime t;
  civil_from_days(days, t.year, t.month, t.day);
  t.hour = static_cast<int>(ms_of_day / 3600000);
  t.minute = static_cast<int>(ms_of_day / 60000 % 60);
  t.second = static_cast<int>(ms_of_day / 1000 % 60);
  t.millisecond = static_cast<int>(ms_of_day % 1000);
  // 1601-01-01 was a Monday (weekday 1, Sunday 0).
  t.weekday = static_cast<int>((days_since_1601 + 1) % 7);
  return t;
}

int64_t now_seconds() { return static_cast<int64_t>(time(nullptr)); }

std::optional<int64_t> local_midnight(int year, int month, int day) {
  struct tm t = midnight_of(year, month, day);
  time_t result = mktime(&t);
  if (result == static_cast<time_t>(-1)) return std::nullopt;
  return static_cast<int64_t>(result);
}

SystemTime broken_down(int64_t seconds, bool utc) {
  time_t when = static_cast<time_t>(seconds);
  struct tm t{};
  if (utc) {
    gmtime_r(&when, &t);
  } else {
    localtime_r(&when, &t);
  }
  return system_time_of(t);
}

// ---- Named streams and privileges ----------------------------------------

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

// POSIX names are case-sensitive: INI values naming files keep their case.
bool plat::names_keep_case() { return true; }

bool plat::path_too_long(const std::u16string& path) {
  return to_native(path).size() >= PATH_MAX;  // PATH_MAX counts the end NUL
}
