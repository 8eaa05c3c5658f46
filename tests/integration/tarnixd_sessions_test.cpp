// tarnixd's Session Monitor end to end: auto-block closes a TCP connection
// between two namespaces by the rule file in the data folder (the peer sees
// the reset), writes the blocked log, and follows "/blockstop" and
// "/blockstart" from tarnixctl; as root in-process, and as another user
// through a copy of tarnix-helper that holds the capabilities (closing, and
// naming the process of a socket that is not that user's).
//
// The connection runs from the test's own process in the left namespace, where
// tarnixd runs, to a listener in the right one; nothing leaves the pair.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "netns.h"
#include "platform/linux/owned_fd.h"
#include "platform/linux/system_info.h"
#include "tarnixd_harness.h"

#if defined(TW_TARNIXD) && defined(TW_TARNIXCTL) && defined(TW_TARNIX_HELPER)

namespace tw {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::Daemon;
using test::eventually;
using test::quoted;
using test::Sandbox;
using test::tarnixctl;
using test::VethLink;

constexpr std::uint16_t kServerPort = 47123;

// A client in the left namespace connected to a listener in the right one.
struct Connection {
  platform::OwnedFd client, server;
  std::uint16_t local_port = 0;
};

// How a read of `fd` ends within `wait`: 0 while the connection is open and
// quiet, else the errno (ECONNRESET when the peer's side was closed).
int read_error(int fd, std::chrono::milliseconds wait) {
  pollfd p{fd, POLLIN, 0};
  ::poll(&p, 1, static_cast<int>(wait.count()));
  char c;
  const ssize_t n = ::recv(fd, &c, 1, MSG_DONTWAIT);
  if (n < 0) return errno == EAGAIN ? 0 : errno;
  return n == 0 ? EPIPE : 0;
}

std::string blocked_log(const Sandbox& box, const std::string& folder) {
  std::string text;
  for (const auto& e : fs::directory_iterator(folder))
    if (e.path().filename().string().starts_with("tarnix_autoblock") && e.path().extension() == ".log")
      text += box.read_file(e.path().string());
  return text;
}

class TarnixdSessions : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::is_root()) GTEST_SKIP() << "needs root (network namespaces)";
    ASSERT_TRUE(box_.ok());
    ASSERT_TRUE(link_.ok()) << link_.error();
    bool listening = false;
    ASSERT_TRUE(link_.right().run([&] {
      listener_ = platform::OwnedFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
      const sockaddr_in a = address(link_.right_addr());
      listening = listener_ && ::bind(listener_.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0 &&
                  ::listen(listener_.get(), 4) == 0;
    }));
    ASSERT_TRUE(listening) << std::strerror(errno);
  }

  static sockaddr_in address(const std::string& ip) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(kServerPort);
    inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
    return a;
  }

  Connection connect() {
    Connection c;
    EXPECT_TRUE(link_.left().run([&] {
      c.client = platform::OwnedFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
      const sockaddr_in a = address(link_.right_addr());
      if (!c.client || ::connect(c.client.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) return;
      sockaddr_in local{};
      socklen_t len = sizeof local;
      ::getsockname(c.client.get(), reinterpret_cast<sockaddr*>(&local), &len);
      c.local_port = ntohs(local.sin_port);
    }));
    c.server = platform::OwnedFd(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    EXPECT_TRUE(c.server && c.local_port != 0) << std::strerror(errno);
    return c;
  }

  // The rules and settings in `data`, then the whole run: the first
  // connection is closed and logged, one made after "/blockstop" lives, and
  // "/blockstart" closes it. `as` runs tarnixd and tarnixctl as another user.
  void run(const std::string& program, const std::string& data, const std::string& as) {
    const std::string rules = data + "tarnix_autoblock.txt";
    box_.write_file(rules, "# the test's server\nALLOW=1,PORT2=22\nPORT2=" + std::to_string(kServerPort) + "\n");
    // The rules belong to whoever runs tarnixd, as its data folder does: a
    // rule file of someone else is refused.
    struct stat folder {};
    ASSERT_EQ(::stat(data.c_str(), &folder), 0);
    ASSERT_EQ(::chown(rules.c_str(), folder.st_uid, folder.st_gid), 0);
    box_.write_file(settings_, "[Session]\nAskDNS=0\nAutoBlock=1\n");
    Daemon d(link_.left(), box_, "--interface lo --quiet --verbose --data-dir " + data, "sessions", program, as);
    ASSERT_TRUE(eventually([&] { return tarnixctl(link_.left(), box_, "send x", as).ok(); })) << d.diagnostics(box_);

    Connection first = connect();
    EXPECT_EQ(read_error(first.server.get(), 20s), ECONNRESET) << d.diagnostics(box_);
    EXPECT_TRUE(eventually([&] { return !blocked_log(box_, data).empty(); })) << d.diagnostics(box_);
    const std::string line = blocked_log(box_, data);
    EXPECT_NE(line.find("] " + link_.left_addr() + ":" + std::to_string(first.local_port) + " " +
                        link_.right_addr() + ":" + std::to_string(kServerPort)),
              std::string::npos)
        << line;
    // Whose socket it was: root sees it for itself, another user through the
    // helper (the socket is root's, the test's own).
    EXPECT_NE(line.find("(" + std::to_string(::getpid()) + ")\n"), std::string::npos) << line;

    // Commands are taken in order: once the packet filter has answered its
    // start (it has no rules), auto-block is off.
    ASSERT_TRUE(tarnixctl(link_.left(), box_, "send " + quoted("tarnix.sessionmonitor /blockstop"), as).ok());
    // Without rules the start fails, and tarnixctl says so.
    const test::CommandResult start = tarnixctl(link_.left(), box_, "send " + quoted("tarnix.packetfilter /start"), as);
    ASSERT_EQ(start.status, 1) << start.output;
    EXPECT_NE(start.output.find("Non packetfilter rules."), std::string::npos) << start.output;
    ASSERT_TRUE(eventually([&] {
      return box_.read_file(d.stderr_path()).find("packet filter: no rules") != std::string::npos;
    })) << d.diagnostics(box_);
    Connection second = connect();
    EXPECT_EQ(read_error(second.server.get(), 2500ms), 0) << "closed although auto-block is off";

    ASSERT_TRUE(tarnixctl(link_.left(), box_, "send " + quoted("x tarnix.sessionmonitor /blockstart"), as).ok());
    EXPECT_EQ(read_error(second.server.get(), 20s), ECONNRESET) << d.diagnostics(box_);
    EXPECT_TRUE(eventually([&] { return blocked_log(box_, data).size() > line.size(); }));
    EXPECT_EQ(d.stop(), std::optional<int>(0)) << d.diagnostics(box_);
  }

  Sandbox box_;
  VethLink link_{"sess"};
  platform::OwnedFd listener_;
  std::string settings_ = box_.settings_path(false);
};

TEST_F(TarnixdSessions, RootClosesByTheRulesAndFollowsTheCommands) { run(TW_TARNIXD, box_.data(), ""); }

// "/blockstart" and "/blockstop" are kept in "AutoBlock": a guard switched on
// by command is still on after a restart (tarnixd restarts after a resume).
TEST_F(TarnixdSessions, TheCommandsSwitchOfAutoBlockOutlivesARestart) {
  box_.write_file(box_.data() + "tarnix_autoblock.txt", "PORT2=" + std::to_string(kServerPort) + "\n");
  box_.write_file(settings_, "[Session]\nAskDNS=0\nAutoBlock=0\n");
  const std::string args = "--interface lo --quiet --data-dir " + box_.data();
  {
    Daemon d(link_.left(), box_, args, "before");
    ASSERT_TRUE(eventually([&] { return tarnixctl(link_.left(), box_, "send x").ok(); })) << d.diagnostics(box_);
    ASSERT_TRUE(tarnixctl(link_.left(), box_, "send " + quoted("tarnix.sessionmonitor /blockstart")).ok());
    EXPECT_TRUE(eventually([&] { return box_.read_file(settings_).find("AutoBlock=1") != std::string::npos; }))
        << box_.read_file(settings_);
    ASSERT_EQ(d.stop(SIGKILL), std::optional<int>(128 + SIGKILL));  // no shut-down save to rely on
  }
  Daemon d(link_.left(), box_, args, "after");
  ASSERT_TRUE(eventually([&] { return tarnixctl(link_.left(), box_, "send x").ok(); })) << d.diagnostics(box_);
  Connection c = connect();
  EXPECT_EQ(read_error(c.server.get(), 20s), ECONNRESET) << d.diagnostics(box_);
  ASSERT_TRUE(tarnixctl(link_.left(), box_, "send " + quoted("tarnix.sessionmonitor /blockstop")).ok());
  EXPECT_TRUE(eventually([&] { return box_.read_file(settings_).find("AutoBlock=0") != std::string::npos; }));
  EXPECT_EQ(d.stop(), std::optional<int>(0)) << d.diagnostics(box_);
}

TEST_F(TarnixdSessions, AnotherUserClosesThroughTheHelper) {
  // "nobody" runs a copy of tarnixd with a copy of the helper beside it, the
  // helper given the capabilities it is installed with.
  constexpr uid_t kOther = 65534;
  fs::permissions(box_.root(), fs::perms(0711), fs::perm_options::replace);
  const std::string bin = box_.root() + "/bin/", run_dir = box_.root() + "/run-other", data = box_.root() + "/data-other/";
  ASSERT_TRUE(fs::create_directory(bin));
  fs::permissions(bin, fs::perms(0755), fs::perm_options::replace);
  for (const std::string& dir : {run_dir, data}) {
    ASSERT_TRUE(fs::create_directory(dir));
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::replace);
    ASSERT_EQ(::chown(dir.c_str(), kOther, kOther), 0);
  }
  fs::copy_file(TW_TARNIXD, bin + "tarnixd");
  fs::copy_file(TW_TARNIX_HELPER, bin + "tarnix-helper");
  if (!test::run_command("setcap cap_net_admin,cap_net_raw,cap_dac_read_search,cap_sys_ptrace+ep " + bin +
                         "tarnix-helper")
           .ok())
    GTEST_SKIP() << bin << " cannot hold file capabilities";

  settings_ = data + app::settings_file_name(app::kProgramBaseName, "nobody", platform::host_name(), false);
  box_.write_file(settings_, "");
  ASSERT_EQ(::chown(settings_.c_str(), kOther, kOther), 0);
  const std::string as_other =
      "XDG_RUNTIME_DIR=" + run_dir + " setpriv --reuid=65534 --regid=65534 --clear-groups ";
  run(bin + "tarnixd", data, as_other);
}

}  // namespace
}  // namespace tw

#endif
