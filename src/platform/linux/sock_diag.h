#pragma once
// The socket table from NETLINK_SOCK_DIAG dumps (inet_diag_req_v2), as ss
// reads it: unprivileged, a couple of milliseconds for a few thousand sockets.
//
// Namespaces: the netlink socket is opened in the constructor, so the table is
// that of the network namespace of the constructing thread.
// Threads: one read() at a time.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/socket_table.h"

struct mnl_socket;

namespace tw::platform {

// How a buffer of a dump answer ended.
enum class DumpProgress { More, Done, Failed };

// Appends the IPv4 and IPv6 sockets of one buffer of a sock_diag dump answer to `out`
// (TCP sockets that are only bound left out).
// Messages whose sequence number is not `seq` (0: any) are left out; short,
// truncated or foreign messages are skipped, never read beyond `len`. An
// NLMSG_ERROR sets `error` (a positive errno value) and gives Failed.
DumpProgress parse_sock_diag_dump(const void* buf, std::size_t len, SocketProtocol protocol, std::uint32_t seq,
                                  std::vector<SocketRow>& out, int& error);

class SockDiagSocketTable : public SocketTable {
 public:
  SockDiagSocketTable();
  ~SockDiagSocketTable() override;
  SockDiagSocketTable(const SockDiagSocketTable&) = delete;
  SockDiagSocketTable& operator=(const SockDiagSocketTable&) = delete;

  bool is_supported() override { return sock_ != nullptr; }
  Result<std::vector<SocketRow>> read(SocketProtocol protocol) override;
  Result<std::vector<SocketRow>> read_ipv6(SocketProtocol protocol) override;
  // TCP through read_tcp_one_walk(), two dumps where that fails.
  Result<std::vector<SocketRow>> read_both(SocketProtocol protocol) override;
  // The TCP sockets of both families in one walk of the kernel's tables,
  // IPv4 first, each family in the kernel's order; no second try.
  Result<std::vector<SocketRow>> read_tcp_one_walk();

 private:
  Result<std::vector<SocketRow>> dump(SocketProtocol protocol, std::uint8_t family);
  struct SocketCloser {
    void operator()(mnl_socket* s) const;
  };
  std::unique_ptr<mnl_socket, SocketCloser> sock_;
  Error open_error_;
  std::uint32_t seq_ = 0;
  std::vector<char> buf_;
};

}  // namespace tw::platform
