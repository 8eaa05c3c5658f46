// Captured datagrams come from the network: whatever a datagram holds (or
// lacks), decoding reads only the bytes received, ends, and gives texts that
// fit their fields. The same bytes also serve as port filter lists, which come
// from the settings file.
//
// Input: the bytes of one receive. Bits of the first byte choose the
// decoding options, so every option meets every datagram: 0x01 the capture
// address, 0x02 the data as text, 0x20 an IPv6 capture (set in the first byte
// of every IPv6 datagram, clear in that of an IPv4 one with a plain header, so
// recorded seeds of each family start in their own kind of capture).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/ip_address.h"
#include "packets/packet_decoder.h"
#include "packets/packet_list.h"
#include "packets/port_filter.h"

using namespace tw;
using namespace tw::packets;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static shared::FlowKeyTable keys;
  static const bool filled = [] {
    keys.replace({{shared::tcp_flow_key("10.232.0.1", 8080, "10.232.0.2", 40000), 1},
                  {shared::udp_flow_key("10.232.0.1", 5353), 2},
                  {shared::tcp_flow_key("fd00:232::1", 8080, "fd00:232::2", 40000), 3},
                  {shared::udp_flow_key("fd00:232::1", 5353), 4}});
    return true;
  }();
  (void)filled;
  const std::vector<std::uint32_t> locals = {*shared::parse_address("10.232.0.1")};
  const std::vector<Ipv6Bytes> locals6 = {net::parse_ip("fd00:232::1")->bytes, net::parse_ip("fe80::1")->bytes};

  const std::uint8_t opts = size > 0 ? data[0] : 0;
  DecodeContext ctx;
  ctx.capture_address = (opts & 1) ? locals[0] : 0;
  ctx.local_addresses = locals;
  ctx.data_as_text = (opts & 2) != 0;
  ctx.ipv6 = (opts & 0x20) != 0;
  if (opts & 1) ctx.capture_address6 = locals6[0];
  ctx.local_addresses6 = locals6;
  ctx.flow_keys = &keys;

  // A copy of exactly the received bytes, so the sanitizer sees any read
  // beyond them.
  std::vector<std::uint8_t> bytes(data, data + size);
  PacketRecord scratch = empty_record();
  std::size_t count = 0;
  decode_buffer(std::span<const std::uint8_t>(bytes), ctx, scratch, [&](const PacketRecord& r) {
    ++count;
    // A dotted quad, or an IPv6 text that parses back to an address.
    for (const std::string_view a : {field_text(r.address1), field_text(r.address2)}) {
      if (a.find(':') == std::string_view::npos ? a.size() > 15 : !net::parse_ip(a)) std::abort();
    }
    if (field_text(r.protocol).size() > 11) std::abort();
    if (r.data_size < 0 || r.data_size > static_cast<int>(kDataBytes)) std::abort();
    const PacketRow row = row_texts(r, Language::English, ctx.data_as_text, {});
    const std::size_t limit = ctx.data_as_text ? kTextDataChars : kHexDataBytes * 3;
    if (row[kData].size() > limit) std::abort();
  });
  if (count > size) std::abort();  // every datagram takes at least one byte

  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const PortFilter filter(text, text);
  filter.excludes(static_cast<int>(size), 80);
  return 0;
}
