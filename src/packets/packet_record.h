#pragma once
// The latest-packet record: one decoded IPv4 or IPv6 datagram as the packet
// list shows it. The capture thread writes one record per datagram; the list copies it
// and adds a row when it differs from the copy it showed last.
//
// The record is plain bytes with fixed-size texts and no padding, so that
// "differs" is a byte comparison over every field (identification, sequence
// and acknowledgment included, though the list does not show them) and a
// copy never allocates on the capture thread.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>

namespace tw::packets {

// The longest IPv6 text (45 characters) and its NUL, rounded up so that the
// record has no padding; an IPv4 text needs at most 15.
inline constexpr std::size_t kAddressChars = 48;
inline constexpr std::size_t kHostChars = 128;
inline constexpr std::size_t kProtocolChars = 16;
inline constexpr std::size_t kDataBytes = 256;

// Wall-clock time of decoding, local time, second resolution.
// Trivial like the record it sits in: zero-filled with it.
struct PacketTime {
  std::int32_t year;
  std::int32_t month;
  std::int32_t day;
  std::int32_t hour;
  std::int32_t minute;
  std::int32_t second;
};

struct PacketRecord {
  char address1[kAddressChars];  // local side, dotted decimal or IPv6 text
  char host1[kHostChars];
  std::int32_t port1;
  char address2[kAddressChars];  // remote side
  char host2[kHostChars];
  std::int32_t port2;
  std::int32_t length;           // IP total length (IPv6: 40 + payload length)
  std::int32_t ttl;              // IPv6: the hop limit
  // As stored in the header (network order); IPv6: the fragment header's
  // identification, 0 when there is none.
  std::uint32_t identification;
  // Bytes 4..7 and 8..11 after the IP header (IPv6: after its extension
  // headers), big-endian.
  std::uint32_t sequence;
  std::uint32_t acknowledgment;
  char protocol[kProtocolChars]; // "TCP(UL)", "Unknown(DL)"
  PacketTime time;
  std::int32_t pid;              // owning process, -1 when unknown
  // How many bytes of `data` came from the datagram; the rest is zero.
  std::int32_t data_size;
  std::uint8_t data[kDataBytes];
};

// Every field is part of the comparison, so there must be no padding whose
// bytes would make two equal records differ.
static_assert(std::has_unique_object_representations_v<PacketRecord>);
static_assert(std::is_trivial_v<PacketRecord>);

// A record with every byte zero (empty texts, ports 0).
inline PacketRecord empty_record() {
  PacketRecord r;
  std::memset(&r, 0, sizeof r);
  return r;
}

inline bool same_record(const PacketRecord& a, const PacketRecord& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// A fixed text field as a view up to its first NUL.
template <std::size_t N>
std::string_view field_text(const char (&field)[N]) {
  const void* nul = std::memchr(field, 0, N);
  return std::string_view(field, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - field) : N);
}

// Copies `text` into a fixed text field, cut to fit, the rest zero.
template <std::size_t N>
void set_field_text(char (&field)[N], std::string_view text) {
  const std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
  std::memcpy(field, text.data(), n);
  std::memset(field + n, 0, N - n);
}

}  // namespace tw::packets
