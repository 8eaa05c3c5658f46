#pragma once
// The machine's IPv4 packet filter, as the Packet Filter drives it: a set of
// DROP filters per local IPv4 address on top of a default that lets
// everything through, installed as a whole and removed as a whole.
//
// Linux: one nftables table `ip tarnwatch` created with `flags owner`, so the
// kernel removes it when the process that holds it ends, even on SIGKILL.
// Implementations:
//   - NftablesPacketFilter (platform/privileged): in-process, for a process
//     that holds CAP_NET_ADMIN (tarnixd run as root, tarnix-helper);
//   - HelperPacketFilter (platform/linux): asks tarnix-helper, which then owns
//     the table for as long as it runs;
//   - FakePacketFilter (platform/fake) for tests.
// ChoosingPacketFilter below picks between the first two.
//
// Threads: one thread at a time per object; the helper's must be a
// long-lived thread (the helper ends with the thread that started it).
#include <cerrno>
#include <cstdint>
#include <vector>

#include "base/error.h"

namespace tw::platform {

// Values of FilterDescriptor::protocol.
inline constexpr std::uint8_t kFilterAnyProtocol = 0;
inline constexpr std::uint8_t kFilterIcmp = 1;
inline constexpr std::uint8_t kFilterTcp = 6;
inline constexpr std::uint8_t kFilterUdp = 17;
// An ICMP type or code of this value matches any.
inline constexpr std::uint16_t kFilterIcmpAny = 255;

// One DROP filter. Addresses and masks are numbers whose most significant
// byte is the first octet of the dotted quad; a mask of 0 matches any
// address. Ports are inclusive ranges, 0-0 meaning any port; for ICMP
// src_port is the type and dst_port the code (kFilterIcmpAny: any), and the
// high ends are unused. Ports of any other protocol than TCP and UDP are
// unused too.
struct FilterDescriptor {
  std::uint32_t src_address = 0, src_mask = 0;
  std::uint32_t dst_address = 0, dst_mask = 0;
  std::uint8_t protocol = kFilterAnyProtocol;
  std::uint16_t src_port = 0, src_port_high = 0;
  std::uint16_t dst_port = 0, dst_port_high = 0;
  friend bool operator==(const FilterDescriptor&, const FilterDescriptor&) = default;
};

// What is installed: every filter on every local address, inbound (packets
// to that address) and outbound (packets from it).
struct FilterSet {
  std::vector<std::uint32_t> local_addresses;
  std::vector<FilterDescriptor> drops;
  friend bool operator==(const FilterSet&, const FilterSet&) = default;
};

// The most a set may hold: the rule table's size, and more local addresses
// than any host has.
inline constexpr std::size_t kMaxFilterDrops = 2000;
inline constexpr std::size_t kMaxFilterLocalAddresses = 1024;

class PacketFilter {
 public:
  virtual ~PacketFilter() = default;
  // Whether apply() can work at all in this process (privileges, helper).
  virtual bool is_supported() = 0;
  // Replaces whatever this object installed before by `set`, in one step:
  // there is no moment without filters, and on an error the previous set
  // stays in force.
  virtual Status apply(const FilterSet& set) = 0;
  // Removes what this object installed; nothing installed is success.
  virtual Status remove() = 0;
};

// Filters in-process when this process may, through the helper otherwise.
// Remove goes to whichever installed the filters. Either pointer may be null;
// the filters must outlive this object.
class ChoosingPacketFilter : public PacketFilter {
 public:
  ChoosingPacketFilter(PacketFilter* in_process, PacketFilter* helper) : in_process_(in_process), helper_(helper) {}

  bool is_supported() override {
    return (in_process_ && in_process_->is_supported()) || (helper_ && helper_->is_supported());
  }

  Status apply(const FilterSet& set) override {
    PacketFilter* use = (in_process_ && in_process_->is_supported()) ? in_process_ : helper_;
    if (!use)
      return Error{"Please run with administrator privileges.",
                   "the packet filter needs CAP_NET_ADMIN, and there is no helper to ask", EPERM};
    // The other one may hold an older set (privileges changed in between).
    if (active_ && active_ != use) (void)active_->remove();
    Status s = use->apply(set);
    if (s) active_ = use;
    return s;
  }

  Status remove() override {
    if (!active_) return {};
    Status s = active_->remove();
    if (s) active_ = nullptr;
    return s;
  }

 private:
  PacketFilter* in_process_;
  PacketFilter* helper_;
  PacketFilter* active_ = nullptr;
};

}  // namespace tw::platform
