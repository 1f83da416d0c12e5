#include "ipconv/convert/block_writer.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/platform.h"

struct BlockWriter::State {
  struct Job {
    ByteSink* sink;
    const char* data;
    size_t size;
  };
  std::mutex mutex;
  std::condition_variable work;  // a block was queued
  std::condition_variable done;  // a block was written, or a write failed
  Job queue[kQueueMax];
  size_t head = 0;
  size_t count = 0;  // queued, the one being written included
  bool failed = false;
  uint32_t error = 0;
  std::exception_ptr thrown;
};

// A writer serves until the process ends: it is never destroyed, so no
// exit path has to stop its thread first.
BlockWriter* BlockWriter::get() {
  thread_local BlockWriter* const writer = []() -> BlockWriter* {
    auto* made = new (std::nothrow) BlockWriter;
    if (made == nullptr) return nullptr;
    made->state_ = new (std::nothrow) State;
    if (made->state_ != nullptr) {
      try {
        plat::start_thread([made] { made->serve(); }).detach();
        return made;
      } catch (const std::system_error&) {
      } catch (const std::bad_alloc&) {
      }
    }
    delete made->state_;
    delete made;
    return nullptr;
  }();
  return writer;
}

void BlockWriter::serve() {
  State& s = *state_;
  std::unique_lock<std::mutex> lock(s.mutex);
  for (;;) {
    s.work.wait(lock, [&s] { return s.count > 0; });
    const State::Job job = s.queue[s.head];
    lock.unlock();
    bool written = false;
    std::exception_ptr thrown;
    try {
      written = job.sink->write(job.data, job.size);
    } catch (...) {
      thrown = std::current_exception();
    }
    const uint32_t error = written ? 0 : plat::last_error_code();
    lock.lock();
    if (written) {
      s.head = (s.head + 1) % kQueueMax;
      --s.count;
    } else {
      // What was queued after the failed block is never written.
      s.failed = true;
      s.error = error;
      s.thrown = thrown;
      s.count = 0;
    }
    s.done.notify_all();
  }
}

void BlockWriter::reset() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->failed = false;
  state_->error = 0;
  state_->thrown = nullptr;
}

bool BlockWriter::outcome() {
  State& s = *state_;
  if (!s.failed) return true;
  if (s.thrown) std::rethrow_exception(std::exchange(s.thrown, nullptr));
  plat::set_last_error_code(s.error);
  return false;
}

bool BlockWriter::post(ByteSink& sink, const char* data, size_t size) {
  State& s = *state_;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!outcome()) return false;
    s.queue[(s.head + s.count) % kQueueMax] = State::Job{&sink, data, size};
    ++s.count;
  }
  s.work.notify_one();
  return true;
}

bool BlockWriter::wait(size_t queued) {
  State& s = *state_;
  std::unique_lock<std::mutex> lock(s.mutex);
  s.done.wait(lock, [&s, queued] { return s.count <= queued; });
  return outcome();
}

void BlockWriter::drain() noexcept {
  State& s = *state_;
  std::unique_lock<std::mutex> lock(s.mutex);
  s.done.wait(lock, [&s] { return s.count == 0; });
}
