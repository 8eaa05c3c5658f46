// The packet filter's rule file parser on any bytes: it never fails, keeps
// its limits, and what it reads, written back and read again, is the same
// rules (the file's normal form is a fixed point).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "packetfilter/filter_rules.h"
#include "packetfilter/nft_ruleset.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tw::packetfilter;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto rules = parse_rule_file(text);
  if (rules.size() > kMaxRules) std::abort();

  const std::string written = rule_file_text(grid_from_rules(rules));
  // Lines longer than the reader's pieces are legitimately read differently.
  std::size_t longest = 0;
  for (std::size_t start = 0; start < written.size();) {
    const std::size_t nl = written.find('\n', start);
    longest = std::max(longest, nl - start + 1);
    start = nl + 1;
  }
  if (longest <= kMaxLineChars && parse_rule_file(written) != rules) std::abort();

  const auto set = filter_set(rules, {0x0A000001});
  if (!set.drops.empty() && nft_match(set.drops.front(), 0x0A000001, true).empty()) std::abort();
  return 0;
}
