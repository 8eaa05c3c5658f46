// tarnixd end to end against what can happen to its files: names another
// user planted (links, hard links, FIFOs, a runtime folder), a data folder
// someone else may write, a full or read-only data folder, a full log folder,
// and a SIGKILL that leaves the status record unmarked.
//
// Isolation as in tarnixd_test.cpp (tarnixd_harness.h): a namespace, a
// runtime folder, /dev/shm and a bus of the test's own. The attackers are real
// users made for the test (local_attacker.h). Small file systems are tmpfs
// mounts the test makes and removes.
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/startup.h"
#include "local_attacker.h"
#include "netns.h"
#include "platform/linux/file_store.h"
#include "platform/linux/owned_fd.h"
#include "platform/linux/system_info.h"
#include "settings/profile.h"
#include "tarnixd_harness.h"
#include "traffic/traffic_monitor.h"

#if defined(TW_TARNIXD) && defined(TW_TARNIXCTL)

namespace tw {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::CommandResult;
using test::Daemon;
using test::eventually;
using test::LocalGroup;
using test::LocalUser;
using test::NetNs;
using test::quoted;
using test::Sandbox;
using test::tarnixctl;

constexpr char kSeededGross[] =
    "[Traffic]\nTotalSend=5\nTotalSendB=1024\nTotalSendD=7\n"
    "TotalRecv=3\nTotalRecvB=0\nTotalRecvD=0\n";

int occurrences(const std::string& text, const std::string& needle) {
  int n = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

std::pair<std::uint64_t, std::uint64_t> saved_gross(const std::string& ini) {
  platform::LinuxFileStore files;
  settings::Profile p(files, ini);
  auto u = [&](const char* key) { return static_cast<std::uint32_t>(p.read_int("Traffic", key, 0)); };
  return {traffic::decode_total(u("TotalSend"), u("TotalSendB"), u("TotalSendD")),
          traffic::decode_total(u("TotalRecv"), u("TotalRecvB"), u("TotalRecvD"))};
}

// The exit status of a daemon that ends by itself.
std::optional<int> exit_status(Daemon& d) {
  if (!eventually([&] { return !d.running(); })) return std::nullopt;
  return d.stop();
}

// A folder made with mkdtemp() from `pattern`, removed with what it holds.
class TempFolder {
 public:
  explicit TempFolder(std::string pattern) {
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern + "/";
  }
  ~TempFolder() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  bool ok() const { return !path_.empty(); }
  // Ends in "/".
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A tmpfs of `size` mounted on `path` (created 0700) for the test's lifetime.
class SmallDisk {
 public:
  SmallDisk(const std::string& path, const std::string& size) : path_(path) {
    fs::create_directory(path_);
    ok_ = ::mount("tw-files-disk", path_.c_str(), "tmpfs", 0, ("size=" + size + ",mode=0700").c_str()) == 0;
  }
  ~SmallDisk() {
    if (ok_) ::umount2(path_.c_str(), MNT_DETACH);
  }
  bool ok() const { return ok_; }
  // Fills it: a file "filler" takes every free block.
  void fill() const { test::run_command("dd if=/dev/zero of=" + path_ + "/filler bs=4k"); }
  // Leaves `bytes` free again.
  void free_up(std::size_t bytes) const {
    const auto size = fs::file_size(path_ + "/filler");
    fs::resize_file(path_ + "/filler", size > bytes ? size - bytes : 0);
  }
  void empty() const { fs::remove(path_ + "/filler"); }
  bool remount_read_only() const {
    return ::mount(nullptr, path_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
  }

 private:
  std::string path_;
  bool ok_ = false;
};

// ------------------------------------------------------------------ planted links

TEST(TarnixdFiles, ARootInstanceNeverWritesThroughLinksAnotherUserPlanted) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (network namespaces, another user)";
  LocalUser attacker;
  ASSERT_TRUE(attacker.ok()) << attacker.error();
  Sandbox box;
  ASSERT_TRUE(box.ok());
  NetNs ns("fl");
  ASSERT_TRUE(ns.ok()) << ns.error();
  fs::permissions(box.root(), fs::perms(0711), fs::perm_options::replace);
  // The node exporter's textfile folder, open to others (sticky like /tmp),
  // and a log root folder others may write.
  const std::string textfile = box.root() + "/textfile", logs = box.root() + "/logs";
  fs::create_directory(textfile);
  fs::create_directory(logs);
  fs::permissions(textfile, fs::perms(01777), fs::perm_options::replace);
  fs::permissions(logs, fs::perms(0777), fs::perm_options::replace);
  const std::string shadow = box.root() + "/shadow", crontab = box.root() + "/crontab";
  box.write_file(shadow, "root:secret\n");
  box.write_file(crontab, "# root's\n");
  ASSERT_TRUE(attacker.run("ln -s " + shadow + " " + textfile + "/tarnwatch.prom").ok());
  ASSERT_TRUE(attacker.run("ln -s " + crontab + " " + logs + "/traffic.log").ok());

  box.write_file(box.settings_path(false), std::string(kSeededGross) +
                                               "LogCheck=1\nLogCycleTime=1\nLogFileName=traffic.log\n"
                                               "[Settings]\nLogRootFolder=" + logs + "/\n");
  Daemon d(ns, box, "--interface lo --quiet --data-dir " + box.data() + " --metrics-file " + textfile +
                        "/tarnwatch.prom", "links");
  // The link is replaced by the figures file itself.
  ASSERT_TRUE(eventually([&] {
    return !fs::is_symlink(textfile + "/tarnwatch.prom") &&
           box.read_file(textfile + "/tarnwatch.prom").find("tarnwatch_") != std::string::npos;
  })) << d.diagnostics(box);
  // Several log periods pass; the log is refused, said once.
  const std::string refusal = "tarnixd: the traffic log " + logs + "/traffic.log cannot be written: " + logs +
                              "/traffic.log is a symbolic link";
  ASSERT_TRUE(eventually([&] { return occurrences(box.read_file(d.stderr_path()), refusal) == 1; }))
      << d.diagnostics(box);
  std::this_thread::sleep_for(2500ms);
  ASSERT_EQ(d.stop(SIGTERM), std::optional<int>(0)) << d.diagnostics(box);
  EXPECT_EQ(occurrences(box.read_file(d.stderr_path()), "traffic.log cannot be written"), 1) << d.diagnostics(box);
  EXPECT_EQ(box.read_file(shadow), "root:secret\n");
  EXPECT_EQ(box.read_file(crontab), "# root's\n");
  EXPECT_TRUE(fs::is_symlink(logs + "/traffic.log"));
}

// ------------------------------------------------------------------ StrictModes

TEST(TarnixdFiles, ADataFolderAnotherUserCouldWriteIsRefused) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (network namespaces, another user)";
  LocalGroup shared;
  ASSERT_TRUE(shared.ok()) << shared.error();
  LocalUser attacker(shared.name());
  ASSERT_TRUE(attacker.ok()) << attacker.error();
  NetNs ns("fs");
  ASSERT_TRUE(ns.ok()) << ns.error();

  struct Case {
    std::string name;
    std::function<std::string(const Sandbox&)> prepare;  // returns the path the message names
    std::string reason;
  };
  const std::string uid = std::to_string(attacker.uid());
  const Case cases[] = {
      {"a folder of another user, with orders planted in it",
       [&](const Sandbox& box) {
         ::chown(box.data().c_str(), attacker.uid(), attacker.gid());
         return box.data();
       },
       " belongs to another user (uid " + uid + ")"},
      {"a folder every user may write",
       [&](const Sandbox& box) {
         fs::permissions(box.data(), fs::perms(0777), fs::perm_options::replace);
         return box.data();
       },
       " may be written by every user"},
      {"a settings file a shared group may write",
       [&](const Sandbox& box) {
         ::chown(box.settings_path(false).c_str(), 0, shared.gid());
         fs::permissions(box.settings_path(false), fs::perms(0664), fs::perm_options::replace);
         return box.settings_path(false);
       },
       " may be written by the group " + shared.name() + ", which has other members"},
      {"a rule file of another user",
       [&](const Sandbox& box) {
         const std::string rules = box.data() + "tarnix_autoblock.txt";
         box.write_file(rules, "");
         ::chown(rules.c_str(), attacker.uid(), attacker.gid());
         return rules;
       },
       " belongs to another user (uid " + uid + ")"},
  };
  int run = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox box;
    ASSERT_TRUE(box.ok());
    // The settings another user could have planted: a log of root's written
    // into a root-only folder, in a format of their choosing.
    const std::string root_only = box.root() + "/root-only";
    fs::create_directory(root_only);
    box.write_file(box.settings_path(false),
                   std::string(kSeededGross) + "[Traffic]\nLogCheck=1\nLogCycleTime=1\nLogFileName=evil\n"
                   "LogFmt=* * * * * root touch /tmp/owned\n[Settings]\nLogRootFolder=" + root_only + "/\n");
    const std::string settings_before = box.read_file(box.settings_path(false));
    const std::string named = c.prepare(box);
    Daemon d(ns, box, "--interface lo --quiet --data-dir " + box.data(), "refused" + std::to_string(run++));
    const std::optional<int> status = exit_status(d);
    ASSERT_TRUE(status.has_value()) << "tarnixd ran on" << d.diagnostics(box);
    EXPECT_EQ(*status, 1) << d.diagnostics(box);
    const std::string err = box.read_file(d.stderr_path());
    EXPECT_EQ(occurrences(err, "tarnixd: The data folder " + box.data() + " is not used: " + named + c.reason + "."),
              1)
        << err;
    EXPECT_EQ(occurrences(err, "tarnixd: "), 1) << "one message:\n" << err;
    EXPECT_TRUE(fs::is_empty(root_only)) << "the planted order was carried out";
    EXPECT_EQ(box.read_file(box.settings_path(false)), settings_before);
  }

  // A folder the user's own private group may write is fine (root's here).
  Sandbox box;
  ASSERT_TRUE(box.ok());
  box.write_file(box.settings_path(false), kSeededGross);
  fs::permissions(box.data(), fs::perms(0770), fs::perm_options::replace);
  Daemon d(ns, box, "--interface lo --quiet --data-dir " + box.data(), "trusted");
  ASSERT_TRUE(eventually([&] { return tarnixctl(ns, box, "status").ok(); })) << d.diagnostics(box);
  EXPECT_EQ(d.stop(SIGTERM), std::optional<int>(0)) << d.diagnostics(box);
}

// ------------------------------------------------------------------ failed saves and logs

TEST(TarnixdFiles, AFailedSaveIsSaidOnceTriedAgainAndFailsTheRun) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (network namespaces, mounts)";
  Sandbox box;
  ASSERT_TRUE(box.ok());
  NetNs ns("fv");
  ASSERT_TRUE(ns.ok()) << ns.error();
  const SmallDisk disk(box.root() + "/small", "256k");
  ASSERT_TRUE(disk.ok()) << "cannot mount a tmpfs";
  const std::string data = box.root() + "/small/";
  const std::string ini =
      data + app::settings_file_name(app::kProgramBaseName, platform::user_name(), platform::host_name(), false);
  box.write_file(ini, kSeededGross);
  Daemon d(ns, box, "--interface lo --quiet --data-dir " + data, "saves");
  ASSERT_TRUE(eventually([&] { return tarnixctl(ns, box, "status").ok(); })) << d.diagnostics(box);

