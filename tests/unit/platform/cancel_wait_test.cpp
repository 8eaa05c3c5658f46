// The waits a stop token ends: an eventfd polled beside a descriptor, and
// calls that cannot be interrupted run on a thread a stop abandons.
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/linux/cancel_wait.h"

namespace tw::platform {
namespace {

struct Pipe {
  int fd[2] = {-1, -1};
  Pipe() { EXPECT_EQ(::pipe(fd), 0); }
  ~Pipe() {
    ::close(fd[0]);
    ::close(fd[1]);
  }
};

TEST(CancelWait, AStopEndsAWaitThatNothingElseWouldEnd) {
  Pipe p;
  std::stop_source stop;
  {
    const CancelFd cancel(stop.get_token());
    EXPECT_EQ(wait_fd(p.fd[0], POLLIN, 0, cancel), WaitOutcome::TimedOut);
    ASSERT_EQ(::write(p.fd[1], "x", 1), 1);
    EXPECT_EQ(wait_fd(p.fd[0], POLLIN, -1, cancel), WaitOutcome::Ready);
    char c;
    ASSERT_EQ(::read(p.fd[0], &c, 1), 1);
    // No time limit: only the stop, from another thread, ends it.
    std::thread stopper([&] { stop.request_stop(); });
    EXPECT_EQ(wait_fd(p.fd[0], POLLIN, -1, cancel), WaitOutcome::Cancelled);
    stopper.join();
  }
  // A token stopped before the wait begins: at once.
  const CancelFd late(stop.get_token());
  EXPECT_EQ(wait_fd(p.fd[0], POLLIN, -1, late), WaitOutcome::Cancelled);
}

TEST(CancelWait, AnAbandonedCallFinishesOnItsOwnThread) {
  // The work blocks until released, as a resolver waiting for a server.
  struct Gate {
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    std::atomic<bool> entered{false}, done{false};
  };
  auto gate = std::make_shared<Gate>();
  std::stop_source stop;
  std::optional<int> result;
  std::thread caller([&] {
    result = run_abandonable(stop.get_token(), [gate] {
      gate->entered = true;
      std::unique_lock lock(gate->m);
      gate->cv.wait(lock, [&] { return gate->open; });
      gate->done = true;
      return 42;
    });
  });
  while (!gate->entered) std::this_thread::yield();
  stop.request_stop();
  caller.join();  // returns while the work still waits
  EXPECT_FALSE(result);
  EXPECT_FALSE(gate->done);
  {
    std::lock_guard lock(gate->m);
    gate->open = true;
  }
  gate->cv.notify_all();
  while (!gate->done) std::this_thread::yield();  // it finishes and drops its result

  // Not stopped: the result comes back.
  EXPECT_EQ(run_abandonable(std::stop_token(), [] { return 7; }), 7);
}

}  // namespace
}  // namespace tw::platform
