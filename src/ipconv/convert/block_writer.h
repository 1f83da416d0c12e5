// Blocks written on a thread of their own while the converter works on
// the next one. Each thread that converts has one writer for the whole
// run, started by its first output larger than a block, so small files
// never pay for it. The blocks stay the caller's; the thread only borrows
// them.
#pragma once

#include <cstddef>

#include "ipconv/convert.h"

class BlockWriter {
 public:
  // The calling thread's writer, started on first use; nullptr when no
  // thread can be had (the caller then writes its blocks itself).
  static BlockWriter* get();

  // Forgets the failure of an earlier output. Only while nothing is queued.
  void reset();
  // Queues a block to be written after those queued before; its bytes must
  // stay as they are until it is written. False when a write has failed:
  // nothing is written after a failure.
  bool post(ByteSink& sink, const char* data, size_t size);
  // Waits until at most `queued` blocks are queued or being written. False
  // when a write has failed; that write's error is then the calling
  // thread's last error. An exception a write threw is thrown again here.
  bool wait(size_t queued);
  // Waits until nothing is being written, whatever happened.
  void drain() noexcept;

  static constexpr size_t kQueueMax = 4;

 private:
  BlockWriter() = default;
  void serve();
  bool outcome();  // under the lock

  struct State;
  State* state_ = nullptr;
};
