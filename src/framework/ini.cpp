#include "framework/ini.h"

void read_ini_file(const std::vector<std::u16string>&, option_rec&) {}
