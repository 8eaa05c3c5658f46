// Decoding of datagrams: direction, ports whatever the protocol, SSDP, data
// excerpts and the bounds of malformed input; the port filter lists.
#include <gtest/gtest.h>

#include "datagram_builder.h"
#include "packets/packet_decoder.h"
#include "packets/port_filter.h"
#include "platform/fake/fake_reverse_resolver.h"

namespace tw::packets {
namespace {

using test::addr;
using test::Datagram;
using test::ports;

struct Decoded {
  bool ok;
  PacketRecord r;
};

Decoded decode(const std::vector<std::uint8_t>& bytes, const DecodeContext& ctx) {
  Decoded d{false, empty_record()};
  d.ok = decode_datagram(bytes, ctx, d.r);
  return d;
}

DecodeContext local_ctx(const std::vector<std::uint32_t>& locals, std::uint32_t capture) {
  DecodeContext ctx;
  ctx.capture_address = capture;
  ctx.local_addresses = locals;
  return ctx;
}

TEST(PacketDecoder, DirectionPortsAndProtocolTexts) {
  const std::vector<std::uint32_t> locals = {addr("192.168.1.5"), addr("10.0.0.1")};
  const DecodeContext ctx = local_ctx(locals, addr("192.168.1.5"));

  // Outgoing: from a local address; local side first.
  Datagram out{.protocol = 6, .src = "10.0.0.1", .dst = "93.184.216.34",
               .transport = ports(40000, 443, {0, 0, 0, 7, 0, 0, 0, 9})};
  auto d = decode(out.bytes(), ctx);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(field_text(d.r.address1), "10.0.0.1");
  EXPECT_EQ(field_text(d.r.address2), "93.184.216.34");
  EXPECT_EQ(d.r.port1, 40000);
  EXPECT_EQ(d.r.port2, 443);
  EXPECT_EQ(field_text(d.r.protocol), "TCP(UL)");
  EXPECT_EQ(field_text(d.r.host1), "10.0.0.1");  // no host names asked for
  EXPECT_EQ(d.r.sequence, 7u);
  EXPECT_EQ(d.r.acknowledgment, 9u);
  EXPECT_EQ(d.r.length, 32);
  EXPECT_EQ(d.r.ttl, 64);
  EXPECT_EQ(d.r.pid, -1);

  // Incoming: the local side (the destination) first, ports swapped.
  Datagram in{.protocol = 17, .src = "8.8.8.8", .dst = "192.168.1.5", .transport = ports(53, 5353, {0, 12, 0, 0})};
  d = decode(in.bytes(), ctx);
  EXPECT_EQ(field_text(d.r.address1), "192.168.1.5");
  EXPECT_EQ(field_text(d.r.address2), "8.8.8.8");
  EXPECT_EQ(d.r.port1, 5353);
  EXPECT_EQ(d.r.port2, 53);
  EXPECT_EQ(field_text(d.r.protocol), "UDP(DL)");

  // The capture address alone makes a datagram outgoing.
  const DecodeContext bare = local_ctx({}, addr("172.16.0.9"));
  Datagram from_capture{.protocol = 17, .src = "172.16.0.9", .dst = "1.1.1.1", .transport = ports(1, 2)};
  EXPECT_EQ(field_text(decode(from_capture.bytes(), bare).r.protocol), "UDP(UL)");

  // ICMP: the "ports" are type and code, and the checksum.
  Datagram echo{.protocol = 1, .src = "10.0.0.2", .dst = "10.0.0.1", .transport = {8, 0, 0xF7, 0xFF, 0, 1, 0, 1}};
  d = decode(echo.bytes(), ctx);
  EXPECT_EQ(field_text(d.r.protocol), "ICMP(DL)");
  EXPECT_EQ(d.r.port1, 0xF7FF);  // local side: the checksum word
  EXPECT_EQ(d.r.port2, 0x0800);  // remote side: type 8, code 0

  // Unknown protocol numbers say so.
  Datagram odd{.protocol = 47, .src = "10.9.9.9", .dst = "10.0.0.1", .transport = ports(0, 0x0800)};
  EXPECT_EQ(field_text(decode(odd.bytes(), ctx).r.protocol), "Unknown(DL)");
}

TEST(PacketDecoder, SsdpAnnouncementNamesItsSenderFirst) {
  const std::vector<std::uint32_t> locals = {addr("192.168.1.5")};
  const DecodeContext ctx = local_ctx(locals, addr("192.168.1.5"));
  Datagram notify{.protocol = 17, .src = "192.168.1.77", .dst = "239.255.255.250", .transport = ports(1900, 1900)};
  auto d = decode(notify.bytes(), ctx);
  EXPECT_EQ(field_text(d.r.address1), "192.168.1.77");
  EXPECT_EQ(field_text(d.r.address2), "239.255.255.250");
  EXPECT_EQ(field_text(d.r.protocol), "UDP(DL)");
  // A search sent to the group from another port is an ordinary incoming one.
  Datagram search{.protocol = 17, .src = "192.168.1.77", .dst = "239.255.255.250", .transport = ports(50000, 1900)};
  d = decode(search.bytes(), ctx);
  EXPECT_EQ(field_text(d.r.address1), "239.255.255.250");
  EXPECT_EQ(d.r.port1, 1900);
  EXPECT_EQ(d.r.port2, 50000);
}

TEST(PacketDecoder, ProcessesFromFlowKeysAndHostNames) {
  shared::FlowKeyTable keys;
  keys.replace({{shared::tcp_flow_key("10.0.0.1", 40000, "10.0.0.2", 80), 111},
                {shared::tcp_flow_key("0.0.0.0", 22, "10.0.0.3", 5555), 222},
                {shared::udp_flow_key("10.0.0.1", 53), 333}});
  const std::vector<std::uint32_t> locals = {addr("10.0.0.1")};
  DecodeContext ctx = local_ctx(locals, addr("10.0.0.1"));
  ctx.flow_keys = &keys;

  Datagram tcp{.protocol = 6, .src = "10.0.0.2", .dst = "10.0.0.1", .transport = ports(80, 40000)};
  EXPECT_EQ(decode(tcp.bytes(), ctx).r.pid, 111);
  // No exact key: the first key with this remote end.
  Datagram ssh{.protocol = 6, .src = "10.0.0.3", .dst = "10.0.0.1", .transport = ports(5555, 22)};
  EXPECT_EQ(decode(ssh.bytes(), ctx).r.pid, 222);
  Datagram dns{.protocol = 17, .src = "10.0.0.9", .dst = "10.0.0.1", .transport = ports(3000, 53)};
  EXPECT_EQ(decode(dns.bytes(), ctx).r.pid, 333);
  Datagram stranger{.protocol = 17, .src = "10.0.0.9", .dst = "10.0.0.1", .transport = ports(3000, 54)};
  EXPECT_EQ(decode(stranger.bytes(), ctx).r.pid, -1);
  // ICMP never has a process, even when its "ports" match a UDP key.
  Datagram icmp{.protocol = 1, .src = "10.0.0.9", .dst = "10.0.0.1", .transport = ports(0, 53)};
  EXPECT_EQ(decode(icmp.bytes(), ctx).r.pid, -1);

  platform::FakeReverseResolver resolver;
  platform::FakeLookupWorkers workers;
  {
    shared::HostNameCache hosts(resolver, workers);
    ctx.hosts = &hosts;
    ctx.ask_dns = true;
    const auto d = decode(tcp.bytes(), ctx);
    EXPECT_EQ(field_text(d.r.host1), "(10.0.0.1)");
    EXPECT_EQ(field_text(d.r.host2), "(10.0.0.2)");
    workers.run_all();
  }
}

TEST(PacketDecoder, MalformedAndTruncatedDatagramsStayInBounds) {
  const DecodeContext ctx = local_ctx({}, addr("10.0.0.1"));
  EXPECT_FALSE(decode({}, ctx).ok);
  EXPECT_FALSE(decode({0, 1, 2, 3}, ctx).ok);  // a first byte of 0 ends the step

  // One byte: everything beyond it is absent.
  auto d = decode({0x45}, ctx);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(field_text(d.r.address1), "0.0.0.0");
  EXPECT_EQ(d.r.length, 0);
  EXPECT_EQ(d.r.port1, 0);
  EXPECT_EQ(d.r.data_size, 0);

  // A header length reaching past the bytes: ports absent, no data.
  Datagram tcp{.protocol = 6, .src = "10.0.0.2", .dst = "10.0.0.1", .transport = ports(80, 40000)};
  std::vector<std::uint8_t> b = tcp.bytes();
  b[0] = 0x4F;  // 60-byte header in a 24-byte datagram
  d = decode(b, ctx);
  EXPECT_EQ(d.r.port1, 0);
  EXPECT_EQ(d.r.port2, 0);
  EXPECT_EQ(d.r.length, 24);

  // Options move the ports and the data.
  Datagram with_options{.protocol = 17, .src = "10.0.0.2", .dst = "10.0.0.1",
                        .transport = ports(7, 9, {0, 12, 0, 0, 'h', 'i'}), .options = {1, 1, 1, 0}};
  d = decode(with_options.bytes(), ctx);
  EXPECT_EQ(d.r.port1, 9);
  EXPECT_EQ(d.r.port2, 7);
  EXPECT_EQ(d.r.data_size, 10);  // data from the end of the header for UDP
  EXPECT_EQ(d.r.data[8], 'h');
}

TEST(PacketDecoder, DataOffsetsAndTexts) {
  std::vector<std::uint8_t> payload;
  for (int i = 0; i < 300; ++i) payload.push_back(static_cast<std::uint8_t>(i));
  Datagram tcp{.protocol = 6, .src = "10.0.0.2", .dst = "10.0.0.1", .transport = payload};
  DecodeContext ctx = local_ctx({}, addr("10.0.0.1"));
  auto d = decode(tcp.bytes(), ctx);
  EXPECT_EQ(d.r.data[0], 8);  // TCP: 8 bytes past the IP header
  EXPECT_EQ(d.r.data_size, 256);
  ctx.data_as_text = true;
  EXPECT_EQ(decode(tcp.bytes(), ctx).r.data[0], 20);  // 12 more in text mode

  Datagram in_ip{.protocol = 4, .transport = payload};
  ctx.data_as_text = false;
  EXPECT_EQ(decode(in_ip.bytes(), ctx).r.data[0], 20);  // IP in IP: past the inner header

  // Hex: at most 79 bytes, and no more than the total length less 28.
  const std::string hex = data_hex_text(d.r);
  EXPECT_EQ(hex.size(), 79u * 3);
  EXPECT_EQ(hex.substr(0, 9), "08 09 0A ");
  Datagram short_udp{.protocol = 17, .transport = ports(1, 2, {0, 10, 0, 0, 0xAB, 0xCD})};
  d = decode(short_udp.bytes(), ctx);
  EXPECT_EQ(data_hex_text(d.r), "00 01 ");  // 30 - 28 = 2 bytes, from the UDP header on
  d.r.length = 31;
  EXPECT_EQ(data_hex_text(d.r), "00 01 00 ");

  // Text: control characters become blanks, high bytes dots, a NUL ends it,
  // and never more than the datagram gave.
  ctx.data_as_text = true;  // 12 bytes past the IP header
  Datagram text{.protocol = 17, .transport = ports(1, 2, {0, 0, 0, 0, 0, 0, 0, 0, 'G', 'E', 'T', '\r', '\n', 0xE3, 'x', 0, 'y'})};
  d = decode(text.bytes(), ctx);
  EXPECT_EQ(data_plain_text(d.r), "GET  .x");
  d.r.length = 28 + 2;
  EXPECT_EQ(data_plain_text(d.r), "GE");
}

TEST(PacketDecoder, SeveralDatagramsInOneBuffer) {
  const DecodeContext ctx = local_ctx({}, addr("10.0.0.1"));
  Datagram a{.protocol = 17, .src = "10.0.0.2", .dst = "10.0.0.1", .transport = ports(1, 2)};
  Datagram b{.protocol = 6, .src = "10.0.0.3", .dst = "10.0.0.1", .transport = ports(3, 4)};
  std::vector<std::uint8_t> buf = a.bytes();
  const auto bb = b.bytes();
  buf.insert(buf.end(), bb.begin(), bb.end());
  buf.push_back(0);  // zeroed rest of the buffer

  std::vector<std::string> seen;
  PacketRecord scratch = empty_record();
  auto publish = [&](const PacketRecord& r) { seen.push_back(std::string(field_text(r.protocol))); };
  EXPECT_EQ(decode_buffer(buf, ctx, scratch, publish), 2u);
  EXPECT_EQ(seen, (std::vector<std::string>{"UDP(DL)", "TCP(DL)"}));

  // A stop between them ends the step.
  seen.clear();
  EXPECT_EQ(decode_buffer(buf, ctx, scratch, publish, [] { return false; }), 1u);
  // A total length of 0 takes the rest as one datagram (no endless loop).
  buf[2] = buf[3] = 0;
  seen.clear();
  EXPECT_EQ(decode_buffer(buf, ctx, scratch, publish), 1u);
}

TEST(PortFilter, ListsRangesAndExclusion) {
  EXPECT_EQ(parse_port_list("0;"), (std::vector<PortRange>{{0, 0}}));
  EXPECT_EQ(parse_port_list("1024-65535;"), (std::vector<PortRange>{{1024, 65535}}));
  EXPECT_EQ(parse_port_list("80,443; 9000-8000;x;;7-"), (std::vector<PortRange>{{80, 80}, {443, 443}, {8000, 9000}, {7, 7}}));
  EXPECT_EQ(parse_port_list("99999999999-1"), (std::vector<PortRange>{{1, 2147483647}}));
  EXPECT_TRUE(parse_port_list("").empty());

  const PortFilter defaults("0;", "1024-65535;");
  EXPECT_TRUE(defaults.excludes(80, 1024));   // remote port 1024 and above
  EXPECT_TRUE(defaults.excludes(80, 65535));
  EXPECT_FALSE(defaults.excludes(80, 1023));
  EXPECT_TRUE(defaults.excludes(0, 80));      // local port 0
  EXPECT_FALSE(PortFilter("", "").excludes(0, 0));
}

}  // namespace
}  // namespace tw::packets
