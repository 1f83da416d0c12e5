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

// Matches the one element at `p` (anything but '*') against `c`; on
// success moves `p` past it. A backslash at the very end of the pattern and
// a set without its ']' match nothing.
bool match_one(It& p, It pend, char16_t c) {
  It q = p;
  if (*q == u'?') {
    ++q;
  } else if (*q == u'[') {
    bool matched = false;
    if (!match_set(q, pend, c, matched) || !matched) return false;
  } else {
    if (*q == u'\\' && ++q == pend) return false;
    if (*q != c) return false;
    ++q;
  }
  p = q;
  return true;
}

// Every element but '*' takes exactly one character, so after a mismatch
// only the last star has to take one character more: giving an earlier
// star more would leave less text for what follows it. The time stays
// within the product of the two lengths, where trying every length of
// every star grows exponentially with the number of stars.
bool match(It p, It pend, It t, It tend) {
  bool star = false;
  It star_p = pend;  // the pattern after the last star
  It star_t = tend;  // where the text after that star was last tried
  for (;;) {
    if (p != pend && *p == u'*') {
      star = true;
      star_p = ++p;
      star_t = t;
      continue;
    }
    if (t == tend) break;
    if (p != pend && match_one(p, pend, *t)) {
      ++t;
      continue;
    }
    if (!star) return false;
    p = star_p;
    t = ++star_t;
  }
  while (p != pend && *p == u'*') ++p;
  return p == pend;
}

}  // namespace

int wild_match(std::u16string_view pattern, std::u16string_view text) {
  return match(pattern.begin(), pattern.end(), text.begin(), text.end()) ? 0 : 1;
}
