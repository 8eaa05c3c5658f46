#include "app/core.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <utility>

#include "shell/main_window_logic.h"
#include "shell/shell_settings.h"

namespace tw::app {

namespace {

using logging::LogKind;
using logging::Marker;

// Longest timer period: a signed 32-bit count of milliseconds.
constexpr std::uint32_t kMaxPeriodMs = 0x7FFFFFFF;

constexpr std::uint32_t clamp_period(std::uint32_t period) {
  return std::clamp<std::uint32_t>(period, 1, kMaxPeriodMs);
}

// a is at or after b on the wrapping 32-bit clock (they are less than 2^31 apart).
constexpr bool reached(std::uint32_t now, std::uint32_t deadline) {
  return static_cast<std::int32_t>(now - deadline) >= 0;
}

// The graph fills the Traffic Monitor page inside the main window's and the
// page's margins of 4 pixels on either side.
constexpr int kGraphHorizontalInset = 16;

}  // namespace

int stored_graph_width(const settings::Profile& profile) {
  int client_width = shell::kDefaultClientWidth;
  std::array<int, 10> list{};
  if (profile.read_placement("Position", list)) {
    // The window is never narrower than its minimum; a garbled rectangle
    // reads as that.
    const PixelRect r = shell::WindowPlacement::from_list(list).normal;
    const std::int64_t w = std::int64_t{r.right} - r.left;
    client_width = static_cast<int>(std::clamp<std::int64_t>(w, shell::kMinClientWidth, 1 << 16));
  }
  return client_width - kGraphHorizontalInset;
}

std::uint32_t log_timer_period_ms(int seconds) {
  constexpr std::int64_t kMaxSeconds = kMaxPeriodMs / 1000;
  const std::int64_t s = std::clamp<std::int64_t>(seconds, 1, kMaxSeconds);
  return static_cast<std::uint32_t>(s * 1000);
}

// ---------------------------------------------------------------------------
// AppCore

AppCore::AppCore(settings::Profile& profile, traffic::TrafficMonitor& traffic,
                 logging::LogEngine& logs, platform::StatusBlock* status, AppCoreOptions options)
    : profile_(profile),
      traffic_(traffic),
      logs_(logs),
      status_(status),
      options_(std::move(options)),
      redraw_period_ms_(traffic.redraw_period_ms()) {
  traffic_.set_graph_width(stored_graph_width(profile_));
}

void AppCore::note(std::string_view text) const {
  if (options_.debug_log) options_.debug_log(text);
}

void AppCore::start() {
  if (started_ || shut_down_) return;
  started_ = true;
  logs_.load_settings();
  traffic_log_.reset_baselines();
  report_period_ms_ = log_timer_period_ms(logs_.block(LogKind::Report).log_cycle_time);
  ++timers_version_;
  if (logs_.block(LogKind::Report).log_check) write_log(LogKind::Report, Marker::Start);
}

std::vector<CoreTimer> AppCore::timers() const {
  std::vector<CoreTimer> t{
      {kTimerStatusBlock, kStatusBlockPeriodMs},
      {kTimerGrossTotals, kGrossTotalsPeriodMs},
      {kTimerTrafficLog, log_timer_period_ms(logs_.block(LogKind::Traffic).log_cycle_time)},
      {kTimerPacketLog, log_timer_period_ms(logs_.block(LogKind::Packet).log_cycle_time)},
      {kTimerSessionLog, log_timer_period_ms(logs_.block(LogKind::Session).log_cycle_time)},
      {kTimerReportLog, report_period_ms_},
  };
  if (options_.drive_auto_reset) t.push_back({kTimerAutoReset, clamp_period(redraw_period_ms_)});
  return t;
}

void AppCore::write_log(LogKind kind, Marker marker) {
  // No Session or Packet Monitor in this program yet: their variables show the
  // "stopped" placeholders and a connection count of 0.
  logging::LogSource* const sources[] = {&traffic_log_};
  logs_.write_entry(kind, marker, sources);
}

void AppCore::on_timer(int id) {
  if (shut_down_) return;
  switch (id) {
    case kTimerStatusBlock:
      // A skipped publish keeps the last record; the next tick writes anew.
      if (status_) (void)status_->publish(traffic_.statistics_record());
      break;
    case kTimerGrossTotals:
      traffic_.save_gross_totals();
      break;
    case kTimerTrafficLog:
    case kTimerPacketLog:
    case kTimerSessionLog:
    case kTimerReportLog: {
      const auto kind = static_cast<LogKind>(id - kTimerTrafficLog);
      if (logs_.block(kind).log_check) write_log(kind, Marker::None);
      break;
    }
    case kTimerAutoReset:
      if (!options_.drive_auto_reset) break;
      traffic_.auto_reset_tick();
      // A restart re-reads the display settings, the redraw period with them.
      if (traffic_.redraw_period_ms() != redraw_period_ms_) {
        redraw_period_ms_ = traffic_.redraw_period_ms();
        ++timers_version_;
      }
      break;
    default:
      break;
  }
}

shell::Command AppCore::handle_command(std::string_view text) {
  const shell::ParsedCommand cmd = shell::parse_command(text);
  if (shut_down_) return cmd.command;
  using traffic::RestartMode;
  switch (cmd.command) {
    case shell::Command::TrafficInit:
      traffic_.restart(RestartMode::Restart);
      break;
    case shell::Command::TrafficTotalInit:
      traffic_.restart(RestartMode::Gross);
      break;
    case shell::Command::TrafficAllInit:
      traffic_.restart(RestartMode::Gross);
      traffic_.restart(RestartMode::Restart);
      break;
    case shell::Command::FilterStart:
    case shell::Command::FilterStop:
    case shell::Command::FilterReload:
    case shell::Command::FilterAdd:
      note("command dropped, there is no packet filter: " + std::string(shell::command_name(cmd.command)));
      break;
    case shell::Command::BlockStart:
    case shell::Command::BlockStop:
      note("command dropped, there is no session monitor: " + std::string(shell::command_name(cmd.command)));
      break;
    case shell::Command::None:
      break;
  }
  return cmd.command;
}

void AppCore::reload_settings() {
  if (shut_down_) return;
  logs_.load_settings();
  traffic_.reload_settings();
  redraw_period_ms_ = traffic_.redraw_period_ms();
  ++timers_version_;
}

void AppCore::suspend() {
  if (shut_down_) return;
  if (logs_.block(LogKind::Report).log_check) write_log(LogKind::Report, Marker::End);
  traffic_.save_gross_totals();
}

void AppCore::shutdown(bool restarting, const ShutdownHooks& hooks) {
  if (shut_down_) return;
  shut_down_ = true;  // no timer tick or command from here on
  if (hooks.window_state) hooks.window_state();
  shell::save_empty_log_root_folder(profile_, logs_.log_root_folder());
  const bool report_on = logs_.block(LogKind::Report).log_check;
  if (!restarting && report_on) write_log(LogKind::Report, Marker::End);
  profile_.write_int("Report", "LogCheck", report_on ? 1 : 0);
  if (hooks.window_placement) hooks.window_placement();
  status_ = nullptr;
  if (hooks.release_status_block) hooks.release_status_block();
  if (!restarting) traffic_.save_gross_totals();
  traffic_.save_interface_choice();
}

// ---------------------------------------------------------------------------
// TimerSchedule

void TimerSchedule::set(int id, std::uint32_t period_ms, std::uint32_t now) {
  const std::uint32_t period = clamp_period(period_ms);
  for (auto& e : timers_) {
    if (e.id == id) {
      e.period = period;
      e.deadline = now + period;
      return;
    }
  }
  timers_.push_back({id, period, now + period});
}

void TimerSchedule::remove(int id) {
  std::erase_if(timers_, [id](const Entry& e) { return e.id == id; });
}

void TimerSchedule::assign(const std::vector<CoreTimer>& wanted, std::uint32_t now) {
  std::erase_if(timers_, [&](const Entry& e) {
    return std::none_of(wanted.begin(), wanted.end(), [&](const CoreTimer& s) { return s.id == e.id; });
  });
  for (const CoreTimer& s : wanted) {
    auto it = std::find_if(timers_.begin(), timers_.end(), [&](const Entry& e) { return e.id == s.id; });
    if (it == timers_.end() || it->period != clamp_period(s.period_ms)) set(s.id, s.period_ms, now);
  }
}

std::optional<std::uint32_t> TimerSchedule::ms_until_next(std::uint32_t now) const {
  std::optional<std::uint32_t> best;
  for (const auto& e : timers_) {
    const std::uint32_t wait = reached(now, e.deadline) ? 0 : e.deadline - now;
    if (!best || wait < *best) best = wait;
  }
  return best;
}

std::vector<int> TimerSchedule::take_due(std::uint32_t now) {
  std::vector<Entry*> due;
  for (auto& e : timers_)
    if (reached(now, e.deadline)) due.push_back(&e);
  // Earliest deadline first: the one that is most overdue.
  std::stable_sort(due.begin(), due.end(), [now](const Entry* a, const Entry* b) {
    return now - a->deadline > now - b->deadline;
  });
  std::vector<int> ids;
  ids.reserve(due.size());
  for (Entry* e : due) {
    ids.push_back(e->id);
    // Skip whole missed periods: the next deadline is the first grid point
    // after now.
    const std::uint32_t late = now - e->deadline;
    e->deadline += (late / e->period + 1) * e->period;
  }
  return ids;
}

}  // namespace tw::app
