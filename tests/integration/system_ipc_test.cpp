// The instance lock, the restart wait, the command channel and the status
// block, for real. Every test works in a runtime folder of its own
// (XDG_RUNTIME_DIR points at a temporary folder) and under shared-memory names
// of its own, so a Tarnwatch running on this machine is never touched.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <semaphore.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include <thread>

#include "local_attacker.h"

#include "platform/linux/command_socket.h"
#include "platform/linux/instance_lock.h"
#include "platform/linux/owned_fd.h"
#include "platform/linux/process_wait.h"
#include "platform/linux/status_block.h"

namespace tw::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// What was opened, or null with the reason reported as a test failure.
template <class T>
std::unique_ptr<T> opened(Result<std::unique_ptr<T>> r) {
  if (!r) {
    ADD_FAILURE() << r.error().message();
    return nullptr;
  }
  return std::move(*r);
}

// "" on success, so that a failure prints its reason.
std::string why(const Status& s) { return s ? std::string() : s.error().message(); }

// A private temporary folder made the runtime folder for the test's lifetime.
class RuntimeDir {
 public:
  RuntimeDir() {
    std::string tmpl = (fs::temp_directory_path() / "tw-run-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
    if (const char* old = std::getenv("XDG_RUNTIME_DIR")) saved_ = old;
    ::setenv("XDG_RUNTIME_DIR", path_.c_str(), 1);
  }
  ~RuntimeDir() {
    if (saved_) ::setenv("XDG_RUNTIME_DIR", saved_->c_str(), 1); else ::unsetenv("XDG_RUNTIME_DIR");
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
  std::optional<std::string> saved_;
};

// A child process that blocks until its pipe is closed or it is killed.
struct Child {
  pid_t pid = -1;
  int release_fd = -1;
  static Child blocked() {
    int p[2];
    if (::pipe2(p, O_CLOEXEC) != 0) return {};
    pid_t pid = ::fork();
    if (pid == 0) {
      char c;
      ::close(p[1]);
      (void)!::read(p[0], &c, 1);
      ::_exit(0);
    }
    ::close(p[0]);
    return {pid, p[1]};
  }
  void reap() {
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    if (release_fd >= 0) ::close(release_fd);
    pid = -1;
    release_fd = -1;
  }
  ~Child() { reap(); }
};

// ---------------------------------------------------------------- instance lock

TEST(InstanceLock, SecondHolderIsNotFirstUntilTheFirstGoes) {
  RuntimeDir run;
  auto first = std::make_unique<InstanceLock>(InstanceLock::acquire("tarnix"));
  EXPECT_TRUE(first->first_instance());
  EXPECT_TRUE(first->held());
  EXPECT_EQ(first->instance_suffix(), "");
  EXPECT_TRUE(fs::exists(run / "tarnix.lock"));

  // A second open file description conflicts like another process would.
  InstanceLock second = InstanceLock::acquire("tarnix");
  EXPECT_FALSE(second.first_instance());
  EXPECT_EQ(second.instance_suffix(), "_#2");
  EXPECT_FALSE(InstanceLock::acquire("tarnix").first_instance());  // a third one too

  // A renamed copy has its own lock.
  EXPECT_TRUE(InstanceLock::acquire("tarnix-copy").first_instance());

  first.reset();
  EXPECT_TRUE(InstanceLock::acquire("tarnix").first_instance());
}

TEST(InstanceLock, AKilledHolderReleasesIt) {
  RuntimeDir run;
  const std::string path = run / "tarnix.lock";
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t pid = ::fork();
  if (pid == 0) {
    InstanceLock held = InstanceLock::acquire_at(path);
    char c = held.held() ? 'y' : 'n';
    (void)!::write(ready[1], &c, 1);
    ::pause();
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ::close(ready[0]);
  ::close(ready[1]);
  EXPECT_EQ(c, 'y');
  EXPECT_FALSE(InstanceLock::acquire_at(path).first_instance());
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  EXPECT_TRUE(InstanceLock::acquire_at(path).first_instance());
}

TEST(InstanceLock, UnusableLockFileCountsAsFirstWithAReason) {
  RuntimeDir run;
  fs::create_directory(run / "tarnix.lock");
  InstanceLock lock = InstanceLock::acquire("tarnix");
  EXPECT_TRUE(lock.first_instance());
  EXPECT_FALSE(lock.held());
  ASSERT_FALSE(lock.status().ok());
  EXPECT_EQ(lock.status().error().errno_value, EISDIR);
  EXPECT_NE(lock.status().error().detail.find("tarnix.lock"), std::string::npos) << lock.status().error().detail;
}

// ---------------------------------------------------------------- restart wait

TEST(ProcessWait, OutcomesForEndedMissingAndRunningProcesses) {
  for (auto* wait : {&wait_for_process_exit, &wait_for_process_exit_by_polling}) {
    SCOPED_TRACE(wait == &wait_for_process_exit ? "pidfd" : "polling");

    // Ended but not yet reaped by us (a zombie): it has gone.
    pid_t quick = ::fork();
    if (quick == 0) ::_exit(0);
    // Wait until it has ended, without reaping it.
    siginfo_t info{};
    ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(quick), &info, WEXITED | WNOWAIT), 0);
    EXPECT_EQ(wait(quick, 5s), WaitResult::Gone);
    ::waitpid(quick, nullptr, 0);

    // Reaped: the id names no process any more.
    EXPECT_EQ(wait(quick, 100ms), WaitResult::CouldNotOpen);
    EXPECT_EQ(wait(0, 100ms), WaitResult::CouldNotOpen);
    EXPECT_EQ(wait(-1, 100ms), WaitResult::CouldNotOpen);
    EXPECT_EQ(wait(1L << 40, 100ms), WaitResult::CouldNotOpen);

    // Still running when the time is up.
    Child sleeper = Child::blocked();
    ASSERT_GT(sleeper.pid, 0);
    EXPECT_EQ(wait(sleeper.pid, 120ms), WaitResult::TimedOut);

    // Released just before the wait: ended, whether or not it has exited by
    // the time the wait looks.
    Child ending = Child::blocked();
    ASSERT_GT(ending.pid, 0);
    ::close(std::exchange(ending.release_fd, -1));
    EXPECT_EQ(wait(ending.pid, 10s), WaitResult::Gone);
  }
}

TEST(ProcessWait, ASuccessorStartsWithNoSignalBlockedOrIgnored) {
  RuntimeDir run;
  const std::string out = run / "signals";
  // As a program with a signalfd has it when it restarts: its stop signals
  // blocked, SIGPIPE ignored. The successor must not inherit either, or it
  // could not be stopped while it waits for us.
  sigset_t stop, old_mask;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGHUP);
  ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &stop, &old_mask), 0);
  const auto old_pipe = ::signal(SIGPIPE, SIG_IGN);
  const auto pid = start_successor("/bin/sh", {"-c", "grep -E '^Sig(Blk|Ign)' /proc/self/status > " + out});
  ::signal(SIGPIPE, old_pipe);
  ::pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  ASSERT_TRUE(pid.ok()) << pid.error().message();
  int status = 0;
  ASSERT_EQ(::waitpid(*pid, &status, 0), *pid);
  EXPECT_EQ(status, 0);
  std::ifstream in(out);
  std::string label, blocked, ignored;
  in >> label >> blocked >> label >> ignored;
  EXPECT_EQ(blocked, "0000000000000000");
  // Bit n-1 stands for signal n. (Whoever started us may ignore others.)
  const unsigned long long ours = (1ull << (SIGPIPE - 1)) | (1ull << (SIGTERM - 1)) | (1ull << (SIGHUP - 1));
  EXPECT_EQ(std::stoull(ignored, nullptr, 16) & ours, 0u) << ignored;

  const auto missing = start_successor("/nonexistent/tarnixd", {"/w", "1"});
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().errno_value, ENOENT);
}

