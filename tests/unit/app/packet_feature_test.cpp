// The Packet Monitor in the runtime: the display timer fast while capturing
// and slow while idle, "AutoStart", the packet log through the runtime's log
// timer (rows kept when the file cannot be written), and the capture ended
// at the start of the shut-down.
#include "app/packet_feature.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_file_store.h"
#include "platform/fake/fake_packet_capture.h"
#include "platform/fake/fake_reverse_resolver.h"

namespace tw::app {
namespace {

constexpr char kIni[] = "/data/tarnix_u@h.ini";
constexpr char kPacketLog[] = "/data/tarnix_ip202601.log";

class NoBeep : public platform::Beeper {
 public:
  void beep() override {}
};

struct Rig {
  explicit Rig(const std::string& ini = "") {
    if (!ini.empty()) files.files[kIni] = ini;
    clock.set_wall({2026, 1, 2, 9, 0, 0});
    clock.set_ms(1000);
    capture.addresses = {*shared::parse_address("10.0.0.1")};
    monitor = std::make_unique<packets::PacketMonitor>(
        packets::PacketMonitorDeps{capture, clock, keys, hosts, {}}, Language::English,
        packets::load_packet_settings(profile));
    feature = std::make_unique<PacketFeature>(runtime, profile, *monitor);
  }
  ~Rig() {
    feature.reset();
    monitor.reset();
    workers.run_all();
  }
  void udp_in(int remote_port) {
    const std::uint8_t d[28] = {0x45, 0, 0, 28, 0, 0, 0, 0, 64, 17, 0, 0, 10, 0, 0, 9, 10, 0, 0, 1,
                                static_cast<std::uint8_t>(remote_port >> 8), static_cast<std::uint8_t>(remote_port),
                                0, 53, 0, 8, 0, 0};
    capture.deliver(d);
  }
  std::uint32_t display_period() const {
    for (const TimerEntry& t : runtime.timers())
      if (t.id == kTimerPacketDisplay) return t.period_ms;
    return 0;
  }

  platform::FakeFileStore files;
  platform::FakeClock clock;
  platform::FakePacketCapture capture;
  platform::FakeReverseResolver resolver;
  platform::FakeLookupWorkers workers;
  NoBeep beeper;
  settings::Profile profile{files, kIni};
  logging::LogEngine logs{profile, files, clock, beeper, Language::English, "/data/"};
  Runtime runtime{profile, logs};
  shared::HostNameCache hosts{resolver, workers};
  shared::FlowKeyTable keys;
  std::unique_ptr<packets::PacketMonitor> monitor;
  std::unique_ptr<PacketFeature> feature;
};

TEST(PacketFeature, AutoStartAndTheDisplayTimersPace) {
  Rig idle;
  EXPECT_EQ(idle.feature->auto_start().kind, packets::StartOutcome::Ignored);
  EXPECT_FALSE(idle.capture.running());
  EXPECT_EQ(idle.display_period(), kPacketIdlePeriodMs);
  // A hand-edited 2 is off here as on the options page, which shows it unchecked.
  Rig two("[Surveil]\nAutoStart=2\n");
  EXPECT_EQ(two.feature->auto_start().kind, packets::StartOutcome::Ignored);
  EXPECT_FALSE(two.capture.running());

  Rig rig("[Surveil]\nAutoStart=1\nInterval=7\n");
  EXPECT_EQ(rig.feature->auto_start().kind, packets::StartOutcome::Started);
  EXPECT_EQ(rig.capture.started_on, *shared::parse_address("10.0.0.1"));
  rig.runtime.start();
  EXPECT_EQ(rig.display_period(), 7u);
  rig.runtime.run_due(1000);  // arms the schedule
  rig.udp_in(443);
  rig.runtime.run_due(1006);
  EXPECT_TRUE(rig.monitor->list().empty());
  rig.runtime.run_due(1007);
  EXPECT_EQ(rig.monitor->list().size(), 1u);

  // A run that ends by itself is cleaned up by the timer, which then slows.
  rig.capture.end();
  rig.runtime.run_due(1014);
  EXPECT_EQ(rig.monitor->state(), packets::CaptureState::Idle);
  EXPECT_EQ(rig.display_period(), kPacketIdlePeriodMs);
}

TEST(PacketFeature, PacketLogKeepsRowsUntilTheyReachTheFile) {
  Rig rig("[Surveil]\nAutoStart=1\nLogCheck=1\nLogFmt=$IP_PACKET$\n");
  rig.feature->auto_start();
  rig.runtime.start();
  rig.udp_in(443);
  rig.runtime.fire_timer(kTimerPacketDisplay);
  ASSERT_EQ(rig.monitor->list().size(), 1u);

  rig.files.unwritable.insert(kPacketLog);
  rig.runtime.fire_timer(kTimerPacketLog);
  EXPECT_EQ(rig.monitor->list().size(), 1u);  // the entry was lost, the row was not
  rig.files.unwritable.clear();
  rig.runtime.fire_timer(kTimerPacketLog);
  EXPECT_TRUE(rig.monitor->list().empty());
  EXPECT_EQ(rig.files.files[kPacketLog],
            "10.0.0.1 10.0.0.1 53 10.0.0.9 10.0.0.9 443 28 64 UDP(DL) 01/02/2026 09:00:00 - \n");

  // The capture ends at the first shut-down step, while the names it looks
  // up still exist.
  const std::string written = rig.files.files[kPacketLog];
  rig.runtime.shutdown(false);
  EXPECT_FALSE(rig.capture.running());
  EXPECT_EQ(rig.monitor->state(), packets::CaptureState::Idle);
  rig.runtime.fire_timer(kTimerPacketLog);
  EXPECT_EQ(rig.files.files[kPacketLog], written);
}

}  // namespace
}  // namespace tw::app
