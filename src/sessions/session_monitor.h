#pragma once
// The Session Monitor without its window: one refresh reads the socket
// tables, rebuilds the records and flow keys, sorts, builds the list rows,
// runs auto-block and updates the connection counter. The runtime calls
// refresh() every 500 ms while the monitor runs, routes the commands
// "tarnix.sessionmonitor /blockstart" and "/blockstop" to block_start() and
// block_stop(), gives the session log log_source(), and calls shut_down() when
// the program ends.
//
// Threads: every member on the thread that runs the session refresh (the
// user-interface thread of the desktop program). The shared caches it uses
// take their own locks.
#include <algorithm>
#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "base/language.h"
#include "logging/row_sources.h"
#include "platform/clock.h"
#include "platform/connection_killer.h"
#include "platform/file_store.h"
#include "platform/socket_table.h"
#include "sessions/autoblock.h"
#include "sessions/connection_table.h"
#include "sessions/session_list.h"
#include "sessions/session_settings.h"
#include "shared/flow_keys.h"
#include "shared/host_names.h"

namespace tw::sessions {

// What the monitor works with; every object must outlive it.
struct SessionMonitorDeps {
  platform::SocketTable& sockets;
  platform::ProcessTable& processes;
  platform::ConnectionKiller& killer;
  platform::Clock& clock;
  platform::FileStore& files;
  shared::HostNameCache& hosts;
  shared::FlowKeyTable& flow_keys;
  ProcessNameCache& names;
};

struct SessionMonitorConfig {
  Language lang = Language::English;
  std::string data_folder;  // where the blocked log goes without a log root folder
  std::string log_root;     // "Settings"/"LogRootFolder"
  TextCompare compare;      // the user's collation for names in the sort keys; null: byte order
  // "Settings"/"IPv6": list the IPv6 connections beside the IPv4 ones. Off,
  // the monitor reads, shows, logs, counts and closes IPv4 ones only.
  bool ipv6 = true;
  // Told about each connection that could not be closed (the user is not:
  // the connection shows up again and is tried again).
  std::function<void(const Error&)> kill_failed;
};

// Which commands of the list's context menu can be chosen.
struct SessionMenuState {
  bool remove_all = false;
  bool copy = false;
  bool kill = false;
  bool tools = false;  // NSLOOKUP, WHOIS, PING, TRACERT, "Add to Packet filter rules"
};

class SessionMonitor {
 public:
  SessionMonitor(const SessionMonitorDeps& deps, SessionMonitorConfig config, const SessionSettings& settings,
                 const AutoBlockSettings& autoblock);

  // The text of the rule file (empty when there is none).
  void load_rules(std::string_view rule_file_text);

  void start();
  void stop();
  bool running() const { return running_; }

  // One session refresh (timer, every 500 ms while running).
  void refresh();

  void header_click(int column);
  const SortState& sort() const { return sort_; }

  // The list: the rows of the last refresh in list order.
  const std::vector<RowTexts>& rows() const { return rows_; }
  std::string connections_label() const { return counter_.label(lang_); }
  int connections() const { return counter_.current(); }
  int maximum_connections() const { return counter_.maximum(); }
  // Whether IPv6 connections are listed at all ("Settings"/"IPv6").
  bool ipv6_enabled() const { return config_.ipv6; }
  // Of connections(), those shown as IPv6 (0 while the counter is reset).
  int ipv6_connections() const { return counter_.current() == 0 ? 0 : std::min(ipv6_count_, counter_.current()); }

  // Context-menu commands on the selected rows (indices into rows()).
  SessionMenuState menu_state(bool any_selected) const;
  void remove_all();
  std::string copy(std::span<const std::size_t> selected, std::span<const int> copy_items) const;
  void kill(std::span<const std::size_t> selected);

  // Auto-block: the commands (true when they switched it) and the check box.
  bool block_start();
  bool block_stop();
  void set_auto_block(bool on);
  bool auto_block() const { return settings_.auto_block; }
  int blocked_count() const { return blocked_; }
  const std::string& blocked_label_text() const { return blocked_label_; }
  const std::string& blocked_view() const { return view_; }
  const std::string& blocked_log_path() const { return log_path_; }

  void set_ask_dns(bool on) { settings_.ask_dns = on; }
  const SessionSettings& settings() const { return settings_; }

  // "$SESSION$" and "$CONNECTIONS$" for one entry of the session log; the
  // source refers to rows(), so it is used before the next refresh.
  logging::SessionRowsSource log_source() const {
    return logging::SessionRowsSource(running_ ? &rows_ : nullptr, counter_.current(), lang_);
  }

  // The shut-down step: forget every host and process name.
  void shut_down();

 private:
  // The hash of a socket's kernel name, for the sockets auto-block counted.
  struct SocketIdHash {
    std::size_t operator()(const platform::SocketId& id) const;
  };

  void rebuild_rows(std::uint32_t now);
  void autoblock_pass(std::uint32_t now);
  void write_blocked(const RowTexts& row);
  void rebuild_log_path();
  void close(const SessionRecord& r);

  SessionMonitorDeps deps_;
  SessionMonitorConfig config_;
  Language lang_;
  SessionSettings settings_;
  AutoBlockSettings autoblock_;
  ConnectionTable table_;
  std::vector<Rule> rules_;
  SortState sort_;
  ConnectionCounter counter_;
  std::vector<RowTexts> rows_;
  int ipv6_count_ = 0;  // IPv6 records of the last refresh
  std::size_t displayed_ = 0;  // the list's rows: the first records, at most kMaxDisplayedRows
  bool running_ = false;
  int blocked_ = 0;
  // The sockets auto-block closed, logged and counted that the last refresh
  // still listed: one that could not be closed is tried again, never counted
  // again.
  std::unordered_set<platform::SocketId, SocketIdHash> blocked_sockets_;
  std::string blocked_label_;
  std::string view_;
  std::string log_path_;
  int log_path_hour_ = -1;
};

}  // namespace tw::sessions
