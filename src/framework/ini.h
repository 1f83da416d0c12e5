// The INI file: the program's own, or its section of VELDORAN.INI.
#pragma once

#include <string>
#include <vector>

#include "framework/settings.h"

void read_ini_file(const std::vector<std::u16string>& args, option_rec& options);
