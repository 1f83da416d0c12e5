// Lines of UTF-16 text, in either byte order: the steps of a run of whole
// lines, and the conversion of such text. A run looks through 128 units
// (256 bytes) a line, as the 8-bit one looks through 128 bytes.
#include <bit>
#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "ipconv/convert.h"
#include "ipconv/convert/line_converter.h"

namespace lines {

namespace {

template <std::endian kOrder>
struct SixteenBit {
  using Units = Utf16Units<kOrder>;
  using Run = ShortRun<Units>;

#if defined(__SSE2__)
  // A line feed as a vector lane holds it: where there are vectors, the
  // machine is little-endian.
  static constexpr short kLineFeedLane = kOrder == std::endian::little ? 0x000A : 0x0A00;

  static void put_run_sse2(Run& started) {
    Run run = started;
    const __m128i line_feed = _mm_set1_epi16(kLineFeedLane);
    while (run.more()) {
      uint64_t found[2] = {0, 0};
      for (int i = 0; i < 8; ++i) {
        const char* text = run.text + 32 * i;
        char* out = run.out + 32 * i;
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), low);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), high);
        // One byte a unit, then one bit.
        const __m128i marks =
            _mm_packs_epi16(_mm_cmpeq_epi16(low, line_feed), _mm_cmpeq_epi16(high, line_feed));
        const auto bits = static_cast<uint32_t>(_mm_movemask_epi8(marks));
        found[i / 4] |= uint64_t{bits} << (16 * (i % 4));
      }
      if (!run.put(found[0], found[1])) break;
    }
    started = run;
  }
#endif

#if defined(IPCONV_WIDE_VECTORS)
  // The first 16 units of a line as 16 bytes, for its number (units.h).
  [[gnu::target("avx2"), gnu::always_inline]] static __m128i head_of(__m256i units) {
    if constexpr (kOrder == std::endian::big)
      units = _mm256_or_si256(_mm256_slli_epi16(units, 8), _mm256_srli_epi16(units, 8));
    return _mm_packus_epi16(_mm256_castsi256_si128(units), _mm256_extracti128_si256(units, 1));
  }

  // The same in 32-byte steps, where the processor has them.
  [[gnu::target("avx2,bmi,bmi2")]] static void put_run_avx2(Run& started) {
    Run run = started;
    const __m256i line_feed = _mm256_set1_epi16(kLineFeedLane);
    while (run.more()) {
      uint64_t found[2] = {0, 0};
      // The line's first 16 units.
      const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(run.text));
      // The next lines' units are asked for early (lines_8bit.cpp).
      _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(run.text) + 1024),
                   _MM_HINT_T0);
      for (int quarter = 0; quarter < 4; ++quarter) {
        const char* text = run.text + 64 * quarter;
        char* out = run.out + 64 * quarter;
        const __m256i low =
            quarter == 0 ? first : _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text));
        const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + 32));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), low);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), high);
        // One byte a unit: the packing goes by 128-bit lanes, the
        // permutation puts its quarters back in order.
        const __m256i marks = _mm256_permute4x64_epi64(
            _mm256_packs_epi16(_mm256_cmpeq_epi16(low, line_feed),
                               _mm256_cmpeq_epi16(high, line_feed)),
            0xD8);
        const auto bits = static_cast<uint32_t>(_mm256_movemask_epi8(marks));
        found[quarter / 2] |= uint64_t{bits} << (32 * (quarter % 2));
      }
      const size_t lf = Run::line_feed_bmi(found[0], found[1]);
      if (lf == kShortLine) break;
      const size_t line = run.line_size(lf);
      run.end_line(lf, put_suffix<Units>(run.out + 2 * line,
                                         address_in_head<Units>(head_of(first), run.text, line)));
    }
    started = run;
  }
#endif
};

template <std::endian kOrder>
convert_result convert_in(ByteSource& source, ByteSink& sink, const ConvertOptions& options,
                          const InputStart& start) {
  LineConverter<SixteenBit<kOrder>> converter(source, sink, options);
  return converter.run(&start);
}

}  // namespace

convert_result convert_utf16_lines(ByteSource& source, ByteSink& sink,
                                   const ConvertOptions& options, const InputStart& start,
                                   std::endian order) {
  if (order == std::endian::big) return convert_in<std::endian::big>(source, sink, options, start);
  return convert_in<std::endian::little>(source, sink, options, start);
}

}  // namespace lines
