#pragma once
// Who holds an owned nftables table: the kernel refuses (EPERM) every change
// to a table created with `flags owner` by any netlink socket but its
// owner's, so a second Tarnwatch instance that tries to filter while the
// first one does gets "Operation not permitted" although it holds
// CAP_NET_ADMIN. This tells that case apart and names the instance.
//
// The table's owner is a netlink port id (NFTA_TABLE_OWNER); the socket with
// that id is found in the network namespace's list of netlink sockets and its
// process by the socket's inode
// among the /proc/PID/fd links (which takes CAP_DAC_READ_SEARCH and
// CAP_SYS_PTRACE for another user's process, as the helper and root have).
// A holder that is tarnix-helper stands for the instance that started it,
// its parent.
//
// Threads: any; reads the kernel's and /proc's state, changes nothing.
#include <optional>
#include <string>
#include <string_view>

#include "base/error.h"

namespace tw::platform {

struct TableHolder {
  int pid = 0;          // the process holding the table's owner socket
  std::string name;     // its comm
  int instance_pid = 0; // the Tarnwatch instance it serves (tarnix-helper: its parent), else pid
};

// The holder of the owned table `name` (of any family) in this network
// namespace; nullopt when there is no such table, it has no owner, or the
// holder cannot be found.
std::optional<TableHolder> nft_table_holder(std::string_view name, const std::string& proc_root = "/proc");

// The error for a change of table `name` that the kernel refused with EPERM
// although this process may change tables: "Another Tarnwatch instance (pid
// N) filters already." when another process holds it; nullopt when no
// holder is found (then the EPERM has another cause).
std::optional<Error> held_elsewhere_error(std::string_view name, const std::string& what);

}  // namespace tw::platform