  // Full: the save (a Gross restart saves at once) fails, and is said once.
  disk.fill();
  const std::string said = "tarnixd: The gross traffic totals could not be saved in the settings file " + ini + " (";
  ASSERT_TRUE(tarnixctl(ns, box, "send " + quoted("tarnix.trafficmonitor /totalinit")).ok());
  ASSERT_TRUE(eventually([&] { return occurrences(box.read_file(d.stderr_path()), said) == 1; }))
      << d.diagnostics(box);
  EXPECT_NE(box.read_file(d.stderr_path()).find("No space left on device). Tarnwatch tries again"), std::string::npos)
      << d.diagnostics(box);
  ASSERT_TRUE(tarnixctl(ns, box, "send " + quoted("tarnix.trafficmonitor /totalinit")).ok());
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(occurrences(box.read_file(d.stderr_path()), said), 1) << d.diagnostics(box);
  EXPECT_EQ(saved_gross(ini), (std::pair<std::uint64_t, std::uint64_t>{5 * 1024 + 7, 3})) << "the old totals stay";

  // Room again: the next save goes through.
  disk.empty();
  ASSERT_TRUE(tarnixctl(ns, box, "send " + quoted("tarnix.trafficmonitor /totalinit")).ok());
  EXPECT_TRUE(eventually([&] { return saved_gross(ini) == std::pair<std::uint64_t, std::uint64_t>{0, 0}; }))
      << d.diagnostics(box);

