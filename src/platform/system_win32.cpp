// The system on Win32: waiting, threads and processors, processes, the file
// APIs' code page, the environment, the computer's name.

#include "platform/win32_internal.h"

#include <cstdlib>
#include <utility>

namespace plat {

void sleep_seconds(int seconds) {
  if (seconds > 0) Sleep(static_cast<DWORD>(seconds) * 1000u);
}

// Console control events come on a thread of the system's own: nothing to
// hold back.
std::thread start_thread(std::function<void()> body) { return std::thread(std::move(body)); }

// The processors of the process's affinity. A process whose threads run in
// more than one group of processors (more than 64) has no mask: every
// active processor then.
unsigned usable_processors() {
  DWORD_PTR process = 0, system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0)
    return static_cast<unsigned>(__builtin_popcountll(process));
  const DWORD active = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
  return active > 0 ? active : 1u;
}

void use_ansi_file_names() { SetFileApisToANSI(); }

std::optional<std::u16string> get_env(const std::string& name) {
  const std::wstring key(name.begin(), name.end());
  const wchar_t* value = _wgetenv(key.c_str());
  if (value == nullptr) return std::nullopt;
  return from_wide(value);
}

// Through the runtime, so that its own readers (the time-zone set-up reads
// TZ) see the value too.
void set_env(const std::string& name, const std::u16string& value) {
  std::wstring entry(name.begin(), name.end());
  entry += L'=';
  entry += wide(value);
  _wputenv(entry.c_str());
}

std::optional<std::u16string> computer_name() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &size)) {
    remember_error();
    return std::nullopt;
  }
  return from_wide(name, size);
}

bool process_running(uint64_t pid) {
  if (pid == 0 || pid > 0xFFFFFFFFull) return false;
  HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (h == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;  // runs, not ours to see
  DWORD code = 0;
  const bool running = GetExitCodeProcess(h, &code) && code == STILL_ACTIVE;
  CloseHandle(h);
  return running;
}

std::optional<uint64_t> process_started(uint64_t pid) {
  if (pid == 0 || pid > 0xFFFFFFFFull) return std::nullopt;
  HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (h == nullptr) return std::nullopt;
  FILETIME created, exited, kernel, user;
  const bool known = GetProcessTimes(h, &created, &exited, &kernel, &user) != 0;
  CloseHandle(h);
  if (!known) return std::nullopt;
  return stamp_of(created);
}

}  // namespace plat
