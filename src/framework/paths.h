// Paths as the walk holds them: the long-path form and the name at the end.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

// The path as messages show it, without the long-path prefix. A path
// shorter than the prefix is shown as it is.
inline std::u16string without_long_prefix(const std::u16string& path) {
  const size_t prefix = plat::long_path_prefix().size();
  return path.size() >= prefix ? path.substr(prefix) : path;
}

// Where the last name of `path` begins: just after its last separator,
// or 0 when it has none.
inline size_t name_start(std::u16string_view path) {
  for (size_t i = path.size(); i > 0; --i)
    if (plat::is_separator(path[i - 1])) return i;
  return 0;
}

struct split_path {
  std::u16string dir;   // up to and with the last separator; may be empty
  std::u16string name;  // the rest
};

inline split_path split_at_last_separator(std::u16string_view path) {
  const size_t cut = name_start(path);
  return {std::u16string(path.substr(0, cut)), std::u16string(path.substr(cut))};
}
