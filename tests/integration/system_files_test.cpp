// The Linux file store and the folder choices, on the real file system, in
// temporary folders. Checks that need a user without root's file access or a
// full disk run in a forked child that drops to "nobody" or mounts a tiny
// tmpfs in a mount namespace of its own (gone when the child exits).
#include <dirent.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "../unit/traffic/traffic_test_rig.h"
#include "local_attacker.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_link_stats.h"
#include "platform/linux/file_store.h"
#include "platform/linux/owned_fd.h"
#include "platform/linux/system_info.h"
#include "settings/profile.h"
#include "traffic/traffic_monitor.h"

namespace tw::platform {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "tw-files-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void spit(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

mode_t mode_of(const std::string& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st.st_mode & 07777;
}

std::vector<std::string> names_in(const std::string& folder) {
  std::vector<std::string> out;
  for (auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

// Runs `body` in a forked child and returns its exit code (or 128+signal).
// `body` returns the exit code; no gtest assertions inside.
int in_child(const std::function<int()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Drops to "nobody" when we are root, so permission bits apply again.
bool become_unprivileged() {
  if (::geteuid() != 0) return true;
  return ::setgroups(0, nullptr) == 0 && ::setresgid(kNobody, kNobody, kNobody) == 0 &&
         ::setresuid(kNobody, kNobody, kNobody) == 0;
}

// 0 when the file reads, else the errno the store reports.
int read_errno(LinuxFileStore& store, const std::string& path, std::size_t max_bytes) {
  const auto got = store.read(path, max_bytes);
  return got ? 0 : got.error().errno_value;
}

TEST(LinuxFileStore, ReadRefusesWhatIsNotARegularFileWithinTheCap) {
  TempDir dir;
  LinuxFileStore store;
  spit(dir / "ten", "0123456789");
  EXPECT_EQ(store.read(dir / "ten", 10).value_or("?"), "0123456789");
  EXPECT_EQ(read_errno(store, dir / "ten", 9), tw::platform::kFileTooBigErrno);
  spit(dir / "empty", "");
  EXPECT_EQ(store.read(dir / "empty", 0).value_or("?"), "");
  EXPECT_EQ(read_errno(store, dir / "missing", 100), tw::platform::kFileMissingErrno);
  EXPECT_EQ(read_errno(store, dir.path(), 100), tw::platform::kNotAFileErrno);
  // A FIFO with no writer would block a plain open() forever.
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(read_errno(store, dir / "fifo", 100), tw::platform::kNotAFileErrno);
  EXPECT_EQ(read_errno(store, "/dev/zero", 100), tw::platform::kNotAFileErrno);
  // A socket cannot even be opened; it is still there and no file.
  const std::string sock_path = dir / "sock";
  OwnedFd sock(::socket(AF_UNIX, SOCK_STREAM, 0));
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(sock_path.size(), sizeof addr.sun_path);
  std::memcpy(addr.sun_path, sock_path.c_str(), sock_path.size() + 1);
  ASSERT_EQ(::bind(sock.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
  EXPECT_EQ(read_errno(store, sock_path, 100), tw::platform::kNotAFileErrno);
}

TEST(LinuxFileStore, ReplaceKeepsModeReplacesSymlinksAndLeavesNoTemporaryFile) {
  TempDir dir;
  LinuxFileStore store;
  spit(dir / "tarnix_a@b.ini", "old");
  ::chmod((dir / "tarnix_a@b.ini").c_str(), 0666);  // bits a umask would strip
  ASSERT_TRUE(store.replace(dir / "tarnix_a@b.ini", "[Settings]\nTabCurSel=3\n"));
  EXPECT_EQ(slurp(dir / "tarnix_a@b.ini"), "[Settings]\nTabCurSel=3\n");
  EXPECT_EQ(mode_of(dir / "tarnix_a@b.ini"), 0666u);
  // Set-id bits are not carried over to the new file.
  ::chmod((dir / "tarnix_a@b.ini").c_str(), 04755);
  ASSERT_TRUE(store.replace(dir / "tarnix_a@b.ini", "x"));
  EXPECT_EQ(mode_of(dir / "tarnix_a@b.ini"), 0755u);

  // A link at the name is replaced by the file; what it names is untouched.
  fs::create_directory(dir / "real");
  spit(dir / "real/target.ini", "old");
  fs::create_symlink(dir / "real/target.ini", dir / "link.ini");
  ASSERT_TRUE(store.replace(dir / "link.ini", "new"));
  EXPECT_FALSE(fs::is_symlink(dir / "link.ini"));
  EXPECT_EQ(slurp(dir / "link.ini"), "new");
  EXPECT_EQ(slurp(dir / "real/target.ini"), "old");
  // A dangling one too.
  fs::create_symlink(dir / "real/none", dir / "dangling.ini");
  ASSERT_TRUE(store.replace(dir / "dangling.ini", "made"));
  EXPECT_EQ(slurp(dir / "dangling.ini"), "made");
  EXPECT_FALSE(fs::exists(dir / "real/none"));

  EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"dangling.ini", "link.ini", "real", "tarnix_a@b.ini"}));
  EXPECT_EQ(names_in(dir / "real"), (std::vector<std::string>{"target.ini"}));

  // Never renamed over a folder.
  fs::create_directory(dir / "folder");
  EXPECT_FALSE(store.replace(dir / "folder", "x"));
  EXPECT_TRUE(fs::is_directory(dir / "folder"));
}

TEST(LinuxFileStore, MissingFoldersAreCreatedPrivate) {
  TempDir dir;
  LinuxFileStore store;
  ASSERT_TRUE(store.replace(dir / "cfg/tarnwatch/tarnix_u@h.ini", "x"));
  EXPECT_EQ(slurp(dir / "cfg/tarnwatch/tarnix_u@h.ini"), "x");
  EXPECT_EQ(mode_of(dir / "cfg"), 0700u);
  EXPECT_EQ(mode_of(dir / "cfg/tarnwatch"), 0700u);
  ASSERT_TRUE(store.write(dir / "logs/2024/traffic.log", "line\n", false));
  EXPECT_EQ(slurp(dir / "logs/2024/traffic.log"), "line\n");
  // A file where a folder is needed.
  spit(dir / "plain", "");
  EXPECT_FALSE(store.replace(dir / "plain/x.ini", "x"));
  EXPECT_FALSE(store.write(dir / "plain/x.log", "x", false));
}

// A reader running beside repeated replaces must only ever see one complete
// version: rewriting the file in place would show it empty or half written.
TEST(LinuxFileStore, ConcurrentReadersSeeOnlyWholeVersions) {
  TempDir dir;
  LinuxFileStore store;
  const std::string path = dir / "settings.ini";
  const std::string a(20000, 'a');
  const std::string b(3000, 'b');
  ASSERT_TRUE(store.replace(path, a));
  std::atomic<bool> done{false};
  std::atomic<int> torn{0}, reads{0};
  std::thread reader([&] {
    LinuxFileStore r;
    while (!done) {
      auto got = r.read(path, 1 << 20);
      if (!got || (*got != a && *got != b)) ++torn;
      ++reads;
    }
  });
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(store.replace(path, i % 2 ? a : b));
  done = true;
  reader.join();
  EXPECT_EQ(torn.load(), 0) << "of " << reads.load() << " reads";
}

TEST(LinuxFileStore, WriteAppendsTruncatesAndRefusesSpecialFiles) {
  TempDir dir;
  LinuxFileStore store;
  const std::string log = dir / "packet.log";
  ASSERT_TRUE(store.write(log, "one\n", false));
  ASSERT_TRUE(store.write(log, "two\n", false));
  EXPECT_EQ(slurp(log), "one\ntwo\n");
  ASSERT_TRUE(store.write(log, "three\n", true));
  EXPECT_EQ(slurp(log), "three\n");
  // A FIFO (with or without a reader) is neither written nor waited on.
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_FALSE(store.write(dir / "fifo", "x", false));
  int reader = ::open((dir / "fifo").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_FALSE(store.write(dir / "fifo", "x", true));
  char c;
  EXPECT_LE(::read(reader, &c, 1), 0);
  ::close(reader);
}

TEST(LinuxFileStore, ReadOnlyFolderFailsCleanlyAndKeepsTheOldFile) {
  TempDir dir;
  fs::create_directory(dir / "ro");
  spit(dir / "ro/tarnix_u@h.ini", "old");
  ::chmod((dir / "ro/tarnix_u@h.ini").c_str(), 0644);
  ::chmod((dir / "ro").c_str(), 0555);
  ::chmod(dir.path().c_str(), 0755);
  const std::string ini = dir / "ro/tarnix_u@h.ini";
  const std::string log = dir / "ro/traffic.log";
  const std::string nested = dir / "ro/sub/x.ini";
  int code = in_child([&] {
    if (!become_unprivileged()) return 77;
    LinuxFileStore store;
    if (Status s = store.replace(ini, "new"); s || s.error().errno_value != EACCES) return 1;
    if (Status s = store.write(log, "x\n", false); s || s.error().errno_value != EACCES) return 2;
    if (store.write(ini, "x\n", true)) return 3;
    if (store.replace(nested, "x")) return 4;
    if (store.read(ini, 100).value_or("") != "old") return 5;
    return 0;
  });
  if (code == 77) GTEST_SKIP() << "cannot drop to an unprivileged user";
  EXPECT_EQ(code, 0);
  EXPECT_EQ(slurp(ini), "old");
  EXPECT_EQ(names_in(dir / "ro"), (std::vector<std::string>{"tarnix_u@h.ini"}));
}

TEST(LinuxFileStore, FreeBytesOfAPathOrItsNearestExistingParent) {
  TempDir dir;
  LinuxFileStore store;
  struct statvfs vfs {};
  ASSERT_EQ(::statvfs(dir.path().c_str(), &vfs), 0);
  auto here = store.free_bytes(dir.path());
  auto deeper = store.free_bytes(dir / "not/yet/there.log");
  ASSERT_TRUE(here && deeper);
  EXPECT_GT(*here, 0u);
  // Other writers on the same file system move the figure; compare loosely.
  const std::uint64_t expect = std::uint64_t{vfs.f_bavail} * vfs.f_frsize;
  EXPECT_NEAR(static_cast<double>(*here), static_cast<double>(expect), 64.0 * 1024 * 1024);
  EXPECT_NEAR(static_cast<double>(*deeper), static_cast<double>(*here), 64.0 * 1024 * 1024);
}

// A full disk: a 64 KiB tmpfs mounted in a private mount namespace of a child.
TEST(LinuxFileStore, FullDiskFailsAndKeepsTheOldContent) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a small tmpfs";
  TempDir dir;
  const std::string mnt = dir.path();
  int code = in_child([&] {
    if (::unshare(CLONE_NEWNS) != 0) return 77;
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return 77;
    if (::mount("tw-full", mnt.c_str(), "tmpfs", 0, "size=64k,mode=0700") != 0) return 77;
    LinuxFileStore store;
    const std::string ini = mnt + "/tarnix.ini";
    if (!store.replace(ini, "old")) return 1;
    auto free = store.free_bytes(mnt + "/sub/x");
    if (!free || *free > 64 * 1024) return 2;
    const std::string big(256 * 1024, 'x');
    // A full disk is reported as such, so a log line can say what happened.
    if (Status s = store.replace(ini, big); s || s.error().errno_value != ENOSPC) return 3;
    if (store.read(ini, 1 << 20).value_or("") != "old") return 4;
    // A log entry that does not fit is not left half written: the file
    // keeps the entries before it, whole.
    if (!store.write(mnt + "/traffic.log", "entry 1\n", false)) return 5;
    if (Status s = store.write(mnt + "/traffic.log", big, false); s || s.error().errno_value != ENOSPC) return 6;
    if (store.read(mnt + "/traffic.log", 1 << 20).value_or("?") != "entry 1\n") return 7;
    if (Status s = store.write(mnt + "/overwritten.log", big, true); s || s.error().errno_value != ENOSPC) return 8;
    if (store.read(mnt + "/overwritten.log", 1 << 20).value_or("?") != "") return 9;
    // The failed replace left no temporary file behind.
    int entries = 0;
    if (DIR* d = ::opendir(mnt.c_str())) {
      while (auto* e = ::readdir(d)) entries += e->d_name[0] != '.';
      ::closedir(d);
    }
    if (entries != 3) return 10;  // tarnix.ini and the two logs
    return 0;
  });
  if (code == 77) GTEST_SKIP() << "cannot mount a tmpfs in a private mount namespace here";
  EXPECT_EQ(code, 0);
}

TEST(SystemInfo, DataFolderChoice) {
  EXPECT_EQ(choose_data_folder("/opt/tw/tarnix", true, false, "/home/u/.cfg", "/home/u"), "/opt/tw/");
  EXPECT_EQ(choose_data_folder("/usr/bin/tarnix", false, false, "/home/u/.cfg/", "/home/u"), "/home/u/.cfg/tarnwatch/");
  // A relative XDG_CONFIG_HOME is not valid and is ignored.
  EXPECT_EQ(choose_data_folder("/usr/bin/tarnix", false, false, "rel", "/home/u"), "/home/u/.config/tarnwatch/");
  EXPECT_EQ(choose_data_folder("/usr/bin/tarnix", false, false, "", "/home/u/"), "/home/u/.config/tarnwatch/");
  EXPECT_EQ(choose_data_folder("/usr/bin/tarnix", false, false, nullptr, ""), "");
  EXPECT_EQ(choose_data_folder("/usr/bin/tarnix", false, false, nullptr, nullptr), "");
  EXPECT_EQ(choose_data_folder("", true, false, nullptr, "/home/u"), "/home/u/.config/tarnwatch/");
  // Root: the program's own folder when it passed, else the state folder.
  EXPECT_EQ(choose_data_folder("/srv/tw/tarnixd", true, true, "/root/.cfg", "/root"), "/srv/tw/");
  EXPECT_EQ(choose_data_folder("/usr/local/bin/tarnixd", false, true, "/root/.cfg", "/root"), "/var/lib/tarnwatch/");

  // Folders of installed programs never count as the program's own.
  for (const char* f : {"/usr/bin", "/usr/bin/", "/usr/local/bin/", "/bin/", "/usr/sbin/"})
    EXPECT_TRUE(is_installed_programs_folder(f)) << f;
  for (const char* f : {"/opt/tw/", "/home/u/bin/", "/usr/", "/usr/local/bin/tw/"})
    EXPECT_FALSE(is_installed_programs_folder(f)) << f;

  // This test binary lives in a build tree of the user running it.
  std::string exe = executable_path();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(data_folder(), exe.substr(0, exe.rfind('/') + 1));
}

// The program's folder is the data folder only when the folder and the
// program file belong to whoever runs it: a copy of someone else's program,
// or one in someone else's folder, keeps its files in the user's own folder.
TEST(SystemInfo, AProgramOfAnotherUserKeepsNoFilesBesideItself) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make files of another user";
  test::LocalUser user;
  ASSERT_TRUE(user.ok()) << user.error();
  TempDir dir;
  ::chmod(dir.path().c_str(), 0755);
  const std::string probe = TW_FILES_PROBE;
  for (const std::string sub : {"theirs", "mine", "their-file"}) fs::create_directory(dir / sub);
  fs::copy_file(probe, dir / "theirs/probe");
  fs::copy_file(probe, dir / "mine/probe");
  fs::copy_file(probe, dir / "their-file/probe");
  ::chmod((dir / "theirs").c_str(), 0777);
  ::chmod((dir / "their-file").c_str(), 0755);
  ASSERT_EQ(::chown((dir / "mine").c_str(), user.uid(), user.gid()), 0);
  ASSERT_EQ(::chown((dir / "mine/probe").c_str(), user.uid(), user.gid()), 0);
  ASSERT_EQ(::chown((dir / "their-file").c_str(), user.uid(), user.gid()), 0);
  const std::string env = "env HOME=/nonexistent-home XDG_CONFIG_HOME= ";
  // Root's program in a folder anyone may write: not the user's own.
  EXPECT_EQ(user.run(env + dir / "theirs/probe data-folder").output, "/nonexistent-home/.config/tarnwatch/\n");
  EXPECT_EQ(user.run(env + dir / "mine/probe data-folder").output, dir / "mine/\n");
  // The user's folder, but root's program file in it.
  EXPECT_EQ(user.run(env + dir / "their-file/probe data-folder").output, "/nonexistent-home/.config/tarnwatch/\n");
}

TEST(SystemInfo, PrivateFolderRefusesWhatAnotherUserCouldHavePlanted) {
  TempDir dir;
  // The errno of a refusal, 0 when the folder is taken.
  const auto refusal = [](const Result<std::string>& r) { return r ? 0 : r.error().errno_value; };
  EXPECT_EQ(private_folder(dir / "new").value_or(""), dir / "new/");
  EXPECT_EQ(mode_of(dir / "new"), 0700u);
  EXPECT_EQ(private_folder(dir / "new").value_or(""), dir / "new/");  // again, now existing

  fs::create_directory(dir / "open");
  ::chmod((dir / "open").c_str(), 0777);
  EXPECT_EQ(refusal(private_folder(dir / "open")), EACCES);
  EXPECT_EQ(mode_of(dir / "open"), 0777u);  // refused, not repaired

  fs::create_directory(dir / "elsewhere");
  ::chmod((dir / "elsewhere").c_str(), 0700);
  fs::create_directory_symlink(dir / "elsewhere", dir / "link");
  EXPECT_EQ(refusal(private_folder(dir / "link")), ENOTDIR);

  spit(dir / "file", "");
  EXPECT_EQ(refusal(private_folder(dir / "file")), ENOTDIR);

  if (::geteuid() == 0) {
    fs::create_directory(dir / "theirs");
    ::chmod((dir / "theirs").c_str(), 0700);
    ASSERT_EQ(::chown((dir / "theirs").c_str(), kNobody, kNobody), 0);
    EXPECT_EQ(refusal(private_folder(dir / "theirs")), EPERM);
  }
}

TEST(SystemInfo, RuntimeFolderTakesASafeXdgRuntimeDir) {
  TempDir dir;
  const char* old = std::getenv("XDG_RUNTIME_DIR");
  std::string saved = old ? old : "";
  ::chmod(dir.path().c_str(), 0700);
  ::setenv("XDG_RUNTIME_DIR", (dir.path() + "/").c_str(), 1);
  EXPECT_EQ(runtime_folder().value_or(""), dir.path() + "/");
  // Writable by others: not used (the /tmp fallback is taken instead).
  ::chmod(dir.path().c_str(), 0777);
  EXPECT_NE(runtime_folder().value_or(""), dir.path() + "/");
  if (old) ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1); else ::unsetenv("XDG_RUNTIME_DIR");
}


// ---------------------------------------------------------------- gross totals on disk

// The Traffic Monitor's totals on a real settings file, the process killed
// after any number of the store's replaces: what the file holds afterwards
// is one whole save, the one before or the new one.
class ReplacesThenDies : public LinuxFileStore {
 public:
  explicit ReplacesThenDies(int replaces) : left_(replaces) {}
  Status replace(const std::string& path, std::string_view content) override {
    if (left_-- == 0) ::_exit(9);  // killed before this step
    return LinuxFileStore::replace(path, content);
  }

