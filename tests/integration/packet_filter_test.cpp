// The packet filter for real: DROP rules installed as the owned nftables
// table between two namespaces joined by a veth pair, traffic that the rules
// name blocked and the rest let through; the table as nft lists it; the table
// gone when its owner is killed; an unprivileged user filtering through
// tarnix-helper.
//
// Traffic only ever goes between the test's own namespaces (10.231.0.1 on the
// left, 10.231.0.2 on the right).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "helper_users.h"
#include "netns.h"
#include "packetfilter/filter_controller.h"
#include "packetfilter/nft_ruleset.h"
#include "platform/fake/fake_file_store.h"
#include "platform/linux/helper_packet_filter.h"
#include "platform/linux/network_info.h"
#include "platform/privileged/nft_table_holder.h"
#include "platform/privileged/nftables_filter.h"

namespace tw::packetfilter {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kRulePath = "/data/tarnix_packetfilter.txt";

// True when a TCP connection to ip:port comes up within a second.
bool connects(const std::string& ip, int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  if (!ok && errno == EINPROGRESS) {
    pollfd p{fd, POLLOUT, 0};
    int err = 0;
    socklen_t len = sizeof err;
    ok = poll(&p, 1, 1000) == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
  }
  close(fd);
  return ok;
}

// For connections that must get through: a SYN lost to the load of a busy
// test machine is retried, so that only a rule that drops them all fails.
bool reaches(const std::string& ip, int port) {
  for (int attempt = 0; attempt < 3; ++attempt)
    if (connects(ip, port)) return true;
  return false;
}

// The table as nft lists it, without the owner's "# progname" comment; ""
// when there is none.
std::string listed_table() {
  auto out = platform::nft_command_output("list table ip tarnwatch");
  if (!out) return "";
  std::string text = *out;
  const auto comment = text.find(" # progname");
  if (comment != std::string::npos) text.erase(comment, text.find('\n', comment) - comment);
  return text;
}

class PacketFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::is_root()) GTEST_SKIP() << "needs root (namespaces, nftables, setcap)";
    ASSERT_TRUE(link_.ok()) << link_.error();
    // Listeners on the right for the ports the rules name; connections
    // complete in the backlog without an accept.
    ASSERT_TRUE(link_.right().run([&] {
      for (int port : {80, 81}) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        const int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(fd, 64) == 0) listeners_.push_back(fd);
        else close(fd);
      }
    }));
    ASSERT_EQ(listeners_.size(), 2u);
  }
  void TearDown() override {
    for (int fd : listeners_) close(fd);
  }

  // Runs `fn` in the left namespace with a controller whose table lives in
  // that thread's nft context.
  void with_filter(const std::function<void(FilterController&, platform::FakeFileStore&)>& fn) {
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
      fn(filter, files);
      EXPECT_TRUE(shown.empty()) << shown.front();
    }));
  }

  std::string peer() const { return link_.right_addr(); }

  test::VethLink link_{"pfilter"};
  std::vector<int> listeners_;
};

TEST_F(PacketFilterTest, DropForPeerPort80BlocksOnlyThatPortUntilStopped) {
  with_filter([&](FilterController& filter, platform::FakeFileStore& files) {
    ASSERT_TRUE(reaches(peer(), 80));
    ASSERT_TRUE(filter.add_command("tarnix.packetfilter /add:DROP,0.0.0.0,255.255.255.255,0," + peer() +
                                   ",255.255.255.255,80,TCP,web"));
    (void)filter.start_command();
    ASSERT_TRUE(filter.filtering());
    EXPECT_FALSE(connects(peer(), 80));
    EXPECT_TRUE(reaches(peer(), 81));
    EXPECT_EQ(files.files[kRulePath], "DROP,0.0.0.0,255.255.255.255,0," + peer() + ",255.255.255.255,80,TCP,web\n");

    // What nft lists is exactly the text built for the rules and the
    // namespace's one adapter address.
    const platform::FilterSet expected = filter_set(filter.rules(), {0x0AE70001});
    EXPECT_EQ(listed_table(), nft_table_text(expected));

    (void)filter.stop_command();
    EXPECT_FALSE(filter.filtering());
    EXPECT_TRUE(reaches(peer(), 80));
    EXPECT_EQ(listed_table(), "");
  });
}

