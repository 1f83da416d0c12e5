#include "framework/text.h"

#include <limits>

std::u16string widen(std::string_view ascii) {
  return widen_bytes(ascii);
}

std::u16string widen_bytes(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (unsigned char c : bytes) out.push_back(c);
  return out;
}

std::string narrow_low_bytes(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t c : text) out.push_back(static_cast<char>(c & 0xFF));
  return out;
}

char16_t upper_ascii(char16_t c) {
  return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
}

std::u16string upper_ascii(std::u16string_view text) {
  std::u16string out(text);
  for (auto& c : out) c = upper_ascii(c);
  return out;
}

std::string upper_ascii(std::string_view text) {
  std::string out(text);
  for (auto& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return out;
}

bool equals_ignore_case(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (upper_ascii(a[i]) != upper_ascii(b[i])) return false;
  return true;
}

bool starts_with_ignore_case(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() &&
         equals_ignore_case(text.substr(0, prefix.size()), prefix);
}

bool contains(std::u16string_view text, std::u16string_view part) {
  return text.find(part) != std::u16string_view::npos;
}

namespace {
bool is_c_space(char16_t c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

template <typename View>
int64_t read_int64_of(View text) {
  size_t i = 0;
  while (i < text.size() && is_c_space(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulate the magnitude as unsigned; clamp like strtoll.
  constexpr uint64_t kMaxPos = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  constexpr uint64_t kMaxNeg = kMaxPos + 1;
  const uint64_t limit = negative ? kMaxNeg : kMaxPos;
  uint64_t value = 0;
  bool clamped = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (clamped) continue;
    const unsigned digit = static_cast<unsigned>(text[i] - '0');
    if (value > (limit - digit) / 10) {
      value = limit;
      clamped = true;
    } else {
      value = value * 10 + digit;
    }
  }
  if (negative) return value == kMaxNeg ? std::numeric_limits<int64_t>::min()
                                        : -static_cast<int64_t>(value);
  return static_cast<int64_t>(value);
}
}  // namespace

int64_t read_int64(std::u16string_view text) { return read_int64_of(text); }
int64_t read_int64(std::string_view text) { return read_int64_of(text); }

int32_t read_int32(std::u16string_view text) {
  return static_cast<int32_t>(static_cast<uint32_t>(read_int64_of(text)));
}
