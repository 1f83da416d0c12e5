// Files on Win32: reading and writing in blocks, standard input and
// output, repair in place.

#include "platform/win32_internal.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace plat {

thread_local DWORD g_last_error = 0;

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
