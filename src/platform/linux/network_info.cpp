#include "platform/linux/network_info.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <libmnl/libmnl.h>
#include <linux/if.h>
#include <linux/if_arp.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>

#include "base/config_files.h"
#include "platform/linux/machine_ipv6.h"
#include "platform/linux/netlink_messages.h"
#include "platform/linux/owned_fd.h"

namespace tw::platform {
namespace {

using netlink_detail::DefaultRouteHop;

// ---------------------------------------------------------------------------
// Files.

struct DirCloser {
  void operator()(DIR* d) const noexcept { ::closedir(d); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

struct FileText {
  std::string text;
  std::int64_t mtime = 0;  // seconds since the epoch
};

// The first `max_bytes` of a file. /proc files report size 0, so read until
// end of file rather than trusting the size.
std::optional<FileText> read_file(const std::string& path, std::size_t max_bytes = 1 << 20) {
  const OwnedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd) return std::nullopt;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  FileText out;
  out.mtime = st.st_mtim.tv_sec;
  char buf[4096];
  while (out.text.size() < max_bytes) {
    const ssize_t n = ::read(fd.get(), buf, std::min(sizeof buf, max_bytes - out.text.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.text.append(buf, static_cast<std::size_t>(n));
  }
  return out;
}

// A /proc/sys switch: "1\n" is on; a missing file reads as off.
bool read_switch(const std::string& path) {
  auto f = read_file(path, 64);
  if (!f) return false;
  const std::size_t digit = f->text.find_first_not_of(" \t");
  return digit != std::string::npos && f->text[digit] >= '1' && f->text[digit] <= '9';
}

// Regular files of `dir` whose names pass `keep`, at most 256 of them.
template <typename Keep>
std::vector<std::string> list_files(const std::string& dir, Keep&& keep) {
  std::vector<std::string> names;
  UniqueDir d(::opendir(dir.c_str()));
  if (!d) return names;
  while (const dirent* e = ::readdir(d.get())) {
    const std::string_view name = e->d_name;
    if (name == "." || name == ".." || !keep(name)) continue;
    names.emplace_back(name);
    if (names.size() >= 256) break;
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool ends_with(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}
bool starts_with(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

std::optional<LocalTime> to_local(std::optional<std::int64_t> epoch) {
  if (!epoch) return std::nullopt;
  const std::time_t t = static_cast<std::time_t>(*epoch);
  std::tm tm{};
  if (!::localtime_r(&t, &tm)) return std::nullopt;
  return LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::string ipv4_text(const void* addr) {
  char buf[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, addr, buf, sizeof buf);
  return buf;
}

std::string mask_text(unsigned prefix_len) {
  const std::uint32_t host = prefix_len == 0 ? 0 : 0xFFFFFFFFu << (32 - std::min(prefix_len, 32u));
  const std::uint32_t net = htonl(host);
  return ipv4_text(&net);
}

// ---------------------------------------------------------------------------
// rtnetlink.

struct SocketCloser {
  void operator()(mnl_socket* s) const noexcept { mnl_socket_close(s); }
};
using NlSocket = std::unique_ptr<mnl_socket, SocketCloser>;

struct Link {
  std::uint32_t index = 0;
  std::string name;
  std::string alias;
  std::uint32_t addr_len = 0;
  std::array<std::uint8_t, 8> addr{};
};

struct Dumped {
  std::vector<Link> links;
  std::map<std::uint32_t, std::vector<IpAddressEntry>> addresses;  // by interface index
  std::map<std::uint32_t, std::vector<Ip6AddressEntry>> addresses6;
  std::vector<DefaultRouteHop> routes;
};

class Netlink {
 public:
  // 0 or errno.
  int open() {
    sock_.reset(mnl_socket_open2(NETLINK_ROUTE, SOCK_CLOEXEC));
    if (!sock_) return errno;
    if (mnl_socket_bind(sock_.get(), 0, MNL_SOCKET_AUTOPID) < 0) return errno;
    // The kernel answers dumps at once; the timeout only guards against a
    // reply that never comes, so the page never hangs on it.
    timeval tv{2, 0};
    ::setsockopt(mnl_socket_get_fd(sock_.get()), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    portid_ = mnl_socket_get_portid(sock_.get());
    return 0;
  }

  // Sends a dump request of `type` with the family header `hdr` and hands
  // every answer to `cb`. A dump that the kernel marks as interrupted (the
  // table changed while it was being read) is repeated, up to three times;
  // `reset` clears what the interrupted attempt collected.
  template <typename Hdr, typename Reset>
  int dump(std::uint16_t type, const Hdr& hdr, mnl_cb_t cb, void* data, Reset&& reset) {
    int err = EINTR;
    for (int attempt = 0; attempt < 3 && err == EINTR; ++attempt) {
      reset();
      err = dump_once(type, &hdr, sizeof hdr, cb, data);
    }
    return err;
  }

 private:
  int dump_once(std::uint16_t type, const void* hdr, std::size_t hdr_len, mnl_cb_t cb, void* data) {
    std::vector<char> buf(32768);  // a dump part is at most 32 KiB
    nlmsghdr* nlh = mnl_nlmsg_put_header(buf.data());
    nlh->nlmsg_type = type;
    nlh->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    nlh->nlmsg_seq = ++seq_;
    std::memcpy(mnl_nlmsg_put_extra_header(nlh, hdr_len), hdr, hdr_len);
    if (mnl_socket_sendto(sock_.get(), nlh, nlh->nlmsg_len) < 0) return errno;
    while (true) {
      const ssize_t n = mnl_socket_recvfrom(sock_.get(), buf.data(), buf.size());
      if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? ETIMEDOUT : errno;
      // The link source's walker: it refuses lengths libmnl would misread and
      // a dump that ended with an error code instead of passing it as whole.
      errno = 0;
      const int ret = netlink_detail::run_callbacks(buf.data(), static_cast<std::size_t>(n), seq_, portid_, cb, data);
      if (ret < 0) return errno ? errno : EIO;
      if (ret == MNL_CB_STOP) return 0;
    }
  }

  NlSocket sock_;
  unsigned seq_ = static_cast<unsigned>(::time(nullptr));
  unsigned portid_ = 0;
};

// Calls f for every attribute after the family header. mnl_attr_ok stops at
// the first attribute whose length runs past the message, so a truncated or
// malformed message yields only its well-formed prefix.
template <typename F>
void for_each_attr(const nlmsghdr* nlh, std::size_t header_len, F&& f) {
  const auto* attr = static_cast<const nlattr*>(mnl_nlmsg_get_payload_offset(nlh, header_len));
  const auto* tail = static_cast<const char*>(mnl_nlmsg_get_payload_tail(nlh));
  while (mnl_attr_ok(attr, static_cast<int>(tail - reinterpret_cast<const char*>(attr)))) {
    f(attr);
    attr = mnl_attr_next(attr);
  }
}

int on_link(const nlmsghdr* nlh, void* data) {
  if (mnl_nlmsg_get_payload_len(nlh) < sizeof(ifinfomsg)) return MNL_CB_OK;
  const auto* ifi = static_cast<const ifinfomsg*>(mnl_nlmsg_get_payload(nlh));
  if ((ifi->ifi_flags & IFF_LOOPBACK) || ifi->ifi_type == ARPHRD_LOOPBACK) return MNL_CB_OK;
  Link link;
  link.index = static_cast<std::uint32_t>(ifi->ifi_index);
  for_each_attr(nlh, sizeof(ifinfomsg), [&](const nlattr* attr) {
    switch (mnl_attr_get_type(attr)) {
      case IFLA_IFNAME:
        if (mnl_attr_validate(attr, MNL_TYPE_NUL_STRING) == 0) link.name = mnl_attr_get_str(attr);
        break;
      case IFLA_IFALIAS:
        if (mnl_attr_validate(attr, MNL_TYPE_NUL_STRING) == 0) link.alias = mnl_attr_get_str(attr);
        break;
      case IFLA_ADDRESS: {
        const std::size_t len = mnl_attr_get_payload_len(attr);
        link.addr_len = static_cast<std::uint32_t>(len);
        std::memcpy(link.addr.data(), mnl_attr_get_payload(attr), std::min(len, link.addr.size()));
        break;
      }
      default: break;
    }
  });
  if (!link.name.empty()) static_cast<Dumped*>(data)->links.push_back(std::move(link));
  return MNL_CB_OK;
}

// The interface's own address of an address message (`length` bytes: 4 or
// 16), or nullptr. IFA_LOCAL is the interface's own address; IFA_ADDRESS is
// the peer's on a point-to-point link and the same as IFA_LOCAL elsewhere
// (IPv6 has a peer address only on point-to-point links too).
const void* own_address(const nlmsghdr* nlh, std::size_t length) {
  const void* local = nullptr;
  const void* address = nullptr;
  for_each_attr(nlh, sizeof(ifaddrmsg), [&](const nlattr* attr) {
    const auto type = mnl_attr_get_type(attr);
    if ((type == IFA_LOCAL || type == IFA_ADDRESS) && mnl_attr_get_payload_len(attr) == length)
      (type == IFA_LOCAL ? local : address) = mnl_attr_get_payload(attr);
  });
  return local ? local : address;
}

int on_addr(const nlmsghdr* nlh, void* data) {
  if (mnl_nlmsg_get_payload_len(nlh) < sizeof(ifaddrmsg)) return MNL_CB_OK;
  const auto* ifa = static_cast<const ifaddrmsg*>(mnl_nlmsg_get_payload(nlh));
  if (ifa->ifa_family != AF_INET || ifa->ifa_prefixlen > 32) return MNL_CB_OK;
  const void* own = own_address(nlh, 4);
  if (!own) return MNL_CB_OK;
  static_cast<Dumped*>(data)->addresses[ifa->ifa_index].push_back(
      {ipv4_text(own), mask_text(ifa->ifa_prefixlen)});
  return MNL_CB_OK;
}

int on_addr6(const nlmsghdr* nlh, void* data) {
  if (mnl_nlmsg_get_payload_len(nlh) < sizeof(ifaddrmsg)) return MNL_CB_OK;
  const auto* ifa = static_cast<const ifaddrmsg*>(mnl_nlmsg_get_payload(nlh));
  if (ifa->ifa_family != AF_INET6 || ifa->ifa_prefixlen > 128) return MNL_CB_OK;
  const void* own = own_address(nlh, 16);
  if (!own) return MNL_CB_OK;
  static_cast<Dumped*>(data)->addresses6[ifa->ifa_index].push_back(
      {net::IpAddress::from_bytes(net::kFamilyIPv6, own), ifa->ifa_prefixlen});
  return MNL_CB_OK;
}

int dump_all(Dumped& out) {
  Netlink nl;
  if (int err = nl.open()) return err;
  ifinfomsg link_hdr{};
  link_hdr.ifi_family = AF_UNSPEC;
  if (int err = nl.dump(RTM_GETLINK, link_hdr, on_link, &out, [&] { out.links.clear(); }))
    return err;
  ifaddrmsg addr_hdr{};
  addr_hdr.ifa_family = AF_INET;
  if (int err = nl.dump(RTM_GETADDR, addr_hdr, on_addr, &out, [&] { out.addresses.clear(); }))
    return err;
  // The IPv6 addresses come beside the IPv4 ones; a kernel without IPv6
  // fails this dump, which leaves them empty and the rest as it was.
  ifaddrmsg addr6_hdr{};
  addr6_hdr.ifa_family = AF_INET6;
  if (nl.dump(RTM_GETADDR, addr6_hdr, on_addr6, &out, [&] { out.addresses6.clear(); }) != 0) out.addresses6.clear();
  rtmsg route_hdr{};
  route_hdr.rtm_family = AF_INET;
  return nl.dump(RTM_GETROUTE, route_hdr, netlink_detail::collect_default_routes, &out.routes,
                 [&] { out.routes.clear(); });
}

// ---------------------------------------------------------------------------
// DHCP leases.

struct FoundLease {
  tw::DhcpLease lease;
  std::int64_t file_time = 0;
};

// dhclient databases in the dhcp folder: "dhclient.leases" (all interfaces),
// "dhclient.IF.leases" or "dhclient-IF.leases" (Debian's ifupdown), and
// "dhclient-UUID-IF.lease(s)". dhclient6 files hold IPv6 leases only.
bool is_dhclient_file_for(std::string_view name, std::string_view ifname) {
  if (!starts_with(name, "dhclient") || starts_with(name, "dhclient6")) return false;
  std::string_view rest = name.substr(8);
  if (ends_with(rest, ".leases")) rest.remove_suffix(7);
  else if (ends_with(rest, ".lease")) rest.remove_suffix(6);
  else return false;
  if (rest.empty()) return true;
  const std::string dotted = "." + std::string(ifname);
  const std::string dashed = "-" + std::string(ifname);
  return rest == dotted || ends_with(rest, dashed);
}

std::vector<FoundLease> find_leases(const NetworkInfoRoots& roots, const Link& link) {
  std::vector<FoundLease> found;
  auto add = [&](std::optional<tw::DhcpLease> lease, std::int64_t mtime) {
    if (lease) found.push_back({std::move(*lease), mtime});
  };
  // systemd-networkd: one KEY=VALUE file per interface index.
  const std::string networkd = roots.run + "/systemd/netif/leases/" + std::to_string(link.index);
  if (auto f = read_file(networkd)) add(tw::parse_keyvalue_lease(f->text, f->mtime), f->mtime);

  // NetworkManager: "internal-UUID-IF.lease" (KEY=VALUE) or
  // "dhclient-UUID-IF.lease" (dhclient's own format).
  const std::string nm_dir = roots.var + "/lib/NetworkManager/";
  const std::string nm_suffix = "-" + link.name + ".lease";
  for (const auto& name : list_files(nm_dir, [&](std::string_view n) { return ends_with(n, nm_suffix); })) {
    auto f = read_file(nm_dir + name);
    if (!f) continue;
    if (starts_with(name, "dhclient"))
      add(tw::parse_dhclient_leases(f->text, link.name), f->mtime);
    else
      add(tw::parse_keyvalue_lease(f->text, f->mtime), f->mtime);
  }

  const std::string dhcp_dir = roots.var + "/lib/dhcp/";
  for (const auto& name : list_files(dhcp_dir, [&](std::string_view n) { return is_dhclient_file_for(n, link.name); })) {
    if (auto f = read_file(dhcp_dir + name))
      add(tw::parse_dhclient_leases(f->text, link.name), f->mtime);
  }
  return found;
}

void fill_dhcp(const NetworkInfoRoots& roots, const Link& link, AdapterInfo& a) {
  std::vector<FoundLease> leases = find_leases(roots, link);
  // Only a lease whose address the adapter still carries is current; of
  // those the most recently written file wins.
  std::erase_if(leases, [&](const FoundLease& f) {
    if (f.lease.address.empty()) return false;
    return std::none_of(a.addresses.begin(), a.addresses.end(),
                        [&](const IpAddressEntry& e) { return e.address == f.lease.address; });
  });
  if (leases.empty()) return;
  const auto newest = std::max_element(leases.begin(), leases.end(),
                                       [](const FoundLease& x, const FoundLease& y) {
                                         return x.file_time < y.file_time;
                                       });
  const tw::DhcpLease& lease = newest->lease;
  a.dhcp_enabled = true;
  a.dhcp_server = lease.server;
  a.lease_obtained = to_local(lease.obtained);
  a.lease_expires = to_local(lease.expires);
  if (!lease.wins_servers.empty()) {
    a.wins_enabled = true;
    a.primary_wins = lease.wins_servers[0];
    if (lease.wins_servers.size() > 1) a.secondary_wins = lease.wins_servers[1];
  }
}

}  // namespace

LinuxNetworkInfo::LinuxNetworkInfo(NetworkInfoRoots roots) : roots_(std::move(roots)) {}

Status LinuxNetworkInfo::network_params(NetworkParams& out) {
  out = NetworkParams{};
  char host[HOST_NAME_MAX + 1] = {};
  if (::gethostname(host, sizeof host - 1) != 0)
    return Error::from_errno("Cannot read the network parameters.", "gethostname", errno);
  out.host_name = host;

  tw::ResolverConfig resolver;
  if (auto f = read_file(roots_.etc + "/resolv.conf")) resolver = tw::parse_resolv_conf(f->text);
  if (tw::names_only_local_stub(resolver)) {
    if (auto f = read_file(roots_.run + "/systemd/resolve/resolv.conf")) {
      tw::ResolverConfig upstream = tw::parse_resolv_conf(f->text);
      if (!upstream.servers.empty()) resolver = std::move(upstream);
    }
  }
  out.domain_name = std::move(resolver.domain);
  out.dns_servers = std::move(resolver.servers);
  out.dns_enabled = !out.dns_servers.empty();
  out.node_type = kNodeTypeUnknown;
  out.routing_enabled = read_switch(roots_.proc + "/sys/net/ipv4/ip_forward");
  out.arp_proxy_enabled = read_switch(roots_.proc + "/sys/net/ipv4/conf/all/proxy_arp");
  return {};
}

Status LinuxNetworkInfo::adapters(std::vector<AdapterInfo>& out) {
  out.clear();
  Dumped d;
  if (int err = dump_all(d))
    return Error::from_errno("Cannot read the network adapters.", "rtnetlink link, address and route dumps", err);

  std::sort(d.links.begin(), d.links.end(),
            [](const Link& x, const Link& y) { return x.index < y.index; });
  std::stable_sort(d.routes.begin(), d.routes.end(),
                   [](const DefaultRouteHop& x, const DefaultRouteHop& y) { return x.priority < y.priority; });
  out.reserve(d.links.size());
  for (const Link& link : d.links) {
    AdapterInfo a;
    a.index = link.index;
    a.name = link.name;
    a.description = link.alias.empty() ? link.name : link.alias;
    a.phys_addr_len = link.addr_len;
    a.phys_addr = link.addr;
    if (auto it = d.addresses.find(link.index); it != d.addresses.end()) a.addresses = it->second;
    if (auto it = d.addresses6.find(link.index); it != d.addresses6.end()) a.addresses6 = it->second;
    for (const DefaultRouteHop& r : d.routes) {
      if (r.oif == link.index && !r.gateway.empty() &&
          std::find(a.gateways.begin(), a.gateways.end(), r.gateway) == a.gateways.end())
        a.gateways.push_back(r.gateway);
    }
    fill_dhcp(roots_, link, a);
    out.push_back(std::move(a));
  }
  return {};
}

Status LinuxNetworkInfo::ipv6_addresses(std::vector<net::IpAddress>& out) {
  out.clear();
  auto machine = ipv6_addresses_of_machine();
  if (!machine) return machine.error();
  for (const helper::MachineAddress6& a : *machine) out.push_back(net::IpAddress::v6(a.bytes));
  return {};
}

}  // namespace tw::platform
