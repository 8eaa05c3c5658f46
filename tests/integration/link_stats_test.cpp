// The interface table read over rtnetlink, against the kernel's own counters,
// inside a namespace of the test's own. The message parsers are also fed
// hand-made and broken messages (those checks need no root).
#include <arpa/inet.h>
#include <libmnl/libmnl.h>
#include <linux/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <linux/if_arp.h>
#include <linux/if_ether.h>
#include <linux/if_link.h>
#include <linux/if_packet.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "netns.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_file_store.h"
#include "platform/linux/netlink_link_stats.h"
#include "settings/profile.h"
#include "traffic/traffic_monitor.h"

namespace {

using tw::platform::LinkRow;
using tw::platform::NetlinkLinkStats;

// "" on success, so that a failed read prints its reason.
std::string why(const tw::Status& s) { return s ? std::string() : s.error().message(); }
namespace nd = tw::platform::netlink_detail;

// ---------------------------------------------------------------------------
// Message parsers

struct MessageBuffer {
  alignas(8) char data[1024] = {};
  nlmsghdr* nlh = nullptr;
};

void build_link_message(MessageBuffer& b, int index, const char* name, const char* alias) {
  b.nlh = mnl_nlmsg_put_header(b.data);
  b.nlh->nlmsg_type = RTM_NEWLINK;
  auto* ifi = static_cast<ifinfomsg*>(mnl_nlmsg_put_extra_header(b.nlh, sizeof(ifinfomsg)));
  ifi->ifi_index = index;
  ifi->ifi_type = ARPHRD_ETHER;
  ifi->ifi_flags = IFF_UP | IFF_RUNNING | IFF_LOWER_UP;
  mnl_attr_put_strz(b.nlh, IFLA_IFNAME, name);
  if (alias != nullptr) mnl_attr_put_strz(b.nlh, IFLA_IFALIAS, alias);
  mnl_attr_put_u32(b.nlh, IFLA_MTU, 1400);
  mnl_attr_put_u8(b.nlh, IFLA_OPERSTATE, IF_OPER_UP);
  const unsigned char mac[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
  mnl_attr_put(b.nlh, IFLA_ADDRESS, sizeof mac, mac);
}

void build_stats_message(MessageBuffer& b, std::uint32_t index, std::size_t stats_bytes) {
  b.nlh = mnl_nlmsg_put_header(b.data);
  b.nlh->nlmsg_type = RTM_NEWSTATS;
  auto* ifsm = static_cast<if_stats_msg*>(mnl_nlmsg_put_extra_header(b.nlh, sizeof(if_stats_msg)));
  ifsm->ifindex = index;
  rtnl_link_stats64 s{};
  s.rx_packets = 100;
  s.tx_packets = 70;
  s.rx_bytes = 5'000'000'000ULL;  // past 32 bits on purpose
  s.tx_bytes = 123;
  s.multicast = 30;
  s.rx_dropped = 4;
  s.rx_nohandler = 9;
  // Padding attribute first, as the kernel puts before 64-bit payloads.
  mnl_attr_put(b.nlh, IFLA_STATS_UNSPEC, 0, nullptr);
  mnl_attr_put(b.nlh, IFLA_STATS_LINK_64, std::min(stats_bytes, sizeof s), &s);
}

TEST(LinkMessageParsing, ReadsWellFormedMessages) {
  MessageBuffer b;
  build_link_message(b, 7, "eth7", "Uplink");
  nd::LinkInfo link;
  ASSERT_TRUE(nd::parse_link_message(b.nlh, b.nlh->nlmsg_len, link));
  EXPECT_EQ(link.index, 7u);
  EXPECT_EQ(link.if_name, "eth7");
  EXPECT_EQ(link.alias, "Uplink");
  EXPECT_EQ(link.mtu, 1400u);
  EXPECT_EQ(link.addr_len, 6u);
  EXPECT_EQ(link.addr[5], 0x55);

  MessageBuffer s;
  build_stats_message(s, 7, sizeof(rtnl_link_stats64));
  nd::LinkCounters c;
  ASSERT_TRUE(nd::parse_stats_message(s.nlh, s.nlh->nlmsg_len, c));
  EXPECT_EQ(c.index, 7u);
  EXPECT_EQ(c.rx_bytes, 5'000'000'000ULL);
  EXPECT_EQ(c.rx_nohandler, 9u);

  LinkRow row;
  nd::fill_row(link, c, row);
  EXPECT_EQ(row.name, "Uplink");  // the alias, when set
  EXPECT_EQ(row.if_name, "eth7");
  EXPECT_EQ(row.type, 6u);
  EXPECT_EQ(row.oper_status, 5u);
  EXPECT_EQ(row.admin_status, 1u);
  EXPECT_EQ(row.in_octets, 5'000'000'000ULL);
  EXPECT_EQ(row.in_ucast_pkts, 70u);
  EXPECT_EQ(row.in_nucast_pkts, 30u);
  EXPECT_EQ(row.out_ucast_pkts, 70u);
  EXPECT_EQ(row.in_discards, 4u);
  EXPECT_EQ(row.in_unknown_protos, 9u);

  // An older kernel's shorter struct: the fields it has are read, the rest is 0.
  build_stats_message(s, 7, offsetof(rtnl_link_stats64, rx_nohandler));
  ASSERT_TRUE(nd::parse_stats_message(s.nlh, s.nlh->nlmsg_len, c));
  EXPECT_EQ(c.tx_bytes, 123u);
  EXPECT_EQ(c.rx_nohandler, 0u);
}

TEST(LinkMessageParsing, RejectsMalformedMessages) {
  nd::LinkInfo link;
  nd::LinkCounters c;
  MessageBuffer b;
  build_link_message(b, 3, "eth3", nullptr);
  const std::uint32_t len = b.nlh->nlmsg_len;

  // Length field larger than the bytes at hand, or smaller than a header.
  EXPECT_FALSE(nd::parse_link_message(b.nlh, len - 1, link));
  EXPECT_FALSE(nd::parse_link_message(b.nlh, 8, link));
  b.nlh->nlmsg_len = 10;
  EXPECT_FALSE(nd::parse_link_message(b.nlh, len, link));
  b.nlh->nlmsg_len = len;
  EXPECT_FALSE(nd::parse_link_message(nullptr, 0, link));
  // The wrong message type for the parser.
  EXPECT_FALSE(nd::parse_stats_message(b.nlh, len, c));

  // Every truncation of a good message (length field cut to match): rejected,
  // or read without anything beyond the cut.
  for (std::uint32_t cut = 0; cut < len; ++cut) {
    MessageBuffer t;
    std::memcpy(t.data, b.data, cut);
    if (cut >= sizeof(nlmsghdr)) reinterpret_cast<nlmsghdr*>(t.data)->nlmsg_len = cut;
    nd::LinkInfo l;
    if (nd::parse_link_message(t.data, cut, l)) {
      EXPECT_EQ(l.if_name, "eth3");  // the name comes first; nothing was made up
    }
  }

  // A name that is not NUL-terminated, a 2-byte MTU, a missing name.
  MessageBuffer bad;
  bad.nlh = mnl_nlmsg_put_header(bad.data);
  bad.nlh->nlmsg_type = RTM_NEWLINK;
  static_cast<ifinfomsg*>(mnl_nlmsg_put_extra_header(bad.nlh, sizeof(ifinfomsg)))->ifi_index = 2;
  mnl_attr_put(bad.nlh, IFLA_IFNAME, 4, "eth0");
  EXPECT_FALSE(nd::parse_link_message(bad.nlh, bad.nlh->nlmsg_len, link));

  bad.nlh = mnl_nlmsg_put_header(bad.data);
  bad.nlh->nlmsg_type = RTM_NEWLINK;
  static_cast<ifinfomsg*>(mnl_nlmsg_put_extra_header(bad.nlh, sizeof(ifinfomsg)))->ifi_index = 2;
  mnl_attr_put_strz(bad.nlh, IFLA_IFNAME, "eth0");
  mnl_attr_put_u16(bad.nlh, IFLA_MTU, 1500);
  EXPECT_FALSE(nd::parse_link_message(bad.nlh, bad.nlh->nlmsg_len, link));

  bad.nlh = mnl_nlmsg_put_header(bad.data);
  bad.nlh->nlmsg_type = RTM_NEWLINK;
  static_cast<ifinfomsg*>(mnl_nlmsg_put_extra_header(bad.nlh, sizeof(ifinfomsg)))->ifi_index = 2;
  mnl_attr_put_u32(bad.nlh, IFLA_MTU, 1500);
  EXPECT_FALSE(nd::parse_link_message(bad.nlh, bad.nlh->nlmsg_len, link));

  // An attribute whose length runs past the message.
  build_link_message(b, 3, "eth3", nullptr);
  auto* last = reinterpret_cast<nlattr*>(b.data + NLMSG_ALIGN(b.nlh->nlmsg_len) - 12);
  last->nla_len = 200;
  EXPECT_FALSE(nd::parse_link_message(b.nlh, b.nlh->nlmsg_len, link));

  // Hardware address longer than a row holds: cut, not overrun.
  build_link_message(b, 3, "eth3", nullptr);
  std::vector<unsigned char> long_addr(64, 0xab);
  mnl_attr_put(b.nlh, IFLA_ADDRESS, long_addr.size(), long_addr.data());
  ASSERT_TRUE(nd::parse_link_message(b.nlh, b.nlh->nlmsg_len, link));
  EXPECT_EQ(link.addr_len, 32u);

  // Stats: counters too short, counters missing, interface index 0.
  MessageBuffer s;
  build_stats_message(s, 5, 40);
  EXPECT_FALSE(nd::parse_stats_message(s.nlh, s.nlh->nlmsg_len, c));
  s.nlh = mnl_nlmsg_put_header(s.data);
  s.nlh->nlmsg_type = RTM_NEWSTATS;
  static_cast<if_stats_msg*>(mnl_nlmsg_put_extra_header(s.nlh, sizeof(if_stats_msg)))->ifindex = 5;
  EXPECT_FALSE(nd::parse_stats_message(s.nlh, s.nlh->nlmsg_len, c));
  build_stats_message(s, 0, sizeof(rtnl_link_stats64));
  EXPECT_FALSE(nd::parse_stats_message(s.nlh, s.nlh->nlmsg_len, c));
}

// Appends a control message (DONE or ERROR) carrying `code` to `buf`.
void put_control(std::vector<char>& buf, std::uint16_t type, int code, std::uint32_t seq) {
  alignas(8) char m[64] = {};
  nlmsghdr* nlh = mnl_nlmsg_put_header(m);
  nlh->nlmsg_type = type;
  nlh->nlmsg_seq = seq;
  if (type == NLMSG_ERROR) {
    auto* err = static_cast<nlmsgerr*>(mnl_nlmsg_put_extra_header(nlh, sizeof(nlmsgerr)));
    err->error = code;
  } else {
    *static_cast<int*>(mnl_nlmsg_put_extra_header(nlh, sizeof(int))) = code;
  }
  buf.insert(buf.end(), m, m + nlh->nlmsg_len);
}

TEST(LinkMessageParsing, DumpEndsAndErrorReplies) {
  int seen = 0;
  auto count = [](const nlmsghdr*, void* data) {
    ++*static_cast<int*>(data);
    return MNL_CB_OK;
  };
  MessageBuffer s;
  build_stats_message(s, 2, sizeof(rtnl_link_stats64));
  s.nlh->nlmsg_seq = 9;
  const std::vector<char> stats(s.data, s.data + s.nlh->nlmsg_len);

  // A part with more to come, then the end of the dump.
  EXPECT_EQ(nd::run_callbacks(stats.data(), stats.size(), 9, 0, count, &seen), MNL_CB_OK);
  std::vector<char> done = stats;
  put_control(done, NLMSG_DONE, 0, 9);
  EXPECT_EQ(nd::run_callbacks(done.data(), done.size(), 9, 0, count, &seen), MNL_CB_STOP);
  EXPECT_EQ(seen, 2);

  // A dump that failed part-way ends with DONE carrying the error: not a
  // complete table.
  std::vector<char> failed = stats;
  put_control(failed, NLMSG_DONE, -EMSGSIZE, 9);
  errno = 0;
  EXPECT_EQ(nd::run_callbacks(failed.data(), failed.size(), 9, 0, count, &seen), MNL_CB_ERROR);
  EXPECT_EQ(errno, EMSGSIZE);

  std::vector<char> refused;
  put_control(refused, NLMSG_ERROR, -EOPNOTSUPP, 9);
  EXPECT_EQ(nd::run_callbacks(refused.data(), refused.size(), 9, 0, count, &seen), MNL_CB_ERROR);
  EXPECT_EQ(errno, EOPNOTSUPP);

  // A reply to an earlier request (other sequence number) and an interrupted
  // dump are errors too, never data.
  seen = 0;
  EXPECT_EQ(nd::run_callbacks(stats.data(), stats.size(), 10, 0, count, &seen), MNL_CB_ERROR);
  std::vector<char> interrupted = stats;
  reinterpret_cast<nlmsghdr*>(interrupted.data())->nlmsg_flags |= NLM_F_DUMP_INTR;
  EXPECT_EQ(nd::run_callbacks(interrupted.data(), interrupted.size(), 9, 0, count, &seen), MNL_CB_ERROR);
  EXPECT_EQ(errno, EINTR);
  EXPECT_EQ(seen, 0);

  // A header claiming 2^31 bytes or more must not send the walk outside the
  // buffer (libmnl compares the length as a signed int).
  std::vector<char> huge = stats;
  reinterpret_cast<nlmsghdr*>(huge.data())->nlmsg_len = 0xbcbcbcbcu;
  EXPECT_EQ(nd::run_callbacks(huge.data(), huge.size(), 9, 0, count, &seen), MNL_CB_ERROR);
  EXPECT_EQ(errno, EBADMSG);
  EXPECT_EQ(seen, 0);
}

TEST(LinkMessageParsing, StatusTypeAndPacketMapping) {
  const std::uint32_t usable = IFF_UP | IFF_RUNNING | IFF_LOWER_UP;
  EXPECT_EQ(nd::oper_status(IF_OPER_UP, 0), 5u);
  EXPECT_EQ(nd::oper_status(IF_OPER_DOWN, usable), 0u);
  EXPECT_EQ(nd::oper_status(IF_OPER_LOWERLAYERDOWN, IFF_UP), 0u);
  EXPECT_EQ(nd::oper_status(IF_OPER_DORMANT, usable), 0u);
  // Loopback and tun report UNKNOWN while working; down or without carrier
  // they are not operational.
  EXPECT_EQ(nd::oper_status(IF_OPER_UNKNOWN, usable), 5u);
  EXPECT_EQ(nd::oper_status(IF_OPER_UNKNOWN, IFF_UP | IFF_RUNNING), 0u);
  EXPECT_EQ(nd::oper_status(IF_OPER_UNKNOWN, 0), 0u);

  EXPECT_EQ(nd::iana_if_type(ARPHRD_ETHER, false), 6u);
  EXPECT_EQ(nd::iana_if_type(ARPHRD_ETHER, true), 71u);
  EXPECT_EQ(nd::iana_if_type(ARPHRD_LOOPBACK, false), 24u);
  EXPECT_EQ(nd::iana_if_type(ARPHRD_PPP, false), 23u);
  EXPECT_EQ(nd::iana_if_type(ARPHRD_NONE, false), 53u);
  EXPECT_EQ(nd::iana_if_type(0xfff0, false), 1u);

  // More multicast than packets (drivers count them apart): never wraps.
  nd::LinkInfo link;
  link.if_name = "x";
  nd::LinkCounters c;
  c.rx_packets = 3;
  c.multicast = 5;
  LinkRow row;
  nd::fill_row(link, c, row);
  EXPECT_EQ(row.in_ucast_pkts, 0u);
  EXPECT_EQ(row.in_nucast_pkts, 3u);
  EXPECT_EQ(row.name, "x");
  EXPECT_EQ(row.admin_status, 2u);
}

// ---------------------------------------------------------------------------
// Against the kernel

class LinkStatsInNamespace : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!tw::test::is_root()) GTEST_SKIP() << "needs root to create network namespaces";
    ns_ = std::make_unique<tw::test::NetNs>("links");
    ASSERT_TRUE(ns_->ok()) << ns_->error();
    ASSERT_TRUE(ns_->add_veth("twa", "twb")) << ns_->error();
    ASSERT_TRUE(ns_->run([&] { stats_ = std::make_unique<NetlinkLinkStats>(); }));
    ASSERT_TRUE(stats_->is_supported());
  }
  void TearDown() override {
    stats_.reset();  // closes the sockets before the namespace goes
    ns_.reset();
  }

  const LinkRow* find(const std::vector<LinkRow>& rows, const std::string& name) {
    for (const auto& r : rows) {
      if (r.if_name == name) return &r;
    }
    return nullptr;
  }

  // Sends raw Ethernet frames of the given payload sizes out of `from` to the
  // MAC address `to`, from inside the namespace. Returns the bytes sent.
  std::uint64_t send_frames(const LinkRow& from, const LinkRow& to, const std::vector<std::size_t>& payloads) {
    std::uint64_t sent = 0;
    ns_->run([&] {
      // Protocol 0: this socket only sends, it receives nothing.
      const int fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
      if (fd < 0) return;
      sockaddr_ll addr{};
      addr.sll_family = AF_PACKET;
      addr.sll_ifindex = static_cast<int>(from.index);
      addr.sll_halen = ETH_ALEN;
      std::memcpy(addr.sll_addr, to.phys_addr.data(), ETH_ALEN);
      for (std::size_t payload : payloads) {
        std::vector<unsigned char> frame(ETH_HLEN + payload, 0x5a);
        std::memcpy(frame.data(), to.phys_addr.data(), ETH_ALEN);
        std::memcpy(frame.data() + ETH_ALEN, from.phys_addr.data(), ETH_ALEN);
        frame[12] = 0x88;  // EtherType 0x88B5, reserved for local experiments
        frame[13] = 0xb5;
        const ssize_t n = sendto(fd, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        if (n == static_cast<ssize_t>(frame.size())) sent += frame.size();
      }
      close(fd);
    });
    return sent;
  }

  std::unique_ptr<tw::test::NetNs> ns_;
  std::unique_ptr<NetlinkLinkStats> stats_;
};

TEST_F(LinkStatsInNamespace, OctetCountersMatchTheKernelToTheByte) {
  std::vector<LinkRow> rows;
  ASSERT_EQ(why(stats_->read_table(rows)), "");
  const LinkRow* a = find(rows, "twa");
  const LinkRow* b = find(rows, "twb");
  ASSERT_TRUE(a && b);
  const LinkRow a0 = *a, b0 = *b;
  // Nothing else talks in the namespace: what we read is what sysfs shows.
  EXPECT_EQ(ns_->sys_counter("twa", "tx_bytes"), a0.out_octets);
  EXPECT_EQ(ns_->sys_counter("twb", "rx_bytes"), b0.in_octets);

  std::vector<std::size_t> payloads;
  for (std::size_t i = 0; i < 40; ++i) payloads.push_back(46 + 37 * i);  // 60..1503-byte frames
  std::uint64_t expected = 0;
  for (std::size_t p : payloads) expected += ETH_HLEN + p;
  ASSERT_EQ(send_frames(a0, b0, payloads), expected);

  ASSERT_EQ(why(stats_->read_table(rows)), "");
  a = find(rows, "twa");
  b = find(rows, "twb");
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->out_octets - a0.out_octets, expected);
  EXPECT_EQ(b->in_octets - b0.in_octets, expected);
  EXPECT_EQ(a->out_ucast_pkts - a0.out_ucast_pkts, payloads.size());
  EXPECT_EQ(b->in_ucast_pkts - b0.in_ucast_pkts, payloads.size());
  EXPECT_EQ(b->in_nucast_pkts, b0.in_nucast_pkts);
  // The kernel's own counters, read through sysfs in the namespace, agree.
  EXPECT_EQ(ns_->sys_counter("twa", "tx_bytes"), a->out_octets);
  EXPECT_EQ(ns_->sys_counter("twb", "rx_bytes"), b->in_octets);
  EXPECT_EQ(ns_->sys_counter("twa", "tx_packets"), a->out_ucast_pkts + a->out_nucast_pkts);
  EXPECT_EQ(ns_->sys_counter("twb", "rx_packets"), b->in_ucast_pkts + b->in_nucast_pkts);
}

// The sampler asks for its one interface: its counters are the kernel's, the
// table around it stays whole, and interfaces that come and go (also the
// sampled one) show as in a full read.
TEST_F(LinkStatsInNamespace, OneInterfaceReadKeepsTheTableWhole) {
  ASSERT_TRUE(ns_->add_veth("twq0", "twq1")) << ns_->error();
  std::vector<LinkRow> rows;
  ASSERT_EQ(why(stats_->read_table(rows)), "");
  const std::size_t all = rows.size();
  const LinkRow a0 = *find(rows, "twa"), b0 = *find(rows, "twb");
  ASSERT_EQ(send_frames(a0, b0, std::vector<std::size_t>(25, 700)), 25u * (ETH_HLEN + 700));

  const std::uint64_t refreshes = stats_->link_refreshes();
  ASSERT_EQ(why(stats_->read_table_for(a0.index, rows)), "");
  ASSERT_EQ(rows.size(), all);
  const LinkRow* a = find(rows, "twa");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->out_octets, ns_->sys_counter("twa", "tx_bytes"));
  EXPECT_EQ(a->out_octets - a0.out_octets, 25u * (ETH_HLEN + 700));
  EXPECT_EQ(a->name, "twa");
  EXPECT_EQ(stats_->link_refreshes(), refreshes);  // no dump of the links for it

