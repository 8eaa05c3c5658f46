#pragma once
// The packet list's port filter: two lists of ports and port ranges
// ("0;", "1024-65535;", "80,443;8000-8080") for the local and the remote
// side. A packet is left out of the list when its local port lies in an entry
// of the first list or its remote port in an entry of the second. Pure.
#include <string_view>
#include <vector>

namespace tw::packets {

struct PortRange {
  int low = 0;
  int high = 0;
  friend bool operator==(const PortRange&, const PortRange&) = default;
};

// Entries are separated by ',' or ';'; an entry is "%d" or "%d-%d" (blanks
// before each number allowed, anything after the numbers ignored); a range
// given high-low is turned round; an entry without a leading number is
// skipped.
std::vector<PortRange> parse_port_list(std::string_view text);

class PortFilter {
 public:
  PortFilter() = default;
  PortFilter(std::string_view local_ports, std::string_view remote_ports)
      : local_(parse_port_list(local_ports)), remote_(parse_port_list(remote_ports)) {}

  bool excludes(int local_port, int remote_port) const;

 private:
  std::vector<PortRange> local_;
  std::vector<PortRange> remote_;
};

}  // namespace tw::packets
