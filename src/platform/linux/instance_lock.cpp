#include "platform/linux/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

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
