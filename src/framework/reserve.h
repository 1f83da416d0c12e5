// Buffers reserved once at start-up, so that the walk and the conversion
// reuse them instead of growing them for every file.
#pragma once

#include <cstddef>
#include <cstdio>
#include <new>

#include "framework/exit_status.h"

// False when the room cannot be had; the buffer is then left as it was.
template <class Buffer>
bool try_reserve(Buffer& buffer, size_t units) {
  try {
    buffer.reserve(units);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// A buffer the run cannot do without: when it cannot be had, `message`
// goes to standard error, given the reporting line and then `source`
// (formats that name only the line ignore the source), and the run stops,
// so nothing goes on to use the buffer.
template <class Buffer>
void reserve_or_stop(Buffer& buffer, size_t units, const char* message, int line,
                     const char* source = "") {
  if (try_reserve(buffer, units)) return;
  std::fprintf(stderr, message, line, source);
  end_run(exit_status::insufficient_memory);
}
