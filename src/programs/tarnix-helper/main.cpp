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
// Operations: close an IPv4 TCP connection (SOCK_DESTROY); install and remove
// the packet filter's nftables table, which this process then owns: it lives
// exactly as long as the helper.
#include <linux/capability.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <variant>
#include <vector>

#include "helper/protocol.h"
#include "packetfilter/nft_ruleset.h"
#include "platform/privileged/nftables_filter.h"
#include "platform/privileged/capabilities.h"
#include "platform/privileged/sock_destroy.h"

namespace {

using namespace tw;
using namespace tw::helper;

// Every capability an operation uses; everything else is dropped at start.
constexpr std::uint64_t kKeptCapabilities = platform::capability_bit(CAP_NET_ADMIN);

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

bool write_all(const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
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

Message handle(const Message& request, platform::SockDestroyKiller& killer, platform::NftablesPacketFilter& filter) {
  if (std::holds_alternative<Hello>(request)) return HelloReply{platform::effective_capabilities()};
  if (const auto* destroy = std::get_if<DestroySocket>(&request)) {
    auto id = connection_of(destroy->id);
    if (!id) return ErrorReply{id.error()};
    if (Status s = killer.close(*id); !s) return ErrorReply{s.error()};
    return DestroySocketReply{};
  }
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
    const Message reply = request ? handle(*request, killer, filter) : Message{ErrorReply{request.error()}};
    if (!write_all(encode(Frame{header->request_id, reply}))) return 1;
  }
}
