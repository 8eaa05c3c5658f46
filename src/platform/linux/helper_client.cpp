#include "platform/linux/helper_client.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

// The helper program to run, or why there is none that this user may run.
Result<std::string> find_helper(const std::string& explicit_path) {
  const std::vector<std::string> candidates =
      explicit_path.empty() ? helper_candidates() : std::vector<std::string>{explicit_path};
  for (const std::string& p : candidates) {
    struct stat st {};
    if (stat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (access(p.c_str(), X_OK) != 0) {
      return Error::from_errno(kNeedsAdministratorHeadline,
                               "may not run " + p + " (it is for root and the group tarnwatch; add the user with "
                               "`usermod -aG tarnwatch USER` and log in again)",
                               errno);
    }
    return p;
  }
  std::string looked;
  for (const std::string& p : candidates) looked += (looked.empty() ? "" : ", ") + p;
  return Error{kNeedsAdministratorHeadline,
               "the privileged helper is missing (looked for " + looked + "); `make install` installs it", ENOENT};
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

// Takes the descriptors passed with a message: the first is kept in
// `passed` (an earlier one there is closed), any more are closed.
void take_passed_fds(msghdr& msg, int& passed) {
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
    const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (std::size_t i = 0; i < count; ++i) {
      int fd;
      std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
      if (passed < 0) {
        passed = fd;
      } else {
        ::close(fd);
      }
    }
  }
}

// Reads exactly `n` bytes into `out`, keeping a descriptor passed along in
// `passed`. 0, ETIMEDOUT, EPIPE at the end of the stream, or errno.
int read_exact(int fd, std::uint8_t* out, std::size_t n, Clock::time_point deadline, int& passed) {
  std::size_t done = 0;
  while (done < n) {
    if (const int e = wait_for(fd, POLLIN, deadline)) return e;
    iovec io{out + done, n - done};
    alignas(cmsghdr) char control[CMSG_SPACE(4 * sizeof(int))];
    msghdr msg{};
    msg.msg_iov = &io;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t r = recvmsg(fd, &msg, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    if (r > 0) take_passed_fds(msg, passed);
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

HelperClient::~HelperClient() {
  std::lock_guard lock(mutex_);
  if (passed_fd_ >= 0) ::close(passed_fd_);
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

  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0)
    return helper_error("Could not start the privileged helper.", "socketpair", errno);

  // The child gets its end as fd 0 (dup2 clears close-on-exec), /dev/null as
  // fd 1, our stderr for its complaints, and an empty environment: it runs
  // with capabilities we lack and has no use for ours.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, sv[1], 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
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
  ::close(sv[1]);
  if (err != 0) {
    ::close(sv[0]);
    if (err == EACCES || err == EPERM)
      return helper_error(kNeedsAdministratorHeadline, "may not run " + path_, err);
    return helper_error("Could not start the privileged helper.", "running " + path_, err);
  }
  pid_ = pid;
  fd_ = sv[0];

  bool died = false;
  auto reply = exchange_locked(helper::Hello{}, died, options_.reply_timeout);
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
  if (fd_ >= 0) ::close(fd_);  // the helper sees the end of its input and leaves
  fd_ = -1;
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
                                                     std::chrono::milliseconds reply_timeout) {
  died = false;
  const std::uint32_t id = next_request_id_++;
  const auto deadline = Clock::now() + reply_timeout;
  const char* ended = "The privileged helper ended unexpectedly.";
  const char* silent = "The privileged helper did not answer.";

  if (const int e = write_all(fd_, helper::encode(helper::Frame{id, request}), deadline)) {
    died = e != ETIMEDOUT;
    return helper_error(died ? ended : silent, "sending a request to " + path_, e);
  }
  buf_.resize(helper::kHeaderSize);
  if (const int e = read_exact(fd_, buf_.data(), buf_.size(), deadline, passed_fd_)) {
    died = e != ETIMEDOUT;
    return helper_error(died ? ended : silent, "waiting for the reply of " + path_, e);
  }
  auto header = helper::decode_header(buf_);
  if (!header) return header.error();
  buf_.resize(helper::kHeaderSize + header->payload_size);
  if (const int e = read_exact(fd_, buf_.data() + helper::kHeaderSize, header->payload_size, deadline, passed_fd_)) {
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
  for (int attempt = 0;; ++attempt) {
    if (fd_ < 0) {
      if (Status s = start_locked(); !s) return s.error();
    }
    bool died = false;
    if (passed_fd_ >= 0) ::close(std::exchange(passed_fd_, -1));  // never meant for this request
    auto reply = exchange_locked(request, died, reply_timeout.value_or(options_.reply_timeout));
    if (reply) return reply;
    // A helper that has sent nonsense or fallen silent is not to be trusted
    // with the next request either.
    stop_locked(true);
    if (!died || attempt > 0) return reply;
  }
}

Result<int> HelperClient::open_capture(std::uint32_t address) {
  helper::OpenCapture request;
  std::memcpy(request.address.data(), &address, 4);
  auto reply = call(request);
  std::lock_guard lock(mutex_);
  const int fd = std::exchange(passed_fd_, -1);
  if (!reply) {
    if (fd >= 0) ::close(fd);
    return reply.error();
  }
  if (const auto* e = std::get_if<helper::ErrorReply>(&*reply)) {
    if (fd >= 0) ::close(fd);
    return e->error;
  }
  if (fd < 0)
    return Error{"Malformed helper message.", "a capture reply from " + path_ + " without its socket", EBADMSG};
  return fd;
}

Result<std::uint64_t> HelperClient::capabilities() {
  std::lock_guard lock(mutex_);
  if (fd_ < 0) {
    if (Status s = start_locked(); !s) return s.error();
  }
  return capabilities_;
}

namespace {
constexpr std::uint64_t kNetAdmin = std::uint64_t{1} << CAP_NET_ADMIN;

helper::DiagSocketId to_wire(const SocketId& id) {
  helper::DiagSocketId w;
  w.family = helper::kFamilyIPv4;
  w.protocol = helper::kProtocolTcp;
  std::memcpy(w.src.data(), &id.local_address, 4);
  std::memcpy(w.dst.data(), &id.remote_address, 4);
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
  if ((*caps & kNetAdmin) == 0) {
    return Error{kNeedsAdministratorHeadline,
                 client_.path() + " lacks CAP_NET_ADMIN, so it cannot close " + to_text(id) +
                     "; `make install` installs it with the capability",
                 EPERM};
  }
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
    return Error{kNeedsAdministratorHeadline,
                 client_.path() + " lacks CAP_DAC_READ_SEARCH or CAP_SYS_PTRACE, so it cannot name the processes "
                                  "of other users' sockets; `make install` installs it with them",
                 EPERM};
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
