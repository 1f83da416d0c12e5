#include "framework/file_times.h"

int convert_file_times(file_times&, int, const plat::FindData&) { return 1; }
int get_file_times(file_times&, int, const std::u16string&) { return 1; }
