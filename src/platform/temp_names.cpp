// The names of our own temporary files, the same on every platform.
#include "platform/platform.h"

namespace plat {

std::optional<uint64_t> temp_name_owner(const std::u16string& name) {
  const std::u16string marker(kTempMarker);
  const size_t at = name.rfind(marker);
  if (at == std::u16string::npos) return std::nullopt;
  // "PID-N": two runs of decimal digits and nothing after them.
  size_t p = at + marker.size();
  uint64_t pid = 0;
  size_t digits = 0;
  for (; p < name.size() && name[p] >= u'0' && name[p] <= u'9' && digits < 19; ++p, ++digits)
    pid = pid * 10 + (name[p] - u'0');
  if (digits == 0 || p >= name.size() || name[p] != u'-') return std::nullopt;
  const size_t counter = ++p;
  while (p < name.size() && name[p] >= u'0' && name[p] <= u'9') ++p;
  if (p == counter || p != name.size()) return std::nullopt;
  return pid;
}

}  // namespace plat
