// The packet capture on the real kernel: TCP, UDP and ICMP between two
// namespaces the test creates, decoded with the right direction, ports,
// protocol text and process; the Packet Monitor listing a datagram end to
// end; an unprivileged user capturing through tarnix-helper (a setcap'd copy
// in a temporary folder); and a stop on a silent link.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>

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

constexpr const char* kNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";

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
    fs::permissions(path, fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  std::string helper(const std::string& name, const std::string& caps) const {
    const std::string copy = path + "/" + name;
    fs::copy_file(TW_TARNIX_HELPER, copy, fs::copy_options::overwrite_existing);
    if (!caps.empty() && !test::run_command("setcap " + caps + "+ep " + copy).ok()) return "";
    return copy;
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
  std::optional<platform::CaptureFailure> failure;
  ASSERT_TRUE(link_.left().run([&] {
    udp.fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = socket_address(left_, 0);
    bind(udp.fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    udp_port = bound_port(udp.fd);
    listener.fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bind(listener.fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(listener.fd, 4);
    tcp_port = bound_port(listener.fd);
    sockets = std::make_unique<platform::SockDiagSocketTable>();
    rec.ctx.capture_address = left_;
    rec.ctx.flow_keys = &keys;
    failure = capture.start(left_, rec);
  }));
  ASSERT_FALSE(failure) << failure->call << " " << failure->detail;
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
      bind(receiver.fd, reinterpret_cast<sockaddr*>(&at), sizeof at);
    }));
    ASSERT_TRUE(link_.right().run([&] {
      sender.fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      sockaddr_in to = socket_address(left_, 4242);
      sockaddr_in from = socket_address(right_, 4343);
      bind(sender.fd, reinterpret_cast<sockaddr*>(&from), sizeof from);
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
  std::optional<platform::CaptureFailure> failure;
  Fd receiver, sender;
  ASSERT_TRUE(link_.left().run([&] {
    receiver.fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in at = socket_address(left7, 5007);
    bind(receiver.fd, reinterpret_cast<sockaddr*>(&at), sizeof at);
    failure = capture.start(left7, rec);
  }));
  ASSERT_FALSE(failure) << failure->detail;
  ASSERT_TRUE(link_.right().run([&] {
    sender.fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to = socket_address(left7, 5007);
    sockaddr_in from = socket_address(right7, 5008);
    bind(sender.fd, reinterpret_cast<sockaddr*>(&from), sizeof from);
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

// Runs the probe as nobody in the left namespace; returns its output once it
// has said "started" (or ended), with `after_start` run in between.
std::string run_probe(test::VethLink& link, const std::string& helper, int count,
                      const std::function<void()>& after_start) {
  const std::string cmd = "ip netns exec " + link.left().name() + " " + kNobody + TW_CAPTURE_PROBE + " " + helper +
                          " " + link.left_addr() + " " + std::to_string(count) + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return "popen failed";
  std::string out;
  char line[256];
  while (std::fgets(line, sizeof line, p) != nullptr) {
    out += line;
    if (std::string(line) == "started\n") after_start();
  }
  pclose(p);
  return out;
}

TEST_F(PacketCaptureTest, UnprivilegedUserCapturesThroughTheHelper) {
  TempDir dir;
  const std::string helper = dir.helper("tarnix-helper", "cap_net_raw");
  if (helper.empty()) GTEST_SKIP() << "the file system of /tmp cannot hold capabilities";

  auto send_two = [&] {
    link_.right().run([&] {
      Fd s;
      s.fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      sockaddr_in to = socket_address(left_, 7000);
      sockaddr_in from = socket_address(right_, 7001);
      bind(s.fd, reinterpret_cast<sockaddr*>(&from), sizeof from);
      for (int i = 0; i < 2; ++i) sendto(s.fd, "x", 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    });
  };
  const std::string out = run_probe(link_, helper, 1, send_two);
  EXPECT_EQ(out.substr(0, out.find('\n')), "helper") << out;
  EXPECT_NE(out.find("UDP(DL) 7000 7001\n"), std::string::npos) << out;

  // A helper without the capability, or none at all: the user is told to
  // get privileges.
  const std::string plain = dir.helper("plain-helper", "");
  for (const std::string& h : {plain, dir.path + "/missing-helper"}) {
    const std::string refused = run_probe(link_, h, 1, [] {});
    EXPECT_EQ(refused, "Error!! socket() = 1\nPlease run with administrator privileges.\n") << h;
  }
}

}  // namespace
}  // namespace tw::packets
