#pragma once
// The packet filter through tarnix-helper: the helper holds CAP_NET_ADMIN and
// the nftables table, which lives as long as the helper runs. The helper ends
// with the client object or with the thread that started it, and the kernel
// then removes the table, so the filters never outlive the program.
//
// The helper installs the set for the machine's own non-loopback addresses
// only: the set's addresses narrow them, an address that is not one of them
// (127.0.0.1, 0.0.0.0, 255.255.255.255, another host's) is left out.
#include "platform/linux/helper_client.h"
#include "platform/packet_filter.h"

namespace tw::platform {

// `client` must outlive this object. Call from the thread that is to own the
// helper (the main thread): see HelperClient.
class HelperPacketFilter : public PacketFilter {
 public:
  explicit HelperPacketFilter(HelperClient& client) : client_(client) {}
  // Starts the helper to learn whether it holds the capability.
  bool is_supported() override;
  Status apply(const FilterSet& set) override;
  Status remove() override;

 private:
  Status capable();
  HelperClient& client_;
  bool installed_ = false;
};

}  // namespace tw::platform
