// The Session Monitor on the real kernel: a TCP connection between two
// namespaces the test creates, held by the test's own child process, appears
// with that process's label, keeps its first-seen time, survives an ALLOW
// rule and is closed by a blocking rule (the peer sees the reset). Host names
// come from a fake resolver: nothing here may ask a DNS server. Also the
// /proc walk against a /proc of the test's own making.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <set>

#include "netns.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_file_store.h"
#include "platform/fake/fake_reverse_resolver.h"
#include "platform/linux/proc_sockets.h"
#include "platform/linux/resolver.h"
#include "platform/linux/sock_diag.h"
#include "platform/privileged/sock_destroy.h"
#include "sessions/netstat.h"
#include "sessions/session_monitor.h"

namespace tw::sessions {
namespace {

namespace fs = std::filesystem;
using platform::SocketProtocol;

// A child process that connects to ADDRESS:PORT from the namespace of the
// forking thread and then waits to be killed. Killed and reaped on destruction.
struct ConnectedChild {
  pid_t pid = -1;
  ~ConnectedChild() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  void start(std::uint32_t address_be, std::uint16_t port, const char* name = "twsesschild") {
    pid = fork();
    if (pid != 0) return;
    // Only async-signal-safe calls from here on.
    prctl(PR_SET_NAME, name, 0, 0, 0);
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = address_be;
    a.sin_port = htons(port);
    if (s < 0 || connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) _exit(1);
    for (;;) pause();
  }
};

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

TEST(SessionsOnTheKernel, ChildConnectionIsListedKeepsItsTimeAndIsKilledByARule) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (namespaces, other processes' fds, SOCK_DESTROY)";
  test::VethLink link("sess");
  ASSERT_TRUE(link.ok()) << link.error();
  const std::uint32_t server_addr = *shared::parse_address(link.right_addr());

  Fd listener, server;
  std::uint16_t port = 0;
  ASSERT_TRUE(link.right().run([&] {
    listener.fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = server_addr;
    socklen_t len = sizeof a;
    if (bind(listener.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(listener.fd, 4) == 0 &&
        getsockname(listener.fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      port = ntohs(a.sin_port);
  }));
  ASSERT_NE(port, 0);

  ConnectedChild child;
  Fd udp;
  std::uint16_t udp_port = 0;
  std::unique_ptr<platform::SockDiagSocketTable> sockets;
  std::unique_ptr<platform::SockDestroyKiller> killer;
  ASSERT_TRUE(link.left().run([&] {
    child.start(server_addr, port);
    udp.fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    socklen_t len = sizeof a;
    if (bind(udp.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(udp.fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      udp_port = ntohs(a.sin_port);
    sockets = std::make_unique<platform::SockDiagSocketTable>();
    killer = std::make_unique<platform::SockDestroyKiller>();
  }));
  ASSERT_GT(child.pid, 0);
  pollfd pl{listener.fd, POLLIN, 0};
  ASSERT_EQ(poll(&pl, 1, 5000), 1) << "the child did not connect";
  server.fd = accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
  ASSERT_GE(server.fd, 0);

  platform::ProcProcessTable processes;
  platform::FakeClock clock;
  platform::FakeFileStore files;
  platform::FakeReverseResolver resolver;
  platform::FakeLookupWorkers workers;
  shared::HostNameCache hosts(resolver, workers);
  shared::FlowKeyTable keys;
  ProcessNameCache names(processes);
  SessionSettings settings;
  settings.ask_dns = false;
  SessionMonitorConfig config;
  config.data_folder = "/data";
  SessionMonitor monitor({*sockets, processes, *killer, clock, files, hosts, keys, names}, config, settings,
                         AutoBlockSettings{});
  const std::string port_text = std::to_string(port);
  auto find_row = [&]() -> const RowTexts* {
    for (const auto& r : monitor.rows())
      if (r[kRemoteAddress] == link.right_addr() && r[kRemotePort] == port_text) return &r;
    return nullptr;
  };

  monitor.start();
  clock.set_ms(10'000);
  monitor.refresh();
  const RowTexts* row = find_row();
  ASSERT_NE(row, nullptr);
  EXPECT_EQ((*row)[kStatus], "Connecting");
  EXPECT_EQ((*row)[kProcess], "twsesschild(" + std::to_string(child.pid) + ")");
  EXPECT_EQ((*row)[kTime], "00s");
  EXPECT_TRUE(keys.owner(shared::tcp_flow_key(link.left_addr(), static_cast<unsigned>(std::stoul((*row)[kLocalPort])), link.right_addr(),
                                              port)) == child.pid);

  EXPECT_EQ(keys.owner(shared::udp_flow_key("0.0.0.0", udp_port)), getpid());  // this process's endpoint

  clock.set_ms(75'000);
  monitor.refresh();
  row = find_row();
  ASSERT_NE(row, nullptr);
  EXPECT_EQ((*row)[kTime], "01m 05s");  // first seen at the first refresh

  // ALLOW before the blocking rule protects the connection.
  monitor.load_rules("ALLOW=1,PID=twsesschild\nIP2=" + link.right_addr() + ",PORT2=" + port_text + "\n");
  ASSERT_TRUE(monitor.block_start());
  monitor.refresh();
  EXPECT_EQ(monitor.blocked_count(), 0);
  pollfd ps{server.fd, POLLIN, 0};
  EXPECT_EQ(poll(&ps, 1, 200), 0);

  // The blocking rule alone closes it: the peer sees the reset.
  monitor.load_rules("IP2=" + link.right_addr() + ",PORT2=" + port_text + "\n");
  monitor.refresh();
  EXPECT_EQ(monitor.blocked_count(), 1);
  ASSERT_EQ(poll(&ps, 1, 5000), 1);
  char b;
  EXPECT_EQ(recv(server.fd, &b, 1, 0), -1);
  EXPECT_EQ(errno, ECONNRESET);
  ASSERT_EQ(files.files.size(), 1u);
  EXPECT_NE(files.files.begin()->second.find("twsesschild"), std::string::npos);

  monitor.refresh();
  EXPECT_EQ(find_row(), nullptr);
}

// A Session Monitor on the real tables of a namespace of the test's own, with
// the in-process killer; host names stay addresses (nothing asks a DNS
// server) and the blocked log goes to a fake store.
struct KernelMonitor {
  explicit KernelMonitor(test::NetNs& ns) {
    ok = ns.run([&] {
      sockets = std::make_unique<platform::SockDiagSocketTable>();
      killer = std::make_unique<platform::SockDestroyKiller>();
    });
    SessionSettings settings;
    settings.ask_dns = false;
    SessionMonitorConfig config;
    config.data_folder = "/data";
    if (ok)
      monitor = std::make_unique<SessionMonitor>(
          SessionMonitorDeps{*sockets, processes, *killer, clock, files, hosts, keys, names}, config, settings,
          AutoBlockSettings{});
  }
  ~KernelMonitor() { workers.run_all(); }
  // The lines of the blocked log (one file: the test runs within a month).
  std::vector<std::string> blocked_lines() const {
    std::vector<std::string> lines;
    for (const auto& [path, text] : files.files)
      for (std::size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
        lines.push_back(text.substr(at, nl - at));
    return lines;
  }
  // The shown row whose local port is `port`, null when there is none.
  const RowTexts* row_with_local_port(std::uint16_t port) const {
    for (const auto& r : monitor->rows())
      if (r[kLocalPort] == std::to_string(port)) return &r;
    return nullptr;
  }

  bool ok = false;
  std::unique_ptr<platform::SockDiagSocketTable> sockets;
  std::unique_ptr<platform::SockDestroyKiller> killer;
  platform::ProcProcessTable processes;
  platform::FakeClock clock;
  platform::FakeFileStore files;
  platform::FakeReverseResolver resolver;
  platform::FakeLookupWorkers workers;
  shared::HostNameCache hosts{resolver, workers};
  shared::FlowKeyTable keys;
  ProcessNameCache names{processes};
  std::unique_ptr<SessionMonitor> monitor;
};

// A loopback listener in `ns` (127.0.0.1, a port of the kernel's choice).
std::uint16_t listen_on_loopback(test::NetNs& ns, Fd& listener, int backlog = 16) {
  std::uint16_t port = 0;
  ns.run([&] {
    listener.fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(listener.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(listener.fd, backlog) == 0 &&
        getsockname(listener.fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      port = ntohs(a.sin_port);
  });
  return port;
}

// A connection killed while its program still holds the socket and the port
// it bound stays in the kernel's tables as a bound-only socket with its
// addresses: it is no connection any more, and auto-block must not close,
// log and count it again at every refresh.
TEST(SessionsOnTheKernel, AConnectionKilledByAutoBlockIsLoggedAndCountedOnce) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (namespaces, SOCK_DESTROY)";
  test::NetNs ns("once");
  ASSERT_TRUE(ns.ok()) << ns.error();
  Fd listener, client, server;
  const std::uint16_t port = listen_on_loopback(ns, listener);
  ASSERT_NE(port, 0);
  constexpr std::uint16_t kClientPort = 41234;  // bound by hand: the kernel keeps it after the kill
  bool connected = false;
  ASSERT_TRUE(ns.run([&] {
    client.fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(kClientPort);
    if (bind(client.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return;
    a.sin_port = htons(port);
    connected = connect(client.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }));
  ASSERT_TRUE(connected) << strerror(errno);
  server.fd = accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
  ASSERT_GE(server.fd, 0);

  KernelMonitor k(ns);
  ASSERT_TRUE(k.ok);
  k.monitor->load_rules("IP2=127.0.0.1,PORT2=" + std::to_string(port) + "\n");
  k.monitor->start();
  ASSERT_TRUE(k.monitor->block_start());
  for (int i = 0; i < 6; ++i) {
    k.clock.advance_ms(500);
    k.monitor->refresh();
  }
  EXPECT_EQ(k.monitor->blocked_count(), 1);
  EXPECT_EQ(k.blocked_lines().size(), 1u);
  EXPECT_EQ(k.row_with_local_port(kClientPort), nullptr) << "a bound-only socket is listed";
  // The program that still holds the socket sees its connection aborted.
  pollfd p{client.fd, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 1000), 1);
  char b;
  EXPECT_EQ(recv(client.fd, &b, 1, 0), -1);
  EXPECT_EQ(errno, ECONNABORTED);
}

// A process may give itself any name, line ends included: it must not make
// lines of its own in the blocked log, the session log or the NETSTAT
// listing, nor in anything that names it by its process id (the packet list).
TEST(SessionsOnTheKernel, AProcessNameCannotForgeLines) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (namespaces, other processes' fds, SOCK_DESTROY)";
  test::NetNs ns("forge");
  ASSERT_TRUE(ns.ok()) << ns.error();
  Fd listener, server;
  const std::uint16_t port = listen_on_loopback(ns, listener);
  ASSERT_NE(port, 0);
  ConnectedChild child;
  ASSERT_TRUE(ns.run([&] { child.start(htonl(INADDR_LOOPBACK), port, "x\nFORGED LINE"); }));
  pollfd pl{listener.fd, POLLIN, 0};
  ASSERT_EQ(poll(&pl, 1, 5000), 1) << "the child did not connect";
  server.fd = accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
  ASSERT_GE(server.fd, 0);

  KernelMonitor k(ns);
  ASSERT_TRUE(k.ok);
  k.monitor->start();
  k.monitor->refresh();
  const std::string label = "x?FORGED LINE(" + std::to_string(child.pid) + ")";
  bool found = false;
  for (const auto& r : k.monitor->rows()) found |= r[kProcess] == label;
  EXPECT_TRUE(found) << "no row names " << label;
  EXPECT_EQ(k.names.name_for(child.pid), "x?FORGED LINE");

  logging::EntryValues v;
  auto src = k.monitor->log_source();
  src.fill(logging::LogKind::Session, "$SESSION$", v);
  const std::string session(v.get("$SESSION$"));
  EXPECT_EQ(static_cast<std::size_t>(std::count(session.begin(), session.end(), '\n')), k.monitor->rows().size() - 1)
      << session;

  NetstatRun run(Language::English);
  run.start();
  run.run_worker(*k.sockets, k.processes, k.names, k.hosts, k.resolver, kDefaultNetstatFilter);
  const std::string listing = run.tick().replace;
  EXPECT_NE(listing.find("-> " + label + "\r\n"), std::string::npos) << listing;
  EXPECT_EQ(listing.find("\nFORGED"), std::string::npos) << listing;

  k.monitor->load_rules("PID=x,PORT2=" + std::to_string(port) + "\n");
  ASSERT_TRUE(k.monitor->block_start());
  k.monitor->refresh();
  const auto lines = k.blocked_lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(label), std::string::npos) << lines[0];
}

// A process of the test's own in a namespace that connects to 127.0.0.1:PORT
// as "twstaleparent" and, told to, hands the connection to a child of its
// own ("twstalechild"): then it ends, or it closes its descriptor of the
// connection and stays, as a server that forks for each connection does.
struct HandingOwner {
  pid_t parent = -1, child = -1;
  int command[2] = {-1, -1}, answer[2] = {-1, -1};
  ~HandingOwner() {
    for (pid_t p : {child, parent})
      if (p > 0) kill(p, SIGKILL);
    if (parent > 0) waitpid(parent, nullptr, 0);
    for (int fd : {command[0], command[1], answer[0], answer[1]})
      if (fd >= 0) close(fd);
  }
  // On a thread in the namespace.
  bool start(std::uint16_t port) {
    if (pipe(command) != 0 || pipe(answer) != 0) return false;
    parent = fork();
    if (parent == 0) {
      // Only async-signal-safe calls from here on.
      prctl(PR_SET_NAME, "twstaleparent", 0, 0, 0);
      const int s = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      a.sin_port = htons(port);
      if (s < 0 || connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) _exit(1);
      char ends = 0;
      if (read(command[0], &ends, 1) != 1) _exit(1);
      const pid_t c = fork();
      if (c == 0) {
        prctl(PR_SET_NAME, "twstalechild", 0, 0, 0);
        for (;;) pause();
      }
      if (!ends) close(s);  // before the answer: the test looks right after it
      if (write(answer[1], &c, sizeof c) != sizeof c || ends) _exit(0);
      for (;;) pause();
    }
    return parent > 0;
  }
  bool hand_over(bool parent_ends) {
    const char ends = parent_ends ? 1 : 0;
    if (write(command[1], &ends, 1) != 1 || read(answer[0], &child, sizeof child) != sizeof child) return false;
    if (parent_ends) {
      waitpid(parent, nullptr, 0);
      parent = -1;
    }
    return true;
  }
};

// The owner kept for a socket is checked: a program that forked and ended,
// or that passed the connection to its child and closed its own descriptor,
// gives way to the child within a second, although no other socket made the
// table look again.
TEST(SessionsOnTheKernel, AStaleOwnerGivesWayToTheChildThatHoldsTheConnection) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (namespaces, other processes' fds)";
  test::NetNs ns("stale");
  ASSERT_TRUE(ns.ok()) << ns.error();
  Fd listener, first, second;
  const std::uint16_t port = listen_on_loopback(ns, listener);
  ASSERT_NE(port, 0);
  HandingOwner ending, staying;
  bool started = false;
  ASSERT_TRUE(ns.run([&] { started = ending.start(port) && staying.start(port); }));
  ASSERT_TRUE(started);
  first.fd = accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
  second.fd = accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
  ASSERT_TRUE(first.fd >= 0 && second.fd >= 0);

  KernelMonitor k(ns);
  ASSERT_TRUE(k.ok);
  k.monitor->start();
  auto labels = [&] {
    std::multiset<std::string> out;
    for (const auto& r : k.monitor->rows())
      if (r[kRemotePort] == std::to_string(port)) out.insert(r[kProcess]);
    return out;
  };
  auto label = [](const char* name, pid_t pid) { return std::string(name) + "(" + std::to_string(pid) + ")"; };
  k.monitor->refresh();
  EXPECT_EQ(labels(), (std::multiset<std::string>{label("twstaleparent", ending.parent),
                                                   label("twstaleparent", staying.parent)}));
  ASSERT_TRUE(ending.hand_over(true));
  ASSERT_TRUE(staying.hand_over(false));
  k.clock.advance_ms(500);
  k.monitor->refresh();
  k.clock.advance_ms(500);
  k.monitor->refresh();
  EXPECT_EQ(labels(), (std::multiset<std::string>{label("twstalechild", ending.child),
                                                   label("twstalechild", staying.child)}));
}

// More connections than the list shows: auto-block closes every matching
// one, and the counter counts them all.
TEST(SessionsOnTheKernel, AutoBlockClosesMatchingConnectionsBeyondTheListsRows) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (namespaces, SOCK_DESTROY)";
  constexpr int kConnections = 1100;
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
  struct Restore {
    rlimit limit;
    ~Restore() { setrlimit(RLIMIT_NOFILE, &limit); }
  } restore{old};
  rlimit more = old;
  more.rlim_cur = std::max<rlim_t>(old.rlim_cur, 3 * kConnections);
  more.rlim_max = std::max(more.rlim_max, more.rlim_cur);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &more), 0) << strerror(errno);

  test::NetNs ns("many");
  ASSERT_TRUE(ns.ok()) << ns.error();
  Fd listener;
  const std::uint16_t port = listen_on_loopback(ns, listener, 64);
  ASSERT_NE(port, 0);
  std::vector<Fd> fds(2 * kConnections);
  bool connected = false;
  ASSERT_TRUE(ns.run([&] {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    for (int i = 0; i < kConnections; ++i) {
      Fd& c = fds[2 * i];
      c.fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (connect(c.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return;
      fds[2 * i + 1].fd = accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fds[2 * i + 1].fd < 0) return;
    }
    connected = true;
  }));
  ASSERT_TRUE(connected) << strerror(errno);

  KernelMonitor k(ns);
  ASSERT_TRUE(k.ok);
  k.monitor->load_rules("IP2=127.0.0.1,PORT2=" + std::to_string(port) + ",NOLOG=1\n");
  k.monitor->start();
  ASSERT_TRUE(k.monitor->block_start());
  k.monitor->refresh();
  EXPECT_EQ(k.monitor->rows().size(), kMaxDisplayedRows);
  EXPECT_EQ(k.monitor->connections(), 2 * kConnections);
  EXPECT_EQ(k.monitor->blocked_count(), kConnections);
  auto tcp = k.sockets->read(SocketProtocol::Tcp);
  ASSERT_TRUE(tcp.ok());
  const auto open = std::count_if(tcp->begin(), tcp->end(), [&](const platform::SocketRow& r) {
    return r.remote_port == port && r.state == platform::mib::kEstablished;
  });
  EXPECT_EQ(open, 0) << "connections the guard left open";
}

TEST(SessionsOnTheKernel, ProcWalkFindsOwnersAndRescansOnlyOnAMissAtMostOncePerInterval) {
  const fs::path root = fs::temp_directory_path() / ("tw-proc-" + std::to_string(getpid()));
  fs::remove_all(root);
  struct Cleanup {
    fs::path p;
    ~Cleanup() { fs::remove_all(p); }
  } cleanup{root};
  auto add_process = [&](int pid, const char* comm, std::vector<std::string> links) {
    const fs::path dir = root / std::to_string(pid);
    fs::create_directories(dir / "fd");
    std::ofstream(dir / "comm") << comm << "\n";
    for (std::size_t i = 0; i < links.size(); ++i) fs::create_symlink(links[i], dir / "fd" / std::to_string(i));
  };
  add_process(100, "nginx", {"socket:[5001]", "/dev/null", "socket:[5002]"});
  add_process(200, "curl", {"socket:[6001]", "pipe:[77]", "socket:[x]"});
  fs::create_directories(root / "self");

  platform::ProcProcessTable never_again(root.string(), std::chrono::hours(1));
  EXPECT_EQ(never_again.owner_of_socket(5002), 100);
  EXPECT_EQ(never_again.owner_of_socket(6001), 200);
  EXPECT_EQ(never_again.scans(), 1);  // hits need no walk
  EXPECT_EQ(never_again.owner_of_socket(0), -1);
  add_process(300, "late", {"socket:[7001]"});
  EXPECT_EQ(never_again.owner_of_socket(7001), -1);  // a miss within the interval waits
  EXPECT_EQ(never_again.scans(), 1);

  platform::ProcProcessTable eager(root.string(), std::chrono::milliseconds(0));
  EXPECT_EQ(eager.owner_of_socket(7001), 300);
  EXPECT_EQ(eager.owner_of_socket(9999), -1);
  EXPECT_EQ(eager.scans(), 2);

  auto list = eager.list_processes();
  std::sort(list.begin(), list.end(), [](auto& a, auto& b) { return a.pid < b.pid; });
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[1].name, "curl");

  // Kept owners are checked without a walk while they hold on; one that
  // handed its socket on is replaced at once, whatever the interval says:
  // 6001 went to a child, and 5002's descriptor number now names another
  // file (the socket moved to another number).
  const int walks = never_again.scans();
  EXPECT_EQ(never_again.verify_owners(std::vector<std::uint64_t>{5001, 5002, 6001}), 0);
  EXPECT_EQ(never_again.scans(), walks);
  fs::remove(root / "200" / "fd" / "0");
  add_process(201, "curl-child", {"socket:[6001]"});
  fs::remove(root / "100" / "fd" / "2");
  fs::create_symlink("/dev/null", root / "100" / "fd" / "2");
  fs::create_symlink("socket:[5002]", root / "100" / "fd" / "3");
  EXPECT_EQ(never_again.verify_owners(std::vector<std::uint64_t>{5001, 5002, 6001}), 2);
  EXPECT_EQ(never_again.scans(), walks + 1);
  EXPECT_EQ(never_again.owner_of_socket(6001), 201);
  EXPECT_EQ(never_again.owner_of_socket(5002), 100);
  fs::remove_all(root / "201");  // gone altogether
  EXPECT_EQ(never_again.verify_owners(std::vector<std::uint64_t>{6001}), 1);
  EXPECT_EQ(never_again.owner_of_socket(6001), -1);

  EXPECT_EQ(platform::socket_inode_of_link("socket:[123]"), 123u);
  EXPECT_EQ(platform::socket_inode_of_link("socket:[12a]"), 0u);
  EXPECT_EQ(platform::socket_inode_of_link("socket:[]"), 0u);
}

// Host names as the program resolves them, from the hosts file of a namespace
// (/etc/netns/NAME/hosts, as `ip netns exec` would show it), in a child with
// its own mount and network namespaces: the hosts file and an nsswitch.conf
// naming only "files" are bound over /etc, and the child's network has only a
// loopback that is down, so no lookup can reach any DNS server.
TEST(SessionsOnTheKernel, HostNamesComeFromTheNamespaceHostsFile) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (mount and network namespaces)";
  test::NetNs ns("names");
  ASSERT_TRUE(ns.ok()) << ns.error();
  const fs::path dir = fs::path("/etc/netns") / ns.name();
  fs::create_directories(dir);
  struct Cleanup {
    fs::path p;
    ~Cleanup() { fs::remove_all(p); }
  } cleanup{dir};
  std::ofstream(dir / "hosts") << "127.0.0.1 localhost\n10.231.0.2 peer.example.lg.jp\n192.168.5.5 nas.lan\n";
  std::ofstream(dir / "nsswitch.conf") << "hosts: files\n";

  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    close(out[0]);
    auto bind_file = [](const fs::path& from, const char* to) {
      return mount(from.c_str(), to, nullptr, MS_BIND, nullptr) == 0;
    };
    if (unshare(CLONE_NEWNS | CLONE_NEWNET) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        !bind_file(dir / "hosts", "/etc/hosts") || !bind_file(dir / "nsswitch.conf", "/etc/nsswitch.conf"))
      _exit(2);
    platform::SystemReverseResolver resolver;
    std::string text;
    {
      platform::ThreadLookupWorkers workers;
      shared::HostNameCache cache(resolver, workers);
      text += cache.host_name_for("10.231.0.2") + "|";  // pending at first
      for (int i = 0; i < 500 && cache.busy_slots() != 0; ++i) usleep(10'000);
      if (cache.busy_slots() != 0) _exit(4);  // the lookups did not end within 5 s
      text += cache.host_name_for("10.231.0.2") + "|";
      text += cache.resolve_now("192.0.2.1") + "|";     // no name anywhere: the address
      text += cache.resolve_now("192.168.5.5") + "|";
    }
    text += resolver.udp_service_name(53).value_or("?");
    if (write(out[1], text.data(), text.size()) < 0) _exit(3);
    _exit(0);
  }
  close(out[1]);
  std::string text;
  char buf[512];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  EXPECT_EQ(text, "(10.231.0.2)|peer.example.lg.jp|192.0.2.1|nas.lan|domain");
}

}  // namespace
}  // namespace tw::sessions

namespace tw::sessions {
namespace {

// A child process that connects to [ADDRESS]:PORT over IPv6 and waits to be
// killed. Killed and reaped on destruction.
struct ConnectedChild6 {
  pid_t pid = -1;
  ~ConnectedChild6() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  void start(const in6_addr& address, std::uint16_t port) {
    pid = fork();
    if (pid != 0) return;
    prctl(PR_SET_NAME, "twsess6child", 0, 0, 0);
    const int s = socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = address;
    a.sin6_port = htons(port);
    if (s < 0 || connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) _exit(1);
    for (;;) pause();
  }
};

// Over IPv6 between two namespaces (addresses without duplicate address
// detection): the connection is listed with its process, an IPv6 rule
// address resets it; a dual-stack server's IPv4 client reads as IPv4; and
// with IPv6 off neither IPv6 connection is listed.
TEST(SessionsOnTheKernel, Ipv6ConnectionIsListedWithItsProcessAndResetByAnIpv6Rule) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (namespaces, other processes' fds, SOCK_DESTROY)";
  test::VethLink link("sess6", true);
  ASSERT_TRUE(link.ok()) << link.error();
  in6_addr server_addr{};
  ASSERT_EQ(inet_pton(AF_INET6, link.right_addr6().c_str(), &server_addr), 1);

  // A dual-stack listener: IPv6 clients, and IPv4 ones as mapped addresses.
  Fd listener, server, server4, client4;
  std::uint16_t port = 0;
  ASSERT_TRUE(link.right().run([&] {
    listener.fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int off = 0;
    setsockopt(listener.fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    socklen_t len = sizeof a;
    if (bind(listener.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(listener.fd, 4) == 0 &&
        getsockname(listener.fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      port = ntohs(a.sin6_port);
  }));
  ASSERT_NE(port, 0);

  ConnectedChild6 child;
  std::unique_ptr<platform::SockDiagSocketTable> sockets;
  std::unique_ptr<platform::SockDestroyKiller> killer;
  ASSERT_TRUE(link.left().run([&] {
    child.start(server_addr, port);
    sockets = std::make_unique<platform::SockDiagSocketTable>();
    killer = std::make_unique<platform::SockDestroyKiller>();
  }));
  ASSERT_GT(child.pid, 0);
  pollfd pl{listener.fd, POLLIN, 0};
  ASSERT_EQ(poll(&pl, 1, 5000), 1) << "the child did not connect";
  server.fd = accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
  ASSERT_GE(server.fd, 0);
  // An IPv4 client of the same server, inside the server's namespace.
  ASSERT_TRUE(link.right().run([&] {
    client4.fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (connect(client4.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) client4.fd = -1;
  }));
  ASSERT_GE(client4.fd, 0);
  server4.fd = accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
  ASSERT_GE(server4.fd, 0);

  // One walk of the kernel's TCP tables for both families gives what the two
  // family dumps give, IPv4 first, each family in the kernel's order.
  ASSERT_TRUE(link.right().run([&] {
    platform::SockDiagSocketTable table;
    const auto both = table.read_tcp_one_walk();
    const auto v4 = table.read(platform::SocketProtocol::Tcp);
    const auto v6 = table.read_ipv6(platform::SocketProtocol::Tcp);
    ASSERT_TRUE(both && v4 && v6) << (both ? "" : both.error().detail);
    const auto ids = [](const std::vector<platform::SocketRow>& rows) {
      std::vector<std::uint64_t> out;
      out.reserve(rows.size());
      for (const auto& r : rows) out.push_back(r.cookie);
      return out;
    };
    std::vector<std::uint64_t> expected = ids(*v4);
    const std::vector<std::uint64_t> ids6 = ids(*v6);
    expected.insert(expected.end(), ids6.begin(), ids6.end());
    EXPECT_EQ(ids(*both), expected);
    EXPECT_FALSE(v4->empty());  // the IPv4 client
    EXPECT_GE(v6->size(), 3u);  // listener, IPv6 server side, mapped server side
  }));

  platform::ProcProcessTable processes;
  platform::FakeClock clock;
  platform::FakeFileStore files;
  platform::FakeReverseResolver resolver;
  platform::FakeLookupWorkers workers;
  shared::HostNameCache hosts(resolver, workers);
  shared::FlowKeyTable keys;
  ProcessNameCache names(processes);
  SessionSettings settings;
  settings.ask_dns = false;
  auto make = [&](bool ipv6, platform::SocketTable& table, platform::ConnectionKiller& k) {
    SessionMonitorConfig config;
    config.data_folder = "/data";
    config.ipv6 = ipv6;
    return std::make_unique<SessionMonitor>(SessionMonitorDeps{table, processes, k, clock, files, hosts, keys, names},
                                            config, settings, AutoBlockSettings{});
  };
  const std::string port_text = std::to_string(port);

  // Off: the IPv6 connection is not there.
  auto off = make(false, *sockets, *killer);
  off->start();
  off->refresh();
  for (const auto& r : off->rows()) EXPECT_NE(r[kRemoteAddress], link.right_addr6());

  auto monitor = make(true, *sockets, *killer);
  monitor->start();
  monitor->refresh();
  const RowTexts* row = nullptr;
  for (const auto& r : monitor->rows())
    if (r[kRemoteAddress] == link.right_addr6() && r[kRemotePort] == port_text) row = &r;
  ASSERT_NE(row, nullptr);
  EXPECT_EQ((*row)[kLocalAddress], link.left_addr6());
  EXPECT_EQ((*row)[kStatus], "Connecting");
  EXPECT_EQ((*row)[kProcess], "twsess6child(" + std::to_string(child.pid) + ")");
  EXPECT_EQ(monitor->ipv6_connections(), 1);
  EXPECT_TRUE(keys.owner(shared::tcp_flow_key(link.left_addr6(), static_cast<unsigned>(std::stoul((*row)[kLocalPort])),
                                              link.right_addr6(), port)) == child.pid);

  // The dual-stack server's IPv4 connection, seen in the server's namespace:
  // both ends read as 127.0.0.1.
  std::unique_ptr<platform::SockDiagSocketTable> right_sockets;
  ASSERT_TRUE(link.right().run([&] { right_sockets = std::make_unique<platform::SockDiagSocketTable>(); }));
  auto right = make(true, *right_sockets, *killer);
  right->start();
  right->refresh();
  int mapped = 0;
  for (const auto& r : right->rows())
    if (r[kLocalAddress] == "127.0.0.1" && r[kLocalPort] == port_text && r[kRemoteAddress] == "127.0.0.1") ++mapped;
  EXPECT_EQ(mapped, 1);

  // An IPv6 prefix in IP2 resets the connection; the peer sees the reset.
  monitor->load_rules("IP2=fd00:231::/64,PORT2=" + port_text + "\n");
  ASSERT_TRUE(monitor->block_start());
  monitor->refresh();
  EXPECT_EQ(monitor->blocked_count(), 1);
  pollfd ps{server.fd, POLLIN, 0};
  ASSERT_EQ(poll(&ps, 1, 5000), 1);
  char b;
  EXPECT_EQ(recv(server.fd, &b, 1, 0), -1);
  EXPECT_EQ(errno, ECONNRESET);
  ASSERT_EQ(files.files.size(), 1u);
  EXPECT_NE(files.files.begin()->second.find("[" + link.left_addr6() + "]:"), std::string::npos)
      << files.files.begin()->second;
  EXPECT_NE(files.files.begin()->second.find("[" + link.right_addr6() + "]:" + port_text), std::string::npos);
  // The IPv4 connection of the same server is left alone.
  pollfd p4{server4.fd, POLLIN, 0};
  EXPECT_EQ(poll(&p4, 1, 200), 0);
  workers.run_all();
}

// A TCP dump that nothing changed since stands for the next one, and every
// change the list shows still comes through at the next read: a listener, a
// connection the kernel set up before its program accepts it (its inode comes
// with accept()), and a connection that closes.
TEST(SessionsOnTheKernel, TcpDumpIsReusedOnlyWhileTheTableIsUnchanged) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (namespaces)";
  test::NetNs ns("reuse");
  ASSERT_TRUE(ns.ok()) << ns.error();
  ASSERT_TRUE(ns.run([&] {
    platform::SockDiagSocketTable table;
    const auto read = [&] {
      auto rows = table.read_tcp_one_walk();
      EXPECT_TRUE(rows.ok());
      return rows ? *rows : std::vector<platform::SocketRow>{};
    };
    const auto row_of = [](const std::vector<platform::SocketRow>& rows, std::uint16_t local, std::uint16_t remote) {
      const auto it = std::find_if(rows.begin(), rows.end(), [&](const platform::SocketRow& r) {
        return r.local_port == local && r.remote_port == remote;
      });
      return it == rows.end() ? std::optional<platform::SocketRow>() : *it;
    };
    EXPECT_TRUE(read().empty());
    EXPECT_TRUE(read().empty());
    EXPECT_EQ(table.tcp_walks(), 1);

    Fd listener;
    listener.fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(listener.fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(listener.fd, 4), 0);
    ASSERT_EQ(getsockname(listener.fd, reinterpret_cast<sockaddr*>(&a), &len), 0);
    const std::uint16_t port = ntohs(a.sin_port);
    EXPECT_TRUE(row_of(read(), port, 0));

    Fd client;
    client.fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(connect(client.fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    sockaddr_in c{};
    len = sizeof c;
    ASSERT_EQ(getsockname(client.fd, reinterpret_cast<sockaddr*>(&c), &len), 0);
    const std::uint16_t client_port = ntohs(c.sin_port);
    auto rows = read();
    ASSERT_TRUE(row_of(rows, client_port, port));
    const auto waiting = row_of(rows, port, client_port);
    ASSERT_TRUE(waiting);
    EXPECT_EQ(waiting->inode, 0u);  // not accepted yet
    const int walks = table.tcp_walks();
    read();
    EXPECT_EQ(table.tcp_walks(), walks + 1);  // no counter moves with accept(): read again

    Fd server;
    server.fd = accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(server.fd, 0);
    struct stat st {};
    ASSERT_EQ(fstat(server.fd, &st), 0);
    rows = read();
    const auto accepted = row_of(rows, port, client_port);
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted->inode, st.st_ino);
    EXPECT_EQ(read().size(), rows.size());
    EXPECT_EQ(table.tcp_walks(), walks + 2);  // nothing changed

    close(client.fd);
    client.fd = -1;
    const auto closing = row_of(read(), port, client_port);
    ASSERT_TRUE(closing);
    EXPECT_EQ(closing->state, platform::mib::kCloseWait);
  }));
}

// UDP sockets of each family from their bind to their close; a family with
// none in the namespace is answered from its count without a dump.
TEST(SessionsOnTheKernel, UdpSocketsAreListedFromTheirBindToTheirClose) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (namespaces)";
  test::NetNs ns("udp");
  ASSERT_TRUE(ns.ok()) << ns.error();
  ASSERT_TRUE(ns.run([&] {
    platform::SockDiagSocketTable table;
    const auto ports = [&](bool ipv6) {
      auto rows = ipv6 ? table.read_ipv6(platform::SocketProtocol::Udp) : table.read(platform::SocketProtocol::Udp);
      EXPECT_TRUE(rows.ok());
      std::set<std::pair<std::uint16_t, std::uint16_t>> out;
      if (rows)
        for (const auto& r : *rows) {
          EXPECT_EQ(r.family, ipv6 ? net::kFamilyIPv6 : net::kFamilyIPv4);
          out.insert({r.local_port, r.remote_port});
        }
      return out;
    };
    EXPECT_TRUE(ports(false).empty());
    EXPECT_TRUE(ports(true).empty());

    Fd v4, v6;
    v4.fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    v6.fd = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(v4.fd, 0);
    ASSERT_GE(v6.fd, 0);
    EXPECT_TRUE(ports(false).empty());  // not bound yet: in no table
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(v4.fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(getsockname(v4.fd, reinterpret_cast<sockaddr*>(&a), &len), 0);
    const std::uint16_t port4 = ntohs(a.sin_port);
    sockaddr_in6 b{};
    b.sin6_family = AF_INET6;  // any address: the socket needs no working IPv6 to be bound
    len = sizeof b;
    ASSERT_EQ(bind(v6.fd, reinterpret_cast<sockaddr*>(&b), sizeof b), 0);
    ASSERT_EQ(getsockname(v6.fd, reinterpret_cast<sockaddr*>(&b), &len), 0);
    const std::uint16_t port6 = ntohs(b.sin6_port);
    using Ports = std::set<std::pair<std::uint16_t, std::uint16_t>>;
    EXPECT_EQ(ports(false), (Ports{{port4, 0}}));
    EXPECT_EQ(ports(true), (Ports{{port6, 0}}));

    // connect() moves no count: the IPv4 family is walked all the same.
    sockaddr_in peer = a;
    peer.sin_port = htons(9);
    ASSERT_EQ(connect(v4.fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer), 0);
    EXPECT_EQ(ports(false), (Ports{{port4, 9}}));

    close(v6.fd);
    v6.fd = -1;
    EXPECT_TRUE(ports(true).empty());
    EXPECT_EQ(ports(false), (Ports{{port4, 9}}));
  }));
}

}  // namespace
}  // namespace tw::sessions
