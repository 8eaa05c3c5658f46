#include "platform/linux/owned_fd.h"

#include <unistd.h>

#include <cerrno>

namespace tw::platform {

void OwnedFd::reset(int fd) {
  // Linux frees the descriptor even when close fails: never retry.
  if (fd_ >= 0 && fd_ != fd) ::close(fd_);
  fd_ = fd;
}

bool OwnedFd::close() {
  if (fd_ < 0) return true;
  const int rc = ::close(std::exchange(fd_, -1));
  return rc == 0 || errno == EINTR;  // EINTR: the fd is closed and the data written
}

}  // namespace tw::platform
