// Paths on Win32: full and long-path forms, the program's own path, and the
// queries of one path (exists, directory, identity, file system).

#include "platform/win32_internal.h"

#include <io.h>

namespace plat {

HANDLE open_for_query(const std::u16string& path, DWORD access) {
  return CreateFileW(wide(path), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

namespace {

bool file_information(const std::u16string& path, BY_HANDLE_FILE_INFORMATION& info) {
  HANDLE h = open_for_query(path, 0);
  if (h == INVALID_HANDLE_VALUE) {
    remember_error();
    return false;
  }
  const bool ok = GetFileInformationByHandle(h, &info) != 0;
  if (!ok) remember_error();
  CloseHandle(h);
  return ok;
}

// The form a name takes in a user's own spelling: the long-path prefix
// taken off again ("\\?\UNC\server" back to "\\server").
std::u16string without_long_prefix(const std::u16string& path) {
  static const std::u16string unc = u"\\\\?\\UNC\\";
  if (path.compare(0, unc.size(), unc) == 0) return u"\\\\" + path.substr(unc.size());
  if (path.compare(0, 4, u"\\\\?\\") == 0) return path.substr(4);
  return path;
}

}  // namespace

char16_t separator() { return u'\\'; }
bool is_separator(char16_t c) { return c == u'\\' || c == u'/'; }

const std::u16string& long_path_prefix() {
  static const std::u16string prefix = u"\\\\?\\";
  return prefix;
}

bool slash_begins_option() { return true; }

// A path already in long-path form is resolved without its prefix (the
// system would take it literally, "." and ".." included); callers put the
// prefix in front themselves.
std::optional<std::u16string> full_path(const std::u16string& path, size_t max_units) {
  if (path.empty()) return std::nullopt;
  const std::u16string plain = without_long_prefix(path);
  std::wstring buffer(kLongPathUnits, L'\0');
  const DWORD n = GetFullPathNameW(wide(plain), static_cast<DWORD>(buffer.size()),
                                   buffer.data(), nullptr);
  if (n == 0 || n >= buffer.size()) {
    remember_error();
    return std::nullopt;
  }
  if (n > max_units) return std::nullopt;
  return from_wide(buffer.data(), n);
}

// GetFullPathNameW has already dropped the trailing dots and blanks.
std::optional<std::u16string> argument_full_path(const std::u16string& path,
                                                 size_t max_units) {
  return full_path(path, max_units);
}

std::optional<std::u16string> current_dir() {
  std::wstring buffer(kLongPathUnits, L'\0');
  const DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
  if (n == 0 || n >= buffer.size()) {
    remember_error();
    return std::nullopt;
  }
  return from_wide(buffer.data(), n);
}

bool same_dir_name(const std::u16string& a, const std::u16string& b) {
  return CompareStringOrdinal(wide(a), static_cast<int>(a.size()), wide(b),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool names_keep_case() { return false; }

bool path_too_long(const std::u16string& path) { return path.size() > 32767; }

// "\\?\C:\data" gives "\\?\C:\"; a path without a drive keeps its whole
// text before the ":\".
std::u16string volume_root(const std::u16string& dir) {
  const size_t colon = dir.find(u':');
  return (colon == std::u16string::npos ? dir : dir.substr(0, colon)) + u":\\";
}

std::u16string program_path() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) {
      remember_error();
      return std::u16string();
    }
    if (n < buffer.size()) return from_wide(buffer.data(), n);
    if (buffer.size() >= kLongPathUnits) return std::u16string();
    buffer.resize(buffer.size() * 2);
  }
}

bool is_directory(const std::u16string& path) {
  const DWORD attributes = GetFileAttributesW(wide(path));
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    remember_error();
    return false;
  }
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool exists(const std::u16string& path) {
  if (GetFileAttributesW(wide(path)) == INVALID_FILE_ATTRIBUTES) {
    remember_error();
    return false;
  }
  return true;
}

bool make_directory(const std::u16string& path) {
  if (!CreateDirectoryW(wide(path), nullptr)) {
    remember_error();
    return false;
  }
  return true;
}

bool same_file(const std::u16string& a, const std::u16string& b) {
  BY_HANDLE_FILE_INFORMATION ia, ib;
  if (!file_information(a, ia) || !file_information(b, ib)) return false;
  return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

namespace {

FileIdentity identity_of(const BY_HANDLE_FILE_INFORMATION& info) {
  FileIdentity id;
  id.volume = info.dwVolumeSerialNumber;
  id.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return id;
}

}  // namespace

std::optional<FileIdentity> file_identity(const std::u16string& path) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!file_information(path, info)) return std::nullopt;
  return identity_of(info);
}

std::optional<FileIdentity> stream_identity(FILE* stream) {
  if (stream == nullptr) return std::nullopt;
  const intptr_t os_handle = _get_osfhandle(_fileno(stream));
  if (os_handle == -1) return std::nullopt;
  HANDLE h = reinterpret_cast<HANDLE>(os_handle);
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info))
    return std::nullopt;
  return identity_of(info);
}

path_kind kind_of(const std::u16string& path) {
  HANDLE h = open_for_query(path, 0);
  if (h == INVALID_HANDLE_VALUE) {
    remember_error();
    return path_kind::missing;
  }
  // A device or pipe name is no file on disk.
  const bool on_disk = GetFileType(h) == FILE_TYPE_DISK;
  BY_HANDLE_FILE_INFORMATION info;
  const bool directory = on_disk && GetFileInformationByHandle(h, &info) &&
                         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  CloseHandle(h);
  if (!on_disk) return path_kind::other;
  return directory ? path_kind::directory : path_kind::file;
}

std::optional<std::string> volume_fs_name(const std::u16string& root) {
  wchar_t volume_name[128];
  wchar_t fs_name[128];
  DWORD serial = 0, max_component = 0, flags = 0;
  if (!GetVolumeInformationW(wide(root), volume_name, 128, &serial, &max_component, &flags,
                             fs_name, 128)) {
    remember_error();
    return std::nullopt;
  }
  return to_code_page(from_wide(fs_name), CP_ACP);
}

}  // namespace plat
