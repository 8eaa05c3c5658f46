#include "platform/linux/cancel_wait.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>

namespace tw::platform {
namespace {

// Without an eventfd the token is looked at this often.
constexpr int kSliceMs = 50;

}  // namespace

void CancelFd::Wake::operator()() const noexcept {
  // The counter only ever grows, so the descriptor stays readable.
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
}

CancelFd::CancelFd(std::stop_token stop)
    : stop_(std::move(stop)), fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  // Runs Wake at once when the token is already stopped.
  if (fd_) callback_.emplace(stop_, Wake{fd_.get()});
}

CancelFd::~CancelFd() { callback_.reset(); }

WaitOutcome wait_fd(int fd, short events, int timeout_ms, const CancelFd& cancel) {
  using Clock = std::chrono::steady_clock;
  const bool limited = timeout_ms >= 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(limited ? timeout_ms : 0);
  for (;;) {
    if (cancel.cancelled()) return WaitOutcome::Cancelled;
    int wait = -1;
    if (limited) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return WaitOutcome::TimedOut;
      wait = static_cast<int>(std::min<long long>(left, INT_MAX));
    }
    if (cancel.fd() < 0) wait = wait < 0 ? kSliceMs : std::min(wait, kSliceMs);
    pollfd p[2] = {{fd, events, 0}, {cancel.fd(), POLLIN, 0}};
    const int n = ::poll(p, cancel.fd() >= 0 ? 2 : 1, wait);
    if (n < 0) {
      if (errno == EINTR) continue;
      return WaitOutcome::Failed;
    }
    if (p[1].revents != 0 || cancel.cancelled()) return WaitOutcome::Cancelled;
    if (p[0].revents != 0) return WaitOutcome::Ready;
  }
}

}  // namespace tw::platform
