#include "packets/packet_decoder.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace tw::packets {
namespace {

// Reads stay within the received bytes: an absent field reads as 0.
struct Bytes {
  std::span<const std::uint8_t> b;
  std::uint32_t u8(std::size_t at) const { return at < b.size() ? b[at] : 0; }
  std::uint32_t u16(std::size_t at) const { return (u8(at) << 8) | u8(at + 1); }
  std::uint32_t u32(std::size_t at) const { return (u16(at) << 16) | u16(at + 2); }
  // Four bytes in the order stored, as a value whose memory holds them so
  // (network byte order for an address).
  std::uint32_t raw32(std::size_t at) const {
    const std::uint8_t v[4] = {static_cast<std::uint8_t>(u8(at)), static_cast<std::uint8_t>(u8(at + 1)),
                               static_cast<std::uint8_t>(u8(at + 2)), static_cast<std::uint8_t>(u8(at + 3))};
    std::uint32_t out;
    std::memcpy(&out, v, 4);
    return out;
  }
};

// "%d.%d.%d.%d" into a buffer, without allocating; returns the length.
std::size_t write_address(char* out, std::uint32_t address_be) {
  const auto* b = reinterpret_cast<const unsigned char*>(&address_be);
  char* p = out;
  for (int i = 0; i < 4; ++i) {
    if (i) *p++ = '.';
    unsigned v = b[i];
    if (v >= 100) *p++ = static_cast<char>('0' + v / 100);
    if (v >= 10) *p++ = static_cast<char>('0' + v / 10 % 10);
    *p++ = static_cast<char>('0' + v % 10);
  }
  *p = 0;
  return static_cast<std::size_t>(p - out);
}

std::size_t write_int(char* out, int v) {
  char tmp[12];
  std::size_t n = 0;
  unsigned u = v < 0 ? 0u - static_cast<unsigned>(v) : static_cast<unsigned>(v);
  do {
    tmp[n++] = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u);
  std::size_t k = 0;
  if (v < 0) out[k++] = '-';
  while (n) out[k++] = tmp[--n];
  return k;
}

// Appends to a key buffer that is large enough for any key built here.
struct KeyBuf {
  // "TCP_[a1]:p1-TCP_[a2]:p2$" with the longest address texts and ports.
  char text[2 * (kAddressChars + 2) + 2 * 6 + 10];
  std::size_t n = 0;
  void add(std::string_view s) {
    std::memcpy(text + n, s.data(), s.size());
    n += s.size();
  }
  void add(int v) { n += write_int(text + n, v); }
  std::string_view view() const { return {text, n}; }
};

void set_host(char (&field)[kHostChars], std::string_view address, const DecodeContext& ctx) {
  if (ctx.ask_dns && ctx.hosts != nullptr) {
    set_field_text(field, ctx.hosts->host_name_for(address));
  } else {
    set_field_text(field, address);
  }
}

// IPv6 next-header numbers the walk to the upper-layer header knows.
constexpr int kHopByHop = 0;
constexpr int kRouting = 43;
constexpr int kFragment = 44;
constexpr int kAuthentication = 51;
constexpr int kDestinationOptions = 60;
constexpr int kIcmp6 = 58;
constexpr std::size_t kIpv6HeaderBytes = 40;
// Every extension header takes 8 bytes or more, so a datagram of 64 KiB holds
// fewer than this many; the bound only keeps a walk short whatever it reads.
constexpr int kMaxExtensionHeaders = 64;

// Where the IPv6 walk ended: the protocol number that names what follows, the
// offset of that header, and whether its first words are ports.
struct UpperLayer {
  int protocol = 0;
  std::size_t offset = kIpv6HeaderBytes;
  bool has_ports = true;
  std::uint32_t fragment_id = 0;  // as stored (network order), 0 when unfragmented
};

UpperLayer walk_ipv6(const Bytes& b) {
  UpperLayer u;
  u.protocol = static_cast<int>(b.u8(6));
  const std::size_t size = b.b.size();
  for (int n = 0; n < kMaxExtensionHeaders; ++n) {
    std::size_t length = 0;
    switch (u.protocol) {
      case kHopByHop:
      case kRouting:
      case kDestinationOptions: length = (b.u8(u.offset + 1) + 1) * 8u; break;
      case kAuthentication: length = (b.u8(u.offset + 1) + 2) * 4u; break;
      case kFragment: length = 8; break;
      default: return u;  // an upper layer, ESP or no next header: nothing to skip
    }
    // A header cut off by the end of the bytes: stop on it, without ports.
    if (u.offset + length > size) {
      u.has_ports = false;
      return u;
    }
    const int next = static_cast<int>(b.u8(u.offset));
    if (u.protocol == kFragment) {
      std::memcpy(&u.fragment_id, b.b.data() + u.offset + 4, 4);
      const bool first = (b.u16(u.offset + 2) >> 3) == 0;
      u.offset += length;
      u.protocol = next;
      // A later fragment continues an upper-layer header seen before.
      if (!first) {
        u.has_ports = false;
        return u;
      }
      continue;
    }
    u.offset += length;
    u.protocol = next;
  }
  // More headers than a datagram can hold: nothing readable follows.
  u.has_ports = false;
  return u;
}

bool ipv6_ssdp_group(const Ipv6Bytes& a) {
  // ff0X::c, the SSDP group in any scope (ff02::c on the link, ff05::c on the site).
  if (a[0] != 0xff || (a[1] & 0xF0) != 0 || a[15] != 0x0c) return false;
  for (std::size_t i = 2; i < 15; ++i)
    if (a[i] != 0) return false;
  return true;
}

// The key form of an address: an IPv6 text in brackets, as the session
// refresh writes its keys ("TCP_[fd00::1]:80-...").
void add_address(KeyBuf& k, std::string_view address) {
  const bool v6 = address.find(':') != std::string_view::npos;
  if (v6) k.add("[");
  k.add(address);
  if (v6) k.add("]");
}

int process_of(const PacketRecord& r, std::string_view proto, const shared::FlowKeyTable& keys) {
  const std::string_view a1 = field_text(r.address1), a2 = field_text(r.address2);
  if (proto.starts_with("TCP")) {
    KeyBuf k;
    k.add("TCP_");
    add_address(k, a1);
    k.add(":"), k.add(r.port1), k.add("-TCP_");
    add_address(k, a2);
    k.add(":"), k.add(r.port2), k.add("$");
    if (auto pid = keys.owner(k.view())) return *pid;
    KeyBuf remote;
    remote.add("-TCP_");
    add_address(remote, a2);
    remote.add(":"), remote.add(r.port2), remote.add("$");
    if (auto pid = keys.owner_by_remote(remote.view())) return *pid;
  } else if (proto.starts_with("UDP")) {
    KeyBuf k;
    k.add("UDP_");
    add_address(k, a1);
    k.add(":"), k.add(r.port1), k.add("$");
    if (auto pid = keys.owner(k.view())) return *pid;
  }
  return -1;
}

}  // namespace

