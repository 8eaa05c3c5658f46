#pragma once
// OwnedFd: the one owner of a file descriptor in the platform code. Every
// descriptor a function opens is held by one from the system call on, so no
// early return leaks it; one that leaves (to a caller, to a child, over a
// socket) leaves through release().
//
// Not thread-safe: one owner, one thread at a time (moving it hands it over).
#include <utility>

namespace tw::platform {

class OwnedFd {
 public:
  OwnedFd() = default;
  // Takes `fd` (a negative value: owns nothing, so a failed call can be
  // wrapped before its result is checked).
  explicit OwnedFd(int fd) : fd_(fd) {}
  OwnedFd(OwnedFd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
  OwnedFd& operator=(OwnedFd&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;
  ~OwnedFd() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Gives the descriptor up without closing it.
  int release() { return std::exchange(fd_, -1); }
  // Closes the one held (a close error is not reported) and takes `fd`.
  void reset(int fd = -1);
  // Closes now and tells whether close reported an error (a deferred write
  // error on some file systems). Closing an empty owner is not an error.
  bool close();

 private:
  int fd_ = -1;
};

}  // namespace tw::platform
