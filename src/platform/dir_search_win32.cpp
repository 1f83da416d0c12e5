// Win32 implementation of the platform layer.
//
// Strings are UTF-16 on both sides, so names pass through unchanged. Narrow
// text (messages, INI lines) is in the ANSI code page, as the file APIs see
// narrow names after SetFileApisToANSI.

#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601  // Windows 7: FindExInfoBasic, CompareStringOrdinal
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include <windows.h>
#include <commdlg.h>
#include <shellapi.h>

#include <conio.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/platform.h"
#include "platform/calendar.h"

namespace plat {

namespace {

constexpr int64_t kUnitsPerSecond = 10000000LL;
constexpr size_t kLongPathUnits = 32768;

DWORD g_last_error = 0;

void remember_error() { g_last_error = GetLastError(); }

const wchar_t* wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

std::u16string from_wide(const wchar_t* text, size_t units) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), units);
}

std::u16string from_wide(const wchar_t* text) { return from_wide(text, wcslen(text)); }

uint64_t stamp_of(const FILETIME& t) {
  return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

FILETIME filetime_of(uint64_t stamp) {
  FILETIME t;
  t.dwLowDateTime = static_cast<DWORD>(stamp & 0xFFFFFFFFu);
  t.dwHighDateTime = static_cast<DWORD>(stamp >> 32);
  return t;
}

HANDLE handle_of(intptr_t value) { return reinterpret_cast<HANDLE>(value); }

bool is_console(DWORD which) {
  DWORD mode = 0;
  HANDLE h = GetStdHandle(which);
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

// Narrow text in the ANSI code page; unmappable units become the code
// page's default character.
std::string to_code_page(const std::u16string& text, UINT code_page) {
  if (text.empty()) return std::string();
  const int units = static_cast<int>(text.size());
  const int need =
      WideCharToMultiByte(code_page, 0, wide(text), units, nullptr, 0, nullptr, nullptr);
  if (need <= 0) return std::string();
  std::string out(static_cast<size_t>(need), '\0');
  WideCharToMultiByte(code_page, 0, wide(text), units, out.data(), need, nullptr, nullptr);
  return out;
}

// Opens an object for queries only; directories open too.
HANDLE open_for_query(const std::u16string& path, DWORD access) {
  return CreateFileW(wide(path), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

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

// ---- Strings and console text -------------------------------------------

std::u16string from_native(const std::string& bytes) {
  if (bytes.empty()) return std::u16string();
  const int size = static_cast<int>(bytes.size());
  const int need = MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
  if (need <= 0) return std::u16string();
  std::wstring out(static_cast<size_t>(need), L'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, out.data(), need);
  return from_wide(out.data(), out.size());
}

std::string to_native(const std::u16string& text) { return to_code_page(text, CP_ACP); }

// A console shows UTF-16 as it is; a file or pipe gets the ANSI code page,
// the same bytes as the messages printed with to_native around it.
void write_text(FILE* stream, const std::u16string& text) {
  const int fd = _fileno(stream);
  const DWORD which = fd == 1 ? STD_OUTPUT_HANDLE : fd == 2 ? STD_ERROR_HANDLE : 0;
  if (which != 0 && is_console(which)) {
    fflush(stream);
    HANDLE h = GetStdHandle(which);
    size_t done = 0;
    while (done < text.size()) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - done, 8192));
      DWORD written = 0;
      if (!WriteConsoleW(h, wide(text) + done, chunk, &written, nullptr) || written == 0) break;
      done += written;
    }
    return;
  }
  const std::string bytes = to_native(text);
  fwrite(bytes.data(), 1, bytes.size(), stream);
}

// The command line as Windows hands it over, split by the shell's rules;
// the narrow argv of the C runtime would have lost what the ANSI code page
// cannot show.
std::vector<std::u16string> program_arguments(int argc, char** argv) {
  std::vector<std::u16string> args;
  int count = 0;
  LPWSTR* list = CommandLineToArgvW(GetCommandLineW(), &count);
  if (list != nullptr) {
    for (int i = 0; i < count; ++i) args.push_back(from_wide(list[i]));
    LocalFree(list);
    return args;
  }
  for (int i = 0; i < argc && argv[i] != nullptr; ++i) args.push_back(from_native(argv[i]));
  return args;
}

// ---- Paths ----------------------------------------------------------------

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

std::optional<DirIdentity> dir_identity(const std::u16string& path) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!file_information(path, info)) return std::nullopt;
  DirIdentity id;
  id.volume = info.dwVolumeSerialNumber;
  id.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return id;
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

// ---- Directory enumeration ------------------------------------------------

namespace {

// Upper case as NTFS orders names; the same length as `name`.
std::u16string upper_key(std::u16string_view name) {
  std::u16string key(name);
  if (!key.empty()) {
    LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE,
                  reinterpret_cast<const wchar_t*>(name.data()), static_cast<int>(name.size()),
                  reinterpret_cast<wchar_t*>(key.data()), static_cast<int>(key.size()), nullptr,
                  nullptr, 0);
  }
  return key;
}

uint64_t size_of(const WIN32_FIND_DATAW& w) {
  return (static_cast<uint64_t>(w.nFileSizeHigh) << 32) | w.nFileSizeLow;
}

}  // namespace

