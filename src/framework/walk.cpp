#include "framework/walk.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "framework/search_lists.h"
#include "framework/settings.h"
#include "framework/stream_listing.h"
#include "framework/streams.h"
#include "framework/text.h"
#include "framework/wild_match.h"
#include "ipconv/convert.h"

int g_counting = 1;
int32_t g_files_counted = 0;
int64_t g_bytes_counted = 0;
uint32_t g_max_path_len = 0;
int g_volume_type = 0;
int32_t g_lines_listed = 0;
std::u16string g_searchstr;
std::u16string g_patternstr;
std::u16string g_streampath;

namespace {

// Directories on the walk's current path: a link back to one of them would
// otherwise make the walk go round for ever.
std::vector<plat::DirIdentity> g_walk_path;

constexpr int kProgressDirUnits = 60;

bool is_dot_name(const std::u16string& name) { return name == u"." || name == u".."; }

bool is_dir(const plat::FindData& e) { return (e.attributes & plat::kAttrDirectory) != 0; }

void list_streams_of(const std::u16string& path) {
  g_streampath = path;
  const int count = read_streams();
  if (count > 0) list_streams(count);
}

bool progress_count_shown() {
  return g_options.immediate == 0 && g_options.quiet == 0 && g_options.output != 0 &&
         g_counting == 0;
}

}  // namespace

void erase_console(int count) {
  if (count <= 0) return;
  std::string text(static_cast<size_t>(count), '\b');
  text.append(static_cast<size_t>(count), ' ');
  text.append(static_cast<size_t>(count), '\b');
  std::fwrite(text.data(), 1, text.size(), stderr);
}

void walk_dir(const std::u16string& directory) {
  const auto identity = plat::dir_identity(directory);
  if (identity &&
      std::find(g_walk_path.begin(), g_walk_path.end(), *identity) != g_walk_path.end())
    return;
  g_searchstr = directory + u"*.*";
  {
    // Held while the walk descends: only the directories are kept.
    plat::DirSearch search;
    search.directories_only();
    plat::FindData entry;
    if (!search.start(g_searchstr, entry, /*details=*/false)) return;
    if (identity) g_walk_path.push_back(*identity);

    if (g_volume_type == 2 && g_counting == 0 && g_options.streams != 0 && entry.name == u".") {
      std::u16string own = directory;
      if (!own.empty() && plat::is_separator(own.back())) own.pop_back();
      list_streams_of(own);
    }

    if (g_options.recurse != 0) {
      do {
        if (!is_dir(entry) || is_dot_name(entry.name)) continue;
        std::u16string sub = directory + entry.name + plat::separator();
        if (plat::path_too_long(sub)) {
          std::fprintf(stderr, "\nPath too long, not searched: %s\n",
                       plat::to_native(sub.substr(plat::long_path_prefix().size())).c_str());
          continue;
        }
        if (g_options.dir_mode != 0) process_file(nullptr, sub);
        walk_dir(sub);
      } while (search.next(entry));
    }
  }

  int count_chars = 0;
  int dir_chars = 0;
  if (progress_count_shown())
    count_chars = std::fprintf(stderr, " %6ld ", static_cast<long>(g_lines_listed));
  if (g_options.output != 0) {
    const std::u16string shown =
        directory.substr(std::min(directory.size(), plat::long_path_prefix().size()));
    const std::u16string part = shown.substr(0, kProgressDirUnits);
    plat::write_text(stderr, part);
    std::fputc(' ', stderr);
    dir_chars = static_cast<int>(part.size()) + 1;
  }
  scan_dir_files(directory);
  if (g_options.output != 0) erase_console(dir_chars);
  if (progress_count_shown()) erase_console(count_chars);

  if (identity) g_walk_path.pop_back();
}

void scan_dir_files(const std::u16string& directory) {
  for (const auto& pattern : type_list) {
    if (pattern.empty() || pattern[0] == u'-') break;
    g_patternstr = directory + pattern;
    plat::DirSearch search;
    plat::FindData entry;
    if (!search.start(g_patternstr, entry, /*details=*/g_counting != 0)) continue;
    do {
      // A key press holds the walk until the user answers it.
      if (plat::key_waiting()) std::getchar();
      const bool directory_entry = is_dir(entry);
      if (directory_entry && g_volume_type == 2 && g_counting == 0 && g_options.streams != 0 &&
          g_options.recurse == 0 && !is_dot_name(entry.name))
        list_streams_of(directory + entry.name);
      if (directory_entry) continue;
      if (g_counting != 0) {
        ++g_files_counted;
        g_bytes_counted += static_cast<int64_t>(entry.size);
        const size_t length = directory.size() + entry.name.size();
        if (g_options.auto_width != 0 && length > g_max_path_len)
          g_max_path_len = static_cast<uint32_t>(length);
        continue;
      }
      if (g_options.exclude != 0 && is_excluded(entry.name) == 1) continue;
      process_file(&entry.name, directory);
    } while (search.next(entry));
  }
}

int is_excluded(const std::u16string& name) {
  const std::u16string upper = upper_ascii(name);
  for (const auto& pattern : exclude_list)
    if (wild_match(pattern, upper) == 0) return 1;
  return 0;
}

int find_by_wildcard(plat::FindData& data, const std::u16string& wanted) {
  std::u16string rewritten = pg_complete_path;
  for (auto& unit : rewritten)
    if (unit > 0x80) unit = u'?';
  plat::DirSearch search;
  if (!search.start(rewritten, data)) return 1;
  do {
    if (data.name == wanted) return 0;
  } while (search.next(data));
  return 1;
}

void reset_walk_state() {
  g_counting = 1;
  g_files_counted = 0;
  g_bytes_counted = 0;
  g_max_path_len = 0;
  g_volume_type = 0;
  g_lines_listed = 0;
  g_searchstr.clear();
  g_patternstr.clear();
  g_streampath.clear();
  g_walk_path.clear();
}