 private:
  int left_;
};

std::pair<std::uint64_t, std::uint64_t> totals_in(const std::string& ini) {
  traffic::TrafficRig rig;
  rig.files.files[rig.profile.path()] = slurp(ini);
  traffic::TrafficMonitor& m = rig.start();
  m.load_gross_totals();
  return {m.figures().gross_send, m.figures().gross_recv};
}

// Saves the totals of `sent` and `received` bytes into `ini` through `files`.
void save_totals(platform::FileStore& files, const std::string& ini, std::uint64_t sent, std::uint64_t received) {
  settings::Profile profile(files, ini);
  platform::FakeLinkStats links;
  links.add("eth0", 0, 0);
  platform::FakeClock clock;
  traffic::TrafficMonitor m(profile, links, clock, Language::English);
  for (int i = 0; i < 3; ++i) {
    clock.advance_ms(50);
    m.tick();
  }
  links.rows[0].out_octets += sent;
  links.rows[0].in_octets += received;
  clock.advance_ms(50);
  m.tick();
  m.save_gross_totals();
}

TEST(GrossTotalsOnDisk, AKillBetweenTheStepsOfASaveNeverTearsThem) {
  TempDir dir;
  const std::string ini = dir / "tarnix_u@h.ini";
  LinuxFileStore store;
  save_totals(store, ini, 1024000, 5000);
  ASSERT_EQ(totals_in(ini), (std::pair<std::uint64_t, std::uint64_t>{1024000, 5000}));
  for (int replaces = 0; replaces <= 6; ++replaces) {
    SCOPED_TRACE(replaces);
    const int code = in_child([&] {
      ReplacesThenDies dying(replaces);
      save_totals(dying, ini, 3000000, 3145728);
      return 0;
    });
    EXPECT_EQ(code, replaces == 0 ? 9 : 0);
    const auto totals = totals_in(ini);
    EXPECT_TRUE(totals == (std::pair<std::uint64_t, std::uint64_t>{1024000, 5000}) ||
                totals == (std::pair<std::uint64_t, std::uint64_t>{3000000, 3145728}))
        << totals.first << " / " << totals.second;
    save_totals(store, ini, 1024000, 5000);
  }
}

// Killed at any moment of a stream of saves (SIGKILL, whatever step it is
// in): the file holds one whole save, and the next start removes the
// temporary file a kill between writing and renaming leaves.
TEST(GrossTotalsOnDisk, KilledAtAnyMomentTheFileHoldsOneWholeSaveAndNoStrayIsLeft) {
  TempDir dir;
  const std::string ini = dir / "tarnix_u@h.ini";
  LinuxFileStore store;
  save_totals(store, ini, 1024000, 5000);
  for (int run = 0; run < 20; ++run) {
    SCOPED_TRACE(run);
    const pid_t pid = ::fork();
    if (pid == 0) {
      LinuxFileStore files;
      for (int i = 0;; ++i) save_totals(files, ini, i % 2 ? 3000000 : 1024000, i % 2 ? 3145728 : 5000);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + run * 3));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    const auto totals = totals_in(ini);
    EXPECT_TRUE(totals == (std::pair<std::uint64_t, std::uint64_t>{1024000, 5000}) ||
                totals == (std::pair<std::uint64_t, std::uint64_t>{3000000, 3145728}))
        << totals.first << " / " << totals.second;
    remove_stray_temporaries(dir.path(), "tarnix");
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"tarnix_u@h.ini"});
  }
}

