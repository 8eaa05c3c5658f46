#pragma once
// The Traffic Monitor's sampler and statistics: reads the octet counters of one
// interface every sampling period, turns them into capture and gross totals,
// latest and smoothed speeds, speed histories and the seven report lists, and
// watches whether the interface at the selected position is still the same.
//
// Thread rules
// - tick() runs on the sampler thread (one tick at a time) and holds the
//   sampler lock for the whole tick.
// - Everything that touches the settings file runs on the main thread only:
//   the constructor, restart(), load_gross_totals(), save_gross_totals(),
//   reload_settings(), save_interface_choice(), auto_reset_tick() (it may
//   restart), start_with_stored_interface(), select_interface(),
//   choose_again().
// - The interface list (enumerate_interfaces(), names()) belongs to the main
//   thread; enumerate_interfaces() takes the sampler lock while it reads the
//   table because the link source serves one caller at a time.
// - Every reader (figures(), snapshot(), statistics_texts(), the report lists,
//   copy_speed_histories() ...) takes the sampler lock and copies out, so any
//   thread may call them; none of them keeps the lock after returning.
// - The restart listener is called on the thread that called restart(), after
//   the lock has been released, so it may call back into the monitor.
// - The changed listener is called on the sampler thread, after the tick has
//   released the lock; it must only hand the news on (wake the main thread).
#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/language.h"
#include "platform/clock.h"
#include "platform/link_stats.h"
#include "settings/profile.h"
#include "traffic/speed_history.h"
#include "traffic/statistics_texts.h"

namespace tw::traffic {

// Restart modes, also passed as the integers 0, 1 and 2 by the commands.
enum class RestartMode : int {
  Full = 0,     // forget everything, report lists back to their headers
  Restart = 1,  // like Full, but the report lists keep their lines and get RESTART marks
  Gross = 2,    // only the all-time totals go back to 0 (and are saved at once)
};

enum class InterfaceState : std::uint32_t {
  Unidentified = 0,  // after a restart, until the next successful read
  Identified = 1,    // the row's identity is saved; sampling runs
  Changed = 2,       // another interface (or a state change) at the position: sampling stops
};

// Report lists: 0 latest speeds, 1 smoothed speeds, 2..6 amounts every 1, 5,
// 30, 60 minutes and 24 hours. Entry 0 is the header; newer lines follow it.
inline constexpr int kReportListCount = 7;
// A list never holds more entries than this (header included).
inline constexpr std::size_t kReportListMaxEntries = 127;

// Sampling arithmetic constants.
inline constexpr std::size_t kSpeedWindow = 24;             // ring slots and window length
inline constexpr std::size_t kCounterHistoryTrim = 1024;    // counter history is cut at this size
inline constexpr std::size_t kSpeedHistoryMaxEntries = 4095;
inline constexpr double kSpeedDivisorPerPeriod = 1.165;     // D = N x 1.165 (N = Thread-Responce + 1)

// A 64-bit byte total as quotient, divisor and remainder, so that readers of
// the settings file and of the status record that only know 32-bit numbers can
// rebuild it: total = quotient x divisor + remainder (divisor 0 means 1).
struct TotalEncoding {
  std::uint64_t quotient = 0;
  std::uint64_t divisor = 0;    // 0, 1024 or 1048576
  std::uint64_t remainder = 0;  // always 0 when divisor is 0
};
TotalEncoding encode_total(std::uint64_t total);
std::uint64_t decode_total(std::uint32_t quotient, std::uint32_t divisor, std::uint32_t remainder);

// Capture average in kilobytes per second; 0 during the first 2.5 seconds.
double capture_average_kb(std::uint64_t total_bytes, std::uint64_t capture_ms);

// The row at the selected position as of the last successful tick.
struct InterfaceSnapshot {
  std::string description;          // display name, at most 1023 bytes
  std::uint32_t oper_status = 0;    // 5 operational, 0 otherwise
  std::uint32_t phys_addr_len = 0;
  std::uint64_t link_speed_bps = 0; // bits per second, 0 when unknown
  std::uint64_t out_ucast_pkts = 0, out_nucast_pkts = 0;
  std::uint64_t in_ucast_pkts = 0, in_nucast_pkts = 0;
};

// All numbers of the statistics at one instant (copied under the lock).
struct TrafficFigures {
  std::uint64_t capture_ms = 0;        // time since the last restart
  std::uint32_t capture_start_ms = 0;  // clock reading (Clock::tick_ms) of the last restart
  std::uint32_t last_activity_ms = 0;  // clock reading of the last tick with a latest speed > 0
  std::uint64_t capture_send = 0, capture_recv = 0;  // bytes since the last restart
  std::uint64_t gross_send = 0, gross_recv = 0;      // bytes over all runs
  std::int64_t latest_send = 0, latest_recv = 0;     // bytes/s over the newest window
  std::int64_t smoothed_send = 0, smoothed_recv = 0; // bytes/s, mean of the ring (or latest)
  std::int64_t max_send = 0, max_recv = 0;           // bytes/s, highest smoothed speeds the graph shows
  std::uint64_t send_counter = 0, recv_counter = 0;  // current octet counter readings
  InterfaceState state = InterfaceState::Unidentified;
};

class TrafficMonitor {
 public:
  // Reads the sampler's settings (section "Traffic") and performs a Full
  // restart. Does not choose an interface: call start_with_stored_interface()
  // (or select_interface() and load_gross_totals()) next.
  TrafficMonitor(settings::Profile& profile, platform::LinkStatsSource& links,
                 platform::Clock& clock, Language lang);
  TrafficMonitor(const TrafficMonitor&) = delete;
  TrafficMonitor& operator=(const TrafficMonitor&) = delete;

