#pragma once
// The flow key table: which process owns each TCP connection and UDP endpoint
// of the machine, named by a key text that the Packet Monitor can build from a
// captured packet ("TCP_10.0.0.1:80-TCP_10.0.0.2:5050$", "UDP_10.0.0.1:53$").
//
// The session refresh replaces the whole table once per refresh; the capture
// thread looks keys up while it decodes. Both go through the table's own lock,
// so a lookup sees either the old or the new table, never half of a rebuild.
// The table keeps its content while the Session Monitor is stopped.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tw::shared {

// Keys beyond this many per refresh are dropped: later connections and
// endpoints simply show no process in the packet list.
inline constexpr std::size_t kMaxFlowKeys = 600;
// A key never grows beyond this (two dotted addresses and two ports do not
// come near it).
inline constexpr std::size_t kMaxFlowKeyChars = 255;

// "%d.%d.%d.%d" of an address in network byte order.
std::string address_text(std::uint32_t address_be);

// "TCP_%s:%d-TCP_%s:%d$" and "UDP_%s:%d$"; ports in host byte order.
std::string tcp_flow_key(std::string_view local, unsigned local_port, std::string_view remote,
                         unsigned remote_port);
std::string udp_flow_key(std::string_view local, unsigned local_port);

struct FlowKey {
  std::string key;
  int pid = -1;  // -1 where the owner is unknown
};

// Thread-safe: any thread may call any member.
class FlowKeyTable {
 public:
  // Replaces the table with the first kMaxFlowKeys entries of `keys`. When a
  // key appears twice the first entry wins, as a search from the top would.
  void replace(std::vector<FlowKey> keys);

  // The owner of a key: nullopt when the table has no such key, -1 when the
  // key is known but its process is not.
  std::optional<int> owner(std::string_view key) const;
  std::size_t size() const;

 private:
  mutable std::mutex mutex_;
  std::unordered_map<std::string, int> owners_;
  std::size_t count_ = 0;
};

}  // namespace tw::shared