// Entries come "." and ".." first, then in the order of their upper-cased
// names, as NTFS lists them, so that a run over a FAT volume (or under
// another system's file system) is the same.
bool DirSearch::start(const std::u16string& search_string, FindData& first, bool details) {
  close();
  unreadable_ = false;
  WIN32_FIND_DATAW w;
  HANDLE h = FindFirstFileExW(wide(search_string), FindExInfoBasic, &w, FindExSearchNameMatch,
                              nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (h == INVALID_HANDLE_VALUE) {
    remember_error();
    // Everything but a missing directory or an empty match means the
    // directory is there and refused us (ERROR_ACCESS_DENIED and the like).
    switch (g_last_error) {
      case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: case ERROR_NO_MORE_FILES:
      case ERROR_INVALID_NAME: case ERROR_DIRECTORY: case ERROR_BAD_PATHNAME:
      case ERROR_INVALID_DRIVE: case ERROR_NOT_READY: case ERROR_BAD_NETPATH:
      case ERROR_BAD_NET_NAME:
        break;
      default:
        unreadable_ = true;
    }
    return false;
  }
  // Upper-cased names at the offsets of names_, and the details in the
  // order found: both only until the listing is sorted.
  std::u16string keys;
  std::vector<Details> found_details;
  // Without files, the one that would come first is still kept unless "."
  // or ".." comes before it.
  std::u16string first_file, first_key;
  Listed first_listed;
  Details first_details;
  bool have_first_file = false;
  bool dot_kept = false;
  bool room = true;
  const auto keep = [&](std::u16string_view name, std::u16string_view key, Listed listed,
                        const Details& more) {
    if (!add_name(name, listed)) return false;
    keys.append(key);
    found_.push_back(listed);
    if (details) found_details.push_back(more);
    return true;
  };
  do {
    const std::u16string_view name(reinterpret_cast<const char16_t*>(w.cFileName),
                                   wcslen(w.cFileName));
    const bool dot = name == u"." || name == u"..";
    const bool only_first =
        directories_only_ && (w.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    if (only_first && dot_kept) continue;
    const std::u16string key = dot ? std::u16string(name) : upper_key(name);
    Listed listed;
    listed.attributes = w.dwFileAttributes;
    const Details more{size_of(w), stamp_of(w.ftCreationTime), stamp_of(w.ftLastAccessTime),
                       stamp_of(w.ftLastWriteTime)};
    if (only_first) {
      if (!have_first_file || key < first_key || (key == first_key && name < first_file)) {
        first_file = name;
        first_key = key;
        first_listed = listed;
        first_details = more;
      }
      have_first_file = true;
      continue;
    }
    if (!keep(name, key, listed, more)) {
      room = false;
      break;
    }
    dot_kept = dot_kept || dot;
  } while (FindNextFileW(h, &w));
  FindClose(h);
  if (room && have_first_file && !dot_kept)
    room = keep(first_file, first_key, first_listed, first_details);
  if (!room) {
    // Names past 4 Gi units: rather no listing than one that silently
    // leaves entries out.
    g_last_error = ERROR_NOT_ENOUGH_MEMORY;
    close();
    return false;
  }

  std::vector<uint32_t> order(found_.size());
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  const auto dot_rank = [this](const Listed& e) -> int {
    const bool dot = e.name_units <= 2 && name_of(e) == std::u16string_view(u"..", e.name_units);
    return dot ? e.name_units : 3;
  };
  std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    const Listed& la = found_[a];
    const Listed& lb = found_[b];
    const int rank_a = dot_rank(la), rank_b = dot_rank(lb);
    if (rank_a != rank_b) return rank_a < rank_b;
    const std::u16string_view key_a = std::u16string_view(keys).substr(la.name_at, la.name_units);
    const std::u16string_view key_b = std::u16string_view(keys).substr(lb.name_at, lb.name_units);
    if (key_a != key_b) return key_a < key_b;
    return name_of(la) < name_of(lb);
  });
  std::u16string().swap(keys);

  std::vector<Listed> sorted;
  sorted.reserve(order.size());
  if (details) details_.reserve(order.size());
  for (const uint32_t i : order) {
    if (directories_only_ && !sorted.empty() && (found_[i].attributes & kAttrDirectory) == 0)
      continue;
    sorted.push_back(found_[i]);
    if (details) details_.push_back(found_details[i]);
  }
  found_.swap(sorted);
  if (!next(first)) {
    close();
    return false;
  }
  return true;
}

