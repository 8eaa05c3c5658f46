// tarnixd end to end, on the real kernel: byte counts against the kernel's own
// counters, the command channel, the status block, later instances, another
// user, an unusable settings file, sleep and wake-up, and the orderly end on
// SIGTERM.
//
// Isolation: tarnixd runs inside a namespace of its own (ip netns exec), with
// XDG_RUNTIME_DIR in a temporary folder (its lock and command socket), a
// temporary folder bind-mounted on /dev/shm in the mount namespace that ip
// netns exec creates for each command (its status block) and a system bus
// address of the test's own, so no real instance, bus or logind is touched.
// Traffic goes only over the test's own veth pair and loopback.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/startup.h"
#include "fake_logind.h"
#include "netns.h"
#include "platform/linux/file_store.h"
#include "platform/linux/owned_fd.h"
#include "platform/linux/process_wait.h"
#include "platform/linux/system_info.h"
#include "settings/profile.h"
#include "tarnixd_harness.h"
#include "traffic/traffic_monitor.h"

#if defined(TW_TARNIXD) && defined(TW_TARNIXCTL)

namespace tw {
namespace {

using namespace std::chrono_literals;
using test::CommandResult;
using test::Daemon;
using test::eventually;
using test::FakeLogind;
using test::NetNs;
using test::PrivateBus;
using test::quoted;
using test::Sandbox;
using test::send_datagrams;
using test::tarnixctl;
using test::udp_socket;

// The published record: fifteen comma-terminated numbers.
struct Record {
  std::uint64_t seconds = 0;
  std::uint64_t capture_send = 0, capture_recv = 0, gross_send = 0, gross_recv = 0;
};

std::optional<Record> status_record(const NetNs& ns, const Sandbox& box, const std::string& as = "") {
  const CommandResult r = tarnixctl(ns, box, "status", as);
  if (!r.ok()) return std::nullopt;
  std::vector<std::int64_t> f;
  std::istringstream in(r.output);
  std::string field;
  while (std::getline(in, field, ',')) {
    if (field.find_first_not_of(" \n") == std::string::npos) continue;
    f.push_back(std::strtoll(field.c_str(), nullptr, 10));
  }
  if (f.size() != 15) return std::nullopt;
  auto total = [&](int i) {
    return traffic::decode_total(static_cast<std::uint32_t>(f[i]), static_cast<std::uint32_t>(f[i + 1]),
                                 static_cast<std::uint32_t>(f[i + 2]));
  };
  return Record{static_cast<std::uint64_t>(f[0]), total(1), total(4), total(7), total(10)};
}

// The gross totals as the settings file holds them.
std::pair<std::uint64_t, std::uint64_t> saved_gross(const std::string& ini) {
  platform::LinuxFileStore files;
  settings::Profile p(files, ini);
  auto u = [&](const char* key) { return static_cast<std::uint32_t>(p.read_int("Traffic", key, 0)); };
  return {traffic::decode_total(u("TotalSend"), u("TotalSendB"), u("TotalSendD")),
          traffic::decode_total(u("TotalRecv"), u("TotalRecvB"), u("TotalRecvD"))};
}

// Sum of the "SEND,RECV" lines of a traffic log written with that template.
std::pair<std::uint64_t, std::uint64_t> log_sums(const std::string& text) {
  std::pair<std::uint64_t, std::uint64_t> sum{0, 0};
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const auto comma = line.find(',');
    if (comma == std::string::npos) continue;
    sum.first += std::strtoull(line.c_str(), nullptr, 10);
    sum.second += std::strtoull(line.c_str() + comma + 1, nullptr, 10);
  }
  return sum;
}


struct Counters {
  std::uint64_t tx = 0, rx = 0;
};
std::optional<Counters> kernel_counters(const NetNs& ns, const std::string& iface) {
  auto tx = ns.sys_counter(iface, "tx_bytes");
  auto rx = ns.sys_counter(iface, "rx_bytes");
  if (!tx || !rx) return std::nullopt;
  return Counters{*tx, *rx};
}

constexpr char kSeededGross[] =
    "[Traffic]\nTotalSend=5\nTotalSendB=1024\nTotalSendD=7\n"
    "TotalRecv=3\nTotalRecvB=0\nTotalRecvD=0\n";

TEST(Tarnixd, CountsEveryByteTakesCommandsAndEndsInOrder) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (network namespaces)";
  Sandbox box;
  ASSERT_TRUE(box.ok());
  test::VethLink link("e2e");
  ASSERT_TRUE(link.ok()) << link.error();
  NetNs& left = link.left();
  NetNs& right = link.right();
  // Fixed neighbours: no ARP moves a counter behind the test's back.
  const auto left_mac = left.sys_file(link.left_if(), "address");
  const auto right_mac = right.sys_file(link.right_if(), "address");
  ASSERT_TRUE(left_mac && right_mac);
  ASSERT_TRUE(left.ip("neigh replace " + link.right_addr() + " lladdr " + *right_mac + " dev " +
                      link.left_if() + " nud permanent").ok());
  ASSERT_TRUE(right.ip("neigh replace " + link.left_addr() + " lladdr " + *left_mac + " dev " +
                       link.right_if() + " nud permanent").ok());

