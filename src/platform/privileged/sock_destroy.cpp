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
#include <string>

#include "platform/privileged/capabilities.h"

namespace tw::platform {
namespace {

constexpr const char* kHeadline = "Could not close the connection.";

Error destroy_error(const SocketId& id, int err) {
  const std::string what = "SOCK_DESTROY of " + to_text(id);
  if (err == EPERM || err == EACCES) return Error::from_errno(kNeedsAdministratorHeadline, what, err);
  if (err == EOPNOTSUPP)
    return Error::from_errno("Closing connections is not supported by this kernel.",
                             what + " (CONFIG_INET_DIAG_DESTROY)", err);
  return Error::from_errno(kHeadline, what, err);
}

}  // namespace

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

Status SockDestroyKiller::close(const SocketId& id) {
  if (!sock_) return open_error_;

  // A request and its acknowledgement are a few dozen bytes each.
  alignas(nlmsghdr) std::array<char, 8192> buf{};
  nlmsghdr* nlh = mnl_nlmsg_put_header(buf.data());
  nlh->nlmsg_type = SOCK_DESTROY;
  nlh->nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK;
  nlh->nlmsg_seq = ++seq_;
  auto* req = static_cast<inet_diag_req_v2*>(mnl_nlmsg_put_extra_header(nlh, sizeof(inet_diag_req_v2)));
  req->sdiag_family = AF_INET;
  req->sdiag_protocol = IPPROTO_TCP;
  req->idiag_states = ~0U;
  req->id.idiag_sport = htons(id.local_port);
  req->id.idiag_dport = htons(id.remote_port);
  req->id.idiag_src[0] = id.local_address;
  req->id.idiag_dst[0] = id.remote_address;
  req->id.idiag_if = id.interface;
  req->id.idiag_cookie[0] = static_cast<std::uint32_t>(id.cookie);
  req->id.idiag_cookie[1] = static_cast<std::uint32_t>(id.cookie >> 32);

  if (mnl_socket_sendto(sock_.get(), nlh, nlh->nlmsg_len) < 0) return destroy_error(id, errno);

  // The answer is one acknowledgement; skip anything older that a timed-out
  // call left behind.
  for (;;) {
    const ssize_t n = mnl_socket_recvfrom(sock_.get(), buf.data(), buf.size());
    if (n < 0) return destroy_error(id, errno == EAGAIN ? ETIMEDOUT : errno);
    int len = static_cast<int>(n);
    for (const nlmsghdr* m = reinterpret_cast<const nlmsghdr*>(buf.data()); mnl_nlmsg_ok(m, len);
         m = mnl_nlmsg_next(m, &len)) {
      if (m->nlmsg_seq != seq_ || m->nlmsg_pid != portid_ || m->nlmsg_type != NLMSG_ERROR) continue;
      if (m->nlmsg_len < mnl_nlmsg_size(sizeof(nlmsgerr))) return destroy_error(id, EBADMSG);
      const int err = -static_cast<const nlmsgerr*>(mnl_nlmsg_get_payload(m))->error;
      if (err == 0 || err == ENOENT || err == ESTALE) return {};
      return destroy_error(id, err);
    }
  }
}

}  // namespace tw::platform
