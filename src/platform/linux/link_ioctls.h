#pragma once
// What rtnetlink does not tell about a link, asked with device ioctls.
//
// Any thread; `fd` may be any socket of the namespace whose devices are meant.
#include "platform/linux/netlink_messages.h"

namespace tw::platform::netlink_detail {

// Sets link.speed_bps (the ethtool speed, as /sys/class/net/NAME/speed shows
// it; 0 while the link is down or the driver knows none) and link.wireless
// (an 802.11 device that presents itself as Ethernet), from link.if_name,
// link.flags and link.arphrd.
void query_speed_and_wireless(int fd, LinkInfo& link);

}  // namespace tw::platform::netlink_detail
