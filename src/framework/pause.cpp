#include "framework/pause.h"

#include "platform/platform.h"

namespace {
pause_hook g_pause_hook = nullptr;
}

void set_pause_hook(pause_hook hook) { g_pause_hook = hook; }

void pause_seconds(int seconds) {
  if (g_pause_hook) {
    g_pause_hook(seconds);
    return;
  }
  // A sleep, not a busy wait: the processor stays free for others.
  if (seconds > 0) plat::sleep_seconds(seconds);
}
