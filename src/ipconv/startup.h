// This program's start-up layers: its defaults over the framework's, and
// the settings derived after parsing.
#pragma once

void init_program_defaults();
void settle_settings();
