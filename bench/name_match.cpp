// What one name costs the POSIX listing's pattern matcher at its worst:
// the longest name a file system holds (255 units) against a pattern of
// 255 units that keeps every state alive to the end. Beside them, the
// usual "*.csv" on the same name.
//
//   name_match [repeats]     best of 7 runs of `repeats` matches (2000)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/name_match.h"

namespace {

std::u16string repeated(const std::u16string& part, size_t times) {
  std::u16string out;
  for (size_t i = 0; i < times; ++i) out += part;
  return out;
}

// Nanoseconds a match, best of 7 runs.
double time_match(const std::u16string& pattern, const std::u16string& name, long repeats,
                  bool& selected) {
  const plat::NameMatcher matcher(pattern);
  double best = 1e300;
  for (int run = 0; run < 7; ++run) {
    long hits = 0;
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < repeats; ++i) hits += matcher.matches(name) ? 1 : 0;
    const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count() / static_cast<double>(repeats));
    selected = hits > 0;
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const long repeats = argc > 1 ? std::atol(argv[1]) : 2000;
  const std::u16string name = repeated(u"A", 255);
  const struct {
    const char* shown;
    std::u16string pattern;
    std::u16string name;
  } cases[] = {
      {"\"*?\" x127 + \"*\" (255) vs \"A\" x255", repeated(u"*?", 127) + u"*", name},
      {"\"*A\" x127 + \"B\" (255) vs \"A\" x255", repeated(u"*A", 127) + u"B", name},
      {"\"*.CSV\" vs \"A\" x251 + \".CSV\"", u"*.CSV", repeated(u"A", 251) + u".CSV"},
      {"\"*-2024-?\?-*.CSV\" vs \"ACCESS-2024-01-31.CSV\"", u"*-2024-?\?-*.CSV",
       u"ACCESS-2024-01-31.CSV"},
  };
  for (const auto& c : cases) {
    bool selected = false;
    const double ns = time_match(c.pattern, c.name, repeats, selected);
    std::printf("%-40s %10.0f ns a match (%s)\n", c.shown, ns,
                selected ? "selected" : "not selected");
  }
  return 0;
}
