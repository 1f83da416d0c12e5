#include "ipconv/convert.h"

#include <bit>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#if defined(__SSE2__)
#include <emmintrin.h>
#if defined(__GNUC__)
// 32-byte steps chosen at run time; the build itself assumes no more than
// SSE2.
#define IPCONV_WIDE_VECTORS
#include <immintrin.h>
#endif
#endif

#include "framework/paths.h"
#include "framework/walk.h"
#include "ipconv/block_writer.h"
#include "ipconv/file_notes.h"
#include "platform/platform.h"

std::u16string pg_complete_path;
std::u16string cur_dir;
std::u16string cur_fname;
int g_conversion_status = 0;

namespace {

bool is_c_space(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

void note_status(int status) {
  if (status > g_conversion_status) g_conversion_status = status;
}

std::string shown(const std::u16string& path) {
  return plat::to_native(without_long_prefix(path));
}

}  // namespace

namespace {

// Eight bytes as one word, the first byte in the lowest bits.
uint64_t load_word(const unsigned char* p) {
  uint64_t word;
  std::memcpy(&word, p, 8);
  if constexpr (std::endian::native == std::endian::big) {
    uint64_t swapped = 0;
    for (int i = 0; i < 8; ++i) swapped |= ((word >> (8 * i)) & 0xFF) << (8 * (7 - i));
    word = swapped;
  }
  return word;
}

constexpr uint64_t kEachByte = 0x0101010101010101;

// Digit values of eight characters (each byte '0'..'9' made 0..9; other
// bytes become values of 10 and more) and where the leading digits end:
// 8 times their count, plus 7.
struct DigitRun {
  uint64_t values;
  unsigned end_bit;
  unsigned count() const { return end_bit / 8; }
};
DigitRun digit_run(uint64_t word) {
  const uint64_t values = word ^ (kEachByte * '0');
  // The high bit of a byte is set where its value is 10 or more; no carry
  // crosses a byte.
  const uint64_t other = (((values & (kEachByte * 0x7F)) + kEachByte * (0x80 - 10)) | values) &
                         (kEachByte * 0x80);
  return {values, other == 0 ? 71u : static_cast<unsigned>(std::countr_zero(other))};
}

// The number of eight digit values.
uint64_t eight_digits_value(uint64_t v) {
  // Pairs of digits, then of pairs, then of quads: each step multiplies
  // the first of two neighbours and adds the second in one product.
  v = ((v * (10 * 256 + 1)) >> 8) & 0x00FF00FF00FF00FF;
  v = ((v * (100 * 65536 + 1)) >> 16) & 0x0000FFFF0000FFFF;
  return (v * (10000 * (uint64_t{1} << 32) + 1)) >> 32;
}

// The number of the leading digits (1 to 8) of a run.
uint64_t digits_value(const DigitRun& run) {
  // Moved to the top, the digits get leading zeros in front.
  return eight_digits_value(run.values << (71 - run.end_bit));
}

constexpr uint64_t kPowersOfTen[9] = {1,      10,      100,      1000,     10000,
                                      100000, 1000000, 10000000, 100000000};

// Two's complement of the magnitude keeps the low 32 bits right for
// negative numbers, the most negative one included.
uint32_t low_bits(uint64_t magnitude, bool negative) {
  return static_cast<uint32_t>(negative ? ~magnitude + 1 : magnitude);
}

// The digits from `p` on, after `digits` of them gave `value`.
[[gnu::noinline]] uint32_t more_digits(const unsigned char* p, const unsigned char* end,
                                       uint64_t value, int digits, bool negative) {
  // Up to 18 digits cannot leave the 64-bit range; only longer numbers
  // need the clamp, and they take the careful path.
  for (; p != end && *p >= '0' && *p <= '9' && digits < 18; ++p, ++digits)
    value = value * 10 + (*p - '0');
  if (p != end && *p >= '0' && *p <= '9') {
    const uint64_t limit = negative ? (uint64_t{1} << 63) : (uint64_t{1} << 63) - 1;
    for (; p != end && *p >= '0' && *p <= '9'; ++p) {
      const unsigned digit = *p - '0';
      if (value > (limit - digit) / 10) {
        value = limit;
        break;
      }
      value = value * 10 + digit;
    }
  }
  return low_bits(value, negative);
}

// line_address, short enough to be part of the line loop.
[[gnu::always_inline]] inline uint32_t address_of(const char* text, size_t size) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* end = p + size;
  bool negative = false;
  if (size == 0 || static_cast<unsigned char>(*p - '0') > 9) {  // most lines start with a digit
    while (p != end && is_c_space(*p)) ++p;
    if (p != end && (*p == '+' || *p == '-')) {
      negative = *p == '-';
      ++p;
    }
  }
  // With 16 bytes at hand, the digits are read a word at a time; 16 digits
  // stay far inside the 64-bit range.
  if (end - p < 16) return more_digits(p, end, 0, 0, negative);
  const DigitRun first = digit_run(load_word(p));
  if (first.count() < 8)
    return low_bits(first.count() == 0 ? 0 : digits_value(first), negative);
  const DigitRun second = digit_run(load_word(p + 8));
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
  return more_digits(p + 16, end, value, 16, negative);
}

// address_of for a line followed by a line end (not a digit) within the
// 16 bytes from its start can be read: most numbers need no bounds. Its
// steps are written out again on purpose: shared through one inline
// function, the compiler gave the line loop some 17 more instructions a
// line.
[[gnu::always_inline]] inline uint32_t address_in_run(const char* text, size_t size) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  if (static_cast<unsigned char>(*p - '0') > 9) return address_of(text, size);
  // The digits end at the line's end at the latest.
  const DigitRun first = digit_run(load_word(p));
  if (first.count() < 8) return static_cast<uint32_t>(digits_value(first));
  const DigitRun second = digit_run(load_word(p + 8));
  uint64_t value = eight_digits_value(first.values);
  if (second.count() <= 2) {
    const uint64_t ninth = second.values & 0xFF;
    const uint64_t tenth = (second.values >> 8) & 0xFF;
    const uint64_t nine = value * 10 + ninth;
    return static_cast<uint32_t>(second.count() == 2 ? nine * 10 + tenth
                                 : second.count() == 1 ? nine
                                                       : value);
  }
  value = value * kPowersOfTen[second.count()] + digits_value(second);
  if (second.count() < 8) return static_cast<uint32_t>(value);
  return more_digits(p + 16, p + size, value, 16, false);
}

