// The directories to walk and the file-name patterns looked for in each.
#pragma once

#include <string>
#include <vector>

inline constexpr size_t kListSlots = 80;  // with the closing empty slot

// Each entry: the long-path prefix + a full path without trailing separator.
extern std::vector<std::u16string> search_dirs;
// Patterns as given; every pattern is searched in every directory.
extern std::vector<std::u16string> type_list;

// What one file argument of the command line added, so that an argument
// that found nothing can be named after the walk.
struct FileArgument {
  std::u16string text;       // as the user typed it
  std::u16string directory;  // the directory it names or lies in: prefix,
                             // full path, trailing separator
  std::u16string pattern;    // empty when the argument names a directory
};
extern std::vector<FileArgument> file_arguments;
// The leading file arguments of the command line, "-" among them; "-"
// stands for standard input, which is converted once however often it is
// named.
extern size_t file_argument_count;
extern bool standard_input_named;
inline constexpr char16_t kStandardInputArg[] = u"-";

void add_search_arg(const std::u16string& text);
void add_search_dir(const std::u16string& text);
void add_file_type(const std::u16string& text);

void reset_search_lists();
