#include "platform/linux/machine_ipv6.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace tw::platform {

Result<std::vector<helper::MachineAddress6>> ipv6_addresses_of_machine() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0)
    return Error::from_errno("Cannot read the network adapters.", "getifaddrs for the IPv6 addresses", errno);
  std::vector<helper::MachineAddress6> out;
  for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET6) continue;
    sockaddr_in6 in{};
    std::memcpy(&in, a->ifa_addr, sizeof in);  // the list's sockaddr need not be aligned for sockaddr_in6
    helper::MachineAddress6 m;
    std::memcpy(m.bytes.data(), in.sin6_addr.s6_addr, m.bytes.size());
    m.interface = if_nametoindex(a->ifa_name);
    m.loopback = (a->ifa_flags & IFF_LOOPBACK) != 0;
    out.push_back(m);
  }
  freeifaddrs(list);
  return out;
}

}  // namespace tw::platform
