// The output stream and the run header.
#pragma once

#include <string>
#include <vector>

void open_output();
void print_run_header(const std::vector<std::u16string>& args);
