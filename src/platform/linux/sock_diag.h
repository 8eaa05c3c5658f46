#pragma once
// The socket table from NETLINK_SOCK_DIAG dumps (inet_diag_req_v2), as ss
// reads it: unprivileged, a couple of milliseconds for a few thousand sockets.
//
// A TCP dump walks the kernel's whole established-connection hash table,
// which is shared by every namespace and sized by the machine's memory (2 MB
// of buckets with 24 GB): a couple of milliseconds even with no connection.
// So a TCP dump is answered from the last one while nothing says the table
// changed (see TcpTablePrint).
//
// Namespaces: the netlink socket and the counter files are opened in the
// constructor, so the table is that of the network namespace of the
// constructing thread.
// Threads: one read() at a time.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/owned_fd.h"
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

// The namespace's TCP counters that move whenever a TCP socket of the dump
// appears, goes or changes state: the Tcp line of /proc/net/snmp (opens,
// failed attempts, resets, segments in and out, retransmissions: every state
// change but a few sends or receives a segment or ends a socket), and the
// TCP sockets in the tables and in TIME_WAIT from /proc/net/sockstat and
// sockstat6 (its orphans, memory and allocations are the whole machine's). A
// socket's own fields never change otherwise, but for its inode: a
// connection the kernel accepted has none until its program accept()s it, so
// a dump with such a socket (inode 0 outside TIME_WAIT) is never reused.
struct TcpTablePrint {
  std::string text;  // the counters' lines as the kernel wrote them
  friend bool operator==(const TcpTablePrint&, const TcpTablePrint&) = default;
};

// The counter lines of /proc/net/snmp, sockstat and sockstat6 texts that
// make a TcpTablePrint (the machine-wide figures of sockstat's TCP line left
// out: they move with any namespace's traffic); nullopt when a line is
// missing.
std::optional<TcpTablePrint> tcp_table_print(std::string_view snmp, std::string_view sockstat,
                                             std::string_view sockstat6);

// The UDP sockets of one family in the namespace's tables, from its
// sockstat ("UDP: inuse N") or sockstat6 ("UDP6: inuse N") text; nullopt
// when the line is not there. Every socket a UDP dump lists is counted there
// from the moment it is bound until it is closed.
std::optional<std::uint64_t> udp_sockets_in_use(std::string_view sockstat, bool ipv6);

// Whether a dump with these rows may stand for a later one with the same
// print: no socket waits for its program to accept it, nor is a request.
bool tcp_dump_reusable(const std::vector<SocketRow>& rows);

// The longest a TCP dump with sockets stands for later ones, so that a
// change no counter shows (a close() or shutdown() whose FIN waits behind a
// closed window, a socket bound to another device) is seen within this time.
// A new socket always moves a counter, so an empty dump stands as long as
// they stand still.
inline constexpr std::chrono::seconds kTcpDumpReuse{10};

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

  // The TCP dumps that walked the kernel's tables (for tests and benchmarks).
  int tcp_walks() const { return tcp_walks_; }

 private:
  Result<std::vector<SocketRow>> dump(SocketProtocol protocol, std::uint8_t family);
  Result<std::vector<SocketRow>> walk(SocketProtocol protocol, std::uint8_t family);
  std::optional<TcpTablePrint> read_print();
  // The namespace holds no UDP socket of the family, so a dump of them would
  // walk the kernel's whole UDP table to list nothing.
  bool no_udp_sockets(std::uint8_t family);

  // The last TCP dump of one request (IPv4, IPv6, both).
  struct KeptDump {
    std::uint8_t family = 0;
    TcpTablePrint print;
    std::chrono::steady_clock::time_point taken;
    std::vector<SocketRow> rows;
  };
  struct SocketCloser {
    void operator()(mnl_socket* s) const;
  };
  std::unique_ptr<mnl_socket, SocketCloser> sock_;
  Error open_error_;
  std::uint32_t seq_ = 0;
  std::unique_ptr<char[]> buf_;
  // /proc/thread-self/net/{snmp,sockstat,sockstat6} of the constructing
  // thread's namespace; without one (no IPv6, no /proc) no dump is reused.
  OwnedFd snmp_fd_, sockstat_fd_, sockstat6_fd_;
  std::vector<KeptDump> kept_;
  int tcp_walks_ = 0;
};

}  // namespace tw::platform
