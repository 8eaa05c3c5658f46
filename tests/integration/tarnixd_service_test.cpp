// tarnixd as systemd runs it: the readiness and stopping notifications of
// Type=notify, and the wake-up that goes on in place instead of starting a
// successor (which systemd would stop with the service's control group).
//
// Isolation as in tarnixd_test.cpp: a namespace, a runtime folder, a /dev/shm
// and a system bus of the test's own; the notification socket is a datagram
// socket in the sandbox.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "fake_logind.h"
#include "netns.h"
#include "platform/linux/owned_fd.h"
#include "tarnixd_harness.h"

#if defined(TW_TARNIXD) && defined(TW_TARNIXCTL)

namespace tw {
namespace {

using namespace std::chrono_literals;
using test::Daemon;
using test::eventually;
using test::FakeLogind;
using test::NetNs;
using test::PrivateBus;
using test::Sandbox;
using test::tarnixctl;

int occurrences(const std::string& text, const std::string& what) {
  int n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Stands in for systemd's notification socket (NOTIFY_SOCKET).
class NotifySocket {
 public:
  explicit NotifySocket(const std::string& path) : path_(path) {
    fd_ = platform::OwnedFd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    std::strncpy(sa.sun_path, path.c_str(), sizeof sa.sun_path - 1);
    if (fd_ && ::bind(fd_.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) fd_.reset();
  }
  bool ok() const { return static_cast<bool>(fd_); }
  const std::string& path() const { return path_; }

  // Waits until a message holding the line `line` has come; every line that
  // came is kept in lines().
  bool wait_for(const std::string& line, std::chrono::seconds limit = 30s) {
    return eventually([&] {
      char buf[4096];
      ssize_t n;
      while ((n = ::recv(fd_.get(), buf, sizeof buf, MSG_DONTWAIT)) > 0) {
        std::istringstream in(std::string(buf, static_cast<std::size_t>(n)));
        for (std::string l; std::getline(in, l);) lines_.push_back(l);
      }
      for (const auto& l : lines_)
        if (l == line) return true;
      return false;
    }, limit);
  }
  const std::vector<std::string>& lines() const { return lines_; }

 private:
  std::string path_;
  platform::OwnedFd fd_;
  std::vector<std::string> lines_;
};

TEST(TarnixdService, ReadyOnceItServesStoppingWhenItEnds) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (network namespaces)";
  Sandbox box;
  ASSERT_TRUE(box.ok());
  NetNs ns("svcn");
  ASSERT_TRUE(ns.ok()) << ns.error();
  NotifySocket notify(box.root() + "/notify");
  ASSERT_TRUE(notify.ok());
  const std::string env = "NOTIFY_SOCKET=" + notify.path() + " ";

  // A start that fails is never reported ready.
  {
    Daemon bad(ns, box, "--interface no-such-if --quiet --data-dir " + box.data(), "bad", TW_TARNIXD, env);
    EXPECT_EQ(bad.stop(0), std::optional<int>(1)) << bad.diagnostics(box);
    EXPECT_FALSE(notify.wait_for("READY=1", 1s));
  }

  Daemon d(ns, box, "--interface lo --quiet --data-dir " + box.data(), "notified", TW_TARNIXD, env);
  ASSERT_TRUE(notify.wait_for("READY=1")) << d.diagnostics(box);
  // Ready means it takes commands already.
  EXPECT_TRUE(tarnixctl(ns, box, "send tarnix.trafficmonitor /init").ok()) << d.diagnostics(box);
  EXPECT_FALSE(notify.wait_for("STOPPING=1", 1s));

  ASSERT_EQ(d.stop(SIGTERM), std::optional<int>(0)) << d.diagnostics(box);
  EXPECT_TRUE(notify.wait_for("STOPPING=1", 5s));
  EXPECT_EQ(std::count(notify.lines().begin(), notify.lines().end(), "READY=1"), 1);
}

TEST(TarnixdService, UnderSystemdAWakeUpStartsANewReportInPlace) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (network namespaces)";
  Sandbox box;
  ASSERT_TRUE(box.ok());
  NetNs ns("svcw");
  ASSERT_TRUE(ns.ok()) << ns.error();
  PrivateBus bus(box);
  ASSERT_TRUE(bus.ok()) << "dbus-daemon did not start";
  FakeLogind logind(bus.address());
  ASSERT_TRUE(logind.ok());
  box.bus_address = bus.address();

  const std::string ini = box.settings_path(false), report_log = box.data() + "report.log";
  box.write_file(ini, "[Report]\nLogCheck=1\nLogCycleTime=3600\nLogFileName=report.log\n");
  // INVOCATION_ID alone (every unit gets one) is enough to tell.
  Daemon d(ns, box, "--interface lo --quiet --verbose --data-dir " + box.data(), "service", TW_TARNIXD,
           "INVOCATION_ID=0123456789abcdef0123456789abcdef ");
  ASSERT_TRUE(eventually([&] { return logind.locks_held() == 1; })) << d.diagnostics(box);
  ASSERT_TRUE(eventually([&] { return occurrences(box.read_file(report_log), "] Start-Log\n") == 1; }));

  for (int cycle = 1; cycle <= 2; ++cycle) {
    logind.prepare_for_sleep(true);
    ASSERT_TRUE(eventually([&] { return logind.locks_held() == 0; })) << d.diagnostics(box);
    EXPECT_EQ(occurrences(box.read_file(report_log), "] End-Log\n"), cycle) << box.read_file(report_log);

    logind.prepare_for_sleep(false);
    // The same process takes the lock again and starts the next report.
    ASSERT_TRUE(eventually([&] { return logind.locks_held() == 1; })) << d.diagnostics(box);
    EXPECT_TRUE(eventually([&] { return occurrences(box.read_file(report_log), "] Start-Log\n") == cycle + 1; }))
        << box.read_file(report_log);
    EXPECT_TRUE(d.running()) << d.diagnostics(box);
  }
  EXPECT_TRUE(tarnixctl(ns, box, "send x").ok());

  ASSERT_EQ(d.stop(SIGTERM), std::optional<int>(0)) << d.diagnostics(box);
  const std::string err = box.read_file(d.stderr_path());
  EXPECT_EQ(err.find("restarting after the resume"), std::string::npos) << err;
  EXPECT_EQ(occurrences(err, "a new report, no successor"), 2) << err;
  const std::string report = box.read_file(report_log);
  EXPECT_EQ(occurrences(report, "] End-Log\n"), 3) << report;
  EXPECT_EQ(report.rfind("] End-Log\n") + 10, report.size()) << report;
}

}  // namespace
}  // namespace tw

#endif  // TW_TARNIXD && TW_TARNIXCTL
