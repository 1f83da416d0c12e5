// The system on POSIX: waiting, the environment, the computer's name.

#include "platform/posix_internal.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <ctime>
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

}  // namespace plat
