#pragma once
// The window-free part of either program: one registry of the periodic work,
// the commands, the log variables and the shut-down steps that the features
// bring, and the one timer schedule that drives them. tarnixd sleeps in its
// poll loop until ms_until_next(), the desktop program ticks one QTimer at the
// shortest period; both call run_due(), so a feature's periodic work runs in
// both programs alike.
//
// The runtime itself owns the four logs' timers and the Report log's
// Start-Log and End-Log entries; the entries take their variables from every
// registered log source.
//
// Ownership: the Runtime owns none of the objects it is given; they, and
// whatever the registered functions refer to, must outlive it or its
// shut-down, whichever comes first.
//
// Threads: main thread only, the one that owns the settings.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logging/log_engine.h"
#include "logging/log_source.h"
#include "platform/status_block.h"
#include "settings/profile.h"
#include "shell/commands.h"

namespace tw::app {

// Timer identifiers. They are the main window's timer numbers, so both
// programs and their logs speak of the same timers; every feature's timer
// takes its number from here so that no two collide.
inline constexpr int kTimerStatusBlock = 3;   // publish the statistics record, 200 ms
inline constexpr int kTimerGrossTotals = 4;   // save the gross totals, 60 s
inline constexpr int kTimerTrafficLog = 10;   // "Traffic"/"LogCycleTime" s
inline constexpr int kTimerPacketLog = 11;    // "Surveil"/"LogCycleTime" s
inline constexpr int kTimerSessionLog = 12;   // "Session"/"LogCycleTime" s
inline constexpr int kTimerReportLog = 13;    // "Report"/"LogCycleTime" s, fixed at start()
inline constexpr int kTimerAutoReset = 14;    // redraw period, automatic interface reset
inline constexpr int kTimerSessionRefresh = 17;  // the session refresh and auto-block, 500 ms
inline constexpr int kTimerPacketDisplay = 18;   // the packet list's sampling, "Surveil"/"Interval" ms
inline constexpr int kTimerMetricsFile = 19;     // the figures file for Prometheus, 5 s
inline constexpr int kTimerLiveLine = 1000;   // tarnixd's live line on the terminal, 1 s

inline constexpr std::uint32_t kStatusBlockPeriodMs = 200;
inline constexpr std::uint32_t kGrossTotalsPeriodMs = 60000;

// The places of the shut-down steps. Steps of the same place run in the
// order they were added.
namespace shutdown_step {
// Sampling ends first, so that the totals saved later hold every byte counted.
inline constexpr int kStopSampling = 0;
// "TabCurSel", "MainWindow", "NotifyIcon", "Session"/"SplitSize", then the
// tray icon is removed.
inline constexpr int kWindowState = 10;
// The runtime's own: "LogRootFolder" as "" when it is empty, the Report log's
// End-Log entry (when on and not restarting), "Report"/"LogCheck".
inline constexpr int kLogs = 20;
// "IsZoomed" and "Position".
inline constexpr int kWindowPlacement = 30;
// The status block is unmapped; nothing publishes after this.
inline constexpr int kReleaseStatusBlock = 40;
// Every host and process name is forgotten, while the pages and their data
// are still there.
inline constexpr int kEmptyNameCaches = 45;
// The packet filter: "PacketFilter"/"Start", the rule file, then the filters
// are removed.
inline constexpr int kPacketFilter = 47;
// The figures file for Prometheus, with the run's final figures: after the
// capture and the filter have ended, so the last file shows them off.
inline constexpr int kMetricsFile = 48;
// The gross totals (not when restarting: the successor saves them after its
// own restart), then the interface choice.
inline constexpr int kSaveTotals = 50;
}  // namespace shutdown_step

struct TimerEntry {
  int id = 0;
  std::uint32_t period_ms = 0;
  bool operator==(const TimerEntry&) const = default;
};

// The period of a log timer for a "LogCycleTime" in seconds. The options page
// only stores 1..3600, but the file may hold anything: a zero or negative
// value would make a timer that fires continuously (or never), so it counts as
// 1 s, and values are capped so that the period fits a signed 32-bit count of
// milliseconds (about 24.8 days), the longest a window timer takes.
std::uint32_t log_timer_period_ms(int log_cycle_time_seconds);

// Deadlines for a set of periodic timers on a 32-bit millisecond clock
// (Clock::tick_ms): it says how long to sleep and which timers are due.
// Deadlines are compared modulo 2^32, so the schedule survives the clock's
// wrap; periods are capped at 2^31 - 1 ms for that. A timer that fell behind
// by several periods (a stalled loop) fires once and keeps its grid, like a
// coalesced window timer, rather than catching up in a burst. Pure; one thread.
class TimerSchedule {
 public:
  // Arms (or re-arms) `id`: first due one period after `now`.
  void set(int id, std::uint32_t period_ms, std::uint32_t now);
  void remove(int id);
  void clear() { timers_.clear(); }
  // Re-arms the whole set: timers whose period did not change keep their
  // deadlines, changed and new ones start from `now`, missing ones go.
  void assign(const std::vector<TimerEntry>& wanted, std::uint32_t now);

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

struct RuntimeOptions {
  // Notes for a debug log (dropped commands and the like). May be empty.
  std::function<void(std::string_view)> debug_log;
};

class Runtime {
 public:
  Runtime(settings::Profile& profile, logging::LogEngine& logs, RuntimeOptions options = {});
  Runtime(const Runtime&) = delete;
  Runtime& operator=(const Runtime&) = delete;

