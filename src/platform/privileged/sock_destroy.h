#pragma once
// Closes TCP connections in-process with SOCK_DESTROY over NETLINK_SOCK_DIAG,
// the way `ss -K` does. The kernel aborts the socket (its owner's next call
// fails with ECONNABORTED, the peer receives a reset).
//
// A socket id is never handed to SOCK_DESTROY as it comes: the kernel's
// lookup behind it falls back from the connection to a listener on the same
// local address and port when no connection matches (a made-up peer without
// a cookie names sshd's 0.0.0.0:22, and a dual-stack [::]:22 too). So the
// socket is first looked up with an exact sock_diag query, and only an
// established-side TCP connection whose addresses and ports are exactly the
// ones asked for is destroyed, by the cookie that query returned: never a
// listener, never another connection that took the name meanwhile.
//
// Needs CAP_NET_ADMIN in the network namespace of the connection and a kernel
// built with CONFIG_INET_DIAG_DESTROY.
//
// Namespaces: the netlink socket is opened in the constructor, so the object
// closes connections of the network namespace of the thread that constructed
// it, whichever thread calls close() later.
//
// Threads: one call at a time (the object holds no lock).
#include <cstdint>
#include <memory>

#include "platform/connection_killer.h"

struct mnl_socket;

namespace tw::platform {

// The TCP states of include/net/tcp_states.h that sock_diag reports.
enum class TcpState : std::uint8_t {
  Established = 1, SynSent, SynRecv, FinWait1, FinWait2, TimeWait, Close, CloseWait, LastAck, Listen, Closing,
};

// The states of a connection that still has a peer to reset: closing one is
// what "Kill Session" means. Never a listener; TIME_WAIT and CLOSE have
// nothing left to close.
inline constexpr bool closable_tcp_state(std::uint8_t state) {
  switch (static_cast<TcpState>(state)) {
    case TcpState::Established: case TcpState::SynSent: case TcpState::SynRecv: case TcpState::FinWait1:
    case TcpState::FinWait2: case TcpState::CloseWait: case TcpState::LastAck: case TcpState::Closing:
      return true;
    default:
      return false;
  }
}

class SockDestroyKiller : public ConnectionKiller {
 public:
  SockDestroyKiller();
  ~SockDestroyKiller() override;
  SockDestroyKiller(const SockDestroyKiller&) = delete;
  SockDestroyKiller& operator=(const SockDestroyKiller&) = delete;

  // True when the netlink socket is open and this thread holds CAP_NET_ADMIN.
  bool is_supported() override;
  // close_connection() without its answer: success also when there was no
  // such connection.
  Status close(const SocketId& id) override;

  // Looks the connection up and destroys it: true when it was destroyed,
  // false when no such connection exists (gone, a cookie of a connection that
  // has ended, or only a listener or another socket that the kernel's lookup
  // found in its place, which is left alone). Fails on a request that names
  // no connection at all (no peer, no ports) and on kernel errors.
  Result<bool> close_connection(const SocketId& id);

 private:
  struct SocketCloser {
    void operator()(mnl_socket* s) const;
  };
  struct Found;
  Result<bool> look_up(const SocketId& id, Found& found);
  Status destroy(const SocketId& asked, const Found& found);

  std::unique_ptr<mnl_socket, SocketCloser> sock_;
  Error open_error_;
  std::uint32_t portid_ = 0;
  std::uint32_t seq_ = 0;
};

}  // namespace tw::platform
