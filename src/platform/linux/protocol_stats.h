#pragma once
// ProtocolStatsSource for Linux.
//
// - counters: <proc>/thread-self/net/snmp and .../snmp6. Not /proc/net/snmp:
//   that link follows /proc/self, which names the thread-group leader, so a
//   thread that has entered another network namespace would read the
//   leader's counters;
// - interfaces, IPv4 addresses and IPv4 routes of the main table: counted
//   from rtnetlink dumps (RTM_GETLINK, RTM_GETADDR, RTM_GETROUTE);
// - TCP connections and UDP endpoints: counted from sock_diag dumps.
// Sockets are opened per call, in the calling thread's namespace.
#include <string>

#include "platform/protocol_stats_source.h"

namespace tw::platform {

class LinuxProtocolStats final : public ProtocolStatsSource {
 public:
  explicit LinuxProtocolStats(std::string proc_root = "/proc") : proc_(std::move(proc_root)) {}
  Result<std::string> snmp_text() override;
  Result<std::string> snmp6_text() override;
  ProtocolTableCounts table_counts() override;

 private:
  std::string proc_;
};

}  // namespace tw::platform
