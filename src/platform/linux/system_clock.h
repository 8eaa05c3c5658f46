#pragma once
// The machine's clocks, for the logic's Clock interface.
#include "platform/clock.h"

namespace tw::platform {

class SystemClock : public Clock {
 public:
  // CLOCK_MONOTONIC in milliseconds, truncated to 32 bits: it wraps after
  // about 49.7 days, which elapsed-time arithmetic modulo 2^32 absorbs. It does
  // not count time spent suspended.
  std::uint32_t tick_ms() override;
  // The local wall-clock time, in the time zone configured now (TZ or
  // /etc/localtime, re-read when it changes).
  LocalTime local_now() override;

  // The conversion itself, for tests: seconds and nanoseconds of a monotonic
  // reading to the 32-bit millisecond tick.
  static std::uint32_t to_tick_ms(long long seconds, long nanoseconds);
};

}  // namespace tw::platform
