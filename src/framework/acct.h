// The accounting file, its directories and repair, the memo entry and the
// file-choice dialog.
#pragma once

#include <cstdio>
#include <string>

FILE* open_acct_file(const std::u16string& path);
void make_log_dirs(const std::u16string& path);
void trim_file_end(const std::u16string& path);
void memo_entry();
// Empty when the dialog was cancelled or there is none.
std::u16string pick_output_file();
