#include "platform/linux/process_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/linux/owned_fd.h"

extern char** environ;

namespace tw::platform {
namespace {

constexpr const char* kStartFailed = "The program cannot be started.";
// How long a child has to go after SIGTERM before it is killed.
constexpr auto kTermGrace = std::chrono::milliseconds(500);
// How often an interrupted child is looked at (and a stop noticed).
constexpr int kInterruptPollMs = 20;

class SpawnedChild final : public ChildProcess {
 public:
  SpawnedChild(pid_t pid, OwnedFd out, OwnedFd err) : pid_(pid) {
    fds_[0] = std::move(out);
    fds_[1] = std::move(err);
  }
  ~SpawnedChild() override {
    if (!reaped_) terminate();
  }

  Progress read(std::string& out, std::string& err, int timeout_ms) override {
    if (reaped_) {
      drain(out, err);
      return Progress::Ended;
    }
    pollfd p[2];
    nfds_t n = 0;
    for (auto& fd : fds_)
      if (fd.get() >= 0) p[n++] = pollfd{fd.get(), POLLIN, 0};
    // With both pipes at their end, the poll only waits for the child to go.
    ::poll(n ? p : nullptr, n, timeout_ms);
    drain(out, err);
    if (exited()) {
      // What the child wrote before it ended is in the pipes now; a process
      // it left behind holding them is not waited for.
      drain(out, err);
      fds_[0].reset();
      fds_[1].reset();
      return Progress::Ended;
    }
    return Progress::Running;
  }

  void interrupt(std::string& out, std::string& err, int grace_ms, std::stop_token stop) override {
    if (!reaped_) {
      ::kill(-pid_, SIGINT);
      ::kill(pid_, SIGINT);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(grace_ms);
    while (!stop.stop_requested() && std::chrono::steady_clock::now() < deadline) {
      if (read(out, err, kInterruptPollMs) == Progress::Ended) return;
    }
    drain(out, err);
    terminate();
  }

  void terminate() override {
    if (reaped_) return;
    ::kill(-pid_, SIGTERM);
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + kTermGrace;
    while (!exited() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!reaped_) {
      ::kill(-pid_, SIGKILL);
      ::kill(pid_, SIGKILL);
      int status = 0;
      while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      reaped_ = true;
    }
    fds_[0].reset();
    fds_[1].reset();
  }

 private:
  bool exited() {
    if (reaped_) return true;
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_ || (r < 0 && errno == ECHILD)) reaped_ = true;
    return reaped_;
  }

  // Reads whatever the pipes hold now, without waiting.
  void drain(std::string& out, std::string& err) {
    char buf[8192];
    for (int i = 0; i < 2; ++i) {
      while (fds_[i].get() >= 0) {
        const ssize_t r = ::read(fds_[i].get(), buf, sizeof buf);
        if (r > 0) {
          (i == 0 ? out : err).append(buf, static_cast<std::size_t>(r));
          continue;
        }
        if (r == 0) fds_[i].reset();  // the writing end is closed
        else if (errno == EINTR) continue;
        else if (errno != EAGAIN) fds_[i].reset();
        break;
      }
    }
  }

  pid_t pid_;
  OwnedFd fds_[2];
  bool reaped_ = false;
};

struct SpawnAttrs {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  SpawnAttrs() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
  }
  ~SpawnAttrs() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
};

}  // namespace

Result<std::unique_ptr<ChildProcess>> SpawnProcessRunner::start(const std::vector<std::string>& argv) {
  if (argv.empty() || argv[0].empty()) return Error{kStartFailed, "no program named", EINVAL};
  int out_pipe[2], err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0) return Error::from_errno(kStartFailed, "creating a pipe", errno);
  OwnedFd out_r(out_pipe[0]), out_w(out_pipe[1]);
  if (::pipe2(err_pipe, O_CLOEXEC) != 0) return Error::from_errno(kStartFailed, "creating a pipe", errno);
  OwnedFd err_r(err_pipe[0]), err_w(err_pipe[1]);

  SpawnAttrs s;
  posix_spawn_file_actions_addopen(&s.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&s.actions, out_w.get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&s.actions, err_w.get(), STDERR_FILENO);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD}) sigaddset(&defaults, sig);
  posix_spawnattr_setsigmask(&s.attr, &none);
  posix_spawnattr_setsigdefault(&s.attr, &defaults);
  posix_spawnattr_setpgroup(&s.attr, 0);
  posix_spawnattr_setflags(&s.attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));  // the exec API is not const-correct
  args.push_back(nullptr);
  pid_t pid = 0;
  const int rc = ::posix_spawnp(&pid, args[0], &s.actions, &s.attr, args.data(), environ);
  if (rc != 0) return Error::from_errno(kStartFailed, "starting " + argv[0], rc);
  out_w.reset();
  err_w.reset();
  ::fcntl(out_r.get(), F_SETFL, O_NONBLOCK);
  ::fcntl(err_r.get(), F_SETFL, O_NONBLOCK);
  return std::unique_ptr<ChildProcess>(std::make_unique<SpawnedChild>(pid, std::move(out_r), std::move(err_r)));
}

}  // namespace tw::platform
