#pragma once
// Suspend and resume from systemd-logind on the system bus, through sd-bus
// (libsystemd), for the programs without Qt: PrepareForSleep(true) before the
// machine sleeps, PrepareForSleep(false) after it woke up. A "delay"
// inhibitor lock is held while the program runs, so that logind waits (up to
// its InhibitDelayMaxSec) for the suspend work; suspend_done() releases it and
// it is taken again after the resume.
//
// Nothing here blocks: the subscription and the lock are asked for
// asynchronously (the lock once the subscription is in place, so that holding
// the lock means being told), and the caller's poll loop drives the
// connection: poll fd() for poll_events() for at most poll_timeout_ms(), then
// call take_events(). DBUS_SYSTEM_BUS_ADDRESS, when set, names the bus;
// libsystemd is loaded only when it is set or the default socket exists.
//
// Main thread only.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/error.h"
#include "platform/linux/owned_fd.h"
#include "platform/power_events.h"

struct sd_bus;
struct sd_bus_slot;

namespace tw::platform {

class LogindPowerEvents : public PowerEvents {
 public:
  // Connects and subscribes; an error when there is no system bus to connect
  // to or logind's signal cannot be subscribed to.
  static Result<std::unique_ptr<LogindPowerEvents>> connect();
  ~LogindPowerEvents() override;
  LogindPowerEvents(const LogindPowerEvents&) = delete;
  LogindPowerEvents& operator=(const LogindPowerEvents&) = delete;

  // What the caller's poll() waits for. fd() is -1 once the connection broke
  // (no more events then).
  int fd() const;
  // False once the connection broke.
  bool is_supported() override { return fd() >= 0; }
  short poll_events() const;
  // Milliseconds until the connection has work without any input (a call
  // timing out), -1 for none.
  int poll_timeout_ms() const;

  std::vector<PowerEvent> take_events() override;
  void suspend_done() override;

 private:
  explicit LogindPowerEvents(sd_bus* bus) : bus_(bus) {}
  void take_lock();
  friend struct LogindCallbacks;  // sd-bus's callbacks, in the .cpp

  sd_bus* bus_;
  sd_bus_slot* match_ = nullptr;
  bool lock_pending_ = false;
  bool broken_ = false;
  OwnedFd lock_;
  std::vector<PowerEvent> events_;
};

}  // namespace tw::platform
