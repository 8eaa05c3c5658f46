#pragma once
// Throwaway network namespaces for integration tests and benchmarks.
//
// Every test that touches the kernel's networking does it inside namespaces it
// creates itself, so that it sees only its own interfaces and sends traffic to
// nobody else. IPv6 is switched off in each namespace before any interface is
// made, so that no router solicitation or DAD packet moves a counter behind
// the test's back; with no IPv4 address on an interface, nothing at all is
// sent on it unless the test sends it.
//
// Needs root (CAP_SYS_ADMIN and CAP_NET_ADMIN) and iproute2. Typical use:
//
//   if (!tw::test::is_root()) GTEST_SKIP() << "needs root";
//   tw::test::NetNs ns("stats");
//   ASSERT_TRUE(ns.ok()) << ns.error();
//   ASSERT_TRUE(ns.add_veth("twa", "twb"));       // both ends in ns, up
//   std::unique_ptr<Thing> thing;
//   ASSERT_TRUE(ns.run([&] { thing = std::make_unique<Thing>(); }));
//   // thing's sockets live in ns from now on, whichever thread uses them.
//   auto bytes = ns.sys_counter("twa", "tx_bytes");
//
//   tw::test::VethLink link("udp");              // two namespaces, one cable
//   ASSERT_TRUE(link.ok()) << link.error();
//   link.left().run([&] { /* send to link.right_addr() */ });
//
// Cleanup: the destructor deletes the namespace, which destroys every
// interface in it (a veth pair dies with either of its namespaces). Names are
// "twt-<tag>-<pid>-<n>"; namespaces left behind by a test process that died
// before its destructors ran are deleted when the next process creates its
// first namespace. Sockets opened inside a namespace keep it alive (without a
// name) until they are closed, but nothing outside can reach it.
//
// Threads: setns() is per thread, so run() uses a fresh thread and the
// calling thread never changes namespace. /sys, however, belongs to the mount
// namespace and keeps showing the namespace it was mounted in: read sysfs
// through exec() or sys_counter(), which remount it for the command.
//
// This file uses no test framework, so benchmarks can use it too.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tw::test {

// True when the process may create namespaces and interfaces.
bool is_root();

struct CommandResult {
  int status = -1;     // exit status, -1 when the command could not run or was killed
  std::string output;  // stdout and stderr together
  bool ok() const { return status == 0; }
};

// Runs `command_line` with /bin/sh and waits for it.
CommandResult run_command(const std::string& command_line);

class NetNs {
 public:
  // Creates an empty namespace with IPv6 off and lo up. `tag` (letters,
  // digits, '-') goes into the name to tell tests apart in `ip netns`.
  explicit NetNs(std::string_view tag = "ns");
  ~NetNs();
  NetNs(const NetNs&) = delete;
  NetNs& operator=(const NetNs&) = delete;

  bool ok() const { return fd_ >= 0; }
  const std::string& error() const { return error_; }
  const std::string& name() const { return name_; }

  // `ip -n NAME <args>`.
  CommandResult ip(const std::string& args) const;
  // `<command>` run by /bin/sh inside the namespace (ip netns exec), with /sys
  // showing the namespace's interfaces.
  CommandResult exec(const std::string& command) const;
  // A counter of /sys/class/net/IFACE/statistics/ (rx_bytes, tx_packets...)
  // as the kernel shows it in the namespace; nullopt when unreadable.
  std::optional<std::uint64_t> sys_counter(const std::string& iface, const std::string& counter) const;
  // Any /sys/class/net/IFACE/<file> as text without the line end.
  std::optional<std::string> sys_file(const std::string& iface, const std::string& file) const;

  // Runs `fn` on a new thread that has joined this namespace and waits for it.
  // False (and `fn` not run) when the namespace cannot be entered.
  bool run(const std::function<void()>& fn) const;

  // Shorthands; each returns false on failure and records error().
  bool add_veth(const std::string& a, const std::string& b);  // both ends here, both up
  bool add_dummy(const std::string& name, bool up = true);
  bool del_link(const std::string& name);
  bool set_up(const std::string& name, bool up);
  bool add_address(const std::string& iface, const std::string& cidr);  // "10.231.0.1/24"
  // Turns IPv6 on in the namespace (lo and every interface there now, and
  // those made later), for tests of the IPv6 paths.
  bool enable_ipv6();
  // An IPv6 address without duplicate address detection, so that it is
  // usable at once: "fd00:231::1/64". Needs enable_ipv6() first.
  bool add_address6(const std::string& iface, const std::string& cidr);
  std::optional<std::uint32_t> ifindex(const std::string& iface) const;

 private:
  bool check(const CommandResult& r, const std::string& what);

  std::string name_;
  std::string error_;
  int fd_ = -1;  // open handle of /run/netns/NAME, for setns()
};

// Two namespaces joined by one veth pair: left_if() in left() with
// left_addr()/24, right_if() in right() with right_addr()/24, both up.
// With `ipv6`, IPv6 is on in both and left_addr6()/64, right_addr6()/64 are
// usable at once (no duplicate address detection).
class VethLink {
 public:
  explicit VethLink(std::string_view tag = "link", bool ipv6 = false);

  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }
  NetNs& left() { return left_; }
  NetNs& right() { return right_; }
  const std::string& left_if() const { return left_if_; }
  const std::string& right_if() const { return right_if_; }
  const std::string& left_addr() const { return left_addr_; }
  const std::string& right_addr() const { return right_addr_; }
  const std::string& left_addr6() const { return left_addr6_; }
  const std::string& right_addr6() const { return right_addr6_; }

 private:
  bool know_neighbours6();
  NetNs left_;
  NetNs right_;
  std::string left_if_ = "tw0", right_if_ = "tw1";
  std::string left_addr_ = "10.231.0.1", right_addr_ = "10.231.0.2";
  std::string left_addr6_ = "fd00:231::1", right_addr6_ = "fd00:231::2";
  bool ok_ = false;
  std::string error_;
};

}  // namespace tw::test
