// Program entry: hands the wide arguments to the run sequence.
#include <new>

#include "ipconv/jobs.h"
#include "ipconv/run.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  // Memory that cannot be had anywhere in the run ends it with a message
  // and its own status instead of an abort.
  try {
    return static_cast<int>(run_program(plat::program_arguments(argc, argv)));
  } catch (const std::bad_alloc&) {
    // What is in flight is dropped: no output of it is left behind.
    discard_jobs();
    return static_cast<int>(report_insufficient_memory());
  }
}
