// Program entry: hands the wide arguments to the run sequence.
#include "ipconv/run.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  return static_cast<int>(run_program(plat::program_arguments(argc, argv)));
}