// ---- Files ------------------------------------------------------------------

long long File::read(void* buffer, size_t size) {
  if (handle_ == kNone) return -1;
  const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
  DWORD got = 0;
  if (!ReadFile(handle_of(handle_), buffer, chunk, &got, nullptr)) {
    const DWORD error = GetLastError();
    if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE) return 0;
    g_last_error = error;
    return -1;
  }
  return got;
}

bool File::write_all(const void* data, size_t size) {
  if (handle_ == kNone) return false;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(handle_of(handle_), p, chunk, &written, nullptr) || written == 0) {
      remember_error();
      return false;
    }
    p += written;
    size -= written;
  }
  return true;
}

bool File::close() {
  if (handle_ == kNone) return true;
  HANDLE h = handle_of(handle_);
  handle_ = kNone;
  if (!CloseHandle(h)) {
    remember_error();
    return false;
  }
  return true;
}

bool open_read(const std::u16string& path, File& file) {
  file.close();
  HANDLE h = CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    remember_error();
    return false;
  }
  // Only files on disk are read: a device or pipe name could block.
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    g_last_error = ERROR_INVALID_FUNCTION;
    return false;
  }
  file.handle_ = reinterpret_cast<intptr_t>(h);
  return true;
}

// ---- Pending outputs and the endings that remove them ---------------------

