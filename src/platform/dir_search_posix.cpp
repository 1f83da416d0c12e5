// Directory listing on POSIX, as FindFirstFileW lists: case-blind wildcard
// matching, the upper-cased order, attributes and stamps of each entry.

#include "platform/name_match.h"
#include "platform/posix_internal.h"
#include "platform/upcase_table.h"
#include "platform/utf.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace plat {

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

}  // namespace

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

namespace {

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
  data.link = false;
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
  // A walk does not go through a link: it says which entries are links,
  // and describes them as what they point to.
  bool known = false;
  if (type == DT_UNKNOWN) {
    if (!query(dir_fd, native.c_str(), AT_SYMLINK_NOFOLLOW, st, birth_sec, birth_nsec))
      return false;
    data.link = S_ISLNK(st.st_mode);
    known = !data.link;
  } else {
    data.link = type == DT_LNK;
  }
  if (!known && !query(dir_fd, native.c_str(), 0, st, birth_sec, birth_nsec)) {
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

// The directory and the last part of a search string, as given.
void split_search(const std::u16string& search_string, std::u16string& dir,
                  std::u16string& pattern) {
  const size_t cut = search_string.rfind(u'/');
  if (cut == std::u16string::npos) {
    dir.assign(1, u'.');
    pattern = search_string;
  } else {
    dir = search_string.substr(0, cut + 1);
    pattern = search_string.substr(cut + 1);
  }
}

// A name as path handling leaves it: without its trailing dots and blanks.
std::u16string without_trailing_dots(const std::u16string& name) {
  const size_t keep = name.find_last_not_of(u". ");
  return name.substr(0, keep == std::u16string::npos ? 0 : keep + 1);
}

// The directory opened for listing, or -1 with `unreadable` telling
// whether it is there but refused us.
int open_listable(const std::string& native_dir, bool& unreadable) {
  const int fd = open(native_dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    remember_error();
    unreadable = errno != ENOENT && errno != ENOTDIR;
    return -1;
  }
  // A directory that can be listed but not searched gives names that
  // cannot be opened: it counts as unreadable.
  if (faccessat(fd, ".", X_OK, AT_EACCESS) != 0) {
    remember_error();
    unreadable = true;
    ::close(fd);
    return -1;
  }
  return fd;
}

// One name of the directory looked up directly; false when it is not
// there, else `listed` tells whether it is an entry a listing shows.
bool look_up(int fd, const std::string& native_dir, const std::u16string& name, bool details,
             FindData& first, bool& listed) {
  struct stat st;
  if (fstatat(fd, to_native(name).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  bool no_crtime = false;
  listed = describe(fd, native_dir, name, type_of(st.st_mode), details, no_crtime, first);
  if (listed) first.name = name;
  return true;
}

// A plain name in the directory listed last, by one query: that listing
// has shown the directory can be read and searched. False when the
// answer needs the full way (missing: another case may match; a link or
// a special file).
bool quick_look_up(const std::string& native_dir, const std::u16string& name, FindData& first) {
  std::string path = native_dir == "." ? std::string() : native_dir;
  path += to_native(name);
  const AtPath at = at_path(path);
  struct stat st;
  // Asked through a descriptor, the answer is what open_read then reads:
  // nothing else (a FIFO, a device) can take the file's place in between.
  // Non-blocking, so that a FIFO cannot hold the open; not followed, as a
  // link takes the full way.
  int fd = openat(at.dir, at.name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (fd >= 0) {
    if (fstat(fd, &st) != 0) {
      ::close(fd);
      return false;
    }
  } else if (errno == ENOENT || errno == ELOOP ||
             fstatat(at.dir, at.name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return false;  // what cannot be read is still found, and reported when opened
  }
  const bool file = S_ISREG(st.st_mode);
  if (!file && fd >= 0) {
    ::close(fd);
    fd = -1;
  }
  if (!file && !S_ISDIR(st.st_mode)) return false;
  first = FindData();
  first.name = name;
  if (hidden_name(name)) first.attributes |= kAttrHidden;
  if (file) {
    first.size = static_cast<uint64_t>(st.st_size);
    g_looked_up.file = std::move(path);
    g_looked_up.size = first.size;
    g_looked_up.file_fd = fd;
  } else {
    first.attributes |= kAttrDirectory;
  }
  return true;
}

// A volume root ("/" or a mount point) has no "." and ".." to list.
bool at_volume_root(int fd) {
  struct stat self, parent;
  return fstat(fd, &self) == 0 && fstatat(fd, "..", &parent, 0) == 0 &&
         (self.st_dev != parent.st_dev || self.st_ino == parent.st_ino);
}

}  // namespace

bool DirSearch::start(const std::u16string& search_string, FindData& first,
                      bool details) {
  close();
  unreadable_ = false;
  std::u16string dir, pattern;
  split_search(search_string, dir, pattern);
  if (pattern.empty()) return false;

  const std::string native_dir = to_native(dir);
  // "." and ".." name those entries; any other plain name is looked up
  // directly: the hook asks for every file it is handed, and reading a
  // large directory each time would cost its square. The name as given
  // comes first, as a POSIX name may end in a dot or a blank ("trail.");
  // then without them, as path handling drops them; only when neither is
  // there does a spelling in another case count.
  const bool dots = pattern == u"." || pattern == u"..";
  const bool plain = !has_wildcard(pattern) && !dots;
  const std::u16string trimmed = without_trailing_dots(pattern);
  const bool trimmed_too = plain && trimmed != pattern && !trimmed.empty();
  forget_looked_up_file();
  if (plain && !details && native_dir == g_looked_up.listed_dir &&
      (quick_look_up(native_dir, pattern, first) ||
       (trimmed_too && quick_look_up(native_dir, trimmed, first))))
    return true;
  const int fd = open_listable(native_dir, unreadable_);
  if (fd < 0) {
    remember_listed_dir(std::string(), -1);
    return false;
  }
  bool listed = false;
  if (plain && (look_up(fd, native_dir, pattern, details, first, listed) ||
                (trimmed_too && look_up(fd, native_dir, trimmed, details, first, listed)))) {
    // The directory just opened is the one later calls on this name go to,
    // whatever stood at its path when it was listed.
    remember_listed_dir(native_dir, fd);
    ::close(fd);
    return listed;
  }
  const NameMatcher matcher(fold(pattern));
  if (!dots && matcher.selects_nothing()) {
    ::close(fd);
    return false;
  }

  DIR* d = fdopendir(fd);  // owns fd from here on
  if (d == nullptr) {
    remember_error();
    unreadable_ = true;
    ::close(fd);
    return false;
  }

  // Asked only when "." or ".." would be listed: most patterns never take them.
  int root = -1;
  const bool all = matcher.selects_all();
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
    const bool only_first = directories_only_ && type == DT_REG;
    if (only_first && dot_kept) continue;
    name = utf8_to_utf16_escaped(de->d_name);
    if (dots) {
      if (name != pattern) continue;
    } else if (!all) {
      key = name;
      for (char16_t& c : key) c = fold_unit(c);
      if (!matcher.matches(key)) continue;
    }
    if (dot) {
      if (root < 0) root = at_volume_root(fd) ? 1 : 0;
      if (root == 1) continue;
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
    listed.link = described.link ? 1 : 0;
    found_[kept++] = listed;
    if (details)
      details_.push_back(Details{described.size, described.creation, described.last_access,
                                 described.last_write});
  }
  remember_listed_dir(native_dir, fd);
  closedir(d);
  const bool dropped = kept < found_.size();
  found_.resize(kept);
  // Entries whose type only a query could tell turned out to be files:
  // the listing is held while the walk descends, so their names go.
  if (directories_only_ && dropped) compact_names();
  return hand_out_first(first);
}

}  // namespace plat
