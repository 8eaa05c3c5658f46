#pragma once
// The machine's IPv6 addresses with their devices, for the packet filter's
// set of local IPv6 addresses (the desktop program and tarnixd through
// LinuxNetworkInfo, the helper to check what a client names).
//
// Threads: any; reads the kernel's state (getifaddrs), changes nothing.
#include <vector>

#include "base/error.h"
#include "helper/policy.h"

namespace tw::platform {

// Every IPv6 address of every device, loopback and link-local ones included,
// in the kernel's order; an error when the list cannot be read.
Result<std::vector<helper::MachineAddress6>> ipv6_addresses_of_machine();

}  // namespace tw::platform
