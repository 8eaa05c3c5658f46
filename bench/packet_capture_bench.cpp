// The capture keeping up with a flood: 200,000 UDP datagrams per second for
// five seconds from one namespace to another over a veth pair, captured on
// the receiving side by the Packet Monitor's capture (the capture thread
// decoding every datagram into the latest-packet record, flow-key search
// included), twice:
//   - in-process: the capture thread reads the packet socket itself, as a
//     program with CAP_NET_RAW (tarnixd as root) does;
//   - through the helper: tarnix-helper reads the packet socket and forwards
//     the datagrams in batches over its capture channel, which the capture
//     thread reads, as the desktop program of a member of the group
//     tarnwatch does.
// Prints for each what was sent, received and decoded, the datagrams lost
// (the kernel's drop count of the capture socket; through the helper also
// those it could not forward), and the CPU used per datagram: the capture
// thread's, and through the helper the helper process's on top.
//
// Needs root (namespaces, packet sockets); the helper is the tarnix-helper
// beside this program. Run: build/packet_capture_bench
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
using Route = platform::LinuxPacketCapture::Route;

constexpr int kRate = 200'000;  // datagrams per second
constexpr int kSeconds = 5;
constexpr int kPerMs = kRate / 1000;

// utime + stime of a /proc/.../stat line, in seconds.
double stat_cpu_seconds(const std::string& stat_path) {
  std::string stat;
  std::getline(std::ifstream(stat_path), stat);
  const auto paren = stat.rfind(')');
  if (paren == std::string::npos) return -1;
  std::istringstream rest(stat.substr(paren + 2));
  std::string field;
  unsigned long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::stoul(field);
    if (i == 15) stime = std::stoul(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// CPU seconds of this process's thread named `name`.
double thread_cpu_seconds(const std::string& name) {
  DIR* d = opendir("/proc/self/task");
  if (d == nullptr) return -1;
  double total = -1;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    const std::string base = std::string("/proc/self/task/") + e->d_name;
    std::string comm;
    std::getline(std::ifstream(base + "/comm"), comm);
    if (comm == name) total = stat_cpu_seconds(base + "/stat");
  }
  closedir(d);
  return total;
}

// CPU seconds of the helper process; 0 when none runs.
double helper_cpu_seconds(pid_t helper) {
  return helper > 0 ? stat_cpu_seconds("/proc/" + std::to_string(helper) + "/stat") : 0;
}

struct Run {
  bool ok = false;
  std::string error;
  long sent = 0;
  double wall = 0;
  std::uint64_t decoded = 0;
  platform::CaptureStats stats;
  double cpu = 0;  // seconds
  double helper_cpu = 0;
  bool through_helper = false;
};

// Sends kRate datagrams a second for kSeconds from the right to the left's
// port 9000.
void flood(test::VethLink& link, std::uint32_t left, std::uint32_t right, Run& run) {
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
      run.sent += done;
      next.tv_nsec += 1'000'000;
      if (next.tv_nsec >= 1'000'000'000) next.tv_nsec -= 1'000'000'000, ++next.tv_sec;
      clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
    run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    close(s);
  });
}

Run measure(test::VethLink& link, Route route) {
  Run run;
  const std::uint32_t left = *shared::parse_address(link.left_addr());
  const std::uint32_t right = *shared::parse_address(link.right_addr());
  // Everything on one thread of the left namespace: the helper joins the
  // namespace of the thread that starts it and ends with that thread.
  link.left().run([&] {
    platform::HelperClient helper;
    platform::LinuxPacketCapture capture(&helper, route);
    platform::SystemClock clock;
    shared::FlowKeyTable keys;
    keys.replace({{shared::udp_flow_key(link.left_addr(), 9000), 1}});
    platform::FakeReverseResolver resolver;
    platform::FakeLookupWorkers workers;
    shared::HostNameCache hosts(resolver, workers);
    packets::PacketMonitor monitor({capture, clock, keys, hosts, {}}, Language::English, packets::PacketSettings{});

    const int receiver = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{AF_INET, htons(9000), {left}, {}};
    bind(receiver, reinterpret_cast<sockaddr*>(&at), sizeof at);
    monitor.load_addresses();
    const packets::StartOutcome started = monitor.start(link.left_addr());
    if (started.kind != packets::StartOutcome::Started) {
      run.error = started.message;
      close(receiver);
      return;
    }
    while (!monitor.running()) std::this_thread::sleep_for(1ms);
    run.through_helper = capture.through_helper();
    const pid_t helper_pid = run.through_helper ? helper.pid() : 0;
    const double thread_before = thread_cpu_seconds("tw-capture");
    const double helper_before = helper_cpu_seconds(helper_pid);

    flood(link, left, right, run);
    std::this_thread::sleep_for(200ms);  // let the queue drain
    run.helper_cpu = helper_cpu_seconds(helper_pid) - helper_before;
    run.cpu = thread_cpu_seconds("tw-capture") - thread_before + run.helper_cpu;
    run.decoded = monitor.decoded();
    monitor.stop();
    run.stats = capture.stats();
    monitor.display_tick();  // the clean-up
    close(receiver);
    workers.run_all();
    run.ok = true;
  });
  return run;
}

void print(const char* title, const Run& run) {
  std::printf("%s\n", title);
  if (!run.ok) {
    std::printf("  failed: %s\n", run.error.c_str());
    return;
  }
  std::printf("  sent        %ld datagrams in %.2f s (%.0f/s, aimed at %d/s%s)\n", run.sent, run.wall,
              static_cast<double>(run.sent) / run.wall, kRate,
              static_cast<double>(run.sent) / run.wall < 0.95 * kRate ? "; the sender could not keep the pace" : "");
  std::printf("  received    %llu by the capture, %llu decoded\n", static_cast<unsigned long long>(run.stats.received),
              static_cast<unsigned long long>(run.decoded));
  std::printf("  dropped     %llu (target 0)", static_cast<unsigned long long>(run.stats.dropped));
  if (run.through_helper)
    std::printf(", of them %llu not forwarded by the helper",
                static_cast<unsigned long long>(run.stats.forward_dropped));
  std::printf("\n");
  const double per = run.decoded ? 1e6 * run.cpu / static_cast<double>(run.decoded) : 0.0;
  std::printf("  CPU         %.2f s over %.2f s = %.1f%% of one core, %.2f us per datagram", run.cpu, run.wall,
              100.0 * run.cpu / run.wall, per);
  if (run.through_helper)
    std::printf(" (helper %.2f us, capture thread %.2f us)",
                run.decoded ? 1e6 * run.helper_cpu / static_cast<double>(run.decoded) : 0.0,
                run.decoded ? 1e6 * (run.cpu - run.helper_cpu) / static_cast<double>(run.decoded) : 0.0);
  std::printf("\n");
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
  const Run in_process = measure(link, Route::InProcessFirst);
  print("capture in-process (CAP_NET_RAW):", in_process);
  const Run helper = measure(link, Route::HelperOnly);
  print("capture through tarnix-helper (datagrams forwarded, never the socket):", helper);
  const bool ok = in_process.ok && helper.ok && in_process.stats.dropped == 0 && helper.stats.dropped == 0;
  return ok ? 0 : 1;
}
