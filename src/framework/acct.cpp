#include "framework/acct.h"

FILE* open_acct_file(const std::u16string&) { return nullptr; }
void make_log_dirs(const std::u16string&) {}
void trim_file_end(const std::u16string&) {}
void memo_entry() {}
std::u16string pick_output_file() { return {}; }
