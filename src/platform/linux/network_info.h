#pragma once
// NetworkInfoSource for Linux.
//
// Where each fact comes from:
// - adapters, their IPv4 addresses and default gateways: rtnetlink dumps
//   (RTM_GETLINK, RTM_GETADDR, RTM_GETROUTE) on a socket opened per query, so
//   a query sees the network namespace of the calling thread at that moment;
//   the gateway is the default route of the main table through the adapter,
//   lowest metric first;
// - host name: gethostname;
// - domain and DNS servers: <etc>/resolv.conf, or systemd-resolved's upstream
//   list <run>/systemd/resolve/resolv.conf when the first names only the local
//   stub 127.0.0.53 (the stub would hide the real servers);
// - routing: <proc>/sys/net/ipv4/ip_forward; ARP proxy:
//   <proc>/sys/net/ipv4/conf/all/proxy_arp;
// - DHCP server and lease times: lease files of systemd-networkd
//   (<run>/systemd/netif/leases/IFINDEX), NetworkManager
//   (<var>/lib/NetworkManager/*-IFNAME.lease) and dhclient
//   (<var>/lib/dhcp/dhclient*.leases). A lease counts only when its address
//   is still on the adapter, so a file left over from an earlier DHCP setup
//   does not make a static address look leased. No lease: DHCP "Disable";
// - WINS servers: the NetBIOS name servers of a dhclient lease; otherwise
//   none (WINS "Disable");
// - node type and scope id: Linux has no NetBIOS node of its own; the node
//   type is reported as unknown (0) and the scope id as empty, rather than
//   claiming a node type the machine does not have.
#include <string>

#include "platform/network_info.h"

namespace tw::platform {

// Folders the source reads below; tests point them at fixture trees.
struct NetworkInfoRoots {
  std::string proc = "/proc";
  std::string etc = "/etc";
  std::string run = "/run";
  std::string var = "/var";
};

class LinuxNetworkInfo final : public NetworkInfoSource {
 public:
  explicit LinuxNetworkInfo(NetworkInfoRoots roots = {});

  Status network_params(NetworkParams& out) override;
  Status adapters(std::vector<AdapterInfo>& out) override;
  Status ipv6_addresses(std::vector<net::IpAddress>& out) override;

 private:
  NetworkInfoRoots roots_;
};

}  // namespace tw::platform
