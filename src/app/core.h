#pragma once
// The part of the program that has no window: the periodic work of the main
// loop (status block, gross totals, the four logs, the automatic interface
// reset at the graph's redraw period), the command channel's effects, and the
// start and shut-down steps that concern the monitors, the logs and the
// settings. tarnixd drives it from its poll loop; the desktop program drives
// the same timers with QTimer and adds its window keys through ShutdownHooks.
//
// Ownership: AppCore owns none of the objects it is given; they must outlive
// it. The status block may be absent (it could not be created): publishing is
// then skipped.
//
// Threads: every member is called from the main thread, the one that owns the
// settings. Only TrafficMonitor::tick() runs elsewhere (the sampler thread),
// and the TrafficMonitor guards itself.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "shell/commands.h"
#include "logging/log_engine.h"
#include "platform/status_block.h"
#include "settings/profile.h"
#include "traffic/traffic_log_source.h"
#include "traffic/traffic_monitor.h"

namespace tw::app {

// Timer identifiers. They are the main window's timer numbers, so both
// programs and their logs speak of the same timers.
inline constexpr int kTimerStatusBlock = 3;   // publish the statistics record, 200 ms
inline constexpr int kTimerGrossTotals = 4;   // save the gross totals, 60 s
inline constexpr int kTimerTrafficLog = 10;   // "Traffic"/"LogCycleTime" s
inline constexpr int kTimerPacketLog = 11;    // "Surveil"/"LogCycleTime" s
inline constexpr int kTimerSessionLog = 12;   // "Session"/"LogCycleTime" s
inline constexpr int kTimerReportLog = 13;    // "Report"/"LogCycleTime" s, fixed at start()
inline constexpr int kTimerAutoReset = 14;    // redraw period, automatic interface reset

inline constexpr std::uint32_t kStatusBlockPeriodMs = 200;
inline constexpr std::uint32_t kGrossTotalsPeriodMs = 60000;

struct CoreTimer {
  int id = 0;
  std::uint32_t period_ms = 0;
  bool operator==(const CoreTimer&) const = default;
};

// The period of a log timer for a "LogCycleTime" in seconds. The options page
// only stores 1..3600, but the file may hold anything: a zero or negative
// value would make a timer that fires continuously (or never), so it counts as
// 1 s, and values are capped so that the period fits a signed 32-bit count of
// milliseconds (about 24.8 days), the longest a window timer takes.
std::uint32_t log_timer_period_ms(int log_cycle_time_seconds);

// Optional work the caller adds to the shut-down, each run at its place in the
// sequence. The desktop program writes its window keys here; tarnixd uses
// only release_status_block.
struct ShutdownHooks {
  // Before anything else is written: "TabCurSel", "MainWindow", "NotifyIcon",
  // "Session"/"SplitSize", then the tray icon is removed.
  std::function<void()> window_state;
  // After "Report"/"LogCheck": "IsZoomed" and "Position".
  std::function<void()> window_placement;
  // The owner unmaps the status block here; AppCore stops using it before.
  std::function<void()> release_status_block;
};

// The width of the traffic graph in a main window of the stored size
// ("Settings"/"Position"), or of the default size when none is stored: the
// span of the maximum speeds in a program that shows no graph.
int stored_graph_width(const settings::Profile& profile);

struct AppCoreOptions {
  // The automatic reset after the sampled interface changed runs on timer
  // kTimerAutoReset at the graph's redraw period, in both programs, whether
  // or not a graph is shown. Tests of other timers may leave it out.
  bool drive_auto_reset = true;
  // Notes for a debug log (dropped commands and the like). May be empty.
  std::function<void(std::string_view)> debug_log;
};

class AppCore {
 public:
  // Gives the monitor the span of its maxima for the stored window size; a
  // graph created later passes its own width.
  AppCore(settings::Profile& profile, traffic::TrafficMonitor& traffic, logging::LogEngine& logs,
          platform::StatusBlock* status, AppCoreOptions options = {});
  AppCore(const AppCore&) = delete;
  AppCore& operator=(const AppCore&) = delete;

