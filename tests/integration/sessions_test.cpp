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
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>

#include "netns.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_file_store.h"
#include "platform/fake/fake_reverse_resolver.h"
#include "platform/linux/proc_sockets.h"
#include "platform/linux/resolver.h"
#include "platform/linux/sock_diag.h"
#include "platform/privileged/sock_destroy.h"
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
  void start(std::uint32_t address_be, std::uint16_t port) {
    pid = fork();
    if (pid != 0) return;
    // Only async-signal-safe calls from here on.
    prctl(PR_SET_NAME, "twsesschild", 0, 0, 0);
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
  EXPECT_TRUE(keys.owner(shared::tcp_flow_key(link.left_addr(), std::stoul((*row)[kLocalPort]), link.right_addr(),
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
