// Strings and console text on Win32: UTF-16 as it is, the command line as
// Windows hands it over, narrow text (messages, INI lines) in the ANSI code
// page, as the file APIs see narrow names after SetFileApisToANSI.

#include "platform/win32_internal.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdio>

namespace plat {

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

}  // namespace plat
