// The Packet Monitor's and the Packet Filter's figures as the metrics file
// reads them: the datagram counter never goes back when a capture restarts,
// and DROP rules count only while they are installed.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/metrics_feature.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_file_store.h"
#include "platform/fake/fake_packet_capture.h"
#include "platform/fake/fake_packet_filter.h"
#include "platform/fake/fake_reverse_resolver.h"

namespace tw::app {
namespace {

struct PacketRig {
  PacketRig() {
    clock.set_wall({2026, 1, 2, 9, 0, 0});
    capture.addresses = {*shared::parse_address("10.0.0.1")};
    monitor = std::make_unique<packets::PacketMonitor>(packets::PacketMonitorDeps{capture, clock, keys, hosts, {}},
                                                       Language::English, packets::PacketSettings{});
    monitor->load_addresses();
  }
  ~PacketRig() {
    monitor.reset();
    workers.run_all();
  }
  void udp_in() {
    const std::uint8_t d[28] = {0x45, 0, 0, 28, 0, 0, 0, 0, 64, 17, 0, 0, 10, 0, 0, 9, 10, 0, 0, 1,
                                0x01, 0xBB, 0, 53, 0, 8, 0, 0};
    capture.deliver(d);
  }
  platform::FakeClock clock;
  platform::FakePacketCapture capture;
  platform::FakeReverseResolver resolver;
  platform::FakeLookupWorkers workers;
  shared::HostNameCache hosts{resolver, workers};
  shared::FlowKeyTable keys;
  std::unique_ptr<packets::PacketMonitor> monitor;
};

TEST(MetricsSections, CapturedDatagramsKeepCountingAcrossRuns) {
  PacketRig rig;
  EXPECT_FALSE(packet_section(*rig.monitor).capturing);
  EXPECT_EQ(packet_section(*rig.monitor).captured_datagrams, 0u);

  ASSERT_EQ(rig.monitor->start("10.0.0.1").kind, packets::StartOutcome::Started);
  rig.udp_in();
  rig.udp_in();
  rig.udp_in();
  EXPECT_TRUE(packet_section(*rig.monitor).capturing);
  EXPECT_EQ(packet_section(*rig.monitor).captured_datagrams, 3u);
  rig.monitor->stop();
  rig.monitor->display_tick();  // the clean-up
  EXPECT_FALSE(packet_section(*rig.monitor).capturing);
  EXPECT_EQ(packet_section(*rig.monitor).captured_datagrams, 3u);

  // A new run starts its own count for the bench and the page, but the
  // counter a monitoring system reads must not fall back (it would read as a
  // restart of the program).
  ASSERT_EQ(rig.monitor->start("10.0.0.1").kind, packets::StartOutcome::Started);
  EXPECT_EQ(rig.monitor->decoded(), 0u);
  rig.udp_in();
  EXPECT_EQ(rig.monitor->decoded(), 1u);
  EXPECT_EQ(packet_section(*rig.monitor).captured_datagrams, 4u);
}

TEST(MetricsSections, DroppedDatagramsAddUpOverRunsAndShowInTheStatusText) {
  PacketRig rig;
  ASSERT_EQ(rig.monitor->start("10.0.0.1").kind, packets::StartOutcome::Started);
  rig.udp_in();
  rig.capture.drop(5);
  EXPECT_EQ(packet_section(*rig.monitor).dropped_datagrams, 5u);
  EXPECT_EQ(rig.monitor->status_text(), "Captured: 1  Dropped: 5");
  rig.monitor->stop();
  rig.monitor->display_tick();  // the clean-up: the run's figures stay on show
  EXPECT_EQ(rig.monitor->status_text(), "Captured: 1  Dropped: 5");

  // The next run's capture counts from 0; the counter goes on from 5.
  ASSERT_EQ(rig.monitor->start("10.0.0.1").kind, packets::StartOutcome::Started);
  rig.capture.drop(1234);
  EXPECT_EQ(packet_section(*rig.monitor).dropped_datagrams, 1239u);
  EXPECT_EQ(rig.monitor->status_text(), "Captured: 0  Dropped: 1,234");
  rig.monitor->shut_down();
  EXPECT_EQ(packet_section(*rig.monitor).dropped_datagrams, 1239u);
  EXPECT_EQ(packets::capture_status_text(Language::Japanese, 2000, 0), "取得: 2,000  取りこぼし: 0");
}

class OneAddress : public platform::NetworkInfoSource {
 public:
  Status network_params(platform::NetworkParams&) override { return {}; }
  Status adapters(std::vector<platform::AdapterInfo>& out) override {
    out.assign(1, platform::AdapterInfo{});
    out[0].addresses = {{"10.0.0.1", "255.255.255.0"}};
    return {};
  }
};

TEST(MetricsSections, DropRulesCountOnlyWhileInstalled) {
  constexpr char kRules[] = "/data/tarnix_packetfilter.txt";
  platform::FakeFileStore files;
  files.files[kRules] =
      "DROP,0.0.0.0,255.255.255.255,0,10.0.0.2,255.255.255.255,80,TCP,web\n"
      "FORWARD,0.0.0.0,255.255.255.255,0,10.0.0.3,255.255.255.255,22,TCP,ssh\n"
      "DROP,0.0.0.0,255.255.255.255,0,10.0.0.4,255.255.255.255,53,UDP,dns\n";
  platform::FakePacketFilter engine;
  OneAddress network;
  packetfilter::FilterController filter({engine, network, files}, {.rule_file_path = kRules, .lang = Language::English, .show_message = {}, .note = {}});
  (void)filter.reload();

  metrics::FilterSection f = filter_section(filter);
  EXPECT_FALSE(f.filtering);
  EXPECT_EQ(f.drop_rules, 0u);  // loaded, not installed
  EXPECT_EQ(f.grid_rules, 3u);

  (void)filter.start_command();
  f = filter_section(filter);
  EXPECT_TRUE(f.filtering);
  ASSERT_TRUE(engine.installed);
  EXPECT_EQ(f.drop_rules, engine.installed->drops.size());
  EXPECT_EQ(f.drop_rules, 2u);
  EXPECT_EQ(f.grid_rules, 3u);

  // An edit while on reinstalls; when that fails nothing is installed, and
  // the figures say so.
  engine.fail_apply = Error{"no", "refused", 1};
  filter.set_all_actions(true);
  f = filter_section(filter);
  EXPECT_FALSE(f.filtering);
  EXPECT_EQ(f.drop_rules, 0u);
  EXPECT_FALSE(engine.installed);
}

}  // namespace
}  // namespace tw::app
