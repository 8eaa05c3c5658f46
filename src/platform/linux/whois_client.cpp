#include "platform/linux/whois_client.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "platform/linux/cancel_wait.h"

namespace tw::platform {
namespace {

constexpr const char* kFailed = "The WHOIS server cannot be asked.";

// The server's first IPv4 address, or the resolver's reason.
struct Resolved {
  int rc = 0;
  sockaddr_in addr{};
};

Resolved resolve(const std::string& server) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  Resolved r;
  r.rc = getaddrinfo(server.c_str(), nullptr, &hints, &found);
  if (r.rc == 0 && found) r.addr = *reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  else if (r.rc == 0) r.rc = EAI_NONAME;
  if (found) freeaddrinfo(found);
  return r;
}

Error cancelled(const std::string& what) { return Error::from_errno(kFailed, what, kCancelledErrno); }

}  // namespace

Result<std::string> SocketWhoisClient::query(const std::string& server, int port, const std::string& request,
                                             int timeout_ms, std::stop_token stop) {
  const std::optional<Resolved> resolved = run_abandonable(stop, [server] { return resolve(server); });
  if (!resolved) return cancelled("resolving \"" + server + "\"");
  if (resolved->rc != 0) return Error{kFailed, "resolving \"" + server + "\": " + gai_strerror(resolved->rc), 0};
  sockaddr_in addr = resolved->addr;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));

  OwnedFd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!s) return Error::from_errno(kFailed, "opening a socket", errno);
  char text[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
  const std::string where = std::string(text) + " port " + std::to_string(port);
  const CancelFd cancel(stop);

  // Each wait is bounded by the time-out, as the socket time-outs of a
  // blocking socket would bound connect(), send() and every recv().
  if (::connect(s.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    if (errno != EINPROGRESS) return Error::from_errno(kFailed, "connecting to " + where, errno);
    switch (wait_fd(s.get(), POLLOUT, timeout_ms, cancel)) {
      case WaitOutcome::Cancelled: return cancelled("connecting to " + where);
      case WaitOutcome::TimedOut: return Error::from_errno(kFailed, "connecting to " + where, ETIMEDOUT);
      case WaitOutcome::Failed: return Error::from_errno(kFailed, "connecting to " + where, errno);
      case WaitOutcome::Ready: break;
    }
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(s.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    if (err != 0) return Error::from_errno(kFailed, "connecting to " + where, err);
  }
  std::size_t sent = 0;
  while (sent < request.size()) {
    const ssize_t n = ::send(s.get(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const WaitOutcome w = wait_fd(s.get(), POLLOUT, timeout_ms, cancel);
      if (w == WaitOutcome::Cancelled) return cancelled("sending to " + where);
      if (w == WaitOutcome::TimedOut) return Error::from_errno(kFailed, "sending to " + where, ETIMEDOUT);
      if (w == WaitOutcome::Failed) return Error::from_errno(kFailed, "sending to " + where, errno);
      continue;
    }
    return Error::from_errno(kFailed, "sending to " + where, n < 0 ? errno : EPIPE);
  }
  std::string reply;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::seconds(kMaxReadSeconds);
  char buf[4096];
  while (reply.size() < kMaxReplyBytes) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    const int wait = static_cast<int>(std::min<long long>(left, timeout_ms < 0 ? left : timeout_ms));
    const WaitOutcome w = wait_fd(s.get(), POLLIN, wait, cancel);
    if (w == WaitOutcome::Cancelled) return cancelled("reading from " + where);
    if (w != WaitOutcome::Ready) break;  // time-out: what arrived is the reply
    const ssize_t n = ::recv(s.get(), buf, sizeof buf, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (n <= 0) break;  // closed or an error: what arrived is the reply
    reply.append(buf, static_cast<std::size_t>(n));
  }
  if (reply.size() > kMaxReplyBytes) reply.resize(kMaxReplyBytes);
  return reply;
}

}  // namespace tw::platform
