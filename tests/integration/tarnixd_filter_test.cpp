// tarnixd as a filtered server without a window: the rule file and the
// commands "/start", "/stop" and "/add:" drive the owned nftables table, the
// "Start" setting brings filtering back at the next start, and a SIGKILL
// leaves no table behind. Traffic goes only between the test's namespaces.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/privileged/nftables_filter.h"
#include "tarnixd_harness.h"

#if defined(TW_TARNIXD) && defined(TW_TARNIXCTL)

namespace tw::test {
namespace {

bool connects_in(NetNs& ns, const std::string& ip, int port) {
  bool ok = false;
  ns.run([&] {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
    ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (!ok && errno == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      int err = 0;
      socklen_t len = sizeof err;
      ok = poll(&p, 1, 1000) == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
    }
    close(fd);
  });
  return ok;
}

// For connections that must get through: a SYN lost to the load of a busy
// test machine is retried, so that only a rule that drops them all fails.
bool reaches_in(NetNs& ns, const std::string& ip, int port) {
  for (int attempt = 0; attempt < 3; ++attempt)
    if (connects_in(ns, ip, port)) return true;
  return false;
}

bool has_table(NetNs& ns) {
  bool found = false;
  ns.run([&] { found = platform::nft_command_output("list table ip tarnwatch").ok(); });
  return found;
}

TEST(TarnixdFilter, CommandsFilterAServerAndTheSettingRestoresIt) {
  if (!is_root()) GTEST_SKIP() << "needs root (network namespaces, nftables)";
  Sandbox box;
  ASSERT_TRUE(box.ok());
  VethLink link("tdfilter");
  ASSERT_TRUE(link.ok()) << link.error();
  std::vector<platform::OwnedFd> listeners;
  ASSERT_TRUE(link.right().run([&] {
    for (int port : {80, 81}) {
      platform::OwnedFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<std::uint16_t>(port));
      if (bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(fd.get(), 64) == 0)
        listeners.push_back(std::move(fd));
    }
  }));
  ASSERT_EQ(listeners.size(), 2u);
  const std::string peer = link.right_addr();
  const std::string rules = box.data() + "tarnix_packetfilter.txt";
  box.write_file(rules, "DROP,0.0.0.0,255.255.255.255,0," + peer + ",255.255.255.255,80,TCP,web\n");
  const std::string args = "--interface lo --quiet --verbose --data-dir " + box.data();

  {
    Daemon d(link.left(), box, args, "filter");
    ASSERT_TRUE(eventually([&] { return tarnixctl(link.left(), box, "send x").ok(); })) << d.diagnostics(box);
    EXPECT_TRUE(reaches_in(link.left(), peer, 80));

    ASSERT_TRUE(tarnixctl(link.left(), box, "send " + quoted("tarnix.packetfilter /start")).ok());
    EXPECT_TRUE(eventually([&] { return !connects_in(link.left(), peer, 80); })) << d.diagnostics(box);
    EXPECT_TRUE(reaches_in(link.left(), peer, 81));

    ASSERT_TRUE(tarnixctl(link.left(), box, "send " + quoted("tarnix.packetfilter /stop")).ok());
    EXPECT_TRUE(eventually([&] { return connects_in(link.left(), peer, 80); })) << d.diagnostics(box);

    const std::string add = "tarnix.packetfilter /add:DROP,0.0.0.0,255.255.255.255,0," + peer +
                            ",255.255.255.255,81,TCP,second";
    ASSERT_TRUE(tarnixctl(link.left(), box, "send " + quoted(add)).ok());
    ASSERT_TRUE(tarnixctl(link.left(), box, "send " + quoted("tarnix.packetfilter /start")).ok());
    EXPECT_TRUE(eventually([&] { return !connects_in(link.left(), peer, 81); })) << d.diagnostics(box);
    EXPECT_FALSE(connects_in(link.left(), peer, 80));

    // An orderly end removes the filters and remembers that they were on.
    EXPECT_EQ(d.stop(), std::optional<int>(0)) << d.diagnostics(box);
    EXPECT_FALSE(has_table(link.left()));
    EXPECT_NE(box.read_file(box.settings_path(false)).find("Start=1"), std::string::npos);
    EXPECT_NE(box.read_file(rules).find(",81,TCP,second\n"), std::string::npos) << box.read_file(rules);
  }
  {
    // The next start filters again by itself; a SIGKILL leaves no table.
    Daemon d(link.left(), box, args, "restart");
    EXPECT_TRUE(eventually([&] { return !connects_in(link.left(), peer, 81); })) << d.diagnostics(box);
    EXPECT_TRUE(has_table(link.left()));
    d.stop(SIGKILL);
    EXPECT_TRUE(eventually([&] { return !has_table(link.left()); }));
    EXPECT_TRUE(reaches_in(link.left(), peer, 81));
  }
}

}  // namespace
}  // namespace tw::test

#endif  // TW_TARNIXD && TW_TARNIXCTL