  // Nothing runs yet: no status record, nobody to take a command.
  EXPECT_EQ(tarnixctl(left, box, "status").status, 1);
  EXPECT_EQ(tarnixctl(left, box, "send " + quoted("tarnix.trafficmonitor /init")).status, 1);

  const std::string ini = box.settings_path(false);
  box.write_file(ini, std::string(kSeededGross) +
                          "LogCheck=1\nLogCycleTime=1\nLogFileName=traffic.log\n"
                          "LogFmt=$TOTAL_SEND_DIS$,$TOTAL_RECV_DIS$\n"
                          "[Report]\nLogCheck=1\nLogCycleTime=1\nLogFileName=report.log\n");
  Daemon d(left, box, "--interface " + link.left_if() + " --data-dir " + box.data() + " --live", "d1");
  ASSERT_TRUE(d.started());

  // Sample well past the three baseline ticks before any byte moves.
  std::optional<Record> rec;
  ASSERT_TRUE(eventually([&] { return (rec = status_record(left, box)) && rec->seconds >= 2; }))
      << d.diagnostics(box);
  EXPECT_EQ(rec->capture_send, 0u);
  EXPECT_EQ(rec->gross_send, 5u * 1024 + 7);  // loaded from the file
  EXPECT_EQ(rec->gross_recv, 3u);

  // Traffic both ways across the pair.
  const auto k0 = kernel_counters(left, link.left_if());
  ASSERT_TRUE(k0);
  platform::OwnedFd lsock, rsock;
  ASSERT_TRUE(left.run([&] { lsock = udp_socket(link.left_addr(), 40001); }));
  ASSERT_TRUE(right.run([&] { rsock = udp_socket(link.right_addr(), 40002); }));
  ASSERT_TRUE(lsock && rsock);
  send_datagrams(lsock, link.right_addr(), 40002, 300, 1200);
  send_datagrams(rsock, link.left_addr(), 40001, 120, 700);
  const auto k1 = kernel_counters(left, link.left_if());
  ASSERT_TRUE(k1);
  const std::uint64_t sent = k1->tx - k0->tx, received = k1->rx - k0->rx;
  ASSERT_GE(sent, 300u * 1200);
  ASSERT_GE(received, 120u * 700);

  // The status record and the traffic log settle on the kernel's difference, to the byte.
  EXPECT_TRUE(eventually([&] {
    rec = status_record(left, box);
    return rec && rec->capture_send == sent && rec->capture_recv == received;
  })) << "status " << (rec ? rec->capture_send : 0) << "/" << (rec ? rec->capture_recv : 0)
      << " kernel " << sent << "/" << received;
  EXPECT_EQ(rec->gross_send, 5u * 1024 + 7 + sent);
  EXPECT_EQ(rec->gross_recv, 3u + received);
  std::pair<std::uint64_t, std::uint64_t> logged;
  EXPECT_TRUE(eventually([&] {
    logged = log_sums(box.read_file(box.data() + "traffic.log"));
    return logged.first == sent && logged.second == received;
  })) << "log " << logged.first << "/" << logged.second << " kernel " << sent << "/" << received;

