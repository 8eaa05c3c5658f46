#include "platform/linux/whois_client.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>

namespace tw::platform {
namespace {

constexpr const char* kFailed = "The WHOIS server cannot be asked.";

struct AddrInfoFree {
  void operator()(addrinfo* a) const { freeaddrinfo(a); }
};

struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

Result<std::string> SocketWhoisClient::query(const std::string& server, int port, const std::string& request,
                                             int timeout_ms) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (const int rc = getaddrinfo(server.c_str(), nullptr, &hints, &found); rc != 0 || !found)
    return Error{kFailed, "resolving \"" + server + "\": " + gai_strerror(rc), 0};
  const std::unique_ptr<addrinfo, AddrInfoFree> list(found);
  sockaddr_in addr = *reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  addr.sin_port = htons(static_cast<std::uint16_t>(port));

  FdCloser s{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
  if (s.fd < 0) return Error::from_errno(kFailed, "opening a socket", errno);
  // On Linux the send time-out bounds connect() too.
  timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  ::setsockopt(s.fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  ::setsockopt(s.fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  char text[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
  const std::string where = std::string(text) + " port " + std::to_string(port);
  if (::connect(s.fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
    return Error::from_errno(kFailed, "connecting to " + where, errno == EINPROGRESS ? ETIMEDOUT : errno);
  std::size_t sent = 0;
  while (sent < request.size()) {
    const ssize_t n = ::send(s.fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Error::from_errno(kFailed, "sending to " + where, n < 0 ? errno : EPIPE);
    sent += static_cast<std::size_t>(n);
  }
  std::string reply;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kMaxReadSeconds);
  char buf[4096];
  while (reply.size() < kMaxReplyBytes && std::chrono::steady_clock::now() < deadline) {
    const ssize_t n = ::recv(s.fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // closed, error or time-out: what arrived is the reply
    reply.append(buf, static_cast<std::size_t>(n));
  }
  if (reply.size() > kMaxReplyBytes) reply.resize(kMaxReplyBytes);
  return reply;
}

}  // namespace tw::platform