// ---------------------------------------------------------------- another user plants names

// A root process replacing a file in a folder that others may write (the node
// exporter's textfile folder): what another user planted at the name is
// replaced, never followed.
TEST(PlantedNames, ReplaceTakesThePlaceOfALinkOrHardLinkAnotherUserPlanted) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root (another user, root writing)";
  test::LocalUser attacker;
  ASSERT_TRUE(attacker.ok()) << attacker.error();
  TempDir dir, victim_dir;
  ::chmod(dir.path().c_str(), 01777);  // sticky and world-writable, like /tmp
  const std::string victim = victim_dir / "shadow";
  spit(victim, "root:secret\n");
  ::chmod(victim.c_str(), 0600);

  const std::string prom = dir / "tarnwatch.prom";
  ASSERT_TRUE(attacker.run("ln -s " + victim + " " + prom).ok());
  ASSERT_TRUE(attacker.run("echo mine > " + dir / "own && ln " + dir / "own " + dir / "linked.prom").ok());
  LinuxFileStore store;
  ASSERT_TRUE(store.replace(prom, "tarnwatch_up 1\n"));
  ASSERT_TRUE(store.replace(dir / "linked.prom", "tarnwatch_up 2\n"));

  EXPECT_EQ(slurp(victim), "root:secret\n") << "written through the planted link";
  EXPECT_FALSE(fs::is_symlink(prom));
  EXPECT_EQ(slurp(prom), "tarnwatch_up 1\n");
  struct stat st {};
  ASSERT_EQ(::lstat(prom.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 0u);
  EXPECT_EQ(slurp(dir / "own"), "mine\n") << "the other name of the hard link changed";
  EXPECT_EQ(slurp(dir / "linked.prom"), "tarnwatch_up 2\n");
}

