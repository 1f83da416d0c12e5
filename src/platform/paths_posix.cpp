// Paths on POSIX: their lexical full form, the program's own path, and the
// queries of one path (exists, directory, identity, file system).

#include "platform/posix_internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace plat {

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
    result.assign(1, u'/');
  } else if (trailing) {
    result += u'/';
  }
  if (result.size() > max_units) return std::nullopt;
  return result;
}

// Win32 drops the trailing dots and blanks of the last part ("*.txt." is
// "*.txt", ".*." is ".*"); a POSIX name may end in them, and one that
// exists is kept as it is.
std::optional<std::u16string> argument_full_path(const std::u16string& path,
                                                 size_t max_units) {
  std::optional<std::u16string> full = full_path(path, max_units);
  if (!full || full->back() == u'/') return full;
  const size_t last_part = full->rfind(u'/') + 1;
  const size_t keep = full->find_last_not_of(u". ") + 1;
  if (keep == full->size()) return full;
  struct stat st;
  if (fstatat(AT_FDCWD, to_native(*full).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return full;
  full->resize(std::max(keep, last_part));
  return full;
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

namespace {

// What `path` names, links followed; false (error remembered) when it
// cannot be reached.
bool stat_path(const std::u16string& path, struct stat& st) {
  if (stat(to_native(path).c_str(), &st) == 0) return true;
  remember_error();
  return false;
}

}  // namespace

bool is_directory(const std::u16string& path) {
  struct stat st;
  return stat_path(path, st) && S_ISDIR(st.st_mode);
}

bool exists(const std::u16string& path) {
  struct stat st;
  return stat_path(path, st);
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
  return stat_path(a, sa) && stat_path(b, sb) && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

namespace {

FileIdentity identity_of(const struct stat& st) {
  FileIdentity id;
  id.volume = static_cast<uint64_t>(st.st_dev);
  id.index = static_cast<uint64_t>(st.st_ino);
  return id;
}

}  // namespace

std::optional<FileIdentity> file_identity(const std::u16string& path) {
  // A name in the directory listed last (a walk asks for its entries) is
  // looked up relative to it.
  const std::string native = to_native(path);
  const AtPath at = at_path(native);
  struct stat st;
  if (fstatat(at.dir, at.name, &st, 0) != 0) {
    remember_error();
    return std::nullopt;
  }
  return identity_of(st);
}

std::optional<FileIdentity> stream_identity(FILE* stream) {
  struct stat st;
  if (stream == nullptr || fstat(fileno(stream), &st) != 0 || !S_ISREG(st.st_mode))
    return std::nullopt;
  return identity_of(st);
}

path_kind kind_of(const std::u16string& path) {
  struct stat st;
  if (!stat_path(path, st)) return path_kind::missing;
  if (S_ISREG(st.st_mode)) return path_kind::file;
  if (S_ISDIR(st.st_mode)) return path_kind::directory;
  return path_kind::other;
}

std::optional<std::string> volume_fs_name(const std::u16string& root) {
  std::string native = to_native(root);
  if (native.empty()) native.assign(1, '.');
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

// POSIX names are case-sensitive: INI values naming files keep their case.
bool names_keep_case() { return true; }

bool path_too_long(const std::u16string& path) {
  return to_native(path).size() >= PATH_MAX;  // PATH_MAX counts the end NUL
}

}  // namespace plat
