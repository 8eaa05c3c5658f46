// The Traffic Monitor's report lists: the per-tick lines, the period lines
// and the marks a restart leaves in them.
#include "traffic/traffic_monitor.h"

#include <cstdio>

#include "base/format.h"

namespace tw::traffic {
namespace {

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

// A line of the speed lists: send and receive speeds in KB/s.
std::string speed_text(std::int64_t send, std::int64_t recv) {
  char line[64];
  std::snprintf(line, sizeof line, "S:%8.1fKB/s  R:%8.1fKB/s", static_cast<double>(send) / 1024.0,
                static_cast<double>(recv) / 1024.0);
  return line;
}

}  // namespace

void TrafficMonitor::report_step_locked() {
  const std::uint64_t s = capture_ms_locked() / 1000;
  char line[160];
  insert_speed_locked(0, {send_.latest, recv_.latest, {}});
  insert_speed_locked(1, {send_.smoothed, recv_.smoothed, {}});

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

void TrafficMonitor::insert_speed_locked(int list, SpeedLine line) {
  auto& l = lists_[static_cast<std::size_t>(list)];
  if (l.empty()) {
    // No header yet: the line takes its place, as in the other lists.
    l.push_back(line.text.empty() ? speed_text(line.send, line.recv) : std::move(line.text));
    return;
  }
  // Under the header: one line fewer than the list holds.
  constexpr std::size_t kLines = kReportListMaxEntries - 1;
  SpeedLines& lines = speed_lines_[static_cast<std::size_t>(list)];
  if (lines.ring.size() < kLines) {
    lines.ring.push_back(std::move(line));
  } else {
    SpeedLine& slot = lines.ring[lines.next];
    slot.send = line.send;
    slot.recv = line.recv;
    slot.text.assign(line.text);
  }
  lines.next = (lines.next + 1) % kLines;
}

std::vector<std::string> TrafficMonitor::list_locked(int list) const {
  std::vector<std::string> out = lists_[static_cast<std::size_t>(list)];
  if (list >= 2) return out;
  const std::vector<SpeedLine>& ring = speed_lines_[static_cast<std::size_t>(list)].ring;
  const std::size_t n = ring.size();
  const std::size_t next = speed_lines_[static_cast<std::size_t>(list)].next;
  out.reserve(out.size() + n);
  // Newest first: the slot before `next`, backwards round the ring.
  for (std::size_t k = 0; k < n; ++k) {
    const SpeedLine& l = ring[(next + 2 * n - 1 - k) % n];
    if (l.text.empty()) l.text = speed_text(l.send, l.recv);
    out.push_back(l.text);
  }
  return out;
}

void TrafficMonitor::insert_line_locked(int list, const char* text) {
  if (list < 2) {
    insert_speed_locked(list, {0, 0, text});
    return;
  }
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

// Every list gets its header back (a full restart empties the lists first);
// a restart of the counters also closes the running periods and marks the
// break in every list.
void TrafficMonitor::mark_restart_locked(RestartMode mode, const platform::LocalTime& wall) {
  const auto& headers = pick(lang_, kHeadersEn, kHeadersJa);
  for (int i = 0; i < kReportListCount; ++i) {
    auto& l = lists_[static_cast<std::size_t>(i)];
    if (mode == RestartMode::Full) {
      l.clear();
      if (i < 2) speed_lines_[static_cast<std::size_t>(i)] = SpeedLines{};
    }
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
}

}  // namespace tw::traffic
