#pragma once
// Closes TCP connections in-process with SOCK_DESTROY over NETLINK_SOCK_DIAG,
// the way `ss -K` does. The kernel aborts the socket (its owner's next call
// fails with ECONNABORTED, the peer receives a reset).
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

class SockDestroyKiller : public ConnectionKiller {
 public:
  SockDestroyKiller();
  ~SockDestroyKiller() override;
  SockDestroyKiller(const SockDestroyKiller&) = delete;
  SockDestroyKiller& operator=(const SockDestroyKiller&) = delete;

  // True when the netlink socket is open and this thread holds CAP_NET_ADMIN.
  bool is_supported() override;
  // Success also when no such socket exists (ENOENT) or when the cookie names
  // a socket that has ended while another one took over its addresses and
  // ports (ESTALE): the connection asked for is gone either way, and the new
  // one is left alone.
  Status close(const SocketId& id) override;

 private:
  struct SocketCloser {
    void operator()(mnl_socket* s) const;
  };
  std::unique_ptr<mnl_socket, SocketCloser> sock_;
  Error open_error_;
  std::uint32_t portid_ = 0;
  std::uint32_t seq_ = 0;
};

}  // namespace tw::platform