#if defined(IPCONV_WIDE_VECTORS)
// Where a line's first 16 bytes are at hand in a register, its digits are
// read from there in a few steps, whatever their count, without a branch
// on it: 9 and 10 digits are both common, and the word steps above tell
// them apart by a branch that fails one line in five.
//
// Byte i of kAlignDigits + n is the place, among n digits, of the digit
// that goes to byte i when they are moved to the last bytes of 16; 0x80
// makes a zero.
alignas(32) constexpr unsigned char kAlignDigits[32] = {
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
    0,    1,    2,    3,    4,    5,    6,    7,    8,    9,    10,   11,   12,   13,   14,   15};

[[gnu::target("avx2,bmi,bmi2"), gnu::always_inline]] inline uint32_t address_in_head(
    __m128i head, const char* text, size_t size) {
  const __m128i values = _mm_sub_epi8(head, _mm_set1_epi8('0'));
  const __m128i nine = _mm_set1_epi8(9);
  const auto digits = static_cast<unsigned>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(values, nine), nine)));
  const unsigned count = _tzcnt_u32(~digits);
  // No digit first (a sign, a space) or 16 and more of them.
  if (count - 1 >= 15) return address_in_run(text, size);
  const __m128i aligned = _mm_shuffle_epi8(
      values, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kAlignDigits + count)));
  // Pairs of digits, then fours, then eights, as 10 * first + second.
  const __m128i pairs = _mm_maddubs_epi16(aligned, _mm_set1_epi16(0x010A));
  const __m128i fours = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00010064));
  const __m128i eights = _mm_madd_epi16(_mm_packs_epi32(fours, fours), _mm_set1_epi32(0x00012710));
  const auto both = static_cast<uint64_t>(_mm_cvtsi128_si64(eights));
  // Only the low 32 bits are kept, so 32-bit products do.
  return static_cast<uint32_t>(both) * 100000000u + static_cast<uint32_t>(both >> 32);
}
#endif

}  // namespace