// ---------------------------------------------------------------- command channel

// Sends raw bytes as one datagram, bypassing send_command's checks.
bool send_raw(const std::string& path, const std::string& bytes) {
  OwnedFd s(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  int big = 1 << 20;
  ::setsockopt(s.get(), SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  return ::sendto(s.get(), bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr) ==
         static_cast<ssize_t>(bytes.size());
}

TEST(CommandChannel, CommandsRoundTripInOrderOneDatagramEach) {
  RuntimeDir run;
  auto server = opened(CommandServer::listen(command_socket_path(1)));
  ASSERT_TRUE(server);
  struct stat st {};
  ASSERT_EQ(::stat(server->path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_TRUE(server->receive_pending().empty());

  const std::vector<std::string> sent = {"tarnix.trafficmonitor /init", "tarnix.trafficmonitor /init ",
                                         "tarnix.packetfilter /add:DROP,TCP,0.0.0.0/0,80"};
  for (auto& c : sent) ASSERT_EQ(why(send_command(server->path(), c)), "");
  pollfd p{server->fd(), POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 5000), 1);  // the owner's event loop wakes up
  EXPECT_EQ(server->receive_pending(), sent);
  EXPECT_TRUE(server->receive_pending().empty());
}

TEST(CommandChannel, TextsEndAtTheirFirstNulAndAtTheSizeCap) {
  RuntimeDir run;
  auto server = opened(CommandServer::listen(run / "tarnwatch.sock"));
  ASSERT_TRUE(server);
  ASSERT_TRUE(send_raw(server->path(), std::string("tarnix.packetfilter /start\0junk", 32)));
  ASSERT_TRUE(send_raw(server->path(), std::string("\0ignored", 8)));  // empty text: dropped
  ASSERT_TRUE(send_raw(server->path(), std::string(kMaxCommandBytes + 5000, 'x')));
  ASSERT_TRUE(send_raw(server->path(), "tarnix.packetfilter /stop"));
  auto got = server->receive_pending();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0], "tarnix.packetfilter /start");
  EXPECT_EQ(got[1], std::string(kMaxCommandBytes, 'x'));
  EXPECT_EQ(got[2], "tarnix.packetfilter /stop");

  EXPECT_NE(why(send_command(server->path(), std::string(kMaxCommandBytes + 1, 'y'))).find("too long"),
            std::string::npos);
  EXPECT_TRUE(server->receive_pending().empty());
}

// A sender that waits, as tarnixctl does: a socket of its own (an abstract
// name the kernel picks), connected to `path`, the command sent.
OwnedFd waiting_sender(const std::string& path, const std::string& text) {
  OwnedFd s(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_un own{};
  own.sun_family = AF_UNIX;
  sockaddr_un to{};
  to.sun_family = AF_UNIX;
  std::strncpy(to.sun_path, path.c_str(), sizeof to.sun_path - 1);
  if (::bind(s.get(), reinterpret_cast<sockaddr*>(&own), sizeof(sa_family_t)) != 0 ||
      ::connect(s.get(), reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 ||
      ::send(s.get(), text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()))
    s.reset();
  return s;
}

TEST(CommandChannel, AWaitingSenderOfTheSameUserGetsTheReply) {
  RuntimeDir run;
  auto server = opened(CommandServer::listen(run / "tarnwatch.sock"));
  ASSERT_TRUE(server);
  std::thread serve([&] {
    pollfd p{server->fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 10000), 1);
    const auto requests = server->receive_requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].text, "tarnix.packetfilter /add:x");
    EXPECT_EQ(requests[0].sender_uid, ::geteuid());
    EXPECT_EQ(requests[0].sender_pid, ::getpid());
    EXPECT_TRUE(server->reply(requests[0], "failed: why"));
  });
  const auto got = send_command_for_reply(server->path(), "tarnix.packetfilter /add:x", 20s);
  serve.join();
  ASSERT_TRUE(got.ok()) << got.error().message();
  ASSERT_TRUE(got->has_value());
  EXPECT_EQ(**got, "failed: why");

  // A sender that does not wait (every one before replies): its command
  // arrives as ever, and there is nobody to answer.
  ASSERT_EQ(why(send_command(server->path(), "tarnix.trafficmonitor /init")), "");
  auto requests = server->receive_requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_TRUE(requests[0].sender.empty());
  EXPECT_FALSE(server->reply(requests[0], "done"));

  // A receiver that never reads: once its queue is full the replies are
  // dropped at once; the instance never waits for it.
  OwnedFd slow = waiting_sender(server->path(), "x");
  ASSERT_TRUE(slow);
  requests = server->receive_requests();
  ASSERT_EQ(requests.size(), 1u);
  int sent = 0;
  for (int i = 0; i < 1000; ++i) sent += server->reply(requests[0], "done") ? 1 : 0;
  EXPECT_GT(sent, 0);
  EXPECT_LT(sent, 1000);

  // Gone: nothing to answer, no error for the instance.
  slow.reset();
  EXPECT_FALSE(server->reply(requests[0], "done"));
  EXPECT_EQ(send_command_for_reply(run / "nothing.sock", "x", 1s).error().errno_value, kNobodyListensErrno);
}