  // "/totalinit" zeroes the gross totals in the settings file at once.
  ASSERT_TRUE(tarnixctl(left, box, "send " + quoted("tarnix.trafficmonitor /totalinit")).ok());
  EXPECT_TRUE(eventually([&] { return saved_gross(ini) == std::pair<std::uint64_t, std::uint64_t>{0, 0}; }));
  const std::string text = box.read_file(ini);
  for (const char* key : {"TotalSend=0\n", "TotalSendB=0\n", "TotalSendD=0\n", "TotalRecv=0\n",
                          "TotalRecvB=0\n", "TotalRecvD=0"})
    EXPECT_NE(text.find(key), std::string::npos) << key << " in\n" << text;

  // More traffic, then SIGTERM: the totals counted since are saved.
  send_datagrams(lsock, link.right_addr(), 40002, 50, 1000);
  const auto k2 = kernel_counters(left, link.left_if());
  ASSERT_TRUE(k2);
  const std::uint64_t sent2 = k2->tx - k1->tx, received2 = k2->rx - k1->rx;
  EXPECT_TRUE(eventually([&] {
    rec = status_record(left, box);
    return rec && rec->gross_send == sent2 && rec->gross_recv == received2;
  }));
  const std::optional<int> exit_status = d.stop(SIGTERM);
  ASSERT_TRUE(exit_status.has_value()) << "tarnixd did not end on SIGTERM";
  EXPECT_EQ(*exit_status, 0) << d.diagnostics(box);
  EXPECT_EQ(saved_gross(ini), (std::pair<std::uint64_t, std::uint64_t>{sent2, received2}));
  // The last record stays readable, marked as one of an instance that ended.
  const CommandResult last = tarnixctl(left, box, "status");
  EXPECT_EQ(last.status, 3) << last.output;
  EXPECT_EQ(std::count(last.output.begin(), last.output.end(), ','), 15) << last.output;
  EXPECT_NE(last.output.find("has ended"), std::string::npos) << last.output;

  const std::string report = box.read_file(box.data() + "report.log");
  EXPECT_EQ(report.rfind("# [ ", 0), 0u) << report;  // the Start-Log marker opens it
  EXPECT_NE(report.find("] Start-Log\n"), std::string::npos) << report;
  const auto end_marker = report.rfind("] End-Log\n");
  ASSERT_NE(end_marker, std::string::npos) << report;
  EXPECT_EQ(end_marker + 10, report.size()) << "End-Log is the last line:\n" << report;
  EXPECT_NE(box.read_file(ini).find("InterfaceName=" + link.left_if()), std::string::npos);
  EXPECT_NE(box.read_file(d.stdout_path()).find(link.left_if() + "  UL:"), std::string::npos)
      << "live line missing";
}