std::string_view protocol_name(int protocol) {
  switch (protocol) {
    case 0: return "IP";
    case 1: return "ICMP";
    case 2: return "IGMP";
    case 3: return "GGP";
    case 6: return "TCP";
    case 12: return "PUP";
    case 17: return "UDP";
    case 22: return "IDP";
    case 77: return "NP";
    case 255: return "RAW";
    case 256: return "MAX";
    default: return "Unknown";
  }
}

std::string_view ipv6_protocol_name(int protocol) { return protocol == kIcmp6 ? "ICMP6" : protocol_name(protocol); }

std::size_t write_ipv6_address(char* out, const Ipv6Bytes& a) {
  std::uint32_t words[8];
  for (std::size_t i = 0; i < 8; ++i) words[i] = std::uint32_t{a[2 * i]} << 8 | a[2 * i + 1];
  // The longest run of zero words (the first of equal ones), if two or more.
  int best = -1, best_len = 0;
  for (int i = 0; i < 8;) {
    if (words[i] != 0) {
      ++i;
      continue;
    }
    int j = i;
    while (j < 8 && words[j] == 0) ++j;
    if (j - i > best_len) best = i, best_len = j - i;
    i = j;
  }
  if (best_len < 2) best = -1;
  static constexpr char kHex[] = "0123456789abcdef";
  char* p = out;
  for (int i = 0; i < 8; ++i) {
    if (best >= 0 && i >= best && i < best + best_len) {
      if (i == best) *p++ = ':';
      continue;
    }
    if (i != 0) *p++ = ':';
    // An IPv4-compatible (::a.b.c.d) or -mapped (::ffff:a.b.c.d) address
    // ends in its dotted quad.
    if (i == 6 && best == 0 && (best_len == 6 || (best_len == 5 && words[5] == 0xffff))) {
      std::uint32_t tail;
      std::memcpy(&tail, a.data() + 12, 4);
      p += write_address(p, tail);
      *p = 0;
      return static_cast<std::size_t>(p - out);
    }
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const std::uint32_t digit = words[i] >> shift & 0xF;
      if (digit != 0 || started || shift == 0) {
        *p++ = kHex[digit];
        started = true;
      }
    }
  }
  if (best >= 0 && best + best_len == 8) *p++ = ':';
  *p = 0;
  return static_cast<std::size_t>(p - out);
}

