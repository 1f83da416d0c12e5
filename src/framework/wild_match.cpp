#include "framework/wild_match.h"

namespace {

using It = std::u16string_view::const_iterator;

// Matches one "[...]" set at `p` against `c`. Returns false when the set has
// no closing ']' (such a set matches nothing); otherwise sets `matched` and
// leaves `p` after the ']'.
bool match_set(It& p, It end, char16_t c, bool& matched) {
  ++p;  // past '['
  bool negate = false;
  if (p != end && (*p == u'!' || *p == u'^')) {
    negate = true;
    ++p;
  }
  bool hit = false;
  bool first = true;
  for (;;) {
    if (p == end) return false;
    if (*p == u']' && !first) break;
    first = false;
    char16_t low = *p;
    if (low == u'\\') {
      if (++p == end) return false;
      low = *p;
    }
    ++p;
    char16_t high = low;
    if (p != end && *p == u'-' && p + 1 != end && *(p + 1) != u']') {
      ++p;
      high = *p;
      if (high == u'\\') {
        if (++p == end) return false;
        high = *p;
      }
      ++p;
    }
    if (c >= low && c <= high) hit = true;
  }
  ++p;  // past ']'
  matched = hit != negate;
  return true;
}

bool match(It p, It pend, It t, It tend) {
  while (p != pend) {
    const char16_t c = *p;
    if (c == u'*' || c == u'?') {
      for (; p != pend && (*p == u'*' || *p == u'?'); ++p) {
        if (*p == u'?') {
          if (t == tend) return false;
          ++t;
        }
      }
      if (p == pend) return true;
      const char16_t next = *p;
      if (next == u'\\' && p + 1 == pend) return false;
      const char16_t wanted = next == u'\\' ? *(p + 1) : next;
      for (; t != tend; ++t)
        if ((next == u'[' || *t == wanted) && match(p, pend, t, tend)) return true;
      return false;
    }
    if (c == u'[') {
      if (t == tend) return false;
      bool matched = false;
      if (!match_set(p, pend, *t, matched) || !matched) return false;
      ++t;
      continue;
    }
    if (c == u'\\') {
      if (p + 1 == pend) return false;
      ++p;
    }
    if (t == tend || *t != *p) return false;
    ++p;
    ++t;
  }
  return t == tend;
}

}  // namespace

int wild_match(std::u16string_view pattern, std::u16string_view text) {
  return match(pattern.begin(), pattern.end(), text.begin(), text.end()) ? 0 : 1;
}