uint32_t line_address(const char* text, size_t size) { return address_of(text, size); }

namespace {

// The texts of every byte value: two hexadecimal digits, and the decimal
// digits with a dot after them ("7.", "42.", "255.") with their length. One
// entry holds both, so that each octet of the suffix is one look-up.
struct OctetText {
  char hex[2];
  char dotted[4];
  unsigned char dotted_size;
  char unused;  // eight bytes an entry make the look-up a plain index
};
struct OctetTexts {
  OctetText of[256];
  OctetTexts() {
    static const char kHex[] = "0123456789ABCDEF";
    for (unsigned v = 0; v < 256; ++v) {
      OctetText& t = of[v];
      t.hex[0] = kHex[v >> 4];
      t.hex[1] = kHex[v & 0xF];
      unsigned n = 0;
      if (v >= 100) t.dotted[n++] = static_cast<char>('0' + v / 100);
      if (v >= 10) t.dotted[n++] = static_cast<char>('0' + v / 10 % 10);
      t.dotted[n++] = static_cast<char>('0' + v % 10);
      t.dotted[n++] = '.';
      for (unsigned i = n; i < 4; ++i) t.dotted[i] = 0;
      t.dotted_size = static_cast<unsigned char>(n);
    }
  }
};
const OctetTexts kOctetTexts;

[[gnu::always_inline]] inline char* put_suffix(char* out, uint32_t address) {
  // Whole words are stored and partly overwritten by the next; nothing is
  // stored past out + 41, inside kSuffixMax.
  std::memcpy(out, "|Hex|\0\0\0", 8);
  std::memcpy(out + 13, "|IP-decimal|", 12);
  char* dotted = out + 25;
  for (int i = 0; i < 4; ++i) {
    const OctetText& t = kOctetTexts.of[(address >> (24 - 8 * i)) & 0xFF];
    std::memcpy(out + 5 + 2 * i, t.hex, 2);
    std::memcpy(dotted, t.dotted, 4);
    dotted += t.dotted_size;
  }
  return dotted - 1;  // no dot after the last octet
}

}  // namespace

char* append_suffix(char* out, uint32_t address) { return put_suffix(out, address); }

namespace {

#if defined(IPCONV_WIDE_VECTORS)
bool wide_vectors_here() {
  __builtin_cpu_init();  // may run before the runtime's own initialisation
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
         __builtin_cpu_supports("bmi2");
}
const bool kWideVectorsHere = wide_vectors_here();
bool g_wide_vectors = kWideVectorsHere;
#endif

constexpr size_t kBlock = kConvertBlock;
// Output blocks besides the one being filled: written meanwhile, or free.
constexpr size_t kSpareBlocks = 2;
static_assert(kSpareBlocks < BlockWriter::kQueueMax);
// A line of up to kShortLine bytes is copied in a fixed number of 16-byte
// copies, without a loop whose end depends on the line. The input and piece
// buffers have that much room after their end; what is copied past the
// line is overwritten or left past the output length, never written.
constexpr size_t kShortLine = 128;
constexpr size_t kCopySlack = kShortLine;

// Reads the input in blocks and writes the converted lines in blocks. The
// input is seen as text: a CR right before an LF is dropped, and where the
// platform's text input ends at Ctrl+Z, so does the input. A line longer
// than kLinePieceMax characters is converted piece by piece. Past the
// first output block, the blocks are written on a thread of its own while
// the next block is converted; the blocks go round, none is copied.
class LineConverter {
 public:
  LineConverter(ByteSource& source, ByteSink& sink, const ConvertOptions& options)
      : source_(source), sink_(sink), options_(options), eol_len_(std::strlen(options.line_end)) {
    input_buffer();
    if (!out_) out_.reset(new char[kBlock]);
    if (!piece_) piece_.reset(new char[kLinePieceMax + 1 + kCopySlack]);
    if (eol_len_ <= sizeof eol_) std::memcpy(eol_, options.line_end, eol_len_);
  }