TEST_F(PacketFilterTest, RangesWidenToTheirBlockAndRestartsReplaceTheTable) {
  with_filter([&](FilterController& filter, platform::FakeFileStore&) {
    // 10.231.0.4-10.231.0.7 is a block of four that leaves the peer out.
    ASSERT_TRUE(filter.add_command(
        "tarnix.packetfilter /add:DROP,0.0.0.0,0.0.0.0,0,10.231.0.4-10.231.0.7,255.255.255.255,80-81,TCP"));
    (void)filter.start_command();
    ASSERT_TRUE(filter.filtering());
    EXPECT_TRUE(reaches(peer(), 80));
    // 10.231.0.1-10.231.0.2 widens to 10.231.0.0/30, which holds the peer;
    // the change takes effect while on.
    filter.set_cell(0, kDstIp, "10.231.0.1-10.231.0.2");
    EXPECT_FALSE(connects(peer(), 80));
    EXPECT_FALSE(connects(peer(), 81));
    EXPECT_NE(listed_table().find("ip daddr 10.231.0.0/30 tcp dport 80-81 drop"), std::string::npos)
        << listed_table();
    filter.shut_down();
    EXPECT_TRUE(reaches(peer(), 80));
  });
}

TEST_F(PacketFilterTest, IcmpRulesMatchTypeAndCode) {
  with_filter([&](FilterController& filter, platform::FakeFileStore&) {
    auto ping = [&] { return link_.left().exec("ping -c 1 -W 1 " + peer()).ok(); };
    ASSERT_TRUE(ping());
    // Timestamp requests (type 13) are not echo requests.
    ASSERT_TRUE(filter.add_command("tarnix.packetfilter /add:DROP,0.0.0.0,0.0.0.0,13,0.0.0.0,0.0.0.0,0,ICMP"));
    (void)filter.start_command();
    ASSERT_TRUE(filter.filtering());
    EXPECT_TRUE(ping());
    // Echo requests (type 8) of code 5, which a ping never sends, leave it
    // alone; code 0 stands for any code, and then the requests are dropped.
    filter.set_cell(0, kSrcPort, "8");
    filter.set_cell(0, kDstPort, "5");
    EXPECT_TRUE(ping());
    filter.set_cell(0, kDstPort, "0");
    EXPECT_FALSE(ping());
    (void)filter.stop_command();
    EXPECT_TRUE(ping());
  });
}

TEST_F(PacketFilterTest, TheTableDiesWithItsOwner) {
  ASSERT_TRUE(link_.left().run([&] {
    // The helper joins the namespace of the thread that starts it.
    platform::HelperClient client({TW_TARNIX_HELPER});
    platform::HelperPacketFilter filter(client);
    ASSERT_TRUE(filter.is_supported());
    platform::FilterSet set{{0x0AE70001}, {{0, 0, 0x0AE70002, 0xFFFFFFFF, platform::kFilterTcp, 0, 0, 80, 80}}};
    const Status s = filter.apply(set);
    ASSERT_TRUE(s.ok()) << s.error().message();
    EXPECT_FALSE(connects(peer(), 80));
    EXPECT_NE(listed_table(), "");
    // Nobody else may touch an owned table.
    EXPECT_FALSE(platform::nft_command_output("delete table ip tarnwatch").ok());

    ASSERT_EQ(kill(client.pid(), SIGKILL), 0);
    for (int i = 0; i < 100 && listed_table() != ""; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(listed_table(), "");
    EXPECT_TRUE(reaches(peer(), 80));
  }));
}

TEST_F(PacketFilterTest, ASecondFilterHearsWhoHoldsTheTable) {
  ASSERT_TRUE(link_.left().run([&] {
    // The helper holds the table for this process, as it does for a desktop
    // instance; a second filter (another instance, run as root) may not
    // touch it, and is told whose it is instead of "run as administrator".
    platform::HelperClient client({TW_TARNIX_HELPER});
    platform::HelperPacketFilter held(client);
    ASSERT_TRUE(held.is_supported());
    platform::FilterSet set{{0x0AE70001}, {{0, 0, 0x0AE70002, 0xFFFFFFFF, platform::kFilterTcp, 0, 0, 80, 80}}};
    ASSERT_TRUE(held.apply(set).ok());

    const auto holder = platform::nft_table_holder("tarnwatch");
    ASSERT_TRUE(holder);
    EXPECT_EQ(holder->pid, client.pid());
    EXPECT_EQ(holder->name, "tarnix-helper");
    EXPECT_EQ(holder->instance_pid, getpid());

    platform::NftablesPacketFilter second({nft_apply_text, nft_remove_text});
    const Status s = second.apply(set);
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error().headline, "Another Tarnwatch instance (pid " + std::to_string(getpid()) + ") filters already.");
    EXPECT_EQ(s.error().errno_value, EBUSY);
    EXPECT_NE(listed_table(), "");  // the first one's table stands
    EXPECT_FALSE(platform::nft_table_holder("no-such-table"));
  }));
}

