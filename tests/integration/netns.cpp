#include "netns.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace tw::test {
namespace {

constexpr const char* kPrefix = "twt-";

std::string sanitized(std::string_view tag) {
  std::string out;
  for (char c : tag.substr(0, 20)) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
    out += plain ? c : 'x';
  }
  return out.empty() ? "ns" : out;
}

// Deletes "twt-<tag>-<pid>-<n>" namespaces whose process is gone: a test that
// crashed, or was killed by a timeout, before its destructors could run.
void delete_orphans() {
  DIR* dir = opendir("/run/netns");
  if (dir == nullptr) return;
  std::vector<std::string> orphans;
  while (const dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name.rfind(kPrefix, 0) != 0) continue;
    const auto last = name.rfind('-');
    if (last == std::string::npos || last == 0) continue;
    const auto before = name.rfind('-', last - 1);
    if (before == std::string::npos) continue;
    const std::string pid_text = name.substr(before + 1, last - before - 1);
    char* end = nullptr;
    const long pid = std::strtol(pid_text.c_str(), &end, 10);
    if (pid_text.empty() || *end != '\0' || pid <= 0 || pid == getpid()) continue;
    if (kill(static_cast<pid_t>(pid), 0) == -1 && errno == ESRCH) orphans.push_back(name);
  }
  closedir(dir);
  for (const auto& name : orphans) run_command("ip netns del " + name);
}

std::atomic<unsigned> g_counter{0};
std::once_flag g_orphans_once;

std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

}  // namespace

bool is_root() { return geteuid() == 0; }

CommandResult run_command(const std::string& command_line) {
  CommandResult result;
  const std::string full = command_line + " 2>&1";
  FILE* pipe = popen(full.c_str(), "r");
  if (pipe == nullptr) {
    result.output = "popen failed";
    return result;
  }
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) result.output.append(buf, n);
  const int status = pclose(pipe);
  result.status = (status != -1 && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
  return result;
}

NetNs::NetNs(std::string_view tag) {
  std::call_once(g_orphans_once, delete_orphans);
  name_ = std::string(kPrefix) + sanitized(tag) + "-" + std::to_string(getpid()) + "-" +
          std::to_string(g_counter.fetch_add(1));
  if (!check(run_command("ip netns add " + name_), "ip netns add")) {
    name_.clear();  // nothing to delete
    return;
  }
  const int fd = open(("/run/netns/" + name_).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error_ = "cannot open /run/netns/" + name_;
    return;
  }
  // IPv6 off before any interface exists ("default" applies to new ones).
  // A kernel without IPv6 has nothing to switch off.
  const CommandResult v6 = exec(
      "if [ -d /proc/sys/net/ipv6 ]; then "
      "echo 1 > /proc/sys/net/ipv6/conf/all/disable_ipv6 && "
      "echo 1 > /proc/sys/net/ipv6/conf/default/disable_ipv6; fi");
  if (!check(v6, "disable IPv6") || !set_up("lo", true)) {
    close(fd);
    return;
  }
  fd_ = fd;
}

NetNs::~NetNs() {
  if (fd_ >= 0) close(fd_);
  if (!name_.empty()) run_command("ip netns del " + name_);
}

bool NetNs::check(const CommandResult& r, const std::string& what) {
  if (r.ok()) return true;
  error_ = what + " failed (" + std::to_string(r.status) + "): " + trimmed(r.output);
  return false;
}

CommandResult NetNs::ip(const std::string& args) const { return run_command("ip -n " + name_ + " " + args); }

CommandResult NetNs::exec(const std::string& command) const {
  // Single quotes around the command, with embedded ones closed and reopened.
  std::string quoted = "'";
  for (char c : command) quoted += (c == '\'') ? std::string("'\\''") : std::string(1, c);
  quoted += "'";
  return run_command("ip netns exec " + name_ + " sh -c " + quoted);
}

std::optional<std::string> NetNs::sys_file(const std::string& iface, const std::string& file) const {
  const CommandResult r = exec("cat /sys/class/net/" + iface + "/" + file);
  if (!r.ok()) return std::nullopt;
  return trimmed(r.output);
}

std::optional<std::uint64_t> NetNs::sys_counter(const std::string& iface, const std::string& counter) const {
  const auto text = sys_file(iface, "statistics/" + counter);
  if (!text || text->empty()) return std::nullopt;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text->c_str(), &end, 10);
  if (*end != '\0') return std::nullopt;
  return v;
}

