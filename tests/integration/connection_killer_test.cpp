// Closing real TCP connections: in-process as root, and through tarnix-helper
// for a member of the group tarnwatch, with and without the capability it is
// installed with; never a listening server, whatever a member asks; and the
// helper's life cycle (restart, timeouts, ending with its parent).
//
// Every connection runs over the loopback of a namespace the test creates.
// The helper under test is a copy in a temporary folder, given its capability
// there with setcap, so the build tree is never changed.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "helper_users.h"
#include "netns.h"
#include "platform/linux/helper_client.h"
#include "platform/privileged/sock_destroy.h"

#ifndef SO_COOKIE
#define SO_COOKIE 57
#endif

namespace tw::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::NetNs;


// One established connection over 127.0.0.1; the sockets are closed with the
// object. `id` names the client's socket as a socket-table dump would.
struct Connection {
  int client = -1, server = -1;
  SocketId id;
  std::string error;

  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() {
    if (client >= 0) ::close(client);
    if (server >= 0) ::close(server);
  }

  // Opens it in the calling thread's namespace.
  bool open() {
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bool ok = listener >= 0 && bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
              listen(listener, 1) == 0 && getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) == 0;
    if (ok) client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ok = ok && client >= 0 && connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (ok) server = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    sockaddr_in local{};
    len = sizeof local;
    socklen_t cookie_len = sizeof id.cookie;
    ok = ok && server >= 0 && getsockname(client, reinterpret_cast<sockaddr*>(&local), &len) == 0 &&
         getsockopt(client, SOL_SOCKET, SO_COOKIE, &id.cookie, &cookie_len) == 0;
    if (!ok) error = std::string("opening a loopback connection: ") + std::strerror(errno);
    if (listener >= 0) ::close(listener);
    id.local_address = local.sin_addr.s_addr;
    id.local_port = ntohs(local.sin_port);
    id.remote_address = a.sin_addr.s_addr;
    id.remote_port = ntohs(a.sin_port);
    return ok;
  }

  // The command-line arguments of tw_close_connection for it.
  std::string args() const {
    return "127.0.0.1 " + std::to_string(id.local_port) + " 127.0.0.1 " + std::to_string(id.remote_port) + " " +
           std::to_string(id.cookie);
  }
};

// The error a read of `fd` ends with: 0 while the connection is open and
// quiet, otherwise errno (ECONNABORTED on the side that was closed,
// ECONNRESET on its peer). Waits up to 5 s for the peer's reset to arrive.
int read_error(int fd, std::chrono::milliseconds wait = 5000ms) {
  pollfd p{fd, POLLIN, 0};
  poll(&p, 1, static_cast<int>(wait.count()));
  char c;
  const ssize_t n = recv(fd, &c, 1, MSG_DONTWAIT);
  if (n < 0) return errno == EAGAIN ? 0 : errno;
  return n == 0 ? EPIPE : 0;
}

bool is_open(const Connection& c) { return read_error(c.client, 0ms) == 0 && read_error(c.server, 0ms) == 0; }

// A temporary folder that the unprivileged user may enter. Removed with
// everything in it.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/tw-helper-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return;
    path_ = tmpl;
    fs::permissions(path_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

  // An executable shell script standing in for the helper.
  std::string script(const std::string& name, const std::string& body) const {
    const std::string file = path_ + "/" + name;
    std::ofstream(file) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(file, fs::perms::owner_all);
    return file;
  }

 private:
  std::string path_;
};

class ConnectionKillerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::is_root()) GTEST_SKIP() << "needs root (namespaces, setcap)";
    ASSERT_TRUE(ns_.ok()) << ns_.error();
  }
  // Opens a connection inside the namespace.
  void open(Connection& c) {
    bool ok = false;
    ASSERT_TRUE(ns_.run([&] { ok = c.open(); }));
    ASSERT_TRUE(ok) << c.error;
  }

  NetNs ns_{"kill"};
  TempDir dir_;
};

TEST_F(ConnectionKillerTest, RootClosesInProcessAndNeverTouchesAConnectionOfAnotherCookie) {
  Connection c, other;
  open(c);
  open(other);
  std::unique_ptr<SockDestroyKiller> killer;
  ASSERT_TRUE(ns_.run([&] { killer = std::make_unique<SockDestroyKiller>(); }));
  ASSERT_TRUE(killer->is_supported());

  const Status s = killer->close(c.id);
  ASSERT_TRUE(s.ok()) << s.error().message();
  EXPECT_EQ(read_error(c.client), ECONNABORTED);
  EXPECT_EQ(read_error(c.server), ECONNRESET);  // the peer was told

  // Already gone: nothing to do, and that is success.
  EXPECT_TRUE(killer->close(c.id).ok());
  EXPECT_FALSE(*killer->close_connection(c.id));

  // The addresses and ports of `other` with a cookie that is not its own
  // name a connection that has ended: success, and `other` lives on.
  SocketId stale = other.id;
  stale.cookie ^= 1;
  EXPECT_TRUE(killer->close(stale).ok());
  EXPECT_TRUE(is_open(other));
}

