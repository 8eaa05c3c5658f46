#include "platform/linux/helper_client.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>
#include <utility>
#include <variant>

#ifndef TW_HELPER_INSTALL_DIR
#define TW_HELPER_INSTALL_DIR "/usr/local/libexec/tarnwatch"
#endif

namespace tw::platform {
namespace {

constexpr const char* kHelperName = "tarnix-helper";
using Clock = std::chrono::steady_clock;

std::vector<std::string> helper_candidates() {
  std::vector<std::string> out;
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const auto dir = exe.parent_path();
    out.push_back((dir / kHelperName).string());
    out.push_back((dir.parent_path() / "libexec" / "tarnwatch" / kHelperName).lexically_normal().string());
  }
  const std::string installed = std::string(TW_HELPER_INSTALL_DIR) + "/" + kHelperName;
  if (std::find(out.begin(), out.end(), installed) == out.end()) out.push_back(installed);
  return out;
}

// Whether the file carries file capabilities (setcap).
bool has_file_capabilities(const std::string& path) {
  return getxattr(path.c_str(), "security.capability", nullptr, 0) > 0;
}

bool in_group(gid_t gid) {
  if (getegid() == gid) return true;
  const int n = getgroups(0, nullptr);
  if (n <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(n));
  const int got = getgroups(n, groups.data());
  return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

std::string group_name(gid_t gid) {
  std::vector<char> buf(4096);
  group g{};
  group* found = nullptr;
  if (getgrgid_r(gid, &g, buf.data(), buf.size(), &found) == 0 && found != nullptr) return found->gr_name;
  return std::to_string(gid);
}

std::string user_name() {
  std::vector<char> buf(4096);
  passwd p{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &p, buf.data(), buf.size(), &found) == 0 && found != nullptr) return found->pw_name;
  return "USER";
}

// Why this user may not run `path`, which exists: a group of its own that the
// user is not in (as the installation makes it: root and the group
// tarnwatch), or something else.
Error not_runnable(const std::string& path, const struct stat& st, int err) {
  const bool group_may = (st.st_mode & S_IXGRP) != 0;
  const bool others_may = (st.st_mode & S_IXOTH) != 0;
  if (group_may && !others_may && st.st_uid != geteuid() && !in_group(st.st_gid))
    return needs_administrator(not_in_group_cause(group_name(st.st_gid), user_name()),
                               "may not run " + path + ": not in its group", err);
  return Error::from_errno(kNeedsAdministratorHeadline, "may not run " + path, err);
}

// The helper program to run, or why there is none that this user may run.
Result<std::string> find_helper(const std::string& explicit_path) {
  const std::vector<std::string> candidates =
      explicit_path.empty() ? helper_candidates() : std::vector<std::string>{explicit_path};
  std::optional<Error> refused;
  std::string runnable;
  for (const std::string& p : candidates) {
    struct stat st {};
    if (stat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (access(p.c_str(), X_OK) != 0) {
      if (!refused) refused = not_runnable(p, st, errno);
      continue;
    }
    if (has_file_capabilities(p)) return p;
    if (runnable.empty()) runnable = p;
  }
  if (!runnable.empty()) return runnable;
  if (refused) return *refused;
  std::string looked;
  for (const std::string& p : candidates) looked += (looked.empty() ? "" : ", ") + p;
  return needs_administrator(kHelperNotInstalledCause, "the privileged helper is missing (looked for " + looked + ")",
                             ENOENT);
}

Error helper_error(const char* headline, const std::string& detail, int err) {
  return Error::from_errno(headline, detail, err);
}

int remaining_ms(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<decltype(left)>(left, 0, 60'000));
}

// Waits until `fd` is ready for `events`. 0 when ready, ETIMEDOUT or errno.
int wait_for(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int r = poll(&p, 1, remaining_ms(deadline));
    if (r > 0) return 0;
    if (r == 0 && remaining_ms(deadline) == 0) return ETIMEDOUT;
    if (r < 0 && errno != EINTR) return errno;
  }
}

// Writes all of `bytes`. 0, ETIMEDOUT or errno (EPIPE when the helper is gone).
int write_all(int fd, const std::vector<std::uint8_t>& bytes, Clock::time_point deadline) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    if (const int e = wait_for(fd, POLLOUT, deadline)) return e;
    // MSG_NOSIGNAL: a helper that died must not kill us with SIGPIPE.
    const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return errno;
    }
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

// Reads exactly `n` bytes into `out`. 0, ETIMEDOUT, EPIPE at the end of the
// stream, or errno. A plain recv(): a descriptor the helper might attach is
// discarded by the kernel, never received.
int read_exact(int fd, std::uint8_t* out, std::size_t n, Clock::time_point deadline) {
  std::size_t done = 0;
  while (done < n) {
    if (const int e = wait_for(fd, POLLIN, deadline)) return e;
    const ssize_t r = recv(fd, out + done, n - done, MSG_DONTWAIT);
    if (r == 0) return EPIPE;
    if (r < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return errno;
    }
    done += static_cast<std::size_t>(r);
  }
  return 0;
}

}  // namespace

