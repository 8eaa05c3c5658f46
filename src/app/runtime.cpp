#include "app/runtime.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

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

// The part of the program a command is meant for, for the note when nothing
// here answers it.
std::string_view addressee(shell::Command c) {
  switch (c) {
    case shell::Command::FilterStart:
    case shell::Command::FilterStop:
    case shell::Command::FilterReload:
    case shell::Command::FilterAdd:
      return "packet filter";
    case shell::Command::BlockStart:
    case shell::Command::BlockStop:
      return "session monitor";
    default:
      return "traffic monitor";
  }
}

}  // namespace

std::uint32_t log_timer_period_ms(int seconds) {
  constexpr std::int64_t kMaxSeconds = kMaxPeriodMs / 1000;
  const std::int64_t s = std::clamp<std::int64_t>(seconds, 1, kMaxSeconds);
  return static_cast<std::uint32_t>(s * 1000);
}

// ---------------------------------------------------------------------------
// Runtime

Runtime::Runtime(settings::Profile& profile, logging::LogEngine& logs, RuntimeOptions options)
    : profile_(profile), logs_(logs), options_(std::move(options)) {
  auto log_timer = [this](int id, LogKind kind) {
    add_timer(
        id, [this, kind] { return log_timer_period_ms(logs_.block(kind).log_cycle_time); },
        [this, kind] {
          if (logs_.block(kind).log_check) write_log(kind, Marker::None);
        });
  };
  log_timer(kTimerTrafficLog, LogKind::Traffic);
  log_timer(kTimerPacketLog, LogKind::Packet);
  log_timer(kTimerSessionLog, LogKind::Session);
  // The Report log keeps the period it started with.
  add_timer(
      kTimerReportLog, [this] { return report_period_ms_; },
      [this] {
        if (logs_.block(LogKind::Report).log_check) write_log(LogKind::Report, Marker::None);
      });
  add_shutdown_step(shutdown_step::kLogs, [this](bool restarting) { end_logs(restarting); });
  add_shutdown_step(shutdown_step::kReleaseStatusBlock, [this](bool) { status_ = nullptr; });
}

void Runtime::note(std::string_view text) const {
  if (options_.debug_log) options_.debug_log(text);
}

void Runtime::add_timer(int id, std::function<std::uint32_t()> period, std::function<void()> tick,
                        std::function<bool()> armed) {
  Timer timer{id, std::move(period), std::move(tick), std::move(armed)};
  auto it = std::find_if(timers_.begin(), timers_.end(), [id](const Timer& t) { return t.id == id; });
  if (it != timers_.end()) {
    *it = std::move(timer);
  } else {
    // Kept by id: ticks due at the same instant run in the order of their numbers.
    it = std::find_if(timers_.begin(), timers_.end(), [id](const Timer& t) { return t.id > id; });
    timers_.insert(it, std::move(timer));
  }
  timers_changed();
}

void Runtime::add_command(shell::Command command, std::function<void(const shell::ParsedCommand&)> handler) {
  add_command_replying(command, [handler = std::move(handler)](const shell::ParsedCommand& c) {
    handler(c);
    return shell::CommandReply{};
  });
}

void Runtime::add_command_replying(shell::Command command,
                                   std::function<shell::CommandReply(const shell::ParsedCommand&)> handler) {
  for (auto& [c, h] : commands_) {
    if (c == command) {
      h = std::move(handler);
      return;
    }
  }
  commands_.emplace_back(command, std::move(handler));
}

void Runtime::add_log_source(logging::LogSource& source) { log_sources_.push_back(&source); }

void Runtime::add_shutdown_step(int place, std::function<void(bool)> step) {
  // After every step of the same or an earlier place: equal places keep the
  // order they were added in.
  auto it = std::upper_bound(shutdown_steps_.begin(), shutdown_steps_.end(), place,
                             [](int p, const Step& s) { return p < s.place; });
  shutdown_steps_.insert(it, {place, std::move(step)});
}

void Runtime::add_suspend_step(std::function<void()> step) { suspend_steps_.push_back(std::move(step)); }
void Runtime::add_reload_step(std::function<void()> step) { reload_steps_.push_back(std::move(step)); }

void Runtime::set_status_block(platform::StatusBlock* block, std::function<void()> release) {
  status_ = block;
  if (release) add_shutdown_step(shutdown_step::kReleaseStatusBlock, [release = std::move(release)](bool) { release(); });
}

void Runtime::timers_changed() {
  schedule_dirty_ = true;
  if (schedule_listener_ && started_ && !shut_down_) schedule_listener_();
}

