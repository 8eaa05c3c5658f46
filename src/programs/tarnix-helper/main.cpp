// tarnix-helper: does the few things of Tarnwatch that need privileges, on
// behalf of a parent that has none.
//
// It is installed with file capabilities and executable only by root and the
// group tarnwatch (scripts/install.sh). The parent starts it with one end of a
// stream socketpair as fd 0, on which it sends framed requests
// (helper/protocol.h) and the helper answers each with one reply, in order,
// and one end of a SOCK_SEQPACKET socketpair as fd 3, on which the helper
// forwards captured datagrams. It ends when its input ends or its parent dies,
// keeps only the capabilities its operations use, and trusts nothing it reads:
// every request is decoded strictly and checked against the machine's own
// state before the kernel sees it. No descriptor ever leaves the helper.
//
// What a member of the group may have it do, and no more (helper/policy.h):
//   - close one established-side IPv4 TCP connection that the helper looked
//     up itself (SOCK_DESTROY with the cookie of its own lookup; never a
//     listener);
//   - name the processes that hold given sockets (a walk of /proc/PID/fd,
//     which for other users' processes takes CAP_DAC_READ_SEARCH to list and
//     CAP_SYS_PTRACE to read): inode numbers, process ids and names only;
//   - capture the IPv4 (or IPv6) datagrams of the device that owns one of
//     the machine's own non-loopback IPv4 (or global or unique-local IPv6)
//     addresses, forwarded in batches over fd 3;
//   - install and remove DROP rules in its own nftables table (`inet
//     tarnwatch`, or `ip tarnwatch` for a client with IPv6 off, owned by this
//     process, so it lives exactly as long as the helper) for the machine's
//     own non-loopback addresses (IPv6: its global and unique-local ones, the
//     loopback and link-local ones only when a filter names them), at most
//     packetfilter::kMaxNftRules rules.
#include <linux/capability.h>
#include <linux/if_packet.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <variant>
#include <vector>

#include "helper/policy.h"
#include "helper/protocol.h"
#include "packetfilter/nft_ruleset.h"
#include "platform/linux/machine_ipv6.h"
#include "platform/linux/owned_fd.h"
#include "platform/linux/packet_socket.h"
#include "platform/linux/proc_sockets.h"
#include "platform/privileged/capabilities.h"
#include "platform/privileged/nftables_filter.h"
#include "platform/privileged/sock_destroy.h"

