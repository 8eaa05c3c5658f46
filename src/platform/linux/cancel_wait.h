#pragma once
// Waits that a std::stop_token can end at once: the tools' blocking platform
// calls (WHOIS socket, DNS queries, host lookups) take the token of the worker
// that runs them, so that closing the window or STOP never waits out a
// silent server.
//
// - CancelFd: an eventfd that turns readable when the token is stopped, to be
//   polled beside the call's own descriptor.
// - wait_fd(): poll() for one descriptor, a time-out and the CancelFd.
// - run_abandonable(): for calls that cannot be interrupted (getaddrinfo,
//   getnameinfo, the ldns resolver): the call runs on a detached thread of its
//   own; a stop returns at once and leaves the thread to finish by itself,
//   dropping its result. The work must therefore own everything it touches
//   (capture by value) and must not outlive its usefulness by much: the
//   resolvers give up after their own time-outs.
//
// Threads: any thread; a CancelFd belongs to the thread that waits on it.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/linux/owned_fd.h"

namespace tw::platform {

class CancelFd {
 public:
  explicit CancelFd(std::stop_token stop);
  CancelFd(const CancelFd&) = delete;
  CancelFd& operator=(const CancelFd&) = delete;
  ~CancelFd();

  // -1 when no eventfd could be made: wait_fd() then looks at the token in
  // short slices instead.
  int fd() const { return fd_.get(); }
  bool cancelled() const { return stop_.stop_requested(); }

 private:
  struct Wake {
    int fd;
    void operator()() const noexcept;
  };
  std::stop_token stop_;
  OwnedFd fd_;
  // Declared after the descriptor: it is unregistered (and a wake-up running
  // on another thread finished) before the descriptor closes.
  std::optional<std::stop_callback<Wake>> callback_;
};

enum class WaitOutcome { Ready, TimedOut, Cancelled, Failed };

// Waits until `fd` reports one of `events` (POLLIN, POLLOUT; an error or hang-up
// counts as ready, the next call reports it), `timeout_ms` passed (-1: no
// limit) or the token is stopped. Failed: poll() itself failed (errno set).
WaitOutcome wait_fd(int fd, short events, int timeout_ms, const CancelFd& cancel);

template <class F>
auto run_abandonable(std::stop_token stop, F work) -> std::optional<decltype(work())> {
  using T = decltype(work());
  if (stop.stop_requested()) return std::nullopt;
  struct State {
    std::mutex mutex;
    std::condition_variable_any done;
    std::optional<T> result;
  };
  auto state = std::make_shared<State>();
  try {
    std::thread([state, work]() mutable {
      T r = work();
      std::lock_guard lock(state->mutex);
      state->result.emplace(std::move(r));
      state->done.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return work();  // no thread to be had: the call runs here, as before
  }
  std::unique_lock lock(state->mutex);
  state->done.wait(lock, stop, [&] { return state->result.has_value(); });
  if (!state->result) return std::nullopt;
  return std::move(state->result);
}

}  // namespace tw::platform
