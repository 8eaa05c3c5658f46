#pragma once
// Socket owners and process names from /proc: the socket inode -> pid map
// built from the /proc/PID/fd/* links ("socket:[INODE]") and the names from
// /proc/PID/comm.
//
// A full walk of every process's descriptors costs milliseconds to tens of
// milliseconds, so the map is kept and walked again only when a socket is not
// in it, and then at most once per `min_rescan` (a socket that appears just
// after a walk waits that long for its owner). Sockets of processes this one
// may not inspect (other users without CAP_SYS_PTRACE/CAP_DAC_READ_SEARCH)
// never enter the map.
//
// `proc_root` is injectable so that tests can build a /proc of their own.
// Threads: one call at a time.
#include <chrono>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "platform/socket_table.h"

namespace tw::platform {

class ProcProcessTable : public ProcessTable {
 public:
  explicit ProcProcessTable(std::string proc_root = "/proc",
                            std::chrono::milliseconds min_rescan = std::chrono::milliseconds(1000));

  int owner_of_socket(std::uint64_t inode) override;
  std::vector<ProcessEntry> list_processes() override;

  // Full walks of the descriptors so far (for tests and benchmarks).
  int scans() const { return scans_; }

 private:
  void rescan();

  std::string root_;
  std::chrono::milliseconds min_rescan_;
  std::unordered_map<std::uint64_t, int> owners_;
  std::chrono::steady_clock::time_point last_scan_{};
  bool scanned_ = false;
  int scans_ = 0;
};

// "socket:[12345]" -> 12345; 0 for any other link text.
std::uint64_t socket_inode_of_link(std::string_view link);

}  // namespace tw::platform