// A member of the group tarnwatch filters through the helper; the helper
// installs the rules for the machine's own non-loopback addresses only,
// whatever the client's list says (127.0.0.1, 0.0.0.0 and 255.255.255.255
// would cut off loopback or match nothing real).
TEST_F(PacketFilterTest, GroupMemberFiltersThroughTheHelperForTheMachinesOwnAddressesOnly) {
  test::HelperGroup group;
  test::TestUser member(true);
  ASSERT_TRUE(member.ok()) << member.error();
  char tmpl[] = "/tmp/tw-filter-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string dir = tmpl;
  fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec);
  const std::string capable = test::install_helper_copy(dir, "tarnix-helper", "cap_net_admin");
  const std::string plain = test::install_helper_copy(dir, "plain-helper", "");
  // Port 80 on the left's loopback, which must stay reachable.
  int lo = -1;
  ASSERT_TRUE(link_.left().run([&] {
    lo = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(80);
    if (bind(lo, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(lo, 64) != 0) lo = -1;
  }));
  ASSERT_GE(lo, 0);
  auto run = [&](const std::string& helper) {
    return link_.left().exec(member.as() + TW_FILTER_CLIENT + " " + helper +
                             " 127.0.0.1,0.0.0.0,255.255.255.255,10.231.0.1,10.231.0.2 " + peer() + " 80 2>&1");
  };

  if (!capable.empty()) {
    const auto r = run(capable);
    EXPECT_EQ(r.output, "helper\nblocked\nconnected\nloopback connected\nremoved\nconnected\n");
    EXPECT_EQ(r.status, 0);
  }
  const auto r = run(plain);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output.rfind("helper\nPlease run with administrator privileges.\n"
                           "tarnix-helper has no capabilities: sudo make install (",
                           0),
            0u)
      << r.output;
  close(lo);
  std::error_code ec;
  fs::remove_all(dir, ec);
  if (capable.empty()) GTEST_SKIP() << dir << " cannot hold file capabilities";
}

// What the helper installs is what nft lists: the set holds only the
// machine's own address.
TEST_F(PacketFilterTest, HelperTableListsOnlyTheMachinesOwnAddress) {
  ASSERT_TRUE(link_.left().run([&] {
    platform::HelperClient client({TW_TARNIX_HELPER});
    platform::HelperPacketFilter filter(client);
    platform::FilterSet set{{0x7F000001, 0, 0xFFFFFFFF, 0x0AE70001, 0x0AE70002},
                           {{0, 0, 0, 0, platform::kFilterTcp, 0, 0, 80, 80}}};
    const Status s = filter.apply(set);
    ASSERT_TRUE(s.ok()) << s.error().message();
    EXPECT_EQ(listed_table(), nft_table_text(platform::FilterSet{{0x0AE70001}, set.drops}));
  }));
}

}  // namespace
}  // namespace tw::packetfilter
