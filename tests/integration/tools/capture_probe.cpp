// A small client of the packet capture for the integration tests, which run
// it as an unprivileged user inside a test namespace.
//
//   tw_capture_probe HELPER ADDRESS COUNT
//     starts a capture on ADDRESS the way the programs do (in-process when
//     allowed, else through HELPER) and prints "in-process" or "helper" and
//     "started", then the protocol text and ports of each datagram, until
//     COUNT datagrams or 5 s have passed. On failure it prints the message
//     the user would see. Exit status 0 when the capture ran.
#include <arpa/inet.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "packets/packet_decoder.h"
#include "packets/packet_monitor.h"
#include "platform/linux/linux_packet_capture.h"

using namespace tw;

namespace {

class Printer : public platform::CaptureSink {
 public:
  Printer(std::uint32_t address, int count) : left_(count) { ctx_.capture_address = address; }
  void capture_started() override {}
  bool datagram(std::span<const std::uint8_t> bytes) override {
    packets::PacketRecord r = packets::empty_record();
    if (!packets::decode_datagram(bytes, ctx_, r)) return true;
    std::printf("%s %d %d\n", std::string(packets::field_text(r.protocol)).c_str(), r.port1, r.port2);
    std::fflush(stdout);
    std::lock_guard lock(mutex_);
    if (--left_ <= 0) done_.notify_all();
    return left_ > 0;
  }
  void capture_ended() override {}
  void wait() {
    std::unique_lock lock(mutex_);
    done_.wait_for(lock, std::chrono::seconds(5), [this] { return left_ <= 0; });
  }

 private:
  packets::DecodeContext ctx_;
  std::mutex mutex_;
  std::condition_variable done_;
  int left_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s HELPER ADDRESS COUNT\n", argv[0]);
    return 2;
  }
  std::uint32_t address = 0;
  if (inet_pton(AF_INET, argv[2], &address) != 1) return 2;
  platform::HelperClient helper({argv[1]});
  platform::LinuxPacketCapture capture(&helper);
  Printer printer(address, std::atoi(argv[3]));
  if (auto failure = capture.start(address, printer)) {
    std::printf("%s\n", packets::capture_failure_text(*failure, Language::English).c_str());
    return 1;
  }
  std::printf("%s\nstarted\n", capture.through_helper() ? "helper" : "in-process");
  std::fflush(stdout);
  printer.wait();
  capture.stop();
  return 0;
}
