#include "packetfilter/filter_controller.h"

#include <algorithm>

#include "packetfilter/nft_ruleset.h"


namespace tw::packetfilter {

std::string_view message_text(FilterMessage m, Language lang) {
  switch (m) {
    case FilterMessage::UnsupportedSystem:
      return pick(lang, std::string_view("This feature is enabled by Windows2000 or later."),
                  std::string_view("この機能はWindows2000以降で有効となります."));
    case FilterMessage::NoAdapterInfo:
      return pick(lang, std::string_view("Failed to get adapter information."),
                  std::string_view("アダプタ情報の取得に失敗しました."));
    case FilterMessage::NoRules:
      return pick(lang, std::string_view("Non packetfilter rules."),
                  std::string_view("パケットフィルタリングルールがありません."));
  }
  return {};
}

std::string_view message_caption(Language lang) {
  return pick(lang, std::string_view("Packet Filter"), std::string_view("パケットフィルター"));
}

std::string_view edit_failed_text(Language lang) {
  return pick(lang, std::string_view("Configuration File is Not Found."),
              std::string_view("設定ファイルが開けませんでした."));
}

std::vector<std::uint32_t> local_addresses(const std::vector<platform::AdapterInfo>& adapters) {
  std::vector<std::uint32_t> out;
  for (const auto& a : adapters)
    for (const auto& e : a.addresses) out.push_back(parse_local_address(e.address));
  return out;
}

FilterController::FilterController(FilterControllerDeps deps, FilterControllerConfig config)
    : deps_(deps), config_(std::move(config)) {}

void FilterController::note(const std::string& text) const {
  if (config_.note) config_.note(text);
}

void FilterController::message(FilterMessage m) {
  if (!quiet_ && config_.show_message) config_.show_message(message_text(m, config_.lang));
}

void FilterController::changed() {
  if (listener_) listener_();
}

void FilterController::rebuild_rules() { rules_ = rules_from_grid(grid_); }

void FilterController::fill_grid() { grid_ = grid_from_rules(rules_); }

void FilterController::restart_if_on() {
  if (filtering_) restart();
}

void FilterController::reload() {
  rules_.clear();
  const Result<std::string> text = deps_.files.read(config_.rule_file_path, kMaxRuleFileBytes);
  if (text) {
    rules_ = parse_rule_file(*text);
  } else if (text.error().errno_value != platform::kFileMissingErrno) {
    note("cannot read the packet filter rules: " + text.error().message());
  }
  fill_grid();
  note("packet filter: " + std::to_string(rules_.size()) + " rules read from " + config_.rule_file_path);
  changed();
}

Status FilterController::save() {
  if (grid_.empty()) return deps_.files.remove(config_.rule_file_path);
  return deps_.files.replace(config_.rule_file_path, rule_file_text(grid_));
}

void FilterController::set_cell(std::size_t row, int column, std::string text) {
  if (row >= grid_.size() || column < 0 || column >= kColumnCount) return;
  if (grid_[row][static_cast<std::size_t>(column)] == text) return;
  grid_[row][static_cast<std::size_t>(column)] = std::move(text);
  changed();
  // Grid edits take effect at once while filtering.
  restart_if_on();
}

std::optional<std::size_t> FilterController::insert_default_row(std::optional<std::size_t> before) {
  // The file keeps no more rows than this; a grid without bound would only
  // grow the memory of a program fed endless commands.
  if (grid_.size() >= kMaxFileRows) return std::nullopt;
  const std::size_t at = std::min(before.value_or(grid_.size()), grid_.size());
  grid_.insert(grid_.begin() + static_cast<std::ptrdiff_t>(at), default_row());
  rebuild_rules();
  changed();
  restart_if_on();
  return at;
}

void FilterController::delete_row(std::size_t row) {
  if (row >= grid_.size()) return;
  grid_.erase(grid_.begin() + static_cast<std::ptrdiff_t>(row));
  rebuild_rules();
  changed();
  restart_if_on();
}

bool FilterController::move_row(std::size_t row, bool up) {
  rebuild_rules();
  if (row >= rules_.size() || (up && row == 0) || (!up && row + 1 >= rules_.size())) return false;
  std::swap(rules_[row], rules_[up ? row - 1 : row + 1]);
  fill_grid();
  changed();
  restart_if_on();
  return true;
}

void FilterController::set_all_actions(bool drop) {
  if (rules_.empty()) return;
  for (FilterRule& r : rules_) r.action = drop ? 1 : 0;
  fill_grid();
  changed();
  restart_if_on();
}

std::optional<std::size_t> FilterController::add_command(std::string_view text) {
  std::optional<GridRow> row = parse_add_command(text);
  if (!row || grid_.size() >= kMaxFileRows) return std::nullopt;
  const std::size_t at = std::min(rules_.size(), grid_.size());
  grid_.insert(grid_.begin() + static_cast<std::ptrdiff_t>(at), std::move(*row));
  rebuild_rules();
  changed();
  restart_if_on();
  return at;
}

void FilterController::add_rows(const std::vector<GridRow>& rows) {
  bool added = false;
  for (const GridRow& r : rows) {
    if (grid_.size() >= kMaxFileRows) break;
    grid_.push_back(r);
    added = true;
  }
  if (!added) return;
  rebuild_rules();
  changed();
  restart_if_on();
}

void FilterController::unbind_all() {
  if (Status s = deps_.engine.remove(); !s) note("cannot remove the packet filter: " + s.error().message());
}

void FilterController::toggle() {
  if (filtering_) {
    unbind_all();
    filtering_ = false;
    note("packet filter off");
  } else if (rules_.empty()) {
    unbind_all();
    message(FilterMessage::NoRules);
    filtering_ = false;
    note("packet filter: no rules, filtering stays off");
  } else {
    // The rules in force are those of the file as just written from the
    // grid. When the file cannot be written, reading it back would put the
    // older file's rules in force and throw the grid's edits away: then the
    // grid's own rules are used, and the failure is noted.
    if (Status s = save(); s) {
      reload();
    } else {
      note("cannot save the packet filter rules: " + s.error().message());
      rebuild_rules();
      fill_grid();
    }
    std::vector<platform::AdapterInfo> adapters;
    if (Status s = deps_.network.adapters(adapters); !s) {
      note("cannot read the adapters: " + s.error().message());
      message(FilterMessage::NoAdapterInfo);
    } else if (Status a = deps_.engine.apply(filter_set(rules_, local_addresses(adapters))); !a) {
      // Filters that are not installed are not reported as on: the user
      // would believe traffic is dropped that is not.
      note("cannot install the packet filter: " + a.error().message());
      if (!quiet_ && config_.show_message) config_.show_message(a.error().headline);
    } else {
      filtering_ = true;
      note("packet filter on: " + std::to_string(rules_.size()) + " rules");
    }
  }
  quiet_ = false;
  changed();
}

void FilterController::start_command() {
  unbind_all();
  filtering_ = false;
  quiet_ = true;
  toggle();
}

void FilterController::stop_command() {
  filtering_ = true;
  quiet_ = true;
  toggle();
}

void FilterController::restart() {
  // No unbind first: the engine replaces the installed set in one step, so
  // there is no moment without filters. A restart that fails ends with
  // nothing installed, so that "off" always means no filters.
  filtering_ = false;
  toggle();
  if (!filtering_) unbind_all();
}

void FilterController::start_from_setting(int start_setting) {
  if (start_setting == 1) start_command();
}

void FilterController::shut_down() {
  if (filtering_) unbind_all();
  filtering_ = false;
}

}  // namespace tw::packetfilter