// Logs are appended to: a link at the name, another user's file and a file
// with a second name are refused with a reason, and left as they are.
TEST(PlantedNames, AppendRefusesLinksForeignFilesAndHardLinks) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root (another user, root writing)";
  test::LocalUser attacker;
  ASSERT_TRUE(attacker.ok()) << attacker.error();
  TempDir dir, victim_dir;
  // World-writable without the sticky bit: the kernel's protected_regular
  // check (for sticky folders) does not step in, ours must.
  ::chmod(dir.path().c_str(), 0777);
  const std::string victim = victim_dir / "crontab";
  spit(victim, "# root's\n");
  ASSERT_TRUE(attacker.run("ln -s " + victim + " " + dir / "traffic.log").ok());
  ASSERT_TRUE(attacker.run("echo theirs > " + dir / "session.log").ok());
  spit(dir / "report.log", "old\n");
  ASSERT_EQ(::link((dir / "report.log").c_str(), (dir / "second-name").c_str()), 0);

  LinuxFileStore store;
  for (bool truncate : {false, true}) {
    SCOPED_TRACE(truncate);
    const Status through_link = store.write(dir / "traffic.log", "* * * * * root evil\n", truncate);
    ASSERT_FALSE(through_link.ok());
    EXPECT_EQ(through_link.error().errno_value, ELOOP);
    EXPECT_NE(through_link.error().detail.find("symbolic link"), std::string::npos) << through_link.error().detail;
    const Status foreign = store.write(dir / "session.log", "x\n", truncate);
    ASSERT_FALSE(foreign.ok());
    EXPECT_EQ(foreign.error().detail,
              dir / "session.log" + " belongs to another user (uid " + std::to_string(attacker.uid()) +
                  ") and is not written");
    const Status linked = store.write(dir / "report.log", "x\n", truncate);
    ASSERT_FALSE(linked.ok());
    EXPECT_EQ(linked.error().detail, dir / "report.log" + " has 2 hard links and is not written");
  }
  EXPECT_EQ(slurp(victim), "# root's\n");
  EXPECT_EQ(slurp(dir / "session.log"), "theirs\n");
  EXPECT_EQ(slurp(dir / "report.log"), "old\n");
}

