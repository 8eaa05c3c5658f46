// tarnix-helper: does the few things of Tarnwatch that need privileges, on
// behalf of a parent that has none.
//
// It is installed with file capabilities and executable only by root and the
// group tarnwatch (scripts/install.sh). The parent starts it with one end of a
// socketpair as fd 0 and sends framed requests (helper/protocol.h); the helper
// answers each with one reply, in order. It ends when its input ends or its
// parent dies, keeps only the capabilities its operations use, and trusts
// nothing it reads: every request is decoded strictly and checked before the
// kernel sees it.
//
// Operations: close an IPv4 TCP connection (SOCK_DESTROY); name the processes
// that hold given sockets (a walk of /proc/PID/fd, which for other users'
// processes takes CAP_DAC_READ_SEARCH to list and CAP_SYS_PTRACE to read);
// open the packet capture socket of one of the machine's IPv4 addresses and
// pass it to the parent (SCM_RIGHTS), filter attached, so the parent reads
// only the datagrams of that address; install and remove the packet filter's
// nftables table, which this process then owns: it lives exactly as long as
// the helper.
#include <linux/capability.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <variant>
#include <vector>

#include "helper/protocol.h"
#include "packetfilter/nft_ruleset.h"
#include "platform/linux/packet_socket.h"
#include "platform/linux/proc_sockets.h"
#include "platform/privileged/capabilities.h"
#include "platform/privileged/nftables_filter.h"
#include "platform/privileged/sock_destroy.h"

namespace {

using namespace tw;
using namespace tw::helper;

// Every capability an operation uses; everything else is dropped at start.
constexpr std::uint64_t kKeptCapabilities =
    platform::capability_bit(CAP_NET_ADMIN) | platform::capability_bit(CAP_NET_RAW) |
    platform::capability_bit(CAP_DAC_READ_SEARCH) | platform::capability_bit(CAP_SYS_PTRACE);

constexpr const char* kRefused = "The privileged helper refused the request.";

void complain(const std::string& what) { std::fprintf(stderr, "tarnix-helper: %s\n", what.c_str()); }

// Reads exactly `n` bytes from fd 0. 1 when read, 0 at the end of the input
// before the first byte, -1 on an error or an end in between.
int read_exact(std::uint8_t* out, std::size_t n) {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t r = read(0, out + done, n - done);
    if (r > 0) {
      done += static_cast<std::size_t>(r);
    } else if (r == 0) {
      return done == 0 ? 0 : -1;
    } else if (errno != EINTR) {
      return -1;
    }
  }
  return 1;
}

// Sends the first byte with `fd` attached (SCM_RIGHTS), then the rest.
bool write_all(const std::vector<std::uint8_t>& bytes, int fd = -1) {
  std::size_t done = 0;
  if (fd >= 0 && !bytes.empty()) {
    iovec io{const_cast<std::uint8_t*>(bytes.data()), 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr msg{};
    msg.msg_iov = &io;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(c), &fd, sizeof fd);
    ssize_t r;
    do r = sendmsg(0, &msg, MSG_NOSIGNAL);
    while (r < 0 && errno == EINTR);
    if (r != 1) return false;
    done = 1;
  }
  while (done < bytes.size()) {
    const ssize_t r = write(0, bytes.data() + done, bytes.size() - done);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    done += static_cast<std::size_t>(r);
  }
  return true;
}

// The platform's socket id for a request that names one IPv4 TCP connection,
// or why the request is refused. Listening sockets are not connections: the
// helper never closes a server.
Result<platform::SocketId> connection_of(const DiagSocketId& w) {
  if (w.family != kFamilyIPv4)
    return Error{kRefused, "only IPv4 connections can be closed (family " + std::to_string(w.family) + ")",
                 EAFNOSUPPORT};
  if (w.protocol != kProtocolTcp)
    return Error{kRefused, "only TCP connections can be closed (protocol " + std::to_string(w.protocol) + ")",
                 EPROTONOSUPPORT};
  platform::SocketId id;
  std::memcpy(&id.local_address, w.src.data(), 4);
  std::memcpy(&id.remote_address, w.dst.data(), 4);
  id.local_port = w.src_port;
  id.remote_port = w.dst_port;
  id.interface = w.interface;
  id.cookie = w.cookie;
  if (id.remote_address == 0 || id.local_port == 0 || id.remote_port == 0)
    return Error{kRefused, platform::to_text(id) + " is not a connection", EINVAL};
  return id;
}

