#include "ipconv/convert/block_conversion.h"

#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "ipconv/convert/line_converter.h"

namespace lines {

namespace {

#if defined(IPCONV_WIDE_VECTORS)
bool wide_vectors_here() {
  __builtin_cpu_init();  // may run before the runtime's own initialisation
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
         __builtin_cpu_supports("bmi2");
}
const bool kWideVectorsHere = wide_vectors_here();
#else
const bool kWideVectorsHere = false;
#endif

}  // namespace

bool g_wide_vectors = kWideVectorsHere;

struct ThreadBlocks {
  std::unique_ptr<char[]> in, out;
  std::unique_ptr<char[]> spare[kSpareBlocks];
  size_t next_spare = 0;
  std::unique_ptr<char[]> piece[2];  // for units of 1 and of 2 bytes

  char* input() {
    if (!in) in.reset(new char[kBlock + kCopySlack]);
    return in.get();
  }
  char* output() {
    if (!out) out.reset(new char[kBlock]);
    return out.get();
  }
};

namespace {

// Made on a thread's first conversion. A plain pointer: a thread-local
// object with a destructor would need memory at the thread's start to
// register it, and the process ends when that memory is not there.
thread_local ThreadBlocks* t_blocks = nullptr;

ThreadBlocks& blocks_here() {
  if (t_blocks == nullptr) t_blocks = new ThreadBlocks;
  return *t_blocks;
}

}  // namespace

BlockConversion::BlockConversion(ByteSource& source, ByteSink& sink,
                                 const ConvertOptions& options, size_t unit)
    : options_(options),
      source_(source),
      sink_(sink),
      unit_(unit),
      blocks_(blocks_here()),
      in_(blocks_.input()),
      out_(blocks_.output()) {}

char* BlockConversion::input_buffer() { return blocks_here().input(); }

char* BlockConversion::piece_buffer(size_t unit, size_t size) {
  std::unique_ptr<char[]>& piece = blocks_here().piece[unit == 1 ? 0 : 1];
  if (!piece) piece.reset(new char[size]);
  return piece.get();
}

convert_result BlockConversion::run(const InputStart* start) {
  // However the conversion ends, nothing is written after it.
  struct Drained {
    BlockConversion& conversion;
    ~Drained() {
      if (conversion.writer_ != nullptr) conversion.writer_->drain();
    }
  } drained{*this};
  size_t carried = 0;  // bytes of a unit split by the last read
  bool cut = false;    // the input ended at a Ctrl+Z
  bool ended = false;
  if (start != nullptr) {
    if (start->failed) return convert_result::read_failed;
    cut = convert_read(start->data, start->size, carried);
    if (!cut && !start->ended) write_if_paused(start->size);
    if (failed_write_) return convert_result::write_failed;
    ended = cut || start->ended;
  }
  while (!ended) {
    const long long got = source_.read(in_ + carried, kBlock - carried);
    const bool last = source_.exhausted();  // known: no more follows
    // A write that failed before the read did is what is reported, as
    // when the two took turns.
    if (got < 0) return writes_done() ? convert_result::read_failed : convert_result::write_failed;
    if (got == 0) break;
    const size_t size = carried + static_cast<size_t>(got);
    cut = convert_read(in_, size, carried);
    if (!cut) write_if_paused(size);
    if (failed_write_) return convert_result::write_failed;
    ended = cut || last;
  }
  finish();
  if (carried > 0 && !cut) put_bytes(in_, carried);
  if (!failed_write_ && out_len_ > 0) {
    if (writer_ != nullptr)
      hand_over();
    else
      write_here();
  }
  if (!writes_done()) failed_write_ = true;
  return failed_write_ ? convert_result::write_failed : convert_result::ok;
}

// Converts the whole units of `data` and keeps the bytes of a split one at
// the start of the input buffer, for the next read to go on from.
bool BlockConversion::convert_read(const char* data, size_t size, size_t& carried) {
  const size_t whole = size - size % unit_;
  const bool cut = whole > 0 && convert_block(data, whole);
  carried = size - whole;
  if (carried > 0) std::memmove(in_, data + whole, carried);
  return cut;
}

void BlockConversion::write_if_paused(size_t size) {
  if (options_.write_when_input_pauses && size < kBlock && out_len_ > 0) flush();
}

void BlockConversion::put_bytes(const char* data, size_t size) {
  if (out_len_ + size > kBlock) flush();
  std::memcpy(out_ + out_len_, data, size);
  out_len_ += size;
}

void BlockConversion::flush() {
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

void BlockConversion::write_here() {
  if (!sink_.write(out_, out_len_)) failed_write_ = true;
}

// Queues the full block and goes on in the next one, once it is free. A
// write that failed meanwhile is learnt here, at the latest.
void BlockConversion::hand_over() {
  if (writer_ == nullptr && !start_writer()) {
    write_here();
    return;
  }
  if (!writer_->post(sink_, out_, out_len_)) {
    failed_write_ = true;
    return;
  }
  std::swap(blocks_.out, blocks_.spare[blocks_.next_spare]);
  blocks_.next_spare = (blocks_.next_spare + 1) % kSpareBlocks;
  out_ = blocks_.out.get();
  // The block now to be filled is the one queued longest ago.
  if (!writer_->wait(kSpareBlocks)) failed_write_ = true;
}

// The first output of the thread larger than a block starts its writer
// and takes its blocks; without them the blocks are written here.
bool BlockConversion::start_writer() {
  for (auto& spare : blocks_.spare)
    if (!spare) spare.reset(new (std::nothrow) char[kBlock]);
  for (auto& spare : blocks_.spare)
    if (!spare) return false;
  writer_ = BlockWriter::get();
  if (writer_ == nullptr) return false;
  writer_->reset();
  return true;
}

// Waits for the blocks queued; false when one of them failed.
bool BlockConversion::writes_done() { return writer_ == nullptr || writer_->wait(0); }

}  // namespace lines

text_encoding InputStart::encoding() const {
  const auto* p = reinterpret_cast<const unsigned char*>(data);
  if (size >= 4 && ((p[0] == 0xFF && p[1] == 0xFE && p[2] == 0 && p[3] == 0) ||
                    (p[0] == 0 && p[1] == 0 && p[2] == 0xFE && p[3] == 0xFF)))
    return text_encoding::utf32;
  if (size >= 2 && p[0] == 0xFF && p[1] == 0xFE) return text_encoding::utf16le;
  if (size >= 2 && p[0] == 0xFE && p[1] == 0xFF) return text_encoding::utf16be;
  return text_encoding::bytes;
}

namespace {

// The first bytes could still be the start of a byte-order mark that
// tells another encoding.
bool mark_undecided(const char* data, size_t size) {
  static const char* const kMarks[] = {"\xFF\xFE\0\0", "\0\0\xFE\xFF", "\xFE\xFF"};
  static const size_t kMarkSizes[] = {4, 4, 2};
  for (size_t i = 0; i < 3; ++i)
    if (size < kMarkSizes[i] && std::memcmp(data, kMarks[i], size) == 0) return true;
  return false;
}

}  // namespace

InputStart read_input_start(ByteSource& source) {
  InputStart start;
  char* buffer = lines::BlockConversion::input_buffer();
  start.data = buffer;
  // A file gives its first block at once; a pipe may give a byte or two,
  // too few to tell a byte-order mark, so it is asked again for those.
  do {
    const long long got = source.read(buffer + start.size, lines::kBlock - start.size);
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
  } while (mark_undecided(buffer, start.size));
  return start;
}

void release_thread_buffers() noexcept {
  delete lines::t_blocks;
  lines::t_blocks = nullptr;
}

bool use_wide_line_steps(bool wanted) {
  lines::g_wide_vectors = wanted && lines::kWideVectorsHere;
  return lines::g_wide_vectors;
}

convert_result convert_stream(ByteSource& source, ByteSink& sink, const ConvertOptions& options,
                              const InputStart* start) {
  switch (start != nullptr ? start->encoding() : text_encoding::bytes) {
    case text_encoding::utf16le:
      return lines::convert_utf16_lines(source, sink, options, *start, std::endian::little);
    case text_encoding::utf16be:
      return lines::convert_utf16_lines(source, sink, options, *start, std::endian::big);
    default:
      return lines::convert_byte_lines(source, sink, options, start);
  }
}
