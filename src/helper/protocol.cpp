#include "helper/protocol.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <string_view>
#include <type_traits>

namespace tw::helper {
namespace {

Error malformed(std::string detail) { return Error{"Malformed helper message.", std::move(detail), EBADMSG}; }

// How many bytes of `t` fit in `limit`: cut before a UTF-8 continuation
// byte, never inside a character.
std::size_t cut_size(std::string_view t, std::size_t limit) {
  std::size_t n = std::min(t.size(), limit);
  if (n < t.size())
    while (n > 0 && (static_cast<unsigned char>(t[n]) & 0xC0) == 0x80) --n;
  return n;
}

// Appends little-endian numbers and sized texts.
class Writer {
 public:
  explicit Writer(std::vector<std::uint8_t>& out) : out_(out) {}
  void u8(std::uint8_t v) { out_.push_back(v); }
  void u16(std::uint16_t v) { put(v, 2); }
  void u32(std::uint32_t v) { put(v, 4); }
  void u64(std::uint64_t v) { put(v, 8); }
  void bytes(std::span<const std::uint8_t> b) { out_.insert(out_.end(), b.begin(), b.end()); }
  void text(std::string_view t) {
    const std::size_t n = cut_size(t, kMaxText);
    u16(static_cast<std::uint16_t>(n));
    out_.insert(out_.end(), t.begin(), t.begin() + static_cast<std::ptrdiff_t>(n));
  }
  // A text of at most 255 bytes with a one-byte size.
  void short_text(std::string_view t, std::size_t limit) {
    const std::size_t n = cut_size(t, std::min<std::size_t>(limit, 255));
    u8(static_cast<std::uint8_t>(n));
    out_.insert(out_.end(), t.begin(), t.begin() + static_cast<std::ptrdiff_t>(n));
  }

 private:
  void put(std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  std::vector<std::uint8_t>& out_;
};

// Reads little-endian numbers and sized texts; once a read would pass the end
// it fails, and every later read fails too and yields zeros.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> in) : in_(in) {}
  bool ok() const { return ok_; }
  bool at_end() const { return ok_ && pos_ == in_.size(); }

  std::uint8_t u8() { return static_cast<std::uint8_t>(get(1)); }
  std::uint16_t u16() { return static_cast<std::uint16_t>(get(2)); }
  std::uint32_t u32() { return static_cast<std::uint32_t>(get(4)); }
  std::uint64_t u64() { return get(8); }
  template <std::size_t N>
  void bytes(std::array<std::uint8_t, N>& out) {
    if (!take(N)) return;
    std::copy_n(in_.begin() + static_cast<std::ptrdiff_t>(pos_ - N), N, out.begin());
  }
  bool text(std::string& out) {
    const std::size_t n = u16();
    if (!ok_ || n > kMaxText || !take(n)) return ok_ = false;
    out.assign(reinterpret_cast<const char*>(in_.data()) + pos_ - n, n);
    return true;
  }
  bool short_text(std::string& out, std::size_t limit) {
    const std::size_t n = u8();
    if (!ok_ || n > limit || !take(n)) return ok_ = false;
    out.assign(reinterpret_cast<const char*>(in_.data()) + pos_ - n, n);
    return true;
  }
  std::size_t left() const { return ok_ ? in_.size() - pos_ : 0; }

