// --NAME[=value] options.
#pragma once

#include <string>

#include "framework/settings.h"

// 0 when applied or ignored, 1 when illegal.
int parse_long_option(const std::u16string& text, option_rec& options);
