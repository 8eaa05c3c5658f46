#pragma once
// Socket owners and process names from /proc: the socket inode -> pid map
// built from the /proc/PID/fd/* links ("socket:[INODE]") and the names from
// /proc/PID/comm.
//
// A full walk of every process's descriptors costs milliseconds to tens of
// milliseconds, so the map is kept and walked again only when a socket is not
// in it, and then at most once per `min_rescan` (a socket that appears just
// after a walk waits that long for its owner). A socket that a walk did not
// find (its holder is hidden from us, or no process holds it) is remembered
// as unknown while the caller keeps asking about it, so that it does not make
// every later refresh walk /proc again.
//
// Looking into another user's /proc/PID/fd takes both CAP_DAC_READ_SEARCH
// (to list the folder) and CAP_SYS_PTRACE (to read the links). When a walk
// met processes it could not look into and sockets are still missing, the
// `owner_source` (tarnix-helper, which holds both) is asked about exactly
// those sockets, in the same walk's turn: it adds no walks of its own. Without
// one, such sockets stay unknown.
//
// `proc_root` is injectable so that tests can build a /proc of their own.
// Threads: any thread; calls are serialised by an internal lock (the session
// refresh and the Netstat worker share one table).
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/socket_table.h"

namespace tw::platform {

struct SocketOwnerEntry {
  std::uint64_t inode = 0;
  int pid = 0;
  std::string name;  // the process's comm; "" when not known
};

// Someone who can tell the holders of sockets this process may not look into.
class SocketOwnerSource {
 public:
  virtual ~SocketOwnerSource() = default;
  // The holders of those of `inodes` it finds; inodes nobody holds are left
  // out. An error when it cannot be asked at all.
  virtual Result<std::vector<SocketOwnerEntry>> owners_of(std::span<const std::uint64_t> inodes) = 0;
};

class ProcProcessTable : public ProcessTable {
 public:
  explicit ProcProcessTable(std::string proc_root = "/proc",
                            std::chrono::milliseconds min_rescan = std::chrono::milliseconds(1000),
                            SocketOwnerSource* owner_source = nullptr);

  int owner_of_socket(std::uint64_t inode) override;
  void prefetch_owners(std::span<const std::uint64_t> inodes) override;
  std::vector<ProcessEntry> list_processes() override;

  // Full walks of the descriptors so far, and requests to the owner source
  // (for tests and benchmarks).
  int scans() const;
  int source_requests() const;

 private:
  void look_up_locked(std::span<const std::uint64_t> wanted);

  const std::string root_;
  const std::chrono::milliseconds min_rescan_;
  SocketOwnerSource* const source_;
  mutable std::mutex mutex_;
  std::unordered_map<std::uint64_t, int> owners_;
  std::unordered_set<std::uint64_t> unknown_;  // asked about, and not found by the last walk
  std::unordered_set<std::uint64_t> remote_;   // in owners_ through the owner source
  // Names the owner source gave, for processes /proc does not show us
  // (hidepid); those of the last answer only.
  std::unordered_map<int, std::string> remote_names_;
  std::chrono::steady_clock::time_point last_scan_{};
  bool scanned_ = false;
  int scans_ = 0;
  int source_requests_ = 0;
};

// "socket:[12345]" -> 12345; 0 for any other link text.
std::uint64_t socket_inode_of_link(std::string_view link);

// Walks /proc/*/fd once and calls `found(inode, pid)` for every socket link;
// the walk stops when `found` returns false. A socket several processes hold
// is reported for each. Returns whether some process's descriptors could not
// be looked into for lack of privilege.
bool walk_socket_links(const std::string& proc_root, const std::function<bool(std::uint64_t, int)>& found);

// /proc/PID/comm without its line end and with its control characters made
// '?'; "" when the process has gone.
std::string process_comm(const std::string& proc_root, int pid);

}  // namespace tw::platform
