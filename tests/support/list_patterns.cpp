// Lists what each pattern selects in one directory through the platform's
// enumeration, so that the POSIX and the Windows build can be compared on
// one tree (tests/compare_patterns.sh).
//
//   list_patterns DIR < patterns
//
// Patterns come one a line in UTF-8; each gives one line "[PATTERN] " and
// the names it selects in UTF-8, sorted by their UTF-16 units (the listing
// order is not compared), joined by " | ", a directory's name ending with
// "/"; "-" when the search finds nothing.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/utf.h"

int main(int argc, char** argv) {
  const std::vector<std::u16string> args = plat::program_arguments(argc, argv);
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: list_patterns DIR < patterns\n");
    return 2;
  }
  const auto dir = plat::full_path(args[1], 32768);
  if (!dir) {
    std::fprintf(stderr, "list_patterns: no full path for the directory\n");
    return 2;
  }
  std::u16string prefix = *dir;
  if (prefix.empty() || !plat::is_separator(prefix.back())) prefix += plat::separator();

  std::string line;
  for (int c; (c = std::fgetc(stdin)) != EOF;) {
    if (c != '\n') {
      line += static_cast<char>(c);
      continue;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::u16string pattern = plat::utf8_to_utf16_escaped(line);
    std::vector<std::u16string> names;
    plat::DirSearch search;
    plat::FindData entry;
    if (search.start(prefix + pattern, entry, false)) {
      do {
        names.push_back(entry.name);
        if (entry.attributes & plat::kAttrDirectory) names.back() += u'/';
      } while (search.next(entry));
    }
    std::sort(names.begin(), names.end());
    std::string out = "[" + line + "] ";
    if (names.empty()) out += "-";
    for (size_t i = 0; i < names.size(); ++i) {
      if (i > 0) out += " | ";
      out += plat::utf16_to_utf8_escaped(names[i]);
    }
    out += '\n';
    std::fwrite(out.data(), 1, out.size(), stdout);
    line.clear();
  }
  return 0;
}
