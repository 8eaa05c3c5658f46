// Who closes a connection: the process itself when it holds the privilege,
// the helper otherwise, and a request for administrator rights when neither
// can.
#include <gtest/gtest.h>

#include "platform/connection_killer.h"
#include "platform/fake/fake_connection_killer.h"

namespace tw::platform {
namespace {

SocketId connection(std::uint16_t local_port) {
  SocketId id;
  id.local_address = 0x0100007f;  // 127.0.0.1
  id.remote_address = 0x0100007f;
  id.local_port = local_port;
  id.remote_port = 80;
  return id;
}

TEST(ChoosingConnectionKiller, InProcessWhileAllowedThenTheHelper) {
  FakeConnectionKiller in_process, helper;
  ChoosingConnectionKiller killer(&in_process, &helper);
  EXPECT_TRUE(killer.is_supported());
  EXPECT_TRUE(killer.close(connection(1000)).ok());

  in_process.supported = false;  // the privilege was dropped while running
  EXPECT_TRUE(killer.close(connection(1001)).ok());

  ASSERT_EQ(in_process.closed.size(), 1u);
  EXPECT_EQ(in_process.closed[0].local_port, 1000);
  ASSERT_EQ(helper.closed.size(), 1u);
  EXPECT_EQ(helper.closed[0].local_port, 1001);
}

TEST(ChoosingConnectionKiller, TheHelperSaysWhyItCannotHelp) {
  FakeConnectionKiller helper;
  helper.supported = false;
  helper.result = Error{kNeedsAdministratorHeadline, "tarnix-helper lacks CAP_NET_ADMIN", 1};
  ChoosingConnectionKiller killer(nullptr, &helper);  // the desktop program: no in-process way
  EXPECT_FALSE(killer.is_supported());
  const Status s = killer.close(connection(1000));
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error(), helper.result.error());
}

TEST(ChoosingConnectionKiller, WithoutPrivilegeOrHelperAsksForAdministratorRights) {
  FakeConnectionKiller in_process;
  in_process.supported = false;
  ChoosingConnectionKiller killer(&in_process, nullptr);
  EXPECT_FALSE(killer.is_supported());
  const Status s = killer.close(connection(1000));
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().headline, "Please run with administrator privileges.");
  EXPECT_NE(s.error().detail.find("127.0.0.1:1000 -> 127.0.0.1:80"), std::string::npos) << s.error().detail;
  EXPECT_TRUE(in_process.closed.empty());
}

}  // namespace
}  // namespace tw::platform