  Language language() const { return lang_; }

  // ---- periods -----------------------------------------------------------
  // (Thread-Responce + 1) x 50 ms; fixed for the life of the object.
  std::uint32_t sampling_period_ms() const { return sampling_period_ms_; }
  // (View-Responce + 1) x 50 ms, re-read with the display settings.
  std::uint32_t redraw_period_ms() const;

  // ---- sampler thread ----------------------------------------------------
  // One sampling tick: read the table, add to the totals, check the identity,
  // update speeds, histories and report lists. Allocation-free once the
  // report lists are full, except for the period lines.
  //
  // The interface is taken at the selected position until it is identified,
  // and from then on followed by its kernel index: when positions shift
  // (another interface was added or deleted before it) the selected position
  // moves with it and the counting goes on. The state becomes Changed only
  // when the sampled interface itself vanished or changed.
  void tick();
  // Called by tick() whenever the state has just become Changed, on the
  // sampler thread (see the thread rules). Set before sampling starts.
  void set_changed_listener(std::function<void()> listener);
  // The link source's event descriptor, for a sampler thread that waits on
  // it between ticks and calls take_link_events() when it is readable; -1
  // when the source has none. See LinkStatsSource::watch_events().
  int watch_link_events();
  void take_link_events();

  // ---- restarts and totals (main thread) -----------------------------------
  void restart(RestartMode mode);
  void load_gross_totals();
  // The six keys of both totals in one replace of the settings file; the
  // outcome goes to the save listener.
  void save_gross_totals();
  // Told the outcome of every save of the gross totals (the 60 s timer, the
  // suspend, the shut-down, a Gross restart), on the saving thread.
  void set_save_listener(std::function<void(const Status&)> listener);
  // Re-reads "View-Responce", "DoubleSampling", "InterfaceAutoReset",
  // "InterfaceAutoResetTimer", "MaxUnit", "AveUnit", "ExtUnit" and
  // "MaxLineTime". Every Full or Restart restart does this too.
  void reload_settings();
  // Called after every restart (any mode), on the restarting thread, outside
  // the lock; the graph uses it to reload its settings and surfaces.
  void set_restart_listener(std::function<void(RestartMode)> listener);