// The StrictModes rule, as root and as an ordinary user with a user-private
// group.
TEST(PlantedNames, OnlyPathsNobodyElseMayWriteAreTrusted) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root (other users and groups)";
  test::LocalGroup shared;
  ASSERT_TRUE(shared.ok()) << shared.error();
  test::LocalUser user(shared.name()), other(shared.name());
  ASSERT_TRUE(user.ok() && other.ok()) << user.error() << other.error();
  TempDir dir;
  ::chmod(dir.path().c_str(), 0755);
  const auto make = [&](const std::string& name, uid_t uid, gid_t gid, mode_t mode) {
    fs::create_directory(dir / name);
    EXPECT_EQ(::chown((dir / name).c_str(), uid, gid), 0);
    EXPECT_EQ(::chmod((dir / name).c_str(), mode), 0);
    return dir / name;
  };
  const auto as_user = [&](const std::string& path) {
    std::string out = user.run(std::string(TW_FILES_PROBE) + " trust " + path).output;
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  };
  const auto as_root = [&](const std::string& path) {
    const Status s = check_trusted(path);
    return s ? std::string("trusted") : s.error().detail;
  };

  EXPECT_EQ(as_root(make("root", 0, 0, 0755)), "trusted");
  EXPECT_EQ(as_root(dir / "root/missing.ini"), "trusted") << "nothing there yet";
  EXPECT_EQ(as_root(make("theirs", other.uid(), other.gid(), 0700)),
            dir / "theirs belongs to another user (uid " + std::to_string(other.uid()) + ")");
  EXPECT_EQ(as_root(make("open", 0, 0, 0777)), dir / "open may be written by every user");
  EXPECT_EQ(as_root(make("group", 0, shared.gid(), 0775)),
            dir / "group may be written by the group " + shared.name() + ", which has other members");

  // A file an editor saved under umask 002 in the user's own group is fine;
  // a group the user shares with someone is not.
  EXPECT_EQ(as_user(make("private-group", user.uid(), user.gid(), 0770)), "trusted");
  EXPECT_EQ(as_user(make("shared-group", user.uid(), shared.gid(), 0770)),
            dir / "shared-group may be written by the group " + shared.name() + ", which has other members");
  EXPECT_EQ(as_user(make("root-owned", 0, 0, 0755)), dir / "root-owned belongs to another user (uid 0)");
  // What a link names is judged.
  fs::create_directory_symlink(dir / "open", dir / "link");
  EXPECT_EQ(as_root(dir / "link"), dir / "link may be written by every user");
}

