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
// A kept owner goes stale when it hands the socket on (a program that forked
// and ended, a server that forked for a connection and closed its copy).
// verify_owners() checks kept owners without a walk: whether each process
// still has as many descriptors as the walk found (one stat of /proc/PID/fd;
// kernels before 6.2 count none there, and then the descriptors are listed,
// which also tells which numbers are open), and only when its table changed
// are the links of its sockets read. A mismatch walks again at once. A
// process that closed a socket's descriptor and opened another file in the
// same second keeps its socket until the next walk.
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

// The shape of a process's descriptor table (how many, and an order-free sum
// of the mixed numbers), to tell cheaply whether it changed.
struct DescriptorPrint {
  std::uint32_t count = 0;
  std::uint64_t sum = 0;
  void add(int fd) {
    std::uint64_t x = static_cast<std::uint64_t>(fd) + 0x9E3779B97F4A7C15ull;  // splitmix64's finaliser
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    ++count;
    sum += x ^ (x >> 31);
  }
  friend bool operator==(const DescriptorPrint&, const DescriptorPrint&) = default;
};

class ProcProcessTable : public ProcessTable {
 public:
  explicit ProcProcessTable(std::string proc_root = "/proc",
                            std::chrono::milliseconds min_rescan = std::chrono::milliseconds(1000),
                            SocketOwnerSource* owner_source = nullptr);

  int owner_of_socket(std::uint64_t inode) override;
  void prefetch_owners(std::span<const std::uint64_t> inodes) override;
  int verify_owners(std::span<const std::uint64_t> inodes) override;
  std::vector<ProcessEntry> list_processes() override;

  // Full walks of the descriptors so far, and requests to the owner source
  // (for tests and benchmarks).
  int scans() const;
  int source_requests() const;

 private:
  // A walk (and the owner source's answer), unless one ran within
  // `min_rescan` and `now_anyway` is false.
  void look_up_locked(std::span<const std::uint64_t> wanted, bool now_anyway);

  struct Holder {
    int pid = 0;
    int fd = -1;  // the descriptor the walk found; -1: named by the owner source
  };

  const std::string root_;
  const std::chrono::milliseconds min_rescan_;
  SocketOwnerSource* const source_;
  mutable std::mutex mutex_;
  std::unordered_map<std::uint64_t, Holder> owners_;
  std::unordered_map<int, DescriptorPrint> prints_;  // of each process the last walk read whole
  bool counts_descriptors_ = false;  // the root is procfs, whose fd folders may count their entries
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

// The same walk with the descriptor of each link, and `table(pid, print)`
// (may be empty) after each process whose descriptors could all be read.
struct SocketLink {
  std::uint64_t inode = 0;
  int pid = 0;
  int fd = 0;
};
bool walk_socket_descriptors(const std::string& proc_root, const std::function<bool(const SocketLink&)>& found,
                             const std::function<void(int, const DescriptorPrint&)>& table);

// The descriptor numbers of a process, sorted, and their print; false when
// the process has gone or may not be looked into.
bool list_descriptors(const std::string& proc_root, int pid, std::vector<int>& fds, DescriptorPrint& print);

// Whether descriptor `fd` of the process is the socket `inode`.
bool holds_socket(const std::string& proc_root, int pid, int fd, std::uint64_t inode);

// /proc/PID/comm without its line end and with its control characters made
// '?'; "" when the process has gone.
std::string process_comm(const std::string& proc_root, int pid);

}  // namespace tw::platform
