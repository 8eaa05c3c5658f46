#include "platform/linux/periodic_thread.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <system_error>
#include <utility>

namespace tw::platform {

namespace {

std::chrono::nanoseconds monotonic_now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);  // vDSO: no system call
  return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

// The PeriodicThread whose thread this is, if any: the callback may call
// stop() or running() while the owner's start() is still storing the
// std::thread, so the thread itself never reads thread_.
thread_local const PeriodicThread* t_current = nullptr;

}  // namespace

PeriodicThread::~PeriodicThread() { stop(); }

PeriodicThread::Next PeriodicThread::next_deadline(std::chrono::nanoseconds deadline,
                                                   std::chrono::nanoseconds now,
                                                   std::chrono::nanoseconds period) {
  if (now < deadline + period) return {deadline + period, 0};
  const auto missed = static_cast<std::uint64_t>((now - deadline) / period);
  return {deadline + period * static_cast<std::int64_t>(missed + 1), missed};
}

bool PeriodicThread::start(std::chrono::nanoseconds period, Callback tick, const std::string& name, Watch watch) {
  if (thread_.joinable() || period <= std::chrono::nanoseconds::zero() || !tick) return false;
  stop_fd_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!stop_fd_) return false;
  stop_requested_ = false;
  ticks_ = 0;
  skipped_ = 0;
  tick_ = std::move(tick);
  watch_ = watch.on_ready ? std::move(watch) : Watch{};
  try {
    thread_ = std::thread(&PeriodicThread::run, this, period, name);
  } catch (const std::system_error&) {
    tick_ = nullptr;
    watch_ = {};
    stop_fd_.reset();
    return false;
  }
  return true;
}

void PeriodicThread::stop() {
  const bool inside = t_current == this;
  if (!inside && !thread_.joinable()) return;
  stop_requested_ = true;
  const std::uint64_t one = 1;
  // Cannot fail short of a counter at its maximum, which one write never reaches.
  (void)!::write(stop_fd_.get(), &one, sizeof one);
  // From inside the callback the thread cannot join itself: it ends after the
  // callback returns and the owner's next stop() (or the destructor) joins it.
  if (inside) return;
  thread_.join();
  tick_ = nullptr;
  watch_ = {};
  stop_fd_.reset();
}

bool PeriodicThread::running() const {
  if (t_current == this) return !stop_requested_;
  return thread_.joinable() && !stop_requested_;
}

void PeriodicThread::run(std::chrono::nanoseconds period, std::string name) {
  // The kernel keeps at most 15 bytes of a thread name.
  if (name.size() > 15) name.resize(15);
  pthread_setname_np(pthread_self(), name.c_str());
  t_current = this;

  pollfd fds[2] = {{stop_fd_.get(), POLLIN, 0}, {watch_.fd, POLLIN, 0}};
  const nfds_t nfds = watch_.fd >= 0 ? 2 : 1;
  std::chrono::nanoseconds deadline = monotonic_now() + period;
  for (;;) {
    // One wait per tick: until the absolute deadline (the timeout is taken
    // from it each time, so neither an early wake nor the callback's time
    // moves the grid), or until stop() or the watched descriptor wakes us.
    const std::chrono::nanoseconds now = monotonic_now();
    if (now < deadline) {
      const std::chrono::nanoseconds left = deadline - now;
      const timespec timeout{static_cast<time_t>(left.count() / 1'000'000'000),
                             static_cast<long>(left.count() % 1'000'000'000)};
      const int n = ::ppoll(fds, nfds, &timeout, nullptr);
      if (stop_requested_) return;
      if (n < 0) {
        // EINTR: wait again. Anything else (ENOMEM) would come back at once;
        // fall back to a plain sleep to the deadline rather than spin.
        if (errno != EINTR) ::clock_nanosleep(CLOCK_MONOTONIC, 0, &timeout, nullptr);
        continue;
      }
      if (n > 0) {
        if (fds[0].revents != 0) return;
        if (nfds > 1 && fds[1].revents != 0) {
          if (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) fds[1].fd = -1;  // never again
          watch_.on_ready();
        }
        continue;  // the deadline still stands
      }
      continue;  // timed out: the loop sees the deadline reached
    }
    if (stop_requested_) return;
    const Next next = next_deadline(deadline, now, period);
    skipped_.fetch_add(next.skipped, std::memory_order_relaxed);
    deadline = next.deadline;
    tick_();
    ticks_.fetch_add(1, std::memory_order_relaxed);
  }
}

}  // namespace tw::platform
