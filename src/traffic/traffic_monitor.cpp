#include "traffic/traffic_monitor.h"

#include <algorithm>
#include <utility>

#include "base/format.h"
#include "traffic/graph_logic.h"
#include "traffic/sampler_settings.h"

namespace tw::traffic {

// ---------------------------------------------------------------------------
// Construction and settings

TrafficMonitor::TrafficMonitor(settings::Profile& profile, platform::LinkStatsSource& links,
                               platform::Clock& clock, Language lang)
    : profile_(profile), links_(links), clock_(clock), lang_(lang) {
  send_.counters.reserve(kCounterHistoryTrim);
  recv_.counters.reserve(kCounterHistoryTrim);
  snap_.description.reserve(1024);
  identified_description_.reserve(1024);
  restart(RestartMode::Full);  // also reads the display settings
  // The sampling period is fixed once the sampler runs: a change needs a new start.
  const int tr = load_sampler_settings(profile_).thread_responce;
  sampling_period_ms_ = static_cast<std::uint32_t>(tr + 1) * 50;
  speed_divisor_ = (tr + 1) * kSpeedDivisorPerPeriod;
}

void TrafficMonitor::reload_settings() {
  const SamplerSettings sampler = load_sampler_settings(profile_);
  const GraphSettings view = load_graph_settings(profile_, lang_);
  const int vr = view.view_responce;
  const bool ds = view.double_sampling;
  const bool ar = sampler.interface_auto_reset;
  // A hand-edited negative countdown reads as a huge unsigned one: it never
  // fires rather than firing at once.
  const auto secs = static_cast<std::uint32_t>(sampler.interface_auto_reset_timer);
  const int mu = view.max_unit;
  const int au = view.ave_unit;
  const int eu = view.ext_unit;
  const int mlt = view.max_line_time;
  std::lock_guard lock(mu_);
  view_responce_ = vr;
  double_sampling_ = ds;
  auto_reset_ = ar;
  auto_reset_seconds_ = secs;
  max_unit_ = fixed_unit(mu);
  ave_unit_ = fixed_unit(au);
  ext_unit_ = fixed_unit(eu);
  max_line_time_ = mlt;
  update_maxima_locked();
}

std::uint32_t TrafficMonitor::redraw_period_ms() const {
  std::lock_guard lock(mu_);
  return static_cast<std::uint32_t>(view_responce_ + 1) * 50;
}

void TrafficMonitor::set_restart_listener(std::function<void(RestartMode)> listener) {
  restart_listener_ = std::move(listener);
}

void TrafficMonitor::set_changed_listener(std::function<void()> listener) {
  changed_listener_ = std::move(listener);
}

int TrafficMonitor::watch_link_events() {
  std::lock_guard lock(mu_);  // the link source serves one caller at a time
  return links_.watch_events();
}

void TrafficMonitor::take_link_events() {
  std::lock_guard lock(mu_);
  links_.take_events();
}

// ---------------------------------------------------------------------------
// Restarts and totals

void TrafficMonitor::restart(RestartMode mode) { restart_at(mode, std::nullopt); }

void TrafficMonitor::restart_at(RestartMode mode, std::optional<int> position) {
  if (mode == RestartMode::Gross) {
    {
      std::lock_guard lock(mu_);
      send_.gross = recv_.gross = 0;
    }
    save_gross_totals();
  } else {
    const platform::LocalTime wall =
        mode == RestartMode::Restart ? clock_.local_now() : platform::LocalTime{};
    {
      std::lock_guard lock(mu_);
      // The new position and the new baseline under one hold of the lock: a
      // tick between the two would subtract the old interface's reading from
      // the new one's.
      if (position) selected_ = *position;
      snap_.description.clear();
      identified_description_.clear();
      state_ = InterfaceState::Unidentified;
      mark_restart_locked(mode, wall);
      // The capture clock restarts under the lock, so no tick can measure the
      // new totals against the old start.
      reset_sampling_locked(clock_.tick_ms());
    }
    reload_settings();
  }
  if (restart_listener_) restart_listener_(mode);
}

void TrafficMonitor::reset_sampling_locked(std::uint32_t now) {
  for (Direction* d : {&send_, &recv_}) {
    d->counters.clear();
    d->speeds.clear();
    d->ring.fill(0);
    d->latest_window = d->latest = d->smoothed = 0;
    d->capture = 0;
    d->previous = d->current = 0;
    d->samples = 0;
  }
  ring_index_ = 0;
  max_send_ = max_recv_ = 0;
  marks_.fill(PeriodMark{});
  capture_start_ = now;
  capture_wraps_ms_ = 0;
  capture_last_elapsed_ = 0;
  last_activity_ = now;
}

// ---------------------------------------------------------------------------
// Interface state and automatic reset

InterfaceState TrafficMonitor::interface_state() const {
  std::lock_guard lock(mu_);
  return state_;
}

bool TrafficMonitor::auto_reset_enabled() const {
  std::lock_guard lock(mu_);
  return auto_reset_;
}

std::uint32_t TrafficMonitor::auto_reset_seconds() const {
  std::lock_guard lock(mu_);
  return auto_reset_seconds_;
}

std::optional<std::uint32_t> TrafficMonitor::auto_reset_tick() {
  std::uint32_t limit;
  bool enabled;
  {
    std::lock_guard lock(mu_);
    if (state_ != InterfaceState::Changed) {
      // A countdown interrupted by a manual restart starts afresh next time.
      countdown_start_.reset();
      countdown_left_.reset();
      return std::nullopt;
    }
    limit = auto_reset_seconds_;
    enabled = auto_reset_;
  }
  const std::uint32_t now = clock_.tick_ms();
  if (!countdown_start_) {
    countdown_start_ = now;
    return countdown_left_ = limit;
  }
  const std::uint32_t elapsed_s = (now - *countdown_start_) / 1000;
  // Due once the countdown has run out, not only on the tick that reads
  // exactly 0: a redraw tick that is late by a second must not skip it.
  if (elapsed_s < limit) return countdown_left_ = limit - elapsed_s;
  countdown_start_.reset();
  countdown_left_ = 0u;
  if (enabled) {
    // The interface may have gone, or others before it: find it again by name.
    enumerate_interfaces();
    choose_again(RestartMode::Full);
  }
  return 0u;
}

std::optional<std::uint32_t> TrafficMonitor::auto_reset_countdown() const { return countdown_left_; }

// ---------------------------------------------------------------------------
// Readers

TrafficFigures TrafficMonitor::figures_locked() const {
  TrafficFigures f;
  f.capture_ms = capture_ms_locked();
  f.capture_start_ms = capture_start_;
  f.last_activity_ms = last_activity_;
  f.capture_send = send_.capture;
  f.capture_recv = recv_.capture;
  f.gross_send = send_.gross;
  f.gross_recv = recv_.gross;
  f.latest_send = send_.latest;
  f.latest_recv = recv_.latest;
  f.smoothed_send = send_.smoothed;
  f.smoothed_recv = recv_.smoothed;
  f.max_send = max_send_;
  f.max_recv = max_recv_;
  f.send_counter = send_.current;
  f.recv_counter = recv_.current;
  f.state = state_;
  return f;
}

TrafficFigures TrafficMonitor::figures() const {
  std::lock_guard lock(mu_);
  return figures_locked();
}

InterfaceSnapshot TrafficMonitor::snapshot() const {
  std::lock_guard lock(mu_);
  return snap_;
}

std::vector<std::string> TrafficMonitor::report_list(int list) const {
  if (list < 0 || list >= kReportListCount) return {};
  std::lock_guard lock(mu_);
  return list_locked(list);
}

std::array<std::vector<std::string>, kReportListCount> TrafficMonitor::report_lists() const {
  std::lock_guard lock(mu_);
  std::array<std::vector<std::string>, kReportListCount> out;
  for (int i = 0; i < kReportListCount; ++i) out[static_cast<std::size_t>(i)] = list_locked(i);
  return out;
}

void TrafficMonitor::copy_speed_histories(std::vector<std::uint32_t>& send,
                                          std::vector<std::uint32_t>& recv,
                                          std::size_t max_entries) const {
  std::lock_guard lock(mu_);
  send_.speeds.copy_to(send, max_entries);
  recv_.speeds.copy_to(recv, max_entries);
}

bool TrafficMonitor::double_sampling() const {
  std::lock_guard lock(mu_);
  return double_sampling_;
}

void TrafficMonitor::set_graph_width(int pixels) {
  std::lock_guard lock(mu_);
  graph_width_ = pixels;
  update_maxima_locked();
}

void TrafficMonitor::set_double_sampling(bool on) {
  std::lock_guard lock(mu_);
  double_sampling_ = on;
}

}  // namespace tw::traffic
