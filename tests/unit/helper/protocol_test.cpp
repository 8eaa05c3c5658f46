// The helper's message format: what it encodes decodes back, the bytes on the
// wire stay as documented, and every kind of damaged or hostile frame is
// refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "helper/protocol.h"

namespace tw::helper {
namespace {

using Bytes = std::vector<std::uint8_t>;

DiagSocketId ipv4_connection() {
  DiagSocketId id;
  id.src = {10, 0, 0, 1};
  id.dst = {192, 168, 1, 20};
  id.src_port = 40000;
  id.dst_port = 443;
  id.interface = 3;
  id.cookie = 0x0123456789abcdefULL;
  return id;
}

Bytes frame_bytes(std::uint16_t type, const Bytes& payload, std::uint32_t id = 7) {
  Bytes out{'T', 'W', 'H', 'P', kVersion, 0, static_cast<std::uint8_t>(type), static_cast<std::uint8_t>(type >> 8)};
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(id >> (8 * i)));
  const auto n = static_cast<std::uint32_t>(payload.size());
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

std::string refusal(const Bytes& bytes) {
  auto r = decode_frame(bytes);
  if (r.ok()) return "accepted";
  EXPECT_EQ(r.error().errno_value, EBADMSG);
  return r.error().detail;
}

TEST(HelperProtocol, EveryMessageRoundTrips) {
  const std::vector<Frame> frames = {
      {1, Hello{}},
      {2, HelloReply{0x3000}},
      {3, DestroySocket{ipv4_connection()}},
      {4, DestroySocketReply{}},
      {4, DestroySocketReply{true}},
      {5, StartCapture{net::CaptureAddress::ipv4(0x0100E70A)}},
      {6, StartCaptureReply{7}},
      {7, StopCapture{}},
      {8, StopCaptureReply{{123456789012ULL, 3, 4}}},
      {9, CaptureBatch{}},
      {9, CaptureBatch{true, 100, 5, 6, {{0x45, 0, 0, 20}, std::vector<std::uint8_t>(65535, 0xAB), {1}}}},
      {0xffffffff, ErrorReply{Error{"Please run with administrator privileges.", "détail: ünïcode", 1}}},
      {5, ApplyFilter{}},
      {6, ApplyFilter{net::FilterSet{{0x0A000001, 0xC0A80105},
                                          {{0, 0, 0x0A000002, 0xFFFFFFFF, 6, 0, 0, 80, 90},
                                           {0x0A000000, 0xFFFFFFF0, 0, 0, 1, 8, 8, 255, 255}}}}},
      {7, ApplyFilterReply{}},
      {8, RemoveFilter{}},
      {9, RemoveFilterReply{}},
  };
  for (const Frame& f : frames) {
    const Bytes bytes = encode(f);
    auto back = decode_frame(bytes);
    ASSERT_TRUE(back.ok()) << back.error().message();
    EXPECT_EQ(back->frame, f);
    EXPECT_EQ(back->size, bytes.size());
  }

  DestroySocket v6{ipv4_connection()};
  v6.id.family = kFamilyIPv6;
  v6.id.protocol = kProtocolUdp;
  v6.id.src[15] = 1;  // the rest of an IPv6 address is allowed
  EXPECT_EQ(decode_frame(encode({9, v6}))->frame.message, Message{v6});
}

TEST(HelperProtocol, WireLayoutIsLittleEndianAndFixed) {
  // A frame format change breaks an installed helper of another version, so
  // it has to be deliberate.
  EXPECT_EQ(encode({0x04030201, Hello{}}), (Bytes{'T', 'W', 'H', 'P', 2, 0, 1, 0, 1, 2, 3, 4, 0, 0, 0, 0}));
  const Bytes destroy = encode({1, DestroySocket{ipv4_connection()}});
  ASSERT_EQ(destroy.size(), kHeaderSize + 50);
  EXPECT_EQ(destroy[12], 50);
  EXPECT_EQ(destroy[16], 2);                           // AF_INET
  EXPECT_EQ(destroy[17], 6);                           // IPPROTO_TCP
  EXPECT_EQ(Bytes(destroy.begin() + 18, destroy.begin() + 22), (Bytes{10, 0, 0, 1}));
  EXPECT_EQ(destroy[50], 0x40);                        // 40000 = 0x9c40, low byte first
  EXPECT_EQ(destroy[51], 0x9c);
  EXPECT_EQ(destroy[58], 0xef);                        // cookie, low byte first
}

TEST(HelperProtocol, EncodingKeepsTextsAndErrnoWithinWhatDecodes) {
  // 1023 ASCII bytes and a two-byte character across the limit: the cut
  // falls before the character, never inside it.
  const std::string detail = std::string(kMaxText - 1, 'x') + "é" + "tail";
  const Bytes bytes = encode({1, ErrorReply{Error{"headline", detail, 99999}}});
  auto back = decode_frame(bytes);
  ASSERT_TRUE(back.ok()) << back.error().message();
  const Error& e = std::get<ErrorReply>(back->frame.message).error;
  EXPECT_EQ(e.detail, std::string(kMaxText - 1, 'x'));
  EXPECT_EQ(e.errno_value, EIO);
}

TEST(HelperProtocol, DecodesOneFrameAndLeavesTheRest) {
  Bytes two = encode({1, Hello{}});
  const Bytes second = encode({2, HelloReply{5}});
  two.insert(two.end(), second.begin(), second.end());
  auto first = decode_frame(two);
  ASSERT_TRUE(first.ok());
  EXPECT_EQ(first->size, kHeaderSize);
  auto next = decode_frame(std::span(two).subspan(first->size));
  ASSERT_TRUE(next.ok());
  EXPECT_EQ(next->frame, (Frame{2, HelloReply{5}}));
}

TEST(HelperProtocol, RefusesDamagedHeaders) {
  const Bytes good = encode({1, Hello{}});
  EXPECT_NE(refusal(Bytes(good.begin(), good.end() - 1)), "accepted");  // 15 bytes

  Bytes magic = good;
  magic[3] = 'Q';
  EXPECT_EQ(refusal(magic), "header: wrong magic");

  Bytes version = good;
  version[4] = 1;  // the version that handed the capture socket over
  EXPECT_EQ(refusal(version), "header: version 1, expected 2");

  Bytes huge = frame_bytes(1, {});
  huge[12] = 0x01;
  huge[14] = 0x02;  // 0x20001 bytes: above the limit, refused before anything is read
  EXPECT_EQ(refusal(huge), "header: payload of 131073 bytes");

  Bytes cut = encode({1, DestroySocket{ipv4_connection()}});
  cut.pop_back();
  EXPECT_EQ(refusal(cut), "frame: payload of 50 bytes, 49 at hand");
}

TEST(HelperProtocol, RefusesPayloadsThatAreNotExactlyAMessage) {
  EXPECT_EQ(refusal(frame_bytes(0, {})), "unknown message type 0");
  EXPECT_EQ(refusal(frame_bytes(10, {})), "unknown message type 10");
  EXPECT_EQ(refusal(frame_bytes(1, {0})), "hello: unexpected payload");
  EXPECT_EQ(refusal(frame_bytes(4, {})), "destroy reply: wrong size or flags");
  EXPECT_EQ(refusal(frame_bytes(2, Bytes(7, 0))), "hello reply: wrong size");
  EXPECT_EQ(refusal(frame_bytes(2, Bytes(9, 0))), "hello reply: wrong size");
  // The capture socket is never handed over any more: its old messages are
  // unknown.
  EXPECT_EQ(refusal(frame_bytes(20, Bytes(4, 0))), "unknown message type 20");
  EXPECT_EQ(refusal(frame_bytes(21, {})), "unknown message type 21");
  EXPECT_EQ(refusal(frame_bytes(4, {2})), "destroy reply: wrong size or flags");
  EXPECT_EQ(refusal(frame_bytes(24, {0})), "stop capture: unexpected payload");
  EXPECT_EQ(refusal(frame_bytes(25, Bytes(23, 0))), "stop capture reply: wrong size");
  EXPECT_EQ(refusal(frame_bytes(23, Bytes(4, 0))), "start capture reply: no interface");
  Bytes start(17, 0);
  EXPECT_EQ(refusal(frame_bytes(22, Bytes(16, 0))), "start capture: wrong size");
  EXPECT_EQ(refusal(frame_bytes(22, start)), "start capture: unknown address family 0");
  start[0] = kFamilyIPv4;
  start[1 + 4] = 1;
  EXPECT_EQ(refusal(frame_bytes(22, start)), "start capture: an IPv4 address with bytes beyond its fourth");

  const Bytes full = encode({1, DestroySocket{ipv4_connection()}});
  const Bytes id(full.begin() + kHeaderSize, full.end());
  auto with = [&id](std::size_t at, std::uint8_t value) {
    Bytes p = id;
    p[at] = value;
    return frame_bytes(3, p);
  };
  EXPECT_EQ(refusal(with(0, 3)), "socket id: unknown address family 3");
  EXPECT_EQ(refusal(with(1, 1)), "socket id: unknown protocol 1");
  EXPECT_EQ(refusal(with(2 + 4, 1)), "socket id: an IPv4 address with bytes beyond its fourth");       // local
  EXPECT_EQ(refusal(with(2 + 16 + 15, 1)), "socket id: an IPv4 address with bytes beyond its fourth");  // remote
  EXPECT_EQ(refusal(frame_bytes(3, Bytes(id.begin(), id.end() - 1))), "socket id: wrong size");
  Bytes longer = id;
  longer.push_back(0);
  EXPECT_EQ(refusal(frame_bytes(3, longer)), "socket id: wrong size");

  // Filter sets: counts within the limits, known protocols, exact sizes.
  auto u32 = [](Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  Bytes counts{kFamilyIPv4};
  u32(counts, 1025);
  u32(counts, 0);
  EXPECT_EQ(refusal(frame_bytes(6, counts)), "filter set: 1025 addresses, 0 filters");
  counts = {kFamilyIPv4};
  u32(counts, 0);
  u32(counts, 2001);
  EXPECT_EQ(refusal(frame_bytes(6, counts)), "filter set: 0 addresses, 2001 filters");
  counts = {kFamilyIPv6};
  u32(counts, 0);
  u32(counts, 0);
  EXPECT_EQ(refusal(frame_bytes(6, counts)), "filter set: address family 10");
  const Bytes set = encode({1, ApplyFilter{net::FilterSet{{1}, {{0, 0, 0, 0, 17, 1, 2, 3, 4}}}}});
  Bytes payload(set.begin() + kHeaderSize, set.end());
  EXPECT_EQ(refusal(frame_bytes(6, Bytes(payload.begin(), payload.end() - 1))), "filter set: wrong size");
  payload.push_back(0);
  EXPECT_EQ(refusal(frame_bytes(6, payload)), "filter set: wrong size");
  payload.pop_back();
  payload[1 + 4 + 4 + 4 + 16] = 2;  // IGMP
  EXPECT_EQ(refusal(frame_bytes(6, payload)), "filter set: protocol 2");
  EXPECT_EQ(refusal(frame_bytes(8, {0})), "filter removal: unexpected payload");

  // Error replies: errno (4 bytes), then two texts of a 2-byte size and bytes.
  auto error_reply = [](std::uint32_t err, std::uint16_t len1, std::size_t bytes1, std::size_t extra) {
    Bytes p{static_cast<std::uint8_t>(err), static_cast<std::uint8_t>(err >> 8), 0, 0,
            static_cast<std::uint8_t>(len1), static_cast<std::uint8_t>(len1 >> 8)};
    p.insert(p.end(), bytes1, 'h');
    p.insert(p.end(), {0, 0});  // empty detail
    p.insert(p.end(), extra, 0);
    return frame_bytes(5, p);
  };
  EXPECT_EQ(refusal(error_reply(4095, 3, 3, 0)), "accepted");
  EXPECT_EQ(refusal(error_reply(4096, 3, 3, 0)), "error reply: errno 4096 out of range");
  EXPECT_EQ(refusal(error_reply(1, kMaxText + 1, kMaxText + 1, 0)), "error reply: wrong size");
  EXPECT_EQ(refusal(error_reply(1, 60000, 3, 0)), "error reply: wrong size");  // size beyond the payload
  EXPECT_EQ(refusal(error_reply(1, 3, 3, 1)), "error reply: wrong size");      // a trailing byte
}

}  // namespace
}  // namespace tw::helper