  static char* input_buffer() {
    if (!in_) in_.reset(new char[kBlock + kCopySlack]);
    return in_.get();
  }

  convert_result run(const InputStart* start) {
    out_len_ = 0;
    piece_len_ = 0;
    piece_full_ = false;
    pending_cr_ = false;
    failed_write_ = false;
    first_line_ = true;
    writer_ = nullptr;
    // However the conversion ends, nothing is written after it.
    struct Drained {
      LineConverter& converter;
      ~Drained() {
        if (converter.writer_ != nullptr) converter.writer_->drain();
      }
    } drained{*this};
    bool ended = false;
    if (start != nullptr) {
      if (start->failed) return convert_result::read_failed;
      ended = start->size > 0 && convert_block(start->data, start->size);
      if (!ended && !start->ended) write_if_paused(start->size);
      if (failed_write_) return convert_result::write_failed;
      ended = ended || start->ended;
    }
    while (!ended) {
      bool last = false;
      const long long got = read_block(last);
      // A write that failed before the read did is what is reported, as
      // when the two took turns.
      if (got < 0) return writes_done() ? convert_result::read_failed : convert_result::write_failed;
      if (got == 0) break;
      ended = convert_block(in_.get(), static_cast<size_t>(got));
      if (!ended) write_if_paused(static_cast<size_t>(got));
      if (failed_write_) return convert_result::write_failed;
      ended = ended || last;
    }
    finish();
    if (!failed_write_ && out_len_ > 0) {
      if (writer_ != nullptr)
        hand_over();
      else
        write_here();
    }
    if (!writes_done()) failed_write_ = true;
    return failed_write_ ? convert_result::write_failed : convert_result::ok;
  }

 private:
  bool clean() const { return piece_len_ == 0 && !piece_full_ && !pending_cr_; }

  // Returns true when the input ended inside the block (Ctrl+Z).
  bool convert_block(const char* data, size_t size) {
    // Where text input ends at Ctrl+Z, the block is only read up to the
    // first one.
    bool ended = false;
    if (options_.ends_at_ctrl_z) {
      if (const void* ctrl_z = std::memchr(data, 0x1A, size)) {
        size = static_cast<size_t>(static_cast<const char*>(ctrl_z) - data);
        ended = true;
      }
    }
    size_t pos = 0;
    while (pos < size && !failed_write_) {
      // Whole lines as long as the block has them. The first line, which
      // may begin with a byte-order mark, goes byte by byte.
      if (clean() && !first_line_) {
        while (!failed_write_) {
          // Most lines go in runs; the line that stops a run goes below.
          pos = put_short_lines(data, pos, size);
          const char* nl = static_cast<const char*>(std::memchr(data + pos, '\n', size - pos));
          if (!nl) break;
          const size_t lf = static_cast<size_t>(nl - data);
          size_t end = lf;
          if (end > pos && data[end - 1] == '\r') --end;
          if (end - pos > kLinePieceMax) break;
          put_line(data + pos, end - pos, 0);
          pos = lf + 1;
        }
        if (failed_write_) break;
      }
      // Byte by byte until the next line starts cleanly or the block ends.
      while (pos < size) {
        const unsigned char byte = static_cast<unsigned char>(data[pos++]);
        feed_raw(byte);
        if (byte == '\n' && clean()) break;
      }
    }
    return ended;
  }

  void feed_raw(unsigned char byte) {
    if (pending_cr_) {
      pending_cr_ = false;
      if (byte == '\n') {
        feed_char('\n');
        return;
      }
      feed_char('\r');
    }
    if (byte == '\r') {
      pending_cr_ = true;
      return;
    }
    feed_char(byte);
  }

