// The descriptor owner closes exactly what it owns: once, on every path that
// gives it up by dropping it, and never what was handed on with release().
#include <fcntl.h>
#include <unistd.h>

#include <utility>

#include <gtest/gtest.h>

#include "platform/linux/owned_fd.h"

namespace tw::platform {
namespace {

bool is_open(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

struct Pipe {
  int r = -1, w = -1;
  Pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) == 0) {
      r = fds[0];
      w = fds[1];
    }
  }
};

TEST(OwnedFdTest, ClosesWhatItOwnsOnceAndNothingItGaveUp) {
  Pipe p;
  ASSERT_GE(p.r, 0);
  {
    OwnedFd a(p.r);
    OwnedFd b(std::move(a));
    EXPECT_FALSE(a);  // NOLINT(bugprone-use-after-move): the moved-from owner is what is checked
    EXPECT_EQ(b.get(), p.r);
    b.reset(b.get());  // taking the same descriptor again keeps it open
    EXPECT_TRUE(is_open(p.r));
    OwnedFd c(p.w);
    c = std::move(b);  // the write end is closed, the read end moves over
    EXPECT_FALSE(is_open(p.w));
    EXPECT_TRUE(is_open(p.r));
    const int handed_on = c.release();
    EXPECT_EQ(handed_on, p.r);
  }
  EXPECT_TRUE(is_open(p.r));
  OwnedFd last(p.r);
  EXPECT_TRUE(last.close());
  EXPECT_FALSE(is_open(p.r));
  EXPECT_TRUE(last.close());  // nothing left to close is no error
  OwnedFd failed(-1);
  EXPECT_FALSE(failed);
}

}  // namespace
}  // namespace tw::platform
