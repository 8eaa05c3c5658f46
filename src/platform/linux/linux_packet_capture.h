#pragma once
// The Packet Monitor's capture on Linux: the capture socket of
// packet_socket.h read by a capture thread of this process when it holds
// CAP_NET_RAW; otherwise tarnix-helper reads that socket and forwards the
// datagrams in batches over its capture channel, and the capture thread reads
// the batches. Either way the sink sees the same datagrams; the helper never
// hands out the socket.
//
// The thread waits in poll() on the socket (or the channel) and on a stop
// event, with a 2000 ms time-out, and reads whatever is queued in batches, so
// a stop returns at once and a flood costs one system call per batch, not per
// datagram. Drops are the kernel's count for the capture socket
// (PACKET_STATISTICS), read by whichever process holds it; through the helper
// they come with its batches, together with the datagrams it could not
// forward.
//
// Threads: start(), stop(), stats() from one thread (the main thread); the
// sink is called on the capture thread. The helper client must outlive this
// object.
#include <atomic>
#include <cstdint>
#include <thread>

#include "platform/linux/helper_client.h"
#include "platform/linux/owned_fd.h"
#include "platform/packet_capture.h"

namespace tw::platform {

class LinuxPacketCapture : public PacketCapture {
 public:
  enum class Route {
    InProcessFirst,  // in-process when allowed, the helper when privileges are missing
    HelperOnly,      // always the helper (benchmarks and tests of that path)
  };

  // `helper` may be null (no helper to ask); it must outlive this object.
  explicit LinuxPacketCapture(HelperClient* helper, Route route = Route::InProcessFirst)
      : helper_(helper), route_(route) {}
  ~LinuxPacketCapture() override;
  LinuxPacketCapture(const LinuxPacketCapture&) = delete;
  LinuxPacketCapture& operator=(const LinuxPacketCapture&) = delete;

  std::vector<std::uint32_t> local_addresses() override;
  std::vector<net::IpAddress> local_ipv6_addresses() override;
  std::optional<std::uint32_t> host_address() override;
  CaptureStatus start(const net::IpAddress& address, CaptureSink& sink) override;
  void stop() override;
  CaptureStats stats() override;

  // Whether the running (or last) capture went through the helper. For tests.
  bool through_helper() const { return through_helper_; }

 private:
  CaptureStatus start_with_helper(const net::IpAddress& address, CaptureSink& sink, CaptureFailure failure);
  CaptureStatus start_thread(OwnedFd fd, std::uint32_t run, CaptureSink& sink);
  // Each closes its descriptor before the sink's capture_ended().
  void run_socket(OwnedFd fd, int stop_fd, CaptureSink& sink);
  void run_channel(OwnedFd channel, std::uint32_t run, int stop_fd, CaptureSink& sink);

  HelperClient* helper_;
  const Route route_;
  std::thread thread_;
  OwnedFd stop_fd_;  // eventfd: the capture thread leaves when it is readable
  std::atomic<std::uint64_t> received_{0};
  std::atomic<std::uint64_t> dropped_{0};
  std::atomic<std::uint64_t> forward_dropped_{0};
  bool through_helper_ = false;
};

}  // namespace tw::platform
