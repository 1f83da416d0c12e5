// The blocks of a conversion, for the line converter of either width
// (line_converter.h): the input read in blocks, the converted lines
// written in blocks. Past the first output block, the blocks are written
// on a thread of its own while the next block is converted; the blocks go
// round, none is copied. Each thread that converts has blocks of its own,
// so files converted on several threads at once share nothing.
#pragma once

#include <cstddef>

#include "ipconv/convert.h"
#include "ipconv/convert/block_writer.h"

namespace lines {

constexpr size_t kBlock = kConvertBlock;
// A line of up to kShortLine units is copied in a fixed number of 16-byte
// copies, without a loop whose end depends on the line. The input and
// piece buffers have that much room after their end, in the widest units;
// what is copied past the line is overwritten or left past the output
// length, never written.
constexpr size_t kShortLine = 128;
constexpr size_t kCopySlack = 2 * kShortLine;
// Output blocks besides the one being filled: written meanwhile, or free.
constexpr size_t kSpareBlocks = 2;
static_assert(kSpareBlocks < BlockWriter::kQueueMax);

// The blocks of the calling thread, reused by every conversion it makes:
// one allocation a thread for the whole run.
struct ThreadBlocks;

class BlockConversion {
 public:
  // The buffer the calling thread's input is read into, also by
  // read_input_start.
  static char* input_buffer();

  convert_result run(const InputStart* start);

 protected:
  // `unit`: the size of a code unit. A unit that a read splits is kept
  // for the next block; one left incomplete at the end is copied as it is
  // after the last line.
  BlockConversion(ByteSource& source, ByteSink& sink, const ConvertOptions& options, size_t unit);
  ~BlockConversion() = default;

  // Converts the lines of whole units in `data`; returns true when the
  // input ended inside the block (Ctrl+Z).
  virtual bool convert_block(const char* data, size_t size) = 0;
  // Converts what is left of the last line.
  virtual void finish() = 0;

  // Writes or hands over the output block, and starts the next.
  void flush();
  char* out_block() const { return out_; }
  // The calling thread's buffer of a long line's piece: `size` bytes for
  // units of `unit` bytes.
  static char* piece_buffer(size_t unit, size_t size);

  const ConvertOptions& options_;
  size_t out_len_ = 0;
  bool failed_write_ = false;

 private:
  bool convert_read(const char* data, size_t size, size_t& carried);
  void write_if_paused(size_t size);
  void put_bytes(const char* data, size_t size);
  void write_here();
  void hand_over();
  bool start_writer();
  bool writes_done();

  ByteSource& source_;
  ByteSink& sink_;
  const size_t unit_;
  ThreadBlocks& blocks_;
  char* const in_;  // the input block, from blocks_
  char* out_;       // the output block being filled, from blocks_
  BlockWriter* writer_ = nullptr;  // in use by this output
};

}  // namespace lines
