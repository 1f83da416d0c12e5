// The run sequence: start-up, the counting pass and the conversion pass.
#pragma once

#include <string>
#include <vector>

#include "framework/exit_status.h"

extern std::u16string dirfullpath;

exit_status run_program(const std::vector<std::u16string>& args);
// Writes "Insufficient memory" to standard error; the status to end with.
exit_status report_insufficient_memory();
void init_buffers();
int volume_type();
const char* format_thousands();
void on_interrupt(int signal);

void reset_run_state();