TEST(PlantedNames, StrayTemporaryFilesOfKilledWritersAreRemoved) {
  TempDir dir;
  pid_t dead = ::fork();
  if (dead == 0) ::_exit(0);
  ::waitpid(dead, nullptr, 0);
  const std::string d = std::to_string(dead), me = std::to_string(::getpid());
  const std::vector<std::string> names = {
      ".tarnix_u@h.ini.tmp" + d + ".a1b2c3d4",        // left by a killed writer: goes
      ".tarnix_packetfilter.txt.tmp" + d + ".zzzzzzzz",  // the same
      ".tarnix_u@h.ini.tmp" + me + ".a1b2c3d4",       // its writer still runs
      ".other.ini.tmp" + d + ".a1b2c3d4",             // not one of ours
      ".tarnix_u@h.ini.tmp" + d + ".short",           // not a name we make
      "tarnix_u@h.ini",
  };
  for (const auto& n : names) spit(dir / n, "x");
  const std::vector<std::string> removed = remove_stray_temporaries(dir.path(), "tarnix");
  EXPECT_EQ(removed.size(), 2u);
  std::vector<std::string> left(names.begin() + 2, names.end());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(names_in(dir.path()), left);

  // A temporary file replace() makes now follows that pattern.
  LinuxFileStore store;
  ASSERT_TRUE(store.replace(dir / "tarnix_u@h.ini", "y"));
  EXPECT_EQ(names_in(dir.path()), left);
}

