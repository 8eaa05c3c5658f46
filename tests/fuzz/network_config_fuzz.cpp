// Arbitrary bytes as a resolver configuration and as DHCP lease files (these
// files belong to other programs and may hold anything). Parsing must not
// crash, and whatever it accepts must be safe to put into a report.
//
// Input layout: the first byte picks the interface name the dhclient parser
// looks for; the rest is the file content given to every parser.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/config_files.h"
#include "traffic/info_report.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

// What the parsers hand on must not carry line breaks into the reports.
void check_single_line(std::string_view s) {
  check(s.find('\n') == std::string_view::npos && s.find('\r') == std::string_view::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const char* const kNames[] = {"eth0", "wlan0", "", "enp3s0"};
  const std::string_view ifname = kNames[data[0] % 4];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  const tw::ResolverConfig cfg = tw::parse_resolv_conf(text);
  check_single_line(cfg.domain);
  for (const auto& s : cfg.servers) check_single_line(s);
  tw::names_only_local_stub(cfg);

  if (auto lease = tw::parse_keyvalue_lease(text, 1'700'000'000)) {
    check(!lease->address.empty() || !lease->server.empty());
    check_single_line(lease->address);
    check_single_line(lease->server);
  }
  if (auto lease = tw::parse_dhclient_leases(text, ifname)) {
    check_single_line(lease->address);
    check_single_line(lease->server);
    for (const auto& w : lease->wins_servers) check_single_line(w);
  }

  // The parameter report over what was parsed.
  tw::platform::NetworkParams p;
  p.domain_name = cfg.domain;
  p.dns_servers = cfg.servers;
  const std::string report = tw::traffic::network_params_report(0, p, tw::Language::Japanese);
  check(report.size() >= 2 && report.compare(report.size() - 2, 2, "\r\n") == 0);
  return 0;
}
