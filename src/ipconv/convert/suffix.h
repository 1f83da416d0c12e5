// The suffix of a converted line, "|Hex|XXXXXXXX|IP-decimal|a.b.c.d",
// built from tables in the units of the line (units.h): bytes, or 16-bit
// units in the text's byte order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ipconv/convert.h"
#include "ipconv/convert/units.h"

namespace lines {

// The texts of every byte value: two hexadecimal digits, and the decimal
// digits with a dot after them ("7.", "42.", "255.") with their size in
// bytes. One entry holds both, so that each octet of the suffix is one
// look-up.
template <class U>
struct OctetText {
  char hex[2 * U::kSize];
  char dotted[4 * U::kSize];
  unsigned char dotted_size;
  char unused[2 * U::kSize - 1];  // 8 or 16 bytes an entry make the look-up a plain index
};

template <class U>
struct OctetTexts {
  OctetText<U> of[256];
  constexpr OctetTexts() : of{} {
    constexpr char kHex[] = "0123456789ABCDEF";
    for (unsigned v = 0; v < 256; ++v) {
      OctetText<U>& t = of[v];
      put(t.hex, 0, kHex[v >> 4]);
      put(t.hex, 1, kHex[v & 0xF]);
      unsigned n = 0;
      if (v >= 100) put(t.dotted, n++, static_cast<char>('0' + v / 100));
      if (v >= 10) put(t.dotted, n++, static_cast<char>('0' + v / 10 % 10));
      put(t.dotted, n++, static_cast<char>('0' + v % 10));
      put(t.dotted, n++, '.');
      t.dotted_size = static_cast<unsigned char>(n * U::kSize);
    }
  }
  // Unit `i` of `text`, in the units' byte order, in a constant
  // expression.
  static constexpr void put(char* text, unsigned i, char c) {
    for (size_t b = 0; b < U::kSize; ++b) text[i * U::kSize + b] = 0;
    text[i * U::kSize + (U::kLowByteFirst ? 0 : U::kSize - 1)] = c;
  }
};
template <class U>
inline constexpr OctetTexts<U> kOctetTexts{};

// Literal text in units, `N` units long.
template <class U, size_t N>
struct UnitText {
  char bytes[N * U::kSize];
  constexpr explicit UnitText(const char (&text)[N + 1]) : bytes{} {
    for (unsigned i = 0; i < N; ++i) OctetTexts<U>::put(bytes, i, text[i]);
  }
};
template <class U>
inline constexpr UnitText<U, 8> kHexLabel{"|Hex|\0\0\0"};
template <class U>
inline constexpr UnitText<U, 12> kDecimalLabel{"|IP-decimal|"};

// Writes the suffix of `address` at `out`; returns its end. Whole words are
// stored and partly overwritten by the next; nothing is stored past
// 41 units from `out`, inside the kSuffixMax units kept for it.
template <class U>
[[gnu::always_inline]] inline char* put_suffix(char* out, uint32_t address) {
  constexpr size_t k = U::kSize;
  std::memcpy(out, kHexLabel<U>.bytes, 8 * k);
  std::memcpy(out + 13 * k, kDecimalLabel<U>.bytes, 12 * k);
  char* dotted = out + 25 * k;
  for (int i = 0; i < 4; ++i) {
    const OctetText<U>& t = kOctetTexts<U>.of[(address >> (24 - 8 * i)) & 0xFF];
    std::memcpy(out + (5 + 2 * i) * k, t.hex, 2 * k);
    std::memcpy(dotted, t.dotted, 4 * k);
    dotted += t.dotted_size;
  }
  return dotted - k;  // no dot after the last octet
}

}  // namespace lines
