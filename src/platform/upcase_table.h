// The upper case of UTF-16 units as Windows folds file names, for the
// case-blind name matching and listing order of the POSIX enumeration.
#pragma once

#include <cstdint>

namespace plat {

// Units first, first + step, ... up to last become unit + delta (modulo
// 2^16); every unit of no run is its own upper case.
struct UpcaseRun {
  uint16_t first;
  uint16_t last;
  uint8_t step;
  uint16_t delta;
};

extern const UpcaseRun kUpcaseRuns[];
extern const unsigned kUpcaseRunCount;

}  // namespace plat
