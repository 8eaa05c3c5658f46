#include "platform/linux/file_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include "platform/linux/owned_fd.h"
#include "platform/linux/system_info.h"

namespace tw::platform {
namespace {

constexpr const char* kReadFailed = "The file cannot be read.";
constexpr const char* kWriteFailed = "The file cannot be written.";
constexpr const char* kFreeSpaceUnknown = "The free space cannot be read.";

// What a temporary file's name adds to the name of the file it replaces:
// ".NAME" + kTempInfix + PID + "." + kTempRandomChars letters or digits.
constexpr const char* kTempInfix = ".tmp";
constexpr std::size_t kTempRandomChars = 8;

Error not_a_file(const std::string& path) {
  return Error{kReadFailed, path + ": not a regular file", kNotAFileErrno};
}

Error too_big(const std::string& path, std::size_t max_bytes) {
  return Error{kReadFailed, path + ": larger than " + std::to_string(max_bytes) + " bytes", kFileTooBigErrno};
}

std::string parent_of(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string base_of(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Writes all of `data`, going on after short writes and EINTR.
bool write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;  // ENOSPC, EDQUOT, EIO ...
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Opens a new, uniquely named temporary file beside `target`:
// ".NAME.tmpPID.RANDOM". Created with O_EXCL|O_NOFOLLOW so it never reuses
// (or follows) anything already there, even in a folder others may write.
// The pid tells a leftover of a killed writer (remove_stray_temporaries) from
// the file of one that still writes.
OwnedFd create_temp_beside(const std::string& target, mode_t mode, std::string& temp_path) {
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  const std::string prefix =
      parent_of(target) + "/." + base_of(target) + kTempInfix + std::to_string(::getpid()) + ".";
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned char rnd[kTempRandomChars];
    if (::getrandom(rnd, sizeof rnd, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof rnd)) {
      // No entropy yet (early boot): fall back on something unique enough;
      // O_EXCL catches collisions.
      unsigned long v = static_cast<unsigned long>(::getpid()) * 7919u + static_cast<unsigned long>(attempt);
      for (auto& b : rnd) { b = static_cast<unsigned char>(v); v = v * 31 + 17; }
    }
    std::string name = prefix;
    for (unsigned char b : rnd) name += kDigits[b % 36];
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd >= 0) {
      temp_path = std::move(name);
      return OwnedFd(fd);
    }
    if (errno != EEXIST) return OwnedFd();
  }
  return OwnedFd();
}

}  // namespace

bool make_folders(const std::string& folder) {
  if (folder.empty()) {
    errno = ENOENT;
    return false;
  }
  struct stat st {};
  if (::stat(folder.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    errno = ENOTDIR;
    return false;
  }
  if (errno != ENOENT) return false;
  std::string parent = parent_of(folder);
  if (parent != folder && parent != "." && !make_folders(parent)) return false;
  if (::mkdir(folder.c_str(), 0700) == 0) return true;
  // Another thread or process may have made it in between.
  if (errno != EEXIST) return false;
  if (::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
  errno = ENOTDIR;
  return false;
}

Result<std::string> LinuxFileStore::read(const std::string& path, std::size_t max_bytes) {
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
  OwnedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd) {
    const int err = errno;
    // A socket, for one, cannot be opened at all, yet it is there and no file.
    struct stat st {};
    if (err != ENOENT && ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return not_a_file(path);
    return Error::from_errno(kReadFailed, "opening " + path, err);
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return Error::from_errno(kReadFailed, "examining " + path, errno);
  if (!S_ISREG(st.st_mode)) return not_a_file(path);
  if (static_cast<std::uint64_t>(st.st_size) > max_bytes) return too_big(path, max_bytes);

  std::string out;
  out.reserve(static_cast<std::size_t>(st.st_size));
  char buf[16384];
  for (;;) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Error::from_errno(kReadFailed, "reading " + path, errno);
    }
    if (n == 0) break;
    // The file may have grown since fstat (a log being appended to).
    if (static_cast<std::size_t>(n) > max_bytes - out.size()) return too_big(path, max_bytes);
    out.append(buf, static_cast<std::size_t>(n));
  }
  return out;
}

Result<std::string> LinuxFileStore::read_part(const std::string& path, std::uint64_t offset, std::size_t max_bytes) {
  // Opened as read() opens: never blocks on a FIFO, refuses what is no file.
  OwnedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd) {
    const int err = errno;
    struct stat st {};
    if (err != ENOENT && ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return not_a_file(path);
    return Error::from_errno(kReadFailed, "opening " + path, err);
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return Error::from_errno(kReadFailed, "examining " + path, errno);
  if (!S_ISREG(st.st_mode)) return not_a_file(path);
  if (offset > static_cast<std::uint64_t>(LLONG_MAX)) return std::string();
  std::string out;
  out.resize(max_bytes);
  std::size_t got = 0;
  while (got < max_bytes) {
    const ssize_t n = ::pread(fd.get(), out.data() + got, max_bytes - got, static_cast<off_t>(offset + got));
    if (n < 0) {
      if (errno == EINTR) continue;
      return Error::from_errno(kReadFailed, "reading " + path, errno);
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  out.resize(got);
  return out;
}

Status LinuxFileStore::replace(const std::string& path, std::string_view content) {
  if (path.empty()) return Error::from_errno(kWriteFailed, "replacing a file without a name", ENOENT);
  // The name itself is replaced, never what a symlink there points to: in a
  // folder others may write (the node exporter's textfile folder) a planted
  // link would otherwise make a root process replace any file it names.
  const std::string folder = parent_of(path);
  if (!make_folders(folder)) return Error::from_errno(kWriteFailed, "creating the folder " + folder, errno);

  struct stat old {};
  const bool existed = ::lstat(path.c_str(), &old) == 0;
  const bool old_file = existed && S_ISREG(old.st_mode);
  // Never rename over a folder, FIFO, ...; a symlink is replaced by the file.
  if (existed && !old_file && !S_ISLNK(old.st_mode))
    return Error::from_errno(kWriteFailed, "replacing " + path, EISDIR);
  // A new file gets 0666 less the umask, like any file the user creates. The
  // set-id and sticky bits of an old file are not carried over.
  const mode_t mode = old_file ? (old.st_mode & 0777) : 0666;

  std::string temp;
  OwnedFd fd = create_temp_beside(path, mode, temp);
  if (!fd) return Error::from_errno(kWriteFailed, "creating a temporary file beside " + path, errno);
  // The old content stays; the temporary file goes.
  const auto fail = [&](const std::string& what) {
    const int err = errno;
    ::unlink(temp.c_str());
    return Error::from_errno(kWriteFailed, what, err);
  };
  if (old_file) {
    // O_CREAT applied the umask; put back the exact bits of the old file.
    if (::fchmod(fd.get(), mode) != 0) return fail("setting the permissions of " + temp);
    // Keep the owner when root rewrites someone's file; fails harmlessly otherwise.
    if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) (void)!::fchown(fd.get(), old.st_uid, old.st_gid);
  }
  if (!write_all(fd.get(), content)) return fail("writing " + temp);
  if (::fsync(fd.get()) != 0) return fail("flushing " + temp);
  if (!fd.close()) return fail("closing " + temp);  // close can report a deferred write error (NFS)
  if (::rename(temp.c_str(), path.c_str()) != 0) return fail("renaming " + temp + " to " + path);
  // Make the rename itself durable.
  OwnedFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir) ::fsync(dir.get());
  return {};
}

Status LinuxFileStore::remove(const std::string& path) {
  if (::unlink(path.c_str()) == 0 || errno == ENOENT) return {};
  return Error::from_errno(kWriteFailed, "deleting " + path, errno);
}

Status LinuxFileStore::write(const std::string& path, std::string_view content, bool truncate) {
  if (path.empty()) return Error::from_errno(kWriteFailed, "writing a file without a name", ENOENT);
  const std::string folder = parent_of(path);
  if (!make_folders(folder)) return Error::from_errno(kWriteFailed, "creating the folder " + folder, errno);
  // O_NOFOLLOW: a log may go to a folder others can write (a log root
  // folder); a link planted at its name must not make us append to the file
  // it names. O_NONBLOCK: a FIFO without a reader must fail, not block; it is
  // refused below anyway. It has no effect on regular files.
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | (truncate ? 0 : O_APPEND);
  OwnedFd fd(::open(path.c_str(), flags, 0666));
  if (!fd) {
    if (errno == ELOOP) return Error{kWriteFailed, path + " is a symbolic link, which is never written through", ELOOP};
    return Error::from_errno(kWriteFailed, "opening " + path, errno);
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return Error::from_errno(kWriteFailed, "examining " + path, errno);
  if (!S_ISREG(st.st_mode)) return Error::from_errno(kWriteFailed, "writing " + path, kNotAFileErrno);
  // Someone else's file, or one with a second name elsewhere (a hard link to
  // a file we may write but must not change), is left alone.
  if (st.st_uid != ::geteuid())
    return Error{kWriteFailed,
                 path + " belongs to another user (uid " + std::to_string(st.st_uid) + ") and is not written", EPERM};
  if (st.st_nlink > 1)
    return Error{kWriteFailed,
                 path + " has " + std::to_string(st.st_nlink) + " hard links and is not written", EMLINK};
  // Truncate only after the checks, so a device, FIFO or foreign file is never touched.
  if (truncate && ::ftruncate(fd.get(), 0) != 0) return Error::from_errno(kWriteFailed, "truncating " + path, errno);
  const off_t start = truncate ? 0 : st.st_size;
  if (!write_all(fd.get(), content)) {
    const int err = errno;
    // All or nothing: a short write (full disk, quota) is cut off again, so
    // the file never ends in half an entry.
    (void)!::ftruncate(fd.get(), start);
    return Error::from_errno(kWriteFailed, "writing " + path, err);
  }
  if (!fd.close()) return Error::from_errno(kWriteFailed, "closing " + path, errno);
  return {};
}

Result<std::uint64_t> LinuxFileStore::free_bytes(const std::string& path) {
  std::string p = path.empty() ? std::string(".") : path;
  for (;;) {
    struct statvfs vfs {};
    if (::statvfs(p.c_str(), &vfs) == 0)
      return static_cast<std::uint64_t>(vfs.f_bavail) * static_cast<std::uint64_t>(vfs.f_frsize);
    if (errno != ENOENT && errno != ENOTDIR) return Error::from_errno(kFreeSpaceUnknown, "examining " + p, errno);
    std::string parent = parent_of(p);
    if (parent == p) return Error::from_errno(kFreeSpaceUnknown, "examining " + p, ENOENT);
    p = std::move(parent);
  }
}

namespace {

// ".NAME.tmpPID.RANDOM" as create_temp_beside() makes it: the pid, or 0 when
// `entry` is no such name of a file beginning with `name_prefix`.
pid_t temporary_owner(std::string_view entry, std::string_view name_prefix) {
  if (entry.size() < 2 || entry[0] != '.' || !entry.substr(1).starts_with(name_prefix)) return 0;
  const std::size_t infix = entry.rfind(kTempInfix);
  if (infix == std::string_view::npos || infix < 1 + name_prefix.size()) return 0;
  std::string_view rest = entry.substr(infix + std::string_view(kTempInfix).size());
  const std::size_t dot = rest.find('.');
  if (dot == 0 || dot == std::string_view::npos || dot > 9 || rest.size() - dot - 1 != kTempRandomChars) return 0;
  long pid = 0;
  for (char c : rest.substr(0, dot)) {
    if (c < '0' || c > '9') return 0;
    pid = pid * 10 + (c - '0');
  }
  for (char c : rest.substr(dot + 1))
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'))) return 0;
  return static_cast<pid_t>(pid);
}

// Every user that has `gid` as its primary group, and the group's listed
// (supplementary) members; nullopt when the group is unknown.
std::optional<GroupMembers> members_of(gid_t gid) {
  long size = ::sysconf(_SC_GETGR_R_SIZE_MAX);
  std::vector<char> buf(size > 0 ? static_cast<std::size_t>(size) : 16384);
  struct group gr {};
  struct group* found = nullptr;
  for (;;) {
    const int rc = ::getgrgid_r(gid, &gr, buf.data(), buf.size(), &found);
    if (rc == ERANGE && buf.size() < (std::size_t{1} << 24)) {
      buf.resize(buf.size() * 2);
      continue;
    }
    if (rc != 0 || found == nullptr) return std::nullopt;
    break;
  }
  GroupMembers members;
  members.name = gr.gr_name ? gr.gr_name : "";
  for (char** m = gr.gr_mem; m && *m; ++m) members.listed.emplace_back(*m);
  // The passwd database, walked for the users whose primary group it is.
  // Start-up only: getpwent's position is process-wide.
  ::setpwent();
  while (struct passwd* pw = ::getpwent()) {
    if (pw->pw_gid == gid) members.primary_of.push_back(pw->pw_uid);
  }
  ::endpwent();
  return members;
}

std::string user_name_of(uid_t uid) {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(size > 0 ? static_cast<std::size_t>(size) : 16384);
  struct passwd pw {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) != 0 || found == nullptr || !found->pw_name) return {};
  return found->pw_name;
}

}  // namespace

bool group_is_private_to(const GroupMembers& group, uid_t uid, std::string_view user_name) {
  int members = 0;
  for (uid_t member : group.primary_of) {
    if (member != uid) return false;
    ++members;
  }
  for (const std::string& member : group.listed) {
    if (user_name.empty() || member != user_name) return false;
    ++members;
  }
  // A group nobody belongs to (as set-id programs use) is not the user's own.
  return members > 0;
}

Status check_trusted(const std::string& path) {
  constexpr const char* kUntrusted = "Not trusted.";
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return {};
    return Error::from_errno(kUntrusted, "examining " + path, errno);
  }
  const uid_t me = ::geteuid();
  if (st.st_uid != me)
    return Error{kUntrusted, path + " belongs to another user (uid " + std::to_string(st.st_uid) + ")", EPERM};
  if (st.st_mode & S_IWOTH) return Error{kUntrusted, path + " may be written by every user", EPERM};
  if (st.st_mode & S_IWGRP) {
    const std::optional<GroupMembers> group = members_of(st.st_gid);
    if (!group || !group_is_private_to(*group, me, user_name_of(me))) {
      const std::string name = group && !group->name.empty() ? group->name : std::to_string(st.st_gid);
      return Error{kUntrusted, path + " may be written by the group " + name + ", which has other members", EPERM};
    }
  }
  return {};
}

std::vector<std::string> remove_stray_temporaries(const std::string& folder, std::string_view name_prefix) {
  std::vector<std::string> removed;
  struct CloseDir {
    void operator()(DIR* d) const { ::closedir(d); }
  };
  std::unique_ptr<DIR, CloseDir> dir(::opendir(folder.c_str()));
  if (!dir) return removed;
  const std::string base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  while (const dirent* e = ::readdir(dir.get())) {
    const pid_t pid = temporary_owner(e->d_name, name_prefix);
    if (pid <= 0) continue;
    // A writer that still runs is about to rename it.
    if (::kill(pid, 0) == 0 || errno != ESRCH) continue;
    const std::string path = base + e->d_name;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) continue;
    if (::unlink(path.c_str()) == 0) removed.push_back(path);
  }
  return removed;
}

}  // namespace tw::platform