  // Read-only at the end: bytes counted since are lost, said again (a new
  // failure after a save that worked) and the run ends with an error.
  platform::OwnedFd sock;
  ASSERT_TRUE(ns.run([&] { sock = test::udp_socket("127.0.0.1", 40021); }));
  test::send_datagrams(sock, "127.0.0.1", 40021, 20, 500);
  std::this_thread::sleep_for(500ms);
  ASSERT_TRUE(disk.remount_read_only());
  EXPECT_EQ(d.stop(SIGTERM), std::optional<int>(1)) << d.diagnostics(box);
  const std::string err = box.read_file(d.stderr_path());
  EXPECT_EQ(occurrences(err, said), 2) << err;
  EXPECT_NE(err.find("Read-only file system). Tarnwatch tries again"), std::string::npos) << err;
}

TEST(TarnixdFiles, ALogEntryOnAFullLogFolderIsLeftOutWholeAndSaidOnce) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (network namespaces, mounts)";
  Sandbox box;
  ASSERT_TRUE(box.ok());
  NetNs ns("fg");
  ASSERT_TRUE(ns.ok()) << ns.error();
  const SmallDisk logs(box.root() + "/logs", "256k");
  ASSERT_TRUE(logs.ok()) << "cannot mount a tmpfs";
  const std::string log = box.root() + "/logs/traffic.log";
  // An entry of 6,821 bytes ("$DATE$" gives ten characters), the log folder
  // with 4 KiB free, the data folder with plenty.
  std::string fmt;
  for (int i = 0; i < 682; ++i) fmt += "$DATE$";
  const std::size_t entry = 682 * 10 + 1;
  box.write_file(box.settings_path(false), std::string(kSeededGross) +
                                               "LogCheck=1\nLogCycleTime=1\nLogFileName=traffic.log\nLogFmt=" + fmt +
                                               "\n[Settings]\nLogRootFolder=" + box.root() + "/logs/\n");
  logs.fill();
  logs.free_up(4096);
  Daemon d(ns, box, "--interface lo --quiet --data-dir " + box.data(), "logs");
  const std::string said = "tarnixd: the traffic log " + log + " cannot be written: less than 64 KiB is free in " +
                           box.root() + "/logs/";
  ASSERT_TRUE(eventually([&] { return occurrences(box.read_file(d.stderr_path()), said) == 1; }))
      << d.diagnostics(box) << box.read_file(log).size();
  std::this_thread::sleep_for(2500ms);
  EXPECT_EQ(occurrences(box.read_file(d.stderr_path()), said), 1) << d.diagnostics(box);
  EXPECT_EQ(box.read_file(log).size(), 0u) << "half an entry was left in the log";

  // Room again: whole entries only.
  logs.empty();
  ASSERT_TRUE(eventually([&] { return box.read_file(log).size() >= 2 * entry; })) << d.diagnostics(box);
  ASSERT_EQ(d.stop(SIGTERM), std::optional<int>(0)) << d.diagnostics(box);
  const std::string text = box.read_file(log);
  EXPECT_EQ(text.size() % entry, 0u);
  EXPECT_EQ(text.find_first_not_of("0123456789/\n"), std::string::npos);
}