void Runtime::start() {
  if (started_ || shut_down_) return;
  started_ = true;
  logs_.load_settings();
  report_period_ms_ = log_timer_period_ms(logs_.block(LogKind::Report).log_cycle_time);
  if (logs_.block(LogKind::Report).log_check) write_log(LogKind::Report, Marker::Start);
  timers_changed();
}

std::vector<TimerEntry> Runtime::timers() const {
  std::vector<TimerEntry> out;
  out.reserve(timers_.size());
  for (const Timer& t : timers_)
    if (!t.armed || t.armed()) out.push_back({t.id, clamp_period(t.period())});
  return out;
}

void Runtime::set_wake(int fd, std::function<void()> on_readable) {
  wake_fd_ = fd;
  on_wake_ = std::move(on_readable);
}

void Runtime::handle_wake() {
  if (on_wake_) on_wake_();
}

void Runtime::rearm_if_changed(std::uint32_t now) {
  if (!schedule_dirty_) return;
  schedule_dirty_ = false;
  schedule_.assign(timers(), now);
}

std::optional<std::uint32_t> Runtime::ms_until_next(std::uint32_t now) {
  if (!started_ || shut_down_) return std::nullopt;
  rearm_if_changed(now);
  return schedule_.ms_until_next(now);
}

void Runtime::run_due(std::uint32_t now) {
  if (!started_ || shut_down_) return;
  rearm_if_changed(now);
  for (int id : schedule_.take_due(now)) fire_timer(id);
  // A tick may have moved a period (the redraw period after a restart).
  rearm_if_changed(now);
}

void Runtime::fire_timer(int id) {
  if (shut_down_) return;
  for (const Timer& t : timers_) {
    if (t.id == id) {
      t.tick();
      return;
    }
  }
}

void Runtime::write_log(LogKind kind, Marker marker) {
  logs_.write_entry(kind, marker, log_sources_);
}

shell::Command Runtime::handle_command(std::string_view text) {
  shell::Command recognised = shell::Command::None;
  (void)dispatch(text, recognised);
  return recognised;
}

shell::CommandReply Runtime::answer_command(std::string_view text) {
  shell::Command recognised = shell::Command::None;
  return dispatch(text, recognised);
}

shell::CommandReply Runtime::dispatch(std::string_view text, shell::Command& recognised) {
  const shell::ParsedCommand cmd = shell::parse_command(text);
  recognised = cmd.command;
  if (shut_down_) return {shell::ReplyStatus::Ignored, "the instance is ending"};
  if (cmd.command == shell::Command::None) return {shell::ReplyStatus::Ignored, "not a command"};
  for (const auto& [c, handler] : commands_)
    if (c == cmd.command) return handler(cmd);
  const std::string why = "there is no " + std::string(addressee(cmd.command));
  note("command dropped, " + why + ": " + std::string(shell::command_name(cmd.command)));
  return {shell::ReplyStatus::Ignored, why};
}

void Runtime::reload_settings() {
  if (shut_down_) return;
  logs_.load_settings();
  for (const auto& step : reload_steps_) step();
  timers_changed();
}

void Runtime::suspend() {
  if (shut_down_) return;
  if (logs_.block(LogKind::Report).log_check) write_log(LogKind::Report, Marker::End);
  for (const auto& step : suspend_steps_) step();
}

void Runtime::start_new_report() {
  if (!started_ || shut_down_) return;
  if (logs_.block(LogKind::Report).log_check) write_log(LogKind::Report, Marker::Start);
  // Dropped from the schedule, the timer is armed again from the next
  // "now" the driver passes.
  schedule_.remove(kTimerReportLog);
  timers_changed();
}

void Runtime::end_logs(bool restarting) {
  shell::save_empty_log_root_folder(profile_, logs_.log_root_folder());
  const bool report_on = logs_.block(LogKind::Report).log_check;
  if (!restarting && report_on) write_log(LogKind::Report, Marker::End);
  logging::save_log_check(profile_, LogKind::Report, report_on);
}

void Runtime::shutdown(bool restarting) {
  if (shut_down_) return;
  shut_down_ = true;  // no timer tick or command from here on
  schedule_.clear();
  for (const Step& step : shutdown_steps_) step.run(restarting);
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

void TimerSchedule::assign(const std::vector<TimerEntry>& wanted, std::uint32_t now) {
  std::erase_if(timers_, [&](const Entry& e) {
    return std::none_of(wanted.begin(), wanted.end(), [&](const TimerEntry& s) { return s.id == e.id; });
  });
  for (const TimerEntry& s : wanted) {
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
