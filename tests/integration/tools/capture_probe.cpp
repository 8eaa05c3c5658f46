// A small client of the packet capture for the integration tests, which run
// it as an unprivileged user inside a test namespace.
//
//   tw_capture_probe HELPER ADDRESS COUNT
//     starts a capture on ADDRESS (IPv4 or IPv6) the way the programs do (in-process when
//     allowed, else through HELPER) and prints "in-process" or "helper" and
//     "started", then the protocol text and ports of each datagram, until
//     COUNT datagrams or 5 s have passed, then "packet sockets: N", the
//     packet sockets among its own descriptors, and the capture's drops. On
//     failure it prints the message the user would see. Exit status 0 when
//     the capture ran.
//   tw_capture_probe HELPER --raw ADDRESS
//     plays a client of its own that speaks the helper's protocol directly
//     and reads every reply with room for passed descriptors: sends the old
//     request that handed the capture socket over (type 20), then
//     StartCapture for ADDRESS, and waits up to 5 s for one batch. Prints
//     what came back and how many descriptors came with it.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "helper/protocol.h"
#include "packets/packet_decoder.h"
#include "packets/packet_monitor.h"
#include "platform/linux/linux_packet_capture.h"

using namespace tw;

namespace {

class Printer : public platform::CaptureSink {
 public:
  Printer(const net::IpAddress& address, int count) : left_(count) {
    ctx_.ipv6 = address.is_v6();
    ctx_.capture_address = address.v4_network();
    ctx_.capture_address6 = address.bytes;
  }
  void capture_started() override {}
  bool datagram(std::span<const std::uint8_t> bytes) override {
    packets::PacketRecord r = packets::empty_record();
    if (!packets::decode_datagram(bytes, ctx_, r)) return true;
    std::printf("%s %d %d\n", std::string(packets::field_text(r.protocol)).c_str(), r.port1, r.port2);
    std::fflush(stdout);
    std::lock_guard lock(mutex_);
    if (--left_ <= 0) done_.notify_all();
    return left_ > 0;
  }
  void capture_ended() override {}
  void wait() {
    std::unique_lock lock(mutex_);
    done_.wait_for(lock, std::chrono::seconds(5), [this] { return left_ <= 0; });
  }

 private:
  packets::DecodeContext ctx_;
  std::mutex mutex_;
  std::condition_variable done_;
  int left_;
};

// Packet sockets among this process's descriptors.
int packet_sockets() {
  int n = 0;
  DIR* d = opendir("/proc/self/fd");
  if (d == nullptr) return -1;
  while (dirent* e = readdir(d)) {
    const int fd = std::atoi(e->d_name);
    int domain = 0;
    socklen_t len = sizeof domain;
    if (e->d_name[0] != '.' && getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &len) == 0 && domain == AF_PACKET) ++n;
  }
  closedir(d);
  return n;
}

// Receives one message, with room for descriptors; counts (and closes) the
// descriptors that came along. -1 on a time-out or an error.
ssize_t receive(int fd, std::vector<std::uint8_t>& buf, int& descriptors, int timeout_ms) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) != 1) return -1;
  iovec io{buf.data(), buf.size()};
  alignas(cmsghdr) char control[CMSG_SPACE(16 * sizeof(int))];
  msghdr msg{};
  msg.msg_iov = &io;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  const ssize_t n = recvmsg(fd, &msg, MSG_CMSG_CLOEXEC);
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
    const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (std::size_t i = 0; i < count; ++i) {
      int passed;
      std::memcpy(&passed, CMSG_DATA(c) + i * sizeof(int), sizeof passed);
      close(passed);
      ++descriptors;
    }
  }
  return n;
}

