#pragma once
// The Packet Filter's state: the rule grid (the texts the user edits), the
// rule table built from it, the rule file, and whether filtering is on.
//
// Filtering on means the DROP rules of the table are installed through the
// platform's packet filter for every local IPv4 address of the machine's
// adapters. A start first saves the grid to the rule file and loads it back,
// so the rules in force are always those of the file. The START/STOP button
// toggles and may show one of three messages; the commands start and stop
// quietly.
//
// Ownership: the engine, the network source and the file store must outlive
// the controller. Threads: one thread (the main thread) for everything.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "base/language.h"
#include "packetfilter/filter_rules.h"
#include "platform/file_store.h"
#include "platform/network_info.h"
#include "platform/packet_filter.h"

namespace tw::packetfilter {

// The rule file, in the data folder.
inline constexpr std::string_view kRuleFileName = "tarnix_packetfilter.txt";
// The largest rule file read: every row at its longest.
inline constexpr std::size_t kMaxRuleFileBytes = kMaxFileRows * (kMaxLineChars + 1) * 4;

// Settings: section "PacketFilter", "Start" (1: filtering was on at the last
// close) and "ColnmWidth" (the grid's nine column widths).
inline constexpr std::string_view kSection = "PacketFilter";
inline constexpr std::string_view kStartKey = "Start";
inline constexpr std::string_view kColumnWidthKey = "ColnmWidth";

enum class FilterMessage { UnsupportedSystem, NoAdapterInfo, NoRules };
std::string_view message_text(FilterMessage message, Language lang);
// The caption of the Packet Filter's message boxes, and the Edit button's
// failure.
std::string_view message_caption(Language lang);
std::string_view edit_failed_text(Language lang);

struct FilterControllerDeps {
  platform::PacketFilter& engine;
  platform::NetworkInfoSource& network;
  platform::FileStore& files;
};

struct FilterControllerConfig {
  std::string rule_file_path;
  Language lang = Language::English;
  // A message box (not called in quiet mode). May be empty.
  std::function<void(std::string_view)> show_message;
  // Details for a log: files that could not be written, filters that could
  // not be installed in quiet mode. May be empty.
  std::function<void(std::string_view)> note;
};

class FilterController {
 public:
  FilterController(FilterControllerDeps deps, FilterControllerConfig config);
  FilterController(const FilterController&) = delete;
  FilterController& operator=(const FilterController&) = delete;

  const std::vector<GridRow>& grid() const { return grid_; }
  const std::vector<FilterRule>& rules() const { return rules_; }
  bool filtering() const { return filtering_; }
  const std::string& rule_file_path() const { return config_.rule_file_path; }
  // Where the message boxes go (the desktop page sets it once it exists).
  void set_message_sink(std::function<void(std::string_view)> sink) { config_.show_message = std::move(sink); }
  // Called after the grid or the on/off state changed, for a view to follow.
  void set_listener(std::function<void()> listener) { listener_ = std::move(listener); }

  // ---- the rule file --------------------------------------------------------
  // The Reload button and "/reload": the grid becomes the file's rules; the
  // filters in force stay as they are.
  void reload();
  // The grid to the file; an empty grid deletes the file.
  Status save();

  // ---- grid editing (each change that alters rules restarts filtering when
  // it is on) --------------------------------------------------------------
  // A cell's new text (the cell editors commit through the commit_* rules).
  void set_cell(std::size_t row, int column, std::string text);
  // Insert: a default row before `before`, at the end when nullopt. Returns
  // the new row's index, nullopt when the grid is full.
  std::optional<std::size_t> insert_default_row(std::optional<std::size_t> before);
  void delete_row(std::size_t row);
  // Ctrl+Up/Down: exchanges the row with its neighbour. False at the edges.
  bool move_row(std::size_t row, bool up);
  // "All Action set to ...": nothing happens with an empty rule table.
  void set_all_actions(bool drop);
  // "tarnix.packetfilter /add:...": the row it added, nullopt when the text
  // failed the checks (it is then ignored).
  std::optional<std::size_t> add_command(std::string_view text);
  // "Add to Packet filter rules" from a connection list: rows appended.
  void add_rows(const std::vector<GridRow>& rows);

  // ---- filtering ---------------------------------------------------------
  // The START/STOP button.
  void toggle();
  // "/start": always a fresh start, without messages.
  void start_command();
  // "/stop": always ends stopped, without messages.
  void stop_command();
  // After rule changes while on.
  void restart();
  // The "Start" setting at start-up: 1 starts filtering quietly.
  void start_from_setting(int start_setting);
  // The end of the program: the filters go with it.
  void shut_down();

 private:
  void rebuild_rules();
  void fill_grid();
  void changed();
  void restart_if_on();
  void unbind_all();
  void message(FilterMessage m);
  void note(const std::string& text) const;

  FilterControllerDeps deps_;
  FilterControllerConfig config_;
  std::vector<GridRow> grid_;
  std::vector<FilterRule> rules_;
  bool filtering_ = false;
  bool quiet_ = false;
  std::function<void()> listener_;
};

// The local IPv4 addresses of the adapters, in adapter and address order.
std::vector<std::uint32_t> local_addresses(const std::vector<platform::AdapterInfo>& adapters);

}  // namespace tw::packetfilter