  // ---- interface choice (main thread) ------------------------------------
  // Display names of the table's rows in table order; empty when the table
  // cannot be read. Also kept as names().
  std::vector<std::string> enumerate_interfaces();
  const std::vector<std::string>& names() const { return names_; }
  // The user's choice: sets the position and restarts (Restart mode), even
  // for the same position. The entry's name in the last enumeration becomes
  // the chosen name.
  void select_interface(int position);
  // Chooses again after the interface table changed. While the sampled
  // interface is identified, still listed and still the chosen one, it stays
  // sampled where it now stands, without a restart (its counting goes on).
  // Otherwise: the first entry of the
  // last enumeration with the chosen name; when that interface is gone, the
  // one default_interface() picks (the chosen name stays, so the interface is
  // taken again once it is back). Without a chosen name the position is kept
  // as choose_interface() keeps it; without an enumeration it is kept as it
  // is. Restarts in `mode`. Returns the position.
  int choose_again(RestartMode mode);
  int selected_interface() const;
  // The position to select in `names` for a stored position and name: a
  // position outside 1..count-1 becomes 0 and moves to the first entry with
  // the same text; a non-empty stored name that differs from that text moves
  // it to the first entry with that name (if there is one). Also used after
  // the list changed its row count, with the previous position and an empty
  // name.
  static int choose_interface(const std::vector<std::string>& names, int stored_position,
                              const std::string& stored_name);
  // The interface to sample when nothing is stored: the one the IPv4 default
  // route leaves by (`route_index`, a kernel index), else the first one that
  // is up and not loopback, else position 0.
  static int default_interface(const std::vector<platform::LinkRow>& rows,
                               std::optional<std::uint32_t> route_index);
  // Page start-up in one call: enumerate, choose from "Settings"/"Interface"
  // and "InterfaceName" (default_interface() when no name is stored and the
  // position names no entry but the first), select it (a Restart), then load
  // the gross totals. Returns the chosen position.
  int start_with_stored_interface();
  // Writes "Settings"/"Interface" and "InterfaceName": the chosen name, or
  // when there is none the selected entry's name (only when the position
  // names an entry of the last enumeration, so a table that could not be
  // read does not erase the stored name).
  void save_interface_choice();

  // ---- interface state ---------------------------------------------------
  InterfaceState interface_state() const;
  // Automatic reset, called on every redraw tick on the main thread. While the
  // state is Changed returns the seconds left before the reset (0 on the tick
  // it is due, when it also enumerates the interfaces and, if
  // "InterfaceAutoReset" is 1, chooses again with a Full restart); otherwise
  // nullopt.
  std::optional<std::uint32_t> auto_reset_tick();
  // What the last auto_reset_tick() returned, for the graph's warning.
  std::optional<std::uint32_t> auto_reset_countdown() const;
  bool auto_reset_enabled() const;
  std::uint32_t auto_reset_seconds() const;

  // ---- readers (any thread) ----------------------------------------------
  TrafficFigures figures() const;
  InterfaceSnapshot snapshot() const;
  StatisticsTexts statistics_texts() const;
  // Fifteen "%ld," fields: capture seconds, capture send Q,B,D, capture recv
  // Q,B,D, gross send Q,B,D, gross recv Q,B,D, smoothed send and recv bytes/s.
  std::string statistics_record() const;
  // Eight CRLF-terminated lines: capture time, totals with gross totals and
  // the capture averages, for the clipboard.
  std::string transfer_information_text() const;
  std::vector<std::string> report_list(int list) const;  // empty for a bad index
  std::array<std::vector<std::string>, kReportListCount> report_lists() const;
  // Copies the newest `max_entries` smoothed speeds (bytes/s, low 32 bits),
  // newest first; the vectors' capacity is reused.
  void copy_speed_histories(std::vector<std::uint32_t>& send, std::vector<std::uint32_t>& recv,
                            std::size_t max_entries = kSpeedHistoryMaxEntries) const;
  bool double_sampling() const;

  // ---- the graph's view of the histories ---------------------------------
  // The maxima cover the entries the graph shows in a control this many
  // pixels wide, plus "MaxLineTime" x 20 (at least 400 entries). The graph
  // passes its width; a program without a graph passes the width the graph
  // would have.
  void set_graph_width(int pixels);
  // The graph's "DoubleSampling" switch, when it changes it.
  void set_double_sampling(bool on);

 private:
  struct Direction {
    std::uint64_t previous = 0;  // counter reading of the last tick
    std::uint64_t current = 0;
    std::uint64_t samples = 0;   // ticks that read the counter since the restart
    std::vector<std::uint32_t> counters;  // low 32 bits of each reading, oldest first
    std::array<std::int64_t, kSpeedWindow> ring{};
    std::int64_t latest_window = 0;
    std::int64_t latest = 0;     // bytes/s
    std::int64_t smoothed = 0;   // bytes/s
    SpeedHistory speeds{kSpeedHistoryMaxEntries};
    std::uint64_t capture = 0;   // bytes since the restart
    std::uint64_t gross = 0;     // bytes over all runs
  };
  struct PeriodMark {
    std::uint64_t send = 0, recv = 0;  // capture totals at the last line
    std::uint64_t second = 0;          // capture second of the last line
  };

