#pragma once
// The interface table read from the kernel over rtnetlink (libmnl).
//
// Every read_table() costs one RTM_GETSTATS dump filtered to the 64-bit link
// counters (IFLA_STATS_LINK_64). Names, aliases, MTU, hardware address, type,
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
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/link_stats.h"

struct mnl_socket;
struct nlmsghdr;

namespace tw::platform {

namespace netlink_detail {

// Link attributes that change rarely, parsed from one RTM_NEWLINK message.
struct LinkInfo {
  std::uint32_t index = 0;
  std::string if_name;
  std::string alias;
  std::uint16_t arphrd = 0;     // ifi_type, ARPHRD_*
  std::uint32_t flags = 0;      // ifi_flags, IFF_*
  std::uint8_t operstate = 0;   // IF_OPER_*; IF_OPER_UNKNOWN when the kernel sent none
  std::uint32_t mtu = 0;
  std::uint32_t addr_len = 0;   // bytes of hardware address the kernel sent (capped at 32)
  std::array<std::uint8_t, 32> addr{};
  // Filled by the owner after parsing, not from the message:
  bool wireless = false;
  std::uint64_t speed_bps = 0;
};

// The counters of one RTM_NEWSTATS message.
struct LinkCounters {
  std::uint32_t index = 0;
  std::uint64_t rx_packets = 0, tx_packets = 0, rx_bytes = 0, tx_bytes = 0;
  std::uint64_t rx_errors = 0, tx_errors = 0, rx_dropped = 0, tx_dropped = 0;
  std::uint64_t multicast = 0, rx_nohandler = 0;
};

// Parsers of one netlink message each. They check every length against the
// message before reading it and return false for anything malformed, so a
// truncated or garbled message is skipped rather than misread.
// `nlh_bytes` is the number of bytes available at `nlh` (at least nlmsg_len).
bool parse_link_message(const void* nlh, std::size_t nlh_bytes, LinkInfo& out);
bool parse_stats_message(const void* nlh, std::size_t nlh_bytes, LinkCounters& out);

// Runs the callback over every data message of one received buffer (libmnl's
// mnl_cb_run2: lengths, sequence number and port are checked). Returns
// MNL_CB_OK when more parts follow, MNL_CB_STOP at the end of the dump and
// MNL_CB_ERROR, with errno set, on an error reply, on a dump that ended with
// an error code, on an interrupted dump (EINTR) or when `cb` fails.
int run_callbacks(const void* buf, std::size_t bytes, std::uint32_t seq, std::uint32_t portid,
                  int (*cb)(const nlmsghdr*, void*), void* data);

// Operational status as the interface table reports it: 5 when the link is
// usable, 0 otherwise. IF_OPER_UP is usable; so is IF_OPER_UNKNOWN on an
// interface that is administratively up with carrier (loopback, tun, dummy and
// other drivers that never set an operational state report UNKNOWN while they
// carry traffic).
std::uint32_t oper_status(std::uint8_t operstate, std::uint32_t ifi_flags);

// IANA ifType number for a Linux ARPHRD_* link type (6 ethernet, 24 loopback,
// 71 IEEE 802.11, 23 PPP, 131 tunnel, ...; 1 "other" when there is none).
// Wireless devices present themselves as ARPHRD_ETHER; `wireless` says so.
std::uint32_t iana_if_type(std::uint16_t arphrd, bool wireless);

// Fills one table row from the cached attributes and the counters.
void fill_row(const LinkInfo& link, const LinkCounters& counters, LinkRow& row);

// One next hop of an IPv4 default route of the main routing table.
struct DefaultRouteHop {
  std::uint32_t oif = 0;       // outgoing interface index; 0 when the route names none
  std::uint32_t priority = 0;  // the route's metric
  std::string gateway;         // dotted decimal, empty without a gateway
};
// Appends the next hops of one RTM_NEWROUTE message to `out` when it is an
// IPv4 unicast default route of the main table (one per next hop of a
// multipath route); any other route adds nothing. False, and nothing added,
// for a malformed message.
bool parse_route_message(const void* nlh, std::size_t nlh_bytes, std::vector<DefaultRouteHop>& out);
// parse_route_message as a dump callback (libmnl's mnl_cb_t): `data` is the
// std::vector<DefaultRouteHop>. A malformed message is passed over.
int collect_default_routes(const nlmsghdr* nlh, void* data);
// The interface of the hop with the lowest metric; of equal metrics the one
// the kernel listed first.
std::optional<std::uint32_t> preferred_default_interface(const std::vector<DefaultRouteHop>& hops);

// The two dump requests a read sends, built into `buf` (at least
// kDumpRequestBytes, aligned for nlmsghdr). Returns the request's length.
// Tools that record the kernel's answers send the very same requests.
inline constexpr std::size_t kDumpRequestBytes = 64;
std::size_t put_link_dump_request(char* buf, std::uint32_t seq);
std::size_t put_stats_dump_request(char* buf, std::uint32_t seq);

// The table rows of the interfaces that both lists know, in index order.
// Both lists must be sorted by index. Reuses the capacity of `rows`.
void merge_rows(const std::vector<LinkInfo>& links, const std::vector<LinkCounters>& stats,
                std::vector<LinkRow>& rows);

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
  bool run_dump(std::span<const char> request, std::uint32_t seq, int (*cb)(const nlmsghdr*, void*),
                netlink_detail::DumpContext& ctx);
  void drain(mnl_socket* sock);
  bool drain_events();  // true when any link event (or an overrun) was seen
  void query_speed_and_wireless(netlink_detail::LinkInfo& link);
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
};

}  // namespace tw::platform
