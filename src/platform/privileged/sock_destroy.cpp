#include "platform/privileged/sock_destroy.h"

#include <libmnl/libmnl.h>
#include <linux/capability.h>
#include <linux/inet_diag.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/privileged/capabilities.h"

namespace tw::platform {
namespace {

constexpr const char* kHeadline = "Could not close the connection.";

Error destroy_error(const SocketId& id, const char* step, int err) {
  const std::string what = std::string(step) + " of " + to_text(id);
  if (err == EPERM || err == EACCES) return Error::from_errno(kNeedsAdministratorHeadline, what, err);
  if (err == EOPNOTSUPP)
    return Error::from_errno("Closing connections is not supported by this kernel.",
                             what + " (CONFIG_INET_DIAG_DESTROY)", err);
  return Error::from_errno(kHeadline, what, err);
}

void put_id(inet_diag_sockid& out, const SocketId& id) {
  out.idiag_sport = htons(id.local_port);
  out.idiag_dport = htons(id.remote_port);
  out.idiag_src[0] = id.local_address;
  out.idiag_dst[0] = id.remote_address;
  out.idiag_if = id.interface;
  out.idiag_cookie[0] = static_cast<std::uint32_t>(id.cookie);
  out.idiag_cookie[1] = static_cast<std::uint32_t>(id.cookie >> 32);
}

}  // namespace

// What the exact lookup returned.
struct SockDestroyKiller::Found {
  std::uint8_t family = 0;
  std::uint8_t state = 0;
  inet_diag_sockid id{};
};

void SockDestroyKiller::SocketCloser::operator()(mnl_socket* s) const { mnl_socket_close(s); }

SockDestroyKiller::SockDestroyKiller() {
  sock_.reset(mnl_socket_open2(NETLINK_SOCK_DIAG, SOCK_CLOEXEC));
  if (!sock_ || mnl_socket_bind(sock_.get(), 0, MNL_SOCKET_AUTOPID) < 0) {
    open_error_ = Error::from_errno(kHeadline, "opening a NETLINK_SOCK_DIAG socket", errno);
    sock_.reset();
    return;
  }
  portid_ = mnl_socket_get_portid(sock_.get());
  // The kernel answers a request before sendto() returns; the timeout only
  // keeps a kernel bug from hanging the caller.
  timeval tv{2, 0};
  setsockopt(mnl_socket_get_fd(sock_.get()), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

SockDestroyKiller::~SockDestroyKiller() = default;

bool SockDestroyKiller::is_supported() { return sock_ && has_effective_capability(CAP_NET_ADMIN); }

Status SockDestroyKiller::close(const SocketId& id) { return close_connection(id).status(); }

Result<bool> SockDestroyKiller::close_connection(const SocketId& id) {
  if (!sock_) return open_error_;
  // A listener's own name (no peer) is no connection, whatever the kernel
  // would find for it.
  if (id.remote_address == 0 || id.remote_port == 0 || id.local_port == 0)
    return Error{kHeadline, to_text(id) + " names no connection", EINVAL};
  Found found;
  auto exists = look_up(id, found);
  if (!exists || !*exists) return exists;
  // The lookup falls back to a listener (or, for an IPv4 name, a dual-stack
  // IPv6 listener) on the local address and port: only the connection that
  // was asked for, and only while it still has a peer, is closed.
  const bool exact = found.family == AF_INET && found.id.idiag_src[0] == id.local_address &&
                     found.id.idiag_dst[0] == id.remote_address && ntohs(found.id.idiag_sport) == id.local_port &&
                     ntohs(found.id.idiag_dport) == id.remote_port;
  if (!exact || !closable_tcp_state(found.state)) return false;
  if (Status s = destroy(id, found); !s) return s.error();
  return true;
}

// One request and its answer on the sock_diag socket: the handler sees each
// message of this request's sequence number and says whether the answer is
// complete. Returns 0 or the errno of a failed send or receive.
namespace {
template <class Handler>
int exchange(mnl_socket* sock, std::uint32_t portid, std::uint32_t seq, nlmsghdr* request, Handler&& handle) {
  if (mnl_socket_sendto(sock, request, request->nlmsg_len) < 0) return errno;
  alignas(nlmsghdr) std::array<char, 8192> buf{};
  for (;;) {
    const ssize_t n = mnl_socket_recvfrom(sock, buf.data(), buf.size());
    if (n < 0) return errno == EAGAIN ? ETIMEDOUT : errno;
    int len = static_cast<int>(n);
    // Anything older that a timed-out call left behind is skipped.
    for (const nlmsghdr* m = reinterpret_cast<const nlmsghdr*>(buf.data()); mnl_nlmsg_ok(m, len);
         m = mnl_nlmsg_next(m, &len)) {
      if (m->nlmsg_seq != seq || m->nlmsg_pid != portid) continue;
      if (handle(m)) return 0;
    }
  }
}

// The errno of an NLMSG_ERROR message (0 for an acknowledgement).
int nlmsg_errno(const nlmsghdr* m) {
  if (m->nlmsg_len < mnl_nlmsg_size(sizeof(nlmsgerr))) return EBADMSG;
  return -static_cast<const nlmsgerr*>(mnl_nlmsg_get_payload(m))->error;
}
}  // namespace

Result<bool> SockDestroyKiller::look_up(const SocketId& id, Found& found) {
  alignas(nlmsghdr) std::array<char, 256> buf{};
  nlmsghdr* nlh = mnl_nlmsg_put_header(buf.data());
  nlh->nlmsg_type = SOCK_DIAG_BY_FAMILY;
  nlh->nlmsg_flags = NLM_F_REQUEST;  // one socket, not a dump
  nlh->nlmsg_seq = ++seq_;
  auto* req = static_cast<inet_diag_req_v2*>(mnl_nlmsg_put_extra_header(nlh, sizeof(inet_diag_req_v2)));
  req->sdiag_family = AF_INET;
  req->sdiag_protocol = IPPROTO_TCP;
  req->idiag_states = ~0U;
  put_id(req->id, id);  // kAnyCookie is the kernel's INET_DIAG_NOCOOKIE

  int answer = 0;
  bool got = false;
  const int e = exchange(sock_.get(), portid_, seq_, nlh, [&](const nlmsghdr* m) {
    if (m->nlmsg_type == NLMSG_ERROR) {
      answer = nlmsg_errno(m);
      return true;
    }
    if (m->nlmsg_type != SOCK_DIAG_BY_FAMILY || m->nlmsg_len < mnl_nlmsg_size(sizeof(inet_diag_msg))) return false;
    inet_diag_msg msg;
    std::memcpy(&msg, mnl_nlmsg_get_payload(m), sizeof msg);
    found.family = msg.idiag_family;
    found.state = msg.idiag_state;
    found.id = msg.id;
    got = true;
    return true;
  });
  if (e != 0) return destroy_error(id, "looking up", e);
  if (got) return true;
  // No such socket, or a cookie that names a socket that has ended while
  // another took over its addresses and ports.
  if (answer == ENOENT || answer == ESTALE) return false;
  return destroy_error(id, "looking up", answer == 0 ? EBADMSG : answer);
}

Status SockDestroyKiller::destroy(const SocketId& asked, const Found& found) {
  alignas(nlmsghdr) std::array<char, 256> buf{};
  nlmsghdr* nlh = mnl_nlmsg_put_header(buf.data());
  nlh->nlmsg_type = SOCK_DESTROY;
  nlh->nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK;
  nlh->nlmsg_seq = ++seq_;
  auto* req = static_cast<inet_diag_req_v2*>(mnl_nlmsg_put_extra_header(nlh, sizeof(inet_diag_req_v2)));
  req->sdiag_family = AF_INET;
  req->sdiag_protocol = IPPROTO_TCP;
  req->idiag_states = ~0U;
  // The socket exactly as the lookup found it, its cookie included: if it
  // ends in between, the cookie matches nothing else.
  req->id = found.id;

  int answer = 0;
  const int e = exchange(sock_.get(), portid_, seq_, nlh, [&](const nlmsghdr* m) {
    if (m->nlmsg_type != NLMSG_ERROR) return false;
    answer = nlmsg_errno(m);
    return true;
  });
  if (e != 0) return destroy_error(asked, "SOCK_DESTROY", e);
  if (answer == 0 || answer == ENOENT || answer == ESTALE) return {};
  return destroy_error(asked, "SOCK_DESTROY", answer);
}

}  // namespace tw::platform
