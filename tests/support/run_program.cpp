#include "support/run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
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

namespace {

std::string from_text_mode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out.push_back(text[i]);
  return out;
}

// Lines that Wine itself writes to the program's standard error, such as
// "wine: Read access denied for device ..." when a volume is queried.
std::string without_wine_notes(const std::string& text) {
  std::string out;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t at = text.find("wine: ", pos);
    if (at == std::string::npos) {
      out.append(text, pos, std::string::npos);
      break;
    }
    out.append(text, pos, at - pos);
    const size_t end = text.find('\n', at);
    pos = end == std::string::npos ? text.size() : end + 1;
  }
  return out;
}

}  // namespace

RunResult run_program(const std::vector<std::string>& args, const RunOptions& options) {
  std::vector<std::string> argv_text;
  if (const char* runner = std::getenv("IPCONV_RUNNER"); runner && *runner) {
    std::istringstream words(runner);
    for (std::string w; words >> w;) argv_text.push_back(w);
  }
  argv_text.push_back(program_under_test());
  const size_t first_arg = argv_text.size();
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  if (running_under_wine() && !options.streams_under_wine && !args.empty()) {
    auto at = argv_text.begin() + static_cast<std::ptrdiff_t>(first_arg);
    // A lone "-" is a file argument (standard input), not an option group.
    while (at != argv_text.end() &&
           (at->empty() || *at == "-" || std::strchr("-+/", (*at)[0]) == nullptr))
      ++at;
    argv_text.insert(at, "-S");
  }
  if (options.file_size_limit_bytes >= 0) {
    // POSIX sh counts the limit in blocks of 512 bytes; an ignored signal
    // stays ignored across exec.
    const std::string script = "ulimit -f " + std::to_string(options.file_size_limit_bytes / 512) +
                               (options.file_size_signal_default ? "" : " && trap '' XFSZ") +
                               " && exec \"$@\"";
    argv_text.insert(argv_text.begin(), {"/bin/sh", "-c", script, "sh"});
  }
  if (options.run_as_nobody && geteuid() == 0)
    argv_text.insert(argv_text.begin(),
                     {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
  if (options.memory_limit_kib >= 0) {
    const std::string script =
        "ulimit -v " + std::to_string(options.memory_limit_kib) + " && exec \"$@\"";
    argv_text.insert(argv_text.begin(), {"/bin/sh", "-c", script, "sh"});
  }

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
  if (!options.stdin_file.empty())
    posix_spawn_file_actions_addopen(&actions, 0, options.stdin_file.c_str(), O_RDONLY, 0);
  if (!options.stdout_file.empty())
    posix_spawn_file_actions_addopen(&actions, 1, options.stdout_file.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
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
  struct rusage usage {};
  wait4(pid, &wstatus, 0, &usage);
  result.status = (!timed_out && WIFEXITED(wstatus)) ? WEXITSTATUS(wstatus) : -1;
  result.peak_rss_kib = usage.ru_maxrss;
  if (timed_out) result.err += "\n[test harness: program timed out]\n";
  if (running_under_wine()) {
    if (!options.stdout_as_written) result.out = from_text_mode(result.out);
    result.err = from_text_mode(without_wine_notes(result.err));
  }
  return result;
}

std::string shown_path(const std::filesystem::path& path) {
  if (!running_under_wine()) return path.string();
  std::string shown = path.string();
  for (char& c : shown)
    if (c == '/') c = '\\';
  return path.is_absolute() ? "Z:" + shown : shown;
}

std::string program_text(const std::string& text) {
  if (!running_under_wine()) return text;
  std::string out;
  for (char c : text) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
  return out;
}

namespace {

// One line of /proc/PID/FILE that starts with `key`, without the key.
std::string proc_field(int pid, const char* file, const std::string& key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
  for (std::string line; std::getline(in, line);)
    if (line.compare(0, key.size(), key) == 0) return line.substr(key.size());
  return std::string();
}

template <typename Done>
bool wait_for(int timeout_seconds, Done done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    poll(nullptr, 0, 1);
  }
  return true;
}

}  // namespace

HeldRun::HeldRun(const std::vector<std::string>& args, const RunOptions& options)
    : timeout_seconds_(options.timeout_seconds) {
  std::vector<std::string> argv_text = {program_under_test()};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_text;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string key = entry.substr(0, entry.find('='));
    bool drop = false;
    for (auto& kv : options.env) drop |= kv.first == key;
    for (auto& u : options.unset_env) drop |= u == key;
    if (!drop) env_text.push_back(entry);
  }
  for (auto& kv : options.env) env_text.push_back(kv.first + "=" + kv.second);
  std::vector<char*> envp;
  for (auto& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);
  int out_pipe[2], err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) || pipe2(err_pipe, O_CLOEXEC)) return;
  fcntl(out_pipe[1], F_SETPIPE_SZ, 4096);
  const std::string cwd = options.cwd.empty() ? std::string(".") : options.cwd.string();
  const pid_t pid = fork();
  if (pid == 0) {
    // Only calls that are safe after fork: the test program has threads.
    const int null_in = open("/dev/null", O_RDONLY);
    dup2(null_in, 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    signal(SIGPIPE, SIG_DFL);
    const struct rlimit no_core = {0, 0};  // SIGQUIT leaves no core file
    setrlimit(RLIMIT_CORE, &no_core);
    if (chdir(cwd.c_str()) != 0) _exit(127);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  out_ = out_pipe[0];
  err_ = err_pipe[0];
  pid_ = pid;
}

HeldRun::~HeldRun() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) close(out_);
  if (err_ >= 0) close(err_);
}

