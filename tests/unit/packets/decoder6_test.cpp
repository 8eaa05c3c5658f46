// Decoding of IPv6 datagrams: direction and texts, the walk over extension
// headers, fragments, truncations at every length, and the address texts.
#include <gtest/gtest.h>

#include <random>

#include "datagram_builder.h"
#include "packets/packet_decoder.h"

namespace tw::packets {
namespace {

using test::addr6;
using test::auth_header;
using test::Datagram6;
using test::fragment_header;
using test::options_header;
using test::ports;

struct Ctx6 {
  std::vector<Ipv6Bytes> own;
  DecodeContext ctx;
  explicit Ctx6(std::string_view capture = "fd00::1", std::vector<std::string_view> own_texts = {"fe80::1"}) {
    for (const auto t : own_texts) own.push_back(addr6(t));
    ctx.ipv6 = true;
    ctx.capture_address6 = addr6(capture);
    ctx.local_addresses6 = own;
  }
};

PacketRecord decode6(const std::vector<std::uint8_t>& bytes, const DecodeContext& ctx) {
  PacketRecord r = empty_record();
  EXPECT_TRUE(decode_datagram(bytes, ctx, r));
  return r;
}

TEST(PacketDecoder6, DirectionPortsAndTexts) {
  const Ctx6 c;
  // Outgoing TCP from the capture address: local side first.
  Datagram6 out{.protocol = 6, .src = "fd00::1", .dst = "2001:db8::a:0:0:1",
                .transport = ports(40000, 443, {0, 0, 0, 7, 0, 0, 0, 9}), .hop_limit = 33};
  PacketRecord r = decode6(out.bytes(), c.ctx);
  EXPECT_EQ(field_text(r.address1), "fd00::1");
  EXPECT_EQ(field_text(r.address2), "2001:db8::a:0:0:1");
  EXPECT_EQ(field_text(r.host1), "fd00::1");
  EXPECT_EQ(r.port1, 40000);
  EXPECT_EQ(r.port2, 443);
  EXPECT_EQ(field_text(r.protocol), "TCP(UL)");
  EXPECT_EQ(r.length, 40 + 12);
  EXPECT_EQ(r.ttl, 33);
  EXPECT_EQ(r.sequence, 7u);
  EXPECT_EQ(r.acknowledgment, 9u);
  EXPECT_EQ(r.identification, 0u);
  EXPECT_EQ(r.data_size, 4);  // TCP: 8 bytes past the upper-layer header's start

  // Incoming UDP: the destination first, ports swapped.
  Datagram6 in{.protocol = 17, .src = "2001:db8::53", .dst = "fd00::1", .transport = ports(53, 5353, {0, 8, 0, 0})};
  r = decode6(in.bytes(), c.ctx);
  EXPECT_EQ(field_text(r.address1), "fd00::1");
  EXPECT_EQ(field_text(r.address2), "2001:db8::53");
  EXPECT_EQ(r.port1, 5353);
  EXPECT_EQ(r.port2, 53);
  EXPECT_EQ(field_text(r.protocol), "UDP(DL)");

  // ICMPv6 from the machine's own link-local address (neighbour discovery)
  // is outgoing; its "ports" are type and code, and the checksum.
  Datagram6 ns{.protocol = 58, .src = "fe80::1", .dst = "ff02::1:ff00:2", .transport = {135, 0, 0x12, 0x34, 0, 0, 0, 0}};
  r = decode6(ns.bytes(), c.ctx);
  EXPECT_EQ(field_text(r.protocol), "ICMP6(UL)");
  EXPECT_EQ(r.port1, 135 << 8);
  EXPECT_EQ(r.port2, 0x1234);
  EXPECT_EQ(field_text(r.address2), "ff02::1:ff00:2");

  // SSDP to ff02::c from port 1900 names its sender first.
  Datagram6 notify{.protocol = 17, .src = "fe80::77", .dst = "ff02::c", .transport = ports(1900, 1900)};
  r = decode6(notify.bytes(), c.ctx);
  EXPECT_EQ(field_text(r.address1), "fe80::77");
  EXPECT_EQ(field_text(r.protocol), "UDP(DL)");

  // Process ids from flow keys with IPv6 texts.
  shared::FlowKeyTable keys;
  keys.replace({{shared::tcp_flow_key("fd00::1", 40000, "2001:db8::a:0:0:1", 443), 77},
                {shared::udp_flow_key("fd00::1", 5353), 78}});
  DecodeContext with_keys = c.ctx;
  with_keys.flow_keys = &keys;
  EXPECT_EQ(decode6(out.bytes(), with_keys).pid, 77);
  EXPECT_EQ(decode6(in.bytes(), with_keys).pid, 78);

  // An IPv4 capture decodes every datagram as IPv4, as it always has.
  DecodeContext v4;
  r = decode6(out.bytes(), v4);
  EXPECT_EQ(field_text(r.address1).find(':'), std::string_view::npos);
}

TEST(PacketDecoder6, ExtensionHeaderChainsAndFragments) {
  const Ctx6 c;
  // Hop-by-hop, routing, destination options (two units) and AH, then UDP.
  Datagram6 chain{.protocol = 17, .src = "2001:db8::9", .dst = "fd00::1",
                  .extensions = {options_header(0), options_header(43), options_header(60, 2), auth_header(3)},
                  .transport = ports(7, 9, {0, 8, 0, 0})};
  PacketRecord r = decode6(chain.bytes(), c.ctx);
  EXPECT_EQ(field_text(r.protocol), "UDP(DL)");
  EXPECT_EQ(r.port1, 9);
  EXPECT_EQ(r.port2, 7);
  EXPECT_EQ(r.length, static_cast<int>(chain.bytes().size()));

  // The first fragment has the ports; its identification is the fragment's.
  Datagram6 first{.protocol = 17, .src = "2001:db8::9", .dst = "fd00::1",
                  .extensions = {fragment_header(0, true, 0xCAFE)}, .transport = ports(7, 9, {1, 0, 0, 0})};
  r = decode6(first.bytes(), c.ctx);
  EXPECT_EQ(r.port1, 9);
  EXPECT_EQ(r.port2, 7);
  std::uint32_t id;
  const std::uint8_t id_bytes[4] = {0, 0, 0xCA, 0xFE};
  std::memcpy(&id, id_bytes, 4);
  EXPECT_EQ(r.identification, id);
  // A later fragment continues the UDP datagram: no ports.
  Datagram6 later{.protocol = 17, .src = "2001:db8::9", .dst = "fd00::1",
                  .extensions = {options_header(0), fragment_header(185, false, 0xCAFE)}, .transport = ports(7, 9)};
  r = decode6(later.bytes(), c.ctx);
  EXPECT_EQ(field_text(r.protocol), "UDP(DL)");
  EXPECT_EQ(r.port1, 0);
  EXPECT_EQ(r.port2, 0);
  EXPECT_EQ(r.sequence, 0u);

  // ESP and "no next header" end the walk on themselves.
  Datagram6 esp{.protocol = 50, .src = "2001:db8::9", .dst = "fd00::1", .extensions = {options_header(60)},
                .transport = {0, 0, 1, 0, 0, 0, 0, 1}};
  r = decode6(esp.bytes(), c.ctx);
  EXPECT_EQ(field_text(r.protocol), "Unknown(DL)");
  EXPECT_EQ(r.port2, 0);
  EXPECT_EQ(r.port1, 0x100);  // the SPI's words, as any protocol's first words
  Datagram6 none{.protocol = 59, .src = "2001:db8::9", .dst = "fd00::1"};
  r = decode6(none.bytes(), c.ctx);
  EXPECT_EQ(field_text(r.protocol), "Unknown(DL)");
  EXPECT_EQ(r.port1, 0);

  // A chain of nothing but destination options ends within the bytes.
  Datagram6 endless{.protocol = 60, .src = "2001:db8::9", .dst = "fd00::1"};
  for (int i = 0; i < 200; ++i) endless.extensions.push_back(options_header(60));
  r = decode6(endless.bytes(), c.ctx);
  EXPECT_EQ(r.port1, 0);
  EXPECT_EQ(r.port2, 0);
}

TEST(PacketDecoder6, TruncatedAtEveryLength) {
  const Ctx6 c;
  Datagram6 chain{.protocol = 6, .src = "2001:db8::9", .dst = "fd00::1",
                  .extensions = {options_header(0, 3), fragment_header(0, true, 1), auth_header(2)},
                  .transport = ports(443, 40000, {0, 0, 0, 1, 0, 0, 0, 2, 'd', 'a', 't', 'a'})};
  const std::vector<std::uint8_t> whole = chain.bytes();
  const std::size_t upper = whole.size() - 16;
  for (std::size_t n = 1; n <= whole.size(); ++n) {
    const std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
    const PacketRecord r = decode6(cut, c.ctx);
    // The length is the header's word whatever arrived.
    if (n >= 6) {
      EXPECT_EQ(r.length, static_cast<int>(whole.size())) << n;
    }
    if (n < upper) {
      // An extension header cut off: the walk stops on it, no ports.
      EXPECT_EQ(r.port1, 0) << n;
      EXPECT_EQ(r.port2, 0) << n;
    } else if (n >= upper + 4) {
      EXPECT_EQ(r.port1, 40000) << n;
      EXPECT_EQ(r.port2, 443) << n;
    }
    EXPECT_LE(r.data_size, static_cast<int>(n));
  }
  // A hop-by-hop header that claims more than the datagram holds.
  std::vector<std::uint8_t> liar = Datagram6{.protocol = 17, .extensions = {options_header(0)},
                                             .transport = ports(1, 2)}.bytes();
  liar[41] = 0xFF;
  EXPECT_EQ(decode6(liar, c.ctx).port1, 0);
}

TEST(PacketDecoder6, SeveralDatagramsInOneBuffer) {
  const Ctx6 c;
  Datagram6 a{.protocol = 17, .src = "fd00::2", .dst = "fd00::1", .transport = ports(1, 2)};
  Datagram6 b{.protocol = 58, .src = "fd00::2", .dst = "fd00::1", .transport = {128, 0, 0, 0}};
  std::vector<std::uint8_t> buf = a.bytes();
  const auto bb = b.bytes();
  buf.insert(buf.end(), bb.begin(), bb.end());
  std::vector<std::string> seen;
  PacketRecord scratch = empty_record();
  auto publish = [&](const PacketRecord& r) { seen.push_back(std::string(field_text(r.protocol))); };
  EXPECT_EQ(decode_buffer(buf, c.ctx, scratch, publish), 2u);
  EXPECT_EQ(seen, (std::vector<std::string>{"UDP(DL)", "ICMP6(DL)"}));
  // A payload length of 0 (a jumbogram) takes the rest as one.
  buf[4] = buf[5] = 0;
  seen.clear();
  EXPECT_EQ(decode_buffer(buf, c.ctx, scratch, publish), 1u);
}

TEST(PacketDecoder6, AddressTextsAsTheSystemWritesThem) {
  const auto same = [](const Ipv6Bytes& b) {
    char text[kAddressChars];
    const std::size_t n = write_ipv6_address(text, b);
    return std::string(text, n) == net::to_text(net::IpAddress::v6(b));
  };
  for (const char* t : {"::", "::1", "::2", "1::", "fd00::", "::ffff:10.0.0.1", "::10.0.0.1", "::ffff:0:1",
                        "1:0:0:2::3", "1:0:2:0:3:0:4:0", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "fe80::1:0:0:0",
                        "2001:db8:0:1:0:0:0:1", "::ffff:255.255.255.255", "0:0:0:0:0:1:0:0"})
    EXPECT_TRUE(same(addr6(t))) << t;
  // Mostly-zero words, where compression and the IPv4 tails are decided.
  std::mt19937 gen(23);
  for (int i = 0; i < 20000; ++i) {
    Ipv6Bytes b{};
    for (std::size_t w = 0; w < 8; ++w) {
      const auto pick = gen() % 4;
      const auto v = pick == 0 ? 0 : pick == 1 ? 0xffff : pick == 2 ? gen() % 16 : gen();
      b[2 * w] = static_cast<std::uint8_t>(v >> 8), b[2 * w + 1] = static_cast<std::uint8_t>(v);
      if (gen() % 2) b[2 * w] = b[2 * w + 1] = 0;
    }
    ASSERT_TRUE(same(b)) << net::to_text(net::IpAddress::v6(b));
  }
}

}  // namespace
}  // namespace tw::packets
