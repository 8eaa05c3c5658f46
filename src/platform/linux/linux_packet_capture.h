#pragma once
// The Packet Monitor's capture on Linux: the capture socket of
// packet_socket.h, opened in this process when it holds CAP_NET_RAW and by
// tarnix-helper otherwise, read by a capture thread.
//
// The thread waits in poll() on the socket and on a stop event, with a
// 2000 ms time-out, and reads whatever is queued in batches (recvmmsg), so a
// stop returns at once and a flood costs one system call per batch, not per
// datagram. Drops are the kernel's count for this socket (PACKET_STATISTICS).
//
// Threads: start(), stop(), stats() from one thread (the main thread); the
// sink is called on the capture thread.
#include <atomic>
#include <cstdint>
#include <thread>

#include "platform/linux/helper_client.h"
#include "platform/packet_capture.h"

namespace tw::platform {

class LinuxPacketCapture : public PacketCapture {
 public:
  // `helper` may be null (no helper to ask); it must outlive this object.
  explicit LinuxPacketCapture(HelperClient* helper) : helper_(helper) {}
  ~LinuxPacketCapture() override;
  LinuxPacketCapture(const LinuxPacketCapture&) = delete;
  LinuxPacketCapture& operator=(const LinuxPacketCapture&) = delete;

  std::vector<std::uint32_t> local_addresses() override;
  std::optional<std::uint32_t> host_address() override;
  std::optional<CaptureFailure> start(std::uint32_t address, CaptureSink& sink) override;
  void stop() override;
  CaptureStats stats() override;

  // Whether the running capture's socket came from the helper. For tests.
  bool through_helper() const { return through_helper_; }

 private:
  void run(int fd, int stop_fd, CaptureSink& sink);

  HelperClient* helper_;
  std::thread thread_;
  int stop_fd_ = -1;  // eventfd: the capture thread leaves when it is readable
  std::atomic<std::uint64_t> received_{0};
  std::atomic<std::uint64_t> dropped_{0};
  bool through_helper_ = false;
};

}  // namespace tw::platform