namespace {

// The fields both families fill alike, once the addresses, ports and
// protocol are known.
void finish_record(const char* src_text, const char* dst_text, bool outgoing, bool sender_first, int src_port,
                   int dst_port, std::string_view name, const DecodeContext& ctx, PacketRecord& r) {
  const char* a1 = src_text;
  const char* a2 = dst_text;
  std::string_view suffix = "(UL)";
  if (outgoing) {
    r.port1 = src_port, r.port2 = dst_port;
  } else {
    r.port1 = dst_port, r.port2 = src_port;
    suffix = "(DL)";
    // An SSDP announcement names its sender first, like an outgoing packet.
    if (!sender_first) a1 = dst_text, a2 = src_text;
  }
  set_field_text(r.address1, a1);
  set_field_text(r.address2, a2);
  set_host(r.host1, a1, ctx);
  set_host(r.host2, a2, ctx);

  char proto[kProtocolChars] = {};
  std::memcpy(proto, name.data(), name.size());
  std::memcpy(proto + name.size(), suffix.data(), suffix.size());
  std::memcpy(r.protocol, proto, sizeof proto);
}

void copy_data(std::span<const std::uint8_t> bytes, std::size_t offset, PacketRecord& r) {
  if (offset < bytes.size()) {
    const std::size_t n = std::min(kDataBytes, bytes.size() - offset);
    std::memcpy(r.data, bytes.data() + offset, n);
    r.data_size = static_cast<std::int32_t>(n);
  }
}

void decode_ipv6(std::span<const std::uint8_t> bytes, const DecodeContext& ctx, PacketRecord& r) {
  const Bytes b{bytes};
  Ipv6Bytes src{}, dst{};
  // Cut off addresses read as zero, as every absent field does.
  for (std::size_t i = 0; i < 16; ++i) {
    src[i] = static_cast<std::uint8_t>(b.u8(8 + i));
    dst[i] = static_cast<std::uint8_t>(b.u8(24 + i));
  }
  const UpperLayer u = walk_ipv6(b);
  const int src_port = u.has_ports ? static_cast<int>(b.u16(u.offset)) : 0;
  const int dst_port = u.has_ports ? static_cast<int>(b.u16(u.offset + 2)) : 0;

  bool outgoing = src == ctx.capture_address6;
  for (std::size_t i = 0; !outgoing && i < ctx.local_addresses6.size(); ++i) outgoing = src == ctx.local_addresses6[i];

  char src_text[kAddressChars], dst_text[kAddressChars];
  write_ipv6_address(src_text, src);
  write_ipv6_address(dst_text, dst);
  const std::string_view name = ipv6_protocol_name(u.protocol);
  finish_record(src_text, dst_text, outgoing, ipv6_ssdp_group(dst) && src_port == kSsdpPort, src_port, dst_port, name,
                ctx, r);

  r.length = static_cast<std::int32_t>(kIpv6HeaderBytes + b.u16(4));
  r.ttl = static_cast<std::int32_t>(b.u8(7));
  r.identification = u.fragment_id;
  if (u.has_ports) {
    r.sequence = b.u32(u.offset + 4);
    r.acknowledgment = b.u32(u.offset + 8);
  }
  r.time = ctx.time;

  std::size_t offset = u.offset;
  if (u.has_ports && u.protocol == 4) offset += 20;
  if (u.has_ports && u.protocol == 6) offset += 8;
  if (ctx.data_as_text) offset += 12;
  copy_data(bytes, offset, r);

  r.pid = ctx.flow_keys ? process_of(r, name, *ctx.flow_keys) : -1;
}

}  // namespace

