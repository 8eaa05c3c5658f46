// tarnixd's Packet Monitor end to end: with "Surveil"/"AutoStart" 1 it
// captures headless on the address of its namespace and writes the packet
// log; datagrams come from the other end of a veth pair.
#include <gtest/gtest.h>

#include "tarnixd_harness.h"

#if defined(TW_TARNIXD) && defined(TW_TARNIXCTL)

namespace tw {
namespace {

using test::Daemon;
using test::eventually;

TEST(TarnixdPackets, AutoStartCapturesAndWritesThePacketLog) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (namespaces, packet sockets)";
  test::VethLink link("tdpk");
  ASSERT_TRUE(link.ok()) << link.error();
  test::Sandbox box;
  ASSERT_TRUE(box.ok());
  const std::string log = box.data() + "packets.log";
  box.write_file(box.settings_path(false),
                 "[Surveil]\nAutoStart=1\nInterval=1\nLogCheck=1\nLogCycleTime=1\nLogFileName=packets.log\n"
                 "LogFmt=$IP_PACKET$\n");
  Daemon d(link.left(), box, "--interface tw0 --quiet --verbose --data-dir " + box.data(), "packets");
  ASSERT_TRUE(eventually([&] {
    return box.read_file(d.stderr_path()).find("capturing packets on " + link.left_addr()) != std::string::npos ||
           !d.running();
  })) << d.diagnostics(box);
  ASSERT_TRUE(d.running()) << d.diagnostics(box);

  // One datagram at a time, so the list (one datagram per tick) sees each.
  platform::OwnedFd receiver, sender;
  link.left().run([&] { receiver = test::udp_socket(link.left_addr(), 4900); });
  link.right().run([&] { sender = test::udp_socket(link.right_addr(), 4901); });
  ASSERT_TRUE(receiver && sender);
  const std::string row_start = link.left_addr() + " " + link.left_addr() + " 4900 " + link.right_addr() + " " +
                                link.right_addr() + " 4901 31 64 UDP(DL) ";
  EXPECT_TRUE(eventually([&] {
    test::send_datagrams(sender, link.left_addr(), 4900, 1, 3);
    return box.read_file(log).find(row_start) != std::string::npos;
  })) << box.read_file(log) << d.diagnostics(box);
  EXPECT_EQ(d.stop(), 0) << d.diagnostics(box);
}

}  // namespace
}  // namespace tw

#endif
