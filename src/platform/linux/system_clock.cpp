#include "platform/linux/system_clock.h"

#include <time.h>

namespace tw::platform {

std::uint32_t SystemClock::to_tick_ms(long long seconds, long nanoseconds) {
  // Unsigned arithmetic: the product may exceed 2^32 and is meant to wrap.
  const auto ms = static_cast<unsigned long long>(seconds) * 1000ULL +
                  static_cast<unsigned long long>(nanoseconds / 1'000'000L);
  return static_cast<std::uint32_t>(ms);
}

std::uint32_t SystemClock::tick_ms() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return to_tick_ms(ts.tv_sec, ts.tv_nsec);
}

LocalTime SystemClock::local_now() {
  // localtime_r reads the time zone only once per process; tzset() looks
  // again (cheaply: glibc re-reads the zone file only when it changed), so a
  // zone changed while the program runs shows in the next log line.
  tzset();
  const time_t now = time(nullptr);
  tm t{};
  LocalTime out;
  if (localtime_r(&now, &t) == nullptr) return out;
  out.year = t.tm_year + 1900;
  out.month = t.tm_mon + 1;
  out.day = t.tm_mday;
  out.hour = t.tm_hour;
  out.minute = t.tm_min;
  // A leap second reads as 60; the logs and report lines expect 0..59.
  out.second = t.tm_sec > 59 ? 59 : t.tm_sec;
  return out;
}

}  // namespace tw::platform
