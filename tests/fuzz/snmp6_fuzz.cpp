// Feeds arbitrary /proc/net/snmp6 texts to the parser and builds the IPv6
// report sections from what it found: no input may crash or hang, and no
// group may come out without the "6" that names it.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tools/protocol_stats.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tw::tools;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto table = parse_snmp6(text);
  for (const auto& [group, columns] : table) {
    if (group.empty() || group.back() != '6' || columns.empty()) __builtin_trap();
  }
  (void)protocol_report6(table, tw::Language::English);
  (void)protocol_report6(table, tw::Language::Japanese);
  return 0;
}
