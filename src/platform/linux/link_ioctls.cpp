#include "platform/linux/link_ioctls.h"

#include <linux/ethtool.h>
#include <linux/if.h>
#include <linux/if_arp.h>
#include <linux/sockios.h>
#include <linux/wireless.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cstring>

namespace tw::platform::netlink_detail {

void query_speed_and_wireless(int fd, LinkInfo& link) {
  // The speed is what /sys/class/net/NAME/speed shows, asked through the
  // ethtool ioctl instead: sysfs shows the namespace it was mounted in, the
  // ioctl the namespace of the socket. Any socket reaches the device ioctls.
  ifreq ifr{};
  const std::size_t n = std::min(link.if_name.size(), sizeof ifr.ifr_name - 1);
  std::memcpy(ifr.ifr_name, link.if_name.data(), n);

  link.speed_bps = 0;
  // sysfs reports no speed for an interface that is down; neither do we.
  if (link.flags & IFF_UP) {
    ethtool_cmd cmd{};
    cmd.cmd = ETHTOOL_GSET;
    ifr.ifr_data = reinterpret_cast<char*>(&cmd);
    if (ioctl(fd, SIOCETHTOOL, &ifr) == 0) {
      const std::uint32_t mbps = ethtool_cmd_speed(&cmd);
      if (mbps != 0 && mbps != static_cast<std::uint32_t>(SPEED_UNKNOWN)) {
        link.speed_bps = static_cast<std::uint64_t>(mbps) * 1'000'000u;
      }
    }
  }

  // A wireless station presents itself as ARPHRD_ETHER; the wireless
  // extensions answer SIOCGIWNAME only for 802.11 devices.
  link.wireless = false;
  if (link.arphrd == ARPHRD_ETHER) {
    iwreq wrq{};
    std::memcpy(wrq.ifr_name, link.if_name.data(), std::min(link.if_name.size(), sizeof wrq.ifr_name - 1));
    link.wireless = ioctl(fd, SIOCGIWNAME, &wrq) == 0;
  }
}

}  // namespace tw::platform::netlink_detail