  // A line of report list 0 or 1 (the latest and the smoothed speeds, one
  // per tick) keeps its figures and is written out when first read: a
  // tarnixd nobody asks for them would otherwise format two lines 20 times a
  // second, the sampler's largest cost after the kernel's dump.
  struct SpeedLine {
    std::int64_t send = 0, recv = 0;  // bytes per second
    mutable std::string text;         // written on the first read; a restart mark has it from the start
  };
  // The lines under one header: a ring once full, whose entries (and their
  // strings) a tick reuses, so that it allocates nothing.
  struct SpeedLines {
    std::vector<SpeedLine> ring;  // ("slots" is a Qt keyword)
    std::size_t next = 0;  // the slot the next line goes to
  };

  const platform::LinkRow* sampled_row_locked();
  void read_row_locked(const platform::LinkRow& row);
  void enter_changed_locked();
  void update_maxima_locked();
  void restart_at(RestartMode mode, std::optional<int> position);
  void compute_speeds_locked();
  void report_step_locked();
  void reset_sampling_locked(std::uint32_t now);
  void insert_line_locked(int list, const char* text);
  void insert_speed_locked(int list, SpeedLine line);
  std::vector<std::string> list_locked(int list) const;
  void mark_restart_locked(RestartMode mode, const platform::LocalTime& wall);
  std::uint64_t capture_ms_locked() const;
  TrafficFigures figures_locked() const;

  settings::Profile& profile_;
  platform::LinkStatsSource& links_;
  platform::Clock& clock_;
  const Language lang_;
  std::uint32_t sampling_period_ms_ = 50;
  double speed_divisor_ = kSpeedDivisorPerPeriod;

  mutable std::mutex mu_;  // the sampler lock; guards everything below but the main-thread part

  // Settings (written by reload_settings under the lock).
  int view_responce_ = 0;
  bool double_sampling_ = true;
  bool auto_reset_ = true;
  std::uint32_t auto_reset_seconds_ = 15;
  int max_unit_ = 3, ave_unit_ = 3, ext_unit_ = 3;
  int max_line_time_ = 10;  // "MaxLineTime"
  int graph_width_ = 0;

  std::vector<platform::LinkRow> rows_;  // the tick's table, reused between ticks
  int selected_ = 0;

  InterfaceSnapshot snap_;
  std::string identified_description_;
  std::uint32_t identified_index_ = 0;
  std::uint32_t identified_oper_status_ = 0;
  std::uint32_t identified_phys_addr_len_ = 0;
  InterfaceState state_ = InterfaceState::Unidentified;

  Direction send_, recv_;
  std::size_t ring_index_ = 0;

  std::uint32_t capture_start_ = 0;
  std::uint32_t last_activity_ = 0;
  // The 32-bit clock wraps after 49.7 days; the capture time is kept in 64
  // bits by counting the wraps seen between two readings (every tick reads it).
  mutable std::uint64_t capture_wraps_ms_ = 0;
  mutable std::uint32_t capture_last_elapsed_ = 0;

  std::array<PeriodMark, 5> marks_{};
  // Lists 0 and 1 hold their header only; their lines are in speed_lines_
  // (newest first).
  std::array<std::vector<std::string>, kReportListCount> lists_;
  std::array<SpeedLines, 2> speed_lines_;
  std::int64_t max_send_ = 0, max_recv_ = 0;

  // Main thread only.
  std::vector<platform::LinkRow> enum_rows_;
  std::vector<std::string> names_;
  // The name of the interface the user chose (or the stored one), which may
  // differ from the sampled one while that interface is gone.
  std::string chosen_name_;
  std::optional<std::uint32_t> countdown_start_;
  std::optional<std::uint32_t> countdown_left_;
  std::function<void(RestartMode)> restart_listener_;
  std::function<void()> changed_listener_;  // set before sampling starts, read by the sampler thread
  std::function<void(const Status&)> save_listener_;
};

}  // namespace tw::traffic
