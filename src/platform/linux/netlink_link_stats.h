#pragma once
// The interface table read from the kernel over rtnetlink (libmnl).
//
// Every read_table() costs one RTM_GETSTATS dump filtered to the 64-bit link
// counters (IFLA_STATS_LINK_64); read_table_for() one RTM_GETSTATS request for
// a single interface while the set of interfaces stands. Names, aliases, MTU, hardware address, type,
// admin and operational state change rarely, so they are kept in a cache that
// is refreshed with an RTM_GETLINK dump:
//   - at construction,
//   - when a second socket subscribed to RTNLGRP_LINK has received anything
//     (drained non-blockingly at the start of every read, or, once a caller
//     watches it through watch_events(), read as it becomes readable),
//   - when the stats dump lists a different set of interface indexes than the
//     cache (an event was lost, or the interface appeared between two dumps).
//
// Namespaces: the sockets are opened in the constructor, so the object reads
// the network namespace of the thread that constructed it, whichever thread
// calls read_table() later. To read another namespace, construct the object on
// a thread that has joined it with setns() (tests/integration/netns.h does).
//
// Threads: read_table() is called from one thread at a time (the sampler
// thread); the object holds no lock of its own.
//
// Allocation: once the cache and the caller's vector have reached the size of
// the table, read_table() neither allocates nor frees.
//
// The pure parts live beside it: netlink_messages.h (the requests and the
// parsers of the replies), link_rows.h (the type table and the rows),
// link_ioctls.h (speed and wireless); here are the sockets, the dumps and the
// cache.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/link_stats.h"
#include "platform/linux/link_rows.h"
#include "platform/linux/netlink_messages.h"

struct mnl_socket;
struct nlmsghdr;

namespace tw::platform {

namespace netlink_detail {

// Where one dump's messages go (defined beside the callbacks).
struct DumpContext;

}  // namespace netlink_detail

class NetlinkLinkStats : public LinkStatsSource {
 public:
  // Opens the sockets in the calling thread's network namespace and loads the
  // link attributes. Check is_supported(); when it is false, read_table()
  // reports why.
  NetlinkLinkStats();
  ~NetlinkLinkStats() override;
  NetlinkLinkStats(const NetlinkLinkStats&) = delete;
  NetlinkLinkStats& operator=(const NetlinkLinkStats&) = delete;

  bool is_supported() override { return dump_sock_ != nullptr; }

  Status read_table(std::vector<LinkRow>& rows) override;
  // Between changes of the interface set, one RTM_GETSTATS request for the
  // one interface instead of a dump of all: a dump costs the kernel a dump
  // context and a 32 KiB buffer each time, and a machine with containers has
  // dozens of interfaces nobody samples.
  Status read_table_for(std::uint32_t index, std::vector<LinkRow>& rows) override;
  // Dumps the IPv4 routes on the same socket, so it reads the same namespace
  // as read_table().
  std::optional<std::uint32_t> default_route_index() override;
  int watch_events() override;
  void take_events() override;

  // How many times the link attributes were reloaded (for tests and benchmarks).
  std::uint64_t link_refreshes() const { return link_refreshes_; }

 private:
  struct SocketCloser {
    void operator()(mnl_socket* s) const;
  };
  using Socket = std::unique_ptr<mnl_socket, SocketCloser>;

  bool refresh_links();
  bool dump_stats();
  enum class GetResult { Read, Gone, Failed };
  GetResult get_stats(std::uint32_t index, netlink_detail::LinkCounters& out);
  bool run_dump(std::span<const char> request, std::uint32_t seq, int (*cb)(const nlmsghdr*, void*),
                netlink_detail::DumpContext& ctx);
  void drain(mnl_socket* sock);
  bool drain_events();  // true when any link event (or an overrun) was seen
  bool same_index_sets() const;
  void fail(const char* what, int err);

  Socket dump_sock_;
  Socket event_sock_;
  std::uint32_t portid_ = 0;
  std::uint32_t seq_ = 0;
  bool links_stale_ = true;
  bool events_watched_ = false;  // the caller reads the event socket (watch_events)
  bool dump_interrupted_ = false;
  std::uint64_t link_refreshes_ = 0;
  Error error_;  // the last failure; its detail is "" after a good read

  std::vector<char> buf_;                            // one receive buffer, sized once
  std::vector<netlink_detail::LinkInfo> links_;      // sorted by index
  std::vector<netlink_detail::LinkInfo> links_next_; // refresh target, swapped in
  std::vector<netlink_detail::LinkCounters> stats_;  // sorted by index
  std::vector<netlink_detail::LinkCounters> one_;    // get_stats() target, capacity 1
};

}  // namespace tw::platform
