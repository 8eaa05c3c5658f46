#pragma once
// The message format between Tarnwatch and its privileged helper,
// tarnix-helper, over a stream socket.
//
// Every message is one frame: a 16-byte header followed by a payload. All
// numbers are little-endian.
//
//   offset size
//   0      4    magic "TWHP"
//   4      2    version (kVersion)
//   6      2    message type (MessageType)
//   8      4    request id: chosen by the client, repeated in the reply
//   12     4    payload size in bytes, at most kMaxPayload
//
// The client sends requests (Hello, DestroySocket, SocketOwners, OpenCapture,
// ApplyFilter, RemoveFilter), the helper answers each
// with exactly one frame of the same request id: the request's own reply, or
// an ErrorReply. The helper is the trust boundary, so the decoder takes
// nothing on faith: it checks every size against the bytes at hand, every
// enumeration against its range, and accepts only the canonical encoding of a
// message (no padding, no trailing bytes, zeros where a field is unused), so
// that whatever it accepts encodes back to exactly the same bytes.
//
// Pure functions: no state, no system calls, any thread.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "base/error.h"
#include "platform/packet_filter.h"

namespace tw::helper {

inline constexpr std::array<std::uint8_t, 4> kMagic{'T', 'W', 'H', 'P'};
inline constexpr std::uint16_t kVersion = 1;
inline constexpr std::size_t kHeaderSize = 16;
// Large enough for any message, small enough that a garbled size field never
// makes either side allocate much.
inline constexpr std::uint32_t kMaxPayload = 128 * 1024;
// Texts in replies (error headline and detail) are cut to this many bytes.
inline constexpr std::size_t kMaxText = 1024;

enum class MessageType : std::uint16_t {
  kHello = 1,               // client -> helper: who are you?
  kHelloReply = 2,          // helper -> client: its capabilities
  kDestroySocket = 3,       // client -> helper: abort one socket
  kDestroySocketReply = 4,  // helper -> client: done (or it was already gone)
  kErrorReply = 5,          // helper -> client: the request failed
  // Socket owners have a block of numbers of their own, apart from the
  // other operations. A helper older than them answers with an ErrorReply
  // (unknown message type), so a newer client can tell it cannot help.
  kSocketOwners = 16,       // client -> helper: which processes hold these sockets?
  kSocketOwnersReply = 17,  // helper -> client: the holders found
  kOpenCapture = 20,        // client -> helper: a capture socket for one local address
  kOpenCaptureReply = 21,   // helper -> client: the socket, passed with the frame (SCM_RIGHTS)
  kApplyFilter = 6,         // client -> helper: install a packet filter set (replacing the last)
  kApplyFilterReply = 7,    // helper -> client: installed
  kRemoveFilter = 8,        // client -> helper: remove the packet filter
  kRemoveFilterReply = 9,   // helper -> client: removed (or there was none)
};
// Every request's own reply is the next type number.
inline constexpr MessageType reply_type_of(MessageType request) {
  return static_cast<MessageType>(static_cast<std::uint16_t>(request) + 1);
}

// Address families and protocols a socket id may name (the kernel's numbers).
inline constexpr std::uint8_t kFamilyIPv4 = 2;    // AF_INET
inline constexpr std::uint8_t kFamilyIPv6 = 10;   // AF_INET6
inline constexpr std::uint8_t kProtocolTcp = 6;   // IPPROTO_TCP
inline constexpr std::uint8_t kProtocolUdp = 17;  // IPPROTO_UDP

// A socket as the kernel's sock_diag names it. Addresses are the raw bytes in
// network order; an IPv4 address takes the first 4 bytes and the rest are 0.
// Ports are in host byte order.
struct DiagSocketId {
  std::uint8_t family = kFamilyIPv4;
  std::uint8_t protocol = kProtocolTcp;
  std::array<std::uint8_t, 16> src{};  // the socket's own (local) address
  std::array<std::uint8_t, 16> dst{};  // its peer's
  std::uint16_t src_port = 0;
  std::uint16_t dst_port = 0;
  std::uint32_t interface = 0;
  std::uint64_t cookie = 0;
  friend bool operator==(const DiagSocketId&, const DiagSocketId&) = default;
};

struct Hello {
  friend bool operator==(const Hello&, const Hello&) = default;
};
struct HelloReply {
  std::uint64_t capabilities = 0;  // the helper's effective set: bit N = capability N (CAP_NET_ADMIN is 12)
  friend bool operator==(const HelloReply&, const HelloReply&) = default;
};
struct DestroySocket {
  DiagSocketId id;
  friend bool operator==(const DestroySocket&, const DestroySocket&) = default;
};
struct DestroySocketReply {
  friend bool operator==(const DestroySocketReply&, const DestroySocketReply&) = default;
};
// The capture socket of one of the machine's IPv4 addresses. The reply has
// no payload: the descriptor travels as ancillary data of its first byte.
struct OpenCapture {
  std::array<std::uint8_t, 4> address{};  // network order
  friend bool operator==(const OpenCapture&, const OpenCapture&) = default;
};
struct OpenCaptureReply {
  friend bool operator==(const OpenCaptureReply&, const OpenCaptureReply&) = default;
};
struct ErrorReply {
  Error error;  // errno_value 0..4095; texts at most kMaxText bytes
  friend bool operator==(const ErrorReply&, const ErrorReply&) = default;
};

// Socket inodes (as sock_diag reports them) whose holding processes the
// client cannot see for itself. An empty list asks for every socket of every
// process. Canonical form: ascending, no duplicates, no 0; at most
// kMaxOwnerQueries (a client with more asks in several requests).
inline constexpr std::size_t kMaxOwnerQueries = 4096;
struct SocketOwners {
  std::vector<std::uint64_t> inodes;
  friend bool operator==(const SocketOwners&, const SocketOwners&) = default;
};
// One holder: the first process found with the socket among its descriptors,
// and that process's name as /proc/PID/comm gives it (the kernel keeps at
// most 15 bytes of it).
inline constexpr std::size_t kMaxCommBytes = 15;
struct SocketOwner {
  std::uint64_t inode = 0;
  std::uint32_t pid = 0;  // 1 .. INT32_MAX
  std::string name;       // at most kMaxCommBytes; "" when the process ended before its name was read
  friend bool operator==(const SocketOwner&, const SocketOwner&) = default;
};
// The inodes asked about that were found, ascending, each once; inodes no
// process holds (or that have gone) are simply absent. At most kMaxOwners
// entries: a reply cut there (only possible for an empty request) says so.
inline constexpr std::size_t kMaxOwners = 4096;
struct SocketOwnersReply {
  bool truncated = false;
  std::vector<SocketOwner> owners;
  friend bool operator==(const SocketOwnersReply&, const SocketOwnersReply&) = default;
};

// The filter set travels as its typed values, never as firewall text: the
// helper builds the text itself, so a client can install DROP filters in the
// helper's own table and nothing else.
//   u32 local address count (<= kMaxFilterLocalAddresses), u32 drop count
//   (<= kMaxFilterDrops), the local addresses (u32 each), then per drop: u32
//   source address, source mask, destination address, destination mask, u8
//   protocol (0, 1, 6 or 17), u16 source port, source port high, destination
//   port, destination port high.
struct ApplyFilter {
  platform::FilterSet set;
  friend bool operator==(const ApplyFilter&, const ApplyFilter&) = default;
};
struct ApplyFilterReply {
  friend bool operator==(const ApplyFilterReply&, const ApplyFilterReply&) = default;
};
struct RemoveFilter {
  friend bool operator==(const RemoveFilter&, const RemoveFilter&) = default;
};
struct RemoveFilterReply {
  friend bool operator==(const RemoveFilterReply&, const RemoveFilterReply&) = default;
};

using Message = std::variant<Hello, HelloReply, DestroySocket, DestroySocketReply, ErrorReply, SocketOwners,
                             SocketOwnersReply, OpenCapture, OpenCaptureReply, ApplyFilter, ApplyFilterReply,
                             RemoveFilter, RemoveFilterReply>;

MessageType type_of(const Message& message);
bool is_request(MessageType type);

struct Frame {
  std::uint32_t request_id = 0;
  Message message;
  friend bool operator==(const Frame&, const Frame&) = default;
};

// The frame's bytes, header included. Texts longer than kMaxText are cut (at
// a character boundary) and an errno outside 0..4095 is sent as EIO; socket
// owner lists are put in their canonical form (sorted, duplicates and
// impossible entries dropped, names cut, lists cut at their limits with a
// reply marked truncated), so every encoded frame decodes.
std::vector<std::uint8_t> encode(const Frame& frame);

struct FrameHeader {
  std::uint16_t type = 0;  // not checked here: see decode_payload()
  std::uint32_t request_id = 0;
  std::uint32_t payload_size = 0;
};

// Reads a header from the first kHeaderSize bytes of `bytes`. Fails on a short
// input, a wrong magic or version, or a payload size above kMaxPayload; after
// such a failure the stream cannot be trusted to be in step any more.
Result<FrameHeader> decode_header(std::span<const std::uint8_t> bytes);

// Decodes the payload of a message of the given type. Fails on an unknown type
// and on any payload that is not the canonical encoding of a valid message.
// The stream stays in step after such a failure: the header said how long the
// payload was.
Result<Message> decode_payload(std::uint16_t type, std::span<const std::uint8_t> payload);

struct DecodedFrame {
  Frame frame;
  std::size_t size = 0;  // bytes the frame took from the input
};

// Decodes the one frame at the start of `bytes` (later bytes are left alone).
Result<DecodedFrame> decode_frame(std::span<const std::uint8_t> bytes);

}  // namespace tw::helper
