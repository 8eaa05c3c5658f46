// tarnixd's Traffic Monitor figures end to end, with no graph anywhere: the
// maximum speeds in its traffic log, the interface it picks when nothing is
// stored, and what it does when that interface goes away. Each run is
// isolated as tarnixd_harness.h says; traffic goes only over the test's own
// veth pair.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "netns.h"
#include "platform/linux/file_store.h"
#include "settings/profile.h"
#include "tarnixd_harness.h"
#include "traffic/traffic_monitor.h"

#if defined(TW_TARNIXD) && defined(TW_TARNIXCTL)

namespace tw {
namespace {

using namespace std::chrono_literals;
using test::Daemon;
using test::eventually;
using test::NetNs;
using test::Sandbox;

// The "AVE|MAX" entries of a traffic log written with that template, in KB/s.
std::vector<std::pair<double, double>> ave_max_entries(const std::string& log) {
  std::vector<std::pair<double, double>> out;
  std::istringstream in(log);
  std::string line;
  while (std::getline(in, line)) {
    const auto bar = line.find('|');
    if (bar != std::string::npos) out.emplace_back(std::atof(line.c_str()), std::atof(line.c_str() + bar + 1));
  }
  return out;
}

TEST(TarnixdTraffic, LogCarriesTheMaximumUnderTraffic) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (network namespaces)";
  Sandbox box;
  ASSERT_TRUE(box.ok());
  test::VethLink link("max");
  ASSERT_TRUE(link.ok()) << link.error();
  box.write_file(box.settings_path(false),
                 "[Traffic]\nLogCheck=1\nLogCycleTime=1\nLogFileName=traffic.log\nMaxUnit=0\nAveUnit=0\n"
                 "LogFmt=$GRAPH_SEND_AVE$|$GRAPH_SEND_MAX$$CRLF$\n");
  Daemon d(link.left(), box, "--interface " + link.left_if() + " --quiet --data-dir " + box.data(), "max");
  ASSERT_TRUE(d.started());
  const std::string log_path = box.data() + "traffic.log";
  ASSERT_TRUE(eventually([&] { return !box.read_file(log_path).empty(); })) << d.diagnostics(box);

  platform::OwnedFd sender, sink;
  ASSERT_TRUE(link.left().run([&] { sender = test::udp_socket(link.left_addr(), 40011); }));
  ASSERT_TRUE(link.right().run([&] { sink = test::udp_socket(link.right_addr(), 40012); }));
  ASSERT_TRUE(sender && sink);
  std::atomic<bool> sending{true};
  std::thread traffic([&] {
    while (sending) {  // about 2.4 MB/s
      test::send_datagrams(sender, link.right_addr(), 40012, 40, 1200);
      std::this_thread::sleep_for(20ms);
    }
  });
  const bool busy = eventually([&] {
    for (const auto& [ave, max] : ave_max_entries(box.read_file(log_path)))
      if (ave > 100.0) return true;
    return false;
  });
  sending = false;
  traffic.join();
  ASSERT_TRUE(busy) << box.read_file(log_path) << d.diagnostics(box);
  EXPECT_EQ(d.stop(SIGTERM), std::optional<int>(0)) << d.diagnostics(box);

  // Each entry's figures come from one instant: the maximum over what the
  // graph would show includes the newest smoothed speed.
  for (const auto& [ave, max] : ave_max_entries(box.read_file(log_path))) {
    EXPECT_GE(max, ave) << box.read_file(log_path);
  }
}

// Capture seconds and the capture and gross send totals of the published
// record (the first fifteen comma-terminated numbers tarnixctl prints).
struct SendRecord {
  std::uint64_t seconds = 0, capture_send = 0, gross_send = 0;
};
std::optional<SendRecord> send_record(const NetNs& ns, const Sandbox& box) {
  const test::CommandResult r = test::tarnixctl(ns, box, "status");
  if (!r.ok()) return std::nullopt;
  std::vector<std::uint32_t> f;
  std::istringstream in(r.output);
  std::string field;
  while (f.size() < 15 && std::getline(in, field, ',')) f.push_back(static_cast<std::uint32_t>(std::strtoul(field.c_str(), nullptr, 10)));
  if (f.size() != 15) return std::nullopt;
  return SendRecord{f[0], traffic::decode_total(f[1], f[2], f[3]), traffic::decode_total(f[7], f[8], f[9])};
}

// An unrelated interface listed before the sampled one is deleted while real
// traffic flows: the sampled veth moves up one position and keeps being
// counted. Every byte it sent while sampled reaches the gross total, and no
// reset happens (the automatic one would come after 1 s).
TEST(TarnixdTraffic, DeletingAnEarlierInterfaceKeepsTheCountGoing) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (network namespaces)";
  Sandbox box;
  ASSERT_TRUE(box.ok());
  NetNs ns("shift");
  NetNs peer("shift-peer");
  ASSERT_TRUE(ns.ok() && peer.ok()) << ns.error() << peer.error();
  // An unrelated pair comes first (lower kernel indexes), the sampled tw0
  // after it.
  ASSERT_TRUE(ns.add_veth("twx0", "twx1")) << ns.error();
  const test::CommandResult veth = ns.ip("link add tw0 type veth peer name tw1 netns " + peer.name());
  ASSERT_TRUE(veth.ok()) << veth.output;
  ASSERT_TRUE(ns.add_address("tw0", "10.231.9.1/24") && ns.set_up("tw0", true)) << ns.error();
  ASSERT_TRUE(peer.add_address("tw1", "10.231.9.2/24") && peer.set_up("tw1", true)) << peer.error();
  ASSERT_LT(*ns.ifindex("twx0"), *ns.ifindex("tw0"));
  box.write_file(box.settings_path(false), "[Traffic]\nInterfaceAutoResetTimer=1\n");

