#pragma once
// Capturing the datagrams of the interface that owns one local address: the
// Packet Monitor's source.
//
// A capture run delivers every datagram of the capture address's family seen
// on the interface that owns it (IPv4 datagrams for an IPv4 address, IPv6
// datagrams for an IPv6 one; to or from any address: broadcasts and
// multicasts included; the decoder's direction rules sort them), starting at
// its IP header (link-layer headers and VLAN tags already removed), one
// datagram per call of the sink, on a capture thread of the implementation's
// own.
//
// Implementations: LinuxPacketCapture (platform/linux: a packet socket read
// in-process, or the datagrams that tarnix-helper reads and forwards),
// FakePacketCapture (platform/fake).
//
// Threads: start(), stop() and stats() from the main thread; the sink's calls
// come from the capture thread.
#include <cerrno>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/ip_address.h"

namespace tw::platform {

class CaptureSink {
 public:
  virtual ~CaptureSink() = default;
  // First call of a run, on the capture thread.
  virtual void capture_started() = 0;
  // One datagram; the bytes are valid during the call only. Returning false
  // ends the run.
  virtual bool datagram(std::span<const std::uint8_t> bytes) = 0;
  // Last call of a run, on the capture thread, however the run ended.
  virtual void capture_ended() = 0;
};

// Why a capture could not start: the call that failed ("socket",
// "setsockopt", "bind") and its errno.
struct CaptureFailure {
  std::string call;
  int code = 0;
  std::string detail;
  // When privileges are missing and the reason is known: the reason with its
  // fix ("tarnix-helper is not installed: sudo make install"), shown below
  // the administrator line. "" otherwise.
  std::string cause = {};
  // The capture needs CAP_NET_RAW, which neither this process nor a helper
  // could bring.
  bool needs_privileges() const { return code == EPERM || code == EACCES; }
};

// Whether a capture started, and why not.
using CaptureStatus = BasicStatus<CaptureFailure>;

struct CaptureStats {
  std::uint64_t received = 0;  // datagrams handed to the sink
  // Datagrams lost to the capture: the kernel's drop count of the capture
  // socket (no room in its queue), plus, through the helper, those it read
  // but could not forward (no room in the capture channel).
  std::uint64_t dropped = 0;
  std::uint64_t forward_dropped = 0;  // of `dropped`, those the helper could not forward
};

class PacketCapture {
 public:
  virtual ~PacketCapture() = default;
  virtual bool is_supported() { return true; }

  // The machine's IPv4 addresses (network byte order) in interface order.
  virtual std::vector<std::uint32_t> local_addresses() = 0;
  // The machine's IPv6 addresses in interface order, every scope (loopback
  // and link-local included: the monitor chooses which it offers, and its
  // direction rules know the machine's own link-local addresses). Empty where
  // the machine has none.
  virtual std::vector<net::IpAddress> local_ipv6_addresses() { return {}; }
  // The first address the machine's own host name resolves to, if any.
  virtual std::optional<std::uint32_t> host_address() = 0;

  // Opens the capture on `address` and starts the capture thread, which calls
  // `sink` until stop(). The sink must outlive the run. Fails when a run is
  // going.
  virtual CaptureStatus start(const net::IpAddress& address, CaptureSink& sink) = 0;
  // Ends the run and waits for the capture thread: returns within about two
  // seconds even on an idle link. Does nothing when no run is going.
  virtual void stop() = 0;
  // Figures of the current (or last) run.
  virtual CaptureStats stats() = 0;
};

}  // namespace tw::platform