namespace {

// The named temporary of the pending output, for the console handler,
// which runs on a thread of its own: a fixed buffer under a lock that the
// handler keeps once it has taken it, as the process is ending then.
wchar_t g_temp_name[kLongPathUnits + 64];
bool g_temp_named = false;
SRWLOCK g_temp_lock = SRWLOCK_INIT;

void note_temp(const std::u16string& name) {
  AcquireSRWLockExclusive(&g_temp_lock);
  const size_t n = std::min(name.size(), sizeof g_temp_name / sizeof g_temp_name[0] - 1);
  std::memcpy(g_temp_name, name.data(), n * sizeof(wchar_t));
  g_temp_name[n] = L'\0';
  g_temp_named = true;
  ReleaseSRWLockExclusive(&g_temp_lock);
}

void forget_temp() {
  AcquireSRWLockExclusive(&g_temp_lock);
  g_temp_named = false;
  ReleaseSRWLockExclusive(&g_temp_lock);
}

const std::string& pid_text() {
  static const std::string text = std::to_string(GetCurrentProcessId());
  return text;
}

bool set_delete_on_close(HANDLE h, bool on) {
  FILE_DISPOSITION_INFO disposition;
  disposition.DeleteFile = on ? TRUE : FALSE;
  return SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

// Attributes of an existing target that its replacement takes over.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

begin_result begin_beside(const std::u16string& target, PendingOutput& output, bool doomed) {
  output.abandon();
  output.target = target;
  const DWORD existing = GetFileAttributesW(wide(target));
  if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    if (existing & FILE_ATTRIBUTE_READONLY) return begin_result::read_only;
    output.keep_mode = existing & kKeptAttributes;
  }
  static unsigned counter = 0;
  std::u16string base = target + kTempMarker;
  // A target whose name is near the 255-unit limit of a name gets a short
  // temporary name in the same directory, so the rename stays one step.
  const size_t cut = target.find_last_of(u"\\/");
  const size_t name_units = target.size() - (cut == std::u16string::npos ? 0 : cut + 1);
  if (name_units + 32 > 255)
    base = target.substr(0, cut == std::u16string::npos ? 0 : cut + 1) + kTempMarker;
  const std::string pid = pid_text() + "-";
  for (int attempt = 0; attempt < 10000; ++attempt) {
    const std::string tail = pid + std::to_string(counter++);
    const std::u16string name = base + std::u16string(tail.begin(), tail.end());
    // Shared for deletion, so that the console handler can remove it while
    // it is open.
    note_temp(name);
    HANDLE h = CreateFileW(wide(name), GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      output.file.handle_ = reinterpret_cast<intptr_t>(h);
      output.temp_path = name;
      // Marked for deletion, the file goes with its handle however the
      // process ends; where the file system refuses, the handler removes it.
      output.vanishes = doomed && set_delete_on_close(h, true);
      return begin_result::ok;
    }
    const DWORD error = GetLastError();
    forget_temp();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      g_last_error = error;
      return begin_result::failed;
    }
  }
  g_last_error = ERROR_FILE_EXISTS;
  return begin_result::failed;
}

}  // namespace

void PendingOutput::abandon() {
  file.close();
  if (!temp_path.empty()) {
    if (!vanishes) DeleteFileW(wide(temp_path));
    forget_temp();
    temp_path.clear();
  }
  vanishes = false;
  keep_mode = 0;
}

begin_result begin_output(const std::u16string& target, PendingOutput& output) {
  return begin_beside(target, output, true);
}

begin_result begin_named_output(const std::u16string& target, PendingOutput& output) {
  return begin_beside(target, output, false);
}

bool commit_output(PendingOutput& output) {
  auto fail = [&output]() {
    const DWORD error = g_last_error;
    output.abandon();
    g_last_error = error;
    return false;
  };
  if (!output.file.is_open() || output.temp_path.empty()) {
    g_last_error = ERROR_INVALID_HANDLE;
    return false;
  }
  HANDLE h = handle_of(output.file.handle_);
  if (output.vanishes) {
    if (!set_delete_on_close(h, false)) {
      remember_error();
      return fail();
    }
    output.vanishes = false;
  }
  if (output.keep_mode != 0) {
    FILE_BASIC_INFO basic;
    std::memset(&basic, 0, sizeof basic);  // zero times: left as they are
    basic.FileAttributes = output.keep_mode;
    SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic);  // best effort
  }
  // Renamed through its own handle, the file is in place before the handle
  // closes; where that is refused, the named file is moved over the target.
  const size_t bytes = output.target.size() * sizeof(wchar_t);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + bytes + sizeof(wchar_t), 0);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = TRUE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(bytes);
  std::memcpy(rename->FileName, output.target.data(), bytes);
  const bool renamed =
      SetFileInformationByHandle(h, FileRenameInfo, rename, static_cast<DWORD>(buffer.size())) != 0;
  if (!output.file.close()) return fail();
  if (!renamed && !MoveFileExW(wide(output.temp_path), wide(output.target),
                               MOVEFILE_REPLACE_EXISTING)) {
    remember_error();
    return fail();
  }
  forget_temp();
  output.temp_path.clear();
  output.keep_mode = 0;
  return true;
}

