// What the helper grants: only the machine's own non-loopback addresses for
// a filter or a capture, only connections with a peer left to reset; the
// capture's batches built in place give the very bytes the decoder checks;
// and the administrator message carries its cause as a second line.
#include <gtest/gtest.h>

#include <vector>

#include "base/ip_address.h"
#include "helper/policy.h"
#include "helper/protocol.h"
#include "platform/connection_killer.h"
#include "platform/privileged/sock_destroy.h"

namespace tw::helper {
namespace {

// 10.0.0.1 on eth0 (2), 192.168.1.5 on wlan0 (3), 127.0.0.1 and 127.0.1.1 on lo (1).
const std::vector<MachineAddress> kMachine = {
    {0x7F000001, 1, true}, {0x0A000001, 2, false}, {0xC0A80105, 3, false}, {0x7F000101, 1, true}};

TEST(HelperPolicy, FilterAddressesAreTheMachinesOwnNeverLoopbackOrBroadcast) {
  const std::vector<std::uint32_t> asked = {0xC0A80105, 0x7F000001, 0x00000000, 0xFFFFFFFF,
                                            0x0A000009, 0x0A000001, 0xC0A80105};
  EXPECT_EQ(narrow_filter_addresses(asked, kMachine), (std::vector<std::uint32_t>{0xC0A80105, 0x0A000001}));
  EXPECT_TRUE(narrow_filter_addresses({}, kMachine).empty());
  // An address put on a device by hand that never names a host stays out.
  const std::vector<MachineAddress> odd = {{0xFFFFFFFF, 2, false}, {0x7F000005, 2, false}, {0, 2, false}};
  EXPECT_TRUE(narrow_filter_addresses(std::vector<std::uint32_t>{0xFFFFFFFF, 0x7F000005, 0}, odd).empty());
}

// The machine's global, unique-local, link-local and loopback IPv6 addresses;
// a client asks for them and for others.
TEST(HelperPolicy, Ipv6FilterAddressesAreTheMachinesOwnAndScopedOnesOnlyWhenNamed) {
  auto a = [](std::uint8_t first, std::uint8_t second, std::uint8_t last) {
    net::Ipv6Bytes b{};
    b[0] = first;
    b[1] = second;
    b[15] = last;
    return b;
  };
  const net::Ipv6Bytes global = a(0x20, 0x01, 1), ula = a(0xFD, 0, 1), link = a(0xFE, 0x80, 1), loop = a(0, 0, 1);
  const net::Ipv6Bytes foreign = a(0xFD, 0, 9), multicast = a(0xFF, 0x02, 1), unspecified{};
  const std::vector<MachineAddress6> machine = {
      {loop, 1, true}, {global, 2, false}, {ula, 2, false}, {link, 2, false}, {multicast, 2, false}, {unspecified, 2, false}};
  const std::vector<net::Ipv6Bytes> asked = {foreign, link, ula, loop, global, ula, multicast, unspecified};
  EXPECT_EQ(narrow_filter_addresses6(asked, machine, false, false), (std::vector<net::Ipv6Bytes>{ula, global}));
  EXPECT_EQ(narrow_filter_addresses6(asked, machine, true, false), (std::vector<net::Ipv6Bytes>{ula, loop, global}));
  EXPECT_EQ(narrow_filter_addresses6(asked, machine, false, true), (std::vector<net::Ipv6Bytes>{link, ula, global}));
  // A machine without IPv6: nothing the client says counts.
  EXPECT_TRUE(narrow_filter_addresses6(asked, {}, true, true).empty());
}

TEST(HelperPolicy, CaptureOnlyOnTheDeviceOfANonLoopbackAddress) {
  EXPECT_EQ(capture_device(net::CaptureAddress::ipv4(0x0501A8C0), kMachine), 3u);
  EXPECT_EQ(capture_device(net::CaptureAddress::ipv4(0x0100007F), kMachine), 0u);  // 127.0.0.1
  EXPECT_EQ(capture_device(net::CaptureAddress::ipv4(0x0101007F), kMachine), 0u);  // 127.0.1.1
  EXPECT_EQ(capture_device(net::CaptureAddress::ipv4(0x0900000A), kMachine), 0u);  // another host
  EXPECT_EQ(capture_device(net::CaptureAddress::ipv4(0), kMachine), 0u);
  net::CaptureAddress v6;
  v6.family = net::kFamilyIPv6;
  EXPECT_EQ(capture_device(v6, kMachine), 0u);
}

TEST(HelperPolicy, Ipv6CaptureOnlyOnGlobalOrUniqueLocalAddressesOfTheMachine) {
  const auto bytes = [](const char* text) { return net::parse_ip(text)->bytes; };
  const MachineAddress6 machine[] = {{bytes("::1"), 1, true},         {bytes("fe80::5"), 3, false},
                                     {bytes("2001:db8::5"), 3, false}, {bytes("fd00:23::1"), 4, false},
                                     {bytes("fd00:99::1"), 1, true},   {bytes("ff02::1"), 3, false},
                                     {bytes("fd00:77::1"), 0, false}};
  const auto ask = [&](const char* text) { return capture_device6(net::CaptureAddress::ipv6(bytes(text)), machine); };
  EXPECT_EQ(ask("2001:db8::5"), 3u);
  EXPECT_EQ(ask("fd00:23::1"), 4u);
  EXPECT_EQ(ask("::1"), 0u);          // loopback
  EXPECT_EQ(ask("fe80::5"), 0u);      // link-local: never offered, never granted
  EXPECT_EQ(ask("ff02::1"), 0u);      // multicast
  EXPECT_EQ(ask("fd00:99::1"), 0u);   // on the loopback device
  EXPECT_EQ(ask("fd00:77::1"), 0u);   // no device
  EXPECT_EQ(ask("2001:db8::6"), 0u);  // another host
  EXPECT_EQ(ask("::"), 0u);
  EXPECT_EQ(ask("::ffff:10.0.0.1"), 0u);
  // The family must say IPv6; an IPv4 request never reaches the IPv6 table.
  net::CaptureAddress mislabelled = net::CaptureAddress::ipv6(bytes("2001:db8::5"));
  mislabelled.family = net::kFamilyIPv4;
  EXPECT_EQ(capture_device6(mislabelled, machine), 0u);
}

TEST(HelperPolicy, OnlyConnectionsWithAPeerLeftAreClosed) {
  using platform::TcpState;
  for (TcpState s : {TcpState::Established, TcpState::SynSent, TcpState::SynRecv, TcpState::FinWait1,
                     TcpState::FinWait2, TcpState::CloseWait, TcpState::LastAck, TcpState::Closing})
    EXPECT_TRUE(platform::closable_tcp_state(static_cast<std::uint8_t>(s))) << static_cast<int>(s);
  for (int s : {0, 6, 7, 10, 12, 255}) EXPECT_FALSE(platform::closable_tcp_state(static_cast<std::uint8_t>(s))) << s;
}

TEST(HelperPolicy, AdministratorMessageCarriesItsCauseAsASecondLine) {
  const Error e = platform::needs_administrator("tarnix-helper is not installed: sudo make install", "detail", 2);
  EXPECT_EQ(e.headline, "Please run with administrator privileges.\ntarnix-helper is not installed: sudo make install");
  EXPECT_EQ(platform::administrator_cause(e), "tarnix-helper is not installed: sudo make install");
  EXPECT_EQ(platform::needs_administrator("", "d", 1).headline, platform::kNeedsAdministratorHeadline);
  EXPECT_EQ(platform::administrator_cause(Error{platform::kNeedsAdministratorHeadline, "", 1}), "");
  EXPECT_EQ(platform::administrator_cause(Error{"Something else.\nsecond", "", 1}), "");
}

TEST(CaptureBatch, WrittenInPlaceAsEncodedAndWalkedAsDecoded) {
  CaptureBatchWriter writer(100);
  writer.clear(42);
  const std::vector<std::uint8_t> a = {0x45, 1, 2}, b(60, 7);
  ASSERT_TRUE(writer.fits(a.size()));
  writer.add(a);
  ASSERT_TRUE(writer.fits(b.size()));
  writer.add(b);
  // The payload limit: the fixed part (25 bytes) and 2 + 3 + 2 + 60 are taken.
  EXPECT_TRUE(writer.fits(100 - 25 - 67 - 2));
  EXPECT_FALSE(writer.fits(100 - 25 - 67 - 1));
  EXPECT_FALSE(writer.fits(0));
  const CaptureBatch counts{false, 0, 9, 1, {}};
  const auto frame = writer.finish(counts);

  CaptureBatch whole = counts;
  whole.datagrams = {a, b};
  const std::vector<std::uint8_t> encoded = encode({42, whole});
  EXPECT_EQ(std::vector<std::uint8_t>(frame.begin(), frame.end()), encoded);

  auto view = view_capture_batch(std::span(encoded).subspan(kHeaderSize));
  ASSERT_TRUE(view.ok()) << view.error().message();
  EXPECT_EQ(view->count, 2u);
  EXPECT_EQ(view->kernel_drops, 9u);
  std::vector<std::vector<std::uint8_t>> seen;
  view->for_each([&](std::span<const std::uint8_t> d) { seen.emplace_back(d.begin(), d.end()); });
  EXPECT_EQ(seen, whole.datagrams);

  // A frame that cannot be sent whole is sent as much as fits, in order.
  CaptureBatch big;
  big.datagrams.assign(3, std::vector<std::uint8_t>(65535, 1));
  big.datagrams.insert(big.datagrams.begin(), std::vector<std::uint8_t>{});  // nothing to send
  auto back = decode_frame(encode({1, big}));
  ASSERT_TRUE(back.ok()) << back.error().message();
  EXPECT_EQ(std::get<CaptureBatch>(back->frame.message).datagrams.size(), 1u);

  // The walk never starts on a batch whose sizes do not add up.
  std::vector<std::uint8_t> bad(encoded.begin() + kHeaderSize, encoded.end());
  bad[25] = 0xFF;  // the first datagram claims 255 bytes
  EXPECT_EQ(view_capture_batch(bad).error().detail, "capture batch: wrong size");
  bad[25] = 0;
  bad[26] = 0;
  EXPECT_EQ(view_capture_batch(bad).error().detail, "capture batch: an empty datagram");
  std::vector<std::uint8_t> not_ended(encoded.begin() + kHeaderSize, encoded.end());
  not_ended[1] = 5;  // an errno without an end
  EXPECT_EQ(view_capture_batch(not_ended).error().detail, "capture batch: errno 5");
}

}  // namespace
}  // namespace tw::helper