HelperClient::HelperClient(Options options) : options_(std::move(options)) {}

std::string not_in_group_cause(std::string_view group, std::string_view user) {
  return "you are not in the group " + std::string(group) + ": sudo usermod -aG " + std::string(group) + " " +
         std::string(user) + ", then log in again";
}

HelperClient::~HelperClient() {
  std::lock_guard lock(mutex_);
  stop_locked(false);
}

std::string HelperClient::path() const {
  std::lock_guard lock(mutex_);
  return path_;
}

pid_t HelperClient::pid() const {
  std::lock_guard lock(mutex_);
  return pid_;
}

Status HelperClient::start_locked() {
  auto found = find_helper(options_.path);
  if (!found) return found.error();
  path_ = *found;

  int sv_fds[2], cap_fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv_fds) != 0)
    return helper_error("Could not start the privileged helper.", "socketpair", errno);
  OwnedFd sv[2] = {OwnedFd(sv_fds[0]), OwnedFd(sv_fds[1])};
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, cap_fds) != 0)
    return helper_error("Could not start the privileged helper.", "socketpair", errno);
  OwnedFd cap[2] = {OwnedFd(cap_fds[0]), OwnedFd(cap_fds[1])};

  // The child gets its request channel as fd 0 and its capture channel as
  // fd 3 (dup2 clears close-on-exec), /dev/null as fd 1, our stderr for its
  // complaints, and an empty environment: it runs with capabilities we lack
  // and has no use for ours.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, sv[1].get(), 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, cap[1].get(), 3);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // Signals blocked or ignored here (SIGTERM in a program that handles its
  // own shut-down) must not keep the helper from ending with us.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  char* argv[] = {const_cast<char*>(path_.c_str()), nullptr};
  char* envp[] = {nullptr};
  pid_t pid = 0;
  const int err = posix_spawn(&pid, path_.c_str(), &actions, &attr, argv, envp);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  // The child holds its own copies of its ends; ours go now.
  sv[1].reset();
  cap[1].reset();
  if (err != 0) {
    if (err == EACCES || err == EPERM) {
      struct stat st {};
      if (stat(path_.c_str(), &st) == 0) return not_runnable(path_, st, err);
      return helper_error(kNeedsAdministratorHeadline, "may not run " + path_, err);
    }
    return helper_error("Could not start the privileged helper.", "running " + path_, err);
  }
  // Only the helper writes to the capture channel.
  shutdown(cap[0].get(), SHUT_WR);
  capture_ = std::move(cap[0]);
  pid_ = pid;
  fd_ = std::move(sv[0]);

  bool died = false;
  std::uint32_t id = 0;
  auto reply = exchange_locked(helper::Hello{}, died, options_.reply_timeout, id);
  if (!reply) {
    stop_locked(true);
    return reply.error();
  }
  if (const auto* e = std::get_if<helper::ErrorReply>(&*reply)) {
    stop_locked(true);
    return e->error;
  }
  capabilities_ = std::get<helper::HelloReply>(*reply).capabilities;
  return {};
}