// A member of the group tarnwatch, and a helper installed for the group.
class GroupMemberTest : public ConnectionKillerTest {
 protected:
  void SetUp() override {
    ConnectionKillerTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(member_.ok()) << member_.error();
  }
  // tw_close_connection run by the member in the namespace.
  test::CommandResult close_as_member(const std::string& helper, const std::string& args) {
    return ns_.exec(member_.as() + TW_CLOSE_CONNECTION + " " + helper + " " + args + " 2>&1");
  }
  test::HelperGroup group_;
  test::TestUser member_{true};
};

TEST_F(GroupMemberTest, MemberClosesAConnectionThroughTheHelper) {
  const std::string helper = test::install_helper_copy(dir_.path(), "tarnix-helper", "cap_net_admin,cap_net_raw");
  if (helper.empty()) GTEST_SKIP() << dir_.path() << " cannot hold file capabilities";
  Connection c;
  open(c);

  const auto r = close_as_member(helper, c.args());
  EXPECT_EQ(r.output, "helper\nclosed\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(read_error(c.client), ECONNABORTED);
  EXPECT_EQ(read_error(c.server), ECONNRESET);
}

// The kernel's lookup behind SOCK_DESTROY falls back to a listener when no
// connection matches: a made-up peer without a cookie named 0.0.0.0:2222,
// and a dual-stack [::]:2224 too. The helper looks the socket up itself and
// closes only the connection asked for.
TEST_F(GroupMemberTest, ListeningServersAreNeverClosedEstablishedConnectionsAre) {
  const std::string helper = test::install_helper_copy(dir_.path(), "tarnix-helper", "cap_net_admin");
  if (helper.empty()) GTEST_SKIP() << dir_.path() << " cannot hold file capabilities";
  int v4 = -1, v6 = -1;
  ASSERT_TRUE(ns_.run([&] {
    v4 = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(2222);
    if (bind(v4, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(v4, 16) != 0) v4 = -1;
    v6 = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int off = 0;
    setsockopt(v6, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    sockaddr_in6 b{};
    b.sin6_family = AF_INET6;
    b.sin6_port = htons(2224);
    if (bind(v6, reinterpret_cast<sockaddr*>(&b), sizeof b) != 0 || listen(v6, 16) != 0) v6 = -1;
  }));
  ASSERT_GE(v4, 0);
  ASSERT_GE(v6, 0);
  // A listener is alive while a new connection to it comes up.
  auto serves = [&](int port) {
    bool up = false;
    ns_.run([&] {
      const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      a.sin_port = htons(static_cast<std::uint16_t>(port));
      up = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
      ::close(fd);
    });
    return up;
  };
  ASSERT_TRUE(serves(2222));
  ASSERT_TRUE(serves(2224));

  for (const std::string port : {"2222", "2224"}) {
    // A made-up peer, no cookie: no such connection, nothing closed.
    for (const std::string local : {"127.0.0.1", "0.0.0.0"}) {
      const auto r = close_as_member(helper, local + " " + port + " 10.9.9.9 5555");
      EXPECT_EQ(r.output, "helper\nno such connection\n") << local << ":" << port;
    }
    // The listener's own name is no connection at all.
    const auto r = close_as_member(helper, "0.0.0.0 " + port + " 0.0.0.0 0");
    EXPECT_EQ(r.output, "helper\nThe privileged helper refused the request. (0.0.0.0:" + port +
                            " -> 0.0.0.0:0 is not a connection)\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(serves(std::stoi(port))) << port;
  }

  // An established connection to each server (its accepted end, named
  // without a cookie) is closed, and the servers go on serving.
  for (int listener : {v4, v6}) {
    int client = -1;
    std::uint16_t client_port = 0, server_port = listener == v4 ? 2222 : 2224;
    ASSERT_TRUE(ns_.run([&] {
      client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      a.sin_port = htons(server_port);
      socklen_t len = sizeof a;
      if (connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
          getsockname(client, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        client_port = ntohs(a.sin_port);
    }));
    ASSERT_NE(client_port, 0);
    // The v4 server's end, or the client's end of the dual-stack server's
    // connection (the helper closes IPv4 sockets; the server's end there is
    // an IPv6 socket).
    const std::string args = listener == v4 ? "127.0.0.1 2222 127.0.0.1 " + std::to_string(client_port)
                                            : "127.0.0.1 " + std::to_string(client_port) + " 127.0.0.1 2224";
    const auto r = close_as_member(helper, args);
    EXPECT_EQ(r.output, "helper\nclosed\n") << args;
    const int e = read_error(client);
    EXPECT_TRUE(e == ECONNRESET || e == ECONNABORTED) << std::strerror(e);
    ::close(client);
    EXPECT_TRUE(serves(server_port));
  }

  // As root in-process the same rule holds.
  std::unique_ptr<SockDestroyKiller> killer;
  ASSERT_TRUE(ns_.run([&] { killer = std::make_unique<SockDestroyKiller>(); }));
  SocketId made_up;
  made_up.local_port = 2224;
  made_up.remote_address = htonl(0x0A090909);
  made_up.remote_port = 5555;
  auto closed = killer->close_connection(made_up);
  ASSERT_TRUE(closed.ok()) << closed.error().message();
  EXPECT_FALSE(*closed);
  EXPECT_TRUE(serves(2224));
  ::close(v4);
  ::close(v6);
}

TEST_F(GroupMemberTest, HelperWithoutTheCapabilityGivesTheAdministratorMessageWithItsFix) {
  const std::string helper = test::install_helper_copy(dir_.path(), "tarnix-helper", "");
  ASSERT_FALSE(helper.empty());
  Connection c;
  open(c);

  const auto r = close_as_member(helper, c.args());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output.rfind("helper\nPlease run with administrator privileges.\n"
                           "tarnix-helper has no capabilities: sudo make install (",
                           0),
            0u)
      << r.output;
  EXPECT_NE(r.output.find("lacks CAP_NET_ADMIN"), std::string::npos) << r.output;
  EXPECT_TRUE(is_open(c));
}

TEST_F(ConnectionKillerTest, MissingHelperGivesTheAdministratorMessage) {
  HelperClient client({dir_.path() + "/no-such-helper"});
  HelperConnectionKiller killer(client);
  EXPECT_FALSE(killer.is_supported());
  const Status s = killer.close(SocketId{});
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().headline,
            std::string(kNeedsAdministratorHeadline) + "\ntarnix-helper is not installed: sudo make install");
  EXPECT_EQ(s.error().errno_value, ENOENT);
  EXPECT_NE(s.error().detail.find("missing"), std::string::npos) << s.error().detail;
}

TEST_F(ConnectionKillerTest, HelperThatDiedIsStartedAgain) {
  Connection first, second;
  open(first);
  open(second);
  // The helper joins the namespace of the thread that starts it, and ends
  // with that thread: start and use it on one.
  ASSERT_TRUE(ns_.run([&] {
    HelperClient client({TW_TARNIX_HELPER});
    HelperConnectionKiller killer(client);
    ASSERT_TRUE(killer.is_supported());
    const pid_t before = client.pid();
    ASSERT_GT(before, 0);
    ASSERT_EQ(kill(before, SIGKILL), 0);

    const Status s = killer.close(second.id);
    ASSERT_TRUE(s.ok()) << s.error().message();
    EXPECT_NE(client.pid(), before);
  }));
  EXPECT_EQ(read_error(second.client), ECONNABORTED);
  EXPECT_TRUE(is_open(first));
}

TEST_F(ConnectionKillerTest, HelperThatDoesNotAnswerProperlyIsRefusedAndStopped) {
  {
    // Never answers: given up after the reply timeout, and killed.
    HelperClient client({dir_.script("silent", "exec sleep 60"), 300ms});
    auto caps = client.capabilities();
    ASSERT_FALSE(caps.ok());
    EXPECT_EQ(caps.error().headline, "The privileged helper did not answer.");
    EXPECT_EQ(caps.error().errno_value, ETIMEDOUT);
    EXPECT_EQ(client.pid(), 0);
  }
  {
    // Answers with something that is not a frame.
    HelperClient client({dir_.script("garbled", "printf 'GARBAGE-GARBAGE-GARBAGE' >&0; exec sleep 60")});
    auto caps = client.capabilities();
    ASSERT_FALSE(caps.ok());
    EXPECT_EQ(caps.error().message(), "Malformed helper message. (header: wrong magic)");
    EXPECT_EQ(client.pid(), 0);
  }
  {
    // Ends at once.
    HelperClient client({dir_.script("quitter", "exit 0")});
    auto caps = client.capabilities();
    ASSERT_FALSE(caps.ok());
    EXPECT_EQ(caps.error().headline, "The privileged helper ended unexpectedly.");
  }
}

// True once `pid` has ended (gone, or a zombie waiting for init).
bool ended(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  const auto paren = line.rfind(')');
  return paren != std::string::npos && line.size() > paren + 2 && line[paren + 2] == 'Z';
}

TEST_F(ConnectionKillerTest, HelperEndsWithItsParent) {
  int out[2];
  ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
  const pid_t parent = fork();
  ASSERT_GE(parent, 0);
  if (parent == 0) {
    dup2(out[1], 1);
    execl(TW_CLOSE_CONNECTION, TW_CLOSE_CONNECTION, TW_TARNIX_HELPER, "--start-and-wait", nullptr);
    _exit(127);
  }
  ::close(out[1]);
  std::string line;
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
  ::close(out[0]);
  const pid_t helper = static_cast<pid_t>(std::atoi(line.c_str()));
  ASSERT_GT(helper, 0) << line;
  EXPECT_FALSE(ended(helper));

  kill(parent, SIGKILL);
  waitpid(parent, nullptr, 0);
  const auto limit = std::chrono::steady_clock::now() + 10s;
  while (!ended(helper) && std::chrono::steady_clock::now() < limit) std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(ended(helper));
}

}  // namespace
}  // namespace tw::platform
