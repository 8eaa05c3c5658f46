#pragma once
// The message format between Tarnwatch and its privileged helper,
// tarnix-helper.
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
// Two channels join the two: the request channel (a stream socket, the
// helper's fd 0), on which the client sends requests (Hello, DestroySocket,
// SocketOwners, ApplyFilter, RemoveFilter, StartCapture, StopCapture) and the
// helper answers each with exactly one frame of the same request id: the
// request's own reply, or an ErrorReply; and the capture channel (a
// SOCK_SEQPACKET socket, the helper's fd 3), on which the helper sends
// CaptureBatch frames, one frame per message, while a capture runs. No
// descriptor ever crosses either channel: the helper keeps its sockets.
//
// The helper is the trust boundary, so the decoder takes nothing on faith: it
// checks every size against the bytes at hand, every enumeration against its
// range, and accepts only the canonical encoding of a message (no padding, no
// trailing bytes, zeros where a field is unused), so that whatever it accepts
// encodes back to exactly the same bytes.
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
#include "base/net_values.h"

namespace tw::helper {

inline constexpr std::array<std::uint8_t, 4> kMagic{'T', 'W', 'H', 'P'};
// 2: the capture's datagrams are forwarded (StartCapture, CaptureBatch)
// instead of its socket being handed over; filter sets carry their family.
inline constexpr std::uint16_t kVersion = 2;
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
  kDestroySocketReply = 4,  // helper -> client: closed, or there was no such connection
  kErrorReply = 5,          // helper -> client: the request failed
  // Socket owners have a block of numbers of their own, apart from the
  // other operations. A helper older than them answers with an ErrorReply
  // (unknown message type), so a newer client can tell it cannot help.
  kSocketOwners = 16,       // client -> helper: which processes hold these sockets?
  kSocketOwnersReply = 17,  // helper -> client: the holders found
  // 20 and 21 were the capture socket handed over (version 1); never reused.
  kStartCapture = 22,       // client -> helper: capture on the device of one local address
  kStartCaptureReply = 23,  // helper -> client: capturing; batches follow on the capture channel
  kStopCapture = 24,        // client -> helper: end the capture
  kStopCaptureReply = 25,   // helper -> client: ended, with the run's final counts
  kCaptureBatch = 26,       // helper -> client, capture channel only: datagrams
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
inline constexpr std::uint8_t kFamilyIPv4 = net::kFamilyIPv4;  // AF_INET
inline constexpr std::uint8_t kFamilyIPv6 = net::kFamilyIPv6;  // AF_INET6
inline constexpr std::uint8_t kProtocolTcp = 6;   // IPPROTO_TCP
inline constexpr std::uint8_t kProtocolUdp = 17;  // IPPROTO_UDP

// A socket as the kernel's sock_diag names it. Addresses are the raw bytes in
// network order; an IPv4 address takes the first 4 bytes and the rest are 0.
// Ports are in host byte order. The helper takes it as a question, not as an
// order: it looks the socket up itself, and closes only an established-side
// TCP connection that matches exactly, by the cookie its own lookup returned
// (a cookie given here only narrows the lookup; SocketId::kAnyCookie: none).
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
// Whether a connection was closed: false when none matched (it had ended,
// or the lookup found only a listener or another socket, left alone).
//   u8 closed (0 or 1)
struct DestroySocketReply {
  bool closed = false;
  friend bool operator==(const DestroySocketReply&, const DestroySocketReply&) = default;
};
// A capture on the device that owns `address`, one of the machine's own
// non-loopback addresses (the helper checks; an IPv4 address has zeros after
// its fourth byte). The helper opens the packet socket, sets its filter
// (every IPv4 datagram of that device) and forwards what it reads as
// CaptureBatch frames on the capture channel, each with the request id of
// this StartCapture, so that batches of an earlier run are told apart. A
// capture running already is replaced.
//   u8 family, 16 bytes address
struct StartCapture {
  net::CaptureAddress address;
  friend bool operator==(const StartCapture&, const StartCapture&) = default;
};
//   u32 interface index of the device captured on (nonzero)
struct StartCaptureReply {
  std::uint32_t interface = 0;
  friend bool operator==(const StartCaptureReply&, const StartCaptureReply&) = default;
};
struct StopCapture {
  friend bool operator==(const StopCapture&, const StopCapture&) = default;
};
// The final counts of the run that ended (of the last run when none was
// going; zeros when there never was one).
//   u64 forwarded, u64 kernel drops, u64 forward drops
struct CaptureCounts {
  std::uint64_t forwarded = 0;      // datagrams sent to the client
  std::uint64_t kernel_drops = 0;   // the kernel's drop count of the capture socket (PACKET_STATISTICS)
  std::uint64_t forward_drops = 0;  // datagrams read but not sent: the capture channel was full
  friend bool operator==(const CaptureCounts&, const CaptureCounts&) = default;
};
struct StopCaptureReply {
  CaptureCounts counts;
  friend bool operator==(const StopCaptureReply&, const StopCaptureReply&) = default;
};

// Datagrams of a capture, each whole from its IP header, in the order read.
// The counts are the run's so far (they only grow). The last batch of a run
// that ended by itself (the device went away) says so, with the errno that
// ended it.
//   u8 ended (0 or 1), u32 end errno (0 unless ended; at most 4095),
//   u64 kernel drops, u64 forward drops, u32 count (<= kMaxBatchDatagrams),
//   then per datagram: u16 length (>= 1), the bytes.
inline constexpr std::size_t kMaxBatchDatagrams = 4096;
struct CaptureBatch {
  bool ended = false;
  std::uint32_t end_errno = 0;
  std::uint64_t kernel_drops = 0;
  std::uint64_t forward_drops = 0;
  std::vector<std::vector<std::uint8_t>> datagrams;
  friend bool operator==(const CaptureBatch&, const CaptureBatch&) = default;
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
// helper's own table and nothing else. The local addresses only narrow the
// machine's own non-loopback addresses, which the helper reads itself.
//   u8 family (kFamilyIPv4), u32 local address count (<=
//   kMaxFilterLocalAddresses), u32 drop count (<= kMaxFilterDrops), the local
//   addresses (u32 each), then per drop: u32 source address, source mask,
//   destination address, destination mask, u8 protocol (0, 1, 6 or 17), u16
//   source port, source port high, destination port, destination port high.
struct ApplyFilter {
  net::FilterSet set;
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
                             SocketOwnersReply, ApplyFilter, ApplyFilterReply, RemoveFilter, RemoveFilterReply,
                             StartCapture, StartCaptureReply, StopCapture, StopCaptureReply, CaptureBatch>;

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

// ---- the capture channel's hot path -----------------------------------------
// Hundreds of thousands of datagrams a second pass here, so batches are built
// in one buffer and read in place, without a Message per batch. Both give
// exactly the bytes that encode() and decode_payload() give for a
// CaptureBatch.

// Builds one CaptureBatch frame in a buffer it reuses.
class CaptureBatchWriter {
 public:
  explicit CaptureBatchWriter(std::size_t max_payload = kMaxPayload);
  // Starts an empty batch of the run `request_id`.
  void clear(std::uint32_t request_id);
  std::size_t count() const { return count_; }
  // The payload's bytes so far.
  std::size_t payload_size() const { return buf_.size() - kHeaderSize; }
  // Whether a datagram of `size` bytes still fits (never for 0 or more than
  // 65535 bytes).
  bool fits(std::size_t size) const;
  // Adds a datagram; only after fits(size) said yes.
  void add(std::span<const std::uint8_t> datagram);
  // The whole frame with these counts.
  std::span<const std::uint8_t> finish(const CaptureBatch& counts_and_end);

 private:
  std::vector<std::uint8_t> buf_;
  std::size_t max_payload_;
  std::uint32_t count_ = 0;
};

// A batch's payload checked whole, ready to be walked.
struct CaptureBatchView {
  bool ended = false;
  std::uint32_t end_errno = 0;
  std::uint64_t kernel_drops = 0;
  std::uint64_t forward_drops = 0;
  std::uint32_t count = 0;
  std::span<const std::uint8_t> records;  // count x (u16 length, bytes)

  // Calls fn(std::span<const std::uint8_t>) for each datagram in order.
  template <class Fn>
  void for_each(Fn&& fn) const {
    std::size_t at = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::size_t n = std::size_t{records[at]} | (std::size_t{records[at + 1]} << 8);
      fn(records.subspan(at + 2, n));
      at += 2 + n;
    }
  }
};
// Checks the payload of a CaptureBatch frame; fails exactly where
// decode_payload() fails for it.
Result<CaptureBatchView> view_capture_batch(std::span<const std::uint8_t> payload);

}  // namespace tw::helper
