// Short waits after a message, so that the user can read it.
#pragma once

void pause_seconds(int seconds);

// Tests replace the wait (to count the calls without waiting); nullptr
// restores the real sleep.
using pause_hook = void (*)(int seconds);
void set_pause_hook(pause_hook hook);
