// The rtnetlink parsers on answers the kernel really gave (recorded by
// tests/tools/record_netlink.cpp into tests/data/netlink/), checked against
// what the recording namespace held.
#include <libmnl/libmnl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <sys/socket.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/linux/link_rows.h"
#include "platform/linux/sock_diag.h"

namespace {

using tw::platform::LinkRow;
namespace nd = tw::platform::netlink_detail;

std::string read_fixture(const std::string& name) {
  std::ifstream f(std::string(TW_TEST_DATA_DIR) + "/netlink/" + name, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// recording.txt: the links, their /sys counters and the datagrams sent.
struct Recording {
  std::map<std::string, std::uint32_t> index;                          // name -> ifindex
  std::map<std::string, std::map<std::string, std::uint64_t>> counter;  // name -> counter -> value
  std::string sent_if;
  std::uint64_t datagrams = 0, payload = 0;
};

Recording read_recording() {
  Recording r;
  std::istringstream in(read_fixture("recording.txt"));
  for (std::string line; std::getline(in, line);) {
    std::istringstream l(line);
    std::string kind, name, counter;
    l >> kind;
    if (kind == "link") {
      std::uint32_t i = 0;
      l >> i >> name;
      r.index[name] = i;
    } else if (kind == "counter") {
      std::uint64_t v = 0;
      l >> name >> counter >> v;
      r.counter[name][counter] = v;
    } else if (kind == "sent") {
      l >> r.sent_if >> r.datagrams >> r.payload;
    }
  }
  return r;
}

// Runs the dump walker over a whole recorded stream with `parse` on each
// data message; returns the walker's verdict (MNL_CB_STOP for a whole dump).
template <typename T, bool (*Parse)(const void*, std::size_t, T&)>
int replay(const std::string& bytes, std::vector<T>& out) {
  auto cb = [](const nlmsghdr* nlh, void* data) {
    auto& v = *static_cast<std::vector<T>*>(data);
    v.emplace_back();
    return Parse(nlh, nlh->nlmsg_len, v.back()) ? MNL_CB_OK : MNL_CB_ERROR;
  };
  return nd::run_callbacks(bytes.data(), bytes.size(), 0, 0, cb, &out);
}

TEST(NetlinkReplay, LinkAndStatsDumpsGiveTheRecordedInterfacesAndCounters) {
  const Recording rec = read_recording();
  ASSERT_EQ(rec.index.size(), 4u) << "recording.txt unreadable";

  std::vector<nd::LinkInfo> links;
  ASSERT_EQ((replay<nd::LinkInfo, nd::parse_link_message>(read_fixture("link_dump.bin"), links)), MNL_CB_STOP);
  std::vector<nd::LinkCounters> stats;
  ASSERT_EQ((replay<nd::LinkCounters, nd::parse_stats_message>(read_fixture("stats_dump.bin"), stats)), MNL_CB_STOP);
  ASSERT_EQ(links.size(), rec.index.size());
  ASSERT_EQ(stats.size(), rec.index.size());

  std::sort(links.begin(), links.end(), [](auto& a, auto& b) { return a.index < b.index; });
  std::sort(stats.begin(), stats.end(), [](auto& a, auto& b) { return a.index < b.index; });
  std::vector<LinkRow> rows(1);  // a stale row must be overwritten
  nd::merge_rows(links, stats, rows);
  ASSERT_EQ(rows.size(), rec.index.size());

  for (const LinkRow& row : rows) {
    SCOPED_TRACE(row.if_name);
    ASSERT_TRUE(rec.index.count(row.if_name));
    EXPECT_EQ(row.index, rec.index.at(row.if_name));
    const auto& c = rec.counter.at(row.if_name);
    EXPECT_EQ(row.in_octets, c.at("rx_bytes"));
    EXPECT_EQ(row.out_octets, c.at("tx_bytes"));
    EXPECT_EQ(row.in_ucast_pkts + row.in_nucast_pkts, c.at("rx_packets"));
    EXPECT_EQ(row.out_ucast_pkts + row.out_nucast_pkts, c.at("tx_packets"));
    EXPECT_EQ(row.mtu, row.if_name == "lo" ? 65536u : 1500u);
    EXPECT_EQ(row.oper_status, tw::platform::kOperStatusUp);
  }
  ASSERT_TRUE(std::is_sorted(rows.begin(), rows.end(), [](auto& a, auto& b) { return a.index < b.index; }));

  auto row_of = [&](const std::string& name) {
    return *std::find_if(rows.begin(), rows.end(), [&](const LinkRow& r) { return r.if_name == name; });
  };
  // Loopback hears exactly what it says, and has no hardware address.
  const LinkRow lo = row_of("lo");
  EXPECT_EQ(lo.type, tw::platform::kIfTypeLoopback);
  EXPECT_EQ(lo.in_octets, lo.out_octets);
  EXPECT_GT(lo.in_octets, 0u);
  // Every datagram left through the veth: payload plus UDP, IPv4 and Ethernet headers.
  const LinkRow sent = row_of(rec.sent_if);
  EXPECT_EQ(sent.type, 6u);
  EXPECT_EQ(sent.phys_addr_len, 6u);
  EXPECT_GE(sent.out_ucast_pkts, rec.datagrams);
  EXPECT_GE(sent.out_octets, rec.datagrams * (rec.payload + 8 + 20 + 14));
  // The alias is the display name; the kernel name stays.
  EXPECT_EQ(row_of("twpair0").name, "recorded pair");
  EXPECT_EQ(row_of("twpair1").name, "twpair1");
}

TEST(NetlinkReplay, CutOrUnfinishedDumpsAreNeverTakenForWholeOnes) {
  const std::string stats = read_fixture("stats_dump.bin");
  ASSERT_GT(stats.size(), 64u);
  std::vector<nd::LinkCounters> out;
  // However it is cut, a dump is never reported complete; cut inside a
  // message that has its header, the buffer is refused.
  for (std::size_t cut = 1; cut < stats.size(); ++cut) {
    out.clear();
    const int verdict = replay<nd::LinkCounters, nd::parse_stats_message>(stats.substr(0, cut), out);
    ASSERT_NE(verdict, MNL_CB_STOP) << cut;
  }
  const auto* first = reinterpret_cast<const nlmsghdr*>(stats.data());
  out.clear();
  EXPECT_EQ((replay<nd::LinkCounters, nd::parse_stats_message>(stats.substr(0, first->nlmsg_len - 1), out)),
            MNL_CB_ERROR);
  // Messages of the other dump do not parse as stats.
  out.clear();
  EXPECT_EQ((replay<nd::LinkCounters, nd::parse_stats_message>(read_fixture("link_dump.bin"), out)), MNL_CB_ERROR);

  // The socket-table recordings are kept for their parser; they must be whole
  // dumps: listener, client and accepted end for TCP; the bound socket and
  // the sender of the datagrams for UDP.
  for (const auto& [file, sockets] : {std::pair{"sock_diag_tcp.bin", 3}, std::pair{"sock_diag_udp.bin", 2}}) {
    const std::string dump = read_fixture(file);
    int n = 0;
    auto count = [](const nlmsghdr*, void* data) {
      ++*static_cast<int*>(data);
      return MNL_CB_OK;
    };
    EXPECT_EQ(nd::run_callbacks(dump.data(), dump.size(), 0, 0, count, &n), MNL_CB_STOP) << file;
    EXPECT_EQ(n, sockets) << file;
  }
}

// A socket that is only bound (the state a connection closed by SOCK_DESTROY
// keeps while its program holds the port) is no connection, even in an
// answer that holds one.
TEST(NetlinkReplay, BoundOnlyTcpSocketsAreLeftOut) {
  std::string dump = read_fixture("sock_diag_tcp.bin");
  auto* first = reinterpret_cast<nlmsghdr*>(dump.data());
  ASSERT_GE(first->nlmsg_len, NLMSG_LENGTH(sizeof(inet_diag_msg)));
  static_cast<inet_diag_msg*>(mnl_nlmsg_get_payload(first))->idiag_state = tw::platform::kTcpBoundInactive;
  std::vector<tw::platform::SocketRow> rows;
  int error = 0;
  EXPECT_EQ(tw::platform::parse_sock_diag_dump(dump.data(), dump.size(), tw::platform::SocketProtocol::Tcp, 0, rows,
                                               error),
            tw::platform::DumpProgress::Done);
  EXPECT_EQ(rows.size(), 2u);  // of the recording's 3
}

}  // namespace

namespace {

// An AF_INET6 answer (the recorded message with its family and addresses
// rewritten) gives an IPv6 row with the 16 bytes of each address, the
// IPv4-mapped addresses of a dual-stack socket as they are.
TEST(NetlinkReplay, Ipv6SocketsKeepTheirSixteenBytes) {
  std::string dump = read_fixture("sock_diag_tcp.bin");
  auto* first = reinterpret_cast<nlmsghdr*>(dump.data());
  ASSERT_GE(first->nlmsg_len, NLMSG_LENGTH(sizeof(inet_diag_msg)));
  auto* msg = static_cast<inet_diag_msg*>(mnl_nlmsg_get_payload(first));
  const std::uint8_t local[16] = {0xfd, 0, 2, 0x31, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  const std::uint8_t mapped[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 192, 0, 2, 7};
  msg->idiag_family = AF_INET6;
  std::memcpy(msg->id.idiag_src, local, 16);
  std::memcpy(msg->id.idiag_dst, mapped, 16);
  std::vector<tw::platform::SocketRow> rows;
  int error = 0;
  ASSERT_EQ(tw::platform::parse_sock_diag_dump(dump.data(), dump.size(), tw::platform::SocketProtocol::Tcp, 0, rows,
                                               error),
            tw::platform::DumpProgress::Done);
  ASSERT_EQ(rows.size(), 3u);
  const auto& r = rows[0];
  EXPECT_EQ(r.family, tw::net::kFamilyIPv6);
  EXPECT_EQ(r.local_address, 0u);
  EXPECT_EQ(tw::net::to_text(tw::platform::local_ip(r)), "fd00:231::1");
  EXPECT_EQ(tw::net::to_text(tw::platform::remote_ip(r)), "::ffff:192.0.2.7");
  EXPECT_EQ(tw::net::to_text(tw::net::unmapped(tw::platform::remote_ip(r))), "192.0.2.7");
  const tw::net::SocketId id = tw::platform::socket_id(r);
  EXPECT_TRUE(id.is_v6());
  EXPECT_EQ(id.cookie, r.cookie);
  EXPECT_EQ(rows[1].family, tw::net::kFamilyIPv4);
  // Another family is not heard.
  msg->idiag_family = AF_UNIX;
  rows.clear();
  tw::platform::parse_sock_diag_dump(dump.data(), dump.size(), tw::platform::SocketProtocol::Tcp, 0, rows, error);
  EXPECT_EQ(rows.size(), 2u);
}

}  // namespace

// What tells a TCP dump may stand for the next one: the namespace's TCP
// counters, without the machine-wide figures that move with any traffic
// anywhere; and never a dump with a socket still to be accepted. What tells
// a UDP family has no socket to dump.
TEST(SocketTableCounters, TcpPrintTakesTheNamespacesCountersUdpCountsTheirSockets) {
  using tw::platform::tcp_table_print;
  const std::string snmp =
      "Ip: Forwarding DefaultTTL\nIp: 1 64\n"
      "Tcp: RtoAlgorithm RtoMin RtoMax MaxConn ActiveOpens PassiveOpens AttemptFails EstabResets CurrEstab InSegs\n"
      "Tcp: 1 200 120000 -1 2 1 0 0 2 40\n"
      "Udp: InDatagrams\nUdp: 7\n";
  const std::string sockstat6 = "TCP6: inuse 1\nUDP6: inuse 0\n";
  const auto a = tcp_table_print(snmp, "sockets: used 9\nTCP: inuse 3 orphan 0 tw 1 alloc 5 mem 2\n", sockstat6);
  const auto b = tcp_table_print(snmp, "sockets: used 12\nTCP: inuse 3 orphan 4 tw 1 alloc 9 mem 7\n", sockstat6);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(*a, *b);  // other namespaces' sockets and memory
  EXPECT_NE(*a, *tcp_table_print(snmp, "TCP: inuse 3 orphan 0 tw 0 alloc 5 mem 2\n", sockstat6));  // TIME_WAIT ended
  EXPECT_NE(*a, *tcp_table_print(snmp, "TCP: inuse 3 orphan 0 tw 1 alloc 5 mem 2\n", "TCP6: inuse 2\n"));
  std::string moved = snmp;
  moved.replace(moved.find(" 40\n"), 4, " 41\n");  // a segment came in
  EXPECT_NE(*a, *tcp_table_print(moved, "TCP: inuse 3 orphan 0 tw 1 alloc 5 mem 2\n", sockstat6));
  EXPECT_FALSE(tcp_table_print("Tcp: RtoAlgorithm\n", "TCP: inuse 3\n", sockstat6));  // no values line
  EXPECT_FALSE(tcp_table_print(snmp, "", sockstat6));
  EXPECT_FALSE(tcp_table_print(snmp, "TCP: inuse 3\n", sockstat6));

  // The UDP counts that spare a walk of an empty family.
  using tw::platform::udp_sockets_in_use;
  const std::string sockstat = "sockets: used 9\nTCP: inuse 3 orphan 0 tw 1 alloc 5 mem 2\nUDP: inuse 0 mem 4\n";
  EXPECT_EQ(udp_sockets_in_use(sockstat, false), 0u);
  EXPECT_EQ(udp_sockets_in_use("UDP: inuse 12 mem 4\nUDPLITE: inuse 0\n", false), 12u);
  EXPECT_EQ(udp_sockets_in_use("UDPLITE6: inuse 0\nUDP6: inuse 2\n", true), 2u);
  EXPECT_FALSE(udp_sockets_in_use("UDPLITE6: inuse 0\n", true));  // another protocol's count
  EXPECT_FALSE(udp_sockets_in_use(sockstat, true));
  EXPECT_FALSE(udp_sockets_in_use("UDP: inuse x\n", false));
  EXPECT_FALSE(udp_sockets_in_use("UDP: inuse -1\n", false));
  EXPECT_FALSE(udp_sockets_in_use("UDP: inuse 99999999999999999999999\n", false));
  EXPECT_FALSE(udp_sockets_in_use("UDP: inuse 0x1\n", false));

  tw::platform::SocketRow accepted, waiting, time_wait;
  accepted.inode = 77;
  waiting.state = tw::platform::mib::kEstablished;  // inode 0: not accepted yet
  time_wait.state = tw::platform::mib::kTimeWait;
  EXPECT_TRUE(tw::platform::tcp_dump_reusable({accepted, time_wait}));
  EXPECT_FALSE(tw::platform::tcp_dump_reusable({accepted, waiting}));
}
