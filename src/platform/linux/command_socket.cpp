#include "platform/linux/command_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/linux/system_info.h"

namespace tw::platform {
namespace {

constexpr int kBatch = 64;

constexpr const char* kListenFailed = "The command channel cannot be opened.";
constexpr const char* kSendFailed = "The command cannot be sent.";

Error listen_error(const std::string& text, int err) { return Error{kListenFailed, text, err}; }
// "WHAT: <the system's text>", as the messages always read.
Error listen_errno(const std::string& what, int err) { return Error::from_errno(kListenFailed, what, err); }
Error send_error(const std::string& text, int err) { return Error{kSendFailed, text, err}; }

// False when the path does not fit sun_path (108 bytes with its NUL).
bool make_address(const std::string& path, sockaddr_un& addr, socklen_t& len) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.data(), path.size());
  len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
  return true;
}

OwnedFd datagram_socket() {
  return OwnedFd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
}

// Whether a process is bound to the socket file: connecting to a socket file
// whose owner has gone fails with ECONNREFUSED.
enum class Probe { Live, Stale, Error };
Probe probe(const sockaddr_un& addr, socklen_t len, int& err) {
  OwnedFd s = datagram_socket();
  if (!s) {
    err = errno;
    return Probe::Error;
  }
  if (::connect(s.get(), reinterpret_cast<const sockaddr*>(&addr), len) == 0) return Probe::Live;
  err = errno;
  return err == ECONNREFUSED ? Probe::Stale : Probe::Error;
}

}  // namespace

std::string command_socket_path(int instance_number) {
  if (instance_number < 1 || instance_number > kMaxInstanceNumber) return {};
  const std::string folder = runtime_folder().value_or("");
  if (folder.empty()) return {};
  if (instance_number == 1) return folder + "tarnwatch.sock";
  return folder + "tarnwatch_#" + std::to_string(instance_number) + ".sock";
}

CommandServer::CommandServer(OwnedFd fd, std::string path, dev_t dev, ino_t ino)
    : fd_(std::move(fd)), path_(std::move(path)), dev_(dev), ino_(ino), buffer_(kMaxCommandBytes) {}

CommandServer::~CommandServer() {
  // Remove the file only if it is still the one we bound: never another
  // instance's socket that replaced it.
  struct stat st {};
  if (::lstat(path_.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_dev == dev_ && st.st_ino == ino_)
    ::unlink(path_.c_str());
}

Result<std::unique_ptr<CommandServer>> CommandServer::listen(const std::string& socket_path) {
  sockaddr_un addr;
  socklen_t len;
  if (!make_address(socket_path, addr, len)) {
    return listen_error("command socket path is empty or too long: " + socket_path, ENAMETOOLONG);
  }

  struct stat st {};
  if (::lstat(socket_path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      return listen_error(socket_path + " exists and is not a socket", ENOTSOCK);
    }
    int err = 0;
    switch (probe(addr, len, err)) {
      case Probe::Live:
        return listen_error("another instance is listening on " + socket_path, kChannelTakenErrno);
      case Probe::Stale:
        // Left behind by an instance that was killed.
        if (::unlink(socket_path.c_str()) != 0 && errno != ENOENT) {
          return listen_errno("cannot remove stale " + socket_path, errno);
        }
        break;
      case Probe::Error:
        return listen_errno("cannot check " + socket_path, err);
    }
  } else if (errno != ENOENT) {
    return listen_errno("cannot check " + socket_path, errno);
  }

  OwnedFd fd = datagram_socket();
  if (!fd) return listen_errno("socket", errno);
  // Every datagram then carries its sender's pid, uid and gid as the kernel
  // knows them: replies go only to our own user.
  const int on = 1;
  if (::setsockopt(fd.get(), SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0) return listen_errno("SO_PASSCRED", errno);
  // On Linux the socket file takes the socket inode's mode (less the umask)
  // at bind, so the file is never open to others, not even briefly.
  ::fchmod(fd.get(), 0600);
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), len) != 0) {
    // EADDRINUSE (kChannelTakenErrno): another instance starting at the same
    // moment got it first.
    return listen_errno("cannot bind " + socket_path, errno);
  }
  ::chmod(socket_path.c_str(), 0600);
  if (::lstat(socket_path.c_str(), &st) != 0) {
    const int err = errno;
    ::unlink(socket_path.c_str());
    return listen_errno("cannot check " + socket_path, err);
  }
  int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags | O_NONBLOCK);
  return std::unique_ptr<CommandServer>(new CommandServer(std::move(fd), socket_path, st.st_dev, st.st_ino));
}

