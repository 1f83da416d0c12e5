// This program's start-up layers: its defaults over the framework's, and
// the settings derived after parsing.
#pragma once

void init_program_defaults();
void settle_settings();
// How many threads convert: --JOBS=N, else IPCONV_JOBS=N from the
// environment (a value that is no such number is named on standard error
// and passed over), else one a processor, at most 8.
void choose_job_threads();
