#pragma once
// Running tarnixd end to end inside a test's own network namespace, and UDP
// traffic to give it something to count.
//
// Isolation: tarnixd runs inside the namespace (ip netns exec), with
// XDG_RUNTIME_DIR in a temporary folder (its lock and command socket), a
// temporary folder bind-mounted on /dev/shm in the mount namespace that ip
// netns exec creates for each command (its status block) and a system bus
// address of the test's own, so no real instance, bus or logind is touched.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "app/startup.h"
#include "netns.h"
#include "platform/linux/owned_fd.h"
#include "platform/linux/system_info.h"

#if defined(TW_TARNIXD) && defined(TW_TARNIXCTL)

namespace tw::test {

// Polls `cond` every 50 ms until it holds or `limit` has passed. Deadlines are
// generous: the machine may be busy; only the outcome is asserted.
template <typename Cond>
bool eventually(Cond cond, std::chrono::seconds limit = std::chrono::seconds(30)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (cond()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

inline std::string quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += (c == '\'') ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// A temporary folder with the runtime folder, the data folder and the
// stand-in for /dev/shm. Removed with everything in it.
class Sandbox {
 public:
  Sandbox() {
    char tmpl[] = "/tmp/tw-e2e-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return;
    root_ = tmpl;
    for (const char* sub : {"/run", "/data", "/shm"})
      std::filesystem::create_directory(root_ + sub);
    std::filesystem::permissions(root_ + "/run", std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    // Like /dev/shm: every user may create objects there.
    std::filesystem::permissions(root_ + "/shm", std::filesystem::perms(01777),
                                 std::filesystem::perm_options::replace);
    bus_address = "unix:path=" + root_ + "/no-bus";
  }
  ~Sandbox() {
    std::error_code ec;
    if (!root_.empty()) std::filesystem::remove_all(root_, ec);
  }
  bool ok() const { return !root_.empty(); }
  std::string run() const { return root_ + "/run"; }
  std::string data() const { return root_ + "/data/"; }
  std::string shm() const { return root_ + "/shm"; }
  const std::string& root() const { return root_; }

  // Shell prefix that gives a command our runtime folder, status block and
  // system bus.
  std::string env_prefix() const {
    return "mount --bind " + shm() + " /dev/shm && exec env XDG_RUNTIME_DIR=" + run() +
           " DBUS_SYSTEM_BUS_ADDRESS=" + bus_address + " ";
  }

  std::string settings_path(bool second) const {
    return data() + app::settings_file_name(app::kProgramBaseName, platform::user_name(),
                                            platform::host_name(), second);
  }
  // A copy of tarnixd in the data folder: its own folder is then its data
  // folder, so it runs without options.
  std::string copy_of_tarnixd() const {
    const std::string copy = data() + "tarnixd";
    std::error_code ec;
    std::filesystem::copy_file(TW_TARNIXD, copy, std::filesystem::copy_options::overwrite_existing, ec);
    return ec ? std::string() : copy;
  }
  void write_file(const std::string& path, const std::string& content) const {
    std::ofstream(path, std::ios::binary) << content;
  }
  std::string read_file(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  std::string bus_address;  // DBUS_SYSTEM_BUS_ADDRESS; by default nothing listens there

 private:
  std::string root_;
};

// One tarnixd process inside a namespace. Killed and reaped on destruction
// when the test did not end it.
class Daemon {
 public:
  // `as` goes between the environment and the program: more variables, or a
  // command that runs it as another user.
  Daemon(const NetNs& ns, const Sandbox& box, const std::string& args, const std::string& tag,
         const std::string& program = TW_TARNIXD, const std::string& as = "")
      : out_(box.data() + tag + ".out"), err_(box.data() + tag + ".err") {
    const std::string inner = box.env_prefix() + as + program + " " + args + " >" + out_ + " 2>" + err_;
    const std::string outer = "exec ip netns exec " + ns.name() + " sh -c " + quoted(inner);
    pid_ = fork();
    if (pid_ == 0) {
      // ip netns exec and both shells exec in turn, so this pid stays tarnixd's.
      execl("/bin/sh", "sh", "-c", outer.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~Daemon() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool started() const { return pid_ > 0; }
  // tarnixd's own process id (the shells exec into it), -1 once reaped.
  pid_t pid() const { return pid_; }
  bool running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return false;
    }
    return true;
  }
  // Sends `sig` and waits for the end; the exit status, or nullopt when the
  // process did not end in time.
  std::optional<int> stop(int sig = SIGTERM) {
    if (pid_ > 0) kill(pid_, sig);
    if (!eventually([&] { return !running(); })) return std::nullopt;
    return exit_status_;
  }
  std::string diagnostics(const Sandbox& box) const {
    return "tarnixd stdout:\n" + box.read_file(out_) + "\ntarnixd stderr:\n" + box.read_file(err_);
  }
  const std::string& stdout_path() const { return out_; }
  const std::string& stderr_path() const { return err_; }

 private:
  pid_t pid_ = -1;
  int exit_status_ = -1;
  std::string out_, err_;
};

inline CommandResult tarnixctl(const NetNs& ns, const Sandbox& box, const std::string& args, const std::string& as = "") {
  return ns.exec(box.env_prefix() + as + TW_TARNIXCTL + " " + args);
}

// A UDP socket bound in the namespace it was made in.
inline platform::OwnedFd udp_socket(const std::string& addr, std::uint16_t port) {
  platform::OwnedFd fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  inet_pton(AF_INET, addr.c_str(), &sa.sin_addr);
  if (fd && bind(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) fd.reset();
  return fd;
}

inline void send_datagrams(const platform::OwnedFd& fd, const std::string& to, std::uint16_t port, int count,
                           std::size_t size) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  inet_pton(AF_INET, to.c_str(), &sa.sin_addr);
  const std::string payload(size, 'x');
  for (int i = 0; i < count; ++i)
    sendto(fd.get(), payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
}

}  // namespace tw::test

#endif  // TW_TARNIXD && TW_TARNIXCTL
