#include "traffic/traffic_monitor.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <limits>
#include <numeric>
#include <utility>

#include "base/format.h"
#include "traffic/graph_logic.h"
#include "traffic/sampler_settings.h"

namespace tw::traffic {
namespace {

constexpr const char* kSection = "Traffic";

// Report periods of lists 2..6, in capture seconds.
constexpr std::array<std::uint64_t, 5> kPeriods = {60, 300, 1800, 3600, 86400};

constexpr std::array<const char*, kReportListCount> kHeadersEn = {
    "Instantaneous Transfer speed",
    "Average Transfer speed      ",
    "Transfer amount for each 01 minutes",
    "Transfer amount for each 05 minutes",
    "Transfer amount for each 30 minutes",
    "Transfer amount for each 60 minutes",
    "Transfer amount for each 24 hours  ",
};
constexpr std::array<const char*, kReportListCount> kHeadersJa = {
    "瞬間転送速度",
    "平均転送速度",
    "01分毎の転送量",
    "05分毎の転送量",
    "30分毎の転送量",
    "60分毎の転送量",
    "24時間毎の転送量",
};

// RESTART marks: lists 0 and 1 get the plain form, the amount lists the dated one.
constexpr const char* kRestartSpeedEn = "-----      RESTART       -----";
constexpr const char* kRestartAmountEn = "%s %s  -----        RESTART       -----";
constexpr const char* kRestartSpeedJa = "-----     リスタート     -----";
constexpr const char* kRestartAmountJa = "%s %s  -----       リスタート      -----";

// Transfer information labels. The Japanese ones are padded to the same
// column width (a full-width character takes two columns).
struct InfoTexts {
  const char* capture_time;
  const char* total_send;
  const char* total_recv;
  const char* average_send;
  const char* average_recv;
  const char* separator;
};
constexpr InfoTexts kInfoEn{
    "Capture Time           ", "Total Upload    (Gross)", "Total Download  (Gross)",
    "Average Send speed     ", "Average Received speed ",
    "------------------------------------------------------"};
constexpr InfoTexts kInfoJa{
    "計測時間               ", "総送信量         (累計)", "総受信量         (累計)",
    "平均送信速度           ", "平均受信速度           ",
    "－－－－－－－－－－－－－－－－－－－－－－－－－－－"};

// "%Y/%m/%d" and "%H:%M:%S" of a broken-down time.
void date_time(const platform::LocalTime& t, char (&date)[32], char (&time)[32]) {
  std::snprintf(date, sizeof date, "%04d/%02d/%02d", t.year, t.month, t.day);
  std::snprintf(time, sizeof time, "%02d:%02d:%02d", t.hour, t.minute, t.second);
}

// A period line: the bytes since the period's mark, in KB, or in MB once
// either direction reaches 1,048,576 KB. The amounts are kept in 64 bits: a
// fast link moves more than 2^31 KB in a day.
void format_period_line(char* out, std::size_t size, const platform::LocalTime& t,
                        std::uint64_t send_bytes, std::uint64_t recv_bytes) {
  char date[32], time[32];
  date_time(t, date, time);
  std::int64_t s = static_cast<std::int64_t>(send_bytes >> 10);
  std::int64_t r = static_cast<std::int64_t>(recv_bytes >> 10);
  const char* fmt = "%s %s  S:%10s KB  R:%10s KB";
  if (s >= 1048576 || r >= 1048576) {
    s /= 1024;
    r /= 1024;
    fmt = "%s %s  S:%10s MB  R:%10s MB";
  }
  const std::string gs = grouped_int64(s), gr = grouped_int64(r);
  std::snprintf(out, size, fmt, date, time, gs.c_str(), gr.c_str());
}

// Length of `s` cut to at most `max` bytes without splitting a UTF-8 sequence.
std::size_t utf8_cut(const std::string& s, std::size_t max) {
  if (s.size() <= max) return s.size();
  std::size_t n = max;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return n;
}

void append_fields(std::string& out, const TotalEncoding& e) {
  char buf[80];
  std::snprintf(buf, sizeof buf, "%" PRId64 ",%" PRId64 ",%" PRId64 ",",
                static_cast<std::int64_t>(e.quotient), static_cast<std::int64_t>(e.divisor),
                static_cast<std::int64_t>(e.remainder));
  out += buf;
}

}  // namespace

// ---------------------------------------------------------------------------
// Totals encoding

TotalEncoding encode_total(std::uint64_t total) {
  TotalEncoding e;
  if (total >= 1024) {
    e.divisor = 1024;
    e.quotient = total / 1024;
    if (e.quotient >= 1024) {
      e.divisor = 1048576;
      e.quotient /= 1024;
    }
    e.remainder = total % e.divisor;
  } else {
    e.quotient = total;
  }
  return e;
}

std::uint64_t decode_total(std::uint32_t q, std::uint32_t b, std::uint32_t d) {
  if (b != 0) return std::uint64_t{q} * b + d;
  return std::uint64_t{q} + d;
}

double capture_average_kb(std::uint64_t total_bytes, std::uint64_t capture_ms) {
  if (capture_ms <= 2500) return 0.0;
  const double v = static_cast<double>(total_bytes >> 10) / (static_cast<double>(capture_ms) * 0.001);
  return v < 0.0 ? 0.0 : v;
}

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

// ---------------------------------------------------------------------------
// Sampling tick

void TrafficMonitor::tick() {
  std::lock_guard lock(mu_);
  if (links_.read_table(rows_)) {
    if (selected_ >= 0 && static_cast<std::size_t>(selected_) < rows_.size())
      read_row_locked(rows_[static_cast<std::size_t>(selected_)]);
    else
      // No row at the position: the interface went away (or the table shrank
      // since the list was built). That is a change of the table, not a read
      // that failed: the last speeds must not stay on as if measured.
      enter_changed_locked();
  }
  if (state_ == InterfaceState::Changed) return;
  compute_speeds_locked();
  report_step_locked();
}

void TrafficMonitor::read_row_locked(const platform::LinkRow& row) {
  // A difference is taken only between two readings of one interface: when
  // an interface before the selected one goes away, the next one moves into
  // the position, and its whole lifetime counter must not land in the totals.
  const bool same_interface = state_ == InterfaceState::Unidentified || row.index == identified_index_;
  const bool count = state_ != InterfaceState::Changed && same_interface;
  for (auto [d, reading] : {std::pair{&send_, row.out_octets}, std::pair{&recv_, row.in_octets}}) {
    if (d->counters.size() >= kCounterHistoryTrim)
      d->counters.erase(d->counters.begin(), d->counters.end() - static_cast<std::ptrdiff_t>(kSpeedWindow));
    d->counters.push_back(static_cast<std::uint32_t>(reading));
    d->current = reading;
    // The first three readings after a restart only set the baseline. A
    // negative difference (counter reset or interface re-created) is dropped.
    if (d->samples > 2 && count) {
      const auto delta = static_cast<std::int64_t>(d->current - d->previous);
      if (delta >= 0) {
        d->capture += static_cast<std::uint64_t>(delta);
        d->gross += static_cast<std::uint64_t>(delta);
      }
    }
    d->previous = d->current;
    ++d->samples;
  }

  // Snapshot; assign() reuses the reserved buffer.
  snap_.description.assign(row.name, 0, utf8_cut(row.name, 1023));
  snap_.oper_status = row.oper_status;
  snap_.phys_addr_len = row.phys_addr_len;
  snap_.link_speed_bps = row.speed_bps;
  snap_.out_ucast_pkts = row.out_ucast_pkts;
  snap_.out_nucast_pkts = row.out_nucast_pkts;
  snap_.in_ucast_pkts = row.in_ucast_pkts;
  snap_.in_nucast_pkts = row.in_nucast_pkts;

  // Identity: a different description, operational status or address length
  // at the selected position means the numbers no longer belong together.
  if (state_ == InterfaceState::Unidentified) {
    identified_description_ = snap_.description;
    identified_index_ = row.index;
    identified_oper_status_ = snap_.oper_status;
    identified_phys_addr_len_ = snap_.phys_addr_len;
    state_ = InterfaceState::Identified;
  } else if (!same_interface || snap_.description != identified_description_ ||
             snap_.oper_status != identified_oper_status_ ||
             snap_.phys_addr_len != identified_phys_addr_len_) {
    enter_changed_locked();
  }
}

void TrafficMonitor::enter_changed_locked() {
  if (state_ == InterfaceState::Changed) return;
  state_ = InterfaceState::Changed;
  // Nothing is measured until the restart: the speeds read 0 rather than
  // repeat the last ones (the histories, and with them the graph's bars and
  // maxima, stand still).
  for (Direction* d : {&send_, &recv_}) d->latest = d->smoothed = 0;
}

void TrafficMonitor::update_maxima_locked() {
  const std::size_t n = max_scan_index(graph_width_, max_line_time_) + 1;
  max_send_ = send_.speeds.max_of_newest(n);
  max_recv_ = recv_.speeds.max_of_newest(n);
}

void TrafficMonitor::compute_speeds_locked() {
  for (Direction* d : {&send_, &recv_}) {
    const std::size_t n = d->counters.size();
    if (n > kSpeedWindow) {
      // Difference over 23 periods, modulo 2^32 so that one wrap of a 32-bit
      // counter inside the window still gives the bytes that passed.
      const std::uint32_t diff = d->counters[n - 1] - d->counters[n - kSpeedWindow];
      d->ring[ring_index_] = diff;
      d->latest_window = diff;
    }
    std::int64_t window = std::accumulate(d->ring.begin(), d->ring.end(), std::int64_t{0}) /
                          static_cast<std::int64_t>(kSpeedWindow);
    if (!double_sampling_) window = d->latest_window;
    d->smoothed = static_cast<std::int64_t>(static_cast<double>(window) / speed_divisor_);
    d->latest = static_cast<std::int64_t>(static_cast<double>(d->latest_window) / speed_divisor_);
  }
  ring_index_ = (ring_index_ + 1) % kSpeedWindow;
  send_.speeds.push_front(static_cast<std::uint32_t>(send_.smoothed));
  recv_.speeds.push_front(static_cast<std::uint32_t>(recv_.smoothed));
  update_maxima_locked();
  if (send_.latest > 0 || recv_.latest > 0) last_activity_ = clock_.tick_ms();
}

void TrafficMonitor::report_step_locked() {
  const std::uint64_t s = capture_ms_locked() / 1000;
  char line[160];
  std::snprintf(line, sizeof line, "S:%8.1fKB/s  R:%8.1fKB/s", static_cast<double>(send_.latest) / 1024.0,
                static_cast<double>(recv_.latest) / 1024.0);
  insert_line_locked(0, line);
  std::snprintf(line, sizeof line, "S:%8.1fKB/s  R:%8.1fKB/s",
                static_cast<double>(send_.smoothed) / 1024.0, static_cast<double>(recv_.smoothed) / 1024.0);
  insert_line_locked(1, line);

  // One line per period boundary of the capture time; several ticks fall in
  // the same second, the mark's second keeps it to one. Nothing at second 0.
  bool have_time = false;
  platform::LocalTime now{};
  for (std::size_t i = 0; i < kPeriods.size(); ++i) {
    PeriodMark& m = marks_[i];
    if (s % kPeriods[i] != 0 || m.second == s) continue;
    if (!have_time) {
      now = clock_.local_now();
      have_time = true;
    }
    format_period_line(line, sizeof line, now, send_.capture - m.send, recv_.capture - m.recv);
    insert_line_locked(static_cast<int>(i) + 2, line);
    m.send = send_.capture;
    m.recv = recv_.capture;
    m.second = s;
  }
}

void TrafficMonitor::insert_line_locked(int list, const char* text) {
  auto& l = lists_[static_cast<std::size_t>(list)];
  if (l.empty()) {
    l.emplace_back(text);
    return;
  }
  if (l.size() >= kReportListMaxEntries) {
    // Full: the oldest line leaves and its string is reused for the new one,
    // so a full list takes no allocation.
    std::rotate(l.begin() + 1, l.end() - 1, l.end());
    l[1].assign(text);
    l.resize(kReportListMaxEntries);
  } else {
    l.emplace(l.begin() + 1, text);
  }
}

std::uint64_t TrafficMonitor::capture_ms_locked() const {
  const std::uint32_t e = clock_.tick_ms() - capture_start_;
  // A reading that is smaller by more than half the range is the clock's wrap,
  // not a clock that went back a little.
  if (e < capture_last_elapsed_ && capture_last_elapsed_ - e > 0x80000000u)
    capture_wraps_ms_ += std::uint64_t{1} << 32;
  capture_last_elapsed_ = e;
  return capture_wraps_ms_ + e;
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
      const auto& headers = pick(lang_, kHeadersEn, kHeadersJa);
      for (int i = 0; i < kReportListCount; ++i) {
        auto& l = lists_[static_cast<std::size_t>(i)];
        if (mode == RestartMode::Full) l.clear();
        if (l.empty())
          l.emplace_back(headers[static_cast<std::size_t>(i)]);
        else
          l[0] = headers[static_cast<std::size_t>(i)];
      }
      if (mode == RestartMode::Restart) {
        char line[160];
        for (std::size_t i = 0; i < kPeriods.size(); ++i) {
          if (lists_[i + 2].size() < 2) continue;
          format_period_line(line, sizeof line, wall, send_.capture - marks_[i].send,
                             recv_.capture - marks_[i].recv);
          insert_line_locked(static_cast<int>(i) + 2, line);
        }
        char date[32], time[32];
        date_time(wall, date, time);
        const char* speed_mark = pick(lang_, kRestartSpeedEn, kRestartSpeedJa);
        insert_line_locked(0, speed_mark);
        insert_line_locked(1, speed_mark);
        std::snprintf(line, sizeof line, pick(lang_, kRestartAmountEn, kRestartAmountJa), date, time);
        for (int i = 2; i < kReportListCount; ++i) insert_line_locked(i, line);
      }
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

void TrafficMonitor::load_gross_totals() {
  auto rd = [&](const char* key) { return static_cast<std::uint32_t>(profile_.read_int(kSection, key, 0)); };
  const std::uint64_t send = decode_total(rd("TotalSend"), rd("TotalSendB"), rd("TotalSendD"));
  const std::uint64_t recv = decode_total(rd("TotalRecv"), rd("TotalRecvB"), rd("TotalRecvD"));
  std::lock_guard lock(mu_);
  send_.gross = send;
  recv_.gross = recv;
}

void TrafficMonitor::save_gross_totals() {
  std::uint64_t send, recv;
  {
    std::lock_guard lock(mu_);
    send = send_.gross;
    recv = recv_.gross;
  }
  // The file holds 32-bit fields: beyond (2^32 - 1) MB (4 PB) the stored total
  // stays at the largest value it can express instead of wrapping to a small one.
  auto stored = [](std::uint64_t total) {
    TotalEncoding e = encode_total(total);
    if (e.quotient > std::numeric_limits<std::uint32_t>::max()) {
      e.quotient = std::numeric_limits<std::uint32_t>::max();
      e.remainder = e.divisor - 1;
    }
    return e;
  };
  const TotalEncoding s = stored(send), r = stored(recv);
  // Values of 2^31 and above are written as negative "%d" numbers; reading
  // them back as unsigned 32-bit restores them.
  auto wr = [&](const char* key, std::uint64_t v) {
    profile_.write_int(kSection, key, static_cast<int>(static_cast<std::uint32_t>(v)));
  };
  wr("TotalSend", s.quotient);
  wr("TotalRecv", r.quotient);
  wr("TotalSendB", s.divisor);
  wr("TotalRecvB", r.divisor);
  wr("TotalSendD", s.remainder);
  wr("TotalRecvD", r.remainder);
}

// ---------------------------------------------------------------------------
// Interface choice

std::vector<std::string> TrafficMonitor::enumerate_interfaces() {
  names_.clear();
  {
    std::lock_guard lock(mu_);
    if (links_.read_table(enum_rows_)) {
      names_.reserve(enum_rows_.size());
      for (const auto& row : enum_rows_) names_.push_back(row.name);
    }
  }
  return names_;
}

void TrafficMonitor::select_interface(int position) {
  if (position >= 0 && static_cast<std::size_t>(position) < names_.size())
    chosen_name_ = names_[static_cast<std::size_t>(position)];
  restart_at(RestartMode::Restart, position);
}

int TrafficMonitor::choose_again(RestartMode mode) {
  int pos = selected_interface();
  if (!names_.empty()) {
    pos = choose_interface(names_, pos, chosen_name_);
    if (!chosen_name_.empty() && names_[static_cast<std::size_t>(pos)] != chosen_name_) {
      std::optional<std::uint32_t> route;
      {
        std::lock_guard lock(mu_);  // the link source serves one caller at a time
        route = links_.default_route_index();
      }
      pos = default_interface(enum_rows_, route);
    }
  }
  restart_at(mode, pos);
  return pos;
}

int TrafficMonitor::selected_interface() const {
  std::lock_guard lock(mu_);
  return selected_;
}

int TrafficMonitor::choose_interface(const std::vector<std::string>& names, int stored_position,
                                     const std::string& stored_name) {
  const int count = static_cast<int>(names.size());
  if (count == 0) return 0;
  int pos = (stored_position >= 1 && stored_position <= count - 1) ? stored_position : 0;
  // Two interfaces with the same name: the first one in table order wins.
  const auto first_named = [&](const std::string& name) {
    return static_cast<int>(std::find(names.begin(), names.end(), name) - names.begin());
  };
  pos = first_named(names[static_cast<std::size_t>(pos)]);
  if (!stored_name.empty() && stored_name != names[static_cast<std::size_t>(pos)]) {
    const int named = first_named(stored_name);
    if (named < count) pos = named;
  }
  return pos;
}

int TrafficMonitor::default_interface(const std::vector<platform::LinkRow>& rows,
                                      std::optional<std::uint32_t> route_index) {
  const int count = static_cast<int>(rows.size());
  if (route_index) {
    for (int i = 0; i < count; ++i)
      if (rows[static_cast<std::size_t>(i)].index == *route_index) return i;
  }
  for (int i = 0; i < count; ++i) {
    const platform::LinkRow& r = rows[static_cast<std::size_t>(i)];
    if (r.oper_status == platform::kOperStatusUp && r.type != platform::kIfTypeLoopback) return i;
  }
  return 0;
}

int TrafficMonitor::start_with_stored_interface() {
  enumerate_interfaces();
  const int stored_position = profile_.read_int("Settings", "Interface", 0);
  const std::string stored_name = profile_.read_string("Settings", "InterfaceName", "");
  const int count = static_cast<int>(names_.size());
  int pos;
  if (stored_name.empty() && (stored_position < 1 || stored_position >= count) && count > 0) {
    // Nothing stored (a first start): position 0 is usually the loopback
    // interface, which would show a new user nothing of the network.
    std::optional<std::uint32_t> route;
    {
      std::lock_guard lock(mu_);
      route = links_.default_route_index();
    }
    pos = default_interface(enum_rows_, route);
  } else {
    pos = choose_interface(names_, stored_position, stored_name);
  }
  // A stored name is kept even while no interface carries it.
  chosen_name_ = stored_name;
  if (chosen_name_.empty() && pos < count) chosen_name_ = names_[static_cast<std::size_t>(pos)];
  restart_at(RestartMode::Restart, pos);
  load_gross_totals();
  return pos;
}

void TrafficMonitor::save_interface_choice() {
  const int pos = selected_interface();
  profile_.write_int("Settings", "Interface", pos);
  if (!chosen_name_.empty())
    profile_.write_string("Settings", "InterfaceName", chosen_name_);
  else if (pos >= 0 && static_cast<std::size_t>(pos) < names_.size())
    profile_.write_string("Settings", "InterfaceName", names_[static_cast<std::size_t>(pos)]);
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

StatisticsTexts TrafficMonitor::statistics_texts() const {
  TrafficFigures f;
  int max_unit, ave_unit, ext_unit;
  {
    std::lock_guard lock(mu_);
    f = figures_locked();
    max_unit = max_unit_;
    ave_unit = ave_unit_;
    ext_unit = ext_unit_;
  }
  StatisticsTexts t;
  t.capture_time = duration_text(f.capture_ms, lang_);
  t.total_send = byte_amount_text(static_cast<std::int64_t>(f.capture_send));
  t.total_recv = byte_amount_text(static_cast<std::int64_t>(f.capture_recv));
  t.gross_send = byte_amount_text(static_cast<std::int64_t>(f.gross_send));
  t.gross_recv = byte_amount_text(static_cast<std::int64_t>(f.gross_recv));
  t.average_send = speed_text(capture_average_kb(f.capture_send, f.capture_ms), ext_unit);
  t.average_recv = speed_text(capture_average_kb(f.capture_recv, f.capture_ms), ext_unit);
  t.smoothed_send = speed_text(static_cast<double>(f.smoothed_send) / 1024.0, ave_unit);
  t.smoothed_recv = speed_text(static_cast<double>(f.smoothed_recv) / 1024.0, ave_unit);
  t.max_send = speed_text(static_cast<double>(f.max_send) / 1024.0, max_unit);
  t.max_recv = speed_text(static_cast<double>(f.max_recv) / 1024.0, max_unit);
  t.capture_send = f.capture_send;
  t.capture_recv = f.capture_recv;
  return t;
}

std::string TrafficMonitor::statistics_record() const {
  TrafficFigures f;
  {
    std::lock_guard lock(mu_);
    f = figures_locked();
  }
  std::string out;
  out.reserve(384);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%" PRId64 ",", static_cast<std::int64_t>(f.capture_ms / 1000));
  out += buf;
  append_fields(out, encode_total(f.capture_send));
  append_fields(out, encode_total(f.capture_recv));
  append_fields(out, encode_total(f.gross_send));
  append_fields(out, encode_total(f.gross_recv));
  std::snprintf(buf, sizeof buf, "%" PRId64 ",%" PRId64 ",", f.smoothed_send, f.smoothed_recv);
  out += buf;
  return out;
}

std::string TrafficMonitor::transfer_information_text() const {
  TrafficFigures f;
  int ext_unit;
  {
    std::lock_guard lock(mu_);
    f = figures_locked();
    ext_unit = ext_unit_;
  }
  const InfoTexts& w = pick(lang_, kInfoEn, kInfoJa);
  const std::string sep = std::string(w.separator) + "\r\n";
  auto totals = [](const char* label, std::uint64_t capture, std::uint64_t gross) {
    return std::string(label) + "    " + byte_amount_text(static_cast<std::int64_t>(capture)) + " (" +
           byte_amount_text(static_cast<std::int64_t>(gross)) + ")\r\n";
  };
  std::string out;
  out += duration_text(w.capture_time, f.capture_ms, lang_) + "\r\n";
  out += sep;
  out += totals(w.total_send, f.capture_send, f.gross_send);
  out += totals(w.total_recv, f.capture_recv, f.gross_recv);
  out += sep;
  out += speed_text(w.average_send, capture_average_kb(f.capture_send, f.capture_ms), ext_unit) + "\r\n";
  out += speed_text(w.average_recv, capture_average_kb(f.capture_recv, f.capture_ms), ext_unit) + "\r\n";
  out += sep;
  return out;
}

std::vector<std::string> TrafficMonitor::report_list(int list) const {
  if (list < 0 || list >= kReportListCount) return {};
  std::lock_guard lock(mu_);
  return lists_[static_cast<std::size_t>(list)];
}

std::array<std::vector<std::string>, kReportListCount> TrafficMonitor::report_lists() const {
  std::lock_guard lock(mu_);
  return lists_;
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
