#include "app/packet_feature.h"

#include "shell/shell_settings.h"

namespace tw::app {

PacketFeature::PacketFeature(Runtime& runtime, settings::Profile& profile, packets::PacketMonitor& monitor)
    : runtime_(runtime), profile_(profile), monitor_(monitor) {
  runtime_.add_timer(
      kTimerPacketDisplay,
      [this] {
        return monitor_.state() == packets::CaptureState::Idle ? kPacketIdlePeriodMs
                                                               : static_cast<std::uint32_t>(monitor_.interval_ms());
      },
      [this] { tick(); });
  runtime_.add_log_source(monitor_.log_source());
  runtime_.add_reload_step([this] {
    monitor_.apply_settings(packets::load_packet_settings(profile_));
    runtime_.timers_changed();
  });
  // The capture thread reads the flow keys and the host names: it ends first.
  runtime_.add_shutdown_step(shutdown_step::kStopSampling, [this](bool) { monitor_.shut_down(); });
}

void PacketFeature::tick() {
  const packets::TickResult r = monitor_.display_tick();
  if (r.capture_ended) runtime_.timers_changed();
  if ((r.row_added || r.capture_ended) && tick_listener_) tick_listener_(r);
}

packets::StartOutcome PacketFeature::start(std::string_view address_text) {
  const packets::StartOutcome out = monitor_.start(address_text);
  runtime_.timers_changed();
  return out;
}

void PacketFeature::stop() {
  monitor_.stop();
  runtime_.timers_changed();
}

packets::StartOutcome PacketFeature::toggle(std::string_view address_text) {
  const packets::StartOutcome out = monitor_.toggle(address_text);
  runtime_.timers_changed();
  return out;
}

packets::StartOutcome PacketFeature::auto_start() {
  monitor_.load_addresses();
  if (!shell::load_surveil_auto_start(profile_)) return {};
  return start(monitor_.default_address_text());
}

}  // namespace tw::app
