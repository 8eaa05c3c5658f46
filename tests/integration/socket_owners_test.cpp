// Owners of other users' sockets. The /proc walk's cache rules with an owner
// source, seen by an unprivileged process that meets a /proc folder it may
// not look into; and end to end: a connection held by a process of another
// user (nobody) is named for a third, unprivileged user through a copy of
// tarnix-helper given its capabilities with setcap, and stays unnamed
// without the helper or without the capabilities.
#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "netns.h"
#include "platform/linux/proc_sockets.h"

namespace tw::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr uid_t kNobody = 65534;

// In a child: from root to nobody, every capability gone.
void become_nobody() {
  if (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kNobody) != 0 ||
      setresuid(kNobody, kNobody, kNobody) != 0)
    _exit(3);
}

// Runs `fn` in a child process as the user nobody and returns what it
// returned; "child failed" when it did not finish.
std::string as_nobody(const std::function<std::string()>& fn) {
  int out[2];
  if (pipe(out) != 0) return "pipe failed";
  const pid_t pid = fork();
  if (pid == 0) {
    close(out[0]);
    become_nobody();
    const std::string text = fn();
    if (write(out[1], text.data(), text.size()) != static_cast<ssize_t>(text.size())) _exit(4);
    _exit(0);
  }
  close(out[1]);
  std::string text;
  char buf[512];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
  close(out[0]);
  int status = -1;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? text : "child failed";
}

// Answers from a table; notes each request as "{inode,inode}", sorted.
class TableSource : public SocketOwnerSource {
 public:
  Result<std::vector<SocketOwnerEntry>> owners_of(std::span<const std::uint64_t> inodes) override {
    std::vector<std::uint64_t> sorted(inodes.begin(), inodes.end());
    std::sort(sorted.begin(), sorted.end());
    std::vector<SocketOwnerEntry> out;
    for (auto i : sorted) {
      asked += (i == sorted.front() ? "{" : ",") + std::to_string(i);
      if (auto it = table.find(i); it != table.end()) out.push_back(it->second);
    }
    asked += "}";
    if (fail) return Error{"no helper", "", 2};
    return out;
  }
  std::map<std::uint64_t, SocketOwnerEntry> table;
  std::string asked;
  bool fail = false;
};

class FakeProc {
 public:
  FakeProc() : root_(fs::temp_directory_path() / ("tw-owners-" + std::to_string(getpid()))) {
    fs::remove_all(root_);
    fs::create_directories(root_);
    fs::permissions(root_, fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
  }
  ~FakeProc() { fs::remove_all(root_); }
  // A process; `hidden` makes its fd folder root's alone, as another user's is.
  void add(int pid, const char* comm, const std::vector<std::uint64_t>& sockets, bool hidden = false) {
    const fs::path dir = root_ / std::to_string(pid);
    fs::create_directories(dir / "fd");
    std::ofstream(dir / "comm") << comm << "\n";
    for (std::size_t i = 0; i < sockets.size(); ++i)
      fs::create_symlink("socket:[" + std::to_string(sockets[i]) + "]", dir / "fd" / std::to_string(i));
    const auto open = fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec;
    fs::permissions(dir, open);
    fs::permissions(dir / "comm", fs::perms::owner_read | fs::perms::others_read);
    fs::permissions(dir / "fd", hidden ? fs::perms::owner_all : open);
  }
  std::string root() const { return root_.string(); }

 private:
  fs::path root_;
};

TEST(SocketOwners, HiddenSocketsAreAskedAboutOnceAndNeverMakeEveryRefreshWalk) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (a folder another user may not read, a child as nobody)";
  FakeProc proc;
  proc.add(100, "visible", {5001, 5002});
  proc.add(200, "theirs", {6001, 6002}, /*hidden=*/true);

  const std::string transcript = as_nobody([&] {
    std::ostringstream t;
    TableSource source;
    source.table[6001] = {6001, 200, "theirs"};
    source.table[6002] = {6002, 200, "theirs"};
    source.table[7001] = {7001, 300, "hidepid"};  // a process /proc does not show at all
    ProcProcessTable table(proc.root(), 0ms, &source);

    // One refresh: the visible ones from the walk, the hidden ones in one
    // request, 9999 (nobody holds it) is remembered as unknown.
    std::vector<std::uint64_t> refresh{5001, 6001, 6002, 9999, 0};
    table.prefetch_owners(refresh);
    t << table.owner_of_socket(5001) << " " << table.owner_of_socket(6002) << " " << table.owner_of_socket(9999)
      << " walks " << table.scans() << " asked " << source.asked << "\n";

    // The same sockets again: no walk, no request, even with no interval.
    table.prefetch_owners(refresh);
    t << "again: walks " << table.scans() << " requests " << table.source_requests() << "\n";

    // A new socket: one walk, and the request names it together with the
    // sockets only the source could name before (the walk starts afresh).
    refresh.push_back(7001);
    table.prefetch_owners(refresh);
    t << table.owner_of_socket(7001) << " " << table.owner_of_socket(6001) << " walks " << table.scans()
      << " asked " << source.asked << "\n";

    // Names: /proc's, and the source's for the process /proc hides.
    std::map<int, std::string> names;
    for (const auto& p : table.list_processes()) names[p.pid] = p.name;
    t << names[100] << " " << names[200] << " " << names[300] << "\n";

    // Closed sockets are forgotten; a source that cannot answer leaves the
    // new ones unknown and is not asked again until another miss.
    source.asked.clear();
    source.fail = true;
    table.prefetch_owners(std::vector<std::uint64_t>{5001, 8001});
    table.prefetch_owners(std::vector<std::uint64_t>{5001, 8001});
    t << table.owner_of_socket(8001) << " asked " << source.asked << "\n";
    return t.str();
  });
  EXPECT_EQ(transcript,
            "100 200 -1 walks 1 asked {6001,6002,9999}\n"
            "again: walks 1 requests 1\n"
            "300 200 walks 2 asked {6001,6002,9999}{6001,6002,7001,9999}\n"
            "visible theirs hidepid\n"
            "-1 asked {8001}\n");
}