bool HeldRun::wait_until_held() {
  if (pid_ <= 0 || out_ < 0) return false;
  return wait_for(timeout_seconds_, [this] {
    int queued = 0;
    if (ioctl(out_, FIONREAD, &queued) != 0 || queued < fcntl(out_, F_GETPIPE_SZ)) return false;
    std::ifstream wchan("/proc/" + std::to_string(pid_) + "/wchan");
    std::string where;
    wchan >> where;
    return where.find("pipe_write") != std::string::npos;
  });
}

void HeldRun::send(int signal) {
  if (pid_ > 0) kill(pid_, signal);
}

bool HeldRun::wait_until_taken(int signal) {
  if (pid_ <= 0) return false;
  const unsigned long long bit = 1ull << (signal - 1);
  return wait_for(timeout_seconds_, [this, bit] {
    for (const char* key : {"SigPnd:", "ShdPnd:"}) {
      const std::string mask = proc_field(pid_, "status", key);
      if (mask.empty() || (std::stoull(mask, nullptr, 16) & bit) != 0) return false;
    }
    return true;
  });
}

void HeldRun::close_output() {
  if (out_ >= 0) close(out_);
  out_ = -1;
}

RunResult HeldRun::finish() {
  RunResult result;
  if (pid_ <= 0) return result;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds_);
  std::string* sinks[2] = {&result.out, &result.err};
  int* fds[2] = {&out_, &err_};
  while (out_ >= 0 || err_ >= 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid_, SIGKILL);
      result.err += "\n[test harness: program timed out]\n";
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (*fds[i] < 0) continue;
      pollfd p = {*fds[i], POLLIN, 0};
      if (poll(&p, 1, 10) <= 0) continue;
      char buf[65536];
      const ssize_t r = read(*fds[i], buf, sizeof buf);
      if (r > 0) {
        sinks[i]->append(buf, static_cast<size_t>(r));
      } else {
        close(*fds[i]);
        *fds[i] = -1;
      }
    }
  }
  int wstatus = 0;
  struct rusage usage {};
  wait4(pid_, &wstatus, 0, &usage);
  pid_ = -1;
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  end_signal_ = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
  result.peak_rss_kib = usage.ru_maxrss;
  return result;
}

bool make_fifo(const std::filesystem::path& path) { return mkfifo(path.c_str(), 0644) == 0; }

bool make_socket_file(const std::filesystem::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string name = path.string();
  if (name.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, name.c_str(), name.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return false;
  const bool made = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);  // the socket file stays behind, with nobody listening
  return made;
}

}  // namespace test