bool NetNs::run(const std::function<void()>& fn) const {
  if (fd_ < 0) return false;
  bool entered = false;
  std::thread t([&] {
    // setns() moves only this thread; it ends with the thread.
    if (setns(fd_, CLONE_NEWNET) != 0) return;
    entered = true;
    fn();
  });
  t.join();
  return entered;
}

bool NetNs::add_veth(const std::string& a, const std::string& b) {
  return check(ip("link add " + a + " type veth peer name " + b), "add veth") && set_up(a, true) &&
         set_up(b, true);
}

bool NetNs::add_dummy(const std::string& name, bool up) {
  return check(ip("link add " + name + " type dummy"), "add dummy") && (!up || set_up(name, true));
}

bool NetNs::del_link(const std::string& name) { return check(ip("link del " + name), "link del"); }

bool NetNs::set_up(const std::string& name, bool up) {
  return check(ip("link set dev " + name + (up ? " up" : " down")), "link set");
}

bool NetNs::add_address(const std::string& iface, const std::string& cidr) {
  return check(ip("addr add " + cidr + " dev " + iface), "addr add");
}

bool NetNs::enable_ipv6() {
  // Interfaces made while the default was off keep their own switch off. No
  // duplicate address detection and no router solicitations: the link-local
  // addresses are usable at once, and no datagram the test did not send
  // appears in its captures a few seconds later.
  return check(exec("cd /proc/sys/net/ipv6/conf && for d in *; do "
                    "echo 0 > \"$d/accept_dad\" && echo 0 > \"$d/router_solicitations\" && "
                    "echo 0 > \"$d/disable_ipv6\" || exit 1; done"),
               "enable IPv6");
}

bool NetNs::add_address6(const std::string& iface, const std::string& cidr) {
  return check(ip("-6 addr add " + cidr + " dev " + iface + " nodad"), "addr add (IPv6)");
}

std::optional<std::uint32_t> NetNs::ifindex(const std::string& iface) const {
  const auto text = sys_file(iface, "ifindex");
  if (!text || text->empty()) return std::nullopt;
  return static_cast<std::uint32_t>(std::strtoul(text->c_str(), nullptr, 10));
}

VethLink::VethLink(std::string_view tag, bool ipv6)
    : left_(std::string(tag) + "-l"), right_(std::string(tag) + "-r") {
  if (!left_.ok() || !right_.ok()) {
    error_ = left_.ok() ? right_.error() : left_.error();
    return;
  }
  // Created inside the left namespace with the peer put straight into the
  // right one: the pair never appears in the caller's namespace.
  const CommandResult r =
      left_.ip("link add " + left_if_ + " type veth peer name " + right_if_ + " netns " + right_.name());
  if (!r.ok()) {
    error_ = "add veth failed: " + trimmed(r.output);
    return;
  }
  if (!left_.add_address(left_if_, left_addr_ + "/24") || !right_.add_address(right_if_, right_addr_ + "/24") ||
      !left_.set_up(left_if_, true) || !right_.set_up(right_if_, true)) {
    error_ = !left_.error().empty() ? left_.error() : right_.error();
    return;
  }
  if (ipv6 && (!left_.enable_ipv6() || !right_.enable_ipv6() || !left_.add_address6(left_if_, left_addr6_ + "/64") ||
               !right_.add_address6(right_if_, right_addr6_ + "/64") || !know_neighbours6())) {
    error_ = !left_.error().empty() ? left_.error() : right_.error();
    return;
  }
  ok_ = true;
}

// Each side knows the other's link address for good, so that no neighbour
// solicitation runs before the first datagram between the two IPv6 addresses.
bool VethLink::know_neighbours6() {
  const auto left_mac = left_.sys_file(left_if_, "address");
  const auto right_mac = right_.sys_file(right_if_, "address");
  if (!left_mac || !right_mac) {
    error_ = "cannot read the veth link addresses";
    return false;
  }
  const CommandResult l = left_.ip("-6 neigh replace " + right_addr6_ + " lladdr " + *right_mac + " dev " + left_if_ +
                                   " nud permanent");
  const CommandResult r = right_.ip("-6 neigh replace " + left_addr6_ + " lladdr " + *left_mac + " dev " +
                                    right_if_ + " nud permanent");
  if (!l.ok() || !r.ok()) {
    error_ = "neigh replace failed: " + (l.ok() ? r.output : l.output);
    return false;
  }
  return true;
}

}  // namespace tw::test
