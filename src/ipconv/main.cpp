// Program entry: hands the wide arguments to the run sequence.
#include <cstddef>
#include <cstdlib>
#include <new>

#include "ipconv/jobs.h"
#include "ipconv/run.h"
#include "platform/platform.h"

namespace {
// Less than the run needs for its buffers, more than a thrown exception.
constexpr size_t kFirstStepsBytes = 1 << 20;
}  // namespace

int main(int argc, char** argv) {
  // Memory that cannot be had anywhere in the run ends it with a message
  // and its own status instead of an abort. Where not even the first
  // steps' memory is there, the runtime may have had none left to throw
  // with either: that is asked once first, of the C library, which throws nothing.
  void* const first_steps = std::malloc(kFirstStepsBytes);
  if (first_steps == nullptr) return static_cast<int>(report_insufficient_memory());
  std::free(first_steps);
  try {
    return static_cast<int>(run_program(plat::program_arguments(argc, argv)));
  } catch (const std::bad_alloc&) {
    // What is in flight is dropped: no output of it is left behind.
    discard_jobs();
    return static_cast<int>(report_insufficient_memory());
  }
}
