#include "platform/linux/logind_power_events.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>
#include <utility>

#include "platform/linux/systemd_library.h"

namespace tw::platform {
namespace {

constexpr char kService[] = "org.freedesktop.login1";
constexpr char kPath[] = "/org/freedesktop/login1";
constexpr char kManager[] = "org.freedesktop.login1.Manager";

// Where sd_bus_open_system() connects: DBUS_SYSTEM_BUS_ADDRESS (which it
// reads with secure_getenv() too), else this socket.
constexpr char kDefaultSystemBus[] = "/run/dbus/system_bus_socket";

bool system_bus_may_exist() {
  const char* address = ::secure_getenv("DBUS_SYSTEM_BUS_ADDRESS");
  if (address != nullptr && address[0] != '\0') return true;
  return ::access(kDefaultSystemBus, F_OK) == 0;
}

// Loaded by connect() before any object exists.
const SystemdLibrary& sd() { return *systemd_library(); }

}  // namespace

struct LogindCallbacks {
  static int subscribed(sd_bus_message* reply, void* self, sd_bus_error* error);
  static int prepare_for_sleep(sd_bus_message* signal, void* self, sd_bus_error* error);
  static int lock(sd_bus_message* reply, void* self, sd_bus_error* error);
};

Result<std::unique_ptr<LogindPowerEvents>> LogindPowerEvents::connect() {
  constexpr const char* kNoPowerEvents = "Suspend and resume cannot be followed.";
  // Without a bus to connect to, libsystemd is not even loaded.
  if (!system_bus_may_exist()) return Error::from_errno(kNoPowerEvents, "no system bus", ENOENT);
  std::string why;
  if (!systemd_library(&why)) return Error{kNoPowerEvents, "libsystemd could not be loaded: " + why, ENOSYS};
  sd_bus* bus = nullptr;
  const int rc = sd().bus_open_system(&bus);
  if (rc < 0) return Error::from_errno(kNoPowerEvents, "no system bus", -rc);
  std::unique_ptr<LogindPowerEvents> self(new LogindPowerEvents(bus));
  const int m = sd().bus_match_signal_async(bus, &self->match_, kService, kPath, kManager, "PrepareForSleep",
                                            &LogindCallbacks::prepare_for_sleep,
                                            &LogindCallbacks::subscribed, self.get());
  if (m < 0) return Error::from_errno(kNoPowerEvents, "cannot subscribe to PrepareForSleep", -m);
  return self;
}

LogindPowerEvents::~LogindPowerEvents() {
  sd().bus_slot_unref(match_);
  sd().bus_flush_close_unref(bus_);
}

int LogindPowerEvents::fd() const { return broken_ ? -1 : sd().bus_get_fd(bus_); }

short LogindPowerEvents::poll_events() const {
  const int events = broken_ ? 0 : sd().bus_get_events(bus_);
  return static_cast<short>(events > 0 ? events : 0);
}

int LogindPowerEvents::poll_timeout_ms() const {
  std::uint64_t deadline_us = 0;
  if (broken_ || sd().bus_get_timeout(bus_, &deadline_us) < 0 || deadline_us == UINT64_MAX) return -1;
  // The deadline is on the monotonic clock, in microseconds.
  struct timespec now {};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  const std::uint64_t now_us =
      static_cast<std::uint64_t>(now.tv_sec) * 1000000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
  if (deadline_us <= now_us) return 0;
  const std::uint64_t ms = (deadline_us - now_us + 999) / 1000;
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

std::vector<PowerEvent> LogindPowerEvents::take_events() {
  while (!broken_) {
    const int rc = sd().bus_process(bus_, nullptr);
    if (rc < 0) broken_ = true;  // the bus went away: no more power events
    if (rc <= 0) break;
  }
  return std::exchange(events_, {});
}

void LogindPowerEvents::suspend_done() { lock_.reset(); }

void LogindPowerEvents::take_lock() {
  if (lock_ || lock_pending_ || broken_) return;
  // A floating call: the bus owns it, and closing the bus drops it unanswered.
  lock_pending_ = sd().bus_call_method_async(bus_, nullptr, kService, kPath, kManager, "Inhibit",
                                             &LogindCallbacks::lock, this, "ssss", "sleep", "Tarnwatch",
                                             "Saving the traffic totals and ending the report log",
                                             "delay") >= 0;
}

int LogindCallbacks::subscribed(sd_bus_message* reply, void* self, sd_bus_error*) {
  auto* me = static_cast<LogindPowerEvents*>(self);
  // A refused subscription means no events: then holding up the sleep for
  // work that never runs would be wrong.
  if (sd().bus_message_is_method_error(reply, nullptr)) return 0;
  me->take_lock();
  return 0;
}

int LogindCallbacks::prepare_for_sleep(sd_bus_message* signal, void* self, sd_bus_error*) {
  auto* me = static_cast<LogindPowerEvents*>(self);
  int start = 0;
  if (sd().bus_message_read(signal, "b", &start) < 0) return 0;
  me->events_.push_back(start ? PowerEvent::Suspending : PowerEvent::Resumed);
  if (!start) me->take_lock();
  return 0;
}

int LogindCallbacks::lock(sd_bus_message* reply, void* self, sd_bus_error*) {
  auto* me = static_cast<LogindPowerEvents*>(self);
  me->lock_pending_ = false;
  // Not allowed (no session, a policy) is no error: the suspend work then
  // races the sleep, as it would without logind.
  if (sd().bus_message_is_method_error(reply, nullptr)) return 0;
  int fd = -1;
  if (sd().bus_message_read(reply, "h", &fd) < 0 || fd < 0) return 0;
  // The message owns its descriptor; keep a copy of our own.
  me->lock_ = OwnedFd(::fcntl(fd, F_DUPFD_CLOEXEC, 3));
  return 0;
}

}  // namespace tw::platform
