// The connection table, sort keys and order, elapsed texts and the counter.
#include <gtest/gtest.h>

#include "platform/fake/fake_socket_table.h"
#include "sessions/session_list.h"
#include "shared/host_names.h"

namespace tw::sessions {
namespace {

using platform::SocketRow;

SocketRow tcp(const char* local, int lport, const char* remote, int rport, int state, std::uint64_t inode = 0) {
  SocketRow r;
  r.local_address = *shared::parse_address(local);
  r.remote_address = *shared::parse_address(remote);
  r.local_port = static_cast<std::uint16_t>(lport);
  r.remote_port = static_cast<std::uint16_t>(rport);
  r.state = state;
  r.inode = inode;
  return r;
}

TEST(StateMapping, KernelStatesOntoMibNumbers) {
  using namespace platform::mib;
  EXPECT_EQ(platform::mib_tcp_state(1), kEstablished);
  EXPECT_EQ(platform::mib_tcp_state(2), kSynSent);
  EXPECT_EQ(platform::mib_tcp_state(3), kSynReceived);
  EXPECT_EQ(platform::mib_tcp_state(6), kTimeWait);
  EXPECT_EQ(platform::mib_tcp_state(7), kClosed);
  EXPECT_EQ(platform::mib_tcp_state(8), kCloseWait);
  EXPECT_EQ(platform::mib_tcp_state(10), kListen);
  EXPECT_EQ(platform::mib_tcp_state(12), kSynReceived);
  EXPECT_EQ(platform::mib_tcp_state(99), kClosed);
  EXPECT_EQ(state_name(kEstablished, Language::English), "Connecting");
  EXPECT_EQ(state_name(kSynSent, Language::Japanese), "接続待ち");
  EXPECT_EQ(state_name(13, Language::English), "");
  EXPECT_TRUE(state_shown(0));
  EXPECT_TRUE(state_shown(kDeleteTcb));
  EXPECT_FALSE(state_shown(kTimeWait));
  EXPECT_FALSE(state_shown(kCloseWait));
}

struct TableRig {
  platform::FakeProcessTable processes;
  ProcessNameCache names{processes};
  shared::FlowKeyTable keys;
  ConnectionTable table{processes, names, keys};
};

TEST(ConnectionTable, RecordsKeysOwnersAndFirstSeen) {
  TableRig r;
  r.processes.owners = {{11, 100}, {12, 200}};
  r.processes.processes = {{100, "curl"}, {200, "sshd"}};
  std::vector<SocketRow> t = {
      tcp("10.0.0.1", 5000, "10.0.0.2", 80, 5, 11),
      tcp("0.0.0.0", 22, "0.0.0.0", 0, 2, 12),       // listening: nothing at all
      tcp("10.0.0.1", 5001, "10.0.0.2", 80, 11),     // TIME_WAIT: a key, no record
      tcp("10.0.0.1", 5002, "10.0.0.3", 22, 5, 99),  // owner unknown
  };
  std::vector<SocketRow> u = {tcp("0.0.0.0", 53, "0.0.0.0", 0, 7, 12)};
  ASSERT_EQ(r.table.refresh(t, u, 1000, nullptr), 2u);
  const auto& rec = r.table.records();
  EXPECT_EQ(rec[0].process, "curl(100)");
  EXPECT_EQ(rec[0].local_host, "10.0.0.1");
  EXPECT_EQ(rec[1].process, "");
  EXPECT_EQ(r.keys.size(), 4u);
  EXPECT_EQ(r.keys.owner("TCP_10.0.0.1:5000-TCP_10.0.0.2:80$"), 100);
  EXPECT_EQ(r.keys.owner("TCP_10.0.0.1:5001-TCP_10.0.0.2:80$"), -1);
  EXPECT_EQ(r.keys.owner("UDP_0.0.0.0:53$"), 200);
  EXPECT_EQ(r.processes.walks, 1);  // one walk served both names

  // Still open: keeps its time; gone for one refresh and back: a new time.
  ASSERT_EQ(r.table.refresh({t[0]}, {}, 2000, nullptr), 1u);
  EXPECT_EQ(r.table.records()[0].first_seen, 1000u);
  r.table.refresh({}, {}, 3000, nullptr);
  r.table.refresh({t[0]}, {}, 4000, [](const std::string& a) { return "(" + a + ")"; });
  EXPECT_EQ(r.table.records()[0].first_seen, 4000u);
  EXPECT_EQ(r.table.records()[0].remote_host, "(10.0.0.2)");

  // A process that ended: empty name, and the cache is walked again.
  r.processes.owners[11] = 300;
  r.table.refresh({t[0]}, {}, 5000, nullptr);
  EXPECT_EQ(r.table.records()[0].process, "(300)");
  EXPECT_EQ(r.processes.walks, 2);
}

TEST(ConnectionTable, Limits) {
  TableRig r;
  std::vector<SocketRow> t;
  for (int i = 0; i < 1200; ++i) t.push_back(tcp("10.0.0.1", 1000 + i, "10.0.0.2", 80, 5));
  EXPECT_EQ(r.table.refresh(t, {}, 1, nullptr), kMaxSessionRecords);
  EXPECT_EQ(r.keys.size(), shared::kMaxFlowKeys);
  // The remote port of an address starting with 0 is 0.
  r.table.refresh({tcp("10.0.0.1", 1, "0.1.2.3", 80, 5)}, {}, 1, nullptr);
  EXPECT_EQ(r.table.records()[0].remote_port, 0u);
}

TEST(SessionList, ElapsedTextsBothWays) {
  EXPECT_EQ(elapsed_text(3723, Language::English), "1h 02m 03s");
  EXPECT_EQ(elapsed_text(125, Language::English), "02m 05s");
  EXPECT_EQ(elapsed_text(7, Language::English), "07s");
  EXPECT_EQ(elapsed_text(3600 * 100, Language::Japanese), "100時間 00分 00秒");
  for (std::uint32_t s : {0u, 7u, 59u, 60u, 125u, 3599u, 3600u, 3723u, 400000u}) {
    EXPECT_EQ(elapsed_seconds(elapsed_text(s, Language::English), Language::English), s);
    EXPECT_EQ(elapsed_seconds(elapsed_text(s, Language::Japanese), Language::Japanese), s);
  }
  EXPECT_EQ(elapsed_seconds("garbage", Language::English), 0u);
}

SessionRecord rec(const char* remote, unsigned rport, int state, std::uint32_t first_seen, std::string host = "") {
  SessionRecord r;
  r.local_address = "10.0.0.1";
  r.local_port = 4000;
  r.remote_address = remote;
  r.remote_host = host.empty() ? remote : host;
  r.remote_port = rport;
  r.state = state;
  r.first_seen = first_seen;
  return r;
}

TEST(SessionList, SortKeysAndTieBreak) {
  const auto r = rec("10.0.0.9", 80, 5, 1000);
  EXPECT_EQ(sort_key(r, kStatus, 3000), "0500000020000400010.0.0.9" + std::string(12, ' '));
  EXPECT_EQ(sort_key(r, kLocalPort, 3000), "0400010.0.0.9" + std::string(12, ' ') + "00080");
  EXPECT_EQ(sort_key(r, kTime, 1000 - 1000u), "42949662960400010.0.0.9" + std::string(12, ' ') + "00080");  // elapsed wraps mod 2^32
  auto long_host = rec("1.1.1.1", 1, 5, 0, std::string(127, 'h'));
  long_host.sort_key = std::string(200, 'p');
  EXPECT_EQ(sort_key(long_host, kRemoteHost, 0).size(), kMaxSortKeyChars);

  // Sorted by port, then by host: equal hosts keep the port order.
  std::vector<SessionRecord> v = {rec("1.1.1.1", 443, 5, 0, "b"), rec("1.1.1.2", 80, 5, 0, "a"),
                                  rec("1.1.1.3", 22, 5, 0, "b")};
  sort_records(v, v.size(), kRemotePort, false, 0, nullptr);
  EXPECT_EQ(v[0].remote_port, 22u);
  sort_records(v, v.size(), kRemoteHost, false, 0, bytewise_compare);
  EXPECT_EQ(v[0].remote_host, "a");
  EXPECT_EQ(v[1].remote_port, 22u);
  EXPECT_EQ(v[2].remote_port, 443u);
  sort_records(v, v.size(), kRemoteHost, true, 0, bytewise_compare);
  EXPECT_EQ(v[0].remote_port, 443u);

  SortState s;
  s.click(kStatus);
  EXPECT_FALSE(s.descending);
  s.click(kTime);
  EXPECT_FALSE(s.descending);
  EXPECT_EQ(s.column, kTime);
}

TEST(SessionList, CounterLabelAndCopy) {
  ConnectionCounter c(1);
  EXPECT_EQ(c.label(Language::English), " Connections (Max) :    0 (   0)");
  c.refreshed(5);
  c.refreshed(3);
  EXPECT_EQ(c.label(Language::English), " Connections (Max) :    3 (   5)");
  for (int i = 0; i < 117; ++i) c.refreshed(3);
  EXPECT_EQ(c.maximum(), 5);
  c.refreshed(3);  // the 120th refresh of the minute
  EXPECT_EQ(c.current(), 0);
  EXPECT_EQ(c.maximum(), 0);
  c.refreshed(3);
  EXPECT_EQ(c.maximum(), 3);

  RowTexts a = {"a0", "a1", "a2", "a3", "a4", "a5", "a6", "a7", "a8"};
  std::vector<RowTexts> rows = {a, a};
  const int items[] = {1, 0, 0, 0, 1, 0, 0, 0, 0, 1, 1, 1};
  EXPECT_EQ(copy_text(rows, items), "a0 a4 \r\na0 a4 \r\n");
}

}  // namespace
}  // namespace tw::sessions
