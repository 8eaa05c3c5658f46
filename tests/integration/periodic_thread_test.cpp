// The sampler thread and the system clock. Nothing here asserts how long
// anything took: the waits below only guard against a hang.
#include <stdlib.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/linux/periodic_thread.h"
#include "platform/linux/system_clock.h"

namespace {

using namespace std::chrono_literals;
using tw::platform::PeriodicThread;
using tw::platform::SystemClock;

constexpr auto kHangGuard = 30s;

TEST(PeriodicDeadlines, StayOnTheGridAndSkipMissedTicks) {
  const std::chrono::nanoseconds period = 50ms;
  const std::chrono::nanoseconds start = 1'000'000'000ns;

  // Woken on time or a little late: the next deadline is one period on, so
  // lateness does not accumulate.
  auto n = PeriodicThread::next_deadline(start, start, period);
  EXPECT_EQ(n.deadline, start + period);
  EXPECT_EQ(n.skipped, 0u);
  n = PeriodicThread::next_deadline(start, start + 49ms, period);
  EXPECT_EQ(n.deadline, start + period);
  EXPECT_EQ(n.skipped, 0u);

  // Exactly one period late: that grid point has passed too.
  n = PeriodicThread::next_deadline(start, start + period, period);
  EXPECT_EQ(n.deadline, start + 2 * period);
  EXPECT_EQ(n.skipped, 1u);

  // A stall of an hour: 72000 ticks skipped, the next one on the old grid.
  n = PeriodicThread::next_deadline(start, start + 1h + 10ms, period);
  EXPECT_EQ(n.skipped, 72000u);
  EXPECT_EQ(n.deadline, start + 1h + period);
  EXPECT_EQ((n.deadline - start) % period, 0ns);
  EXPECT_GT(n.deadline, start + 1h + 10ms);

  // Periods that do not divide a second (a 150 ms sampler).
  n = PeriodicThread::next_deadline(start, start + 1s, 150ms);
  EXPECT_EQ(n.skipped, 6u);
  EXPECT_EQ(n.deadline, start + 7 * 150ms);
}

TEST(PeriodicThreadRun, TicksUntilStoppedAndCanRestart) {
  PeriodicThread t;
  std::mutex mu;
  std::condition_variable cv;
  int calls = 0;
  auto tick = [&] {
    std::lock_guard lock(mu);
    ++calls;
    cv.notify_all();
  };

  EXPECT_FALSE(t.start(0ms, tick));
  EXPECT_FALSE(t.start(1ms, nullptr));
  ASSERT_TRUE(t.start(1ms, tick, "tw-test-thread-long-name"));
  EXPECT_TRUE(t.running());
  EXPECT_FALSE(t.start(1ms, tick));  // already running
  {
    std::unique_lock lock(mu);
    ASSERT_TRUE(cv.wait_for(lock, kHangGuard, [&] { return calls >= 5; }));
  }
  t.stop();
  EXPECT_FALSE(t.running());
  {
    std::lock_guard lock(mu);
    EXPECT_EQ(t.ticks(), static_cast<std::uint64_t>(calls));  // no call after stop() returned
  }
  t.stop();  // twice is harmless

  {
    std::lock_guard lock(mu);
    calls = 0;
  }
  ASSERT_TRUE(t.start(1ms, tick));
  std::unique_lock lock(mu);
  ASSERT_TRUE(cv.wait_for(lock, kHangGuard, [&] { return calls >= 2; }));
}

TEST(PeriodicThreadRun, StopDoesNotWaitForTheNextDeadline) {
  int calls = 0;
  auto t = std::make_unique<PeriodicThread>();
  ASSERT_TRUE(t->start(24h, [&] { ++calls; }));
  // stop() must wake the sleeping thread; waiting out the period would hang.
  auto stopped = std::async(std::launch::async, [&] { t->stop(); });
  ASSERT_EQ(stopped.wait_for(kHangGuard), std::future_status::ready);
  EXPECT_EQ(calls, 0);

  // The destructor stops too.
  ASSERT_TRUE(t->start(24h, [&] { ++calls; }));
  auto destroyed = std::async(std::launch::async, [&] { t.reset(); });
  ASSERT_EQ(destroyed.wait_for(kHangGuard), std::future_status::ready);
  EXPECT_EQ(calls, 0);
}

// The descriptor watched between ticks (the link events) is served at once,
// as often as it becomes readable, without a tick; stop() still ends the
// thread at once.
TEST(PeriodicThreadRun, WatchedDescriptorIsServedBetweenTicks) {
  const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  ASSERT_GE(fd, 0);
  std::atomic<int> served{0};
  std::atomic<int> calls{0};
  PeriodicThread t;
  ASSERT_TRUE(t.start(24h, [&] { ++calls; }, "tw-test-watch", {fd, [&] {
                        std::uint64_t v = 0;
                        if (read(fd, &v, sizeof v) == sizeof v) ++served;
                      }}));
  const std::uint64_t one = 1;
  for (int round = 1; round <= 2; ++round) {
    ASSERT_EQ(write(fd, &one, sizeof one), static_cast<ssize_t>(sizeof one));
    const auto end = std::chrono::steady_clock::now() + kHangGuard;
    while (served < round && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(1ms);
    ASSERT_EQ(served, round);
  }
  auto stopped = std::async(std::launch::async, [&] { t.stop(); });
  ASSERT_EQ(stopped.wait_for(kHangGuard), std::future_status::ready);
  EXPECT_EQ(calls, 0);
  close(fd);
}

TEST(PeriodicThreadRun, StopFromInsideTheCallback) {
  PeriodicThread t;
  std::promise<void> third;
  int calls = 0;
  ASSERT_TRUE(t.start(1ms, [&] {
    if (++calls == 3) {
      t.stop();
      third.set_value();
    }
  }));
  ASSERT_EQ(third.get_future().wait_for(kHangGuard), std::future_status::ready);
  t.stop();  // joins the thread that stopped itself
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(t.ticks(), 3u);
}

TEST(PeriodicThreadRun, SlowCallbackSkipsTicksInsteadOfReplayingThem) {
  PeriodicThread t;
  std::promise<void> in_first;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<void> in_second;
  int calls = 0;
  ASSERT_TRUE(t.start(1ms, [&] {
    ++calls;
    if (calls == 1) {
      in_first.set_value();
      released.wait();
    } else if (calls == 2) {
      in_second.set_value();
    }
  }));
  ASSERT_EQ(in_first.get_future().wait_for(kHangGuard), std::future_status::ready);
  // The first callback is held for at least 20 periods.
  std::this_thread::sleep_for(20ms);
  release.set_value();
  ASSERT_EQ(in_second.get_future().wait_for(kHangGuard), std::future_status::ready);
  t.stop();
  EXPECT_GE(t.skipped(), 1u);
}

TEST(SystemClockTest, MillisecondTickWrapsAt32Bits) {
  EXPECT_EQ(SystemClock::to_tick_ms(0, 999'999), 0u);
  EXPECT_EQ(SystemClock::to_tick_ms(1, 500'000'000), 1500u);
  // 2^32 ms = 4294967.296 s: the reading wraps to 0, and elapsed times taken
  // modulo 2^32 across the wrap stay right.
  EXPECT_EQ(SystemClock::to_tick_ms(4294967, 295'000'000), 0xFFFFFFFFu);
  EXPECT_EQ(SystemClock::to_tick_ms(4294967, 296'000'000), 0u);
  const std::uint32_t before = SystemClock::to_tick_ms(4294967, 290'000'000);
  const std::uint32_t after = SystemClock::to_tick_ms(4294967, 310'000'000);
  EXPECT_EQ(static_cast<std::uint32_t>(after - before), 20u);

  SystemClock clock;
  const std::uint32_t a = clock.tick_ms();
  const std::uint32_t b = clock.tick_ms();
  EXPECT_LT(static_cast<std::uint32_t>(b - a), 60'000u);  // forward, never backwards
}

TEST(SystemClockTest, LocalTimeFollowsTheTimeZone) {
  const char* old = getenv("TZ");
  const std::string saved = old ? old : "";
  SystemClock clock;

  for (const char* zone : {"UTC0", "JST-9"}) {
    setenv("TZ", zone, 1);
    tw::platform::LocalTime got;
    tm want{};
    // Retry when the second turned between the two readings.
    for (int i = 0; i < 5; ++i) {
      const time_t t0 = time(nullptr);
      got = clock.local_now();
      const time_t t1 = time(nullptr);
      tzset();
      localtime_r(&t0, &want);
      if (t0 == t1) break;
    }
    EXPECT_EQ(got.year, want.tm_year + 1900) << zone;
    EXPECT_EQ(got.month, want.tm_mon + 1) << zone;
    EXPECT_EQ(got.day, want.tm_mday) << zone;
    EXPECT_EQ(got.hour, want.tm_hour) << zone;
    EXPECT_EQ(got.minute, want.tm_min) << zone;
  }

  if (old) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

}  // namespace
