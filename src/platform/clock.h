#pragma once
// Time sources. The logic never reads a clock itself: it is handed one of these,
// so tests drive time by hand (see platform/fake/fake_clock.h).
#include <cstdint>

namespace tw::platform {

// A broken-down local wall-clock time (what the logs and report lines print).
struct LocalTime {
  int year = 1970;  // four digits
  int month = 1;    // 1..12
  int day = 1;      // 1..31
  int hour = 0;     // 0..23
  int minute = 0;   // 0..59
  int second = 0;   // 0..59
};

class Clock {
 public:
  virtual ~Clock() = default;
  // Every system has both clocks.
  virtual bool is_supported() { return true; }
  // Monotonic milliseconds truncated to 32 bits. Elapsed times are always taken
  // as (now - then) in uint32_t arithmetic, so they survive the wrap after ~49.7 days.
  // Any thread may call it.
  virtual std::uint32_t tick_ms() = 0;
  // Local wall-clock time now. Any thread may call it.
  virtual LocalTime local_now() = 0;
};

}  // namespace tw::platform