bool decode_datagram(std::span<const std::uint8_t> bytes, const DecodeContext& ctx, PacketRecord& r) {
  if (bytes.empty() || bytes[0] == 0) return false;
  const Bytes b{bytes};
  std::memset(&r, 0, sizeof r);
  if (ctx.ipv6 && (bytes[0] >> 4) == 6) {
    decode_ipv6(bytes, ctx, r);
    return true;
  }

  const std::uint32_t src = b.raw32(12), dst = b.raw32(16);
  const std::size_t header = (b.u8(0) & 0x0F) * 4u;
  const int src_port = static_cast<int>(b.u16(header));
  const int dst_port = static_cast<int>(b.u16(header + 2));
  const int protocol = static_cast<int>(b.u8(9));

  bool outgoing = src == ctx.capture_address;
  for (std::size_t i = 0; !outgoing && i < ctx.local_addresses.size(); ++i) outgoing = src == ctx.local_addresses[i];

  char src_text[16], dst_text[16];
  write_address(src_text, src);
  write_address(dst_text, dst);
  const std::string_view name = protocol_name(protocol);
  finish_record(src_text, dst_text, outgoing, dst == kSsdpGroupBe && src_port == kSsdpPort, src_port, dst_port, name,
                ctx, r);

  r.length = static_cast<std::int32_t>(b.u16(2));
  r.ttl = static_cast<std::int32_t>(b.u8(8));
  // Bytes 4 and 5 as they lie in memory; only compared, never shown.
  const std::uint16_t id = static_cast<std::uint16_t>(b.u8(4) | b.u8(5) << 8);
  std::memcpy(&r.identification, &id, 2);
  r.sequence = b.u32(header + 4);
  r.acknowledgment = b.u32(header + 8);
  r.time = ctx.time;

  std::size_t offset = header;
  if (protocol == 4) offset += 20;
  if (protocol == 6) offset += 8;
  if (ctx.data_as_text) offset += 12;
  copy_data(bytes, offset, r);

  r.pid = ctx.flow_keys ? process_of(r, name, *ctx.flow_keys) : -1;
  return true;
}

std::size_t decode_buffer(std::span<const std::uint8_t> bytes, const DecodeContext& ctx, PacketRecord& scratch,
                          const std::function<void(const PacketRecord&)>& publish,
                          const std::function<bool()>& keep_going) {
  std::size_t decoded = 0;
  while (!bytes.empty() && bytes[0] != 0) {
    std::size_t total = 0;
    if (ctx.ipv6 && (bytes[0] >> 4) == 6) {
      // A payload length of 0 (a jumbogram) gives no length either.
      if (bytes.size() >= 6 && (bytes[4] | bytes[5]) != 0) total = kIpv6HeaderBytes + (std::size_t{bytes[4]} << 8 | bytes[5]);
    } else if (bytes.size() >= 4) {
      total = std::size_t{bytes[2]} << 8 | bytes[3];
    }
    // A total length of 0 cannot say where the next datagram starts: the
    // rest is taken as one.
    const std::size_t take = total == 0 || total >= bytes.size() ? bytes.size() : total;
    if (!decode_datagram(bytes.first(take), ctx, scratch)) break;
    publish(scratch);
    ++decoded;
    bytes = bytes.subspan(take);
    if (keep_going && !keep_going()) break;
  }
  return decoded;
}

std::string data_hex_text(const PacketRecord& r) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const int n = std::min({r.length - 28, kHexDataBytes, r.data_size});
  std::string out;
  if (n <= 0) return out;
  out.reserve(static_cast<std::size_t>(n) * 3);
  for (int i = 0; i < n; ++i) {
    out += kHex[r.data[i] >> 4];
    out += kHex[r.data[i] & 0x0F];
    out += ' ';
  }
  return out;
}

std::string data_plain_text(const PacketRecord& r) {
  const int n = std::min({r.length - 28, kTextDataChars, r.data_size});
  std::string out;
  for (int i = 0; i < n && r.data[i] != 0; ++i) {
    const std::uint8_t c = r.data[i];
    out += c < 0x20 || c == 0x7F ? ' ' : c > 0x7E ? '.' : static_cast<char>(c);
  }
  return out;
}

}  // namespace tw::packets
