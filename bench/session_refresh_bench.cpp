// One Session Monitor refresh against `ss -tanp` on the same table: 1000
// established TCP sockets over the loopback of a namespace of our own, held by
// 50 child processes (each with 10 connections to its own listener, both
// ends), processes included. The refresh is timed in-process; `ss` is run as
// a child in the same namespace, so its time includes starting it, which is
// what a user of `ss` pays too. Both are printed side by side, with the
// refresh of a program that has just started (its first refresh walks
// /proc/PID/fd of every process), which later refreshes do not pay: they find
// every socket in the kept inode -> pid map. The refreshes run on a clock that
// advances 500 ms each, as the timer's, so every second one also checks the
// kept owners of the rows (one stat of /proc/PID/fd per owning process).
// Between two timed refreshes one byte goes over a connection of the bench's
// own, so that the TCP counters move and every refresh walks the kernel's
// tables as on a busy machine; the refresh of a table that did not change
// (its TCP dump given again) is printed beside it.
//
// Needs root (namespaces; reading the children's fds). Run:
//   build/session_refresh_bench
// bench/tarnixd_sessions_usage.sh uses its other mode,
//   build/session_refresh_bench --hold-connections
// which opens the same 1000 connections in 50 processes in the caller's own
// network namespace, prints "ready" and holds them until it is ended.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <string_view>
#include <memory>
#include <vector>

#include "netns.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_connection_killer.h"
#include "platform/fake/fake_file_store.h"
#include "platform/fake/fake_reverse_resolver.h"
#include "platform/linux/proc_sockets.h"
#include "platform/linux/sock_diag.h"
#include "sessions/session_monitor.h"

extern char** environ;

