// The Packet Monitor with a fake capture: start checks, capture states, the
// display timer's sampling, the list and its log.
#include <gtest/gtest.h>

#include "datagram_builder.h"
#include "logging/template.h"
#include "packets/packet_monitor.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_file_store.h"
#include "platform/fake/fake_packet_capture.h"
#include "platform/fake/fake_reverse_resolver.h"

namespace tw::packets {
namespace {

using test::addr;
using test::Datagram;
using test::ports;

struct Rig {
  platform::FakePacketCapture capture;
  platform::FakeClock clock;
  shared::FlowKeyTable keys;
  platform::FakeReverseResolver resolver;
  platform::FakeLookupWorkers workers;
  shared::HostNameCache hosts{resolver, workers};
  std::unique_ptr<PacketMonitor> monitor;

  explicit Rig(PacketSettings settings = {}, Language lang = Language::English) {
    capture.addresses = {addr("127.0.0.1"), addr("10.0.0.1"), addr("192.168.7.2")};
    clock.set_wall({2024, 3, 5, 9, 7, 3});
    monitor = std::make_unique<PacketMonitor>(
        PacketMonitorDeps{capture, clock, keys, hosts, [](int pid) { return pid == 42 ? std::string("curl") : std::string(); }},
        lang, settings);
    monitor->load_addresses();
  }
  ~Rig() {
    monitor.reset();
    workers.run_all();
  }
  void deliver(const Datagram& d) {
    const auto b = d.bytes();
    capture.deliver(b);
  }
};

Datagram udp_in(int remote_port, int local_port, std::string_view from = "10.0.0.9") {
  return Datagram{.protocol = 17, .src = from, .dst = "192.168.7.2", .transport = ports(remote_port, local_port)};
}

TEST(PacketMonitor, AddressListDefaultAndUpDown) {
  Rig r;
  EXPECT_EQ(r.monitor->local_addresses(), (std::vector<std::uint32_t>{addr("10.0.0.1"), addr("192.168.7.2")}));
  EXPECT_EQ(r.monitor->default_address_text(), "192.168.7.2");
  EXPECT_EQ(r.monitor->step_address("192.168.7.2", false), "10.0.0.1");
  EXPECT_EQ(r.monitor->step_address("10.0.0.1", false), "10.0.0.1");  // clamped
  EXPECT_EQ(r.monitor->step_address("10.0.0.1", true), "192.168.7.2");
  EXPECT_EQ(r.monitor->step_address("192.168.7.2", true), "192.168.7.2");
  EXPECT_EQ(r.monitor->step_address("typed", true), "10.0.0.1");

  // Only the loopback address: the host name's address is the default.
  EXPECT_EQ(default_capture_address(capture_address_list({addr("127.0.0.1")}), addr("10.1.1.1")), addr("10.1.1.1"));
  EXPECT_EQ(default_capture_address({}, std::nullopt), 0u);
}

TEST(PacketMonitor, StartChecksAndFailureTexts) {
  Rig r;
  auto out = r.monitor->start("10.9.9.9");
  EXPECT_EQ(out.kind, StartOutcome::InvalidAddress);
  EXPECT_EQ(out.message, "Not a valid IP.");
  EXPECT_EQ(r.monitor->start("bogus").kind, StartOutcome::InvalidAddress);
  EXPECT_EQ(r.capture.starts, 0);

  r.capture.fail_with = platform::CaptureFailure{"socket", EPERM, "no CAP_NET_RAW"};
  out = r.monitor->start("10.0.0.1");
  EXPECT_EQ(out.kind, StartOutcome::Failed);
  EXPECT_EQ(out.message, "Error!! socket() = 1\nPlease run with administrator privileges.");
  EXPECT_EQ(r.monitor->state(), CaptureState::Idle);
  // The real cause, when known, goes below the administrator line.
  r.capture.fail_with->cause = "tarnix-helper is not installed: sudo make install";
  EXPECT_EQ(r.monitor->start("10.0.0.1").message,
            "Error!! socket() = 1\nPlease run with administrator privileges.\n"
            "tarnix-helper is not installed: sudo make install");
  r.capture.fail_with = platform::CaptureFailure{"bind", ENODEV, "", "never shown for other failures"};
  EXPECT_EQ(r.monitor->start("10.0.0.1").message, "Error!! bind() = 19");

  Rig ja({}, Language::Japanese);
  EXPECT_EQ(ja.monitor->start("1.2.3.4").message, "有効なIPではありません.");
  ja.capture.fail_with = platform::CaptureFailure{"socket", EACCES, ""};
  EXPECT_EQ(ja.monitor->start("10.0.0.1").message, "Error!! socket() = 13\n管理者権限で実行してください.");
}

TEST(PacketMonitor, CaptureStatesFromStartToCleanUp) {
  Rig r;
  ASSERT_EQ(r.monitor->start("10.0.0.1").kind, StartOutcome::Started);
  EXPECT_EQ(r.capture.started_on, addr("10.0.0.1"));
  EXPECT_EQ(r.monitor->state(), CaptureState::Running);
  EXPECT_EQ(r.monitor->start("10.0.0.1").kind, StartOutcome::Ignored);  // no second run

  r.deliver(udp_in(53, 5353));
  r.monitor->stop();
  EXPECT_EQ(r.monitor->state(), CaptureState::Ended);
  EXPECT_FALSE(r.capture.running());
  const TickResult t = r.monitor->display_tick();
  EXPECT_TRUE(t.capture_ended);
  EXPECT_FALSE(t.row_added);
  EXPECT_EQ(r.monitor->state(), CaptureState::Idle);
  EXPECT_TRUE(same_record(r.monitor->latest(), empty_record()));

  // A run that ends by itself is cleaned up the same way; a new one starts.
  ASSERT_EQ(r.monitor->toggle("192.168.7.2").kind, StartOutcome::Started);
  r.capture.end();
  EXPECT_TRUE(r.monitor->display_tick().capture_ended);
  EXPECT_EQ(r.monitor->toggle("192.168.7.2").kind, StartOutcome::Started);
  r.monitor->toggle("");  // STOP
  EXPECT_EQ(r.monitor->state(), CaptureState::Ended);
  // START before the display timer cleaned up: the ended run is cleaned up
  // on the spot and a new one starts.
  EXPECT_EQ(r.monitor->start("10.0.0.1").kind, StartOutcome::Started);
  EXPECT_EQ(r.capture.started_on, addr("10.0.0.1"));
}

TEST(PacketMonitor, DisplayTimerSamplesNewPacketsOnly) {
  Rig r;
  r.keys.replace({{shared::udp_flow_key("192.168.7.2", 5353), 42}});
  r.monitor->start("192.168.7.2");
  EXPECT_FALSE(r.monitor->display_tick().row_added);  // nothing yet

  r.deliver(udp_in(53, 5353));
  EXPECT_TRUE(r.monitor->display_tick().row_added);
  EXPECT_FALSE(r.monitor->display_tick().row_added);  // same record
  r.deliver(udp_in(53, 5353));
  EXPECT_FALSE(r.monitor->display_tick().row_added);  // identical in every field
  Datagram other_id = udp_in(53, 5353);
  other_id.id = 0x9999;
  r.deliver(other_id);
  EXPECT_TRUE(r.monitor->display_tick().row_added);  // differs only in a hidden field

  // Both ports 0: not listed.
  r.deliver(Datagram{.protocol = 50, .src = "10.0.0.9", .dst = "192.168.7.2"});
  EXPECT_FALSE(r.monitor->display_tick().row_added);
  // Only the latest of several datagrams between two ticks is listed.
  r.deliver(udp_in(1, 2));
  r.deliver(udp_in(3, 4));
  EXPECT_TRUE(r.monitor->display_tick().row_added);

  const PacketList& list = r.monitor->list();
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list.row(0)[kPort1], "4");
  const PacketRow& first = list.row(2);
  EXPECT_EQ(first, (PacketRow{"192.168.7.2", "192.168.7.2", "5353", "10.0.0.9", "10.0.0.9", "53", "24", "64",
                              "UDP(DL)", "03/05/2024 09:07:03", "curl(42)", ""}));
}

TEST(PacketMonitor, FilterBackOffAndRowCap) {
  PacketSettings s;
  s.filter = true;
  s.interval_ms = 5;
  Rig r(s, Language::Japanese);
  r.monitor->start("192.168.7.2");
  r.deliver(udp_in(1024, 80));  // remote port 1024: filtered out
  EXPECT_FALSE(r.monitor->display_tick().row_added);
  r.deliver(udp_in(443, 0));  // local port 0: filtered out
  EXPECT_FALSE(r.monitor->display_tick().row_added);
  r.deliver(udp_in(443, 80));
  EXPECT_TRUE(r.monitor->display_tick().row_added);
  EXPECT_EQ(r.monitor->list().row(0)[kDateTime], "2024/03/05 09:07:03");
  EXPECT_EQ(r.monitor->list().row(0)[kProcess], "-");

  // The 501st packet pushes the oldest row out.
  for (int i = 0; i < 510; ++i) {
    r.deliver(udp_in(100 + i % 900, 80));
    r.monitor->display_tick();
  }
  EXPECT_EQ(r.monitor->list().size(), kMaxRows);
  EXPECT_EQ(r.monitor->list().row(0)[kPort2], std::to_string(100 + 509));

  // A slow tick holds the list still for its own length, 200 ms at most.
  Rig slow(s);
  slow.monitor = std::make_unique<PacketMonitor>(
      PacketMonitorDeps{slow.capture, slow.clock, slow.keys, slow.hosts,
                        [&slow](int) {
                          slow.clock.advance_ms(500);
                          return std::string("x");
                        }},
      Language::English, s);
  slow.monitor->load_addresses();
  slow.keys.replace({{shared::udp_flow_key("192.168.7.2", 81), 7}});
  slow.monitor->start("192.168.7.2");
  slow.deliver(udp_in(443, 81));
  EXPECT_TRUE(slow.monitor->display_tick().row_added);
  int held = 0;
  slow.deliver(udp_in(444, 81));
  while (!slow.monitor->display_tick().row_added && held < 100) ++held;
  EXPECT_EQ(held, 200 / 5);
}

TEST(PacketMonitor, LogTakesRowsOnlyOnceWritten) {
  Rig r;
  logging::EntryValues values;
  const std::string tmpl = "$IP_PACKET$";
  logging::LogSource& log = r.monitor->log_source();
  // Stopped: the source gives nothing (the writer's "stopped" text stands).
  ASSERT_TRUE(log.fill(logging::LogKind::Packet, tmpl, values));
  EXPECT_FALSE(values.has("$IP_PACKET$"));

  r.monitor->start("192.168.7.2");
  ASSERT_TRUE(log.fill(logging::LogKind::Packet, tmpl, values));
  EXPECT_EQ(values.get("$IP_PACKET$"), "No Packet-Data.");
  r.deliver(udp_in(53, 5353));
  r.monitor->display_tick();
  r.deliver(udp_in(54, 5353));
  r.monitor->display_tick();

  // The entry could not be written: the rows stay for the next one.
  ASSERT_TRUE(log.fill(logging::LogKind::Packet, tmpl, values));
  EXPECT_EQ(values.get("$IP_PACKET$"),
            "192.168.7.2 192.168.7.2 5353 10.0.0.9 10.0.0.9 54 24 64 UDP(DL) 03/05/2024 09:07:03 - \n"
            "192.168.7.2 192.168.7.2 5353 10.0.0.9 10.0.0.9 53 24 64 UDP(DL) 03/05/2024 09:07:03 - ");
  EXPECT_EQ(r.monitor->list().size(), 2u);
  ASSERT_TRUE(log.fill(logging::LogKind::Packet, tmpl, values));
  log.entry_written(logging::LogKind::Packet);
  EXPECT_TRUE(r.monitor->list().empty());

  // Rows listed while stopped are not taken by a later entry.
  r.deliver(udp_in(55, 5353));
  r.monitor->display_tick();
  r.monitor->stop();
  ASSERT_TRUE(log.fill(logging::LogKind::Packet, tmpl, values));
  log.entry_written(logging::LogKind::Packet);
  EXPECT_EQ(r.monitor->list().size(), 1u);
}

TEST(PacketList, CopyTextsAndColours) {
  PacketList list;
  list.add_top({"a0", "h0", "1", "a1", "h1", "2", "3", "4", "TCP(UL)", "t", "-", "DA TA"});
  list.add_top({"b0", "g0", "1", "b1", "g1", "2", "3", "4", "UDP(DL)", "t", "-", "41 42 "});
  const std::vector<std::size_t> both = {0, 1, 7};
  const std::array<int, 12> items = {1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 1};
  EXPECT_EQ(list.copy_text(both, items), "b0 g1 41 42  \r\na0 h1 DA TA \r\n");
  EXPECT_EQ(list.packet_data_text(both), "41 42 \r\nDA TA\r\n");

  EXPECT_EQ(cell_colour_key(kProtocol, "TCP(UL)"), shared::ColourKey::ProtoUl);
  EXPECT_EQ(cell_colour_key(kProtocol, "ICMP(DL)"), shared::ColourKey::ProtoDl);
  EXPECT_EQ(cell_colour_key(kAddress2, "10.0.0.1"), shared::ColourKey::IpAddr);
  EXPECT_EQ(cell_colour_key(kHost2, "www.example.com"), shared::ColourKey::Com);
  EXPECT_EQ(cell_colour_key(kLength, "60"), shared::ColourKey::Text);
}

TEST(PacketSettings, LoadClampsAndSaves) {
  platform::FakeFileStore files;
  settings::Profile profile(files, "/p.ini");
  EXPECT_EQ(load_packet_settings(profile), PacketSettings{});
  profile.write_int(kPacketSection, "Interval", 0);
  EXPECT_EQ(load_packet_settings(profile).interval_ms, 1);
  profile.write_int(kPacketSection, "Interval", 5000);
  EXPECT_EQ(load_packet_settings(profile).interval_ms, 100);
  PacketSettings s;
  s.ask_dns = s.filter = s.data_as_text = true;
  s.interval_ms = 20;
  s.filter_port2 = "80;";
  save_packet_settings(profile, s);
  EXPECT_EQ(load_packet_settings(profile), s);
}

}  // namespace
}  // namespace tw::packets
