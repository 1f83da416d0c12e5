// The code units lines are made of: the bytes of 8-bit text, or the 16-bit
// units of UTF-16 text in either byte order. Text stays where it was read
// and is addressed by byte; a unit is read and written in the text's own
// byte order, so lines are copied without being decoded.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lines {

struct ByteUnits {
  static constexpr size_t kSize = 1;
  static constexpr bool kLowByteFirst = true;
  static unsigned at(const char* p) { return static_cast<unsigned char>(*p); }
  static void put(char* p, unsigned unit) { *p = static_cast<char>(unit); }
  // The first `unit` among the `count` units from `p`, or nullptr.
  static const char* find(const char* p, size_t count, unsigned unit) {
    return static_cast<const char*>(std::memchr(p, static_cast<int>(unit), count));
  }
  // The units of a UTF-8 byte-order mark that begins the first line.
  static size_t mark_units(const char* text, size_t count) {
    return count >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
  }
  // Eight units as one word, the first in the lowest byte.
  static uint64_t load_word(const char* p) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    if constexpr (std::endian::native == std::endian::big) {
      uint64_t swapped = 0;
      for (int i = 0; i < 8; ++i) swapped |= ((word >> (8 * i)) & 0xFF) << (8 * (7 - i));
      word = swapped;
    }
    return word;
  }
};

template <std::endian kOrder>
struct Utf16Units {
  static constexpr size_t kSize = 2;
  static constexpr bool kLowByteFirst = kOrder == std::endian::little;
  static unsigned at(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return kOrder == std::endian::little ? b[0] | b[1] << 8 : b[0] << 8 | b[1];
  }
  static void put(char* p, unsigned unit) {
    p[kOrder == std::endian::little ? 0 : 1] = static_cast<char>(unit);
    p[kOrder == std::endian::little ? 1 : 0] = static_cast<char>(unit >> 8);
  }
  static const char* find(const char* p, size_t count, unsigned unit) {
    size_t i = 0;
#if defined(__SSE2__)
    // Where there is SSE2 the machine is little-endian: a lane read from
    // big-endian text holds its unit's bytes swapped.
    const auto lane = static_cast<uint16_t>(
        kOrder == std::endian::little ? unit : (unit >> 8 | unit << 8));
    const __m128i wanted = _mm_set1_epi16(static_cast<short>(lane));
    for (; i + 8 <= count; i += 8) {
      const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * i));
      const int found = _mm_movemask_epi8(_mm_cmpeq_epi16(units, wanted));
      if (found != 0) return p + 2 * i + std::countr_zero(static_cast<unsigned>(found));
    }
#endif
    for (; i < count; ++i)
      if (at(p + 2 * i) == unit) return p + 2 * i;
    return nullptr;
  }
  // The byte-order mark that begins the first line.
  static size_t mark_units(const char* text, size_t count) {
    return count >= 1 && at(text) == 0xFEFF ? 1 : 0;
  }
  // Eight units as eight bytes, the first in the lowest byte, for the
  // number read: a unit above 255 becomes a byte that is no digit, sign or
  // white space (0 or 255).
  static uint64_t load_word(const char* p) {
#if defined(__SSE2__) && defined(__x86_64__)
    __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if constexpr (kOrder == std::endian::big)
      units = _mm_or_si128(_mm_slli_epi16(units, 8), _mm_srli_epi16(units, 8));
    return static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_packus_epi16(units, units)));
#else
    uint64_t word = 0;
    for (int i = 0; i < 8; ++i) {
      const unsigned unit = at(p + 2 * i);
      word |= uint64_t{unit > 0xFF ? 0xFFu : unit} << (8 * i);
    }
    return word;
#endif
  }
};

}  // namespace lines
