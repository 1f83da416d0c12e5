// The POSIX listing's pattern matcher against a plain rendering of the
// same rules: each wildcard tried with every run of the name it may take.
// Input: pattern, NUL, name; bytes map to a few units, so that wildcards,
// dots and blanks meet often.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/name_match.h"
#include "sandbox.h"

namespace {

const char16_t kUnits[8] = {u'*', u'?', u'.', u' ', u'A', u'B', u'<', u'"'};
const char16_t kHigh[8] = {0x100, 0x131, 0xD800, 0xDC80, 0xE000, 0xFF21, 0xFFFD, 0xFFFF};

// The eight units stand for themselves (the seeds stay readable); every
// other byte is one of them, or one of a few units beyond one byte.
std::u16string units_of(std::span<const uint8_t> bytes) {
  std::u16string out;
  for (uint8_t b : bytes) {
    char16_t unit = b >= 0xF8 ? kHigh[b - 0xF8] : kUnits[b % 8];
    for (char16_t own : kUnits)
      if (b == own) unit = own;
    out.push_back(unit);
  }
  return out;
}

enum : char32_t { star = 0x10000, dos_star, dos_qm, dos_dot };

// The pattern as FindFirstFileExW leaves it.
std::u32string rewritten(std::u16string p) {
  const bool dot_end = !p.empty() && p.back() == u'.';
  while (!p.empty() && (p.back() == u'.' || p.back() == u' ')) p.pop_back();
  if (p == u"*.*") p = u"*";
  std::u32string out;
  for (size_t i = 0; i < p.size(); ++i) {
    const char16_t next = i + 1 < p.size() ? p[i + 1] : u'\0';
    if (p[i] == u'?')
      out += dos_qm;
    else if (p[i] == u'*')
      out += next == u'.' ? dos_star : star;
    else if (p[i] == u'.' && (next == u'?' || next == u'*'))
      out += dos_dot;
    else
      out += p[i];
  }
  if (dot_end)
    for (size_t k = out.size(); k-- > 0;)
      if (out[k] == star || out[k] == dos_star) {
        out[k] = dos_star;
        break;
      }
  return out;
}

struct Reference {
  std::u32string tokens;
  std::u16string name;
  size_t last_dot;
  std::vector<signed char> memo;  // -1 unknown

  // Tokens from t on against the name from i on.
  bool match(size_t t, size_t i) {
    signed char& known = memo[t * (name.size() + 1) + i];
    if (known < 0) known = decide(t, i);
    return known != 0;
  }
  bool decide(size_t t, size_t i) {
    const size_t n = name.size();
    if (t == tokens.size()) return i == n;
    const char32_t token = tokens[t];
    if (token == star) {  // any run
      for (size_t k = i; k <= n; ++k)
        if (match(t + 1, k)) return true;
      return false;
    }
    if (token == dos_star) {  // any run that does not go past the last dot
      for (size_t k = i; k <= n; ++k) {
        if (match(t + 1, k)) return true;
        if (k == n) break;
        if (k == last_dot) return match(t + 1, k + 1);
      }
      return false;
    }
    if (token == dos_qm) {  // one unit but a dot; nothing at a dot or the end
      if (i == n || name[i] == u'.') return match(t + 1, i);
      return match(t + 1, i + 1);
    }
    if (token == dos_dot) {  // a dot, or nothing at the end
      if (i == n) return match(t + 1, i);
      return name[i] == u'.' && match(t + 1, i + 1);
    }
    return i < n && name[i] == token && match(t + 1, i + 1);
  }
};

bool reference_selects(const std::u16string& pattern, const std::u16string& name) {
  Reference r{rewritten(pattern), name, name.rfind(u'.'), {}};
  if (r.tokens.empty()) return false;  // nothing but dots and blanks
  r.memo.assign((r.tokens.size() + 1) * (name.size() + 1), -1);
  return r.match(0, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto [first, second] = fuzz::split_at_nul(data, size);
  const std::u16string pattern = units_of(first);
  const std::u16string name = units_of(second);

  const plat::NameMatcher matcher(pattern);
  const bool selected = !matcher.selects_nothing() && matcher.matches(name);
  if (matcher.selects_all()) FUZZ_CHECK(selected);
  // The reference tries every run: kept to short inputs.
  // Past 63 tokens a state set takes more than one word.
  if (pattern.size() <= 96 && name.size() <= 64)
    FUZZ_CHECK(selected == reference_selects(pattern, name));
  return 0;
}
