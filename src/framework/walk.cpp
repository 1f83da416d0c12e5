#include "framework/walk.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <vector>

#include "framework/paths.h"
#include "framework/search_lists.h"
#include "framework/settings.h"
#include "framework/stream_listing.h"
#include "framework/streams.h"
#include "framework/text.h"
#include "framework/wild_match.h"

int g_counting = 1;
int32_t g_files_counted = 0;
int64_t g_bytes_counted = 0;
uint32_t g_max_path_len = 0;
int g_volume_type = 0;
int32_t g_lines_listed = 0;
std::u16string g_searchstr;
std::u16string g_patternstr;
std::u16string g_streampath;
int g_walk_status = 0;
int64_t g_run_started = 0;
std::vector<bool> g_type_matched;
file_hook g_file_hook = nullptr;
settle_hook g_settle_hook = nullptr;

void settle_handed_over() {
  if (g_settle_hook != nullptr) g_settle_hook();
}

namespace {

// Directories already named as unsearchable, and leftovers already noted:
// each is named once, however many patterns meet it.
std::vector<std::u16string> g_unsearchable;
std::set<std::u16string> g_leftovers_noted;

// The files this run writes (output file, accounting file): never inputs.
std::vector<plat::FileIdentity> g_run_files;

// Directories on the walk's current path: a link back to one of them would
// otherwise make the walk go round for ever.
std::vector<plat::FileIdentity> g_walk_path;

constexpr int kProgressDirUnits = 60;

bool is_dot_name(const std::u16string& name) { return name == u"." || name == u".."; }

bool is_dir(const plat::FindData& e) { return (e.attributes & plat::kAttrDirectory) != 0; }

void list_streams_of(const std::u16string& path) {
  g_streampath = path;
  const int count = read_streams(g_streampath);
  if (count <= 0) return;
  settle_handed_over();
  list_streams(g_streampath, count, g_lines_listed);
}

std::string shown(const std::u16string& path) { return plat::to_native(without_long_prefix(path)); }

void hand_over(const std::u16string* name, const std::u16string& directory) {
  if (g_file_hook != nullptr) g_file_hook(name, directory);
}

bool is_unsearchable(const std::u16string& directory) {
  for (const auto& d : g_unsearchable)
    if (plat::same_dir_name(d, directory)) return true;
  return false;
}

// Called right after the failed search, whose reason is still at hand.
void note_unsearchable(const std::u16string& directory) {
  if (g_counting != 0 || is_unsearchable(directory)) return;
  const std::string reason = plat::last_error_text();
  g_unsearchable.push_back(directory);
  // Named without its trailing separator, unless it is a root.
  std::u16string name = without_long_prefix(directory);
  if (name.size() > 1 && plat::is_separator(name.back()) && name[name.size() - 2] != u':')
    name.pop_back();
  settle_handed_over();
  std::fprintf(stderr, "\nCan't search directory %s: %s\n", plat::to_native(name).c_str(),
               reason.c_str());
  g_walk_status = 2;
}

uint64_t stamp_of_seconds(int64_t seconds) {
  return static_cast<uint64_t>(seconds + plat::kEpochDelta) * plat::kStampsPerSecond;
}

// Whether the process `owner` may be writing a temporary last written at
// `written`: it runs, and did not start after that write (its number then
// belongs to another process than the one that wrote it). A start within a
// second of the write counts as before it: the clocks compared are not
// finer than that.
bool owner_may_write(uint64_t owner, uint64_t written) {
  if (!plat::process_running(owner)) return false;
  const auto started = plat::process_started(owner);
  return !started || written == 0 || *started <= written + plat::kStampsPerSecond;
}

// One of our own temporary files. Converting it would turn part of an
// output into a .IP of its own, so it is never handed over. One whose owner
// may still be writing it is named and left alone. A leftover is removed
// only when it is proven stale: its writer gone and last written before
// this run began; otherwise it is named and left. One that has gone since
// the listing needs no word.
void pass_over_temporary(const std::u16string& directory, const std::u16string& name,
                         uint64_t owner) {
  if (g_counting != 0) return;
  const std::u16string path = directory + name;
  if (g_leftovers_noted.count(path) != 0) return;
  const auto stamps = plat::object_stamps(path);
  if (!stamps && !plat::exists(path)) return;
  g_leftovers_noted.insert(path);
  const uint64_t written = stamps ? stamps->last_write : 0;
  if (owner_may_write(owner, written)) {
    settle_handed_over();
    std::fprintf(stderr, "\nPassed over temporary file %s: another ipconv may be writing it\n",
                 shown(path).c_str());
    return;
  }
  const bool removed = g_run_started > 0 && written != 0 &&
                       written < stamp_of_seconds(g_run_started) && plat::remove_file(path);
  settle_handed_over();
  std::fprintf(stderr,
               removed ? "\nRemoved leftover temporary file %s\n"
                       : "\nPassed over leftover temporary file %s\n",
               shown(path).c_str());
}

bool is_run_file(const std::u16string& directory, const std::u16string& name) {
  if (g_run_files.empty()) return false;
  const auto identity = plat::file_identity(directory + name);
  return identity &&
         std::find(g_run_files.begin(), g_run_files.end(), *identity) != g_run_files.end();
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
  const auto identity = plat::file_identity(directory);
  if (identity &&
      std::find(g_walk_path.begin(), g_walk_path.end(), *identity) != g_walk_path.end())
    return;
  g_searchstr = directory + u"*.*";
  {
    // Held while the walk descends: only the directories are kept.
    plat::DirSearch search;
    search.directories_only();
    plat::FindData entry;
    if (!search.start(g_searchstr, entry, /*details=*/false)) {
      if (search.unreadable()) note_unsearchable(directory);
      return;
    }
    if (identity) g_walk_path.push_back(*identity);

    if (g_volume_type == 2 && g_counting == 0 && g_options.streams != 0 && entry.name == u".") {
      std::u16string own = directory;
      if (!own.empty() && plat::is_separator(own.back())) own.pop_back();
      list_streams_of(own);
    }

    if (g_options.recurse != 0) {
      do {
        // Only what lies in the tree given: a link leads out of it.
        if (!is_dir(entry) || is_dot_name(entry.name) || entry.link) continue;
        std::u16string sub = directory + entry.name + plat::separator();
        if (plat::path_too_long(sub)) {
          settle_handed_over();
          std::fprintf(stderr, "\nPath too long, not searched: %s\n",
                       plat::to_native(without_long_prefix(sub)).c_str());
          continue;
        }
        if (g_options.dir_mode != 0) hand_over(nullptr, sub);
        walk_dir(sub);
      } while (search.next(entry));
    }
  }

  int count_chars = 0;
  int dir_chars = 0;
  if (g_options.output != 0) settle_handed_over();
  if (progress_count_shown())
    count_chars = std::fprintf(stderr, " %6ld ", static_cast<long>(g_lines_listed));
  if (g_options.output != 0) {
    const std::u16string part = without_long_prefix(directory).substr(0, kProgressDirUnits);
    plat::write_text(stderr, part);
    std::fputc(' ', stderr);
    dir_chars = static_cast<int>(part.size()) + 1;
  }
  scan_dir_files(directory);
  if (g_options.output != 0) settle_handed_over();
  if (g_options.output != 0) erase_console(dir_chars);
  if (progress_count_shown()) erase_console(count_chars);

  if (identity) g_walk_path.pop_back();
}

void scan_dir_files(const std::u16string& directory) {
  if (g_type_matched.size() < type_list.size()) g_type_matched.resize(type_list.size());
  for (size_t index = 0; index < type_list.size(); ++index) {
    const std::u16string& pattern = type_list[index];
    if (pattern.empty() || pattern[0] == u'-') break;
    // What was handed over from an earlier pattern may add to the listing.
    if (index > 0 && g_counting == 0) settle_handed_over();
    g_patternstr = directory + pattern;
    plat::DirSearch search;
    plat::FindData entry;
    if (!search.start(g_patternstr, entry, /*details=*/g_counting != 0)) {
      if (!search.unreadable()) continue;
      note_unsearchable(directory);  // every other pattern would fail the same way
      break;
    }
    do {
      // A key press holds the walk until the user answers it.
      if (plat::key_waiting()) std::getchar();
      const bool directory_entry = is_dir(entry);
      if (directory_entry && g_volume_type == 2 && g_counting == 0 && g_options.streams != 0 &&
          g_options.recurse == 0 && !is_dot_name(entry.name))
        list_streams_of(directory + entry.name);
      if (directory_entry) continue;
      // Found, even if passed over below: the argument named something.
      g_type_matched[index] = true;
      if (const auto owner = plat::temp_name_owner(entry.name)) {
        pass_over_temporary(directory, entry.name, *owner);
        continue;
      }
      if (is_run_file(directory, entry.name)) continue;
      if (g_counting != 0) {
        ++g_files_counted;
        g_bytes_counted += static_cast<int64_t>(entry.size);
        const size_t length = directory.size() + entry.name.size();
        if (g_options.auto_width != 0 && length > g_max_path_len)
          g_max_path_len = static_cast<uint32_t>(length);
        continue;
      }
      if (g_options.exclude != 0 && is_excluded(entry.name) == 1) continue;
      hand_over(&entry.name, directory);
    } while (search.next(entry));
  }
}

void report_unmatched_arguments() {
  // Patterns past the end of the list were never searched.
  size_t searched = 0;
  while (searched < type_list.size() && !type_list[searched].empty() &&
         type_list[searched][0] != u'-')
    ++searched;
  for (const auto& argument : file_arguments) {
    // Already named, with the reason it could not be searched.
    if (is_unsearchable(argument.directory)) continue;
    const std::string text = plat::to_native(argument.text);
    if (argument.pattern.empty()) {
      if (plat::is_directory(argument.directory)) continue;
      std::fprintf(stderr, "\nNo such directory: %s\n", text.c_str());
      g_walk_status = 2;
      continue;
    }
    const auto end = type_list.begin() + static_cast<std::ptrdiff_t>(searched);
    const auto at = std::find(type_list.begin(), end, argument.pattern);
    if (at == end) continue;
    const bool wildcards = argument.pattern.find_first_of(u"*?") != std::u16string::npos;
    // What no walk lists, but was named.
    if (!wildcards &&
        plat::kind_of(argument.directory + argument.pattern) == plat::path_kind::other) {
      std::fprintf(stderr, "\nSkipped %s: not a regular file\n", text.c_str());
      g_walk_status = 2;
      continue;
    }
    const size_t index = static_cast<size_t>(at - type_list.begin());
    if (index < g_type_matched.size() && g_type_matched[index]) continue;
    if (wildcards) {
      // A pattern that matches nothing is no error: the run converted nothing.
      std::fprintf(stderr, "\nNo file matches %s\n", text.c_str());
    } else {
      std::fprintf(stderr, "\nNo such file: %s\n", text.c_str());
      g_walk_status = 2;
    }
  }
}

void note_run_file(FILE* stream) {
  if (const auto identity = plat::stream_identity(stream)) g_run_files.push_back(*identity);
}

int is_excluded(const std::u16string& name) {
  const std::u16string upper = upper_ascii(name);
  for (const auto& pattern : exclude_list)
    if (wild_match(pattern, upper) == 0) return 1;
  return 0;
}

int find_by_wildcard(plat::FindData& data, const std::u16string& path,
                     const std::u16string& wanted) {
  std::u16string rewritten = path;
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
  g_walk_status = 0;
  g_run_started = 0;
  g_type_matched.clear();
  g_file_hook = nullptr;
  g_settle_hook = nullptr;
  g_unsearchable.clear();
  g_leftovers_noted.clear();
  g_run_files.clear();
}
