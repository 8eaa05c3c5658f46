// tarnixd end to end, on the real kernel: byte counts against the kernel's own
// counters, the command channel, the status block, a second instance and the
// orderly end on SIGTERM. Each run is isolated as tarnixd_harness.h says;
// traffic goes only over the test's own veth pair.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/startup.h"
#include "netns.h"
#include "tarnixd_harness.h"
#include "platform/linux/file_store.h"
#include "platform/linux/system_info.h"
#include "settings/profile.h"
#include "traffic/traffic_monitor.h"

#if defined(TW_TARNIXD) && defined(TW_TARNIXCTL)

namespace tw {
namespace {

using namespace std::chrono_literals;
using test::CommandResult;
using test::Daemon;
using test::eventually;
using test::NetNs;
using test::quoted;
using test::Sandbox;
using test::send_datagrams;
using test::tarnixctl;
using test::udp_socket;

// The published record: fifteen comma-terminated numbers.
struct Record {
  std::uint64_t seconds = 0;
  std::uint64_t capture_send = 0, capture_recv = 0, gross_send = 0, gross_recv = 0;
};

std::optional<Record> status_record(const NetNs& ns, const Sandbox& box) {
  const CommandResult r = tarnixctl(ns, box, "status");
  if (!r.ok()) return std::nullopt;
  std::vector<std::int64_t> f;
  std::istringstream in(r.output);
  std::string field;
  while (std::getline(in, field, ',')) {
    if (field.find_first_not_of(" \n") == std::string::npos) continue;
    f.push_back(std::strtoll(field.c_str(), nullptr, 10));
  }
  if (f.size() != 15) return std::nullopt;
  auto total = [&](int i) {
    return traffic::decode_total(static_cast<std::uint32_t>(f[i]), static_cast<std::uint32_t>(f[i + 1]),
                                 static_cast<std::uint32_t>(f[i + 2]));
  };
  return Record{static_cast<std::uint64_t>(f[0]), total(1), total(4), total(7), total(10)};
}

// The gross totals as the settings file holds them.
std::pair<std::uint64_t, std::uint64_t> saved_gross(const std::string& ini) {
  platform::LinuxFileStore files;
  settings::Profile p(files, ini);
  auto u = [&](const char* key) { return static_cast<std::uint32_t>(p.read_int("Traffic", key, 0)); };
  return {traffic::decode_total(u("TotalSend"), u("TotalSendB"), u("TotalSendD")),
          traffic::decode_total(u("TotalRecv"), u("TotalRecvB"), u("TotalRecvD"))};
}

// Sum of the "SEND,RECV" lines of a traffic log written with that template.
std::pair<std::uint64_t, std::uint64_t> log_sums(const std::string& text) {
  std::pair<std::uint64_t, std::uint64_t> sum{0, 0};
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const auto comma = line.find(',');
    if (comma == std::string::npos) continue;
    sum.first += std::strtoull(line.c_str(), nullptr, 10);
    sum.second += std::strtoull(line.c_str() + comma + 1, nullptr, 10);
  }
  return sum;
}

struct Counters {
  std::uint64_t tx = 0, rx = 0;
};
std::optional<Counters> kernel_counters(const NetNs& ns, const std::string& iface) {
  auto tx = ns.sys_counter(iface, "tx_bytes");
  auto rx = ns.sys_counter(iface, "rx_bytes");
  if (!tx || !rx) return std::nullopt;
  return Counters{*tx, *rx};
}

constexpr char kSeededGross[] =
    "[Traffic]\nTotalSend=5\nTotalSendB=1024\nTotalSendD=7\n"
    "TotalRecv=3\nTotalRecvB=0\nTotalRecvD=0\n";

TEST(Tarnixd, CountsEveryByteTakesCommandsAndEndsInOrder) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (network namespaces)";
  Sandbox box;
  ASSERT_TRUE(box.ok());
  test::VethLink link("e2e");
  ASSERT_TRUE(link.ok()) << link.error();
  NetNs& left = link.left();
  NetNs& right = link.right();
  // Fixed neighbours: no ARP moves a counter behind the test's back.
  const auto left_mac = left.sys_file(link.left_if(), "address");
  const auto right_mac = right.sys_file(link.right_if(), "address");
  ASSERT_TRUE(left_mac && right_mac);
  ASSERT_TRUE(left.ip("neigh replace " + link.right_addr() + " lladdr " + *right_mac + " dev " +
                      link.left_if() + " nud permanent").ok());
  ASSERT_TRUE(right.ip("neigh replace " + link.left_addr() + " lladdr " + *left_mac + " dev " +
                       link.right_if() + " nud permanent").ok());