  void feed_char(unsigned char c) {
    if (piece_full_) {
      emit_piece();
      // The line feed right after a full piece ends that piece; it is not a
      // line of its own.
      if (c == '\n') return;
    }
    if (c == '\n') {
      emit_piece();
      return;
    }
    piece_[piece_len_++] = static_cast<char>(c);
    if (piece_len_ == kLinePieceMax) piece_full_ = true;
  }

  void emit_piece() {
    emit(piece_.get(), piece_len_);
    piece_len_ = 0;
    piece_full_ = false;
  }

  void finish() {
    if (pending_cr_) {
      pending_cr_ = false;
      feed_char('\r');
    }
    if (piece_full_ || piece_len_ > 0) emit_piece();
  }

  // A line that may be the first, with a UTF-8 byte-order mark.
  [[gnu::noinline]] void emit(const char* text, size_t size) {
    size_t mark = 0;
    if (first_line_) {
      first_line_ = false;
      if (size >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) mark = 3;
    }
    put_line(text, size, mark);
  }

  // The converted line, its number read after the first `mark` bytes.
  // `text` lies in the input or piece buffer, which have kCopySlack bytes
  // to spare after their end.
  [[gnu::always_inline]] void put_line(const char* text, size_t size, size_t mark) {
    if (out_len_ + size + kSuffixMax + eol_len_ > kBlock) flush();
    char* out = out_.get() + out_len_;
    // The line goes in copies of 16 bytes, which may take bytes past it;
    // the suffix overwrites them, or the next line does.
    if (size <= kShortLine && out_len_ + kShortLine <= kBlock) {
      for (size_t done = 0; done < kShortLine; done += 16) std::memcpy(out + done, text + done, 16);
    } else {
      for (size_t done = 0; done < size; done += 16) std::memcpy(out + done, text + done, 16);
    }
    end_line(out + size, text + mark, size - mark);
  }

  // Appends the suffix and line end after the line copied to `out`.
  [[gnu::always_inline]] void end_line(char* out, const char* number, size_t size) {
    out = put_suffix(out, address_of(number, size));
    // A whole word is stored for the line end: the suffix took at most 41
    // of the kSuffixMax bytes kept free for it.
    if (eol_len_ <= sizeof eol_)
      std::memcpy(out, eol_, sizeof eol_);
    else
      std::memcpy(out, options_.line_end, eol_len_);
    out_len_ = static_cast<size_t>(out + eol_len_ - out_.get());
  }

  // The lines from `pos` on, as long as each ends within the kShortLine
  // bytes there and fits the output block with room to spare: those bytes
  // are copied to the output and looked through for the line feed in one
  // pass. Returns where the first other line starts.
  [[gnu::always_inline]] size_t put_short_lines(const char* data, size_t pos, size_t size) {
#if defined(__SSE2__)
    if (size - pos < kShortLine || eol_len_ > sizeof eol_) return pos;
    char* const block = out_.get();
    ShortRun run;
    run.out = block + out_len_;
    run.out_last = block + kBlock - (kShortLine + kSuffixMax + sizeof eol_);
    run.text = data + pos;
    run.text_last = data + size - kShortLine;
    std::memcpy(&run.eol, eol_, sizeof run.eol);
    run.eol_len = eol_len_;
#if defined(IPCONV_WIDE_VECTORS)
    if (g_wide_vectors)
      put_run_avx2(run);
    else
#endif
      put_run_sse2(run);
    out_len_ = static_cast<size_t>(run.out - block);
    return static_cast<size_t>(run.text - data);
#else
    (void)data;
    (void)size;
    return pos;
#endif
  }

#if defined(__SSE2__)
  // What every line of a run needs, held in locals for the whole run:
  // stores of line bytes might change members, so each line would read
  // them again.
  struct ShortRun {
    char* out;
    char* out_last;         // past it, a short line with its suffix may not fit
    const char* text;
    const char* text_last;  // the last place with kShortLine bytes to look at
    uint64_t eol;           // the line end, stored as a whole word
    size_t eol_len;

