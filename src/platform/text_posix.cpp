// Strings and console text on POSIX: names and arguments are bytes, read as
// UTF-8 with every other byte kept as an escape.

#include "platform/posix_internal.h"
#include "platform/utf.h"

#include <cstdio>

namespace plat {

std::string g_argv0;

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

}  // namespace plat