  // Another interface goes: the next read of twa lists the table without it.
  ASSERT_TRUE(ns_->del_link("twq0")) << ns_->error();
  ASSERT_EQ(why(stats_->read_table_for(a0.index, rows)), "");
  EXPECT_EQ(rows.size(), all - 2);
  EXPECT_EQ(find(rows, "twq0"), nullptr);
  ASSERT_TRUE(find(rows, "twa"));
  EXPECT_EQ(find(rows, "twa")->out_octets, ns_->sys_counter("twa", "tx_bytes"));

  // The sampled interface itself goes, with the events watched but not yet
  // taken: the kernel's answer for its index tells, and the table is read
  // without it, not an error.
  ASSERT_GE(stats_->watch_events(), 0);
  ASSERT_TRUE(ns_->del_link("twa")) << ns_->error();
  ASSERT_EQ(why(stats_->read_table_for(a0.index, rows)), "");
  EXPECT_EQ(rows.size(), all - 4);
  EXPECT_EQ(find(rows, "twa"), nullptr);
  EXPECT_EQ(find(rows, "twb"), nullptr);
}

TEST_F(LinkStatsInNamespace, RowsDescribeTheInterfacesInIndexOrder) {
  ASSERT_TRUE(ns_->add_veth("twc0", "twc1")) << ns_->error();
  ASSERT_TRUE(ns_->ip("link set dev twc0 mtu 1400 alias 'Test uplink'").ok());
  ASSERT_TRUE(ns_->set_up("twc1", false)) << ns_->error();
  // The kernel's link watch applies the peer's carrier loss to twc0 a moment
  // later (it batches such events for up to a second).
  // Kernels say "down" or "lowerlayerdown" (the peer is down) for it.
  const auto carrier_lost = [&] {
    const auto state = ns_->sys_file("twc0", "operstate");
    return state == std::optional<std::string>("down") || state == std::optional<std::string>("lowerlayerdown");
  };
  for (int i = 0; i < 300 && !carrier_lost(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(carrier_lost()) << ns_->sys_file("twc0", "operstate").value_or("(unreadable)");

  std::vector<LinkRow> rows;
  ASSERT_EQ(why(stats_->read_table(rows)), "");
  // The namespace of the constructing thread, not of this one.
  ASSERT_EQ(rows.size(), 5u);
  for (std::size_t i = 1; i < rows.size(); ++i) EXPECT_LT(rows[i - 1].index, rows[i].index);

  for (const LinkRow& r : rows) {
    EXPECT_EQ(ns_->ifindex(r.if_name), r.index) << r.if_name;
    EXPECT_EQ(ns_->sys_file(r.if_name, "mtu"), std::to_string(r.mtu)) << r.if_name;
    // The speed sysfs shows (Mb/s, unreadable or -1 when unknown) in bits/s.
    const auto speed = ns_->sys_file(r.if_name, "speed");
    const long long mbps = (speed && !speed->empty()) ? std::stoll(*speed) : -1;
    EXPECT_EQ(r.speed_bps, mbps > 0 ? static_cast<std::uint64_t>(mbps) * 1'000'000ULL : 0u) << r.if_name;
  }

  const LinkRow* lo = find(rows, "lo");
  ASSERT_TRUE(lo);
  EXPECT_EQ(lo->index, 1u);
  EXPECT_EQ(lo->type, 24u);
  EXPECT_EQ(lo->mtu, 65536u);
  EXPECT_EQ(lo->oper_status, 5u);

  const LinkRow* a = find(rows, "twa");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->name, "twa");
  EXPECT_EQ(a->type, 6u);
  EXPECT_EQ(a->admin_status, 1u);
  EXPECT_GT(a->speed_bps, 0u);  // veth reports a nominal speed
  ASSERT_EQ(a->phys_addr_len, 6u);
  char mac[18];
  std::snprintf(mac, sizeof mac, "%02x:%02x:%02x:%02x:%02x:%02x", a->phys_addr[0], a->phys_addr[1],
                a->phys_addr[2], a->phys_addr[3], a->phys_addr[4], a->phys_addr[5]);
  EXPECT_EQ(ns_->sys_file("twa", "address"), std::string(mac));

  const LinkRow* c0 = find(rows, "twc0");
  ASSERT_TRUE(c0);
  EXPECT_EQ(c0->name, "Test uplink");
  EXPECT_EQ(c0->if_name, "twc0");
  EXPECT_EQ(c0->mtu, 1400u);
  EXPECT_EQ(c0->oper_status, 0u);  // its peer is down

  const LinkRow* c1 = find(rows, "twc1");
  ASSERT_TRUE(c1);
  EXPECT_EQ(c1->admin_status, 2u);
  EXPECT_EQ(c1->oper_status, 0u);
  EXPECT_EQ(c1->speed_bps, 0u);
}

TEST_F(LinkStatsInNamespace, TableFollowsInterfacesAndStateChanges) {
  std::vector<LinkRow> rows;
  ASSERT_EQ(why(stats_->read_table(rows)), "");
  ASSERT_EQ(rows.size(), 3u);

  // Steady state: the row storage and its strings are reused, not reallocated.
  const LinkRow* before = rows.data();
  const char* name_before = rows[1].name.data();
  const auto refreshes = stats_->link_refreshes();
  ASSERT_TRUE(stats_->read_table(rows));
  EXPECT_EQ(rows.data(), before);
  EXPECT_EQ(rows[1].name.data(), name_before);
  EXPECT_EQ(stats_->link_refreshes(), refreshes);

  ASSERT_TRUE(ns_->add_veth("twn0", "twn1")) << ns_->error();
  ASSERT_TRUE(stats_->read_table(rows));
  ASSERT_EQ(rows.size(), 5u);
  // New interfaces get higher indexes: they come last, in index order.
  EXPECT_EQ(rows[3].index, ns_->ifindex(rows[3].if_name));
  EXPECT_EQ(rows[4].index, ns_->ifindex(rows[4].if_name));
  EXPECT_TRUE(find(rows, "twn0") && find(rows, "twn1"));
  EXPECT_LT(rows[2].index, rows[3].index);
  EXPECT_GT(stats_->link_refreshes(), refreshes);

  // Deleting one end of a veth pair takes both.
  ASSERT_TRUE(ns_->del_link("twn0")) << ns_->error();
  ASSERT_TRUE(stats_->read_table(rows));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(find(rows, "twn0"), nullptr);
  EXPECT_EQ(find(rows, "twn1"), nullptr);

  // A renamed interface keeps its index and position, under its new name.
  ASSERT_TRUE(ns_->set_up("twb", false));
  ASSERT_TRUE(ns_->ip("link set dev twb name twc").ok());
  ASSERT_TRUE(stats_->read_table(rows));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_NE(find(rows, "twc"), nullptr);
  EXPECT_EQ(find(rows, "twb"), nullptr);

  // With its peer down the veth loses carrier. The kernel applies that on its
  // link-watch worker a moment later; read until it shows (the link event is
  // what makes the table notice), with a generous bound against a hang.
  const LinkRow* a = nullptr;
  for (int i = 0; i < 1000; ++i) {
    ASSERT_TRUE(stats_->read_table(rows));
    a = find(rows, "twa");
    ASSERT_TRUE(a);
    if (a->oper_status == 0) break;
    usleep(10'000);
  }
  EXPECT_EQ(a->oper_status, 0u);
  EXPECT_EQ(a->admin_status, 1u);
}

TEST_F(LinkStatsInNamespace, DefaultRouteWithTheLowestMetric) {
  EXPECT_EQ(stats_->default_route_index(), std::nullopt);  // no route at all yet

  ASSERT_TRUE(ns_->add_veth("twr0", "twr0p") && ns_->add_veth("twr1", "twr1p")) << ns_->error();
  ASSERT_TRUE(ns_->add_address("twr0", "10.231.7.1/24") && ns_->add_address("twr1", "10.231.8.1/24"))
      << ns_->error();
  ASSERT_TRUE(ns_->ip("route add default via 10.231.7.254 dev twr0 metric 300").ok());
  ASSERT_TRUE(ns_->ip("route add default via 10.231.8.254 dev twr1 metric 100").ok());
  // Other tables and other destinations do not count, whatever their metric.
  ASSERT_TRUE(ns_->ip("route add default dev twa table 100 metric 1").ok());
  ASSERT_TRUE(ns_->ip("route add 10.231.9.0/24 dev twa metric 1").ok());
  // Asked from this thread: the answer is the namespace's, like the table.
  EXPECT_EQ(stats_->default_route_index(), ns_->ifindex("twr1"));

  ASSERT_TRUE(ns_->ip("route del default dev twr1").ok());
  EXPECT_EQ(stats_->default_route_index(), ns_->ifindex("twr0"));
}

// The sampler on the kernel's table while an interface before the sampled one
// goes away: the sampled interface is followed to its new position and keeps
// being counted, and the counter of the interface that moves into its old
// position never reaches the totals. (tarnixd's tests delete the sampled
// interface itself.)
TEST_F(LinkStatsInNamespace, SamplerFollowsDeletedInterfaces) {
  // Three more pairs; deleting one end of a pair deletes both.
  for (const char* pair : {"twx", "twy", "twz"})
    ASSERT_TRUE(ns_->add_veth(std::string(pair) + "0", std::string(pair) + "1")) << ns_->error();
  std::vector<LinkRow> rows;
  const auto position = [&](const std::string& name) {
    EXPECT_EQ(why(stats_->read_table(rows)), "");
    for (std::size_t i = 0; i < rows.size(); ++i)
      if (rows[i].if_name == name) return static_cast<int>(i);
    return -1;
  };
  const auto row = [&](const std::string& name) { return rows[static_cast<std::size_t>(position(name))]; };

  tw::platform::FakeFileStore files;
  tw::settings::Profile profile(files, "/data/tarnix_links@host.ini");
  profile.write_string("Settings", "InterfaceName", "twy0");
  tw::platform::FakeClock clock;
  clock.set_ms(1000);
  tw::traffic::TrafficMonitor monitor(profile, *stats_, clock, tw::Language::English);
  const int sampled = position("twy0");
  ASSERT_EQ(monitor.start_with_stored_interface(), sampled);

  // The twz pair has carried a lot before; twy0 carries a little while it is sampled.
  ASSERT_GT(send_frames(row("twz0"), row("twz1"), std::vector<std::size_t>(400, 1400)), 500000u);
  for (int i = 0; i < 40; ++i) {
    send_frames(row("twy0"), row("twy1"), {1000});
    clock.advance_ms(50);
    monitor.tick();
  }
  const tw::traffic::TrafficFigures before = monitor.figures();
  ASSERT_EQ(before.state, tw::traffic::InterfaceState::Identified);
  ASSERT_GT(before.smoothed_send, 0);
  ASSERT_LT(before.gross_send + before.gross_recv, 100000u);

  ASSERT_TRUE(ns_->del_link("twx0")) << ns_->error();  // a twz end moves into the position
  ASSERT_EQ(position("twy0"), sampled - 2);
  ASSERT_EQ(rows.at(static_cast<std::size_t>(sampled)).if_name.substr(0, 3), "twz");
  std::uint64_t sent = 0;
  for (int i = 0; i < 10; ++i) {
    sent += send_frames(row("twy0"), row("twy1"), {1000});
    clock.advance_ms(50);
    monitor.tick();
  }
  const tw::traffic::TrafficFigures f = monitor.figures();
  EXPECT_EQ(f.state, tw::traffic::InterfaceState::Identified);
  EXPECT_EQ(monitor.selected_interface(), sampled - 2);
  EXPECT_EQ(f.gross_send, before.gross_send + sent);
  EXPECT_EQ(f.capture_send, before.capture_send + sent);
  EXPECT_EQ(f.gross_recv, before.gross_recv);
  EXPECT_GT(f.smoothed_send, 0);
}

// A watcher of the link events takes them when the descriptor is readable;
// the reads then never look for events themselves (a steady read is the
// stats dump alone), so an attribute change shows after take_events().
TEST_F(LinkStatsInNamespace, WatchedEventsReloadTheAttributes) {
  std::vector<LinkRow> rows;
  const int fd = stats_->watch_events();
  ASSERT_GE(fd, 0);
  ASSERT_EQ(why(stats_->read_table(rows)), "");
  ASSERT_EQ(find(rows, "twb")->admin_status, 1u);
  const auto readable = [&] {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 5000) == 1;
  };

  ASSERT_TRUE(ns_->set_up("twb", false));
  ASSERT_TRUE(readable());
  ASSERT_TRUE(stats_->read_table(rows));
  EXPECT_EQ(find(rows, "twb")->admin_status, 1u) << "the read looked for events itself";
  for (int i = 0; i < 1000; ++i) {  // every pending event, the kernel's follow-ups too
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 200) != 1) break;
    stats_->take_events();
  }
  ASSERT_TRUE(stats_->read_table(rows));
  EXPECT_EQ(find(rows, "twb")->admin_status, 2u);
}

}  // namespace

