// The connection table, sort keys and order, elapsed texts and the counter.
#include <locale.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>

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
  // Another connection that differs from the kept one in one port only is new.
  ASSERT_EQ(r.table.refresh({tcp("10.0.0.1", 5003, "10.0.0.2", 80, 5, 13), t[0],
                             tcp("10.0.0.1", 5000, "10.0.0.2", 81, 5, 14)},
                            {}, 5000, nullptr),
            3u);
  EXPECT_EQ(r.table.records()[0].first_seen, 5000u);
  EXPECT_EQ(r.table.records()[1].first_seen, 4000u);
  EXPECT_EQ(r.table.records()[2].first_seen, 5000u);

  // A name is text of the process's own choosing: no line ends in a label.
  r.processes.processes.push_back({400, "x\nFORGED LINE"});
  EXPECT_EQ(r.names.name_for(400), "x?FORGED LINE");

  // A process that ended: empty name, and the cache is walked again.
  r.processes.owners[11] = 300;
  r.table.refresh({t[0]}, {}, 5000, nullptr);
  EXPECT_EQ(r.table.records()[0].process, "(300)");
  EXPECT_EQ(r.processes.walks, 3);
}

// The kept owners of the rows (not of listeners or closing connections) are
// checked once a second of the refresh clock; a socket handed to another
// process is then shown with it.
TEST(ConnectionTable, OwnersOfTheRowsAreCheckedOnceASecond) {
  TableRig r;
  r.processes.owners = {{11, 100}, {12, 100}};
  r.processes.processes = {{100, "parent"}, {101, "child"}};
  const std::vector<SocketRow> t = {tcp("10.0.0.1", 5000, "10.0.0.2", 80, 5, 11),
                                    tcp("10.0.0.1", 5001, "10.0.0.2", 80, 11, 12)};  // TIME_WAIT
  r.table.refresh(t, {}, 1000, nullptr);
  EXPECT_EQ(r.processes.verifications, 1);
  EXPECT_EQ(r.processes.verified, (std::vector<std::uint64_t>{11}));
  r.processes.handed_over[11] = 101;
  r.table.refresh(t, {}, 1500, nullptr);
  EXPECT_EQ(r.table.records()[0].process, "parent(100)");
  r.table.refresh(t, {}, 2000, nullptr);
  EXPECT_EQ(r.processes.verifications, 2);
  EXPECT_EQ(r.table.records()[0].process, "child(101)");
}

TEST(ConnectionTable, Limits) {
  TableRig r;
  std::vector<SocketRow> t;
  t.reserve(1200);
  for (int i = 0; i < 1200; ++i) t.push_back(tcp("10.0.0.1", 1000 + i, "10.0.0.2", 80, 5));
  EXPECT_EQ(r.table.refresh(t, {}, 1, nullptr), 1200u);  // the list shows 999 of them
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

SessionRecord rec(const char* remote, unsigned rport, int state, std::uint32_t first_seen,
                  const std::string& host = "") {
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

// A collation as en_US.UTF-8's behaves at its first level: blanks and dots
// count for nothing, letters are compared without their case.
int first_level(std::string_view a, std::string_view b) {
  auto fold = [](std::string_view s) {
    std::string k;
    for (char c : s)
      if (c != ' ' && c != '.') k += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return k;
  };
  if (const int c = fold(a).compare(fold(b))) return c;
  return a.compare(b);
}

// The hosts in the collation's order (case aside), and by port descending,
// equal ports by host.
const std::string kCollatedByHost = "alpha.example:80 host:443 host:10080 host1:80 Zulu.example:80 ";
const std::string kCollatedByPort = "host:10080 host:443 Zulu.example:80 host1:80 alpha.example:80 ";

// The remote addresses and ports, and the remote hosts, of records in order.
std::string order(const std::vector<SessionRecord>& v, bool hosts) {
  std::string out;
  for (const auto& r : v) out += (hosts ? r.remote_host : r.remote_address) + ":" + std::to_string(r.remote_port) + " ";
  return out;
}

// Addresses and ports sort by the padded fields (a blank pads as the smallest
// character); names sort in the collation, and an equal name is followed by
// its port. Under a collation that ignores blanks and dots the fields ran
// into each other: 10.0.0.20 came before 10.0.0.2, "host1" before "host".
void expect_sorted_like_the_padding(const TextCompare& collation, const std::string& by_host,
                                    const std::string& by_port) {
  std::vector<SessionRecord> v = {rec("10.0.0.20", 80, 5, 0, "host1"), rec("10.0.0.3", 80, 5, 0, "Zulu.example"),
                                  rec("10.0.0.2", 443, 5, 0, "host"), rec("10.0.0.2", 80, 5, 0, "alpha.example"),
                                  rec("10.0.0.9", 10080, 5, 0, "host")};
  sort_records(v, v.size(), kRemoteAddress, false, 0, collation);
  EXPECT_EQ(order(v, false), "10.0.0.2:80 10.0.0.2:443 10.0.0.20:80 10.0.0.3:80 10.0.0.9:10080 ");
  sort_records(v, v.size(), kRemoteHost, false, 0, collation);
  EXPECT_EQ(order(v, true), by_host);
  sort_records(v, v.size(), kRemotePort, true, 0, collation);  // port, then host
  EXPECT_EQ(order(v, true), by_port);
  // Hosts without a name (an address, or one being looked up) sort as
  // addresses do.
  std::vector<SessionRecord> a = {rec("10.0.0.20", 1, 5, 0, "(10.0.0.20)"), rec("10.0.0.2", 1, 5, 0, "(10.0.0.2)")};
  sort_records(a, a.size(), kRemoteHost, false, 0, collation);
  EXPECT_EQ(order(a, true), "(10.0.0.2):1 (10.0.0.20):1 ");
}

TEST(SessionList, SortKeepsThePaddingUnderACollationThatIgnoresBlanks) {
  expect_sorted_like_the_padding(first_level, kCollatedByHost, kCollatedByPort);
  // Byte order throughout: upper case first.
  expect_sorted_like_the_padding(nullptr, "Zulu.example:80 alpha.example:80 host:443 host:10080 host1:80 ",
                                 "host:10080 host:443 host1:80 alpha.example:80 Zulu.example:80 ");
}

// The same under the real en_US.UTF-8 collation of glibc, which
// scripts/install-deps.sh generates.
TEST(SessionList, SortKeepsThePaddingUnderEnUsUtf8) {
  const locale_t l = newlocale(LC_COLLATE_MASK, "en_US.UTF-8", static_cast<locale_t>(nullptr));
  if (!l) GTEST_SKIP() << "the locale en_US.UTF-8 is not installed (scripts/install-deps.sh generates it)";
  expect_sorted_like_the_padding(
      [l](std::string_view a, std::string_view b) {
        return strcoll_l(std::string(a).c_str(), std::string(b).c_str(), l);
      },
      kCollatedByHost, kCollatedByPort);
  freelocale(l);
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
