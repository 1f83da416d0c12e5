// Console and signals on POSIX: the screen, single keys from a terminal,
// the interrupt and the endings of a run, the prompt for a file name.

#include "platform/posix_internal.h"

#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace plat {

void clear_console() {
  fflush(stdout);
  if (!isatty(STDOUT_FILENO)) return;
  fputs("\033[H\033[2J", stdout);
  fflush(stdout);
}

namespace {

// Whether standard input is a terminal, asked once a run (-1: not yet),
// and when a key may next be looked for.
int g_keys_from_terminal = -1;
int64_t g_next_key_look_ns = 0;

int64_t monotonic_ns() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

}  // namespace

bool key_waiting() {
  if (g_keys_from_terminal < 0) g_keys_from_terminal = isatty(STDIN_FILENO) ? 1 : 0;
  if (g_keys_from_terminal == 0) return false;
  // The walk asks for every file: a look every 20 ms answers a key as soon
  // as anyone can tell, and reading the clock costs no system call.
  const int64_t now = monotonic_ns();
  if (now < g_next_key_look_ns) return false;
  g_next_key_look_ns = now + 20000000;
  struct pollfd p;
  p.fd = STDIN_FILENO;
  p.events = POLLIN;
  p.revents = 0;
  return poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

namespace {

// A key from input that is no terminal: its next byte.
int next_input_byte() {
  const int c = getchar();
  return c == EOF ? -1 : c;
}

}  // namespace

int read_key() {
  if (!isatty(STDIN_FILENO)) return next_input_byte();
  fflush(stdout);
  struct termios saved;
  if (tcgetattr(STDIN_FILENO, &saved) != 0) return next_input_byte();
  struct termios raw = saved;
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  unsigned char byte = 0;
  ssize_t n;
  do {
    n = ::read(STDIN_FILENO, &byte, 1);
  } while (n < 0 && errno == EINTR);
  tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  return n == 1 ? byte : -1;
}

void set_stdin_unbuffered() { setvbuf(stdin, nullptr, _IONBF, 0); }

namespace {

void (*g_first_interrupt)(int) = nullptr;
volatile sig_atomic_t g_interrupted = 0;

// Removes the pending outputs' named temporaries, then lets the signal end
// the process the way it would have without a handler.
void end_by_signal(int sig) {
  for (const TempSlot& slot : g_temp_slots)
    if (slot.named) unlink(slot.name);
  struct sigaction fallback;
  memset(&fallback, 0, sizeof fallback);
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(sig, &fallback, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
}

void on_interrupt_signal(int sig) {
  if (g_interrupted) {
    end_by_signal(sig);
    return;
  }
  g_interrupted = 1;
  const int saved = errno;
  if (g_first_interrupt) g_first_interrupt(sig);
  errno = saved;
}

// Interrupted writes and reads go on (SA_RESTART): the first Ctrl+C must
// not cost a write to a full pipe.
void install(int sig, void (*handler)(int)) {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  for (int s : kEndingSignals) sigaddset(&action.sa_mask, s);
  action.sa_flags = SA_RESTART;
  sigaction(sig, &action, nullptr);
}

}  // namespace

void install_interrupt_handler(void (*handler)(int)) {
  g_first_interrupt = handler;
  install(SIGINT, on_interrupt_signal);
}

void install_ending_handlers() {
  for (int sig : {SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
    // A signal the caller ignores stays ignored (nohup, a writer that
    // wants EPIPE).
    struct sigaction current;
    if (sigaction(sig, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    install(sig, end_by_signal);
  }
  signal(SIGXFSZ, SIG_IGN);
}

std::optional<std::u16string> open_file_dialog(const std::u16string& title) {
  if (!isatty(STDIN_FILENO)) return std::nullopt;
  write_text(stdout, title);
  fputs(": ", stdout);
  fflush(stdout);
  std::string line;
  for (;;) {
    int c = getchar();
    if (c == EOF) {
      if (line.empty()) return std::nullopt;
      break;
    }
    if (c == '\n') break;
    line.push_back(static_cast<char>(c));
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.empty()) return std::nullopt;
  return from_native(line);
}

}  // namespace plat

void plat::reset_platform_state() {
  g_last_errno = 0;
  statx_missing = false;  // tried again
  g_interrupted = 0;
  g_keys_from_terminal = -1;
  g_next_key_look_ns = 0;
  reset_files_state();
}
