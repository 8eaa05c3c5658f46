#include "sessions/session_monitor.h"

#include <algorithm>

namespace tw::sessions {

SessionMonitor::SessionMonitor(const SessionMonitorDeps& deps, SessionMonitorConfig config,
                               const SessionSettings& settings, const AutoBlockSettings& autoblock)
    : deps_(deps),
      config_(std::move(config)),
      lang_(config_.lang),
      settings_(settings),
      autoblock_(autoblock),
      table_(deps.processes, deps.names, deps.flow_keys),
      counter_(settings.reset_max_connections),
      blocked_label_(blocked_label(0, true)) {
  rebuild_log_path();
}

void SessionMonitor::load_rules(std::string_view text) { rules_ = parse_rules(text); }

void SessionMonitor::start() {
  if (running_) return;
  running_ = true;
  // The rows of the last refresh come back at once, with their times.
  rebuild_rows(deps_.clock.tick_ms());
}

void SessionMonitor::stop() {
  running_ = false;
  counter_.reset();
}

void SessionMonitor::refresh() {
  using platform::SocketProtocol;
  if (!running_) return;  // a late timer tick after stop() must not count
  // A table that cannot be read contributes nothing this time.
  // IPv6 rows after the IPv4 ones: the records, flow keys and their limits
  // fill in the same order as without IPv6 until the IPv6 rows begin.
  auto tcp = config_.ipv6 ? deps_.sockets.read_both(SocketProtocol::Tcp) : deps_.sockets.read(SocketProtocol::Tcp);
  auto udp = config_.ipv6 ? deps_.sockets.read_both(SocketProtocol::Udp) : deps_.sockets.read(SocketProtocol::Udp);
  std::vector<platform::SocketRow> tcp_rows = tcp ? std::move(*tcp) : std::vector<platform::SocketRow>{};
  std::vector<platform::SocketRow> udp_rows = udp ? std::move(*udp) : std::vector<platform::SocketRow>{};
  const std::uint32_t now = deps_.clock.tick_ms();
  ConnectionTable::HostText host_text;
  if (settings_.ask_dns) host_text = [this](const std::string& a) { return deps_.hosts.host_name_for(a); };
  const std::size_t count = table_.refresh(tcp_rows, udp_rows, now, host_text);
  ipv6_count_ = static_cast<int>(std::count_if(table_.records().begin(), table_.records().end(),
                                               [](const SessionRecord& r) { return r.ipv6; }));
  // The list shows the top of the whole sorted table; auto-block and the
  // counter go through all of it, or a guard with more connections than the
  // list has rows would leave the rest open.
  sort_records(table_.records(), count, sort_.column, sort_.descending, now, config_.compare);
  displayed_ = std::min(count, kMaxDisplayedRows);
  rebuild_rows(now);
  if (settings_.auto_block && count > 0) autoblock_pass(now);
  counter_.refreshed(static_cast<int>(count));
}

void SessionMonitor::rebuild_rows(std::uint32_t now) {
  rows_.clear();
  const auto& records = table_.records();
  const std::size_t n = std::min(displayed_, records.size());
  rows_.reserve(n);
  for (std::size_t i = 0; i < n; ++i) rows_.push_back(row_texts(records[i], now, lang_));
}

void SessionMonitor::header_click(int column) {
  if (column < 0 || column >= kColumnCount) return;
  sort_.click(column);
  const std::uint32_t now = deps_.clock.tick_ms();
  displayed_ = std::min(displayed_, table_.records().size());
  sort_records(table_.records(), table_.records().size(), sort_.column, sort_.descending, now, config_.compare);
  rebuild_rows(now);
}

std::size_t SessionMonitor::SocketIdHash::operator()(const platform::SocketId& id) const {
  std::uint64_t h = id.cookie;
  for (const std::uint64_t v : {std::uint64_t{id.local_address}, std::uint64_t{id.local_port},
                                std::uint64_t{id.remote_address}, std::uint64_t{id.remote_port}})
    h = (h ^ v) * 0x100000001B3ull;
  if (id.is_v6())
    for (const auto* bytes : {&id.local_address6, &id.remote_address6})
      for (const std::uint8_t b : *bytes) h = (h ^ b) * 0x100000001B3ull;
  return static_cast<std::size_t>(h);
}

void SessionMonitor::autoblock_pass(std::uint32_t now) {
  const int hour = deps_.clock.local_now().hour;
  const auto& records = table_.records();
  std::unordered_set<platform::SocketId, SocketIdHash> blocked_now;
  RowTexts unlisted;
  for (std::size_t i = 0; i < records.size(); ++i) {
    // Records below the list's rows are judged by the texts they would show.
    const RowTexts& row = i < rows_.size() ? rows_[i] : (unlisted = row_texts(records[i], now, lang_));
    const Verdict v = evaluate(rules_, row, hour, lang_);
    if (v == Verdict::Leave) continue;
    close(records[i]);
    if (!blocked_now.insert(records[i].id).second || blocked_sockets_.contains(records[i].id)) continue;
    if (v == Verdict::Block) write_blocked(row);
    ++blocked_;
    blocked_label_ = blocked_label(blocked_, true);
  }
  blocked_sockets_.swap(blocked_now);
}

void SessionMonitor::close(const SessionRecord& r) {
  const Status s = deps_.killer.close(r.id);
  if (!s.ok() && config_.kill_failed) config_.kill_failed(s.error());
}

void SessionMonitor::write_blocked(const RowTexts& row) {
  const auto now = deps_.clock.local_now();
  if (now.hour != log_path_hour_) rebuild_log_path();
  const std::string line = blocked_line(autoblock_.log_format, row, logging::date_texts(now));
  // A log that cannot be written is skipped; the pane still shows the line.
  if (autoblock_.blocked_log) (void)deps_.files.write(log_path_, logging::crlf_to_lf(line) + "\n", false);
  add_to_view(view_, line);
}

void SessionMonitor::rebuild_log_path() {
  const auto now = deps_.clock.local_now();
  log_path_hour_ = now.hour;
  log_path_ = sessions::blocked_log_path(autoblock_.log_file_name, config_.log_root, config_.data_folder,
                                         logging::date_texts(now));
}

SessionMenuState SessionMonitor::menu_state(bool any_selected) const {
  SessionMenuState m;
  if (rows_.empty()) return m;
  m.remove_all = true;
  if (!any_selected) return m;
  m.copy = true;
  m.kill = deps_.killer.is_supported();
  m.tools = true;
  return m;
}

void SessionMonitor::remove_all() {
  rows_.clear();
  displayed_ = 0;
  deps_.hosts.empty();
  counter_.reset();
}

std::string SessionMonitor::copy(std::span<const std::size_t> selected, std::span<const int> copy_items) const {
  std::vector<RowTexts> chosen;
  for (std::size_t i : selected)
    if (i < rows_.size()) chosen.push_back(rows_[i]);
  return copy_text(chosen, copy_items);
}

void SessionMonitor::kill(std::span<const std::size_t> selected) {
  const auto& records = table_.records();
  for (std::size_t i : selected)
    if (i < rows_.size() && i < records.size()) close(records[i]);
}

bool SessionMonitor::block_start() {
  if (settings_.auto_block) return false;
  settings_.auto_block = true;
  blocked_ = 0;
  blocked_label_ = blocked_label(0, false);
  rebuild_log_path();
  return true;
}

bool SessionMonitor::block_stop() {
  if (!settings_.auto_block) return false;
  settings_.auto_block = false;
  blocked_ = 0;
  blocked_label_ = blocked_label(0, false);
  rebuild_log_path();
  return true;
}

void SessionMonitor::set_auto_block(bool on) {
  settings_.auto_block = on;
  blocked_ = 0;
  blocked_label_ = blocked_label(0, true);
  rebuild_log_path();
  view_.clear();
}

void SessionMonitor::shut_down() {
  deps_.hosts.empty();
  deps_.names.empty();
}

}  // namespace tw::sessions