TEST(CommandChannel, AnInstanceAnswersNoOtherUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root (an instance run as another user)";
  // An instance of "nobody"; root, who may send to any socket, gets no reply.
  char tmpl[] = "/tmp/tw-filter-reply-XXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  const std::string dir = tmpl, path = dir + "/tarnwatch.sock";
  ASSERT_EQ(::chown(dir.c_str(), 65534, 65534), 0);
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    // 0: the sender was refused its reply; 1: it was answered; 2: broken.
    if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0)
      ::_exit(2);
    auto server = CommandServer::listen(path);
    if (!server) ::_exit(2);
    if (::write(ready[1], "r", 1) != 1) ::_exit(2);
    pollfd p{(*server)->fd(), POLLIN, 0};
    if (::poll(&p, 1, 10000) != 1) ::_exit(2);
    const auto requests = (*server)->receive_requests();
    if (requests.size() != 1 || requests[0].sender_uid != 0u) ::_exit(2);
    ::_exit((*server)->reply(requests[0], "done") ? 1 : 0);
  }
  ::close(ready[1]);
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ::close(ready[0]);
  OwnedFd root_sender = waiting_sender(path, "tarnix.packetfilter /start");
  ASSERT_TRUE(root_sender);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  char buf[64];
  EXPECT_EQ(::recv(root_sender.get(), buf, sizeof buf, MSG_DONTWAIT), -1);
  std::error_code ec;
  fs::remove_all(dir, ec);
}

