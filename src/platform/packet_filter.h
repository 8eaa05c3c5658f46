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
#include "base/net_values.h"

namespace tw::platform {

// The filter values live below both this interface and the helper's
// messages (base/net_values.h); the platform names them as before.
using net::FilterDescriptor;
using net::FilterSet;
using net::kFilterAnyProtocol;
using net::kFilterIcmp;
using net::kFilterIcmpAny;
using net::kFilterTcp;
using net::kFilterUdp;
using net::kMaxFilterDrops;
using net::kMaxFilterLocalAddresses;

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
