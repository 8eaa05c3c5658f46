// The "/add:" command parser and the cell editors' commit rules on any text:
// no failure, and a committed cell commits to itself again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "packetfilter/filter_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tw::packetfilter;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto row = parse_add_command(text)) {
    const FilterRule rule = rule_from_row(*row);
    if (rule.memo.empty()) std::abort();
    (void)row_from_rule(rule);
  }
  for (bool address_column : {true, false}) {
    const std::string once = commit_address_cell(text, address_column);
    if (commit_address_cell(once, address_column) != once) std::abort();
  }
  const std::string port = commit_port_cell(text);
  if (commit_port_cell(port) != port) std::abort();
  const PortRange r = parse_port_range(text);
  if (r.low > r.high || (r.low == 0 && r.high != 0)) std::abort();
  return 0;
}
