#include "framework/search_lists.h"

#include <cstdio>

#include "framework/paths.h"
#include "framework/settings.h"
#include "platform/platform.h"

std::vector<std::u16string> search_dirs;
std::vector<std::u16string> type_list;
std::vector<FileArgument> file_arguments;
size_t file_argument_count = 0;
bool standard_input_named = false;

namespace {
// The lists keep their closing empty slot, so 79 entries fit.
bool has_room(const std::vector<std::u16string>& list, const char* what) {
  if (list.size() + 1 < kListSlots) return true;
  std::fprintf(stderr, "\nToo many %s (at most %zu); the rest are ignored\n", what,
               kListSlots - 1);
  return false;
}
}  // namespace

void add_search_arg(const std::u16string& text) {
  auto full = plat::argument_full_path(text, kMaxPathUnits);
  if (!full) return;
  if (plat::is_directory(*full) && full->find(u'*') == std::u16string::npos) {
    add_search_dir(*full);
    return;
  }
  const auto [directory, file_name] = split_at_last_separator(*full);
  add_search_dir(directory);
  // The name part is what precedes the extension (the last dot on): a
  // file argument such as ".txt" has an empty name part and adds no pattern.
  const size_t dot = file_name.rfind(u'.');
  const size_t name_part = dot == std::u16string::npos ? file_name.size() : dot;
  if (name_part > 0) add_file_type(file_name);

  for (const auto& argument : file_arguments)
    if (argument.text == text) return;
  file_arguments.push_back(
      {text, plat::long_path_prefix() + directory, name_part > 0 ? file_name : u""});
}

void add_search_dir(const std::u16string& text) {
  auto full = plat::full_path(text, kMaxPathUnits);
  if (!full) return;
  if (!full->empty() && plat::is_separator(full->back())) full->pop_back();
  const std::u16string stored = plat::long_path_prefix() + *full;
  for (const auto& entry : search_dirs)
    if (plat::same_dir_name(entry, stored)) return;
  if (!has_room(search_dirs, "search directories")) return;
  search_dirs.push_back(stored);
}

void add_file_type(const std::u16string& text) {
  // An empty pattern would end the list early and hide the "*.*" default.
  if (text.empty()) return;
  for (const auto& entry : type_list)
    if (entry == text) return;
  if (!has_room(type_list, "file types")) return;
  type_list.push_back(text);
}

void reset_search_lists() {
  search_dirs.clear();
  type_list.clear();
  file_arguments.clear();
  file_argument_count = 0;
  standard_input_named = false;
}
