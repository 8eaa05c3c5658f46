#include "base/ip_address.h"

#include <gtest/gtest.h>

namespace tw::net {
namespace {

IpAddress ip(std::string_view t) {
  auto a = parse_ip(t);
  EXPECT_TRUE(a) << t;
  return a.value_or(IpAddress{});
}

TEST(IpAddress, ParsesAndWritesBothFamiliesCanonically) {
  EXPECT_EQ(to_text(ip("192.0.2.1")), "192.0.2.1");
  EXPECT_EQ(ip("192.0.2.1").v4_network(), IpAddress::v4(0x010200c0u).v4_network());  // first octet first in memory
  EXPECT_EQ(to_text(ip("FD00:0:0:0:0:0:0:2")), "fd00::2");
  EXPECT_EQ(to_text(ip("2001:db8:0:0:1:0:0:1")), "2001:db8::1:0:0:1");  // the first of two equal runs
  EXPECT_EQ(to_text(ip("2001:db8:0:1:1:1:1:1")), "2001:db8:0:1:1:1:1:1");  // one zero group stays
  EXPECT_EQ(to_text(ip("::")), "::");
  for (std::string_view bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "01.2.3.4", "[::1]", "fe80::1%eth0", "::1:80:",
                               "1.2.3.4 ", "gggg::1", "1:2:3:4:5:6:7:8:9"})
    EXPECT_FALSE(parse_ip(bad)) << bad;
}

TEST(IpAddress, JoinsPortsWithBracketsForIpv6Only) {
  EXPECT_EQ(with_port(ip("10.0.0.1"), 80), "10.0.0.1:80");
  EXPECT_EQ(with_port(ip("fd00::2"), 5555), "[fd00::2]:5555");
  EXPECT_EQ(with_port(std::string_view("fd00::2"), 0), "[fd00::2]:0");
}

TEST(IpAddress, MappedAddressesBecomeIpv4AndOthersStay) {
  const IpAddress m = unmapped(ip("::ffff:192.0.2.7"));
  EXPECT_TRUE(m.is_v4());
  EXPECT_EQ(m, ip("192.0.2.7"));
  EXPECT_EQ(unmapped(ip("::192.0.2.7")), ip("::192.0.2.7"));  // the old compatible form is no mapping
  EXPECT_EQ(unmapped(ip("fd00::1")), ip("fd00::1"));
}

TEST(IpAddress, ClassifiesPrivateLoopbackAndLinkLocal) {
  for (std::string_view p : {"10.1.2.3", "172.16.0.1", "172.31.255.255", "192.168.1.1", "fd12::1", "fc00::1", "fe80::1",
                             "febf::1"})
    EXPECT_TRUE(is_private(ip(p))) << p;
  for (std::string_view p : {"172.32.0.1", "8.8.8.8", "2001:db8::1", "fec0::1", "::1"}) EXPECT_FALSE(is_private(ip(p))) << p;
  EXPECT_TRUE(is_loopback(ip("127.0.0.5")));
  EXPECT_TRUE(is_loopback(ip("::1")));
  EXPECT_FALSE(is_loopback(ip("::2")));
  EXPECT_TRUE(is_link_local(ip("169.254.9.9")));
  EXPECT_FALSE(is_link_local(ip("fec0::1")));
}

TEST(IpPrefix, ParsesLengthsAndMatchesOnlyItsFamily) {
  auto p = parse_prefix("fd00::/8");
  ASSERT_TRUE(p);
  EXPECT_TRUE(p->contains(ip("fdff::1")));
  EXPECT_FALSE(p->contains(ip("fe00::1")));
  EXPECT_FALSE(p->contains(ip("253.0.0.1")));  // same first byte, other family
  auto odd = parse_prefix("10.0.0.0/9");
  ASSERT_TRUE(odd);
  EXPECT_TRUE(odd->contains(ip("10.127.0.1")));
  EXPECT_FALSE(odd->contains(ip("10.128.0.1")));
  EXPECT_EQ(parse_prefix("fd00::1")->length, 128);
  EXPECT_EQ(parse_prefix("10.0.0.1")->length, 32);
  EXPECT_TRUE(parse_prefix("::/0")->contains(ip("2001:db8::1")));
  for (std::string_view bad : {"10.0.0.0/33", "fd00::/129", "fd00::/", "fd00::/-1", "fd00::/8x", "/8", "10.0.0.0/0008"})
    EXPECT_FALSE(parse_prefix(bad)) << bad;
}

}  // namespace
}  // namespace tw::net