    bool more() const { return text <= text_last && out <= out_last; }

    // Where the first line feed is, from bit i of `low` and `high` for one
    // at text[i] and text[64 + i]: kShortLine when there is none.
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

    // The size of the line ended by the line feed at text[lf].
    [[gnu::always_inline]] size_t line_size(size_t lf) const {
      return lf > 0 && text[lf - 1] == '\r' ? lf - 1 : lf;
    }

    // Ends that line, copied to `out` already with its suffix up to `end`,
    // and goes to the next.
    [[gnu::always_inline]] void end_line(size_t lf, char* end) {
      std::memcpy(end, &eol, sizeof eol);
      out = end + eol_len;
      text += lf + 1;
    }

    // The line whose line feeds are marked in `low` and `high`; false,
    // with nothing done, when there is none.
    [[gnu::always_inline]] bool put(uint64_t low, uint64_t high) {
      const size_t lf = line_feed(low, high);
      if (lf == kShortLine) return false;
      const size_t line = line_size(lf);
      end_line(lf, put_suffix(out + line, address_in_run(text, line)));
      return true;
    }
  };

  static void put_run_sse2(ShortRun& started) {
    ShortRun run = started;
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
  [[gnu::target("avx2,bmi,bmi2")]] static void put_run_avx2(ShortRun& started) {
    ShortRun run = started;
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
      const size_t lf = ShortRun::line_feed_bmi(found[0], found[1]);
      if (lf == kShortLine) break;
      const size_t line = run.line_size(lf);
      run.end_line(lf, put_suffix(run.out + line, address_in_head(head, run.text, line)));
    }
    started = run;
  }
#endif

  void write_if_paused(size_t got) {
    if (options_.write_when_input_pauses && got < kBlock && out_len_ > 0) flush();
  }

  void flush() {
    // After a failed write the rest is dropped, but the block is still
    // emptied: pieces of a long line keep coming until the block ends.
    // Lines that must go out as they come are written at once.
    if (!failed_write_) {
      if (options_.write_when_input_pauses)
        write_here();
      else
        hand_over();
    }
    out_len_ = 0;
  }

  // The next input block; `last`: the source knows no more follows.
  long long read_block(bool& last) {
    const long long got = source_.read(in_.get(), kBlock);
    last = source_.exhausted();
    return got;
  }

  void write_here() {
    if (!sink_.write(out_.get(), out_len_)) failed_write_ = true;
  }

  // Queues the full block and goes on in the next one, once it is free. A
  // write that failed meanwhile is learnt here, at the latest.
  void hand_over() {
    if (writer_ == nullptr && !start_writer()) {
      write_here();
      return;
    }
    if (!writer_->post(sink_, out_.get(), out_len_)) {
      failed_write_ = true;
      return;
    }
    std::swap(out_, spare_[next_spare_]);
    next_spare_ = (next_spare_ + 1) % kSpareBlocks;
    // The block now to be filled is the one queued longest ago.
    if (!writer_->wait(kSpareBlocks)) failed_write_ = true;
  }

  // The first output of the run larger than a block starts the writer and
  // takes its blocks; without them the blocks are written here.
  bool start_writer() {
    for (auto& spare : spare_)
      if (!spare) spare.reset(new (std::nothrow) char[kBlock]);
    for (auto& spare : spare_)
      if (!spare) return false;
    writer_ = BlockWriter::get();
    if (writer_ == nullptr) return false;
    writer_->reset();
    return true;
  }

  // Waits for the blocks queued; false when one of them failed.
  bool writes_done() { return writer_ == nullptr || writer_->wait(0); }

