#include "ipconv/file_notes.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "framework/paths.h"
#include "framework/text.h"
#include "ipconv/convert.h"
#include "platform/platform.h"

namespace {

std::string shown(const std::u16string& path) {
  return plat::to_native(without_long_prefix(path));
}

// The outputs written in one directory, kept in 8 bytes an output (a
// directory of a million files costs less than its listing): an
// open-addressed table keyed by the output's name, which is the input's
// name up to its last dot, holding the extension of the input that wrote
// it. The key is 48 bits of a hash of the name; where two names share
// one, the earlier input is looked for on disk before it is named.
class DirectoryOutputs {
 public:
  // The extension (with its dot; empty for a name without one) of the
  // input that wrote the output of `stem` before, when another input did;
  // nullopt otherwise. `extension` is the writer from now on.
  std::optional<std::u16string> replaced(const std::u16string& directory,
                                         std::u16string_view stem,
                                         std::u16string_view extension) {
    if (directory != directory_ || slots_.empty()) start(directory);
    const auto number = extension_number(extension);
    if (!number) return std::nullopt;  // no room left to tell extensions apart
    if (8 * (used_ + 1) > 7 * slots_.size()) grow();
    const uint64_t key = (hash_of(stem) & ~kNumberMask) | uint64_t{1} << 63;  // never 0
    const size_t mask = slots_.size() - 1;
    for (size_t at = home(key, mask);; at = (at + 1) & mask) {
      uint64_t& slot = slots_[at];
      if (slot == 0) {
        slot = key | *number;
        ++used_;
        return std::nullopt;
      }
      if ((slot & ~kNumberMask) != key) continue;
      const uint16_t earlier = static_cast<uint16_t>(slot & kNumberMask);
      if (earlier == *number) return std::nullopt;  // the same input again
      slot = key | *number;
      return extensions_[earlier];
    }
  }

 private:
  static constexpr uint64_t kNumberMask = 0xFFFF;

  // Where a key is looked for first: bits the key keeps of its hash.
  static size_t home(uint64_t key, size_t mask) { return static_cast<size_t>(key >> 16) & mask; }

  // Names that differ only in case are one name where the platform ignores
  // case: their ASCII letters are hashed alike.
  static uint64_t hash_of(std::u16string_view stem) {
    const bool fold = !plat::names_keep_case();
    uint64_t h = 14695981039346656037ull;
    for (char16_t c : stem) {
      if (fold) c = upper_ascii(c);
      h = (h ^ c) * 1099511628211ull;
    }
    // Every bit of the hash depends on every unit of the name.
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    return h ^ (h >> 33);
  }

  std::optional<uint16_t> extension_number(std::u16string_view extension) {
    const std::u16string text(extension);
    const auto known = numbers_.find(text);
    if (known != numbers_.end()) return known->second;
    if (extensions_.size() > kNumberMask) return std::nullopt;
    const auto number = static_cast<uint16_t>(extensions_.size());
    extensions_.push_back(text);
    numbers_.emplace(text, number);
    return number;
  }

  void start(const std::u16string& directory) {
    directory_ = directory;
    std::vector<uint64_t>(kFirstSlots, 0).swap(slots_);
    used_ = 0;
    extensions_.clear();
    numbers_.clear();
  }

  void grow() {
    std::vector<uint64_t> slots(slots_.size() * 2, 0);
    const size_t mask = slots.size() - 1;
    for (const uint64_t slot : slots_) {
      if (slot == 0) continue;
      size_t at = home(slot, mask);
      while (slots[at] != 0) at = (at + 1) & mask;
      slots[at] = slot;
    }
    slots_.swap(slots);
  }

  static constexpr size_t kFirstSlots = 64;
  std::u16string directory_;
  // Made for the first directory: nothing is allocated before the program
  // starts, where memory that cannot be had could not be told.
  std::vector<uint64_t> slots_;
  size_t used_ = 0;
  std::vector<std::u16string> extensions_;
  std::unordered_map<std::u16string, uint16_t> numbers_;
};

DirectoryOutputs g_outputs;

}  // namespace

void note_output_written(const std::u16string& input, const std::u16string& output) {
  const size_t cut = name_start(input);
  const std::u16string_view name = std::u16string_view(input).substr(cut);
  const size_t dot = name.rfind(u'.');
  const std::u16string_view stem = name.substr(0, dot == std::u16string_view::npos ? name.size() : dot);
  const std::u16string directory = input.substr(0, cut);
  const auto extension = g_outputs.replaced(directory, stem, name.substr(stem.size()));
  if (!extension) return;
  const std::u16string earlier = directory + std::u16string(stem) + *extension;
  if (!plat::exists(earlier)) return;  // two names of one hash, not one output
  std::fprintf(stderr, "\nNote: %s from %s replaces the one written from %s in this run\n",
               shown(output).c_str(), shown(input).c_str(), shown(earlier).c_str());
}

bool names_special_file(const std::u16string& path) {
  return plat::kind_of(path) == plat::path_kind::other;
}

void report_not_regular(const std::u16string& path) {
  std::fprintf(stderr, "\nSkipped %s: not a regular file\n", shown(path).c_str());
  if (g_conversion_status < 2) g_conversion_status = 2;
}

void reset_file_notes() { g_outputs = DirectoryOutputs(); }
