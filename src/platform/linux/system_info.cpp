#include "platform/linux/system_info.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <vector>

namespace tw::platform {

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

bool is_installed_programs_folder(std::string_view folder) {
  std::string f(folder);
  if (f.empty() || f.back() != '/') f += '/';
  static const char* const kSystem[] = {"/bin/",       "/sbin/",           "/usr/bin/",   "/usr/sbin/",
                                        "/usr/local/bin/", "/usr/local/sbin/", "/usr/games/", "/usr/local/games/"};
  for (const char* s : kSystem)
    if (f == s) return true;
#ifdef TW_HELPER_INSTALL_DIR
  // PREFIX/bin of this build's installation (the helper goes to
  // PREFIX/libexec/tarnwatch).
  std::string_view helper_dir = TW_HELPER_INSTALL_DIR;
  constexpr std::string_view kHelperSub = "/libexec/tarnwatch";
  if (helper_dir.ends_with(kHelperSub)) {
    const std::string prefix_bin = std::string(helper_dir.substr(0, helper_dir.size() - kHelperSub.size())) + "/bin/";
    if (f == prefix_bin) return true;
  }
#endif
  return false;
}

std::string choose_data_folder(std::string_view exe_path, bool exe_folder_usable, bool root,
                               const char* xdg_config_home, const char* home) {
  auto slash = exe_path.find_last_of('/');
  if (exe_folder_usable && slash != std::string_view::npos && !exe_path.empty() && exe_path[0] == '/')
    return std::string(exe_path.substr(0, slash + 1));
  // Root's files are the system's: the state folder a systemd unit's
  // StateDirectory= names too.
  if (root) return kRootDataFolder;
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
  bool usable = false;
  auto slash = exe.find_last_of('/');
  if (slash != std::string::npos) {
    const std::string folder = exe.substr(0, slash + 1);
    // A portable copy or a build tree: the folder and the program file are
    // this user's, not an installed program's that only root's rights let us
    // write beside. AT_EACCESS: the effective ids decide, as they do for the
    // later writes.
    struct stat folder_st {}, exe_st {};
    usable = !is_installed_programs_folder(folder) && ::stat(folder.c_str(), &folder_st) == 0 &&
             ::stat(exe.c_str(), &exe_st) == 0 && folder_st.st_uid == ::geteuid() &&
             exe_st.st_uid == ::geteuid() && ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
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
  return choose_data_folder(exe, usable, ::geteuid() == 0, std::getenv("XDG_CONFIG_HOME"), home);
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

namespace {

// The folders mkdtemp() made for `base` ("BASE-XXXXXX") that are still
// private to us, in name order.
std::vector<std::string> own_private_folders(const std::string& base) {
  std::vector<std::string> found;
  const auto slash = base.find_last_of('/');
  const std::string parent = slash == 0 ? "/" : base.substr(0, slash);
  const std::string prefix = base.substr(slash + 1) + "-";
  struct CloseDir {
    void operator()(DIR* d) const { ::closedir(d); }
  };
  std::unique_ptr<DIR, CloseDir> dir(::opendir(parent.c_str()));
  if (!dir) return found;
  while (const dirent* e = ::readdir(dir.get())) {
    const std::string_view name = e->d_name;
    if (name.size() != prefix.size() + 6 || !name.starts_with(prefix)) continue;
    const std::string path = base + "-" + std::string(name.substr(prefix.size()));
    if (check_private_folder(path, /*allow_group_read=*/false)) found.push_back(path);
  }
  std::sort(found.begin(), found.end());
  return found;
}

}  // namespace

Result<std::string> choose_runtime_folder(const char* xdg_runtime_dir, const std::string& tmp,
                                          std::string* notice) {
  if (notice) notice->clear();
  if (xdg_runtime_dir && xdg_runtime_dir[0] == '/') {
    std::string dir = xdg_runtime_dir;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    // The session's folder should be 0700; accept it unless others may write
    // into it (which would let them replace our socket).
    if (dir.size() > 1 && check_private_folder(dir, /*allow_group_read=*/true)) return dir + "/";
  }
  const std::string base = (tmp.size() > 1 && tmp.back() == '/' ? tmp.substr(0, tmp.size() - 1) : tmp) +
                           "/tarnwatch-" + std::to_string(::geteuid());
  struct stat st {};
  std::string why;
  if (::lstat(base.c_str(), &st) == 0) {
    Status usable = check_private_folder(base, /*allow_group_read=*/false);
    if (usable) return base + "/";
    why = usable.error().detail;
  } else if (const std::vector<std::string> ours = own_private_folders(base); !ours.empty()) {
    // An earlier instance found the usual folder taken and made its own;
    // it may still run there, so this one must meet it there.
    if (notice)
      *notice = base + " is missing; the instance lock and the command sockets stay in " + ours.front() +
                "/, where an earlier instance moved them";
    return ours.front() + "/";
  } else {
    Result<std::string> made = private_folder(base);
    if (made) return made;
    why = made.error().detail;
  }
  // Another user planted the usual name (a folder, a link, a file) in the
  // shared /tmp: a folder of our own beside it, with a name nobody can guess
  // in advance. Every instance and tarnixctl find it again by its prefix and
  // take the first one that is a private folder of this user.
  std::string folder;
  if (const std::vector<std::string> ours = own_private_folders(base); !ours.empty()) {
    folder = ours.front();
  } else {
    std::string tmpl = base + "-XXXXXX";
    if (::mkdtemp(tmpl.data()) == nullptr)
      return Error::from_errno(kNoPrivateFolder, why + "; creating a private folder beside it", errno);
    folder = tmpl;
    if (Status s = check_private_folder(folder, /*allow_group_read=*/false); !s) return s.error();
  }
  if (notice) *notice = why + "; the instance lock and the command sockets are in " + folder + "/ instead";
  return folder + "/";
}

Result<std::string> runtime_folder(std::string* notice) {
  return choose_runtime_folder(std::getenv("XDG_RUNTIME_DIR"), "/tmp", notice);
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

}  // namespace tw::platform