  // Loads the log settings, forgets the logs' previous totals, fixes the
  // Report log's period and, when the Report log is on, writes its entry with
  // the Start-Log marker. Call once, after the interface has been chosen and
  // the gross totals loaded, and before driving the timers.
  void start();

  // The timers to drive, with their current periods. The log periods change
  // with reload_settings() (the Report log's excepted), the redraw period with
  // the display settings: re-read the list when timers_version() moves.
  std::vector<CoreTimer> timers() const;
  std::uint64_t timers_version() const { return timers_version_; }
  // One tick of a timer from timers(). Unknown ids, and any tick after
  // shutdown(), are ignored.
  void on_timer(int id);

  // Dispatches one received command text. Commands for a monitor this program
  // does not have (packet filter, auto-block) are dropped with a debug note.
  // Returns what the text was recognised as. Ignored after shutdown().
  shell::Command handle_command(std::string_view text);

  // Re-reads the log settings after the options changed. The Report log keeps
  // the period it was started with until the next start of the program.
  void reload_settings();

  // The system is about to sleep: the Report log's End-Log entry (when the
  // log is on), then the gross totals are saved.
  void suspend();

  // The orderly end: timers stop, the window keys (hook), "LogRootFolder" as
  // "" when it is empty, the Report log's End-Log entry (when on and not
  // restarting), "Report"/"LogCheck", the placement keys (hook), the status
  // block released (hook), the gross totals saved (not when restarting: the
  // successor saves them after its own restart) and the interface choice
  // saved. Runs once; later calls do nothing.
  void shutdown(bool restarting, const ShutdownHooks& hooks = {});
  bool is_shut_down() const { return shut_down_; }

 private:
  void write_log(logging::LogKind kind, logging::Marker marker);
  void note(std::string_view text) const;

  settings::Profile& profile_;
  traffic::TrafficMonitor& traffic_;
  traffic::TrafficLogSource traffic_log_{traffic_};
  logging::LogEngine& logs_;
  platform::StatusBlock* status_;
  AppCoreOptions options_;

  bool started_ = false;
  bool shut_down_ = false;
  std::uint32_t report_period_ms_ = 60000;
  std::uint32_t redraw_period_ms_ = 50;
  std::uint64_t timers_version_ = 0;
};

// Deadlines for a set of periodic timers on a 32-bit millisecond clock
// (Clock::tick_ms), for a poll loop: it says how long to sleep and which
// timers are due. Deadlines are compared modulo 2^32, so the schedule
// survives the clock's wrap; periods are capped at 2^31 - 1 ms for that.
// A timer that fell behind by several periods (a stalled loop) fires once and
// keeps its grid, like a coalesced window timer, rather than catching up in a
// burst. Pure; one thread.
class TimerSchedule {
 public:
  // Arms (or re-arms) `id`: first due one period after `now`.
  void set(int id, std::uint32_t period_ms, std::uint32_t now);
  void remove(int id);
  void clear() { timers_.clear(); }
  // Re-arms the whole set: timers whose period did not change keep their
  // deadlines, changed and new ones start from `now`, missing ones go.
  void assign(const std::vector<CoreTimer>& wanted, std::uint32_t now);

  // Milliseconds until the earliest deadline (0 when one is due), nullopt
  // when no timer is armed.
  std::optional<std::uint32_t> ms_until_next(std::uint32_t now) const;
  // The ids due at `now`, earliest deadline first, each moved on to its next
  // deadline after `now`.
  std::vector<int> take_due(std::uint32_t now);

 private:
  struct Entry {
    int id;
    std::uint32_t period;
    std::uint32_t deadline;
  };
  std::vector<Entry> timers_;
};

}  // namespace tw::app
