#include "platform/linux/linux_packet_capture.h"

#include <ifaddrs.h>
#include <linux/capability.h>
#include <linux/if_packet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "platform/linux/packet_socket.h"

namespace tw::platform {
namespace {

constexpr int kPollTimeoutMs = 2000;
constexpr unsigned kBatch = 32;
// The kernel's drop count is read this often while datagrams flow.
constexpr auto kDropsPeriod = std::chrono::milliseconds(200);
// How long datagrams gather in the queue after a busy read (the socket's
// buffer holds several MiB, far more than arrives meanwhile).
constexpr auto kGatherTime = std::chrono::microseconds(500);
constexpr std::uint64_t kNetRaw = std::uint64_t{1} << CAP_NET_RAW;

bool gone(int err) { return err == ENETDOWN || err == ENODEV || err == ENXIO; }

}  // namespace

LinuxPacketCapture::~LinuxPacketCapture() { stop(); }

std::vector<std::uint32_t> LinuxPacketCapture::local_addresses() {
  std::vector<std::uint32_t> out;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return out;
  for (ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
    out.push_back(reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr);
  }
  freeifaddrs(list);
  return out;
}

std::vector<net::IpAddress> LinuxPacketCapture::local_ipv6_addresses() {
  std::vector<net::IpAddress> out;
  for (const helper::MachineAddress6& a : machine_ipv6_addresses()) out.push_back(net::IpAddress::v6(a.bytes));
  return out;
}

std::optional<std::uint32_t> LinuxPacketCapture::host_address() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return std::nullopt;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* found = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) return std::nullopt;
  const std::uint32_t a = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
  freeaddrinfo(found);
  return a;
}

CaptureStatus LinuxPacketCapture::start(const net::IpAddress& address, CaptureSink& sink) {
  if (thread_.joinable()) return CaptureFailure{"socket", EBUSY, "a capture is running", {}};
  through_helper_ = false;
  CaptureFailure failure{"socket", EPERM, "the capture goes through the helper", {}};
  if (route_ == Route::InProcessFirst) {
    OwnedFd fd(open_capture_socket(address, failure));
    if (fd) return start_thread(std::move(fd), 0, sink);
    if (!failure.needs_privileges()) return failure;
  }
  if (helper_ == nullptr) return failure;
  return start_with_helper(address, sink, std::move(failure));
}

CaptureStatus LinuxPacketCapture::start_with_helper(const net::IpAddress& address, CaptureSink& sink,
                                                    CaptureFailure failure) {
  // The helper is asked only when it holds the capability; otherwise the
  // user is told about the privileges, with the reason the helper cannot
  // help.
  auto caps = helper_->capabilities();
  if (!caps) {
    failure.cause = std::string(administrator_cause(caps.error()));
    return failure;
  }
  if ((*caps & kNetRaw) == 0) {
    failure.cause = std::string(kHelperWithoutCapabilitiesCause);
    return failure;
  }
  auto run = helper_->start_capture(address.is_v6() ? net::CaptureAddress::ipv6(address.bytes)
                                                    : net::CaptureAddress::ipv4(address.v4_network()));
  if (!run) return capture_failure(run.error());
  through_helper_ = true;
  return start_thread(std::move(run->channel), run->run, sink);
}

CaptureStatus LinuxPacketCapture::start_thread(OwnedFd fd, std::uint32_t run, CaptureSink& sink) {
  stop_fd_.reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!stop_fd_) {
    const int e = errno;
    fd.reset();
    if (through_helper_) (void)helper_->stop_capture();
    return CaptureFailure{"socket", e, "eventfd", {}};
  }
  received_ = 0;
  dropped_ = 0;
  forward_dropped_ = 0;
  try {
    // The thread takes the descriptor over; released here only once the
    // thread exists, so a thread that cannot start leaves it to be closed.
    const int raw = fd.get();
    thread_ = std::thread([this, raw, run, &sink, stop_fd = stop_fd_.get()] {
      pthread_setname_np(pthread_self(), "tw-capture");
      if (through_helper_) run_channel(OwnedFd(raw), run, stop_fd, sink);
      else run_socket(OwnedFd(raw), stop_fd, sink);
    });
    (void)fd.release();
  } catch (const std::system_error& e) {
    fd.reset();
    stop_fd_.reset();
    if (through_helper_) (void)helper_->stop_capture();
    return CaptureFailure{"socket", e.code().value(), "cannot start the capture thread", {}};
  }
  return {};
}