  // ---- registration (before start(), or any time before the shut-down) ----
  // A periodic timer: `period` is asked again whenever timers_changed() is
  // called; `tick` runs when it is due. A second timer with the same id
  // replaces the first. With `armed`, the timer runs only while it says so
  // (asked at the same times as the period): work that is needed only in
  // some state then costs no wake-up outside it.
  void add_timer(int id, std::function<std::uint32_t()> period, std::function<void()> tick,
                 std::function<bool()> armed = {});
  // The handler of one command. Commands nobody answers are dropped with a
  // debug note. A second handler for the same command replaces the first.
  void add_command(shell::Command command, std::function<void(const shell::ParsedCommand&)> handler);
  // The same, for a command whose outcome goes back to a sender that waits
  // for it (tarnixctl): the handler says whether it was carried out.
  void add_command_replying(shell::Command command,
                            std::function<shell::CommandReply(const shell::ParsedCommand&)> handler);
  // The variables of the log entries, in the order added.
  void add_log_source(logging::LogSource& source);
  // Work for the orderly end at `place` (shutdown_step); `restarting` tells a
  // restart after resume from an ordinary end.
  void add_shutdown_step(int place, std::function<void(bool restarting)> step);
  // Before the machine sleeps, after the Report log's End-Log entry.
  void add_suspend_step(std::function<void()> step);
  // After the options changed, after the logs re-read their settings.
  void add_reload_step(std::function<void()> step);
  // The status block the features publish to; null when it could not be
  // created. The runtime forgets it at shutdown_step::kReleaseStatusBlock,
  // before `release` unmaps it there.
  void set_status_block(platform::StatusBlock* block, std::function<void()> release = {});
  platform::StatusBlock* status_block() const { return status_; }

  // A timer's period or armed state may have moved (settings, redraw period,
  // the interface state): the schedule re-reads them before it runs or
  // sleeps next.
  void timers_changed();
  // Called whenever the schedule changed after start(), so that a driver can
  // follow new periods at once. May be empty.
  void set_schedule_listener(std::function<void()> listener) { schedule_listener_ = std::move(listener); }

  // The wake-up of the main thread by another thread: `fd` becomes readable
  // when there is news (the sampler saw the interface change), and
  // `on_readable` takes it and acts on the main thread. Set by the host
  // before the drivers start; a driver watches wake_fd() (-1: none) beside
  // the command channel and calls handle_wake() when it is readable.
  void set_wake(int fd, std::function<void()> on_readable);
  int wake_fd() const { return wake_fd_; }
  void handle_wake();

  // ---- running -------------------------------------------------------------
  // Loads the log settings, fixes the Report log's period and, when the
  // Report log is on, writes its entry with the Start-Log marker. Call once,
  // after the interface has been chosen and the gross totals loaded. No timer
  // runs before.
  void start();
  bool started() const { return started_; }

  // The armed timers with their current periods, by id.
  std::vector<TimerEntry> timers() const;
  // Runs every timer due at `now` (Clock::tick_ms), most overdue first.
  void run_due(std::uint32_t now);
  // Milliseconds until the next timer is due (0: now), nullopt before
  // start(), after the shut-down or without timers.
  std::optional<std::uint32_t> ms_until_next(std::uint32_t now);
  // One tick of timer `id` regardless of the schedule. Unknown ids, and any
  // tick after shutdown(), are ignored.
  void fire_timer(int id);

  // Dispatches one received command text. Returns what the text was
  // recognised as. Ignored after shutdown().
  shell::Command handle_command(std::string_view text);
  // The same, returning the answer for the sender: Done from handlers that
  // give none, Ignored for texts that are no command, commands nobody here
  // answers and any after shutdown().
  shell::CommandReply answer_command(std::string_view text);

  // Re-reads the log settings and runs the reload steps. The Report log keeps
  // the period it was started with until the next start of the program.
  void reload_settings();

  // The system is about to sleep: the Report log's End-Log entry (when the
  // log is on), then the suspend steps.
  void suspend();

  // After a wake-up, in a program that goes on instead of handing over to a
  // successor (a service under systemd): what the successor's start() would
  // do to the Report log, its Start-Log entry (when the log is on) and a
  // report period counted from now.
  void start_new_report();

  // The orderly end: no timer or command from here on, then every shut-down
  // step by its place. Runs once; later calls do nothing.
  void shutdown(bool restarting);
  bool is_shut_down() const { return shut_down_; }

 private:
  struct Timer {
    int id;
    std::function<std::uint32_t()> period;
    std::function<void()> tick;
    std::function<bool()> armed;  // empty: always
  };
  struct Step {
    int place;
    std::function<void(bool)> run;
  };

  void write_log(logging::LogKind kind, logging::Marker marker);
  shell::CommandReply dispatch(std::string_view text, shell::Command& recognised);
  void note(std::string_view text) const;
  void rearm_if_changed(std::uint32_t now);
  void end_logs(bool restarting);

  settings::Profile& profile_;
  logging::LogEngine& logs_;
  RuntimeOptions options_;
  platform::StatusBlock* status_ = nullptr;

  std::vector<Timer> timers_;
  std::vector<std::pair<shell::Command, std::function<shell::CommandReply(const shell::ParsedCommand&)>>> commands_;
  std::vector<logging::LogSource*> log_sources_;
  std::vector<Step> shutdown_steps_;
  std::vector<std::function<void()>> suspend_steps_;
  std::vector<std::function<void()>> reload_steps_;
  std::function<void()> schedule_listener_;
  int wake_fd_ = -1;
  std::function<void()> on_wake_;

  TimerSchedule schedule_;
  bool schedule_dirty_ = true;
  bool started_ = false;
  bool shut_down_ = false;
  std::uint32_t report_period_ms_ = 60000;
};

}  // namespace tw::app
