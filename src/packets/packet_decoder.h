#pragma once
// Decoding of captured IPv4 and IPv6 datagrams into the latest-packet record.
//
// A datagram is read where its header says, but never beyond the bytes that
// were received: a field that would lie beyond them counts as absent (zero).
// Malformed datagrams are decoded as far as they go, never rejected.
//
// An IPv6 datagram fills the same fields: its extension headers (hop-by-hop,
// routing, fragment, destination options, AH) are skipped to the upper-layer
// header, whose first two words are the ports whatever the protocol, as for
// IPv4. The walk stops at ESP or "no next header" (nothing readable follows),
// at a header cut off by the end of the bytes (no ports then), and at a
// fragment header of a fragment other than the first (its bytes continue an
// upper-layer header that came earlier: no ports either). Length is 40 plus
// the payload length, TTL the hop limit, and protocol 58 reads "ICMP6".
//
// Threads: decode_* run on the capture thread. The flow key table and the
// host-name cache take their own locks.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "packets/packet_record.h"
#include "shared/flow_keys.h"
#include "shared/host_names.h"

namespace tw::packets {

// The name of an IP protocol number ("TCP", "UDP", ... "Unknown").
std::string_view protocol_name(int protocol);

// The SSDP multicast group: announcements sent to it from port 1900 list
// their sender as the local side.
inline constexpr std::uint32_t kSsdpGroupBe = 0xFAFFFFEF;  // 239.255.255.250 in network order
inline constexpr int kSsdpPort = 1900;

// The text of protocol number `protocol` in an IPv6 datagram: "ICMP6" for
// ICMPv6 (58), else protocol_name().
std::string_view ipv6_protocol_name(int protocol);

using Ipv6Bytes = std::array<std::uint8_t, 16>;

// The IPv6 text of 16 address bytes, exactly as net::to_text() writes it
// (lower case, the longest run of two or more zero groups compressed, an
// IPv4-mapped or -compatible address with its dotted tail), without
// allocating. `out` takes at least 46 bytes; returns the length.
std::size_t write_ipv6_address(char* out, const Ipv6Bytes& address);

struct DecodeContext {
  // Addresses in network byte order. A datagram from one of them is outgoing.
  std::uint32_t capture_address = 0;
  std::span<const std::uint32_t> local_addresses;
  // An IPv6 capture: a datagram whose version is 6 is decoded as IPv6 and is
  // outgoing when it comes from the capture address or one of
  // `local_addresses6`. An IPv4 capture (false) decodes every datagram as
  // IPv4, as it always has.
  bool ipv6 = false;
  Ipv6Bytes capture_address6{};
  std::span<const Ipv6Bytes> local_addresses6;
  bool ask_dns = false;       // host columns from the host-name cache
  bool data_as_text = false;  // "PacketsData" 1: the excerpt starts 12 bytes later
  PacketTime time{};
  // Either may be null: no process ids, no host names.
  const shared::FlowKeyTable* flow_keys = nullptr;
  shared::HostNameCache* hosts = nullptr;
};

// Decodes the one datagram in `bytes` into `out` (every byte of `out` is
// written). False when there is nothing to decode: no bytes, or a first byte
// of 0.
bool decode_datagram(std::span<const std::uint8_t> bytes, const DecodeContext& ctx, PacketRecord& out);

// One receive may hold several datagrams back to back: each is decoded in
// turn (by its IP total length; IPv6: 40 + payload length) and handed to
// `publish`, as long as
// `keep_going()` says so. A datagram shorter than its total length is decoded
// from the bytes at hand. Returns the number of datagrams decoded.
std::size_t decode_buffer(std::span<const std::uint8_t> bytes, const DecodeContext& ctx, PacketRecord& scratch,
                          const std::function<void(const PacketRecord&)>& publish,
                          const std::function<bool()>& keep_going = {});

// The data excerpt of a record for the list's data column: n = length - 28
// bytes at most, and no more than the datagram gave (for IPv6, whose headers
// take 40 bytes or more, the latter is the bound). Hex: "%02X " per byte,
// at most 79 bytes. Text: up to the first NUL, at most 240 characters, every
// control character a blank and every byte above 0x7E a '.', so the text is
// plain ASCII whatever the payload.
std::string data_hex_text(const PacketRecord& r);
std::string data_plain_text(const PacketRecord& r);

inline constexpr int kHexDataBytes = 79;
inline constexpr int kTextDataChars = 240;

}  // namespace tw::packets
