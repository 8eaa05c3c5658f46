#include "platform/linux/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace tw::platform {

InstanceLock InstanceLock::acquire(std::string_view base_name) {
  const auto folder = runtime_folder();
  if (!folder) {
    InstanceLock lock;
    lock.status_ = Error{"The instance lock could not be made.", "no private runtime folder for the instance lock", ENOENT};
    return lock;
  }
  return acquire_at(*folder + std::string(base_name) + ".lock");
}

std::string InstanceLock::path_for(std::string_view base_name) {
  const auto folder = runtime_folder();
  return folder ? *folder + std::string(base_name) + ".lock" : std::string();
}

bool InstanceLock::held_by_a_live_process(const std::string& lock_path) {
  struct stat st {};
  if (lock_path.empty() || ::lstat(lock_path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  // "1: FLOCK  ADVISORY  WRITE 4711 00:1a:2345 0 EOF": the device as hex
  // major:minor, then the inode. Waiters are listed as "1: -> FLOCK ...".
  char id[64];
  std::snprintf(id, sizeof id, "%02x:%02x:%lu", ::major(st.st_dev), ::minor(st.st_dev),
                static_cast<unsigned long>(st.st_ino));
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream fields(line);
    std::string number, type, mode, access, pid, device;
    fields >> number >> type;
    if (type != "FLOCK") continue;
    fields >> mode >> access >> pid >> device;
    if (device == id) return true;
  }
  return false;
}

InstanceLock InstanceLock::acquire_at(const std::string& lock_path) {
  InstanceLock lock;
  // O_NOFOLLOW: the folder is private, but never lock through a symlink anyway.
  lock.fd_ = OwnedFd(::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600));
  if (!lock.fd_) {
    lock.status_ = Error::from_errno("The instance lock could not be made.", "cannot open " + lock_path, errno);
    return lock;
  }
  // flock locks belong to the open file description, not the process, so a
  // second open of the same file in this process conflicts as another
  // process would (which is what the tests rely on).
  for (;;) {
    if (::flock(lock.fd_.get(), LOCK_EX | LOCK_NB) == 0) {
      lock.held_ = true;
      return lock;
    }
    if (errno == EINTR) continue;
    break;
  }
  if (errno == EWOULDBLOCK) {
    lock.first_ = false;
  } else {
    lock.status_ = Error::from_errno("The instance lock could not be made.", "cannot lock " + lock_path, errno);
  }
  lock.fd_.reset();
  return lock;
}

}  // namespace tw::platform