 private:
  bool take(std::size_t n) {
    if (!ok_ || in_.size() - pos_ < n) return ok_ = false;
    pos_ += n;
    return true;
  }
  std::uint64_t get(std::size_t n) {
    if (!take(n)) return 0;
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) v |= std::uint64_t{in_[pos_ - n + i]} << (8 * i);
    return v;
  }
  std::span<const std::uint8_t> in_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

constexpr int kMaxErrno = 4095;  // the kernel's errno values end well below
constexpr std::uint32_t kMaxPid = 0x7fffffff;  // pid_t is a signed 32-bit number

// The canonical form of an owner request: ascending, each inode once, no 0,
// at most kMaxOwnerQueries.
std::vector<std::uint64_t> canonical_inodes(std::vector<std::uint64_t> inodes) {
  std::sort(inodes.begin(), inodes.end());
  inodes.erase(std::unique(inodes.begin(), inodes.end()), inodes.end());
  if (!inodes.empty() && inodes.front() == 0) inodes.erase(inodes.begin());
  if (inodes.size() > kMaxOwnerQueries) inodes.resize(kMaxOwnerQueries);
  return inodes;
}

// The canonical form of an owner reply: entries that can be true only,
// ascending by inode, the first of each inode, at most kMaxOwners (more
// marks the reply truncated).
SocketOwnersReply canonical_owners(const SocketOwnersReply& m) {
  SocketOwnersReply out;
  out.truncated = m.truncated;
  out.owners.reserve(std::min(m.owners.size(), kMaxOwners));
  for (const SocketOwner& o : m.owners)
    if (o.inode != 0 && o.pid != 0 && o.pid <= kMaxPid) out.owners.push_back(o);
  std::stable_sort(out.owners.begin(), out.owners.end(),
                   [](const SocketOwner& a, const SocketOwner& b) { return a.inode < b.inode; });
  out.owners.erase(std::unique(out.owners.begin(), out.owners.end(),
                               [](const SocketOwner& a, const SocketOwner& b) { return a.inode == b.inode; }),
                   out.owners.end());
  if (out.owners.size() > kMaxOwners) {
    out.owners.resize(kMaxOwners);
    out.truncated = true;
  }
  return out;
}

// The fixed part of a batch's payload: ended, end errno, two counts, count.
constexpr std::size_t kBatchHead = 1 + 4 + 8 + 8 + 4;
constexpr std::size_t kMaxDatagram = 0xFFFF;  // its length is a u16

std::uint32_t batch_errno(const CaptureBatch& m) {
  if (!m.ended) return 0;
  return m.end_errno <= static_cast<std::uint32_t>(kMaxErrno) ? m.end_errno : EIO;
}

// A batch in its canonical form: datagrams that cannot be sent (empty, or
// longer than a u16 says) are left out, and the list ends where the count
// or the payload limit would be passed.
void write_batch(Writer& w, const CaptureBatch& m) {
  std::size_t size = kBatchHead;
  std::uint32_t count = 0;
  for (const auto& d : m.datagrams) {
    if (d.empty() || d.size() > kMaxDatagram) continue;
    if (count == kMaxBatchDatagrams || size + 2 + d.size() > kMaxPayload) break;
    size += 2 + d.size();
    ++count;
  }
  w.u8(m.ended ? 1 : 0);
  w.u32(batch_errno(m));
  w.u64(m.kernel_drops);
  w.u64(m.forward_drops);
  w.u32(count);
  for (const auto& d : m.datagrams) {
    if (count == 0) break;
    if (d.empty() || d.size() > kMaxDatagram) continue;
    w.u16(static_cast<std::uint16_t>(d.size()));
    w.bytes(d);
    --count;
  }
}

void write_payload(Writer& w, const Message& message) {
  std::visit(
      [&w](const auto& m) {
        using T = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<T, HelloReply>) {
          w.u64(m.capabilities);
        } else if constexpr (std::is_same_v<T, DestroySocket>) {
          w.u8(m.id.family);
          w.u8(m.id.protocol);
          w.bytes(m.id.src);
          w.bytes(m.id.dst);
          w.u16(m.id.src_port);
          w.u16(m.id.dst_port);
          w.u32(m.id.interface);
          w.u64(m.id.cookie);
        } else if constexpr (std::is_same_v<T, SocketOwners>) {
          const std::vector<std::uint64_t> inodes = canonical_inodes(m.inodes);
          w.u32(static_cast<std::uint32_t>(inodes.size()));
          for (const std::uint64_t inode : inodes) w.u64(inode);
        } else if constexpr (std::is_same_v<T, SocketOwnersReply>) {
          const SocketOwnersReply c = canonical_owners(m);
          w.u8(c.truncated ? 1 : 0);
          w.u32(static_cast<std::uint32_t>(c.owners.size()));
          for (const SocketOwner& o : c.owners) {
            w.u64(o.inode);
            w.u32(o.pid);
            w.short_text(o.name, kMaxCommBytes);
          }
        } else if constexpr (std::is_same_v<T, DestroySocketReply>) {
          w.u8(m.closed ? 1 : 0);
        } else if constexpr (std::is_same_v<T, StartCapture>) {
          w.u8(m.address.family);
          w.bytes(m.address.bytes);
        } else if constexpr (std::is_same_v<T, StartCaptureReply>) {
          w.u32(m.interface);
        } else if constexpr (std::is_same_v<T, StopCaptureReply>) {
          w.u64(m.counts.forwarded);
          w.u64(m.counts.kernel_drops);
          w.u64(m.counts.forward_drops);
        } else if constexpr (std::is_same_v<T, CaptureBatch>) {
          write_batch(w, m);
        } else if constexpr (std::is_same_v<T, ErrorReply>) {
          const int e = m.error.errno_value;
          w.u32(static_cast<std::uint32_t>(e >= 0 && e <= kMaxErrno ? e : EIO));
          w.text(m.error.headline);
          w.text(m.error.detail);
        } else if constexpr (std::is_same_v<T, ApplyFilter>) {
          w.u8(kFamilyIPv4);
          w.u32(static_cast<std::uint32_t>(m.set.local_addresses.size()));
          w.u32(static_cast<std::uint32_t>(m.set.drops.size()));
          for (std::uint32_t a : m.set.local_addresses) w.u32(a);
          for (const net::FilterDescriptor& d : m.set.drops) {
            w.u32(d.src_address);
            w.u32(d.src_mask);
            w.u32(d.dst_address);
            w.u32(d.dst_mask);
            w.u8(d.protocol);
            w.u16(d.src_port);
            w.u16(d.src_port_high);
            w.u16(d.dst_port);
            w.u16(d.dst_port_high);
          }
        }
        // Hello, the filter's removal, the capture's stop and the payload-less
        // replies have no payload.
      },
      message);
}

Result<Message> read_socket_id(Reader& r) {
  DiagSocketId id;
  id.family = r.u8();
  id.protocol = r.u8();
  r.bytes(id.src);
  r.bytes(id.dst);
  id.src_port = r.u16();
  id.dst_port = r.u16();
  id.interface = r.u32();
  id.cookie = r.u64();
  if (!r.at_end()) return malformed("socket id: wrong size");
  if (id.family != kFamilyIPv4 && id.family != kFamilyIPv6)
    return malformed("socket id: unknown address family " + std::to_string(id.family));
  if (id.protocol != kProtocolTcp && id.protocol != kProtocolUdp)
    return malformed("socket id: unknown protocol " + std::to_string(id.protocol));
  if (id.family == kFamilyIPv4) {
    auto unused_zero = [](const std::array<std::uint8_t, 16>& a) {
      return std::all_of(a.begin() + 4, a.end(), [](std::uint8_t b) { return b == 0; });
    };
    if (!unused_zero(id.src) || !unused_zero(id.dst))
      return malformed("socket id: an IPv4 address with bytes beyond its fourth");
  }
  return Message{DestroySocket{id}};
}

Result<Message> read_owner_request(Reader& r) {
  SocketOwners m;
  const std::uint32_t count = r.u32();
  // The size is checked before anything is allocated for the list.
  if (!r.ok() || count > kMaxOwnerQueries) return malformed("socket owners: " + std::to_string(count) + " inodes");
  if (r.left() != std::size_t{count} * 8) return malformed("socket owners: wrong size");
  m.inodes.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint64_t inode = r.u64();
    if (inode == 0 || (!m.inodes.empty() && inode <= m.inodes.back()))
      return malformed("socket owners: inodes not ascending and nonzero");
    m.inodes.push_back(inode);
  }
  return Message{std::move(m)};
}

