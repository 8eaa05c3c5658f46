#pragma once
// Closing a TCP connection of the machine: the Session Monitor's "Kill
// Session" and auto-block.
//
// The kernel aborts the connection (both ends see it end: the peer receives a
// reset) when the caller holds CAP_NET_ADMIN. Three implementations:
//   - SockDestroyKiller (platform/privileged): in-process, for a process that
//     holds the capability itself (tarnixd run as root, tarnix-helper);
//   - HelperConnectionKiller (platform/linux): asks tarnix-helper, which was
//     given the capability when it was installed;
//   - FakeConnectionKiller (platform/fake) for tests.
// ChoosingConnectionKiller below picks between the first two.
#include <cerrno>
#include <cstdint>
#include <string>

#include "base/error.h"

namespace tw::platform {

// The headline of every error that comes down to missing privileges.
inline constexpr const char* kNeedsAdministratorHeadline = "Please run with administrator privileges.";

// The kernel's inet_diag name of one IPv4 TCP socket, as a socket-table dump
// reports it. Addresses are in network byte order, ports in host byte order.
struct SocketId {
  // A cookie that matches any socket with these addresses and ports.
  static constexpr std::uint64_t kAnyCookie = ~std::uint64_t{0};

  std::uint32_t local_address = 0;
  std::uint16_t local_port = 0;
  std::uint32_t remote_address = 0;
  std::uint16_t remote_port = 0;
  std::uint32_t interface = 0;  // index of the device the socket is bound to, 0 when unbound
  // The kernel's unique number of the socket. With it, a connection that has
  // ended is never confused with a later one that reuses its addresses and
  // ports: closing the old one finds nothing and touches nothing.
  std::uint64_t cookie = kAnyCookie;

  friend bool operator==(const SocketId&, const SocketId&) = default;
};

// "10.0.0.1:80 -> 10.0.0.2:5050", for details of errors and logs.
inline std::string to_text(const SocketId& id) {
  auto addr = [](std::uint32_t a) {
    const auto* b = reinterpret_cast<const unsigned char*>(&a);  // network order: first octet first
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
           std::to_string(b[3]);
  };
  return addr(id.local_address) + ":" + std::to_string(id.local_port) + " -> " + addr(id.remote_address) + ":" +
         std::to_string(id.remote_port);
}

class ConnectionKiller {
 public:
  virtual ~ConnectionKiller() = default;
  // Whether close() can work at all in this process (privileges, helper).
  virtual bool is_supported() = 0;
  // Aborts the connection. A connection that is already gone counts as
  // closed: the caller wanted it gone, and it is.
  virtual Status close(const SocketId& id) = 0;
};

// Closes in-process when this process may, through the helper otherwise. Each
// call decides anew, so privileges gained or lost while running count.
// Either pointer may be null (the desktop program has no in-process way); the
// killers must outlive this object. Not thread-safe beyond what the two are.
class ChoosingConnectionKiller : public ConnectionKiller {
 public:
  ChoosingConnectionKiller(ConnectionKiller* in_process, ConnectionKiller* helper)
      : in_process_(in_process), helper_(helper) {}

  bool is_supported() override {
    return (in_process_ && in_process_->is_supported()) || (helper_ && helper_->is_supported());
  }

  Status close(const SocketId& id) override {
    if (in_process_ && in_process_->is_supported()) return in_process_->close(id);
    // The helper reports for itself why it cannot help (missing, lacking the
    // capability), which says more than a refusal here would.
    if (helper_) return helper_->close(id);
    return Error{kNeedsAdministratorHeadline,
                 "closing " + to_text(id) + " needs CAP_NET_ADMIN, and there is no helper to ask", EPERM};
  }

 private:
  ConnectionKiller* in_process_;
  ConnectionKiller* helper_;
};

}  // namespace tw::platform
