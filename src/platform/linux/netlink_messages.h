#pragma once
// The rtnetlink messages of the interface table and the default route: the
// dump requests, the parsers of the replies and the walk over one received
// buffer. Pure functions over bytes, no socket: the fuzz target and the
// recorded-reply tests run them as they are.
//
// Any thread; no state.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct nlmsghdr;

namespace tw::platform::netlink_detail {

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

// The dump requests the reads send, built into `buf` (at least
// kDumpRequestBytes, aligned for nlmsghdr). Returns the request's length.
// Tools that record the kernel's answers send the very same requests.
inline constexpr std::size_t kDumpRequestBytes = 64;
std::size_t put_link_dump_request(char* buf, std::uint32_t seq);
std::size_t put_stats_dump_request(char* buf, std::uint32_t seq);
// The same counters of one interface, by kernel index: answered with one
// RTM_NEWSTATS message, or an error (ENODEV when no interface has the index).
std::size_t put_stats_get_request(char* buf, std::uint32_t seq, std::uint32_t ifindex);
// The IPv4 routes (every table; parse_route_message picks the main one).
std::size_t put_route_dump_request(char* buf, std::uint32_t seq);

}  // namespace tw::platform::netlink_detail