  ByteSource& source_;
  ByteSink& sink_;
  const ConvertOptions& options_;
  const size_t eol_len_;
  char eol_[8] = {};  // the line end, when it fits
  // Reused by every file: one allocation for the whole run.
  static inline std::unique_ptr<char[]> in_, out_, piece_;
  static inline std::unique_ptr<char[]> spare_[kSpareBlocks];
  static inline size_t next_spare_ = 0;
  BlockWriter* writer_ = nullptr;   // in use by this output
  size_t out_len_ = 0;
  size_t piece_len_ = 0;
  bool piece_full_ = false;
  bool pending_cr_ = false;
  bool failed_write_ = false;
  bool first_line_ = true;
};

struct FileSource final : ByteSource {
  explicit FileSource(plat::File& f) : file(f) {}
  long long read(char* buffer, size_t size) override { return file.read(buffer, size); }
  bool exhausted() const override { return file.at_end(); }
  plat::File& file;
};

struct FileSink final : ByteSink {
  explicit FileSink(plat::File& f) : file(f) {}
  bool write(const char* data, size_t size) override { return file.write_all(data, size); }
  plat::File& file;
};

}  // namespace

bool InputStart::utf16() const {
  if (size < 2) return false;
  const auto* p = reinterpret_cast<const unsigned char*>(data);
  return (p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF);
}

InputStart read_input_start(ByteSource& source) {
  InputStart start;
  char* buffer = LineConverter::input_buffer();
  start.data = buffer;
  // A file gives its first block at once; a pipe may give a single byte,
  // too little to tell a UTF-16 mark, so it is asked again for that case.
  do {
    const long long got = source.read(buffer + start.size, kBlock - start.size);
    if (got < 0) {
      start.failed = true;
      break;
    }
    if (got == 0) {
      start.ended = true;
      break;
    }
    start.size += static_cast<size_t>(got);
    if (source.exhausted()) {
      start.ended = true;
      break;
    }
  } while (start.size == 1 && (buffer[0] == '\xFF' || buffer[0] == '\xFE'));
  return start;
}

convert_result convert_stream(ByteSource& source, ByteSink& sink, const ConvertOptions& options,
                              const InputStart* start) {
  LineConverter converter(source, sink, options);
  return converter.run(start);
}

bool use_wide_line_steps(bool wanted) {
#if defined(IPCONV_WIDE_VECTORS)
  g_wide_vectors = wanted && kWideVectorsHere;
  return g_wide_vectors;
#else
  (void)wanted;
  return false;
#endif
}

void process_file(const std::u16string* name, const std::u16string& directory) {
  if (name == nullptr) return;  // a directory handed over by the walk
  if (*name == u"." || *name == u"..") return;
  pg_complete_path = directory;
  pg_complete_path += *name;

  {
    plat::DirSearch lookup;
    plat::FindData found;
    if (!lookup.start(pg_complete_path, found, /*details=*/false) &&
        find_by_wildcard(found, pg_complete_path, *name) != 0) {
      report_not_regular(pg_complete_path);
      return;
    }
  }

  const size_t cut = name_start(pg_complete_path);
  cur_dir.assign(pg_complete_path, 0, cut);
  cur_fname.assign(pg_complete_path, cut);
  const size_t dot = cur_fname.rfind(u'.');
  if (dot != std::u16string::npos) cur_fname.resize(dot);
  convert_file();
}

