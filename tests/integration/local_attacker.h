#pragma once
// Real local users and groups for tests where another user is the attacker:
// each is made with useradd/groupadd when the test starts and deleted (with
// its user-private group) when it ends, also when an assertion ends the test
// early. Users and groups that a killed test process left behind are deleted
// by the next one: their names carry the process id ("twf<PID>u<N>",
// "twf<PID>g<N>"; "twf" for the files tests).
//
// Needs root. The attacker's side runs with runuser: run() executes a shell
// command as the user, with the user's own groups.
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "netns.h"

namespace tw::test {

namespace local_accounts {

inline std::atomic<unsigned> counter{0};

inline std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += (c == '\'') ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// "twf<PID><kind><N>" of a process that is gone: left by a killed test.
inline bool orphaned(std::string_view name) {
  if (!name.starts_with("twf")) return false;
  std::size_t i = 3;
  long pid = 0;
  while (i < name.size() && name[i] >= '0' && name[i] <= '9') pid = pid * 10 + (name[i++] - '0');
  if (i == 3 || i >= name.size() || (name[i] != 'u' && name[i] != 'g')) return false;
  return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0;
}

inline void remove_orphans() {
  static std::atomic<bool> done{false};
  if (done.exchange(true)) return;
  std::vector<std::string> users, groups;
  ::setpwent();
  while (const passwd* pw = ::getpwent())
    if (orphaned(pw->pw_name)) users.emplace_back(pw->pw_name);
  ::endpwent();
  for (const auto& u : users) run_command("userdel " + u);
  ::setgrent();
  while (const group* gr = ::getgrent())
    if (orphaned(gr->gr_name)) groups.emplace_back(gr->gr_name);
  ::endgrent();
  for (const auto& g : groups) run_command("groupdel " + g);
}

inline std::string next_name(char kind) {
  return "twf" + std::to_string(::getpid()) + kind + std::to_string(counter++);
}

}  // namespace local_accounts

// A group of its own, for "a group with other members".
class LocalGroup {
 public:
  LocalGroup() : name_(local_accounts::next_name('g')) {
    local_accounts::remove_orphans();
    const CommandResult r = run_command("groupadd " + name_);
    if (r.ok()) {
      if (const group* gr = ::getgrnam(name_.c_str())) gid_ = gr->gr_gid;
    } else {
      error_ = r.output;
    }
  }
  ~LocalGroup() {
    if (gid_ != static_cast<gid_t>(-1)) run_command("groupdel " + name_);
  }
  LocalGroup(const LocalGroup&) = delete;
  LocalGroup& operator=(const LocalGroup&) = delete;

  bool ok() const { return gid_ != static_cast<gid_t>(-1); }
  const std::string& error() const { return error_; }
  const std::string& name() const { return name_; }
  gid_t gid() const { return gid_; }

 private:
  std::string name_;
  std::string error_;
  gid_t gid_ = static_cast<gid_t>(-1);
};

// A user with a user-private group (and optionally further groups), without
// a home or a login shell.
class LocalUser {
 public:
  explicit LocalUser(const std::string& extra_groups = "") : name_(local_accounts::next_name('u')) {
    local_accounts::remove_orphans();
    std::string cmd = "useradd --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin --user-group ";
    if (!extra_groups.empty()) cmd += "--groups " + extra_groups + " ";
    const CommandResult r = run_command(cmd + name_);
    if (r.ok()) {
      if (const passwd* pw = ::getpwnam(name_.c_str())) {
        uid_ = pw->pw_uid;
        gid_ = pw->pw_gid;
      }
    } else {
      error_ = r.output;
    }
  }
  ~LocalUser() {
    // Also deletes its user-private group.
    if (uid_ != static_cast<uid_t>(-1)) run_command("userdel " + name_);
  }
  LocalUser(const LocalUser&) = delete;
  LocalUser& operator=(const LocalUser&) = delete;

  bool ok() const { return uid_ != static_cast<uid_t>(-1); }
  const std::string& error() const { return error_; }
  const std::string& name() const { return name_; }
  uid_t uid() const { return uid_; }
  gid_t gid() const { return gid_; }

  // The shell command line `command` run as this user.
  std::string as_user(const std::string& command) const {
    return "runuser -u " + name_ + " -- /bin/sh -c " + local_accounts::quote(command);
  }
  CommandResult run(const std::string& command) const { return run_command(as_user(command)); }

 private:
  std::string name_;
  std::string error_;
  uid_t uid_ = static_cast<uid_t>(-1);
  gid_t gid_ = static_cast<gid_t>(-1);
};

}  // namespace tw::test
