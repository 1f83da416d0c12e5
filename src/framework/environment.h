// What the framework takes from the process environment before anything
// else is set: the RESET and SILENT switches and the zone abbreviation.
#pragma once

#include <string>

// The zone's abbreviation as the listing shows it (at most 3 letters).
extern char g_zone_abbrev[10];
extern const char* const blank_text;  // 199 blanks

// The framework's defaults, then the switches read from the environment.
void init_environment();
// 1 when the variable's upper-cased value contains "ON".
int env_switch_on(const char* name);
// Refreshes g_zone_abbrev from the platform's zone and returns it.
const char* zone_abbreviation();
// The abbreviation rule on its own, for a given standard zone name.
std::string zone_abbreviation_of(const std::string& name);

void reset_environment();
