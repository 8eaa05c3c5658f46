// The capture keeping up with a flood: 200,000 UDP datagrams per second for
// five seconds from one namespace to another over a veth pair, captured on
// the receiving side by the Packet Monitor's capture (the capture thread
// decoding every datagram into the latest-packet record, flow-key search
// included). Prints what was sent, received and decoded, the kernel's drop
// count for the capture socket, and the CPU the capture thread used.
//
// Needs root (namespaces, packet sockets). Run: build/packet_capture_bench
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "netns.h"
#include "packets/packet_monitor.h"
#include "platform/fake/fake_reverse_resolver.h"
#include "platform/linux/linux_packet_capture.h"
#include "platform/linux/system_clock.h"

namespace {

using namespace tw;
using namespace std::chrono_literals;

constexpr int kRate = 200'000;  // datagrams per second
constexpr int kSeconds = 5;
constexpr int kPerMs = kRate / 1000;

// CPU seconds of this process's thread named `name`, from /proc.
double thread_cpu_seconds(const std::string& name) {
  DIR* d = opendir("/proc/self/task");
  if (d == nullptr) return -1;
  double total = -1;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    const std::string base = std::string("/proc/self/task/") + e->d_name;
    std::string comm;
    std::getline(std::ifstream(base + "/comm"), comm);
    if (comm != name) continue;
    std::string stat;
    std::getline(std::ifstream(base + "/stat"), stat);
    std::istringstream rest(stat.substr(stat.rfind(')') + 2));
    std::string field;
    unsigned long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
      if (i == 14) utime = std::stoul(field);
      if (i == 15) stime = std::stoul(field);
    }
    total = static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
  }
  closedir(d);
  return total;
}

}  // namespace

int main() {
  if (!test::is_root()) {
    std::printf("packet_capture_bench: needs root (namespaces, packet sockets)\n");
    return 0;
  }
  test::VethLink link("capbench");
  if (!link.ok()) {
    std::printf("packet_capture_bench: %s\n", link.error().c_str());
    return 1;
  }
  const std::uint32_t left = *shared::parse_address(link.left_addr());
  const std::uint32_t right = *shared::parse_address(link.right_addr());

  platform::LinuxPacketCapture capture(nullptr);
  platform::SystemClock clock;
  shared::FlowKeyTable keys;
  keys.replace({{shared::udp_flow_key(link.left_addr(), 9000), 1}});
  platform::FakeReverseResolver resolver;
  platform::FakeLookupWorkers workers;
  shared::HostNameCache hosts(resolver, workers);
  packets::PacketMonitor monitor({capture, clock, keys, hosts, {}}, Language::English, packets::PacketSettings{});

  int receiver = -1;
  packets::StartOutcome started;
  link.left().run([&] {
    receiver = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{AF_INET, htons(9000), {left}, {}};
    bind(receiver, reinterpret_cast<sockaddr*>(&at), sizeof at);
    monitor.load_addresses();
    started = monitor.start(link.left_addr());
  });
  if (started.kind != packets::StartOutcome::Started) {
    std::printf("packet_capture_bench: %s\n", started.message.c_str());
    return 1;
  }
  while (!monitor.running()) std::this_thread::sleep_for(1ms);
  const double cpu_before = thread_cpu_seconds("tw-capture");

  long sent = 0;
  double wall = 0;
  link.right().run([&] {
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{AF_INET, htons(9001), {right}, {}};
    bind(s, reinterpret_cast<sockaddr*>(&from), sizeof from);
    sockaddr_in to{AF_INET, htons(9000), {left}, {}};
    connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to);
    char payload[32] = "tarnwatch capture benchmark";
    std::vector<iovec> iov(kPerMs, iovec{payload, sizeof payload});
    std::vector<mmsghdr> msgs(kPerMs);
    for (int i = 0; i < kPerMs; ++i) {
      msgs[static_cast<std::size_t>(i)].msg_hdr.msg_iov = &iov[static_cast<std::size_t>(i)];
      msgs[static_cast<std::size_t>(i)].msg_hdr.msg_iovlen = 1;
    }
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    const auto t0 = std::chrono::steady_clock::now();
    for (int ms = 0; ms < kSeconds * 1000; ++ms) {
      int done = 0;
      while (done < kPerMs) {
        const int n = sendmmsg(s, msgs.data() + done, static_cast<unsigned>(kPerMs - done), 0);
        if (n <= 0) break;
        done += n;
      }
      sent += done;
      next.tv_nsec += 1'000'000;
      if (next.tv_nsec >= 1'000'000'000) next.tv_nsec -= 1'000'000'000, ++next.tv_sec;
      clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
    wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    close(s);
  });
  std::this_thread::sleep_for(200ms);  // let the queue drain
  const double cpu = thread_cpu_seconds("tw-capture") - cpu_before;
  const std::uint64_t decoded = monitor.decoded();
  monitor.stop();
  const platform::CaptureStats stats = capture.stats();
  close(receiver);

  std::printf("sent        %ld datagrams in %.2f s (%.0f/s, aimed at %d/s%s)\n", sent, wall,
              static_cast<double>(sent) / wall, kRate,
              static_cast<double>(sent) / wall < 0.95 * kRate ? "; the sender could not keep the pace on this machine" : "");
  std::printf("received    %llu by the capture socket, %llu decoded\n",
              static_cast<unsigned long long>(stats.received), static_cast<unsigned long long>(decoded));
  std::printf("dropped     %llu by the kernel for the capture socket\n",
              static_cast<unsigned long long>(stats.dropped));
  std::printf("capture CPU %.2f s over %.2f s = %.1f%% of one core, %.2f us per datagram\n", cpu, wall,
              100.0 * cpu / wall, decoded ? 1e6 * cpu / static_cast<double>(decoded) : 0.0);
  workers.run_all();
  return stats.dropped == 0 ? 0 : 1;
}
