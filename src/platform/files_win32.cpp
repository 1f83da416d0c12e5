// Files on Win32: reading and writing in blocks, outputs that appear whole
// or not at all, standard input and output, repair in place.

#include "platform/win32_internal.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace plat {

thread_local DWORD g_last_error = 0;
wchar_t g_temp_name[kLongPathUnits + 64];
bool g_temp_named = false;
SRWLOCK g_temp_lock = SRWLOCK_INIT;

namespace {

HANDLE handle_of(intptr_t value) { return reinterpret_cast<HANDLE>(value); }

}  // namespace

long long File::read(void* buffer, size_t size) {
  if (handle_ == kNone) return -1;
  const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
  DWORD got = 0;
  if (!ReadFile(handle_of(handle_), buffer, chunk, &got, nullptr)) {
    const DWORD error = GetLastError();
    if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE) {
      note_read(0, size);
      return 0;
    }
    g_last_error = error;
    return -1;
  }
  note_read(got, chunk);
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
  forget_reads();
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

// Whether the existing `target` is the file open in `source`.
bool names_source(const std::u16string& target, const File& source) {
  BY_HANDLE_FILE_INFORMATION own, there;
  HANDLE h = open_for_query(target, 0);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool known = GetFileInformationByHandle(h, &there) != 0;
  CloseHandle(h);
  return known && GetFileInformationByHandle(handle_of(source.handle_), &own) != 0 &&
         own.dwVolumeSerialNumber == there.dwVolumeSerialNumber &&
         own.nFileIndexHigh == there.nFileIndexHigh && own.nFileIndexLow == there.nFileIndexLow;
}

begin_result begin_beside(const std::u16string& target, PendingOutput& output, bool doomed,
                          const File* source) {
  output.abandon();
  output.target = target;
  const DWORD existing = GetFileAttributesW(wide(target));
  if (existing != INVALID_FILE_ATTRIBUTES && source != nullptr && source->is_open() &&
      names_source(target, *source))
    return begin_result::same_file;
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

begin_result begin_output(const std::u16string& target, PendingOutput& output,
                          const File* source) {
  return begin_beside(target, output, true, source);
}

begin_result begin_named_output(const std::u16string& target, PendingOutput& output) {
  return begin_beside(target, output, false, nullptr);
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

// The system's own words for the error, in the language of its messages,
// narrowed as every other message text is.
std::string last_error_text() {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, g_last_error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::u16string wide_text;
  if (n > 0 && text != nullptr) wide_text = from_wide(text, n);
  if (text != nullptr) LocalFree(text);
  while (!wide_text.empty() &&
         (wide_text.back() == u'\n' || wide_text.back() == u'\r' || wide_text.back() == u' '))
    wide_text.pop_back();
  if (wide_text.empty()) return "error " + std::to_string(g_last_error);
  return to_native(wide_text);
}
uint32_t last_error_code() { return g_last_error; }
void set_last_error_code(uint32_t code) { g_last_error = code; }

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

}  // namespace plat