// ------------------------------------------------------------------ the status record

TEST(TarnixdFiles, StatusTellsTheRecordOfAKilledInstanceFromALiveOne) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (network namespaces)";
  Sandbox box;
  ASSERT_TRUE(box.ok());
  NetNs ns("fk");
  ASSERT_TRUE(ns.ok()) << ns.error();
  Daemon d(ns, box, "--interface lo --quiet --data-dir " + box.data(), "killed");
  ASSERT_TRUE(eventually([&] { return tarnixctl(ns, box, "status").ok(); })) << d.diagnostics(box);
  // Alive for longer than a record may age: still 0.
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(tarnixctl(ns, box, "status").status, 0) << d.diagnostics(box);
  ASSERT_EQ(d.stop(SIGKILL), std::optional<int>(128 + SIGKILL));
  CommandResult after;
  EXPECT_TRUE(eventually([&] { return (after = tarnixctl(ns, box, "status")).status == 3; }, 10s)) << after.output;
  EXPECT_EQ(std::count(after.output.begin(), after.output.end(), ','), 15) << after.output;
  EXPECT_NE(after.output.find("has ended without saying so"), std::string::npos) << after.output;
}

// ------------------------------------------------------------------ planted shared names

TEST(TarnixdFiles, NamesAnotherUserPlantedLeaveEveryChannelWorking) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (network namespaces, another user)";
  LocalUser attacker;
  ASSERT_TRUE(attacker.ok()) << attacker.error();
  Sandbox box;
  ASSERT_TRUE(box.ok());
  NetNs ns("fn");
  ASSERT_TRUE(ns.ok()) << ns.error();
  fs::permissions(box.root(), fs::perms(0711), fs::perm_options::replace);
  // Our own /tmp for the commands (bind-mounted in the mount namespace each
  // command gets), without XDG_RUNTIME_DIR: the fallback runtime folder.
  const std::string tmp = box.root() + "/tmp";
  fs::create_directory(tmp);
  fs::permissions(tmp, fs::perms(01777), fs::perm_options::replace);
  const std::string no_xdg =
      "sh -c " + quoted("mount --bind " + tmp + " /tmp && exec env -u XDG_RUNTIME_DIR \"$@\"") + " sh ";

  // Planted before any instance ran: a FIFO as the shared memory, a link as
  // its semaphore, and the usual runtime folder.
  ASSERT_TRUE(attacker.run("mkfifo -m 0666 " + box.shm() + "/Tarnwatch_Memory").ok());
  ASSERT_TRUE(attacker.run("ln -s /dev/null " + box.shm() + "/sem.Tarnwatch_Mutex").ok());
  ASSERT_TRUE(attacker.run("mkdir -m 0777 " + tmp + "/tarnwatch-" + std::to_string(::geteuid())).ok());

  // Nothing runs: status answers at once (1), it does not wait on the FIFO.
  const CommandResult nothing = tarnixctl(ns, box, "status", "timeout 10 ");
  EXPECT_EQ(nothing.status, 1) << nothing.output;

  // The data folder outside /tmp, which the commands see replaced.
  const TempFolder data("/var/tmp/tw-files-XXXXXX");
  ASSERT_TRUE(data.ok());
  const auto ini = [&](bool second) {
    return data.path() +
           app::settings_file_name(app::kProgramBaseName, platform::user_name(), platform::host_name(), second);
  };
  const std::string first_ini = ini(false), second_ini = ini(true);
  box.write_file(first_ini, kSeededGross);
  box.write_file(second_ini, kSeededGross);
  Daemon first(ns, box, "--interface lo --quiet --data-dir " + data.path(), "first", TW_TARNIXD, no_xdg);
  ASSERT_TRUE(eventually([&] { return tarnixctl(ns, box, "status", no_xdg).ok(); }))
      << tarnixctl(ns, box, "status", no_xdg).output << first.diagnostics(box);
  const std::string usual = "/tmp/tarnwatch-" + std::to_string(::geteuid());
  const std::string err = box.read_file(first.stderr_path());
  EXPECT_NE(err.find("tarnixd: " + usual + " belongs to another user; the instance lock and the command sockets are in " +
                     usual + "-"),
            std::string::npos)
      << err;
  EXPECT_EQ(err.find("no status block"), std::string::npos) << err;
  EXPECT_EQ(::access((box.shm() + "/Tarnwatch_Memory_" + std::to_string(::geteuid())).c_str(), F_OK), 0);

  // The instance lock works: a second instance is one, with its own file and
  // channel; tarnixctl finds both.
  Daemon second(ns, box, "--interface lo --quiet --data-dir " + data.path(), "second", TW_TARNIXD, no_xdg);
  ASSERT_TRUE(eventually([&] { return tarnixctl(ns, box, "--second send x", no_xdg).ok(); })) << second.diagnostics(box);
  ASSERT_TRUE(tarnixctl(ns, box, "send " + quoted("tarnix.trafficmonitor /totalinit"), no_xdg).ok());
  EXPECT_TRUE(eventually([&] { return saved_gross(first_ini).first == 0; })) << first.diagnostics(box);
  EXPECT_EQ(saved_gross(second_ini).first, 5u * 1024 + 7);
  ASSERT_TRUE(tarnixctl(ns, box, "--second send " + quoted("tarnix.trafficmonitor /totalinit"), no_xdg).ok());
  EXPECT_TRUE(eventually([&] { return saved_gross(second_ini).first == 0; })) << second.diagnostics(box);

  EXPECT_EQ(second.stop(SIGTERM), std::optional<int>(0)) << second.diagnostics(box);
  EXPECT_EQ(first.stop(SIGTERM), std::optional<int>(0)) << first.diagnostics(box);
  EXPECT_EQ(tarnixctl(ns, box, "status", no_xdg).status, 3);
}