// Counts the occurrences of `needle` in `text`.
int occurrences(const std::string& text, const std::string& needle) {
  int n = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

TEST(Tarnixd, LaterInstancesKeepTheirFilesAndEachTakesCommands) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (network namespaces)";
  Sandbox box;
  ASSERT_TRUE(box.ok());
  NetNs ns("e2e2");
  ASSERT_TRUE(ns.ok()) << ns.error();
  const std::string first_ini = box.settings_path(false), second_ini = box.settings_path(true);
  ASSERT_NE(first_ini, second_ini);
  EXPECT_NE(second_ini.find("_#2.ini"), std::string::npos);
  box.write_file(first_ini, kSeededGross);
  box.write_file(second_ini, kSeededGross);
  const std::string copy = box.copy_of_tarnixd();
  ASSERT_FALSE(copy.empty());

  // The desktop program's command line rules: "/w" alone, or with more than
  // a process id after it, is ignored and the instance starts normally.
  Daemon first(ns, box, "/w", "first", copy);
  ASSERT_TRUE(eventually([&] { return status_record(ns, box).has_value(); })) << first.diagnostics(box);
  Daemon second(ns, box, "/w 1 2", "second", copy);
  ASSERT_TRUE(eventually([&] { return tarnixctl(ns, box, "--second send x").ok(); })) << second.diagnostics(box);
  Daemon third(ns, box, "--verbose --quiet", "third", copy);
  ASSERT_TRUE(eventually([&] { return tarnixctl(ns, box, "--instance 3 send x").ok(); })) << third.diagnostics(box);

  // Each instance takes commands on its own socket.
  ASSERT_TRUE(tarnixctl(ns, box, "--second send " + quoted("tarnix.trafficmonitor /totalinit")).ok())
      << second.diagnostics(box);
  EXPECT_TRUE(eventually([&] { return saved_gross(second_ini).first == 0; }));
  EXPECT_EQ(saved_gross(first_ini).first, 5u * 1024 + 7);
  // Without rules the start fails, and tarnixctl says so (exit status 1).
  ASSERT_EQ(tarnixctl(ns, box, "--instance 3 send " + quoted("tarnix.packetfilter /start")).status, 1);
  EXPECT_TRUE(eventually([&] {
    return box.read_file(third.stderr_path()).find("packet filter: no rules") != std::string::npos;
  })) << third.diagnostics(box);
  EXPECT_EQ(tarnixctl(ns, box, "--instance 4 send x").status, 1);
  EXPECT_EQ(tarnixctl(ns, box, "--instance 0 send x").status, 2);

  // --all reaches every one of them.
  const CommandResult all = tarnixctl(ns, box, "--all send " + quoted("tarnix.packetfilter /reload"));
  EXPECT_TRUE(all.ok()) << all.output;
  EXPECT_TRUE(eventually([&] {
    // Once at start, once for the command.
    const std::string err = box.read_file(third.stderr_path());
    const std::string read = "packet filter: 0 rules read from";
    const auto first_read = err.find(read);
    return first_read != std::string::npos && err.find(read, first_read + 1) != std::string::npos;
  })) << third.diagnostics(box);
  ASSERT_TRUE(tarnixctl(ns, box, "--all send " + quoted("tarnix.trafficmonitor /totalinit")).ok());
  EXPECT_TRUE(eventually([&] { return saved_gross(first_ini).first == 0; }));

  ASSERT_EQ(first.stop(SIGINT), std::optional<int>(0)) << first.diagnostics(box);
  ASSERT_EQ(second.stop(SIGHUP), std::optional<int>(0)) << second.diagnostics(box);
  ASSERT_EQ(third.stop(SIGTERM), std::optional<int>(0)) << third.diagnostics(box);
  // Every one saved its own totals on the way out, all zeroed by --all.
  EXPECT_EQ(saved_gross(first_ini).first, 0u);
  EXPECT_EQ(saved_gross(second_ini).first, 0u);
  EXPECT_NE(box.read_file(first_ini).find("LogRootFolder="), std::string::npos);
  EXPECT_NE(box.read_file(second_ini).find("LogRootFolder="), std::string::npos);
  EXPECT_EQ(tarnixctl(ns, box, "--all send x").status, 1) << "nobody runs any more";
}

