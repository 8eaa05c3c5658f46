#pragma once
// A dedicated thread that calls one function at a fixed period, for the
// traffic sampler.
//
// The thread sleeps until absolute deadlines on the monotonic clock and moves
// the deadline by exactly one period per tick, so the period does not drift by
// the time the callback takes or by scheduling delays. When the thread wakes
// late by one period or more (a stalled machine, a debugger, a suspend), the
// missed ticks are skipped, not replayed in a burst: the callback runs once and
// the next deadline is the next point of the original grid that lies ahead.
//
// Between ticks the thread may also watch one descriptor (the link events of
// the interface table): when it becomes readable, `on_ready` runs on the
// thread at once and the wait for the deadline goes on. So the thread serves
// both without waking for anything else and without a read that finds nothing.
//
// Threads: start() and stop() are called from the owning thread (not from the
// callback). The callbacks run on the periodic thread only and must not throw.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <utility>

#include "platform/linux/owned_fd.h"

namespace tw::platform {

class PeriodicThread {
 public:
  using Callback = std::function<void()>;

  // A descriptor to watch between ticks and what to do when it is readable.
  // `on_ready` must take what made it readable, or it runs again at once.
  struct Watch {
    int fd = -1;
    Callback on_ready;
  };

  PeriodicThread() = default;
  ~PeriodicThread();  // stops and joins
  PeriodicThread(const PeriodicThread&) = delete;
  PeriodicThread& operator=(const PeriodicThread&) = delete;

  // Starts calling `tick` every `period` (> 0), the first time one period from
  // now. `name` names the thread for debuggers and top (at most 15 bytes are
  // kept). Returns false when already running, when the period is not
  // positive or when no thread (or no wake-up descriptor for stop()) can be
  // created.
  bool start(std::chrono::nanoseconds period, Callback tick, const std::string& name, Watch watch);
  bool start(std::chrono::nanoseconds period, Callback tick, const std::string& name = "tw-periodic") {
    return start(period, std::move(tick), name, Watch{});
  }

  // Wakes the thread, waits for a callback in progress to return and joins.
  // Does not wait for the rest of the period. Safe to call when not running.
  void stop();

  bool running() const;
  // Callbacks run and ticks skipped since start().
  std::uint64_t ticks() const { return ticks_.load(std::memory_order_relaxed); }
  std::uint64_t skipped() const { return skipped_.load(std::memory_order_relaxed); }

  // The deadline arithmetic, kept apart so that it can be checked without
  // waiting: given the deadline that just passed and the time of waking, the
  // next deadline (strictly after `now`, on the grid deadline + k * period)
  // and the number of grid points skipped on the way.
  struct Next {
    std::chrono::nanoseconds deadline;
    std::uint64_t skipped;
  };
  static Next next_deadline(std::chrono::nanoseconds deadline, std::chrono::nanoseconds now,
                            std::chrono::nanoseconds period);

 private:
  void run(std::chrono::nanoseconds period, std::string name);

  OwnedFd stop_fd_;  // eventfd: readable once stop() asks the thread to end
  std::atomic<bool> stop_requested_{false};
  std::atomic<std::uint64_t> ticks_{0};
  std::atomic<std::uint64_t> skipped_{0};
  Callback tick_;  // set before the thread starts, read by it only
  Watch watch_;    // likewise
  std::thread thread_;
};

}  // namespace tw::platform
