#pragma once
// The Packet Filter's state: the rule grid (the texts the user edits), the
// rule table built from it, the rule file, and whether filtering is on.
//
// Filtering on means the DROP rules of the table are installed through the
// platform's packet filter for every local IPv4 address of the machine's
// adapters, and with IPv6 on for its IPv6 addresses too (see filter_set). The START/STOP button toggles and may show one of three
// messages; the commands start and stop quietly and return the outcome for
// the sender.
//
// The rule file is the user's: it is written only when the rules are changed
// here (a grid edit, "/add:", rows from a connection list), at once, and then
// only the changed rows (see RuleFile); never at a start or at the end. A file
// changed on disk since it was read is read again first and the change is
// written onto its new text. A file that could not be read (too large, no
// regular file, no permission) is never written or deleted: the grid stays
// empty and refuses edits until the file has been read (Reload, "/reload", a
// start). A start takes the file as it is on disk then, unless edits could
// not be written: those stay in force and are written with the next change.
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
#include "packetfilter/rule_file.h"
#include "platform/file_store.h"
#include "platform/network_info.h"
#include "platform/packet_filter.h"

namespace tw::packetfilter {

// The rule file, in the data folder.
inline constexpr std::string_view kRuleFileName = "tarnix_packetfilter.txt";
// The largest rule file read (2048 rows of 2047 characters, four times over);
// a larger one counts as unreadable and is left alone.
inline constexpr std::size_t kMaxRuleFileBytes = std::size_t{2048} * 2048 * 4;

// Settings: section "PacketFilter", "Start" (1: filtering was on at the last
// close) and "ColnmWidth" (the grid's nine column widths).
inline constexpr std::string_view kSection = "PacketFilter";
inline constexpr std::string_view kStartKey = "Start";
inline constexpr std::string_view kColumnWidthKey = "ColnmWidth";

enum class FilterMessage { NoAdapterInfo, NoRules };
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
  // Details for a log: filters that could not be installed in quiet mode,
  // what a start installed. May be empty.
  std::function<void(std::string_view)> note;
};

class FilterController {
 public:
  FilterController(FilterControllerDeps deps, FilterControllerConfig config);
  FilterController(const FilterController&) = delete;
  FilterController& operator=(const FilterController&) = delete;

  const std::vector<GridRow>& grid() const { return file_.grid(); }
  const std::vector<FilterRule>& rules() const { return rules_; }
  bool filtering() const { return filtering_; }
  const std::string& rule_file_path() const { return config_.rule_file_path; }
  // Where the message boxes go (the desktop page sets it once it exists).
  void set_message_sink(std::function<void(std::string_view)> sink) { config_.show_message = std::move(sink); }
  // Where problems of the rule file go that the user must hear of even
  // without a window (tarnixd's stderr): it cannot be read or written, rows
  // that are no rules, changes given up or refused. May be empty.
  void set_warning_sink(std::function<void(std::string_view)> sink) { warn_ = std::move(sink); }
  // "Settings"/"IPv6": true installs the IPv6 rules beside the IPv4 ones in
  // the table of both families; false (the default here, the setting's 0)
  // installs the IPv4 table exactly as before IPv6, and IPv6 rules stay in
  // the grid and the file but are not installed. Takes effect at the next
  // start.
  void set_ipv6(bool on) { ipv6_ = on; }
  bool ipv6() const { return ipv6_; }
  // Called after the grid, the on/off state or the file's report changed,
  // for a view to follow.
  void set_listener(std::function<void()> listener) { listener_ = std::move(listener); }