void LinuxPacketCapture::run_socket(OwnedFd owned, int stop_fd, CaptureSink& sink) {
  const int fd = owned.get();
  sink.capture_started();
  // One block per datagram of a batch, each as large as a datagram can be.
  std::vector<std::uint8_t> blocks(std::size_t{kBatch} * kCaptureSnapLength);
  std::array<mmsghdr, kBatch> msgs{};
  std::array<iovec, kBatch> iov{};
  std::uint64_t drops = 0;
  bool going = true;
  auto drops_read = std::chrono::steady_clock::now();
  while (going) {
    pollfd p[2] = {{fd, POLLIN, 0}, {stop_fd, POLLIN, 0}};
    const int r = poll(p, 2, kPollTimeoutMs);
    if (r < 0 && errno != EINTR) break;
    if (p[1].revents != 0) break;
    if (r <= 0) continue;  // the time-out: a chance to notice the stop
    if ((p[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (p[0].revents & POLLIN) == 0) {
      // The device went away (ENETDOWN on the next read): the run ends.
      int err = 0;
      socklen_t len = sizeof err;
      getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
      if (gone(err) || (p[0].revents & POLLNVAL)) break;
      continue;
    }
    // Drain the queue a batch at a time before waiting again.
    for (;;) {
      for (unsigned i = 0; i < kBatch; ++i) {
        iov[i] = {blocks.data() + std::size_t{i} * kCaptureSnapLength, kCaptureSnapLength};
        msgs[i].msg_hdr = msghdr{};
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
      }
      const int n = recvmmsg(fd, msgs.data(), kBatch, MSG_DONTWAIT, nullptr);
      if (n <= 0) {
        if (n < 0 && gone(errno)) going = false;
        break;  // EAGAIN: the queue is empty; other errors end just this step
      }
      received_ += static_cast<std::uint64_t>(n);
      for (int i = 0; i < n && going; ++i) {
        const std::size_t len = std::min<std::size_t>(msgs[static_cast<std::size_t>(i)].msg_len, kCaptureSnapLength);
        going = sink.datagram(std::span(blocks.data() + static_cast<std::size_t>(i) * kCaptureSnapLength, len));
      }
      if (!going || static_cast<unsigned>(n) < kBatch) break;
      std::uint64_t stop_count = 0;
      if (read(stop_fd, &stop_count, sizeof stop_count) == sizeof stop_count) {
        going = false;
        break;
      }
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - drops_read >= kDropsPeriod) {
      add_capture_drops(fd, drops);
      dropped_ = drops;
      drops_read = now;
    }
    // While datagrams flow, let them gather for a moment: one wake-up then
    // reads a batch instead of one datagram, at a delay far below what the
    // list (one datagram per display tick) can show.
    if (going) std::this_thread::sleep_for(kGatherTime);
  }
  add_capture_drops(fd, drops);
  dropped_ = drops;
  owned.reset();
  sink.capture_ended();
}

void LinuxPacketCapture::run_channel(OwnedFd owned, std::uint32_t run, int stop_fd, CaptureSink& sink) {
  const int channel = owned.get();
  sink.capture_started();
  // One message is one whole frame; a larger one is refused by its size.
  std::vector<std::uint8_t> buf(helper::kHeaderSize + helper::kMaxPayload);
  bool going = true;
  while (going) {
    pollfd p[2] = {{channel, POLLIN, 0}, {stop_fd, POLLIN, 0}};
    const int r = poll(p, 2, kPollTimeoutMs);
    if (r < 0 && errno != EINTR) break;
    if (p[1].revents != 0) break;
    if (r <= 0 || p[0].revents == 0) continue;
    for (;;) {
      const ssize_t n = recv(channel, buf.data(), buf.size(), MSG_DONTWAIT | MSG_TRUNC);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) break;
      // The helper has gone (its end closed): the run has ended with it.
      if (n <= 0) {
        going = false;
        break;
      }
      const auto size = static_cast<std::size_t>(n);
      if (size > buf.size()) continue;  // cut off: not a frame the helper sends
      auto header = helper::decode_header(std::span(buf).first(size));
      if (!header || header->type != static_cast<std::uint16_t>(helper::MessageType::kCaptureBatch) ||
          header->payload_size != size - helper::kHeaderSize || header->request_id != run)
        continue;  // another run's batch, or not a batch
      auto batch = helper::view_capture_batch(std::span(buf).subspan(helper::kHeaderSize, header->payload_size));
      if (!batch) continue;
      dropped_ = batch->kernel_drops + batch->forward_drops;
      forward_dropped_ = batch->forward_drops;
      received_ += batch->count;
      batch->for_each([&](std::span<const std::uint8_t> d) {
        if (going) going = sink.datagram(d);
      });
      if (batch->ended) going = false;
      if (!going) break;
    }
  }
  owned.reset();
  sink.capture_ended();
}

void LinuxPacketCapture::stop() {
  if (!thread_.joinable()) return;
  const std::uint64_t one = 1;
  if (write(stop_fd_.get(), &one, sizeof one) < 0) {
    // An eventfd write fails only on overflow; the 2 s time-out still ends the thread.
  }
  thread_.join();
  stop_fd_.reset();
  if (through_helper_) {
    // The run's final counts; a helper that has gone keeps the last ones
    // its batches brought.
    if (auto counts = helper_->stop_capture()) {
      dropped_ = counts->kernel_drops + counts->forward_drops;
      forward_dropped_ = counts->forward_drops;
    }
  }
}

CaptureStats LinuxPacketCapture::stats() {
  return CaptureStats{received_.load(), dropped_.load(), forward_dropped_.load()};
}

}  // namespace tw::platform
