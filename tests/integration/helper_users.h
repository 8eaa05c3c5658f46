#pragma once
// Real users for the attacker's side of the privileged helper's tests: a
// member of the group tarnwatch (what the installation lets run
// tarnix-helper) or an outsider, created with useradd for the object's life
// and deleted with it, also when the test fails. The side they play runs
// with `runuser -u NAME --`, which gives the user's own groups.
//
// Names are "twhlp<pid>x<n>"; users of that form left behind by a test
// process that died are deleted when the next one creates its first user.
// The group tarnwatch is created when the machine has none, and removed
// again by the object that created it.
//
// Machine-wide names: run these tests under the integration lock.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "netns.h"

namespace tw::test {

inline constexpr const char* kHelperGroup = "tarnwatch";

namespace detail {
inline void remove_stale_users() {
  static std::atomic<bool> done{false};
  if (done.exchange(true)) return;
  std::ifstream passwd("/etc/passwd");
  std::string line;
  while (std::getline(passwd, line)) {
    const std::string name = line.substr(0, line.find(':'));
    if (name.rfind("twhlp", 0) != 0) continue;
    const auto x = name.find('x', 5);
    if (x == std::string::npos) continue;
    const int pid = std::atoi(name.substr(5, x - 5).c_str());
    if (pid > 0 && (pid == getpid() || kill(pid, 0) == 0)) continue;
    run_command("userdel " + name + " 2>/dev/null");
  }
}
}  // namespace detail

// The group tarnwatch, there for the object's life.
class HelperGroup {
 public:
  HelperGroup() {
    if (run_command(std::string("getent group ") + kHelperGroup + " >/dev/null").ok()) return;
    created_ = run_command(std::string("groupadd ") + kHelperGroup).ok();
  }
  ~HelperGroup() {
    if (created_) run_command(std::string("groupdel ") + kHelperGroup + " 2>/dev/null");
  }
  HelperGroup(const HelperGroup&) = delete;
  HelperGroup& operator=(const HelperGroup&) = delete;

 private:
  bool created_ = false;
};

class TestUser {
 public:
  // A member of the group tarnwatch when `member`, otherwise an outsider.
  explicit TestUser(bool member) {
    detail::remove_stale_users();
    static std::atomic<int> counter{0};
    name_ = "twhlp" + std::to_string(getpid()) + "x" + std::to_string(counter++);
    const std::string groups = member ? std::string(" -G ") + kHelperGroup : "";
    const CommandResult r =
        run_command("useradd --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin -N" + groups + " " +
                    name_ + " 2>&1");
    ok_ = r.ok();
    if (!ok_) error_ = "useradd " + name_ + ": " + r.output;
  }
  ~TestUser() {
    if (ok_) run_command("userdel " + name_ + " 2>/dev/null");
  }
  TestUser(const TestUser&) = delete;
  TestUser& operator=(const TestUser&) = delete;

  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }
  const std::string& name() const { return name_; }
  // The prefix of a command line that runs the rest as this user.
  std::string as() const { return "runuser -u " + name_ + " -- "; }

 private:
  std::string name_;
  std::string error_;
  bool ok_ = false;
};

// A copy of the helper installed as the installation does it: owned by root
// and the group tarnwatch, runnable by them only, with `caps` ("" for none)
// given by setcap. "" when the file system of `dir` cannot hold capabilities.
inline std::string install_helper_copy(const std::string& dir, const std::string& name, const std::string& caps) {
  std::string copy = dir + "/" + name;
  std::error_code ec;
  std::filesystem::copy_file(TW_TARNIX_HELPER, copy, std::filesystem::copy_options::overwrite_existing, ec);
  if (ec || !run_command(std::string("chown root:") + kHelperGroup + " " + copy + " && chmod 0750 " + copy).ok())
    return "";
  if (!caps.empty() && !run_command("setcap " + caps + "+ep " + copy).ok()) return "";
  return copy;
}

}  // namespace tw::test
