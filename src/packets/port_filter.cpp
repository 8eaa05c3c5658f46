#include "packets/port_filter.h"

#include <algorithm>
#include <climits>
#include <cstddef>

namespace tw::packets {
namespace {

// "%d": blanks, an optional sign, digits. Values beyond int are clamped (a
// port list holds nothing near them).
bool read_int(std::string_view s, std::size_t& pos, int& out) {
  while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
  bool negative = false;
  std::size_t p = pos;
  if (p < s.size() && (s[p] == '-' || s[p] == '+')) negative = s[p++] == '-';
  if (p >= s.size() || s[p] < '0' || s[p] > '9') return false;
  long long v = 0;
  while (p < s.size() && s[p] >= '0' && s[p] <= '9') {
    v = std::min<long long>(v * 10 + (s[p] - '0'), static_cast<long long>(INT_MAX) + 1);
    ++p;
  }
  if (negative) v = -v;
  out = static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
  pos = p;
  return true;
}

bool within(const std::vector<PortRange>& list, int port) {
  return std::any_of(list.begin(), list.end(), [port](const PortRange& r) { return port >= r.low && port <= r.high; });
}

}  // namespace

std::vector<PortRange> parse_port_list(std::string_view text) {
  std::vector<PortRange> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of(",;", start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view entry = text.substr(start, end - start);
    std::size_t pos = 0;
    int low = 0;
    if (read_int(entry, pos, low)) {
      int high = low;
      if (pos < entry.size() && entry[pos] == '-') {
        ++pos;
        int second = 0;
        if (read_int(entry, pos, second)) high = second;
      }
      if (low > high) std::swap(low, high);
      out.push_back({low, high});
    }
    start = end + 1;
  }
  return out;
}

bool PortFilter::excludes(int local_port, int remote_port) const {
  return within(local_, local_port) || within(remote_, remote_port);
}

}  // namespace tw::packets
