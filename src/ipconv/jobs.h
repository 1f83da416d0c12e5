// Files converted on several threads, while everything a user sees keeps
// the walk's order. A job is prepared on the main thread (it names the
// file and opens what it needs), converted on a worker thread (reads,
// converts, writes), and finished on the main thread (it names the output
// and reports), strictly in the order the jobs were handed over. Only the
// main thread names, orders or reports.
#pragma once

#include <memory>

#include "platform/platform.h"

class Job {
 public:
  virtual ~Job() = default;
  // On a worker, or on the main thread: reads and writes what the job
  // opened; names nothing and reports nothing. What it throws is thrown
  // again on the main thread where the job is finished.
  virtual void convert() = 0;
  // On the main thread, once converted, in the order handed over.
  virtual void finish() = 0;
};

// The number of threads that convert, 1 to kThreadsMax, the main thread
// among them: it converts what no worker has taken yet rather than wait.
// With 1 each job is converted and finished on the main thread as soon as
// it is handed over: the run of a single thread. Only while no job is in
// flight.
void set_job_threads(int count);
int job_threads();
// The threads a run converts with when nothing else is asked for: one a
// processor this process may use, at most 8.
int default_job_threads();

// Hands over a job prepared in walk order. Several threads at work, it
// may first finish the oldest jobs to keep the number in flight bounded.
// The first job is held without starting a thread: a run of one file
// starts none, and converts it on the main thread.
void hand_over_job(std::unique_ptr<Job> job);
// Finishes every job in flight, in order.
void finish_jobs();
// Finishes every job in flight and ends the worker threads.
void stop_jobs();
// A fatal end of the run: the workers are told to stop and waited for,
// and the jobs in flight are dropped unfinished (their outputs abandoned).
void discard_jobs() noexcept;
// True once discard_jobs was called: a conversion under way may give up.
bool jobs_discarded();

// Closes `file` on a worker while workers run (a close may cost the
// system as much as the link that named the file), else here and now.
void close_later(plat::File file);

// No job in flight, no worker, a single thread: as at process start.
void reset_jobs_state();
