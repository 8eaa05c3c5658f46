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

#include <atomic>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "platform/linux/file_store.h"
#include "platform/linux/system_info.h"

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

TEST(LinuxFileStore, ReplaceKeepsModeFollowsSymlinksAndLeavesNoTemporaryFile) {
  TempDir dir;
  LinuxFileStore store;
  spit(dir / "tarnix_a@b.ini", "old");
  ::chmod((dir / "tarnix_a@b.ini").c_str(), 0666);  // bits a umask would strip
  ASSERT_TRUE(store.replace(dir / "tarnix_a@b.ini", "[Settings]\nTabCurSel=3\n"));
  EXPECT_EQ(slurp(dir / "tarnix_a@b.ini"), "[Settings]\nTabCurSel=3\n");
  EXPECT_EQ(mode_of(dir / "tarnix_a@b.ini"), 0666u);

  // A settings file kept elsewhere and linked in stays linked.
  fs::create_directory(dir / "real");
  spit(dir / "real/target.ini", "old");
  fs::create_symlink(dir / "real/target.ini", dir / "link.ini");
  ASSERT_TRUE(store.replace(dir / "link.ini", "new"));
  EXPECT_TRUE(fs::is_symlink(dir / "link.ini"));
  EXPECT_EQ(slurp(dir / "real/target.ini"), "new");

  EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"link.ini", "real", "tarnix_a@b.ini"}));
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
    if (Status s = store.write(mnt + "/traffic.log", big, false); s || s.error().errno_value != ENOSPC) return 5;
    // The failed replace left no temporary file behind.
    int entries = 0;
    if (DIR* d = ::opendir(mnt.c_str())) {
      while (auto* e = ::readdir(d)) entries += e->d_name[0] != '.';
      ::closedir(d);
    }
    if (entries != 2) return 6;  // tarnix.ini and the partial traffic.log
    return 0;
  });
  if (code == 77) GTEST_SKIP() << "cannot mount a tmpfs in a private mount namespace here";
  EXPECT_EQ(code, 0);
}

TEST(SystemInfo, DataFolderChoice) {
  EXPECT_EQ(choose_data_folder("/opt/tw/tarnix", true, "/home/u/.cfg", "/home/u"), "/opt/tw/");
  EXPECT_EQ(choose_data_folder("/usr/bin/tarnix", false, "/home/u/.cfg/", "/home/u"), "/home/u/.cfg/tarnwatch/");
  // A relative XDG_CONFIG_HOME is not valid and is ignored.
  EXPECT_EQ(choose_data_folder("/usr/bin/tarnix", false, "rel", "/home/u"), "/home/u/.config/tarnwatch/");
  EXPECT_EQ(choose_data_folder("/usr/bin/tarnix", false, "", "/home/u/"), "/home/u/.config/tarnwatch/");
  EXPECT_EQ(choose_data_folder("/usr/bin/tarnix", false, nullptr, ""), "");
  EXPECT_EQ(choose_data_folder("/usr/bin/tarnix", false, nullptr, nullptr), "");
  EXPECT_EQ(choose_data_folder("", true, nullptr, "/root"), "/root/.config/tarnwatch/");

  // This test binary lives in a writable build tree.
  std::string exe = executable_path();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(data_folder(), exe.substr(0, exe.rfind('/') + 1));
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

}  // namespace
}  // namespace tw::platform