TEST(CommandChannel, StaleSocketIsReplacedLiveOneAndOtherFilesAreLeftAlone) {
  RuntimeDir run;
  const std::string path = run / "tarnwatch.sock";

  Status sent = send_command(path, "tarnix.trafficmonitor /init");
  ASSERT_FALSE(sent.ok());
  EXPECT_EQ(sent.error().detail, "no Tarnwatch instance is running (nothing listens on " + path + ")");
  EXPECT_EQ(sent.error().errno_value, kNobodyListensErrno);

  {  // An instance killed without cleaning up leaves its socket file.
    OwnedFd dead(::socket(AF_UNIX, SOCK_DGRAM, 0));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::bind(dead.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  }
  ASSERT_TRUE(fs::exists(path));
  sent = send_command(path, "x");
  ASSERT_FALSE(sent.ok());
  EXPECT_EQ(sent.error().errno_value, kNobodyListensErrno);

  auto server = opened(CommandServer::listen(path));
  ASSERT_TRUE(server);

  // A second server on the same path fails and leaves the first working.
  auto again = CommandServer::listen(path);
  ASSERT_FALSE(again.ok());
  EXPECT_EQ(again.error().detail, "another instance is listening on " + path);
  EXPECT_EQ(again.error().errno_value, kChannelTakenErrno);
  ASSERT_EQ(why(send_command(path, "tarnix.sessionmonitor /blockstart")), "");
  EXPECT_EQ(server->receive_pending(), std::vector<std::string>{"tarnix.sessionmonitor /blockstart"});

  // Destruction removes our file, but not one that replaced it meanwhile.
  server.reset();
  EXPECT_FALSE(fs::exists(path));
  auto old = opened(CommandServer::listen(path));
  ASSERT_TRUE(old);
  ::unlink(path.c_str());
  auto replacement = opened(CommandServer::listen(path));
  ASSERT_TRUE(replacement);
  old.reset();
  ASSERT_EQ(why(send_command(path, "tarnix.packetfilter /reload")), "");
  EXPECT_EQ(replacement->receive_pending(), std::vector<std::string>{"tarnix.packetfilter /reload"});

  // Something that is not a socket is never deleted.
  { std::ofstream(run / "tarnwatch_#2.sock") << "keep"; }
  auto not_socket = CommandServer::listen(run / "tarnwatch_#2.sock");
  ASSERT_FALSE(not_socket.ok());
  EXPECT_NE(not_socket.error().errno_value, kChannelTakenErrno);
  EXPECT_TRUE(fs::is_regular_file(run / "tarnwatch_#2.sock"));

  // Too long for a socket address.
  EXPECT_FALSE(CommandServer::listen("/" + std::string(200, 'a')).ok());
  EXPECT_FALSE(send_command("/" + std::string(200, 'a'), "x").ok());
}

TEST(CommandChannel, EveryInstanceGetsTheLowestFreeNumber) {
  RuntimeDir run;
  EXPECT_EQ(command_socket_path(1), run / "tarnwatch.sock");
  EXPECT_EQ(command_socket_path(3), run / "tarnwatch_#3.sock");
  EXPECT_EQ(command_socket_path(0), "");
  EXPECT_EQ(command_socket_path(kMaxInstanceNumber + 1), "");

  auto first = opened(CommandServer::listen_as_instance(true));
  ASSERT_TRUE(first);
  EXPECT_EQ(first->number(), 1);
  EXPECT_FALSE(CommandServer::listen_as_instance(true).ok());  // only one first instance
  auto second = opened(CommandServer::listen_as_instance(false));
  auto third = opened(CommandServer::listen_as_instance(false));
  ASSERT_TRUE(second && third);
  EXPECT_EQ(third->path(), run / "tarnwatch_#3.sock");

  // A number that became free is told apart from a failing instance, and
  // taken again.
  second.reset();
  const Status sent = send_command(command_socket_path(2), "x");
  ASSERT_FALSE(sent.ok());
  EXPECT_EQ(sent.error().errno_value, kNobodyListensErrno);
  auto fourth = opened(CommandServer::listen_as_instance(false));
  ASSERT_TRUE(fourth);
  EXPECT_EQ(fourth->number(), 2);
}

// ---------------------------------------------------------------- status block

class StatusBlockTest : public ::testing::Test {
 protected:
  const StatusBlockNames names{"/tw_test_memory_" + std::to_string(::getpid()),
                               "/tw_test_mutex_" + std::to_string(::getpid())};
  const StatusBlockNames own = per_user_status_names(names, ::geteuid());
  const std::string& mem = names.memory;
  const std::string& mutex = names.mutex;
  void SetUp() override { TearDown(); }
  void TearDown() override {
    for (const auto& n : {names, own}) {
      ::shm_unlink(n.memory.c_str());
      ::sem_unlink(n.mutex.c_str());
    }
  }
  std::optional<std::string> text() const {
    auto r = read_status_block(names);
    return r ? std::optional<std::string>(r->text) : std::nullopt;
  }
  bool ended() const {
    auto r = read_status_block(names);
    return r && r->ended;
  }
  // The whole block as any reader maps it; empty when it cannot be read.
  static std::string raw(const std::string& name) {
    std::string bytes(kStatusBlockSize, '\0');
    const int fd = ::shm_open(name.c_str(), O_RDONLY, 0);
    if (fd < 0 || ::pread(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) bytes.clear();
    if (fd >= 0) ::close(fd);
    return bytes;
  }
};

TEST_F(StatusBlockTest, PublishedRecordsAreReadBackWhole) {
  EXPECT_EQ(read_status_block(names), std::nullopt);  // nothing published since boot
  auto block = opened(PosixStatusBlock::open(names));
  ASSERT_TRUE(block);
  EXPECT_EQ(block->names(), names);
  struct stat st {};
  ASSERT_EQ(::stat(("/dev/shm" + mem).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 1024);

  EXPECT_EQ(text(), "");
  ASSERT_TRUE(block->publish("12,34,5600,0,"));
  EXPECT_EQ(text(), "12,34,5600,0,");
  ASSERT_TRUE(block->publish("7,"));  // a shorter record ends at its own NUL
  EXPECT_EQ(text(), "7,");
  ASSERT_TRUE(block->publish(std::string("1,2,\0 3,", 8)));
  EXPECT_EQ(text(), "1,2,");

  // The longest record leaves the last byte, the ended flag, alone.
  ASSERT_TRUE(block->publish(std::string(2000, '9')));
  EXPECT_EQ(text(), std::string(1022, '9'));
  EXPECT_FALSE(ended());

  // A second instance opens the same block; whoever wrote last is shown.
  auto second = opened(PosixStatusBlock::open(names));
  ASSERT_TRUE(second);
  ASSERT_TRUE(second->publish("2,"));
  EXPECT_EQ(text(), "2,");
  ASSERT_TRUE(block->publish("1,"));
  EXPECT_EQ(text(), "1,");
}

TEST_F(StatusBlockTest, ClosingMarksTheRecordEndedUntilTheNextOneArrives) {
  auto block = opened(PosixStatusBlock::open(names));
  auto second = opened(PosixStatusBlock::open(names));
  ASSERT_TRUE(block && second);
  ASSERT_TRUE(block->publish("5,6,"));
  block.reset();
  // The names stay and the record with them, marked as the last one.
  EXPECT_EQ(read_status_block(names), (StatusRecord{"5,6,", true}));
  // Readers of the string alone see the record as it was.
  const std::string bytes = raw(mem);
  ASSERT_EQ(bytes.size(), kStatusBlockSize);
  EXPECT_STREQ(bytes.c_str(), "5,6,");
  EXPECT_EQ(bytes[1023], 1);

  // Another instance that still runs clears the mark with its next record.
  ASSERT_TRUE(second->publish("7,"));
  EXPECT_EQ(read_status_block(names), (StatusRecord{"7,", false}));
  second.reset();
  EXPECT_TRUE(ended());
}

TEST_F(StatusBlockTest, ABlockOfAnotherUserIsNeitherWrittenNorRead) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the block to another user";
  // Another user's instance made the shared block, open to everyone even.
  int fd = ::shm_open(mem.c_str(), O_CREAT | O_RDWR, 0666);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, 1024), 0);
  ASSERT_EQ(::pwrite(fd, "9,9,", 5, 0), 5);
  ASSERT_EQ(::fchown(fd, 65534, 65534), 0);
  ::close(fd);
  EXPECT_EQ(read_status_block(names), std::nullopt) << "not our record";

  auto block = opened(PosixStatusBlock::open(names));
  ASSERT_TRUE(block);
  EXPECT_EQ(block->names(), own);
  EXPECT_EQ(own.memory, mem + "_" + std::to_string(::geteuid()));
  ASSERT_TRUE(block->publish("1,2,"));
  EXPECT_EQ(text(), "1,2,");
  block.reset();
  // The other user's block kept its record and its flag.
  const std::string bytes = raw(mem);
  ASSERT_EQ(bytes.size(), kStatusBlockSize);
  EXPECT_STREQ(bytes.c_str(), "9,9,");
  EXPECT_EQ(bytes[1023], 0);

  // A planted semaphore of another user is not taken either.
  TearDown();
  sem_t* sem = ::sem_open(mutex.c_str(), O_CREAT, 0666, 0);  // held for good
  ASSERT_NE(sem, SEM_FAILED);
  ::sem_close(sem);
  const std::string sem_file = "/dev/shm/sem." + mutex.substr(1);
  ASSERT_EQ(::chown(sem_file.c_str(), 65534, 65534), 0);
  block = opened(PosixStatusBlock::open(names, 20ms));
  ASSERT_TRUE(block);
  EXPECT_EQ(block->names(), own);
  EXPECT_TRUE(block->publish("3,"));
}

