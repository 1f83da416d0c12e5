#include "framework/environment.h"

#include <algorithm>
#include <cstring>

#include "framework/settings.h"
#include "framework/text.h"
#include "platform/platform.h"

char g_zone_abbrev[10] = "";
const char* const blank_text =
    "                                                                                                    "
    "                                                                                                   ";

namespace {
constexpr size_t kZoneAbbrevMax = 3;
}  // namespace

void init_environment() {
  plat::use_ansi_file_names();
  g_options.zulu = 0;
  g_options.time_kind = 'w';
  if (env_switch_on("RESET")) g_options.reset_access = 1;
  g_options.show_time = 1;
  g_options.quiet = 1;
  g_options.width = 50;
  if (env_switch_on("SILENT")) g_options.quiet = 0;
  zone_abbreviation();
}

int env_switch_on(const char* name) {
  auto value = plat::get_env(name);
  if (!value) return 0;
  // Later readers of the variable see the upper-cased value too.
  std::u16string upper = upper_ascii(*value);
  plat::set_env(name, upper);
  return contains(upper, u"ON") ? 1 : 0;
}

// Not the run header's rule, on purpose: a listing column takes initials, never empty ("TZ0").
std::string zone_abbreviation_of(const std::string& name) {
  if (name.empty()) return "TZ0";
  std::string abbrev;
  if (name.find(' ') == std::string::npos) {
    abbrev = name.substr(0, kZoneAbbrevMax);
  } else {
    abbrev.push_back(name[0]);
    for (size_t i = 0; i + 1 < name.size() && abbrev.size() < kZoneAbbrevMax; ++i)
      if (name[i] == ' ') abbrev.push_back(name[i + 1]);
  }
  abbrev = upper_ascii(abbrev);
  return abbrev.empty() ? "TZ0" : abbrev;
}

const char* zone_abbreviation() {
  std::string abbrev = zone_abbreviation_of(plat::refresh_zone().standard_name);
  const size_t n = std::min(abbrev.size(), sizeof g_zone_abbrev - 1);
  std::memcpy(g_zone_abbrev, abbrev.data(), n);
  g_zone_abbrev[n] = '\0';
  return g_zone_abbrev;
}

void reset_environment() { g_zone_abbrev[0] = '\0'; }