// XDG_RUNTIME_DIR unset and /tmp/tarnwatch-UID made by someone else first: a
// private folder of our own, found again by every later call.
TEST(PlantedNames, ATakenRuntimeFolderGivesAPrivateOneThatIsFoundAgain) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root (another user)";
  test::LocalUser attacker;
  ASSERT_TRUE(attacker.ok()) << attacker.error();
  TempDir tmp;
  ::chmod(tmp.path().c_str(), 01777);
  const std::string usual = tmp / ("tarnwatch-" + std::to_string(::geteuid()));

  std::string notice;
  EXPECT_EQ(choose_runtime_folder(nullptr, tmp.path(), &notice).value_or(""), usual + "/");
  EXPECT_EQ(notice, "");
  fs::remove(usual);

  for (const std::string plant : {"mkdir -m 0700 ", "ln -s /root ", "touch "}) {
    SCOPED_TRACE(plant);
    ASSERT_TRUE(attacker.run(plant + usual).ok());
    const Result<std::string> first = choose_runtime_folder(nullptr, tmp.path(), &notice);
    ASSERT_TRUE(first.ok()) << first.error().message();
    EXPECT_TRUE(first->starts_with(usual + "-")) << *first;
    EXPECT_EQ(mode_of(first->substr(0, first->size() - 1)), 0700u);
    EXPECT_NE(notice.find(usual), std::string::npos) << notice;
    EXPECT_NE(notice.find(*first), std::string::npos) << notice;
    // Every later caller (the next instance, tarnixctl) lands in the same one.
    EXPECT_EQ(choose_runtime_folder(nullptr, tmp.path()).value_or(""), *first);
    // Also once the planted name is gone again: an instance may run there.
    fs::remove(usual);
    EXPECT_EQ(choose_runtime_folder(nullptr, tmp.path(), &notice).value_or(""), *first);
    EXPECT_NE(notice.find(*first), std::string::npos) << notice;
  }
  // A look-alike of another user is never taken.
  std::vector<std::string> ours;
  for (const auto& n : names_in(tmp.path())) ours.push_back(n);
  ASSERT_EQ(ours.size(), 1u);
  fs::rename(tmp / ours[0], tmp / "mine-aside");
  ASSERT_TRUE(attacker.run("mkdir -m 0700 " + usual + "-AAAAAA " + usual).ok());
  const std::string again = choose_runtime_folder(nullptr, tmp.path()).value_or("");
  EXPECT_NE(again, usual + "-AAAAAA/");
  EXPECT_TRUE(again.starts_with(usual + "-")) << again;
}

}  // namespace
}  // namespace tw::platform