TEST_F(StatusBlockTest, ALockLeftTakenByADeadHolderIsRecovered) {
  auto block = opened(PosixStatusBlock::open(names, 20ms));
  ASSERT_TRUE(block);
  ASSERT_TRUE(block->publish("before,"));

  // A reader killed while holding the lock never releases it.
  sem_t* sem = ::sem_open(mutex.c_str(), 0);
  ASSERT_NE(sem, SEM_FAILED);
  ASSERT_EQ(::sem_wait(sem), 0);
  EXPECT_FALSE(block->publish("skipped,"));
  int published_after = 0;
  for (int i = 0; i < 5 && !published_after; ++i)
    if (block->publish("after,")) published_after = i + 1;
  EXPECT_GT(published_after, 0) << "the publisher never got the lock back";
  EXPECT_EQ(text(), "after,");
  // And the lock works as a lock again: free, one holder at a time.
  int value = -1;
  ::sem_getvalue(sem, &value);
  EXPECT_EQ(value, 1);
  ::sem_close(sem);
}

TEST_F(StatusBlockTest, ObjectsThatAreNoBlockOfOursAreNeitherReadNorTaken) {
  // An object created but not yet sized, as a writer leaves it for a moment.
  int fd = ::shm_open(mem.c_str(), O_CREAT | O_RDWR, 0600);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(read_status_block(names), std::nullopt);
  // Another size is no block of ours: neither read nor written.
  ASSERT_EQ(::write(fd, "5,6,7", 5), 5);
  ::close(fd);
  EXPECT_EQ(read_status_block(names), std::nullopt);
  auto block = opened(PosixStatusBlock::open(names));
  ASSERT_TRUE(block);
  EXPECT_EQ(block->names(), own);
  ASSERT_TRUE(block->publish("8,"));
  EXPECT_EQ(text(), "8,");
}