void convert_file() {
  std::u16string output_name = cur_dir;
  output_name += cur_fname;
  output_name += u".IP";

  // Opening the output would destroy the input: an .IP file met again by
  // "*.*", or another name of the same file. The name is told at once;
  // another name of the file when the output begins, from the open input,
  // or by the paths before any other report about the input.
  auto own_output = [&output_name](bool by_paths) {
    if (by_paths && !plat::same_file(output_name, pg_complete_path)) return false;
    std::fprintf(stderr, "\nSkipped %s: it is its own output file\n",
                 shown(pg_complete_path).c_str());
    return true;
  };
  if (plat::same_dir_name(output_name, pg_complete_path)) {
    own_output(false);
    return;
  }

  plat::File input;
  if (!plat::open_read(pg_complete_path, input)) {
    const std::string reason = plat::last_error_text();
    if (own_output(true) || report_not_regular(pg_complete_path)) return;
    std::fprintf(stderr, "\nCan't open input file %s: %s\n", shown(pg_complete_path).c_str(),
                 reason.c_str());
    note_status(2);
    return;
  }
  // The first block tells UTF-16 text before any output exists for it.
  FileSource source(input);
  const InputStart start = read_input_start(source);
  if (start.failed || start.utf16()) {
    const std::string reason = plat::last_error_text();
    if (own_output(true)) return;
    if (start.failed)
      std::fprintf(stderr, "\nError reading input file %s: %s\n", shown(pg_complete_path).c_str(),
                   reason.c_str());
    else
      std::fprintf(stderr, "\nSkipped %s: UTF-16 text is not read\n",
                   shown(pg_complete_path).c_str());
    note_status(2);
    return;
  }
  // The output gets its name only when complete, so an earlier .IP
  // survives any failure and no walk meets a partial one.
  plat::PendingOutput output;
  const plat::begin_result begun = plat::begin_output(output_name, output, &input);
  if (begun == plat::begin_result::same_file) {
    own_output(false);
    return;
  }
  if (begun != plat::begin_result::ok) {
    std::fprintf(stderr, "\nCan't create output file %s: %s\n", shown(output_name).c_str(),
                 begun == plat::begin_result::read_only ? "read-only"
                                                        : plat::last_error_text().c_str());
    note_status(3);
    return;
  }

  std::fprintf(stdout, "\nInput file  %s\nOutput file %s\n", shown(pg_complete_path).c_str(),
               shown(output_name).c_str());

  FileSink sink(output.file);
  const ConvertOptions options{plat::text_input_ends_at_ctrl_z(), plat::line_end()};
  const convert_result result = convert_stream(source, sink, options, &start);

  if (result == convert_result::read_failed) {
    std::fprintf(stderr, "\nError reading input file %s: %s\n", shown(pg_complete_path).c_str(),
                 plat::last_error_text().c_str());
    output.abandon();
    note_status(2);
    return;
  }
  if (result != convert_result::ok || !plat::commit_output(output)) {
    std::fprintf(stderr, "\nError writing output file %s: %s\n", shown(output_name).c_str(),
                 plat::last_error_text().c_str());
    output.abandon();
    note_status(3);
    return;
  }
  input.close();
  note_output_written(pg_complete_path, output_name);
}

namespace {

// The original standard output of a run that converts standard input.
plat::File g_data_output;
std::string g_data_output_error;

}  // namespace

void keep_data_output() {
  if (!plat::keep_standard_output(g_data_output)) g_data_output_error = plat::last_error_text();
}

void convert_standard_input() {
  plat::File input;
  if (!plat::open_standard_input(input)) {
    std::fprintf(stderr, "\nError reading standard input: %s\n", plat::last_error_text().c_str());
    note_status(2);
    return;
  }
  FileSource source(input);
  const InputStart start = read_input_start(source);
  if (start.utf16()) {
    std::fputs("\nSkipped standard input: UTF-16 text is not read\n", stderr);
    note_status(2);
    return;
  }
  if (!g_data_output.is_open()) {
    std::fprintf(stderr, "\nError writing standard output: %s\n", g_data_output_error.c_str());
    note_status(3);
    return;
  }
  FileSink sink(g_data_output);
  const ConvertOptions options{plat::text_input_ends_at_ctrl_z(), plat::line_end(), true};
  const convert_result result = convert_stream(source, sink, options, &start);
  if (result == convert_result::read_failed) {
    std::fprintf(stderr, "\nError reading standard input: %s\n", plat::last_error_text().c_str());
    note_status(2);
  }
  // Closed now, so that the reader of the lines sees their end while files
  // are still converted.
  if (!g_data_output.close() || result == convert_result::write_failed) {
    std::fprintf(stderr, "\nError writing standard output: %s\n", plat::last_error_text().c_str());
    note_status(3);
  }
}

void reset_convert_state() {
  pg_complete_path.clear();
  cur_dir.clear();
  cur_fname.clear();
  g_conversion_status = 0;
  g_data_output = plat::File();
  g_data_output_error.clear();
}
