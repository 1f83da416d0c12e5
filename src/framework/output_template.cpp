#include "framework/output_template.h"

bool has_output_template(std::u16string_view) { return false; }
void expand_output_template() {}
