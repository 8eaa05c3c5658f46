#include "ui/main/signal_pipe.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace tw::ui {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The write end for the handler; -1 while no SignalPipe exists.
std::atomic<int> g_write_fd{-1};

extern "C" void on_signal(int signo) {
  const int saved = errno;  // the handler must not disturb the interrupted code
  const int fd = g_write_fd.load();
  if (fd >= 0) {
    const unsigned char byte = static_cast<unsigned char>(signo);
    // Non-blocking: a full pipe already holds enough wake-ups.
    [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
  }
  errno = saved;
}

}  // namespace

std::unique_ptr<SignalPipe> SignalPipe::install(std::string* error) {
  auto fail = [&](const std::string& what) -> std::unique_ptr<SignalPipe> {
    if (error) *error = what;
    return nullptr;
  };
  if (g_write_fd.load() >= 0) return fail("signal pipe already installed");
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return fail(std::string("pipe2: ") + std::strerror(errno));
  std::unique_ptr<SignalPipe> pipe(new SignalPipe(fds[0], fds[1]));
  g_write_fd.store(fds[1]);

  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;  // interrupted system calls elsewhere simply go on
  for (int s : kSignals) ::sigaction(s, &sa, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  return pipe;
}

SignalPipe::SignalPipe(int read_fd, int write_fd) : read_fd_(read_fd), write_fd_(write_fd) {
  notifier_ = new QSocketNotifier(read_fd_, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &SignalPipe::drain);
}

SignalPipe::~SignalPipe() {
  for (int s : kSignals) ::signal(s, SIG_DFL);
  g_write_fd.store(-1);
  delete notifier_;
  ::close(read_fd_);
  ::close(write_fd_);
}

void SignalPipe::drain() {
  unsigned char buf[64];
  for (;;) {
    const ssize_t n = ::read(read_fd_, buf, sizeof buf);
    if (n <= 0) break;  // EAGAIN: drained
    for (ssize_t i = 0; i < n; ++i) emit received(buf[i]);
  }
}

}  // namespace tw::ui