bool remove_file(const std::u16string& path) {
  if (!DeleteFileW(wide(path))) {
    remember_error();
    return false;
  }
  return true;
}

bool process_running(uint64_t pid) {
  if (pid == 0 || pid > 0xFFFFFFFFull) return false;
  HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (h == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;  // runs, not ours to see
  DWORD code = 0;
  const bool running = GetExitCodeProcess(h, &code) && code == STILL_ACTIVE;
  CloseHandle(h);
  return running;
}

std::string last_error_text() {
  char* text = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, g_last_error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string out;
  if (n > 0 && text != nullptr) out.assign(text, n);
  if (text != nullptr) LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' '))
    out.pop_back();
  if (out.empty()) out = "error " + std::to_string(g_last_error);
  return out;
}

// The runtime's text mode: CR LF on output, CR LF to LF and an end at
// Ctrl+Z on input, unless the mode asks for "b".
FILE* open_stream(const std::u16string& path, const char* mode) {
  const std::string narrow(mode);
  const std::wstring wide_mode(narrow.begin(), narrow.end());
  SetLastError(0);
  FILE* f = _wfopen(wide(path), wide_mode.c_str());
  if (f == nullptr) {
    g_last_error = GetLastError();
    if (g_last_error == 0) g_last_error = ERROR_INVALID_PARAMETER;
  }
  return f;
}

namespace {

// A handle of our own on a standard handle, so that closing the File
// leaves the standard one alone.
bool duplicate_standard(DWORD which, File& file) {
  HANDLE h = GetStdHandle(which);
  HANDLE copy = nullptr;
  if (h == nullptr || h == INVALID_HANDLE_VALUE) {
    g_last_error = ERROR_INVALID_HANDLE;
    return false;
  }
  if (!DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &copy, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    remember_error();
    return false;
  }
  file.handle_ = reinterpret_cast<intptr_t>(copy);
  return true;
}

}  // namespace

bool open_standard_input(File& file) {
  file.close();
  // The data are read through the handle; the runtime's stream must not
  // translate what a later key read takes from it either.
  _setmode(_fileno(stdin), _O_BINARY);
  return duplicate_standard(STD_INPUT_HANDLE, file);
}

bool keep_standard_output(File& file) {
  file.close();
  fflush(stdout);
  const bool kept = duplicate_standard(STD_OUTPUT_HANDLE, file);
  // Unbuffered as standard error is, so that the reports of both streams
  // keep their order.
  setvbuf(stdout, nullptr, _IONBF, 0);
  // Without a standard error the reports are lost rather than mixed in;
  // the descriptor stays taken, so no file opened later becomes stdout.
  if (_dup2(_fileno(stderr), _fileno(stdout)) != 0) {
    const int null = _open("NUL", _O_WRONLY);
    if (null >= 0 && null != _fileno(stdout)) {
      _dup2(null, _fileno(stdout));
      _close(null);
    }
  }
  SetStdHandle(STD_OUTPUT_HANDLE, GetStdHandle(STD_ERROR_HANDLE));
  return kept;
}

bool text_input_ends_at_ctrl_z() { return true; }
const char* line_end() { return "\r\n"; }

bool open_read_write(const std::u16string& path, bool create, File& file) {
  file.close();
  HANDLE h = CreateFileW(wide(path), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    remember_error();
    return false;
  }
  file.handle_ = reinterpret_cast<intptr_t>(h);
  return true;
}

std::optional<uint64_t> file_size(File& file) {
  LARGE_INTEGER size;
  if (!file.is_open() || !GetFileSizeEx(handle_of(file.handle_), &size)) {
    remember_error();
    return std::nullopt;
  }
  return static_cast<uint64_t>(size.QuadPart);
}

