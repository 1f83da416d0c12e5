// Directory listing on Win32: one find handle read whole, then put in the
// order NTFS lists names.

#include "platform/win32_internal.h"

#include <algorithm>
#include <vector>

namespace plat {

namespace {

// Upper case as NTFS orders names; the same length as `name`.
std::u16string upper_key(std::u16string_view name) {
  std::u16string key(name);
  if (!key.empty()) {
    LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE,
                  reinterpret_cast<const wchar_t*>(name.data()), static_cast<int>(name.size()),
                  reinterpret_cast<wchar_t*>(key.data()), static_cast<int>(key.size()), nullptr,
                  nullptr, 0);
  }
  return key;
}

// A reparse point that stands for another name: a junction or a
// symbolic link, which a walk does not go through. Other reparse points
// (placeholders of cloud files, deduplicated files) are the entry itself.
bool names_elsewhere(const WIN32_FIND_DATAW& w) {
  return (w.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
         IsReparseTagNameSurrogate(w.dwReserved0);
}

uint64_t size_of(const WIN32_FIND_DATAW& w) {
  return (static_cast<uint64_t>(w.nFileSizeHigh) << 32) | w.nFileSizeLow;
}

// Everything but a missing directory or an empty match means the
// directory is there and refused us (ERROR_ACCESS_DENIED and the like).
bool refused(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: case ERROR_NO_MORE_FILES:
    case ERROR_INVALID_NAME: case ERROR_DIRECTORY: case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE: case ERROR_NOT_READY: case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return false;
    default:
      return true;
  }
}

}  // namespace

// Entries come "." and ".." first, then in the order of their upper-cased
// names, as NTFS lists them, so that a run over a FAT volume (or under
// another system's file system) is the same.
bool DirSearch::start(const std::u16string& search_string, FindData& first, bool details) {
  close();
  unreadable_ = false;
  WIN32_FIND_DATAW w;
  HANDLE h = FindFirstFileExW(wide(search_string), FindExInfoBasic, &w, FindExSearchNameMatch,
                              nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (h == INVALID_HANDLE_VALUE) {
    remember_error();
    unreadable_ = refused(g_last_error);
    return false;
  }
  // Upper-cased names at the offsets of names_, and the details in the
  // order found: both only until the listing is sorted.
  std::u16string keys;
  std::vector<Details> found_details;
  // Without files, the one that would come first is still kept unless "."
  // or ".." comes before it.
  std::u16string first_file, first_key;
  Listed first_listed;
  Details first_details;
  bool have_first_file = false;
  bool dot_kept = false;
  bool room = true;
  const auto keep = [&](std::u16string_view name, std::u16string_view key, Listed listed,
                        const Details& more) {
    if (!add_name(name, listed)) return false;
    keys.append(key);
    found_.push_back(listed);
    if (details) found_details.push_back(more);
    return true;
  };
  do {
    const std::u16string_view name(reinterpret_cast<const char16_t*>(w.cFileName),
                                   wcslen(w.cFileName));
    const bool dot = name == u"." || name == u"..";
    const bool only_first =
        directories_only_ && (w.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    if (only_first && dot_kept) continue;
    const std::u16string key = dot ? std::u16string(name) : upper_key(name);
    Listed listed;
    listed.attributes = w.dwFileAttributes;
    listed.link = names_elsewhere(w) ? 1 : 0;
    const Details more{size_of(w), stamp_of(w.ftCreationTime), stamp_of(w.ftLastAccessTime),
                       stamp_of(w.ftLastWriteTime)};
    if (only_first) {
      if (!have_first_file || key < first_key || (key == first_key && name < first_file)) {
        first_file = name;
        first_key = key;
        first_listed = listed;
        first_details = more;
      }
      have_first_file = true;
      continue;
    }
    if (!keep(name, key, listed, more)) {
      room = false;
      break;
    }
    dot_kept = dot_kept || dot;
  } while (FindNextFileW(h, &w));
  FindClose(h);
  if (room && have_first_file && !dot_kept)
    room = keep(first_file, first_key, first_listed, first_details);
  if (!room) {
    // Names past 4 Gi units: rather no listing than one that silently
    // leaves entries out.
    g_last_error = ERROR_NOT_ENOUGH_MEMORY;
    close();
    return false;
  }

  std::vector<uint32_t> order(found_.size());
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    const Listed& la = found_[a];
    const Listed& lb = found_[b];
    const int rank_a = dot_rank(la), rank_b = dot_rank(lb);
    if (rank_a != rank_b) return rank_a < rank_b;
    const std::u16string_view key_a = std::u16string_view(keys).substr(la.name_at, la.name_units);
    const std::u16string_view key_b = std::u16string_view(keys).substr(lb.name_at, lb.name_units);
    if (key_a != key_b) return key_a < key_b;
    return name_of(la) < name_of(lb);
  });
  std::u16string().swap(keys);

  std::vector<Listed> sorted;
  sorted.reserve(order.size());
  if (details) details_.reserve(order.size());
  for (const uint32_t i : order) {
    if (directories_only_ && !sorted.empty() && (found_[i].attributes & kAttrDirectory) == 0)
      continue;
    sorted.push_back(found_[i]);
    if (details) details_.push_back(found_details[i]);
  }
  found_.swap(sorted);
  return hand_out_first(first);
}

}  // namespace plat
