#pragma once
// A capture without a kernel: the test starts it through the monitor and
// then hands it datagrams, which reach the sink on the test's own thread.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/packet_capture.h"

namespace tw::platform {

class FakePacketCapture : public PacketCapture {
 public:
  std::vector<std::uint32_t> addresses;
  std::vector<net::IpAddress> addresses6;
  std::optional<std::uint32_t> own_address;
  std::optional<CaptureFailure> fail_with;  // the next start() fails so
  net::IpAddress started_address;
  std::uint32_t started_on = 0;  // started_address when it is IPv4
  int starts = 0;
  int stops = 0;

  std::vector<std::uint32_t> local_addresses() override { return addresses; }
  std::vector<net::IpAddress> local_ipv6_addresses() override { return addresses6; }
  std::optional<std::uint32_t> host_address() override { return own_address; }

  CaptureStatus start(const net::IpAddress& address, CaptureSink& sink) override {
    if (sink_) return CaptureFailure{"socket", EBUSY, "already capturing"};
    if (fail_with) return *fail_with;
    started_address = address;
    started_on = address.v4_network();
    ++starts;
    stats_ = {};  // a run's figures are its own, as with the real capture
    sink_ = &sink;
    sink.capture_started();
    return {};
  }
  void stop() override {
    ++stops;
    end();
  }
  CaptureStats stats() override { return stats_; }

  bool running() const { return sink_ != nullptr; }
  // A datagram as if received; false when no run is going or the sink ended it.
  bool deliver(std::span<const std::uint8_t> bytes) {
    if (!sink_) return false;
    ++stats_.received;
    if (sink_->datagram(bytes)) return true;
    end();
    return false;
  }
  // Datagrams the kernel (or the helper) lost in this run.
  void drop(std::uint64_t n) { stats_.dropped += n; }
  // The capture thread ends by itself (the interface went away).
  void end() {
    if (!sink_) return;
    CaptureSink* s = sink_;
    sink_ = nullptr;
    s->capture_ended();
  }

 private:
  CaptureSink* sink_ = nullptr;
  CaptureStats stats_;
};

}  // namespace tw::platform