  // ---- the rule file --------------------------------------------------------
  // Reading the file (start-up, the Reload button, "/reload"): the grid
  // becomes its rules, edits not yet written are dropped; the filters in force
  // stay as they are. An error when the file is there but cannot be read.
  Status reload();
  // The error of a file that could not be read, while it has not been read
  // since: the grid is empty and edits are refused.
  const std::optional<Error>& read_error() const { return read_error_; }
  // Edits that are not in the file yet (writing it failed); they are written
  // with the next change, or by write_pending().
  bool unsaved() const { return file_.edited(); }
  // Writes edits not in the file yet (the Edit button, before it opens the
  // file); success when there are none.
  Status write_pending();
  // Everything the user should know about the file and the last change: the
  // file cannot be read or written, lines kept that are no rules, rules
  // beyond the table, changes given up or refused. "" when all is well.
  std::string file_report(Language lang) const;

  // ---- grid editing: each change is written to the file, then filtering
  // restarts when it is on ---------------------------------------------------
  // A cell's new text (the cell editors commit through the commit_* rules).
  // False when the row would be no rule or the file cannot be edited.
  bool set_cell(std::size_t row, int column, std::string text);
  // Why set_cell would refuse the text as a rule: the row with it is no rule
  // (an IPv4 address beside an IPv6 one, say). nullopt when it fits, or when
  // the row or column does not exist.
  std::optional<RowProblem> cell_problem(std::size_t row, int column, const std::string& text) const;
  // Insert: a default row before `before`, at the end of the file when
  // nullopt. Returns the new row's index, nullopt when the grid is full.
  std::optional<std::size_t> insert_default_row(std::optional<std::size_t> before);
  void delete_row(std::size_t row);
  // Ctrl+Up/Down: exchanges the row with its neighbour. False at the edges.
  bool move_row(std::size_t row, bool up);
  // "All Action set to ...": nothing happens with an empty grid.
  void set_all_actions(bool drop);
  // "tarnix.packetfilter /add:...": the row appended to the file as it is on
  // disk now, and its grid index; or why not (the error's headline, in the
  // user's language): the command's fields, a full table, a file that cannot
  // be read or written.
  Result<std::size_t> add_command(std::string_view text);
  // "Add to Packet filter rules" from a connection list: the good rows are
  // appended (as many as the table takes); returns how many.
  std::size_t add_rows(const std::vector<GridRow>& rows);

  // ---- filtering ---------------------------------------------------------
  // The START/STOP button.
  void toggle();
  // "/start": always a fresh start, without messages; the outcome (the
  // message a button would have shown, or the engine's error).
  Status start_command();
  // "/stop": always ends stopped, without messages.
  Status stop_command();
  // After rule changes while on.
  void restart();
  // The "Start" setting at start-up: 1 starts filtering quietly.
  void start_from_setting(int start_setting);
  // The end of the program: the filters go with it. The file is not written.
  void shut_down();

 private:
  Status start();
  void stop();
  // Applies `edit` to the document and writes it; false when refused.
  bool edit(const std::function<bool(RuleFile&)>& change);
  // Writes the document (onto the file's new text when it changed on disk).
  Status write_file();
  // Takes the file as it is on disk, when nothing here is unsaved and it
  // differs from what was read.
  void refresh();
  void adopt(const Result<std::string>& read);
  void rules_changed();
  void changed();
  void restart_if_on();
  void unbind_all();
  void message(FilterMessage m);
  void note(const std::string& text) const;
  void warn(const std::string& text) const;
  std::string refused_text() const;

  FilterControllerDeps deps_;
  FilterControllerConfig config_;
  RuleFile file_;
  std::vector<FilterRule> rules_;
  std::optional<Error> read_error_;   // the file could not be read
  std::optional<Error> write_error_;  // the last writing failed
  std::string notice_;                // the last change given up or refused
  bool filtering_ = false;
  bool quiet_ = false;
  bool ipv6_ = false;
  std::function<void()> listener_;
  std::function<void(std::string_view)> warn_;
};

// The local IPv4 addresses of the adapters, in adapter and address order.
std::vector<std::uint32_t> local_addresses(const std::vector<platform::AdapterInfo>& adapters);

}  // namespace tw::packetfilter
