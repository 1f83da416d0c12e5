// Texts the program supplies to the framework: the options print them, the
// program defines them (its usage, help and version).
#pragma once

void show_usage();
void show_help();
// --help: the usage and help texts, then every option, the exit statuses
// and where the manual is, all on standard output.
void show_help_page();
// The program's name, its version and a line end on standard output.
void show_version();
