#include "platform/linux/system_info.h"

#include <fcntl.h>
#include <limits.h>
#include <linux/capability.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace tw::platform {

void OwnedFd::reset() {
  if (fd_ >= 0) ::close(fd_);  // Linux frees the fd even when close fails: never retry
  fd_ = -1;
}

bool OwnedFd::close() {
  if (fd_ < 0) return true;
  int rc = ::close(std::exchange(fd_, -1));
  return rc == 0 || errno == EINTR;  // EINTR: the fd is closed and the data written
}

std::string user_name() {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(size > 0 ? static_cast<std::size_t>(size) : 4096);
  for (int tries = 0; tries < 8; ++tries) {
    struct passwd pw {};
    struct passwd* found = nullptr;
    int rc = ::getpwuid_r(::geteuid(), &pw, buf.data(), buf.size(), &found);
    if (rc == ERANGE) {
      buf.resize(buf.size() * 2);
      continue;
    }
    if (rc != 0 || found == nullptr || found->pw_name == nullptr) return {};
    return found->pw_name;
  }
  return {};
}

std::string host_name() {
  char buf[HOST_NAME_MAX + 1] = {};
  if (::gethostname(buf, sizeof buf - 1) != 0) return {};
  return buf;
}

std::string executable_path() {
  std::string buf(PATH_MAX, '\0');
  for (int tries = 0; tries < 4; ++tries) {
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buf.size()) {
      buf.resize(static_cast<std::size_t>(n));
      // A replaced binary reads as "/path/tarnix (deleted)"; the folder is still right.
      return buf;
    }
    buf.resize(buf.size() * 2);
  }
  return {};
}

std::string choose_data_folder(std::string_view exe_path, bool exe_folder_writable,
                               const char* xdg_config_home, const char* home) {
  auto slash = exe_path.find_last_of('/');
  if (exe_folder_writable && slash != std::string_view::npos && !exe_path.empty() && exe_path[0] == '/')
    return std::string(exe_path.substr(0, slash + 1));
  std::string base;
  if (xdg_config_home && xdg_config_home[0] == '/') {
    base = xdg_config_home;
  } else if (home && home[0] == '/') {
    base = home;
    if (base.back() != '/') base += '/';
    base += ".config";
  } else {
    return {};
  }
  if (base.back() != '/') base += '/';
  return base + "tarnwatch/";
}

std::string data_folder() {
  std::string exe = executable_path();
  bool writable = false;
  auto slash = exe.find_last_of('/');
  if (slash != std::string::npos) {
    std::string folder = exe.substr(0, slash + 1);
    // AT_EACCESS: the effective ids decide, as they do for the later writes.
    writable = ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
  }
  const char* home = std::getenv("HOME");
  std::string pw_home;
  if (!home || home[0] != '/') {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(size > 0 ? static_cast<std::size_t>(size) : 16384);
    struct passwd pw {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir) {
      pw_home = found->pw_dir;
      home = pw_home.c_str();
    }
  }
  return choose_data_folder(exe, writable, std::getenv("XDG_CONFIG_HOME"), home);
}

namespace {

// A private folder: a real directory (not a symlink to one), ours, and closed
// to group and others.
constexpr const char* kNoPrivateFolder = "No private folder is available.";

// Success when `path` is a real folder (not a symlink) of this user that
// others cannot write into (nor, without allow_group_read, look into).
Status check_private_folder(const std::string& path, bool allow_group_read) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return Error::from_errno(kNoPrivateFolder, "examining " + path, errno);
  if (!S_ISDIR(st.st_mode)) return Error{kNoPrivateFolder, path + " is not a folder", ENOTDIR};
  if (st.st_uid != ::geteuid()) return Error{kNoPrivateFolder, path + " belongs to another user", EPERM};
  mode_t forbidden = allow_group_read ? (S_IWGRP | S_IWOTH) : (S_IRWXG | S_IRWXO);
  if ((st.st_mode & forbidden) != 0) return Error{kNoPrivateFolder, path + " is open to other users", EACCES};
  if (::faccessat(AT_FDCWD, path.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
    return Error::from_errno(kNoPrivateFolder, "entering " + path, errno);
  return {};
}

}  // namespace

Result<std::string> runtime_folder() {
  if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && xdg[0] == '/') {
    std::string dir = xdg;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    // The session's folder should be 0700; accept it unless others may write
    // into it (which would let them replace our socket).
    if (dir.size() > 1 && check_private_folder(dir, /*allow_group_read=*/true)) return dir + "/";
  }
  return private_folder("/tmp/tarnwatch-" + std::to_string(::geteuid()));
}

Result<std::string> private_folder(const std::string& path) {
  if (path.empty()) return Error{kNoPrivateFolder, "a private folder without a name", ENOENT};
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    return Error::from_errno(kNoPrivateFolder, "creating " + path, errno);
  // Whoever made it (us now, or an earlier run) it must be ours and private:
  // in a shared /tmp another user may have planted a folder or a symlink.
  if (Status s = check_private_folder(path, /*allow_group_read=*/false); !s) return s.error();
  return path + "/";
}

bool is_privileged() {
  if (::geteuid() == 0) return true;
  __user_cap_header_struct header{};
  header.version = _LINUX_CAPABILITY_VERSION_3;
  header.pid = 0;
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (::syscall(SYS_capget, &header, data) != 0) return false;
  return (data[CAP_NET_ADMIN / 32].effective & (1u << (CAP_NET_ADMIN % 32))) != 0;
}

}  // namespace tw::platform
