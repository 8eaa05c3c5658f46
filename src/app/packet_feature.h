#pragma once
// What the Packet Monitor brings to either program: the display timer that
// samples the latest packet into the list (every "Surveil"/"Interval" ms while
// a capture runs), the "$IP_PACKET$" variable of the logs, the settings
// reload, and the shut-down step that ends a capture before anything it
// decodes with goes away. The desktop program's page shows the same monitor;
// tarnixd runs it without a window when "Surveil"/"AutoStart" is 1.
//
// Ownership: the monitor, the profile and the runtime must outlive it.
// Main thread only.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "app/runtime.h"
#include "packets/packet_monitor.h"
#include "settings/profile.h"

namespace tw::app {

// The display timer's period while no capture runs: it only has to notice a
// run that ended by itself, and an idle program should not wake up 1000
// times a second.
inline constexpr std::uint32_t kPacketIdlePeriodMs = 1000;

class PacketFeature {
 public:
  PacketFeature(Runtime& runtime, settings::Profile& profile, packets::PacketMonitor& monitor);
  PacketFeature(const PacketFeature&) = delete;
  PacketFeature& operator=(const PacketFeature&) = delete;

  packets::PacketMonitor& monitor() { return monitor_; }

  // START/STOP with the address shown; the schedule follows the new state.
  packets::StartOutcome toggle(std::string_view address_text);
  packets::StartOutcome start(std::string_view address_text);
  void stop();
  // "Surveil"/"AutoStart": reads the address table and, when the key is 1,
  // starts on the default address. Ignored (kind Ignored) when it is 0.
  packets::StartOutcome auto_start();

  // Told after each display tick that changed the list or ended the run
  // (the page redraws). May be empty.
  void set_tick_listener(std::function<void(const packets::TickResult&)> listener) {
    tick_listener_ = std::move(listener);
  }

 private:
  void tick();

  Runtime& runtime_;
  settings::Profile& profile_;
  packets::PacketMonitor& monitor_;
  std::function<void(const packets::TickResult&)> tick_listener_;
};

}  // namespace tw::app
