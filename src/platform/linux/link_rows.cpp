#include "platform/linux/link_rows.h"

#include <linux/if.h>
#include <linux/if_arp.h>

#include <algorithm>

namespace tw::platform::netlink_detail {

std::uint32_t oper_status(std::uint8_t operstate, std::uint32_t ifi_flags) {
  if (operstate == IF_OPER_UP) return kOperStatusUp;
  const std::uint32_t usable = IFF_UP | IFF_RUNNING | IFF_LOWER_UP;
  if (operstate == IF_OPER_UNKNOWN && (ifi_flags & usable) == usable) return kOperStatusUp;
  return kOperStatusDown;
}

std::uint32_t iana_if_type(std::uint16_t arphrd, bool wireless) {
  switch (arphrd) {
    case ARPHRD_ETHER:
      return wireless ? 71 : 6;  // ieee80211 : ethernetCsmacd
    case ARPHRD_EETHER:
      return 26;  // ethernet3Mbit
    case ARPHRD_PRONET:
      return 12;  // proteon10Mbit
    case ARPHRD_IEEE802:
    case ARPHRD_IEEE802_TR:
      return 9;  // iso88025TokenRing
    case ARPHRD_ARCNET:
      return 35;  // arcnet
    case ARPHRD_ATM:
      return 37;  // atm
    case ARPHRD_IEEE1394:
      return 144;  // ieee1394
    case ARPHRD_INFINIBAND:
      return 199;  // infiniband
    case ARPHRD_SLIP:
    case ARPHRD_CSLIP:
    case ARPHRD_SLIP6:
    case ARPHRD_CSLIP6:
      return 28;  // slip
    case ARPHRD_X25:
      return 5;  // rfc877x25
    case ARPHRD_PPP:
      return 23;  // ppp
    case ARPHRD_HDLC:
      return 118;  // hdlc
    case ARPHRD_LAPB:
      return 16;  // lapb
    case ARPHRD_DLCI:
    case ARPHRD_FRAD:
      return 32;  // frameRelay
    case ARPHRD_LOOPBACK:
      return 24;  // softwareLoopback
    case ARPHRD_FDDI:
      return 15;  // fddi
    case ARPHRD_TUNNEL:
    case ARPHRD_TUNNEL6:
    case ARPHRD_SIT:
    case ARPHRD_IPGRE:
    case ARPHRD_IP6GRE:
      return 131;  // tunnel
    case ARPHRD_IEEE80211:
    case ARPHRD_IEEE80211_PRISM:
    case ARPHRD_IEEE80211_RADIOTAP:
      return 71;  // ieee80211
    case ARPHRD_IEEE802154:
      return 259;  // ieee802154
    case ARPHRD_NONE:
      return 53;  // propVirtual: tun, WireGuard and other layer-3 virtual links
    default:
      return 1;  // other
  }
}

void fill_row(const LinkInfo& link, const LinkCounters& c, LinkRow& row) {
  row.index = link.index;
  // Assignments, not constructions: the row's strings keep their capacity.
  row.name = link.alias.empty() ? link.if_name : link.alias;
  row.if_name = link.if_name;
  row.type = iana_if_type(link.arphrd, link.wireless);
  row.mtu = link.mtu;
  row.speed_bps = link.speed_bps;
  row.phys_addr_len = link.addr_len;
  row.phys_addr = link.addr;
  row.admin_status = (link.flags & IFF_UP) ? 1 : 2;
  row.oper_status = oper_status(link.operstate, link.flags);

  row.in_octets = c.rx_bytes;
  row.out_octets = c.tx_bytes;
  // The kernel counts received multicast (broadcast included on most
  // drivers) but keeps no sent-multicast count, so every sent packet counts
  // as unicast.
  const std::uint64_t in_multicast = std::min(c.multicast, c.rx_packets);
  row.in_ucast_pkts = c.rx_packets - in_multicast;
  row.in_nucast_pkts = in_multicast;
  row.out_ucast_pkts = c.tx_packets;
  row.out_nucast_pkts = 0;
  row.in_discards = c.rx_dropped;
  row.in_errors = c.rx_errors;
  row.in_unknown_protos = c.rx_nohandler;
  row.out_discards = c.tx_dropped;
  row.out_errors = c.tx_errors;
  row.out_qlen = 0;     // the kernel has no per-link queue length counter
  row.last_change = 0;  // nor a last-change tick
}

void merge_rows(const std::vector<LinkInfo>& links, const std::vector<LinkCounters>& stats,
                std::vector<LinkRow>& rows) {
  // An index missing from either list is left out.
  std::size_t n = 0;
  auto link = links.begin();
  for (const LinkCounters& c : stats) {
    while (link != links.end() && link->index < c.index) ++link;
    if (link == links.end()) break;
    if (link->index != c.index) continue;
    if (rows.size() <= n) rows.emplace_back();
    fill_row(*link, c, rows[n]);
    ++n;
  }
  rows.resize(n);
}

}  // namespace tw::platform::netlink_detail
