// tarnixd as a filtered server without a window: the rule file and the
// commands "/start", "/stop" and "/add:" drive the owned nftables table, the
// "Start" setting brings filtering back at the next start, and a SIGKILL
// leaves no table behind. Traffic goes only between the test's namespaces.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <string>

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

// The table as nft lists it: `inet tarnwatch` (IPv6 on, the default), or
// `ip tarnwatch` (IPv6 off); nullopt when neither is installed.
std::optional<std::string> listed_table(NetNs& ns) {
  std::optional<std::string> listed;
  ns.run([&] {
    for (const char* family : {"inet", "ip"})
      if (auto out = platform::nft_command_output(std::string("list table ") + family + " tarnwatch")) {
        listed = *out;
        return;
      }
  });
  return listed;
}

bool has_table(NetNs& ns) { return listed_table(ns).has_value(); }

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

// The drop rules of the installed table, one a line, as nft lists them.
int drop_lines(NetNs& ns) {
  const std::string listed = listed_table(ns).value_or("");
  int n = 0;
  for (auto at = listed.find(" drop\n"); at != std::string::npos; at = listed.find(" drop\n", at + 1)) ++n;
  return n;
}

TEST(TarnixdFilter, TheRuleFileIsTheUsersAndAddSaysWhyItFails) {
  if (!is_root()) GTEST_SKIP() << "needs root (network namespaces, nftables)";
  Sandbox box;
  ASSERT_TRUE(box.ok());
  NetNs ns("tdfile");
  ASSERT_TRUE(ns.ok()) << ns.error();
  // One local address to filter on (both ends of the pair stay here).
  ASSERT_TRUE(ns.add_veth("tdf0", "tdf1") && ns.add_address("tdf0", "10.232.9.1/24")) << ns.error();
  const std::string rules = box.data() + "tarnix_packetfilter.txt";
  // As a user's editor leaves it: a BOM, CR LF, a comment, a typo, a range
  // without its end (which once dropped everything) and one good rule.
  const std::string text =
      "\xEF\xBB\xBF# my rules\r\n"
      "FORWORD,0.0.0.0,255.255.255.255,0,10.0.0.1,255.255.255.255,0,ANY,typo\r\n"
      "DROP,0.0.0.0,255.255.255.255,0,10.213.22.77-,255.255.255.255,0,ANY,cut\r\n"
      "DROP,0.0.0.0,255.255.255.255,0,10.232.9.2,255.255.255.255,80,TCP,web\r\n";
  box.write_file(rules, text);
  Daemon d(ns, box, "--interface lo --quiet --data-dir " + box.data(), "file");
  ASSERT_TRUE(eventually([&] { return tarnixctl(ns, box, "send x").ok(); })) << d.diagnostics(box);
  // The rows that are no rules are named on stderr, with their lines.
  const std::string err = box.read_file(d.stderr_path());
  EXPECT_NE(err.find("line 2: the action \"FORWORD\""), std::string::npos) << err;
  EXPECT_NE(err.find("line 3: Dst-IP \"10.213.22.77-\" is no address"), std::string::npos) << err;

  // A start installs the one good rule and leaves the file as it is.
  const CommandResult started = tarnixctl(ns, box, "send " + quoted("tarnix.packetfilter /start"));
  EXPECT_TRUE(started.ok()) << started.output;
  EXPECT_EQ(drop_lines(ns), 2);  // input and output, one local address
  EXPECT_EQ(box.read_file(rules), text);

  // A range or port range without its end is refused, and the sender hears why.
  CommandResult bad = tarnixctl(ns, box, "send " + quoted("tarnix.packetfilter /add:DROP,0.0.0.0,255.255.255.255,0,"
                                                          "10.213.22.77-,255.255.255.255,0,ANY,cut"));
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.output.find("Dst-IP \"10.213.22.77-\" is no address a.b.c.d or range a.b.c.d-e.f.g.h"),
            std::string::npos) << bad.output;
  bad = tarnixctl(ns, box, "send " + quoted("tarnix.packetfilter /add:DROP,0.0.0.0,255.255.255.255,0,10.232.9.2,"
                                            "255.255.255.255,8081-,TCP"));
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.output.find("Dst-Port \"8081-\" is no port"), std::string::npos) << bad.output;
  EXPECT_EQ(drop_lines(ns), 2);
  EXPECT_EQ(box.read_file(rules), text);

  // A good one is appended to the file as it is on disk now (edited by hand
  // meanwhile), in the file's own line ends.
  const std::string edited = text + "# added by hand\r\n";
  box.write_file(rules, edited);
  const CommandResult added = tarnixctl(ns, box, "send " + quoted("tarnix.packetfilter /add:DROP,0.0.0.0,"
                                                                  "255.255.255.255,0,10.232.9.3,255.255.255.255,22,TCP,ssh"));
  EXPECT_TRUE(added.ok()) << added.output;
  const std::string with_ssh = edited + "DROP,0.0.0.0,255.255.255.255,0,10.232.9.3,255.255.255.255,22,TCP,ssh\r\n";
  EXPECT_EQ(box.read_file(rules), with_ssh);
  EXPECT_TRUE(eventually([&] { return drop_lines(ns) == 4; }));

  // The table's limit: tarnixctl fails and says so; the file stays.
  std::string full;
  for (int i = 0; i < 2000; ++i) full += "DROP,0.0.0.0,255.255.255.255,0,10.232.8." + std::to_string(i % 250) + ",255.255.255.255,80,TCP\n";
  box.write_file(rules, full);
  const CommandResult over = tarnixctl(ns, box, "send " + quoted("tarnix.packetfilter /add:DROP,0.0.0.0,"
                                                                 "255.255.255.255,0,10.232.9.4,255.255.255.255,25,TCP"));
  EXPECT_EQ(over.status, 1);
  EXPECT_NE(over.output.find("the rule table is full (2000 rules)"), std::string::npos) << over.output;
  EXPECT_EQ(box.read_file(rules), full);

  // The end does not write the file either.
  box.write_file(rules, with_ssh);
  EXPECT_EQ(d.stop(), std::optional<int>(0)) << d.diagnostics(box);
  EXPECT_EQ(box.read_file(rules), with_ssh);
}

