// Lines of 8-bit text: the steps of a run of whole lines, 16 bytes at a
// time or 32 where the processor has AVX2, and the conversion of such text.
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "ipconv/convert.h"
#include "ipconv/convert/line_converter.h"

namespace lines {

namespace {

struct EightBit {
  using Units = ByteUnits;
  using Run = ShortRun<ByteUnits>;

#if defined(__SSE2__)
  static void put_run_sse2(Run& started) {
    Run run = started;
    const __m128i line_feed = _mm_set1_epi8('\n');
    while (run.more()) {
      uint64_t found[2] = {0, 0};
      for (int i = 0; i < 8; ++i) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(run.text + 16 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(run.out + 16 * i), bytes);
        const auto bits =
            static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, line_feed)));
        found[i / 4] |= uint64_t{bits} << (16 * (i % 4));
      }
      if (!run.put(found[0], found[1])) break;
    }
    started = run;
  }
#endif

#if defined(IPCONV_WIDE_VECTORS)
  // The same in 32-byte steps, where the processor has them.
  [[gnu::target("avx2,bmi,bmi2")]] static void put_run_avx2(Run& started) {
    Run run = started;
    const __m256i line_feed = _mm256_set1_epi8('\n');
    while (run.more()) {
      uint64_t found[2];
      __m128i head;  // the line's first 16 bytes, for its number
      // The next lines' bytes are asked for early: each line's line feed
      // is needed before the next line can be looked at, and the wait for
      // bytes not yet in the first-level cache would add to every line.
      _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(run.text) + 512),
                   _MM_HINT_T0);
      for (int half = 0; half < 2; ++half) {
        const char* text = run.text + 64 * half;
        char* out = run.out + 64 * half;
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text));
        const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + 32));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), low);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), high);
        const auto low_bits =
            static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, line_feed)));
        const auto high_bits =
            static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, line_feed)));
        found[half] = low_bits | uint64_t{high_bits} << 32;
        if (half == 0) head = _mm256_castsi256_si128(low);
      }
      const size_t lf = Run::line_feed_bmi(found[0], found[1]);
      if (lf == kShortLine) break;
      const size_t line = run.line_size(lf);
      run.end_line(lf, put_suffix<ByteUnits>(run.out + line,
                                             address_in_head<ByteUnits>(head, run.text, line)));
    }
    started = run;
  }
#endif
};

}  // namespace

convert_result convert_byte_lines(ByteSource& source, ByteSink& sink,
                                  const ConvertOptions& options, const InputStart* start) {
  LineConverter<EightBit> converter(source, sink, options);
  return converter.run(start);
}

}  // namespace lines

uint32_t line_address(const char* text, size_t size) {
  return lines::address_of<lines::ByteUnits>(text, size);
}

char* append_suffix(char* out, uint32_t address) {
  return lines::put_suffix<lines::ByteUnits>(out, address);
}
