// The packet filter with IPv6 for real: the inet table between two
// namespaces joined by a veth pair with IPv4 and IPv6 addresses. A DROP rule
// for a port without addresses drops it over both families while the next
// port stays open; an IPv6 rule for one peer leaves another peer reachable;
// ICMP in an IPv6 rule is ICMPv6; the table of a start with IPv6 off is
// replaced; the helper takes only the machine's own IPv6 addresses.
//
// Traffic only ever goes between the test's own namespaces (10.231.0.1 and
// fd00:231::1 on the left; 10.231.0.2, fd00:231::2 and fd00:231::3 on the
// right).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "netns.h"
#include "packetfilter/filter_controller.h"
#include "packetfilter/nft_ruleset.h"
#include "platform/fake/fake_file_store.h"
#include "platform/linux/helper_packet_filter.h"
#include "platform/linux/network_info.h"
#include "platform/privileged/nftables_filter.h"

namespace tw::packetfilter {
namespace {

constexpr const char* kRulePath = "/data/tarnix_packetfilter.txt";
constexpr const char* kSecondPeer = "fd00:231::3";

// True when a TCP connection to ip:port (either family) comes up within a
// second.
bool connects(const std::string& ip, int port) {
  sockaddr_storage ss{};
  socklen_t len = 0;
  if (ip.find(':') != std::string::npos) {
    auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET6, ip.c_str(), &a->sin6_addr);
    len = sizeof *a;
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&ss);
    a->sin_family = AF_INET;
    a->sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, ip.c_str(), &a->sin_addr);
    len = sizeof *a;
  }
  const int fd = socket(ss.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&ss), len) == 0;
  if (!ok && errno == EINPROGRESS) {
    pollfd p{fd, POLLOUT, 0};
    int err = 0;
    socklen_t err_len = sizeof err;
    ok = poll(&p, 1, 1000) == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &err_len) == 0 && err == 0;
  }
  close(fd);
  return ok;
}

// A SYN lost to a busy machine is retried, so that only a rule that drops
// them all fails.
bool reaches(const std::string& ip, int port) {
  for (int attempt = 0; attempt < 3; ++attempt)
    if (connects(ip, port)) return true;
  return false;
}

// The table as nft lists it, without the owner's "# progname" comment; ""
// when there is none.
std::string listed(const std::string& family) {
  auto out = platform::nft_command_output("list table " + family + " tarnwatch");
  if (!out) return "";
  std::string text = *out;
  const auto comment = text.find(" # progname");
  if (comment != std::string::npos) text.erase(comment, text.find('\n', comment) - comment);
  return text;
}

class PacketFilter6Test : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::is_root()) GTEST_SKIP() << "needs root (namespaces, nftables)";
    ASSERT_TRUE(link_.ok()) << link_.error();
    ASSERT_TRUE(link_.right().add_address6(link_.right_if(), std::string(kSecondPeer) + "/64"));
    // Dual-stack listeners on the right: every peer address, both families.
    ASSERT_TRUE(link_.right().run([&] {
      for (int port : {80, 81}) {
        const int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1, zero = 0;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof zero);
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(static_cast<std::uint16_t>(port));
        if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(fd, 64) == 0) listeners_.push_back(fd);
        else close(fd);
      }
    }));
    ASSERT_EQ(listeners_.size(), 2u);
  }
  void TearDown() override {
    for (int fd : listeners_) close(fd);
  }

  // Runs `fn` in the left namespace with a controller, IPv6 on, whose table
  // lives in that thread's nft context.
  void with_filter(const std::function<void(FilterController&)>& fn) {
    ASSERT_TRUE(link_.left().run([&] {
      platform::NftablesPacketFilter engine({nft_apply_text, nft_remove_text});
      platform::LinuxNetworkInfo network;
      platform::FakeFileStore files;
      std::vector<std::string> shown;
      FilterController filter({engine, network, files},
                              {.rule_file_path = kRulePath,
                               .lang = Language::English,
                               .show_message = [&](std::string_view m) { shown.emplace_back(m); },
                               .note = {}});
      filter.set_ipv6(true);
      fn(filter);
      EXPECT_TRUE(shown.empty()) << shown.front();
    }));
  }

  test::VethLink link_{"pfilter6", true};
  std::vector<int> listeners_;
};

TEST_F(PacketFilter6Test, PortRuleWithoutAddressesDropsBothFamiliesAndTheNextPortStaysOpen) {
  with_filter([&](FilterController& filter) {
    const std::string v4 = link_.right_addr(), v6 = link_.right_addr6();
    ASSERT_TRUE(reaches(v4, 80));
    ASSERT_TRUE(reaches(v6, 80));
    ASSERT_TRUE(filter.add_command(
        "tarnix.packetfilter /add:DROP,0.0.0.0,255.255.255.255,0,0.0.0.0,255.255.255.255,80,TCP,web"));
    ASSERT_TRUE(filter.start_command().ok());
    EXPECT_FALSE(connects(v4, 80));
    EXPECT_FALSE(connects(v6, 80));
    EXPECT_FALSE(connects(kSecondPeer, 80));
    EXPECT_TRUE(reaches(v4, 81));
    EXPECT_TRUE(reaches(v6, 81));

    // What nft lists is the text built for the rules, the namespace's IPv4
    // address and its one global IPv6 address (its link-local and loopback
    // addresses are not named by any rule, so they stay out).
    platform::FilterSet expected = filter_set(filter.rules(), {0x0AE70001}, {*net::parse_ip(link_.left_addr6())});
    EXPECT_EQ(listed("inet"), nft_table_text(expected));
    EXPECT_EQ(listed("ip"), "");

    ASSERT_TRUE(filter.stop_command().ok());
    EXPECT_TRUE(reaches(v4, 80));
    EXPECT_TRUE(reaches(v6, 80));
    EXPECT_EQ(listed("inet"), "");
  });
}

