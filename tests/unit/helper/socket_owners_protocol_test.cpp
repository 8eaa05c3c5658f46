// The socket-owner messages of the helper's format: they round-trip, the
// encoder only ever sends their canonical form (so the strict decoder never
// refuses what a correct side sent), and damaged or hostile payloads are
// refused before anything large is allocated.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "helper/protocol.h"

namespace tw::helper {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes frame_bytes(std::uint16_t type, const Bytes& payload) {
  Bytes out{'T', 'W', 'H', 'P', kVersion, 0, static_cast<std::uint8_t>(type), static_cast<std::uint8_t>(type >> 8), 7, 0, 0, 0};
  const auto n = static_cast<std::uint32_t>(payload.size());
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

void put(Bytes& b, std::uint64_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::string refusal(const Bytes& bytes) {
  auto r = decode_frame(bytes);
  return r.ok() ? "accepted" : r.error().detail;
}

Message round_trip(const Message& m) {
  auto back = decode_frame(encode({3, m}));
  EXPECT_TRUE(back.ok()) << back.error().message();
  return back.ok() ? back->frame.message : Message{Hello{}};
}

TEST(SocketOwnersMessages, RoundTripInCanonicalForm) {
  const SocketOwners ask{{5, 9, 1234567890123ULL}};
  EXPECT_EQ(round_trip(ask), Message{ask});
  EXPECT_EQ(round_trip(SocketOwners{}), Message{SocketOwners{}});  // every socket

  const SocketOwnersReply reply{false, {{5, 100, "nginx"}, {9, 2147483647, ""}, {77, 3, "日本語"}}};
  EXPECT_EQ(round_trip(reply), Message{reply});

  // What a sloppy caller hands the encoder goes out put right: sorted, each
  // inode once, no 0; owners sorted with the first of each inode kept,
  // impossible pids dropped, names cut at a character boundary.
  EXPECT_EQ(round_trip(SocketOwners{{9, 0, 5, 9}}), Message{(SocketOwners{{5, 9}})});
  const SocketOwnersReply sloppy{false,
                                 {{9, 1, "b"}, {5, 2, "a"}, {9, 4, "c"}, {6, 0, "x"}, {7, 0x80000000u, "y"},
                                  {8, 5, "fifteen-bytes-and-more"}, {10, 6, "12345678901234é"}}};
  EXPECT_EQ(round_trip(sloppy),
            Message{(SocketOwnersReply{
                false, {{5, 2, "a"}, {8, 5, "fifteen-bytes-a"}, {9, 1, "b"}, {10, 6, "12345678901234"}}})});
}

TEST(SocketOwnersMessages, ListsAreCutAtTheirLimitsAndStillFitAFrame) {
  SocketOwners many;
  for (std::uint64_t i = 1; i <= kMaxOwnerQueries + 10; ++i) many.inodes.push_back(i);
  const auto ask = std::get<SocketOwners>(round_trip(many));
  EXPECT_EQ(ask.inodes.size(), kMaxOwnerQueries);

  SocketOwnersReply full;
  for (std::uint64_t i = 1; i <= kMaxOwners + 1; ++i) full.owners.push_back({i, 1, std::string(20, 'n')});
  const Bytes bytes = encode({1, full});
  EXPECT_LE(bytes.size() - kHeaderSize, kMaxPayload);
  const auto back = std::get<SocketOwnersReply>(decode_frame(bytes)->frame.message);
  EXPECT_EQ(back.owners.size(), kMaxOwners);
  EXPECT_TRUE(back.truncated);
}

TEST(SocketOwnersMessages, RefusesWhatIsNotCanonicalOrDoesNotFit) {
  auto request = [](std::uint32_t count, std::vector<std::uint64_t> inodes) {
    Bytes p;
    put(p, count, 4);
    for (auto i : inodes) put(p, i, 8);
    return frame_bytes(16, p);
  };
  EXPECT_EQ(refusal(request(2, {3, 4})), "accepted");
  EXPECT_EQ(refusal(request(2, {4, 3})), "socket owners: inodes not ascending and nonzero");
  EXPECT_EQ(refusal(request(1, {0})), "socket owners: inodes not ascending and nonzero");
  EXPECT_EQ(refusal(request(3, {3, 4})), "socket owners: wrong size");
  EXPECT_EQ(refusal(request(0xffffffff, {})), "socket owners: 4294967295 inodes");

  struct Entry {
    std::uint64_t inode;
    std::uint32_t pid;
    std::string name;
  };
  auto reply = [](std::uint8_t flags, std::uint32_t count, std::vector<Entry> entries, std::size_t extra = 0) {
    Bytes p{flags};
    put(p, count, 4);
    for (const auto& e : entries) {
      put(p, e.inode, 8);
      put(p, e.pid, 4);
      p.push_back(static_cast<std::uint8_t>(e.name.size()));
      p.insert(p.end(), e.name.begin(), e.name.end());
    }
    p.insert(p.end(), extra, 0);
    return frame_bytes(17, p);
  };
  EXPECT_EQ(refusal(reply(0, 1, {{3, 10, "ok"}})), "accepted");
  EXPECT_EQ(refusal(reply(2, 1, {{3, 10, "ok"}})), "socket owners reply: wrong size or flags");
  EXPECT_EQ(refusal(reply(0, 1, {{3, 0x80000000u, ""}})), "socket owners reply: pid 2147483648");
  EXPECT_EQ(refusal(reply(0, 2, {{3, 1, ""}, {3, 2, ""}})), "socket owners reply: inodes not ascending and nonzero");
  EXPECT_EQ(refusal(reply(0, 1, {{3, 1, std::string(16, 'x')}})), "socket owners reply: wrong size");
  EXPECT_EQ(refusal(reply(0, 1, {{3, 1, "ok"}}, 1)), "socket owners reply: wrong size");
  // A count the payload could never hold is refused before the list is made.
  EXPECT_EQ(refusal(reply(0, 4000, {})), "socket owners reply: wrong size");
  EXPECT_EQ(refusal(reply(0, 5000, {})), "socket owners reply: 5000 owners");
}

}  // namespace
}  // namespace tw::helper
