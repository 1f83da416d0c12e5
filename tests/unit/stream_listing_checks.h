// The listing settings and column texts both stream-listing tests start from.
#pragma once

#include <cstring>
#include <string>

#include "framework/environment.h"
#include "framework/settings.h"

namespace stream_listing_checks {

inline std::string blanks(size_t n) { return std::string(n, ' '); }

// The size column of a 26-byte stream.
inline const std::string kSize26 = " " + blanks(18) + "26";

// This program's listing defaults.
inline void listing_defaults() {
  g_options.width = 40;
  g_options.name_width = 50;
  g_options.show_time = 1;
  g_options.time_kind = 'w';
  delim_char = ' ';
  std::strcpy(g_zone_abbrev, "EST");
}

}  // namespace stream_listing_checks
