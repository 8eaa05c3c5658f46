#include "app/traffic_feature.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>

#include "shell/main_window_logic.h"
#include "shell/shell_settings.h"

namespace tw::app {

namespace {

// The graph fills the Traffic Monitor page inside the main window's and the
// page's margins of 4 pixels on either side.
constexpr int kGraphHorizontalInset = 16;

}  // namespace

int stored_graph_width(const settings::Profile& profile) {
  int client_width = shell::kDefaultClientWidth;
  if (const std::optional<std::array<int, 10>> list = shell::load_window_position(profile)) {
    // The window is never narrower than its minimum; a garbled rectangle
    // reads as that.
    const PixelRect r = shell::WindowPlacement::from_list(*list).normal;
    const std::int64_t w = std::int64_t{r.right} - r.left;
    client_width = static_cast<int>(std::clamp<std::int64_t>(w, shell::kMinClientWidth, 1 << 16));
  }
  return client_width - kGraphHorizontalInset;
}

TrafficFeature::TrafficFeature(Runtime& runtime, settings::Profile& profile, traffic::TrafficMonitor& traffic)
    : runtime_(runtime), traffic_(traffic), redraw_period_ms_(traffic.redraw_period_ms()) {
  using shell::Command;
  using traffic::RestartMode;
  traffic_.set_graph_width(stored_graph_width(profile));

  runtime.add_timer(
      kTimerStatusBlock, [] { return kStatusBlockPeriodMs; },
      [this] {
        // A skipped publish keeps the last record; the next tick writes anew.
        if (platform::StatusBlock* block = runtime_.status_block())
          (void)block->publish(traffic_.statistics_record());
      },
      [this] { return !sampler_publishes_; });
  runtime.add_timer(kTimerGrossTotals, [] { return kGrossTotalsPeriodMs; }, [this] { traffic_.save_gross_totals(); });
  // The automatic reset after the sampled interface changed runs at the
  // graph's redraw period whether or not a graph is shown, but only while
  // there is a countdown: the sampler says when one begins.
  runtime.add_timer(
      kTimerAutoReset, [this] { return redraw_period_ms_; }, [this] { auto_reset_tick(); },
      [this] { return counting_down_; });

  runtime.add_command(Command::TrafficInit, [this](const auto&) { traffic_.restart(RestartMode::Restart); });
  runtime.add_command(Command::TrafficTotalInit, [this](const auto&) { traffic_.restart(RestartMode::Gross); });
  runtime.add_command(Command::TrafficAllInit, [this](const auto&) {
    traffic_.restart(RestartMode::Gross);
    traffic_.restart(RestartMode::Restart);
  });

  runtime.add_log_source(log_source_);
  runtime.add_suspend_step([this] { traffic_.save_gross_totals(); });
  runtime.add_reload_step([this] {
    traffic_.reload_settings();
    redraw_period_ms_ = traffic_.redraw_period_ms();
  });
  runtime.add_shutdown_step(shutdown_step::kSaveTotals, [this](bool restarting) {
    if (!restarting) traffic_.save_gross_totals();
    traffic_.save_interface_choice();
  });
}

bool TrafficFeature::sampler_can_publish(std::uint32_t sampling_period_ms) {
  return sampling_period_ms > 0 && sampling_period_ms <= kStatusBlockPeriodMs &&
         kStatusBlockPeriodMs % sampling_period_ms == 0;
}

void TrafficFeature::set_sampler_publishes(bool on) {
  sampler_publishes_ = on;
  runtime_.timers_changed();
}

void TrafficFeature::interface_changed() {
  if (counting_down_) return;  // the countdown already runs
  counting_down_ = true;
  runtime_.timers_changed();
  auto_reset_tick();
}

void TrafficFeature::auto_reset_tick() {
  // Not Changed (any more): the restart came, by the countdown or by hand.
  const bool changed = traffic_.auto_reset_tick().has_value();
  bool rearm = false;
  if (!changed && counting_down_) {
    counting_down_ = false;
    rearm = true;
  }
  // A restart re-reads the display settings, the redraw period with them.
  if (traffic_.redraw_period_ms() != redraw_period_ms_) {
    redraw_period_ms_ = traffic_.redraw_period_ms();
    rearm = true;
  }
  if (rearm) runtime_.timers_changed();
}

}  // namespace tw::app
