// The jobs in flight: converted on any thread, finished in the order they
// were handed over.
#include "ipconv/jobs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace {

struct Record {
  std::mutex mutex;
  std::vector<int> converted, finished, dropped;
  std::vector<std::thread::id> threads;
};

// Job `n` takes longer the earlier it was handed over, so that later jobs
// are converted first; job `throws` cannot get its memory.
class SleepyJob final : public Job {
 public:
  SleepyJob(Record& record, int n, int count, int throws)
      : record_(record), n_(n), count_(count), throws_(throws) {}
  ~SleepyJob() override {
    if (!finished_) record_.dropped.push_back(n_);
  }
  void convert() override {
    std::this_thread::sleep_for(std::chrono::milliseconds(60 * (count_ - n_)));
    std::lock_guard<std::mutex> lock(record_.mutex);
    record_.converted.push_back(n_);
    record_.threads.push_back(std::this_thread::get_id());
    if (n_ == throws_) throw std::bad_alloc();
  }
  void finish() override {
    finished_ = true;
    record_.finished.push_back(n_);
  }

 private:
  Record& record_;
  const int n_, count_, throws_;
  bool finished_ = false;
};

class JobsTest : public ::testing::Test {
 protected:
  void SetUp() override { test::reset_all_state(); }
  void TearDown() override { reset_jobs_state(); }

  void hand_over(int count, int throws = -1) {
    for (int n = 0; n < count; ++n)
      hand_over_job(std::make_unique<SleepyJob>(record, n, count, throws));
  }
  Record record;
};

TEST_F(JobsTest, FinishedInTheOrderHandedOverWhateverOrderTheyAreConvertedIn) {
  set_job_threads(4);
  hand_over(4);
  finish_jobs();
  EXPECT_EQ(record.finished, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_NE(record.converted, record.finished) << "the jobs were converted in order: nothing tested";
  stop_jobs();
}

TEST_F(JobsTest, ASingleJobIsConvertedOnTheMainThread) {
  set_job_threads(4);
  hand_over(1);
  finish_jobs();
  ASSERT_EQ(record.threads.size(), 1u);
  EXPECT_EQ(record.threads[0], std::this_thread::get_id());
  EXPECT_EQ(record.finished, std::vector<int>{0});
}

TEST_F(JobsTest, MemoryAWorkerCannotGetEndsTheRunAtThatJobsTurn) {
  set_job_threads(4);
  hand_over(4, /*throws=*/2);
  EXPECT_THROW(finish_jobs(), std::bad_alloc);
  // The jobs before it are finished, the one after it is dropped.
  EXPECT_EQ(record.finished, (std::vector<int>{0, 1}));
  discard_jobs();
  EXPECT_EQ(record.dropped, (std::vector<int>{2, 3}));
  EXPECT_TRUE(jobs_discarded());
}

}  // namespace