TEST(Tarnixd, AnotherUserPublishesToABlockOfItsOwn) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (network namespaces, another user)";
  Sandbox box;
  ASSERT_TRUE(box.ok());
  NetNs ns("e2eu");
  ASSERT_TRUE(ns.ok()) << ns.error();
  // The other user ("nobody") gets a private runtime folder and a data folder.
  namespace fs = std::filesystem;
  constexpr uid_t kOther = 65534;
  fs::permissions(box.root(), fs::perms(0711), fs::perm_options::replace);
  const std::string other_run = box.root() + "/run-other", other_data = box.root() + "/data-other/";
  for (const std::string& dir : {other_run, other_data}) {
    ASSERT_TRUE(fs::create_directory(dir));
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::replace);
    ASSERT_EQ(::chown(dir.c_str(), kOther, kOther), 0);
  }
  const std::string as_other = "XDG_RUNTIME_DIR=" + other_run +
                               " setpriv --reuid=65534 --regid=65534 --clear-groups ";
  const std::string other_ini =
      other_data + app::settings_file_name(app::kProgramBaseName, "nobody", platform::host_name(), false);
  box.write_file(box.settings_path(false), kSeededGross);
  box.write_file(other_ini, "[Traffic]\nTotalSend=0\nTotalSendB=0\nTotalSendD=9\n");
  ASSERT_EQ(::chown(other_ini.c_str(), kOther, kOther), 0);

  // The first user's instance owns the shared block.
  Daemon mine(ns, box, "--interface lo --quiet --data-dir " + box.data(), "mine");
  std::optional<Record> rec;
  ASSERT_TRUE(eventually([&] { return (rec = status_record(ns, box)).has_value(); })) << mine.diagnostics(box);
  EXPECT_EQ(rec->gross_send, 5u * 1024 + 7);

  // The other user's instance publishes to a block of its own, and its
  // tarnixctl reads that one.
  Daemon theirs(ns, box, "--interface lo --quiet --data-dir " + other_data, "theirs", TW_TARNIXD, as_other);
  EXPECT_TRUE(eventually([&] { return (rec = status_record(ns, box, as_other)) && rec->gross_send == 9u; }))
      << tarnixctl(ns, box, "status", as_other).output << theirs.diagnostics(box);
  rec = status_record(ns, box);
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->gross_send, 5u * 1024 + 7) << "the first user still reads only its own";

  struct stat shared {}, own {};
  ASSERT_EQ(::stat((box.shm() + "/Tarnwatch_Memory").c_str(), &shared), 0);
  ASSERT_EQ(::stat((box.shm() + "/Tarnwatch_Memory_65534").c_str(), &own), 0);
  EXPECT_EQ(shared.st_uid, ::geteuid());
  EXPECT_EQ(own.st_uid, kOther);
  EXPECT_EQ(own.st_mode & 0777, 0600u);
  EXPECT_EQ(::access((box.shm() + "/sem.Tarnwatch_Mutex_65534").c_str(), F_OK), 0);

  ASSERT_EQ(theirs.stop(SIGTERM), std::optional<int>(0)) << theirs.diagnostics(box);
  ASSERT_EQ(mine.stop(SIGTERM), std::optional<int>(0)) << mine.diagnostics(box);
}

TEST(Tarnixd, AnUnusableSettingsFileIsReportedOnceAndKept) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (network namespaces)";
  Sandbox box;
  ASSERT_TRUE(box.ok());
  NetNs ns("e2es");
  ASSERT_TRUE(ns.ok()) << ns.error();
  const std::string ini = box.settings_path(false);
  const struct {
    std::string content;
    std::string reason;
  } cases[] = {
      {std::string(kSeededGross) + std::string("\0\0", 2), "it holds NUL bytes"},
      {std::string(kSeededGross) + std::string(std::size_t{5} << 20, ';'), "it is larger than 4 MiB"},
  };
  int run = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    box.write_file(ini, c.content);
    Daemon d(ns, box, "--interface lo --quiet --data-dir " + box.data(), "unusable" + std::to_string(run++));
    std::optional<Record> rec;
    ASSERT_TRUE(eventually([&] { return (rec = status_record(ns, box)) && rec->seconds >= 1; }))
        << d.diagnostics(box);
    EXPECT_EQ(rec->gross_send, 0u) << "read as defaults";
    ASSERT_EQ(d.stop(SIGTERM), std::optional<int>(0)) << d.diagnostics(box);
    const std::string err = box.read_file(d.stderr_path());
    EXPECT_EQ(occurrences(err, "tarnixd: The settings file " + ini + " cannot be used: " + c.reason), 1) << err;
    EXPECT_NE(err.find("gross traffic totals"), std::string::npos) << err;
    EXPECT_TRUE(box.read_file(ini) == c.content) << "the file was changed";
  }
}

