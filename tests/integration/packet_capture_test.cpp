// The packet capture on the real kernel: TCP, UDP and ICMP between two
// namespaces the test creates, decoded with the right direction, ports,
// protocol text and process; broadcasts and SSDP captured; the Packet
// Monitor listing a datagram end to end; a member of the group tarnwatch
// capturing through tarnix-helper (a setcap'd copy in a temporary folder)
// without ever holding the packet socket, and users the helper cannot serve
// told why; and a stop on a silent link. The same for IPv6 on an IPv6
// address: TCP, UDP and ICMPv6, in-process and through the helper.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "helper_users.h"
#include "netns.h"
#include "packets/packet_decoder.h"
#include "packets/packet_monitor.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_file_store.h"
#include "platform/fake/fake_reverse_resolver.h"
#include "platform/linux/linux_packet_capture.h"
#include "platform/linux/proc_sockets.h"
#include "platform/linux/sock_diag.h"
#include "platform/privileged/sock_destroy.h"
#include "sessions/session_monitor.h"

namespace tw::packets {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Fd {
  int fd = -1;
  Fd() = default;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

sockaddr_in socket_address(std::uint32_t address_be, std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = address_be;
  a.sin_port = htons(port);
  return a;
}

std::uint16_t bound_port(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

// Decodes every datagram of a run, as the monitor's capture thread does, and
// keeps them all.
class Recorder : public platform::CaptureSink {
 public:
  DecodeContext ctx;
  void capture_started() override {}
  bool datagram(std::span<const std::uint8_t> bytes) override {
    PacketRecord r = empty_record();
    if (decode_datagram(bytes, ctx, r)) {
      std::lock_guard lock(mutex_);
      records_.push_back(r);
    }
    return true;
  }
  void capture_ended() override {}
  // Waits up to 3 s for a record that `match` accepts.
  template <typename Match>
  std::optional<PacketRecord> wait_for(Match match) {
    for (int i = 0; i < 300; ++i) {
      {
        std::lock_guard lock(mutex_);
        for (const auto& r : records_)
          if (match(r)) return r;
      }
      std::this_thread::sleep_for(10ms);
    }
    return std::nullopt;
  }

 private:
  std::mutex mutex_;
  std::vector<PacketRecord> records_;
};

// A folder for helper copies, removed with the object.
struct TempDir {
  std::string path;
  TempDir() {
    char tmpl[] = "/tmp/tw-capture-XXXXXX";
    if (mkdtemp(tmpl) != nullptr) path = tmpl;
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

class PacketCaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::is_root()) GTEST_SKIP() << "needs root (namespaces, packet sockets)";
    ASSERT_TRUE(link_.ok()) << link_.error();
    left_ = *shared::parse_address(link_.left_addr());
    right_ = *shared::parse_address(link_.right_addr());
  }

  test::VethLink link_{"cap"};
  std::uint32_t left_ = 0, right_ = 0;
};

TEST_F(PacketCaptureTest, TcpUdpAndIcmpAreDecodedWithDirectionPortsAndProcess) {
  // Left: a UDP endpoint and a TCP server; right: a TCP client. All sockets
  // belong to this process.
  Fd udp, listener, server, client, sender;
  std::uint16_t udp_port = 0, tcp_port = 0;
  std::unique_ptr<platform::SockDiagSocketTable> sockets;
  platform::LinuxPacketCapture capture(nullptr);
  Recorder rec;
  shared::FlowKeyTable keys;
  platform::CaptureStatus failure;
  ASSERT_TRUE(link_.left().run([&] {
    udp.fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = socket_address(left_, 0);
    EXPECT_EQ(bind(udp.fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    udp_port = bound_port(udp.fd);
    listener.fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(bind(listener.fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    listen(listener.fd, 4);
    tcp_port = bound_port(listener.fd);
    sockets = std::make_unique<platform::SockDiagSocketTable>();
    rec.ctx.capture_address = left_;
    rec.ctx.flow_keys = &keys;
    failure = capture.start(net::IpAddress::v4(left_), rec);
  }));
  ASSERT_TRUE(failure.ok()) << failure.error().call << " " << failure.error().detail;
  ASSERT_NE(udp_port, 0);
  ASSERT_NE(tcp_port, 0);

  std::uint16_t client_port = 0;
  ASSERT_TRUE(link_.right().run([&] {
    client.fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = socket_address(left_, tcp_port);
    if (connect(client.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) client_port = bound_port(client.fd);
    sender.fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  }));
  ASSERT_NE(client_port, 0);
  server.fd = accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
  ASSERT_GE(server.fd, 0);

  // The flow keys come from the Session Monitor's refresh, as in the programs.
  platform::ProcProcessTable processes;
  platform::FakeClock clock;
  platform::FakeFileStore files;
  platform::FakeReverseResolver resolver;
  platform::FakeLookupWorkers workers;
  shared::HostNameCache hosts(resolver, workers);
  sessions::ProcessNameCache names(processes);
  platform::SockDestroyKiller killer;
  sessions::SessionSettings settings;
  settings.ask_dns = false;
  sessions::SessionMonitor sessions({*sockets, processes, killer, clock, files, hosts, keys, names}, {}, settings, {});
  sessions.start();
  sessions.refresh();
  const std::string label = names.name_for(getpid()) + "(" + std::to_string(getpid()) + ")";

  // UDP from the right to the left's endpoint: incoming, local side first.
  sockaddr_in to = socket_address(left_, udp_port);
  ASSERT_EQ(sendto(sender.fd, "ping", 4, 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 4);
  auto r = rec.wait_for([&](const PacketRecord& p) { return field_text(p.protocol) == "UDP(DL)"; });
  ASSERT_TRUE(r);
  EXPECT_EQ(field_text(r->address1), link_.left_addr());
  EXPECT_EQ(field_text(r->address2), link_.right_addr());
  EXPECT_EQ(r->port1, udp_port);
  EXPECT_EQ(r->length, 20 + 8 + 4);
  EXPECT_EQ(r->pid, getpid());

  // TCP data from the left's server: outgoing, with the connection's process.
  ASSERT_EQ(send(server.fd, "hello", 5, 0), 5);
  r = rec.wait_for([&](const PacketRecord& p) {
    return field_text(p.protocol) == "TCP(UL)" && p.length == 20 + 32 + 5;  // timestamps: 32-byte TCP header
  });
  ASSERT_TRUE(r);
  EXPECT_EQ(field_text(r->address1), link_.left_addr());
  EXPECT_EQ(r->port1, tcp_port);
  EXPECT_EQ(r->port2, client_port);
  EXPECT_EQ(r->pid, getpid());
  EXPECT_EQ(row_texts(*r, Language::English, false,
                      [&](int pid) { return names.name_for(pid); })[kProcess], label);
  r = rec.wait_for([&](const PacketRecord& p) { return field_text(p.protocol) == "TCP(DL)"; });
  ASSERT_TRUE(r);
  EXPECT_EQ(r->port1, tcp_port);
  EXPECT_EQ(r->port2, client_port);

  // ICMP: an echo from the right and its answer; the "ports" are type and
  // code, and the checksum.
  const auto ping = link_.right().exec("ping -c 1 -W 2 " + link_.left_addr());
  ASSERT_TRUE(ping.ok()) << ping.output;
  r = rec.wait_for([&](const PacketRecord& p) { return field_text(p.protocol) == "ICMP(DL)"; });
  ASSERT_TRUE(r);
  EXPECT_EQ(r->port2, 0x0800);  // echo request
  EXPECT_EQ(r->pid, -1);
  r = rec.wait_for([&](const PacketRecord& p) { return field_text(p.protocol) == "ICMP(UL)"; });
  ASSERT_TRUE(r);
  EXPECT_EQ(r->port1, 0x0000);  // echo reply
  EXPECT_EQ(field_text(r->address2), link_.right_addr());

  capture.stop();
  EXPECT_GE(capture.stats().received, 6u);
  EXPECT_EQ(capture.stats().dropped, 0u);
  sessions.shut_down();
  workers.run_all();
}

TEST_F(PacketCaptureTest, MonitorListsADatagramAndStopsQuicklyOnASilentLink) {
  platform::LinuxPacketCapture capture(nullptr);
  platform::FakeClock clock;
  clock.set_wall({2025, 1, 2, 3, 4, 5});
  shared::FlowKeyTable keys;
  platform::FakeReverseResolver resolver;
  platform::FakeLookupWorkers workers;
  shared::HostNameCache hosts(resolver, workers);
  {
    PacketMonitor monitor({capture, clock, keys, hosts, {}}, Language::English, PacketSettings{});
    StartOutcome started;
    ASSERT_TRUE(link_.left().run([&] {
      monitor.load_addresses();
      started = monitor.start(monitor.default_address_text());
    }));
    ASSERT_EQ(monitor.default_address_text(), link_.left_addr());
    ASSERT_EQ(started.kind, StartOutcome::Started) << started.message;
    for (int i = 0; i < 100 && !monitor.running(); ++i) std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(monitor.running());

    Fd receiver, sender;  // a receiver, so no port-unreachable answer follows
    ASSERT_TRUE(link_.left().run([&] {
      receiver.fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      sockaddr_in at = socket_address(left_, 4242);
      EXPECT_EQ(bind(receiver.fd, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    }));
    ASSERT_TRUE(link_.right().run([&] {
      sender.fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      sockaddr_in to = socket_address(left_, 4242);
      sockaddr_in from = socket_address(right_, 4343);
      EXPECT_EQ(bind(sender.fd, reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
      sendto(sender.fd, "x", 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }));
    for (int i = 0; i < 300 && monitor.list().empty(); ++i) {
      std::this_thread::sleep_for(10ms);
      monitor.display_tick();
    }
    ASSERT_FALSE(monitor.list().empty());
    const PacketRow& row = monitor.list().row(0);
    EXPECT_EQ(row[kAddress1], link_.left_addr());
    EXPECT_EQ(row[kPort1], "4242");
    EXPECT_EQ(row[kPort2], "4343");
    EXPECT_EQ(row[kProtocol], "UDP(DL)");
    EXPECT_EQ(row[kDateTime], "01/02/2025 03:04:05");

    // Nothing moves on the link now: the stop returns well within 3 s.
    std::this_thread::sleep_for(100ms);
    const auto t0 = std::chrono::steady_clock::now();
    monitor.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 3s);
    EXPECT_TRUE(monitor.display_tick().capture_ended);
    EXPECT_EQ(monitor.state(), CaptureState::Idle);

    // An address of another namespace is not this machine's.
    EXPECT_EQ(monitor.start(link_.right_addr()).kind, StartOutcome::InvalidAddress);
  }
  workers.run_all();
}

TEST_F(PacketCaptureTest, AddressOnAVlanDeviceGivesUntaggedDatagrams) {
  // 802.1Q: the address lives on a VLAN device over the veth; the kernel
  // takes the tag off there, so the capture still starts at the IP header.
  auto vlan = [](test::NetNs& ns, const std::string& parent, const std::string& cidr) {
    return ns.ip("link add link " + parent + " name " + parent + ".7 type vlan id 7").ok() &&
           ns.add_address(parent + ".7", cidr) && ns.set_up(parent + ".7", true);
  };
  if (!vlan(link_.left(), link_.left_if(), "10.231.7.1/24")) GTEST_SKIP() << "no 802.1Q support in this kernel";
  ASSERT_TRUE(vlan(link_.right(), link_.right_if(), "10.231.7.2/24"));
  const std::uint32_t left7 = *shared::parse_address("10.231.7.1");
  const std::uint32_t right7 = *shared::parse_address("10.231.7.2");

  platform::LinuxPacketCapture capture(nullptr);
  Recorder rec;
  rec.ctx.capture_address = left7;
  platform::CaptureStatus failure;
  Fd receiver, sender;
  ASSERT_TRUE(link_.left().run([&] {
    receiver.fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in at = socket_address(left7, 5007);
    EXPECT_EQ(bind(receiver.fd, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    failure = capture.start(net::IpAddress::v4(left7), rec);
  }));
  ASSERT_TRUE(failure.ok()) << failure.error().detail;
  ASSERT_TRUE(link_.right().run([&] {
    sender.fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to = socket_address(left7, 5007);
    sockaddr_in from = socket_address(right7, 5008);
    EXPECT_EQ(bind(sender.fd, reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
    sendto(sender.fd, "v", 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }));
  const auto r = rec.wait_for([](const PacketRecord& p) { return field_text(p.protocol) == "UDP(DL)"; });
  capture.stop();
  ASSERT_TRUE(r);
  EXPECT_EQ(field_text(r->address2), "10.231.7.2");
  EXPECT_EQ(r->port1, 5007);
  EXPECT_EQ(r->port2, 5008);
  EXPECT_EQ(r->length, 29);
}

// Runs the probe with `args` as `user` in the left namespace; returns its
// output once it has ended, with `after_start` run when it says "started".
std::string run_probe(test::VethLink& link, const test::TestUser& user, const std::string& args,
                      const std::function<void()>& after_start) {
  const std::string cmd =
      "ip netns exec " + link.left().name() + " " + user.as() + TW_CAPTURE_PROBE + " " + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return "popen failed";
  std::string out;
  char line[512];
  while (std::fgets(line, sizeof line, p) != nullptr) {
    out += line;
    if (std::string(line) == "started\n") after_start();
  }
  pclose(p);
  return out;
}

// Two datagrams from the right to the left's port 7000.
void send_two(test::VethLink& link, std::uint32_t left, std::uint32_t right) {
  link.right().run([&] {
    Fd s;
    s.fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to = socket_address(left, 7000);
    sockaddr_in from = socket_address(right, 7001);
    EXPECT_EQ(bind(s.fd, reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
    for (int i = 0; i < 2; ++i) sendto(s.fd, "x", 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  });
}

class HelperCaptureTest : public PacketCaptureTest {
 protected:
  void SetUp() override {
    PacketCaptureTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(member_.ok()) << member_.error();
    ASSERT_TRUE(outsider_.ok()) << outsider_.error();
  }
  test::HelperGroup group_;
  test::TestUser member_{true};
  test::TestUser outsider_{false};
  TempDir dir_;
};

TEST_F(HelperCaptureTest, GroupMemberCapturesThroughTheHelperWithoutEverHoldingTheSocket) {
  const std::string helper = test::install_helper_copy(dir_.path, "tarnix-helper", "cap_net_raw,cap_net_admin");
  if (helper.empty()) GTEST_SKIP() << "the file system of /tmp cannot hold capabilities";

  Fd receiver;  // so that no port-unreachable answer follows
  ASSERT_TRUE(link_.left().run([&] {
    receiver.fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in at = socket_address(left_, 7000);
    EXPECT_EQ(bind(receiver.fd, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  }));
  // The programs' own client: the datagrams arrive, and no packet socket is
  // among its descriptors (nothing to unfilter, re-bind or send with).
  const std::string out = run_probe(link_, member_, helper + " " + link_.left_addr() + " 2",
                                    [&] { send_two(link_, left_, right_); });
  EXPECT_EQ(out, "helper\nstarted\nUDP(DL) 7000 7001\nUDP(DL) 7000 7001\npacket sockets: 0\ndropped: 0\n");

  // A client of its own, reading every reply with room for descriptors: the
  // old request for the socket is unknown, and neither the replies nor the
  // batches carry a descriptor.
  const std::string raw = run_probe(link_, member_, helper + " --raw " + link_.left_addr(),
                                    [&] { send_two(link_, left_, right_); });
  EXPECT_EQ(raw,
            "old request: error, descriptors 0\nstart capture: started on, descriptors 0\nstarted\n"
            "batch: datagrams, descriptors 0\n");

  // Only the machine's own non-loopback addresses: not loopback, not
  // another host's.
  for (const std::string& other : {std::string("127.0.0.1"), link_.right_addr()}) {
    const std::string refused = run_probe(link_, member_, std::string(helper).append(" --raw ").append(other), [] {});
    EXPECT_EQ(refused.substr(0, refused.find("started\n")),
              "old request: error, descriptors 0\nstart capture: error, descriptors 0\n")
        << other;
  }
}

TEST_F(HelperCaptureTest, WhyTheHelperCannotHelpIsSaidWithItsFix) {
  const std::string helper = test::install_helper_copy(dir_.path, "tarnix-helper", "cap_net_raw");
  const std::string plain = test::install_helper_copy(dir_.path, "plain-helper", "");
  if (helper.empty() || plain.empty()) GTEST_SKIP() << "the file system of /tmp cannot hold capabilities";
  const std::string line = "Error!! socket() = 1\nPlease run with administrator privileges.\n";
  const std::string args = " " + link_.left_addr() + " 1";

  EXPECT_EQ(run_probe(link_, outsider_, helper + args, [] {}),
            line + "you are not in the group tarnwatch: sudo usermod -aG tarnwatch " + outsider_.name() +
                ", then log in again\n");
  EXPECT_EQ(run_probe(link_, member_, plain + args, [] {}),
            line + "tarnix-helper has no capabilities: sudo make install\n");
  EXPECT_EQ(run_probe(link_, member_, dir_.path + "/missing-helper" + args, [] {}),
            line + "tarnix-helper is not installed: sudo make install\n");
}

// Broadcasts and multicasts pass the device as well; the capture takes them
// all, in-process and through the helper alike, and the decoder's direction
// rules sort them (an SSDP announcement lists its sender first).
TEST_F(PacketCaptureTest, BroadcastAndSsdpAreCapturedInProcessAndThroughTheHelper) {
  for (const auto route : {platform::LinuxPacketCapture::Route::InProcessFirst,
                           platform::LinuxPacketCapture::Route::HelperOnly}) {
    const bool helper_route = route == platform::LinuxPacketCapture::Route::HelperOnly;
    Recorder rec;
    rec.ctx.capture_address = left_;
    platform::CaptureStatus failure;
    Fd sender;
    bool through_helper = false;
    ASSERT_TRUE(link_.left().run([&] {
      // The helper joins the namespace of the thread that starts it and ends
      // with that thread: the whole run happens on this one.
      platform::HelperClient client({TW_TARNIX_HELPER});
      platform::LinuxPacketCapture capture(&client, route);
      failure = capture.start(net::IpAddress::v4(left_), rec);
      if (!failure.ok()) return;
      through_helper = capture.through_helper();
      link_.right().run([&] {
        sender.fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        setsockopt(sender.fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
        in_addr via{};
        via.s_addr = right_;
        setsockopt(sender.fd, IPPROTO_IP, IP_MULTICAST_IF, &via, sizeof via);
        sockaddr_in from = socket_address(right_, 1900);
        EXPECT_EQ(bind(sender.fd, reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
        sockaddr_in broadcast = socket_address(*shared::parse_address("10.231.0.255"), 6000);
        sendto(sender.fd, "b", 1, 0, reinterpret_cast<sockaddr*>(&broadcast), sizeof broadcast);
        sockaddr_in ssdp = socket_address(*shared::parse_address("239.255.255.250"), 1900);
        sendto(sender.fd, "M-SEARCH", 8, 0, reinterpret_cast<sockaddr*>(&ssdp), sizeof ssdp);
      });
      const auto b = rec.wait_for([](const PacketRecord& p) { return field_text(p.address1) == "10.231.0.255"; });
      const auto m = rec.wait_for([](const PacketRecord& p) { return p.port1 == 1900 && p.port2 == 1900; });
      capture.stop();
      ASSERT_TRUE(b) << "no broadcast, helper " << helper_route;
      EXPECT_EQ(field_text(b->protocol), "UDP(DL)");
      EXPECT_EQ(b->port1, 6000);
      ASSERT_TRUE(m) << "no SSDP, helper " << helper_route;
      EXPECT_EQ(field_text(m->address1), link_.right_addr());
      EXPECT_EQ(field_text(m->address2), "239.255.255.250");
      EXPECT_EQ(capture.stats().dropped, 0u);
    }));
    ASSERT_TRUE(failure.ok()) << failure.error().detail;
    EXPECT_EQ(through_helper, helper_route);
  }
}

// The device that owns the address goes away: the helper ends the run, and
// the capture thread with it.
TEST_F(PacketCaptureTest, HelperRunEndsWhenItsDeviceGoesAway) {
  ASSERT_TRUE(link_.left().run([&] {
    platform::HelperClient client({TW_TARNIX_HELPER});
    platform::LinuxPacketCapture capture(&client, platform::LinuxPacketCapture::Route::HelperOnly);
    struct Ends : platform::CaptureSink {
      std::atomic<bool> ended{false};
      void capture_started() override {}
      bool datagram(std::span<const std::uint8_t>) override { return true; }
      void capture_ended() override { ended = true; }
    } sink;
    const auto failure = capture.start(net::IpAddress::v4(left_), sink);
    ASSERT_TRUE(failure.ok()) << failure.error().detail;
    ASSERT_TRUE(link_.left().del_link(link_.left_if()));
    for (int i = 0; i < 300 && !sink.ended; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(sink.ended);
    capture.stop();
  }));
}

// ---- IPv6 -------------------------------------------------------------------

sockaddr_in6 socket_address6(const std::string& address, std::uint16_t port) {
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  inet_pton(AF_INET6, address.c_str(), &a.sin6_addr);
  a.sin6_port = htons(port);
  return a;
}

std::uint16_t bound_port6(int fd) {
  sockaddr_in6 a{};
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin6_port);
}

class PacketCapture6Test : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::is_root()) GTEST_SKIP() << "needs root (namespaces, packet sockets)";
    ASSERT_TRUE(link_.ok()) << link_.error();
    left6_ = *net::parse_ip(link_.left_addr6());
    ctx_.ipv6 = true;
    ctx_.capture_address6 = left6_.bytes;
  }
  // A UDP datagram from the right's `from` port to the left's `to` port.
  void udp_to_left(std::uint16_t from, std::uint16_t to, const char* text) {
    ASSERT_TRUE(link_.right().run([&] {
      Fd s;
      s.fd = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      sockaddr_in6 src = socket_address6(link_.right_addr6(), from);
      sockaddr_in6 dst = socket_address6(link_.left_addr6(), to);
      EXPECT_EQ(bind(s.fd, reinterpret_cast<sockaddr*>(&src), sizeof src), 0);
      sendto(s.fd, text, std::strlen(text), 0, reinterpret_cast<sockaddr*>(&dst), sizeof dst);
    }));
  }

  test::VethLink link_{"cap6", /*ipv6=*/true};
  net::IpAddress left6_;
  DecodeContext ctx_;
};

// The Packet Monitor offers the namespace's IPv6 address after its IPv4 one
// (not its link-local one), captures on it, and TCP, UDP and ICMPv6 come with
// their direction, ports, protocol text and process.
TEST_F(PacketCapture6Test, TcpUdpAndIcmp6OnAnIpv6Address) {
  platform::LinuxPacketCapture capture(nullptr);
  platform::FakeClock clock;
  clock.set_wall({2025, 1, 2, 3, 4, 5});
  shared::FlowKeyTable keys;
  platform::FakeReverseResolver resolver;
  platform::FakeLookupWorkers workers;
  shared::HostNameCache hosts(resolver, workers);
  Recorder rec;
  rec.ctx = ctx_;
  Fd udp, listener, server, client;
  std::uint16_t udp_port = 0, tcp_port = 0;
  {
    PacketMonitor monitor({capture, clock, keys, hosts, {}}, Language::English, PacketSettings{});
    StartOutcome started;
    ASSERT_TRUE(link_.left().run([&] {
      monitor.load_addresses();
      started = monitor.start(link_.left_addr6());
      udp.fd = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      sockaddr_in6 a = socket_address6(link_.left_addr6(), 0);
      EXPECT_EQ(bind(udp.fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
      udp_port = bound_port6(udp.fd);
      listener.fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
      EXPECT_EQ(bind(listener.fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
      listen(listener.fd, 4);
      tcp_port = bound_port6(listener.fd);
    }));
    EXPECT_EQ(monitor.address_list_texts(), (std::vector<std::string>{link_.left_addr(), link_.left_addr6()}));
    EXPECT_EQ(monitor.default_address_text(), link_.left_addr());
    ASSERT_EQ(started.kind, StartOutcome::Started) << started.message;
    keys.replace({{shared::udp_flow_key(link_.left_addr6(), udp_port), 4711}});
    for (int i = 0; i < 100 && !monitor.running(); ++i) std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(monitor.running());

    // The recorder sees every datagram of a second, plain run beside the
    // monitor's sampled list.
    platform::LinuxPacketCapture raw(nullptr);
    platform::CaptureStatus failure;
    ASSERT_TRUE(link_.left().run([&] { failure = raw.start(left6_, rec); }));
    ASSERT_TRUE(failure.ok()) << failure.error().detail;

    // The list samples the latest datagram at each tick, so neighbour
    // discovery around the datagram (or a tick late on a loaded machine) can
    // take its place: it is sent again until a tick has listed it.
    const auto listed = [&]() -> const PacketRow* {
      for (std::size_t i = 0; i < monitor.list().size(); ++i)
        if (monitor.list().row(i)[kPort2] == "4343") return &monitor.list().row(i);
      return nullptr;
    };
    for (int i = 0; i < 300 && listed() == nullptr; ++i) {
      if (i % 25 == 0) udp_to_left(4343, udp_port, "six");
      std::this_thread::sleep_for(10ms);
      monitor.display_tick();
    }
    ASSERT_NE(listed(), nullptr);
    const PacketRow& row = *listed();
    EXPECT_EQ(row[kAddress1], link_.left_addr6());
    EXPECT_EQ(row[kAddress2], link_.right_addr6());
    EXPECT_EQ(row[kPort1], std::to_string(udp_port));
    EXPECT_EQ(row[kPort2], "4343");
    EXPECT_EQ(row[kLength], std::to_string(40 + 8 + 3));
    EXPECT_EQ(row[kTtl], "64");
    EXPECT_EQ(row[kProtocol], "UDP(DL)");
    EXPECT_EQ(row[kProcess], "(4711)");

    // TCP: the handshake and data both ways.
    std::uint16_t client_port = 0;
    ASSERT_TRUE(link_.right().run([&] {
      client.fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in6 a = socket_address6(link_.left_addr6(), tcp_port);
      if (connect(client.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) client_port = bound_port6(client.fd);
    }));
    ASSERT_NE(client_port, 0);
    server.fd = accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(server.fd, 0);
    ASSERT_EQ(send(server.fd, "hello", 5, 0), 5);
    auto r = rec.wait_for([&](const PacketRecord& p) {
      return field_text(p.protocol) == "TCP(UL)" && p.length == 40 + 32 + 5;  // timestamps: 32-byte TCP header
    });
    ASSERT_TRUE(r);
    EXPECT_EQ(field_text(r->address1), link_.left_addr6());
    EXPECT_EQ(r->port1, tcp_port);
    EXPECT_EQ(r->port2, client_port);
    r = rec.wait_for([&](const PacketRecord& p) { return field_text(p.protocol) == "TCP(DL)"; });
    ASSERT_TRUE(r);
    EXPECT_EQ(r->port1, tcp_port);
    EXPECT_EQ(r->port2, client_port);

    // ICMPv6: an echo from the right and its answer.
    const auto ping = link_.right().exec("ping -6 -c 1 -W 2 " + link_.left_addr6());
    ASSERT_TRUE(ping.ok()) << ping.output;
    r = rec.wait_for([&](const PacketRecord& p) { return field_text(p.protocol) == "ICMP6(DL)" && p.port2 == 0x8000; });
    ASSERT_TRUE(r) << "no echo request";
    EXPECT_EQ(field_text(r->address2), link_.right_addr6());
    r = rec.wait_for([&](const PacketRecord& p) { return field_text(p.protocol) == "ICMP6(UL)" && p.port1 == 0x8100; });
    ASSERT_TRUE(r) << "no echo reply";

    // No IPv4 datagram reaches an IPv6 capture.
    Fd v4;
    ASSERT_TRUE(link_.right().run([&] {
      v4.fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      sockaddr_in to = socket_address(*shared::parse_address(link_.left_addr()), 9);
      sendto(v4.fd, "4", 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }));
    udp_to_left(4344, udp_port, "end");
    ASSERT_TRUE(rec.wait_for([](const PacketRecord& p) { return p.port2 == 4344; }));
    EXPECT_FALSE(rec.wait_for([&](const PacketRecord& p) { return field_text(p.address2) == link_.right_addr(); }));
    raw.stop();
    EXPECT_EQ(raw.stats().dropped, 0u);
    monitor.stop();
  }
  workers.run_all();
}

// Through the helper (run as root here) the IPv6 datagrams arrive as well;
// with "Settings"/"IPv6" 0 the monitor offers and accepts no IPv6 address.
TEST_F(PacketCapture6Test, ThroughTheHelperAndNotWhenSwitchedOff) {
  Recorder rec;
  rec.ctx = ctx_;
  platform::CaptureStatus failure;
  bool through_helper = false;
  ASSERT_TRUE(link_.left().run([&] {
    platform::HelperClient client({TW_TARNIX_HELPER});
    platform::LinuxPacketCapture capture(&client, platform::LinuxPacketCapture::Route::HelperOnly);
    failure = capture.start(left6_, rec);
    if (!failure.ok()) return;
    through_helper = capture.through_helper();
    udp_to_left(5001, 5002, "h");
    const auto r = rec.wait_for([](const PacketRecord& p) { return p.port2 == 5001; });
    capture.stop();
    ASSERT_TRUE(r);
    EXPECT_EQ(field_text(r->protocol), "UDP(DL)");
    EXPECT_EQ(field_text(r->address1), link_.left_addr6());
    EXPECT_EQ(r->port1, 5002);

    // The helper refuses the link-local address and another host's.
    platform::LinuxPacketCapture again(&client, platform::LinuxPacketCapture::Route::HelperOnly);
    for (const std::string& other : {std::string("fe80::1"), link_.right_addr6(), std::string("::1")}) {
      const auto refused = again.start(*net::parse_ip(other), rec);
      ASSERT_FALSE(refused.ok()) << other;
      EXPECT_EQ(refused.error().code, EADDRNOTAVAIL) << other;
    }
  }));
  ASSERT_TRUE(failure.ok()) << failure.error().detail;
  EXPECT_TRUE(through_helper);

  platform::LinuxPacketCapture capture(nullptr);
  platform::FakeClock clock;
  shared::FlowKeyTable keys;
  platform::FakeReverseResolver resolver;
  platform::FakeLookupWorkers workers;
  shared::HostNameCache hosts(resolver, workers);
  {
    PacketSettings off;
    off.ipv6 = false;
    PacketMonitor monitor({capture, clock, keys, hosts, {}}, Language::English, off);
    StartOutcome started;
    ASSERT_TRUE(link_.left().run([&] {
      monitor.load_addresses();
      started = monitor.start(link_.left_addr6());
    }));
    EXPECT_EQ(monitor.address_list_texts(), std::vector<std::string>{link_.left_addr()});
    EXPECT_EQ(started.kind, StartOutcome::InvalidAddress);
  }
  workers.run_all();
}

class HelperCapture6Test : public PacketCapture6Test {
 protected:
  void SetUp() override {
    PacketCapture6Test::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(member_.ok()) << member_.error();
  }
  test::HelperGroup group_;
  test::TestUser member_{true};
  TempDir dir_;
};

// A member of the group tarnwatch, without privileges of its own, captures
// the IPv6 datagrams through the setcap'd helper, never holding the socket;
// the helper grants no link-local or foreign IPv6 address.
TEST_F(HelperCapture6Test, GroupMemberCapturesIpv6ThroughTheHelper) {
  const std::string helper = test::install_helper_copy(dir_.path, "tarnix-helper", "cap_net_raw,cap_net_admin");
  if (helper.empty()) GTEST_SKIP() << "the file system of /tmp cannot hold capabilities";
  Fd receiver;
  ASSERT_TRUE(link_.left().run([&] {
    receiver.fd = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 at = socket_address6(link_.left_addr6(), 7000);
    EXPECT_EQ(bind(receiver.fd, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  }));
  // Neighbour discovery first: a solicitation arriving during the capture
  // would take one of its two places.
  udp_to_left(7001, 7000, "w");
  usleep(200'000);
  const std::string out = run_probe(link_, member_, helper + " " + link_.left_addr6() + " 2", [&] {
    udp_to_left(7001, 7000, "x");
    udp_to_left(7001, 7000, "y");
  });
  EXPECT_EQ(out, "helper\nstarted\nUDP(DL) 7000 7001\nUDP(DL) 7000 7001\npacket sockets: 0\ndropped: 0\n");

  std::string link_local;
  const auto shown = link_.left().exec("ip -6 -o addr show dev " + link_.left_if() + " scope link");
  if (const auto at = shown.output.find("fe80::"); at != std::string::npos)
    link_local = shown.output.substr(at, shown.output.find('/', at) - at);
  ASSERT_FALSE(link_local.empty()) << shown.output;
  for (const std::string& other : {link_local, link_.right_addr6(), std::string("::1")}) {
    const std::string refused = run_probe(link_, member_, std::string(helper).append(" --raw ").append(other), [] {});
    EXPECT_EQ(refused.substr(0, refused.find("started\n")),
              "old request: error, descriptors 0\nstart capture: error, descriptors 0\n")
        << other;
  }
}

}  // namespace
}  // namespace tw::packets