// The end of a file is where its pointer stands: move it there, cut, and
// put it back where the caller had it.
bool set_file_length(File& file, uint64_t length) {
  if (!file.is_open()) return false;
  HANDLE h = handle_of(file.handle_);
  LARGE_INTEGER zero, saved, target;
  zero.QuadPart = 0;
  target.QuadPart = static_cast<LONGLONG>(length);
  if (!SetFilePointerEx(h, zero, &saved, FILE_CURRENT) ||
      !SetFilePointerEx(h, target, nullptr, FILE_BEGIN) || !SetEndOfFile(h)) {
    remember_error();
    return false;
  }
  SetFilePointerEx(h, saved, nullptr, FILE_BEGIN);
  return true;
}

// ---- Console, signals, time, system --------------------------------------

// "cls" clears a console; with standard output redirected it would only
// put a form feed into the file.
void clear_console() {
  fflush(stdout);
  if (!is_console(STD_OUTPUT_HANDLE)) return;
  if (system("cls") != 0) {
    // Without a command interpreter the screen stays as it is.
  }
}

bool key_waiting() { return is_console(STD_INPUT_HANDLE) && _kbhit() != 0; }

int read_key() {
  fflush(stdout);
  if (is_console(STD_INPUT_HANDLE)) return _getch();
  const int c = fgetc(stdin);
  return c == EOF ? -1 : c;
}

void set_stdin_unbuffered() { setvbuf(stdin, nullptr, _IONBF, 0); }

namespace {

void (*g_first_interrupt)(int) = nullptr;
volatile LONG g_interrupted = 0;

// The first Ctrl+C goes to the program's handler and is swallowed. The
// events that end the run remove a named temporary, then go on to the
// default handling, which ends the process with the status it always had.
BOOL WINAPI on_console_event(DWORD event) {
  if (event == CTRL_C_EVENT && InterlockedExchange(&g_interrupted, 1) == 0) {
    if (g_first_interrupt) g_first_interrupt(SIGINT);
    return TRUE;
  }
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
    AcquireSRWLockExclusive(&g_temp_lock);  // kept: the process ends
    if (g_temp_named) DeleteFileW(g_temp_name);
  }
  return FALSE;
}

void add_console_handler() {
  static bool added = false;
  if (!added) added = SetConsoleCtrlHandler(on_console_event, TRUE) != 0;
}

}  // namespace

void install_interrupt_handler(void (*handler)(int)) {
  g_first_interrupt = handler;
  add_console_handler();
}

// Windows has no file-size signal: a write past a limit simply fails.
void install_ending_handlers() { add_console_handler(); }

void sleep_seconds(int seconds) {
  if (seconds > 0) Sleep(static_cast<DWORD>(seconds) * 1000u);
}

void use_ansi_file_names() { SetFileApisToANSI(); }

std::optional<std::u16string> open_file_dialog(const std::u16string& title) {
  wchar_t file[260] = {0};
  wchar_t file_title[260] = {0};
  static const wchar_t kFilter[] = L"All Files (*.*)\0*.*\0Data Files (*.DAT)\0*.DAT\0";
  OPENFILENAMEW dialog;
  memset(&dialog, 0, sizeof dialog);
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = nullptr;
  dialog.lpstrFilter = kFilter;
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file;
  dialog.nMaxFile = 260;
  dialog.lpstrFileTitle = file_title;
  dialog.nMaxFileTitle = 260;
  dialog.lpstrInitialDir = nullptr;
  dialog.lpstrTitle = wide(title);
  dialog.Flags = 0;
  if (!GetOpenFileNameW(&dialog) || file[0] == L'\0') return std::nullopt;
  return from_wide(file);
}

std::optional<std::u16string> get_env(const std::string& name) {
  const std::wstring key(name.begin(), name.end());
  const wchar_t* value = _wgetenv(key.c_str());
  if (value == nullptr) return std::nullopt;
  return from_wide(value);
}

// Through the runtime, so that its own readers (the time-zone set-up reads
// TZ) see the value too.
void set_env(const std::string& name, const std::u16string& value) {
  std::wstring entry(name.begin(), name.end());
  entry += L'=';
  entry += wide(value);
  _wputenv(entry.c_str());
}

std::optional<std::u16string> computer_name() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &size)) {
    remember_error();
    return std::nullopt;
  }
  return from_wide(name, size);
}