Result<std::unique_ptr<CommandServer>> CommandServer::listen_as_instance(bool first_instance) {
  const int last = first_instance ? 1 : kMaxInstanceNumber;
  for (int number = first_instance ? 1 : 2; number <= last; ++number) {
    const std::string path = command_socket_path(number);
    if (path.empty()) return listen_error("no private runtime folder for the command socket", ENOENT);
    auto server = listen(path);
    if (server) {
      (*server)->number_ = number;
      return server;
    }
    if (first_instance || server.error().errno_value != kChannelTakenErrno) return server;
  }
  return listen_error("every instance number up to " + std::to_string(kMaxInstanceNumber) + " is taken",
                      kChannelTakenErrno);
}

std::vector<std::string> CommandServer::receive_pending() {
  std::vector<std::string> out;
  for (CommandRequest& r : receive_requests()) out.push_back(std::move(r.text));
  return out;
}

std::vector<CommandRequest> CommandServer::receive_requests() {
  std::vector<CommandRequest> out;
  for (int i = 0; i < kBatch; ++i) {
    sockaddr_un from {};
    iovec iov{buffer_.data(), buffer_.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    // A datagram longer than the buffer is cut to it; the rest is discarded
    // by the kernel.
    ssize_t n = ::recvmsg(fd_.get(), &msg, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;  // EAGAIN: queue empty
    }
    CommandRequest request;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
      if (c->cmsg_level != SOL_SOCKET) continue;
      if (c->cmsg_type == SCM_CREDENTIALS && c->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
        ucred cred{};
        std::memcpy(&cred, CMSG_DATA(c), sizeof cred);
        request.sender_uid = cred.uid;
        request.sender_pid = cred.pid;
      } else if (c->cmsg_type == SCM_RIGHTS) {
        // Descriptors nobody asked for: close them, or a sender could fill
        // our descriptor table.
        const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t k = 0; k < count; ++k) {
          int passed = -1;
          std::memcpy(&passed, CMSG_DATA(c) + k * sizeof(int), sizeof passed);
          const OwnedFd unwanted(passed);  // closed at once
        }
      }
    }
    if (msg.msg_namelen > offsetof(sockaddr_un, sun_path) && msg.msg_namelen <= sizeof from)
      request.sender.assign(from.sun_path, msg.msg_namelen - offsetof(sockaddr_un, sun_path));
    std::string_view text(buffer_.data(), static_cast<std::size_t>(n));
    text = text.substr(0, text.find('\0'));
    if (text.empty()) continue;
    request.text = std::string(text);
    out.push_back(std::move(request));
  }
  return out;
}

bool CommandServer::reply(const CommandRequest& request, std::string_view reply) {
  if (request.sender.empty() || !request.sender_uid || *request.sender_uid != ::geteuid()) return false;
  sockaddr_un to {};
  to.sun_family = AF_UNIX;
  if (request.sender.size() > sizeof to.sun_path) return false;
  std::memcpy(to.sun_path, request.sender.data(), request.sender.size());
  const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + request.sender.size());
  for (;;) {
    // MSG_DONTWAIT: a receiver whose queue is full misses its reply rather
    // than stalling the instance.
    if (::sendto(fd_.get(), reply.data(), reply.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&to), len) >= 0)
      return true;
    if (errno != EINTR) return false;
  }
}

