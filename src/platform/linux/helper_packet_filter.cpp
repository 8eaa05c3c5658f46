#include "platform/linux/helper_packet_filter.h"

#include <linux/capability.h>

#include <variant>


namespace tw::platform {
namespace {
constexpr std::uint64_t kNetAdmin = std::uint64_t{1} << CAP_NET_ADMIN;
// A full rule table on a host with several addresses is thousands of nftables
// rules: well under a second normally, but a busy machine may take longer,
// and a helper killed for being slow would take the old filters with it.
constexpr std::chrono::milliseconds kApplyTimeout{15000};
}  // namespace

bool HelperPacketFilter::is_supported() { return capable().ok(); }

Status HelperPacketFilter::capable() {
  auto caps = client_.capabilities();
  if (!caps) return caps.error();
  if ((*caps & kNetAdmin) == 0)
    return needs_administrator(kHelperWithoutCapabilitiesCause,
                               client_.path() + " lacks CAP_NET_ADMIN, so it cannot install the packet filter", EPERM);
  return {};
}

Status HelperPacketFilter::apply(const FilterSet& set) {
  if (Status s = capable(); !s) return s;
  auto reply = client_.call(helper::ApplyFilter{set}, kApplyTimeout);
  if (!reply) return reply.error();
  if (const auto* e = std::get_if<helper::ErrorReply>(&*reply)) return e->error;
  installed_ = true;
  return {};
}

Status HelperPacketFilter::remove() {
  // A helper that is not running holds no table: the kernel removed it with
  // the helper.
  if (!installed_ || client_.pid() == 0) {
    installed_ = false;
    return {};
  }
  auto reply = client_.call(helper::RemoveFilter{}, kApplyTimeout);
  if (!reply) return reply.error();
  if (const auto* e = std::get_if<helper::ErrorReply>(&*reply)) return e->error;
  installed_ = false;
  return {};
}

}  // namespace tw::platform