  Daemon d(ns, box, "--interface tw0 --quiet --data-dir " + box.data(), "shift");
  ASSERT_TRUE(d.started());
  // Past the baseline ticks before anything is sent.
  ASSERT_TRUE(eventually([&] {
    const auto r = send_record(ns, box);
    return r && r->seconds >= 1;
  })) << d.diagnostics(box);
  const std::optional<std::uint64_t> tx0 = ns.sys_counter("tw0", "tx_bytes");
  ASSERT_TRUE(tx0);

  platform::OwnedFd sender, sink;
  ASSERT_TRUE(ns.run([&] { sender = test::udp_socket("10.231.9.1", 40021); }));
  ASSERT_TRUE(peer.run([&] { sink = test::udp_socket("10.231.9.2", 40022); }));
  ASSERT_TRUE(sender && sink);
  std::atomic<bool> sending{true};
  std::thread traffic([&] {
    while (sending) {  // about 2.4 MB/s
      test::send_datagrams(sender, "10.231.9.2", 40022, 40, 1200);
      std::this_thread::sleep_for(20ms);
    }
  });
  std::this_thread::sleep_for(1500ms);
  const bool deleted = ns.del_link("twx0");  // and twx1 with it: tw0 moves from position 3 to 1
  std::this_thread::sleep_for(3000ms);
  sending = false;
  traffic.join();
  ASSERT_TRUE(deleted) << ns.error();
  const std::optional<std::uint64_t> tx1 = ns.sys_counter("tw0", "tx_bytes");
  ASSERT_TRUE(tx1);
  const std::uint64_t sent = *tx1 - *tx0;
  ASSERT_GT(sent, 5'000'000u);

  // Every byte, and the capture went on through the deletion.
  std::optional<SendRecord> last;
  EXPECT_TRUE(eventually([&] {
    last = send_record(ns, box);
    return last && last->gross_send >= sent;
  })) << (last ? std::to_string(last->gross_send) : std::string("no record")) << " of " << sent
      << d.diagnostics(box);
  ASSERT_TRUE(last);
  EXPECT_LE(last->gross_send, *tx1);
  EXPECT_EQ(last->capture_send, last->gross_send);  // never reset
  EXPECT_GE(last->seconds, 5u);

  EXPECT_EQ(d.stop(SIGTERM), std::optional<int>(0)) << d.diagnostics(box);
  platform::LinuxFileStore files;
  settings::Profile saved(files, box.settings_path(false));
  const auto u = [&](const char* key) { return static_cast<std::uint32_t>(saved.read_int("Traffic", key, 0)); };
  const std::uint64_t gross = traffic::decode_total(u("TotalSend"), u("TotalSendB"), u("TotalSendD"));
  EXPECT_GE(gross, sent);
  EXPECT_LE(gross, *ns.sys_counter("tw0", "tx_bytes"));
  // The choice is saved where the interface now stands.
  EXPECT_NE(box.read_file(box.settings_path(false)).find("Interface=1\n"), std::string::npos)
      << box.read_file(box.settings_path(false));
}

TEST(TarnixdTraffic, FirstStartTakesTheDefaultRouteAndSurvivesItsDeletion) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (network namespaces)";
  Sandbox box;
  ASSERT_TRUE(box.ok());
  NetNs ns("first");
  ASSERT_TRUE(ns.ok()) << ns.error();
  // twp0/1 are up and come first; the default route leaves by twg0.
  ASSERT_TRUE(ns.add_veth("twp0", "twp1") && ns.add_veth("twg0", "twg1")) << ns.error();
  ASSERT_TRUE(ns.add_address("twg0", "10.231.5.1/24")) << ns.error();
  ASSERT_TRUE(ns.ip("route add default via 10.231.5.2 dev twg0").ok());
  const std::string ini = box.settings_path(false);
  box.write_file(ini, "[Traffic]\nInterfaceAutoResetTimer=1\n");  // no interface stored

  Daemon d(ns, box, "--live --data-dir " + box.data(), "first");
  ASSERT_TRUE(d.started());
  const auto last_line = [&] {
    std::string out = box.read_file(d.stdout_path());
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out.substr(out.rfind('\n') + 1);
  };
  ASSERT_TRUE(eventually([&] { return last_line().rfind("twg0  UL:", 0) == 0; })) << d.diagnostics(box);

  // Gone: the warning, a speed of 0, then the automatic reset takes an
  // interface that is there.
  ASSERT_TRUE(ns.del_link("twg0")) << ns.error();
  EXPECT_TRUE(eventually([&] {
    const std::string l = last_line();
    return l.find("Please, Reset Network Interface.") != std::string::npos &&
           l.find("UL:   0.000 Mbps") != std::string::npos;
  })) << d.diagnostics(box);
  EXPECT_TRUE(eventually([&] {
    const std::string l = last_line();
    return l.rfind("twp", 0) == 0 && l.find("Please, Reset") == std::string::npos;
  })) << d.diagnostics(box);

  // The choice that is saved is still the interface the default route left by.
  EXPECT_EQ(d.stop(SIGTERM), std::optional<int>(0)) << d.diagnostics(box);
  EXPECT_NE(box.read_file(ini).find("InterfaceName=twg0\n"), std::string::npos) << box.read_file(ini);
}

}  // namespace
}  // namespace tw

#endif  // TW_TARNIXD && TW_TARNIXCTL
