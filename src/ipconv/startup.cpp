#include "ipconv/startup.h"

#include "framework/settings.h"

char g_zone_abbrev[10] = "";
const char* const blank_text =
    "                                                                                                    "
    "                                                                                                   ";

void init_environment() {
  g_options.zulu = 0;
  g_options.time_kind = 'w';
  g_options.show_time = 1;
  g_options.quiet = 1;
  g_options.width = 50;
}

int env_switch_on(const char*) { return 0; }
const char* zone_abbreviation() { return g_zone_abbrev; }

void init_program_defaults() {
  out_file = stdout;
  g_options.recurse = 1;
  g_options.width = 40;
  g_options.name_width = 50;
  g_options.show_time = 1;
  g_options.streams = 1;
  g_options.pause = 0;
}

void settle_settings() { g_options.immediate = g_options.immediate ? 0 : 1; }