// A copy of the helper in a folder every user may enter, given `caps` with
// setcap ("" for none); "" when the file system cannot hold capabilities.
class HelperCopy {
 public:
  HelperCopy() {
    char tmpl[] = "/tmp/tw-owners-helper-XXXXXX";
    if (mkdtemp(tmpl) != nullptr) dir_ = tmpl;
    if (!dir_.empty()) fs::permissions(dir_, fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
  }
  ~HelperCopy() {
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }
  std::string make(const std::string& name, const std::string& caps) const {
    const std::string copy = dir_ + "/" + name;
    fs::copy_file(TW_TARNIX_HELPER, copy, fs::copy_options::overwrite_existing);
    if (caps.empty()) return copy;
    if (!test::run_command("setcap " + caps + "+ep " + copy).ok()) return "";
    return test::run_command("getcap " + copy).output.find("cap_sys_ptrace") != std::string::npos ? copy : "";
  }

 private:
  std::string dir_;
};

// A child in the namespace, running as nobody, holding one loopback
// connection (both ends) under the name "twnobody". Killed with the object.
struct NobodysConnection {
  pid_t pid = -1;
  std::uint16_t client_port = 0;
  ~NobodysConnection() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  // In the namespace's thread: forks the child and waits for its port.
  bool start() {
    int ready[2];
    if (pipe(ready) != 0) return false;
    pid = fork();
    if (pid == 0) {
      close(ready[0]);
      become_nobody();
      // An ordinary process of that user: its /proc entries belong to it.
      prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);
      prctl(PR_SET_NAME, "twnobody", 0, 0, 0);
      const int l = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      socklen_t len = sizeof a;
      if (bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(l, 1) != 0 ||
          getsockname(l, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        _exit(1);
      const int c = socket(AF_INET, SOCK_STREAM, 0);
      if (connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || accept(l, nullptr, nullptr) < 0) _exit(1);
      sockaddr_in local{};
      len = sizeof local;
      getsockname(c, reinterpret_cast<sockaddr*>(&local), &len);
      const std::uint16_t port = ntohs(local.sin_port);
      if (write(ready[1], &port, sizeof port) != sizeof port) _exit(1);
      for (;;) pause();
    }
    close(ready[1]);
    const bool ok = pid > 0 && read(ready[0], &client_port, sizeof client_port) == sizeof client_port;
    close(ready[0]);
    return ok;
  }
};

// The label tw_session_owners printed for the session whose local port is
// `port`; "" when there is no such session.
std::string label_of(const std::string& output, std::uint16_t port) {
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    unsigned local = 0, remote = 0;
    std::string label;
    if (fields >> local >> remote >> label && local == port) return label;
  }
  return "";
}

TEST(SocketOwners, AnotherUsersConnectionIsNamedThroughTheHelperOnly) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (namespaces, setcap, other users)";
  test::NetNs ns("owners");
  ASSERT_TRUE(ns.ok()) << ns.error();
  HelperCopy helpers;
  const std::string capable = helpers.make("tarnix-helper", "cap_net_admin,cap_dac_read_search,cap_sys_ptrace");
  if (capable.empty()) GTEST_SKIP() << "the temporary folder cannot hold file capabilities";
  const std::string plain = helpers.make("plain-helper", "");

  NobodysConnection conn;
  bool started = false;
  ASSERT_TRUE(ns.run([&] { started = conn.start(); }));
  ASSERT_TRUE(started);

  // The observer is a third user (daemon, uid 1), with no capabilities.
  const std::string observer = "setpriv --reuid=1 --regid=1 --clear-groups " + std::string(TW_SESSION_OWNERS) + " ";
  const std::string expected = "twnobody(" + std::to_string(conn.pid) + ")";

  const auto with_helper = ns.exec(observer + capable);
  ASSERT_TRUE(with_helper.ok()) << with_helper.output;
  EXPECT_EQ(label_of(with_helper.output, conn.client_port), expected) << with_helper.output;

  const auto without = ns.exec(observer + "-");
  ASSERT_TRUE(without.ok()) << without.output;
  EXPECT_EQ(label_of(without.output, conn.client_port), "-") << without.output;

  // A helper without the capabilities cannot look either.
  const auto powerless = ns.exec(observer + plain);
  ASSERT_TRUE(powerless.ok()) << powerless.output;
  EXPECT_EQ(label_of(powerless.output, conn.client_port), "-") << powerless.output;

  // NETSTAT asks the same way: both ends of the connection are named.
  const auto listing = ns.exec(observer + capable + " --netstat");
  ASSERT_TRUE(listing.ok()) << listing.output;
  std::istringstream lines(listing.output);
  int named = 0;
  for (std::string line; std::getline(lines, line);)
    if (line.find(":" + std::to_string(conn.client_port) + " (") != std::string::npos)
      named += line.ends_with(" -> " + expected + "\r");
  EXPECT_EQ(named, 2) << listing.output;
}

}  // namespace
}  // namespace tw::platform