Result<Message> read_owner_reply(Reader& r) {
  SocketOwnersReply m;
  const std::uint8_t flags = r.u8();
  const std::uint32_t count = r.u32();
  if (!r.ok() || flags > 1) return malformed("socket owners reply: wrong size or flags");
  if (count > kMaxOwners) return malformed("socket owners reply: " + std::to_string(count) + " owners");
  // Every entry takes at least 13 bytes: a count the payload cannot hold is
  // refused before anything is allocated for it.
  if (r.left() < std::size_t{count} * 13) return malformed("socket owners reply: wrong size");
  m.truncated = flags == 1;
  m.owners.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    SocketOwner o;
    o.inode = r.u64();
    o.pid = r.u32();
    if (!r.short_text(o.name, kMaxCommBytes)) return malformed("socket owners reply: wrong size");
    if (o.inode == 0 || (!m.owners.empty() && o.inode <= m.owners.back().inode))
      return malformed("socket owners reply: inodes not ascending and nonzero");
    if (o.pid == 0 || o.pid > kMaxPid) return malformed("socket owners reply: pid " + std::to_string(o.pid));
    m.owners.push_back(std::move(o));
  }
  if (!r.at_end()) return malformed("socket owners reply: wrong size");
  return Message{std::move(m)};
}

Result<Message> read_filter_set(Reader& r) {
  ApplyFilter m;
  const std::uint8_t family = r.u8();
  const std::uint32_t locals = r.u32();
  const std::uint32_t drops = r.u32();
  if (!r.ok()) return malformed("filter set: wrong size");
  if (family != kFamilyIPv4) return malformed("filter set: address family " + std::to_string(family));
  if (locals > net::kMaxFilterLocalAddresses || drops > net::kMaxFilterDrops)
    return malformed("filter set: " + std::to_string(locals) + " addresses, " + std::to_string(drops) + " filters");
  m.set.local_addresses.reserve(locals);
  for (std::uint32_t i = 0; i < locals && r.ok(); ++i) m.set.local_addresses.push_back(r.u32());
  m.set.drops.reserve(drops);
  for (std::uint32_t i = 0; i < drops && r.ok(); ++i) {
    net::FilterDescriptor d;
    d.src_address = r.u32();
    d.src_mask = r.u32();
    d.dst_address = r.u32();
    d.dst_mask = r.u32();
    d.protocol = r.u8();
    d.src_port = r.u16();
    d.src_port_high = r.u16();
    d.dst_port = r.u16();
    d.dst_port_high = r.u16();
    if (d.protocol != net::kFilterAnyProtocol && d.protocol != net::kFilterIcmp && d.protocol != net::kFilterTcp &&
        d.protocol != net::kFilterUdp)
      return malformed("filter set: protocol " + std::to_string(d.protocol));
    m.set.drops.push_back(d);
  }
  if (!r.at_end()) return malformed("filter set: wrong size");
  return Message{std::move(m)};
}

