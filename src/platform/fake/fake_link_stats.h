#pragma once
// An interface table set by hand: tests put rows in `rows`, move their
// counters between ticks, and make the next reads fail with `fail`.
#include <string>
#include <utility>
#include <vector>

#include "platform/link_stats.h"

namespace tw::platform {

class FakeLinkStats : public LinkStatsSource {
 public:
  bool read_table(std::vector<LinkRow>& out) override {
    ++reads;
    if (fail) return false;
    out = rows;  // element-wise assignment: reuses the capacity of `out`
    return true;
  }

  // Appends an operational row with a 6-byte address and returns it.
  LinkRow& add(std::string name, std::uint64_t out_octets = 0, std::uint64_t in_octets = 0) {
    LinkRow r;
    r.index = static_cast<std::uint32_t>(rows.size() + 1);
    r.if_name = name;
    r.name = std::move(name);
    r.type = 6;
    r.phys_addr_len = 6;
    r.oper_status = kOperStatusUp;
    r.out_octets = out_octets;
    r.in_octets = in_octets;
    rows.push_back(std::move(r));
    return rows.back();
  }

  std::vector<LinkRow> rows;
  bool fail = false;  // read_table() returns false while set
  int reads = 0;      // calls of read_table()
};

}  // namespace tw::platform