namespace {

using namespace tw;
using namespace tw::helper;
using Clock = std::chrono::steady_clock;

// Every capability an operation uses; everything else is dropped at start.
constexpr std::uint64_t kKeptCapabilities =
    platform::capability_bit(CAP_NET_ADMIN) | platform::capability_bit(CAP_NET_RAW) |
    platform::capability_bit(CAP_DAC_READ_SEARCH) | platform::capability_bit(CAP_SYS_PTRACE);

constexpr const char* kRefused = "The privileged helper refused the request.";
constexpr int kCaptureChannel = 3;

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

// The capture channel when fd 3 is what the parent must have put there: a
// Unix SOCK_SEQPACKET socket; -1 otherwise (then fd 3 is closed, and the
// helper captures nothing).
int capture_channel() {
  int type = 0, domain = 0;
  socklen_t len = sizeof type;
  const bool ok = getsockopt(kCaptureChannel, SOL_SOCKET, SO_TYPE, &type, &len) == 0 && type == SOCK_SEQPACKET &&
                  (len = sizeof domain, getsockopt(kCaptureChannel, SOL_SOCKET, SO_DOMAIN, &domain, &len) == 0) &&
                  domain == AF_UNIX;
  if (!ok) {
    close(kCaptureChannel);
    return -1;
  }
  // The client reads; nothing it writes is read here.
  shutdown(kCaptureChannel, SHUT_RD);
  // A few MiB of batches may wait for a busy client before datagrams are
  // counted as dropped. Beyond net.core.wmem_max only with CAP_NET_ADMIN.
  const int room = 4 << 20;
  if (setsockopt(kCaptureChannel, SOL_SOCKET, SO_SNDBUFFORCE, &room, sizeof room) != 0)
    setsockopt(kCaptureChannel, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
  return kCaptureChannel;
}

// The largest message the capture channel takes: the kernel refuses a
// datagram above its send buffer (less a little), whatever the room left.
std::size_t largest_batch(int channel) {
  int sndbuf = 0;
  socklen_t len = sizeof sndbuf;
  if (channel < 0 || getsockopt(channel, SOL_SOCKET, SO_SNDBUF, &sndbuf, &len) != 0 || sndbuf <= 1024)
    return 64 * 1024;
  return std::min<std::size_t>(kMaxPayload, static_cast<std::size_t>(sndbuf) / 2 - kHeaderSize);
}

// The capture: reads the packet socket in batches and forwards them over the
// capture channel. Never blocks on the client: a batch the channel has no
// room for is counted as forward drops, and the capture goes on.
class Forwarder {
 public:
  explicit Forwarder(int channel)
      : channel_(channel), writer_(largest_batch(channel)) {
    blocks_.resize(std::size_t{kReadBatch} * platform::kCaptureSnapLength);
  }
  ~Forwarder() { end_run(); }
  Forwarder(const Forwarder&) = delete;
  Forwarder& operator=(const Forwarder&) = delete;

  int fd() const { return fd_.get(); }

  Message start(const StartCapture& request, std::uint32_t run) {
    if (channel_ < 0) return ErrorReply{Error{kCaptureHeadline, "socket: the helper has no capture channel", EBADF}};
    const std::uint32_t device = request.address.family == net::kFamilyIPv6
                                     ? capture_device6(request.address, platform::machine_ipv6_addresses())
                                     : capture_device(request.address, platform::machine_ipv4_addresses());
    if (device == 0)
      return ErrorReply{Error{kCaptureHeadline, "bind: not a non-loopback address of this machine", EADDRNOTAVAIL}};
    end_run();  // a capture running already is replaced
    platform::CaptureFailure failure;
    // The address's family chooses the datagrams: IPv4 or IPv6, never both.
    platform::OwnedFd fd(platform::open_device_capture_socket(device, failure, request.address.family));
    if (!fd) return ErrorReply{platform::capture_error(failure)};
    fd_ = std::move(fd);
    run_ = run;
    counts_ = {};
    reported_drops_ = 0;
    writer_.clear(run_);
    drops_read_ = Clock::now();
    return StartCaptureReply{device};
  }

  StopCaptureReply stop() {
    end_run();
    return StopCaptureReply{counts_};
  }

  // The packet socket is readable (or has an error): forward what is queued.
  // True when datagrams were read.
  bool forward(short revents) {
    if (!fd_) return false;
    if ((revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (revents & POLLIN) == 0) {
      int err = 0;
      socklen_t len = sizeof err;
      getsockopt(fd_.get(), SOL_SOCKET, SO_ERROR, &err, &len);
      if (gone(err) || (revents & POLLNVAL) != 0) end_by_itself(err != 0 ? err : ENODEV);
      return false;
    }
    bool read_any = false;
    // A few rounds at most, then the requests get their turn.
    for (int round = 0; round < kMaxRounds && fd_; ++round) {
      for (unsigned i = 0; i < kReadBatch; ++i) {
        iov_[i] = {blocks_.data() + std::size_t{i} * platform::kCaptureSnapLength, platform::kCaptureSnapLength};
        msgs_[i].msg_hdr = msghdr{};
        msgs_[i].msg_hdr.msg_iov = &iov_[i];
        msgs_[i].msg_hdr.msg_iovlen = 1;
      }
      const int n = recvmmsg(fd_.get(), msgs_.data(), kReadBatch, MSG_DONTWAIT, nullptr);
      if (n < 0) {
        if (gone(errno)) end_by_itself(errno);
        break;  // EAGAIN: the queue is empty
      }
      read_any = read_any || n > 0;
      for (int i = 0; i < n; ++i) {
        const std::size_t len =
            std::min<std::size_t>(msgs_[static_cast<std::size_t>(i)].msg_len, platform::kCaptureSnapLength);
        if (len == 0) continue;
        if (!writer_.fits(len)) {
          if (writer_.count() > 0) send_batch(false, 0);
          if (!writer_.fits(len)) {
            // Larger than a message of the channel may be (a send buffer
            // cut down by net.core.wmem_max).
            ++counts_.forward_drops;
            continue;
          }
        }
        writer_.add(std::span(blocks_.data() + static_cast<std::size_t>(i) * platform::kCaptureSnapLength, len));
        if (writer_.payload_size() >= kBatchTarget) send_batch(false, 0);
      }
      if (static_cast<unsigned>(n) < kReadBatch) break;
    }
    if (fd_ && writer_.count() > 0) send_batch(false, 0);
    return read_any;
  }

  // The kernel's drop count, read now and then; a change is reported even
  // when no datagram follows.
  void tick() {
    if (!fd_ || Clock::now() - drops_read_ < kDropsPeriod) return;
    drops_read_ = Clock::now();
    platform::add_capture_drops(fd_.get(), counts_.kernel_drops);
    if (counts_.kernel_drops != reported_drops_) send_batch(false, 0);
  }

 private:
  static constexpr unsigned kReadBatch = 64;
  static constexpr int kMaxRounds = 16;
  // A batch goes once it holds this much (or the queue is empty): few system
  // calls per datagram, and little held back.
  static constexpr std::size_t kBatchTarget = 32 * 1024;
  static constexpr auto kDropsPeriod = std::chrono::milliseconds(200);
  static constexpr const char* kCaptureHeadline = "Could not open the packet capture.";

  static bool gone(int err) { return err == ENETDOWN || err == ENODEV || err == ENXIO; }

  void send_batch(bool ended, int err) {
    CaptureBatch head;
    head.ended = ended;
    head.end_errno = static_cast<std::uint32_t>(err);
    head.kernel_drops = counts_.kernel_drops;
    head.forward_drops = counts_.forward_drops;
    const std::size_t count = writer_.count();
    const std::span<const std::uint8_t> frame = writer_.finish(head);
    // The last batch of a run must arrive: it tells the client the run has
    // ended. It may wait a little for room; every other batch never waits.
    if (ended) {
      pollfd p{channel_, POLLOUT, 0};
      poll(&p, 1, 1000);
    }
    const ssize_t r = send(channel_, frame.data(), frame.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (r == static_cast<ssize_t>(frame.size())) {
      counts_.forwarded += count;
      reported_drops_ = counts_.kernel_drops;
    } else if (r < 0 && (errno == EAGAIN || errno == ENOBUFS || errno == EMSGSIZE)) {
      counts_.forward_drops += count;
    } else if (!ended) {
      // The client's end is gone: nobody reads this capture any more.
      writer_.clear(run_);
      end_run();
      return;
    }
    writer_.clear(run_);
  }

  void end_by_itself(int err) {
    if (!fd_) return;
    platform::add_capture_drops(fd_.get(), counts_.kernel_drops);
    fd_.reset();
    send_batch(true, err);
  }

  void end_run() {
    if (!fd_) return;
    if (writer_.count() > 0) send_batch(false, 0);
    if (!fd_) return;
    platform::add_capture_drops(fd_.get(), counts_.kernel_drops);
    fd_.reset();
  }

  const int channel_;
  CaptureBatchWriter writer_;
  platform::OwnedFd fd_;
  std::uint32_t run_ = 0;
  CaptureCounts counts_;
  std::uint64_t reported_drops_ = 0;
  Clock::time_point drops_read_{};
  std::vector<std::uint8_t> blocks_;
  std::array<mmsghdr, kReadBatch> msgs_{};
  std::array<iovec, kReadBatch> iov_{};
};

// The platform's socket id for a request that names one TCP connection of
// either family, or why the request is refused. It is still only a question:
// the killer looks the connection up itself and closes nothing but an exact
// match by the cookie its own lookup returned, never a listener.
Result<platform::SocketId> connection_of(const DiagSocketId& w) {
  if (w.family != kFamilyIPv4 && w.family != kFamilyIPv6)
    return Error{kRefused, "only IPv4 and IPv6 connections can be closed (family " + std::to_string(w.family) + ")",
                 EAFNOSUPPORT};
  if (w.protocol != kProtocolTcp)
    return Error{kRefused, "only TCP connections can be closed (protocol " + std::to_string(w.protocol) + ")",
                 EPROTONOSUPPORT};
  platform::SocketId id;
  id.family = w.family;
  if (w.family == kFamilyIPv6) {
    id.local_address6 = w.src;
    id.remote_address6 = w.dst;
  } else {
    std::memcpy(&id.local_address, w.src.data(), 4);
    std::memcpy(&id.remote_address, w.dst.data(), 4);
  }
  id.local_port = w.src_port;
  id.remote_port = w.dst_port;
  id.interface = w.interface;
  id.cookie = w.cookie;
  if (id.remote_unspecified() || id.local_port == 0 || id.remote_port == 0)
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

// The filter set as installed: the client's addresses narrowed to the
// machine's own, the table's size bounded.
Message apply_filter(const ApplyFilter& request, platform::NftablesPacketFilter& filter) {
  net::FilterSet set = request.set;
  set.local_addresses = narrow_filter_addresses(set.local_addresses, platform::machine_ipv4_addresses());
  if (set.ipv6) {
    // The machine's addresses as the helper reads them, never the client's
    // word; the scopes the filters name as the helper computes them.
    auto machine6 = platform::ipv6_addresses_of_machine();
    if (!machine6) return ErrorReply{machine6.error()};
    const packetfilter::Ipv6Scopes named = packetfilter::ipv6_scopes_named(set.drops6);
    set.local_ipv6 = narrow_filter_addresses6(set.local_ipv6, *machine6, named.loopback, named.link_local);
  }
  const std::size_t rules = packetfilter::nft_rule_count(set);
  if (rules > packetfilter::kMaxNftRules)
    return ErrorReply{Error{"The packet filter could not be installed.",
                            std::to_string(rules) + " nftables rules asked for, at most " +
                                std::to_string(packetfilter::kMaxNftRules),
                            E2BIG}};
  if (Status s = filter.apply(set); !s) return ErrorReply{s.error()};
  return ApplyFilterReply{};
}

struct Services {
  platform::SockDestroyKiller& killer;
  platform::NftablesPacketFilter& filter;
  Forwarder& capture;
};

Message handle(const Message& request, std::uint32_t request_id, Services& s) {
  if (std::holds_alternative<Hello>(request)) return HelloReply{platform::effective_capabilities()};
  if (const auto* start = std::get_if<StartCapture>(&request)) return s.capture.start(*start, request_id);
  if (std::holds_alternative<StopCapture>(request)) return s.capture.stop();
  if (const auto* destroy = std::get_if<DestroySocket>(&request)) {
    auto id = connection_of(destroy->id);
    if (!id) return ErrorReply{id.error()};
    auto closed = s.killer.close_connection(*id);
    if (!closed) return ErrorReply{closed.error()};
    return DestroySocketReply{*closed};
  }
  if (const auto* owners = std::get_if<SocketOwners>(&request)) return socket_owners(*owners);
  if (const auto* apply = std::get_if<ApplyFilter>(&request)) return apply_filter(*apply, s.filter);
  if (std::holds_alternative<RemoveFilter>(request)) {
    if (Status st = s.filter.remove(); !st) return ErrorReply{st.error()};
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
  close_range(kCaptureChannel + 1, ~0U, 0);
  struct stat st {};
  if (fstat(0, &st) != 0 || !S_ISSOCK(st.st_mode)) {
    complain("started by Tarnwatch only: its input must be the socket Tarnwatch hands it");
    return 2;
  }
  const int channel = capture_channel();

  if (Status s = platform::keep_only_capabilities(kKeptCapabilities); !s) {
    complain(s.error().message());
    return 1;
  }
  platform::SockDestroyKiller killer;
  platform::NftablesPacketFilter filter({packetfilter::nft_apply_text, packetfilter::nft_remove_text});
  Forwarder capture(channel);
  Services services{killer, filter, capture};

  std::vector<std::uint8_t> buf(kHeaderSize);
  for (;;) {
    pollfd p[2] = {{0, POLLIN, 0}, {capture.fd(), POLLIN, 0}};
    const bool capturing = capture.fd() >= 0;
    const int r = poll(p, capturing ? 2 : 1, capturing ? 200 : -1);
    if (r < 0 && errno != EINTR) return 1;
    if (capturing && p[1].revents != 0 && capture.forward(p[1].revents)) {
      // While datagrams flow, let them gather for a moment: one wake-up then
      // forwards a batch instead of a datagram.
      const timespec gather{0, 500'000};
      nanosleep(&gather, nullptr);
    }
    capture.tick();
    if (r <= 0 || p[0].revents == 0) continue;

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
    const Message reply =
        request ? handle(*request, header->request_id, services) : Message{ErrorReply{request.error()}};
    if (!write_all(encode(Frame{header->request_id, reply}))) return 1;
  }
}