namespace {

constexpr int kProcesses = 50;
constexpr int kConnectionsEach = 10;  // both ends in the same child: 20 sockets each

struct Setup {
  std::unique_ptr<tw::test::NetNs> ns;
  std::vector<pid_t> children;
  std::unique_ptr<tw::platform::SockDiagSocketTable> sockets;
  // A connection of the bench's own in the namespace: a byte over it moves
  // the TCP counters.
  int poke_client = -1, poke_server = -1;
  void poke() const {
    char b = 1;
    if (write(poke_client, &b, 1) == 1) (void)read(poke_server, &b, 1);
  }
  ~Setup() {
    for (int fd : {poke_client, poke_server})
      if (fd >= 0) close(fd);
    for (pid_t p : children) kill(p, SIGKILL);
    for (pid_t p : children) waitpid(p, nullptr, 0);
  }
};
Setup* g_setup = nullptr;
double g_refresh_ms = 0, g_first_refresh_ms = 0, g_ss_ms = 0, g_unchanged_cpu_ms = 0;
int g_tcp_walks = 0, g_unchanged_tcp_walks = 0, g_unchanged_refreshes = 0;
// CPU time as well: on a machine shared with other work the wall times swing
// with the load, the CPU each side spends does not.
double g_refresh_cpu_ms = 0, g_ss_cpu_ms = 0;

double thread_cpu_ms() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

double rusage_ms(const rusage& ru) {
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e3 +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e3;
}
int g_walks = 0;

// In the child: a listener, kConnectionsEach connections to it, accepted;
// then one byte on `ready` and a wait for the end.
[[noreturn]] void hold_connections(int ready) {
  const int l = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(l, 64) != 0 ||
      getsockname(l, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    _exit(1);
  for (int i = 0; i < kConnectionsEach; ++i) {
    const int c = socket(AF_INET, SOCK_STREAM, 0);
    if (connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || accept(l, nullptr, nullptr) < 0) _exit(1);
  }
  const char b = 1;
  if (write(ready, &b, 1) != 1) _exit(1);
  for (;;) pause();
}

bool set_up(Setup& s) {
  if (!tw::test::is_root()) {
    std::fprintf(stderr, "session_refresh_bench: needs root\n");
    return false;
  }
  s.ns = std::make_unique<tw::test::NetNs>("sessbench");
  if (!s.ns->ok()) {
    std::fprintf(stderr, "namespace: %s\n", s.ns->error().c_str());
    return false;
  }
  int pipefd[2];
  if (pipe(pipefd) != 0) return false;
  const bool entered = s.ns->run([&] {
    for (int i = 0; i < kProcesses; ++i) {
      const pid_t p = fork();
      if (p == 0) hold_connections(pipefd[1]);
      if (p > 0) s.children.push_back(p);
    }
    s.sockets = std::make_unique<tw::platform::SockDiagSocketTable>();
    const int l = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    s.poke_client = socket(AF_INET, SOCK_STREAM, 0);
    if (l >= 0 && bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(l, 1) == 0 &&
        getsockname(l, reinterpret_cast<sockaddr*>(&a), &len) == 0 &&
        connect(s.poke_client, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
      s.poke_server = accept(l, nullptr, nullptr);
    if (l >= 0) close(l);
  });
  close(pipefd[1]);
  int ready = 0;
  char b;
  while (ready < kProcesses && read(pipefd[0], &b, 1) == 1) ++ready;
  close(pipefd[0]);
  if (!entered || ready != kProcesses || s.poke_server < 0) {
    std::fprintf(stderr, "session_refresh_bench: %d of %d processes ready\n", ready, kProcesses);
    return false;
  }
  return true;
}

// What a Session Monitor needs besides the socket and process tables: nothing
// that is timed (lookups never run, so no name service is asked).
struct MonitorFakes {
  tw::platform::FakeConnectionKiller killer;
  tw::platform::FakeClock clock;
  tw::platform::FakeFileStore files;
  tw::platform::FakeReverseResolver resolver;
  tw::platform::FakeLookupWorkers workers;
  tw::shared::HostNameCache hosts{resolver, workers};
  tw::shared::FlowKeyTable keys;
  tw::sessions::SessionSettings settings;
  tw::sessions::SessionMonitorDeps deps(tw::platform::SocketTable& sockets, tw::platform::ProcessTable& processes,
                                         tw::sessions::ProcessNameCache& names) {
    return {sockets, processes, killer, clock, files, hosts, keys, names};
  }
};

void BM_SessionRefresh(benchmark::State& state) {
  Setup& s = *g_setup;
  tw::platform::ProcProcessTable processes;
  MonitorFakes f;
  tw::sessions::ProcessNameCache names(processes);
  tw::sessions::SessionMonitor monitor(f.deps(*s.sockets, processes, names), {}, f.settings, {});
  monitor.load_rules("IP2=192.0.2.\nHOST2=example.com,PORT2=80-90\n");
  monitor.set_auto_block(true);
  monitor.start();
  monitor.refresh();  // the first refresh walks /proc once, as the program's first one does
  std::size_t rows = 0;
  const int walks0 = s.sockets->tcp_walks();
  const auto t0 = std::chrono::steady_clock::now();
  const double cpu0 = thread_cpu_ms();
  for (auto _ : state) {
    s.poke();
    f.clock.advance_ms(500);
    monitor.refresh();
    rows = monitor.rows().size();
  }
  g_refresh_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count() /
                 static_cast<double>(state.iterations());
  g_refresh_cpu_ms = (thread_cpu_ms() - cpu0) / static_cast<double>(state.iterations());
  f.workers.run_all();  // the cache waits for its lookups when it goes
  state.counters["rows"] = static_cast<double>(rows);
  state.counters["proc_walks"] = processes.scans();
  g_walks = processes.scans();
  g_tcp_walks = s.sockets->tcp_walks() - walks0;
}

// The same refresh while no TCP socket changes: the last TCP dump stands
// (one in kTcpDumpReuse still walks).
void BM_UnchangedSessionRefresh(benchmark::State& state) {
  Setup& s = *g_setup;
  tw::platform::ProcProcessTable processes;
  MonitorFakes f;
  tw::sessions::ProcessNameCache names(processes);
  tw::sessions::SessionMonitor monitor(f.deps(*s.sockets, processes, names), {}, f.settings, {});
  monitor.start();
  monitor.refresh();
  const int walks0 = s.sockets->tcp_walks();
  const double cpu0 = thread_cpu_ms();
  for (auto _ : state) {
    f.clock.advance_ms(500);
    monitor.refresh();
  }
  g_unchanged_cpu_ms = (thread_cpu_ms() - cpu0) / static_cast<double>(state.iterations());
  g_unchanged_tcp_walks = s.sockets->tcp_walks() - walks0;
  g_unchanged_refreshes = static_cast<int>(state.iterations());
  f.workers.run_all();
}

// The first refresh of a program: a fresh inode -> pid map and name cache
// each time, so every one walks /proc.
void BM_FirstSessionRefresh(benchmark::State& state) {
  Setup& s = *g_setup;
  MonitorFakes f;
  double total = 0;
  for (auto _ : state) {
    tw::platform::ProcProcessTable processes;
    tw::sessions::ProcessNameCache names(processes);
    tw::sessions::SessionMonitor monitor(f.deps(*s.sockets, processes, names), {}, f.settings, {});
    monitor.start();
    const auto t0 = std::chrono::steady_clock::now();
    monitor.refresh();
    total += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  }
  g_first_refresh_ms = total / static_cast<double>(state.iterations());
  f.workers.run_all();
}

void BM_SsTanp(benchmark::State& state) {
  Setup& s = *g_setup;
  double total = 0, cpu = 0;
  for (auto _ : state) {
    int status = -1;
    const auto t0 = std::chrono::steady_clock::now();
    s.ns->run([&] {
      pid_t pid;
      posix_spawn_file_actions_t fa;
      posix_spawn_file_actions_init(&fa);
      posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
      char* argv[] = {const_cast<char*>("ss"), const_cast<char*>("-tanp"), nullptr};
      rusage ru{};
      if (posix_spawnp(&pid, "ss", &fa, nullptr, argv, environ) == 0 && wait4(pid, &status, 0, &ru) == pid)
        cpu += rusage_ms(ru);
      posix_spawn_file_actions_destroy(&fa);
    });
    total += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    if (status != 0) state.SkipWithError("ss -tanp failed");
  }
  g_ss_ms = total / static_cast<double>(state.iterations());
  g_ss_cpu_ms = cpu / static_cast<double>(state.iterations());
}

BENCHMARK(BM_SessionRefresh)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_UnchangedSessionRefresh)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_FirstSessionRefresh)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_SsTanp)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

// Opens the connections in this network namespace and holds them until
// SIGTERM or SIGINT, then ends the children.
int hold_here() {
  sigset_t ending;
  sigemptyset(&ending);
  sigaddset(&ending, SIGTERM);
  sigaddset(&ending, SIGINT);
  sigprocmask(SIG_BLOCK, &ending, nullptr);  // the children inherit it; SIGKILL ends them
  int pipefd[2];
  if (pipe(pipefd) != 0) return 1;
  std::vector<pid_t> children;
  for (int i = 0; i < kProcesses; ++i) {
    const pid_t p = fork();
    if (p == 0) hold_connections(pipefd[1]);
    if (p > 0) children.push_back(p);
  }
  close(pipefd[1]);
  int ready = 0;
  char b;
  while (ready < kProcesses && read(pipefd[0], &b, 1) == 1) ++ready;
  close(pipefd[0]);
  int status = 1;
  if (ready == kProcesses) {
    std::printf("ready\n");
    std::fflush(stdout);
    int sig = 0;
    sigwait(&ending, &sig);
    status = 0;
  } else {
    std::fprintf(stderr, "session_refresh_bench: %d of %d processes ready\n", ready, kProcesses);
  }
  for (pid_t p : children) kill(p, SIGKILL);
  for (pid_t p : children) waitpid(p, nullptr, 0);
  return status;
}

int main(int argc, char** argv) {
  if (argc == 2 && std::string_view(argv[1]) == "--hold-connections") return hold_here();
  benchmark::Initialize(&argc, argv);
  Setup s;
  if (!set_up(s)) return 1;
  g_setup = &s;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  // ss's figure includes a thread entering the namespace, the same for both.
  std::printf("\n%d established sockets across %d processes\n", kProcesses * kConnectionsEach * 2, kProcesses);
  std::printf("session refresh: %8.3f ms   ss -tanp: %8.3f ms   ratio: %.3f (target at most 0.2)   wall time\n",
              g_refresh_ms, g_ss_ms, g_ss_ms > 0 ? g_refresh_ms / g_ss_ms : 0.0);
  std::printf("session refresh: %8.3f ms   ss -tanp: %8.3f ms   ratio: %.3f (target at most 0.2)   CPU time\n",
              g_refresh_cpu_ms, g_ss_cpu_ms, g_ss_cpu_ms > 0 ? g_refresh_cpu_ms / g_ss_cpu_ms : 0.0);
  std::printf("/proc walks over all the refreshes above: %d (the first refresh's); every second refresh checked "
              "the kept owners\n",
              g_walks);
  std::printf("TCP table walks in those refreshes: %d (one each: a byte went over a connection before each)\n",
              g_tcp_walks);
  std::printf("refresh of an unchanged table: %8.3f ms CPU, %d TCP table walks in %d refreshes\n",
              g_unchanged_cpu_ms, g_unchanged_tcp_walks, g_unchanged_refreshes);
  std::printf("first refresh of a program (walks /proc): %8.3f ms\n", g_first_refresh_ms);
  return 0;
}
