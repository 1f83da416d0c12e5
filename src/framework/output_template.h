// Date, time and computer-name tokens in output file names.
#pragma once

#include <string_view>

// True when output_path holds a template start the parser expands.
bool has_output_template(std::u16string_view path);
void expand_output_template();
