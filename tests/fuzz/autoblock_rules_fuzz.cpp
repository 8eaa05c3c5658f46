// Feeds arbitrary rule files to the auto-block parser and evaluates the rules
// against a fixed row: no input may crash, hang or exceed the rule limit.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sessions/autoblock.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tw::sessions;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto rules = parse_rules(text);
  if (rules.size() > kMaxRules) __builtin_trap();
  const RowTexts row = {"10.0.0.1", "(10.0.0.1)", "50000", "192.168.1.2", "www.example.co.jp",
                        "443", "Connecting", "1h 02m 03s", "curl(42)"};
  (void)evaluate(rules, row, static_cast<int>(size % 24), tw::Language::English);
  RowTexts named = row;
  named[1] = "me.lan";
  (void)evaluate(rules, named, 9, tw::Language::Japanese);
  // IPv6 rows, and the rule values read as IPv6 prefixes against them.
  const RowTexts v6 = {"fd00:231::1", "fd00:231::1", "40000", "2001:db8::ffff:1", "(2001:db8::ffff:1)",
                       "5555", "Waiting", "07s", ""};
  (void)evaluate(rules, v6, 12, tw::Language::English);
  (void)address_match(text, "fd00:231::2");
  (void)address_match(text, "192.0.2.7");
  // The texts of a row go through the same parsers when they come from a file.
  (void)parse_port_range(text);
  (void)parse_hour_range(text);
  (void)elapsed_seconds(text, tw::Language::Japanese);
  return 0;
}