  // Nothing runs yet: no status record, nobody to take a command.
  EXPECT_EQ(tarnixctl(left, box, "status").status, 1);
  EXPECT_EQ(tarnixctl(left, box, "send " + quoted("tarnix.trafficmonitor /init")).status, 1);

  const std::string ini = box.settings_path(false);
  box.write_file(ini, std::string(kSeededGross) +
                          "LogCheck=1\nLogCycleTime=1\nLogFileName=traffic.log\n"
                          "LogFmt=$TOTAL_SEND_DIS$,$TOTAL_RECV_DIS$\n"
                          "[Report]\nLogCheck=1\nLogCycleTime=1\nLogFileName=report.log\n");
  Daemon d(left, box, "--interface " + link.left_if() + " --data-dir " + box.data() + " --live", "d1");
  ASSERT_TRUE(d.started());

  // Sample well past the three baseline ticks before any byte moves.
  std::optional<Record> rec;
  ASSERT_TRUE(eventually([&] { return (rec = status_record(left, box)) && rec->seconds >= 2; }))
      << d.diagnostics(box);
  EXPECT_EQ(rec->capture_send, 0u);
  EXPECT_EQ(rec->gross_send, 5u * 1024 + 7);  // loaded from the file
  EXPECT_EQ(rec->gross_recv, 3u);

  // Traffic both ways across the pair.
  const auto k0 = kernel_counters(left, link.left_if());
  ASSERT_TRUE(k0);
  platform::OwnedFd lsock, rsock;
  ASSERT_TRUE(left.run([&] { lsock = udp_socket(link.left_addr(), 40001); }));
  ASSERT_TRUE(right.run([&] { rsock = udp_socket(link.right_addr(), 40002); }));
  ASSERT_TRUE(lsock && rsock);
  send_datagrams(lsock, link.right_addr(), 40002, 300, 1200);
  send_datagrams(rsock, link.left_addr(), 40001, 120, 700);
  const auto k1 = kernel_counters(left, link.left_if());
  ASSERT_TRUE(k1);
  const std::uint64_t sent = k1->tx - k0->tx, received = k1->rx - k0->rx;
  ASSERT_GE(sent, 300u * 1200);
  ASSERT_GE(received, 120u * 700);

  // The status record and the traffic log settle on the kernel's difference, to the byte.
  EXPECT_TRUE(eventually([&] {
    rec = status_record(left, box);
    return rec && rec->capture_send == sent && rec->capture_recv == received;
  })) << "status " << (rec ? rec->capture_send : 0) << "/" << (rec ? rec->capture_recv : 0)
      << " kernel " << sent << "/" << received;
  EXPECT_EQ(rec->gross_send, 5u * 1024 + 7 + sent);
  EXPECT_EQ(rec->gross_recv, 3u + received);
  std::pair<std::uint64_t, std::uint64_t> logged;
  EXPECT_TRUE(eventually([&] {
    logged = log_sums(box.read_file(box.data() + "traffic.log"));
    return logged.first == sent && logged.second == received;
  })) << "log " << logged.first << "/" << logged.second << " kernel " << sent << "/" << received;

  // "/totalinit" zeroes the gross totals in the settings file at once.
  ASSERT_TRUE(tarnixctl(left, box, "send " + quoted("tarnix.trafficmonitor /totalinit")).ok());
  EXPECT_TRUE(eventually([&] { return saved_gross(ini) == std::pair<std::uint64_t, std::uint64_t>{0, 0}; }));
  const std::string text = box.read_file(ini);
  for (const char* key : {"TotalSend=0\n", "TotalSendB=0\n", "TotalSendD=0\n", "TotalRecv=0\n",
                          "TotalRecvB=0\n", "TotalRecvD=0"})
    EXPECT_NE(text.find(key), std::string::npos) << key << " in\n" << text;

