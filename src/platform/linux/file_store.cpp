#include "platform/linux/file_store.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

#include "platform/linux/system_info.h"

namespace tw::platform {
namespace {

constexpr const char* kReadFailed = "The file cannot be read.";
constexpr const char* kWriteFailed = "The file cannot be written.";
constexpr const char* kFreeSpaceUnknown = "The free space cannot be read.";

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

// Follows a symlinked settings file to the file it names, so that renaming the
// new content into place replaces the file and not the link.
std::string resolve_target(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    if (real) return real.get();
  }
  return path;
}

// Opens a new, uniquely named temporary file beside `target`. Created with
// O_EXCL so it never reuses (or follows) anything already there.
OwnedFd create_temp_beside(const std::string& target, mode_t mode, std::string& temp_path) {
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  const std::string prefix = parent_of(target) + "/." + base_of(target) + ".tmp";
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned char rnd[8];
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
  const std::string target = resolve_target(path);
  const std::string folder = parent_of(target);
  if (!make_folders(folder)) return Error::from_errno(kWriteFailed, "creating the folder " + folder, errno);

  struct stat old {};
  const bool existed = ::stat(target.c_str(), &old) == 0;
  // Never rename over a folder, FIFO, ...
  if (existed && !S_ISREG(old.st_mode)) return Error::from_errno(kWriteFailed, "replacing " + target, EISDIR);
  // A new file gets 0666 less the umask, like any file the user creates.
  const mode_t mode = existed ? (old.st_mode & 07777) : 0666;

  std::string temp;
  OwnedFd fd = create_temp_beside(target, mode, temp);
  if (!fd) return Error::from_errno(kWriteFailed, "creating a temporary file beside " + target, errno);
  // The old content stays; the temporary file goes.
  const auto fail = [&](const std::string& what) {
    const int err = errno;
    ::unlink(temp.c_str());
    return Error::from_errno(kWriteFailed, what, err);
  };
  if (existed) {
    // O_CREAT applied the umask; put back the exact bits of the old file.
    if (::fchmod(fd.get(), mode) != 0) return fail("setting the permissions of " + temp);
    // Keep the owner when root rewrites someone's file; fails harmlessly otherwise.
    if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) (void)!::fchown(fd.get(), old.st_uid, old.st_gid);
  }
  if (!write_all(fd.get(), content)) return fail("writing " + temp);
  if (::fsync(fd.get()) != 0) return fail("flushing " + temp);
  if (!fd.close()) return fail("closing " + temp);  // close can report a deferred write error (NFS)
  if (::rename(temp.c_str(), target.c_str()) != 0) return fail("renaming " + temp + " to " + target);
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
  // O_NONBLOCK: a FIFO without a reader must fail, not block; it is refused
  // below anyway. It has no effect on regular files.
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (truncate ? 0 : O_APPEND);
  OwnedFd fd(::open(path.c_str(), flags, 0666));
  if (!fd) return Error::from_errno(kWriteFailed, "opening " + path, errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return Error::from_errno(kWriteFailed, "examining " + path, errno);
  if (!S_ISREG(st.st_mode)) return Error::from_errno(kWriteFailed, "writing " + path, kNotAFileErrno);
  // Truncate only after the check, so a device or FIFO is never touched.
  if (truncate && ::ftruncate(fd.get(), 0) != 0) return Error::from_errno(kWriteFailed, "truncating " + path, errno);
  if (!write_all(fd.get(), content)) {
    const int err = errno;
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

}  // namespace tw::platform