void HelperClient::stop_locked(bool kill_now) {
  fd_.reset();  // the helper sees the end of its input and leaves
  // A capture reader holds a duplicate: it sees the end once the helper is gone.
  capture_.reset();
  if (pid_ <= 0) return;
  if (kill_now) kill(pid_, SIGKILL);
  // Give it a second to go by itself, then make sure.
  const auto deadline = Clock::now() + std::chrono::seconds(1);
  for (;;) {
    const pid_t r = waitpid(pid_, nullptr, WNOHANG);
    if (r == pid_ || (r < 0 && errno != EINTR)) break;  // reaped, or reaped by someone else
    if (Clock::now() >= deadline) {
      kill(pid_, SIGKILL);
      while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  pid_ = 0;
}

Result<helper::Message> HelperClient::exchange_locked(const helper::Message& request, bool& died,
                                                     std::chrono::milliseconds reply_timeout,
                                                     std::uint32_t& request_id) {
  died = false;
  const std::uint32_t id = next_request_id_++;
  request_id = id;
  const auto deadline = Clock::now() + reply_timeout;
  const char* ended = "The privileged helper ended unexpectedly.";
  const char* silent = "The privileged helper did not answer.";

  if (const int e = write_all(fd_.get(), helper::encode(helper::Frame{id, request}), deadline)) {
    died = e != ETIMEDOUT;
    return helper_error(died ? ended : silent, "sending a request to " + path_, e);
  }
  buf_.resize(helper::kHeaderSize);
  if (const int e = read_exact(fd_.get(), buf_.data(), buf_.size(), deadline)) {
    died = e != ETIMEDOUT;
    return helper_error(died ? ended : silent, "waiting for the reply of " + path_, e);
  }
  auto header = helper::decode_header(buf_);
  if (!header) return header.error();
  buf_.resize(helper::kHeaderSize + header->payload_size);
  if (const int e = read_exact(fd_.get(), buf_.data() + helper::kHeaderSize, header->payload_size, deadline)) {
    died = e != ETIMEDOUT;
    return helper_error(died ? ended : silent, "reading the reply of " + path_, e);
  }
  auto decoded = helper::decode_frame(buf_);
  if (!decoded) return decoded.error();
  const helper::Frame& frame = decoded->frame;
  const helper::MessageType type = helper::type_of(frame.message);
  const bool answers =
      (type == helper::MessageType::kErrorReply) || (type == helper::reply_type_of(helper::type_of(request)));
  if (frame.request_id != id || !answers)
    return Error{"Malformed helper message.", "a reply from " + path_ + " that does not answer the request", EBADMSG};
  return frame.message;
}

Result<helper::Message> HelperClient::call(const helper::Message& request,
                                           std::optional<std::chrono::milliseconds> reply_timeout) {
  std::lock_guard lock(mutex_);
  std::uint32_t id = 0;
  return call_locked(request, reply_timeout.value_or(options_.reply_timeout), id);
}

Result<helper::Message> HelperClient::call_locked(const helper::Message& request,
                                                  std::chrono::milliseconds reply_timeout, std::uint32_t& request_id) {
  for (int attempt = 0;; ++attempt) {
    if (!fd_) {
      if (Status s = start_locked(); !s) return s.error();
    }
    bool died = false;
    auto reply = exchange_locked(request, died, reply_timeout, request_id);
    if (reply) return reply;
    // A helper that has sent nonsense or fallen silent is not to be trusted
    // with the next request either.
    stop_locked(true);
    if (!died || attempt > 0) return reply;
  }
}

Result<HelperCaptureRun> HelperClient::start_capture(const net::CaptureAddress& address) {
  std::lock_guard lock(mutex_);
  std::uint32_t id = 0;
  auto reply = call_locked(helper::StartCapture{address}, options_.reply_timeout, id);
  if (!reply) return reply.error();
  if (const auto* e = std::get_if<helper::ErrorReply>(&*reply)) return e->error;
  // The reader gets a duplicate of its own: a helper started anew closes
  // this object's end, and the reader then sees the end of the old run
  // instead of a descriptor number reused for something else.
  OwnedFd channel(capture_ ? fcntl(capture_.get(), F_DUPFD_CLOEXEC, 0) : -1);
  if (!channel) return helper_error("Could not open the packet capture.", "the capture channel", errno);
  return HelperCaptureRun{std::move(channel), id, std::get<helper::StartCaptureReply>(*reply).interface};
}

Result<helper::CaptureCounts> HelperClient::stop_capture() {
  std::lock_guard lock(mutex_);
  // A helper that is not running captures nothing: there is nothing to stop,
  // and nothing to start for it.
  if (!fd_) return Error{"The privileged helper ended unexpectedly.", "no helper runs", ESRCH};
  std::uint32_t id = 0;
  auto reply = call_locked(helper::StopCapture{}, options_.reply_timeout, id);
  if (!reply) return reply.error();
  if (const auto* e = std::get_if<helper::ErrorReply>(&*reply)) return e->error;
  return std::get<helper::StopCaptureReply>(*reply).counts;
}

Result<std::uint64_t> HelperClient::capabilities() {
  std::lock_guard lock(mutex_);
  if (!fd_) {
    if (Status s = start_locked(); !s) return s.error();
  }
  return capabilities_;
}

namespace {
constexpr std::uint64_t kNetAdmin = std::uint64_t{1} << CAP_NET_ADMIN;

helper::DiagSocketId to_wire(const SocketId& id) {
  helper::DiagSocketId w;
  w.protocol = helper::kProtocolTcp;
  if (id.is_v6()) {
    w.family = helper::kFamilyIPv6;
    w.src = id.local_address6;
    w.dst = id.remote_address6;
  } else {
    w.family = helper::kFamilyIPv4;
    std::memcpy(w.src.data(), &id.local_address, 4);
    std::memcpy(w.dst.data(), &id.remote_address, 4);
  }
  w.src_port = id.local_port;
  w.dst_port = id.remote_port;
  w.interface = id.interface;
  w.cookie = id.cookie;
  return w;
}
}  // namespace

bool HelperConnectionKiller::is_supported() {
  auto caps = client_.capabilities();
  return caps && (*caps & kNetAdmin) != 0;
}

Status HelperConnectionKiller::close(const SocketId& id) {
  auto caps = client_.capabilities();
  if (!caps) return caps.error();
  if ((*caps & kNetAdmin) == 0)
    return needs_administrator(kHelperWithoutCapabilitiesCause,
                               client_.path() + " lacks CAP_NET_ADMIN, so it cannot close " + to_text(id), EPERM);
  auto reply = client_.call(helper::DestroySocket{to_wire(id)});
  if (!reply) return reply.error();
  if (const auto* e = std::get_if<helper::ErrorReply>(&*reply)) return e->error;
  return {};
}

Result<std::vector<SocketOwnerEntry>> HelperSocketOwners::owners_of(std::span<const std::uint64_t> inodes) {
  constexpr std::uint64_t kNeeded = (std::uint64_t{1} << CAP_DAC_READ_SEARCH) | (std::uint64_t{1} << CAP_SYS_PTRACE);
  std::vector<SocketOwnerEntry> out;
  if (inodes.empty()) return out;  // an empty request would ask for every socket
  auto caps = client_.capabilities();
  if (!caps) return caps.error();
  if ((*caps & kNeeded) != kNeeded)
    return needs_administrator(kHelperWithoutCapabilitiesCause,
                               client_.path() + " lacks CAP_DAC_READ_SEARCH or CAP_SYS_PTRACE, so it cannot name "
                                                "the processes of other users' sockets",
                               EPERM);
  std::vector<std::uint64_t> sorted(inodes.begin(), inodes.end());
  std::sort(sorted.begin(), sorted.end());
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  std::erase(sorted, std::uint64_t{0});
  for (std::size_t at = 0; at < sorted.size(); at += helper::kMaxOwnerQueries) {
    const std::size_t n = std::min(helper::kMaxOwnerQueries, sorted.size() - at);
    helper::SocketOwners request{{sorted.begin() + static_cast<std::ptrdiff_t>(at),
                                  sorted.begin() + static_cast<std::ptrdiff_t>(at + n)}};
    auto reply = client_.call(request);
    if (!reply) return reply.error();
    if (const auto* e = std::get_if<helper::ErrorReply>(&*reply)) return e->error;
    for (auto& o : std::get<helper::SocketOwnersReply>(*reply).owners)
      out.push_back({o.inode, static_cast<int>(o.pid), std::move(o.name)});
  }
  return out;
}

}  // namespace tw::platform
