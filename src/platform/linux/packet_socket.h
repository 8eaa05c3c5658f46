#pragma once
// The capture socket of the Packet Monitor: a packet socket on the device
// that owns the capture address, with a kernel filter that passes every IPv4
// datagram of that device (to or from any address: broadcasts and multicasts
// pass the device too, and the direction rules of the decoder decide the
// rest).
//
// Why a packet socket of our own rather than a pcap handle: it is complete in
// the kernel (filter attached, bound to its device), so the same few calls
// serve the programs' own capture (with CAP_NET_RAW) and tarnix-helper, which
// reads it on a client's behalf and forwards the datagrams, never the socket
// (a packet socket can be re-bound, unfiltered and used to send). SOCK_DGRAM
// strips the link-layer header (and the kernel has already taken VLAN tags
// off on the VLAN device that owns the address), so every read starts at the
// IP header, outgoing datagrams included.
//
// Used by tarnix-helper and by the programs' own capture; no state.
#include <cstdint>
#include <string>
#include <vector>

#include "base/error.h"
#include "helper/policy.h"
#include "platform/packet_capture.h"

namespace tw::platform {

// The largest datagram read whole.
inline constexpr std::uint32_t kCaptureSnapLength = 65535;

// The classic BPF program: ethertype IPv4 passes whole, everything else is
// dropped in the kernel.
struct BpfInstruction {
  std::uint16_t code;
  std::uint8_t jt;
  std::uint8_t jf;
  std::uint32_t k;
};
std::vector<BpfInstruction> capture_filter();

// The machine's IPv4 addresses with their devices (getifaddrs), in the
// kernel's order; empty when they cannot be read.
std::vector<helper::MachineAddress> machine_ipv4_addresses();

// The index of the device that holds `address` (network byte order); 0 when
// no device holds it.
unsigned device_of_address(std::uint32_t address);

// Opens the capture socket, filter attached and bound to the device: the
// descriptor (close-on-exec, blocking), or -1 with `failure` set.
int open_device_capture_socket(unsigned device, CaptureFailure& failure);
// The same for the device that holds `address` (network byte order).
int open_capture_socket(std::uint32_t address, CaptureFailure& failure);

// Adds the kernel's drop count of a capture socket since the last call
// (reading it resets it) to `dropped`.
void add_capture_drops(int fd, std::uint64_t& dropped);

// A failure carried through the helper's messages as an Error, and back.
Error capture_error(const CaptureFailure& f);
CaptureFailure capture_failure(const Error& e);

}  // namespace tw::platform
