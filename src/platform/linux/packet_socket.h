#pragma once
// The capture socket of the Packet Monitor: a packet socket on the device
// that owns the capture address, with a kernel filter that passes only IPv4
// datagrams to or from that address.
//
// Why a packet socket of our own rather than a pcap handle: opening it needs
// CAP_NET_RAW, which the desktop program lacks, so tarnix-helper opens it and
// hands the descriptor over (SCM_RIGHTS). A pcap handle cannot cross a
// process boundary (its receive ring and state live in the opener's memory),
// but a packet socket with its filter attached is complete in the kernel: the
// receiving process just reads it. SOCK_DGRAM strips the link-layer header
// (and the kernel has already taken VLAN tags off on the VLAN device that
// owns the address), so every read starts at the IP header, outgoing
// datagrams included.
//
// Used by tarnix-helper and by the programs' own capture; no state.
#include <cstdint>
#include <string>
#include <vector>

#include "base/error.h"
#include "platform/packet_capture.h"

namespace tw::platform {

// The largest datagram read whole.
inline constexpr std::uint32_t kCaptureSnapLength = 65535;

// The classic BPF program: ethertype IPv4, source or destination `address`
// (network byte order); the rest is dropped in the kernel.
struct BpfInstruction {
  std::uint16_t code;
  std::uint8_t jt;
  std::uint8_t jf;
  std::uint32_t k;
};
std::vector<BpfInstruction> capture_filter(std::uint32_t address);

// The index of the device that holds `address` (network byte order); 0 when
// no device holds it.
unsigned device_of_address(std::uint32_t address);

// Opens the capture socket, filter attached and bound to the device: the
// descriptor (close-on-exec, blocking), or -1 with `failure` set.
int open_capture_socket(std::uint32_t address, CaptureFailure& failure);

// A failure carried through the helper's messages as an Error, and back.
Error capture_error(const CaptureFailure& f);
CaptureFailure capture_failure(const Error& e);

}  // namespace tw::platform
