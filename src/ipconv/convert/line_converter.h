// The line converter, the same for units of either width (units.h) over
// the blocks of block_conversion.h. The input is seen as text: a CR right
// before an LF is dropped, and where the platform's text input ends at
// Ctrl+Z, so does the input. A line longer than kLinePieceMax units is
// converted piece by piece. Whole lines of up to kShortLine units go in
// runs, in steps each width gives (lines_8bit.cpp, lines_16bit.cpp).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

#include "ipconv/convert.h"
#include "ipconv/convert/block_conversion.h"
#include "ipconv/convert/number_read.h"
#include "ipconv/convert/suffix.h"
#include "ipconv/convert/units.h"

namespace lines {

// Whole lines are looked through 32 bytes at a time (AVX2, where the
// processor has it; use_wide_line_steps).
extern bool g_wide_vectors;

struct TwoWords {
  uint64_t w[2];
};

// What every line of a run needs, held in locals for the whole run:
// stores of line bytes might change members, so each line would read them
// again.
template <class U>
struct ShortRun {
  static constexpr size_t kUnit = U::kSize;
  char* out;
  char* out_last;         // past it, a short line with its suffix may not fit
  const char* text;
  const char* text_last;  // the last place with kShortLine units to look at
  std::conditional_t<kUnit == 1, uint64_t, TwoWords> eol;  // the line end, stored whole
  size_t eol_len;

  bool more() const { return text <= text_last && out <= out_last; }

  // Where the first line feed is, from bit i of `low` and `high` for one
  // at unit i and 64 + i: kShortLine when there is none.
  [[gnu::always_inline]] static size_t line_feed(uint64_t low, uint64_t high) {
    // Without a branch on which half: where the line feed falls varies
    // from line to line.
    const size_t in_low = std::countr_zero(low);  // 64 without one
    return in_low + (std::countr_zero(high) & (0 - (in_low >> 6)));
  }
#if defined(IPCONV_WIDE_VECTORS)
  // The same with tzcnt, whose 64 for no bit leaves the compiler no
  // branch to add for it.
  [[gnu::target("bmi"), gnu::always_inline]] static size_t line_feed_bmi(uint64_t low,
                                                                        uint64_t high) {
    const uint64_t in_low = _tzcnt_u64(low);
    return in_low + (_tzcnt_u64(high) & (0 - (in_low >> 6)));
  }
#endif

  // The size in units of the line ended by the line feed at unit `lf`.
  [[gnu::always_inline]] size_t line_size(size_t lf) const {
    return lf > 0 && U::at(text + (lf - 1) * kUnit) == '\r' ? lf - 1 : lf;
  }

  // Ends that line, copied to `out` already with its suffix up to `end`,
  // and goes to the next.
  [[gnu::always_inline]] void end_line(size_t lf, char* end) {
    std::memcpy(end, &eol, sizeof eol);
    out = end + eol_len;
    text += (lf + 1) * kUnit;
  }

  // The line whose line feeds are marked in `low` and `high`; false,
  // with nothing done, when there is none.
  [[gnu::always_inline]] bool put(uint64_t low, uint64_t high) {
    const size_t lf = line_feed(low, high);
    if (lf == kShortLine) return false;
    const size_t line = line_size(lf);
    end_line(lf, put_suffix<U>(out + line * kUnit, address_in_run<U>(text, line)));
    return true;
  }
};

// W: the width, with its Units and the steps of its runs, put_run_sse2
// and put_run_avx2 (ShortRun<Units>&).
template <class W>
class LineConverter final : public BlockConversion {
  using U = typename W::Units;
  static constexpr size_t kUnit = U::kSize;
  static constexpr size_t kShortBytes = kShortLine * kUnit;
  static constexpr size_t kSuffixRoom = kSuffixMax * kUnit;

 public:
  LineConverter(ByteSource& source, ByteSink& sink, const ConvertOptions& options)
      : BlockConversion(source, sink, options, kUnit),
        eol_len_(std::strlen(options.line_end) * kUnit),
        piece_(piece_buffer(kUnit, (kLinePieceMax + 1) * kUnit + kCopySlack)) {
    for (const char* c = options.line_end; *c != 0; ++c) {
      char unit[kUnit];
      U::put(unit, static_cast<unsigned char>(*c));
      eol_text_.append(unit, kUnit);
    }
    if (eol_len_ <= sizeof eol_) std::memcpy(eol_, eol_text_.data(), eol_len_);
  }

 private:
  bool clean() const { return piece_len_ == 0 && !piece_full_ && !pending_cr_; }

  bool convert_block(const char* data, size_t size) override {
    // Where text input ends at Ctrl+Z, the block is only read up to the
    // first one.
    bool ended = false;
    if (options_.ends_at_ctrl_z) {
      if (const char* ctrl_z = U::find(data, size / kUnit, 0x1A)) {
        size = static_cast<size_t>(ctrl_z - data);
        ended = true;
      }
    }
    size_t pos = 0;
    while (pos < size && !failed_write_) {
      // Whole lines as long as the block has them. The first line, which
      // may begin with a byte-order mark, goes unit by unit.
      if (clean() && !first_line_) {
        while (!failed_write_) {
          // Most lines go in runs; the line that stops a run goes below.
          pos = put_short_lines(data, pos, size);
          const char* nl = U::find(data + pos, (size - pos) / kUnit, '\n');
          if (!nl) break;
          const size_t lf = static_cast<size_t>(nl - data);
          size_t end = lf;
          if (end > pos && U::at(data + end - kUnit) == '\r') end -= kUnit;
          if ((end - pos) / kUnit > kLinePieceMax) break;
          put_line(data + pos, (end - pos) / kUnit, 0);
          pos = lf + kUnit;
        }
        if (failed_write_) break;
      }
      // Unit by unit until the next line starts cleanly or the block ends.
      while (pos < size) {
        const unsigned unit = U::at(data + pos);
        pos += kUnit;
        feed_raw(unit);
        if (unit == '\n' && clean()) break;
      }
    }
    return ended;
  }

