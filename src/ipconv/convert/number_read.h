// The number at the start of a line: white space, a sign, decimal digits,
// clamped to 64 bits; its low 32 bits are the address. Two ways side by
// side: words of eight digits read at once (any processor), and the first
// 16 units of a line read in a few vector steps (AVX2, chosen at run
// time). Both work on the units of either width (units.h).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#if defined(__SSE2__) && defined(__GNUC__)
// 32-byte steps chosen at run time; the build itself assumes no more than
// SSE2.
#define IPCONV_WIDE_VECTORS
#include <immintrin.h>
#endif

#include "ipconv/convert/units.h"

namespace lines {

inline bool is_c_space(unsigned c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
inline bool is_digit(unsigned c) { return c - '0' <= 9; }

constexpr uint64_t kEachByte = 0x0101010101010101;

// Digit values of eight characters (each byte '0'..'9' made 0..9; other
// bytes become values of 10 and more) and where the leading digits end:
// 8 times their count, plus 7.
struct DigitRun {
  uint64_t values;
  unsigned end_bit;
  unsigned count() const { return end_bit / 8; }
};
inline DigitRun digit_run(uint64_t word) {
  const uint64_t values = word ^ (kEachByte * '0');
  // The high bit of a byte is set where its value is 10 or more; no carry
  // crosses a byte.
  const uint64_t other = (((values & (kEachByte * 0x7F)) + kEachByte * (0x80 - 10)) | values) &
                         (kEachByte * 0x80);
  return {values, other == 0 ? 71u : static_cast<unsigned>(std::countr_zero(other))};
}

// The number of eight digit values.
inline uint64_t eight_digits_value(uint64_t v) {
  // Pairs of digits, then of pairs, then of quads: each step multiplies
  // the first of two neighbours and adds the second in one product.
  v = ((v * (10 * 256 + 1)) >> 8) & 0x00FF00FF00FF00FF;
  v = ((v * (100 * 65536 + 1)) >> 16) & 0x0000FFFF0000FFFF;
  return (v * (10000 * (uint64_t{1} << 32) + 1)) >> 32;
}

// The number of the leading digits (1 to 8) of a run.
inline uint64_t digits_value(const DigitRun& run) {
  // Moved to the top, the digits get leading zeros in front.
  return eight_digits_value(run.values << (71 - run.end_bit));
}

constexpr uint64_t kPowersOfTen[9] = {1,      10,      100,      1000,     10000,
                                      100000, 1000000, 10000000, 100000000};

// Two's complement of the magnitude keeps the low 32 bits right for
// negative numbers, the most negative one included.
inline uint32_t low_bits(uint64_t magnitude, bool negative) {
  return static_cast<uint32_t>(negative ? ~magnitude + 1 : magnitude);
}

// The digits from `p` on, after `digits` of them gave `value`.
template <class U>
[[gnu::noinline]] uint32_t more_digits(const char* p, const char* end, uint64_t value, int digits,
                                       bool negative) {
  // Up to 18 digits cannot leave the 64-bit range; only longer numbers
  // need the clamp, and they take the careful path.
  for (; p != end && is_digit(U::at(p)) && digits < 18; p += U::kSize, ++digits)
    value = value * 10 + (U::at(p) - '0');
  if (p != end && is_digit(U::at(p))) {
    const uint64_t limit = negative ? (uint64_t{1} << 63) : (uint64_t{1} << 63) - 1;
    for (; p != end && is_digit(U::at(p)); p += U::kSize) {
      const unsigned digit = U::at(p) - '0';
      if (value > (limit - digit) / 10) {
        value = limit;
        break;
      }
      value = value * 10 + digit;
    }
  }
  return low_bits(value, negative);
}

// The digits from `p` on, with 16 units readable there; the digits end at
// `end` at the latest. kDigitFirst: `p` is known to hold a digit.
template <class U, bool kDigitFirst>
[[gnu::always_inline]] inline uint32_t digits_in_words(const char* p, const char* end,
                                                       bool negative) {
  const DigitRun first = digit_run(U::load_word(p));
  if (first.count() < 8)
    return low_bits(kDigitFirst || first.count() != 0 ? digits_value(first) : 0, negative);
  const DigitRun second = digit_run(U::load_word(p + 8 * U::kSize));
  uint64_t value = eight_digits_value(first.values);
  if (second.count() <= 2) {
    // Nine or ten digits, the usual address, without waiting for the
    // products of a second word.
    const uint64_t ninth = second.values & 0xFF;
    const uint64_t tenth = (second.values >> 8) & 0xFF;
    const uint64_t nine = value * 10 + ninth;
    value = second.count() == 2 ? nine * 10 + tenth : second.count() == 1 ? nine : value;
    return low_bits(value, negative);
  }
  value = value * kPowersOfTen[second.count()] + digits_value(second);
  if (second.count() < 8) return low_bits(value, negative);
  return more_digits<U>(p + 16 * U::kSize, end, value, 16, negative);
}

// The address of the `count` units at `text`, with nothing readable past
// them.
template <class U>
[[gnu::always_inline]] inline uint32_t address_of(const char* text, size_t count) {
  const char* p = text;
  const char* end = p + count * U::kSize;
  bool negative = false;
  if (count == 0 || !is_digit(U::at(p))) {  // most lines start with a digit
    while (p != end && is_c_space(U::at(p))) p += U::kSize;
    if (p != end && (U::at(p) == '+' || U::at(p) == '-')) {
      negative = U::at(p) == '-';
      p += U::kSize;
    }
  }
  // With 16 units at hand, the digits are read a word at a time; 16 digits
  // stay far inside the 64-bit range.
  if (end - p < static_cast<ptrdiff_t>(16 * U::kSize))
    return more_digits<U>(p, end, 0, 0, negative);
  return digits_in_words<U, false>(p, end, negative);
}

// address_of for a line followed by a line end (not a digit) within the
// 16 units from its start can be read: most numbers need no bounds.
template <class U>
[[gnu::always_inline]] inline uint32_t address_in_run(const char* text, size_t count) {
  if (!is_digit(U::at(text))) return address_of<U>(text, count);
  // The digits end at the line's end at the latest.
  return digits_in_words<U, true>(text, text + count * U::kSize, false);
}

#if defined(IPCONV_WIDE_VECTORS)
// Where a line's first 16 units are at hand in a register (as bytes:
// units.h), its digits are read from there in a few steps, whatever their
// count, without a branch on it: 9 and 10 digits are both common, and the
// word steps above tell them apart by a branch that fails one line in five.
//
// Byte i of kAlignDigits + n is the place, among n digits, of the digit
// that goes to byte i when they are moved to the last bytes of 16; 0x80
// makes a zero.
alignas(32) constexpr unsigned char kAlignDigits[32] = {
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
    0,    1,    2,    3,    4,    5,    6,    7,    8,    9,    10,   11,   12,   13,   14,   15};

template <class U>
[[gnu::target("avx2,bmi,bmi2"), gnu::always_inline]] inline uint32_t address_in_head(
    __m128i head, const char* text, size_t count) {
  const __m128i values = _mm_sub_epi8(head, _mm_set1_epi8('0'));
  const __m128i nine = _mm_set1_epi8(9);
  const auto digits = static_cast<unsigned>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(values, nine), nine)));
  const unsigned digit_count = _tzcnt_u32(~digits);
  // No digit first (a sign, a space) or 16 and more of them.
  if (digit_count - 1 >= 15) return address_in_run<U>(text, count);
  const __m128i aligned = _mm_shuffle_epi8(
      values, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kAlignDigits + digit_count)));
  // Pairs of digits, then fours, then eights, as 10 * first + second.
  const __m128i pairs = _mm_maddubs_epi16(aligned, _mm_set1_epi16(0x010A));
  const __m128i fours = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00010064));
  const __m128i eights = _mm_madd_epi16(_mm_packs_epi32(fours, fours), _mm_set1_epi32(0x00012710));
  const auto both = static_cast<uint64_t>(_mm_cvtsi128_si64(eights));
  // Only the low 32 bits are kept, so 32-bit products do.
  return static_cast<uint32_t>(both) * 100000000u + static_cast<uint32_t>(both >> 32);
}
#endif

}  // namespace lines