TEST_F(StatusBlockTest, RecordsCarryTheirAgeForReadersToTellADeadWriter) {
  auto block = opened(PosixStatusBlock::open(names));
  ASSERT_TRUE(block);
  EXPECT_EQ(read_status_block(names)->age_ms, std::nullopt) << "never published";
  ASSERT_TRUE(block->publish("1,2,"));
  auto fresh = read_status_block(names);
  ASSERT_TRUE(fresh && fresh->age_ms);
  EXPECT_LT(*fresh->age_ms, 1000u);
  std::this_thread::sleep_for(300ms);
  auto older = read_status_block(names);
  ASSERT_TRUE(older && older->age_ms);
  EXPECT_GE(*older->age_ms, 300u);
  // The stamp never shows in the text; a record too long to leave it room
  // has no age.
  EXPECT_EQ(older->text, "1,2,");
  ASSERT_TRUE(block->publish(std::string(kStatusStampOffset, '7')));
  EXPECT_EQ(read_status_block(names)->age_ms, std::nullopt);
}

// Names another user planted in the world-writable /dev/shm: a FIFO must not
// hang a reader, and a link or a FIFO sends the writer to its per-user names.
TEST_F(StatusBlockTest, PlantedFifosAndLinksSendUsToThePerUserNames) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root (another user)";
  test::LocalUser attacker;
  ASSERT_TRUE(attacker.ok()) << attacker.error();
  ASSERT_TRUE(attacker.run("mkfifo -m 0666 /dev/shm" + mem).ok());
  // A reader in a child, so that a hang ends the child, not the test run.
  const auto read_in_child = [&] {
    pid_t pid = ::fork();
    if (pid == 0) {
      ::alarm(5);
      auto r = read_status_block(names);
      ::_exit(r ? (r->text == "1," ? 10 : 11) : 12);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  };
  EXPECT_EQ(read_in_child(), 12) << "the reader waited on the FIFO";
  {
    auto block = opened(PosixStatusBlock::open(names, 20ms));
    ASSERT_TRUE(block);
    EXPECT_EQ(block->names(), own);
    ASSERT_TRUE(block->publish("1,"));
    EXPECT_EQ(read_in_child(), 10);
  }
  TearDown();

  // A link at the semaphore's name.
  const std::string sem_file = "/dev/shm/sem." + mutex.substr(1);
  ::unlink(sem_file.c_str());
  ASSERT_TRUE(attacker.run("ln -s /dev/null " + sem_file).ok());
  {
    auto block = opened(PosixStatusBlock::open(names, 20ms));
    ASSERT_TRUE(block) << "no status block at all";
    EXPECT_EQ(block->names(), own);
    ASSERT_TRUE(block->publish("1,"));
    // The shared memory object is ours, but a writer never takes it with a
    // foreign semaphore: neither does the reader.
    EXPECT_EQ(read_in_child(), 10);
  }
  ::unlink(sem_file.c_str());
}

TEST(InstanceLock, ALiveHolderIsSeenWithoutTouchingTheLock) {
  RuntimeDir run;
  const std::string path = InstanceLock::path_for("tarnix");
  EXPECT_EQ(path, run / "tarnix.lock");
  EXPECT_FALSE(InstanceLock::held_by_a_live_process(path)) << "no file yet";
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t pid = ::fork();
  if (pid == 0) {
    InstanceLock held = InstanceLock::acquire("tarnix");
    char c = held.held() ? 'y' : 'n';
    (void)!::write(ready[1], &c, 1);
    ::pause();
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ::close(ready[0]);
  ::close(ready[1]);
  ASSERT_EQ(c, 'y');
  EXPECT_TRUE(InstanceLock::held_by_a_live_process(path));
  // Asking did not take it: a starting instance still finds it held.
  EXPECT_FALSE(InstanceLock::acquire("tarnix").first_instance());
  EXPECT_TRUE(InstanceLock::held_by_a_live_process(path));
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  EXPECT_FALSE(InstanceLock::held_by_a_live_process(path));
  EXPECT_TRUE(InstanceLock::acquire("tarnix").first_instance());
}

}  // namespace
}  // namespace tw::platform