TEST_F(PacketFilter6Test, Ipv6RuleForOnePeerLeavesAnotherPeerAndIpv4Reachable) {
  with_filter([&](FilterController& filter) {
    const std::string peer = link_.right_addr6();
    ASSERT_TRUE(reaches(kSecondPeer, 80));
    ASSERT_TRUE(filter.add_command("tarnix.packetfilter /add:DROP,::,/0,0," + peer + ",/128,80,TCP,one peer"));
    ASSERT_TRUE(filter.start_command().ok());
    EXPECT_FALSE(connects(peer, 80));
    EXPECT_TRUE(reaches(kSecondPeer, 80));
    EXPECT_TRUE(reaches(peer, 81));
    EXPECT_TRUE(reaches(link_.right_addr(), 80));  // the IPv4 side of the same host
    // The peer's whole /64 takes the second one in too.
    ASSERT_TRUE(filter.set_cell(0, kDstMask, "/64"));
    EXPECT_FALSE(connects(kSecondPeer, 80));
    EXPECT_TRUE(reaches(link_.right_addr(), 80));
    (void)filter.stop_command();
  });
}

TEST_F(PacketFilter6Test, IcmpInAnIpv6RuleIsIcmpv6) {
  with_filter([&](FilterController& filter) {
    auto ping = [&](const std::string& ip) { return link_.left().exec("ping -c 1 -W 1 " + ip).ok(); };
    ASSERT_TRUE(ping(link_.right_addr6()));
    // Echo requests (type 128) to one peer.
    ASSERT_TRUE(filter.add_command("tarnix.packetfilter /add:DROP,::,/0,128,fd00:231::2,/128,0,ICMP,echo"));
    ASSERT_TRUE(filter.start_command().ok());
    EXPECT_FALSE(ping(link_.right_addr6()));
    EXPECT_TRUE(ping(kSecondPeer));
    EXPECT_TRUE(ping(link_.right_addr()));
    (void)filter.stop_command();
    EXPECT_TRUE(ping(link_.right_addr6()));
  });
}

TEST_F(PacketFilter6Test, TheIpv4TableOfAnEarlierStartIsReplaced) {
  ASSERT_TRUE(link_.left().run([&] {
    platform::NftablesPacketFilter engine({nft_apply_text, nft_remove_text});
    const std::vector<FilterRule> rules = {rule_from_row(
        {"DROP", "0.0.0.0", "0.0.0.0", "0", "0.0.0.0", "0.0.0.0", "80", "TCP", " "})};
    // IPv6 off: the ip table as before IPv6, IPv6 untouched.
    const platform::FilterSet off = filter_set(rules, {0x0AE70001});
    ASSERT_TRUE(engine.apply(off).ok());
    EXPECT_EQ(listed("ip"), nft_table_text(off));
    EXPECT_FALSE(connects(link_.right_addr(), 80));
    EXPECT_TRUE(reaches(link_.right_addr6(), 80));
    // On: one inet table, the ip one gone in the same batch.
    const platform::FilterSet on = filter_set(rules, {0x0AE70001}, {*net::parse_ip(link_.left_addr6())});
    ASSERT_TRUE(engine.apply(on).ok());
    EXPECT_EQ(listed("ip"), "");
    EXPECT_EQ(listed("inet"), nft_table_text(on));
    EXPECT_FALSE(connects(link_.right_addr6(), 80));
    ASSERT_TRUE(engine.remove().ok());
    EXPECT_EQ(listed("inet"), "");
    EXPECT_TRUE(reaches(link_.right_addr6(), 80));
  }));
}

// The helper puts into local_ipv6 only the machine's own addresses: not a
// foreign one, not the unspecified one, not ::1 that no rule names.
TEST_F(PacketFilter6Test, HelperTakesOnlyTheMachinesOwnIpv6Addresses) {
  ASSERT_TRUE(link_.left().run([&] {
    platform::HelperClient client({TW_TARNIX_HELPER});
    platform::HelperPacketFilter filter(client);
    platform::FilterSet set;
    set.ipv6 = true;
    for (const char* a : {"fd00:231::1", "fd00:231::99", "::", "::1", "fd00:231::2"})
      set.local_ipv6.push_back(net::parse_ip(a)->bytes);
    set.drops6.push_back({{}, 0, {}, 0, platform::kFilterTcp, 0, 0, 80, 80});
    const Status s = filter.apply(set);
    ASSERT_TRUE(s.ok()) << s.error().message();
    platform::FilterSet narrowed = set;
    narrowed.local_ipv6 = {net::parse_ip("fd00:231::1")->bytes};
    EXPECT_EQ(listed("inet"), nft_table_text(narrowed));
    EXPECT_FALSE(connects(link_.right_addr6(), 80));
    EXPECT_TRUE(reaches(link_.right_addr(), 80));
  }));
}

}  // namespace
}  // namespace tw::packetfilter