Status send_command(const std::string& socket_path, std::string_view text) {
  sockaddr_un addr;
  socklen_t len;
  if (!make_address(socket_path, addr, len)) {
    return send_error("command socket path is empty or too long: " + socket_path, ENAMETOOLONG);
  }
  if (text.size() > kMaxCommandBytes) {
    return send_error("command too long (" + std::to_string(text.size()) + " bytes, at most " +
                          std::to_string(kMaxCommandBytes) + ")",
                      EMSGSIZE);
  }
  OwnedFd fd = datagram_socket();
  if (!fd) return Error::from_errno(kSendFailed, "socket", errno);
  struct timeval tv {2, 0};
  ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  for (;;) {
    ssize_t n = ::sendto(fd.get(), text.data(), text.size(), MSG_NOSIGNAL,
                         reinterpret_cast<const sockaddr*>(&addr), len);
    if (n >= 0) return {};
    int err = errno;
    if (err == EINTR) continue;
    if (err == ENOENT || err == ECONNREFUSED || err == ENOTSOCK)
      return send_error("no Tarnwatch instance is running (nothing listens on " + socket_path + ")",
                        kNobodyListensErrno);
    if (err == EAGAIN || err == EWOULDBLOCK)
      return send_error("the Tarnwatch instance is not taking commands (its queue stayed full)", err);
    return Error::from_errno(kSendFailed, "cannot send to " + socket_path, err);
  }
}

Result<std::optional<std::string>> send_command_for_reply(const std::string& socket_path, std::string_view text,
                                                          std::chrono::milliseconds wait) {
  sockaddr_un addr;
  socklen_t len;
  if (!make_address(socket_path, addr, len)) {
    return send_error("command socket path is empty or too long: " + socket_path, ENAMETOOLONG);
  }
  if (text.size() > kMaxCommandBytes) {
    return send_error("command too long (" + std::to_string(text.size()) + " bytes, at most " +
                          std::to_string(kMaxCommandBytes) + ")",
                      EMSGSIZE);
  }
  OwnedFd fd = datagram_socket();
  if (!fd) return Error::from_errno(kSendFailed, "socket", errno);
  // An address of our own for the reply: a bind with the family alone makes
  // the kernel pick a free abstract name, so nothing is left on disk.
  sockaddr_un own {};
  own.sun_family = AF_UNIX;
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&own), sizeof(sa_family_t)) != 0)
    return Error::from_errno(kSendFailed, "binding the reply socket", errno);
  // Connected, the socket takes datagrams from the instance's socket only.
  if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), len) != 0) {
    const int err = errno;
    if (err == ENOENT || err == ECONNREFUSED || err == ENOTSOCK)
      return send_error("no Tarnwatch instance is running (nothing listens on " + socket_path + ")",
                        kNobodyListensErrno);
    return Error::from_errno(kSendFailed, "cannot reach " + socket_path, err);
  }
  struct timeval tv {2, 0};
  ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  for (;;) {
    if (::send(fd.get(), text.data(), text.size(), MSG_NOSIGNAL) >= 0) break;
    const int err = errno;
    if (err == EINTR) continue;
    if (err == ECONNREFUSED)
      return send_error("no Tarnwatch instance is running (nothing listens on " + socket_path + ")",
                        kNobodyListensErrno);
    if (err == EAGAIN || err == EWOULDBLOCK)
      return send_error("the Tarnwatch instance is not taking commands (its queue stayed full)", err);
    return Error::from_errno(kSendFailed, "cannot send to " + socket_path, err);
  }
  const auto deadline = std::chrono::steady_clock::now() + wait;
  std::vector<char> buffer(kMaxReplyReadBytes);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::optional<std::string>();
    pollfd p{fd.get(), POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 60000)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::optional<std::string>();
    const ssize_t n = ::recv(fd.get(), buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (n >= 0) return std::optional<std::string>(std::string(buffer.data(), static_cast<std::size_t>(n)));
    if (errno == EINTR || errno == EAGAIN) continue;
    // The instance went away after taking the command.
    return std::optional<std::string>();
  }
}

}  // namespace tw::platform
