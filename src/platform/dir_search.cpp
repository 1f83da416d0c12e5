// The parts of a directory listing that are the same on every platform:
// the order of "." and "..", and the storage once the listing is taken.
#include "platform/platform.h"

namespace plat {

int DirSearch::dot_rank(const Listed& listed) const {
  const bool dot = listed.name_units <= 2 &&
                   name_of(listed) == std::u16string_view(u"..", listed.name_units);
  return dot ? listed.name_units : 3;
}

void DirSearch::compact_names() {
  std::u16string compact;
  for (Listed& listed : found_) {
    const std::u16string_view own = name_of(listed);
    listed.name_at = static_cast<uint32_t>(compact.size());
    compact.append(own);
  }
  names_.swap(compact);
  found_.shrink_to_fit();
}

bool DirSearch::hand_out_first(FindData& first) {
  if (!next(first)) {
    close();
    return false;
  }
  return true;
}

}  // namespace plat
