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

// --capture-address chooses what tarnixd captures, even without AutoStart,
// and is kept: a later start with AutoStart captures there again, while the
// address belongs to the machine. An address that is not the machine's is
// refused with the ones that are.
TEST(TarnixdPackets, CaptureAddressIsChosenAndKept) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (namespaces, packet sockets)";
  test::VethLink link("tdca");
  ASSERT_TRUE(link.ok()) << link.error();
  // A second address after the link's own: the default (the last one).
  ASSERT_TRUE(link.left().add_address("tw0", "10.231.7.1/24"));
  test::Sandbox box;
  ASSERT_TRUE(box.ok());
  const std::string ini = box.settings_path(false);
  const std::string args = "--interface tw0 --quiet --verbose --data-dir " + box.data();
  const auto capturing_on = [&](Daemon& d, const std::string& address) {
    return eventually([&] {
      return box.read_file(d.stderr_path()).find("capturing packets on " + address + "\n") != std::string::npos ||
             !d.running();
    }) && d.running();
  };

  box.write_file(ini, "[Surveil]\nAutoStart=0\n");
  {
    Daemon d(link.left(), box, args + " --capture-address " + link.left_addr(), "ca1");
    ASSERT_TRUE(capturing_on(d, link.left_addr())) << d.diagnostics(box);
    EXPECT_EQ(d.stop(), 0) << d.diagnostics(box);
  }
  EXPECT_NE(box.read_file(ini).find("CaptureAddress=" + link.left_addr() + "\n"), std::string::npos)
      << box.read_file(ini);

  // No option, AutoStart on: the kept choice, not the default 10.231.7.1.
  std::string text = box.read_file(ini);
  ASSERT_NE(text.find("AutoStart=0"), std::string::npos) << text;
  text.replace(text.find("AutoStart=0"), 11, "AutoStart=1");
  box.write_file(ini, text);
  {
    Daemon d(link.left(), box, args, "ca2");
    ASSERT_TRUE(capturing_on(d, link.left_addr())) << d.diagnostics(box);
    EXPECT_EQ(d.stop(), 0) << d.diagnostics(box);
  }

  // The kept address is gone from the machine: the default, and a word why.
  ASSERT_TRUE(link.left().ip("addr del " + link.left_addr() + "/24 dev tw0").ok());
  {
    Daemon d(link.left(), box, args, "ca3");
    ASSERT_TRUE(capturing_on(d, "10.231.7.1")) << d.diagnostics(box);
    EXPECT_NE(box.read_file(d.stderr_path()).find("chosen capture address " + link.left_addr()), std::string::npos);
    EXPECT_EQ(d.stop(), 0) << d.diagnostics(box);
  }

  Daemon bad(link.left(), box, args + " --capture-address 192.0.2.99", "ca4");
  ASSERT_TRUE(eventually([&] { return !bad.running(); })) << bad.diagnostics(box);
  EXPECT_EQ(bad.stop(), 1);
  const std::string err = box.read_file(bad.stderr_path());
  EXPECT_NE(err.find("cannot capture on 192.0.2.99"), std::string::npos) << err;
  EXPECT_NE(err.find("10.231.7.1"), std::string::npos) << err;
}

}  // namespace
}  // namespace tw

#endif
