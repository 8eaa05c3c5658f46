#pragma once
// An interface table set by hand: tests put rows in `rows`, move their
// counters between ticks, make the next reads fail with `fail` and name the
// default route's interface with `default_route`.
#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/link_stats.h"

namespace tw::platform {

class FakeLinkStats : public LinkStatsSource {
 public:
  Status read_table(std::vector<LinkRow>& out) override {
    ++reads;
    if (fail) return Error{"Cannot read the network interface table.", "the test made the read fail", EIO};
    out = rows;  // element-wise assignment: reuses the capacity of `out`
    return {};
  }
  std::optional<std::uint32_t> default_route_index() override { return default_route; }

  // Appends an operational row with a 6-byte address and returns it; a row
  // named "lo" is the loopback interface.
  LinkRow& add(std::string name, std::uint64_t out_octets = 0, std::uint64_t in_octets = 0) {
    LinkRow r;
    r.index = next_index++;  // never reused, as the kernel does while it runs
    r.type = name == "lo" ? kIfTypeLoopback : 6;
    r.if_name = name;
    r.name = std::move(name);
    r.phys_addr_len = 6;
    r.oper_status = kOperStatusUp;
    r.out_octets = out_octets;
    r.in_octets = in_octets;
    rows.push_back(std::move(r));
    return rows.back();
  }

  std::vector<LinkRow> rows;
  std::optional<std::uint32_t> default_route;  // what default_route_index() answers
  bool fail = false;  // read_table() fails while set
  int reads = 0;      // calls of read_table()
  std::uint32_t next_index = 1;  // kernel index of the next add()
};

}  // namespace tw::platform