// The reply to one request on the request channel, as "TYPE" text.
std::string request(int fd, const std::vector<std::uint8_t>& frame, int& descriptors) {
  if (send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(frame.size())) return "send failed";
  std::vector<std::uint8_t> buf(helper::kHeaderSize + helper::kMaxPayload);
  const ssize_t n = receive(fd, buf, descriptors, 2000);
  if (n <= 0) return "no reply";
  auto decoded = helper::decode_frame(std::span(buf).first(static_cast<std::size_t>(n)));
  if (!decoded) return "malformed reply";
  const helper::Message& m = decoded->frame.message;
  if (std::holds_alternative<helper::ErrorReply>(m)) return "error";
  if (const auto* s = std::get_if<helper::StartCaptureReply>(&m)) return "started on " + std::to_string(s->interface);
  return "reply type " + std::to_string(static_cast<int>(helper::type_of(m)));
}

int raw(const char* helper_path, const net::IpAddress& ip) {
  const std::uint32_t address = ip.v4_network();
  int sv[2], cap[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0 ||
      socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, cap) != 0)
    return 2;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, sv[1], 0);
  posix_spawn_file_actions_adddup2(&actions, cap[1], 3);
  char* argv[] = {const_cast<char*>(helper_path), nullptr};
  char* envp[] = {nullptr};
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, helper_path, &actions, nullptr, argv, envp);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    std::printf("cannot run the helper\n");
    return 1;
  }
  close(sv[1]);
  close(cap[1]);

  int descriptors = 0;
  // The request of version 1 that handed the capture socket over.
  std::vector<std::uint8_t> old = helper::encode({1, helper::Hello{}});
  old[6] = 20;
  const std::uint8_t* a = reinterpret_cast<const std::uint8_t*>(&address);
  old[12] = 4;
  old.insert(old.end(), a, a + 4);
  std::printf("old request: %s, descriptors %d\n", request(sv[0], old, descriptors).c_str(), descriptors);
  std::printf("start capture: %s, descriptors %d\n",
              request(sv[0],
                      helper::encode({2, helper::StartCapture{ip.is_v6() ? net::CaptureAddress::ipv6(ip.bytes)
                                                                         : net::CaptureAddress::ipv4(address)}}),
                      descriptors)
                  .substr(0, 10)
                  .c_str(),
              descriptors);
  std::printf("started\n");
  std::fflush(stdout);

  std::vector<std::uint8_t> buf(helper::kHeaderSize + helper::kMaxPayload);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  std::uint32_t datagrams = 0;
  while (datagrams == 0 && std::chrono::steady_clock::now() < deadline) {
    const ssize_t n = receive(cap[0], buf, descriptors, 200);
    if (n <= static_cast<ssize_t>(helper::kHeaderSize)) continue;
    auto view = helper::view_capture_batch(std::span(buf).subspan(helper::kHeaderSize,
                                                                   static_cast<std::size_t>(n) - helper::kHeaderSize));
    if (view) datagrams += view->count;
  }
  std::printf("batch: %s, descriptors %d\n", datagrams > 0 ? "datagrams" : "none", descriptors);
  close(sv[0]);
  close(cap[0]);
  kill(pid, SIGTERM);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[2]) == "--raw") {
    const auto address = net::parse_ip(argv[3]);
    if (!address) return 2;
    return raw(argv[1], *address);
  }
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s HELPER ADDRESS COUNT | HELPER --raw ADDRESS\n", argv[0]);
    return 2;
  }
  const auto address = net::parse_ip(argv[2]);
  if (!address) return 2;
  platform::HelperClient helper({argv[1]});
  platform::LinuxPacketCapture capture(&helper);
  Printer printer(*address, std::atoi(argv[3]));
  if (const auto started = capture.start(*address, printer); !started.ok()) {
    std::printf("%s\n", packets::capture_failure_text(started.error(), Language::English).c_str());
    return 1;
  }
  std::printf("%s\nstarted\n", capture.through_helper() ? "helper" : "in-process");
  std::fflush(stdout);
  printer.wait();
  std::printf("packet sockets: %d\n", packet_sockets());
  capture.stop();
  std::printf("dropped: %llu\n", static_cast<unsigned long long>(capture.stats().dropped));
  return 0;
}
