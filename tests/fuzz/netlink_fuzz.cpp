// Feeds arbitrary bytes to the rtnetlink message parsers and to the dump
// walker: a garbled or truncated kernel reply must be rejected, never misread
// past its end.
#include <libmnl/libmnl.h>
#include <linux/netlink.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/linux/netlink_messages.h"

namespace nd = tw::platform::netlink_detail;

namespace {
int count_messages(const nlmsghdr* nlh, void* data) {
  auto* n = static_cast<int*>(data);
  ++*n;
  nd::LinkInfo info;
  nd::LinkCounters counters;
  nd::parse_link_message(nlh, nlh->nlmsg_len, info);
  nd::parse_stats_message(nlh, nlh->nlmsg_len, counters);
  std::vector<nd::DefaultRouteHop> hops;
  nd::parse_route_message(nlh, nlh->nlmsg_len, hops);
  return MNL_CB_OK;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Copy into an aligned buffer of exactly `size` bytes so the sanitizer sees
  // any read beyond the message.
  std::vector<std::uint8_t> buf(data, data + size);
  nd::LinkInfo info;
  nd::LinkCounters counters;
  nd::parse_link_message(buf.data(), buf.size(), info);
  nd::parse_stats_message(buf.data(), buf.size(), counters);
  std::vector<nd::DefaultRouteHop> hops;
  nd::parse_route_message(buf.data(), buf.size(), hops);
  int n = 0;
  std::uint32_t seq = 0;
  if (size >= sizeof(nlmsghdr)) std::memcpy(&seq, buf.data() + 8, sizeof seq);
  nd::run_callbacks(buf.data(), buf.size(), seq, 0, count_messages, &n);
  return 0;
}