  void feed_raw(unsigned unit) {
    if (pending_cr_) {
      pending_cr_ = false;
      if (unit == '\n') {
        feed_char('\n');
        return;
      }
      feed_char('\r');
    }
    if (unit == '\r') {
      pending_cr_ = true;
      return;
    }
    feed_char(unit);
  }

  void feed_char(unsigned unit) {
    if (piece_full_) {
      emit_piece();
      // The line feed right after a full piece ends that piece; it is not a
      // line of its own.
      if (unit == '\n') return;
    }
    if (unit == '\n') {
      emit_piece();
      return;
    }
    U::put(piece_ + piece_len_++ * kUnit, unit);
    if (piece_len_ == kLinePieceMax) piece_full_ = true;
  }

  void emit_piece() {
    emit(piece_, piece_len_);
    piece_len_ = 0;
    piece_full_ = false;
  }

  void finish() override {
    if (pending_cr_) {
      pending_cr_ = false;
      feed_char('\r');
    }
    if (piece_full_ || piece_len_ > 0) emit_piece();
  }

  // A line that may be the first, with a byte-order mark.
  [[gnu::noinline]] void emit(const char* text, size_t count) {
    size_t mark = 0;
    if (first_line_) {
      first_line_ = false;
      mark = U::mark_units(text, count);
    }
    put_line(text, count, mark);
  }

  // The converted line of `count` units, its number read after the first
  // `mark` units. `text` lies in the input or piece buffer, which have
  // kCopySlack bytes to spare after their end.
  [[gnu::always_inline]] void put_line(const char* text, size_t count, size_t mark) {
    const size_t size = count * kUnit;
    if (out_len_ + size + kSuffixRoom + eol_len_ > kBlock) flush();
    char* out = out_block() + out_len_;
    // The line goes in copies of 16 bytes, which may take bytes past it;
    // the suffix overwrites them, or the next line does.
    if (size <= kShortBytes && out_len_ + kShortBytes <= kBlock) {
      for (size_t done = 0; done < kShortBytes; done += 16)
        std::memcpy(out + done, text + done, 16);
    } else {
      for (size_t done = 0; done < size; done += 16) std::memcpy(out + done, text + done, 16);
    }
    end_line(out + size, text + mark * kUnit, count - mark);
  }

  // Appends the suffix and line end after the line copied to `out`.
  [[gnu::always_inline]] void end_line(char* out, const char* number, size_t count) {
    out = put_suffix<U>(out, address_of<U>(number, count));
    // A whole word is stored for the line end: the suffix took at most 41
    // of the kSuffixMax units kept free for it.
    if (eol_len_ <= sizeof eol_)
      std::memcpy(out, eol_, sizeof eol_);
    else
      std::memcpy(out, eol_text_.data(), eol_len_);
    out_len_ = static_cast<size_t>(out + eol_len_ - out_block());
  }

  // The lines from `pos` on, as long as each ends within the kShortLine
  // units there and fits the output block with room to spare: those units
  // are copied to the output and looked through for the line feed in one
  // pass. Returns where the first other line starts.
  [[gnu::always_inline]] size_t put_short_lines(const char* data, size_t pos, size_t size) {
#if defined(__SSE2__)
    if (size - pos < kShortBytes || eol_len_ > sizeof eol_) return pos;
    char* const block = out_block();
    ShortRun<U> run;
    run.out = block + out_len_;
    run.out_last = block + kBlock - (kShortBytes + kSuffixRoom + sizeof eol_);
    run.text = data + pos;
    run.text_last = data + size - kShortBytes;
    std::memcpy(&run.eol, eol_, sizeof run.eol);
    run.eol_len = eol_len_;
#if defined(IPCONV_WIDE_VECTORS)
    if (g_wide_vectors)
      W::put_run_avx2(run);
    else
#endif
      W::put_run_sse2(run);
    out_len_ = static_cast<size_t>(run.out - block);
    return static_cast<size_t>(run.text - data);
#else
    (void)data;
    (void)size;
    return pos;
#endif
  }

  const size_t eol_len_;  // in bytes
  std::string eol_text_;  // the line end in units
  char eol_[8 * kUnit] = {};  // the same, when it fits
  char* const piece_;  // the thread's, reused by every file of this width
  size_t piece_len_ = 0;  // in units
  bool piece_full_ = false;
  bool pending_cr_ = false;
  bool first_line_ = true;
};

// The conversions of each width.
convert_result convert_byte_lines(ByteSource& source, ByteSink& sink,
                                  const ConvertOptions& options, const InputStart* start);
convert_result convert_utf16_lines(ByteSource& source, ByteSink& sink,
                                   const ConvertOptions& options, const InputStart& start,
                                   std::endian order);

}  // namespace lines
