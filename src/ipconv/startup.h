// Start-up layers: framework defaults, this program's defaults, and the
// settings derived after parsing.
#pragma once

#include <string>

extern char g_zone_abbrev[10];
extern const char* const blank_text;  // 199 blanks

void init_environment();
int env_switch_on(const char* name);
const char* zone_abbreviation();
// The abbreviation rule on its own, for a given standard zone name.
std::string zone_abbreviation_of(const std::string& name);
void init_program_defaults();
void settle_settings();
