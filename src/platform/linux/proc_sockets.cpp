#include "platform/linux/proc_sockets.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <memory>

#include "base/text_helpers.h"
#include "platform/linux/owned_fd.h"

namespace tw::platform {

namespace {

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

// The pid of a /proc entry name, 0 for entries that are not processes.
int pid_of_entry(const char* name) {
  int pid = 0;
  const char* end = name + std::char_traits<char>::length(name);
  const auto [p, ec] = std::from_chars(name, end, pid);
  return ec == std::errc{} && p == end && pid > 0 ? pid : 0;
}

// The descriptor number of a /proc/PID/fd entry name, -1 for "." and "..".
int fd_of_entry(const char* name) {
  int fd = 0;
  const char* end = name + std::char_traits<char>::length(name);
  const auto [p, ec] = std::from_chars(name, end, fd);
  return ec == std::errc{} && p == end && fd >= 0 ? fd : -1;
}

// Whether the process is still there, whether or not we may look into it.
bool process_exists(int pid) { return ::kill(pid, 0) == 0 || errno != ESRCH; }

}  // namespace

std::uint64_t socket_inode_of_link(std::string_view link) {
  constexpr std::string_view kPrefix = "socket:[";
  if (link.size() < kPrefix.size() + 2 || link.substr(0, kPrefix.size()) != kPrefix || link.back() != ']') return 0;
  std::uint64_t inode = 0;
  const char* b = link.data() + kPrefix.size();
  const char* e = link.data() + link.size() - 1;
  const auto [p, ec] = std::from_chars(b, e, inode);
  return ec == std::errc{} && p == e ? inode : 0;
}

bool walk_socket_descriptors(const std::string& proc_root, const std::function<bool(const SocketLink&)>& found,
                             const std::function<void(int, const DescriptorPrint&)>& table) {
  bool hidden = false;
  DirPtr proc(opendir(proc_root.c_str()));
  if (!proc) return false;
  char link[64];
  while (const dirent* e = readdir(proc.get())) {
    const int pid = pid_of_entry(e->d_name);
    if (!pid) continue;
    const std::string fd_path = proc_root + "/" + e->d_name + "/fd";
    DirPtr fds(opendir(fd_path.c_str()));
    if (!fds) {
      // Gone meanwhile (ENOENT), or another user's: listing the folder needs
      // CAP_DAC_READ_SEARCH.
      if (errno == EACCES || errno == EPERM) hidden = true;
      continue;
    }
    const int dfd = dirfd(fds.get());
    DescriptorPrint print;
    bool whole = true;
    while (const dirent* f = readdir(fds.get())) {
      const int fd = fd_of_entry(f->d_name);
      if (fd < 0) continue;
      print.add(fd);
      const ssize_t n = readlinkat(dfd, f->d_name, link, sizeof link);
      if (n < 0 && (errno == EACCES || errno == EPERM)) {
        // Listed but not readable: the links of another user's process need
        // CAP_SYS_PTRACE as well.
        hidden = true;
        whole = false;
        break;
      }
      if (n <= 0 || static_cast<std::size_t>(n) >= sizeof link) continue;
      if (const auto inode = socket_inode_of_link(std::string_view(link, static_cast<std::size_t>(n))))
        if (!found({inode, pid, fd})) return hidden;
    }
    if (whole && table) table(pid, print);
  }
  return hidden;
}

bool walk_socket_links(const std::string& proc_root, const std::function<bool(std::uint64_t, int)>& found) {
  return walk_socket_descriptors(proc_root, [&](const SocketLink& l) { return found(l.inode, l.pid); }, {});
}

bool list_descriptors(const std::string& proc_root, int pid, std::vector<int>& fds, DescriptorPrint& print) {
  fds.clear();
  print = {};
  const std::string fd_path = proc_root + "/" + std::to_string(pid) + "/fd";
  DirPtr dir(opendir(fd_path.c_str()));
  if (!dir) return false;
  while (const dirent* f = readdir(dir.get())) {
    const int fd = fd_of_entry(f->d_name);
    if (fd < 0) continue;
    fds.push_back(fd);
    print.add(fd);
  }
  std::sort(fds.begin(), fds.end());
  return true;
}

bool holds_socket(const std::string& proc_root, int pid, int fd, std::uint64_t inode) {
  const std::string path = proc_root + "/" + std::to_string(pid) + "/fd/" + std::to_string(fd);
  char link[64];
  const ssize_t n = readlink(path.c_str(), link, sizeof link);
  return n > 0 && static_cast<std::size_t>(n) < sizeof link &&
         socket_inode_of_link(std::string_view(link, static_cast<std::size_t>(n))) == inode;
}

std::string process_comm(const std::string& proc_root, int pid) {
  const std::string path = proc_root + "/" + std::to_string(pid) + "/comm";
  const OwnedFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return {};
  char name[256];
  const ssize_t n = ::read(fd.get(), name, sizeof name);
  if (n <= 0) return {};
  std::string_view text(name, static_cast<std::size_t>(n));
  if (text.back() == '\n') text.remove_suffix(1);
  // A process names itself (prctl PR_SET_NAME) with any bytes but NUL, and
  // the kernel shows them as they are: "x\nFORGED LINE" would be a line of
  // its own in every log and list that names the process.
  return detail::without_control_chars(text);
}

ProcProcessTable::ProcProcessTable(std::string proc_root, std::chrono::milliseconds min_rescan,
                                   SocketOwnerSource* owner_source)
    : root_(std::move(proc_root)), min_rescan_(min_rescan), source_(owner_source) {
  struct statfs fs {};
  counts_descriptors_ = ::statfs(root_.c_str(), &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC;
}

int ProcProcessTable::scans() const {
  std::lock_guard lock(mutex_);
  return scans_;
}

int ProcProcessTable::source_requests() const {
  std::lock_guard lock(mutex_);
  return source_requests_;
}

int ProcProcessTable::owner_of_socket(std::uint64_t inode) {
  if (inode == 0) return -1;  // held by no process (TIME_WAIT, request sockets)
  std::lock_guard lock(mutex_);
  if (const auto it = owners_.find(inode); it != owners_.end()) return it->second.pid;
  if (unknown_.contains(inode)) return -1;
  look_up_locked(std::span(&inode, 1), false);
  const auto it = owners_.find(inode);
  return it == owners_.end() ? -1 : it->second.pid;
}

void ProcProcessTable::prefetch_owners(std::span<const std::uint64_t> inodes) {
  std::lock_guard lock(mutex_);
  if (!unknown_.empty() || !remote_.empty()) {
    // Sockets that are no longer asked about have closed: forget them, so
    // that neither set grows and the owner source is not asked about them.
    const std::unordered_set<std::uint64_t> current(inodes.begin(), inodes.end());
    std::erase_if(unknown_, [&](std::uint64_t i) { return !current.contains(i); });
    std::erase_if(remote_, [&](std::uint64_t i) { return !current.contains(i); });
  }
  std::vector<std::uint64_t> missing;
  for (const std::uint64_t i : inodes)
    if (i != 0 && !owners_.contains(i) && !unknown_.contains(i)) missing.push_back(i);
  if (!missing.empty()) look_up_locked(missing, false);
}

int ProcProcessTable::verify_owners(std::span<const std::uint64_t> inodes) {
  std::lock_guard lock(mutex_);
  std::unordered_map<int, std::vector<std::uint64_t>> by_pid;
  for (const std::uint64_t i : inodes)
    if (const auto it = owners_.find(i); it != owners_.end()) by_pid[it->second.pid].push_back(i);
  std::vector<std::uint64_t> stale;
  std::vector<int> fds;
  for (const auto& [pid, held] : by_pid) {
    // Whether the process's descriptor table is still the one the walk read:
    // then it still holds its sockets by the same descriptors, and only a
    // changed table has its links read. Linux 6.2+ counts the open
    // descriptors in the size of /proc/PID/fd (one stat); elsewhere, and in
    // a /proc made of files, the descriptors are listed.
    const auto walked = prints_.find(pid);
    bool there = true, listed = false, unchanged = false;
    struct stat st {};
    if (counts_descriptors_ && ::stat((root_ + "/" + std::to_string(pid) + "/fd").c_str(), &st) == 0 &&
        st.st_size > 0) {
      unchanged = walked != prints_.end() && walked->second.count == static_cast<std::uint64_t>(st.st_size);
    } else {
      DescriptorPrint print;
      there = listed = list_descriptors(root_, pid, fds, print);
      unchanged = there && walked != prints_.end() && walked->second == print;
    }
    for (const std::uint64_t i : held) {
      const int fd = owners_.at(i).fd;
      bool holds;
      if (fd < 0)  // named by the owner source: we cannot look, but it must still run
        holds = process_exists(pid);
      else if (listed && !std::binary_search(fds.begin(), fds.end(), fd))
        holds = false;
      else
        holds = there && (unchanged || holds_socket(root_, pid, fd, i));
      if (!holds) stale.push_back(i);
    }
  }
  if (stale.empty()) return 0;
  for (const std::uint64_t i : stale) owners_.erase(i);
  look_up_locked(stale, true);
  return static_cast<int>(stale.size());
}

void ProcProcessTable::look_up_locked(std::span<const std::uint64_t> wanted, bool now_anyway) {
  const auto now = std::chrono::steady_clock::now();
  if (!now_anyway && scanned_ && now - last_scan_ < min_rescan_) return;  // misses wait for the next turn
  ++scans_;
  scanned_ = true;
  last_scan_ = now;

  // Everything of interest: what is asked about now, and what earlier walks
  // could only learn through the owner source or not at all. The walk
  // starts the map afresh, so these are looked up again with it.
  std::unordered_set<std::uint64_t> interest(wanted.begin(), wanted.end());
  interest.insert(unknown_.begin(), unknown_.end());
  interest.insert(remote_.begin(), remote_.end());

  owners_.clear();
  prints_.clear();
  // A shared socket goes to the first holder found.
  const bool hidden = walk_socket_descriptors(
      root_,
      [this](const SocketLink& l) {
        owners_.try_emplace(l.inode, Holder{l.pid, l.fd});
        return true;
      },
      [this](int pid, const DescriptorPrint& print) { prints_[pid] = print; });

  std::vector<std::uint64_t> missing;
  for (const std::uint64_t i : interest)
    if (!owners_.contains(i)) missing.push_back(i);
  remote_.clear();
  if (hidden && source_ && !missing.empty()) {
    ++source_requests_;
    // A source that cannot be asked (no helper, no privilege) leaves the
    // sockets unknown until the next walk.
    if (auto found = source_->owners_of(missing)) {
      remote_names_.clear();
      for (auto& e : *found) {
        if (e.pid <= 0) continue;
        owners_.try_emplace(e.inode, Holder{e.pid, -1});
        remote_.insert(e.inode);
        if (!e.name.empty()) remote_names_[e.pid] = detail::without_control_chars(e.name);
      }
    }
  }
  unknown_.clear();
  for (const std::uint64_t i : missing)
    if (!owners_.contains(i)) unknown_.insert(i);
}

std::vector<ProcessEntry> ProcProcessTable::list_processes() {
  std::vector<ProcessEntry> out;
  std::unordered_set<int> listed;
  if (DirPtr proc{opendir(root_.c_str())}) {
    while (const dirent* e = readdir(proc.get())) {
      const int pid = pid_of_entry(e->d_name);
      if (!pid) continue;
      std::string name = process_comm(root_, pid);
      if (name.empty()) continue;
      listed.insert(pid);
      out.push_back({pid, std::move(name)});
    }
  }
  // Processes that /proc hides from us (mounted with hidepid) are known by
  // the names the owner source gave.
  std::lock_guard lock(mutex_);
  for (const auto& [pid, name] : remote_names_)
    if (!listed.contains(pid)) out.push_back({pid, name});
  return out;
}

}  // namespace tw::platform
