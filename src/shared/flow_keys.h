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
#include <functional>
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

// "TCP_%s:%d-TCP_%s:%d$" and "UDP_%s:%d$"; ports in host byte order. An IPv6
// address text is put in brackets ("TCP_[fd00::1]:80-TCP_[fd00::2]:5050$");
// an IPv4-mapped one is to be given as the IPv4 text, as the packets of such
// a connection carry it.
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
  // The owner of the first TCP key (in the order given to replace()) whose
  // remote part is `remote`, written "-TCP_%s:%d$": a packet of a connection
  // whose local side the table names differently (a wildcard bind) still
  // finds its process by the peer.
  std::optional<int> owner_by_remote(std::string_view remote) const;
  std::size_t size() const;

 private:
  // Lookups by string_view, so that the capture thread builds its keys on
  // the stack and never allocates for a search.
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  using Map = std::unordered_map<std::string, int, Hash, std::equal_to<>>;
  mutable std::mutex mutex_;
  Map owners_;
  Map remote_owners_;
  std::size_t count_ = 0;
};

}  // namespace tw::shared