Result<Message> read_start_capture(Reader& r) {
  StartCapture m;
  m.address.family = r.u8();
  r.bytes(m.address.bytes);
  if (!r.at_end()) return malformed("start capture: wrong size");
  if (m.address.family != kFamilyIPv4 && m.address.family != kFamilyIPv6)
    return malformed("start capture: unknown address family " + std::to_string(m.address.family));
  if (m.address.family == kFamilyIPv4 &&
      !std::all_of(m.address.bytes.begin() + 4, m.address.bytes.end(), [](std::uint8_t b) { return b == 0; }))
    return malformed("start capture: an IPv4 address with bytes beyond its fourth");
  return Message{m};
}

Result<Message> read_error(Reader& r) {
  ErrorReply m;
  const std::uint32_t e = r.u32();
  const bool texts = r.text(m.error.headline) && r.text(m.error.detail);
  if (!texts || !r.at_end()) return malformed("error reply: wrong size");
  if (e > kMaxErrno) return malformed("error reply: errno " + std::to_string(e) + " out of range");
  m.error.errno_value = static_cast<int>(e);
  return Message{std::move(m)};
}

}  // namespace

MessageType type_of(const Message& message) {
  return std::visit(
      [](const auto& m) {
        using T = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<T, Hello>) return MessageType::kHello;
        else if constexpr (std::is_same_v<T, HelloReply>) return MessageType::kHelloReply;
        else if constexpr (std::is_same_v<T, DestroySocket>) return MessageType::kDestroySocket;
        else if constexpr (std::is_same_v<T, DestroySocketReply>) return MessageType::kDestroySocketReply;
        else if constexpr (std::is_same_v<T, SocketOwners>) return MessageType::kSocketOwners;
        else if constexpr (std::is_same_v<T, SocketOwnersReply>) return MessageType::kSocketOwnersReply;
        else if constexpr (std::is_same_v<T, StartCapture>) return MessageType::kStartCapture;
        else if constexpr (std::is_same_v<T, StartCaptureReply>) return MessageType::kStartCaptureReply;
        else if constexpr (std::is_same_v<T, StopCapture>) return MessageType::kStopCapture;
        else if constexpr (std::is_same_v<T, StopCaptureReply>) return MessageType::kStopCaptureReply;
        else if constexpr (std::is_same_v<T, CaptureBatch>) return MessageType::kCaptureBatch;
        else if constexpr (std::is_same_v<T, ApplyFilter>) return MessageType::kApplyFilter;
        else if constexpr (std::is_same_v<T, ApplyFilterReply>) return MessageType::kApplyFilterReply;
        else if constexpr (std::is_same_v<T, RemoveFilter>) return MessageType::kRemoveFilter;
        else if constexpr (std::is_same_v<T, RemoveFilterReply>) return MessageType::kRemoveFilterReply;
        else return MessageType::kErrorReply;
      },
      message);
}