TEST(TarnixdFilter, ARuleFileThatCannotBeReadIsLeftAlone) {
  if (!is_root()) GTEST_SKIP() << "needs root (network namespaces, nftables)";
  Sandbox box;
  ASSERT_TRUE(box.ok());
  NetNs ns("tdunread");
  ASSERT_TRUE(ns.ok()) << ns.error();
  // Larger than the reader takes (16 MiB): once read as "no rules", and the
  // end then deleted it.
  const std::string rules = box.data() + "tarnix_packetfilter.txt";
  const std::string huge = "DROP,0.0.0.0,255.255.255.255,0,10.0.0.2,255.255.255.255,80,TCP,web\n" +
                           std::string(std::size_t{17} << 20, '#') + "\n";
  box.write_file(rules, huge);
  box.write_file(box.settings_path(false), "[PacketFilter]\nStart=1\n");
  Daemon d(ns, box, "--interface lo --quiet --data-dir " + box.data(), "unread");
  ASSERT_TRUE(eventually([&] { return tarnixctl(ns, box, "send x").ok(); })) << d.diagnostics(box);
  EXPECT_NE(box.read_file(d.stderr_path()).find("The rule file cannot be read"), std::string::npos)
      << d.diagnostics(box);
  const CommandResult add = tarnixctl(ns, box, "send " + quoted("tarnix.packetfilter /add:DROP,0.0.0.0,"
                                                                "255.255.255.255,0,10.0.0.3,255.255.255.255,22,TCP"));
  EXPECT_EQ(add.status, 1);
  EXPECT_NE(add.output.find("cannot be read"), std::string::npos) << add.output;
  EXPECT_EQ(d.stop(), std::optional<int>(0)) << d.diagnostics(box);
  EXPECT_EQ(box.read_file(rules).size(), huge.size());
}

TEST(TarnixdFilter, ASecondInstanceIsToldThatTheFirstFiltersAlready) {
  if (!is_root()) GTEST_SKIP() << "needs root (network namespaces, nftables)";
  Sandbox box;
  ASSERT_TRUE(box.ok());
  NetNs ns("tdsecond");
  ASSERT_TRUE(ns.ok()) << ns.error();
  ASSERT_TRUE(ns.add_veth("tds0", "tds1") && ns.add_address("tds0", "10.232.10.1/24")) << ns.error();
  box.write_file(box.data() + "tarnix_packetfilter.txt",
                 "DROP,0.0.0.0,255.255.255.255,0,10.232.10.2,255.255.255.255,80,TCP,web\n");
  const std::string args = "--interface lo --quiet --data-dir " + box.data();
  Daemon first(ns, box, args, "first");
  ASSERT_TRUE(eventually([&] { return tarnixctl(ns, box, "send x").ok(); })) << first.diagnostics(box);
  Daemon second(ns, box, args, "second");
  ASSERT_TRUE(eventually([&] { return tarnixctl(ns, box, "--second send x").ok(); })) << second.diagnostics(box);

  const CommandResult mine = tarnixctl(ns, box, "send " + quoted("tarnix.packetfilter /start"));
  ASSERT_TRUE(mine.ok()) << mine.output << first.diagnostics(box);
  const CommandResult theirs = tarnixctl(ns, box, "--second send " + quoted("tarnix.packetfilter /start"));
  EXPECT_EQ(theirs.status, 1);
  EXPECT_NE(theirs.output.find("Another Tarnwatch instance (pid " + std::to_string(first.pid()) + ") filters already."),
            std::string::npos)
      << theirs.output << second.diagnostics(box);
  EXPECT_EQ(theirs.output.find("administrator"), std::string::npos) << theirs.output;
  EXPECT_EQ(drop_lines(ns), 2);  // the first instance's table, untouched
}

}  // namespace
}  // namespace tw::test

#endif  // TW_TARNIXD && TW_TARNIXCTL
