#pragma once
// Who and where this process is: user and host names for the settings file
// name, the data folder that holds the files "beside the program", the private
// runtime folder for the lock file and the command socket, and the privilege
// check. Also OwnedFd, the RAII owner of a file descriptor used by the system
// services.
//
// Every function may be called from any thread; none of them caches.
#include <string>
#include <string_view>
#include <utility>

#include "base/error.h"

namespace tw::platform {

// Owns one file descriptor and closes it on destruction.
class OwnedFd {
 public:
  OwnedFd() = default;
  explicit OwnedFd(int fd) : fd_(fd) {}
  OwnedFd(OwnedFd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
  OwnedFd& operator=(OwnedFd&& o) noexcept {
    if (this != &o) {
      reset();
      fd_ = std::exchange(o.fd_, -1);
    }
    return *this;
  }
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;
  ~OwnedFd() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }
  void reset();
  // Closes now and tells whether close reported an error (a deferred write
  // error on some file systems). Closing an empty owner is not an error.
  bool close();

 private:
  int fd_ = -1;
};

// Name of the effective user (getpwuid_r), empty when it cannot be found.
std::string user_name();

// The host name (gethostname), empty on failure.
std::string host_name();

// Absolute path of the running executable (/proc/self/exe), empty on failure.
std::string executable_path();

// The folder for the settings, rule, history and snapshot files, ending in
// "/": the executable's own folder when this user may write to it (a portable
// copy, the build tree), otherwise $XDG_CONFIG_HOME/tarnwatch/ or
// ~/.config/tarnwatch/. The folder is not created here; the file store creates
// it on the first write. Empty when none can be found.
std::string data_folder();

// The choice behind data_folder(), on explicit inputs. `exe_path` is the
// executable's absolute path; `xdg_config_home` and `home` may be null.
// A relative XDG_CONFIG_HOME is ignored, as the XDG base-directory rules say.
std::string choose_data_folder(std::string_view exe_path, bool exe_folder_writable,
                               const char* xdg_config_home, const char* home);

// A folder only this user can enter, ending in "/", for the instance lock and
// the command socket: $XDG_RUNTIME_DIR when it is set and safe, otherwise
// /tmp/tarnwatch-UID/ (created 0700). A folder that exists but is a symlink,
// belongs to someone else or is open to group or others is refused, so
// another local user cannot plant a socket or lock file for us to use. An
// error says why no safe folder is available.
Result<std::string> runtime_folder();

// Makes `path` (no trailing "/") a private folder: creates it with mode 0700
// when missing, and returns it with a trailing "/" when it is a real folder
// (not a symlink), owned by this user and closed to group and others. An
// error otherwise (its detail says which); an unsafe folder is refused, never
// repaired.
Result<std::string> private_folder(const std::string& path);

// True for root or a process holding CAP_NET_ADMIN in its effective set
// (connection kill and the packet filter need it).
bool is_privileged();

}  // namespace tw::platform
