// The system on POSIX: waiting, threads and processors, processes, the
// environment, the computer's name.

#include "platform/posix_internal.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>

namespace plat {

void sleep_seconds(int seconds) {
  if (seconds <= 0) return;
  struct timespec want = {seconds, 0}, left = {0, 0};
  while (nanosleep(&want, &left) != 0 && errno == EINTR) want = left;
}

std::thread start_thread(std::function<void()> body) {
  // The new thread inherits the mask in force while it is made.
  sigset_t held, saved;
  sigemptyset(&held);
  for (int sig : kEndingSignals) sigaddset(&held, sig);
  pthread_sigmask(SIG_BLOCK, &held, &saved);
  try {
    std::thread thread(std::move(body));
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    return thread;
  } catch (...) {
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    throw;
  }
}

unsigned usable_processors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return static_cast<unsigned>(count);
  }
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<unsigned>(online) : 1u;
}

void use_ansi_file_names() {}

std::optional<std::u16string> get_env(const std::string& name) {
  const char* value = getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return from_native(value);
}

void set_env(const std::string& name, const std::u16string& value) {
  setenv(name.c_str(), to_native(value).c_str(), 1);
}

std::optional<std::u16string> computer_name() {
  char name[HOST_NAME_MAX + 1];
  if (gethostname(name, sizeof name) != 0) {
    remember_error();
    return std::nullopt;
  }
  name[sizeof name - 1] = '\0';
  return from_native(name);
}

bool process_running(uint64_t pid) {
  if (pid == 0 || pid > static_cast<uint64_t>(INT_MAX)) return false;
  // EPERM: it runs, under another user.
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

std::optional<uint64_t> process_started(uint64_t pid) {
  if (pid == 0 || pid > static_cast<uint64_t>(INT_MAX)) return std::nullopt;
  // Field 22 of /proc/PID/stat: the clock ticks from the boot to the
  // start. The name in field 2 may hold blanks and parentheses, so the
  // fields are counted from its last ')'.
  FILE* f = fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "re");
  if (f == nullptr) return std::nullopt;
  char text[4096];
  const size_t n = fread(text, 1, sizeof text - 1, f);
  fclose(f);
  text[n] = '\0';
  const char* p = strrchr(text, ')');
  if (p == nullptr) return std::nullopt;
  ++p;
  for (int field = 3; field < 22; ++field) {
    while (*p == ' ') ++p;
    while (*p != ' ' && *p != '\0') ++p;
  }
  char* end = nullptr;
  const unsigned long long ticks = strtoull(p, &end, 10);
  const long hz = sysconf(_SC_CLK_TCK);
  if (end == p || hz <= 0) return std::nullopt;
  // When the boot was, by the wall clock: now, less the time since then
  // as the kernel counts a process's start (time suspended included).
  struct timespec wall, since_boot;
  if (clock_gettime(CLOCK_REALTIME, &wall) != 0 || clock_gettime(CLOCK_BOOTTIME, &since_boot) != 0)
    return std::nullopt;
  constexpr int64_t kNano = 1000000000;
  const int64_t boot = (static_cast<int64_t>(wall.tv_sec) - since_boot.tv_sec) * kNano +
                       (wall.tv_nsec - since_boot.tv_nsec);
  const int64_t started = boot + static_cast<int64_t>(ticks / static_cast<unsigned long long>(hz)) * kNano +
                          static_cast<int64_t>(ticks % static_cast<unsigned long long>(hz)) * kNano / hz;
  if (started < 0) return std::nullopt;
  return stamp_of(started / kNano, started % kNano);
}

}  // namespace plat
