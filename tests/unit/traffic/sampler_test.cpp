// The sampling tick: baseline, counter anomalies, the speed window and ring,
// the identity check and the automatic reset.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <utility>

#include "traffic_test_rig.h"

namespace tw::traffic {
namespace {

std::size_t history_size(const TrafficMonitor& m) {
  std::vector<std::uint32_t> s, r;
  m.copy_speed_histories(s, r);
  return s.size();
}

TEST(Sampler, BaselineTicksAndBackwardCounters) {
  TrafficRig rig;
  TrafficMonitor& m = rig.start();
  rig.ticks(3, 100, 10);
  EXPECT_EQ(m.figures().capture_send, 0u);
  rig.tick(100, 10);  // the fourth reading adds the difference to the third
  TrafficFigures f = m.figures();
  EXPECT_EQ(f.capture_send, 100u);
  EXPECT_EQ(f.capture_recv, 10u);
  EXPECT_EQ(f.gross_send, 100u);
  EXPECT_EQ(f.gross_recv, 10u);

  // A counter that went back (interface re-created) drops that tick only, and
  // only in its own direction.
  rig.links.rows[0].out_octets = 50;
  rig.tick(0, 10);
  f = m.figures();
  EXPECT_EQ(f.capture_send, 100u);
  EXPECT_EQ(f.capture_recv, 20u);
  rig.tick(30, 0);
  EXPECT_EQ(m.figures().capture_send, 130u);

  // Every restart starts a new baseline; the gross total runs on.
  m.restart(RestartMode::Restart);
  rig.ticks(3, 100);
  EXPECT_EQ(m.figures().capture_send, 0u);
  rig.tick(100);
  f = m.figures();
  EXPECT_EQ(f.capture_send, 100u);
  EXPECT_EQ(f.gross_send, 230u);
}

TEST(Sampler, WindowRingAndDoubleSampling) {
  TrafficRig rig;
  TrafficMonitor& m = rig.start();
  rig.ticks(24, 1000, 2000);
  TrafficFigures f = m.figures();
  EXPECT_EQ(f.latest_send, 0);  // fewer than 25 readings: no window yet
  EXPECT_EQ(f.smoothed_send, 0);
  EXPECT_EQ(history_size(m), 24u);

  rig.tick(1000, 2000);
  f = m.figures();
  EXPECT_EQ(f.latest_send, 19742);  // 23 x 1000 bytes / 1.165
  EXPECT_EQ(f.latest_recv, 39484);
  EXPECT_EQ(f.smoothed_send, 822);  // one ring slot of 24 filled: 958 / 1.165
  std::vector<std::uint32_t> s, r;
  m.copy_speed_histories(s, r, 2);
  EXPECT_EQ(s, (std::vector<std::uint32_t>{822, 0}));

  rig.ticks(23, 1000, 2000);  // all 24 slots filled
  f = m.figures();
  EXPECT_EQ(f.smoothed_send, 19742);
  EXPECT_EQ(f.smoothed_recv, 39484);
  // The newest report lines (entry 1, under the header) show them in KB/s.
  EXPECT_EQ(m.report_list(0).at(1), "S:    19.3KB/s  R:    38.6KB/s");
  EXPECT_EQ(m.report_list(1).at(1), "S:    19.3KB/s  R:    38.6KB/s");
  // Lines are written out when read; one read before a tick and one after
  // see the same older lines, and the tick's own line on top.
  const std::vector<std::string> before = m.report_list(1);
  rig.tick(1000, 2000);
  const std::vector<std::string> after = m.report_list(1);
  ASSERT_EQ(after.size(), before.size() + 1);
  EXPECT_EQ(std::vector<std::string>(after.begin() + 2, after.end()),
            std::vector<std::string>(before.begin() + 1, before.end()));
  EXPECT_EQ(m.report_list(0).at(0), "Instantaneous Transfer speed");

  // Without double sampling a burst shows at once, with it step by step.
  rig.tick(25000, 0);
  f = m.figures();
  EXPECT_EQ(f.latest_send, 40343);  // (22 x 1000 + 25000) / 1.165
  EXPECT_EQ(f.smoothed_send, 20600);  // (23 x 23000 + 47000) / 24 / 1.165
  m.set_double_sampling(false);
  rig.tick(1000, 0);
  f = m.figures();
  EXPECT_EQ(f.smoothed_send, f.latest_send);
}

TEST(Sampler, ThirtyTwoBitWrapInsideTheWindow) {
  TrafficRig rig;
  TrafficMonitor& m = rig.start();
  // A device with 32-bit counters: the reading wraps on the 31st tick.
  std::uint64_t v = (std::uint64_t{1} << 32) - 30500;
  for (int i = 1; i <= 40; ++i) {
    v = (v + 1000) & 0xFFFFFFFFu;
    rig.links.rows[0].out_octets = v;
    rig.tick();
  }
  // Ticks 4..40 give 37 differences; the one across the wrap is dropped.
  EXPECT_EQ(m.figures().capture_send, 36000u);
  // The window (readings 17..40) spans the wrap and is still right.
  EXPECT_EQ(m.figures().latest_send, 19742);
}

TEST(Sampler, PeriodsAndDivisorFollowTheResponseSettings) {
  {
    TrafficRig rig;
    rig.profile.write_int("Traffic", "Thread-Responce", 9);
    rig.profile.write_int("Traffic", "View-Responce", 3);
    TrafficMonitor& m = rig.start();
    EXPECT_EQ(m.sampling_period_ms(), 500u);
    EXPECT_EQ(m.redraw_period_ms(), 200u);
    rig.ticks(25, 1000, 0, 500);
    EXPECT_EQ(m.figures().latest_send, 1974);  // 23000 / 11.65
  }
  {
    TrafficRig rig;
    rig.profile.write_int("Traffic", "Thread-Responce", 42);
    rig.profile.write_int("Traffic", "View-Responce", -3);
    rig.profile.write_int("Traffic", "DoubleSampling", 0);
    TrafficMonitor& m = rig.start();
    EXPECT_EQ(m.sampling_period_ms(), 500u);
    EXPECT_EQ(m.redraw_period_ms(), 50u);
    EXPECT_FALSE(m.double_sampling());
    rig.ticks(25, 1000, 0, 500);
    EXPECT_EQ(m.figures().smoothed_send, 1974);  // the newest window alone
  }
}

TEST(Sampler, ChangedInterfaceStopsEverythingUntilRestart) {
  for (int what = 0; what < 3; ++what) {
    SCOPED_TRACE(what);
    TrafficRig rig;
    TrafficMonitor& m = rig.start();
    rig.ticks(30, 1000, 1000);
    EXPECT_EQ(m.interface_state(), InterfaceState::Identified);
    platform::LinkRow& row = rig.links.rows[0];
    if (what == 0) row.name = "eth0 renamed";
    if (what == 1) row.oper_status = platform::kOperStatusDown;
    if (what == 2) row.phys_addr_len = 0;
    rig.tick(1000, 1000);
    ASSERT_EQ(m.interface_state(), InterfaceState::Changed);
    const TrafficFigures before = m.figures();
    const std::size_t lines = m.report_list(0).size();
    const std::size_t history = history_size(m);

    rig.ticks(5, 1000, 1000);
    const TrafficFigures after = m.figures();
    EXPECT_EQ(after.capture_send, before.capture_send);
    EXPECT_EQ(after.gross_recv, before.gross_recv);
    EXPECT_EQ(m.report_list(0).size(), lines);
    EXPECT_EQ(history_size(m), history);
    EXPECT_EQ(m.snapshot().description, row.name);  // the snapshot keeps refreshing
    EXPECT_EQ(m.snapshot().phys_addr_len, row.phys_addr_len);

    m.restart(RestartMode::Restart);
    EXPECT_EQ(m.interface_state(), InterfaceState::Unidentified);
    rig.tick(1000);
    EXPECT_EQ(m.interface_state(), InterfaceState::Identified);
    rig.ticks(3, 1000);
    EXPECT_EQ(m.figures().capture_send, 1000u);
  }
}

TEST(Sampler, FailedReadsKeepTheLastFigures) {
  TrafficRig rig;
  TrafficMonitor& m = rig.start();
  rig.ticks(30, 1000);
  const TrafficFigures before = m.figures();
  const std::size_t lines = m.report_list(0).size();
  const std::size_t history = history_size(m);

  rig.links.fail = true;
  rig.ticks(3, 1000);
  TrafficFigures f = m.figures();
  EXPECT_EQ(f.capture_send, before.capture_send);
  EXPECT_EQ(f.send_counter, before.send_counter);
  // The speeds and report lines still run on the unchanged histories.
  EXPECT_EQ(f.latest_send, before.latest_send);
  EXPECT_EQ(m.report_list(0).size(), lines + 3);
  EXPECT_EQ(history_size(m), history + 3);
  EXPECT_EQ(f.state, InterfaceState::Identified);

  rig.links.fail = false;
  rig.links.rows[1].speed_bps = 10000000000;  // 10 Gbit/s does not fit 32 bits
  m.select_interface(1);
  rig.tick();
  EXPECT_EQ(m.snapshot().description, "wlan0");
  EXPECT_EQ(m.snapshot().link_speed_bps, 10000000000u);
}

// An interface that goes away while it is sampled: its last speeds must not
// stay on as if measured, and the automatic reset finds it again by name
// (taking the default interface while it is gone is the page's test).
TEST(Sampler, VanishedInterfaceIsAChangeOfTheTable) {
  TrafficRig rig;
  TrafficMonitor& m = rig.start();
  m.start_with_stored_interface();  // eth0, the first interface that is up
  rig.ticks(40, 3000, 2000);
  ASSERT_GT(m.figures().smoothed_send, 0);
  const std::uint64_t captured = m.figures().capture_send;

  rig.links.rows.erase(rig.links.rows.begin());  // ip link del eth0
  rig.ticks(3);
  TrafficFigures f = m.figures();
  EXPECT_EQ(f.state, InterfaceState::Changed);
  EXPECT_EQ(f.latest_send, 0);
  EXPECT_EQ(f.smoothed_send, 0);
  EXPECT_EQ(f.smoothed_recv, 0);
  EXPECT_EQ(f.capture_send, captured);
  EXPECT_EQ(m.statistics_record().substr(m.statistics_record().size() - 4), "0,0,");
  EXPECT_EQ(m.auto_reset_tick(), 15u);
  EXPECT_EQ(m.auto_reset_countdown(), 15u);

  // eth0 comes back under a new kernel index before the countdown ends: it
  // is not the same interface, so the state stays Changed until the reset,
  // which takes it again by its name.
  rig.links.add("eth0", 77, 77);
  std::rotate(rig.links.rows.begin(), rig.links.rows.end() - 1, rig.links.rows.end());
  rig.tick();
  EXPECT_EQ(m.interface_state(), InterfaceState::Changed);
  rig.clock.advance_ms(15000);
  EXPECT_EQ(m.auto_reset_tick(), 0u);
  EXPECT_EQ(m.selected_interface(), 0);
  rig.ticks(4, 500);
  EXPECT_EQ(m.interface_state(), InterfaceState::Identified);
  EXPECT_EQ(m.figures().capture_send, 500u);

  // A position past the end of the table (the list was built before the
  // last interface went away) is the same kind of change.
  for (int pos : {2, 99, -1}) {
    m.select_interface(pos);
    rig.ticks(5, 1000);
    EXPECT_EQ(m.interface_state(), InterfaceState::Changed);
    EXPECT_EQ(m.figures().capture_send, 0u);
  }
}

// Deleting another, lower-numbered interface shifts the sampled one to a
// lower position: it is followed by its kernel index and every byte counts
// on, with no change and no restart (also when the page re-reads the list).
// Only the sampled interface vanishing is a change, and then the counter of
// whatever moved into its position is never taken as traffic.
TEST(Sampler, ShiftedPositionsFollowTheSampledInterface) {
  TrafficRig rig;
  rig.links.add("usb0", 56000000, 56000000);  // a large lifetime counter
  TrafficMonitor& m = rig.start();
  int changes = 0;
  m.set_changed_listener([&] { ++changes; });
  rig.profile.write_string("Settings", "InterfaceName", "wlan0");
  ASSERT_EQ(m.start_with_stored_interface(), 1);
  const auto send = [&](const char* name, std::uint64_t bytes) {
    for (auto& r : rig.links.rows)
      if (r.name == name) r.out_octets += bytes;
    rig.clock.advance_ms(50);
    m.tick();
  };
  for (int i = 0; i < 10; ++i) send("wlan0", 100);
  ASSERT_EQ(m.figures().capture_send, 700u);
  const std::size_t restart_lines = m.report_list(2).size();

  rig.links.rows.erase(rig.links.rows.begin());  // ip link del eth0: wlan0 moves to position 0
  for (int i = 0; i < 30; ++i) send("wlan0", 100);
  TrafficFigures f = m.figures();
  EXPECT_EQ(f.state, InterfaceState::Identified);
  EXPECT_EQ(f.capture_send, 3700u);
  EXPECT_EQ(f.gross_send, 3700u);
  EXPECT_GT(f.smoothed_send, 0);
  EXPECT_EQ(m.selected_interface(), 0);
  EXPECT_EQ(m.snapshot().description, "wlan0");
  EXPECT_EQ(changes, 0);

  // The list read again (the desktop page on focus): the choice stays where
  // the interface now is, without a restart.
  m.enumerate_interfaces();
  EXPECT_EQ(m.choose_again(RestartMode::Restart), 0);
  EXPECT_EQ(m.report_list(2).size(), restart_lines);
  send("wlan0", 100);
  EXPECT_EQ(m.figures().capture_send, 3800u);
  m.save_interface_choice();
  EXPECT_NE(rig.ini().find("Interface=0\n"), std::string::npos) << rig.ini();

  // Now wlan0 itself goes: usb0 moves into its position and is never counted.
  rig.links.rows.erase(rig.links.rows.begin());
  for (int i = 0; i < 5; ++i) send("usb0", 1000);
  f = m.figures();
  EXPECT_EQ(f.state, InterfaceState::Changed);
  EXPECT_EQ(f.capture_send, 3800u);
  EXPECT_EQ(f.gross_send, 3800u);
  EXPECT_EQ(changes, 1);
}

// A sampling tick that falls inside an interface switch must compare the
// readings of one interface only.
TEST(Sampler, SwitchingInterfacesIsOneStep) {
  struct TickInTheMiddle : platform::FakeClock {
    std::function<void()> hook;
    platform::LocalTime local_now() override {
      if (auto h = std::exchange(hook, nullptr)) h();
      return FakeClock::local_now();
    }
  };
  TrafficRig rig;
  rig.links.rows[1].out_octets = 7100000000;  // wlan0 has been up a long time
  TickInTheMiddle clock;
  TrafficMonitor m(rig.profile, rig.links, clock, Language::English);
  m.enumerate_interfaces();
  m.select_interface(0);
  for (int i = 0; i < 5; ++i) m.tick();
  clock.hook = [&] { m.tick(); };  // the restart asks the wall clock for its RESTART lines
  m.select_interface(1);
  for (int i = 0; i < 5; ++i) m.tick();
  EXPECT_EQ(m.figures().gross_send, 0u);
}

// The maxima cover what the graph shows: half its width plus "MaxLineTime" x
// 20 entries, at least 400.
TEST(Sampler, MaximaFollowTheGraphsSpan) {
  TrafficRig rig;
  TrafficMonitor& m = rig.start();
  for (int i = 0; i < 90; ++i) {  // a burst of 30 ticks, then the smoothing settles
    rig.tick(i < 30 ? 40000 : 0, i < 30 ? 1000 : 0);
    const TrafficFigures f = m.figures();
    ASSERT_GE(f.max_send, f.smoothed_send) << i;
    ASSERT_GE(f.max_recv, f.smoothed_recv) << i;
  }
  const std::int64_t peak = m.figures().max_send;
  EXPECT_GT(peak, 0);
  // 500 idle ticks later the burst lies beyond the newest 501 entries.
  rig.ticks(500);
  EXPECT_EQ(m.figures().max_send, 0);
  m.set_graph_width(1000);  // 500 + 200 entries
  EXPECT_EQ(m.figures().max_send, peak);
  rig.profile.write_int("Traffic", "MaxLineTime", 0);
  m.reload_settings();  // 500 entries
  EXPECT_EQ(m.figures().max_send, 0);

  // They stand still with the histories while the interface is Changed, and
  // start from nothing after a restart.
  m.set_graph_width(2000);
  rig.links.rows[0].name = "other";
  rig.tick();
  EXPECT_EQ(m.figures().max_send, peak);
  m.restart(RestartMode::Restart);
  EXPECT_EQ(m.figures().max_send, 0);
}

TEST(Sampler, CaptureTimeRunsPastTheClockWrapAndHistoriesStayBounded) {
  TrafficRig rig;
  rig.clock.set_ms(0xFFFF0000u);
  TrafficMonitor& m = rig.start();
  rig.ticks(5000, 0, 0, 3600000);  // 5000 hours, far past 2^32 ms
  EXPECT_EQ(m.figures().capture_ms, std::uint64_t{5000} * 3600000);
  EXPECT_EQ(m.statistics_texts().capture_time, "208day  8h 00m 00s");
  EXPECT_EQ(m.statistics_record().substr(0, 9), "18000000,");
  EXPECT_EQ(history_size(m), kSpeedHistoryMaxEntries);
}

TEST(AutoReset, CountdownThenFullRestart) {
  TrafficRig rig;
  TrafficMonitor& m = rig.start();
  EXPECT_EQ(m.auto_reset_tick(), std::nullopt);
  rig.tick();
  rig.links.rows[0].oper_status = platform::kOperStatusDown;
  rig.tick();
  ASSERT_EQ(m.interface_state(), InterfaceState::Changed);

  EXPECT_EQ(m.auto_reset_tick(), 15u);
  rig.clock.advance_ms(14900);
  EXPECT_EQ(m.auto_reset_tick(), 1u);
  rig.clock.advance_ms(100);
  EXPECT_EQ(m.auto_reset_tick(), 0u);
  EXPECT_EQ(m.interface_state(), InterfaceState::Unidentified);
  EXPECT_EQ(m.report_list(0).size(), 1u);  // Full: headers only
  EXPECT_EQ(m.auto_reset_tick(), std::nullopt);

  // The next tick identifies whatever is now at the position.
  rig.tick();
  EXPECT_EQ(m.interface_state(), InterfaceState::Identified);

  // A redraw tick that comes late still resets.
  rig.links.rows[0].oper_status = platform::kOperStatusUp;
  rig.tick();
  EXPECT_EQ(m.auto_reset_tick(), 15u);
  rig.clock.advance_ms(20000);
  EXPECT_EQ(m.auto_reset_tick(), 0u);
  EXPECT_EQ(m.interface_state(), InterfaceState::Unidentified);
}

TEST(AutoReset, DisabledOrInterruptedCountdowns) {
  TrafficRig rig;
  rig.profile.write_int("Traffic", "InterfaceAutoReset", 0);
  rig.profile.write_int("Traffic", "InterfaceAutoResetTimer", 5);
  TrafficMonitor& m = rig.start();
  EXPECT_FALSE(m.auto_reset_enabled());
  rig.tick();
  rig.links.rows[0].name = "other";
  rig.tick();
  EXPECT_EQ(m.auto_reset_tick(), 5u);
  rig.clock.advance_ms(5000);
  EXPECT_EQ(m.auto_reset_tick(), 0u);  // due, but switched off: no restart
  EXPECT_EQ(m.interface_state(), InterfaceState::Changed);
  EXPECT_EQ(m.auto_reset_tick(), 5u);  // a new countdown begins

  // A manual restart in the middle of a countdown: the next one starts afresh.
  rig.clock.advance_ms(4000);
  m.restart(RestartMode::Restart);
  EXPECT_EQ(m.auto_reset_tick(), std::nullopt);
  rig.tick();
  rig.links.rows[0].name = "eth0";
  rig.tick();
  EXPECT_EQ(m.auto_reset_tick(), 5u);
}

}  // namespace
}  // namespace tw::traffic
