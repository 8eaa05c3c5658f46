#pragma once
// The interface table: one row per network interface of the machine, with its
// octet and packet counters. The traffic sampler reads the whole table on every
// tick and picks the row at the selected position.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/error.h"

namespace tw::platform {

// Operational status codes as the interface table reports them.
inline constexpr std::uint32_t kOperStatusUp = 5;    // operational
inline constexpr std::uint32_t kOperStatusDown = 0;  // anything else

// Interface type of the loopback interface (IANA softwareLoopback).
inline constexpr std::uint32_t kIfTypeLoopback = 24;

struct LinkRow {
  std::uint32_t index = 0;      // kernel interface index
  std::string name;             // display name: the interface's alias if set, else its name
  std::string if_name;          // kernel name (eth0, wlp2s0, ...)
  std::uint32_t type = 0;       // interface type code (IANA ifType: 6 ethernet, 24 loopback, 71 wifi, ...)
  std::uint32_t mtu = 0;
  std::uint64_t speed_bps = 0;  // link speed in bits per second, 0 when unknown
  std::uint32_t phys_addr_len = 0;
  std::array<std::uint8_t, 32> phys_addr{};
  std::uint32_t admin_status = 0;  // 1 up, 2 down
  std::uint32_t oper_status = kOperStatusDown;

  // Counters (64-bit, as the kernel keeps them).
  std::uint64_t in_octets = 0, out_octets = 0;
  std::uint64_t in_ucast_pkts = 0, in_nucast_pkts = 0;   // nucast = multicast (+ broadcast when known)
  std::uint64_t out_ucast_pkts = 0, out_nucast_pkts = 0;
  std::uint64_t in_discards = 0, in_errors = 0, in_unknown_protos = 0;
  std::uint64_t out_discards = 0, out_errors = 0;
  std::uint64_t out_qlen = 0;
  std::uint64_t last_change = 0;  // no Linux equivalent of the table's last-change tick: 0
};

class LinkStatsSource {
 public:
  virtual ~LinkStatsSource() = default;
  // Whether this source can read the table at all (a source that failed to
  // set itself up cannot). Any thread.
  virtual bool is_supported() { return true; }
  // Fills `rows` with the current table, in table order (ascending interface
  // index). An error when the table cannot be read; `rows` is then
  // unspecified. Reuses the capacity of `rows` so a steady-state tick does not
  // allocate (the success path allocates nothing either). Called from one
  // thread at a time.
  virtual Status read_table(std::vector<LinkRow>& rows) = 0;
  // read_table() for a caller that follows one interface: the row of kernel
  // index `index` has current counters, the other rows may carry the
  // counters of an earlier read. Names, states and the set of rows are as
  // current as read_table()'s, but for a caller that watches the events:
  // for it, they are as current as the events it has taken, and only the
  // interface asked about being gone is seen at once. A source that cannot
  // read one interface alone reads them all. Same caller rule as
  // read_table().
  virtual Status read_table_for(std::uint32_t index, std::vector<LinkRow>& rows) {
    (void)index;
    return read_table(rows);
  }
  // Kernel interface index of the IPv4 default route with the lowest metric
  // in the main routing table; nullopt when there is none or the routes
  // cannot be read. Asked when an interface has to be chosen without a stored
  // choice. Same caller rule as read_table().
  virtual std::optional<std::uint32_t> default_route_index() { return std::nullopt; }

  // Link events (interfaces added, removed, renamed, going up or down) for a
  // caller that sleeps between reads anyway: from this call on it watches the
  // returned descriptor, calls take_events() whenever it is readable, and
  // read_table() no longer looks for events itself (so a steady read costs
  // the dump alone). -1 when the source has no events. Same caller rule as
  // read_table().
  virtual int watch_events() { return -1; }
  // Takes what made the descriptor readable; the next read_table() then
  // reloads what the events touched. Never blocks.
  virtual void take_events() {}
};

}  // namespace tw::platform