bool is_request(MessageType type) {
  return type == MessageType::kHello || type == MessageType::kDestroySocket || type == MessageType::kSocketOwners ||
         type == MessageType::kApplyFilter || type == MessageType::kRemoveFilter ||
         type == MessageType::kStartCapture || type == MessageType::kStopCapture;
}

std::vector<std::uint8_t> encode(const Frame& frame) {
  std::vector<std::uint8_t> out;
  out.reserve(kHeaderSize + 64);  // a filter set grows it once
  Writer w(out);
  w.bytes(kMagic);
  w.u16(kVersion);
  w.u16(static_cast<std::uint16_t>(type_of(frame.message)));
  w.u32(frame.request_id);
  w.u32(0);  // payload size, filled in below
  write_payload(w, frame.message);
  const auto size = static_cast<std::uint32_t>(out.size() - kHeaderSize);
  for (int i = 0; i < 4; ++i) out[12 + i] = static_cast<std::uint8_t>(size >> (8 * i));
  return out;
}

Result<FrameHeader> decode_header(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kHeaderSize) return malformed("header: " + std::to_string(bytes.size()) + " bytes");
  Reader r(bytes.first(kHeaderSize));
  std::array<std::uint8_t, 4> magic{};
  r.bytes(magic);
  if (magic != kMagic) return malformed("header: wrong magic");
  const std::uint16_t version = r.u16();
  if (version != kVersion) return malformed("header: version " + std::to_string(version) + ", expected " +
                                            std::to_string(kVersion));
  FrameHeader h;
  h.type = r.u16();
  h.request_id = r.u32();
  h.payload_size = r.u32();
  if (h.payload_size > kMaxPayload)
    return malformed("header: payload of " + std::to_string(h.payload_size) + " bytes");
  return h;
}

Result<Message> decode_payload(std::uint16_t type, std::span<const std::uint8_t> payload) {
  Reader r(payload);
  switch (static_cast<MessageType>(type)) {
    case MessageType::kHello:
      if (!r.at_end()) return malformed("hello: unexpected payload");
      return Message{Hello{}};
    case MessageType::kHelloReply: {
      HelloReply m;
      m.capabilities = r.u64();
      if (!r.at_end()) return malformed("hello reply: wrong size");
      return Message{m};
    }
    case MessageType::kDestroySocket:
      return read_socket_id(r);
    case MessageType::kDestroySocketReply: {
      const std::uint8_t closed = r.u8();
      if (!r.at_end() || closed > 1) return malformed("destroy reply: wrong size or flags");
      return Message{DestroySocketReply{closed == 1}};
    }
    case MessageType::kErrorReply:
      return read_error(r);
    case MessageType::kSocketOwners:
      return read_owner_request(r);
    case MessageType::kSocketOwnersReply:
      return read_owner_reply(r);
    case MessageType::kStartCapture:
      return read_start_capture(r);
    case MessageType::kStartCaptureReply: {
      StartCaptureReply m;
      m.interface = r.u32();
      if (!r.at_end()) return malformed("start capture reply: wrong size");
      if (m.interface == 0) return malformed("start capture reply: no interface");
      return Message{m};
    }
    case MessageType::kStopCapture:
      if (!r.at_end()) return malformed("stop capture: unexpected payload");
      return Message{StopCapture{}};
    case MessageType::kStopCaptureReply: {
      StopCaptureReply m;
      m.counts.forwarded = r.u64();
      m.counts.kernel_drops = r.u64();
      m.counts.forward_drops = r.u64();
      if (!r.at_end()) return malformed("stop capture reply: wrong size");
      return Message{m};
    }
    case MessageType::kCaptureBatch: {
      auto view = view_capture_batch(payload);
      if (!view) return view.error();
      CaptureBatch m;
      m.ended = view->ended;
      m.end_errno = view->end_errno;
      m.kernel_drops = view->kernel_drops;
      m.forward_drops = view->forward_drops;
      m.datagrams.reserve(view->count);
      view->for_each([&m](std::span<const std::uint8_t> d) { m.datagrams.emplace_back(d.begin(), d.end()); });
      return Message{std::move(m)};
    }
    case MessageType::kApplyFilter:
      return read_filter_set(r);
    case MessageType::kApplyFilterReply:
      if (!r.at_end()) return malformed("filter reply: unexpected payload");
      return Message{ApplyFilterReply{}};
    case MessageType::kRemoveFilter:
      if (!r.at_end()) return malformed("filter removal: unexpected payload");
      return Message{RemoveFilter{}};
    case MessageType::kRemoveFilterReply:
      if (!r.at_end()) return malformed("filter removal reply: unexpected payload");
      return Message{RemoveFilterReply{}};
  }
  return malformed("unknown message type " + std::to_string(type));
}

