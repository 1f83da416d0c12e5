// Which names a search pattern selects on POSIX, as Windows selects them:
// the pattern rewritten as FindFirstFileExW rewrites it, then each name
// matched as FsRtlIsNameInExpression matches it. Pattern and names come
// already folded to upper case; nothing here folds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace plat {

class NameMatcher {
 public:
  // `pattern`: the last part of a search string as it stands there.
  explicit NameMatcher(std::u16string_view pattern);

  // Nothing but dots and blanks: the search selects nothing.
  bool selects_nothing() const { return tokens_.empty(); }
  // "*", "*.*", "**": every name, without looking at it.
  bool selects_all() const { return kind_ == Kind::all; }
  // Costs in proportion to the name's length times the pattern's at most.
  bool matches(std::u16string_view name) const;

 private:
  enum class Kind { all, exact, suffix, general };
  bool matches_general(std::u16string_view name) const;

  // Units of the pattern as they are, and the wildcards above 0xFFFF, so
  // that a '<' or '"' that a POSIX name may hold stays a plain unit.
  std::u32string tokens_;
  Kind kind_ = Kind::general;
  std::u16string literal_;  // exact: the name; suffix: its end
  // The general case: words of 64 states, the states before each
  // wildcard kind ('*', DOS_STAR, DOS_QM, DOS_DOT, one row of words each),
  // and for each word the plain units before which its states stand, by
  // unit (those of word w from units_[word_units_[w]] on).
  size_t words_ = 0;
  std::vector<uint64_t> wild_;
  std::vector<std::pair<char16_t, uint64_t>> units_;
  std::vector<uint32_t> word_units_;
  // The states of `word` that stand before a plain unit `c`.
  uint64_t unit_places(size_t word, char16_t c) const;
  // The two state sets a match steps through, kept between names so that
  // a listing allocates them once.
  mutable std::vector<uint64_t> rows_;
};

}  // namespace plat
