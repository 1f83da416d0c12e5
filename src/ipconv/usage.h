// The short usage text and the long help text.
#pragma once

void show_usage();
void show_help();
// "ipconv VERSION" and a line end on standard output.
void show_version();
