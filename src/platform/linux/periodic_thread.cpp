#include "platform/linux/periodic_thread.h"

#include <pthread.h>

#include <system_error>
#include <utility>

namespace tw::platform {

// std::chrono::steady_clock is CLOCK_MONOTONIC, and a condition variable
// waiting until one of its time points sleeps to an absolute deadline
// (pthread_cond_clockwait), like clock_nanosleep(TIMER_ABSTIME) does, while
// still letting stop() wake the thread at once.
using Clock = std::chrono::steady_clock;

PeriodicThread::~PeriodicThread() { stop(); }

PeriodicThread::Next PeriodicThread::next_deadline(std::chrono::nanoseconds deadline,
                                                   std::chrono::nanoseconds now,
                                                   std::chrono::nanoseconds period) {
  if (now < deadline + period) return {deadline + period, 0};
  const auto missed = static_cast<std::uint64_t>((now - deadline) / period);
  return {deadline + period * static_cast<std::int64_t>(missed + 1), missed};
}

bool PeriodicThread::start(std::chrono::nanoseconds period, Callback tick, const std::string& name) {
  if (thread_.joinable() || period <= std::chrono::nanoseconds::zero() || !tick) return false;
  {
    std::lock_guard lock(mutex_);
    stop_requested_ = false;
    ticks_ = 0;
    skipped_ = 0;
  }
  tick_ = std::move(tick);
  try {
    thread_ = std::thread(&PeriodicThread::run, this, period, name);
  } catch (const std::system_error&) {
    tick_ = nullptr;
    return false;
  }
  return true;
}

void PeriodicThread::stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stop_requested_ = true;
  }
  wake_.notify_all();
  // From inside the callback the thread cannot join itself: it ends after the
  // callback returns and the owner's next stop() (or the destructor) joins it.
  if (thread_.get_id() == std::this_thread::get_id()) return;
  thread_.join();
  tick_ = nullptr;
}

bool PeriodicThread::running() const {
  std::lock_guard lock(mutex_);
  return thread_.joinable() && !stop_requested_;
}

std::uint64_t PeriodicThread::ticks() const {
  std::lock_guard lock(mutex_);
  return ticks_;
}

std::uint64_t PeriodicThread::skipped() const {
  std::lock_guard lock(mutex_);
  return skipped_;
}

void PeriodicThread::run(std::chrono::nanoseconds period, std::string name) {
  // The kernel keeps at most 15 bytes of a thread name.
  if (name.size() > 15) name.resize(15);
  pthread_setname_np(pthread_self(), name.c_str());

  auto since_epoch = [] { return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()); };
  std::chrono::nanoseconds deadline = since_epoch() + period;
  std::unique_lock lock(mutex_);
  for (;;) {
    const Clock::time_point until{std::chrono::duration_cast<Clock::duration>(deadline)};
    // Spurious wake-ups just wait again for the same deadline.
    if (wake_.wait_until(lock, until, [this] { return stop_requested_; })) return;

    const Next next = next_deadline(deadline, since_epoch(), period);
    skipped_ += next.skipped;
    deadline = next.deadline;
    // The callback runs without the lock, so that stop() can ask to stop at
    // any time; it is then seen before the next wait.
    lock.unlock();
    tick_();
    lock.lock();
    ++ticks_;
  }
}

}  // namespace tw::platform
