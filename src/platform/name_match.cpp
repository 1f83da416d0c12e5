// Pattern matching of the POSIX listing, as Windows matches: the rewrite
// FindFirstFileExW makes of a pattern, and FsRtlIsNameInExpression's rules
// for the wildcards it makes.

#include "platform/name_match.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace plat {

namespace {

// '*': any run of units, also none.
constexpr char32_t kStar = 0x10000;
// DOS_STAR: any run that does not go past the last dot of the name (it may
// end with that dot).
constexpr char32_t kDosStar = 0x10001;
// DOS_QM: one unit other than a dot; nothing at a dot or at the end.
constexpr char32_t kDosQm = 0x10002;
// DOS_DOT: a dot, or nothing at the end of the name.
constexpr char32_t kDosDot = 0x10003;

bool is_star(char32_t token) { return token == kStar || token == kDosStar; }

}  // namespace

NameMatcher::NameMatcher(std::u16string_view pattern) {
  // Path handling drops the trailing dots and blanks before the pattern is
  // rewritten; one that ended in a dot still means "no extension" through
  // its last star ("*." lists the names without a dot).
  const bool ended_in_dot = !pattern.empty() && pattern.back() == u'.';
  pattern = pattern.substr(0, pattern.find_last_not_of(u". ") + 1);  // npos + 1 is 0
  if (pattern == u"*.*") {
    tokens_.assign(1, kStar);
  } else {
    for (size_t i = 0; i < pattern.size(); ++i) {
      const char16_t c = pattern[i];
      const char16_t after = i + 1 < pattern.size() ? pattern[i + 1] : u'\0';
      if (c == u'?')
        tokens_ += kDosQm;
      else if (c == u'*')
        tokens_ += after == u'.' ? kDosStar : kStar;
      else if (c == u'.' && (after == u'?' || after == u'*'))
        tokens_ += kDosDot;
      else
        tokens_ += c;
    }
  }
  if (ended_in_dot) {
    const auto last_star = std::find_if(tokens_.rbegin(), tokens_.rend(), is_star);
    if (last_star != tokens_.rend()) *last_star = kDosStar;
  }

  // The shapes nearly every search has, told without stepping through
  // states: "*", a plain name, "*.csv".
  const auto wild = [](char32_t token) { return token > 0xFFFF; };
  if (!tokens_.empty() && std::all_of(tokens_.begin(), tokens_.end(),
                                      [](char32_t token) { return token == kStar; })) {
    kind_ = Kind::all;
  } else if (std::none_of(tokens_.begin(), tokens_.end(), wild)) {
    kind_ = Kind::exact;
    literal_.assign(tokens_.begin(), tokens_.end());
  } else if (tokens_.size() > 1 && std::none_of(tokens_.begin() + 1, tokens_.end(), wild) &&
             (tokens_[0] == kStar || (tokens_[0] == kDosStar && tokens_[1] == u'.'))) {
    // A DOS_STAR before a plain end that begins with a dot takes whatever
    // precedes it: the name's last dot then lies in that end.
    kind_ = Kind::suffix;
    literal_.assign(tokens_.begin() + 1, tokens_.end());
  }
  if (kind_ != Kind::general) return;

  // Bit t of a state set: the first t tokens are matched. Each wildcard
  // kind gets the set of the states that stand before one of its kind, and
  // each plain unit, word by word, the set of those before it.
  words_ = (tokens_.size() + 1 + 63) / 64;
  wild_.assign(4 * words_, 0);
  word_units_.assign(1, 0);
  for (size_t w = 0; w < words_; ++w) {
    const size_t first = units_.size();
    for (size_t t = 64 * w; t < std::min(tokens_.size(), 64 * w + 64); ++t) {
      const uint64_t bit = uint64_t{1} << (t % 64);
      const char32_t token = tokens_[t];
      if (token > 0xFFFF)
        wild_[(token - kStar) * words_ + w] |= bit;
      else
        units_.emplace_back(static_cast<char16_t>(token), bit);
    }
    std::sort(units_.begin() + first, units_.end());
    // One entry a unit: the bits of its places joined.
    size_t kept = first;
    for (size_t k = first; k < units_.size(); ++k) {
      if (kept > first && units_[kept - 1].first == units_[k].first)
        units_[kept - 1].second |= units_[k].second;
      else
        units_[kept++] = units_[k];
    }
    units_.resize(kept);
    word_units_.push_back(static_cast<uint32_t>(kept));
  }
}

uint64_t NameMatcher::unit_places(size_t word, char16_t c) const {
  const auto begin = units_.begin() + word_units_[word];
  const auto end = units_.begin() + word_units_[word + 1];
  const auto at = std::lower_bound(begin, end, c, [](const auto& entry, char16_t unit) {
    return entry.first < unit;
  });
  return at != end && at->first == c ? at->second : 0;
}

bool NameMatcher::matches(std::u16string_view name) const {
  switch (kind_) {
    case Kind::all: return true;
    case Kind::exact: return name == literal_;
    case Kind::suffix: return name.ends_with(literal_);
    case Kind::general: break;
  }
  return matches_general(name);
}

// The set of pattern states after each unit of the name, as
// FsRtlIsNameInExpression keeps it, 64 states a word: every unit of the
// name costs one pass over the words, so a pattern such as "*?*?*?" costs
// no more than any other of its length.
bool NameMatcher::matches_general(std::u16string_view name) const {
  const size_t words = words_;
  const uint64_t* star = wild_.data();
  const uint64_t* dos_star = star + words;
  const uint64_t* dos_qm = dos_star + words;
  const uint64_t* dos_dot = dos_qm + words;
  const size_t last_dot = name.rfind(u'.');
  rows_.assign(2 * words, 0);
  uint64_t* now = rows_.data();
  uint64_t* after = now + words;
  now[0] = 1;
  for (size_t i = 0;; ++i) {
    const bool at_end = i == name.size();
    const char16_t c = at_end ? u'\0' : name[i];
    // What may match nothing here: from a state before such a token every
    // state up to the end of its run of such tokens is reached, which an
    // addition carries through the run at once.
    uint64_t carry = 0;
    for (size_t w = 0; w < words; ++w) {
      uint64_t skip = star[w] | dos_star[w];
      if (at_end || c == u'.') skip |= dos_qm[w];
      if (at_end) skip |= dos_dot[w];
      const uint64_t from = now[w] & skip;
      const uint64_t sum = skip + from;
      const uint64_t total = sum + carry;
      carry = (sum < from) | (total < carry);
      now[w] |= total ^ skip;
    }
    if (at_end) return (now[tokens_.size() / 64] >> (tokens_.size() % 64)) & 1;

    // The unit taken: stars stay (a DOS_STAR ends its run on the name's
    // last dot), the other wildcards and the equal units step on.
    const bool last = i == last_dot;
    uint64_t alive = 0;
    carry = 0;
    for (size_t w = 0; w < words; ++w) {
      const uint64_t stay = star[w] | (last ? 0 : dos_star[w]);
      const uint64_t step = (c == u'.' ? dos_dot[w] : dos_qm[w]) | (last ? dos_star[w] : 0) |
                            unit_places(w, c);
      const uint64_t stepping = now[w] & step;
      after[w] = (now[w] & stay) | (stepping << 1) | carry;
      carry = stepping >> 63;
      alive |= after[w];
    }
    if (!alive) return false;
    std::swap(now, after);
  }
}

}  // namespace plat
