#include "platform/linux/netlink_link_stats.h"

#include <libmnl/libmnl.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>

#include "platform/linux/link_ioctls.h"

namespace tw::platform {

using netlink_detail::LinkCounters;
using netlink_detail::LinkInfo;

namespace {

constexpr const char* kReadFailedHeadline = "Cannot read the network interface table.";

// The kernel never builds a dump part larger than 32 KiB (netlink_dump caps its
// skb there), so one buffer of that size always holds a whole part; a smaller
// one would make recvmsg report MSG_TRUNC and lose messages.
constexpr std::size_t kDumpBufferSize = 32768;

}  // namespace

void NetlinkLinkStats::SocketCloser::operator()(mnl_socket* s) const { mnl_socket_close(s); }

NetlinkLinkStats::NetlinkLinkStats() : buf_(kDumpBufferSize) {
  Socket dump(mnl_socket_open2(NETLINK_ROUTE, SOCK_CLOEXEC));
  if (!dump || mnl_socket_bind(dump.get(), 0, MNL_SOCKET_AUTOPID) < 0) {
    fail("cannot open the rtnetlink socket", errno);
    return;
  }
  // The kernel answers a dump at once; the timeout only keeps a sampler thread
  // from hanging forever should it ever not.
  timeval tv{2, 0};
  setsockopt(mnl_socket_get_fd(dump.get()), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);

  // Link events tell us when the cached attributes went stale. Without this
  // socket the cache is still refreshed when the set of interfaces changes,
  // but a cable pulled on an interface would not be seen; so it is required.
  Socket events(mnl_socket_open2(NETLINK_ROUTE, SOCK_CLOEXEC | SOCK_NONBLOCK));
  if (!events || mnl_socket_bind(events.get(), RTMGRP_LINK, MNL_SOCKET_AUTOPID) < 0) {
    fail("cannot subscribe to link events", errno);
    return;
  }
  portid_ = mnl_socket_get_portid(dump.get());
  dump_sock_ = std::move(dump);
  event_sock_ = std::move(events);
  links_.reserve(16);
  links_next_.reserve(16);
  stats_.reserve(16);
  one_.reserve(1);
  // Any event queued before this load is already reflected in it.
  drain_events();
  if (refresh_links()) links_stale_ = false;
}

NetlinkLinkStats::~NetlinkLinkStats() = default;

void NetlinkLinkStats::fail(const char* what, int err) {
  error_ = err != 0 ? Error::from_errno(kReadFailedHeadline, what, err) : Error{kReadFailedHeadline, what, 0};
}

void NetlinkLinkStats::drain(mnl_socket* sock) {
  const int fd = mnl_socket_get_fd(sock);
  for (int i = 0; i < 1024; ++i) {
    const ssize_t n = recv(fd, buf_.data(), buf_.size(), MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != ENOBUFS) return;  // EAGAIN: empty
  }
}

bool NetlinkLinkStats::drain_events() {
  const int fd = mnl_socket_get_fd(event_sock_.get());
  bool seen = false;
  // Bounded so that a flood of events cannot hold the sampler here; whatever
  // is left is seen on the next read.
  for (int i = 0; i < 64; ++i) {
    const ssize_t n = recv(fd, buf_.data(), buf_.size(), MSG_DONTWAIT);
    if (n > 0) {
      seen = true;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // ENOBUFS: the socket overran and events were lost; reload to be safe.
    if (n < 0 && errno == ENOBUFS) {
      seen = true;
      continue;
    }
    break;
  }
  return seen;
}

struct netlink_detail::DumpContext {
  std::vector<LinkInfo>* links = nullptr;
  std::vector<LinkCounters>* stats = nullptr;
  std::vector<netlink_detail::DefaultRouteHop>* routes = nullptr;
  bool malformed = false;
};

namespace {

using netlink_detail::DumpContext;

int link_msg_cb(const nlmsghdr* nlh, void* data) {
  auto* ctx = static_cast<DumpContext*>(data);
  auto& links = *ctx->links;
  links.emplace_back();
  if (!netlink_detail::parse_link_message(nlh, nlh->nlmsg_len, links.back())) {
    ctx->malformed = true;
    return MNL_CB_ERROR;
  }
  return MNL_CB_OK;
}

int stats_msg_cb(const nlmsghdr* nlh, void* data) {
  auto* ctx = static_cast<DumpContext*>(data);
  auto& stats = *ctx->stats;
  stats.emplace_back();
  if (!netlink_detail::parse_stats_message(nlh, nlh->nlmsg_len, stats.back())) {
    ctx->malformed = true;
    return MNL_CB_ERROR;
  }
  return MNL_CB_OK;
}

int route_msg_cb(const nlmsghdr* nlh, void* data) {
  return netlink_detail::collect_default_routes(nlh, static_cast<DumpContext*>(data)->routes);
}

}  // namespace

bool NetlinkLinkStats::run_dump(std::span<const char> request, std::uint32_t seq,
                                int (*cb)(const nlmsghdr*, void*), DumpContext& ctx) {
  mnl_socket* sock = dump_sock_.get();
  if (mnl_socket_sendto(sock, request.data(), request.size()) < 0) {
    fail("rtnetlink request failed", errno);
    return false;
  }
  for (;;) {
    const ssize_t n = mnl_socket_recvfrom(sock, buf_.data(), buf_.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      fail("rtnetlink receive failed", errno);
      drain(sock);
      return false;
    }
    const int ret = netlink_detail::run_callbacks(buf_.data(), static_cast<std::size_t>(n), seq, portid_, cb, &ctx);
    if (ret == MNL_CB_STOP) return true;  // NLMSG_DONE
    if (ret == MNL_CB_OK) continue;       // more parts follow
    const int err = errno;
    if (ctx.malformed) {
      fail("malformed rtnetlink message", 0);
    } else if (err == EINTR) {
      // NLM_F_DUMP_INTR: the table changed while it was dumped.
      dump_interrupted_ = true;
      fail("rtnetlink dump interrupted", 0);
    } else {
      fail("rtnetlink error reply", err);
    }
    // Read off the rest of the dump, or the next request would get EBUSY.
    drain(sock);
    return false;
  }
}

bool NetlinkLinkStats::refresh_links() {
  alignas(nlmsghdr) char req[netlink_detail::kDumpRequestBytes] = {};
  const std::size_t req_len = netlink_detail::put_link_dump_request(req, ++seq_);

  // Load into the spare vector; the cache stays as it was when the load fails.
  links_next_.clear();
  dump_interrupted_ = false;
  DumpContext ctx;
  ctx.links = &links_next_;
  if (!run_dump({req, req_len}, seq_, link_msg_cb, ctx)) return false;

  std::sort(links_next_.begin(), links_next_.end(),
            [](const LinkInfo& a, const LinkInfo& b) { return a.index < b.index; });
  const int ioctl_fd = mnl_socket_get_fd(dump_sock_.get());
  for (LinkInfo& link : links_next_) netlink_detail::query_speed_and_wireless(ioctl_fd, link);
  links_.swap(links_next_);
  ++link_refreshes_;
  return true;
}

bool NetlinkLinkStats::dump_stats() {
  alignas(nlmsghdr) char req[netlink_detail::kDumpRequestBytes] = {};
  const std::size_t req_len = netlink_detail::put_stats_dump_request(req, ++seq_);

  stats_.clear();
  dump_interrupted_ = false;
  DumpContext ctx;
  ctx.stats = &stats_;
  if (!run_dump({req, req_len}, seq_, stats_msg_cb, ctx)) return false;
  // Recent kernels dump in index order; older ones walk a hash table.
  if (!std::is_sorted(stats_.begin(), stats_.end(),
                      [](const LinkCounters& a, const LinkCounters& b) { return a.index < b.index; })) {
    std::sort(stats_.begin(), stats_.end(),
              [](const LinkCounters& a, const LinkCounters& b) { return a.index < b.index; });
  }
  return true;
}

bool NetlinkLinkStats::same_index_sets() const {
  if (links_.size() != stats_.size()) return false;
  for (std::size_t i = 0; i < links_.size(); ++i) {
    if (links_[i].index != stats_[i].index) return false;
  }
  return true;
}

int NetlinkLinkStats::watch_events() {
  if (!is_supported()) return -1;
  events_watched_ = true;
  return mnl_socket_get_fd(event_sock_.get());
}

void NetlinkLinkStats::take_events() {
  if (!is_supported()) return;
  // One message per readiness: the descriptor is readable, so this read
  // does not fail for want of data, and anything further keeps it readable
  // for the watcher's next wait. ENOBUFS (the socket overran, events were
  // lost) is a reason to reload just the same.
  const ssize_t n = recv(mnl_socket_get_fd(event_sock_.get()), buf_.data(), buf_.size(), MSG_DONTWAIT);
  if (n > 0 || (n < 0 && errno == ENOBUFS)) links_stale_ = true;
}

Status NetlinkLinkStats::read_table(std::vector<LinkRow>& rows) {
  if (!is_supported()) return error_;
  if (!events_watched_ && drain_events()) links_stale_ = true;

  // Interfaces may come and go between the link dump and the stats dump; try
  // a few times to see both agree, then settle for the interfaces both know.
  bool have_stats = false;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (links_stale_) {
      if (!refresh_links()) {
        if (dump_interrupted_) continue;
        return error_;
      }
      links_stale_ = false;
    }
    have_stats = dump_stats();
    if (!have_stats) {
      if (dump_interrupted_) continue;
      return error_;
    }
    if (same_index_sets()) break;
    links_stale_ = true;
  }
  // Every attempt was interrupted by interfaces coming and going.
  if (!have_stats || link_refreshes_ == 0) return error_;

  netlink_detail::merge_rows(links_, stats_, rows);
  error_.detail.clear();
  error_.errno_value = 0;
  return {};
}

NetlinkLinkStats::GetResult NetlinkLinkStats::get_stats(std::uint32_t index, LinkCounters& out) {
  alignas(nlmsghdr) char req[netlink_detail::kDumpRequestBytes] = {};
  const std::size_t req_len = netlink_detail::put_stats_get_request(req, ++seq_, index);
  mnl_socket* sock = dump_sock_.get();
  if (mnl_socket_sendto(sock, req, req_len) < 0) return GetResult::Failed;
  ssize_t n;
  do {
    n = mnl_socket_recvfrom(sock, buf_.data(), buf_.size());
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    drain(sock);
    return GetResult::Failed;
  }
  one_.clear();
  DumpContext ctx;
  ctx.stats = &one_;
  const int ret = netlink_detail::run_callbacks(buf_.data(), static_cast<std::size_t>(n), seq_, portid_, stats_msg_cb, &ctx);
  if (ret == MNL_CB_ERROR && !ctx.malformed && errno == ENODEV) return GetResult::Gone;
  // One answer, for the interface asked about, and nothing after it.
  if (ret != MNL_CB_OK || one_.size() != 1 || one_.front().index != index) {
    drain(sock);
    return GetResult::Failed;
  }
  out = one_.front();
  return GetResult::Read;
}

Status NetlinkLinkStats::read_table_for(std::uint32_t index, std::vector<LinkRow>& rows) {
  if (!is_supported()) return error_;
  if (!events_watched_ && drain_events()) links_stale_ = true;
  // Only while the cache and the last dump list the same interfaces: then
  // every other row is as read_table() left it, and a change of the set
  // (an event, or the interface asked about gone) brings a full read.
  if (links_stale_ || link_refreshes_ == 0 || !same_index_sets()) return read_table(rows);
  const auto it = std::lower_bound(stats_.begin(), stats_.end(), index,
                                   [](const LinkCounters& c, std::uint32_t i) { return c.index < i; });
  if (it == stats_.end() || it->index != index) return read_table(rows);
  switch (get_stats(index, *it)) {
    case GetResult::Read: break;
    case GetResult::Gone: links_stale_ = true; return read_table(rows);
    case GetResult::Failed: return read_table(rows);
  }
  netlink_detail::merge_rows(links_, stats_, rows);
  error_.detail.clear();
  error_.errno_value = 0;
  return {};
}

std::optional<std::uint32_t> NetlinkLinkStats::default_route_index() {
  if (!is_supported()) return std::nullopt;
  std::vector<netlink_detail::DefaultRouteHop> hops;
  // A dump interrupted by a routing change is asked again, like the link dumps.
  for (int attempt = 0; attempt < 3; ++attempt) {
    alignas(nlmsghdr) char req[netlink_detail::kDumpRequestBytes] = {};
    const std::size_t req_len = netlink_detail::put_route_dump_request(req, ++seq_);
    hops.clear();
    dump_interrupted_ = false;
    DumpContext ctx;
    ctx.routes = &hops;
    if (run_dump({req, req_len}, seq_, route_msg_cb, ctx))
      return netlink_detail::preferred_default_interface(hops);
    if (!dump_interrupted_) break;
  }
  return std::nullopt;
}

}  // namespace tw::platform
