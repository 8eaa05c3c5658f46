#pragma once
// The connection table of the Session Monitor: once per refresh the kernel's
// TCP and UDP sockets become session records (TCP connections worth showing,
// with host texts, process label and first-seen time) and flow keys (every
// TCP connection and UDP endpoint with its owner, for the packet list).
//
// Threads: refresh() and the records belong to the thread that runs the
// session refresh. The process-name cache is shared with the Netstat worker
// and takes its own lock.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/ip_address.h"
#include "base/language.h"
#include "platform/connection_killer.h"
#include "platform/socket_table.h"
#include "shared/flow_keys.h"

namespace tw::sessions {

// Field capacities of a record; longer host names and labels are cut.
inline constexpr std::size_t kMaxHostChars = 127;
inline constexpr std::size_t kMaxProcessChars = 127;

// A stretch of a sort key (offset and length in bytes; a key is at most 254).
struct KeySpan {
  std::uint8_t at = 0, size = 0;
};
// A sort key holds a name field (a host name, a process label) at most this
// often: each is padded to 64 characters and the key is cut at 254.
inline constexpr std::size_t kMaxKeyNames = 4;

// Both ends of a connection as the list shows them: what tells it apart from
// the others from one refresh to the next.
struct ConnectionEnds {
  net::IpAddress local, remote;
  std::uint16_t local_port = 0, remote_port = 0;
  bool operator==(const ConnectionEnds&) const = default;
};
struct ConnectionEndsHash {
  std::size_t operator()(const ConnectionEnds& e) const noexcept;
};

struct SessionRecord {
  std::string sort_key;  // built by the sort; empty after a refresh
  // Where sort_key holds names, which are compared as names; the rest of
  // the key (addresses, ports, padding) is compared byte by byte.
  std::array<KeySpan, kMaxKeyNames> key_names{};
  std::uint8_t key_name_count = 0;
  // Dotted IPv4 or canonical IPv6 texts; a dual-stack socket's IPv4-mapped
  // addresses read as the IPv4 ones.
  std::string local_address;
  std::string local_host;
  std::uint32_t local_port = 0;
  std::string remote_address;
  std::string remote_host;
  std::uint32_t remote_port = 0;
  int state = 0;  // MIB TCP state, 1..12
  std::string process;  // "%s(%d)", empty when the owner is unknown
  std::uint32_t first_seen = 0;  // tick of the refresh that first saw it
  platform::SocketId id;  // what a kill closes: exactly this connection
  bool ipv6 = false;      // shown as IPv6 (an IPv4-mapped one is not)
  ConnectionEnds ends;    // the addresses and ports above, as numbers
};

// The state word of the session list ("Connecting" for an established
// connection, "Waiting" for both half-open states); empty for 0 and numbers
// out of range.
std::string_view state_name(int state, Language lang);
// Whether connections in this state become session records: not the closing
// states (FIN_WAIT1 .. TIME_WAIT). A state of 0 counts as 1.
bool state_shown(int state);

// Executable names by process id, their control characters made '?'. A miss
// walks the whole process table once and keeps all of it: processes started
// since the last walk are found, and processes that ended are dropped. Any
// thread; takes its own lock.
class ProcessNameCache {
 public:
  explicit ProcessNameCache(platform::ProcessTable& processes) : processes_(processes) {}
  // The name, or "" when no such process runs.
  std::string name_for(int pid);
  // The shut-down empties it.
  void empty();
  std::size_t size() const;

 private:
  platform::ProcessTable& processes_;
  mutable std::mutex mutex_;
  std::unordered_map<int, std::string> names_;
};

// "%s(%d)".
std::string process_label(std::string_view name, int pid);

class ConnectionTable {
 public:
  // The host text of an address for the host columns (a name, or the pending
  // text while it is looked up).
  using HostText = std::function<std::string(const std::string& address)>;

  ConnectionTable(platform::ProcessTable& processes, ProcessNameCache& names, shared::FlowKeyTable& keys)
      : processes_(processes), names_(names), keys_(keys) {}

  // Rebuilds the records and the flow keys from one reading of the tables;
  // `now` is the clock reading that becomes the first-seen time of new
  // connections, and `host_text` is asked only when host names are wanted
  // (null: the host columns show the addresses). Every connection worth
  // showing becomes a record: the list shows the first of them, auto-block
  // and the counter see them all. Returns the record count.
  std::size_t refresh(const std::vector<platform::SocketRow>& tcp, const std::vector<platform::SocketRow>& udp,
                      std::uint32_t now, const HostText& host_text);

  // The records of the last refresh; kept while the monitor is stopped so
  // that a connection still open at the next start keeps its first-seen time.
  std::vector<SessionRecord>& records() { return records_; }
  const std::vector<SessionRecord>& records() const { return records_; }

 private:
  int owner(const platform::SocketRow& row);

  // How often the kept owners of the rows are checked, in clock ms.
  static constexpr std::uint32_t kOwnerCheckMs = 1000;

  platform::ProcessTable& processes_;
  ProcessNameCache& names_;
  shared::FlowKeyTable& keys_;
  std::vector<SessionRecord> records_;
  bool owners_checked_ = false;
  std::uint32_t last_owner_check_ = 0;
};

}  // namespace tw::sessions