TEST(Tarnixd, SleepEndsTheReportAndSavesTheTotalsAndWakingUpRestartsIt) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (network namespaces)";
  Sandbox box;
  ASSERT_TRUE(box.ok());
  NetNs ns("e2ep");
  ASSERT_TRUE(ns.ok()) << ns.error();
  PrivateBus bus(box);
  ASSERT_TRUE(bus.ok()) << "dbus-daemon did not start";
  FakeLogind logind(bus.address());
  ASSERT_TRUE(logind.ok());
  box.bus_address = bus.address();

  const std::string ini = box.settings_path(false), report_log = box.data() + "report.log";
  box.write_file(ini, std::string(kSeededGross) + "[Report]\nLogCheck=1\nLogCycleTime=3600\nLogFileName=report.log\n");
  Daemon d(ns, box, "--interface lo --quiet --verbose --data-dir " + box.data(), "sleeper");
  // Once subscribed it holds a delay lock.
  ASSERT_TRUE(eventually([&] { return logind.locks_held() == 1; })) << d.diagnostics(box);

  // Some traffic over loopback once sampling runs, so that a save shows.
  std::optional<Record> rec;
  ASSERT_TRUE(eventually([&] { return (rec = status_record(ns, box)) && rec->seconds >= 2; })) << d.diagnostics(box);
  platform::OwnedFd sock;
  ASSERT_TRUE(ns.run([&] { sock = udp_socket("127.0.0.1", 40011); }));
  ASSERT_TRUE(sock);
  send_datagrams(sock, "127.0.0.1", 40011, 20, 500);
  ASSERT_TRUE(eventually([&] {
    return (rec = status_record(ns, box)) && rec->gross_send >= 5u * 1024 + 7 + 20 * 500;
  }));

  // Before the sleep: the End-Log entry and the totals, then the lock goes.
  logind.prepare_for_sleep(true);
  ASSERT_TRUE(eventually([&] { return logind.locks_held() == 0; })) << d.diagnostics(box);
  EXPECT_EQ(occurrences(box.read_file(report_log), "] End-Log\n"), 1) << box.read_file(report_log);
  EXPECT_EQ(saved_gross(ini).first, rec->gross_send);
  EXPECT_TRUE(d.running());

  // After the wake-up a successor with the same options takes over.
  logind.prepare_for_sleep(false);
  ASSERT_TRUE(eventually([&] { return !d.running(); })) << d.diagnostics(box);
  EXPECT_EQ(d.stop(), std::optional<int>(0));
  const std::string err = box.read_file(d.stderr_path());
  const auto at = err.find("successor ");
  ASSERT_NE(at, std::string::npos) << err;
  const long successor = std::strtol(err.c_str() + at + 10, nullptr, 10);
  ASSERT_GT(successor, 0);
  struct Reaper {
    long pid;
    ~Reaper() {
      if (kill(static_cast<pid_t>(pid), SIGKILL) == 0)
        platform::wait_for_process_exit(pid, std::chrono::seconds(10));
    }
  } reaper{successor};

  // It runs as the first instance again: publishes, takes commands, holds a
  // lock and starts the Report log; the old one wrote no second End-Log.
  EXPECT_TRUE(eventually([&] { return occurrences(box.read_file(report_log), "] Start-Log\n") == 2; }))
      << box.read_file(report_log) << d.diagnostics(box);
  EXPECT_EQ(occurrences(box.read_file(report_log), "] End-Log\n"), 1);
  EXPECT_TRUE(eventually([&] { return tarnixctl(ns, box, "send x").ok() && status_record(ns, box).has_value(); }));
  EXPECT_TRUE(eventually([&] { return logind.locks_held() == 1; }));

  ASSERT_EQ(kill(static_cast<pid_t>(successor), SIGTERM), 0);
  EXPECT_EQ(platform::wait_for_process_exit(successor, std::chrono::seconds(30)), platform::WaitResult::Gone);
  const std::string report = box.read_file(report_log);
  EXPECT_EQ(occurrences(report, "] End-Log\n"), 2) << report;
  EXPECT_EQ(report.rfind("] End-Log\n") + 10, report.size()) << report;
}

}  // namespace
}  // namespace tw

#endif  // TW_TARNIXD && TW_TARNIXCTL