Result<DecodedFrame> decode_frame(std::span<const std::uint8_t> bytes) {
  auto header = decode_header(bytes);
  if (!header) return header.error();
  if (bytes.size() - kHeaderSize < header->payload_size)
    return malformed("frame: payload of " + std::to_string(header->payload_size) + " bytes, " +
                     std::to_string(bytes.size() - kHeaderSize) + " at hand");
  auto message = decode_payload(header->type, bytes.subspan(kHeaderSize, header->payload_size));
  if (!message) return message.error();
  Result<DecodedFrame> out{DecodedFrame{}};
  out->frame.request_id = header->request_id;
  out->frame.message = std::move(*message);
  out->size = kHeaderSize + header->payload_size;
  return out;
}

CaptureBatchWriter::CaptureBatchWriter(std::size_t max_payload)
    : max_payload_(std::min<std::size_t>(max_payload, kMaxPayload)) {
  buf_.reserve(kHeaderSize + max_payload_);
  clear(0);
}

void CaptureBatchWriter::clear(std::uint32_t request_id) {
  buf_.clear();
  Writer w(buf_);
  w.bytes(kMagic);
  w.u16(kVersion);
  w.u16(static_cast<std::uint16_t>(MessageType::kCaptureBatch));
  w.u32(request_id);
  w.u32(0);  // payload size, set by finish()
  buf_.resize(kHeaderSize + kBatchHead);  // the fixed part, set by finish()
  count_ = 0;
}

bool CaptureBatchWriter::fits(std::size_t size) const {
  return size > 0 && size <= kMaxDatagram && count_ < kMaxBatchDatagrams &&
         buf_.size() - kHeaderSize + 2 + size <= max_payload_;
}

void CaptureBatchWriter::add(std::span<const std::uint8_t> datagram) {
  buf_.push_back(static_cast<std::uint8_t>(datagram.size()));
  buf_.push_back(static_cast<std::uint8_t>(datagram.size() >> 8));
  buf_.insert(buf_.end(), datagram.begin(), datagram.end());
  ++count_;
}

std::span<const std::uint8_t> CaptureBatchWriter::finish(const CaptureBatch& m) {
  std::vector<std::uint8_t> head;
  head.reserve(kBatchHead);
  Writer w(head);
  w.u8(m.ended ? 1 : 0);
  w.u32(batch_errno(m));
  w.u64(m.kernel_drops);
  w.u64(m.forward_drops);
  w.u32(count_);
  std::copy(head.begin(), head.end(), buf_.begin() + kHeaderSize);
  const auto size = static_cast<std::uint32_t>(buf_.size() - kHeaderSize);
  for (int i = 0; i < 4; ++i) buf_[static_cast<std::size_t>(12 + i)] = static_cast<std::uint8_t>(size >> (8 * i));
  return buf_;
}

Result<CaptureBatchView> view_capture_batch(std::span<const std::uint8_t> payload) {
  Reader r(payload);
  CaptureBatchView v;
  const std::uint8_t ended = r.u8();
  v.end_errno = r.u32();
  v.kernel_drops = r.u64();
  v.forward_drops = r.u64();
  v.count = r.u32();
  if (!r.ok()) return malformed("capture batch: wrong size");
  if (ended > 1) return malformed("capture batch: flags " + std::to_string(ended));
  v.ended = ended == 1;
  if (v.end_errno > static_cast<std::uint32_t>(kMaxErrno) || (!v.ended && v.end_errno != 0))
    return malformed("capture batch: errno " + std::to_string(v.end_errno));
  if (v.count > kMaxBatchDatagrams) return malformed("capture batch: " + std::to_string(v.count) + " datagrams");
  v.records = payload.subspan(kBatchHead);
  std::size_t at = 0;
  for (std::uint32_t i = 0; i < v.count; ++i) {
    if (v.records.size() - at < 2) return malformed("capture batch: wrong size");
    const std::size_t n = std::size_t{v.records[at]} | (std::size_t{v.records[at + 1]} << 8);
    if (n == 0) return malformed("capture batch: an empty datagram");
    if (v.records.size() - at - 2 < n) return malformed("capture batch: wrong size");
    at += 2 + n;
  }
  if (at != v.records.size()) return malformed("capture batch: wrong size");
  return v;
}

}  // namespace tw::helper