ZoneInfo refresh_zone() {
  _tzset();
  ZoneInfo zone;
  zone.standard_name = _tzname[0] != nullptr ? _tzname[0] : "";
  zone.daylight = _daylight != 0;
  zone.daylight_name = zone.daylight && _tzname[1] != nullptr ? _tzname[1] : "";
  zone.offset_seconds = _timezone;
  // The names of a TZ value "tzn[+|-]hh[:mm[:ss]][dzn]" are its first three
  // characters and the three after the offset. Read them here as the
  // runtime defines them: some runtimes (Wine's) keep only two.
  const char* tz = getenv("TZ");
  if (tz != nullptr && tz[0] != '\0') {
    const std::string value(tz);
    zone.standard_name = value.substr(0, 3);
    size_t at = std::min<size_t>(3, value.size());
    if (at < value.size() && (value[at] == '+' || value[at] == '-')) ++at;
    while (at < value.size() && ((value[at] >= '0' && value[at] <= '9') || value[at] == ':')) ++at;
    const std::string daylight = value.substr(at, 3);
    zone.daylight = !daylight.empty();
    zone.daylight_name = daylight;
  }
  return zone;
}

std::optional<uint64_t> stamp_to_local(uint64_t stamp) {
  const FILETIME utc = filetime_of(stamp);
  FILETIME local;
  if (!FileTimeToLocalFileTime(&utc, &local)) {
    remember_error();
    return std::nullopt;
  }
  return stamp_of(local);
}

std::optional<SystemTime> stamp_to_system_time(uint64_t stamp) {
  const FILETIME t = filetime_of(stamp);
  SYSTEMTIME s;
  if (!FileTimeToSystemTime(&t, &s)) {
    remember_error();
    return std::nullopt;
  }
  SystemTime out;
  out.year = s.wYear;
  out.month = s.wMonth;
  out.day = s.wDay;
  out.hour = s.wHour;
  out.minute = s.wMinute;
  out.second = s.wSecond;
  out.millisecond = s.wMilliseconds;
  out.weekday = s.wDayOfWeek;
  return out;
}

int64_t now_seconds() { return static_cast<int64_t>(_time64(nullptr)); }

std::optional<int64_t> local_midnight(int year, int month, int day) {
  struct tm t = midnight_of(year, month, day);
  const __time64_t result = _mktime64(&t);
  if (result == static_cast<__time64_t>(-1)) return std::nullopt;
  return static_cast<int64_t>(result);
}

// The runtime knows no time before 1970: such a time gives zero fields.
SystemTime broken_down(int64_t seconds, bool utc) {
  const __time64_t when = static_cast<__time64_t>(seconds);
  struct tm t{};
  const struct tm* got = utc ? _gmtime64(&when) : _localtime64(&when);
  if (got != nullptr) t = *got;
  return system_time_of(t);
}

// ---- Named streams and privileges ----------------------------------------

namespace {

bool stamps_of(const std::u16string& path, Stamps& out) {
  HANDLE h = CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_ATTRIBUTE_READONLY |
                             FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    // Read sharing is refused while a writer holds the object: its times
    // can still be read.
    h = open_for_query(path, FILE_READ_ATTRIBUTES);
    if (h == INVALID_HANDLE_VALUE) {
      remember_error();
      return false;
    }
  }
  BY_HANDLE_FILE_INFORMATION info;
  const bool ok = GetFileInformationByHandle(h, &info) != 0;
  if (!ok) remember_error();
  CloseHandle(h);
  if (!ok) return false;
  out.creation = stamp_of(info.ftCreationTime);
  out.last_access = stamp_of(info.ftLastAccessTime);
  out.last_write = stamp_of(info.ftLastWriteTime);
  return true;
}

}  // namespace

