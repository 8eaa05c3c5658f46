#pragma once
// A clock that moves only when a test moves it.
#include <atomic>

#include "platform/clock.h"

namespace tw::platform {

class FakeClock : public Clock {
 public:
  std::uint32_t tick_ms() override { return ms_.load(); }
  LocalTime local_now() override { return wall_; }

  void set_ms(std::uint32_t ms) { ms_ = ms; }
  void advance_ms(std::uint32_t ms) { ms_ += ms; }  // wraps modulo 2^32 like the real one
  void set_wall(const LocalTime& t) { wall_ = t; }

 private:
  std::atomic<std::uint32_t> ms_{0};
  LocalTime wall_{};
};

}  // namespace tw::platform
