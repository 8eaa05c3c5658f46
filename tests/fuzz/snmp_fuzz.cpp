// Feeds arbitrary /proc/net/snmp texts to the parser and builds the report
// from what it found: no input may crash or hang.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tools/protocol_stats.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tw::tools;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto table = parse_snmp(text);
  TableCounts counts;
  counts.interfaces = size;
  (void)protocol_report(table, counts, tw::Language::English);
  (void)protocol_report(table, {}, tw::Language::Japanese);
  return 0;
}