std::optional<Stamps> object_stamps(const std::u16string& path) {
  Stamps s;
  if (stamps_of(path, s)) return s;
  const DWORD saved = g_last_error;
  // "object:stream" where the volume cannot open a stream by name: the
  // stream has its object's times. The drive colon never counts.
  const size_t cut = path.find_last_of(u"\\/");
  const size_t colon = path.rfind(u':');
  if (colon != std::u16string::npos && (cut == std::u16string::npos || colon > cut + 1) &&
      colon > 1 && path[colon - 1] != u'?') {
    if (stamps_of(path.substr(0, colon), s)) return s;
  }
  g_last_error = saved;
  return std::nullopt;
}

struct BackupReader::State {
  HANDLE file = INVALID_HANDLE_VALUE;
  LPVOID context = nullptr;
};

BackupReader::BackupReader() : state_(nullptr) {}
BackupReader::~BackupReader() { close(); }

bool BackupReader::open(const std::u16string& path) {
  close();
  HANDLE h = CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    remember_error();
    return false;
  }
  state_ = new State();
  state_->file = h;
  return true;
}

// The fixed part of WIN32_STREAM_ID: id, attributes, size, name size.
int BackupReader::read_header(StreamHeader& header) {
  if (state_ == nullptr) {
    g_last_error = ERROR_INVALID_HANDLE;
    return -1;
  }
  unsigned char bytes[20];
  DWORD got = 0;
  if (!BackupRead(state_->file, bytes, sizeof bytes, &got, FALSE, TRUE, &state_->context)) {
    remember_error();
    return -1;
  }
  if (got < sizeof bytes) return 0;
  auto word = [&](size_t at) {
    return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
           static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
  };
  header = StreamHeader();
  header.id = word(0);
  header.attributes = word(4);
  header.size = static_cast<uint64_t>(word(8)) | static_cast<uint64_t>(word(12)) << 32;
  header.name_size = word(16);
  return 1;
}

long long BackupReader::read_name(char16_t* name, uint32_t name_size) {
  if (state_ == nullptr) {
    g_last_error = ERROR_INVALID_HANDLE;
    return -1;
  }
  DWORD got = 0;
  if (!BackupRead(state_->file, reinterpret_cast<LPBYTE>(name), name_size, &got, FALSE, TRUE,
                  &state_->context)) {
    remember_error();
    return -1;
  }
  return got;
}

// The seek stops at the end of the current stream, so the largest amount
// passes over the whole of it.
void BackupReader::skip_data() {
  if (state_ == nullptr) return;
  DWORD low = 0, high = 0;
  BackupSeek(state_->file, 0xFFFFFFFFu, 0x7FFFFFFFu, &low, &high, &state_->context);
}

void BackupReader::close() {
  if (state_ == nullptr) return;
  if (state_->context != nullptr) {
    DWORD got = 0;
    BackupRead(state_->file, nullptr, 0, &got, TRUE, FALSE, &state_->context);
  }
  CloseHandle(state_->file);
  delete state_;
  state_ = nullptr;
}

PrivilegeStatus enable_backup_restore() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    remember_error();
    return PrivilegeStatus::token_error;
  }
  // TOKEN_PRIVILEGES with room for two entries.
  struct {
    DWORD count;
    LUID_AND_ATTRIBUTES entries[2];
  } privileges;
  privileges.count = 2;
  if (!LookupPrivilegeValueW(nullptr, L"SeBackupPrivilege", &privileges.entries[0].Luid)) {
    remember_error();
    CloseHandle(token);
    return PrivilegeStatus::backup_lookup_error;
  }
  if (!LookupPrivilegeValueW(nullptr, L"SeRestorePrivilege", &privileges.entries[1].Luid)) {
    remember_error();
    CloseHandle(token);
    return PrivilegeStatus::restore_lookup_error;
  }
  privileges.entries[0].Attributes = SE_PRIVILEGE_ENABLED;
  privileges.entries[1].Attributes = SE_PRIVILEGE_ENABLED;
  // An account without the privileges goes on without them.
  AdjustTokenPrivileges(token, FALSE, reinterpret_cast<PTOKEN_PRIVILEGES>(&privileges), 0, nullptr,
                        nullptr);
  CloseHandle(token);
  return PrivilegeStatus::ok;
}

}  // namespace plat
