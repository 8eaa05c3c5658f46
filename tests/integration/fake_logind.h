#pragma once
// The system bus and logind, stood in for: a private dbus-daemon that allows
// everything, and a stand-in for systemd-logind on it that hands out delay
// locks and sends PrepareForSleep on request. For the tests of tarnixd's
// sleep and wake-up; nothing real is touched.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/owned_fd.h"
#include "tarnixd_harness.h"

#if defined(TW_TARNIXD) && defined(TW_TARNIXCTL)

namespace tw::test {

using namespace std::chrono_literals;

// A private message bus (dbus-daemon) that allows everything, for the
// stand-in logind below. Ended with the test.
class PrivateBus {
 public:
  explicit PrivateBus(const Sandbox& box) {
    const std::string socket = box.root() + "/system_bus_socket";
    const std::string config = box.root() + "/bus.conf";
    box.write_file(config,
                   "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                   " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                   "<busconfig>\n  <listen>unix:path=" + socket + "</listen>\n  <auth>EXTERNAL</auth>\n"
                   "  <policy context=\"default\">\n    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                   "    <allow eavesdrop=\"true\"/>\n    <allow own=\"*\"/>\n  </policy>\n</busconfig>\n");
    const std::string log = box.root() + "/bus.log";
    pid_ = fork();
    if (pid_ == 0) {
      // Its complaints (it cannot raise its fd limit here) go to a file.
      const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (out >= 0) ::dup2(out, STDERR_FILENO);
      execlp("dbus-daemon", "dbus-daemon", ("--config-file=" + config).c_str(), "--nofork", "--nopidfile",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    address_ = "unix:path=" + socket;
    ok_ = pid_ > 0 && eventually([&] { return ::access(socket.c_str(), F_OK) == 0; }, 10s);
  }
  ~PrivateBus() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool ok() const { return ok_; }
  const std::string& address() const { return address_; }

 private:
  pid_t pid_ = -1;
  bool ok_ = false;
  std::string address_;
};

// A stand-in for systemd-logind on a private bus: Inhibit hands out one end
// of a pipe as the lock (the other end tells whether its holder still has
// it), and PrepareForSleep is sent on request. Its connection is served on a
// thread of its own; the other members may be called from the test thread.
class FakeLogind {
 public:
  explicit FakeLogind(const std::string& address) : thread_([this, address] { serve(address); }) {
    eventually([&] { return state_.load() != 0; }, 10s);
  }
  ~FakeLogind() {
    stop_ = true;
    thread_.join();
  }
  bool ok() const { return state_.load() == 1; }

  void prepare_for_sleep(bool start) {
    std::lock_guard<std::mutex> hold(mutex_);
    requests_.push_back(start);
  }
  // Locks handed out that their holder has not closed.
  int locks_held() {
    std::lock_guard<std::mutex> hold(mutex_);
    int held = 0;
    for (const auto& fd : locks_) {
      pollfd p{fd.get(), POLLIN, 0};
      if (::poll(&p, 1, 0) == 0) ++held;  // no hang-up yet
    }
    return held;
  }

 private:
  static int inhibit(sd_bus_message* call, void* self, sd_bus_error*) {
    auto* me = static_cast<FakeLogind*>(self);
    int p[2];
    if (::pipe2(p, O_CLOEXEC) != 0) return -errno;
    const int rc = sd_bus_reply_method_return(call, "h", p[1]);  // the message takes a copy
    ::close(p[1]);
    std::lock_guard<std::mutex> hold(me->mutex_);
    me->locks_.emplace_back(p[0]);
    return rc;
  }

  void serve(const std::string& address) {
    static const sd_bus_vtable kVtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("Inhibit", "ssss", "h", &FakeLogind::inhibit, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_SIGNAL("PrepareForSleep", "b", 0),
        SD_BUS_VTABLE_END,
    };
    sd_bus* bus = nullptr;
    bool ready = sd_bus_new(&bus) >= 0 && sd_bus_set_address(bus, address.c_str()) >= 0 &&
                 sd_bus_set_bus_client(bus, 1) >= 0 && sd_bus_start(bus) >= 0 &&
                 sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                          kVtable, this) >= 0 &&
                 sd_bus_request_name(bus, "org.freedesktop.login1", 0) >= 0;
    state_ = ready ? 1 : 2;
    while (ready && !stop_) {
      while (sd_bus_process(bus, nullptr) > 0) {
      }
      std::vector<bool> requests;
      {
        std::lock_guard<std::mutex> hold(mutex_);
        requests.swap(requests_);
      }
      for (bool start : requests)
        sd_bus_emit_signal(bus, "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep", "b",
                           static_cast<int>(start));
      if (!requests.empty()) sd_bus_flush(bus);
      sd_bus_wait(bus, 20000);
    }
    sd_bus_flush_close_unref(bus);
  }

  std::atomic<int> state_{0};  // 0 starting, 1 serving, 2 failed
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<bool> requests_;
  std::vector<platform::OwnedFd> locks_;
  std::thread thread_;
};

}  // namespace tw::test

#endif  // TW_TARNIXD && TW_TARNIXCTL