  // More traffic, then SIGTERM: the totals counted since are saved.
  send_datagrams(lsock, link.right_addr(), 40002, 50, 1000);
  const auto k2 = kernel_counters(left, link.left_if());
  ASSERT_TRUE(k2);
  const std::uint64_t sent2 = k2->tx - k1->tx, received2 = k2->rx - k1->rx;
  EXPECT_TRUE(eventually([&] {
    rec = status_record(left, box);
    return rec && rec->gross_send == sent2 && rec->gross_recv == received2;
  }));
  const std::optional<int> exit_status = d.stop(SIGTERM);
  ASSERT_TRUE(exit_status.has_value()) << "tarnixd did not end on SIGTERM";
  EXPECT_EQ(*exit_status, 0) << d.diagnostics(box);
  EXPECT_EQ(saved_gross(ini), (std::pair<std::uint64_t, std::uint64_t>{sent2, received2}));

  const std::string report = box.read_file(box.data() + "report.log");
  EXPECT_EQ(report.rfind("# [ ", 0), 0u) << report;  // the Start-Log marker opens it
  EXPECT_NE(report.find("] Start-Log\n"), std::string::npos) << report;
  const auto end_marker = report.rfind("] End-Log\n");
  ASSERT_NE(end_marker, std::string::npos) << report;
  EXPECT_EQ(end_marker + 10, report.size()) << "End-Log is the last line:\n" << report;
  EXPECT_NE(box.read_file(ini).find("InterfaceName=" + link.left_if()), std::string::npos);
  EXPECT_NE(box.read_file(d.stdout_path()).find(link.left_if() + "  UL:"), std::string::npos)
      << "live line missing";
}

TEST(Tarnixd, SecondInstanceKeepsItsOwnFilesAndChannel) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (network namespaces)";
  Sandbox box;
  ASSERT_TRUE(box.ok());
  NetNs ns("e2e2");
  ASSERT_TRUE(ns.ok()) << ns.error();
  const std::string first_ini = box.settings_path(false), second_ini = box.settings_path(true);
  ASSERT_NE(first_ini, second_ini);
  EXPECT_NE(second_ini.find("_#2.ini"), std::string::npos);
  box.write_file(first_ini, kSeededGross);
  box.write_file(second_ini, kSeededGross);

  const std::string args = "--interface lo --quiet --data-dir " + box.data();
  Daemon first(ns, box, args, "first");
  ASSERT_TRUE(eventually([&] { return status_record(ns, box).has_value(); })) << first.diagnostics(box);
  Daemon second(ns, box, args, "second");
  // The second instance writes its interface choice into its own file at start.
  ASSERT_TRUE(eventually([&] { return box.read_file(second_ini).find("InterfaceName=lo") != std::string::npos; }))
      << second.diagnostics(box);

  // Each instance takes commands on its own socket.
  ASSERT_TRUE(tarnixctl(ns, box, "--second send " + quoted("tarnix.trafficmonitor /totalinit")).ok())
      << second.diagnostics(box);
  EXPECT_TRUE(eventually([&] { return saved_gross(second_ini).first == 0; }));
  EXPECT_EQ(saved_gross(first_ini).first, 5u * 1024 + 7);

  ASSERT_EQ(first.stop(SIGINT), std::optional<int>(0)) << first.diagnostics(box);
  ASSERT_EQ(second.stop(SIGHUP), std::optional<int>(0)) << second.diagnostics(box);
  // Both saved their own totals on the way out; nothing else wrote the files.
  EXPECT_EQ(saved_gross(first_ini).first, 5u * 1024 + 7);
  EXPECT_EQ(saved_gross(second_ini).first, 0u);
  EXPECT_NE(box.read_file(first_ini).find("LogRootFolder="), std::string::npos);
  EXPECT_NE(box.read_file(second_ini).find("LogRootFolder="), std::string::npos);
}

}  // namespace
}  // namespace tw

#endif  // TW_TARNIXD && TW_TARNIXCTL
