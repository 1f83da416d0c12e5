#include "ipconv/jobs.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <list>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "framework/settings.h"
#include "ipconv/convert.h"

namespace {

// Jobs in flight a worker: enough that a thread finds the next job ready
// while the main thread finishes or prepares others, few enough that the
// open files and the memory stay small whatever the tree. Each may hold a
// named temporary, so never more than the endings have room for.
constexpr size_t kInFlightPerWorker = 8;
constexpr int kDefaultThreadsMax = 8;
// Waking a thread costs the system more than the work of a small file: a
// sleeping worker is woken once this many jobs wait, and the main thread,
// once it has to wait, waits for this many.
constexpr size_t kWakeBatch = 4;

struct InFlight {
  std::unique_ptr<Job> job;
  bool converted = false;     // under g_mutex
  std::exception_ptr thrown;  // set before converted
};

// Shared with the workers, under g_mutex.
std::mutex g_mutex;
std::condition_variable g_work;  // jobs were queued, or the workers are to stop
std::condition_variable g_done;  // what the main thread waits for was converted
// Lists, not deques: nothing is allocated before the program starts, where
// memory that cannot be had could not be told.
std::list<InFlight*> g_queued;  // not yet taken by a thread, oldest first
std::vector<plat::File> g_closing;  // files for a worker to close
bool g_stopping = false;
// Who waits, so that a signal goes out only where it wakes someone.
size_t g_idle_workers = 0;
size_t g_workers_woken = 0;  // signalled, not yet running
const InFlight* g_awaited = nullptr;  // the job the main thread waits for
size_t g_converted_while_waiting = 0;
std::atomic<bool> g_discarded{false};

// The main thread's own.
int g_threads = 1;
std::vector<std::thread> g_workers;
std::list<std::unique_ptr<InFlight>> g_in_flight;  // in the order handed over
std::unique_ptr<Job> g_held;  // the first job, before any worker runs

void convert_caught(InFlight& entry) {
  try {
    entry.job->convert();
  } catch (...) {
    entry.thrown = std::current_exception();
  }
}

// The main thread goes on once the job it waits for is converted and a
// batch more, or every job queued.
bool main_may_go_on() {
  return g_awaited->converted && (g_converted_while_waiting >= kWakeBatch || g_queued.empty());
}

void serve() {
  std::unique_lock<std::mutex> lock(g_mutex);
  for (;;) {
    while (!g_stopping && g_queued.empty()) {
      ++g_idle_workers;
      g_work.wait(lock);
      --g_idle_workers;
      if (g_workers_woken > 0) --g_workers_woken;
    }
    if (g_stopping) {
      release_thread_buffers();
      return;
    }
    InFlight* entry = g_queued.front();
    g_queued.pop_front();
    std::vector<plat::File> closing;
    closing.swap(g_closing);
    lock.unlock();
    closing.clear();
    convert_caught(*entry);
    lock.lock();
    entry->converted = true;
    ++g_converted_while_waiting;
    if (g_awaited != nullptr && main_may_go_on()) g_done.notify_one();
  }
}

// The main thread is one of the threads that convert: the workers are one
// fewer. As many as can be had, up to that.
bool start_workers() {
  g_stopping = false;
  try {
    while (g_workers.size() < static_cast<size_t>(g_threads - 1))
      g_workers.push_back(plat::start_thread(serve));
  } catch (const std::system_error&) {
  } catch (const std::bad_alloc&) {
  }
  return !g_workers.empty();
}

void end_workers() noexcept {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_stopping = true;
    g_queued.clear();
  }
  g_work.notify_all();
  for (auto& worker : g_workers)
    if (worker.joinable()) worker.join();
  g_workers.clear();
  g_closing.clear();
}

void run_here(std::unique_ptr<Job> job) {
  job->convert();
  job->finish();
}

// Converts on the main thread the oldest job no worker has taken yet;
// false when there is none.
bool convert_one_here() {
  InFlight* entry;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_queued.empty()) return false;
    entry = g_queued.front();
    g_queued.pop_front();
  }
  convert_caught(*entry);
  std::lock_guard<std::mutex> lock(g_mutex);
  entry->converted = true;
  return true;
}

bool converted(const InFlight& entry) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return entry.converted;
}

void finish_oldest() {
  InFlight& oldest = *g_in_flight.front();
  // Rather than wait, the main thread converts what no worker has taken.
  while (!converted(oldest) && convert_one_here()) {
  }
  {
    std::unique_lock<std::mutex> lock(g_mutex);
    if (!oldest.converted) {
      g_awaited = &oldest;
      g_converted_while_waiting = 0;
      g_done.wait(lock, main_may_go_on);
      g_awaited = nullptr;
    }
  }
  const std::unique_ptr<InFlight> entry = std::move(g_in_flight.front());
  g_in_flight.pop_front();
  if (entry->thrown) std::rethrow_exception(entry->thrown);
  entry->job->finish();
}

void queue(std::unique_ptr<Job> job) {
  const size_t most = std::min(kInFlightPerWorker * g_workers.size(), plat::kPendingOutputsMax);
  while (g_in_flight.size() >= most) finish_oldest();
  auto entry = std::make_unique<InFlight>();
  entry->job = std::move(job);
  InFlight* const queued = entry.get();
  g_in_flight.push_back(std::move(entry));
  bool wake;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_queued.push_back(queued);
    wake = g_idle_workers > g_workers_woken && g_queued.size() >= kWakeBatch;
    if (wake) ++g_workers_woken;
  }
  if (wake) g_work.notify_one();
}

}  // namespace

void set_job_threads(int count) { g_threads = std::clamp(count, 1, int{kThreadsMax}); }

int job_threads() { return g_threads; }

int default_job_threads() {
  return static_cast<int>(std::min(plat::usable_processors(), unsigned{kDefaultThreadsMax}));
}

void hand_over_job(std::unique_ptr<Job> job) {
  if (g_threads <= 1) {
    run_here(std::move(job));
    return;
  }
  if (g_workers.empty()) {
    if (!g_held) {
      g_held = std::move(job);
      return;
    }
    if (!start_workers()) {
      // No thread to be had: this one converts, as with a single thread.
      g_threads = 1;
      run_here(std::move(g_held));
      run_here(std::move(job));
      return;
    }
    queue(std::move(g_held));
  }
  queue(std::move(job));
}

void finish_jobs() {
  if (g_held) run_here(std::move(g_held));
  while (!g_in_flight.empty()) finish_oldest();
}

void stop_jobs() {
  finish_jobs();
  end_workers();
}

void discard_jobs() noexcept {
  g_discarded = true;
  end_workers();
  g_in_flight.clear();
  g_held.reset();
}

bool jobs_discarded() { return g_discarded.load(std::memory_order_relaxed); }

void close_later(plat::File file) {
  std::lock_guard<std::mutex> lock(g_mutex);
  // While no worker takes a job, they are closed here, as they go out of
  // scope: the open files stay few.
  if (g_closing.size() >= kInFlightPerWorker * g_workers.size()) return;
  g_closing.push_back(std::move(file));
}

void reset_jobs_state() {
  discard_jobs();
  g_discarded = false;
  g_threads = 1;
}
