#include "ipconv/convert.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "framework/paths.h"
#include "framework/walk.h"
#include "ipconv/block_io.h"
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

uint32_t line_address(const char* text, size_t size) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* end = p + size;
  while (p != end && is_c_space(*p)) ++p;
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  // Up to 18 digits cannot leave the 64-bit range; only longer numbers
  // need the clamp, and they take the careful path.
  uint64_t value = 0;
  int digits = 0;
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
  // Two's complement of the magnitude keeps the low 32 bits right for
  // negative numbers, the most negative one included.
  if (negative) value = ~value + 1;
  return static_cast<uint32_t>(value);
}

namespace {

// Text of every byte value, as two hexadecimal digits and as 1 to 3
// decimal digits: the suffix is then four table look-ups per form.
struct ByteTexts {
  char hex[256][2];
  char dec[256][4];  // digits, then their count in the last byte
  ByteTexts() {
    static const char kHex[] = "0123456789ABCDEF";
    for (unsigned v = 0; v < 256; ++v) {
      hex[v][0] = kHex[v >> 4];
      hex[v][1] = kHex[v & 0xF];
      char* d = dec[v];
      unsigned n = 0;
      if (v >= 100) d[n++] = static_cast<char>('0' + v / 100);
      if (v >= 10) d[n++] = static_cast<char>('0' + v / 10 % 10);
      d[n++] = static_cast<char>('0' + v % 10);
      d[3] = static_cast<char>(n);
    }
  }
};
const ByteTexts kByteTexts;

}  // namespace

char* append_suffix(char* out, uint32_t address) {
  const unsigned char octets[4] = {
      static_cast<unsigned char>(address >> 24), static_cast<unsigned char>(address >> 16),
      static_cast<unsigned char>(address >> 8), static_cast<unsigned char>(address)};
  std::memcpy(out, "|Hex|", 5);
  out += 5;
  for (unsigned char octet : octets) {
    std::memcpy(out, kByteTexts.hex[octet], 2);
    out += 2;
  }
  std::memcpy(out, "|IP-decimal|", 12);
  out += 12;
  for (int i = 0; i < 4; ++i) {
    const char* d = kByteTexts.dec[octets[i]];
    std::memcpy(out, d, 4);  // the copy may take a byte too many; it is overwritten
    out += d[3];
    if (i < 3) *out++ = '.';
  }
  return out;
}

namespace {

constexpr size_t kBlock = 1024 * 1024;
// Output blocks besides the one being filled: written meanwhile, or free.
constexpr size_t kSpareBlocks = 2;
static_assert(kSpareBlocks < BlockWriter::kQueueMax);

// Reads the input in blocks and writes the converted lines in blocks. The
// input is seen as text: a CR right before an LF is dropped, and where the
// platform's text input ends at Ctrl+Z, so does the input. A line longer
// than kLinePieceMax characters is converted piece by piece. Past the
// first output block, the blocks are written and the input is read ahead
// on threads of their own while the next block is converted; the blocks
// go round, none is copied.
class LineConverter {
 public:
  LineConverter(ByteSource& source, ByteSink& sink, const ConvertOptions& options)
      : source_(source), sink_(sink), options_(options), eol_len_(std::strlen(options.line_end)) {
    input_buffer();
    if (!out_) out_.reset(new char[kBlock]);
    if (!piece_) piece_.reset(new char[kLinePieceMax + 1]);
  }

  static char* input_buffer() {
    if (!in_) in_.reset(new char[kBlock]);
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
    reading_ = nullptr;
    // However the conversion ends, nothing is read or written after it.
    struct Drained {
      LineConverter& converter;
      ~Drained() {
        if (converter.reading_ != nullptr) converter.reading_->drain();
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
    size_t pos = 0;
    while (pos < size && !failed_write_) {
      if (clean()) {
        const char* nl = static_cast<const char*>(std::memchr(data + pos, '\n', size - pos));
        if (nl) {
          const size_t lf = static_cast<size_t>(nl - data);
          size_t end = lf;
          if (end > pos && data[end - 1] == '\r') --end;
          const bool ctrl_z =
              options_.ends_at_ctrl_z && std::memchr(data + pos, 0x1A, lf - pos) != nullptr;
          if (!ctrl_z && end - pos <= kLinePieceMax) {
            emit(data + pos, end - pos);
            pos = lf + 1;
            continue;
          }
        }
      }
      // Byte by byte until the next line starts cleanly or the block ends.
      while (pos < size) {
        const unsigned char byte = static_cast<unsigned char>(data[pos++]);
        if (options_.ends_at_ctrl_z && byte == 0x1A) return true;
        feed_raw(byte);
        if (byte == '\n' && clean()) break;
      }
    }
    return false;
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

  void emit(const char* text, size_t size) {
    if (out_len_ + size + kSuffixMax + eol_len_ > kBlock) flush();
    char* out = out_.get() + out_len_;
    std::memcpy(out, text, size);
    size_t mark = 0;
    if (first_line_) {
      first_line_ = false;
      if (size >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) mark = 3;
    }
    out = append_suffix(out + size, line_address(text + mark, size - mark));
    std::memcpy(out, options_.line_end, eol_len_);
    out_len_ = static_cast<size_t>(out + eol_len_ - out_.get());
  }

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

  // The next input block, read here or ahead. Once the output is past its
  // first block and the input fills whole blocks, the block after is read
  // while this one is converted. `last`: the source knows no more follows,
  // asked before a read ahead makes it busy again.
  long long read_block(bool& last) {
    long long got;
    if (reading_ != nullptr) {
      got = std::exchange(reading_, nullptr)->wait();
      std::swap(in_, in_ahead_);
    } else {
      got = source_.read(in_.get(), kBlock);
    }
    last = source_.exhausted();
    if (got == static_cast<long long>(kBlock) && !last && writer_ != nullptr) read_ahead();
    return got;
  }

  void read_ahead() {
    if (!in_ahead_) in_ahead_.reset(new (std::nothrow) char[kBlock]);
    if (!in_ahead_) return;
    reading_ = BlockReader::get();
    if (reading_ != nullptr) reading_->post(source_, in_ahead_.get(), kBlock);
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
  // Reused by every file: one allocation for the whole run.
  static inline std::unique_ptr<char[]> in_, out_, piece_;
  static inline std::unique_ptr<char[]> spare_[kSpareBlocks], in_ahead_;
  static inline size_t next_spare_ = 0;
  BlockWriter* writer_ = nullptr;   // in use by this output
  BlockReader* reading_ = nullptr;  // while a block is read ahead
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

void process_file(const std::u16string* name, const std::u16string& directory) {
  if (name == nullptr) return;  // a directory handed over by the walk
  if (*name == u"." || *name == u"..") return;
  pg_complete_path = directory;
  pg_complete_path += *name;

  {
    plat::DirSearch lookup;
    plat::FindData found;
    if (!lookup.start(pg_complete_path, found, /*details=*/false) &&
        find_by_wildcard(found, pg_complete_path, *name) != 0)
      return;
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
    if (own_output(true)) return;
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
