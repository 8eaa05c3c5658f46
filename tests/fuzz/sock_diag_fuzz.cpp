// Feeds arbitrary bytes to the sock_diag dump parser: a garbled or truncated
// kernel answer must be skipped or rejected, never read past its end.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/linux/sock_diag.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The kernel hands netlink answers over 4-byte aligned; so does this.
  std::vector<std::uint32_t> aligned((size + 3) / 4);
  if (size) std::memcpy(aligned.data(), data, size);
  std::vector<tw::platform::SocketRow> rows;
  int error = 0;
  for (auto proto : {tw::platform::SocketProtocol::Tcp, tw::platform::SocketProtocol::Udp}) {
    rows.clear();
    (void)tw::platform::parse_sock_diag_dump(aligned.data(), size, proto, size % 2 ? 1 : 0, rows, error);
    for (const auto& r : rows)
      if (r.state < 1 || r.state > 12) __builtin_trap();  // always a MIB state
    for (const auto& r : rows)
      if (r.family != tw::net::kFamilyIPv4 && r.family != tw::net::kFamilyIPv6) __builtin_trap();
  }
  return 0;
}
