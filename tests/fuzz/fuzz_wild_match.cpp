// wild_match against a plain table-driven matcher of the same pattern
// language; a pattern of ordinary characters matches only its own text,
// and every text matches itself with each character escaped.
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "framework/wild_match.h"
#include "sandbox.h"

namespace {

// A few units beyond one byte, so that sets and ranges meet them.
const char16_t kHigh[8] = {0x100, 0x7FF, 0xD800, 0xDC80, 0xE000, 0xFFFD, 0xFFFF, 0x1234};

std::u16string units_of(std::span<const uint8_t> bytes) {
  std::u16string out;
  for (uint8_t b : bytes) out.push_back(b >= 0xF8 ? kHigh[b - 0xF8] : b);
  return out;
}

// One element of a pattern: each but the star takes exactly one character.
struct Element {
  enum Kind { star, any, set, literal, never } kind;
  char16_t c = 0;
  bool negate = false;
  std::vector<std::pair<char16_t, char16_t>> ranges;
};

std::vector<Element> elements_of(const std::u16string& p) {
  std::vector<Element> out;
  size_t i = 0;
  const size_t n = p.size();
  while (i < n) {
    Element e;
    if (p[i] == u'*') {
      e.kind = Element::star;
      ++i;
    } else if (p[i] == u'?') {
      e.kind = Element::any;
      ++i;
    } else if (p[i] == u'\\') {
      if (i + 1 == n) {
        e.kind = Element::never;  // a backslash at the end matches nothing
        i = n;
      } else {
        e.kind = Element::literal;
        e.c = p[i + 1];
        i += 2;
      }
    } else if (p[i] == u'[') {
      e.kind = Element::set;
      size_t j = i + 1;
      if (j < n && (p[j] == u'!' || p[j] == u'^')) {
        e.negate = true;
        ++j;
      }
      bool first = true;
      for (;;) {
        if (j >= n) {
          e.kind = Element::never;  // no closing ']'
          break;
        }
        if (p[j] == u']' && !first) {
          ++j;
          break;
        }
        first = false;
        char16_t low = p[j];
        if (low == u'\\') {
          if (++j >= n) {
            e.kind = Element::never;
            break;
          }
          low = p[j];
        }
        ++j;
        char16_t high = low;
        if (j + 1 < n && p[j] == u'-' && p[j + 1] != u']') {
          high = p[++j];
          if (high == u'\\') {
            if (++j >= n) {
              e.kind = Element::never;
              break;
            }
            high = p[j];
          }
          ++j;
        }
        e.ranges.emplace_back(low, high);
      }
      i = e.kind == Element::never ? n : j;
    } else {
      e.kind = Element::literal;
      e.c = p[i++];
    }
    out.push_back(std::move(e));
  }
  return out;
}

bool takes(const Element& e, char16_t c) {
  switch (e.kind) {
    case Element::any: return true;
    case Element::literal: return c == e.c;
    case Element::set: {
      bool hit = false;
      for (const auto& [low, high] : e.ranges) hit |= c >= low && c <= high;
      return hit != e.negate;
    }
    default: return false;
  }
}

// matches[t]: the elements from e on match the text from t on.
bool plain_match(const std::u16string& pattern, const std::u16string& text) {
  const std::vector<Element> elements = elements_of(pattern);
  const size_t n = text.size();
  std::vector<char> next(n + 1, 0), cur(n + 1, 0);
  next[n] = 1;
  for (size_t e = elements.size(); e-- > 0;) {
    const Element& el = elements[e];
    cur[n] = el.kind == Element::star ? next[n] : 0;
    for (size_t t = n; t-- > 0;) {
      if (el.kind == Element::star)
        cur[t] = next[t] || cur[t + 1];
      else
        cur[t] = takes(el, text[t]) && next[t + 1];
    }
    std::swap(cur, next);
  }
  return next[0] != 0;
}

bool is_plain(const std::u16string& pattern) {
  return pattern.find_first_of(u"*?[\\") == std::u16string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto [first, second] = fuzz::split_at_nul(data, size);
  const std::u16string pattern = units_of(first);
  const std::u16string text = units_of(second);

  const int result = wild_match(pattern, text);
  FUZZ_CHECK(result == 0 || result == 1);
  FUZZ_CHECK((result == 0) == plain_match(pattern, text));
  if (is_plain(pattern)) FUZZ_CHECK((result == 0) == (pattern == text));

  std::u16string escaped;
  for (char16_t c : text) {
    escaped += u'\\';
    escaped += c;
  }
  FUZZ_CHECK(wild_match(escaped, text) == 0);
  FUZZ_CHECK(wild_match(u"*", text) == 0);
  return 0;
}
