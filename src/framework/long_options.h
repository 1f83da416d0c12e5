// --NAME[=value] options.
#pragma once

#include <string>

#include "framework/settings.h"

// Applies one long option; `text` is the option without its dashes.
// 0 when applied or ignored (an unknown name is reported and passed over),
// 1 when illegal (a required value missing or empty, or an on/off value
// other than ON and OFF); nothing of an illegal option is set.
int parse_long_option(const std::u16string& text, option_rec& options);
// Whether a row of the table takes `text` (its value is not looked at).
bool long_option_known(const std::u16string& text);
