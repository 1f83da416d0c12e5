#include "support/run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>

extern char** environ;

namespace test {

std::string program_under_test() {
  const char* p = std::getenv("IPCONV_PROGRAM");
  return p ? p : "ipconv";
}

bool running_under_wine() {
  const char* r = std::getenv("IPCONV_RUNNER");
  return r && std::strstr(r, "wine");
}

RunResult run_program(const std::vector<std::string>& args, const RunOptions& options) {
  std::vector<std::string> argv_text;
  if (const char* runner = std::getenv("IPCONV_RUNNER"); runner && *runner) {
    std::istringstream words(runner);
    for (std::string w; words >> w;) argv_text.push_back(w);
  }
  argv_text.push_back(program_under_test());
  argv_text.insert(argv_text.end(), args.begin(), args.end());

  std::vector<std::string> env_text;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    std::string key = entry.substr(0, entry.find('='));
    bool drop = false;
    for (auto& kv : options.env) drop |= kv.first == key;
    for (auto& u : options.unset_env) drop |= u == key;
    if (!drop) env_text.push_back(entry);
  }
  for (auto& kv : options.env) env_text.push_back(kv.first + "=" + kv.second);

  std::vector<char*> argv, envp;
  for (auto& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);

  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe(in_pipe) || pipe(out_pipe) || pipe(err_pipe)) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]})
    posix_spawn_file_actions_addclose(&actions, fd);
  std::string cwd = options.cwd.empty() ? std::string(".") : options.cwd.string();
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());

  pid_t pid = -1;
  const char* exe = argv[0];
  int rc = posix_spawnp(&pid, exe, &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  RunResult result;
  if (rc != 0) {
    close(in_pipe[1]);
    close(out_pipe[0]);
    close(err_pipe[0]);
    result.err = std::string("spawn failed: ") + std::strerror(rc);
    return result;
  }
  signal(SIGPIPE, SIG_IGN);
  size_t fed = 0;
  if (options.stdin_closed || options.stdin_text.empty()) {
    close(in_pipe[1]);
    in_pipe[1] = -1;
  } else {
    fcntl(in_pipe[1], F_SETFL, O_NONBLOCK);
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeout_seconds);
  bool out_open = true, err_open = true;
  bool timed_out = false;
  while (out_open || err_open) {
    pollfd fds[3];
    int n = 0;
    if (out_open) fds[n++] = {out_pipe[0], POLLIN, 0};
    if (err_open) fds[n++] = {err_pipe[0], POLLIN, 0};
    if (in_pipe[1] >= 0) fds[n++] = {in_pipe[1], POLLOUT, 0};
    int ready = poll(fds, n, 200);
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      timed_out = true;
      break;
    }
    if (ready <= 0) continue;
    for (int i = 0; i < n; ++i) {
      if (!fds[i].revents) continue;
      if (fds[i].fd == in_pipe[1]) {
        ssize_t w = write(in_pipe[1], options.stdin_text.data() + fed, options.stdin_text.size() - fed);
        if (w > 0) fed += static_cast<size_t>(w);
        if (w < 0 || fed == options.stdin_text.size()) {
          close(in_pipe[1]);
          in_pipe[1] = -1;
        }
        continue;
      }
      char buf[65536];
      ssize_t r = read(fds[i].fd, buf, sizeof buf);
      std::string& sink = fds[i].fd == out_pipe[0] ? result.out : result.err;
      if (r > 0) {
        sink.append(buf, static_cast<size_t>(r));
      } else {
        (fds[i].fd == out_pipe[0] ? out_open : err_open) = false;
      }
    }
  }
  if (in_pipe[1] >= 0) close(in_pipe[1]);
  close(out_pipe[0]);
  close(err_pipe[0]);
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  result.status = (!timed_out && WIFEXITED(wstatus)) ? WEXITSTATUS(wstatus) : -1;
  if (timed_out) result.err += "\n[test harness: program timed out]\n";
  return result;
}

}  // namespace test
