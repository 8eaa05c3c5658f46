#include "platform/linux/proc_sockets.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <memory>

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

ProcProcessTable::ProcProcessTable(std::string proc_root, std::chrono::milliseconds min_rescan)
    : root_(std::move(proc_root)), min_rescan_(min_rescan) {}

int ProcProcessTable::owner_of_socket(std::uint64_t inode) {
  if (inode == 0) return -1;  // held by no process (TIME_WAIT, request sockets)
  if (const auto it = owners_.find(inode); it != owners_.end()) return it->second;
  const auto now = std::chrono::steady_clock::now();
  if (scanned_ && now - last_scan_ < min_rescan_) return -1;
  rescan();
  const auto it = owners_.find(inode);
  return it == owners_.end() ? -1 : it->second;
}

void ProcProcessTable::rescan() {
  ++scans_;
  scanned_ = true;
  last_scan_ = std::chrono::steady_clock::now();
  owners_.clear();
  DirPtr proc(opendir(root_.c_str()));
  if (!proc) return;
  char link[64];
  while (const dirent* e = readdir(proc.get())) {
    const int pid = pid_of_entry(e->d_name);
    if (!pid) continue;
    const std::string fd_path = root_ + "/" + e->d_name + "/fd";
    DirPtr fds(opendir(fd_path.c_str()));
    if (!fds) continue;  // ended meanwhile, or not ours to see
    const int dfd = dirfd(fds.get());
    while (const dirent* f = readdir(fds.get())) {
      if (f->d_name[0] == '.') continue;
      const ssize_t n = readlinkat(dfd, f->d_name, link, sizeof link);
      if (n <= 0 || static_cast<std::size_t>(n) >= sizeof link) continue;
      if (const auto inode = socket_inode_of_link(std::string_view(link, static_cast<std::size_t>(n))))
        owners_.try_emplace(inode, pid);  // a shared socket goes to the first holder found
    }
  }
}

std::vector<ProcessEntry> ProcProcessTable::list_processes() {
  std::vector<ProcessEntry> out;
  DirPtr proc(opendir(root_.c_str()));
  if (!proc) return out;
  char name[256];
  while (const dirent* e = readdir(proc.get())) {
    const int pid = pid_of_entry(e->d_name);
    if (!pid) continue;
    const std::string path = root_ + "/" + e->d_name + "/comm";
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    const ssize_t n = ::read(fd, name, sizeof name);
    close(fd);
    if (n <= 0) continue;
    std::string_view text(name, static_cast<std::size_t>(n));
    if (text.back() == '\n') text.remove_suffix(1);
    out.push_back({pid, std::string(text)});
  }
  return out;
}

}  // namespace tw::platform