// The holders of the sockets asked about (every socket for an empty request,
// up to the reply's limit). Only socket inode numbers, process ids and
// process names leave the helper: never a path, never a descriptor.
SocketOwnersReply socket_owners(const SocketOwners& request) {
  const std::unordered_set<std::uint64_t> wanted(request.inodes.begin(), request.inodes.end());
  std::unordered_map<std::uint64_t, std::uint32_t> found;
  SocketOwnersReply reply;
  platform::walk_socket_links("/proc", [&](std::uint64_t inode, int pid) {
    if (!wanted.empty() && !wanted.contains(inode)) return true;
    if (found.size() == kMaxOwners && !found.contains(inode)) {
      reply.truncated = true;
      return false;
    }
    found.try_emplace(inode, static_cast<std::uint32_t>(pid));  // a shared socket goes to the first holder
    return wanted.empty() || found.size() < wanted.size();
  });
  std::unordered_map<std::uint32_t, std::string> names;
  for (const auto& [inode, pid] : found) {
    auto [it, fresh] = names.try_emplace(pid);
    if (fresh) it->second = platform::process_comm("/proc", static_cast<int>(pid));
    reply.owners.push_back({inode, pid, it->second});
  }
  return reply;  // put in order by the encoding
}

// `passed`: a descriptor to send with the reply (-1: none); the caller
// closes it once sent.
Message handle(const Message& request, platform::SockDestroyKiller& killer, platform::NftablesPacketFilter& filter,
               int& passed) {
  if (std::holds_alternative<Hello>(request)) return HelloReply{platform::effective_capabilities()};
  if (const auto* open = std::get_if<OpenCapture>(&request)) {
    // Only an address of this machine: the socket then carries only what
    // passes that address, never a device's whole traffic.
    std::uint32_t address;
    std::memcpy(&address, open->address.data(), 4);
    platform::CaptureFailure failure;
    passed = platform::open_capture_socket(address, failure);
    if (passed < 0) return ErrorReply{platform::capture_error(failure)};
    return OpenCaptureReply{};
  }
  if (const auto* destroy = std::get_if<DestroySocket>(&request)) {
    auto id = connection_of(destroy->id);
    if (!id) return ErrorReply{id.error()};
    if (Status s = killer.close(*id); !s) return ErrorReply{s.error()};
    return DestroySocketReply{};
  }
  if (const auto* owners = std::get_if<SocketOwners>(&request)) return socket_owners(*owners);
  // The set was checked by the decoder; the table's text is built here from
  // its values alone.
  if (const auto* apply = std::get_if<ApplyFilter>(&request)) {
    if (Status s = filter.apply(apply->set); !s) return ErrorReply{s.error()};
    return ApplyFilterReply{};
  }
  if (std::holds_alternative<RemoveFilter>(request)) {
    if (Status s = filter.remove(); !s) return ErrorReply{s.error()};
    return RemoveFilterReply{};
  }
  return ErrorReply{Error{kRefused, "a reply sent as a request", EBADMSG}};
}

}  // namespace

int main() {
  // End with the parent. The parent may have died before the request took
  // effect; then the parent id has already changed.
  const pid_t parent = getppid();
  signal(SIGTERM, SIG_DFL);
  if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != parent) return 0;
  signal(SIGPIPE, SIG_IGN);  // a parent gone mid-reply shows as EPIPE

  // Nothing the parent forgot to mark close-on-exec stays open here.
  close_range(3, ~0U, 0);
  struct stat st {};
  if (fstat(0, &st) != 0 || !S_ISSOCK(st.st_mode)) {
    complain("started by Tarnwatch only: its input must be the socket Tarnwatch hands it");
    return 2;
  }

  if (Status s = platform::keep_only_capabilities(kKeptCapabilities); !s) {
    complain(s.error().message());
    return 1;
  }
  platform::SockDestroyKiller killer;
  platform::NftablesPacketFilter filter({packetfilter::nft_apply_text, packetfilter::nft_remove_text});

  std::vector<std::uint8_t> buf(kHeaderSize);
  for (;;) {
    buf.resize(kHeaderSize);
    const int got = read_exact(buf.data(), kHeaderSize);
    if (got == 0) return 0;  // the parent closed its end
    if (got < 0) return 1;
    auto header = decode_header(buf);
    if (!header) {
      // Without a trustworthy size the next frame cannot be found.
      complain(header.error().message());
      return 2;
    }
    buf.resize(kHeaderSize + header->payload_size);
    if (header->payload_size > 0 && read_exact(buf.data() + kHeaderSize, header->payload_size) != 1) return 1;
    auto request = decode_payload(header->type, std::span(buf).subspan(kHeaderSize));
    int passed = -1;
    const Message reply = request ? handle(*request, killer, filter, passed) : Message{ErrorReply{request.error()}};
    const bool sent = write_all(encode(Frame{header->request_id, reply}), passed);
    if (passed >= 0) close(passed);
    if (!sent) return 1;
  }
}