#ifdef TW_TARNIX
// The desktop program on a data folder every user may write: it says so and
// runs on the default settings, and writes nothing into the folder.
TEST(TarnixFiles, TheDesktopProgramSaysSoRunsOnDefaultsAndWritesNothing) {
  if (!test::is_root()) GTEST_SKIP() << "needs root (network namespaces)";
  Sandbox box;
  ASSERT_TRUE(box.ok());
  NetNs ns("fd");
  ASSERT_TRUE(ns.ok()) << ns.error();
  // A portable copy: its own folder is its data folder.
  const std::string copy = box.data() + "tarnix";
  fs::copy_file(TW_TARNIX, copy);
  box.write_file(box.settings_path(false), std::string(kSeededGross) + "[Report]\nLogCheck=1\nLogFileName=report.log\n");
  const std::string settings_before = box.read_file(box.settings_path(false));
  fs::permissions(box.data(), fs::perms(0777), fs::perm_options::replace);

  Daemon d(ns, box, "", "desktop", copy, "env QT_QPA_PLATFORM=offscreen ");
  const std::string said = "tarnix: The data folder " + box.data() + " is not used: " + box.data() +
                           " may be written by every user. ";
  ASSERT_TRUE(eventually([&] { return occurrences(box.read_file(d.stderr_path()), said) == 1; }))
      << d.diagnostics(box);
  EXPECT_NE(box.read_file(d.stderr_path()).find("Tarnwatch runs with the default settings and writes nothing there."),
            std::string::npos);
  // It runs, on defaults: the gross totals are not the file's.
  CommandResult status;
  ASSERT_TRUE(eventually([&] { return (status = tarnixctl(ns, box, "status")).ok(); })) << d.diagnostics(box);
  EXPECT_EQ(status.output.find("5,1024,7,3,0,0,"), std::string::npos) << status.output;
  std::this_thread::sleep_for(1s);
  EXPECT_TRUE(d.stop(SIGTERM).has_value()) << d.diagnostics(box);
  EXPECT_EQ(box.read_file(box.settings_path(false)), settings_before);
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(box.data())) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  const std::string ini_name = fs::path(box.settings_path(false)).filename().string();
  std::vector<std::string> expected = {"desktop.err", "desktop.out", ini_name, "tarnix"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(names, expected);
}
#endif  // TW_TARNIX

}  // namespace
}  // namespace tw

#endif  // TW_TARNIXD && TW_TARNIXCTL
