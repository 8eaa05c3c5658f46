#pragma once
// Interface table rows from the cached link attributes and the counters: the
// IANA interface type of a link type, the operational status, the merge of
// the two dumps.
//
// Any thread; no state.
#include <cstdint>
#include <vector>

#include "platform/link_stats.h"
#include "platform/linux/netlink_messages.h"

namespace tw::platform::netlink_detail {

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

// The table rows of the interfaces that both lists know, in index order.
// Both lists must be sorted by index. Reuses the capacity of `rows`.
void merge_rows(const std::vector<LinkInfo>& links, const std::vector<LinkCounters>& stats,
                std::vector<LinkRow>& rows);

}  // namespace tw::platform::netlink_detail
