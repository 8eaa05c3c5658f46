// Control messages whose error code has no errno (INT_MIN cannot be negated)
// are garbled replies: the read fails as malformed instead of passing on a
// made-up error number. The inputs are the fuzz regression files that found
// the fault; no root needed.
#include <libmnl/libmnl.h>
#include <linux/netlink.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/linux/netlink_messages.h"

namespace {

namespace nd = tw::platform::netlink_detail;

std::vector<char> regression_input(const std::string& file) {
  std::ifstream in(std::string(TW_TEST_DATA_DIR) + "/../fuzz/regressions/netlink_fuzz/" + file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int count(const nlmsghdr*, void* data) {
  ++*static_cast<int*>(data);
  return MNL_CB_OK;
}

TEST(NetlinkErrorCode, CodeWithoutErrnoFailsTheReadAsMalformed) {
  for (const char* file : {"error-code-int-min", "done-code-int-min"}) {
    SCOPED_TRACE(file);
    // Aligned copy, as a receive buffer would be.
    const std::vector<char> bytes = regression_input(file);
    ASSERT_GE(bytes.size(), sizeof(nlmsghdr) + sizeof(int));
    alignas(nlmsghdr) char buf[64] = {};
    ASSERT_LE(bytes.size(), sizeof buf);
    std::copy(bytes.begin(), bytes.end(), buf);

    int seen = 0;
    errno = 0;
    EXPECT_EQ(nd::run_callbacks(buf, bytes.size(), 1, 0, count, &seen), MNL_CB_ERROR);
    EXPECT_EQ(errno, EBADMSG);
    EXPECT_EQ(seen, 0);
  }
}

}  // namespace
