#include "platform/linux/process_wait.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>

#include "platform/linux/owned_fd.h"

extern char** environ;

#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434  // same number on every architecture
#endif

namespace tw::platform {
namespace {

using Clock = std::chrono::steady_clock;

bool valid_pid(long pid) { return pid > 0 && pid <= INT_MAX; }

// True while the process exists and has not ended. A zombie still answers
// kill(pid, 0), so its state letter in /proc/PID/stat decides.
bool process_alive(long pid) {
  if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
  std::string path = "/proc/" + std::to_string(pid) + "/stat";
  OwnedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return true;  // no /proc: trust kill()
  char buf[512];
  ssize_t n = ::read(fd.get(), buf, sizeof buf - 1);
  if (n <= 0) return true;
  buf[n] = '\0';
  // "PID (comm) S ...": comm may hold spaces and parentheses, so look after
  // the last ')'.
  std::string_view line(buf, static_cast<std::size_t>(n));
  auto close = line.rfind(')');
  if (close == std::string_view::npos || close + 2 >= line.size()) return true;
  char state = line[close + 2];
  return state != 'Z' && state != 'X';
}

}  // namespace

WaitResult wait_for_process_exit_by_polling(long pid, std::chrono::milliseconds timeout) {
  // Like opening the process: it fails only when the id names no process. A
  // zombie can still be "opened" and is then found ended at once.
  if (!valid_pid(pid) || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH))
    return WaitResult::CouldNotOpen;
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (!process_alive(pid)) return WaitResult::Gone;
    auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return WaitResult::TimedOut;
    auto step = std::min<Clock::duration>(left, std::chrono::milliseconds(50));
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(step).count();
    struct timespec ts {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    ::nanosleep(&ts, nullptr);  // EINTR just means an earlier check
  }
}

WaitResult wait_for_process_exit(long pid, std::chrono::milliseconds timeout) {
  if (!valid_pid(pid)) return WaitResult::CouldNotOpen;
  OwnedFd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0u)));
  if (!pidfd) {
    if (errno == ENOSYS) return wait_for_process_exit_by_polling(pid, timeout);
    return WaitResult::CouldNotOpen;  // ESRCH: no such process
  }
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left < 0) left = 0;
    struct pollfd p {pidfd.get(), POLLIN, 0};
    // The pidfd turns readable when the process has ended, zombie or reaped.
    int rc = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, INT_MAX)));
    if (rc > 0) return WaitResult::Gone;
    if (rc == 0) return WaitResult::TimedOut;
    if (errno != EINTR) {
      // We had the process open, so "no such process" now means it ended.
      auto r = wait_for_process_exit_by_polling(pid, std::chrono::milliseconds(left));
      return r == WaitResult::CouldNotOpen ? WaitResult::Gone : r;
    }
  }
}

Result<pid_t> start_successor(const std::string& program, const std::vector<std::string>& args) {
  constexpr const char* kNotStarted = "The program cannot be started.";
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  // The caller may block its stop signals (for a signalfd) and ignore
  // SIGPIPE; both would be inherited across exec. The successor starts clean.
  posix_spawnattr_t attr;
  if (const int rc = ::posix_spawnattr_init(&attr); rc != 0)
    return Error::from_errno(kNotStarted, "preparing to start " + program, rc);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int sig : {SIGPIPE, SIGTERM, SIGINT, SIGHUP}) sigaddset(&defaults, sig);
  ::posix_spawnattr_setsigmask(&attr, &none);
  ::posix_spawnattr_setsigdefault(&attr, &defaults);
  ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  // glibc's posix_spawn reports a failed exec as its result.
  const int rc = ::posix_spawn(&pid, program.c_str(), nullptr, &attr, argv.data(), environ);
  ::posix_spawnattr_destroy(&attr);
  if (rc != 0) return Error::from_errno(kNotStarted, "starting " + program, rc);
  return pid;
}

}  // namespace tw::platform
