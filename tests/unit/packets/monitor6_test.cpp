// The Packet Monitor's IPv6 side with a fake capture: the address list after
// the IPv4 one, the capture on an IPv6 address, rows, filter and log in the
// IPv4 formats, and "Settings"/"IPv6" 0 leaving everything as IPv4 only.
#include <gtest/gtest.h>

#include "datagram_builder.h"
#include "packets/packet_monitor.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_file_store.h"
#include "platform/fake/fake_packet_capture.h"
#include "platform/fake/fake_reverse_resolver.h"
#include "settings/shared_keys.h"

namespace tw::packets {
namespace {

using test::addr;
using test::Datagram6;
using test::ports;

net::IpAddress ip(std::string_view text) { return *net::parse_ip(text); }

struct Rig6 {
  platform::FakePacketCapture capture;
  platform::FakeClock clock;
  shared::FlowKeyTable keys;
  platform::FakeReverseResolver resolver;
  platform::FakeLookupWorkers workers;
  shared::HostNameCache hosts{resolver, workers};
  std::unique_ptr<PacketMonitor> monitor;

  explicit Rig6(PacketSettings settings = {}, std::vector<std::uint32_t> v4 = {addr("127.0.0.1"), addr("10.0.0.1")}) {
    capture.addresses = std::move(v4);
    capture.addresses6 = {ip("::1"), ip("fe80::1"), ip("2001:db8::5"), ip("fd00:23::1"), ip("2001:db8::5"),
                          ip("ff02::1"), ip("::ffff:10.0.0.1")};
    clock.set_wall({2024, 3, 5, 9, 7, 3});
    monitor = std::make_unique<PacketMonitor>(PacketMonitorDeps{capture, clock, keys, hosts, {}}, Language::English,
                                              settings);
    monitor->load_addresses();
  }
  ~Rig6() {
    monitor.reset();
    workers.run_all();
  }
  void deliver(const Datagram6& d) {
    const auto b = d.bytes();
    capture.deliver(b);
  }
};

PacketSettings ipv6_off() {
  PacketSettings s;
  s.ipv6 = false;
  return s;
}

TEST(PacketMonitor6, AddressListDefaultAndUpDown) {
  Rig6 r;
  // Global and unique-local addresses after the IPv4 ones, each once.
  EXPECT_EQ(r.monitor->address_list_texts(), (std::vector<std::string>{"10.0.0.1", "2001:db8::5", "fd00:23::1"}));
  // The default stays the last IPv4 address.
  EXPECT_EQ(r.monitor->default_address_text(), "10.0.0.1");
  EXPECT_EQ(r.monitor->step_address("10.0.0.1", true), "2001:db8::5");
  EXPECT_EQ(r.monitor->step_address("2001:db8::5", true), "fd00:23::1");
  EXPECT_EQ(r.monitor->step_address("fd00:23::1", true), "fd00:23::1");  // clamped
  EXPECT_EQ(r.monitor->step_address("2001:DB8:0::5", false), "10.0.0.1");  // any spelling of an entry
  EXPECT_TRUE(r.monitor->in_address_list("fd00:23:0::1"));
  EXPECT_FALSE(r.monitor->in_address_list("fe80::1"));
  EXPECT_FALSE(r.monitor->in_address_list("[fd00:23::1]"));

  // No IPv4 address but loopback and no host address: the last IPv6 one.
  Rig6 only6({}, {addr("127.0.0.1")});
  EXPECT_EQ(only6.monitor->default_address_text(), "fd00:23::1");
  ASSERT_EQ(only6.monitor->start(only6.monitor->default_address_text()).kind, StartOutcome::Started);

  // The switch off: exactly the IPv4 list and default of before.
  Rig6 off(ipv6_off(), {addr("127.0.0.1")});
  EXPECT_EQ(off.monitor->address_list_texts(), std::vector<std::string>{});
  EXPECT_EQ(off.monitor->default_address_text(), "0.0.0.0");
  Rig6 off4(ipv6_off());
  EXPECT_EQ(off4.monitor->address_list_texts(), std::vector<std::string>{"10.0.0.1"});
  EXPECT_EQ(off4.monitor->step_address("10.0.0.1", true), "10.0.0.1");
  const StartOutcome refused = off4.monitor->start("fd00:23::1");
  EXPECT_EQ(refused.kind, StartOutcome::InvalidAddress);
  EXPECT_EQ(refused.message, "Not a valid IP.");
  EXPECT_EQ(off4.capture.starts, 0);

  // The switch follows the options at once.
  PacketSettings on;
  off4.monitor->apply_settings(on);
  EXPECT_EQ(off4.monitor->address_list_texts().size(), 3u);
  r.monitor->apply_settings(ipv6_off());
  EXPECT_EQ(r.monitor->start("2001:db8::5").kind, StartOutcome::InvalidAddress);
}

TEST(PacketMonitor6, CaptureRowsFilterAndLog) {
  PacketSettings s;
  s.filter = true;
  s.filter_port1 = "0;";
  s.filter_port2 = "1024-65535;";
  Rig6 r(s);
  EXPECT_EQ(r.monitor->start("fd00:23::1").kind, StartOutcome::Started);
  EXPECT_EQ(r.capture.started_address, ip("fd00:23::1"));

  // The port filter treats IPv6 rows as it treats IPv4 ones.
  r.deliver(Datagram6{.protocol = 6, .src = "2001:db8::99", .dst = "fd00:23::1", .transport = ports(40000, 22)});
  EXPECT_FALSE(r.monitor->display_tick().row_added);  // remote port 40000
  r.deliver(Datagram6{.protocol = 6, .src = "fd00:23::1", .dst = "2001:db8::99", .transport = ports(0, 80)});
  EXPECT_FALSE(r.monitor->display_tick().row_added);  // local port 0
  r.deliver(Datagram6{.protocol = 6, .src = "2001:db8::99", .dst = "fd00:23::1",
                      .transport = ports(443, 40000, {0, 0, 0, 1, 0, 0, 0, 2, 0x50, 0x10, 0, 0})});
  ASSERT_TRUE(r.monitor->display_tick().row_added);
  // Neighbour discovery from the machine's link-local address is outgoing.
  r.deliver(Datagram6{.protocol = 58, .src = "fe80::1", .dst = "fe80::2", .transport = {136, 0, 0, 1, 0, 0, 0, 0}});
  ASSERT_TRUE(r.monitor->display_tick().row_added);

  EXPECT_EQ(r.monitor->list().row(0),
            (PacketRow{"fe80::1", "fe80::1", "34816", "fe80::2", "fe80::2", "1", "48", "64", "ICMP6(UL)",
                       "03/05/2024 09:07:03", "-", "88 00 00 01 00 00 00 00 "}));
  EXPECT_EQ(r.monitor->list().row(1)[kProtocol], "TCP(DL)");
  EXPECT_EQ(r.monitor->list().row(1)[kAddress2], "2001:db8::99");
  EXPECT_EQ(cell_colour_key(kAddress2, "2001:db8::99"), shared::ColourKey::IpAddr);

  // The packet log carries the rows in the IPv4 format.
  logging::EntryValues values;
  logging::LogSource& log = r.monitor->log_source();
  ASSERT_TRUE(log.fill(logging::LogKind::Packet, "$IP_PACKET$", values));
  EXPECT_EQ(values.get("$IP_PACKET$"),
            "fe80::1 fe80::1 34816 fe80::2 fe80::2 1 48 64 ICMP6(UL) 03/05/2024 09:07:03 - 88 00 00 01 00 00 00 00 \n"
            "fd00:23::1 fd00:23::1 40000 2001:db8::99 2001:db8::99 443 56 64 TCP(DL) 03/05/2024 09:07:03 - "
            "00 00 00 02 50 10 00 00 ");
}

TEST(PacketMonitor6, SettingsReadTheSharedSwitch) {
  platform::FakeFileStore files;
  settings::Profile profile(files, "/p.ini");
  EXPECT_TRUE(load_packet_settings(profile).ipv6);
  profile.write_int(settings::kSettingsSection, settings::kIpv6Key, 0);
  EXPECT_FALSE(load_packet_settings(profile).ipv6);
  // Saving the monitor's keys never writes the shell's switch.
  PacketSettings s;
  save_packet_settings(profile, s);
  EXPECT_EQ(profile.read_int(settings::kSettingsSection, settings::kIpv6Key, 7), 0);
}

}  // namespace
}  // namespace tw::packets