// Two namespaces joined by a cable (the fixture other tests build on): a UDP
// datagram crosses it, and each side's table agrees with its own kernel.
TEST(LinkStatsAcrossNamespaces, UdpDatagramCrossesTheLink) {
  if (!tw::test::is_root()) GTEST_SKIP() << "needs root to create network namespaces";
  tw::test::VethLink link("udp");
  ASSERT_TRUE(link.ok()) << link.error();

  std::unique_ptr<NetlinkLinkStats> left_stats, right_stats;
  int receiver = -1;
  ASSERT_TRUE(link.left().run([&] { left_stats = std::make_unique<NetlinkLinkStats>(); }));
  ASSERT_TRUE(link.right().run([&] {
    right_stats = std::make_unique<NetlinkLinkStats>();
    receiver = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(40000);
    inet_pton(AF_INET, link.right_addr().c_str(), &addr.sin_addr);
    if (bind(receiver, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      close(receiver);
      receiver = -1;
    }
  }));
  ASSERT_GE(receiver, 0);

  const std::string payload(1000, 'x');
  ssize_t sent = -1;
  ASSERT_TRUE(link.left().run([&] {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(40000);
    inet_pton(AF_INET, link.right_addr().c_str(), &to.sin_addr);
    sent = sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    close(fd);
  }));
  ASSERT_EQ(sent, static_cast<ssize_t>(payload.size()));
  char got[2048];
  // Blocks until the datagram is there (after ARP); SO_RCVTIMEO guards a hang.
  timeval tv{30, 0};
  setsockopt(receiver, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  EXPECT_EQ(recv(receiver, got, sizeof got, 0), static_cast<ssize_t>(payload.size()));
  close(receiver);

  std::vector<LinkRow> rows;
  ASSERT_EQ(why(left_stats->read_table(rows)), "");
  auto it = std::find_if(rows.begin(), rows.end(), [&](const LinkRow& r) { return r.if_name == link.left_if(); });
  ASSERT_NE(it, rows.end());
  // The datagram, its IP and UDP headers and the Ethernet header went out.
  EXPECT_GE(it->out_octets, payload.size() + 20 + 8 + 14);
  EXPECT_EQ(link.left().sys_counter(link.left_if(), "tx_bytes"), it->out_octets);

  ASSERT_EQ(why(right_stats->read_table(rows)), "");
  it = std::find_if(rows.begin(), rows.end(), [&](const LinkRow& r) { return r.if_name == link.right_if(); });
  ASSERT_NE(it, rows.end());
  EXPECT_EQ(link.right().sys_counter(link.right_if(), "rx_bytes"), it->in_octets);
  left_stats.reset();
  right_stats.reset();
}
