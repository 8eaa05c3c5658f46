// Feeds arbitrary server table files to the parser and asks the table for a
// server: no input may crash, hang or give more slots than the limit.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tools/whois.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tw::tools;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto table = parse_whois_table(text);
  if (table.size() > kMaxWhoisServers) __builtin_trap();
  (void)choose_whois_server(table, "www.example.co.jp");
  (void)choose_whois_server(table, "192.0.2.77");
  (void)choose_whois_server(table, "2001:db8::77");
  (void)choose_whois_server(table, "2001:db8::77", false);
  // The target field is typed by the user: the same text as a target.
  const std::string reduced = reduce_whois_target(text.substr(0, 300));
  (void)choose_whois_server(table, reduced);
  const std::string reduced4 = reduce_whois_target(text.substr(0, 300), false);
  (void)choose_whois_server(table, reduced4, false);
  return 0;
}
