// The Traffic Monitor's sampling tick: counters to speeds, maxima and the
// capture clock.
#include "traffic/traffic_monitor.h"

#include <algorithm>
#include <limits>
#include <numeric>

#include "base/format.h"
#include "traffic/graph_logic.h"

namespace tw::traffic {
namespace {

// Length of `s` cut to at most `max` bytes without splitting a UTF-8 sequence.
std::size_t utf8_cut(const std::string& s, std::size_t max) {
  if (s.size() <= max) return s.size();
  std::size_t n = max;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return n;
}

}  // namespace

void TrafficMonitor::tick() {
  bool became_changed = false;
  {
    std::lock_guard lock(mu_);
    const InterfaceState before = state_;
    // Once identified, only that interface's counters count: the source may
    // leave the other rows' counters as they were.
    const Status read = state_ == InterfaceState::Identified ? links_.read_table_for(identified_index_, rows_)
                                                             : links_.read_table(rows_);
    if (read) {
      if (const platform::LinkRow* row = sampled_row_locked())
        read_row_locked(*row);
      else
        // The sampled interface went away (or the position names no row):
        // a change of the table, not a read that failed, so the last speeds
        // must not stay on as if measured.
        enter_changed_locked();
    }
    became_changed = before != InterfaceState::Changed && state_ == InterfaceState::Changed;
    if (state_ != InterfaceState::Changed) {
      compute_speeds_locked();
      report_step_locked();
    }
  }
  if (became_changed && changed_listener_) changed_listener_();
}

const platform::LinkRow* TrafficMonitor::sampled_row_locked() {
  const auto at = [this](int pos) -> const platform::LinkRow* {
    return pos >= 0 && static_cast<std::size_t>(pos) < rows_.size() ? &rows_[static_cast<std::size_t>(pos)]
                                                                       : nullptr;
  };
  if (state_ != InterfaceState::Unidentified) {
    // Once identified, the interface is followed by its kernel index: an
    // interface added or deleted before it moves it to another position of
    // the table, but it is the same interface and its counting goes on.
    if (const platform::LinkRow* row = at(selected_); row && row->index == identified_index_) return row;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
      if (rows_[i].index == identified_index_) {
        selected_ = static_cast<int>(i);
        return &rows_[i];
      }
    }
    // Gone. While Changed the snapshot goes on showing what the position
    // holds, as it always did.
    if (state_ == InterfaceState::Identified) return nullptr;
  }
  return at(selected_);
}

void TrafficMonitor::read_row_locked(const platform::LinkRow& row) {
  // A difference is taken only between two readings of one interface: while
  // Changed the position may hold another interface, whose whole lifetime
  // counter must never land in the totals.
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

std::uint64_t TrafficMonitor::capture_ms_locked() const {
  const std::uint32_t e = clock_.tick_ms() - capture_start_;
  // A reading that is smaller by more than half the range is the clock's wrap,
  // not a clock that went back a little.
  if (e < capture_last_elapsed_ && capture_last_elapsed_ - e > 0x80000000u)
    capture_wraps_ms_ += std::uint64_t{1} << 32;
  capture_last_elapsed_ = e;
  return capture_wraps_ms_ + e;
}

}  // namespace tw::traffic
